// What the tests of Tolmira's dialogs share: a test viewer bound to the plug-in's call
// path, the dialog templates and pictures of Tolmira.api's resource description (built
// into the test program), and the texts and places of a dialog's controls.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HostCalls.h"
#include "PluginState.h"
#include "dialog_picture.h"
#include "platform/window_test.h"

namespace pdftest {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bindHFTs(viewer);
    // The test program carries the module's own resource description, so the dialogs
    // come from the product's templates without loading the module (whose load-time
    // state only the viewer's unload would free).
    pluginInstance = GetModuleHandleA(nullptr);
    hostMainWindow = viewer.mainWindow();
    languageFlag = 1;
  }
  void TearDown() override {
    pluginInstance = nullptr;
    platform::wintest::clearMessageBoxes();
  }

  // What a person reads and sees of a dialog's controls.
 public:
  static std::string text(HWND dialog, int id = 0) {
    HWND window = id == 0 ? dialog : GetDlgItem(dialog, id);
    if (window == nullptr) return "<none>";
    std::string s(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    s.resize(static_cast<size_t>(GetWindowTextA(window, &s[0], static_cast<int>(s.size()))));
    return s;
  }
  static bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
  static bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
  // A control's place in the dialog's client area: left, top, width, height in pixels.
  static RECT place(HWND dialog, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    return RECT{r.left - origin.x, r.top - origin.y, r.right - r.left, r.bottom - r.top};
  }
  // A template's place in dialog units, as the dialog manager maps it to pixels.
  static RECT units(LONG x, LONG y, LONG width, LONG height) {
    RECT r{x, y, width, height};
    MapDialogRect(nullptr, &r);
    return r;
  }

 protected:
  // The dialog's picture, for people to look at, in the test's output.
  static void savePicture(HWND dialog, const std::string& name) {
    EXPECT_TRUE(quarveltest::saveWindowPicture(dialog, PICTURE_DIR, name)) << name;
  }

  vhost::Viewer viewer;
};

}  // namespace pdftest

// Control rectangles compare and print in tests.
inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
