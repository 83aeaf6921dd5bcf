// The registry's wide forms: names and text data go through UTF-8, the form the hives
// store, so that the ANSI and the wide calls read what either wrote.
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

namespace {

bool isText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A name, or NULL for NULL.
struct Narrow {
  explicit Narrow(LPCWSTR wide) : null(wide == nullptr), text(platform::toUtf8(wide)) {}
  LPCSTR get() const { return null ? nullptr : text.c_str(); }
  bool null;
  std::string text;
};

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  return RegOpenKeyExA(key, Narrow(subKey).get(), options, desired, result);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                               REGSAM desired, const LPSECURITY_ATTRIBUTES security, PHKEY result,
                               LPDWORD disposition) {
  Narrow narrowClass(keyClass);
  return RegCreateKeyExA(key, Narrow(subKey).get(), reserved, const_cast<LPSTR>(narrowClass.get()), options,
                         desired, security, result, disposition);
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (!isText(type) || data == nullptr) return RegSetValueExA(key, Narrow(name).get(), reserved, type, data, size);
  std::u16string wide(size / sizeof(WCHAR), u'\0');
  std::memcpy(wide.data(), data, wide.size() * sizeof(WCHAR));
  const std::string narrow = platform::toUtf8(wide);
  return RegSetValueExA(key, Narrow(name).get(), reserved, type, reinterpret_cast<const BYTE*>(narrow.data()),
                        static_cast<DWORD>(narrow.size()));
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD typeOut, LPBYTE data,
                                LPDWORD size) {
  const Narrow narrowName(name);
  DWORD type = 0;
  DWORD narrowSize = 0;
  LSTATUS status = RegQueryValueExA(key, narrowName.get(), reserved, &type, nullptr, &narrowSize);
  if (status != ERROR_SUCCESS) return status;
  std::vector<BYTE> narrow(narrowSize);
  status = RegQueryValueExA(key, narrowName.get(), reserved, &type, narrow.data(), &narrowSize);
  if (status != ERROR_SUCCESS) return status;
  narrow.resize(narrowSize);
  if (typeOut) *typeOut = type;
  std::vector<BYTE> value = narrow;
  if (isText(type)) {
    const std::u16string wide =
        platform::toUtf16(std::string(reinterpret_cast<const char*>(narrow.data()), narrow.size()));
    value.assign(reinterpret_cast<const BYTE*>(wide.data()),
                 reinterpret_cast<const BYTE*>(wide.data()) + wide.size() * sizeof(WCHAR));
  }
  if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  const DWORD room = *size;
  *size = static_cast<DWORD>(value.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (room < value.size()) return ERROR_MORE_DATA;
  std::memcpy(data, value.data(), value.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) { return RegDeleteValueA(key, Narrow(name).get()); }

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return RegDeleteKeyA(key, Narrow(subKey).get()); }

LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey) { return RegDeleteTreeA(key, Narrow(subKey).get()); }

}  // extern "C"
