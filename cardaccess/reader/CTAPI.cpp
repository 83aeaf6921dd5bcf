#include "cardaccess/reader/CTAPI.h"

#include <map>
#include <mutex>
#include <string>

#include "cardaccess/reader/ApduLog.h"
#include "cardaccess/reader/CICC.h"
#include "foundation/core/CLogable.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

void* resolveCTAPIFunction(const char* driverName, const char* function);  // CTAPIDll.cpp
// How many times the DLL factory behind resolveCTAPIFunction has let its modules go:
// an entry point resolved before the latest of them may point into freed code.
unsigned long long ctapiModuleUnloads();  // CTAPIDll.cpp

namespace {

// CT-API result of a driver whose answer does not fit the buffer.
constexpr signed char kErrMemory = -11;

typedef signed char (*CT_init_t)(unsigned short ctn, unsigned short pn);
typedef signed char (*CT_data_t)(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                                 unsigned char* command, unsigned short* lenr, unsigned char* response);
typedef signed char (*CT_close_t)(unsigned short ctn);

enum Function { kInit, kData, kClose, kFunctionCount };
const char* const kFunctionNames[kFunctionCount] = {"CT_init", "CT_data", "CT_close"};

// A driver's entry points, each kept with the state it was resolved in: the resolver
// in use and the factory's unload count. Resolving goes through the driver's settings
// archive and the DLL factory, far more work than a command; a module, once loaded,
// stays loaded until the factory lets it go, so its entry points hold until then.
struct Driver {
  void* functions[kFunctionCount] = {};
  bool resolved[kFunctionCount] = {};
  unsigned long long resolverStamp[kFunctionCount] = {};
  unsigned long long unloadStamp[kFunctionCount] = {};

  void forget() {
    for (bool& r : resolved) r = false;
  }
};

// The driver name and the drivers met so far, under one lock (held for lookups only,
// never while a resolver or a driver runs).
struct Binding {
  std::mutex mutex;
  std::string name;
  Driver* current = nullptr;  // the driver of `name`; NULL while the name is empty
  std::map<std::string, Driver> drivers;
  CTAPIResolver resolver = &resolveCTAPIFunction;
  unsigned long long resolverStamp = 0;  // counts resolver changes
};

// A bound on the drivers remembered: a process names one or two; should names keep
// changing, the entries are dropped rather than grow without end.
constexpr size_t kMaxDrivers = 32;

Binding& binding() {
  static Binding instance;
  return instance;
}

Driver* driverNamed(Binding& b, const std::string& name) {
  auto found = b.drivers.find(name);
  if (found != b.drivers.end()) return &found->second;
  if (b.drivers.size() >= kMaxDrivers) {
    b.drivers.clear();
    b.current = nullptr;
  }
  return &b.drivers[name];
}

// What a resolution needs, read under the lock: the name, the resolver and the stamps
// the result will carry (read before resolving, so an unload meanwhile makes it stale).
struct Request {
  std::string name;
  CTAPIResolver resolver;
  unsigned long long resolverStamp;
  unsigned long long unloadStamp;
};

void* callResolver(const Request& request, Function which) {
  try {
    return request.resolver(request.name.c_str(), kFunctionNames[which]);
  } catch (...) {
    return nullptr;
  }
}

// Stores a resolved entry point for the driver of that name; a failure is not kept,
// the next call tries again.
void remember(const Request& request, Function which, void* function) {
  Binding& b = binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.resolverStamp != request.resolverStamp) return;
  Driver* driver = driverNamed(b, request.name);
  if (b.name == request.name) b.current = driver;
  if (function == nullptr) return;
  driver->functions[which] = function;
  driver->resolved[which] = true;
  driver->resolverStamp[which] = request.resolverStamp;
  driver->unloadStamp[which] = request.unloadStamp;
}

// The current driver's function: the kept entry point while it holds, otherwise
// resolved now. NULL for an empty name or a function that cannot be had.
void* resolve(Function which) {
  Request request;
  {
    Binding& b = binding();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.name.empty()) return nullptr;
    const unsigned long long unloads = ctapiModuleUnloads();
    if (Driver* driver = b.current) {
      if (driver->resolved[which] && driver->resolverStamp[which] == b.resolverStamp &&
          driver->unloadStamp[which] == unloads)
        return driver->functions[which];
    }
    request = Request{b.name, b.resolver, b.resolverStamp, unloads};
  }
  void* function = callResolver(request, which);
  remember(request, which, function);
  return function;
}

// CT_init opens a terminal: its entry point is resolved afresh each time, so a driver
// whose settings archive now names another module, or no longer verifies, is seen at
// the next terminal opening. When the answer differs from what was kept, the driver's
// other entry points are dropped as well: they must come from the same module.
void* resolveForOpening() {
  Request request;
  {
    Binding& b = binding();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.name.empty()) return nullptr;
    request = Request{b.name, b.resolver, b.resolverStamp, ctapiModuleUnloads()};
  }
  void* function = callResolver(request, kInit);
  {
    Binding& b = binding();
    std::lock_guard<std::mutex> lock(b.mutex);
    auto found = b.drivers.find(request.name);
    if (found != b.drivers.end()) {
      Driver& driver = found->second;
      if (function == nullptr || !driver.resolved[kInit] || driver.functions[kInit] != function) driver.forget();
    }
  }
  remember(request, kInit, function);
  return function;
}

