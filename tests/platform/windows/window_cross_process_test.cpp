// Top-level windows seen and reached from another process: FindWindow, EnumWindows,
// SendMessageTimeout with WM_COPYDATA, time-outs, hung receivers, ended receivers.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace {

namespace wt = platform::wintest;
constexpr UINT kHang = WM_USER + 2;
constexpr UINT kQuit = WM_USER + 3;

std::string receivedPath(ULONG_PTR dwData) {
  return quarveltest::machineRoot() + "/received-" + std::to_string(dwData) + ".bin";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

LRESULT CALLBACK receiverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::ofstream out(receivedPath(cds->dwData), std::ios::binary | std::ios::trunc);
      if (cds->lpData != nullptr) out.write(static_cast<const char*>(cds->lpData), cds->cbData);
      return 1000 + static_cast<LRESULT>(cds->cbData);
    }
    case kHang:
      std::ofstream(quarveltest::machineRoot() + "/hung").put('1');
      Sleep(static_cast<DWORD>(wParam));
      return 0;
    case kQuit:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

// A hidden top-level window of class "VWindow" with the title args[0], served until kQuit.
QUARVEL_CHILD(copydataReceiver) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = receiverProc;
  wc.lpszClassName = "VWindow";
  if (!RegisterClassA(&wc)) return 2;
  HWND h = CreateWindowExA(0, "VWindow", args.at(0).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           nullptr, nullptr);
  if (h == nullptr) return 3;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

// Like copydataReceiver, but it rewrites its title between a short and a long text on
// every turn of its message loop.
QUARVEL_CHILD(titleChanger) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = receiverProc;
  wc.lpszClassName = "VWindow";
  if (!RegisterClassA(&wc)) return 2;
  const std::string titles[] = {args.at(0), std::string(3000, 'L')};
  HWND h = CreateWindowExA(0, "VWindow", titles[0].c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           nullptr, nullptr);
  if (h == nullptr) return 3;
  for (unsigned turn = 1;; ++turn) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return 0;
      DispatchMessageA(&msg);
    }
    SetWindowTextA(h, titles[turn % 2].c_str());
  }
}

// Bounded waits only against hangs: a loaded machine may take long to start a process.
HWND waitForWindow(const char* cls, const char* title) {
  for (int i = 0; i < 60000; ++i) {
    if (HWND h = FindWindowA(cls, title)) return h;
    Sleep(1);
  }
  return nullptr;
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 60000; ++i) {
    if (std::ifstream(path)) return true;
    Sleep(1);
  }
  return false;
}

