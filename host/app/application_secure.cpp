#include "host/app/application_secure.h"

#include <cstdlib>

namespace {

// SW_HIDE: the main window of the tray program is never shown.
constexpr int kShowHidden = 0;
constexpr int kTextBufferSize = 4096;

// The text of a string resource; NULL when there is none.
void loadString(VString& target, HINSTANCE module, UINT id) {
  char buffer[kTextBufferSize];
  int length = LoadStringA(module, id, buffer, kTextBufferSize);
  if (length <= 0) {
    target.assign(static_cast<const char*>(nullptr));
    return;
  }
  target.assign(buffer, 0, static_cast<std::size_t>(length));
}

}  // namespace

application_secure* application_secure::s_instance = nullptr;

application_secure::application_secure() {
  std::atexit(&application_secure::deleteAtExit);
}

application_secure::~application_secure() {
  if (m_instanceMutex != nullptr) ReleaseMutex(m_instanceMutex);
  if (s_instance == this) s_instance = nullptr;
}

void application_secure::deleteAtExit() { delete s_instance; }

int application_secure::create(UINT titleId, HINSTANCE instance, UINT iconId) {
  (void)iconId;  // the window class that shows the icon comes with the window library
  if (s_instance != nullptr) return 1;
  s_instance = new application_secure();  // owned by the exit handler

  loadString(s_instance->m_title, instance, titleId);
  s_instance->m_settingsFileName.assign(s_instance->m_title);
  s_instance->m_settingsFileName.append(".esw");

  s_instance->setModule(instance, kShowHidden);

  VString name;
  loadString(name, instance, titleId);
  s_instance->setAppName(name.getBuffer());
  return 1;
}

const char* getProductName() { return "Quarvel"; }
