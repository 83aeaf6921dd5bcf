#include "host/app/VApplication.h"

#include <cstdlib>

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
  // The window library unregisters its window class here once it exists.
  if (g_application == this) {
    g_application = nullptr;
    g_createdHere = false;
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
  return true;
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
  if (previous != nullptr && deletePrevious) delete previous;
}

const char* getAppName() { return getApplication()->getAppName(); }

int getShowCommand() { return getApplication()->getShowCommand(); }
