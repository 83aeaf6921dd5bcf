#include "foundation/core/CLogable.h"

#include "foundation/core/CReport.h"

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <mutex>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace {

std::atomic<ReportSetup> g_setup{&createTraceReport};

// The report of one logging path and whether its set-up has run. A NULL report
// means logging is off for the path; a failed set-up is never retried.
class LogPath {
 public:
  CReport* report() const { return m_report.load(std::memory_order_acquire); }

  void setUp() {
    if (m_state.load(std::memory_order_acquire) == kDone) return;
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    // Running already means the set-up itself made a logging object on this thread.
    if (m_state.load(std::memory_order_relaxed) != kNone) return;
    m_state.store(kRunning, std::memory_order_relaxed);
    CReport* report = nullptr;
    try {
      report = g_setup.load()();
    } catch (...) {
      m_state.store(kDone, std::memory_order_release);
      throw;
    }
    m_report.store(report, std::memory_order_release);
    m_state.store(kDone, std::memory_order_release);
  }

  void detach() { m_report.store(nullptr, std::memory_order_release); }

 private:
  static constexpr int kNone = 0;
  static constexpr int kRunning = 1;
  static constexpr int kDone = 2;
  std::atomic<CReport*> m_report{nullptr};
  std::atomic<int> m_state{kNone};
  std::recursive_mutex m_mutex;
};

LogPath g_logablePath;
LogPath g_messagePath;

std::string demangledClassText(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return std::string("class ") + (status == 0 && name ? name.get() : type.name());
}

void writeTrace(CReport& report, const CLogable* object, const char* method, const char* text, int level, int flags) {
  CReport::Guard guard(report);
  if (flags & CLogable::kPop) report.popIndent();
  if (method != nullptr) {
    report.write(level, CLogable::classText(*object).c_str());
    report.write(level, "::");
    report.write(level, method);
    report.write(level, "() at 0x");
    report.writePointer(level, object);
    report.write(level, ": ");
  }
  report.write(level, text);
  if (flags & CLogable::kPush) report.pushIndent(3);
  if (flags & CLogable::kFlush) report.flush();
}

}  // namespace

ReportSetup setReportSetup(ReportSetup setup) { return g_setup.exchange(setup != nullptr ? setup : &createTraceReport); }

void detachReports() {
  g_logablePath.detach();
  g_messagePath.detach();
}

CLogable::CLogable() { g_logablePath.setUp(); }

CLogable::CLogable(const CLogable&) : CLogable() {}

CLogable::~CLogable() = default;

const std::string& CLogable::classText(const CLogable& object) {
  // Demangling allocates; each thread keeps the texts it has made.
  thread_local std::unordered_map<std::type_index, std::string> texts;
  const std::type_info& type = typeid(object);
  auto found = texts.find(type);
  if (found == texts.end()) found = texts.emplace(type, demangledClassText(type)).first;
  return found->second;
}

int CLogable::log(const char* method, const char* text, int level, int flags) const {
  if (text == nullptr) return 1;
  CReport* report = g_logablePath.report();
  if (report == nullptr) return 0;
  writeTrace(*report, this, method, text, level, flags);
  return 0;
}

int CLogable::logObject(const CLogable* object, int flags) const {
  if (object == nullptr) return 1;
  CReport* report = g_logablePath.report();
  if (report == nullptr) return 0;
  constexpr int kLevel = 6;
  CReport::Guard guard(*report);
  report->write(kLevel, classText(*object).c_str());
  report->write(kLevel, " at 0x");
  report->writePointer(kLevel, object);
  report->write(kLevel, ":\n");
  report->pushIndent(3);
  if (flags & kConstructed) {
    report->write(kLevel, "Size: 0x");
    report->writeHex(kLevel, object->getSize());
    report->write(kLevel, " Bytes constructed.\n");
  }
  if (flags & kDestroyed) {
    report->write(kLevel, "destructed.\n");
    report->flush();
  }
  report->popIndent();
  return 0;
}

int logMessage(const char* text, int level, int flags) {
  g_messagePath.setUp();
  if (text == nullptr) return 1;
  CReport* report = g_messagePath.report();
  if (report == nullptr) return 0;
  writeTrace(*report, nullptr, nullptr, text, level, flags);
  return 0;
}