TEST(CrossProcess, AnotherProcessFindsTheWindowAndGetsTheExactBytes) {
  quarveltest::ChildProcess child = quarveltest::startChild("copydataReceiver", {"Quarvel"});
  HWND h = waitForWindow("VWindow", "Quarvel");
  ASSERT_TRUE(h);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(h, &pid), 0u);
  EXPECT_EQ(static_cast<pid_t>(pid), child.pid());
  EXPECT_FALSE(IsWindowVisible(h));
  char buffer[32];
  EXPECT_EQ(GetClassNameA(h, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "VWindow");
  EXPECT_EQ(FindWindowA("vwindow", nullptr), h);  // class names ignore case, titles do not
  EXPECT_EQ(FindWindowA("VWindow", "quarvel"), nullptr);
  EXPECT_EQ(FindWindowW(u"VWindow", u"Quarvel"), h);
  bool enumerated = false;
  EnumWindows([](HWND w, LPARAM p) -> BOOL {
    if (w == *reinterpret_cast<HWND*>(reinterpret_cast<void**>(p)[0])) *static_cast<bool*>(reinterpret_cast<void**>(p)[1]) = true;
    return TRUE;
  }, reinterpret_cast<LPARAM>(std::array<void*, 2>{&h, &enumerated}.data()));
  EXPECT_TRUE(enumerated);

  std::string path(260, '\0');
  const std::string name = "C:\\Dokumente\\Vertrag.pdf";
  path.replace(0, name.size(), name);
  struct Case {
    ULONG_PTR dwData;
    std::string payload;
    bool nullData;
  };
  const Case cases[] = {
      {150, path, false},
      {151, std::string(), true},  // no data at all
      {152, std::string(4096, 'x'), false},
      {153, std::string(600, 'A'), false},  // no NUL anywhere
      {154, std::string("\0\xff\x01", 3), false},
  };
  for (const Case& c : cases) {
    COPYDATASTRUCT cds{c.dwData, static_cast<DWORD>(c.payload.size()),
                       c.nullData ? nullptr : const_cast<char*>(c.payload.data())};
    DWORD_PTR result = 0;
    SetLastError(0);
    ASSERT_NE(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 3000, &result), 0)
        << c.dwData << " error " << GetLastError();
    EXPECT_EQ(result, 1000 + c.payload.size());
    EXPECT_EQ(readFile(receivedPath(c.dwData)), c.payload) << c.dwData;
  }
  // The wide form carries the same bytes.
  COPYDATASTRUCT cds{160, 4, const_cast<char*>("abc")};
  DWORD_PTR result = 0;
  ASSERT_NE(SendMessageTimeoutW(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 3000, &result), 0);
  EXPECT_EQ(readFile(receivedPath(160)), std::string("abc", 4));

  // Texts cross as texts; other messages that point into this process do not cross.
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Quarvel - neu"), SMTO_NORMAL, 3000, &answer), 0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel - neu"), h);
  char text[8] = "xxxxxxx";
  ASSERT_NE(SendMessageTimeoutA(h, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 3000, &answer), 0);
  EXPECT_EQ(answer, 7u);
  EXPECT_STREQ(text, "Quarvel");
  NMHDR header{h, 1, 0};
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header), SMTO_NORMAL, 3000, &answer), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
  ASSERT_NE(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 3000, &result), 0);

  EXPECT_TRUE(PostMessageA(h, kQuit, 0, 0));
  EXPECT_EQ(child.wait(), 0);
}

TEST(CrossProcess, StartingProcessesAreNotTakenForEndedOnes) {
  // Readers sweep the files of ended processes all the time; a process that is just
  // starting must never look ended to them.
  std::atomic<bool> stop{false};
  HANDLE sweeper = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    auto* done = static_cast<std::atomic<bool>*>(p);
    while (!*done) wt::topLevelWindows();
    return 0;
  }, &stop, 0, nullptr);
  for (int i = 0; i < 6; ++i) {
    const std::string title = "Start " + std::to_string(i);
    quarveltest::ChildProcess child = quarveltest::startChild("copydataReceiver", {title});
    HWND h = waitForWindow("VWindow", title.c_str());
    ASSERT_TRUE(h) << title;
    EXPECT_TRUE(PostMessageA(h, kQuit, 0, 0));
    EXPECT_EQ(child.wait(), 0);
  }
  stop = true;
  WaitForSingleObject(sweeper, 10000);
  CloseHandle(sweeper);
}

TEST(CrossProcess, AHungReceiverMakesTheSenderGiveUp) {
  quarveltest::ChildProcess child = quarveltest::startChild("copydataReceiver", {"Haengt"});
  HWND h = waitForWindow("VWindow", "Haengt");
  ASSERT_TRUE(h);
  ASSERT_TRUE(PostMessageA(h, kHang, 60000, 0));
  ASSERT_TRUE(waitForFile(quarveltest::machineRoot() + "/hung"));

  COPYDATASTRUCT cds{150, 3, const_cast<char*>("ab")};
  DWORD_PTR result = 77;
  // Busy but not yet judged hung: the time-out ends the wait.
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 200, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(result, 0u);
  // Judged hung: SMTO_ABORTIFHUNG returns without waiting for the (long) time-out.
  wt::setHungThreshold(0);
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 600000, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  wt::setHungThreshold(5000);
  // Posting does not wait for the busy receiver.
  EXPECT_TRUE(PostMessageA(h, kQuit, 0, 0));
  child.kill(SIGKILL);
  child.wait();
}

