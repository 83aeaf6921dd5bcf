// The application object of the class library: module handles, the show command
// of the main window, the application name and the document name. It registers the
// library's one window class and takes it away again when it goes. One object is
// current per process; the first one constructed becomes current, and the current one
// is the application identity that the foundation asks.
#pragma once

#include "foundation/base/ApplicationIdentity.h"
#include "foundation/base/VString.h"

#include <windows.h>

class VApplication : public ApplicationIdentity {
 public:
  // Makes the new object the current one.
  VApplication();
  // Unregisters the window class "VWindow" of the instance module (which fails
  // harmlessly while windows of it exist or when it was never registered), and stops
  // being current when it still is, so that nobody reaches a deleted object.
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
  // both are non-empty; a live main window gets it as its text. Nothing happens
  // when name is the very text the document name holds. Always true.
  virtual bool setDocumentTitle(const char* name, bool untitled);

  // Registers the class "VWindow" (class styles CS_VREDRAW|CS_HREDRAW|CS_DBLCLKS,
  // background, icon iconId of instance or the system's application icon, arrow
  // cursor, VWindow::windowProc), or completes the caller's record `given` where its
  // fields are 0. Stores the module and the show command in the current application
  // object first. The atom, 0 on failure.
  static ATOM registerWindowClass(HINSTANCE instance, int showCommand, UINT iconId, HBRUSH background,
                                  WNDCLASSA* given);

  // Takes the program's module and the main window's show command; the resource
  // module only when none was set before.
  void setModule(HINSTANCE instance, int showCommand);
  void setResourceHandle(HINSTANCE module) { m_resourceHandle = module; }

  const char* getAppName() const { return m_appName.getBuffer(); }
  void setAppName(const char* name) { m_appName.assign(name); }
  int getShowCommand() const { return m_showCommand; }
  const VString& getDocumentName() const { return m_documentName; }
  // The title that setDocumentTitle built, also while there is no main window.
  const VString& getWindowTitle() const { return m_windowTitle; }

  // The identity of a plain application object: its application name as the title,
  // its resource module, neither a settings file nor a product key.
  const char* titleText() override { return m_appName.getBuffer(); }
  const char* settingsFileName() override { return nullptr; }
  HINSTANCE resourceModule() override { return getResourceHandle(); }
  const char* productName() override { return nullptr; }

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
// Of the current object: the application name (NULL when unset), the show command of
// the main window, the instance module and the resource module.
const char* getAppName();
int getShowCommand();
HINSTANCE getInstanceHandle();
HINSTANCE getResourceHandle();
