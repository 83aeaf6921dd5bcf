#include "host/window/SplashSlot.h"

int SplashSlot::show(UINT bitmapId, HINSTANCE module) {
  if (!m_splash) m_splash = std::make_unique<SplashWindow>();
  return m_splash->create(MAKEINTRESOURCEA(bitmapId), module, 0) ? 0 : 1;
}

int SplashSlot::destroy() {
  if (!m_splash) return 1;
  m_splash.reset();
  return 0;
}

int SplashSlot::setStatus(const char* text) {
  if (!m_splash) return 1;
  m_splash->setStatus(VString(text));
  return 0;
}
