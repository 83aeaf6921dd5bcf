#include "foundation/core/CReport.h"

#include "foundation/base/CException.h"

#include <windows.h>

#include "platform/format.h"
#include "platform/machine.h"

#include <algorithm>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;

}  // namespace

CReport::CReport(const char* fileName) {
  if (fileName == nullptr) return;
  try {
    m_fileName = fileName;
  } catch (const std::bad_alloc&) {
    throw VOQ::CMemoryException("CReport::CReport", "Kein Speicher frei.\n");
  }
  const std::string path = platform::mapPath(fileName);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::FILE* stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    if (fd >= 0) ::close(fd);
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
  if (m_stream == nullptr) return;
  m_indent.push_back(m_indent.back() + n);
}

void CReport::popIndent() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream == nullptr) return;
  if (m_indent.size() >= 2) m_indent.pop_back();
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

void CReport::putPassed(char c) {
  if (m_atLineStart) {
    m_atLineStart = false;
    // The indentation is counted twice for the wrap: the column starts at k and
    // each blank adds one. With k capped, the blanks never reach the wrap.
    const int k = currentIndent();
    m_column = k;
    for (int i = 0; i < k; ++i) emit(' ');
  }
  emit(c);
}

void CReport::putChar(int level, char c) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (passes(level)) putPassed(c);
}

void CReport::write(int level, const char* text) {
  if (text == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (!passes(level)) return;
  for (const char* p = text; *p != '\0'; ++p) putPassed(*p);
}

void CReport::write(int level, const char* bytes, int n) {
  if (bytes == nullptr || n < 1) return;
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (!passes(level)) return;
  for (int i = 0; i < n; ++i) putPassed(bytes[i]);
}

void CReport::writeHex(int level, int value) {
  char text[16];
  _snprintf_s(text, sizeof text, _TRUNCATE, "%X", static_cast<unsigned int>(value));
  write(level, text);
}

void CReport::writePointer(int level, const void* pointer) {
  if (pointer == nullptr) return;
  char text[32];
  _snprintf_s(text, sizeof text, _TRUNCATE, "%p", pointer);
  write(level, text);
}

void CReport::flush() {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  if (m_stream != nullptr) std::fflush(m_stream);
}
