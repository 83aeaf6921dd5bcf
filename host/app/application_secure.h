// The program's one application object: its title (string resource 1), the name
// of its own signed settings file and, once the window library is there, the
// window class and the single-instance guard.
#pragma once

#include "foundation/base/VString.h"
#include "host/app/VApplication.h"

#include <windows.h>

class application_secure : public VApplication {
 public:
  ~application_secure() override;

  // Makes the application object once: the title from string resource titleId of
  // instance, the settings file name (title + ".esw"), the application name and
  // the module handles. 1 when the program may run (also when the object
  // existed already), 0 when another instance runs.
  static int create(UINT titleId, HINSTANCE instance, UINT iconId);
  // The object that create made; NULL before.
  static application_secure* getInstance() { return s_instance; }

  const VString& getTitle() const { return m_title; }
  const VString& getSettingsFileName() const { return m_settingsFileName; }
  // NULL while no single-instance mutex is held.
  HANDLE getInstanceMutex() const { return m_instanceMutex; }

 private:
  application_secure();
  static void deleteAtExit();

  VString m_title;
  VString m_settingsFileName;
  HANDLE m_instanceMutex = nullptr;

  static application_secure* s_instance;
};

// The product key of the per-user settings and of the logging set-up: "Quarvel".
const char* getProductName();
