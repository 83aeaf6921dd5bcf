// Shared state of the window layer: classes, windows, thread message queues and the
// surfaces that device contexts draw into. Private to platform/src.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "windows.h"

namespace platform {
namespace win {

// A 32-bpp pixel buffer (0x00RRGGBB per pixel, rows from the top).
constexpr uint32_t kWhitePixel = 0xFFFFFFu;

// A window's or bitmap's pixels. They are white until something draws, and while only a
// few solid fills drew (a dialog's background, a bar) they are kept as those fills: most
// windows of this headless layer are never drawn on otherwise, and a program should not
// pay for a screenful of memory it never touches with every window it makes.
struct Surface {
  int width = 0;
  int height = 0;
  void resize(int w, int h);
  uint32_t* data();                    // width * height pixels, made on first use
  uint32_t pixel(size_t index) const;  // white where nothing was drawn
  std::vector<uint32_t> copy() const;
  void fill(const RECT& r, uint32_t pixel);  // r inside the surface, not empty

 private:
  struct Fill {
    RECT rect;
    uint32_t pixel;
  };
  static constexpr size_t kMaxFills = 8;
  void fillRows(uint32_t* out, const RECT& r, uint32_t pixel) const;  // r's rows of a width-wide buffer
  void paint(uint32_t* out) const;  // white, then the fills in their order
  std::vector<uint32_t> pixels;     // empty until drawn otherwise than by `fills`
  std::vector<Fill> fills;
};

struct WindowClass {
  std::string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int clsExtra = 0;
  int wndExtra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  ATOM atom = 0;
  bool system = false;
};

// State of the built-in controls, kept by the control's own procedure.
struct ControlState {
  virtual ~ControlState() = default;
};

struct Window {
  uint32_t id = 0;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string title;
  uint32_t parent = 0;  // child windows
  uint32_t owner = 0;   // owned top-level windows
  std::vector<uint32_t> children;
  LONG_PTR idOrMenu = 0;  // child id, or the HMENU of a top-level window
  HINSTANCE instance = nullptr;
  RECT rect{};  // in the parent's client coordinates; top-level: screen
  DWORD threadId = 0;
  bool created = false;     // WM_NCCREATE answered
  bool destroying = false;  // DestroyWindow runs
  bool topmost = false;
  uint64_t zorder = 0;
  bool updatePending = false;
  bool erasePending = false;
  RECT update{};
  LONG_PTR userData = 0;
  std::vector<unsigned char> extra;
  std::map<std::string, HANDLE> props;
  std::shared_ptr<Surface> surface;
  std::shared_ptr<ControlState> control;
  HFONT font = nullptr;
  // Dialogs.
  bool dialog = false;
  bool dialogEnded = false;
  INT_PTR dialogResult = 0;
};

// The one lock of the window tables. Never held while a window procedure runs.
std::unique_lock<std::recursive_mutex> lockWindows();

// With the lock held: the window of a local handle, or nullptr.
Window* findLocal(HWND hwnd);
Window* findLocal(uint32_t id);
// The same for an API function: ERROR_INVALID_WINDOW_HANDLE is set when there is none.
Window* requireWindow(HWND hwnd);
inline HWND toHandle(uint32_t id) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(id)); }
inline uint32_t toId(HWND hwnd) {
  const uint64_t v = reinterpret_cast<uintptr_t>(hwnd);
  return v > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(v);
}

// Copies a text into a caller's buffer of max > 0 characters, cut to fit and ending
// in NUL: the number of characters copied.
inline size_t copyToBuffer(const std::string& text, char* out, size_t max) {
  const size_t n = text.size() < max - 1 ? text.size() : max - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return n;
}

// The client area within the window rectangle (insets from the frame, caption, menu).
RECT clientInsets(const Window& w);
// The client rectangle in the surface's coordinates.
RECT clientInSurface(const Window& w);

// Calls a window's current procedure (no lock held); 0 for a window that is gone.
LRESULT callProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Known system class procedures.
LRESULT CALLBACK buttonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK staticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK editProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK listBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK comboBoxProc(HWND, UINT, WPARAM, LPARAM);
// The order of sorted list and combo boxes: <0, 0, >0.
int compareListTexts(const std::string& a, const std::string& b);
LRESULT CALLBACK listViewProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK progressProc(HWND, UINT, WPARAM, LPARAM);
void registerSystemClasses();  // with the lock held
void markSystemClasses();      // the classes registered so far are the system's

// Messages (window_messages.cpp).
bool postLocal(DWORD threadId, const MSG& msg);
bool isOwnThread(HWND hwnd);
void ensureThreadQueue();
// SetWindowPos for a top-level window of another process, done by its own thread.
bool setWindowPosElsewhere(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags);  // the calling thread's queue and its endpoint for other processes
void dropThreadWindows(DWORD threadId);  // window.cpp: a thread ends

// System metrics (window.cpp).
int metric(int index);

// The registry of top-level windows shared by the processes of a machine root (wndreg.cpp).
struct RegistryEntry {
  uint32_t id = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  bool topmost = false;
  uint64_t zorder = 0;
  uint32_t owner = 0;
  std::string className;
  std::string title;
  std::string lockName;
};
uint64_t nextMachineNumber();          // window ids and Z-order stamps
void publishWindow(const Window& w);   // enters or updates a top-level window
void withdrawWindow(uint32_t id);
// Live top-level windows of every process, in Z order (topmost first, then newest first).
std::vector<RegistryEntry> listWindows();
bool lookupWindow(uint32_t id, RegistryEntry* entry);
// The name of the abstract socket of a GUI thread.
std::string endpointName(uint32_t pid, uint32_t tid);
// The hung-state record of a thread: written by the owner, read by senders.
void markAsking(bool waiting);
bool threadHung(uint32_t pid, uint32_t tid, DWORD thresholdMs);
// Whether a thread of the process has waited for messages at least once (WaitForInputIdle).
bool processWasIdle(uint32_t pid);

// GDI (gdi.cpp).
HDC makeWindowDC(HWND hwnd, bool client);
void releaseWindowDC(HDC hdc);
COLORREF systemColor(int index);

// Icons (window_icons.cpp): where an icon came from, "" for an unknown handle.
std::string iconSource(HICON icon);

// Menus (menu.cpp).
void destroyMenusOfWindow(HMENU menu);

// Test hooks (window_test.cpp).
int answerMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
bool runDialogScript(HWND dialog);
std::function<void(HWND)> takeDialogScript();  // the next queued dialog action, or empty
void runPendingUiActions();  // dialog.cpp: the scripted users waiting for a message wait
int popupMenuChoice(HMENU menu, HWND owner, int x, int y);

}  // namespace win
}  // namespace platform
