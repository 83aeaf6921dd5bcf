// The window library's tray icon: the shell's record, the tip's limit, the callback
// message turned into click handlers, and the icon removed with the object.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/app/VApplication.h"
#include "host/window/VMainWindow.h"
#include "host/window/VTaskBarIcon.h"
#include "platform/window_test.h"

namespace wt = platform::wintest;

namespace {

class RecordingIcon : public VTaskBarIcon {
 public:
  std::vector<std::string> clicks;
  void onLeftButtonDown(const VPoint& p) override { note("leftDown", p); }
  void onLeftButtonUp(const VPoint& p) override { note("leftUp", p); }
  void onRightDoubleClick(const VPoint& p) override { note("rightDouble", p); }
  void onRightButtonDown(const VPoint& p) override { note("rightDown", p); }
  void onRightButtonUp(const VPoint& p) override { note("rightUp", p); }

 private:
  void note(const char* what, const VPoint& p) {
    clicks.push_back(std::string(what) + "@" + std::to_string(p.x) + "," + std::to_string(p.y));
  }
};

class TrayIconTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    getApplication()->setAppName("Quarvel");
    VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115,
                                      reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
  }
  void SetUp() override {
    ASSERT_TRUE(window.create(0, VRect(0, 0, 200, 100), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false) == 1);
  }
  VMainWindow window;
};

TEST_F(TrayIconTest, TheShellGetsTheRecordAndTheTipIsCutTo63Characters) {
  const std::string tip(100, 't');
  {
    RecordingIcon icon;
    ASSERT_TRUE(icon.add(window, 115, tip.c_str(), nullptr));
    const std::vector<wt::TrayIcon> icons = wt::trayIcons();
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].tip, std::string(63, 't'));
    EXPECT_EQ(icons[0].flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(icons[0].callbackMessage, RegisterWindowMessageA("VTaskBarIcon"));
    EXPECT_EQ(icons[0].icon, icon.getIcon());
    const wt::ShellIconCall add = wt::shellIconCalls().back();
    EXPECT_EQ(add.tip, std::string(63, 't'));
    EXPECT_EQ(add.icon, "resource #115");
    // The whole tooltip stays with the object.
    EXPECT_EQ(std::string(icon.getTooltip().getBuffer()), tip);

    // A second icon object for the same window and id is refused by the shell.
    RecordingIcon twin;
    EXPECT_FALSE(twin.add(window, 0, nullptr, nullptr));
    // Without a tip the application's name is shown.
    EXPECT_EQ(wt::shellIconCalls().back().tip, "Quarvel");
    EXPECT_FALSE(wt::shellIconCalls().back().succeeded);
  }
  // Destroying the object removes the icon.
  EXPECT_TRUE(wt::trayIcons().empty());
  EXPECT_EQ(wt::shellIconCalls().back().message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayIconTest, TheCallbackMessageReachesTheClickHandlersWithTheCursor) {
  RecordingIcon icon;
  ASSERT_TRUE(icon.add(window, 115, "Tip", nullptr));
  wt::setCursorPos(40, 50);
  for (UINT click : std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK,
                                      WM_MOUSEMOVE})
    EXPECT_TRUE(wt::injectTrayCallback(window.getHandle(), 0, click));
  EXPECT_EQ(icon.clicks, (std::vector<std::string>{"leftDown@40,50", "leftUp@40,50", "rightDown@40,50",
                                                   "rightUp@40,50", "rightDouble@40,50"}));
  // The base class's left double click shows a hidden window.
  EXPECT_FALSE(IsWindowVisible(window.getHandle()));
  EXPECT_TRUE(wt::injectTrayCallback(window.getHandle(), 0, WM_LBUTTONDBLCLK));
  EXPECT_TRUE(IsWindowVisible(window.getHandle()));
  // Other messages pass untouched.
  LRESULT result = 0;
  bool handled = false;
  EXPECT_TRUE(icon.filterMessage(window.getHandle(), WM_USER, 0, WM_RBUTTONDOWN, &result, &handled));
  EXPECT_EQ(icon.clicks.size(), 5u);
}

TEST_F(TrayIconTest, SetIconReplacesAndModifyTellsTheShell) {
  RecordingIcon icon;
  ASSERT_TRUE(icon.add(window, 0, "Tip", nullptr));
  EXPECT_EQ(wt::trayIcons()[0].icon, nullptr);
  const int icons = wt::iconCount();
  ASSERT_TRUE(icon.setIcon(115, true, nullptr));
  EXPECT_EQ(wt::trayIcons()[0].icon, icon.getIcon());
  EXPECT_EQ(wt::shellIconCalls().back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(wt::shellIconCalls().back().flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  // The previous icon is destroyed: one icon lives however often it is replaced.
  ASSERT_TRUE(icon.setIcon(115, true, nullptr));
  EXPECT_EQ(wt::iconCount(), icons + 1);
}

}  // namespace
