// The reader selection dialog over rows a scan would have found, run on a thread of
// its own as a Java thread would, and worked by a user from the test's thread.
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cardaccess/scan/CwxReaderScan.h"
#include "cardaccess/scan/ReaderDialog.h"
#include "scan_test_support.h"

using scantest::ctapiRow;
using scantest::DialogUser;

namespace {

const std::string kPad = "\x01\x40P";
const std::string kNoPad = "\x01\x40";

// The dialog on a new thread; the result, and whether the dialog left a quit
// message for that thread's own loop.
class DialogThread {
 public:
  DialogThread(std::function<int()> run) {
    m_result = std::async(std::launch::async, [this, run] {
      const int result = run();
      MSG msg;
      m_strayQuit = PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
      return result;
    });
  }
  int result() { return m_result.get(); }
  bool strayQuit() const { return m_strayQuit; }

 private:
  std::future<int> m_result;
  bool m_strayQuit = false;
};

struct Rows {
  std::vector<std::string> ctapi;
  std::vector<std::string> pcsc;
};

Rows standardRows() {
  return {{ctapiRow(2, kPad, "DExxxCT399V2.08"), ctapiRow(3, kPad, "DExxxCT399V2.09"),
           ctapiRow(1, kNoPad, "DECYMPC/SC 1.23"), ctapiRow(4, kNoPad, "DESCT     V3.5 ")},
          {"  Quarvel Sim Reader 00 00", "Other Reader 01 00"}};
}

class ReaderDialog : public testing::Test {
 protected:
  void open(const Rows& rows) {
    scantest::setRows(scan, rows.ctapi, rows.pcsc);
    DialogUser::willAttend();
    run = std::make_unique<DialogThread>([this] { return runReaderDialog(&scan); });
    ASSERT_NE(user.waitForDialog(), nullptr);
  }

