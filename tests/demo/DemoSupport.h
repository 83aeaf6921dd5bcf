// What the demo programs share: the sample document, OpenSSL's verdict on a signature,
// the PKCS#7 of a PDF signature whose value a card makes, and pdfsig's verdict.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace demokit {

// A one-page PDF with a line of text, its cross-reference table at the right offsets.
std::string samplePdf();

// OpenSSL's verdict on a PKCS#1 v1.5 SHA-256 signature over data with the key of the
// DER certificate; subject receives the certificate's subject in one line.
bool verifySha256Signature(const std::string& certificateDer, const std::string& data, const std::string& signature,
                           std::string& subject);

// The SHA-256 of data by OpenSSL, in lower-case hex.
std::string sha256Hex(const std::string& data);

// The first max bytes in hex, "..." when there are more.
std::string hexPrefix(const std::string& bytes, std::size_t max);

// A detached PKCS#7 SignedData for a PDF signature whose value is made elsewhere, on a
// card: one signer info for the certificate (SHA-256, RSA) with the signed attributes
// content type, signing time and message digest, the SHA-256 of the signed bytes (the
// document's byte range). The card signs the DER of those attributes (a SET OF, as the
// signature covers them); finish() puts its value in and encodes the whole, with the
// certificate and the chain's certificates.
class PdfSignature {
 public:
  PdfSignature(const std::string& certificateDer, const std::vector<std::string>& chainDer,
               const std::string& signedBytes, std::time_t signingTime);
  ~PdfSignature();
  PdfSignature(const PdfSignature&) = delete;
  PdfSignature& operator=(const PdfSignature&) = delete;

  // The message digest attribute's value.
  const std::string& messageDigest() const { return digest_; }
  std::string signedAttributes() const;
  // The DER PKCS#7 with the PKCS#1 v1.5 value over signedAttributes().
  std::string finish(const std::string& signatureValue);

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string digest_;
};

// OpenSSL's verdict on a detached DER PKCS#7 over data: the signature, and the signer's
// chain (from the PKCS#7's certificates) up to the trusted root, now. why receives
// OpenSSL's reason when it fails.
bool verifyDetachedPkcs7(const std::string& pkcs7Der, const std::string& data, const std::string& rootDer,
                         std::string& why);

// What pdfsig says of each signature of the document, in order: the text after
// "Signature Validation: " ("Signature is Valid.", "Digest Mismatch.", ...). It checks
// the signature value over the byte range; its certificate check (-nocert) is left out,
// since its NSS verdict on an otherwise good chain is not dependable. Throws
// std::runtime_error when pdfsig cannot run.
std::vector<std::string> pdfsig(const std::string& path);
inline bool pdfsigIntact(const std::string& verdict) { return verdict == "Signature is Valid."; }
// What pdfsig says of how much of the document each signature covers, in order: "Total
// document signed" (the second range ends at the file's end, the gap is the value) or
// "Not total document signed".
std::vector<std::string> pdfsigCoverage(const std::string& path);

}  // namespace demokit
