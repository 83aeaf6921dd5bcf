// The signature-value checks over untrusted bytes. The first byte chooses the
// entry point; the signed data is 64 bytes of 'A', as in the seeds.
//   0: verifyPKCS7Signature(data, rest)
//   1: verifyPKCS1Signature(data, signature, certificate): two bytes of
//      certificate length (big-endian), the certificate, then the signature
//   2: verifyECDSASignature: one byte r length, r, one byte s length, s, then
//      the certificate
//   3: isQualifiedCertificate(rest), and whether that certificate is meant for
//      signing (isMeantForSigning over its extensions)
#include <cstddef>
#include <cstdint>
#include <vector>

#include "certcheck/Ecdsa.h"
#include "certcheck/ReaderUtils.h"
#include "foundation/util/VOQ_String.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  static const std::vector<unsigned char> data(64, 'A');
  const unsigned int dataLength = static_cast<unsigned int>(data.size());
  const uint8_t* rest = input + 1;
  size_t restLength = size - 1;
  bool qualified = false;
  switch (input[0] % 4) {
    case 0: {
      VOQ_String certificate;
      verifyPKCS7Signature(data.data(), dataLength, rest, static_cast<unsigned int>(restLength), &qualified,
                           &certificate);
      break;
    }
    case 1: {
      if (restLength < 2) return 0;
      const size_t certificateLength = (size_t(rest[0]) << 8) | rest[1];
      if (certificateLength > restLength - 2) return 0;
      const uint8_t* certificate = rest + 2;
      const uint8_t* signature = certificate + certificateLength;
      verifyPKCS1Signature(data.data(), dataLength, signature,
                           static_cast<unsigned int>(restLength - 2 - certificateLength), certificate,
                           static_cast<unsigned int>(certificateLength), &qualified);
      break;
    }
    case 2: {
      size_t at = 0;
      const uint8_t* parts[2];
      unsigned int lengths[2];
      for (int i = 0; i < 2; ++i) {
        if (at >= restLength) return 0;
        lengths[i] = rest[at++];
        if (lengths[i] > restLength - at) return 0;
        parts[i] = rest + at;
        at += lengths[i];
      }
      verifyECDSASignature(parts[0], lengths[0], parts[1], lengths[1], data.data(), dataLength, "1.2.840.10045.4.1",
                           rest + at, static_cast<unsigned int>(restLength - at));
      break;
    }
    default: {
      isQualifiedCertificate(rest, static_cast<unsigned int>(restLength), &qualified);
      const unsigned char* p = rest;
      if (X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(restLength))) {
        isMeantForSigning(certificate);
        X509_free(certificate);
      }
      break;
    }
  }
  return 0;
}
