#include "foundation/util/VOQ_Base64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character, or -1.
int valueOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// What is left to read. Counted once from the size, since a file stream only
// reports its end after a read has failed.
unsigned int remaining(VOQ_Stream* in) {
  unsigned int size = in->getSize();
  unsigned int position = in->getPosition();
  return size > position ? size - position : 0;
}

}  // namespace

void voqBase64Encode(VOQ_Stream* in, VOQ_Stream* out, unsigned int count, unsigned int lineLength) {
  if (in == nullptr || out == nullptr) {
    return;
  }
  unsigned int n = remaining(in);
  if (count != 0xFFFFFFFFu && count < n) {
    n = count;
  }
  const unsigned int groupsPerLine = (lineLength < 4 ? 4 : lineLength) / 4;
  unsigned int groupsInLine = 0;
  unsigned int taken = 0;
  while (taken < n) {
    unsigned char bytes[3] = {0, 0, 0};
    unsigned int k = 0;
    while (k < 3 && taken < n) {
      bytes[k++] = in->read();
      ++taken;
    }
    const unsigned int bits = (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
    out->writeByte(kAlphabet[(bits >> 18) & 63]);
    out->writeByte(kAlphabet[(bits >> 12) & 63]);
    out->writeByte(k > 1 ? kAlphabet[(bits >> 6) & 63] : '=');
    out->writeByte(k > 2 ? kAlphabet[bits & 63] : '=');
    if (++groupsInLine == groupsPerLine) {
      out->write("\r\n", 2);
      groupsInLine = 0;
    }
  }
  if (groupsInLine > 0) {
    out->write("\r\n", 2);
  }
}

void voqBase64Decode(VOQ_Stream* in, VOQ_Stream* out) {
  if (in == nullptr || out == nullptr) {
    return;
  }
  unsigned int left = remaining(in);
  while (left > 0) {
    unsigned int bits = 0;
    unsigned int k = 0;
    while (k < 4 && left > 0) {
      int value = valueOf(in->read());
      --left;
      if (value >= 0) {
        bits |= static_cast<unsigned int>(value) << (18 - 6 * k);
        ++k;
      }
    }
    const unsigned char bytes[3] = {static_cast<unsigned char>(bits >> 16),
                                    static_cast<unsigned char>(bits >> 8),
                                    static_cast<unsigned char>(bits)};
    if (k > 1) {
      out->write(bytes, k - 1);
    }
  }
}

unsigned int voqBase64EncodedLength(unsigned int n) { return 4 * (n / 3 + (n % 3 != 0 ? 1 : 0)); }
