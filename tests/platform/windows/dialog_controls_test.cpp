// The controls of dialogs as a user drives them: edits that take digits only or mask
// what is typed, sorted lists, drop-down lists, radio groups and picture statics.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/window_test.h"

namespace {

namespace wt = platform::wintest;

// One dialog made from nothing but CreateWindowExA: the controls a test asks for, each
// notification the dialog receives recorded as (control, code).
class ControlsDialog {
 public:
  ControlsDialog() {
    dialog_ = CreateWindowExA(0, "#32770", "Steuerelemente", WS_POPUP | WS_CAPTION, 0, 0, 400, 300, nullptr,
                              nullptr, nullptr, nullptr);
    SetWindowLongPtrA(dialog_, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(dialog_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&proc));
  }
  ~ControlsDialog() { DestroyWindow(dialog_); }
  HWND add(const char* cls, int id, DWORD style, const char* text = "") {
    return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 10, 10, 100, 20, dialog_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  }
  HWND dialog() const { return dialog_; }
  std::vector<std::pair<int, int>> notifications;

 private:
  static INT_PTR CALLBACK proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_COMMAND) {
      auto* self = reinterpret_cast<ControlsDialog*>(GetWindowLongPtrA(dlg, DWLP_USER));
      if (self != nullptr && HIWORD(wParam) != EN_CHANGE) self->notifications.emplace_back(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    }
    return FALSE;
  }
  HWND dialog_ = nullptr;
};

