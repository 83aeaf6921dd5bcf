// Byte stream of the utility library, read and written one byte or a block at
// a time. Failures are VOQ_StreamException.
#pragma once

class VOQ_Stream {
 public:
  VOQ_Stream() = default;
  VOQ_Stream(const VOQ_Stream&) = delete;
  VOQ_Stream& operator=(const VOQ_Stream&) = delete;
  virtual ~VOQ_Stream();

  virtual unsigned int getSize() = 0;
  virtual void write(const void* bytes, unsigned int n) = 0;
  virtual void writeByte(unsigned char byte) = 0;
  // The byte at the position; the position moves on by one.
  virtual unsigned char read() = 0;
  // The byte at the position; the position stays.
  virtual unsigned char peek() = 0;
  virtual bool isAtEnd() = 0;
  virtual void seek(unsigned int position) = 0;
  // Skips space, line feed and carriage return (not tab).
  virtual void skipBlanks();
  virtual void close() = 0;
  virtual void flush() = 0;

  unsigned int getPosition() const { return position; }

  static bool isBlank(unsigned char byte) { return byte == ' ' || byte == '\n' || byte == '\r'; }

 protected:
  unsigned int position = 0;
};
