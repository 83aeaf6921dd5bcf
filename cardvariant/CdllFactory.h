// DLL loading of the card library: a DLL is loaded by the name given, once, and
// kept for the process; functions are resolved from it on each call.
#pragma once

#include <atomic>
#include <cstring>
#include <map>
#include <string>

#include <windows.h>

#include "cardvariant/CLogable.h"
#include "foundation/base/VCriticalSection.h"
#include "foundation/base/VSingleton.h"

namespace cardvariant {

class CdllFactory : public CLogable {
 public:
  static CdllFactory* getInstance();

  ~CdllFactory() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  // The module of the DLL, loaded on first use. NULL for a NULL name; a DLL that
  // cannot be loaded throws VOQ::CNoSuchObjectException and is tried again next time.
  HMODULE getHandle(const char* dllName);
  // The function's address; the mode has no effect. NULL for a NULL name; a missing
  // DLL or export throws VOQ::CNoSuchObjectException.
  FARPROC getFunction(const char* dllName, const char* functionName, const char* mode);

  static void Lock();
  static void Unlock();

  // How many times a factory has let its modules go (each destruction counts once):
  // an address handed out before that may point into a module no longer loaded.
  static unsigned long long unloadCount() { return s_unloads.load(std::memory_order_acquire); }

 private:
  CdllFactory();

  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return std::strcmp(a.c_str(), b.c_str()) < 0; }
  };
  std::map<std::string, HMODULE, NameLess> m_modules;
  VCriticalSection m_section;

  static void deleteAtExit();

  static VOQ::VSingleton<CdllFactory> s_singleton;
  static std::atomic<unsigned long long> s_unloads;
};

// CT_init of the current CT-API driver on the caller's thread: its 8-bit result,
// 0xFF when the driver or the function cannot be had.
unsigned char ctInit(unsigned short ctn, unsigned short pn);

}  // namespace cardvariant
