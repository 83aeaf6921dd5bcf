// Message boxes: there is nobody at the screen, so every box is recorded and answered
// from the test script; without a scripted answer the box answers as the Escape key
// would (Cancel when it has one, else its safe choice), so that a retry loop ends.
// Boxes of every process also go into the desktop's journal, and a test that drives
// another process answers them through the desktop: answers it queued there, or, while
// the desktop's boxes wait for the test, the answer it gives once it has seen the box.
//
// A real box runs a modal loop: while it is open, the thread's window procedures run
// again (a container may release the control that showed the box). In the pumping
// mode (wintest::setPumpingMessageBoxes, or QUARVEL_PUMPING_MESSAGE_BOXES=1 in the
// environment) a box does the same: it dispatches the thread's sent and posted messages
// before it answers, and keeps dispatching while it waits for the test's answer.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>
#include <unistd.h>

#include "desktop_records.h"

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

// -1: as the environment says; 0 or 1: set by the test hook.
std::atomic<int> g_pumping{-1};

bool pumpingBoxes() {
  const int set = g_pumping.load();
  if (set >= 0) return set != 0;
  const char* env = std::getenv("QUARVEL_PUMPING_MESSAGE_BOXES");
  return env != nullptr && std::strcmp(env, "1") == 0;
}

// The box's own loop: dispatches what waits for the thread. False once WM_QUIT came; it
// ends the loop and stays queued for the loop outside, as with a real box.
bool dispatchWhileOpen() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return false;
    }
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return true;
}

// An answer the test queued on the desktop; with waiting boxes, the box waits for one
// (bounded, so that a test that never answers does not hang the program for ever).
// A pumping box dispatches its thread's messages meanwhile.
bool desktopAnswer(int* answer, bool pumping) {
  std::vector<std::string> fields;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    if (desktop::take("message-box-answers", &fields) && !fields.empty()) {
      *answer = std::stoi(fields[0]);
      return true;
    }
    const std::vector<std::vector<std::string>> waiting = desktop::read("message-boxes-wait");
    if (waiting.empty() || waiting.back().empty() || waiting.back()[0] != "1") return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (pumping && dispatchWhileOpen()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } else {
      pumping = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

// A pumping box disables its owner while it is open, as a modal loop does.
class DisabledOwner {
 public:
  explicit DisabledOwner(HWND owner) : owner_(owner != nullptr && IsWindowEnabled(owner) ? owner : nullptr) {
    if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  }
  ~DisabledOwner() {
    if (owner_ != nullptr && IsWindow(owner_)) EnableWindow(owner_, TRUE);
  }
  DisabledOwner(const DisabledOwner&) = delete;
  DisabledOwner& operator=(const DisabledOwner&) = delete;

 private:
  HWND owner_;
};

}  // namespace

int answerMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  wintest::MessageBoxRecord r;
  r.owner = owner;
  r.text = text;
  r.caption = caption;
  r.type = type;
  desktop::append("message-boxes", {std::to_string(getpid()), text, caption, std::to_string(type)});
  // A box takes the first queued answer when it opens, so that boxes opened while it
  // dispatches take the later ones.
  bool answered = false;
  {
    auto lock = lockWindows();
    if (!answers().empty()) {
      r.answer = answers().front();
      answers().pop_front();
      answered = true;
    }
  }
  const bool pumping = pumpingBoxes();
  {
    DisabledOwner disabled(pumping ? owner : nullptr);
    const bool open = !pumping || dispatchWhileOpen();
    if (!answered && !desktopAnswer(&r.answer, pumping && open)) r.answer = unscriptedAnswer(type);
  }
  auto lock = lockWindows();
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

void setPumpingMessageBoxes(bool pumping) { win::g_pumping = pumping ? 1 : 0; }

void queueDesktopMessageBoxAnswer(int answer) { desktop::append("message-box-answers", {std::to_string(answer)}); }

void setDesktopMessageBoxesWait(bool wait) { desktop::replace("message-boxes-wait", {wait ? "1" : "0"}); }

std::vector<DesktopMessageBox> desktopMessageBoxes() {
  std::vector<DesktopMessageBox> boxes;
  for (const std::vector<std::string>& f : desktop::read("message-boxes")) {
    if (f.size() < 4) continue;
    DesktopMessageBox box;
    box.processId = static_cast<DWORD>(std::stoul(f[0]));
    box.text = f[1];
    box.caption = f[2];
    box.type = static_cast<UINT>(std::stoul(f[3]));
    boxes.push_back(box);
  }
  return boxes;
}

void clearMessageBoxes() {
  auto lock = win::lockWindows();
  win::records().clear();
  win::answers().clear();
}

}  // namespace wintest
}  // namespace platform
