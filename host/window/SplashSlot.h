// The application object's splash window: made on the first request, kept until it
// is destroyed, with the answers the start-up expects (0 = done, 1 = no splash).
#pragma once

#include <memory>

#include "host/window/VSplashWindow.h"

class SplashSlot {
 public:
  // Shows bitmap resource bitmapId of `module` (NULL: the application's resource module).
  int show(UINT bitmapId, HINSTANCE module);
  int destroy();
  int setStatus(const char* text);
  SplashWindow* get() const { return m_splash.get(); }

 private:
  std::unique_ptr<SplashWindow> m_splash;
};
