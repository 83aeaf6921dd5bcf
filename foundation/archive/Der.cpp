// DER/BER reader for signature blocks, certificates, keys and signature values.
// It reads unverified bytes: nesting of indefinite lengths is bounded and every
// element must end inside the bytes given.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

const unsigned char* derNextDepth(const unsigned char* p, uint64_t available, DerElement* e, int depth) {
  if (p == nullptr || available < 2 || depth > kDerMaxDepth) return nullptr;
  uint64_t i = 1;
  if ((p[0] & 0x1F) == 0x1F) {  // high tag number form
    unsigned char b;
    do {
      if (i >= available) return nullptr;
      b = p[i++];
    } while (b & 0x80);
  }
  if (i >= available) return nullptr;
  const unsigned char first = p[i++];
  if (first == 0x80) {
    const unsigned char* content = p + i;
    const unsigned char* position = content;
    const unsigned char* limit = p + available;
    for (;;) {
      const uint64_t remaining = static_cast<uint64_t>(limit - position);
      if (remaining < 2) return nullptr;
      if (position[0] == 0 && position[1] == 0) break;
      DerElement inner;
      position = derNextDepth(position, remaining, &inner, depth + 1);
      if (position == nullptr) return nullptr;
    }
    e->tag = p;
    e->content = content;
    e->length = static_cast<uint32_t>(position - content);
    e->end = position + 2;
    return e->end;
  }
  uint64_t length = first;
  if (first > 0x80) {
    const uint32_t bytes = first & 0x7F;
    if (bytes > 4 || i + bytes > available) return nullptr;
    length = 0;
    for (uint32_t k = 0; k < bytes; ++k) length = (length << 8) | p[i++];
  }
  if (length > available - i) return nullptr;
  e->tag = p;
  e->content = p + i;
  e->length = static_cast<uint32_t>(length);
  e->end = p + i + length;
  return e->end;
}

bool atEndOfContents(const unsigned char* p, uint64_t remaining) {
  return remaining >= 2 && p[0] == 0 && p[1] == 0;
}

}  // namespace

const unsigned char* derNext(const unsigned char* position, uint64_t available, DerElement* element) {
  DerElement scratch;
  return derNextDepth(position, available, element != nullptr ? element : &scratch, 0);
}

uint64_t derTotalLength(const unsigned char* position, uint64_t available) {
  DerElement e;
  if (derNext(position, available, &e) == nullptr) return 0;
  return static_cast<uint64_t>(e.end - e.tag);
}

uint32_t derCount(const unsigned char* position, uint64_t length) {
  if (position == nullptr) return 0;
  const unsigned char* end = position + length;
  uint32_t count = 0;
  while (position < end) {
    const uint64_t remaining = static_cast<uint64_t>(end - position);
    if (atEndOfContents(position, remaining)) break;
    DerElement e;
    position = derNext(position, remaining, &e);
    if (position == nullptr) return 0;
    ++count;
  }
  return count;
}

uint32_t derLengthOfLength(uint32_t length) {
  if (length < 128) return 1;
  uint32_t bytes = 1;
  while (bytes < 4 && (length >> (8 * bytes)) != 0) ++bytes;
  return 1 + bytes;
}

uint32_t derWriteLength(uint32_t length, unsigned char* out) {
  const uint32_t size = derLengthOfLength(length);
  if (size == 1) {
    out[0] = static_cast<unsigned char>(length);
    return 1;
  }
  out[0] = static_cast<unsigned char>(0x80 | (size - 1));
  for (uint32_t k = 1; k < size; ++k) out[k] = static_cast<unsigned char>(length >> (8 * (size - 1 - k)));
  return size;
}

uint32_t derSplit(const unsigned char* position, uint64_t length, uint32_t n, DerElement* out) {
  std::memset(out, 0, sizeof(DerElement) * n);
  if (position == nullptr) return 0;
  const unsigned char* end = position + length;
  for (uint32_t i = 0; i < n && position < end; ++i) {
    const uint64_t remaining = static_cast<uint64_t>(end - position);
    if (atEndOfContents(position, remaining)) break;
    position = derNext(position, remaining, &out[i]);
    if (position == nullptr) {
      std::memset(&out[i], 0, sizeof(DerElement));
      return i;
    }
  }
  return n;
}

