// The main window: its life with the message loop, session end, menus, title.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/app/VApplication.h"
#include "host/window/VMainWindow.h"
#include "host/window/VWindowMessageFilter.h"
#include "hostile_sender.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

#include <fstream>
#include <iterator>

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    getApplication()->setAppName("Quarvel");
    VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115,
                                      reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
  }
};

class TestMainWindow : public VMainWindow {
 public:
  bool postCloseOnCreate = false;
  bool closeAllowed = true;
  int creates = 0;
  std::vector<UINT> asked;
  std::vector<std::pair<int, int>> layouts;
  std::function<void(UINT, bool&, bool&)> itemRule;

  bool onCreate() override {
    ++creates;
    if (postCloseOnCreate) PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
    return VMainWindow::onCreate();
  }
  bool close(int flag) override { return closeAllowed && VMainWindow::close(flag); }
  void updateMenuItem(VMenu&, UINT id, bool& enable, bool& check) override {
    asked.push_back(id);
    if (itemRule) itemRule(id, enable, check);
  }
  void layoutChildren(VRect area) override { layouts.emplace_back(area.width(), area.height()); }
};

TEST_F(MainWindowTest, CloseEndsTheLoopWithZeroAndUnbinds) {
  TestMainWindow window;
  EXPECT_EQ(VMainWindow::getMainWindow(), &window);
  window.postCloseOnCreate = true;
  const VRect screen(0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
  EXPECT_EQ(window.create(0, screen, 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, true), 0);
  EXPECT_EQ(window.creates, 1);  // once, after the window exists
  EXPECT_EQ(window.getHandle(), nullptr);
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel"), nullptr);
  EXPECT_FALSE(window.flags().isSet(VWindow::kCreating));
}

TEST_F(MainWindowTest, TheHiddenMainWindowIsFoundByClassAndTitle) {
  TestMainWindow window;
  const VRect screen(0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
  ASSERT_EQ(window.create(0, screen, 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel"), window.getHandle());
  EXPECT_FALSE(IsWindowVisible(window.getHandle()));
  // The size change on creation reached layoutChildren with the client area.
  ASSERT_FALSE(window.layouts.empty());
  VRect client;
  window.getClientRect(client);
  EXPECT_EQ(window.layouts.back(), std::make_pair(static_cast<int>(client.width()), static_cast<int>(client.height())));
}

TEST_F(MainWindowTest, QueryEndSessionAnswersWhetherTheWindowClosed) {
  for (bool allowed : {true, false}) {
    TestMainWindow window;
    window.closeAllowed = allowed;
    ASSERT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
    HWND h = window.getHandle();
    EXPECT_EQ(SendMessageA(h, WM_QUERYENDSESSION, 0, 0), allowed ? 1 : 0);
    EXPECT_EQ(IsWindow(h) != FALSE, !allowed);
    MSG msg;
    EXPECT_EQ(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, allowed);
  }
}

TEST_F(MainWindowTest, AFailingDeferredCreateClosesTheWindow) {
  class Refusing : public TestMainWindow {
    bool onCreate() override { return false; }
  } window;
  EXPECT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, true), -1);
  EXPECT_EQ(window.getHandle(), nullptr);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST_F(MainWindowTest, AFailedCreationLeavesTheFlagsAsTheyWere) {
  class Refused : public TestMainWindow {
   public:
    bool refuse = true;
    bool preCreate(CREATESTRUCTA&) override { return !refuse; }
  } window;
  EXPECT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), -1);
  EXPECT_FALSE(window.flags().isSet(VWindow::kCreating));
  // So a second attempt runs onCreate once the window exists.
  window.refuse = false;
  EXPECT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  EXPECT_EQ(window.creates, 1);
}

TEST_F(MainWindowTest, UpdateMenusSkipsSeparatorsAndWalksPopups) {
  TestMainWindow window;
  ASSERT_EQ(window.create(107, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  HMENU bar = GetMenu(window.getHandle());
  ASSERT_EQ(bar, window.menu().getHandle());
  window.itemRule = [](UINT id, bool& enable, bool& check) {
    if (id == 100) enable = false;
    if (id == 200) check = true;
  };
  window.updateMenus();
  EXPECT_EQ(window.asked, (std::vector<UINT>{100, 200, 201, 101, 300}));
  struct Row {
    UINT id;
    UINT state;
  };
  // 201 came grayed and checked from the resource: the defaults enable and uncheck it.
  for (const Row& row : {Row{100, MF_GRAYED}, Row{200, MF_CHECKED}, Row{201, 0}, Row{101, 0}, Row{300, 0}}) {
    EXPECT_EQ(GetMenuState(bar, row.id, MF_BYCOMMAND) & (MF_GRAYED | MF_CHECKED), row.state) << row.id;
  }
  HMENU file = GetSubMenu(bar, 0);
  EXPECT_EQ(GetMenuState(file, 1, MF_BYPOSITION) & (MF_GRAYED | MF_CHECKED), 0u);  // the separator
  // Without a menu nothing is asked.
  TestMainWindow bare;
  ASSERT_EQ(bare.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  bare.updateMenus();
  EXPECT_TRUE(bare.asked.empty());
}

TEST_F(MainWindowTest, MenusOwnedOrBorrowed) {
  VMenu owned;
  EXPECT_FALSE(owned.destroy());
  ASSERT_TRUE(owned.load(107, nullptr));
  HMENU first = owned.getHandle();
  ASSERT_TRUE(owned.load(107, nullptr));
  EXPECT_FALSE(IsMenu(first));  // the previous one was destroyed
  HMENU sub = GetSubMenu(owned.getHandle(), 0);
  {
    VMenu borrowed(sub, false);
  }
  EXPECT_TRUE(IsMenu(sub));
  EXPECT_FALSE(owned.load(999, nullptr));
  EXPECT_EQ(owned.getHandle(), nullptr);
}

TEST_F(MainWindowTest, DocumentTitles) {
  struct Row {
    const char* appName;
    const char* name;
    bool untitled;
    const char* title;
  };
  const Row rows[] = {
      {"Quarvel", nullptr, true, "Quarvel - Untitled"},
      {"Quarvel", nullptr, false, "Quarvel"},
      {"Quarvel", "Vertrag.pdf", false, "Quarvel - Vertrag.pdf"},
      {"", nullptr, true, ""},
      {"", "Vertrag.pdf", true, ""},
  };
  VApplication* app = getApplication();
  for (const Row& row : rows) {
    app->setAppName(row.appName);
    app->setDocumentTitle("", false);  // a different text, so the next call is not skipped
    EXPECT_TRUE(app->setDocumentTitle(row.name, row.untitled));
    EXPECT_STREQ(app->getWindowTitle().getText(), row.title) << row.appName << "/" << (row.name ? row.name : "-");
  }
  app->setAppName("Quarvel");
}

TEST_F(MainWindowTest, TheDocumentTitleReachesTheMainWindow) {
  TestMainWindow window;
  ASSERT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  EXPECT_TRUE(getApplication()->setDocumentTitle("Vertrag.pdf", false));
  char title[64];
  GetWindowTextA(window.getHandle(), title, sizeof title);
  EXPECT_STREQ(title, "Quarvel - Vertrag.pdf");
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel - Vertrag.pdf"), window.getHandle());
}

// What a tray filter does with a sign-file request: it sees the copy of the data,
// takes at most 511 bytes and lets the message go on to the window.
class RequestFilter : public VWindowMessageFilter {
 public:
  bool filterMessage(HWND, UINT msg, WPARAM, LPARAM lParam, LRESULT*, bool*) override {
    if (msg == WM_COPYDATA) {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::string path;
      if (cds->dwData == 150 && cds->lpData != nullptr) {
        const char* bytes = static_cast<const char*>(cds->lpData);
        path.assign(bytes, std::min<size_t>(cds->cbData, 511));
        path.resize(strnlen(path.c_str(), path.size()));
      }
      std::ofstream(quarveltest::machineRoot() + "/request-" + std::to_string(cds->dwData)) << path;
    }
    return true;
  }
};

// The program's hidden main window with its filter, until WM_CLOSE ends the loop.
QUARVEL_CHILD(hiddenMainWindow) {
  getApplication()->setAppName("Quarvel");
  VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115,
                                    reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
  class Main : public VMainWindow {
   public:
    RequestFilter filter;
    bool onCreate() override {
      attachFilter(&filter, true, false);
      return VMainWindow::onCreate();
    }
    ~Main() override { attachFilter(&filter, false, true); }
  } window;
  const VRect screen(0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
  return window.create(0, screen, 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, true);
}

TEST_F(MainWindowTest, SignFileRequestsFromAnotherProcessReachTheFilter) {
  quarveltest::ChildProcess child = quarveltest::startChild("hiddenMainWindow");
  HWND h = nullptr;
  for (int i = 0; i < 60000 && h == nullptr; ++i) {
    h = FindWindowA("VWindow", "Quarvel");
    if (h == nullptr) Sleep(1);
  }
  ASSERT_TRUE(h);
  EXPECT_FALSE(IsWindowVisible(h));
  struct Row {
    ULONG_PTR dwData;
    std::string payload;
    std::string expected;
  };
  std::string full(260, '\0');
  full.replace(0, 20, "C:\\Daten\\Antrag.pdf");
  const Row rows[] = {
      {150, full, "C:\\Daten\\Antrag.pdf"},
      {150, std::string(600, 'p'), std::string(511, 'p')},
      {151, "C:\\x.pdf", ""},
  };
  for (const Row& row : rows) {
    COPYDATASTRUCT cds{row.dwData, static_cast<DWORD>(row.payload.size()), const_cast<char*>(row.payload.data())};
    DWORD_PTR result = 1;
    ASSERT_NE(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 3000, &result), 0);
    EXPECT_EQ(result, 0u);  // the window's default processing answers
    std::ifstream in(quarveltest::machineRoot() + "/request-" + std::to_string(row.dwData));
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, row.expected);
  }
  PostMessageA(h, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.wait(), 0);  // WM_CLOSE ends the loop with 0
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel"), nullptr);
}

// Another process of the same user throws every message below WM_USER at the hidden
// main window, with garbage where pointers would be, through the API and written by
// hand. The library sees none that would make it read through such an address
// (WM_NOTIFY, WM_INITDIALOG, WM_NCDESTROY ...), copes with the values, and the
// sign-file request still arrives; only the messages that end the program are kept
// back for the end.
TEST_F(MainWindowTest, GarbageFromAnotherProcessNeitherCrashesNorStopsTheWindow) {
  namespace hostile = quarveltest::hostile;
  quarveltest::ChildProcess child = quarveltest::startChild("hiddenMainWindow");
  HWND h = nullptr;
  for (int i = 0; i < 60000 && h == nullptr; ++i) {
    h = FindWindowA("VWindow", "Quarvel");
    if (h == nullptr) Sleep(1);
  }
  ASSERT_TRUE(h);
  const uint64_t garbage = 0x0000DEAD0000BEEFull;
  const UINT ending[] = {WM_CLOSE, WM_QUERYENDSESSION, WM_ENDSESSION, WM_QUIT};
  const UINT copied[] = {WM_SETTEXT, WM_GETTEXT, WM_COPYDATA};  // the sender would read its own garbage
  for (UINT msg = 0; msg < WM_USER; ++msg) {
    if (std::find(std::begin(ending), std::end(ending), msg) != std::end(ending)) continue;
    for (uint32_t kind : {hostile::kSend, hostile::kPost}) {
      EXPECT_NE(hostile::writeRequest(h, kind, msg, 0x0BAD0000, garbage), hostile::kNoAnswer) << msg;
    }
    if (std::find(std::begin(copied), std::end(copied), msg) == std::end(copied)) {
      DWORD_PTR result = 0;
      SendMessageTimeoutA(h, msg, 0x0BAD0000, static_cast<LPARAM>(garbage), SMTO_NORMAL, 10000, &result);
    }
    PostMessageA(h, msg, 0x0BAD0000, static_cast<LPARAM>(garbage));
  }
  for (UINT msg : {static_cast<UINT>(WM_NOTIFY), static_cast<UINT>(WM_INITDIALOG), static_cast<UINT>(WM_NCDESTROY)})
    EXPECT_EQ(hostile::writeRequest(h, hostile::kSend, msg, 0, garbage), hostile::kRefused) << msg;

  std::string path(260, '\0');
  path.replace(0, 19, "C:\\Daten\\Danach.pdf");
  COPYDATASTRUCT cds{150, static_cast<DWORD>(path.size()), const_cast<char*>(path.data())};
  DWORD_PTR result = 1;
  ASSERT_NE(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, 10000, &result), 0);
  std::ifstream in(quarveltest::machineRoot() + "/request-150");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "C:\\Daten\\Danach.pdf");
  char title[16] = {};
  EXPECT_EQ(GetWindowTextA(h, title, sizeof title), 7);
  EXPECT_STREQ(title, "Quarvel");
  PostMessageA(h, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.wait(), 0);
}

}  // namespace
