// Menus, dialogs from templates, message boxes and the tray icon, driven by the
// test API as a user would.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/window_test.h"
#include "quarvel_test.h"
#include "window_test_support.h"

namespace {

namespace wt = platform::wintest;

// Builds an in-memory DLGTEMPLATE with its items, as the resource compiler lays it out.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, const char* title, int cx, int cy) {
    dword(style);
    dword(0);
    countAt_ = bytes_.size();
    word(0);
    word(0);
    word(0);
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(0);  // no menu
    word(0);  // the dialog class
    text(title);
  }
  TemplateBuilder& item(DWORD style, WORD id, WORD atom, const char* cls, const char* title, int x, int y, int cx,
                        int cy) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    word(static_cast<WORD>(x));
    word(static_cast<WORD>(y));
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(id);
    if (atom) {
      word(0xFFFF);
      word(atom);
    } else {
      text(cls);
    }
    text(title);
    word(0);
    ++count_;
    bytes_[countAt_] = static_cast<unsigned char>(count_);
    return *this;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void word(WORD w) {
    bytes_.push_back(static_cast<unsigned char>(w & 0xFF));
    bytes_.push_back(static_cast<unsigned char>(w >> 8));
  }
  void dword(DWORD d) {
    word(static_cast<WORD>(d & 0xFFFF));
    word(static_cast<WORD>(d >> 16));
  }
  void text(const char* s) {
    for (const char* p = s; *p; ++p) word(static_cast<unsigned char>(*p));
    word(0);
  }
  std::vector<unsigned char> bytes_;
  size_t countAt_ = 0;
  int count_ = 0;
};

struct DialogRun {
  std::vector<UINT> commands;
  std::string initText;
  int listCount = -1;
};

INT_PTR CALLBACK readerDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrA(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dlg, DWLP_USER, lParam);
      HWND list = GetDlgItem(dlg, 2000);
      SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
      for (const char* name : {"Leser A", "Leser B"}) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = 99;
        item.pszText = const_cast<char*>(name);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
      }
      SetDlgItemTextA(dlg, 3000, "bereit");
      return TRUE;
    }
    case WM_COMMAND:
      run->commands.push_back(LOWORD(wParam));
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        char text[32];
        GetDlgItemTextA(dlg, 3000, text, sizeof text);
        run->initText = text;
        run->listCount = static_cast<int>(SendDlgItemMessageA(dlg, 2000, LVM_GETITEMCOUNT, 0, 0));
        EndDialog(dlg, LOWORD(wParam));
      }
      return TRUE;
    default:
      return FALSE;
  }
}

TemplateBuilder readerTemplate() {
  TemplateBuilder t(WS_POPUP | WS_CAPTION | DS_MODALFRAME, "Kartenleser", 280, 200);
  t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 0x80, nullptr, "OK", 10, 170, 50, 14)
      .item(BS_PUSHBUTTON, IDCANCEL, 0x80, nullptr, "Abbrechen", 70, 170, 50, 14)
      .item(0x50810201, 2000, 0, "SysListView32", "List1", 15, 74, 251, 116)
      .item(SS_LEFT, 3000, 0x82, nullptr, "", 15, 10, 200, 10);
  return t;
}

TEST(Dialogs, AModalDialogRunsUntilTheScriptPressesOk) {
  TemplateBuilder t = readerTemplate();
  DialogRun run;
  HWND seenDialog = nullptr;
  wt::onNextDialog([&](HWND dlg) {
    seenDialog = dlg;
    char title[32];
    GetWindowTextA(dlg, title, sizeof title);
    EXPECT_STREQ(title, "Kartenleser");
    HWND list = GetDlgItem(dlg, 2000);
    char cls[32];
    GetClassNameA(list, cls, sizeof cls);
    EXPECT_STREQ(cls, "SysListView32");
    // Tick the second reader, then press OK.
    LVITEMA state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageA(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    EXPECT_TRUE(wt::pressButton(dlg, IDOK));
  });
  EXPECT_EQ(DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, readerDialogProc,
                                    reinterpret_cast<LPARAM>(&run)),
            IDOK);
  EXPECT_EQ(run.commands, std::vector<UINT>{IDOK});
  EXPECT_EQ(run.initText, "bereit");
  EXPECT_EQ(run.listCount, 2);
  EXPECT_FALSE(IsWindow(seenDialog));
}

