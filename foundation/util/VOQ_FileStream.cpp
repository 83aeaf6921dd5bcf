#include "foundation/util/VOQ_FileStream.h"

#include "foundation/util/AbstractException.h"

VOQ_FileStream::VOQ_FileStream(const char* path, bool forWriting) {
  if (path != nullptr) {
    file = std::fopen(path, forWriting ? "wb+" : "rb+");
  }
  if (file == nullptr) {
    throw VOQ_StreamException("File not found.");
  }
}

VOQ_FileStream::~VOQ_FileStream() {
  if (file != nullptr) {
    std::fclose(file);
  }
}

FILE* VOQ_FileStream::openFile() {
  if (file == nullptr) {
    throw VOQ_StreamException("No file open.");
  }
  return file;
}

void VOQ_FileStream::turnTo(Direction next) {
  // A positioning call at the current offset; it does not move the file.
  if (direction != Direction::None && direction != next) {
    std::fseek(file, 0, SEEK_CUR);
  }
  direction = next;
}

unsigned int VOQ_FileStream::getSize() {
  FILE* f = openFile();
  long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) {
    throw VOQ_StreamException("File error while ftell.");
  }
  long size = std::ftell(f);
  std::fseek(f, here, SEEK_SET);
  direction = Direction::None;
  if (size < 0) {
    throw VOQ_StreamException("File error while ftell.");
  }
  return static_cast<unsigned int>(size);
}

void VOQ_FileStream::write(const void* bytes, unsigned int n) {
  FILE* f = openFile();
  turnTo(Direction::Writing);
  if (n > 0 && (bytes == nullptr || std::fwrite(bytes, 1, n, f) != n)) {
    throw VOQ_StreamException("File error while writing.");
  }
  position += n;
}

void VOQ_FileStream::writeByte(unsigned char byte) {
  FILE* f = openFile();
  turnTo(Direction::Writing);
  if (std::fputc(byte, f) == EOF) {
    throw VOQ_StreamException("File error while writing.");
  }
  ++position;
}

unsigned char VOQ_FileStream::read() {
  FILE* f = openFile();
  turnTo(Direction::Reading);
  unsigned char byte = 0;
  if (std::fread(&byte, 1, 1, f) != 1) {
    throw VOQ_StreamException("File error while reading.");
  }
  ++position;
  return byte;
}

unsigned char VOQ_FileStream::peek() {
  unsigned char byte = read();
  --position;
  std::fseek(file, static_cast<long>(position), SEEK_SET);
  direction = Direction::None;
  return byte;
}

bool VOQ_FileStream::isAtEnd() { return std::feof(openFile()) != 0; }

void VOQ_FileStream::seek(unsigned int position) {
  FILE* f = openFile();
  if (position > getSize()) {
    throw VOQ_StreamException("End of file.");
  }
  std::fseek(f, static_cast<long>(position), SEEK_SET);
  direction = Direction::None;
  this->position = position;
}

void VOQ_FileStream::close() {
  std::fclose(openFile());
  file = nullptr;
  direction = Direction::None;
  position = 0;
}

void VOQ_FileStream::flush() { std::fflush(openFile()); }
