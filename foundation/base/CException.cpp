#include "foundation/base/CException.h"

#include <cstdio>

#include <windows.h>

namespace VOQ {

CException::CException(const char* where, const char* message) : m_type("generic Exception") {
  if (where != nullptr && message != nullptr) {
    m_message = message;
    m_where = where;
  }
}

int CException::showDebugMessage() const {
  const std::string text = m_where + " wirft eine " + m_type + " aus.\nGrund: " + m_message;
  return MessageBoxA(nullptr, text.c_str(), "DEBUG", MB_TASKMODAL | MB_ICONWARNING);
}

CMemoryException::CMemoryException(const char* where, const char* message)
    : CException(where, message) {
  setType("Memory Exception");
}

CNoSuchObjectException::CNoSuchObjectException(const char* where, const char* message)
    : CException(where, message) {
  setType("No Such Object Exception");
}

CBadArgumentException::CBadArgumentException(const char* where, const char* message)
    : CException(where, message) {
  setType("Bad Argument Exception");
}

CAssertException::CAssertException(const char* where, const char* message)
    : CException(where, message) {
  setType("Assert Exception");
}

std::string formatMessage(const char* format, const char* name) {
  if (format == nullptr) return std::string();
  char buffer[kMessageBufferSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int written = std::snprintf(buffer, sizeof buffer, format, name != nullptr ? name : "(null)");
#pragma GCC diagnostic pop
  if (written < 0) return std::string();
  return std::string(buffer);
}

}  // namespace VOQ
