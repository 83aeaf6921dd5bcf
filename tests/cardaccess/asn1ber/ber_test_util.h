// Helpers shared by the BER runtime tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

namespace bertest {

using Bytes = std::vector<uint8_t>;

// "30 03 02 01 05" (blanks optional) to bytes.
Bytes hex(const std::string& text);
std::string toHex(const uint8_t* data, size_t n);
inline std::string toHex(const Bytes& bytes) { return toHex(bytes.data(), bytes.size()); }

// An encoding context over a buffer of its own; freed at the end of the scope.
class Encoder {
 public:
  // size 0: a dynamic buffer.
  explicit Encoder(uint32_t size = 0);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  BerContext* ctx() { return &ctx_; }
  // The message encoded so far.
  Bytes message() const;

 private:
  std::vector<uint8_t> storage_;
  BerContext ctx_;
};

// A decoding context over an exact-size copy of the bytes, so that the
// sanitizers see any read past them.
class Decoder {
 public:
  explicit Decoder(const Bytes& bytes);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  BerContext* ctx() { return &ctx_; }
  int initStatus() const { return status_; }
  BerTag tag() const { return tag_; }
  int length() const { return length_; }

 private:
  uint8_t* copy_;
  BerContext ctx_;
  int status_;
  BerTag tag_ = 0;
  int length_ = 0;
};

}  // namespace bertest

namespace bertest {
// The PersonnelRecord example of X.690 Annex A in BER.
extern const char* const kAnnexA;
}  // namespace bertest
