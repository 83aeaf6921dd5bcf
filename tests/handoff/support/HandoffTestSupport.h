// What the hand-off's tests share: a stand-in for Quarvel's main window in a process of
// its own, which records every sign-file request it receives, and the payload a path
// must arrive as.
#pragma once

#include "quarvel_test.h"

#include <windows.h>

#include <string>
#include <vector>

namespace handofftest {

struct Request {
  ULONG_PTR dwData = 0;
  std::string bytes;  // cbData bytes as received
};

// A window of class "VWindow" titled "Quarvel" (hidden), made by a child process that
// records each WM_COPYDATA; kHung makes the window and then never asks for messages.
class Receiver {
 public:
  enum Mode { kPumping, kHung };
  explicit Receiver(Mode mode = kPumping);
  HWND window() const { return m_window; }
  std::vector<Request> requests() const;

 private:
  std::string m_record;
  quarveltest::ChildProcess m_process;
  HWND m_window = nullptr;
};

// The 260 bytes of the request for a path: its first 259 bytes, a NUL, zeros.
std::string payload(const std::string& path);

}  // namespace handofftest
