// The progress dialog on the headless window layer, from the test's resources
// (template 128 with the bar 1129, as the plug-in's own).
#include "certcheck/VOQ_ProgressDialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LiveThreads.h"
#include "platform/window_test.h"

namespace st = servicestest;
namespace wt = platform::wintest;

namespace {

const char kTitle[] = "Verifiziere Signatur ...";

// The dialogs of this process with the title.
std::vector<wt::WindowInfo> progressWindows() {
  std::vector<wt::WindowInfo> found;
  for (const wt::WindowInfo& w : wt::topLevelWindows()) {
    if (w.processId == static_cast<DWORD>(getpid()) && w.title == kTitle) found.push_back(w);
  }
  return found;
}

LRESULT barPosition(HWND dialog) { return SendMessageA(GetDlgItem(dialog, 1129), PBM_GETPOS, 0, 0); }

class ProgressDialogTest : public st::NoThreadLeftBehind {
 protected:
  // Starts the dialog and waits until it shows and its bar has moved.
  HWND startAndWatch(VOQ_ProgressDialog& dialog) {
    EXPECT_EQ(dialog.start(0), 0u);
    EXPECT_TRUE(quarveltest::eventually([&] { return dialog.getDialog() != nullptr; }));
    HWND window = dialog.getDialog();
    EXPECT_TRUE(quarveltest::eventually([&] { return barPosition(window) > 3; }));
    return window;
  }
  HINSTANCE module = GetModuleHandleA(nullptr);
};

TEST_F(ProgressDialogTest, ShownAdvancedAndStoppedByTheOwner) {
  HWND owner = reinterpret_cast<HWND>(0x1234);  // kept only, never used as a parent
  VOQ_ProgressDialog dialog(owner, kTitle, 128, 1129, module);
  EXPECT_FALSE(dialog.isRunning());
  HWND window = startAndWatch(dialog);
  EXPECT_TRUE(dialog.isRunning());
  std::vector<wt::WindowInfo> shown = progressWindows();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].hwnd, window);
  EXPECT_TRUE(shown[0].visible);
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_EQ(dialog.getOwner(), owner);
  // The bar keeps moving: a later look finds it further on (or wrapped round).
  const LRESULT first = barPosition(window);
  EXPECT_TRUE(quarveltest::eventually([&] { return barPosition(window) != first; }));

  EXPECT_EQ(dialog.stop(true), -1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(dialog.getDialog(), nullptr);
  EXPECT_TRUE(progressWindows().empty());
}

TEST_F(ProgressDialogTest, DeletingAStartedDialogEndsItsThreadAndWindow) {
  HWND window = nullptr;
  {
    VOQ_ProgressDialog dialog(nullptr, kTitle, 128, 1129, module);
    window = startAndWatch(dialog);
  }
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(progressWindows().empty());
}

TEST_F(ProgressDialogTest, AUserCancelNeitherEndsTheDialogNorItsThread) {
  VOQ_ProgressDialog dialog(nullptr, kTitle, 128, 1129, module);
  HWND window = startAndWatch(dialog);
  // Escape and the close box: the dialog procedure handles neither, the work goes on.
  SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
  const LRESULT position = barPosition(window);
  EXPECT_TRUE(quarveltest::eventually([&] { return barPosition(window) != position; }));
  EXPECT_EQ(dialog.stop(true), -1);
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressDialogTest, AMissingTemplateGivesNoWindowAndStaysStoppable) {
  VOQ_ProgressDialog dialog(nullptr, kTitle, 999, 1129, module);
  ASSERT_EQ(dialog.start(0), 0u);
  ASSERT_TRUE(quarveltest::eventually([&] { return dialog.isRunning(); }));
  EXPECT_EQ(dialog.getDialog(), nullptr);
  EXPECT_TRUE(progressWindows().empty());
  EXPECT_EQ(dialog.stop(true), -1);
}

TEST_F(ProgressDialogTest, TheDialogProcedure) {
  VOQ_ProgressDialog dialog(nullptr, kTitle, 128, 1129, module);
  struct Case {
    UINT message;
    INT_PTR before;  // no current dialog registered
    INT_PTR after;   // after setCurrent
  } const cases[] = {
      {WM_INITDIALOG, FALSE, TRUE}, {WM_DESTROY, TRUE, TRUE},       {WM_ENTERIDLE, TRUE, TRUE},
      {WM_COMMAND, FALSE, FALSE},   {WM_PAINT, FALSE, FALSE},       {WM_CLOSE, FALSE, FALSE},
  };
  for (const Case& c : cases) EXPECT_EQ(VOQ_ProgressDialog::dlgProc(nullptr, c.message, 0, 0), c.before) << c.message;
  dialog.setCurrent(1, 2, 3);
  EXPECT_EQ(dialog.getValue(1), 2);
  for (const Case& c : cases) EXPECT_EQ(VOQ_ProgressDialog::dlgProc(nullptr, c.message, 0, 0), c.after) << c.message;
}

TEST_F(ProgressDialogTest, AFreedCurrentDialogIsNoLongerCurrent) {
  {
    VOQ_ProgressDialog dialog(nullptr, kTitle, 128, 1129, module);
    dialog.setCurrent(0, 0, 0);
    EXPECT_EQ(VOQ_ProgressDialog::dlgProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
  }
  EXPECT_EQ(VOQ_ProgressDialog::dlgProc(nullptr, WM_INITDIALOG, 0, 0), FALSE);
}

}  // namespace
