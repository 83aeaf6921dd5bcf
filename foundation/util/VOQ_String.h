// Owned byte string of the utility library, for text and for arbitrary bytes.
#pragma once

class VOQ_String {
 public:
  // With bytes: a copy of length bytes. With NULL bytes and a length: a block
  // of that length (zero-filled here). With neither: the empty string.
  explicit VOQ_String(unsigned int length = 0, const void* bytes = nullptr);
  // A copy of the text with its terminating zero; NULL gives the empty string.
  explicit VOQ_String(const char* text);
  VOQ_String(const VOQ_String& other);
  VOQ_String& operator=(const VOQ_String& other);
  virtual ~VOQ_String();

  void clear();
  // NULL for the empty string; otherwise always followed by a zero byte that
  // the length does not count, so the data can be used as C text.
  char* getData() { return data; }
  const char* getData() const { return data; }
  unsigned int getLength() const { return length; }

  // Both may be given this string's own data: the new copy is made before the
  // old block is released.
  void assign(const char* text);
  void assign(const VOQ_String& other);
  void appendByte(unsigned char byte);
  void append(unsigned int n, const void* bytes);
  // Appending an empty string leaves the bytes as they are.
  void append(const VOQ_String& other) { append(other.length, other.data); }

  // True when both hold data of the same length and the same bytes; two empty
  // strings are not equal.
  bool equals(const VOQ_String& other) const;
  // The opposite: true when either string is empty, the lengths differ or a byte does.
  bool differs(const VOQ_String& other) const { return !equals(other); }

 private:
  void replaceWith(unsigned int newLength, const void* bytes);

  char* data = nullptr;
  unsigned int length = 0;
  // Bytes the block holds before its terminator; appending grows it
  // geometrically, so that byte-by-byte building stays linear.
  unsigned int capacity = 0;
};