// A CT-API result is one byte: -1 is logged as 0xff, not sign-extended.
unsigned resultByte(signed char result) { return static_cast<unsigned char>(result); }

// The driver calls' trace lines, their text made only when it will be written.
template <typename MakeText>
void trace(const MakeText& makeText, int flags = 0) {
  logMessageLazy(2, flags, makeText);
}

}  // namespace

void setCTAPIDll(const std::string& name) {
  Binding& b = binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  // The channel names its driver before every exchange: the same name changes nothing.
  if (b.current != nullptr && b.name == name) return;
  b.name = name;
  b.current = name.empty() ? nullptr : driverNamed(b, name);
}

std::string getCTAPIDll() {
  Binding& b = binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.name;
}

CTAPIResolver setCTAPIResolver(CTAPIResolver resolver) {
  Binding& b = binding();
  std::lock_guard<std::mutex> lock(b.mutex);
  const CTAPIResolver previous = b.resolver;
  b.resolver = resolver ? resolver : &resolveCTAPIFunction;
  ++b.resolverStamp;
  return previous;
}

DWORD WINAPI ctInit(LPVOID arguments) {
  const CTInitArguments* a = static_cast<const CTInitArguments*>(arguments);
  trace([&] { return VOQ::formatString("CT_init started, ctn: 0x%x, pn: 0x%x\n", a->ctn, a->pn); });
  signed char result = -1;
  if (CT_init_t init = reinterpret_cast<CT_init_t>(resolveForOpening())) {
    try {
      result = init(a->ctn, a->pn);
    } catch (...) {
      result = -1;
    }
  }
  trace([&] { return VOQ::formatString("CT_init: Result: 0x%x.\n", resultByte(result)); }, CLogable::kFlush);
  // The exit code carries the result's eight bits; the waiter takes them back signed.
  return static_cast<unsigned char>(result);
}

signed char ctInitInThread(unsigned short ctn, unsigned short pn) {
  CTInitArguments arguments{ctn, pn};
  HANDLE thread = CreateThread(nullptr, 0, &ctInit, &arguments, 0, nullptr);
  if (!thread) return -1;
  WaitForMultipleObjects(1, &thread, FALSE, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  if (!GetExitCodeThread(thread, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(thread);
  return static_cast<signed char>(code & 0xFF);
}

signed char ctData(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                   const unsigned char* command, unsigned short* lenr, unsigned char* response) {
  // The command and answer as texts for the trace lines, made only for them.
  const auto in = [&] { return std::string(reinterpret_cast<const char*>(command), command ? lenc : 0); };
  trace([&] {
    return VOQ::formatString("CT_data started, ctn: 0x%x, sad: 0x%x, dad: 0x%x, in: 0x%s.\n", ctn, sad ? *sad : 0,
                             dad ? *dad : 0, apdulog::command(in()).c_str());
  });
  const unsigned short capacity = lenr ? *lenr : 0;
  signed char result = -1;
  if (CT_data_t data = reinterpret_cast<CT_data_t>(resolve(kData))) {
    try {
      result = data(ctn, dad, sad, lenc, const_cast<unsigned char*>(command), lenr, response);
    } catch (...) {
      result = -1;
    }
  }
  bool answered = false;
  if (result == 0 && lenr && *lenr > capacity) {
    // Outside driver code claims more than the buffer holds: nothing of it is read.
    trace([&] { return VOQ::formatString("CT_data: lenr %u exceeds the buffer of %u.\n", *lenr, capacity); });
    *lenr = 0;
    result = kErrMemory;
  } else {
    answered = result == 0 && lenr && response;
  }
  trace(
      [&] {
        const std::string out = answered ? std::string(reinterpret_cast<const char*>(response), *lenr) : std::string();
        return VOQ::formatString("CT_data: Result: 0x%x. out: 0x%s.\n", resultByte(result),
                                 apdulog::response(in(), out).c_str());
      },
      CLogable::kFlush);
  return result;
}

signed char ctClose(unsigned short ctn) {
  trace([&] { return VOQ::formatString("CT_close, started, ctn: 0x%x.\n", ctn); });
  signed char result = -1;
  if (CT_close_t close = reinterpret_cast<CT_close_t>(resolve(kClose))) {
    try {
      result = close(ctn);
    } catch (...) {
      result = -1;
    }
  }
  trace([&] { return VOQ::formatString("CT_close: Result: 0x%x.\n", resultByte(result)); }, CLogable::kFlush);
  return result;
}

QUARVEL_CARD_NAMESPACE_END
