// The window library: lists, message filters, the window procedure's dispatch,
// subclassing of "#32770", notifications, window creation.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "host/app/VApplication.h"
#include "host/window/VDC.h"
#include "host/window/VMainWindow.h"
#include "host/window/VWindowMessageFilter.h"
#include "platform/window_test.h"

namespace {

namespace wt = platform::wintest;

class CountedItem : public VLinkedListItem {
 public:
  explicit CountedItem(int* deleted) : m_deleted(deleted) {}
  ~CountedItem() override { ++*m_deleted; }

 private:
  int* m_deleted;
};

TEST(LinkedList, RemoveDeletesOnlyItemsItFound) {
  int deleted = 0;
  auto* a = new CountedItem(&deleted);
  auto* b = new CountedItem(&deleted);
  CountedItem elsewhere(&deleted);
  {
    VLinkedListManager list;
    list.add(a, false);
    list.add(b, true);  // b, a
    EXPECT_EQ(list.getHead(), b);
    EXPECT_EQ(list.getTail(), a);
    EXPECT_EQ(list.getCount(), 2u);
    // An item of someone else is neither unlinked nor deleted.
    EXPECT_FALSE(list.remove(&elsewhere, true));
    EXPECT_EQ(deleted, 0);
    EXPECT_TRUE(list.remove(a, true));
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(list.getTail(), b);
    EXPECT_EQ(list.getCount(), 1u);
  }  // the list deletes what it still holds
  EXPECT_EQ(deleted, 2);
}

TEST(LinkedList, TheWindowListForgetsInsteadOfDeleting) {
  int deleted = 0;
  CountedItem a(&deleted), b(&deleted);
  {
    vwindow_WindowList list;
    list.add(&a, false);
    list.add(&b, false);
  }
  EXPECT_EQ(deleted, 0);
}

TEST(Application, DestroyingTheCurrentObjectLeavesNoDanglingPointer) {
  auto* app = new VApplication();
  EXPECT_EQ(getApplication(), app);
  delete app;
  // A fresh default object, not the deleted one (the sanitizer build would see a read of it).
  VApplication* fresh = getApplication();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(getAppName(), nullptr);
}

// A window object that records what reaches its operations.
class RecordingWindow : public VWindow {
 public:
  explicit RecordingWindow(uint32_t kind = 0) : VWindow(kind) {}
  std::vector<UINT> commands;
  std::vector<UINT> notifies;
  std::vector<UINT> defaults;
  LRESULT commandAnswer = kVWindowNotHandled;
  LRESULT notifyAnswer = kVWindowNotHandled;
  LRESULT reflectAnswer = kVWindowNotHandled;
  LRESULT reflectWrites = 0;
  std::function<void()> onCommandAction;
  bool closeAnswer = true;
  int closes = 0;

  LRESULT onCommand(UINT, UINT id, HWND) override {
    commands.push_back(id);
    // The action may delete this object: nothing of it is read afterwards.
    const LRESULT answer = commandAnswer;
    std::function<void()> action = onCommandAction;
    if (action) action();
    return answer;
  }
  LRESULT onNotify(WPARAM, NMHDR* header) override {
    notifies.push_back(header->code);
    return notifyAnswer;
  }
  LRESULT onNotifyReflect(NMHDR*, LRESULT& result) override {
    if (reflectWrites != 0) result = reflectWrites;
    return reflectAnswer;
  }
  LRESULT defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    defaults.push_back(msg);
    return VWindow::defaultProc(hwnd, msg, wParam, lParam);
  }
  bool close(int flag) override {
    ++closes;
    return closeAnswer && VWindow::close(flag);
  }
  bool make(DWORD style = WS_OVERLAPPEDWINDOW, const char* cls = nullptr, VWindow* parent = nullptr,
            int id = 0) {
    VWindow none(0);
    return create(parent ? *parent : none, VRect(0, 0, 200, 100), style, cls, "Test",
                  reinterpret_cast<HMENU>(static_cast<intptr_t>(id)));
  }
};

class WindowLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115,
                                      reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);
  }
};

