// ECDSA verification helpers of the checking library: a signature given as its
// two integers r and s, checked against a signer certificate or a raw P-192 key.
#pragma once

// 1 when r and s (unsigned big-endian) are a valid ECDSA signature over the
// data for the EC key of the DER certificate, else 0. The digest follows the
// signature algorithm's dotted text: "1.2.840.10045.4.1…" SHA-1,
// "1.2.840.10045.4.3.2…" SHA-256, anything else RIPEMD-160.
int verifyECDSASignature(const unsigned char* r, unsigned int rLength, const unsigned char* s, unsigned int sLength,
                         const unsigned char* data, unsigned int dataLength, const char* oid,
                         const unsigned char* certificate, unsigned int certificateLength);
// The same over the digest of the data, made beforehand with the digest the
// signature algorithm names (data that arrive in pieces are digested as they come).
int verifyECDSADigest(const unsigned char* r, unsigned int rLength, const unsigned char* s, unsigned int sLength,
                      const unsigned char* digest, unsigned int digestLength, const unsigned char* certificate,
                      unsigned int certificateLength);

// Sets up the curve P-192 for verifyP192Signature and checks its base point:
// 1 when it lies on the curve and has the curve's order; otherwise it prints
// the problem to standard output and returns 0.
int initP192Curve();

// 1 when r and s (24 bytes each) are a valid ECDSA signature over the 20-byte
// hash for the P-192 public key (x, y), all big-endian, else 0. Needs a
// successful initP192Curve before.
int verifyP192Signature(const unsigned char* x, const unsigned char* y, const unsigned char* hash,
                        const unsigned char* r, const unsigned char* s);

// The names the signature verification knows them by.
inline int initECDSAP192Domain() { return initP192Curve(); }
inline int verifyECDSAP192(const unsigned char* x, const unsigned char* y, const unsigned char* hash,
                           const unsigned char* r, const unsigned char* s) {
  return verifyP192Signature(x, y, hash, r, s);
}
