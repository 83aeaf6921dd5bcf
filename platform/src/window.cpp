// Window classes, window creation and destruction, window data, position and
// visibility, enumeration and the default window procedure.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "desktop_records.h"
#include "window_internal.h"
#include "platform/window_test.h"

namespace platform {
namespace win {

namespace {

// Made on first use: other files' static objects may register classes before this
// file's statics exist.
std::recursive_mutex& windowMutex() {
  static auto* m = new std::recursive_mutex();
  return *m;
}

struct Tables {
  std::map<std::string, std::shared_ptr<WindowClass>> classes;  // key: upper-case name
  std::map<uint32_t, std::unique_ptr<Window>> windows;
  ATOM nextAtom = 0xC000;
  bool systemRegistered = false;
};

Tables& tables() {
  static Tables* t = new Tables();  // lives to the end: windows may be touched from exit handlers
  return *t;
}

std::string upper(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return out;
}

std::map<int, int>& metricOverrides() {
  static std::map<int, int> m;
  return m;
}
int g_screenWidth = 1024;
int g_screenHeight = 768;
POINT g_cursor{0, 0};

constexpr uint32_t kDesktopId = 0x10;

std::string className(const char* name) {
  if (name == nullptr) return std::string();
  if (IS_INTRESOURCE(name)) {
    // An atom: the class that holds it.
    const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto& [key, cls] : tables().classes) {
      if (cls->atom == atom) return key;
    }
    return std::string();
  }
  return upper(name);
}

std::shared_ptr<WindowClass> findClass(const char* name) {
  registerSystemClasses();
  auto it = tables().classes.find(className(name));
  return it == tables().classes.end() ? nullptr : it->second;
}

}  // namespace

void Surface::resize(int w, int h) {
  w = std::max(0, w);
  h = std::max(0, h);
  if (w == width && h == height) return;
  if (!fills.empty()) data();
  if (!pixels.empty()) {
    std::vector<uint32_t> next(static_cast<size_t>(w) * static_cast<size_t>(h), kWhitePixel);
    for (int y = 0; y < std::min(h, height); ++y) {
      std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(y) * width, std::min(w, width),
                  next.begin() + static_cast<ptrdiff_t>(y) * w);
    }
    pixels.swap(next);
  }
  width = w;
  height = h;
}

void Surface::fillRows(uint32_t* out, const RECT& r, uint32_t pixel) const {
  for (LONG y = r.top; y < r.bottom; ++y) {
    std::fill_n(out + static_cast<ptrdiff_t>(y) * width + r.left, r.right - r.left, pixel);
  }
}

void Surface::paint(uint32_t* out) const {
  std::fill_n(out, static_cast<size_t>(width) * static_cast<size_t>(height), kWhitePixel);
  for (const Fill& f : fills) fillRows(out, f.rect, f.pixel);
}

uint32_t* Surface::data() {
  if (pixels.empty() && width > 0 && height > 0) {
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    paint(pixels.data());
    fills.clear();
  }
  return pixels.data();
}

uint32_t Surface::pixel(size_t index) const {
  if (!pixels.empty()) return pixels[index];
  const LONG x = static_cast<LONG>(index % static_cast<size_t>(width));
  const LONG y = static_cast<LONG>(index / static_cast<size_t>(width));
  for (auto f = fills.rbegin(); f != fills.rend(); ++f) {
    if (x >= f->rect.left && x < f->rect.right && y >= f->rect.top && y < f->rect.bottom) return f->pixel;
  }
  return kWhitePixel;
}

std::vector<uint32_t> Surface::copy() const {
  if (!pixels.empty()) return pixels;
  std::vector<uint32_t> out(static_cast<size_t>(width) * static_cast<size_t>(height));
  if (!out.empty()) paint(out.data());
  return out;
}

void Surface::fill(const RECT& r, uint32_t pixel) {
  if (pixels.empty()) {
    // A fill over the whole surface hides every earlier one.
    if (r.left == 0 && r.top == 0 && r.right == width && r.bottom == height) fills.clear();
    if (fills.size() < kMaxFills) {
      fills.push_back(Fill{r, pixel});
      return;
    }
  }
  fillRows(data(), r, pixel);
}

void markSystemClasses() {
  for (auto& [key, cls] : tables().classes) cls->system = true;
}

std::unique_lock<std::recursive_mutex> lockWindows() { return std::unique_lock<std::recursive_mutex>(windowMutex()); }

Window* findLocal(uint32_t id) {
  auto it = tables().windows.find(id);
  return it == tables().windows.end() ? nullptr : it->second.get();
}

Window* findLocal(HWND hwnd) { return findLocal(toId(hwnd)); }

