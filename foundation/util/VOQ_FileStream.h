// Stream over a file of the C library. Every operation without an open file
// throws "No file open.".
#pragma once

#include <cstdio>

#include "foundation/util/VOQ_Stream.h"

class VOQ_FileStream : public VOQ_Stream {
 public:
  // forWriting: created or truncated ("wb+"); otherwise an existing file,
  // opened for reading and writing ("rb+"). Failure: "File not found.".
  VOQ_FileStream(const char* path, bool forWriting);
  ~VOQ_FileStream() override;

  unsigned int getSize() override;
  void write(const void* bytes, unsigned int n) override;
  void writeByte(unsigned char byte) override;
  unsigned char read() override;
  unsigned char peek() override;
  // The file's end-of-file indicator: set only once a read has hit the end.
  bool isAtEnd() override;
  void seek(unsigned int position) override;
  void close() override;
  void flush() override;

 private:
  enum class Direction { None, Reading, Writing };

  FILE* openFile();
  void turnTo(Direction next);

  FILE* file = nullptr;
  // The C library needs a positioning call between a write and a following
  // read (and back); this remembers which way the file was used last.
  Direction direction = Direction::None;
};