TEST(Dialogs, WithoutAScriptAModalDialogIsCancelled) {
  TemplateBuilder t = readerTemplate();
  DialogRun run;
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.get(), nullptr, readerDialogProc, reinterpret_cast<LPARAM>(&run)),
            IDCANCEL);
  EXPECT_EQ(run.commands, std::vector<UINT>{IDCANCEL});
  // A missing template resource fails.
  EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(202), nullptr, readerDialogProc, 0), -1);
}

TEST(Dialogs, TemplatesFromTheModulesResources) {
  DialogRun run;
  wt::onNextDialog([](HWND dlg) {
    char text[64];
    GetWindowTextA(dlg, text, sizeof text);
    EXPECT_STREQ(text, "Kartenleser konfigurieren");
    GetDlgItemTextA(dlg, 2, text, sizeof text);
    EXPECT_STREQ(text, "Abbrechen");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(GetDlgItem(dlg, 2000), GWL_STYLE)), 0x50810201u);
    RECT client;
    GetClientRect(dlg, &client);
    RECT units{0, 0, 280, 200};
    MapDialogRect(dlg, &units);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    EXPECT_TRUE(wt::pressButton(dlg, IDOK));
  });
  EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(201), nullptr, readerDialogProc,
                            reinterpret_cast<LPARAM>(&run)),
            IDOK);
  EXPECT_EQ(run.initText, "bereit");
  EXPECT_EQ(run.listCount, 2);
}

// A dialog procedure that runs its own loop inside WM_INITDIALOG until WM_QUIT, and
// enables "Übernehmen" (2013) once a row is ticked.
struct NestedRun {
  INT_PTR code = 2;
  std::vector<int> ticked;
};

INT_PTR CALLBACK nestedLoopProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<NestedRun*>(GetWindowLongPtrA(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dlg, DWLP_USER, lParam);
      HWND list = GetDlgItem(dlg, 2000);
      SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
      SendMessageA(dlg, WM_SETICON, ICON_BIG, 0);
      for (const char* name : {"Leser A", "Leser B"}) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = 9;
        item.pszText = const_cast<char*>(name);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
      }
      EnableWindow(GetDlgItem(dlg, 2013), FALSE);
      ShowWindow(dlg, SW_SHOWNORMAL);
      MSG m;
      while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMLISTVIEW*>(lParam);
      if (nm->hdr.idFrom == 2000 && nm->hdr.code == LVN_ITEMCHANGED && (nm->uNewState >> 12) == 2) {
        run->ticked.push_back(nm->iItem);
        EnableWindow(GetDlgItem(dlg, 2013), TRUE);
      }
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) run->code = 1;
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) SendMessageA(dlg, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_CLOSE:
      PostQuitMessage(0);
      EndDialog(dlg, run->code);
      return TRUE;
    default:
      return FALSE;
  }
}

