// Owners of device contexts: each handle is released, restored or deleted exactly
// once, the way it was obtained.
#pragma once

#include <windows.h>

#include "host/window/VGDIObject.h"
#include "host/window/VRect.h"

class VWindow;

class VDC {
 public:
  VDC() = default;
  VDC(HDC handle, bool owns) : m_handle(handle), m_owns(owns) {}
  VDC(const VDC&) = delete;
  VDC& operator=(const VDC&) = delete;
  // Restores the saved state and deletes an owned handle.
  virtual ~VDC();

  // Hands buffered drawing to its destination.
  virtual void flush() {}
  // Gives the handle back as it was obtained (base: DeleteDC when owned).
  virtual void release();
  virtual bool isBuffered() const { return false; }
  // Restores and releases a held handle, then takes the new one.
  virtual void attach(HDC handle, bool owns);

  HDC getHandle() const { return m_handle; }
  operator HDC() const { return m_handle; }
  bool owns() const { return m_owns; }
  // SaveDC now; the destructor restores it.
  int save();

 protected:
  HDC m_handle = nullptr;
  bool m_owns = true;
  int m_saved = 0;
};

// A borrowed handle: never released.
class VTempDC : public VDC {
 public:
  explicit VTempDC(HDC handle) { m_handle = handle; m_owns = false; }
  ~VTempDC() override { m_handle = nullptr; }
  void release() override {}
  void attach(HDC handle, bool) override {
    m_handle = handle;
    m_owns = false;
    m_saved = 0;
  }
};

// A device context of a window, given back with ReleaseDC.
class VDCWithWindow : public VDC {
 public:
  explicit VDCWithWindow(VWindow& window) : m_window(window) {}
  ~VDCWithWindow() override;
  void release() override;
  // GetDC of the window, owned.
  bool getDC();

 protected:
  VWindow& m_window;
};

// BeginPaint for its lifetime.
class VPaintDC : public VDCWithWindow {
 public:
  explicit VPaintDC(VWindow& window);
  ~VPaintDC() override;
  void release() override;
  const PAINTSTRUCT& paintStruct() const { return m_ps; }

 private:
  PAINTSTRUCT m_ps{};
};

// Drawing into an off-screen copy of a window's client area, copied back by flush;
// direct drawing for a memory DC, a DC without a window, or any failure.
class VBufferedDC : public VDC {
 public:
  VBufferedDC(VDC& destination, const VRect* area);
  ~VBufferedDC() override;
  void flush() override;
  bool isBuffered() const override { return m_destination != nullptr; }
  const VRect& area() const { return m_area; }

 private:
  VRect m_area;
  VBitmap m_bitmap;
  HDC m_destination = nullptr;
  int m_memorySaved = 0;
};

// The brush a window's background is filled with: the dialog brush of a "#32770"
// window (WM_CTLCOLORDLG), else the class background. 0 for no window.
HBRUSH getBackgroundBrush(HWND window);
