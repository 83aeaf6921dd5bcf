#include "window_test_support.h"

namespace wintests {

std::vector<Seen>& seen() {
  thread_local std::vector<Seen> log;
  return log;
}

std::map<UINT, std::function<LRESULT(HWND, WPARAM, LPARAM)>>& handlers() {
  thread_local std::map<UINT, std::function<LRESULT(HWND, WPARAM, LPARAM)>> h;
  return h;
}

LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  seen().push_back({hwnd, msg, wParam, lParam});
  auto it = handlers().find(msg);
  if (it != handlers().end()) return it->second(hwnd, wParam, lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

const char* recorderClass() {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Recorder";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return "Recorder";
}

std::vector<std::pair<HWND, UINT>> messages(const std::vector<UINT>& only) {
  std::vector<std::pair<HWND, UINT>> out;
  for (const Seen& s : seen()) {
    bool keep = only.empty();
    for (UINT m : only) keep = keep || m == s.msg;
    if (keep) out.emplace_back(s.hwnd, s.msg);
  }
  return out;
}

}  // namespace wintests
