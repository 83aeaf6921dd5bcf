// What of a window message crosses from one process to another: values and what the
// layer copies, nothing else. The receiver runs in a process of its own; the sender is
// this test, once as an honest program through the API and once as a hostile one that
// writes the wire itself, with garbage where pointers would be.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "hostile_sender.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace {

namespace wt = platform::wintest;

constexpr UINT kReport = WM_USER + 10;  // the receiver writes what reached its procedure
constexpr UINT kStop = WM_USER + 11;
// Where a pointer would be: an address that is no valid object in any process here.
constexpr LPARAM kGarbage = static_cast<LPARAM>(0x0000DEAD0000BEEFull);
constexpr WPARAM kGarbageW = static_cast<WPARAM>(0x00000BADF00Dull);

std::string rootFile(const std::string& name) { return quarveltest::machineRoot() + "/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// --- The receiver ----------------------------------------------------------------

std::vector<UINT> g_delivered;
bool g_stop = false;

// A procedure a forged WM_TIMER would name: leaves a mark when it is ever called.
void CALLBACK forgedTarget(HWND, UINT, UINT_PTR, DWORD) { std::ofstream(rootFile("forged-called")).put('1'); }

LRESULT CALLBACK marshalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_delivered.push_back(msg);
  switch (msg) {
    case kReport: {
      std::ofstream out(rootFile("delivered-" + std::to_string(wParam) + ".txt"), std::ios::trunc);
      for (UINT m : g_delivered) out << m << '\n';
      g_delivered.clear();
      return 1;
    }
    case kStop:
      g_stop = true;
      PostQuitMessage(0);
      return 0;
    // What would end or hide the receiver is not the point here.
    case WM_CLOSE:
    case WM_SYSCOMMAND:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
    case WM_SHOWWINDOW:
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

HWND topLevel(const char* cls, const char* title) {
  return CreateWindowExA(0, cls, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
}

// A window "VMarshal" with a child list box, and the built-in controls as top-level
// windows, served until kStop. It leaves in files the child's handle and the address
// of a procedure of its own that a forger would name.
QUARVEL_CHILD(marshalReceiver) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = marshalProc;
  wc.lpszClassName = "VMarshal";
  if (!RegisterClassA(&wc)) return 2;
  HWND main = topLevel("VMarshal", "Empfaenger");
  HWND child = CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, main,
                               reinterpret_cast<HMENU>(7), nullptr, nullptr);
  HWND list = topLevel("ListBox", "Liste");
  HWND combo = topLevel("ComboBox", "Auswahl");
  HWND view = topLevel("SysListView32", "Ansicht");
  HWND bar = topLevel("msctls_progress32", "Fortschritt");
  HWND edit = topLevel("Edit", "Eingabe");
  if (!main || !child || !list || !combo || !view || !bar || !edit) return 3;
  for (HWND l : {child, list}) {
    SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("eins"));
    SendMessageA(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("zwei"));
  }
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("drei"));
  LVCOLUMNA column{};
  SendMessageA(view, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<char*>("vier");
  SendMessageA(view, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  SendMessageA(bar, PBM_SETRANGE32, 0, 100);
  SendMessageA(bar, PBM_SETPOS, 40, 0);
  g_delivered.clear();  // what its making brought
  {
    std::ofstream out(rootFile("receiver.txt"), std::ios::trunc);
    out << reinterpret_cast<uintptr_t>(child) << ' ' << reinterpret_cast<uintptr_t>(&forgedTarget) << '\n';
  }
  MSG msg;
  while (!g_stop) {
    const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
    if (r < 0) return 4;
    if (r > 0) DispatchMessageA(&msg);  // a WM_QUIT from another process does not end it
  }
  // Everything still stands as it was made.
  char text[16] = {};
  if (SendMessageA(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)) != 4 || strcmp(text, "zwei") != 0) return 5;
  if (SendMessageA(view, LVM_GETITEMCOUNT, 0, 0) != 1 || SendMessageA(bar, PBM_GETPOS, 0, 0) != 40) return 6;
  return 0;
}

HWND waitForWindow(const char* cls, const char* title) {
  for (int i = 0; i < 60000; ++i) {
    if (HWND h = FindWindowA(cls, title)) return h;
    Sleep(1);
  }
  return nullptr;
}

// What reached the receiver's procedure since the last report (posted messages, which
// queue behind whatever was posted before, included).
std::multiset<UINT> delivered(HWND receiver, int round) {
  const std::string path = rootFile("delivered-" + std::to_string(round) + ".txt");
  EXPECT_TRUE(PostMessageA(receiver, kReport, static_cast<WPARAM>(round), 0));
  EXPECT_TRUE(quarveltest::eventually([&] { return std::ifstream(path).good() && !readFile(path).empty(); }));
  std::multiset<UINT> out;
  std::istringstream in(readFile(path));
  for (UINT m; in >> m;) {
    if (m != kReport) out.insert(m);
  }
  return out;
}

