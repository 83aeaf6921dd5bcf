#include "host/app/VApplication.h"

#include <cstdlib>

#include "host/window/VMainWindow.h"
#include "host/window/VWindow.h"

namespace {

VApplication* g_application = nullptr;
bool g_createdHere = false;

void deleteCreatedApplication() {
  if (g_application != nullptr && g_createdHere) {
    VApplication* application = g_application;
    g_createdHere = false;
    delete application;
  }
}

}  // namespace

VApplication::VApplication() { setApplication(this); }

VApplication::~VApplication() {
  UnregisterClassA(kVWindowClassName, getInstanceHandle());
  if (g_application == this) {
    g_application = nullptr;
    g_createdHere = false;
    setApplicationIdentity(nullptr);
  }
}

HINSTANCE VApplication::getInstanceHandle() {
  if (m_instanceHandle == nullptr) m_instanceHandle = GetModuleHandleA(nullptr);
  return m_instanceHandle;
}

HINSTANCE& VApplication::getResourceHandle() {
  if (m_resourceHandle == nullptr) m_resourceHandle = getInstanceHandle();
  return m_resourceHandle;
}

bool VApplication::setDocumentTitle(const char* name, bool untitled) {
  if (name != nullptr && name == m_documentName.getBuffer()) return true;
  m_documentName.assign(name);
  const char* shown = name != nullptr ? m_documentName.getText() : (untitled ? "Untitled" : "");
  m_windowTitle.assign(m_appName);
  if (!m_appName.isEmpty() && *shown != '\0') {
    m_windowTitle.append(" - ");
    m_windowTitle.append(shown);
  }
  VMainWindow* mainWindow = VMainWindow::getMainWindow();
  HWND hwnd = mainWindow != nullptr ? mainWindow->isWindow() : nullptr;
  if (hwnd != nullptr) SetWindowTextA(hwnd, m_windowTitle.getText());
  return true;
}

ATOM VApplication::registerWindowClass(HINSTANCE instance, int showCommand, UINT iconId, HBRUSH background,
                                       WNDCLASSA* given) {
  VApplication* app = getApplication();
  app->setModule(instance, showCommand);
  WNDCLASSA own{};
  WNDCLASSA* wc = given;
  if (wc == nullptr) {
    wc = &own;
    own.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    own.hbrBackground = background;
    own.hIcon = iconId != 0 ? LoadIconA(instance, MAKEINTRESOURCEA(iconId)) : LoadIconA(nullptr, IDI_APPLICATION);
  }
  if (wc->hIcon == nullptr && iconId != 0) wc->hIcon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
  if (wc->hInstance == nullptr) wc->hInstance = app->getInstanceHandle();
  if (wc->lpfnWndProc == nullptr) wc->lpfnWndProc = &VWindow::windowProc;
  if (wc->hCursor == nullptr) wc->hCursor = LoadCursorA(nullptr, IDC_ARROW);
  if (wc->lpszClassName == nullptr) wc->lpszClassName = kVWindowClassName;
  return RegisterClassA(wc);
}

void VApplication::setModule(HINSTANCE instance, int showCommand) {
  m_instanceHandle = instance;
  if (m_resourceHandle == nullptr) m_resourceHandle = instance;
  m_showCommand = showCommand;
}

VApplication* getApplication() {
  if (g_application == nullptr) {
    static bool exitHandlerRegistered = false;
    new VApplication();  // makes itself current; deleted at exit or when replaced
    g_createdHere = true;
    if (!exitHandlerRegistered) {
      exitHandlerRegistered = true;
      std::atexit(deleteCreatedApplication);
    }
  }
  return g_application;
}

void setApplication(VApplication* application) {
  if (application == g_application) return;
  VApplication* previous = g_application;
  bool deletePrevious = g_createdHere;
  g_application = application;
  g_createdHere = false;
  setApplicationIdentity(application);
  if (previous != nullptr && deletePrevious) delete previous;
}

const char* getAppName() { return getApplication()->getAppName(); }

int getShowCommand() { return getApplication()->getShowCommand(); }

HINSTANCE getInstanceHandle() { return getApplication()->getInstanceHandle(); }

HINSTANCE getResourceHandle() { return getApplication()->getResourceHandle(); }
