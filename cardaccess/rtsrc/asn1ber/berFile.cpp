// Reading one complete element from a stdio stream. Every byte, header
// octets included, is checked against the caller's capacity before it is stored.
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"
#include "cardaccess/rtsrc/asn1ber/berHeader.h"

namespace {

// Header octets from a source of single bytes: get(byte) returns 0 or a status.
template <typename Get>
int readHeader(Get get, BerTag* tag, int* length) {
  int status = berheader::readTag(get, tag);
  if (status == BER_OK) status = berheader::readLength(get, length);
  if (status == BER_OK && *length == BER_INDEFINITE && !(*tag & BER_CONSTRUCTED)) return BER_INVALID_LENGTH;
  return status;
}

using berheader::isEndOfContents;

}  // namespace

int berReadMessage(FILE* file, uint8_t* buffer, uint32_t capacity, uint32_t* used) {
  if (used != nullptr) *used = 0;
  if (file == nullptr || buffer == nullptr) return BER_END_OF_BUFFER;
  uint32_t n = 0;
  auto get = [&](uint8_t* byte) -> int {
    if (n >= capacity) return BER_END_OF_BUFFER;
    int c = std::fgetc(file);
    if (c == EOF) return BER_FILE_ENDED;
    buffer[n++] = static_cast<uint8_t>(c);
    *byte = static_cast<uint8_t>(c);
    return BER_OK;
  };
  auto contents = [&](int length) -> int {
    auto count = static_cast<uint32_t>(length);
    if (count > capacity - n) return BER_END_OF_BUFFER;
    size_t got = std::fread(buffer + n, 1, count, file);
    n += static_cast<uint32_t>(got);
    return got == count ? BER_OK : BER_FILE_ENDED;
  };
  BerTag tag = 0;
  int length = 0;
  int status = readHeader(get, &tag, &length);
  if (status < 0) return status;
  if (isEndOfContents(tag, length)) return BER_INVALID_LENGTH;  // ends nothing
  if (length != BER_INDEFINITE) {
    status = contents(length);
  } else {
    long level = 1;
    while (status == BER_OK && level > 0) {
      status = readHeader(get, &tag, &length);
      if (status < 0) break;
      if (isEndOfContents(tag, length)) {
        --level;
      } else if (length == BER_INDEFINITE) {
        ++level;
      } else {
        status = contents(length);
      }
    }
  }
  if (status < 0) return status;
  if (used != nullptr) *used = n;
  return BER_OK;
}

int berReadMessageHeaderFirst(FILE* file, uint8_t* buffer, uint32_t capacity) {
  constexpr uint32_t kFirst = 6;
  if (capacity < kFirst) return BER_ENCODE_OVERFLOW;
  if (file == nullptr || buffer == nullptr) return BER_END_OF_BUFFER;
  auto got = static_cast<uint32_t>(std::fread(buffer, 1, kFirst, file));
  if (got == 0) return 0;
  uint32_t at = 0;
  auto get = [&](uint8_t* byte) -> int {
    if (at >= got) return BER_END_OF_BUFFER;
    *byte = buffer[at++];
    return BER_OK;
  };
  BerTag tag = 0;
  int length = 0;
  int status = readHeader(get, &tag, &length);
  if (status < 0) return status;
  // The total must be known from the header; indefinite messages need berReadMessage.
  if (length == BER_INDEFINITE) return BER_INVALID_LENGTH;
  uint64_t total = static_cast<uint64_t>(at) + static_cast<uint64_t>(length);
  if (total > capacity) return BER_ENCODE_OVERFLOW;
  if (total > got) got += static_cast<uint32_t>(std::fread(buffer + got, 1, total - got, file));
  if (got < total) return BER_END_OF_BUFFER;
  return static_cast<int>(total);
}
