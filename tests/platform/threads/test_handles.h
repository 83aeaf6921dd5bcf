// Small helpers of the thread and synchronisation tests.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "quarvel_test.h"

namespace thrtest {

struct HandleCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
// Closes the handle at the end of the test.
using Handle = std::unique_ptr<void, HandleCloser>;

using quarveltest::eventually;

// Starts a thread that runs `body`; the handle, and the id through *id when given.
inline Handle startThread(std::function<DWORD()> body, DWORD flags = 0, DWORD* id = nullptr,
                          SIZE_T stackSize = 0) {
  auto* owned = new std::function<DWORD()>(std::move(body));
  HANDLE handle = CreateThread(
      nullptr, stackSize,
      [](LPVOID parameter) -> DWORD {
        std::unique_ptr<std::function<DWORD()>> function(static_cast<std::function<DWORD()>*>(parameter));
        return (*function)();
      },
      owned, flags, id);
  if (!handle) delete owned;
  return Handle(handle);
}

constexpr DWORD kLong = 20000;  // bound of waits that must succeed

}  // namespace thrtest