TEST_F(WindowLibrary, RegisterWindowClassFillsTheClassAndTheApplication) {
  WNDCLASSA wc{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VWindow", &wc));
  EXPECT_EQ(wc.style, 0xBu);
  EXPECT_EQ(wc.lpfnWndProc, &VWindow::windowProc);
  EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(6));
  EXPECT_NE(wc.hIcon, nullptr);
  EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(getShowCommand(), SW_HIDE);
  EXPECT_EQ(getApplication()->getInstanceHandle(), GetModuleHandleA(nullptr));
  // A second registration of the class fails.
  EXPECT_EQ(VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 0, nullptr, nullptr), 0);
}

// A filter with a scripted answer that records the messages it saw.
class ScriptedFilter : public VWindowMessageFilter {
 public:
  ScriptedFilter(bool goOn, bool setHandled, LRESULT cell) : m_goOn(goOn), m_setHandled(setHandled), m_cell(cell) {}
  bool filterMessage(HWND, UINT msg, WPARAM, LPARAM, LRESULT* result, bool* handled) override {
    seen.push_back(msg);
    if (action) action();
    *result = m_cell;
    *handled = m_setHandled;
    return m_goOn;
  }
  std::vector<UINT> seen;
  std::function<void()> action;

 private:
  bool m_goOn;
  bool m_setHandled;
  LRESULT m_cell;
};

TEST_F(WindowLibrary, FilterTable) {
  static_assert(kVWindowNotHandled == static_cast<LRESULT>(static_cast<int32_t>(0xFFFF0001u)), "the marker");
  struct Row {
    bool goOn;
    bool handled;
    LRESULT cell;
    LRESULT windowAnswer;
    bool windowSees;
    bool defaultSees;
    LRESULT result;
  };
  const Row rows[] = {
      {true, false, 0, 7, true, false, 7},     // goes on: the window answers
      {true, true, 99, 7, true, false, 7},     // goes on even when handled
      {false, false, 99, 7, false, false, 0},  // consumed, not handled: 0
      {false, true, 55, 7, false, false, 55},  // consumed and handled: its cell
      {true, false, 0, kVWindowNotHandled, true, true, 0},  // the marker: default processing answers
      {false, true, kVWindowNotHandled, 7, false, true, 0},  // a filter's cell may carry the marker too
  };
  for (const Row& row : rows) {
    RecordingWindow window;
    ASSERT_TRUE(window.make());
    window.commandAnswer = row.windowAnswer;
    ScriptedFilter filter(row.goOn, row.handled, row.cell);
    window.attachFilter(&filter, true, false);
    const LRESULT r = SendMessageA(window.getHandle(), WM_COMMAND, MAKEWPARAM(40004, 0), 0);
    EXPECT_EQ(r, row.result) << row.goOn << row.handled;
    EXPECT_EQ(window.commands.size(), row.windowSees ? 1u : 0u) << row.goOn << row.handled;
    EXPECT_EQ(std::count(window.defaults.begin(), window.defaults.end(), static_cast<UINT>(WM_COMMAND)),
              row.defaultSees ? 1 : 0)
        << row.goOn << row.handled;
    EXPECT_EQ(filter.seen.back(), static_cast<UINT>(WM_COMMAND));
    window.attachFilter(&filter, false, true);
  }
}

TEST_F(WindowLibrary, AHandlingFilterStopsTheOthersButNotTheWindow) {
  RecordingWindow window;
  ASSERT_TRUE(window.make());
  window.commandAnswer = 3;
  ScriptedFilter first(true, true, 0), second(true, false, 0);
  window.attachFilter(&first, true, false);
  window.attachFilter(&second, true, false);
  EXPECT_EQ(SendMessageA(window.getHandle(), WM_COMMAND, 1, 0), 3);
  EXPECT_EQ(first.seen.size(), 1u);
  EXPECT_TRUE(second.seen.empty());
  EXPECT_EQ(window.commands.size(), 1u);
}