TEST(Dialogs, TheScriptedUserReachesADialogWithItsOwnLoop) {
  TemplateBuilder t(WS_POPUP | WS_CAPTION, "Kartenleser", 280, 200);
  t.item(BS_PUSHBUTTON, IDOK, 0x80, nullptr, "OK", 10, 170, 50, 14)
      .item(BS_PUSHBUTTON, 2013, 0x80, nullptr, "Übernehmen", 70, 170, 50, 14)
      .item(0x50810201, 2000, 0, "SysListView32", "List1", 15, 74, 251, 116);
  NestedRun run;
  bool pressedTooEarly = true;
  wt::onNextDialog([&](HWND dlg) {
    pressedTooEarly = wt::pressButton(dlg, 2013);  // disabled until a row is ticked
    LVITEMA state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageA(GetDlgItem(dlg, 2000), LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    EXPECT_TRUE(wt::pressButton(dlg, 2013));
    EXPECT_TRUE(wt::pressButton(dlg, IDOK));
  });
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.get(), nullptr, nestedLoopProc, reinterpret_cast<LPARAM>(&run)), 1);
  EXPECT_FALSE(pressedTooEarly);
  EXPECT_EQ(run.ticked, std::vector<int>{1});
  // Unscripted, the same dialog is cancelled, and its loop's WM_QUIT stays inside it.
  NestedRun second;
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.get(), nullptr, nestedLoopProc, reinterpret_cast<LPARAM>(&second)), 2);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(Menus, MenusFromTheModulesResources) {
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(107));
  ASSERT_TRUE(menu);
  ASSERT_EQ(GetMenuItemCount(menu), 1);
  HMENU file = GetSubMenu(menu, 0);
  ASSERT_EQ(GetMenuItemCount(file), 5);
  const UINT ids[] = {40016, 0, static_cast<UINT>(-1), 0, 40013};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(GetMenuItemID(file, i), ids[i]) << i;
  char text[64];
  GetMenuStringA(menu, 40018, text, sizeof text, MF_BYCOMMAND);
  EXPECT_STREQ(text, "P&IN ändern");
  EXPECT_EQ(GetMenuState(menu, 40010, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
  EXPECT_EQ(GetMenuState(menu, 40013, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(108)), nullptr);
}

TEST(Dialogs, AModelessDialogAndItsOwner) {
  wintests::recorderClass();
  HWND owner = CreateWindowExA(0, "Recorder", "Besitzer", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr, nullptr,
                               nullptr, nullptr);
  TemplateBuilder t(WS_POPUP | WS_CAPTION, "Fortschritt", 200, 50);
  t.item(0, 1001, 0, "msctls_progress32", "", 5, 5, 190, 10);
  HWND dlg = CreateDialogIndirectParamA(nullptr, t.get(), owner, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR {
    return FALSE;
  }, 0);
  ASSERT_TRUE(dlg);
  EXPECT_EQ(GetParent(dlg), owner);
  EXPECT_FALSE(IsWindowVisible(dlg));  // the template has no WS_VISIBLE
  HWND bar = GetDlgItem(dlg, 1001);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  SendMessageA(bar, PBM_STEPIT, 0, 0);
  SendMessageA(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 2);
  EXPECT_EQ(GetWindowLongPtrA(dlg, DWLP_DLGPROC) != 0, true);
  // The owner goes, and its owned dialog first.
  DestroyWindow(owner);
  EXPECT_FALSE(IsWindow(dlg));
}

TEST(Dialogs, AProgressBarStepsRoundItsRange) {
  TemplateBuilder t(WS_POPUP | WS_CAPTION, "Fortschritt", 200, 50);
  t.item(0, 1001, 0, "msctls_progress32", "", 5, 5, 190, 10);
  HWND dlg = CreateDialogIndirectParamA(nullptr, t.get(), nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR {
    return FALSE;
  }, 0);
  ASSERT_TRUE(dlg);
  HWND bar = GetDlgItem(dlg, 1001);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  for (int i = 0; i < 1000; ++i) SendMessageA(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1000);
  // Past the maximum the bar starts again from the minimum; the step's overshoot carries.
  EXPECT_EQ(SendMessageA(bar, PBM_STEPIT, 0, 0), 1000);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1);
  DestroyWindow(dlg);
}

