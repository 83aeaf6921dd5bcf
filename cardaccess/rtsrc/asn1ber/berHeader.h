// The identifier and length octets of an element, read from any source of single
// bytes, for the buffer decoder and the stream reader alike. get(&byte) gives
// BER_OK or a negative status, which is passed on.
#pragma once

#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

#include <climits>

namespace berheader {

// The end-of-contents octets that close an element of indefinite length.
inline bool isEndOfContents(BerTag tag, int length) { return tag == BER_TAG_EOC && length == 0; }

template <typename Get>
int readTag(Get get, BerTag* tag) {
  uint8_t octet;
  int status = get(&octet);
  if (status < 0) return status;
  auto classAndForm = static_cast<BerTag>((octet & 0xE0) << 8);
  unsigned number = octet & 0x1F;
  if (number == 31) {
    number = 0;
    bool first = true;
    do {
      status = get(&octet);
      if (status < 0) return status;
      // A leading 0x80 would pad the number; checked per octet so that no run
      // of octets can overflow the accumulator.
      if (first && octet == 0x80) return BER_INVALID_TAG;
      first = false;
      number = number << 7 | (octet & 0x7F);
      if (number > BER_MAX_TAG_NUMBER) return BER_INVALID_TAG;
    } while (octet & 0x80);
  }
  *tag = static_cast<BerTag>(classAndForm | number);
  return BER_OK;
}

// A definite length up to INT_MAX, or BER_INDEFINITE.
template <typename Get>
int readLength(Get get, int* length) {
  uint8_t octet;
  int status = get(&octet);
  if (status < 0) return status;
  if (octet < 0x80) {
    *length = octet;
  } else if (octet == 0x80) {
    *length = BER_INDEFINITE;
  } else {
    int count = octet & 0x7F;
    // 0xFF is reserved; more than 4 octets cannot hold a length we accept.
    if (octet == 0xFF || count > 4) return BER_INVALID_LENGTH;
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      status = get(&octet);
      if (status < 0) return status;
      value = value << 8 | octet;
    }
    if (value > INT_MAX) return BER_INVALID_LENGTH;
    *length = static_cast<int>(value);
  }
  return BER_OK;
}

}  // namespace berheader
