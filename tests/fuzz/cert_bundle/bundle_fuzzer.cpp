// Any bytes as a downloaded certificate file: the reader refuses or accepts without
// fault, and every certificate it hands out decodes as a certificate context.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypt_stores.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool recognised = false;
  const std::vector<std::vector<unsigned char>> certificates =
      platform::parseCertificates(std::vector<unsigned char>(data, data + size), recognised);
  if (!recognised && !certificates.empty()) std::abort();
  for (const std::vector<unsigned char>& der : certificates) {
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!context) std::abort();
    CertFreeCertificateContext(context);
  }
  return 0;
}
