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
  m_splash.destroy();
  if (m_instanceMutex != nullptr) {
    ReleaseMutex(m_instanceMutex);
    // Closed too, so that the next instance may start once this object is gone.
    CloseHandle(m_instanceMutex);
    m_instanceMutex = nullptr;
  }
  if (s_instance == this) s_instance = nullptr;
}

void application_secure::deleteAtExit() { delete s_instance; }

int application_secure::create(UINT titleId, HINSTANCE instance, UINT iconId) {
  if (s_instance != nullptr) return 1;
  s_instance = new application_secure();  // owned by the exit handler

  loadString(s_instance->m_title, instance, titleId);
  s_instance->m_settingsFileName.assign(s_instance->m_title);
  s_instance->m_settingsFileName.append(".esw");

  // Without the class the start-up still goes on; the main window then fails to appear.
  registerWindowClass(instance, kShowHidden, iconId, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), nullptr);

  VString name;
  loadString(name, instance, titleId);
  s_instance->setAppName(name.getBuffer());

  HANDLE mutex = CreateMutexA(nullptr, TRUE, s_instance->getAppName());
  if (mutex == nullptr) return 1;  // the program runs without the single-instance guard
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another instance runs; this one ends without keeping the other's mutex open.
    CloseHandle(mutex);
    return 0;
  }
  s_instance->m_instanceMutex = mutex;
  return 1;
}

int application_secure::showSplash(UINT bitmapId) { return m_splash.show(bitmapId, nullptr); }

int application_secure::destroySplash() { return m_splash.destroy(); }

int application_secure::setStatus(const char* text) { return m_splash.setStatus(text); }

const char* application_secure::productName() { return getProductName(); }

const char* getProductName() { return "Quarvel"; }
