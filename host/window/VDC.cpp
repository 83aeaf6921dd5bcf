#include "host/window/VDC.h"

#include <cstring>

#include "host/window/VWindow.h"

VDC::~VDC() {
  if (m_handle == nullptr) return;
  if (m_saved != 0) RestoreDC(m_handle, m_saved);
  if (m_owns) DeleteDC(m_handle);
  m_handle = nullptr;
}

void VDC::release() {
  if (m_owns && m_handle != nullptr) DeleteDC(m_handle);
  m_handle = nullptr;
}

void VDC::attach(HDC handle, bool owns) {
  if (m_handle != nullptr) {
    if (m_saved != 0) RestoreDC(m_handle, m_saved);
    release();
  }
  m_handle = handle;
  m_owns = owns;
  m_saved = 0;
}

int VDC::save() {
  m_saved = m_handle != nullptr ? SaveDC(m_handle) : 0;
  return m_saved;
}

VDCWithWindow::~VDCWithWindow() {
  // Given back as it was obtained, while this class's release still applies.
  VDCWithWindow::attach(nullptr, false);
}

void VDCWithWindow::release() {
  if (m_owns && m_handle != nullptr) ReleaseDC(m_window.getHandle(), m_handle);
  m_handle = nullptr;
}

bool VDCWithWindow::getDC() {
  attach(GetDC(m_window.getHandle()), true);
  return m_handle != nullptr;
}

VPaintDC::VPaintDC(VWindow& window) : VDCWithWindow(window) {
  HDC handle = BeginPaint(window.getHandle(), &m_ps);
  attach(handle, true);
}

VPaintDC::~VPaintDC() {
  // Ends painting before the base destructors run.
  VPaintDC::attach(nullptr, false);
}

void VPaintDC::release() {
  if (m_owns && m_handle != nullptr) {
    EndPaint(m_window.getHandle(), &m_ps);
    std::memset(&m_ps, 0, sizeof m_ps);
  }
  m_handle = nullptr;
}

namespace {

// Learns what the destination has selected of one type by selecting a stock object
// of that type, hands it to the memory DC, and puts it back into the destination.
void copySelection(HDC destination, HDC memory, int stockNumber) {
  HGDIOBJ current = SelectObject(destination, GetStockObject(stockNumber));
  if (current == nullptr) return;
  SelectObject(memory, current);
  SelectObject(destination, current);
}

}  // namespace

VBufferedDC::VBufferedDC(VDC& destination, const VRect* area) {
  HDC target = destination.getHandle();
  bool buffered = false;
  HWND window = nullptr;
  if (target != nullptr && GetObjectType(target) != OBJ_MEMDC) window = WindowFromDC(target);
  if (window != nullptr) {
    VRect client;
    GetClientRect(window, client.get());
    const VRect chosen = area != nullptr ? *area : client;
    if (!chosen.isEmpty()) {
      HDC memory = CreateCompatibleDC(target);
      if (memory != nullptr) {
        VDC::attach(memory, true);
        // The buffer covers the whole client area, so that coordinates stay the window's.
        if (m_bitmap.set(CreateCompatibleBitmap(target, client.width(), client.height()))) {
          m_memorySaved = SaveDC(memory);
          SetTextColor(memory, GetTextColor(target));
          SetBkMode(memory, GetBkMode(target));
          SetMapMode(memory, GetMapMode(target));
          copySelection(target, memory, BLACK_BRUSH);
          copySelection(target, memory, BLACK_PEN);
          copySelection(target, memory, ANSI_FIXED_FONT);
          SelectObject(memory, m_bitmap.getHandle());
          m_area = chosen;
          m_destination = target;
          FillRect(memory, m_area.get(), getBackgroundBrush(window));
          buffered = true;
        } else {
          VDC::release();
        }
      }
    }
  }
  if (!buffered) {
    m_area = VRect();
    m_destination = nullptr;
    VDC::attach(target, false);
  }
}

VBufferedDC::~VBufferedDC() {
  VBufferedDC::flush();
  if (m_destination != nullptr && m_handle != nullptr && m_memorySaved != 0) RestoreDC(m_handle, m_memorySaved);
  VDC::release();
  m_area = VRect();
  // m_bitmap deletes the buffer, which the restore above took out of the memory DC.
}

void VBufferedDC::flush() {
  if (m_destination == nullptr || m_handle == nullptr) return;
  BitBlt(m_destination, m_area.left, m_area.top, m_area.width(), m_area.height(), m_handle, m_area.left, m_area.top,
         SRCCOPY);
}

HBRUSH getBackgroundBrush(HWND window) {
  if (window == nullptr) return nullptr;
  char name[33] = {0};
  if (GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0) {
    HDC dc = GetDC(window);
    if (dc == nullptr) return nullptr;
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageA(window, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)));
    ReleaseDC(window, dc);
    return brush;
  }
  return reinterpret_cast<HBRUSH>(GetClassLongPtrA(window, GCLP_HBRBACKGROUND));
}
