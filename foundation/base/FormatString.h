// A whole printf-style text, formatted by the Windows C runtime (its %p, %ls, %I64d ...),
// for trace texts and messages of any length.
#pragma once

#include <string>

namespace VOQ {

// An empty text when the format is NULL or the runtime refuses it.
std::string formatString(const char* format, ...);

}  // namespace VOQ
