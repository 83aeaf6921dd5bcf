#include "foundation/core/CdllFactory.h"

#include "foundation/archive/InstalledArchive.h"
#include "foundation/base/CException.h"
#include "foundation/core/CKonfigurator.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

VOQ::VSingleton<CdllFactory> CdllFactory::s_singleton;
std::atomic<unsigned long long> CdllFactory::s_unloads{0};

namespace {

constexpr size_t kTraceBufferSize = 512;

// Trace texts name modules and paths: a long name is cut, never overflows.
__attribute__((format(printf, 1, 2))) std::string trace(const char* format, ...) {
  char buffer[kTraceBufferSize];
  va_list args;
  va_start(args, format);
  _vsnprintf_s(buffer, sizeof buffer, _TRUNCATE, format, args);
  va_end(args);
  return buffer;
}

bool isMode(const char* mode, const char* wanted) { return mode != nullptr && std::strcmp(mode, wanted) == 0; }

// The module file that the verified archive <InstallDir>\<name>.esw names, as
// <InstallDir>\<relative path>; empty when anything is missing or unverified.
std::string securePath(const char* name) {
  InstalledSection section;
  if (!readInstalledSection(name, name, section)) return {};
  static const std::string kExecutable = "executable";
  const size_t colon = section.name.find(':');
  if (section.name.compare(0, kExecutable.size(), kExecutable) != 0 || colon == std::string::npos) return {};
  return section.directory + "\\" + section.name.substr(colon + 1);
}

}  // namespace

CdllFactory::CdllFactory() {
  logObject(this, kConstructed);
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(&CdllFactory::deleteAtExit); });
}

CdllFactory::~CdllFactory() {
  logObject(this, kDestroyed);
  {
    VCriticalSectionLock lock(m_modulesLock);
    // Counted before the release: whoever checks the count afterwards resolves anew.
    if (!m_modules.empty()) s_unloads.fetch_add(1, std::memory_order_acq_rel);
    for (auto& entry : m_modules) FreeLibrary(entry.second);
    m_modules.clear();
  }
  // Modules loaded in mode "Secure" (the Java VM) stay until the process ends.
  s_singleton.forget(this);
}

void CdllFactory::deleteAtExit() { delete s_singleton.get(); }

void CdllFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CdllFactory", "Semaphore hat falschen Wert.\n");
}

void CdllFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CdllFactory", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CAssertException("CdllFactory", "Kann Semaphore nicht zurücksetzen.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

CdllFactory* CdllFactory::getInstance() {
  return s_singleton.getOrMake(&Lock, &Unlock, [] { return std::unique_ptr<CdllFactory>(new CdllFactory()); });
}

FARPROC CdllFactory::getFunction(const char* module, const char* function, const char* mode) {
  FARPROC result = nullptr;
  if (function == nullptr) {
    logLazy("getFunction", 3, kPush, [&] { return trace("Parameter: %s, NULL. Function started.\n", module); });
  } else if (module == nullptr) {
    logLazy("getFunction", 3, kPush, [&] { return trace("Parameter: NULL, %s. Function started.\n", function); });
  } else {
    logLazy("getFunction", 3, kPush, [&] { return trace("Parameter: %s, %s. Function started.\n", module, function); });
    if (isMode(mode, "Normal")) {
      // Empty when the archive, its section or the ':' is missing; the load then fails.
      std::string path;
      if (CKonfigurator* konfigurator = CKonfigurator::getInstance())
        konfigurator->getModulePath(konfigKey(module), module, path);
      HMODULE handle = getHandle(path.c_str(), "Normal");
      result = GetProcAddress(handle, function);
      if (result == nullptr)
        throw VOQ::CNoSuchObjectException("CdllFactory::getFunction",
                                          VOQ::formatMessage("Funktion: %s existiert nicht.\n", function).c_str());
    } else if (isMode(mode, "Secure")) {
      result = getFunctionPointer(module, function);
    }
  }
  logLazy("getFunction", 3, kPop | kFlush, [&] { return trace("returned: 0x%p.\n", reinterpret_cast<void*>(result)); });
  return result;
}

HMODULE CdllFactory::getHandle(const char* name, const char* mode) {
  HMODULE result = nullptr;
  if (name == nullptr) {
    log("getHandle", "Parameter: NULL. Function started.\n", 3, kPush);
  } else {
    const auto entry = [name] { return trace("Parameter: %s. Function started.\n", name); };
    logLazy("getHandle", 3, kPush, entry);
    if (isMode(mode, "Normal")) {
      {
        VCriticalSectionLock lock(m_modulesLock);
        auto found = m_modules.find(name);
        if (found != m_modules.end()) result = found->second;
      }
      if (result == nullptr) {
        HMODULE loaded = LoadLibraryA(name);
        if (loaded == nullptr)
          throw VOQ::CNoSuchObjectException("CdllFactory::getHandle",
                                            VOQ::formatMessage("Module %s existiert nicht.\n", name).c_str());
        VCriticalSectionLock lock(m_modulesLock);
        auto inserted = m_modules.emplace(name, loaded);
        // Another thread loaded it meanwhile: keep one reference per cached entry.
        if (!inserted.second) FreeLibrary(loaded);
        result = inserted.first->second;
      }
    } else if (isMode(mode, "Secure")) {
      logLazy("getHandle", 3, 0, entry);
      result = findSecure(name);
      if (result == nullptr) result = loadDLL(name);
      logLazy("getHandle", 3, kFlush, [&] { return trace("returned: 0x%p.\n", static_cast<void*>(result)); });
    }
  }
  logLazy("getHandle", 3, kPop | kFlush, [&] { return trace("returned: 0x%p.\n", static_cast<void*>(result)); });
  return result;
}

HMODULE CdllFactory::findSecure(const char* name) {
  VCriticalSectionLock lock(m_secureLock);
  auto found = m_secureModules.find(name);
  return found != m_secureModules.end() ? found->second : nullptr;
}

HMODULE CdllFactory::loadDLL(const char* name) {
  if (name == nullptr) return nullptr;
  logLazy("loadDLL", 4, 0, [&] { return trace("Parameter: %s, started.\n", name); });
  HMODULE handle = nullptr;
  const std::string path = securePath(name);
  if (!path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    handle = LoadLibraryExA(path.c_str(), nullptr, 0);
  if (handle != nullptr) {
    VCriticalSectionLock lock(m_secureLock);
    m_secureModules[name] = handle;
  }
  logLazy("loadDLL", 3, kFlush, [&] { return trace("returned: 0x%p.\n", static_cast<void*>(handle)); });
  return handle;
}

FARPROC CdllFactory::getFunctionPointer(const char* module, const char* function) {
  FARPROC result = nullptr;
  if (module != nullptr && function != nullptr) {
    logLazy("getFunctionPointer", 4, 0, [&] { return trace("DLL: %s, Function: %s.\n", module, function); });
    HMODULE handle = findSecure(module);
    if (handle == nullptr) handle = loadDLL(module);
    if (handle != nullptr) result = GetProcAddress(handle, function);
    logLazy("getFunctionPointer", 3, kFlush,
            [&] { return trace("Function-Pointer: 0x%p,", reinterpret_cast<void*>(result)); });
    if (result == nullptr)
      throw VOQ::CNoSuchObjectException("CdllFactory::getFunctionPointer", "Funktion existiert nicht.\n");
  }
  logLazy("getFunctionPointer", 4, 0, [&] { return trace("returned: 0x%p.\n", reinterpret_cast<void*>(result)); });
  return result;
}
