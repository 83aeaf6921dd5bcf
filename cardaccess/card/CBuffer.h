// Names of a card's files and applications: a byte string that can write log
// lines, the two-byte file identifier and the application identifier (which
// also carries the path of a SELECT by path).
#pragma once

#include "foundation/core/CLogable.h"

#include <string>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CBuffer : public std::string, public CLogable {
 public:
  CBuffer() = default;
  explicit CBuffer(const std::string& bytes) : std::string(bytes) {}
  CBuffer(const CBuffer& other) = default;
  CBuffer& operator=(const CBuffer& other) = default;
  ~CBuffer() override = default;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  const std::string& bytes() const { return *this; }
  // Two lower-case hex digits per byte, no separators.
  std::string toHex() const;
  // Replaces the bytes by those of a hex text (either case). NULL, an odd length or
  // a character that is no hex digit throw VOQ::CBadArgumentException; the bytes
  // before a bad character stay.
  void fromHex(const char* text);
  // 0..15, or -1 for a character that is no hex digit.
  static int hexValue(char c);
  // The first numBits bits as '1' and '0', most significant first; numBits must
  // lie within the last byte (else VOQ::CBadArgumentException).
  std::string ToBinary(int numBits) const;
};

class CFID : public CBuffer {
 public:
  // Exactly two bytes, otherwise VOQ::CBadArgumentException.
  explicit CFID(const std::string& bytes);
  // The two bytes at the pointer; NULL gives VOQ::CBadArgumentException.
  explicit CFID(const unsigned char* bytes);
  CFID(const CFID& other);
  CFID& operator=(const CFID& other) = default;
  ~CFID() override;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
};

class CAID : public CBuffer {
 public:
  explicit CAID(const std::string& bytes);
  CAID(const CAID& other);
  CAID& operator=(const CAID& other) = default;
  ~CAID() override;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
};

QUARVEL_CARD_NAMESPACE_END
