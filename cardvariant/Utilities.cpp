// The library takes RSA keys as the plug-in holds them: the RSA calls are the interface.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "cardvariant/Utilities.h"

#include <cstring>
#include <memory>
#include <vector>

#include <openssl/rand.h>
#include <openssl/rsa.h>

#include "cardvariant/CLogable.h"
#include "cardvariant/Settings.h"
#include "certcheck/VOQ_Configuration.h"
#include "foundation/archive/SignedArchive.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

constexpr int kOwnPadding = 5;

struct BlobFree {
  void operator()(Blob* blob) const { freeBlob(blob); }
};
using BlobPtr = std::unique_ptr<Blob, BlobFree>;

Blob blobOf(const std::string& bytes) {
  return Blob{static_cast<uint32_t>(bytes.size()), reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()))};
}

bool version(DWORD platformId, DWORD major, DWORD minor) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == platformId && info.dwMajorVersion == major &&
         info.dwMinorVersion == minor;
}

}  // namespace

std::string breakString(const std::string& text, int group, char separator, char line) {
  if (group <= 0) throw VOQ::CBadArgumentException("breakString", "Invalid size.\n");
  return breakString(text, group, std::string(1, separator).c_str(), std::string(1, line).c_str());
}

std::string breakString(const std::string& text, int group, const char* separator, const char* line) {
  if (separator == nullptr || line == nullptr)
    throw VOQ::CBadArgumentException("breakString", "Einer der Separatoren ist ungültig.\n");
  if (group <= 0) throw VOQ::CBadArgumentException("breakString", "Invalid size.\n");
  std::string out;
  for (size_t k = 1; k <= text.size(); ++k) {
    out += text[k - 1];
    if (k % static_cast<size_t>(group) == 0) out += line;
    else if (k % 2 == 0) out += separator;
  }
  return out;
}

int bytesToBase64(const std::string& bytes, std::string& text) {
  if (bytes.empty()) return 0;
  BlobPtr encoded(base64Encode(blobOf(bytes)));
  if (!encoded) return 0;
  text.assign(reinterpret_cast<const char*>(encoded->data), encoded->length);
  return 1;
}

int base64ToBytes(const std::string& text, std::string& bytes) {
  BlobPtr decoded(base64Decode(blobOf(text)));
  if (!decoded) return 0;
  bytes.assign(reinterpret_cast<const char*>(decoded->data), decoded->length);
  return 1;
}

int readInstallDir(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const VOQ_ConfigurationEntry* value = findSetting(nullptr, "InstallDir");
  if (value == nullptr || value->getType() != REG_SZ || value->getString() == nullptr) return 0;
  // A stored text may lack its terminating zero: the copy ends it in every case.
  const std::string text = value->getString();
  if (value->getSize() >= static_cast<DWORD>(size) || text.size() >= static_cast<size_t>(size)) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 1;
}

HICON loadIconFile(const char* name) {
  if (name == nullptr) return nullptr;
  char directory[512];
  if (!readInstallDir(directory, sizeof directory)) return nullptr;
  const std::string path = std::string(directory) + "\\" + name + ".ico";
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
  HICON large = nullptr;
  HICON small = nullptr;
  if (ExtractIconExA(path.c_str(), 0, &large, &small, 1) != 1) {
    if (large) DestroyIcon(large);
    if (small) DestroyIcon(small);
    return nullptr;
  }
  if (large) DestroyIcon(large);
  return small;
}

int getWindowHandle() {
  const auto failed = [](const char* text) { logMessage(VOQ::formatString(text, GetLastError()).c_str(), 4, 0); };
  HWINSTA station = OpenWindowStationA("WinSta0", FALSE, MAXIMUM_ALLOWED);
  if (station == nullptr) {
    failed("getWindowHandle: OpenWindowStation failed: 0x%x.\n");
  } else if (!SetProcessWindowStation(station)) {
    failed("getWindowHandle: SetProcessWindowStation failed: 0x%x.\n");
  } else {
    HDESK desktop = OpenDesktopA("Default", 0, FALSE, MAXIMUM_ALLOWED);
    if (desktop == nullptr) failed("getWindowHandle: OpenDesktop failed: 0x%x.\n");
    else if (!SetThreadDesktop(desktop)) failed("getWindowHandle: SetThreadDesktop failed: 0x%x.\n");
  }
  return 0;
}

