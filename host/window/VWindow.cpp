#include "host/window/VWindow.h"

#include <cstring>

#include "commctrl.h"
#include "host/app/VApplication.h"
#include "host/window/VDC.h"
#include "host/window/VWindowMessageFilter.h"

const char* const kVWindowClassName = "VWindow";

namespace {

bool g_listAlive = false;

struct WindowListHolder {
  vwindow_WindowList list;
  WindowListHolder() { g_listAlive = true; }
  ~WindowListHolder() { g_listAlive = false; }
};

WindowListHolder& holder() {
  static WindowListHolder h;
  return h;
}

// The window object found last by the window procedure.
VWindow* g_cache = nullptr;
// The message loop's record.
MSG g_msg;

bool isListed(const VWindow* window) { return g_listAlive && holder().list.contains(window); }

// Still the object of this window after a call that might have destroyed either.
bool stillBound(const VWindow* window, HWND hwnd) { return isListed(window) && window->getHandle() == hwnd; }

bool isHeadKind(uint32_t kind) {
  switch (kind) {
    case 9:
    case 10:
    case 14:
    case 15:
    case 42:
    case 45:
      return true;
    default:
      return false;
  }
}

bool isFrameKind(uint32_t kind) { return kind == 42 || kind == 45; }
bool isMdiChildKind(uint32_t kind) { return kind == 43 || kind == 50; }

// The request of the shared EnumChildWindows callback.
struct ChildRequest {
  int operation;  // 0 find by class, 1 enable, 2 show or hide, 3 find by class skipping push buttons
  LPARAM argument;
  HWND found;
};

BOOL CALLBACK childOperation(HWND child, LPARAM lParam) {
  auto* request = reinterpret_cast<ChildRequest*>(lParam);
  switch (request->operation) {
    case 1:
      EnableWindow(child, static_cast<BYTE>(request->argument));
      return TRUE;
    case 2:
      ShowWindow(child, request->argument ? SW_SHOWNORMAL : SW_HIDE);
      return TRUE;
    case 0:
    case 3: {
      char name[51] = {0};
      GetClassNameA(child, name, 50);
      if (lstrcmpiA(name, reinterpret_cast<const char*>(request->argument)) != 0) return TRUE;
      if (request->operation == 3 && (static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & 7) == BS_PUSHBUTTON) {
        return TRUE;
      }
      request->found = child;
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

vwindow_WindowList& getWindowList() { return holder().list; }

bool isWindowListAlive() { return g_listAlive; }

bool VWindow::isDialogKind(uint32_t kind) {
  switch (kind) {
    case 4:
    case 9:
    case 14:
    case 24:
    case 28:
    case 29:
      return true;
    default:
      return kind >= 32 && kind <= 38;
  }
}

VWindow::VWindow(uint32_t kind) : m_kind(kind) { holder().list.add(this, isHeadKind(kind)); }

VWindow::~VWindow() {
  m_flags.clear(kDeletesItself);
  // The filters belong to their owners: the list only lets go of them.
  if (m_filters) {
    for (VLinkedListItem* it = m_filters->getHead(); it != nullptr; it = it->getNext()) {
      static_cast<VWindowMessageFilter*>(it)->m_attachCount = 0;
    }
    m_filters.reset();
  }
  if (isWindow() != nullptr) DestroyWindow(m_hwnd);
  if (g_cache == this) g_cache = nullptr;
  if (g_listAlive) holder().list.remove(this, false);
}

void VWindow::destroyWindowNow() {
  if (isWindow() != nullptr) DestroyWindow(m_hwnd);
}

bool VWindow::close(int) {
  if (isWindow() == nullptr) return false;
  return DestroyWindow(m_hwnd) != FALSE;
}

void VWindow::getCaptionRect(VRect& rect) {
  rect = VRect();
  const DWORD style = static_cast<DWORD>(GetWindowLongA(m_hwnd, GWL_STYLE));
  if ((style & WS_CAPTION) != WS_CAPTION) return;
  const bool thick = (style & WS_THICKFRAME) != 0;
  const int frameX = GetSystemMetrics(thick ? SM_CXFRAME : SM_CXDLGFRAME);
  const int frameY = GetSystemMetrics(thick ? SM_CYFRAME : SM_CYDLGFRAME);
  VRect window;
  GetWindowRect(m_hwnd, window.get());
  rect = VRect(0, 0, window.width(), window.height());
  rect.left += frameX;
  rect.right -= frameX;
  rect.top += frameY;
  rect.bottom = rect.top - GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION);
}

bool VWindow::isDialog() { return isDialogKind(getKind()); }

void VWindow::maximize() { ShowWindow(m_hwnd, SW_MAXIMIZE); }
void VWindow::minimize() { ShowWindow(m_hwnd, SW_SHOWMINIMIZED); }
void VWindow::restore() { ShowWindow(m_hwnd, SW_RESTORE); }
bool VWindow::preTranslateMessage(MSG*) { return false; }

LRESULT VWindow::defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (m_replacedProc != nullptr && m_replacedProc != &VWindow::windowProc) {
    return CallWindowProcA(m_replacedProc, hwnd, msg, wParam, lParam);
  }
  const uint32_t kind = getKind();
  if (isDialogKind(kind)) return 0;  // the dialog manager does its own default processing
  // The system has no frame kind; a frame keeps no MDI client window here.
  if (isFrameKind(kind)) return DefFrameProcA(hwnd, nullptr, msg, wParam, lParam);
  if (isMdiChildKind(kind)) return DefMDIChildProcA(hwnd, msg, wParam, lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT VWindow::onCommand(UINT, UINT, HWND) { return kVWindowNotHandled; }
void VWindow::onDestroy() {}
bool VWindow::onPaint(VDC&) { return true; }
LRESULT VWindow::onSize(UINT, int, int) { return kVWindowNotHandled; }
LRESULT VWindow::onNotify(WPARAM, NMHDR*) { return kVWindowNotHandled; }
LRESULT VWindow::onNotifyReflect(NMHDR*, LRESULT&) { return kVWindowNotHandled; }

void VWindow::onNCDestroy() {
  if (m_flags.isSet(kDeletesItself)) delete this;
}

bool VWindow::preCreate(CREATESTRUCTA&) { return true; }

bool VWindow::onCreate() {
  DWORD style = static_cast<DWORD>(GetWindowLongA(m_hwnd, GWL_STYLE)) & ~(WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
  if (!(style & WS_CHILD)) {
    // A dialog with check boxes or radio buttons keeps its children unclipped.
    if (!(isDialog() && findChild("BUTTON", true) != nullptr)) style |= WS_CLIPCHILDREN;
    if (GetParent(m_hwnd) != nullptr) {
      SetWindowLongA(m_hwnd, GWL_STYLE, static_cast<LONG>(style));
      return true;
    }
  }
  style |= WS_CLIPSIBLINGS;
  SetWindowLongA(m_hwnd, GWL_STYLE, static_cast<LONG>(style));
  return true;
}

int VWindow::subclassIndex() { return isDialog() ? DWLP_DLGPROC : GWLP_WNDPROC; }

bool VWindow::create(VWindow& parent, const VRect& rect, DWORD style, const char* className, const char* title,
                     HMENU menuOrId) {
  CREATESTRUCTA cs{};
  cs.hMenu = menuOrId;
  cs.hwndParent = parent.m_hwnd;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = title;
  cs.lpszClass = className != nullptr ? className : kVWindowClassName;
  cs.dwExStyle = 0;
  if (!rect.isEmpty()) {
    cs.x = rect.left;
    cs.y = rect.top;
    cs.cx = rect.width();
    cs.cy = rect.height();
  } else if (!(style & WS_CHILD)) {
    cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
  }
  if (!preCreate(cs)) return false;
  HWND hwnd = CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y,
                              cs.cx, cs.cy, cs.hwndParent, cs.hMenu, getInstanceHandle(), this);
  if (hwnd == nullptr) return false;
  m_hwnd = hwnd;
  m_creationId = menuOrId;
  const bool bound = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == &VWindow::windowProc;
  if (bound || m_replacedProc != nullptr) return true;
  return attach(this, hwnd);
}

bool VWindow::attach(VWindow* object, HWND hwnd) {
  if (object == nullptr) return false;
  object->m_hwnd = hwnd;
  const int index = object->subclassIndex();
  if (object->m_replacedProc == nullptr &&
      reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, index)) != &VWindow::windowProc) {
    object->m_replacedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, index, reinterpret_cast<LONG_PTR>(&VWindow::windowProc)));
  }
  if (object->m_flags.isSet(kCreating) || object->onCreate()) return true;
  object->unsubclass();
  object->m_hwnd = nullptr;
  // The system has no dialog class that would end with EndDialog.
  if (object->isDialog()) DestroyWindow(hwnd);
  return false;
}

