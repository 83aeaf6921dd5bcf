#include "DemoSupport.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace demokit {

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

}  // namespace demokit