TEST(Menus, ResourceMenusPopupsAndItemState) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  AppendMenuA(sub, MF_STRING, 40018, "P&IN ändern");
  AppendMenuA(menu, MF_STRING, 40016, "&Über");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Module");
  AppendMenuA(menu, MF_STRING | MF_GRAYED, 40013, "&Beenden");
  EXPECT_EQ(GetMenuItemCount(menu), 4);
  EXPECT_EQ(GetMenuItemID(menu, 0), 40016u);
  EXPECT_EQ(GetMenuItemID(menu, 1), 0u);
  EXPECT_EQ(GetMenuItemID(menu, 2), static_cast<UINT>(-1));
  EXPECT_EQ(GetSubMenu(menu, 2), sub);
  EXPECT_EQ(CheckMenuItem(menu, 40018, MF_BYCOMMAND | MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));
  EXPECT_EQ(GetMenuState(sub, 40018, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(EnableMenuItem(menu, 40013, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
  EXPECT_EQ(EnableMenuItem(menu, 4711, MF_BYCOMMAND | MF_ENABLED), -1);
  char text[32];
  EXPECT_EQ(GetMenuStringA(menu, 40018, text, sizeof text, MF_BYCOMMAND), 12);
  EXPECT_STREQ(text, "P&IN ändern");
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(IsMenu(sub));  // submenus go with their menu
}

TEST(Menus, APopupMenuPicksTheScriptedItem) {
  wintests::recorderClass();
  wintests::seen().clear();
  HWND h = CreateWindowExA(0, "Recorder", "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING, 40003, "&Tip des Tages");
  AppendMenuA(menu, MF_STRING | MF_GRAYED, 40023, "Start");
  wt::clearPopupMenus();
  wt::queuePopupMenuChoice(40003);
  EXPECT_TRUE(TrackPopupMenuEx(menu, 0, 120, 80, h, nullptr));
  wt::queuePopupMenuChoice(40023);  // grayed: cannot be picked
  EXPECT_FALSE(TrackPopupMenuEx(menu, 0, 120, 80, h, nullptr));
  EXPECT_FALSE(TrackPopupMenuEx(menu, 0, 120, 80, h, nullptr));  // nothing queued: dismissed
  wt::queuePopupMenuChoice(40003);
  EXPECT_EQ(TrackPopupMenuEx(menu, TPM_RETURNCMD, 0, 0, h, nullptr), 40003);
  auto records = wt::popupMenus();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].x, 120);
  EXPECT_EQ(records[0].items, (std::vector<std::string>{"&Tip des Tages", "Start"}));
  EXPECT_EQ(records[0].chosen, 40003u);
  EXPECT_EQ(records[1].chosen, 0u);
  // The chosen item arrives as a posted WM_COMMAND, once.
  wt::pumpMessages();
  int commands = 0;
  for (const auto& s : wintests::seen()) {
    if (s.msg == WM_COMMAND && LOWORD(s.wParam) == 40003) ++commands;
  }
  EXPECT_EQ(commands, 1);
  DestroyMenu(menu);
  DestroyWindow(h);
}

TEST(MessageBoxes, AnsweredFromTheScriptAndRecorded) {
  wt::clearMessageBoxes();
  wt::queueMessageBoxAnswer(IDRETRY);
  EXPECT_EQ(MessageBoxA(nullptr, "Die Datei kann nicht signiert werden!", "Fehler", MB_ICONINFORMATION | MB_RETRYCANCEL),
            IDRETRY);
  struct Row {
    UINT type;
    int answer;
  };
  // Unscripted boxes answer as Escape would, so that retry loops end.
  for (const Row& row : {Row{MB_OK, IDOK}, Row{MB_RETRYCANCEL, IDCANCEL}, Row{MB_YESNO, IDNO},
                         Row{MB_YESNOCANCEL, IDCANCEL}, Row{MB_ABORTRETRYIGNORE, IDABORT}}) {
    EXPECT_EQ(MessageBoxA(nullptr, "x", nullptr, row.type), row.answer) << row.type;
  }
  EXPECT_EQ(MessageBoxW(nullptr, u"Prüfung", u"Titel", MB_OK), IDOK);
  auto boxes = wt::messageBoxes();
  ASSERT_EQ(boxes.size(), 7u);
  EXPECT_EQ(boxes[0].text, "Die Datei kann nicht signiert werden!");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(0x45));
  EXPECT_EQ(boxes[1].caption, "Fehler");  // the default caption
  EXPECT_EQ(boxes[6].text, "Prüfung");
  EXPECT_EQ(boxes[6].caption, "Titel");
}

constexpr UINT kWhileOpen = WM_APP + 7;

// What the box's owner saw of a message dispatched while a box was open.
struct DuringBox {
  int dispatched = 0;
  bool ownerEnabled = true;
};

DuringBox& duringBox() {
  static DuringBox d;
  return d;
}

HWND boxOwner() {
  wintests::recorderClass();
  duringBox() = DuringBox{};
  wintests::handlers()[kWhileOpen] = [](HWND hwnd, WPARAM, LPARAM) -> LRESULT {
    ++duringBox().dispatched;
    duringBox().ownerEnabled = IsWindowEnabled(hwnd) != FALSE;
    return 0;
  };
  return CreateWindowExA(0, "Recorder", "Besitzer", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                         nullptr);
}

TEST(MessageBoxes, APumpingBoxDispatchesBeforeItAnswers) {
  struct Row {
    bool pumping;
    int dispatchedDuringBox;
  };
  for (const Row& row : {Row{false, 0}, Row{true, 1}}) {
    HWND owner = boxOwner();
    ASSERT_TRUE(owner);
    wt::setPumpingMessageBoxes(row.pumping);
    ASSERT_TRUE(PostMessageA(owner, kWhileOpen, 0, 0));
    wt::queueMessageBoxAnswer(IDRETRY);
    EXPECT_EQ(MessageBoxA(owner, "Offen", "Titel", MB_RETRYCANCEL), IDRETRY) << row.pumping;
    EXPECT_EQ(duringBox().dispatched, row.dispatchedDuringBox) << row.pumping;
    EXPECT_FALSE(duringBox().ownerEnabled && row.pumping) << "a box disables its owner while it is open";
    EXPECT_TRUE(IsWindowEnabled(owner));
    wt::pumpMessages();  // what the box left queued
    EXPECT_EQ(duringBox().dispatched, 1) << row.pumping;
    DestroyWindow(owner);
  }
  wt::setPumpingMessageBoxes(false);
}

TEST(MessageBoxes, APumpingBoxServesSendersWhileItWaitsForTheAnswer) {
  HWND owner = boxOwner();
  ASSERT_TRUE(owner);
  wt::setPumpingMessageBoxes(true);
  wt::setDesktopMessageBoxesWait(true);
  // The test's other hand: once the box shows, a message from another thread, then the answer.
  static size_t shownBefore;
  shownBefore = wt::desktopMessageBoxes().size();
  HANDLE tester = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    HWND target = static_cast<HWND>(p);
    quarveltest::eventually([] { return wt::desktopMessageBoxes().size() > shownBefore; });
    SendMessageA(target, kWhileOpen, 0, 0);
    wt::queueDesktopMessageBoxAnswer(IDNO);
    return 0;
  }, owner, 0, nullptr);
  ASSERT_TRUE(tester);
  EXPECT_EQ(MessageBoxA(owner, "Wartet", "Titel", MB_YESNO), IDNO);
  EXPECT_EQ(duringBox().dispatched, 1);
  EXPECT_FALSE(duringBox().ownerEnabled);
  EXPECT_EQ(WaitForSingleObject(tester, 60000), WAIT_OBJECT_0);
  CloseHandle(tester);
  wt::setDesktopMessageBoxesWait(false);
  wt::setPumpingMessageBoxes(false);
  DestroyWindow(owner);
}

