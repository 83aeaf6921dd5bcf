#include "foundation/core/VRegistry.h"

#include "foundation/base/ApplicationIdentity.h"

#include <cstring>

VRegistry::~VRegistry() { close(); }

void VRegistry::close() {
  if (m_key != nullptr) {
    RegCloseKey(m_key);
    m_key = nullptr;
  }
}

bool VRegistry::open(const char* company, const char* product, HKEY root, REGSAM access) {
  if (company == nullptr) return false;
  if (product == nullptr) product = applicationIdentity().titleText();
  if (product == nullptr) return false;

  VString path("Software\\");
  path.append(company);
  path.append("\\");
  path.append(product);
  if (path.getErrorCount() != 0) return false;

  if (m_key != nullptr || root == nullptr) return false;
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.getText(), 0, nullptr, 0, access, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  m_key = key;
  return true;
}

DWORD VRegistry::queryDWORD(const char* name, DWORD defaultValue) {
  if (m_key == nullptr || name == nullptr) return defaultValue;
  BYTE data[sizeof(DWORD)] = {0, 0, 0, 0};
  DWORD type = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(m_key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return defaultValue;
  // Registry data are little-endian, as is this machine.
  DWORD value = 0;
  std::memcpy(&value, data, sizeof value);
  return value;
}

char* VRegistry::queryString(const char* name, VString& target) {
  if (m_key == nullptr) return nullptr;
  // One byte more than the longest value, so that a text stored without its
  // terminator still ends inside the buffer.
  char data[kMaxStringBytes + 1];
  DWORD type = 0;
  DWORD size = kMaxStringBytes;
  if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
    return nullptr;
  data[size <= kMaxStringBytes ? size : kMaxStringBytes] = '\0';
  return target.assign(data);
}