  CwxReaderScan scan;
  DialogUser user;
  std::unique_ptr<DialogThread> run;
};

TEST_F(ReaderDialog, ListsKnownTerminalsThenPcscReadersInTheirOrder) {
  open(standardRows());
  const std::vector<std::vector<std::string>> expected = {
      {"Kobil Kaan Professional", "CT-API", "2"},
      {"Cherry Keyboard", "CT-API", "1"},  // its prefix is enough; the later firmware of the KOBIL is not listed
      {"Reiner cyberJack KB", "CT-API", "4"},
      {"Quarvel Sim Reader 00 00", "PC/SC", ""},
      {"Other Reader 01 00", "PC/SC", ""},
  };
  ASSERT_EQ(user.rowCount(), static_cast<int>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    for (int column = 0; column < 3; ++column)
      EXPECT_EQ(user.text(static_cast<int>(i), column), expected[i][column]) << "row " << i << " column " << column;
    EXPECT_FALSE(user.checked(static_cast<int>(i)));
  }
  EXPECT_EQ(user.currentReader(), "Kein Kartenleser konfiguriert");
  EXPECT_FALSE(user.enabled(readerdialog::kApply));
  EXPECT_FALSE(user.enabled(IDOK));
  EXPECT_TRUE(user.enabled(IDCANCEL));
  user.press(IDCANCEL);
  EXPECT_EQ(run->result(), IDCANCEL);
}

struct Control {
  int id;
  const char* className;
  const char* text;
  DWORD style;
};

TEST_F(ReaderDialog, MadeFromItsTemplate) {
  open({{}, {}});
  char text[256] = {};
  GetWindowTextA(user.dialog(), text, sizeof text);
  EXPECT_STREQ(text, "Kartenleser Auswahl");
  const Control controls[] = {
      {2000, "SysListView32", "List1", 0x50810201},
      {1066, "Button", "Aktueller Kartenleser: ", 0x50000007},
      {3015, "Static", "Kein Kartenleser konfiguriert", 0x50020001},
      {2013, "Button", "Übernehmen", 0x58010000},
      {IDOK, "Button", "OK", 0x58010000},
      {IDCANCEL, "Button", "Abbrechen", 0x50010000},
      {1067, "Static", "Wählen Sie den Kartenleser, den Sie mit Quarvel verwenden möchten:", 0x50020000},
  };
  for (const Control& c : controls) {
    HWND item = GetDlgItem(user.dialog(), c.id);
    ASSERT_NE(item, nullptr) << c.id;
    char name[64] = {};
    GetClassNameA(item, name, sizeof name);
    EXPECT_STRCASEEQ(name, c.className) << c.id;
    GetWindowTextA(item, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.id;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(item, GWL_STYLE)), c.style) << c.id;
  }
  const auto extended = SendDlgItemMessageA(user.dialog(), readerdialog::kList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  EXPECT_EQ(static_cast<DWORD>(extended), static_cast<DWORD>(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT));
  EXPECT_NE(SendMessageA(user.dialog(), WM_GETICON, ICON_BIG, 0), 0);
  user.press(IDCANCEL);
  EXPECT_EQ(run->result(), IDCANCEL);
}

TEST_F(ReaderDialog, OneRowTickedAtATimeAndOkOnlyAfterApply) {
  open(standardRows());
  user.tick(0);
  EXPECT_TRUE(user.enabled(readerdialog::kApply));
  EXPECT_FALSE(user.enabled(IDOK));
  user.tick(3);
  EXPECT_FALSE(user.checked(0));
  EXPECT_TRUE(user.checked(3));
  // A click on the disabled OK does nothing: the next action still finds the dialog.
  user.press(IDOK);
  user.tick(1);
  EXPECT_FALSE(user.checked(3));
  user.apply();
  EXPECT_EQ(user.currentReader(), "Cherry Keyboard");
  // Clearing the only ticked row disables "Übernehmen"; OK keeps what was applied.
  user.tick(1, false);
  EXPECT_TRUE(DialogUser::waitUntil([&] { return !user.enabled(readerdialog::kApply); }));
  EXPECT_TRUE(user.enabled(IDOK));
  user.press(IDOK);
  EXPECT_EQ(run->result(), IDOK);
  ASSERT_NE(scan.getChoice(), nullptr);
  EXPECT_STREQ(scan.getChoice()->getReaderName(), "Cherry Keyboard");
  EXPECT_STREQ(scan.getChoice()->getCTAPI(), "CT-API Cherry");
}

struct Confirmed {
  const char* row;
  const char* readerName;
  const char* port;
  const char* ctapi;
  unsigned char useGUI;
};

class ReaderDialogConfirm : public ReaderDialog, public testing::WithParamInterface<Confirmed> {};

TEST_P(ReaderDialogConfirm, OkHandsTheAppliedRowToTheScan) {
  const Confirmed& c = GetParam();
  open(standardRows());
  const int row = user.row(c.row);
  ASSERT_GE(row, 0);
  user.tick(row);
  user.apply();
  user.press(IDOK);
  EXPECT_EQ(run->result(), IDOK);
  EXPECT_FALSE(run->strayQuit());
  ReaderChoice* choice = scan.getChoice();
  ASSERT_NE(choice, nullptr);
  EXPECT_STREQ(choice->getReaderName(), c.readerName);
  EXPECT_STREQ(choice->getPort(), c.port);
  EXPECT_STREQ(choice->getCTAPI(), c.ctapi);
  EXPECT_EQ(choice->getSecure(), 1);
  EXPECT_EQ(choice->getUseGUI(), c.useGUI);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReaderDialogConfirm,
    testing::Values(Confirmed{"Kobil Kaan Professional", "Kobil Kaan Professional", "2", "CT-API KOBIL Systems", 1},
                    Confirmed{"Reiner cyberJack KB", "Reiner cyberJack KB", "4", "CT-API REINER SCT", 0},
                    Confirmed{"Quarvel Sim Reader 00 00", "Quarvel Sim Reader 00 00", "", "PCSC", 1}),
    [](const testing::TestParamInfo<Confirmed>& info) {
      return std::string(info.param.ctapi[0] == 'P' ? "Pcsc" : info.param.port[0] == '2' ? "Kobil" : "Reiner");
    });

enum class Ending { Cancel, CloseBox, CloseMessage };

std::string endingName(Ending ending) {
  switch (ending) {
    case Ending::Cancel:
      return "Cancel";
    case Ending::CloseBox:
      return "CloseBox";
    default:
      return "CloseMessage";
  }
}

class ReaderDialogEnding : public ReaderDialog, public testing::WithParamInterface<Ending> {};

TEST_P(ReaderDialogEnding, CancelledAfterApplyKeepsTheChoice) {
  open(standardRows());
  user.tick(0);
  user.apply();
  switch (GetParam()) {
    case Ending::Cancel:
      user.press(IDCANCEL);
      break;
    case Ending::CloseBox:
      user.closeBox();
      break;
    case Ending::CloseMessage:
      PostMessageA(user.dialog(), WM_CLOSE, 0, 0);
      break;
  }
  EXPECT_EQ(run->result(), IDCANCEL);
  EXPECT_FALSE(run->strayQuit());
  EXPECT_EQ(scan.getChoice(), nullptr);  // nothing was stored, nothing was chosen
}

INSTANTIATE_TEST_SUITE_P(Endings, ReaderDialogEnding,
                         testing::Values(Ending::Cancel, Ending::CloseBox, Ending::CloseMessage),
                         [](const testing::TestParamInfo<Ending>& info) { return endingName(info.param); });

TEST_F(ReaderDialog, ShowsTheConfiguredReader) {
  scan.setChoice(ReaderChoice("Reiner cyberJack e-com", "1", "CT-API REINER SCT", 1, 0));
  open({{}, {}});
  EXPECT_EQ(user.currentReader(), "Reiner cyberJack e-com");
  EXPECT_EQ(user.rowCount(), 0);
  user.closeBox();
  EXPECT_EQ(run->result(), IDCANCEL);
  EXPECT_STREQ(scan.getChoice()->getReaderName(), "Reiner cyberJack e-com");
}

TEST_F(ReaderDialog, OpensAgainOnTheSameThreadWithTheNewRows) {
  DialogUser second;
  std::promise<void> firstDone;
  HWND first = nullptr;
  scantest::setRows(scan, {ctapiRow(2, kPad, "DExxxCT399V2.08")}, {});
  DialogUser::willAttend();
  DialogUser::willAttend();
  DialogThread twice([&] {
    const int a = runReaderDialog(&scan);
    MSG msg;
    const bool quit = PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    firstDone.set_value();
    scantest::setRows(scan, {}, {"Second Reader"});
    const int b = runReaderDialog(&scan);
    return quit ? -100 : a * 10 + b;
  });
  first = user.waitForDialog();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(user.rowCount(), 1);
  user.press(IDCANCEL);
  firstDone.get_future().wait();
  ASSERT_NE(second.waitForDialog(first), nullptr);
  ASSERT_EQ(second.rowCount(), 1);
  EXPECT_EQ(second.text(0, 0), "Second Reader");
  EXPECT_EQ(second.text(0, 1), "PC/SC");
  second.tick(0);
  second.apply();
  second.press(IDOK);
  EXPECT_EQ(twice.result(), IDCANCEL * 10 + IDOK);
  EXPECT_FALSE(twice.strayQuit());
  EXPECT_STREQ(scan.getChoice()->getCTAPI(), "PCSC");
}

TEST_F(ReaderDialog, SecondOpenerIsCancelledWhileOneIsOpen) {
  open(standardRows());
  CwxReaderScan other;
  scantest::setRows(other, {}, {"Another"});
  EXPECT_EQ(std::async(std::launch::async, [&] { return runReaderDialog(&other); }).get(), IDCANCEL);
  EXPECT_EQ(std::async(std::launch::async, [&] { return other.displayReaderDialog(); }).get(), IDCANCEL);
  EXPECT_EQ(user.rowCount(), 5);  // the open dialog kept its own rows
  user.press(IDCANCEL);
  EXPECT_EQ(run->result(), IDCANCEL);
  // Once it is closed, the next one opens.
  open({{}, {"Another"}});
  EXPECT_EQ(user.rowCount(), 1);
  user.press(IDCANCEL);
  EXPECT_EQ(run->result(), IDCANCEL);
}

TEST_F(ReaderDialog, QuitRequestForTheThreadCancelsAndReachesItsLoop) {
  std::promise<DWORD> thread;
  int quitCode = -1;
  scantest::setRows(scan, {}, {"Reader"});
  DialogUser::willAttend();
  DialogThread dialog([&] {
    thread.set_value(GetCurrentThreadId());
    const int result = runReaderDialog(&scan);
    MSG msg;
    if (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quitCode = static_cast<int>(msg.wParam);
    return result;
  });
  const DWORD id = thread.get_future().get();
  ASSERT_NE(user.waitForDialog(), nullptr);
  user.tick(0);
  user.apply();
  PostThreadMessageA(id, WM_QUIT, 7, 0);
  EXPECT_EQ(dialog.result(), IDCANCEL);
  EXPECT_EQ(quitCode, 7);
  EXPECT_EQ(scan.getChoice(), nullptr);
}

}  // namespace
