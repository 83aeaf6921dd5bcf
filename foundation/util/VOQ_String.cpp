#include "foundation/util/VOQ_String.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Room for size bytes and the terminator behind them.
char* allocateWithTerminator(size_t size) {
  char* block = static_cast<char*>(std::malloc(size + 1));
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  block[size] = '\0';
  return block;
}

unsigned int grownLength(unsigned int length, size_t n) {
  if (n > UINT32_MAX - length) {
    throw std::length_error("VOQ_String too long");
  }
  return static_cast<unsigned int>(length + n);
}

}  // namespace

VOQ_String::VOQ_String(unsigned int length, const void* bytes) {
  if (length == 0) {
    return;
  }
  data = allocateWithTerminator(length);
  if (bytes != nullptr) {
    std::memcpy(data, bytes, length);
  } else {
    std::memset(data, 0, length);
  }
  this->length = length;
  capacity = length;
}

VOQ_String::VOQ_String(const char* text) { assign(text); }

VOQ_String::VOQ_String(const VOQ_String& other) : VOQ_String(other.length, other.data) {}

VOQ_String& VOQ_String::operator=(const VOQ_String& other) {
  assign(other);
  return *this;
}

VOQ_String::~VOQ_String() { clear(); }

void VOQ_String::clear() {
  std::free(data);
  data = nullptr;
  length = 0;
  capacity = 0;
}

void VOQ_String::replaceWith(unsigned int newLength, const void* bytes) {
  // Copy first, release afterwards: bytes may lie inside the old block.
  char* block = nullptr;
  if (newLength > 0) {
    block = allocateWithTerminator(newLength);
    std::memcpy(block, bytes, newLength);
  }
  std::free(data);
  data = block;
  length = newLength;
  capacity = newLength;
}

void VOQ_String::assign(const char* text) {
  if (text == nullptr) {
    clear();
    return;
  }
  replaceWith(grownLength(0, std::strlen(text)), text);
}

void VOQ_String::assign(const VOQ_String& other) {
  if (&other == this) {
    return;
  }
  replaceWith(other.length, other.data);
}

void VOQ_String::appendByte(unsigned char byte) { append(1, &byte); }

void VOQ_String::append(unsigned int n, const void* bytes) {
  if (n == 0 || bytes == nullptr) {
    return;
  }
  unsigned int newLength = grownLength(length, n);
  // Appending (part of) our own data: remember where it sits, since growing
  // may move the block.
  const uintptr_t source = reinterpret_cast<uintptr_t>(bytes);
  const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
  const bool inside = data != nullptr && source >= begin && source < begin + length;
  const size_t offset = inside ? source - begin : 0;

  if (newLength > capacity) {
    size_t room = std::max<size_t>({newLength, size_t(capacity) * 2, 16});
    room = std::min<size_t>(room, UINT32_MAX);
    char* block = static_cast<char*>(std::realloc(data, room + 1));
    if (block == nullptr) {
      throw std::bad_alloc();
    }
    data = block;
    capacity = static_cast<unsigned int>(room);
  }
  std::memmove(data + length, inside ? data + offset : bytes, n);
  length = newLength;
  data[length] = '\0';
}

bool VOQ_String::equals(const VOQ_String& other) const {
  return data != nullptr && other.data != nullptr && length == other.length &&
         std::memcmp(data, other.data, length) == 0;
}
