#include "cardaccess/reader/CTAPI.h"

#include <atomic>
#include <mutex>

#include "cardaccess/reader/ApduLog.h"
#include "cardaccess/reader/CICC.h"
#include "foundation/core/CLogable.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

void* resolveCTAPIFunction(const char* driverName, const char* function);  // CTAPIDll.cpp

namespace {

// CT-API result of a driver whose answer does not fit the buffer.
constexpr signed char kErrMemory = -11;

typedef signed char (*CT_init_t)(unsigned short ctn, unsigned short pn);
typedef signed char (*CT_data_t)(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                                 unsigned char* command, unsigned short* lenr, unsigned char* response);
typedef signed char (*CT_close_t)(unsigned short ctn);

std::mutex g_nameMutex;
std::string& driverName() {
  static std::string name;
  return name;
}

std::atomic<CTAPIResolver> g_resolver{&resolveCTAPIFunction};

template <class F>
F resolve(const char* function) {
  const std::string name = getCTAPIDll();
  if (name.empty()) return nullptr;
  try {
    return reinterpret_cast<F>(g_resolver.load()(name.c_str(), function));
  } catch (...) {
    return nullptr;
  }
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
  std::lock_guard<std::mutex> lock(g_nameMutex);
  driverName() = name;
}

std::string getCTAPIDll() {
  std::lock_guard<std::mutex> lock(g_nameMutex);
  return driverName();
}

CTAPIResolver setCTAPIResolver(CTAPIResolver resolver) {
  return g_resolver.exchange(resolver ? resolver : &resolveCTAPIFunction);
}

DWORD WINAPI ctInit(LPVOID arguments) {
  const CTInitArguments* a = static_cast<const CTInitArguments*>(arguments);
  trace([&] { return VOQ::formatString("CT_init started, ctn: 0x%x, pn: 0x%x\n", a->ctn, a->pn); });
  signed char result = -1;
  if (CT_init_t init = resolve<CT_init_t>("CT_init")) {
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
  if (CT_data_t data = resolve<CT_data_t>("CT_data")) {
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
  if (CT_close_t close = resolve<CT_close_t>("CT_close")) {
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
