#include "foundation/base/FormatString.h"

#include <windows.h>

#include <cstdarg>

namespace VOQ {

std::string formatString(const char* format, ...) {
  if (format == nullptr) return std::string();
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  // Trace texts are short: most fit the first buffer and are formatted once.
  char buffer[256];
  int length = _vsnprintf(buffer, sizeof buffer, format, args);
  std::string text;
  if (length >= 0 && static_cast<size_t>(length) < sizeof buffer) {
    text.assign(buffer, static_cast<size_t>(length));
  } else {
    va_list measure;
    va_copy(measure, again);
    length = _vscprintf(format, measure);
    va_end(measure);
    if (length > 0) {
      text.resize(static_cast<size_t>(length));
      // Exactly the text's length: _vsnprintf leaves it unterminated, the string ends it.
      if (_vsnprintf(&text[0], text.size(), format, again) != length) text.clear();
    }
  }
  va_end(again);
  va_end(args);
  return text;
}

}  // namespace VOQ
