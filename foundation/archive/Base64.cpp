// The library's own Base64: fixed 64-character lines, each ended by CR LF, and a
// strict decoder (only the alphabet, CR and LF before the first '=').
#include "foundation/archive/ArchiveInternal.h"

#include <cstdlib>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

Blob* newBlob(uint64_t length) {
  if (length > 0xFFFFFFFFu) return nullptr;
  auto* blob = static_cast<Blob*>(std::malloc(sizeof(Blob)));
  if (blob == nullptr) return nullptr;
  // One spare byte so that an empty result still has a valid pointer.
  blob->data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (blob->data == nullptr) {
    std::free(blob);
    return nullptr;
  }
  blob->length = static_cast<uint32_t>(length);
  return blob;
}

}  // namespace

Blob* base64Encode(Blob input) {
  if (input.length == 0 || input.data == nullptr) return nullptr;
  const uint64_t groups = (static_cast<uint64_t>(input.length) + 2) / 3;
  const uint64_t length = 4 * groups + 2 * (4 * groups / 64);
  Blob* out = newBlob(length);
  if (out == nullptr) return nullptr;
  unsigned char* w = out->data;
  for (uint64_t group = 0; group < groups; ++group) {
    const uint64_t at = group * 3;
    const uint64_t left = input.length - at;
    uint32_t bits = static_cast<uint32_t>(input.data[at]) << 16;
    if (left > 1) bits |= static_cast<uint32_t>(input.data[at + 1]) << 8;
    if (left > 2) bits |= input.data[at + 2];
    *w++ = kAlphabet[(bits >> 18) & 63];
    *w++ = kAlphabet[(bits >> 12) & 63];
    *w++ = left > 1 ? kAlphabet[(bits >> 6) & 63] : '=';
    *w++ = left > 2 ? kAlphabet[bits & 63] : '=';
    if ((group + 1) % 16 == 0) {
      *w++ = '\r';
      *w++ = '\n';
    }
  }
  return out;
}

Blob* base64Decode(Blob input) {
  if (input.length != 0 && input.data == nullptr) return nullptr;
  uint64_t count = 0;
  for (uint32_t i = 0; i < input.length; ++i) {
    const unsigned char c = input.data[i];
    if (c == '=') break;
    if (c == '\r' || c == '\n') continue;
    if (decodeValue(c) < 0) return nullptr;
    ++count;
  }
  Blob* out = newBlob(6 * count / 8);
  if (out == nullptr) return nullptr;
  uint32_t bits = 0;
  int bitCount = 0;
  uint32_t written = 0;
  for (uint32_t i = 0; i < input.length; ++i) {
    const unsigned char c = input.data[i];
    if (c == '=') break;
    if (c == '\r' || c == '\n') continue;
    bits = (bits << 6) | static_cast<uint32_t>(decodeValue(c));
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      if (written < out->length) out->data[written++] = static_cast<unsigned char>(bits >> bitCount);
      bits &= (1u << bitCount) - 1;
    }
  }
  return out;
}

void freeBlob(Blob* blob) {
  if (blob == nullptr) return;
  std::free(blob->data);
  std::free(blob);
}