class Receiver {
 public:
  Receiver() : child_(quarveltest::startChild("marshalReceiver")) {
    main_ = waitForWindow("VMarshal", "Empfaenger");
    EXPECT_TRUE(quarveltest::eventually([] { return !readFile(rootFile("receiver.txt")).empty(); }));
    std::istringstream in(readFile(rootFile("receiver.txt")));
    uintptr_t child = 0;
    in >> child >> forgedTarget_;
    child_list_ = reinterpret_cast<HWND>(child);
  }
  ~Receiver() {
    if (main_ != nullptr) PostMessageA(main_, kStop, 0, 0);
    EXPECT_EQ(child_.wait(), 0) << "the receiver must still stand, with its controls as they were";
  }
  HWND main() const { return main_; }
  HWND childList() const { return child_list_; }
  LPARAM forgedTarget() const { return static_cast<LPARAM>(forgedTarget_); }

 private:
  quarveltest::ChildProcess child_;
  HWND main_ = nullptr;
  HWND child_list_ = nullptr;
  uintptr_t forgedTarget_ = 0;
};

// --- The hostile sender ------------------------------------------------------------

using quarveltest::hostile::kCopyData;
using quarveltest::hostile::kHandled;
using quarveltest::hostile::kNoAnswer;
using quarveltest::hostile::kNoPayload;
using quarveltest::hostile::kPost;
using quarveltest::hostile::kRefused;
using quarveltest::hostile::kSend;
using quarveltest::hostile::kTextIn;
using quarveltest::hostile::kTextOut;
using quarveltest::hostile::kWindowPos;

int wire(HWND target, uint32_t kind, UINT msg, uint64_t wParam, uint64_t lParam, uint32_t payload = kNoPayload,
         const std::string& bytes = std::string()) {
  return quarveltest::hostile::writeRequest(target, kind, msg, wParam, lParam, payload, bytes);
}
int wireVia(HWND via, HWND target, uint32_t kind, UINT msg, uint64_t wParam, uint64_t lParam) {
  return quarveltest::hostile::writeRequest(via, target, kind, msg, wParam, lParam);
}

// --- Cases -------------------------------------------------------------------------

enum class Rule { Crosses, Refused };

