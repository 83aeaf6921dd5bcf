#include "foundation/core/CdllFactory.h"

#include "foundation/archive/InstallDir.h"
#include "foundation/archive/SignedArchive.h"
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

// The whole file, or nothing for a missing, empty or unreadable one.
std::vector<unsigned char> readWholeFile(const std::string& path) {
  struct _stat status;
  if (_stat(path.c_str(), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG || status.st_size <= 0) return {};
  if (static_cast<unsigned long long>(status.st_size) > 0xFFFFFFFFull) return {};
  std::vector<unsigned char> bytes(static_cast<size_t>(status.st_size));
  FILE* opened = nullptr;
  if (fopen_s(&opened, path.c_str(), "rb") != 0) return {};
  std::unique_ptr<FILE, int (*)(FILE*)> file(opened, &std::fclose);
  if ( std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return {};
  return bytes;
}

// The module file that the verified archive <InstallDir>\<name>.esw names, as
// <InstallDir>\<relative path>; empty when anything is missing or unverified.
std::string securePath(const char* name) {
  char installDir[512];
  if (readInstallDir(installDir, sizeof installDir) != 1) return {};
  const std::string directory = installDir;
  const std::vector<unsigned char> bytes = readWholeFile(directory + "\\" + name + ".esw");
  if (bytes.empty()) return {};
  // The same root key as every other settings archive of the program.
  unsigned char keyBytes[1024];
  Blob rootKey = makeBlob(keyBytes, sizeof keyBytes);
  if (getArchiveRootKey(&rootKey) != 1) return {};
  ArchivePtr archive(loadSignedArchive(
      makeBlob(bytes.data(), bytes.size()), makeBlob(directory.data(), directory.size()), makeBlob("", 0), rootKey));
  if (!archive) return {};
  ManifestSection* section = findSection(archive.get(), static_cast<uint32_t>(std::strlen(name)), name);
  if (section == nullptr) return {};
  const std::string value(reinterpret_cast<const char*>(section->name.data), section->name.length);
  static const std::string kExecutable = "executable";
  const size_t colon = value.find(':');
  if (value.compare(0, kExecutable.size(), kExecutable) != 0 || colon == std::string::npos) return {};
  return directory + "\\" + value.substr(colon + 1);
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
    log("getFunction", trace("Parameter: %s, NULL. Function started.\n", module).c_str(), 3, kPush);
  } else if (module == nullptr) {
    log("getFunction", trace("Parameter: NULL, %s. Function started.\n", function).c_str(), 3, kPush);
  } else {
    log("getFunction", trace("Parameter: %s, %s. Function started.\n", module, function).c_str(), 3, kPush);
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
  log("getFunction", trace("returned: 0x%p.\n", reinterpret_cast<void*>(result)).c_str(), 3, kPop | kFlush);
  return result;
}

HMODULE CdllFactory::getHandle(const char* name, const char* mode) {
  HMODULE result = nullptr;
  if (name == nullptr) {
    log("getHandle", "Parameter: NULL. Function started.\n", 3, kPush);
  } else {
    const std::string entry = trace("Parameter: %s. Function started.\n", name);
    log("getHandle", entry.c_str(), 3, kPush);
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
      log("getHandle", entry.c_str(), 3, 0);
      result = findSecure(name);
      if (result == nullptr) result = loadDLL(name);
      log("getHandle", trace("returned: 0x%p.\n", static_cast<void*>(result)).c_str(), 3, kFlush);
    }
  }
  log("getHandle", trace("returned: 0x%p.\n", static_cast<void*>(result)).c_str(), 3, kPop | kFlush);
  return result;
}

HMODULE CdllFactory::findSecure(const char* name) {
  VCriticalSectionLock lock(m_secureLock);
  auto found = m_secureModules.find(name);
  return found != m_secureModules.end() ? found->second : nullptr;
}

HMODULE CdllFactory::loadDLL(const char* name) {
  if (name == nullptr) return nullptr;
  log("loadDLL", trace("Parameter: %s, started.\n", name).c_str(), 4, 0);
  HMODULE handle = nullptr;
  const std::string path = securePath(name);
  if (!path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    handle = LoadLibraryExA(path.c_str(), nullptr, 0);
  if (handle != nullptr) {
    VCriticalSectionLock lock(m_secureLock);
    m_secureModules[name] = handle;
  }
  log("loadDLL", trace("returned: 0x%p.\n", static_cast<void*>(handle)).c_str(), 3, kFlush);
  return handle;
}

FARPROC CdllFactory::getFunctionPointer(const char* module, const char* function) {
  FARPROC result = nullptr;
  if (module != nullptr && function != nullptr) {
    log("getFunctionPointer", trace("DLL: %s, Function: %s.\n", module, function).c_str(), 4, 0);
    HMODULE handle = findSecure(module);
    if (handle == nullptr) handle = loadDLL(module);
    if (handle != nullptr) result = GetProcAddress(handle, function);
    log("getFunctionPointer", trace("Function-Pointer: 0x%p,", reinterpret_cast<void*>(result)).c_str(), 3, kFlush);
    if (result == nullptr)
      throw VOQ::CNoSuchObjectException("CdllFactory::getFunctionPointer", "Funktion existiert nicht.\n");
  }
  log("getFunctionPointer", trace("returned: 0x%p.\n", reinterpret_cast<void*>(result)).c_str(), 4, 0);
  return result;
}
