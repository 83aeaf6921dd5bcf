#include "foundation/core/CReport.h"

#include "foundation/base/CException.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

CReport::CReport(const char* fileName) {
  if (fileName == nullptr) return;
  try {
    m_fileName = fileName;
  } catch (const std::bad_alloc&) {
    throw VOQ::CMemoryException("CReport::CReport", "Kein Speicher frei.\n");
  }
  // Shared, so that the log can be read while it is written; "N": programs this one
  // starts do not inherit it.
  std::FILE* stream = _fsopen(fileName, "wbN", _SH_DENYNO);
  if (stream == nullptr) {
    throw VOQ::CNoSuchObjectException("CReport::CReport",
                                      VOQ::formatMessage("Datei: %s kann nicht geöffnet werden.\n", fileName).c_str());
  }
  std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
  m_stream = stream;
}

CReport::~CReport() {
  close();
  m_indent.clear();
}

void CReport::close() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream != nullptr) {
    std::fclose(m_stream);
    m_stream = nullptr;
  }
}

int CReport::setLevel(int level) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  const int previous = m_level;
  if (m_stream != nullptr) m_level = level;
  return previous;
}

void CReport::pushIndent(int n) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  push(n);
}

void CReport::popIndent() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  pop();
}

void CReport::write(int level, const char* text) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  writeText(level, text);
}

void CReport::write(int level, const char* bytes, int n) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  writeBytes(level, bytes, n);
}

void CReport::writeHex(int level, int value) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  writeHexValue(level, value);
}

void CReport::writePointer(int level, const void* pointer) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  writePointerValue(level, pointer);
}

void CReport::flush() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  flushStream();
}

void CReport::push(int n) {
  if (m_stream != nullptr) m_indent.push_back(m_indent.back() + n);
}

void CReport::pop() {
  if (m_stream != nullptr && m_indent.size() >= 2) m_indent.pop_back();
}

void CReport::flushStream() {
  if (m_stream != nullptr) std::fflush(m_stream);
}

int CReport::currentIndent() const { return std::min(m_indent.back(), kMaxIndent); }

// Steps 3 to 5 of a character that passed the filter.
void CReport::emit(char c) {
  putc_unlocked(c, m_stream);
  if (c == '\n') {
    m_column = 0;
    m_atLineStart = true;
    return;
  }
  if (++m_column >= kWrapColumn) {
    putc_unlocked('\n', m_stream);
    m_column = 0;
    m_atLineStart = true;
  }
}

void CReport::startLine() {
  m_atLineStart = false;
  // The indentation is counted twice for the wrap: the column starts at k and
  // each blank adds one. With k capped, the blanks never reach the wrap.
  const int k = currentIndent();
  char blanks[kMaxIndent];
  std::memset(blanks, ' ', sizeof blanks);
  m_column = 2 * k;
  fwrite_unlocked(blanks, 1, static_cast<size_t>(k), m_stream);
}

// The same as putting each byte through putChar, a run at a time: a run ends at a
// line feed or where the wrap forces one.
void CReport::putRun(const char* bytes, size_t n) {
  while (n > 0) {
    if (m_atLineStart) startLine();
    size_t take = std::min(n, static_cast<size_t>(kWrapColumn - m_column));
    if (const void* lineEnd = std::memchr(bytes, '\n', take))
      take = static_cast<size_t>(static_cast<const char*>(lineEnd) - bytes) + 1;
    fwrite_unlocked(bytes, 1, take, m_stream);
    if (bytes[take - 1] == '\n') {
      m_column = 0;
      m_atLineStart = true;
    } else if ((m_column += static_cast<int>(take)) >= kWrapColumn) {
      putc_unlocked('\n', m_stream);
      m_column = 0;
      m_atLineStart = true;
    }
    bytes += take;
    n -= take;
  }
}

void CReport::putChar(int level, char c) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (!passes(level)) return;
  if (m_atLineStart) startLine();
  emit(c);
}

void CReport::writeText(int level, const char* text) {
  if (text != nullptr && passes(level)) putRun(text, std::strlen(text));
}

void CReport::writeBytes(int level, const char* bytes, int n) {
  if (bytes != nullptr && n >= 1 && passes(level)) putRun(bytes, static_cast<size_t>(n));
}

// Both number forms are those of the Windows runtime ("%X"; "%p": upper-case,
// zero-padded to the pointer width). Made here, not by the formatter, because
// every trace line prints an address.
void CReport::writeHexValue(int level, int value) {
  char text[2 * sizeof(unsigned int)];
  unsigned int v = static_cast<unsigned int>(value);
  size_t at = sizeof text;
  do {
    text[--at] = kHexDigits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  writeBytes(level, text + at, static_cast<int>(sizeof text - at));
}

void CReport::writePointerValue(int level, const void* pointer) {
  if (pointer == nullptr) return;
  char text[2 * sizeof(uintptr_t)];
  uintptr_t v = reinterpret_cast<uintptr_t>(pointer);
  for (size_t at = sizeof text; at > 0; v >>= 4) text[--at] = kHexDigits[v & 0xF];
  writeBytes(level, text, static_cast<int>(sizeof text));
}

