#include "cardvariant/CReport.h"

#include <windows.h>

namespace cardvariant {

CReport::CReport(const char* fileName) : m_indent{0} {
  if (fileName == nullptr) return;
  m_stream = std::fopen(fileName, "wb");
  if (m_stream != nullptr) m_fileName = fileName;
}

CReport::CReport(const char* fileName, std::FILE* stream, int baseIndent)
    : m_column(baseIndent), m_indent{baseIndent}, m_ownsStream(false) {
  if (stream != nullptr && fileName != nullptr) {
    m_fileName = fileName;
    m_stream = stream;
  }
}

CReport::~CReport() {
  if (m_stream == nullptr) return;
  std::fflush(m_stream);
  if (m_ownsStream) std::fclose(m_stream);
}

int CReport::setLevel(int level) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  const int previous = m_level;
  if (m_stream != nullptr) m_level = level;
  return previous;
}

void CReport::pushIndent(int n) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream != nullptr) m_indent.push_back(m_indent.back() + n);
}

void CReport::popIndent() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream != nullptr && m_indent.size() > 1) m_indent.pop_back();
}

void CReport::putChar(int level, char c) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream == nullptr || level > m_level) return;
  if (m_atLineStart) {
    m_atLineStart = false;
    // The blanks count towards the wrap; a line keeps room for one character, so
    // that an indentation grown past the wrap column cannot wrap for ever.
    m_column = m_indent.back() < kWrapColumn - 1 ? m_indent.back() : kWrapColumn - 1;
    for (int i = 0; i < m_column; ++i) std::fputc(' ', m_stream);
  }
  std::fputc(c, m_stream);
  if (c == '\n') {
    m_atLineStart = true;
    m_column = 0;
  } else if (++m_column >= kWrapColumn) {
    putChar(level, '\n');
  }
}

void CReport::write(int level, const char* bytes, int count) {
  if (bytes == nullptr || count < 0) return;
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  for (int i = 0; i < count; ++i) putChar(level, bytes[i]);
}

void CReport::write(int level, const char* text) {
  if (text == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  for (const char* p = text; *p != '\0'; ++p) putChar(level, *p);
}

void CReport::write(int level, const std::string& text) { write(level, text.c_str()); }

void CReport::writeHex(int level, int value) { writeHex(level, static_cast<unsigned>(value)); }

void CReport::writeHex(int level, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  write(level, text);
}

// The Windows runtime's form, as the program's own report writes it: every digit of
// the pointer width in upper case, no prefix (the lines put "0x" before it).
void CReport::writePointer(int level, const void* pointer) {
  if (pointer == nullptr) return;
  char text[32];
  _snprintf(text, sizeof text, "%p", pointer);
  write(level, text);
}

void CReport::flush() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream != nullptr) std::fflush(m_stream);
}

}  // namespace cardvariant
