// The card library's view of the plug-in's HKLM settings: the values below the
// product key SOFTWARE\VOQ. VUV-Oredaridez GmbH\Tolmira, found by sub-key and name.
#pragma once

#include <optional>
#include <string>

#include <windows.h>

namespace cardvariant {

constexpr const char* kProductKey = "SOFTWARE\\VOQ. VUV-Oredaridez GmbH\\Tolmira";

// One value: its registry type and exactly the bytes stored.
class Setting {
 public:
  Setting(DWORD type, std::string data) : m_type(type), m_data(std::move(data)) {}
  DWORD getType() const { return m_type; }
  // The text of a REG_SZ, ended at its first zero byte or at the end of the data
  // (a value may be stored without terminator); NULL for other types.
  const char* getString() const;
  // The first four bytes, least significant first; missing bytes count as 0.
  DWORD getDword() const;
  DWORD getSize() const { return static_cast<DWORD>(m_data.size()); }

 private:
  DWORD m_type;
  std::string m_data;
  mutable std::string m_text;
};

// The value of the product key itself (subKey NULL or empty) or of a sub-key;
// none when it does not exist.
std::optional<Setting> findSetting(const char* subKey, const char* valueName);

// The REG_SZ text of a value, none for a missing value or another type.
std::optional<std::string> findText(const char* subKey, const char* valueName);

}  // namespace cardvariant
