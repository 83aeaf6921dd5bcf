// Resource tables: registration by module, lookup as FindResourceA names resources,
// and the string table readers.
#include "platform/resources.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_modules.h"
#include "platform/win_text.h"
#include "platform/win_threads.h"
#include "winerror.h"

namespace platform {
namespace {

// Constant-initialised: usable before any constructor of this module ran, and
// nothing to destroy.
std::mutex gRegistrationMutex;
ResourceTableRegistration* gRegistrations = nullptr;

// A resource name or type as the caller gave it.
struct Key {
  bool isNumber = true;
  uint32_t number = 0;
  std::string name;
};

Key keyOf(const char* text) {
  Key key;
  if (IS_INTRESOURCE(text)) {
    key.number = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text));
    return key;
  }
  if (text[0] == '#' && text[1]) {
    uint32_t n = 0;
    const char* p = text + 1;
    while (*p >= '0' && *p <= '9' && n <= 0xFFFF) n = n * 10 + static_cast<uint32_t>(*p++ - '0');
    if (!*p && n <= 0xFFFF) {
      key.number = n;
      return key;
    }
  }
  key.isNumber = false;
  key.name = text;
  for (char& c : key.name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

bool matches(const char* entryName, uint32_t entryNumber, const Key& key) {
  if (key.isNumber) return !entryName && entryNumber == key.number;
  return entryName && strcasecmp(entryName, key.name.c_str()) == 0;
}

bool contains(const ResourceTable* table, const ResourceEntry* entry) {
  if (!table || !entry || table->count == 0) return false;
  std::less<const ResourceEntry*> before;
  return !before(entry, table->entries) && before(entry, table->entries + table->count);
}

// The entry behind an HRSRC, checked to lie in the module's table.
const ResourceEntry* checkedEntry(HMODULE module, HRSRC handle) {
  DWORD error = 0;
  const ResourceTable* table = resourceTableOf(module, &error);
  const auto* entry = reinterpret_cast<const ResourceEntry*>(handle);
  if (!table || !contains(table, entry)) {
    SetLastError(table ? ERROR_INVALID_HANDLE : error);
    return nullptr;
  }
  return entry;
}

const unsigned char kEmpty[8] = {};

uint16_t readWord(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The UTF-16 text of string `id` (not terminated); false when it is missing or empty.
bool findString(HINSTANCE module, UINT id, const WCHAR** text, size_t* length) {
  const WORD number = LOWORD(id);
  DWORD error = 0;
  const ResourceEntry* block =
      findResourceEntry(module, MAKEINTRESOURCEA(kResourceString), MAKEINTRESOURCEA((number >> 4) + 1), &error);
  if (!block) {
    SetLastError(error);
    return false;
  }
  size_t offset = 0;
  for (unsigned index = 0; index < 16; ++index) {
    if (offset + 2 > block->size) break;
    const size_t count = readWord(block->data + offset);
    offset += 2;
    if (offset + 2 * count > block->size) break;
    if (index == (number & 15u)) {
      if (count == 0) break;
      *text = reinterpret_cast<const WCHAR*>(block->data + offset);
      *length = count;
      return true;
    }
    offset += 2 * count;
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

}  // namespace

ResourceTableRegistration::ResourceTableRegistration(const ResourceTable* table) : table_(table) {
  Dl_info info;
  struct link_map* map = nullptr;
  if (!table || table->magic != kResourceTableMagic ||
      !dladdr1(table, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
    return;
  }
  linkMap_ = map;
  std::lock_guard<std::mutex> lock(gRegistrationMutex);
  next_ = gRegistrations;
  gRegistrations = this;
  listed_ = true;
}

ResourceTableRegistration::~ResourceTableRegistration() {
  std::lock_guard<std::mutex> lock(gRegistrationMutex);
  if (!listed_) return;
  for (ResourceTableRegistration** p = &gRegistrations; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

const ResourceTable* registeredResourceTable(const void* linkMap) {
  std::lock_guard<std::mutex> lock(gRegistrationMutex);
  for (const ResourceTableRegistration* r = gRegistrations; r; r = r->next_) {
    if (r->linkMap_ == linkMap) return r->table_;
  }
  return nullptr;
}

const ResourceEntry* findResourceEntry(HMODULE module, const char* type, const char* name, DWORD* error) {
  DWORD ignored = 0;
  DWORD& err = error ? *error : ignored;
  const ResourceTable* table = resourceTableOf(module, &err);
  if (!table) return nullptr;
  const Key typeKey = keyOf(type);
  const Key nameKey = keyOf(name);
  bool typeSeen = false;
  for (uint32_t i = 0; i < table->count; ++i) {
    const ResourceEntry& e = table->entries[i];
    if (!matches(e.typeName, e.type, typeKey)) continue;
    typeSeen = true;
    if (matches(e.name, e.id, nameKey)) return &e;
  }
  err = typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
  return nullptr;
}

}  // namespace platform

extern "C" {

HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage) {
  DWORD error = 0;
  const platform::ResourceEntry* entry = platform::findResourceEntry(hModule, lpType, lpName, &error);
  if (!entry) {
    SetLastError(error);
    return nullptr;
  }
  if (wLanguage != 0 && entry->language != wLanguage) {
    // The first match is not in this language; look for one that is.
    const platform::ResourceTable* table = platform::resourceTableOf(hModule);
    const platform::ResourceEntry* end = table->entries + table->count;
    for (const platform::ResourceEntry* e = entry + 1; e != end; ++e) {
      if (e->language == wLanguage && e->type == entry->type && e->id == entry->id &&
          (e->typeName == nullptr) == (entry->typeName == nullptr) && (e->name == nullptr) == (entry->name == nullptr) &&
          (!e->typeName || strcasecmp(e->typeName, entry->typeName) == 0) &&
          (!e->name || strcasecmp(e->name, entry->name) == 0)) {
        return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry*>(e));
      }
    }
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry*>(entry));
}

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  return FindResourceExA(hModule, lpType, lpName, 0);
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  const platform::ResourceEntry* entry = platform::checkedEntry(hModule, hResInfo);
  if (!entry) return nullptr;
  return const_cast<unsigned char*>(entry->data ? entry->data : platform::kEmpty);
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  const platform::ResourceEntry* entry = platform::checkedEntry(hModule, hResInfo);
  return entry ? entry->size : 0;
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  if (!lpBuffer || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  lpBuffer[0] = '\0';
  const WCHAR* text = nullptr;
  size_t length = 0;
  if (!platform::findString(hInstance, uID, &text, &length)) return 0;
  const std::string utf8 = platform::toUtf8(text, length);
  size_t n = std::min(utf8.size(), static_cast<size_t>(cchBufferMax - 1));
  // Never end on half a character.
  while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
  std::memcpy(lpBuffer, utf8.data(), n);
  lpBuffer[n] = '\0';
  return static_cast<int>(n);
}

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  if (!lpBuffer || cchBufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const WCHAR* text = nullptr;
  size_t length = 0;
  if (cchBufferMax == 0) {
    if (!platform::findString(hInstance, uID, &text, &length)) return 0;
    std::memcpy(lpBuffer, &text, sizeof text);
    return static_cast<int>(length);
  }
  lpBuffer[0] = 0;
  if (!platform::findString(hInstance, uID, &text, &length)) return 0;
  size_t n = std::min(length, static_cast<size_t>(cchBufferMax - 1));
  if (n > 0 && n < length && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::memcpy(lpBuffer, text, n * sizeof(WCHAR));
  lpBuffer[n] = 0;
  return static_cast<int>(n);
}

}  // extern "C"
