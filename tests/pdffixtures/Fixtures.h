// Test PDFs, made rather than collected: documents described by a DocumentPlan are written
// with qpdf; signature fields with a value get a placeholder that sign() fills in place
// (byte range patched, /Contents written as zero-padded hex), the way a signing plug-in
// does. Signature values come from the test PKI kit (tests/pki), made by OpenSSL.
//
//   pdffixtures::DocumentPlan plan;
//   plan.signatures = {{"Signature1", true}, {"Unsigned", false}};
//   pdffixtures::writeDocument(plan, "a.pdf");
//   pdffixtures::sign("a.pdf", "Signature1", {});
//   pdffixtures::appendSignatureField("a.pdf", {"Second"});   // an incremental update
//   pdffixtures::sign("a.pdf", "Second", {});
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testpki {
class Kit;
}

namespace pdffixtures {

struct FontPlan {
  std::string baseFont = "Helvetica";
  std::string subtype = "Type1";
  bool embedded = false;  // a /FontFile2 stream in its descriptor
};

struct SignatureFieldPlan {
  std::string name = "Signature1";
  bool withValue = true;  // a /V signature dictionary (a placeholder until signed)
  // The /Filter naming the handler; other signers name theirs ("Adobe.PPKLite").
  std::string filter = "Dor:valin";
  // adbe.pkcs7.detached, adbe.pkcs7.sha1 or adbe.x509.rsa_sha1 (which carries /Cert).
  std::string subFilter = "adbe.pkcs7.detached";
  std::string certSigner = "rsa1024";  // the kit entity whose certificate /Cert holds
  const testpki::Kit* certKit = nullptr;  // the kit of that certificate; null: the standard kit
  bool withSigningTime = true;                // /M
  bool indirectSigningTime = false;           // /M an indirect string object
  std::string metadataVersion = "2.21.0000";  // in /Prop_Build /Filter /Metadata; "" none
  // Variants for the readers of these entries; "" keeps the usual form above.
  std::string signingTimeObject{};  // PDF object text for /M in place of the date string
  std::string metadataText{};       // the /Metadata string in place of the one naming the version
  std::string propBuildObject{};    // PDF object text for /Prop_Build in place of the usual one
  // Room for the value in /Contents; 0: 8192 bytes for PKCS#7, and for adbe.x509.rsa_sha1
  // exactly the size of the plug-in format's value for the key of `certSigner`, as the
  // signing plug-in reserves it (the viewer hands the whole /Contents string over).
  int placeholderBytes = 0;
};

struct DocumentPlan {
  int pages = 1;
  std::string headerVersion = "1.7";
  std::string catalogVersion;  // catalog /Version; "" none
  std::vector<FontPlan> fonts;  // resources of page 1
  std::vector<SignatureFieldPlan> signatures;
  bool javaScriptOpenAction = false;
  bool linkAnnotation = false;
  // An image of about this many bytes drawn on every page, its data noise and unfiltered
  // (a scan's compressed data does not shrink further); 0: none. Gives documents of a size.
  int imageBytes = 0;
};

// Writes the document; throws std::runtime_error on failure.
void writeDocument(const DocumentPlan& plan, const std::string& path);

struct SignOptions {
  std::string signer = "rsa2048";  // an entity of the test PKI kit
  std::string digest = "sha256";
  bool signedAttributes = true;
  bool upperCaseHex = false;
  const testpki::Kit* kit = nullptr;  // the kit that signs; null: the standard kit
};

// Signs the placeholder of field `field` in place: /ByteRange [0 a b c] around the
// /Contents hex string, then the value over the ranges by the subfilter:
//   adbe.pkcs7.detached  PKCS#7 without the content;
//   adbe.pkcs7.sha1      PKCS#7 holding the ranges' 20-byte SHA-1;
//   adbe.x509.rsa_sha1   the signing plug-in's own format: 3 header bytes (04 81 n), the
//                        raw PKCS#1 v1.5 SHA-1 signature (RSA signer) or r||s (EC
//                        signer), then 128 zero bytes: 259, 323 or 179 bytes in all.
// Returns the value written; rawSignature() gives its checked part.
std::string sign(const std::string& path, const std::string& field, const SignOptions& options);
// The two halves of sign(), for a value made elsewhere (on a card): prepareSignature
// patches the /ByteRange of the field's placeholder around its /Contents and returns the
// bytes the ranges cover; writeSignatureValue writes the value as hex into /Contents.
std::string prepareSignature(const std::string& path, const std::string& field);
void writeSignatureValue(const std::string& path, const std::string& field, const std::string& value,
                         bool upperCaseHex = false);
// The part of a plug-in format value that is the signature: from byte 3 on, 131 shorter.
std::string rawSignature(const std::string& value);

// Appends an incremental update by hand: a new signature field (placeholder as in
// writeDocument) on page 1, the catalog with the field added to /AcroForm /Fields, the
// page with the widget added to /Annots, an xref section and a trailer with /Prev.
void appendSignatureField(const std::string& path, const SignatureFieldPlan& field);
// Appends an incremental update by hand holding these objects (number, object text;
// generation 0), new ones or new versions of old ones, with its xref section and a
// trailer with /Prev, /Root and /ID as before and /Size at least `size`.
void appendObjects(const std::string& path, std::vector<std::pair<int, std::string>> objects, int size = 0);

// Attacks on a signed document, each an incremental update that leaves the signed bytes as
// they are. `signingTime` and `metadataVersion` replace /M and the version of the field's
// signature dictionary in what the update writes ("" keeps them):
// the field's signature dictionary written again under its own object number;
void redefineSignatureDictionary(const std::string& path, const std::string& field, const std::string& signingTime,
                                 const std::string& metadataVersion);
// a new field `decoy` placed first in /AcroForm /Fields (and on page 1) whose signature
// dictionary, a new object, copies the field's, byte range and value included.
void appendDecoyField(const std::string& path, const std::string& field, const std::string& decoy,
                      const std::string& signingTime, const std::string& metadataVersion);

// Signature wrapping: the signed bytes kept, only moved. A copy of the second signed range
// goes to the end of the file behind a filler that ends in ">", and an update redefines
// the field's signature dictionary with a second range over that copy and a /Contents
// string zero-padded to the gap, which now holds the original string, the original second
// range and the filler; `objects` (number, text) go into that update too. The ranges still
// cover the very bytes that were signed, so the value verifies over them.
void wrapSignature(const std::string& path, const std::string& field, std::vector<std::pair<int, std::string>> objects);

// Damages the /ByteRange of a field in place, keeping the file's length: "text" puts a
// name where a number stood, "short" makes the gap end one byte early, "huge" claims
// 9999999999 bytes for the second range.
void damageByteRange(const std::string& path, const std::string& field, const std::string& how);
// Writes `text` in place of the /ByteRange array or the /Contents string of a field's
// signature dictionary, padded with blanks to the old width, so every offset stays.
void replaceInPlace(const std::string& path, const std::string& field, const std::string& key,
                    const std::string& text);
// The /ByteRange of a field as written (any number of integers).
std::vector<long long> byteRange(const std::string& path, const std::string& field);

// The bytes the signature of `field` covers, read back from the file's /ByteRange.
std::string signedRanges(const std::string& path, const std::string& field);

// Flips one byte of the file at `offset` (a tampered copy for digest mismatches).
void flipByte(const std::string& path, long offset);

// Signers that are not ours: the test PKI kit's keys sign through other programs, so that
// a document is also read as those programs write it.
//
// An NSS database for poppler in `dir` (made there, which must not hold one yet): the
// kit's root as trusted anchor, its intermediate, and each signer's certificate with its
// private key under the signer's kit name (certutil and pk12util of libnss3-tools).
// Answers the database's name as pdfsig's -nssdir takes it ("sql:DIR").
std::string makeNssDatabase(const std::string& dir, const testpki::Kit& kit, const std::vector<std::string>& signers);
// poppler's own signer, `pdfsig -add-signature`: a new field `field` with its appearance,
// added to `in` in an incremental update and signed (PKCS#7, detached, the signing time
// now) over the whole result, which goes to `out`. `digest` as pdfsig names it.
void signWithPdfsig(const std::string& nssDatabase, const std::string& signer, const std::string& in,
                    const std::string& out, const std::string& field, const std::string& digest = "SHA256");
// `openssl cms -sign` run as a command into the placeholder of `field` (see
// SignatureFieldPlan::filter for other signers' labels): the byte range patched as
// prepareSignature does, the value made by openssl from the ranges with the signer's key
// and certificate and the kit's intermediate beside it, written as writeSignatureValue
// does. `options` go to openssl as they are ("-md", "sha512", "-noattr", ...). Returns the
// value.
std::string signWithOpensslCms(const std::string& path, const std::string& field, const testpki::Kit& kit,
                               const std::string& signer, const std::vector<std::string>& options = {});

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace pdffixtures
