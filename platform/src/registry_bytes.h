// Little-endian integers and counted names, the building blocks of hive files and
// their journals. The reader checks every length against the bytes left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::registry {

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) { put(v, 2); }
  void u32(uint32_t v) { put(v, 4); }
  void u64(uint64_t v) { put(v, 8); }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  // A name of at most 65535 bytes: callers keep names within the registry's limits.
  void name(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    bytes(s.data(), s.size());
  }

 private:
  void put(uint64_t v, int n) {
    uint8_t b[8];
    for (int i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    out_.insert(out_.end(), b, b + n);
  }
  std::vector<uint8_t>& out_;
};

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool u8(uint8_t& v) { return get(v, 1); }
  bool u16(uint16_t& v) { return get(v, 2); }
  bool u32(uint32_t& v) { return get(v, 4); }
  bool u64(uint64_t& v) { return get(v, 8); }
  bool bytes(size_t n, const uint8_t*& out) {
    if (n > left_) return false;
    out = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  bool text(std::string& s) {
    uint16_t n;
    const uint8_t* b;
    if (!u16(n) || !bytes(n, b)) return false;
    s.assign(reinterpret_cast<const char*>(b), n);
    return true;
  }
  size_t left() const { return left_; }

 private:
  template <typename T>
  bool get(T& v, int n) {
    if (left_ < static_cast<size_t>(n)) return false;
    uint64_t r = 0;
    for (int i = 0; i < n; ++i) r |= static_cast<uint64_t>(p_[i]) << (8 * i);
    v = static_cast<T>(r);
    p_ += n;
    left_ -= n;
    return true;
  }
  const uint8_t* p_;
  size_t left_;
};

}  // namespace platform::registry
