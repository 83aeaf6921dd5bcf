// The CT-API driver functions come from CdllFactory in "Normal" mode: the driver's
// path is read from the signed archive <driver name>.esw in the installation directory.
#include <windows.h>

#if __has_include("foundation/core/CdllFactory.h")
#include "foundation/core/CdllFactory.h"

void* resolveCTAPIFunction(const char* driverName, const char* function) {
  CdllFactory* factory = CdllFactory::getInstance();
  return factory ? reinterpret_cast<void*>(factory->getFunction(driverName, function, "Normal")) : nullptr;
}

unsigned long long ctapiModuleUnloads() { return CdllFactory::unloadCount(); }
#else
// Until DLL loading by logical name is there, no driver can be named.
void* resolveCTAPIFunction(const char*, const char*) { return nullptr; }
unsigned long long ctapiModuleUnloads() { return 0; }
#endif
