// What the foundation needs to know of the program or plug-in it runs in: its title,
// the name of its own signed settings file, the module its resources come from, its
// product key and the company key. Whoever is the program puts its identity in place
// at start-up (the window library's application object does it for the tray program;
// a plug-in or a setup tool puts its own), so that the foundation never asks the
// program's own classes.
#pragma once

#include <windows.h>

// The company's key under HKEY_LOCAL_MACHINE\Software and HKEY_CURRENT_USER\Software.
#define COMPANY_KEY "VOQ. VUV-Oredaridez GmbH"

class ApplicationIdentity {
 public:
  virtual ~ApplicationIdentity() = default;

  // The program's title: it names the program's key under the company key and the
  // section of a settings file's own values. NULL when the program has none.
  virtual const char* titleText() = 0;
  // The file name of the program's own signed settings file in the system
  // directory ("<title>.esw"); NULL when it has none.
  virtual const char* settingsFileName() = 0;
  // The module that resources are read from when none is named.
  virtual HINSTANCE resourceModule() = 0;
  // The product key of the per-user settings and of the trace set-up; NULL when none.
  virtual const char* productName() = 0;
  virtual const char* companyKey() { return COMPANY_KEY; }
};

// Puts an identity in place (NULL: none) and returns the previous one.
ApplicationIdentity* setApplicationIdentity(ApplicationIdentity* identity);
// The identity in place; without one, a plain one: no title, no settings file, no
// product, the resources of the process's own program module.
ApplicationIdentity& applicationIdentity();
