#include "DemoSupport.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace demokit {

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

[[noreturn]] void fail(const std::string& what) {
  const unsigned long code = ERR_get_error();
  char reason[256] = "";
  if (code != 0) ERR_error_string_n(code, reason, sizeof reason);
  throw std::runtime_error(what + (code != 0 ? std::string(" (") + reason + ")" : std::string()));
}

X509Ptr certificateOf(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), &X509_free);
  if (!cert) fail("not a certificate");
  return cert;
}

std::string sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

// The text in single quotes for the shell.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command; its exit status and what it wrote to both outputs.
int runCommand(const std::string& command, std::string& output) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string samplePdf() {
  const std::string content = "BT /F1 24 Tf 72 720 Td (Signed by Quarvel on a simulated card) Tj ET";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
      "/Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

bool verifySha256Signature(const std::string& certificateDer, const std::string& data,
                           const std::string& signature, std::string& subject) {
  const auto* p = reinterpret_cast<const unsigned char*>(certificateDer.data());
  std::unique_ptr<X509, void (*)(X509*)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificateDer.size())),
                                              &X509_free);
  if (!cert) return false;
  char name[256];
  X509_NAME_oneline(X509_get_subject_name(cert.get()), name, sizeof name);
  subject = name;
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(X509_get_pubkey(cert.get()), &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  return key && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

std::string sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  return hexPrefix(std::string(reinterpret_cast<const char*>(digest), length), length);
}

std::string hexPrefix(const std::string& bytes, std::size_t max) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
    text += kDigits[static_cast<unsigned char>(bytes[i]) >> 4];
    text += kDigits[static_cast<unsigned char>(bytes[i]) & 15];
  }
  return bytes.size() > max ? text + "..." : text;
}

struct PdfSignature::State {
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7{PKCS7_new(), &PKCS7_free};
  PKCS7_SIGNER_INFO* signer = nullptr;  // owned by p7
};

PdfSignature::PdfSignature(const std::string& certificateDer, const std::vector<std::string>& chainDer,
                           const std::string& signedBytes, std::time_t signingTime)
    : state_(std::make_unique<State>()), digest_(sha256(signedBytes)) {
  X509Ptr signer = certificateOf(certificateDer);
  PKCS7* p7 = state_->p7.get();
  if (!p7 || !PKCS7_set_type(p7, NID_pkcs7_signed) || !PKCS7_content_new(p7, NID_pkcs7_data))
    fail("cannot make a SignedData");
  // The public key only names the signature algorithm: the private half stays on the card.
  state_->signer = PKCS7_add_signature(p7, signer.get(), X509_get0_pubkey(signer.get()), EVP_sha256());
  if (state_->signer == nullptr) fail("cannot add the signer info");
  if (!PKCS7_add_certificate(p7, signer.get())) fail("cannot add the certificate");
  for (const std::string& der : chainDer) {
    if (!PKCS7_add_certificate(p7, certificateOf(der).get())) fail("cannot add a chain certificate");
  }
  ASN1_TIME* time = ASN1_TIME_set(nullptr, signingTime);
  if (time == nullptr || !PKCS7_add0_attrib_signing_time(state_->signer, time)) {
    ASN1_TIME_free(time);
    fail("cannot add the signing time");
  }
  if (!PKCS7_add_signed_attribute(state_->signer, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) ||
      !PKCS7_add1_attrib_digest(state_->signer, reinterpret_cast<const unsigned char*>(digest_.data()),
                                static_cast<int>(digest_.size())))
    fail("cannot add the signed attributes");
  // Detached: the document carries the signed bytes itself.
  if (!PKCS7_set_detached(p7, 1)) fail("cannot detach the content");
}

PdfSignature::~PdfSignature() = default;

std::string PdfSignature::signedAttributes() const {
  unsigned char* der = nullptr;
  const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(state_->signer->auth_attr), &der,
                                   ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
  if (length <= 0) fail("cannot encode the signed attributes");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string PdfSignature::finish(const std::string& signatureValue) {
  if (signatureValue.empty() || !ASN1_STRING_set(state_->signer->enc_digest, signatureValue.data(),
                                                 static_cast<int>(signatureValue.size())))
    fail("cannot set the signature value");
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(state_->p7.get(), &der);
  if (length <= 0) fail("cannot encode the PKCS#7");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

bool verifyDetachedPkcs7(const std::string& pkcs7Der, const std::string& data, const std::string& rootDer,
                         std::string& why) {
  const auto* p = reinterpret_cast<const unsigned char*>(pkcs7Der.data());
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(pkcs7Der.size())),
                                                    &PKCS7_free);
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())),
                                               &BIO_free);
  ERR_clear_error();
  if (!p7 || !store || !in || !X509_STORE_add_cert(store.get(), certificateOf(rootDer).get())) {
    why = "not a PKCS#7";
    return false;
  }
  if (PKCS7_verify(p7.get(), nullptr, store.get(), in.get(), nullptr, PKCS7_BINARY) == 1) return true;
  char reason[256] = "";
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  why = reason;
  ERR_clear_error();
  return false;
}

std::vector<std::string> pdfsig(const std::string& path) {
  std::string output;
  const int status = runCommand("pdfsig -nocert " + quoted(path), output);
  const std::string label = "- Signature Validation: ";
  std::vector<std::string> verdicts;
  for (std::size_t at = output.find(label); at != std::string::npos; at = output.find(label, at)) {
    at += label.size();
    verdicts.push_back(output.substr(at, output.find('\n', at) - at));
  }
  if (verdicts.empty() && status != 0) throw std::runtime_error("pdfsig failed: " + output);
  return verdicts;
}

std::vector<std::string> pdfsigCoverage(const std::string& path) {
  std::string output;
  const int status = runCommand("pdfsig -nocert " + quoted(path), output);
  std::vector<std::string> coverage;
  for (std::size_t at = output.find("Signature #"); at != std::string::npos;) {
    const std::size_t next = output.find("Signature #", at + 1);
    const std::string block = output.substr(at, next == std::string::npos ? std::string::npos : next - at);
    coverage.push_back(block.find("- Not total document signed") != std::string::npos ? "Not total document signed"
                       : block.find("- Total document signed") != std::string::npos ? "Total document signed"
                                                                                    : "");
    at = next;
  }
  if (coverage.empty() && status != 0) throw std::runtime_error("pdfsig failed: " + output);
  return coverage;
}

}  // namespace demokit
