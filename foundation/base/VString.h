// The growable text of the class library. Failures never throw: they give a NULL
// result and count an error, which a caller building a text in several steps
// checks once at the end.
#pragma once

#include "foundation/base/VReferenceCount.h"

#include <cstddef>

class VMemoryBlock;

class VString {
 public:
  static constexpr std::size_t kDefaultGranularity = 64;

  VString();
  // Empty, then assign(text, maxLen, 0).
  explicit VString(const char* text, std::size_t maxLen = 0);
  VString(const VString& other);
  VString& operator=(const VString& other);
  virtual ~VString();

  // Adds one to the error counter and returns the new count.
  virtual int addError();

  // Starts from nothing (without freeing) and takes other's granularity and text.
  void init(const VString* other);
  // Takes other's text, and with withGranularity also its granularity; no effect on itself.
  char* copy(const VString& other, bool withGranularity);

  // Replaces the text by n bytes of text: n = len, or strlen(text) when len is 0,
  // at most maxLen when maxLen is non-zero. The buffer is then exactly n + 1 bytes
  // and the length ends at the first NUL. NULL or empty text frees the buffer.
  char* assign(const char* text, std::size_t maxLen = 0, std::size_t len = 0);
  char* assign(const VString& other);
  // Appends n bytes (counted as for assign), growing by the granularity. Text from
  // this string's own buffer is allowed.
  char* append(const char* text, std::size_t maxLen = 0, std::size_t len = 0);
  char* appendChar(char c);

  // Length becomes 0; freeBuffer frees the buffer, resetErrors zeroes the counter.
  char* clear(bool freeBuffer, bool resetErrors);
  // Takes the block's text as its own; the block is empty afterwards.
  void adopt(VMemoryBlock& block);

  // NULL for a string that holds no buffer.
  const char* getBuffer() const { return m_buffer; }
  // Never NULL: "" for a string without buffer.
  const char* getText() const { return m_buffer != nullptr ? m_buffer : ""; }
  std::size_t getLength() const { return m_length; }
  std::size_t getCapacity() const { return m_capacity; }
  bool isEmpty() const { return m_length == 0; }
  std::size_t getGranularity() const { return m_granularity; }
  void setGranularity(std::size_t granularity) { m_granularity = granularity; }
  int getErrorCount() const { return m_errors.getCount(); }

 private:
  bool ownsPointer(const char* text) const;
  static std::size_t countBytes(const char* text, std::size_t maxLen, std::size_t len);

  VReferenceCount m_errors;
  char* m_buffer = nullptr;
  std::size_t m_length = 0;
  std::size_t m_capacity = 0;
  std::size_t m_granularity = kDefaultGranularity;
};
