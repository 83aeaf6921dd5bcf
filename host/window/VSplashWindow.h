// Splash windows: a borderless popup centred on the screen and kept above other
// windows, showing a bitmap resource and, in SplashWindow, a one-line status text.
#pragma once

#include <memory>

#include "foundation/base/VString.h"
#include "host/window/VGDIObject.h"
#include "host/window/VWindow.h"

// Wraps a window it does not own (the desktop as a parent); never destroys it.
class VTempWindow : public VWindow {
 public:
  explicit VTempWindow(HWND hwnd) : VWindow(41) { m_hwnd = hwnd; }
  ~VTempWindow() override { m_hwnd = nullptr; }
};

class VSplashWindowBase : public VWindow {
 public:
  VSplashWindowBase(uint32_t kind, bool autoDelete);

  LRESULT defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool onPaint(VDC& dc) override;
  void onNCDestroy() override;

  virtual void releaseContent() {}
  virtual void paint(VDC& dc, VRect& rect) {
    (void)dc;
    (void)rect;
  }

  // A popup of the class "#32770" of that size, centred, topmost and shown; waits
  // `seconds` without handling messages. False for a zero size or a failed creation.
  bool createPopup(int width, int height, int seconds);
};

class VSplashWindow : public VSplashWindowBase {
 public:
  VSplashWindow(uint32_t kind, bool autoDelete) : VSplashWindowBase(kind, autoDelete) {}
  ~VSplashWindow() override;

  // Shows bitmap resource `bitmapName` (module NULL: the application's resource module).
  bool create(LPCSTR bitmapName, HINSTANCE module, int seconds);
  void releaseContent() override;
  void paint(VDC& dc, VRect& rect) override;
  const VBitmap* bitmap() const { return m_bitmap.get(); }

 private:
  std::unique_ptr<VBitmap> m_bitmap;
};

// The program's splash: the bitmap with a status line at its bottom edge.
class SplashWindow : public VSplashWindow {
 public:
  SplashWindow() : VSplashWindow(13, false) {}
  ~SplashWindow() override;

  void setStatus(const VString& text);
  const VString& getStatus() const { return m_status; }
  void paint(VDC& dc, VRect& rect) override;

 private:
  VString m_status;
};