int metric(int index) {
  auto it = metricOverrides().find(index);
  if (it != metricOverrides().end()) return it->second;
  switch (index) {
    case SM_CXSCREEN:
      return g_screenWidth;
    case SM_CYSCREEN:
      return g_screenHeight;
    case SM_CXFULLSCREEN:
      return g_screenWidth;
    case SM_CYFULLSCREEN:
      return g_screenHeight - 30 - metric(SM_CYCAPTION);  // less the task bar and a caption
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 17;
    case SM_CYCAPTION:
      return 19;
    case SM_CYMENU:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

RECT clientInsets(const Window& w) {
  RECT r{0, 0, 0, 0};
  int fx = 0, fy = 0;
  if (w.style & WS_THICKFRAME) {
    fx = metric(SM_CXFRAME);
    fy = metric(SM_CYFRAME);
  } else if (w.style & WS_DLGFRAME) {
    fx = metric(SM_CXDLGFRAME);
    fy = metric(SM_CYDLGFRAME);
  } else if (w.style & WS_BORDER) {
    fx = metric(SM_CXBORDER);
    fy = metric(SM_CYBORDER);
  }
  r.left = r.right = fx;
  r.top = r.bottom = fy;
  if ((w.style & WS_CAPTION) == WS_CAPTION) r.top += metric(SM_CYCAPTION);
  if (!(w.style & WS_CHILD) && w.idOrMenu != 0) r.top += metric(SM_CYMENU);
  return r;
}

RECT clientInSurface(const Window& w) {
  RECT in = clientInsets(w);
  const LONG width = w.rect.right - w.rect.left;
  const LONG height = w.rect.bottom - w.rect.top;
  RECT r{in.left, in.top, std::max(in.left, width - in.right), std::max(in.top, height - in.bottom)};
  return r;
}

LRESULT callProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = nullptr;
  {
    auto lock = lockWindows();
    Window* w = findLocal(hwnd);
    if (w == nullptr) return 0;
    proc = w->proc;
  }
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

Window* requireWindow(HWND hwnd) {
  Window* w = findLocal(hwnd);
  if (w == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

namespace {

void publishIfTopLevel(const Window& w) {
  if (!(w.style & WS_CHILD) && w.created) publishWindow(w);
}

// Marks the whole client area for repainting.
void invalidateAll(Window& w, bool erase) {
  RECT c = clientInSurface(w);
  w.update = RECT{0, 0, c.right - c.left, c.bottom - c.top};
  w.updatePending = w.update.right > 0 && w.update.bottom > 0;
  w.erasePending = w.erasePending || erase;
}

void collectTree(uint32_t id, std::vector<uint32_t>& out) {
  Window* w = findLocal(id);
  if (w == nullptr) return;
  out.push_back(id);
  for (uint32_t child : w->children) collectTree(child, out);
}

bool findLocalLocked(uint32_t id) {
  auto lock = lockWindows();
  return findLocal(id) != nullptr;
}

void removeWindow(uint32_t id) {
  std::unique_ptr<Window> gone;
  {
    auto lock = lockWindows();
    auto& windows = tables().windows;
    auto it = windows.find(id);
    if (it == windows.end()) return;
    gone = std::move(it->second);
    windows.erase(it);
    if (Window* parent = findLocal(gone->parent)) {
      auto& c = parent->children;
      c.erase(std::remove(c.begin(), c.end(), id), c.end());
    }
    if (!(gone->style & WS_CHILD)) {
      withdrawWindow(id);
      if (gone->idOrMenu != 0) destroyMenusOfWindow(reinterpret_cast<HMENU>(gone->idOrMenu));
    }
  }
}

}  // namespace

namespace platform {
namespace win {

void dropThreadWindows(DWORD threadId) {
  std::vector<uint32_t> ids;
  {
    auto lock = lockWindows();
    for (auto& [id, w] : tables().windows) {
      if (w->threadId == threadId) ids.push_back(id);
    }
  }
  for (uint32_t id : ids) removeWindow(id);
}

}  // namespace win
}  // namespace platform

extern "C" {

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto lock = lockWindows();
  registerSystemClasses();
  const std::string key = upper(wc->lpszClassName);
  auto& classes = tables().classes;
  auto it = classes.find(key);
  if (it != classes.end() && !it->second->system) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc->lpszClassName;
  cls->style = wc->style;
  cls->proc = wc->lpfnWndProc;
  cls->clsExtra = wc->cbClsExtra;
  cls->wndExtra = wc->cbWndExtra;
  cls->instance = wc->hInstance;
  cls->icon = wc->hIcon;
  cls->cursor = wc->hCursor;
  cls->background = wc->hbrBackground;
  cls->atom = tables().nextAtom++;
  classes[key] = cls;  // an application class hides a system class of that name
  return cls->atom;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (wc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WNDCLASSEXA ex{};
  ex.cbSize = sizeof(ex);
  ex.style = wc->style;
  ex.lpfnWndProc = wc->lpfnWndProc;
  ex.cbClsExtra = wc->cbClsExtra;
  ex.cbWndExtra = wc->cbWndExtra;
  ex.hInstance = wc->hInstance;
  ex.hIcon = wc->hIcon;
  ex.hCursor = wc->hCursor;
  ex.hbrBackground = wc->hbrBackground;
  ex.lpszMenuName = wc->lpszMenuName;
  ex.lpszClassName = wc->lpszClassName;
  return RegisterClassExA(&ex);
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
  auto lock = lockWindows();
  const std::string key = className(name);
  auto& classes = tables().classes;
  auto it = classes.find(key);
  if (it == classes.end() || it->second->system) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& [id, w] : tables().windows) {
    if (w->cls == it->second) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  classes.erase(it);
  return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR name, LPWNDCLASSA out) {
  auto lock = lockWindows();
  auto cls = findClass(name);
  if (!cls || out == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *out = WNDCLASSA{};
  out->style = cls->style;
  out->lpfnWndProc = cls->proc;
  out->cbClsExtra = cls->clsExtra;
  out->cbWndExtra = cls->wndExtra;
  out->hInstance = cls->instance;
  out->hIcon = cls->icon;
  out->hCursor = cls->cursor;
  out->hbrBackground = cls->background;
  out->lpszClassName = name;
  return TRUE;
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buffer, int max) {
  std::string name;
  {
    auto lock = lockWindows();
    if (Window* w = findLocal(hwnd)) {
      name = w->cls->name;
    } else {
      RegistryEntry e;
      if (!lookupWindow(toId(hwnd), &e)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      name = e.className;
    }
  }
  if (buffer == nullptr || max <= 0) return 0;
  return static_cast<int>(copyToBuffer(name, buffer, static_cast<size_t>(max)));
}

ULONG_PTR WINAPI GetClassLongPtrA(HWND hwnd, int index) {
  auto lock = lockWindows();
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return 0;
  switch (index) {
    case GCLP_HBRBACKGROUND:
      return reinterpret_cast<ULONG_PTR>(w->cls->background);
    case GCL_STYLE:
      return w->cls->style;
    case GCLP_HICON:
      return reinterpret_cast<ULONG_PTR>(w->cls->icon);
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

DWORD WINAPI GetClassLongA(HWND hwnd, int index) { return static_cast<DWORD>(GetClassLongPtrA(hwnd, index)); }

ULONG_PTR WINAPI SetClassLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  auto lock = lockWindows();
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return 0;
  ULONG_PTR old = 0;
  switch (index) {
    case GCLP_HBRBACKGROUND:
      old = reinterpret_cast<ULONG_PTR>(w->cls->background);
      w->cls->background = reinterpret_cast<HBRUSH>(value);
      return old;
    case GCL_STYLE:
      old = w->cls->style;
      w->cls->style = static_cast<UINT>(value);
      return old;
    case GCLP_HICON:
      old = reinterpret_cast<ULONG_PTR>(w->cls->icon);
      w->cls->icon = reinterpret_cast<HICON>(value);
      return old;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
  // The same name gives the same number in every process of the machine: a stable
  // hash into the range that Windows reserves for registered messages.
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  uint32_t h = 2166136261u;
  for (const char* p = name; *p; ++p) {
    h ^= static_cast<unsigned char>(toupper(static_cast<unsigned char>(*p)));
    h *= 16777619u;
  }
  return 0xC000u + (h % 0x3FFFu);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR classNameArg, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parentHandle, HMENU menu, HINSTANCE instance, LPVOID param) {
  uint32_t id = 0;
  {
    auto lock = lockWindows();
    auto cls = findClass(classNameArg);
    if (!cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    Window* parent = nullptr;
    if (parentHandle != nullptr && parentHandle != HWND_MESSAGE && toId(parentHandle) != kDesktopId) {
      parent = findLocal(parentHandle);
      if (parent == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    if ((style & WS_CHILD) && parent == nullptr) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    auto w = std::make_unique<Window>();
    w->id = static_cast<uint32_t>(nextMachineNumber());
    w->cls = cls;
    w->proc = cls->proc;
    w->style = style;
    w->exStyle = exStyle;
    w->topmost = (exStyle & WS_EX_TOPMOST) != 0;
    w->title = windowName ? windowName : "";
    w->instance = instance;
    w->threadId = GetCurrentThreadId();
    w->extra.assign(static_cast<size_t>(std::max(0, cls->wndExtra)) + 64, 0);
    w->zorder = nextMachineNumber();
    if (style & WS_CHILD) {
      w->parent = parent->id;
      w->idOrMenu = reinterpret_cast<LONG_PTR>(menu);
    } else {
      if (parent != nullptr) {
        // The owner is the top-level window of the given one.
        Window* top = parent;
        while (top->parent != 0 && findLocal(top->parent)) top = findLocal(top->parent);
        w->owner = top->id;
      }
      w->idOrMenu = reinterpret_cast<LONG_PTR>(menu);
    }
    if (!(style & WS_CHILD) && x == CW_USEDEFAULT) {
      // The default place and size of overlapped windows: a cascade from the corner.
      x = 26;
      y = 26;
      if (width == CW_USEDEFAULT) {
        width = metric(SM_CXSCREEN) * 3 / 4;
        height = metric(SM_CYSCREEN) * 3 / 4;
      }
    } else if (width == CW_USEDEFAULT) {
      width = (style & WS_CHILD) ? 0 : metric(SM_CXSCREEN) * 3 / 4;
      height = (style & WS_CHILD) ? 0 : metric(SM_CYSCREEN) * 3 / 4;
    }
    if (x == CW_USEDEFAULT) x = y = 0;
    w->rect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
    w->surface = std::make_shared<Surface>();
    w->surface->resize(width, height);
    if (parent != nullptr && (style & WS_CHILD)) parent->children.push_back(w->id);
    id = w->id;
    w->style &= ~WS_VISIBLE;  // shown after WM_CREATE
    tables().windows.emplace(id, std::move(w));
  }
  const HWND hwnd = toHandle(id);
  ensureThreadQueue();

  CREATESTRUCTA cs{};
  cs.lpCreateParams = param;
  cs.hInstance = instance;
  cs.hMenu = menu;
  cs.hwndParent = parentHandle;
  cs.cx = width;
  cs.cy = height;
  cs.x = x;
  cs.y = y;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = windowName;
  cs.lpszClass = classNameArg;
  cs.dwExStyle = exStyle;

  if (callProcedure(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0) {
    callProcedure(hwnd, WM_NCDESTROY, 0, 0);
    removeWindow(id);
    return nullptr;
  }
  {
    auto lock = lockWindows();
    Window* w = findLocal(id);
    if (w == nullptr) return nullptr;
    w->created = true;
    publishIfTopLevel(*w);
  }
  if (callProcedure(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  RECT client{};
  GetClientRect(hwnd, &client);
  callProcedure(hwnd, WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
  callProcedure(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  std::vector<uint32_t> tree;
  std::vector<uint32_t> owned;
  {
    auto lock = lockWindows();
    Window* w = requireWindow(hwnd);
    if (w == nullptr) return FALSE;
    if (w->threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->destroying) return TRUE;
    w->destroying = true;
    for (auto& [id, other] : tables().windows) {
      if (other->owner == w->id && !other->destroying) owned.push_back(id);
    }
  }
  // Owned windows go first, as on Windows.
  for (uint32_t id : owned) DestroyWindow(toHandle(id));
  {
    auto lock = lockWindows();
    Window* w = findLocal(hwnd);
    if (w == nullptr) return TRUE;
    w->style &= ~WS_VISIBLE;
    publishIfTopLevel(*w);
    collectTree(w->id, tree);
    for (uint32_t id : tree) {
      if (Window* t = findLocal(id)) t->destroying = true;
    }
  }
  // WM_DESTROY parent first, WM_NCDESTROY children first.
  for (uint32_t id : tree) {
    if (findLocalLocked(id)) callProcedure(toHandle(id), WM_DESTROY, 0, 0);
  }
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    if (findLocalLocked(*it)) callProcedure(toHandle(*it), WM_NCDESTROY, 0, 0);
    removeWindow(*it);
  }
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  if (hwnd == nullptr) return FALSE;
  auto lock = lockWindows();
  if (findLocal(hwnd) != nullptr) return TRUE;
  if (toId(hwnd) == kDesktopId) return TRUE;
  RegistryEntry e;
  return lookupWindow(toId(hwnd), &e) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr) {
    RegistryEntry e;
    return lookupWindow(toId(hwnd), &e) && (e.style & WS_VISIBLE) ? TRUE : FALSE;
  }
  // Visible when it and all its parents are.
  while (w != nullptr) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    w = w->parent ? findLocal(w->parent) : nullptr;
  }
  return TRUE;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  return w != nullptr && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  return w != nullptr && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  return w != nullptr && (w->style & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI IsChild(HWND parent, HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  while (w != nullptr && (w->style & WS_CHILD)) {
    if (w->parent == toId(parent)) return TRUE;
    w = findLocal(w->parent);
  }
  return FALSE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmd) {
  bool wasVisible = false;
  bool nowVisible = false;
  RECT newRect{};
  bool resized = false;
  {
    auto lock = lockWindows();
    Window* w = requireWindow(hwnd);
    if (w == nullptr) return FALSE;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    const RECT before = w->rect;
    switch (cmd) {
      case SW_HIDE:
        w->style &= ~WS_VISIBLE;
        break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
      case SW_SHOWMINNOACTIVE:
        w->style |= WS_MINIMIZE;
        w->style &= ~WS_MAXIMIZE;
        w->style |= WS_VISIBLE;
        break;
      case SW_MAXIMIZE:
        w->style |= WS_MAXIMIZE | WS_VISIBLE;
        w->style &= ~WS_MINIMIZE;
        if (!(w->style & WS_CHILD)) {
          w->rect = RECT{0, 0, metric(SM_CXSCREEN), metric(SM_CYSCREEN) - 30};
        }
        break;
      case SW_RESTORE:
      case SW_SHOWNORMAL:
        w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
        w->style |= WS_VISIBLE;
        break;
      default:
        w->style |= WS_VISIBLE;
        break;
    }
    nowVisible = (w->style & WS_VISIBLE) != 0;
    if (!EqualRect(&before, &w->rect)) {
      resized = true;
      newRect = w->rect;
      w->surface->resize(newRect.right - newRect.left, newRect.bottom - newRect.top);
    }
    if (nowVisible && !wasVisible) invalidateAll(*w, true);
    if (!nowVisible) w->updatePending = false;
    publishIfTopLevel(*w);
  }
  if (wasVisible != nowVisible) callProcedure(hwnd, WM_SHOWWINDOW, nowVisible ? TRUE : FALSE, 0);
  if (resized) {
    RECT client{};
    GetClientRect(hwnd, &client);
    callProcedure(hwnd, WM_SIZE, cmd == SW_MAXIMIZE ? 2 : 0, MAKELPARAM(client.right, client.bottom));
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
  bool wasDisabled;
  {
    auto lock = lockWindows();
    Window* w = requireWindow(hwnd);
    if (w == nullptr) return FALSE;
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
    }
    publishIfTopLevel(*w);
  }
  if (wasDisabled == static_cast<bool>(enable)) callProcedure(hwnd, WM_ENABLE, enable, 0);
  return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  bool moved = false, sized = false, shown = false, hidden = false;
  RECT r{};
  {
    auto lock = lockWindows();
    Window* w = findLocal(hwnd);
    if (w == nullptr) {
      lock.unlock();
      // A window of another process moves on its own thread, as Windows does it.
      RegistryEntry e;
      if (lookupWindow(toId(hwnd), &e)) return setWindowPosElsewhere(hwnd, after, x, y, cx, cy, flags) ? TRUE : FALSE;
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      moved = r.left != x || r.top != y;
      OffsetRect(&r, x - r.left, y - r.top);
    }
    if (!(flags & SWP_NOSIZE)) {
      sized = (r.right - r.left) != cx || (r.bottom - r.top) != cy;
      r.right = r.left + std::max(0, cx);
      r.bottom = r.top + std::max(0, cy);
    }
    w->rect = r;
    if (sized) {
      w->surface->resize(r.right - r.left, r.bottom - r.top);
      if (!(flags & SWP_NOREDRAW)) invalidateAll(*w, true);
    }
    if (!(flags & SWP_NOZORDER)) {
      if (after == HWND_TOPMOST) {
        w->topmost = true;
        w->exStyle |= WS_EX_TOPMOST;
        w->zorder = nextMachineNumber();
      } else if (after == HWND_NOTOPMOST) {
        w->topmost = false;
        w->exStyle &= ~WS_EX_TOPMOST;
        w->zorder = nextMachineNumber();
      } else if (after == HWND_TOP) {
        w->zorder = nextMachineNumber();
      } else if (after == HWND_BOTTOM) {
        w->zorder = 1;
      }
    }
    if ((flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
      w->style |= WS_VISIBLE;
      invalidateAll(*w, true);
      shown = true;
    }
    if ((flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
      w->style &= ~WS_VISIBLE;
      hidden = true;
    }
    publishIfTopLevel(*w);
  }
  if (shown || hidden) callProcedure(hwnd, WM_SHOWWINDOW, shown, 0);
  if (sized) {
    RECT client{};
    GetClientRect(hwnd, &client);
    callProcedure(hwnd, WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
  }
  if (moved) callProcedure(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT out) {
  if (out == nullptr) return FALSE;
  auto lock = lockWindows();
  if (toId(hwnd) == kDesktopId) {
    *out = RECT{0, 0, metric(SM_CXSCREEN), metric(SM_CYSCREEN)};
    return TRUE;
  }
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return FALSE;
  RECT r = w->rect;
  // Child rectangles are kept in the parent's client coordinates.
  for (Window* p = (w->style & WS_CHILD) ? findLocal(w->parent) : nullptr; p != nullptr;
       p = (p->style & WS_CHILD) ? findLocal(p->parent) : nullptr) {
    RECT in = clientInsets(*p);
    OffsetRect(&r, p->rect.left + in.left, p->rect.top + in.top);
  }
  *out = r;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT out) {
  if (out == nullptr) return FALSE;
  auto lock = lockWindows();
  if (toId(hwnd) == kDesktopId) {
    *out = RECT{0, 0, metric(SM_CXSCREEN), metric(SM_CYSCREEN)};
    return TRUE;
  }
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return FALSE;
  RECT c = clientInSurface(*w);
  *out = RECT{0, 0, c.right - c.left, c.bottom - c.top};
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT pt) {
  RECT wr{};
  if (pt == nullptr || !GetWindowRect(hwnd, &wr)) return FALSE;
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  RECT in = w ? clientInsets(*w) : RECT{};
  pt->x += wr.left + in.left;
  pt->y += wr.top + in.top;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT pt) {
  POINT origin{0, 0};
  if (pt == nullptr || !ClientToScreen(hwnd, &origin)) return FALSE;
  pt->x -= origin.x;
  pt->y -= origin.y;
  return TRUE;
}

HWND WINAPI GetParent(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr) {
    RegistryEntry e;
    if (lookupWindow(toId(hwnd), &e)) return e.owner ? toHandle(e.owner) : nullptr;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (w->style & WS_CHILD) return toHandle(w->parent);
  return w->owner ? toHandle(w->owner) : nullptr;
}

HWND WINAPI SetParent(HWND child, HWND parentHandle) {
  auto lock = lockWindows();
  Window* w = requireWindow(child);
  if (w == nullptr) return nullptr;
  Window* p = findLocal(parentHandle);
  HWND old = (w->style & WS_CHILD) ? toHandle(w->parent) : nullptr;
  if (Window* oldParent = findLocal(w->parent)) {
    auto& c = oldParent->children;
    c.erase(std::remove(c.begin(), c.end(), w->id), c.end());
  }
  if (p != nullptr) {
    w->parent = p->id;
    p->children.push_back(w->id);
  } else {
    w->parent = 0;
  }
  return old;
}

HWND WINAPI GetDesktopWindow(void) { return toHandle(kDesktopId); }

HWND WINAPI GetWindow(HWND hwnd, UINT cmd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (cmd == GW_CHILD) {
    if (w == nullptr || w->children.empty()) return nullptr;
    return toHandle(w->children.front());
  }
  if (cmd == GW_OWNER) return w && w->owner ? toHandle(w->owner) : nullptr;
  if (w != nullptr && (w->style & WS_CHILD)) {
    Window* p = findLocal(w->parent);
    if (p == nullptr) return nullptr;
    auto& c = p->children;
    auto it = std::find(c.begin(), c.end(), w->id);
    switch (cmd) {
      case GW_HWNDFIRST:
        return toHandle(c.front());
      case GW_HWNDLAST:
        return toHandle(c.back());
      case GW_HWNDNEXT:
        return (it != c.end() && it + 1 != c.end()) ? toHandle(*(it + 1)) : nullptr;
      case GW_HWNDPREV:
        return (it != c.begin() && it != c.end()) ? toHandle(*(it - 1)) : nullptr;
      default:
        return nullptr;
    }
  }
  // Top-level windows of the machine, in Z order.
  std::vector<RegistryEntry> list = listWindows();
  if (list.empty()) return nullptr;
  auto it = std::find_if(list.begin(), list.end(), [&](const RegistryEntry& e) { return e.id == toId(hwnd); });
  switch (cmd) {
    case GW_HWNDFIRST:
      return toHandle(list.front().id);
    case GW_HWNDLAST:
      return toHandle(list.back().id);
    case GW_HWNDNEXT:
      return (it != list.end() && it + 1 != list.end()) ? toHandle((it + 1)->id) : nullptr;
    case GW_HWNDPREV:
      return (it != list.begin() && it != list.end()) ? toHandle((it - 1)->id) : nullptr;
    default:
      return nullptr;
  }
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  auto lock = lockWindows();
  Window* w = requireWindow(dialog);
  if (w == nullptr) return nullptr;
  for (uint32_t child : w->children) {
    Window* c = findLocal(child);
    if (c != nullptr && static_cast<int>(c->idOrMenu) == id) return toHandle(child);
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  return w != nullptr && (w->style & WS_CHILD) ? static_cast<int>(w->idOrMenu) : 0;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int max) {
  std::string title;
  {
    auto lock = lockWindows();
    if (Window* w = findLocal(hwnd)) {
      title = w->title;
    } else {
      RegistryEntry e;
      if (!lookupWindow(toId(hwnd), &e)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        if (buffer && max > 0) buffer[0] = '\0';
        return 0;
      }
      title = e.title;
    }
  }
  if (buffer == nullptr || max <= 0) return 0;
  return static_cast<int>(copyToBuffer(title, buffer, static_cast<size_t>(max)));
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
  auto lock = lockWindows();
  if (Window* w = findLocal(hwnd)) return static_cast<int>(w->title.size());
  RegistryEntry e;
  return lookupWindow(toId(hwnd), &e) ? static_cast<int>(e.title.size()) : 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr) {
    RegistryEntry e;
    if (lookupWindow(toId(hwnd), &e)) {
      if (index == GWL_STYLE) return static_cast<LONG>(e.style);
      if (index == GWL_EXSTYLE) return static_cast<LONG>(e.exStyle);
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
      return static_cast<LONG_PTR>((w->style & WS_CHILD) ? w->parent : w->owner);
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->exStyle);
    case GWLP_USERDATA:
      return w->userData;
    case GWLP_ID:
      return w->idOrMenu;
    default:
      if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
        LONG_PTR v;
        memcpy(&v, w->extra.data() + index, sizeof(v));
        return v;
      }
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  auto lock = lockWindows();
  Window* w = requireWindow(hwnd);
  if (w == nullptr) return 0;
  LONG_PTR old = 0;
  switch (index) {
    case GWLP_WNDPROC:
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWLP_HINSTANCE:
      old = reinterpret_cast<LONG_PTR>(w->instance);
      w->instance = reinterpret_cast<HINSTANCE>(value);
      return old;
    case GWL_STYLE:
      old = static_cast<LONG>(w->style);
      w->style = static_cast<DWORD>(value);
      publishIfTopLevel(*w);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      w->topmost = (w->exStyle & WS_EX_TOPMOST) != 0;
      publishIfTopLevel(*w);
      return old;
    case GWLP_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    case GWLP_ID:
      old = w->idOrMenu;
      w->idOrMenu = value;
      return old;
    default:
      if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
        memcpy(&old, w->extra.data() + index, sizeof(old));
        memcpy(w->extra.data() + index, &value, sizeof(value));
        return old;
      }
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrA(hwnd, index)); }

LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) {
  return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD pid) {
  auto lock = lockWindows();
  if (Window* w = findLocal(hwnd)) {
    if (pid) *pid = static_cast<DWORD>(getpid());
    return w->threadId;
  }
  RegistryEntry e;
  if (!lookupWindow(toId(hwnd), &e)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (pid) *pid = e.pid;
  return e.tid;
}

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  if (proc == nullptr) return FALSE;
  std::vector<RegistryEntry> list;
  {
    auto lock = lockWindows();
    list = listWindows();
  }
  for (const RegistryEntry& e : list) {
    if (!proc(toHandle(e.id), lParam)) break;
  }
  return TRUE;
}

BOOL WINAPI EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam) {
  std::vector<uint32_t> ids;
  {
    auto lock = lockWindows();
    for (auto& [id, w] : tables().windows) {
      if (w->threadId == threadId && !(w->style & WS_CHILD)) ids.push_back(id);
    }
  }
  bool any = !ids.empty();
  for (uint32_t id : ids) {
    if (IsWindow(toHandle(id)) && !proc(toHandle(id), lParam)) break;
  }
  return any ? TRUE : FALSE;
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
  if (proc == nullptr) return FALSE;
  std::vector<uint32_t> ids;
  {
    auto lock = lockWindows();
    Window* w = findLocal(parent);
    if (w == nullptr) return FALSE;
    // Every descendant, depth first, as on Windows.
    std::vector<uint32_t> tree;
    collectTree(w->id, tree);
    ids.assign(tree.begin() + 1, tree.end());
  }
  for (uint32_t id : ids) {
    if (IsWindow(toHandle(id)) && !proc(toHandle(id), lParam)) break;
  }
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR cls, LPCSTR title) {
  std::vector<RegistryEntry> list;
  {
    auto lock = lockWindows();
    list = listWindows();
  }
  const std::string wantClass = cls != nullptr && !IS_INTRESOURCE(cls) ? upper(cls) : std::string();
  for (const RegistryEntry& e : list) {
    if (cls != nullptr && !IS_INTRESOURCE(cls) && upper(e.className.c_str()) != wantClass) continue;
    if (title != nullptr && e.title != title) continue;
    return toHandle(e.id);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

HWND WINAPI FindWindowW(LPCWSTR cls, LPCWSTR title) {
  const std::string c = platform::toUtf8(cls), t = platform::toUtf8(title);
  return FindWindowA(cls ? c.c_str() : nullptr, title ? t.c_str() : nullptr);
}

HWND WINAPI FindWindowExA(HWND parent, HWND after, LPCSTR cls, LPCSTR title) {
  if (parent == nullptr || toId(parent) == kDesktopId) {
    std::vector<RegistryEntry> list;
    {
      auto lock = lockWindows();
      list = listWindows();
    }
    bool started = after == nullptr;
    for (const RegistryEntry& e : list) {
      if (!started) {
        started = e.id == toId(after);
        continue;
      }
      if (cls != nullptr && strcasecmp(e.className.c_str(), cls) != 0) continue;
      if (title != nullptr && e.title != title) continue;
      return toHandle(e.id);
    }
    return nullptr;
  }
  auto lock = lockWindows();
  Window* p = findLocal(parent);
  if (p == nullptr) return nullptr;
  bool started = after == nullptr;
  for (uint32_t id : p->children) {
    if (!started) {
      started = id == toId(after);
      continue;
    }
    Window* c = findLocal(id);
    if (c == nullptr) continue;
    if (cls != nullptr && strcasecmp(c->cls->name.c_str(), cls) != 0) continue;
    if (title != nullptr && c->title != title) continue;
    return toHandle(id);
  }
  return nullptr;
}

namespace {
std::atomic<uint32_t> g_foreground{0};
std::atomic<uint32_t> g_focus{0};
}  // namespace

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd)) return FALSE;
  g_foreground = toId(hwnd);
  return TRUE;
}

HWND WINAPI GetForegroundWindow(void) { return g_foreground ? toHandle(g_foreground) : nullptr; }

HWND WINAPI SetFocus(HWND hwnd) {
  uint32_t old = g_focus.exchange(toId(hwnd));
  return old ? toHandle(old) : nullptr;
}

HWND WINAPI GetFocus(void) {
  uint32_t f = g_focus;
  return f && IsWindow(toHandle(f)) ? toHandle(f) : nullptr;
}

HWND WINAPI SetActiveWindow(HWND hwnd) {
  HWND old = GetForegroundWindow();
  SetForegroundWindow(hwnd);
  return old;
}

HWND WINAPI GetActiveWindow(void) { return GetForegroundWindow(); }

BOOL WINAPI BringWindowToTop(HWND hwnd) { return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

BOOL WINAPI SetPropA(HWND hwnd, LPCSTR name, HANDLE data) {
  auto lock = lockWindows();
  Window* w = requireWindow(hwnd);
  if (w == nullptr || name == nullptr) return FALSE;
  w->props[upper(name)] = data;
  return TRUE;
}

HANDLE WINAPI GetPropA(HWND hwnd, LPCSTR name) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr || name == nullptr) return nullptr;
  auto it = w->props.find(upper(name));
  return it == w->props.end() ? nullptr : it->second;
}

HANDLE WINAPI RemovePropA(HWND hwnd, LPCSTR name) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr || name == nullptr) return nullptr;
  auto it = w->props.find(upper(name));
  if (it == w->props.end()) return nullptr;
  HANDLE h = it->second;
  w->props.erase(it);
  return h;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
      auto lock = lockWindows();
      if (Window* w = findLocal(hwnd); w && cs && cs->lpszName) w->title = cs->lpszName;
      return TRUE;
    }
    case WM_SETTEXT: {
      auto lock = lockWindows();
      Window* w = findLocal(hwnd);
      if (w == nullptr) return FALSE;
      w->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
      publishIfTopLevel(*w);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto lock = lockWindows();
      Window* w = findLocal(hwnd);
      char* out = reinterpret_cast<char*>(lParam);
      if (w == nullptr || out == nullptr || wParam == 0) return 0;
      return static_cast<LRESULT>(copyToBuffer(w->title, out, static_cast<size_t>(wParam)));
    }
    case WM_GETTEXTLENGTH: {
      auto lock = lockWindows();
      Window* w = findLocal(hwnd);
      return w ? static_cast<LRESULT>(w->title.size()) : 0;
    }
    case WM_SETFONT: {
      auto lock = lockWindows();
      if (Window* w = findLocal(hwnd)) w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    }
    case WM_GETFONT: {
      auto lock = lockWindows();
      Window* w = findLocal(hwnd);
      return w ? reinterpret_cast<LRESULT>(w->font) : 0;
    }
    case WM_SETICON:
    case WM_GETICON: {
      auto lock = lockWindows();
      Window* w = findLocal(hwnd);
      if (w == nullptr) return 0;
      HANDLE& slot = w->props[wParam == ICON_BIG ? "#ICON_BIG" : "#ICON_SMALL"];
      HANDLE previous = slot;
      if (msg == WM_SETICON) slot = reinterpret_cast<HANDLE>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush = nullptr;
      {
        auto lock = lockWindows();
        Window* w = findLocal(hwnd);
        if (w == nullptr) return 0;
        brush = w->cls->background;
      }
      if (brush == nullptr) return 0;
      RECT client{};
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
      return 1;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetSysColorBrush(msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX
                                                            ? COLOR_WINDOW
                                                            : COLOR_3DFACE));
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) PostMessageA(hwnd, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT WINAPI DefFrameProcA(HWND hwnd, HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT WINAPI DefMDIChildProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI GetSystemMetrics(int index) {
  auto lock = lockWindows();
  return metric(index);
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT, PVOID param, UINT) {
  if (action == SPI_GETWORKAREA && param != nullptr) {
    auto lock = lockWindows();
    *static_cast<RECT*>(param) = RECT{0, 0, metric(SM_CXSCREEN), metric(SM_CYSCREEN) - 30};
    return TRUE;
  }
  return FALSE;
}

BOOL WINAPI GetCursorPos(LPPOINT pt) {
  if (pt == nullptr) return FALSE;
  // The cursor is the desktop's: a position set by any process of the machine.
  const std::vector<std::vector<std::string>> cursor = platform::desktop::read("cursor");
  auto lock = lockWindows();
  if (!cursor.empty() && cursor.front().size() == 2) g_cursor = POINT{std::stoi(cursor.front()[0]), std::stoi(cursor.front()[1])};
  *pt = g_cursor;
  return TRUE;
}

BOOL WINAPI SetRect(LPRECT r, int l, int t, int rr, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, rr, b};
  return TRUE;
}
BOOL WINAPI SetRectEmpty(LPRECT r) { return SetRect(r, 0, 0, 0, 0); }
BOOL WINAPI CopyRect(LPRECT d, const RECT* s) {
  if (!d || !s) return FALSE;
  *d = *s;
  return TRUE;
}
BOOL WINAPI IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
BOOL WINAPI OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}
BOOL WINAPI InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->right += dx;
  r->top -= dy;
  r->bottom += dy;
  return TRUE;
}
BOOL WINAPI IntersectRect(LPRECT d, const RECT* a, const RECT* b) {
  if (!d || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    *d = RECT{};
    return FALSE;
  }
  *d = r;
  return TRUE;
}
BOOL WINAPI UnionRect(LPRECT d, const RECT* a, const RECT* b) {
  if (!d || !a || !b) return FALSE;
  if (IsRectEmpty(a)) {
    *d = *b;
  } else if (IsRectEmpty(b)) {
    *d = *a;
  } else {
    *d = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
              std::max(a->bottom, b->bottom)};
  }
  return !IsRectEmpty(d);
}
BOOL WINAPI EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL WINAPI PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}

BOOL WINAPI WinHelpA(HWND, LPCSTR, UINT, ULONG_PTR) { return TRUE; }

}  // extern "C"

namespace platform {
namespace wintest {

void setScreenSize(int width, int height) {
  auto lock = lockWindows();
  g_screenWidth = width;
  g_screenHeight = height;
}

void setSystemMetric(int index, int value) {
  auto lock = lockWindows();
  metricOverrides()[index] = value;
}

void resetSystemMetrics() {
  auto lock = lockWindows();
  metricOverrides().clear();
  g_screenWidth = 1024;
  g_screenHeight = 768;
}

void setCursorPos(int x, int y) {
  platform::desktop::replace("cursor", {std::to_string(x), std::to_string(y)});
  auto lock = lockWindows();
  g_cursor = POINT{x, y};
}

std::vector<HWND> threadWindows(DWORD threadId) {
  std::vector<HWND> out;
  auto lock = lockWindows();
  for (auto& [id, w] : tables().windows) {
    if (w->threadId == threadId) out.push_back(toHandle(id));
  }
  return out;
}

}  // namespace wintest
}  // namespace platform
