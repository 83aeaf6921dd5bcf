// The application object of the class library: module handles, the show command
// of the main window, the application name and the document name. One object is
// current per process; the first one constructed becomes current.
#pragma once

#include "foundation/base/VString.h"

#include <windows.h>

class VApplication {
 public:
  // Makes the new object the current one.
  VApplication();
  // Stops being current when it still is, so that nobody reaches a deleted object.
  virtual ~VApplication();
  VApplication(const VApplication&) = delete;
  VApplication& operator=(const VApplication&) = delete;

  // The module of the program; asked from the system the first time when unset.
  virtual HINSTANCE getInstanceHandle();
  // The module that resources are read from when none is named; the instance
  // module unless set otherwise.
  virtual HINSTANCE& getResourceHandle();
  // Takes the document name and builds the window title: the application name,
  // then " - " and the document name ("Untitled" with untitled and no name) when
  // both are non-empty. Always true.
  virtual bool setDocumentTitle(const char* name, bool untitled);

  // Takes the program's module and the main window's show command; the resource
  // module only when none was set before.
  void setModule(HINSTANCE instance, int showCommand);
  void setResourceHandle(HINSTANCE module) { m_resourceHandle = module; }

  const char* getAppName() const { return m_appName.getBuffer(); }
  void setAppName(const char* name) { m_appName.assign(name); }
  int getShowCommand() const { return m_showCommand; }
  const VString& getDocumentName() const { return m_documentName; }
  // The title that setDocumentTitle built, for the main window.
  const VString& getWindowTitle() const { return m_windowTitle; }

 private:
  HINSTANCE m_instanceHandle = nullptr;
  HINSTANCE m_resourceHandle = nullptr;
  int m_showCommand = 0;
  VString m_appName;
  VString m_documentName;
  VString m_windowTitle;
};

// The current application object. When none was made, a plain VApplication is
// made here and deleted at exit (unless another object replaced it).
VApplication* getApplication();
// Makes another object current; a current object that getApplication made is deleted.
void setApplication(VApplication* application);
// Of the current object: the application name (NULL when unset) and the show command.
const char* getAppName();
int getShowCommand();
