// The key holder keeps an RSA object, as the plug-in's start-up code expects of it; the
// RSA-level calls it needs are deprecated in OpenSSL 3 but present.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "certcheck/VOQ_Crypt.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_MemoryStream.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";
const unsigned int kKeyFields = 8;

// The class's trace context, made on first use: the plug-in creates the log from its
// registry store before, so the fixed name only applies where nothing else made a log.
VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = VOQ_TraceLog::getInstance("VOQ_Crypt.log")->createContext("VOQ_Crypt");
  return context;
}

void logInside(const char* method, const char* text) { trace()->log(method, text, VOQ_TraceContext::INSIDE); }

struct BignumFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;

// The whole text as a number; null when it is empty or holds anything but hexadecimal digits.
Bignum hexNumber(const VOQ_String& text) {
  const char* digits = text.getData();
  if (digits == nullptr || text.getLength() == 0) return nullptr;
  for (unsigned int i = 0; i < text.getLength(); ++i) {
    if (!isHexDigit(digits[i])) return nullptr;  // BN_hex2bn would take a sign or stop early
  }
  BIGNUM* bn = nullptr;
  if (BN_hex2bn(&bn, digits) != static_cast<int>(text.getLength())) {
    BN_free(bn);
    return nullptr;
  }
  return Bignum(bn);
}

