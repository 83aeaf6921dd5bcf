// Stream over a VOQ_String that the stream does not own. Reading starts at
// the first byte; writing always appends at the end of the string.
#pragma once

#include "foundation/util/VOQ_Stream.h"
#include "foundation/util/VOQ_String.h"

class VOQ_MemoryStream : public VOQ_Stream {
 public:
  // string may be NULL; such a stream is empty and refuses writes.
  explicit VOQ_MemoryStream(VOQ_String* string) : string(string) {}

  unsigned int getSize() override;
  void write(const void* bytes, unsigned int n) override;
  void writeByte(unsigned char byte) override;
  unsigned char read() override;
  unsigned char peek() override;
  bool isAtEnd() override;
  // A position past the end goes to the last byte (0 on an empty string).
  void seek(unsigned int position) override;
  void close() override {}
  void flush() override {}

 private:
  VOQ_String* string;
};
