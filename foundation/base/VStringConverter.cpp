#include "foundation/base/VStringConverter.h"

#include <cstdlib>
#include <cwchar>

VStringConverter::VStringConverter(const char* narrow) : m_narrow(narrow) {}

VStringConverter::VStringConverter(const wchar_t* wide) : m_wide(wide), m_fromWide(true) {}

VStringConverter::~VStringConverter() {
  // Only the text made here is ours; the given texts belong to the caller.
  std::free(m_converted);
}

const char* VStringConverter::getNarrow() {
  if (m_narrow == nullptr && m_fromWide && m_wide != nullptr && *m_wide != L'\0') {
    // A wide character can take several narrow bytes (UTF-8), so measure first
    // rather than guess a size that could leave the text without terminator.
    std::size_t needed = std::wcstombs(nullptr, m_wide, 0);
    if (needed == static_cast<std::size_t>(-1)) return nullptr;
    char* narrow = static_cast<char*>(std::malloc(needed + 1));
    if (narrow == nullptr) return nullptr;
    std::wcstombs(narrow, m_wide, needed + 1);
    narrow[needed] = '\0';
    m_converted = narrow;
    m_narrow = narrow;
  }
  return m_narrow;
}
