// DSA signature verification (FIPS 186, SHA-1).
#include "foundation/archive/ArchiveInternal.h"

int dsaVerify(Blob message, Blob r, Blob s, const DsaKey* key) {
  if (key == nullptr) return -1;
  const Blob* parts[] = {&r, &s, &key->p, &key->q, &key->g, &key->y};
  for (const Blob* part : parts) {
    if (part->length == 0 || part->length > kDerIntegerCapacity || part->data == nullptr) return -1;
  }
  BigNum R, S, P, Q, G, Y;
  bnFromBytes(&R, r.data, r.length);
  bnFromBytes(&S, s.data, s.length);
  bnFromBytes(&P, key->p.data, key->p.length);
  bnFromBytes(&Q, key->q.data, key->q.length);
  bnFromBytes(&G, key->g.data, key->g.length);
  bnFromBytes(&Y, key->y.data, key->y.length);
  if (bnIsZero(&R) || bnIsZero(&S) || bnCompare(&R, &Q) >= 0 || bnCompare(&S, &Q) >= 0) return -1;
  if ((P.words[0] & 1) == 0) return -1;

  BigNum w;
  // No inverse (a composite q): nothing can verify.
  if (bnModInv(&w, &S, &Q) != 0 || bnIsZero(&w)) return -1;

  Sha1Context sha;
  unsigned char digest[20];
  sha1Init(&sha);
  sha1Update(&sha, message);
  sha1Final(&sha, digest);
  unsigned char littleEndian[20];
  for (int i = 0; i < 20; ++i) littleEndian[i] = digest[19 - i];
  BigNum H;
  bnFromBytes(&H, littleEndian, 20);
  if (bnDivMod(nullptr, &H, &H, &Q) != 0) return -1;

  BigNum u1, u2, v;
  if (bnModMul(&u1, &H, &w, &Q) != 0 || bnModMul(&u2, &R, &w, &Q) != 0) return -1;
  if (bnModExpProduct(&v, &G, &u1, &Y, &u2, &P) != 0) return -1;
  if (bnDivMod(nullptr, &v, &v, &Q) != 0) return -1;
  return bnCompare(&v, &R) == 0 ? 0 : -1;
}