TEST_F(WindowLibrary, AFilterThatDetachesTheLastFilterEndsTheWalk) {
  RecordingWindow window;
  ASSERT_TRUE(window.make());
  ScriptedFilter only(true, false, 0);
  only.action = [&] { window.attachFilter(&only, false, true); };
  window.attachFilter(&only, true, false);
  SendMessageA(window.getHandle(), WM_COMMAND, 1, 0);
  EXPECT_FALSE(window.hasFilters());
  EXPECT_EQ(window.commands.size(), 1u);
  // A filter that detaches the one after it: the walk does not reach it.
  ScriptedFilter a(true, false, 0), b(true, false, 0);
  a.action = [&] { window.attachFilter(&b, false, true); };
  window.attachFilter(&a, true, false);
  window.attachFilter(&b, true, false);
  SendMessageA(window.getHandle(), WM_COMMAND, 1, 0);
  EXPECT_TRUE(b.seen.empty());
}

TEST_F(WindowLibrary, AttachCountsAndDetachAll) {
  RecordingWindow window;
  ASSERT_TRUE(window.make());
  ScriptedFilter filter(true, false, 0);
  window.attachFilter(&filter, true, false);
  window.attachFilter(&filter, true, false);
  EXPECT_EQ(filter.getAttachCount(), 2);
  window.attachFilter(&filter, false, false);
  EXPECT_TRUE(window.hasFilters());
  SendMessageA(window.getHandle(), WM_USER, 0, 0);
  EXPECT_EQ(filter.seen.size(), 1u);
  window.attachFilter(&filter, true, false);
  window.attachFilter(&filter, false, true);
  EXPECT_FALSE(window.hasFilters());
  // A filter is in the list of one window at a time.
  RecordingWindow other;
  ASSERT_TRUE(other.make());
  window.attachFilter(&filter, true, false);
  other.attachFilter(&filter, true, false);
  EXPECT_FALSE(other.hasFilters());
}

TEST_F(WindowLibrary, FiltersOutliveTheWindowThatHeldThem) {
  ScriptedFilter filter(true, false, 0);  // not on the heap: the window must not delete it
  {
    RecordingWindow window;
    ASSERT_TRUE(window.make());
    window.attachFilter(&filter, true, false);
  }
  EXPECT_EQ(filter.getAttachCount(), 0);
  EXPECT_EQ(filter.getNext(), nullptr);
  // And a filter destroyed first detaches itself.
  RecordingWindow window;
  ASSERT_TRUE(window.make());
  {
    ScriptedFilter shortLived(true, false, 0);
    window.attachFilter(&shortLived, true, false);
  }
  EXPECT_FALSE(window.hasFilters());
  SendMessageA(window.getHandle(), WM_USER, 0, 0);
}

TEST_F(WindowLibrary, NotifyReflection) {
  struct Row {
    LRESULT reflectAnswer;
    LRESULT reflectWrites;
    LRESULT expected;
    bool parentSees;
  };
  const Row rows[] = {
      {-1, 0, 1, false},   // handled by the control, preset 1
      {-1, 17, 17, false}, // handled, with the control's own answer
      {kVWindowNotHandled, 0, 5, true},
      {0, 0, 5, true},
  };
  for (const Row& row : rows) {
    RecordingWindow parent;
    ASSERT_TRUE(parent.make());
    parent.notifyAnswer = 5;
    RecordingWindow control;
    ASSERT_TRUE(control.make(WS_CHILD, nullptr, &parent, 2000));
    control.reflectAnswer = row.reflectAnswer;
    control.reflectWrites = row.reflectWrites;
    NMHDR header{control.getHandle(), 2000, static_cast<UINT>(NM_CLICK)};
    EXPECT_EQ(SendMessageA(parent.getHandle(), WM_NOTIFY, 2000, reinterpret_cast<LPARAM>(&header)), row.expected);
    EXPECT_EQ(parent.notifies.size(), row.parentSees ? 1u : 0u);
  }
}

class NCDestroyProbe : public RecordingWindow {
 public:
  WNDPROC procAtNCDestroy = nullptr;
  void onNCDestroy() override {
    procAtNCDestroy = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(lastHandle, GWLP_WNDPROC));
    RecordingWindow::onNCDestroy();
  }
  HWND lastHandle = nullptr;
};

