// Loads modules by logical name and hands out their exported functions, in mode
// "Normal" (path from the module's settings archive, loaded as it is) or "Secure"
// (archive verified here, module taken relative to the installation directory).
#pragma once

#include "foundation/base/VCriticalSection.h"
#include "foundation/base/VSingleton.h"
#include "foundation/core/CLogable.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <string>

class CdllFactory : public CLogable {
 public:
  // The process-wide instance, made on first use. Throws VOQ::CAssertException or
  // VOQ::CNoSuchObjectException (where "CdllFactory") when its lock fails.
  static CdllFactory* getInstance();

  ~CdllFactory() override;
  CdllFactory(const CdllFactory&) = delete;
  CdllFactory& operator=(const CdllFactory&) = delete;

  int getSize() const override { return static_cast<int>(sizeof(CdllFactory)); }

  // The function's address; NULL for a NULL argument or a mode other than
  // "Normal" and "Secure". Throws VOQ::CNoSuchObjectException when the module or
  // the function is missing.
  FARPROC getFunction(const char* module, const char* function, const char* mode);
  // The module handle; NULL for a NULL name or another mode. Throws
  // VOQ::CNoSuchObjectException when a "Normal" load fails.
  HMODULE getHandle(const char* name, const char* mode);
  // Mode "Secure": loads <InstallDir>\<path> named by the verified archive
  // <InstallDir>\<name>.esw; NULL on any failure.
  HMODULE loadDLL(const char* name);
  // Mode "Secure": the function of a module loaded by loadDLL. Throws
  // VOQ::CNoSuchObjectException when there is none.
  FARPROC getFunctionPointer(const char* module, const char* function);

  static void Lock();
  static void Unlock();

  // How many times a factory has let its modules go (each destruction counts once):
  // an address handed out before that may point into a module no longer loaded.
  static unsigned long long unloadCount() { return s_unloads.load(std::memory_order_acquire); }

 private:
  CdllFactory();
  static void deleteAtExit();
  HMODULE findSecure(const char* name);

  std::map<std::string, HMODULE> m_modules;  // mode "Normal", by the path loaded
  VCriticalSection m_modulesLock;
  std::map<std::string, HMODULE> m_secureModules;  // mode "Secure", by logical name
  VCriticalSection m_secureLock;

  static VOQ::VSingleton<CdllFactory> s_singleton;
  static std::atomic<unsigned long long> s_unloads;
};