void VWindow::unsubclass() {
  if (m_replacedProc == nullptr) return;
  if (m_hwnd != nullptr && IsWindow(m_hwnd)) {
    SetWindowLongPtrA(m_hwnd, subclassIndex(), reinterpret_cast<LONG_PTR>(m_replacedProc));
  }
  m_replacedProc = nullptr;
}

void VWindow::attachFilter(VWindowMessageFilter* filter, bool add, bool detachAll) {
  if (filter == nullptr) return;
  if (detachAll) add = false;
  if (!m_filters && !add) return;
  if (m_filters && m_filters->contains(filter)) {
    if (add) {
      ++filter->m_attachCount;
    } else if (detachAll || --filter->m_attachCount <= 0) {
      filter->m_attachCount = 0;
      m_filters->remove(filter, false);
    }
  } else if (add) {
    // A filter has one link: it can be in the list of one window only.
    for (VLinkedListItem* it = holder().list.getHead(); it != nullptr; it = it->getNext()) {
      auto* other = static_cast<VWindow*>(it);
      if (other != this && other->m_filters && other->m_filters->contains(filter)) return;
    }
    if (!m_filters) m_filters = std::make_unique<VUnlinkingList>();
    m_filters->add(filter, false);
    filter->m_attachCount = 1;
  }
  if (m_filters && m_filters->getCount() == 0) m_filters.reset();
}

