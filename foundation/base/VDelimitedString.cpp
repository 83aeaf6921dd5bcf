#include "foundation/base/VDelimitedString.h"

#include <cstring>

char* VDelimitedString::next(bool restore) {
  if (text == nullptr || position <= kExhausted) return nullptr;
  char* start = position == kBeforeFirst ? text : text + position + 1;
  if (restore && position >= 0) text[position] = delimiter;
  if (*start == '\0') {
    position = kExhausted;
    return nullptr;
  }
  char* cut = std::strchr(start, delimiter);
  if (cut == nullptr || delimiter == '\0') {
    position = kExhausted;
    return start;
  }
  *cut = '\0';
  position = static_cast<int>(cut - text);
  return start;
}
