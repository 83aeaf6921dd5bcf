// Version information: the module's RT_VERSION resource (a VS_VERSIONINFO tree of
// UTF-16 nodes), copied for the caller; VerQueryValueA walks the tree and keeps the
// UTF-8 copies of texts in the buffer's second part, as the ANSI functions do.
#include <cctype>
#include <cstring>
#include <string>

#include "platform/win_text.h"
#include "windows.h"

namespace {

uint16_t wordAt(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// The room after the tree for UTF-8 copies: a UTF-16 unit becomes at most 3 bytes.
size_t textArea(size_t treeSize) { return treeSize * 3 / 2 + 4; }

struct Node {
  size_t start = 0, end = 0;  // in the tree
  uint16_t valueLength = 0, type = 0;
  std::u16string key;
  size_t value = 0, children = 0;
};

bool readNode(const unsigned char* tree, size_t limit, size_t at, Node& node) {
  if (at + 6 > limit) return false;
  uint16_t length = wordAt(tree + at);
  if (length < 6 || at + length > limit) return false;
  node.start = at;
  node.end = at + length;
  node.valueLength = wordAt(tree + at + 2);
  node.type = wordAt(tree + at + 4);
  node.key.clear();
  size_t p = at + 6;
  for (; p + 2 <= node.end; p += 2) {
    uint16_t c = wordAt(tree + p);
    if (c == 0) break;
    node.key.push_back(static_cast<char16_t>(c));
  }
  if (p + 2 > node.end) return false;
  node.value = align4(p + 2);
  size_t valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
  if (node.value + valueBytes > node.end) return false;
  node.children = align4(node.value + valueBytes);
  return true;
}

bool sameName(const std::u16string& key, const std::string& wanted) {
  std::string k = platform::toUtf8(key);
  if (k.size() != wanted.size()) return false;
  for (size_t i = 0; i < k.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(k[i])) != std::tolower(static_cast<unsigned char>(wanted[i]))) {
      return false;
    }
  }
  return true;
}

// The module of a file name and whether it was loaded here for its resources.
HMODULE moduleFor(LPCSTR name, bool& loadedHere) {
  loadedHere = false;
  if (name == nullptr) return nullptr;
  HMODULE module = GetModuleHandleA(name);
  if (module == nullptr) {
    module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    loadedHere = module != nullptr;
  }
  return module;
}

// The version resource's bytes, or none with the error set.
bool versionResource(LPCSTR name, std::string& bytes) {
  bool loadedHere = false;
  HMODULE module = moduleFor(name, loadedHere);
  if (module == nullptr) return false;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_VERSION);
  bool ok = found != nullptr;
  if (ok) {
    const void* data = LockResource(LoadResource(module, found));
    bytes.assign(static_cast<const char*>(data), SizeofResource(module, found));
  }
  DWORD error = GetLastError();
  if (loadedHere) FreeLibrary(module);
  SetLastError(error);
  return ok;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  std::string bytes;
  if (!versionResource(lptstrFilename, bytes)) return 0;
  return static_cast<DWORD>(bytes.size() + textArea(bytes.size()));
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen, LPVOID lpData) {
  std::string bytes;
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!versionResource(lptstrFilename, bytes)) return FALSE;
  if (dwLen < bytes.size() + textArea(bytes.size())) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(lpData, bytes.data(), bytes.size());
  std::memset(static_cast<char*>(lpData) + bytes.size(), 0, dwLen - bytes.size());
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) return FALSE;
  auto* tree = static_cast<unsigned char*>(const_cast<void*>(pBlock));
  size_t treeSize = wordAt(tree);
  Node node;
  if (!readNode(tree, treeSize, 0, node)) return FALSE;
  std::string path = lpSubBlock;
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    Node child;
    bool found = false;
    for (size_t c = node.children; c < node.end && readNode(tree, node.end, c, child); c = align4(child.end)) {
      if (sameName(child.key, part)) {
        found = true;
        break;
      }
    }
    if (!found) return FALSE;
    node = child;
  }
  if (node.type == 1) {
    std::u16string value;
    for (uint16_t i = 0; i < node.valueLength; ++i) {
      uint16_t c = wordAt(tree + node.value + 2u * i);
      if (c == 0) break;
      value.push_back(static_cast<char16_t>(c));
    }
    std::string utf8 = platform::toUtf8(value);
    char* copy = reinterpret_cast<char*>(tree) + treeSize + node.value * 3 / 2;
    std::memcpy(copy, utf8.c_str(), utf8.size() + 1);
    *lplpBuffer = copy;
    if (puLen) *puLen = static_cast<UINT>(utf8.size() + 1);
  } else {
    *lplpBuffer = tree + node.value;
    if (puLen) *puLen = node.valueLength;
  }
  return TRUE;
}

}  // extern "C"
