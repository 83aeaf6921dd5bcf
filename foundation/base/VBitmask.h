// A 32-bit flag word.
#pragma once

#include <cstdint>

class VBitmask {
 public:
  explicit VBitmask(uint32_t bits = 0) : m_bits(bits) {}
  virtual ~VBitmask() = default;

  uint32_t getValue() const { return m_bits; }
  void setValue(uint32_t bits) { m_bits = bits; }
  void set(uint32_t mask) { m_bits |= mask; }
  void clear(uint32_t mask) { m_bits &= ~mask; }
  // True when any bit of mask is set.
  bool isSet(uint32_t mask) const { return (m_bits & mask) != 0; }

 private:
  uint32_t m_bits;
};