std::string text(HWND window) {
  char buffer[256] = {0};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::vector<std::string> rows(HWND list, bool combo) {
  std::vector<std::string> out;
  const int count = static_cast<int>(SendMessageA(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::string row(static_cast<size_t>(SendMessageA(list, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0)), '\0');
    SendMessageA(list, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(&row[0]));
    out.push_back(row);
  }
  return out;
}

TEST(DialogControls, EditsTakeWhatTheirStyleAllows) {
  ControlsDialog d;
  HWND number = d.add("Edit", 10, ES_NUMBER | WS_BORDER);
  HWND secret = d.add("Edit", 11, ES_PASSWORD);
  HWND plain = d.add("Edit", 12, 0, "alt");
  HWND readOnly = d.add("Edit", 13, ES_READONLY, "fest");

  EXPECT_TRUE(wt::typeText(d.dialog(), 10, "8a0-8 "));
  EXPECT_EQ(text(number), "808");
  SendMessageA(plain, EM_SETLIMITTEXT, 5, 0);
  EXPECT_EQ(SendMessageA(plain, EM_GETLIMITTEXT, 0, 0), 5);
  EXPECT_TRUE(wt::typeText(d.dialog(), 12, "1234567"));
  EXPECT_EQ(text(plain), "12345");
  // The limit binds the user only; a program may set a longer text.
  SetWindowTextA(plain, "1234567");
  EXPECT_EQ(text(plain), "1234567");
  EXPECT_TRUE(wt::typeText(d.dialog(), 13, "neu"));
  EXPECT_EQ(text(readOnly), "");  // typed over: what was there is gone, nothing arrives

  // A password field shows '*' until told otherwise; its text is what was typed.
  EXPECT_EQ(SendMessageA(secret, EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(SendMessageA(plain, EM_GETPASSWORDCHAR, 0, 0), 0);
  SendMessageA(secret, EM_SETPASSWORDCHAR, '#', 0);
  EXPECT_EQ(SendMessageA(secret, EM_GETPASSWORDCHAR, 0, 0), '#');
  wt::typeText(d.dialog(), 11, "geheim");
  EXPECT_EQ(text(secret), "geheim");

  EnableWindow(number, FALSE);
  EXPECT_FALSE(wt::typeText(d.dialog(), 10, "1"));
  EXPECT_FALSE(wt::typeText(d.dialog(), 99, "1"));
}

TEST(DialogControls, SortedListsFoldCaseAndAccents) {
  ControlsDialog d;
  HWND sorted = d.add("ListBox", 20, LBS_SORT | LBS_NOTIFY);
  HWND plain = d.add("ListBox", 21, 0);
  HWND combo = d.add("ComboBox", 22, CBS_DROPDOWNLIST | CBS_SORT);
  const char* in[] = {"Zebra", "äpfel", "Apfel", "apfel", "Öl", "ober", "Straße", "strasse", "Über", "Ähre"};
  for (const char* t : in) {
    SendMessageA(sorted, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    SendMessageA(plain, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  }
  const std::vector<std::string> expected = {"Ähre", "Apfel", "apfel", "äpfel", "ober", "Öl",
                                             "Straße", "strasse", "Über", "Zebra"};
  EXPECT_EQ(rows(sorted, false), expected);
  EXPECT_EQ(rows(combo, true), expected);
  EXPECT_EQ(rows(plain, false), std::vector<std::string>(std::begin(in), std::end(in)));

  // A row added before the selection moves it along with its row.
  SendMessageA(sorted, LB_SETCURSEL, 4, 0);
  SendMessageA(sorted, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Aal"));
  EXPECT_EQ(SendMessageA(sorted, LB_GETCURSEL, 0, 0), 5);
  SendMessageA(sorted, LB_SETHORIZONTALEXTENT, 1024, 0);
  EXPECT_EQ(SendMessageA(sorted, LB_GETHORIZONTALEXTENT, 0, 0), 1024);
}

TEST(DialogControls, PickingARowNotifiesTheDialog) {
  ControlsDialog d;
  HWND list = d.add("ListBox", 30, LBS_NOTIFY);
  HWND silent = d.add("ListBox", 31, 0);
  HWND combo = d.add("ComboBox", 32, CBS_DROPDOWNLIST);
  for (const char* t : {"01", "02", "03"}) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    SendMessageA(silent, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  }
  // A program's selection is silent, as on the system.
  EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 1, 0), 1);
  EXPECT_EQ(text(combo), "02");
  EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 7, 0), CB_ERR);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(text(combo), "");
  EXPECT_TRUE(d.notifications.empty());

  EXPECT_TRUE(wt::pickListRow(d.dialog(), 30, 2));
  EXPECT_TRUE(wt::pickListRow(d.dialog(), 31, 1));
  EXPECT_TRUE(wt::pickListRow(d.dialog(), 32, 0));
  EXPECT_FALSE(wt::pickListRow(d.dialog(), 32, 3));
  EnableWindow(combo, FALSE);
  EXPECT_FALSE(wt::pickListRow(d.dialog(), 32, 1));
  EXPECT_EQ((d.notifications), (std::vector<std::pair<int, int>>{{30, LBN_SELCHANGE}, {32, CBN_SELCHANGE}}));
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendMessageA(silent, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(text(combo), "01");
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST(DialogControls, CheckRadioButtonChecksOneOfTheRange) {
  ControlsDialog d;
  for (int id = 40; id <= 43; ++id) d.add("Button", id, BS_AUTORADIOBUTTON);
  CheckDlgButton(d.dialog(), 43, BST_CHECKED);  // outside the range: stays
  EXPECT_TRUE(CheckRadioButton(d.dialog(), 40, 42, 41));
  EXPECT_TRUE(CheckRadioButton(d.dialog(), 40, 42, 42));
  std::vector<UINT> states;
  for (int id = 40; id <= 43; ++id) states.push_back(IsDlgButtonChecked(d.dialog(), id));
  EXPECT_EQ(states, (std::vector<UINT>{BST_UNCHECKED, BST_UNCHECKED, BST_CHECKED, BST_CHECKED}));
  EXPECT_FALSE(CheckRadioButton(d.dialog(), 40, 42, 77));
}

TEST(DialogControls, AnAutomaticRadioButtonClearsItsGroup) {
  ControlsDialog d;
  d.add("Button", 50, BS_AUTORADIOBUTTON | WS_GROUP);
  d.add("Button", 51, BS_AUTORADIOBUTTON);
  d.add("Button", 52, BS_RADIOBUTTON);  // not automatic: left alone
  d.add("Button", 53, BS_AUTORADIOBUTTON | WS_GROUP);  // the next group
  for (int id = 50; id <= 53; ++id) CheckDlgButton(d.dialog(), id, BST_CHECKED);
  EXPECT_TRUE(wt::pressButton(d.dialog(), 51));
  std::vector<UINT> states;
  for (int id = 50; id <= 53; ++id) states.push_back(IsDlgButtonChecked(d.dialog(), id));
  EXPECT_EQ(states, (std::vector<UINT>{BST_UNCHECKED, BST_CHECKED, BST_CHECKED, BST_CHECKED}));
  EXPECT_EQ((d.notifications), (std::vector<std::pair<int, int>>{{51, BN_CLICKED}}));
}

INT_PTR CALLBACK okProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dlg, LOWORD(wParam));
    return TRUE;
  }
  return msg == WM_INITDIALOG;
}

TEST(DialogControls, APictureControlOwnsTheBitmapItsTemplateNames) {
  const int bitmapsBefore = wt::gdiObjectCount(OBJ_BITMAP);
  int width = 0;
  wt::onNextDialog([&](HWND dlg) {
    HWND picture = GetWindow(dlg, GW_CHILD);
    auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    width = wt::bitmapImage(bitmap).width;
    EXPECT_EQ(wt::gdiObjectCount(OBJ_BITMAP), bitmapsBefore + 1);
    wt::pressKey(dlg, VK_RETURN);
  });
  EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(203), nullptr, okProc, 0), IDOK)
      << GetLastError();
  EXPECT_GT(width, 0);
  EXPECT_EQ(wt::gdiObjectCount(OBJ_BITMAP), bitmapsBefore);
}

}  // namespace
