// The main window: its life with the message loop, session end, menus, title.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "host/app/VApplication.h"
#include "host/window/VMainWindow.h"
#include "platform/window_test.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    getApplication()->setAppName("Quarvel");
    registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
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
  EXPECT_TRUE(VMainWindow::setDocumentTitle("Vertrag.pdf", false));
  char title[64];
  GetWindowTextA(window.getHandle(), title, sizeof title);
  EXPECT_STREQ(title, "Quarvel - Vertrag.pdf");
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel - Vertrag.pdf"), window.getHandle());
}

}  // namespace
