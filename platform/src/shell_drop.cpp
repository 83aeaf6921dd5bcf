// HDROP: the shell's list of selected or dropped files in global memory, read with
// DragQueryFile in either width.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <shellapi.h>
#include <windows.h>

namespace {

// The names of the list, as UTF-16 (a narrow list is read as the ANSI code page).
// false when the block is no HDROP: too small, an offset outside it, or a list that
// is not terminated inside it.
bool readNames(HDROP drop, std::vector<std::u16string>* names) {
  HGLOBAL memory = reinterpret_cast<HGLOBAL>(drop);
  const SIZE_T size = GlobalSize(memory);
  if (size < sizeof(DROPFILES)) return false;
  const auto* base = static_cast<const unsigned char*>(GlobalLock(memory));
  if (base == nullptr) return false;
  DROPFILES header;
  std::memcpy(&header, base, sizeof header);
  bool ok = header.pFiles >= sizeof(DROPFILES) && header.pFiles <= size;
  size_t at = header.pFiles;
  while (ok) {
    if (header.fWide) {
      std::u16string name;
      for (;;) {
        if (at + 2 > size) {
          ok = false;
          break;
        }
        char16_t c;
        std::memcpy(&c, base + at, 2);
        at += 2;
        if (c == 0) break;
        name.push_back(c);
      }
      if (!ok || name.empty()) break;
      names->push_back(name);
    } else {
      const void* end = std::memchr(base + at, 0, size - at);
      if (end == nullptr) {
        ok = false;
        break;
      }
      const size_t length = static_cast<const unsigned char*>(end) - (base + at);
      if (length == 0) break;
      const int wide = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(base + at),
                                           static_cast<int>(length), nullptr, 0);
      std::u16string name(static_cast<size_t>(wide), u'\0');
      MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(base + at), static_cast<int>(length), name.data(),
                          wide);
      names->push_back(name);
      at += length + 1;
    }
  }
  GlobalUnlock(memory);
  return ok;
}

}  // namespace

extern "C" {

UINT WINAPI DragQueryFileW(HDROP drop, UINT file, LPWSTR buffer, UINT cch) {
  std::vector<std::u16string> names;
  if (!readNames(drop, &names)) return 0;
  if (file == 0xFFFFFFFFu) return static_cast<UINT>(names.size());
  if (file >= names.size()) return 0;
  const std::u16string& name = names[file];
  if (buffer == nullptr) return static_cast<UINT>(name.size());
  if (cch == 0) return 0;
  const size_t n = std::min<size_t>(name.size(), cch - 1);
  std::memcpy(buffer, name.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return static_cast<UINT>(n);
}

UINT WINAPI DragQueryFileA(HDROP drop, UINT file, LPSTR buffer, UINT cch) {
  std::vector<std::u16string> names;
  if (!readNames(drop, &names)) return 0;
  if (file == 0xFFFFFFFFu) return static_cast<UINT>(names.size());
  if (file >= names.size()) return 0;
  // To the ANSI code page; a UTF-16 unit without a mapping (a lone surrogate) gives '?'.
  std::string name;
  const std::u16string& wide = names[file];
  if (!wide.empty()) {
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    name.resize(static_cast<size_t>(length));
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), name.data(), length, nullptr,
                        nullptr);
  }
  if (buffer == nullptr) return static_cast<UINT>(name.size());
  if (cch == 0) return 0;
  size_t n = std::min<size_t>(name.size(), cch - 1);
  // Never half a character: step back to the start of a UTF-8 sequence.
  if (n < name.size())
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, name.data(), n);
  buffer[n] = 0;
  return static_cast<UINT>(n);
}

}  // extern "C"