bool sha1(const unsigned char* data, unsigned int length, unsigned char digest[20]) {
  unsigned int digestLength = 0;
  return EVP_Digest(data, length, digest, &digestLength, EVP_sha1(), nullptr) == 1 && digestLength == 20;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const char* VOQ_CryptException::name() const { return "VOQ_CryptException"; }

AbstractException* VOQ_CryptException::clone() const { return new (std::nothrow) VOQ_CryptException(*this); }

void VOQ_ByteBuffer::setData(unsigned int length, const void* data) {
  if (length == 0) {
    bytes.clear();
  } else {
    bytes = VOQ_String(length, data);
  }
}

VOQ_Crypt::~VOQ_Crypt() { freeKey(); }

void VOQ_Crypt::freeKey() {
  RSA_free(rsa);
  rsa = nullptr;
}

DWORD VOQ_Crypt::genKey(const char* seedText) {
  freeKey();
  if (seedText != nullptr) RAND_seed(seedText, static_cast<int>(strlen(seedText)));
  rsa = RSA_new();
  Bignum exponent(BN_new());
  if (rsa == nullptr || exponent == nullptr || !BN_set_word(exponent.get(), 0xA0499) ||
      RSA_generate_key_ex(rsa, 1024, exponent.get(), nullptr) != 1) {
    freeKey();
    logInside("genKey", "cannot create RSA - key!");
    return VOQ_CRYPT_NO_KEY;
  }
  if (RSA_check_key(rsa) != 1) {
    freeKey();
    logInside("genKey", "RSA - key is not a prime number!");
    return VOQ_CRYPT_BAD_KEY;
  }
  return VOQ_CRYPT_OK;
}

DWORD VOQ_Crypt::loadKey(const VOQ_String& e, const VOQ_String& d, const VOQ_String& n, const VOQ_String& p,
                         const VOQ_String& q, const VOQ_String& dmp1, const VOQ_String& dmq1,
                         const VOQ_String& iqmp) {
  const VOQ_String* fields[kKeyFields] = {&e, &d, &n, &p, &q, &dmp1, &dmq1, &iqmp};
  return load(fields, true);
}

DWORD VOQ_Crypt::load(const VOQ_String* const fields[], bool check) {
  freeKey();
  rsa = RSA_new();
  if (rsa == nullptr) {
    logInside("loadKey", "cannot create RSA - key!");
    return VOQ_CRYPT_NO_KEY;
  }
  // The fields come as e, d, n, p, q, dmp1, dmq1, iqmp; the key takes n, e, d first.
  Bignum bn[kKeyFields] = {hexNumber(*fields[2]), hexNumber(*fields[0]), hexNumber(*fields[1]),
                           hexNumber(*fields[3]), hexNumber(*fields[4]), hexNumber(*fields[5]),
                           hexNumber(*fields[6]), hexNumber(*fields[7])};
  bool complete = true;
  for (const Bignum& component : bn) complete = complete && component != nullptr;
  // RSA_check_key returns -1 on an error, which is no success either.
  if (!complete || RSA_set0_key(rsa, bn[0].get(), bn[1].get(), bn[2].get()) != 1) {
    freeKey();
    logInside("loadKey", "RSA - key is not a prime number!");
    return VOQ_CRYPT_BAD_KEY;
  }
  for (int i = 0; i < 3; ++i) bn[i].release();  // the key owns them now
  const bool factors = RSA_set0_factors(rsa, bn[3].get(), bn[4].get()) == 1;
  if (factors) bn[3].release(), bn[4].release();
  const bool crt = factors && RSA_set0_crt_params(rsa, bn[5].get(), bn[6].get(), bn[7].get()) == 1;
  if (crt) bn[5].release(), bn[6].release(), bn[7].release();
  if (!crt || (check && RSA_check_key(rsa) != 1)) {
    freeKey();
    logInside("loadKey", "RSA - key is not a prime number!");
    return VOQ_CRYPT_BAD_KEY;
  }
  return VOQ_CRYPT_OK;
}

DWORD VOQ_Crypt::loadKey(const VOQ_String& keyText) { return loadKey(keyText, nullptr); }

DWORD VOQ_Crypt::loadKey(const VOQ_String& keyText, const unsigned char* proven) {
  VOQ_String text(keyText);
  VOQ_MemoryStream stream(&text);
  VOQ_String fields[kKeyFields];
  unsigned int field = 0;
  while (!stream.isAtEnd()) {
    const unsigned char c = stream.read();
    if (c == '|') {
      if (++field == kKeyFields) break;  // a ninth field: wrong, whatever follows
      continue;
    }
    fields[field].appendByte(c);
  }
  if (field != kKeyFields - 1) return VOQ_CRYPT_BAD_KEY;
  unsigned char digest[kProofLength];
  unsigned int digestLength = 0;
  const bool isProven = proven != nullptr &&
                        EVP_Digest(keyText.getData(), keyText.getLength(), digest, &digestLength, EVP_sha256(),
                                   nullptr) == 1 &&
                        digestLength == kProofLength && CRYPTO_memcmp(digest, proven, kProofLength) == 0;
  const VOQ_String* pointers[kKeyFields];
  for (unsigned int i = 0; i < kKeyFields; ++i) pointers[i] = &fields[i];
  return load(pointers, !isProven);
}

DWORD VOQ_Crypt::exportKey(VOQ_String& target) {
  if (rsa == nullptr) return VOQ_CRYPT_NO_KEY;
  const BIGNUM* components[kKeyFields] = {RSA_get0_e(rsa),    RSA_get0_d(rsa),    RSA_get0_n(rsa),
                                          RSA_get0_p(rsa),    RSA_get0_q(rsa),    RSA_get0_dmp1(rsa),
                                          RSA_get0_dmq1(rsa), RSA_get0_iqmp(rsa)};
  for (unsigned int i = 0; i < kKeyFields; ++i) {
    if (i > 0) target.appendByte('|');
    if (components[i] == nullptr) continue;
    char* hex = BN_bn2hex(components[i]);
    if (hex != nullptr) target.append(static_cast<unsigned int>(strlen(hex)), hex);
    OPENSSL_free(hex);
  }
  return VOQ_CRYPT_OK;
}

DWORD VOQ_Crypt::sign(const unsigned char* data, unsigned int length, unsigned char* signature,
                      unsigned int* signatureLength) {
  unsigned char digest[20];
  unsigned int produced = 0;
  // The buffer must hold a signature of the key's size, whatever the key.
  if (rsa == nullptr || signature == nullptr || signatureLength == nullptr ||
      *signatureLength < static_cast<unsigned int>(RSA_size(rsa)) || !sha1(data, length, digest) ||
      RSA_sign(NID_sha1, digest, sizeof digest, signature, &produced, rsa) != 1) {
    logInside("sign", "cannot sign!");
    return VOQ_CRYPT_BAD_KEY;
  }
  *signatureLength = produced;
  if (RSA_verify(NID_sha1, digest, sizeof digest, signature, produced, rsa) != 1) {
    logInside("sign", "created signature is invalid!");
    return VOQ_CRYPT_BAD_SIGNATURE;
  }
  return VOQ_CRYPT_OK;
}

DWORD VOQ_Crypt::verify(const unsigned char* data, unsigned int length, const unsigned char* signature,
                        unsigned int signatureLength) {
  unsigned char digest[20];
  if (rsa == nullptr || signature == nullptr || !sha1(data, length, digest) ||
      RSA_verify(NID_sha1, digest, sizeof digest, signature, signatureLength, rsa) != 1) {
    logInside("verify", "validated signature is invalid!");
    return VOQ_CRYPT_BAD_SIGNATURE;
  }
  return VOQ_CRYPT_OK;
}

DWORD VOQ_Crypt::signHex(const VOQ_String& data, VOQ_ByteBuffer& target) {
  std::vector<unsigned char> signature(rsa != nullptr ? static_cast<size_t>(RSA_size(rsa)) : 1);
  unsigned int signatureLength = static_cast<unsigned int>(signature.size());
  const DWORD result = sign(reinterpret_cast<const unsigned char*>(data.getData()), data.getLength(),
                            signature.data(), &signatureLength);
  if (result == VOQ_CRYPT_BAD_KEY) return result;
  const VOQ_String hex = bytesToHex(signature.data(), signatureLength);
  target.setData(hex.getLength(), hex.getData());
  return result;
}

DWORD VOQ_Crypt::verifyHex(const VOQ_String& data, const VOQ_String& signatureText) {
  VOQ_ByteBuffer signature;
  if (!hexToBytes(signature, signatureText.getData())) {
    logInside("verify", "validated signature is invalid!");
    return VOQ_CRYPT_BAD_SIGNATURE;
  }
  return verify(reinterpret_cast<const unsigned char*>(data.getData()), data.getLength(), signature.getData(),
                signature.getLength());
}

DWORD VOQ_Crypt::dumpKey() {
  if (rsa == nullptr) return VOQ_CRYPT_OK;
  const struct {
    const char* name;
    const BIGNUM* value;
  } components[] = {{"n", RSA_get0_n(rsa)},       {"e", RSA_get0_e(rsa)},       {"p", RSA_get0_p(rsa)},
                    {"q", RSA_get0_q(rsa)},       {"d", RSA_get0_d(rsa)},       {"dmp1", RSA_get0_dmp1(rsa)},
                    {"dmq1", RSA_get0_dmq1(rsa)}, {"iqmp", RSA_get0_iqmp(rsa)}};
  for (const auto& component : components) {
    char* hex = component.value != nullptr ? BN_bn2hex(component.value) : nullptr;
    if (hex == nullptr) continue;
    const std::string line = std::string(component.name) + ":" + hex;
    OPENSSL_free(hex);
    logInside("dumpKey", line.c_str());
  }
  return VOQ_CRYPT_OK;
}

VOQ_String bytesToHex(const unsigned char* data, unsigned int length) {
  VOQ_String hex;
  if (data == nullptr) return hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.appendByte(static_cast<unsigned char>(kHexDigits[data[i] >> 4]));
    hex.appendByte(static_cast<unsigned char>(kHexDigits[data[i] & 0x0f]));
  }
  return hex;
}

bool isHexDigit(char c) { return hexValue(c) >= 0; }

bool hexToBytes(VOQ_ByteBuffer& target, const char* text) {
  target.setData(0, nullptr);
  if (text == nullptr) return true;
  const size_t length = strlen(text);
  std::vector<unsigned char> bytes;
  bytes.reserve(length / 2 + 1);
  size_t i = 0;
  if (length % 2 == 1) {  // the first digit alone makes the first byte
    if (!isHexDigit(text[0])) return false;
    bytes.push_back(static_cast<unsigned char>(hexValue(text[0])));
    i = 1;
  }
  for (; i < length; i += 2) {
    if (!isHexDigit(text[i]) || !isHexDigit(text[i + 1])) return false;
    bytes.push_back(static_cast<unsigned char>(hexValue(text[i]) * 16 + hexValue(text[i + 1])));
  }
  target.setData(static_cast<unsigned int>(bytes.size()), bytes.data());
  return true;
}
