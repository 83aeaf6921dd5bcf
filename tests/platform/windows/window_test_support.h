// Helpers of the window layer's tests: a window class whose procedure records the
// messages it gets and can be told how to answer them.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wintests {

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// The log of the recording procedure of this thread, and per-message answers.
std::vector<Seen>& seen();
std::map<UINT, std::function<LRESULT(HWND, WPARAM, LPARAM)>>& handlers();
LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Registers the class "Recorder" with recordingProc (once per process).
const char* recorderClass();

// The messages of the log, in order, without those listed in `ignore`.
std::vector<std::pair<HWND, UINT>> messages(const std::vector<UINT>& only = {});

}  // namespace wintests