uint32_t decodeInteger(const DerElement* element, unsigned char* out, uint32_t capacity) {
  if (element == nullptr || element->tag == nullptr || out == nullptr) return 0;
  if (capacity > kDerIntegerCapacity) capacity = kDerIntegerCapacity;
  const unsigned char* p = element->content;
  uint32_t length = element->length;
  while (length > 0 && *p == 0) {
    ++p;
    --length;
  }
  if (length > capacity || capacity == 0) return 0;
  std::memset(out, 0, capacity);
  for (uint32_t i = 0; i < length; ++i) out[i] = p[length - 1 - i];
  return length == 0 ? 1 : length;
}

uint32_t decodeIntegerSequence(const unsigned char* position, uint64_t length, Blob* out, uint32_t n,
                               uint32_t* total) {
  DerElement sequence;
  if (derNext(position, length, &sequence) == nullptr || sequence.tag[0] != 0x30) return 0;
  const uint32_t count = derCount(sequence.content, sequence.length);
  if (total != nullptr) *total = count;
  const uint32_t wanted = count < n ? count : n;
  const unsigned char* p = sequence.content;
  const unsigned char* end = sequence.content + sequence.length;
  for (uint32_t i = 0; i < wanted; ++i) {
    DerElement e;
    p = derNext(p, static_cast<uint64_t>(end - p), &e);
    if (p == nullptr) return 0;
    const uint32_t size = decodeInteger(&e, out[i].data, kDerIntegerCapacity);
    if (size == 0) return 0;
    out[i].length = size;
  }
  return wanted;
}

int parseSubjectPublicKeyInfo(Blob key, Blob* algorithm, Blob* parameters, Blob* publicKeyBits) {
  DerElement outer, algorithmId, oid, params, bits;
  if (derNext(key.data, key.length, &outer) == nullptr || outer.tag[0] != 0x30) return -1;
  const unsigned char* end = outer.content + outer.length;
  const unsigned char* p = derNext(outer.content, outer.length, &algorithmId);
  if (p == nullptr) return -1;
  const unsigned char* a = derNext(algorithmId.content, algorithmId.length, &oid);
  if (a == nullptr) return -1;
  const unsigned char* algorithmEnd = algorithmId.content + algorithmId.length;
  if (a >= algorithmEnd || derNext(a, static_cast<uint64_t>(algorithmEnd - a), &params) == nullptr) return -1;
  if (p >= end || derNext(p, static_cast<uint64_t>(end - p), &bits) == nullptr || bits.tag[0] != 0x03) return -1;
  // An empty BIT STRING has no unused-bits byte.
  if (bits.length == 0) return -1;
  if (algorithm != nullptr) *algorithm = derWhole(oid);
  if (parameters != nullptr) *parameters = derWhole(params);
  if (publicKeyBits != nullptr) *publicKeyBits = makeBlob(bits.content + 1, bits.length - 1);
  return 0;
}

int decodeDsaKey(Blob publicKeyBits, Blob parameters, DsaKeyStorage* key) {
  if (key == nullptr) return -1;
  Blob values[4] = {makeBlob(key->p, 0), makeBlob(key->q, 0), makeBlob(key->g, 0), makeBlob(key->y, 0)};
  DerElement params;
  if (derNext(parameters.data, parameters.length, &params) == nullptr) return -1;
  uint32_t total = 0;
  if (params.tag[0] == 0x30) {
    if (decodeIntegerSequence(parameters.data, parameters.length, values, 3, &total) != 3 || total != 3) return -1;
    DerElement y;
    if (derNext(publicKeyBits.data, publicKeyBits.length, &y) == nullptr || y.tag[0] != 0x02) return -1;
    values[3].length = decodeInteger(&y, key->y, kDerIntegerCapacity);
    if (values[3].length == 0) return -1;
  } else {
    if (decodeIntegerSequence(publicKeyBits.data, publicKeyBits.length, values, 4, &total) != 4 || total != 4) {
      return -1;
    }
  }
  key->key.p = values[0];
  key->key.q = values[1];
  key->key.g = values[2];
  key->key.y = values[3];
  return 0;
}
