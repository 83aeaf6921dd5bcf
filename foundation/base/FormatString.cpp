#include "foundation/base/FormatString.h"

#include <windows.h>

#include <cstdarg>

namespace VOQ {

std::string formatString(const char* format, ...) {
  std::string text;
  if (format == nullptr) return text;
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = _vscprintf(format, measure);
  va_end(measure);
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    // Exactly the text's length: _vsnprintf leaves it unterminated, the string ends it.
    if (_vsnprintf(&text[0], text.size(), format, args) != length) text.clear();
  }
  va_end(args);
  return text;
}

}  // namespace VOQ