// Messages below WM_USER by what they carry, to the receiver's main window.
struct Case {
  const char* name;
  UINT msg;
  LPARAM lParam;
  Rule send;
  Rule post;
};
const Case kCases[] = {
    {"WM_NULL", WM_NULL, 0, Rule::Crosses, Rule::Crosses},
    {"WM_COMMAND (a control's handle)", WM_COMMAND, kGarbage, Rule::Crosses, Rule::Crosses},
    {"WM_CLOSE", WM_CLOSE, 0, Rule::Crosses, Rule::Crosses},
    {"WM_SETFONT (a handle)", WM_SETFONT, kGarbage, Rule::Crosses, Rule::Crosses},
    {"WM_CTLCOLORDLG (a handle)", WM_CTLCOLORDLG, kGarbage, Rule::Crosses, Rule::Crosses},
    {"WM_TIMER without a procedure", WM_TIMER, 0, Rule::Crosses, Rule::Crosses},
    {"WM_TIMER naming a procedure", WM_TIMER, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_INITDIALOG", WM_INITDIALOG, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_CREATE", WM_CREATE, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_NCCREATE", WM_NCCREATE, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_DESTROY", WM_DESTROY, 0, Rule::Refused, Rule::Refused},
    {"WM_NCDESTROY", WM_NCDESTROY, 0, Rule::Refused, Rule::Refused},
    {"WM_NOTIFY", WM_NOTIFY, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_GETMINMAXINFO", WM_GETMINMAXINFO, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_WINDOWPOSCHANGING", WM_WINDOWPOSCHANGING, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_NCCALCSIZE", WM_NCCALCSIZE, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_DRAWITEM", 0x002B, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_GETDLGCODE (a MSG)", 0x0087, kGarbage, Rule::Refused, Rule::Refused},
    {"WM_SETTINGCHANGE (a text)", 0x001A, kGarbage, Rule::Refused, Rule::Refused},
    {"LB_GETTEXT", LB_GETTEXT, kGarbage, Rule::Refused, Rule::Refused},
    {"LB_ADDSTRING", LB_ADDSTRING, kGarbage, Rule::Refused, Rule::Refused},
    {"CB_GETLBTEXT", CB_GETLBTEXT, kGarbage, Rule::Refused, Rule::Refused},
    {"EM_GETLINE", 0x00C4, kGarbage, Rule::Refused, Rule::Refused},
    {"the layer's own SetWindowPos request", 0x03F0, kGarbage, Rule::Refused, Rule::Refused},
};

TEST(MessageMarshalling, TheSenderRefusesWhatCannotCrossWithThePlatformsCodes) {
  Receiver receiver;
  HWND h = receiver.main();
  ASSERT_TRUE(h);
  std::multiset<UINT> expected;
  for (const Case& c : kCases) {
    DWORD_PTR result = 77;
    SetLastError(0);
    const LRESULT sent = SendMessageTimeoutA(h, c.msg, kGarbageW, c.lParam, SMTO_NORMAL, 10000, &result);
    const DWORD sendError = GetLastError();
    SetLastError(0);
    const BOOL posted = PostMessageA(h, c.msg, kGarbageW, c.lParam);
    const DWORD postError = GetLastError();
    if (c.send == Rule::Crosses) {
      EXPECT_NE(sent, 0) << c.name << " error " << sendError;
      expected.insert(c.msg);
    } else {
      EXPECT_EQ(sent, 0) << c.name;
      EXPECT_EQ(result, 0u) << c.name;
      // The layer's own request is not the caller's to send at all.
      EXPECT_EQ(sendError, static_cast<DWORD>(c.msg == 0x03F0 ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED))
          << c.name;
    }
    if (c.post == Rule::Crosses) {
      EXPECT_TRUE(posted) << c.name << " error " << postError;
      expected.insert(c.msg);
    } else {
      EXPECT_FALSE(posted) << c.name;
      EXPECT_EQ(postError, static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY)) << c.name;
    }
  }
  // Texts cross as copies, but only sent: a posted copy would outlive the call.
  for (UINT m : {static_cast<UINT>(WM_SETTEXT), static_cast<UINT>(WM_GETTEXT), static_cast<UINT>(WM_COPYDATA)}) {
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(h, m, 0, kGarbage)) << m;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY)) << m;
  }
  // Exactly the messages that crossed reached the procedure (WM_CLOSE's and WM_COMMAND's
  // handling may add more of the same kind, never a refused one).
  const std::multiset<UINT> got = delivered(h, 1);
  for (UINT m : expected) EXPECT_GE(got.count(m), 1u) << m;
  for (const Case& c : kCases) {
    if (c.send == Rule::Refused) {
      EXPECT_EQ(got.count(c.msg), expected.count(c.msg)) << c.name;
    }
  }
}