TEST(CrossProcess, AReceiverThatEndsTakesItsWindowAlong) {
  for (bool killed : {false, true}) {
    const char* title = killed ? "Abgestuerzt" : "Beendet";
    quarveltest::ChildProcess child = quarveltest::startChild("copydataReceiver", {title});
    HWND h = waitForWindow("VWindow", title);
    ASSERT_TRUE(h);
    const std::string entry =
        platform::runtimeDirectory() + "/windows/w" + std::to_string(reinterpret_cast<uintptr_t>(h));
    ASSERT_TRUE(std::ifstream(entry)) << title;
    if (killed) {
      child.kill(SIGKILL);
      child.wait();
    } else {
      ASSERT_TRUE(PostMessageA(h, kQuit, 0, 0));
      EXPECT_EQ(child.wait(), 0);
      // Taken along by the process itself, before any reader sweeps up after it.
      EXPECT_FALSE(std::ifstream(entry)) << title;
    }
    EXPECT_EQ(FindWindowA("VWindow", title), nullptr) << title;
    EXPECT_FALSE(IsWindow(h)) << title;
    for (const wt::WindowInfo& w : wt::topLevelWindows()) EXPECT_NE(w.hwnd, h) << title;
    COPYDATASTRUCT cds{150, 1, const_cast<char*>("")};
    SetLastError(0);
    EXPECT_EQ(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 3000, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  }
}

TEST(CrossProcess, AWindowRewrittenAllTheTimeIsReadWholeAndAnAlteredEntryNotAtAll) {
  quarveltest::ChildProcess child = quarveltest::startChild("titleChanger", {"kurz"});
  HWND h = waitForWindow("VWindow", nullptr);
  ASSERT_TRUE(h);
  const std::string longTitle(3000, 'L');
  std::vector<char> text(4096);
  for (int i = 0; i < 3000; ++i) {
    ASSERT_TRUE(IsWindow(h)) << i;
    const int n = GetWindowTextA(h, text.data(), static_cast<int>(text.size()));
    const std::string seen(text.data(), static_cast<size_t>(std::max(n, 0)));
    ASSERT_TRUE(seen == "kurz" || seen == longTitle) << i << ": " << seen.size() << " bytes";
  }
  ASSERT_TRUE(PostMessageA(h, kQuit, 0, 0));
  EXPECT_EQ(child.wait(), 0);

  // An entry whose bytes were changed behind the writer's back is not believed: the
  // window it names is not found. So is an entry without its length and hash line.
  quarveltest::ChildProcess still = quarveltest::startChild("copydataReceiver", {"Echt"});
  HWND real = waitForWindow("VWindow", "Echt");
  ASSERT_TRUE(real);
  const std::string entry =
      platform::runtimeDirectory() + "/windows/w" + std::to_string(reinterpret_cast<uintptr_t>(real));
  const std::string original = readFile(entry);
  ASSERT_NE(original.find("Echt"), std::string::npos);
  std::string altered = original;
  altered.replace(altered.find("Echt"), 4, "Fake");
  const std::string headless = original.substr(original.find('\n') + 1);
  for (const std::string& bytes : {altered, headless}) {
    std::ofstream(entry, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(FindWindowA("VWindow", "Fake"), nullptr);
    EXPECT_EQ(FindWindowA("VWindow", "Echt"), nullptr);
    EXPECT_FALSE(IsWindow(real));
  }
  std::ofstream(entry, std::ios::binary | std::ios::trunc) << original;
  EXPECT_EQ(FindWindowA("VWindow", "Echt"), real);
  ASSERT_TRUE(PostMessageA(real, kQuit, 0, 0));
  EXPECT_EQ(still.wait(), 0);
}

}  // namespace
