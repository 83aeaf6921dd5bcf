// Small helpers shared by the stream, XML and base64 tests.
#pragma once

#include <string>

#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_String.h"

inline VOQ_String voqString(const std::string& bytes) {
  return VOQ_String(static_cast<unsigned int>(bytes.size()), bytes.data());
}

inline std::string stdString(const VOQ_String& s) {
  return s.getData() == nullptr ? std::string() : std::string(s.getData(), s.getLength());
}

// The message of the VOQ_StreamException that f throws.
template <class F>
std::string streamErrorOf(F f) {
  try {
    f();
  } catch (const VOQ_StreamException& e) {
    return e.getMessage();
  }
  return "(nothing thrown)";
}
