// Message boxes: there is nobody at the screen, so every box is recorded and answered
// from the test script; without a scripted answer the box answers as the Escape key
// would (Cancel when it has one, else its safe choice), so that a retry loop ends.
#include <deque>

#include "platform/window_test.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

std::deque<int>& answers() {
  static auto* a = new std::deque<int>();
  return *a;
}

std::vector<wintest::MessageBoxRecord>& records() {
  static auto* r = new std::vector<wintest::MessageBoxRecord>();
  return *r;
}

int unscriptedAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE:
      return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

}  // namespace

int answerMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  auto lock = lockWindows();
  wintest::MessageBoxRecord r;
  r.owner = owner;
  r.text = text;
  r.caption = caption;
  r.type = type;
  if (!answers().empty()) {
    r.answer = answers().front();
    answers().pop_front();
  } else {
    r.answer = unscriptedAnswer(type);
  }
  records().push_back(r);
  return r.answer;
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return answerMessageBox(owner, text ? text : "", caption ? caption : "Fehler", type);
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return answerMessageBox(owner, platform::toUtf8(text), caption ? platform::toUtf8(caption) : std::string("Fehler"),
                          type);
}

BOOL WINAPI MessageBeep(UINT) { return TRUE; }

}  // extern "C"

namespace platform {
namespace wintest {

void queueMessageBoxAnswer(int answer) {
  auto lock = win::lockWindows();
  win::answers().push_back(answer);
}

std::vector<MessageBoxRecord> messageBoxes() {
  auto lock = win::lockWindows();
  return win::records();
}

void clearMessageBoxes() {
  auto lock = win::lockWindows();
  win::records().clear();
  win::answers().clear();
}

}  // namespace wintest
}  // namespace platform
