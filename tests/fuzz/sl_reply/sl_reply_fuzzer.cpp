// Any bytes from whatever listens on the Security Layer port.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SecurityLayerForwarding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);  // up to the first NUL, as the plug-in reads it
  const size_t length = std::strlen(reply.c_str());
  char code[slforward::kCodeSize];
  std::vector<char> info(length + 1);
  const int result = slforward::splitResponse(reply.c_str(), code, info.data());
  if (result == -1) return 0;
  if (std::strlen(code) >= slforward::kCodeSize || std::strlen(info.data()) > length) __builtin_trap();
  const size_t infoLength = std::strlen(info.data());
  std::vector<char> encoded(3 * infoLength + 1);
  slforward::urlEncode(info.data(), encoded.data());
  slforward::convertUmlauts(info.data());
  if (std::strlen(info.data()) > infoLength) __builtin_trap();
  return 0;
}
