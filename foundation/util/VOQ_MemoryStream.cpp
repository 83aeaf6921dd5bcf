#include "foundation/util/VOQ_MemoryStream.h"

#include "foundation/util/AbstractException.h"

unsigned int VOQ_MemoryStream::getSize() { return string != nullptr ? string->getLength() : 0; }

void VOQ_MemoryStream::write(const void* bytes, unsigned int n) {
  if (string == nullptr) {
    throw VOQ_StreamException("No file open.");
  }
  string->append(n, bytes);
  position += n;
}

void VOQ_MemoryStream::writeByte(unsigned char byte) {
  if (string == nullptr) {
    throw VOQ_StreamException("No file open.");
  }
  string->appendByte(byte);
  ++position;
}

unsigned char VOQ_MemoryStream::read() {
  unsigned char byte = peek();
  ++position;
  return byte;
}

unsigned char VOQ_MemoryStream::peek() {
  if (position >= getSize()) {
    throw VOQ_StreamException("End of file.");
  }
  return static_cast<unsigned char>(string->getData()[position]);
}

bool VOQ_MemoryStream::isAtEnd() {
  if (string == nullptr) {
    throw VOQ_StreamException("No file open.");
  }
  return position >= string->getLength();
}

void VOQ_MemoryStream::seek(unsigned int position) {
  unsigned int size = getSize();
  if (position < size) {
    this->position = position;
  } else {
    this->position = size > 0 ? size - 1 : 0;
  }
}