LRESULT CALLBACK VWindow::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // 1. The object of the window.
  VWindow* self = nullptr;
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    self = cs != nullptr ? static_cast<VWindow*>(cs->lpCreateParams) : nullptr;
    if (self != nullptr && !attach(self, hwnd)) return 0;
  } else if (msg == WM_INITDIALOG) {
    auto* candidate = reinterpret_cast<VWindow*>(lParam);
    if (candidate != nullptr && isListed(candidate)) {
      self = candidate;
    } else if (lParam != 0) {
      self = reinterpret_cast<VWindow*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
      if (self != nullptr && !isListed(self)) self = nullptr;
    }
    if (self != nullptr && !attach(self, hwnd)) return 0;
  } else if (g_cache != nullptr && g_cache->m_hwnd == hwnd) {
    self = g_cache;
  } else {
    self = findWindow(hwnd);
    g_cache = self;
  }

  // 2. No bound object: the default of the window's class.
  if (self == nullptr || self->m_hwnd == nullptr) {
    char name[33] = {0};
    if (GetClassNameA(hwnd, name, 32) == 0) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (std::strcmp(name, "#32770") == 0) return 0;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }

  // 3. The filters.
  LRESULT result = kVWindowNotHandled;
  bool consumed = false;
  if (self->m_filters) {
    VLinkedListItem* item = self->m_filters->getHead();
    while (item != nullptr) {
      VLinkedListItem* next = item->getNext();
      LRESULT cell = 0;
      bool handled = false;
      const bool goOn =
          static_cast<VWindowMessageFilter*>(item)->filterMessage(hwnd, msg, wParam, lParam, &cell, &handled);
      if (!stillBound(self, hwnd)) return goOn ? 0 : (handled ? cell : 0);
      if (!goOn) {
        result = handled ? cell : 0;
        consumed = true;
        break;
      }
      // A filter may have detached others while it ran.
      if (handled || !self->m_filters || (next != nullptr && !self->m_filters->contains(next))) break;
      item = next;
    }
  }

  // 4. Dispatch.
  if (!consumed) {
    switch (msg) {
      case WM_DESTROY:
        self->onDestroy();
        result = 0;
        break;
      case WM_SIZE:
        result = self->onSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        break;
      case WM_PAINT: {
        if (!self->m_flags.isSet(kPaintsItself | kDoubleBuffered)) break;
        VRect client;
        GetClientRect(hwnd, client.get());
        if (client.isEmpty()) break;
        std::unique_ptr<VDC> dc;
        if (wParam != 0) {
          dc = std::make_unique<VTempDC>(reinterpret_cast<HDC>(wParam));
        } else {
          dc = std::make_unique<VPaintDC>(*self);
        }
        if (dc->getHandle() == nullptr) break;
        std::unique_ptr<VBufferedDC> buffered;
        VDC* target = dc.get();
        if (self->m_flags.isSet(kDoubleBuffered)) {
          buffered = std::make_unique<VBufferedDC>(*dc, &client);
          target = buffered.get();
        }
        bool defaultPainting = true;
        if (self->m_flags.isSet(kPaintsItself)) defaultPainting = self->onPaint(*target);
        if (defaultPainting && stillBound(self, hwnd)) {
          self->defaultProc(hwnd, WM_PAINT, reinterpret_cast<WPARAM>(target->getHandle()), 0);
        }
        buffered.reset();  // copies the buffer to the window
        dc.reset();        // ends painting
        result = 0;
        break;
      }
      case WM_CLOSE:
        if (self->close(0)) {
          if (g_cache == self) g_cache = nullptr;
          return 0;
        }
        result = 0;
        break;
      case WM_QUERYENDSESSION:
        if (self->close(0)) {
          if (g_cache == self) g_cache = nullptr;
          return 1;
        }
        result = 0;
        break;
      case WM_ERASEBKGND:
        if (self->m_flags.isSet(kDoubleBuffered)) result = 1;
        break;
      case WM_ENDSESSION:
        if (self->close(1)) {
          if (g_cache == self) g_cache = nullptr;
          return 0;
        }
        result = 0;
        break;
      case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        VWindow* control = header != nullptr ? findWindow(header->hwndFrom) : nullptr;
        if (control != nullptr) {
          LRESULT answer = 1;
          if (control->onNotifyReflect(header, answer) == -1) return answer;
          if (!stillBound(self, hwnd)) return 0;
        }
        result = self->onNotify(wParam, header);
        break;
      }
      case WM_COMMAND:
        result = self->onCommand(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam));
        break;
      default:
        break;
    }
    // The operation may have destroyed the window or the object.
    if (!stillBound(self, hwnd) && msg != WM_NCDESTROY) return result == kVWindowNotHandled ? 0 : result;
  }

  // 5. Default processing and unbinding. After defaultProc the object is touched only
  // for the messages that cannot have destroyed it.
  if (!isListed(self)) return result == kVWindowNotHandled ? 0 : result;
  if (self->m_hwnd != nullptr && result == kVWindowNotHandled) {
    result = self->defaultProc(hwnd, msg, wParam, lParam);
  }
  if (msg == WM_NCDESTROY && isListed(self)) {
    self->unsubclass();
    self->m_hwnd = nullptr;
    self->m_creationId = nullptr;
    if (g_cache == self) g_cache = nullptr;
    self->onNCDestroy();  // may delete the object
  }
  return result;
}