TEST(MessageBoxes, AQuitEndsTheBoxLoopAndStaysQueued) {
  HWND owner = boxOwner();
  ASSERT_TRUE(owner);
  wt::setPumpingMessageBoxes(true);
  PostQuitMessage(3);
  ASSERT_TRUE(PostMessageA(owner, kWhileOpen, 0, 0));
  EXPECT_EQ(MessageBoxA(owner, "Ende", "Titel", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(duringBox().dispatched, 1);  // posted messages come before the quit
  MSG m;
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.wParam, 3u);
  wt::setPumpingMessageBoxes(false);
  DestroyWindow(owner);
}

// A dialog that tells of a failure in a box from WM_INITDIALOG, then goes on or ends.
INT_PTR CALLBACK boxInInitProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND) {
    EndDialog(dlg, LOWORD(wParam));
    return TRUE;
  }
  if (msg != WM_INITDIALOG) return FALSE;
  MessageBoxA(dlg, "Fehler beim Lesen", "Fehler", MB_ICONERROR);
  if (lParam != 0) EndDialog(dlg, -1);
  return TRUE;
}

TEST(MessageBoxes, TheDialogsUserWaitsWhileItsBoxIsOpen) {
  TemplateBuilder t(WS_POPUP | WS_CAPTION, "Information", 200, 100);
  t.item(BS_PUSHBUTTON, IDOK, 0x80, nullptr, "OK", 10, 70, 50, 14);
  wt::setPumpingMessageBoxes(true);
  struct Row {
    bool endsInInit;
    bool userComes;
  };
  for (const Row& row : {Row{false, true}, Row{true, false}}) {
    wt::clearMessageBoxes();
    bool boxAnsweredFirst = false;
    bool came = false;
    wt::onNextDialog([&](HWND dlg) {
      came = true;
      boxAnsweredFirst = wt::messageBoxes().size() == 1;
      wt::pressButton(dlg, IDOK);
    });
    const INT_PTR result =
        DialogBoxIndirectParamA(nullptr, t.get(), nullptr, boxInInitProc, row.endsInInit ? 1 : 0);
    EXPECT_EQ(came, row.userComes) << row.endsInInit;
    EXPECT_EQ(boxAnsweredFirst, row.userComes) << row.endsInInit;
    EXPECT_EQ(result, row.endsInInit ? -1 : IDOK);
  }
  wt::setPumpingMessageBoxes(false);
}

