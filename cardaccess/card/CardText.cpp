#include "cardaccess/card/CardText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace cardtext {

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
    text.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return text;
}

}  // namespace cardtext