int VWindow::messageLoop() {
  for (;;) {
    const BOOL got = GetMessageA(&g_msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) return -1;  // a failed wait leaves the loop instead of dispatching a stale message
    if (m_accel != nullptr && TranslateAcceleratorA(m_hwnd, m_accel, &g_msg)) continue;
    if (preTranslateMessage(&g_msg)) continue;
    TranslateMessage(&g_msg);
    DispatchMessageA(&g_msg);
  }
  return static_cast<int>(g_msg.wParam);
}

int VWindow::showAndRun() {
  if (!IsWindowVisible(m_hwnd)) ShowWindow(m_hwnd, getShowCommand());
  return messageLoop();
}

void VWindow::redraw(bool erase) {
  InvalidateRect(m_hwnd, nullptr, erase ? TRUE : FALSE);
  UpdateWindow(m_hwnd);
}

HWND VWindow::isWindow() const { return m_hwnd != nullptr && IsWindow(m_hwnd) ? m_hwnd : nullptr; }

VWindow* VWindow::findWindow(HWND hwnd) {
  if (hwnd == nullptr || !g_listAlive) return nullptr;
  for (VLinkedListItem* it = holder().list.getHead(); it != nullptr; it = it->getNext()) {
    auto* window = static_cast<VWindow*>(it);
    if (window->m_hwnd == hwnd) return window;
  }
  return nullptr;
}

void VWindow::enableChildren(bool enable) {
  ChildRequest request{1, enable ? 1 : 0, nullptr};
  EnumChildWindows(m_hwnd, childOperation, reinterpret_cast<LPARAM>(&request));
}

void VWindow::showChildren(bool show) {
  ChildRequest request{2, show ? 1 : 0, nullptr};
  EnumChildWindows(m_hwnd, childOperation, reinterpret_cast<LPARAM>(&request));
}

HWND VWindow::findChild(const char* className, bool skipPushButtons) {
  ChildRequest request{skipPushButtons ? 3 : 0, reinterpret_cast<LPARAM>(className), nullptr};
  EnumChildWindows(m_hwnd, childOperation, reinterpret_cast<LPARAM>(&request));
  return request.found;
}
