#include "foundation/util/VOQ_Stream.h"

VOQ_Stream::~VOQ_Stream() = default;

void VOQ_Stream::skipBlanks() {
  // read() rather than a position change, so that a file's own read position
  // moves along.
  while (isBlank(peek())) {
    read();
  }
}