// The mode as a program under test gets it: from the environment.
QUARVEL_CHILD(boxPumpsByEnvironment) {
  HWND owner = boxOwner();
  PostMessageA(owner, kWhileOpen, 0, 0);
  MessageBoxA(owner, "Umgebung", "Titel", MB_OK);
  return duringBox().dispatched;
}

TEST(MessageBoxes, TheEnvironmentTurnsThePumpingModeOn) {
  setenv("QUARVEL_PUMPING_MESSAGE_BOXES", "1", 1);
  EXPECT_EQ(quarveltest::runChild("boxPumpsByEnvironment"), 1);
  unsetenv("QUARVEL_PUMPING_MESSAGE_BOXES");
  EXPECT_EQ(quarveltest::runChild("boxPumpsByEnvironment"), 0);
}

TEST(Tray, IconsAndTheirCallbacks) {
  wintests::recorderClass();
  wintests::seen().clear();
  HWND h = CreateWindowExA(0, "Recorder", "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const UINT callback = RegisterWindowMessageA("VTaskBarIcon");
  EXPECT_EQ(callback, RegisterWindowMessageA("vtaskbaricon"));
  EXPECT_GE(callback, 0xC000u);
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = h;
  nid.uID = 0;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = callback;
  nid.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(115));
  memset(nid.szTip, 'x', sizeof nid.szTip);  // not terminated: 63 characters are taken
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid));
  auto icons = wt::trayIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].tip, std::string(63, 'x'));
  EXPECT_EQ(icons[0].icon, nid.hIcon);
  strcpy(nid.szTip, " VOQ Quarvel");
  nid.uFlags = NIF_TIP;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &nid));
  EXPECT_EQ(wt::trayIcons()[0].tip, " VOQ Quarvel");
  ASSERT_TRUE(wt::injectTrayCallback(h, 0, WM_RBUTTONDOWN));
  ASSERT_FALSE(wintests::seen().empty());
  EXPECT_EQ(wintests::seen().back().msg, callback);
  EXPECT_EQ(wintests::seen().back().lParam, WM_RBUTTONDOWN);
  EXPECT_FALSE(wt::injectTrayCallback(h, 5, WM_RBUTTONDOWN));
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
  EXPECT_TRUE(wt::trayIcons().empty());
  nid.cbSize = 8;  // too small a record
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid));
  DestroyWindow(h);
}

}  // namespace
