// One open registry key, "Software\<company>\<product>", with typed value reads.
#pragma once

#include "foundation/base/VString.h"

#include <windows.h>

class VRegistry {
 public:
  // The longest text value queryString reads.
  static constexpr DWORD kMaxStringBytes = 1024;

  VRegistry() = default;
  // Closes the key.
  virtual ~VRegistry();
  VRegistry(const VRegistry&) = delete;
  VRegistry& operator=(const VRegistry&) = delete;

  // Opens, or creates with its missing levels, root\Software\company\product;
  // product NULL means the application's name. False for a NULL company, no
  // product name, root 0, a key already held by this object, or a refused open.
  bool open(const char* company, const char* product, HKEY root, REGSAM access);
  // The first four bytes of the value, whatever its type (a shorter value is
  // zero-filled); defaultValue when there is no key, no name or no value.
  DWORD queryDWORD(const char* name, DWORD defaultValue);
  // Assigns the value's text (up to kMaxStringBytes, ending at its first NUL) to
  // target and returns target's buffer; NULL without key, for a missing or longer
  // value, and for an empty text.
  char* queryString(const char* name, VString& target);

  HKEY getKey() const { return m_key; }
  void close();

 private:
  HKEY m_key = nullptr;
};
