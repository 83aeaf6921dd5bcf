#include "foundation/core/CLogable.h"

#include "foundation/core/CReport.h"

#include <atomic>
#ifdef __GNUC__
#include <cxxabi.h>
#endif
#include <cstdlib>
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
  explicit LogPath(std::atomic<CReport*>& report) : m_report(report) {}
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
  std::atomic<CReport*>& m_report;
  std::atomic<int> m_state{kNone};
  std::recursive_mutex m_mutex;
};

std::atomic<CReport*> g_messageReport{nullptr};

// Made on first use: logging objects may be constructed during static initialisation.
LogPath& messagePath() {
  static LogPath path(g_messageReport);
  return path;
}

// "class CReader": what the Windows compiler's type names read; g++ names are demangled to it.
std::string demangledClassText(const std::type_info& type) {
#ifdef __GNUC__
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return std::string("class ") + (status == 0 && name ? name.get() : type.name());
#else
  return type.name();
#endif
}

// The text is given made, or as a LazyText made here once the level lets the line through.
void writeTrace(CReport& report, const CLogable* object, const char* method, const char* text, const LazyText* lazy,
                int level, int flags) {
  CReport::Locked line(report);
  if (flags & CLogable::kPop) line.popIndent();
  if (line.writes(level)) {
    if (method != nullptr) {
      line.write(level, CLogable::classText(*object).c_str());
      line.write(level, "::");
      line.write(level, method);
      line.write(level, "() at 0x");
      line.writePointer(level, object);
      line.write(level, ": ");
    }
    if (lazy != nullptr)
      line.write(level, lazy->make(lazy->maker).c_str());
    else
      line.write(level, text);
  }
  if (flags & CLogable::kPush) line.pushIndent(3);
  if (flags & CLogable::kFlush) line.flush();
}

}  // namespace

std::atomic<CReport*> CLogable::s_report{nullptr};

struct CLogableAccess {
  static LogPath& path() {
    static LogPath path(CLogable::s_report);
    return path;
  }
};

ReportSetup setReportSetup(ReportSetup setup) { return g_setup.exchange(setup != nullptr ? setup : &createTraceReport); }

void detachReports() {
  CLogableAccess::path().detach();
  messagePath().detach();
}

CLogable::CLogable() { CLogableAccess::path().setUp(); }

CLogable::CLogable(const CLogable&) : CLogable() {}

CLogable::~CLogable() = default;

const std::string& CLogable::classText(const CLogable& object) {
  // Demangling allocates, so each class's text is made once per process. The
  // cache is never destroyed: threads and exit handlers log until the very end,
  // and a thread-local cache would be gone while its thread's last objects still
  // trace themselves. Texts stay where they are, so each thread can keep a
  // pointer to the one it used last (a method's traces follow each other).
  static std::mutex* const lock = new std::mutex;
  static auto* const texts = new std::unordered_map<std::type_index, std::string>;
  thread_local const std::type_info* lastType = nullptr;
  thread_local const std::string* lastText = nullptr;
  const std::type_info& type = typeid(object);
  if (&type == lastType) return *lastText;
  std::lock_guard<std::mutex> guard(*lock);
  auto found = texts->find(type);
  if (found == texts->end()) found = texts->emplace(type, demangledClassText(type)).first;
  lastType = &type;
  lastText = &found->second;
  return found->second;
}

void CLogable::writeLog(CReport& report, const char* method, const char* text, int level, int flags) const {
  writeTrace(report, this, method, text, nullptr, level, flags);
}

void CLogable::writeLazyLog(CReport& report, const char* method, int level, int flags, LazyText text) const {
  writeTrace(report, this, method, nullptr, &text, level, flags);
}

int CLogable::logObject(const CLogable* object, int flags) const {
  if (object == nullptr) return 1;
  CReport* report = s_report.load(std::memory_order_acquire);
  if (report == nullptr) return 0;
  constexpr int kLevel = 6;
  CReport::Locked line(*report);
  line.write(kLevel, classText(*object).c_str());
  line.write(kLevel, " at 0x");
  line.writePointer(kLevel, object);
  line.write(kLevel, ":\n");
  line.pushIndent(3);
  if (flags & kConstructed) {
    line.write(kLevel, "Size: 0x");
    line.writeHex(kLevel, object->getSize());
    line.write(kLevel, " Bytes constructed.\n");
  }
  if (flags & kDestroyed) {
    line.write(kLevel, "destructed.\n");
    line.flush();
  }
  line.popIndent();
  return 0;
}

int logMessage(const char* text, int level, int flags) {
  messagePath().setUp();
  if (text == nullptr) return 1;
  CReport* report = messagePath().report();
  if (report == nullptr) return 0;
  writeTrace(*report, nullptr, nullptr, text, nullptr, level, flags);
  return 0;
}

int logMessageLazy(int level, int flags, LazyText text) {
  messagePath().setUp();
  CReport* report = messagePath().report();
  if (report == nullptr) return 0;
  writeTrace(*report, nullptr, nullptr, nullptr, &text, level, flags);
  return 0;
}
