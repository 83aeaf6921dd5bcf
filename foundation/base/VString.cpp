#include "foundation/base/VString.h"

#include "foundation/base/VMemoryBlock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

VString::VString() = default;

VString::VString(const char* text, std::size_t maxLen) { assign(text, maxLen, 0); }

VString::VString(const VString& other) { init(&other); }

VString& VString::operator=(const VString& other) {
  copy(other, false);
  return *this;
}

VString::~VString() { clear(true, true); }

int VString::addError() { return m_errors.addReference(); }

void VString::init(const VString* other) {
  m_buffer = nullptr;
  m_length = 0;
  m_capacity = 0;
  m_errors.setCount(0);
  m_granularity = other != nullptr ? other->m_granularity : kDefaultGranularity;
  if (other != nullptr && other->m_buffer != nullptr && other->m_length > 0) assign(*other);
}

char* VString::copy(const VString& other, bool withGranularity) {
  if (&other == this) return m_buffer;
  if (withGranularity) m_granularity = other.m_granularity;
  return assign(other);
}

bool VString::ownsPointer(const char* text) const {
  if (m_buffer == nullptr) return false;
  auto p = reinterpret_cast<std::uintptr_t>(text);
  auto start = reinterpret_cast<std::uintptr_t>(m_buffer);
  return p >= start && p <= start + m_length;
}

std::size_t VString::countBytes(const char* text, std::size_t maxLen, std::size_t len) {
  // With a limit, never look for the terminator beyond it: the text may have none.
  std::size_t n = len != 0 ? len : (maxLen != 0 ? strnlen(text, maxLen) : std::strlen(text));
  if (maxLen != 0 && maxLen < n) n = maxLen;
  return n;
}

char* VString::assign(const char* text, std::size_t maxLen, std::size_t len) {
  if (text == nullptr) {
    clear(true, true);
    return nullptr;
  }
  std::size_t n = countBytes(text, maxLen, len);
  if (n == 0) {
    clear(true, true);
    return nullptr;
  }
  // The new block is filled before the old buffer goes, so text from this very
  // string is safe without a further copy.
  VMemoryBlock block;
  char* data = static_cast<char*>(block.allocate(n + 1));
  if (data == nullptr) {
    addError();
    return nullptr;
  }
  std::memcpy(data, text, n);
  adopt(block);
  return m_buffer;
}

char* VString::assign(const VString& other) {
  if (&other == this) return m_buffer;
  if (other.m_buffer == nullptr) {
    clear(true, true);
    return nullptr;
  }
  return assign(other.m_buffer, 0, other.m_length);
}

char* VString::append(const char* text, std::size_t maxLen, std::size_t len) {
  if (text == nullptr) return m_buffer;
  std::size_t n = countBytes(text, maxLen, len);
  // Growing the buffer would free text that lies inside it: work on a copy.
  std::unique_ptr<char, FreeDeleter> own;
  if (n > 0 && ownsPointer(text)) {
    own.reset(static_cast<char*>(std::malloc(n)));
    if (!own) {
      addError();
      return nullptr;
    }
    std::memcpy(own.get(), text, n);
    text = own.get();
  }
  if (n > 0) {
    if (m_buffer == nullptr || m_capacity < m_length + n + 1) {
      std::size_t granularity = m_granularity != 0 ? m_granularity : kDefaultGranularity;
      std::size_t capacity = ((m_length + n + 1) / granularity + 1) * granularity;
      char* grown = static_cast<char*>(std::realloc(m_buffer, capacity));
      if (grown == nullptr) {
        addError();
        return nullptr;
      }
      m_buffer = grown;
      m_capacity = capacity;
    }
    std::memcpy(m_buffer + m_length, text, n);
    m_length += n;
    m_buffer[m_length] = '\0';
  }
  return m_buffer;
}

char* VString::appendChar(char c) {
  char text[2] = {c, '\0'};
  return append(text);
}

char* VString::clear(bool freeBuffer, bool resetErrors) {
  if (freeBuffer) {
    std::free(m_buffer);
    m_buffer = nullptr;
    m_capacity = 0;
  } else if (m_buffer != nullptr) {
    m_buffer[0] = '\0';
  }
  m_length = 0;
  if (resetErrors) m_errors.setCount(0);
  return m_buffer;
}

void VString::adopt(VMemoryBlock& block) {
  clear(true, true);
  std::size_t size = block.getSize();
  char* data = static_cast<char*>(block.detach());
  if (data == nullptr) return;
  std::size_t length = strnlen(data, size);
  if (length == size) {
    // A block filled to its end has no terminator: make room for one.
    char* grown = static_cast<char*>(std::realloc(data, size + 1));
    if (grown != nullptr) {
      data = grown;
      ++size;
    } else {
      addError();
      --length;
    }
    data[length] = '\0';
  }
  m_buffer = data;
  m_capacity = size;
  m_length = length;
}
