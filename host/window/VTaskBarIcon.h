// A notification-area icon of a window, and the filter that turns the icon's callback
// message into virtual click handlers.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "foundation/base/VString.h"
#include "host/window/VWindowMessageFilter.h"

class VWindow;

// A point on the screen (the cursor when the shell reported a click).
class VPoint {
 public:
  VPoint(int px = 0, int py = 0) : x(px), y(py) {}
  virtual ~VPoint() = default;
  int x;
  int y;
};

class VTaskBarIcon : public VWindowMessageFilter {
 public:
  VTaskBarIcon() = default;
  VTaskBarIcon(const VTaskBarIcon&) = delete;
  VTaskBarIcon& operator=(const VTaskBarIcon&) = delete;
  // Removes the icon from the shell when it was added, and destroys the icon.
  ~VTaskBarIcon() override;

  // Shows the icon for the owner's window (iconId not 0: that icon resource first); the
  // tip, or the application name when none was given and the tooltip is empty. From then
  // on the filter sees the owner's messages. False when the shell refuses the icon.
  bool add(VWindow& owner, UINT iconId, const char* tip, HINSTANCE module);
  // The icon resource at small-icon size (module NULL: the application's resource
  // module) replaces the current icon; with update the shell is told (modify).
  bool setIcon(UINT iconId, bool update, HINSTANCE module);
  // Replaces the icon by one the caller made; the previous one is destroyed.
  void setIcon(HICON icon);
  // Tells the shell the current icon and tip.
  bool modify();

  // Dispatches the icon's callback message to the click handlers; always true.
  bool filterMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result, bool* handled) override;

  // Shows the window when it is minimised or hidden.
  virtual void onLeftDoubleClick(const VPoint& point);
  virtual void onLeftButtonDown(const VPoint& point);
  virtual void onLeftButtonUp(const VPoint& point);
  virtual void onRightDoubleClick(const VPoint& point);
  virtual void onRightButtonDown(const VPoint& point);
  virtual void onRightButtonUp(const VPoint& point);

  HWND getWindow() const { return m_window; }
  HICON getIcon() const { return m_icon; }
  const VString& getTooltip() const { return m_tooltip; }

 protected:
  // The shell's record for this icon (flags NIF_ICON | NIF_TIP; add sets the rest).
  NOTIFYICONDATAA record() const;

  VString m_tooltip;
  UINT m_iconId = 0;
  UINT m_callbackMessage = 0;
  HICON m_icon = nullptr;
  HWND m_window = nullptr;
};
