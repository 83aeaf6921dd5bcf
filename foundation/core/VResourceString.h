// A text from a module's string table.
#pragma once

#include "foundation/base/VMemoryBlock.h"

#include <windows.h>

class VResourceString {
 public:
  VResourceString() = default;
  virtual ~VResourceString() = default;
  VResourceString(const VResourceString&) = delete;
  VResourceString& operator=(const VResourceString&) = delete;

  // Loads string id from module (NULL: the application's resource module) and
  // returns it; NULL for id 0, a missing or empty string, or no module.
  const char* load(UINT id, HINSTANCE module = nullptr);
  // The text loaded last; NULL when the last load failed.
  const char* getText() const { return static_cast<const char*>(m_text.getPointer()); }

 private:
  VMemoryBlock m_text;
};
