// Test PDFs, made rather than collected: documents described by a DocSpec are written
// with qpdf; signature fields with a value get a placeholder that sign() fills in place
// (byte range patched, /Contents written as zero-padded hex), the way a signing plug-in
// does.
//
//   pdffixtures::DocSpec spec;
//   spec.signatures = {{"Signature1", true}, {"Unsigned", false}};
//   pdffixtures::writeDocument(spec, "a.pdf");
//   pdffixtures::sign("a.pdf", "Signature1", pdffixtures::testSigner(), {});
#pragma once

#include <string>
#include <vector>

namespace pdffixtures {

struct FontSpec {
  std::string baseFont = "Helvetica";
  std::string subtype = "Type1";
  bool embedded = false;  // a /FontFile2 stream in its descriptor
};

struct SignatureFieldSpec {
  std::string name = "Signature1";
  bool withValue = true;  // a /V signature dictionary (a placeholder until signed)
  std::string subFilter = "adbe.pkcs7.detached";
  bool withSigningTime = true;                // /M
  std::string metadataVersion = "2.21.0000";  // in /Prop_Build /Filter /Metadata; "" none
  int placeholderBytes = 8192;                // room for the DER value
};

struct DocSpec {
  int pages = 1;
  std::string headerVersion = "1.7";
  std::string catalogVersion;  // catalog /Version; "" none
  std::vector<FontSpec> fonts;  // resources of page 1
  std::vector<SignatureFieldSpec> signatures;
  bool javaScriptOpenAction = false;
  bool linkAnnotation = false;
};

// Writes the document; throws std::runtime_error on failure.
void writeDocument(const DocSpec& spec, const std::string& path);

// A signer: a private key and its certificate, PEM files.
struct Signer {
  std::string keyPem;
  std::string certPem;
};
// A self-signed RSA-2048 signer made once per process in a temporary folder.
const Signer& testSigner();

struct SignOptions {
  std::string digest = "sha256";
  bool signedAttributes = true;
  bool upperCaseHex = false;
};

// Signs the placeholder of field `field` in place: /ByteRange [0 a b c] around the
// /Contents hex string, the PKCS#7 detached (adbe.pkcs7.detached) or attached SHA-1
// (adbe.pkcs7.sha1) value over the ranges. Returns the DER value written.
std::string sign(const std::string& path, const std::string& field, const Signer& signer,
                 const SignOptions& options);

// The bytes the signature of `field` covers, read back from the file's /ByteRange.
std::string signedRanges(const std::string& path, const std::string& field);

// Flips one byte of the file at `offset` (a tampered copy for digest mismatches).
void flipByte(const std::string& path, long offset);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace pdffixtures