// The built-in controls: list, combo and edit messages with buffers never cross; the
// list view and progress bar refuse their own pointer messages above WM_USER.
TEST(MessageMarshalling, ControlsAnswerValuesAndRefuseBuffers) {
  Receiver receiver;
  ASSERT_TRUE(receiver.main());
  HWND list = FindWindowA("ListBox", "Liste");
  HWND combo = FindWindowA("ComboBox", nullptr);  // its text is its selection
  HWND view = FindWindowA("SysListView32", "Ansicht");
  HWND bar = FindWindowA("msctls_progress32", "Fortschritt");
  HWND edit = FindWindowA("Edit", "Eingabe");
  ASSERT_TRUE(list && combo && view && bar && edit) << list << ' ' << combo << ' ' << view << ' ' << bar << ' ' << edit;
  struct Row {
    const char* name;
    HWND window;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    bool crosses;
    LRESULT answer;
  };
  const Row rows[] = {
      {"LB_GETCOUNT", list, LB_GETCOUNT, 0, 0, true, 2},
      {"LB_GETTEXTLEN", list, LB_GETTEXTLEN, 1, 0, true, 4},
      {"LB_GETTEXT", list, LB_GETTEXT, 1, kGarbage, false, 0},
      {"LB_ADDSTRING", list, LB_ADDSTRING, 0, kGarbage, false, 0},
      {"CB_GETCOUNT", combo, CB_GETCOUNT, 0, 0, true, 1},
      {"CB_GETLBTEXT", combo, CB_GETLBTEXT, 0, kGarbage, false, 0},
      {"CB_ADDSTRING", combo, CB_ADDSTRING, 0, kGarbage, false, 0},
      {"EM_GETLINE", edit, 0x00C4, 0, kGarbage, false, 0},
      {"EM_GETLIMITTEXT", edit, EM_GETLIMITTEXT, 0, 0, true, -1},
      {"LVM_GETITEMCOUNT", view, LVM_GETITEMCOUNT, 0, 0, true, 1},
      {"LVM_GETITEMA", view, LVM_GETITEMA, 0, kGarbage, false, 0},
      {"LVM_SETITEMA", view, LVM_SETITEMA, 0, kGarbage, false, 0},
      {"LVM_INSERTITEMA", view, LVM_INSERTITEMA, 0, kGarbage, false, 0},
      {"LVM_INSERTCOLUMNA", view, LVM_INSERTCOLUMNA, 0, kGarbage, false, 0},
      {"LVM_SETITEMSTATE", view, LVM_SETITEMSTATE, 0, kGarbage, false, 0},
      {"LVM_GETITEMTEXTA", view, LVM_GETITEMTEXTA, 0, kGarbage, false, 0},
      {"LVM_SETITEMTEXTA", view, LVM_SETITEMTEXTA, 0, kGarbage, false, 0},
      {"PBM_GETPOS", bar, PBM_GETPOS, 0, 0, true, 40},
      {"PBM_GETRANGE as a number", bar, PBM_GETRANGE, FALSE, 0, true, 100},
      {"PBM_GETRANGE into a record", bar, PBM_GETRANGE, FALSE, kGarbage, false, 0},
  };
  for (const Row& r : rows) {
    DWORD_PTR result = 77;
    SetLastError(0);
    const LRESULT sent = SendMessageTimeoutA(r.window, r.msg, r.wParam, r.lParam, SMTO_NORMAL, 10000, &result);
    const DWORD error = GetLastError();
    if (r.crosses) {
      EXPECT_NE(sent, 0) << r.name << " error " << error;
      if (r.answer >= 0) {
        EXPECT_EQ(static_cast<LRESULT>(result), r.answer) << r.name;
      }
    } else {
      EXPECT_EQ(sent, 0) << r.name;
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << r.name;
      SetLastError(0);
      EXPECT_FALSE(PostMessageA(r.window, r.msg, r.wParam, r.lParam)) << r.name;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY)) << r.name;
      // Written by hand, the receiver refuses it the same.
      EXPECT_EQ(wire(r.window, kSend, r.msg, r.wParam, static_cast<uint64_t>(r.lParam)), kRefused) << r.name;
      EXPECT_EQ(wire(r.window, kPost, r.msg, r.wParam, static_cast<uint64_t>(r.lParam)), kRefused) << r.name;
    }
  }
  // The list box inside the main window is no top-level window, but a hostile sender
  // can name it all the same.
  HWND main = receiver.main();
  EXPECT_EQ(wireVia(main, receiver.childList(), kSend, LB_GETTEXT, 0, static_cast<uint64_t>(kGarbage)), kRefused);
  EXPECT_EQ(wireVia(main, receiver.childList(), kPost, LB_GETTEXT, 0, static_cast<uint64_t>(kGarbage)), kRefused);
  EXPECT_EQ(wireVia(main, receiver.childList(), kSend, LB_GETCOUNT, 0, 0), kHandled);
}

