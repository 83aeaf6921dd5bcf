// Hands out a narrow text, either the one given or one converted from wide text
// in the current locale.
#pragma once

#include <cstddef>

class VStringConverter {
 public:
  // Not owned; handed out as it is.
  explicit VStringConverter(const char* narrow);
  // Not owned; the narrow text made from it is.
  explicit VStringConverter(const wchar_t* wide);
  virtual ~VStringConverter();
  VStringConverter(const VStringConverter&) = delete;
  VStringConverter& operator=(const VStringConverter&) = delete;

  // The narrow text; NULL when there is none or the wide text cannot be
  // converted in the current locale.
  const char* getNarrow();

 private:
  const wchar_t* m_wide = nullptr;
  const char* m_narrow = nullptr;
  bool m_fromWide = false;
  char* m_converted = nullptr;  // the narrow text made from m_wide
};
