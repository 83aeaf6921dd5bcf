// The RSA key holder: key generation, loading and exporting the key as text, SHA-1 RSA
// signatures in binary or hexadecimal. The plug-in loads its metadata signature key with
// it at start-up. Every operation reports a result code; failures are also logged under
// the trace context "VOQ_Crypt".
//
// Key text: e|d|n|p|q|dmp1|dmq1|iqmp, each in upper-case hexadecimal as BN_bn2hex writes it.
#pragma once

#include <openssl/types.h>
#include <windows.h>

#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_String.h"

// Result codes.
const DWORD VOQ_CRYPT_OK = 0;
const DWORD VOQ_CRYPT_NO_KEY = 0x80000007;         // an RSA key could not be created
const DWORD VOQ_CRYPT_BAD_KEY = 0x80000008;        // inconsistent key, key text not 8 fields, signing failed
const DWORD VOQ_CRYPT_BAD_SIGNATURE = 0x80050001;  // a signature does not verify

class VOQ_CryptException : public AbstractException {
 public:
  explicit VOQ_CryptException(const char* message) : AbstractException(message) {}
  VOQ_CryptException(const char* message, const AbstractException* cause) : AbstractException(message, cause) {}
  VOQ_CryptException(const VOQ_CryptException& other) = default;
  const char* name() const override;
  AbstractException* clone() const override;
};

// The owned bytes of a hexadecimal signature.
class VOQ_ByteBuffer {
 public:
  VOQ_ByteBuffer() = default;
  VOQ_ByteBuffer(const VOQ_ByteBuffer&) = delete;
  VOQ_ByteBuffer& operator=(const VOQ_ByteBuffer&) = delete;

  // A copy of length bytes; without data length zeroed bytes; length 0 empties it.
  void setData(unsigned int length, const void* data);
  const unsigned char* getData() const { return reinterpret_cast<const unsigned char*>(bytes.getData()); }
  unsigned int getLength() const { return bytes.getLength(); }

 private:
  VOQ_String bytes;
};

class VOQ_Crypt {
 public:
  VOQ_Crypt() = default;
  VOQ_Crypt(const VOQ_Crypt&) = delete;
  VOQ_Crypt& operator=(const VOQ_Crypt&) = delete;
  ~VOQ_Crypt();

  // A new 1024-bit key, public exponent 0xA0499, after seeding the generator with the text.
  DWORD genKey(const char* seedText);
  // The key from its eight components in hexadecimal. A held key is freed first; a key
  // that fails the consistency check is not kept.
  DWORD loadKey(const VOQ_String& e, const VOQ_String& d, const VOQ_String& n, const VOQ_String& p,
                const VOQ_String& q, const VOQ_String& dmp1, const VOQ_String& dmq1, const VOQ_String& iqmp);
  // The key from its text; anything but eight fields gives VOQ_CRYPT_BAD_KEY.
  DWORD loadKey(const VOQ_String& keyText);
  // The same for a built-in key whose consistency its build has proved: `proven` is the
  // SHA-256 (kProofLength bytes) of the text that passed the check then. That very text
  // is not proved again (OpenSSL's check tests each prime with 64 Miller-Rabin rounds,
  // some 6 ms at every start); any other text, a changed copy of it included, and a null
  // `proven` are checked in full.
  static constexpr unsigned int kProofLength = 32;
  DWORD loadKey(const VOQ_String& keyText, const unsigned char* proven);
  // Appends the key text to target.
  DWORD exportKey(VOQ_String& target);

  // SHA-1 RSA signature into the caller's buffer: *signatureLength gives its size (at least
  // the key's size) and receives the signature's. The new signature is verified at once.
  DWORD sign(const unsigned char* data, unsigned int length, unsigned char* signature,
             unsigned int* signatureLength);
  DWORD verify(const unsigned char* data, unsigned int length, const unsigned char* signature,
               unsigned int signatureLength);
  // The signature as lower-case hexadecimal text in target.
  DWORD signHex(const VOQ_String& data, VOQ_ByteBuffer& target);
  // Verifies a hexadecimal signature; an odd-length text's first digit alone is its first byte.
  DWORD verifyHex(const VOQ_String& data, const VOQ_String& signatureText);
  // Writes the key's components, the private ones included, into the trace log.
  DWORD dumpKey();

 private:
  void freeKey();
  // The key from its eight fields in text order (e, d, n, p, q, dmp1, dmq1, iqmp), checked
  // for consistency when `check` is set.
  DWORD load(const VOQ_String* const fields[], bool check);

  RSA* rsa = nullptr;
};

// 2 * length lower-case hexadecimal digits (empty for no data).
VOQ_String bytesToHex(const unsigned char* data, unsigned int length);
bool isHexDigit(char c);
// The bytes of a hexadecimal text; false at the first character that is no hexadecimal digit.
bool hexToBytes(VOQ_ByteBuffer& target, const char* text);