TEST_F(WindowLibrary, DialogClassPopupsAreSubclassedAndRestored) {
  NCDestroyProbe popup;
  ASSERT_TRUE(popup.make(WS_POPUP, "#32770"));
  HWND h = popup.getHandle();
  popup.lastHandle = h;
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(h, GWLP_WNDPROC)), &VWindow::windowProc);
  EXPECT_EQ(popup.getReplacedProc(), &DefDlgProcA);
  // Unhandled messages reach the class procedure: the dialog brush.
  EXPECT_EQ(SendMessageA(h, WM_CTLCOLORDLG, 0, 0), reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_3DFACE)));
  EXPECT_EQ(getBackgroundBrush(h), GetSysColorBrush(COLOR_3DFACE));
  ASSERT_TRUE(DestroyWindow(h));
  EXPECT_EQ(popup.procAtNCDestroy, &DefDlgProcA);
  EXPECT_EQ(popup.getHandle(), nullptr);
  EXPECT_EQ(popup.getReplacedProc(), nullptr);
}

TEST_F(WindowLibrary, WindowsWithoutAnObjectGetTheirClassDefault) {
  // A "VWindow" without an object in lpCreateParams is served by DefWindowProcA.
  HWND plain = CreateWindowExA(0, "VWindow", "ohne Objekt", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(plain);
  char text[32];
  EXPECT_EQ(SendMessageA(plain, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 11);
  EXPECT_EQ(SendMessageA(plain, WM_QUERYENDSESSION, 0, 0), TRUE);
  DestroyWindow(plain);
  // A "#32770" window whose procedure is the library's, without an object: 0.
  HWND dialog = CreateWindowExA(0, "#32770", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(dialog);
  SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&VWindow::windowProc));
  EXPECT_EQ(SendMessageA(dialog, WM_CTLCOLORDLG, 0, 0), 0);
  DestroyWindow(dialog);
}

class CreateProbe : public RecordingWindow {
 public:
  CREATESTRUCTA seenCs{};
  bool preCreate(CREATESTRUCTA& cs) override {
    seenCs = cs;
    return true;
  }
};

TEST_F(WindowLibrary, EmptyRectanglesGetTheDefaultPlaceOfTopLevelWindows) {
  VWindow none(0);
  CreateProbe top;
  ASSERT_TRUE(top.create(none, VRect(), WS_OVERLAPPEDWINDOW, nullptr, "", nullptr));
  EXPECT_EQ(top.seenCs.x, CW_USEDEFAULT);
  EXPECT_EQ(top.seenCs.cx, CW_USEDEFAULT);
  VRect r;
  GetWindowRect(top.getHandle(), r.get());
  EXPECT_FALSE(r.isEmpty());
  CreateProbe child;
  ASSERT_TRUE(child.create(top, VRect(), WS_CHILD, nullptr, "", nullptr));
  EXPECT_EQ(child.seenCs.x, 0);
  EXPECT_EQ(child.seenCs.cx, 0);
  CreateProbe placed;
  ASSERT_TRUE(placed.create(none, VRect(5, 6, 105, 56), WS_POPUP, nullptr, "", nullptr));
  EXPECT_EQ(placed.seenCs.x, 5);
  EXPECT_EQ(placed.seenCs.cy, 50);
}

TEST_F(WindowLibrary, CaptionRectangles) {
  struct Row {
    DWORD style;
    bool thick;
  };
  for (const Row& row : {Row{WS_OVERLAPPEDWINDOW, true}, Row{WS_CAPTION | WS_POPUP, false}}) {
    RecordingWindow window;
    ASSERT_TRUE(window.make(row.style));
    VRect caption;
    window.getCaptionRect(caption);
    const int fx = GetSystemMetrics(row.thick ? SM_CXFRAME : SM_CXDLGFRAME);
    const int fy = GetSystemMetrics(row.thick ? SM_CYFRAME : SM_CYDLGFRAME);
    EXPECT_EQ(caption.left, fx);
    EXPECT_EQ(caption.right, 200 - fx);
    EXPECT_EQ(caption.top, fy);
    EXPECT_EQ(caption.bottom, fy - GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION));
  }
  RecordingWindow bare;
  ASSERT_TRUE(bare.make(WS_POPUP));
  VRect caption(1, 2, 3, 4);
  bare.getCaptionRect(caption);
  EXPECT_TRUE(caption.isEmpty());
}

