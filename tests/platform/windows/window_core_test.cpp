// The headless window core: creation and destruction order, procedures and
// subclassing, queues and waits, painting, metrics.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/window_test.h"
#include "window_test_support.h"

namespace {

using wintests::handlers;
using wintests::messages;
using wintests::recorderClass;
using wintests::seen;
namespace wt = platform::wintest;
using Log = std::vector<std::pair<HWND, UINT>>;

class WindowCore : public ::testing::Test {
 protected:
  void SetUp() override {
    recorderClass();
    seen().clear();
    handlers().clear();
  }
  void TearDown() override {
    for (HWND h : wt::threadWindows(GetCurrentThreadId())) DestroyWindow(h);
    handlers().clear();
  }
  HWND make(DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, int id = 0) {
    return CreateWindowExA(0, recorderClass(), "Titel", style, 10, 20, 300, 200, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
};

TEST_F(WindowCore, CreationAndDestructionFollowTheWindowsOrder) {
  HWND parent = make();
  ASSERT_TRUE(parent);
  EXPECT_EQ(messages({WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE}),
            (Log{{parent, WM_NCCREATE}, {parent, WM_CREATE}, {parent, WM_SIZE}, {parent, WM_MOVE}}));
  HWND child = make(WS_CHILD | WS_VISIBLE, parent, 7);
  HWND grandchild = make(WS_CHILD, child, 8);
  ASSERT_TRUE(child && grandchild);
  EXPECT_EQ(GetParent(grandchild), child);
  EXPECT_EQ(GetDlgItem(parent, 7), child);
  seen().clear();
  ASSERT_TRUE(DestroyWindow(parent));
  // WM_DESTROY from the top down, WM_NCDESTROY from the bottom up.
  EXPECT_EQ(messages({WM_DESTROY, WM_NCDESTROY}),
            (Log{{parent, WM_DESTROY}, {child, WM_DESTROY}, {grandchild, WM_DESTROY},
                 {grandchild, WM_NCDESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}}));
  for (HWND h : {parent, child, grandchild}) EXPECT_FALSE(IsWindow(h));
  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(parent));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowCore, RefusedCreationLeavesNoWindow) {
  struct Case {
    UINT refusing;
    LRESULT answer;
    Log expected;
  };
  const Case cases[] = {
      {WM_NCCREATE, 0, Log{{nullptr, WM_NCCREATE}, {nullptr, WM_NCDESTROY}}},
      {WM_CREATE, -1, Log{{nullptr, WM_NCCREATE}, {nullptr, WM_CREATE}, {nullptr, WM_DESTROY}, {nullptr, WM_NCDESTROY}}},
  };
  for (const Case& c : cases) {
    seen().clear();
    handlers().clear();
    const LRESULT answer = c.answer;
    handlers()[c.refusing] = [answer](HWND, WPARAM, LPARAM) { return answer; };
    EXPECT_EQ(make(), nullptr);
    Log got = messages({WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY});
    for (auto& entry : got) entry.first = nullptr;
    EXPECT_EQ(got, c.expected) << c.refusing;
    EXPECT_TRUE(wt::threadWindows(GetCurrentThreadId()).empty());
  }
}

LRESULT CALLBACK upperCaseSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER) return 42;
  auto previous = reinterpret_cast<WNDPROC>(GetPropA(hwnd, "previous"));
  return CallWindowProcA(previous, hwnd, msg, wParam, lParam);
}

TEST_F(WindowCore, SubclassingReplacesAndRestoresTheProcedure) {
  HWND h = make();
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(upperCaseSubclass)));
  EXPECT_EQ(previous, wintests::recordingProc);
  SetPropA(h, "previous", reinterpret_cast<HANDLE>(previous));
  seen().clear();
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 42);
  EXPECT_TRUE(seen().empty());
  SendMessageA(h, WM_USER + 1, 0, 0);
  EXPECT_EQ(messages(), (Log{{h, WM_USER + 1}}));
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0);
}

