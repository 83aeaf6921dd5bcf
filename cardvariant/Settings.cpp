#include "cardvariant/Settings.h"

#include <cstring>
#include <vector>

namespace cardvariant {

const char* Setting::getString() const {
  if (m_type != REG_SZ) return nullptr;
  m_text.assign(m_data.c_str(), strnlen(m_data.data(), m_data.size()));
  return m_text.c_str();
}

DWORD Setting::getDword() const {
  DWORD value = 0;
  for (size_t i = 0; i < 4 && i < m_data.size(); ++i) value |= static_cast<DWORD>(static_cast<unsigned char>(m_data[i])) << (8 * i);
  return value;
}

std::optional<Setting> findSetting(const char* subKey, const char* valueName) {
  if (valueName == nullptr) return std::nullopt;
  std::string path = kProductKey;
  if (subKey != nullptr && *subKey != '\0') path += std::string("\\") + subKey;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  std::optional<Setting> found;
  if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<BYTE> data(size + 1);
    if (RegQueryValueExA(key, valueName, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
      found.emplace(type, std::string(reinterpret_cast<const char*>(data.data()), size));
  }
  RegCloseKey(key);
  return found;
}

std::optional<std::string> findText(const char* subKey, const char* valueName) {
  std::optional<Setting> value = findSetting(subKey, valueName);
  if (!value || value->getType() != REG_SZ) return std::nullopt;
  return std::string(value->getString());
}

}  // namespace cardvariant