TEST_F(WindowLibrary, ClippingStyles) {
  RecordingWindow top;
  ASSERT_TRUE(top.make(WS_OVERLAPPEDWINDOW));
  const DWORD topStyle = static_cast<DWORD>(GetWindowLongA(top.getHandle(), GWL_STYLE));
  EXPECT_TRUE(topStyle & WS_CLIPCHILDREN);
  EXPECT_TRUE(topStyle & WS_CLIPSIBLINGS);
  RecordingWindow child;
  ASSERT_TRUE(child.make(WS_CHILD | WS_CLIPCHILDREN, nullptr, &top, 1));
  const DWORD childStyle = static_cast<DWORD>(GetWindowLongA(child.getHandle(), GWL_STYLE));
  EXPECT_FALSE(childStyle & WS_CLIPCHILDREN);
  EXPECT_TRUE(childStyle & WS_CLIPSIBLINGS);
}

TEST_F(WindowLibrary, ASelfDeletingWindowIsNotTouchedAfterItsDestruction) {
  // Destroyed by its close on WM_CLOSE, by its own command, and by a filter.
  for (int way = 0; way < 3; ++way) {
    auto* window = new RecordingWindow();
    ASSERT_TRUE(window->make());
    window->flags().set(VWindow::kDeletesItself);
    HWND h = window->getHandle();
    ScriptedFilter filter(true, false, 0);
    if (way == 0) {
      SendMessageA(h, WM_CLOSE, 0, 0);  // close destroys it, and WM_NCDESTROY deletes it
    } else if (way == 1) {
      window->onCommandAction = [h] { DestroyWindow(h); };
      SendMessageA(h, WM_COMMAND, 1, 0);
    } else {
      filter.action = [h] { DestroyWindow(h); };
      window->attachFilter(&filter, true, false);
      SendMessageA(h, WM_COMMAND, 1, 0);
    }
    EXPECT_FALSE(IsWindow(h)) << way;
    EXPECT_EQ(VWindow::findWindow(h), nullptr) << way;
  }
}

TEST_F(WindowLibrary, ChildOperations) {
  RecordingWindow dialog(4);  // a dialog kind, made as dialogs are: of the class "#32770"
  ASSERT_TRUE(dialog.make(WS_POPUP, "#32770"));
  HWND push = CreateWindowExA(0, "Button", "OK", WS_CHILD | BS_PUSHBUTTON, 0, 0, 10, 10, dialog.getHandle(),
                              reinterpret_cast<HMENU>(1), nullptr, nullptr);
  HWND check = CreateWindowExA(0, "Button", "Merken", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 10, 10, dialog.getHandle(),
                               reinterpret_cast<HMENU>(2), nullptr, nullptr);
  EXPECT_EQ(dialog.findChild("button", false), push);
  EXPECT_EQ(dialog.findChild("BUTTON", true), check);
  EXPECT_EQ(dialog.findChild("Edit", false), nullptr);
  dialog.enableChildren(false);
  EXPECT_FALSE(IsWindowEnabled(push));
  dialog.showChildren(true);
  EXPECT_TRUE(IsWindowVisible(check) || !IsWindowVisible(dialog.getHandle()));
  EXPECT_TRUE(GetWindowLongA(check, GWL_STYLE) & WS_VISIBLE);
  // A dialog kind with a check box keeps its children unclipped.
  dialog.onCreate();
  EXPECT_FALSE(GetWindowLongA(dialog.getHandle(), GWL_STYLE) & WS_CLIPCHILDREN);
}

TEST_F(WindowLibrary, MessageLoopLeavesOnAFailedWait) {
  RecordingWindow window;
  ASSERT_TRUE(window.make());
  PostMessageA(window.getHandle(), WM_COMMAND, 5, 0);
  wt::failNextGetMessage();
  EXPECT_EQ(window.messageLoop(), -1);
  EXPECT_TRUE(window.commands.empty());  // the message was not dispatched
  PostQuitMessage(4);
  EXPECT_EQ(window.messageLoop(), 4);
  EXPECT_EQ(window.commands, std::vector<UINT>{5});
}

}  // namespace
