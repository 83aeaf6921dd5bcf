// Window objects bound one to one to windows, the static window procedure that turns
// messages into virtual operations, message filters and the message loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "foundation/base/VBitmask.h"
#include "host/window/VRect.h"

class VDC;
class VWindowMessageFilter;

// The marker of a message that nobody handled: it goes to the default processing.
constexpr LRESULT kVWindowNotHandled = static_cast<LRESULT>(static_cast<int32_t>(0xFFFF0001u));

// The class name of the library's window class.
extern const char* const kVWindowClassName;

class VWindow : public VLinkedListItem {
 public:
  // Window flags.
  static constexpr uint32_t kPaintsItself = 0x1;
  static constexpr uint32_t kCreating = 0x2;
  static constexpr uint32_t kDoubleBuffered = 0x4;
  static constexpr uint32_t kDeletesItself = 0x8;

  // Enters the object into the window list (at the head for main and frame kinds).
  explicit VWindow(uint32_t kind = 0);
  // Destroys a live window (its WM_NCDESTROY still finds the object) and leaves the list.
  ~VWindow() override;

  virtual bool close(int flag);
  virtual void getCaptionRect(VRect& rect);
  virtual bool isDialog();
  virtual void maximize();
  virtual void minimize();
  virtual bool preTranslateMessage(MSG* msg);
  virtual void restore();
  virtual LRESULT defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  virtual LRESULT onCommand(UINT notifyCode, UINT id, HWND control);
  virtual void onDestroy();
  virtual bool onPaint(VDC& dc);
  virtual LRESULT onSize(UINT type, int width, int height);
  virtual LRESULT onNotify(WPARAM wParam, NMHDR* header);
  virtual LRESULT onNotifyReflect(NMHDR* header, LRESULT& result);
  virtual void onNCDestroy();
  virtual bool preCreate(CREATESTRUCTA& cs);
  virtual bool onCreate();

  // Creates the window (className NULL: "VWindow") with this object as its creation
  // parameter, and binds it; a window of another class is subclassed.
  bool create(VWindow& parent, const VRect& rect, DWORD style, const char* className, const char* title,
              HMENU menuOrId);
  static bool attach(VWindow* object, HWND hwnd);
  // Puts the replaced procedure back.
  void unsubclass();
  // Attaches (add) or detaches a filter; detachAll removes it whatever its count.
  void attachFilter(VWindowMessageFilter* filter, bool add, bool detachAll);

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Serves every window of the thread until WM_QUIT: its wParam, or -1 when
  // GetMessageA fails.
  int messageLoop();
  int showAndRun();
  void redraw(bool erase);
  // The handle when it names a live window, else NULL.
  HWND isWindow() const;
  // The listed object bound to the handle (first from the head), or NULL.
  static VWindow* findWindow(HWND hwnd);

  HWND getHandle() const { return m_hwnd; }
  uint32_t getKind() const { return m_kind.getKind(); }
  VBitmask& flags() { return m_flags; }
  const VBitmask& flags() const { return m_flags; }
  HMENU getCreationId() const { return m_creationId; }
  void setAccelerators(HACCEL accel) { m_accel = accel; }
  WNDPROC getReplacedProc() const { return m_replacedProc; }
  bool hasFilters() const { return m_filters != nullptr; }

  // For the children of the window: the shared EnumChildWindows operations.
  void enableChildren(bool enable);
  void showChildren(bool show);
  HWND findChild(const char* className, bool skipPushButtons);

  static bool isDialogKind(uint32_t kind);

 protected:
  // Destroys the window now, while the whole object still answers its messages.
  void destroyWindowNow();

  VRTTI m_kind;
  VBitmask m_flags;
  uint32_t m_savedFlags = 0;
  HMENU m_creationId = nullptr;
  HWND m_hwnd = nullptr;
  HACCEL m_accel = nullptr;
  WNDPROC m_replacedProc = nullptr;
  std::unique_ptr<VLinkedListManager> m_filters;

 private:
  int subclassIndex();
};

// The process-wide window list, and whether it still exists (it is gone at exit).
vwindow_WindowList& getWindowList();
bool isWindowListAlive();
