#include "host/window/VSplashWindow.h"

#include "host/window/VDC.h"

VSplashWindowBase::VSplashWindowBase(uint32_t kind, bool autoDelete) : VWindow(kind) {
  m_flags.set(kPaintsItself);
  if (autoDelete) m_flags.set(kDeletesItself);
}

LRESULT VSplashWindowBase::defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // the bitmap covers everything
    case WM_LBUTTONUP:
      close(1);  // may delete a self-deleting object: nothing of it is touched after
      return 0;
    default:
      return VWindow::defaultProc(hwnd, msg, wParam, lParam);
  }
}

bool VSplashWindowBase::onPaint(VDC& dc) {
  VRect client;
  GetClientRect(m_hwnd, client.get());
  paint(dc, client);
  return false;
}

void VSplashWindowBase::onNCDestroy() {
  releaseContent();
  VWindow::onNCDestroy();
}

bool VSplashWindowBase::createPopup(int width, int height, int seconds) {
  if (width == 0 || height == 0) return false;
  const VRect rect(0, 0, width, height);
  bool created;
  {
    VTempWindow desktop(GetDesktopWindow());
    created = create(desktop, rect, WS_POPUP, "#32770", nullptr, nullptr);
  }
  if (!created) return false;
  VRect window;
  GetWindowRect(m_hwnd, window.get());
  const int w = window.width();
  const int h = window.height();
  SetWindowPos(m_hwnd, nullptr, GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2, GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2,
               0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(m_hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW | SWP_NOSENDCHANGING);
  ShowWindow(m_hwnd, SW_SHOWNORMAL);
  UpdateWindow(m_hwnd);
  if (seconds != 0) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000u;
    while (static_cast<int32_t>(GetTickCount() - end) < 0) {
    }
  }
  return true;
}

VSplashWindow::~VSplashWindow() {
  destroyWindowNow();
  releaseContent();
}

bool VSplashWindow::create(LPCSTR bitmapName, HINSTANCE module, int seconds) {
  // A second call starts afresh instead of leaving the first window and bitmap behind.
  destroyWindowNow();
  releaseContent();
  m_bitmap = std::make_unique<VBitmap>(bitmapName, module);
  if (m_bitmap->getHandle() != nullptr &&
      createPopup(m_bitmap->info().bmWidth, m_bitmap->info().bmHeight, seconds)) {
    return true;
  }
  releaseContent();
  return false;
}

void VSplashWindow::releaseContent() { m_bitmap.reset(); }

void VSplashWindow::paint(VDC& dc, VRect&) {
  if (m_bitmap) m_bitmap->draw(dc, 0, 0, 0, 0);
}

SplashWindow::~SplashWindow() { destroyWindowNow(); }

void SplashWindow::setStatus(const VString& text) {
  if (&text != &m_status) m_status.assign(text);
  redraw(true);
}

void SplashWindow::paint(VDC& dc, VRect& rect) {
  VSplashWindow::paint(dc, rect);
  if (m_status.isEmpty()) return;
  VStockFont font;
  font.select(DEFAULT_GUI_FONT);
  VGDIObjectSelector selection(dc, font);
  SetBkMode(dc.getHandle(), TRANSPARENT);
  DrawTextA(dc.getHandle(), m_status.getText(), -1, rect.get(), DT_SINGLELINE | DT_BOTTOM | DT_CENTER);
}
