#include "cardvariant/CdllFactory.h"

#include <cstdlib>

#include "cardaccess/reader/CTAPI.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

VOQ::VSingleton<CdllFactory> CdllFactory::s_singleton;
std::atomic<unsigned long long> CdllFactory::s_unloads{0};

void CdllFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CdllFactory", "Semaphore hat falschen Wert.\n");
}

void CdllFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kOk: return;
    case VSingletonSemaphore::kNoSemaphore: throw VOQ::CNoSuchObjectException("CdllFactory", "kein Semaphore.\n");
    default: throw VOQ::CAssertException("CdllFactory", "Kann Semaphore nicht zurücksetzen.\n");
  }
}

CdllFactory* CdllFactory::getInstance() {
  return s_singleton.getOrMake(&Lock, &Unlock, [] {
    std::atexit(&CdllFactory::deleteAtExit);
    return std::unique_ptr<CdllFactory>(new CdllFactory());
  });
}

void CdllFactory::deleteAtExit() { delete s_singleton.get(); }

CdllFactory::CdllFactory() { logObject(this, kConstructed); }

CdllFactory::~CdllFactory() {
  {
    VCriticalSectionLock guard(m_section);
    // Counted before the release: whoever checks the count afterwards resolves anew.
    if (!m_modules.empty()) s_unloads.fetch_add(1, std::memory_order_acq_rel);
    for (auto& entry : m_modules) FreeLibrary(entry.second);
    m_modules.clear();
  }
  s_singleton.forget(this);
  logObject(this, kDestroyed);
}

HMODULE CdllFactory::getHandle(const char* dllName) {
  HMODULE module = nullptr;
  if (dllName == nullptr) {
    log("getHandle", "Parameter: NULL. Function started.\n", 3, kPush);
  } else {
    logLazy("getHandle", 3, kPush, [&] { return VOQ::formatString("Parameter: %s. Function started.\n", dllName); });
    {
      VCriticalSectionLock guard(m_section);
      auto found = m_modules.find(dllName);
      if (found != m_modules.end()) module = found->second;
    }
    if (module == nullptr) {
      module = LoadLibraryA(dllName);
      if (module == nullptr) {
        log(nullptr, "", 3, kPop);
        throw VOQ::CNoSuchObjectException("CdllFactory::getHandle",
                                          VOQ::formatMessage("Module %s existiert nicht.\n", dllName).c_str());
      }
      VCriticalSectionLock guard(m_section);
      auto inserted = m_modules.emplace(dllName, module);
      if (!inserted.second) {
        // Another thread loaded it meanwhile: keep one reference.
        FreeLibrary(module);
        module = inserted.first->second;
      }
    }
  }
  logLazy("getHandle", 3, kPop | kFlush,
          [&] { return VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(module)); });
  return module;
}

FARPROC CdllFactory::getFunction(const char* dllName, const char* functionName, const char* mode) {
  (void)mode;
  FARPROC function = nullptr;
  if (dllName == nullptr || functionName == nullptr) {
    logLazy("getFunction", 3, kPush, [&] {
      return VOQ::formatString(dllName == nullptr ? "Parameter: NULL, %s. Function started.\n"
                                                  : "Parameter: %s, NULL. Function started.\n",
                               dllName == nullptr ? (functionName ? functionName : "NULL") : dllName);
    });
  } else {
    logLazy("getFunction", 3, kPush,
            [&] { return VOQ::formatString("Parameter: %s, %s. Function started.\n", dllName, functionName); });
    try {
      function = GetProcAddress(getHandle(dllName), functionName);
    } catch (...) {
      log(nullptr, "", 3, kPop);
      throw;
    }
    if (function == nullptr) {
      log(nullptr, "", 3, kPop);
      throw VOQ::CNoSuchObjectException("CdllFactory::getFunction",
                                        VOQ::formatMessage("Funktion: %s existiert nicht.\n", functionName).c_str());
    }
  }
  logLazy("getFunction", 3, kPop | kFlush,
          [&] { return VOQ::formatString("returned: 0x%p.\n", reinterpret_cast<void*>(function)); });
  return function;
}

// The shared CT-API binding asks here for the driver's functions: the driver is
// the DLL of exactly the configured name.
void* resolveCTAPIFunction(const char* driverName, const char* function) {
  return reinterpret_cast<void*>(CdllFactory::getInstance()->getFunction(driverName, function, "Normal"));
}

unsigned long long ctapiModuleUnloads() { return CdllFactory::unloadCount(); }

unsigned char ctInit(unsigned short ctn, unsigned short pn) {
  CTInitArguments arguments{ctn, pn};
  return static_cast<unsigned char>(ctInit(&arguments) & 0xFF);
}

}  // namespace cardvariant