TEST_F(WindowCore, TextsStylesAndClassData) {
  HWND h = make();
  char buffer[64];
  EXPECT_EQ(GetWindowTextA(h, buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "Titel");
  EXPECT_TRUE(SetWindowTextA(h, "Quarvel - Dokument"));
  EXPECT_EQ(GetWindowTextA(h, buffer, 8), 7);  // cut, terminated
  EXPECT_STREQ(buffer, "Quarvel");
  EXPECT_EQ(GetClassNameA(h, buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "Recorder");
  EXPECT_EQ(GetClassLongA(h, GCL_HBRBACKGROUND), static_cast<DWORD>(COLOR_WINDOW + 1));
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE)) & WS_OVERLAPPEDWINDOW, static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
  EXPECT_FALSE(IsWindowVisible(h));
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(nullptr), 0);
  WNDCLASSA again{};
  again.lpfnWndProc = DefWindowProcA;
  again.lpszClassName = "recorder";  // class names ignore case
  EXPECT_EQ(RegisterClassA(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  EXPECT_FALSE(UnregisterClassA("Recorder", nullptr));  // it still has a window
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
}

TEST_F(WindowCore, UnknownClassAndStaleHandlesFailCleanly) {
  SetLastError(0);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  HWND h = make();
  DestroyWindow(h);
  RECT r;
  EXPECT_FALSE(GetWindowRect(h, &r));
  EXPECT_FALSE(ShowWindow(h, SW_SHOW));
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowCore, PostedMessagesThenQuitInOrder) {
  HWND h = make();
  PostMessageA(h, WM_USER + 1, 1, 2);
  PostQuitMessage(7);
  PostMessageA(h, WM_USER + 2, 3, 4);
  MSG msg;
  std::vector<UINT> got;
  BOOL r;
  while ((r = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    got.push_back(msg.message);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(r, FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  // WM_QUIT comes once the posted messages are gone.
  EXPECT_EQ(got, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowCore, GetMessageFailsWithMinusOneOnABadWindow) {
  MSG msg;
  HWND h = make();
  DestroyWindow(h);
  EXPECT_EQ(GetMessageA(&msg, h, 0, 0), -1);
  wt::failNextGetMessage();
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
}

TEST_F(WindowCore, PeekMessageFiltersAndKeeps) {
  HWND a = make();
  HWND b = make();
  PostMessageA(a, WM_USER + 1, 0, 0);
  PostMessageA(b, WM_USER + 2, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowCore, SentMessagesFromAnotherThreadRunOnTheOwnerBeforePostedOnes) {
  HWND h = make();
  std::atomic<DWORD> handlerThread{0};
  handlers()[WM_USER + 5] = [&](HWND, WPARAM w, LPARAM) {
    handlerThread = GetCurrentThreadId();
    return static_cast<LRESULT>(w * 2);
  };
  PostMessageA(h, WM_USER + 1, 0, 0);
  std::atomic<LRESULT> answer{0};
  std::atomic<bool> done{false};
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    std::unique_ptr<std::pair<HWND, std::pair<std::atomic<LRESULT>*, std::atomic<bool>*>>> args(
        static_cast<std::pair<HWND, std::pair<std::atomic<LRESULT>*, std::atomic<bool>*>>*>(p));
    *args->second.first = SendMessageA(args->first, WM_USER + 5, 21, 0);
    *args->second.second = true;
    PostMessageA(args->first, WM_NULL, 0, 0);
    return 0;
  }, new std::pair<HWND, std::pair<std::atomic<LRESULT>*, std::atomic<bool>*>>(h, {&answer, &done}), 0, nullptr);
  ASSERT_TRUE(t);
  for (int i = 0; i < 10000 && wt::pendingSentMessages() == 0; ++i) Sleep(1);
  ASSERT_EQ(wt::pendingSentMessages(), 1);
  // The sent message is handled inside this thread's wait, never as a MSG.
  MSG msg;
  std::vector<UINT> dispatched;
  while (!done) {
    ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
    dispatched.push_back(msg.message);
    DispatchMessageA(&msg);
  }
  WaitForSingleObject(t, 10000);
  CloseHandle(t);
  EXPECT_EQ(answer.load(), 42);
  EXPECT_EQ(handlerThread.load(), GetCurrentThreadId());
  Log order = messages({WM_USER + 5, WM_USER + 1});
  EXPECT_EQ(order, (Log{{h, WM_USER + 5}, {h, WM_USER + 1}}));
  EXPECT_EQ(std::count(dispatched.begin(), dispatched.end(), static_cast<UINT>(WM_USER + 5)), 0);
}

TEST_F(WindowCore, AThreadStoppedInItsMessageWaitTakesItsWindowsAlong) {
  std::atomic<HWND> window{nullptr};
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* out = static_cast<std::atomic<HWND>*>(p);
    HWND h = CreateWindowExA(0, recorderClass(), "Worker", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    *out = h;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }, &window, 0, nullptr);
  ASSERT_TRUE(t);
  ASSERT_TRUE(wt::pumpMessagesUntil([&] { return window.load() != nullptr; }, 10000));
  HWND h = window;
  EXPECT_EQ(FindWindowA("Recorder", "Worker"), h);
  EXPECT_TRUE(TerminateThread(t, 3));
  EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
  CloseHandle(t);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(FindWindowA("Recorder", "Worker"), nullptr);
}

TEST_F(WindowCore, ASendToAThreadThatEndsWithoutAnsweringFails) {
  struct Shared {
    std::atomic<HWND> window{nullptr};
  } shared;
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* s = static_cast<Shared*>(p);
    s->window = CreateWindowExA(0, recorderClass(), "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    // Ends once the message is waiting, without ever asking for messages.
    for (int i = 0; i < 20000 && wt::pendingSentMessages() == 0; ++i) Sleep(1);
    return 0;
  }, &shared, 0, nullptr);
  ASSERT_TRUE(t);
  for (int i = 0; i < 20000 && shared.window.load() == nullptr; ++i) Sleep(1);
  ASSERT_TRUE(shared.window.load());
  DWORD_PTR result = 5;
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(shared.window, WM_USER, 0, 0, SMTO_NORMAL, 600000, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
  CloseHandle(t);
  EXPECT_FALSE(IsWindow(shared.window));
}

std::atomic<bool> g_inHandler{false};

LRESULT CALLBACK sleepingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 9) {
    g_inHandler = true;
    Sleep(600000);  // a wait point: the stop ends the thread here
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST_F(WindowCore, AReceiverStoppedWhileHandlingASentMessageReleasesItsSender) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = sleepingProc;
  wc.lpszClassName = "Sleeper";
  RegisterClassA(&wc);
  struct Shared {
    std::atomic<HWND> window{nullptr};
    std::atomic<int> sendResult{-1};
    std::atomic<DWORD> sendError{0};
  } shared;
  HANDLE receiver = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* s = static_cast<Shared*>(p);
    s->window = CreateWindowExA(0, "Sleeper", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }, &shared, 0, nullptr);
  for (int i = 0; i < 20000 && shared.window.load() == nullptr; ++i) Sleep(1);
  ASSERT_TRUE(shared.window.load());
  HANDLE sender = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* s = static_cast<Shared*>(p);
    DWORD_PTR result = 0;
    s->sendResult = static_cast<int>(SendMessageTimeoutA(s->window, WM_USER + 9, 0, 0, SMTO_NORMAL, 600000, &result));
    s->sendError = GetLastError();
    return 0;
  }, &shared, 0, nullptr);
  for (int i = 0; i < 20000 && !g_inHandler; ++i) Sleep(1);
  ASSERT_TRUE(g_inHandler);
  EXPECT_TRUE(TerminateThread(receiver, 9));
  EXPECT_EQ(WaitForSingleObject(sender, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(shared.sendResult.load(), 0);
  EXPECT_EQ(shared.sendError.load(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  WaitForSingleObject(receiver, 10000);
  CloseHandle(sender);
  CloseHandle(receiver);
}

TEST_F(WindowCore, UpdateWindowPaintsAtOnceOnlyWhenSomethingIsInvalidAndVisible) {
  HWND h = make(WS_POPUP);
  auto paints = [] { return messages({WM_PAINT}).size(); };
  InvalidateRect(h, nullptr, TRUE);
  UpdateWindow(h);
  EXPECT_EQ(paints(), 0u);  // hidden windows are not painted
  ShowWindow(h, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(h));
  UpdateWindow(h);
  EXPECT_EQ(paints(), 1u);
  UpdateWindow(h);
  EXPECT_EQ(paints(), 1u);  // DefWindowProcA validated it
  RECT part{5, 5, 10, 10};
  InvalidateRect(h, &part, FALSE);
  RECT update;
  ASSERT_TRUE(GetUpdateRect(h, &update, FALSE));
  EXPECT_TRUE(EqualRect(&update, &part));
  UpdateWindow(h);
  EXPECT_EQ(paints(), 2u);
  // A WM_PAINT comes through the loop too, once the queue is empty.
  InvalidateRect(h, nullptr, FALSE);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  DispatchMessageA(&msg);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowCore, MetricsAreConfigurable) {
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  wt::setScreenSize(1280, 1024);
  wt::setSystemMetric(SM_CYCAPTION, 25);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 25);
  wt::resetSystemMetrics();
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
}

TEST_F(WindowCore, PositionsClientAreasAndTopmost) {
  HWND h = make(WS_OVERLAPPEDWINDOW);
  RECT r, c;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.right, 310);
  GetClientRect(h, &c);
  const int frame = GetSystemMetrics(SM_CXFRAME);
  EXPECT_EQ(c.right, 300 - 2 * frame);
  EXPECT_EQ(c.bottom, 200 - 2 * GetSystemMetrics(SM_CYFRAME) - GetSystemMetrics(SM_CYCAPTION));
  HWND popup = make(WS_POPUP);
  ASSERT_TRUE(SetWindowPos(popup, nullptr, 312, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE));
  ASSERT_TRUE(SetWindowPos(popup, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW | SWP_NOSENDCHANGING));
  GetWindowRect(popup, &r);
  EXPECT_EQ(r.left, 312);
  EXPECT_EQ(r.top, 234);
  EXPECT_EQ(GetWindowLongA(popup, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
  auto list = wt::topLevelWindows();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front().hwnd, popup);  // topmost windows lead the Z order
  EXPECT_TRUE(list.front().topmost);
  // Default position and size for an overlapped window.
  HWND d = CreateWindowExA(0, recorderClass(), "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  GetWindowRect(d, &r);
  EXPECT_GT(r.right - r.left, 0);
  EXPECT_GT(r.bottom - r.top, 0);
}

TEST_F(WindowCore, AcceleratorsTurnKeysIntoCommands) {
  HWND h = make();
  ACCEL table[] = {{FVIRTKEY | FCONTROL, 'S', 40004}, {FVIRTKEY, VK_F1, 40014}};
  HACCEL accel = CreateAcceleratorTableA(table, 2);
  ASSERT_TRUE(accel);
  MSG key{h, WM_KEYDOWN, VK_F1, 0, 0, {0, 0}};
  EXPECT_EQ(TranslateAcceleratorA(h, accel, &key), 1);
  ASSERT_FALSE(seen().empty());
  EXPECT_EQ(seen().back().msg, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(LOWORD(seen().back().wParam), 40014);
  EXPECT_EQ(HIWORD(seen().back().wParam), 1);
  MSG other{h, WM_KEYDOWN, 'Q', 0, 0, {0, 0}};
  EXPECT_EQ(TranslateAcceleratorA(h, accel, &other), 0);
  EXPECT_TRUE(DestroyAcceleratorTable(accel));
}

}  // namespace
