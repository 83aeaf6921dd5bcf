// The program's one application object: its title (string resource 1), the name of
// its own signed settings file, the window class, the single-instance guard and the
// splash window of the start-up.
#pragma once

#include "foundation/base/VString.h"
#include "host/app/VApplication.h"
#include "host/window/SplashSlot.h"

#include <windows.h>

class application_secure : public VApplication {
 public:
  // Deletes the splash window, gives the single-instance mutex back, then the
  // application object unregisters the window class.
  ~application_secure() override;

  // Makes the application object once: the title from string resource titleId of
  // instance, the settings file name (title + ".esw"), the window class "VWindow"
  // with icon iconId and the hidden main window's show command, the application
  // name, and the single-instance mutex named after it. 1 when the program may run
  // (also when the object existed already, and without a guard when no mutex could
  // be made), 0 when another instance holds the mutex.
  static int create(UINT titleId, HINSTANCE instance, UINT iconId);
  // The object that create made; NULL before.
  static application_secure* getInstance() { return s_instance; }

  // The start-up's splash: bitmap resource bitmapId of the application's resource
  // module, made on the first call and remade by each further one. 0 when a splash
  // window exists, 1 when none could be made.
  int showSplash(UINT bitmapId);
  // 0 when a splash window was deleted, 1 when there was none.
  int destroySplash();
  // 0 when the text went to the splash window, 1 when there is none.
  int setStatus(const char* text);
  SplashWindow* getSplash() const { return m_splash.get(); }

  const VString& getTitle() const { return m_title; }
  const VString& getSettingsFileName() const { return m_settingsFileName; }

  // The program's identity: its title, its settings file, the product key "Quarvel".
  const char* titleText() override { return m_title.getBuffer(); }
  const char* settingsFileName() override { return m_settingsFileName.getBuffer(); }
  const char* productName() override;
  // NULL while no single-instance mutex is held.
  HANDLE getInstanceMutex() const { return m_instanceMutex; }

 private:
  application_secure();
  static void deleteAtExit();

  VString m_title;
  VString m_settingsFileName;
  HANDLE m_instanceMutex = nullptr;
  SplashSlot m_splash;

  static application_secure* s_instance;
};

// The product key of the per-user settings and of the logging set-up: "Quarvel".
const char* getProductName();

// The per-user switches under HKEY_CURRENT_USER\Software\<company>\<product>, REG_DWORD
// values read and written with the key opened (made when missing) for each access.
// Tip is on only when it is 1; Autoupdate and UseInfoboxPin are on unless they are 0
// (a missing value, a value of another type or size, or no key: the default). A write
// stores 1 or 0.
bool tipEnabled();
void setTipEnabled(bool on);
bool autoupdateEnabled();
void setAutoupdateEnabled(bool on);
bool useInfoboxPinEnabled();
void setUseInfoboxPinEnabled(bool on);