int isNetscape() {
  char name[256];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
  if (length == 0 || length >= sizeof name) return 0;
  name[length] = '\0';
  logMessage(VOQ::formatString("isNetscape: Module Filename: %s.\n", name).c_str(), 0, 0);
  return std::strstr(name, "mozilla.exe") != nullptr || std::strstr(name, "netscape") != nullptr ? 1 : 0;
}

int isWindowsNT4() { return version(VER_PLATFORM_WIN32_NT, 4, 0); }
int isWindows2000() { return version(VER_PLATFORM_WIN32_NT, 5, 0); }
int isWindowsXP() { return version(VER_PLATFORM_WIN32_NT, 5, 1); }
int isWindowsMe() { return version(VER_PLATFORM_WIN32_WINDOWS, 4, 90); }

int isWindows95or98() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMajorVersion == 4 &&
         info.dwMinorVersion != 90;
}

int isAllowedCharacter(unsigned char c) {
  // The letters, digits and marks of names on cards. The bytes are those of code
  // page 1252, the cards' own: ö ü ä ß and Ä Ü Ö are one byte each there (the
  // source's UTF-8 would give their two-byte forms and let a stray lead byte pass).
  static const char kAllowed[] =
      "abcdefghijklmnopqrstuvwxyz" "\xF6\xFC\xE4\xDF" "ABCDEFGHIJKLMNOPQRSTUVWXYZ" "\xC4\xDC\xD6" "1234567890.-:# \n";
  return c != 0 && std::memchr(kAllowed, c, sizeof kAllowed - 1) != nullptr ? 1 : 0;
}

int publicEncrypt(int length, const unsigned char* input, unsigned char* output, RSA* key, int padding) {
  if (input == nullptr || output == nullptr || key == nullptr || length <= 0) return -1;
  if (padding != kOwnPadding) return RSA_public_encrypt(length, input, output, key, padding);
  const int k = RSA_size(key);
  // 60, the zero fill, 01, eight random bytes and BC leave room for k - 11 data bytes.
  if (length > k - 11) return -1;
  std::vector<unsigned char> block(static_cast<size_t>(k), 0);
  block[0] = 0x60;
  size_t i = 1 + static_cast<size_t>(k - length - 11);
  block[i++] = 0x01;
  if (RAND_bytes(&block[i], 8) != 1) return -1;
  i += 8;
  std::memcpy(&block[i], input, static_cast<size_t>(length));
  block[static_cast<size_t>(k) - 1] = 0xBC;
  return RSA_public_encrypt(k, block.data(), output, key, RSA_NO_PADDING);
}

int publicDecrypt(int length, const unsigned char* input, unsigned char* output, RSA* key, int padding) {
  if (input == nullptr || output == nullptr || key == nullptr || length <= 0) return -1;
  if (padding != kOwnPadding) return RSA_public_decrypt(length, input, output, key, padding);
  const int k = RSA_size(key);
  if (length < k) return -1;
  std::vector<unsigned char> block(static_cast<size_t>(k));
  if (RSA_public_decrypt(k, input, block.data(), key, RSA_NO_PADDING) != k) return -1;
  if (block.front() != 0x60 || block.back() != 0xBC) return -1;
  size_t i = 1;
  const size_t last = block.size() - 1;  // the BC
  while (i < last && block[i] == 0x00) ++i;
  // 01 and its eight random bytes must lie before the final BC.
  if (i >= last || block[i] != 0x01 || i + 9 > last) return -1;
  i += 9;
  const size_t n = last - i;
  std::memcpy(output, &block[i], n);
  return static_cast<int>(n);
}

}  // namespace cardvariant
