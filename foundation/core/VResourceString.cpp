#include "foundation/core/VResourceString.h"

#include "foundation/base/ApplicationIdentity.h"

#include <cstring>

namespace {
constexpr int kBufferCharacters = 4096;
}

const char* VResourceString::load(UINT id, HINSTANCE module) {
  m_text.release();
  if (id == 0) return nullptr;
  if (module == nullptr) module = applicationIdentity().resourceModule();
  if (module == nullptr) return nullptr;

  char buffer[kBufferCharacters];
  int length = LoadStringA(module, id, buffer, kBufferCharacters);
  if (length <= 0 || length >= kBufferCharacters) return nullptr;
  char* text = static_cast<char*>(m_text.allocate(static_cast<std::size_t>(length) + 1));
  if (text == nullptr) return nullptr;
  std::memcpy(text, buffer, static_cast<std::size_t>(length));
  return text;
}