// A hostile process writes every message below WM_USER itself, sent and posted, with
// garbage where pointers would be and payloads that do not belong to the message. The
// receiver hands none of the refused ones to its procedure, answers the rest and stands.
TEST(MessageMarshalling, TheReceiverRefusesWhatAHostileProcessWrites) {
  Receiver receiver;
  HWND h = receiver.main();
  ASSERT_TRUE(h);
  std::set<UINT> answered;
  std::set<UINT> refused;
  std::set<UINT> answeredPosted;
  for (UINT msg = 0; msg < WM_USER; ++msg) {
    for (uint32_t kind : {kSend, kPost}) {
      const int status = wire(h, kind, msg, kGarbageW, static_cast<uint64_t>(kGarbage));
      ASSERT_NE(status, kNoAnswer) << msg << " kind " << kind;
      (status == kHandled ? answered : refused).insert(msg);
      if (status == kHandled && kind == kPost) answeredPosted.insert(msg);
    }
  }
  // What carries only values crosses alike, sent or posted.
  EXPECT_EQ(answeredPosted, answered);
  // Everything a pointer-carrying message could be is refused, whatever the kind.
  for (const Case& c : kCases) {
    if (c.send == Rule::Refused) {
      EXPECT_TRUE(refused.count(c.msg)) << c.name;
    }
    if (c.send == Rule::Crosses && c.lParam != 0) {
      EXPECT_TRUE(answered.count(c.msg)) << c.name;
    }
  }
  for (UINT m : {static_cast<UINT>(WM_SETTEXT), static_cast<UINT>(WM_GETTEXT), static_cast<UINT>(WM_COPYDATA)})
    EXPECT_TRUE(refused.count(m)) << m << ": sent without its copy";
  EXPECT_GT(answered.size(), 50u);

  // Payloads that do not belong to their message, or copies posted.
  struct Forged {
    const char* name;
    uint32_t kind;
    UINT msg;
    uint32_t payload;
    std::string bytes;
  };
  const std::string pos(20, '\0');
  const Forged forged[] = {
      {"WM_INITDIALOG with a text", kSend, WM_INITDIALOG, kTextIn, "x"},
      {"WM_NOTIFY with copied bytes", kSend, WM_NOTIFY, kCopyData, std::string(24, 'A')},
      {"LB_GETTEXT with a text buffer", kSend, LB_GETTEXT, kTextOut, ""},
      {"WM_COPYDATA posted", kPost, WM_COPYDATA, kCopyData, "abc"},
      {"WM_SETTEXT posted", kPost, WM_SETTEXT, kTextIn, "neu"},
      {"WM_GETTEXT posted", kPost, WM_GETTEXT, kTextOut, ""},
      {"WM_SETTEXT as copied bytes", kSend, WM_SETTEXT, kCopyData, "neu"},
      {"a window position for WM_NULL", kSend, WM_NULL, kWindowPos, pos},
      {"the SetWindowPos request posted", kPost, 0x03F0, kWindowPos, pos},
      {"the SetWindowPos request without its position", kSend, 0x03F0, kNoPayload, ""},
      {"an unknown payload", kSend, WM_NULL, 99, "x"},
  };
  for (const Forged& f : forged) {
    EXPECT_EQ(wire(h, f.kind, f.msg, kGarbageW, static_cast<uint64_t>(kGarbage), f.payload, f.bytes), kRefused)
        << f.name;
  }
  char title[32] = {};
  EXPECT_EQ(GetWindowTextA(h, title, sizeof title), 10);
  EXPECT_STREQ(title, "Empfaenger");

  const std::multiset<UINT> got = delivered(h, 2);
  for (UINT m : refused) EXPECT_EQ(got.count(m), 0u) << m << " reached the procedure";
}

// A forged WM_TIMER names a procedure of the receiver's own (its real address): it is
// never called, whether the forger writes the wire or posts through the API.
TEST(MessageMarshalling, AForgedTimerProcedureIsNeverCalled) {
  Receiver receiver;
  HWND h = receiver.main();
  ASSERT_TRUE(h);
  ASSERT_NE(receiver.forgedTarget(), 0);
  for (uint32_t kind : {kSend, kPost}) {
    EXPECT_EQ(wire(h, kind, WM_TIMER, 1, static_cast<uint64_t>(receiver.forgedTarget())), kRefused) << kind;
  }
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(h, WM_TIMER, 1, receiver.forgedTarget()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
  // A timer message without a procedure is a plain message for the window.
  EXPECT_EQ(wire(h, kPost, WM_TIMER, 2, 0), kHandled);
  const std::multiset<UINT> got = delivered(h, 3);
  EXPECT_EQ(got.count(WM_TIMER), 1u);
  EXPECT_FALSE(std::ifstream(rootFile("forged-called")).good());
}

// Within one process too: DispatchMessage calls no procedure a WM_TIMER names, since
// none was registered; without one the window procedure has the message.
int g_timerCalls = 0;
UINT_PTR g_windowTimer = 0;
void CALLBACK countingTimer(HWND, UINT, UINT_PTR, DWORD) { ++g_timerCalls; }
LRESULT CALLBACK timerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    g_windowTimer = wParam;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(MessageMarshalling, DispatchCallsNoTimerProcedureAPostNames) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = timerWindowProc;
  wc.lpszClassName = "VTimerTest";
  ASSERT_TRUE(RegisterClassA(&wc));
  HWND h = CreateWindowExA(0, "VTimerTest", "Uhr", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(h);
  struct Row {
    LPARAM lParam;
    int procedureCalls;
    UINT_PTR windowTimer;
  } rows[] = {
      {reinterpret_cast<LPARAM>(&countingTimer), 0, 0},
      {kGarbage, 0, 0},
      {0, 0, 9},
  };
  for (const Row& r : rows) {
    g_timerCalls = 0;
    g_windowTimer = 0;
    ASSERT_TRUE(PostMessageA(h, WM_TIMER, 9, r.lParam));
    wt::pumpMessages();
    EXPECT_EQ(g_timerCalls, r.procedureCalls) << r.lParam;
    EXPECT_EQ(g_windowTimer, r.windowTimer) << r.lParam;
  }
  DestroyWindow(h);
  UnregisterClassA("VTimerTest", nullptr);
}

}  // namespace
