// Any bytes from whatever listens on the Security Layer port.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SecurityLayerForwarding.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is never written
}

// The form decoding a browser's receiver applies; traps on anything urlEncode may not write.
std::string formDecoded(const char* encoded) {
  std::string out;
  for (const char* p = encoded; *p; ++p) {
    const char c = *p;
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += c;
    } else if (c == '+') {
      out += ' ';
    } else if (c == '%' && hexValue(p[1]) >= 0 && hexValue(p[2]) >= 0) {
      out += static_cast<char>(hexValue(p[1]) * 16 + hexValue(p[2]));
      p += 2;
    } else {
      __builtin_trap();
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);  // up to the first NUL, as the plug-in reads it
  const size_t length = std::strlen(reply.c_str());

  // The same bytes as a page's post URL: one the reply may go to has no scheme, or http
  // or https; both widths of the URL get the same answer.
  const char* url = reply.c_str();
  const bool postable = slforward::isPostableUrl(url);
  std::u16string wide;
  for (const char* p = url; *p; ++p) wide += static_cast<unsigned char>(*p) < 0x80 ? static_cast<char16_t>(*p) : u'\u00e4';
  if (slforward::isPostableUrl(wide.c_str()) != postable) __builtin_trap();
  const size_t schemeEnd = std::strcspn(url, "/?#");
  if (const void* colon = std::memchr(url, ':', schemeEnd); postable && colon) {
    std::string scheme(url, static_cast<const char*>(colon));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (scheme != "http" && scheme != "https") __builtin_trap();
  }

  char code[slforward::kCodeSize];
  std::vector<char> info(length + 1);
  const int result = slforward::splitResponse(reply.c_str(), code, info.data());
  if (result == -1) return 0;
  if (std::strlen(code) >= slforward::kCodeSize || std::strlen(info.data()) > length) __builtin_trap();
  // A success reply is posted whole with the code "0"; an error's fields come from the reply.
  if (result == 1 && (std::strcmp(code, "0") != 0 || std::strcmp(info.data(), reply.c_str()) != 0)) __builtin_trap();
  if (result == 0 && (!std::strstr(reply.c_str(), code) || !std::strstr(reply.c_str(), info.data()))) __builtin_trap();
  const size_t infoLength = std::strlen(info.data());
  std::vector<char> encoded(3 * infoLength + 1);
  slforward::urlEncode(info.data(), encoded.data());
  if (formDecoded(encoded.data()) != info.data()) __builtin_trap();
  slforward::convertUmlauts(info.data());
  if (std::strlen(info.data()) > infoLength) __builtin_trap();
  return 0;
}
