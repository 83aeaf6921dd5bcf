#include "cardvariant/CLogable.h"

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <mutex>
#include <typeinfo>

#include "cardvariant/CReport.h"
#include "cardvariant/CReportFactory.h"
#include "cardvariant/Settings.h"
#include "certcheck/VOQ_Configuration.h"
#include "foundation/base/CException.h"

namespace cardvariant {

namespace {

// One logging path (the objects' and logMessage's): its report is decided once
// per process, whatever the outcome; NULL means logging is off.
struct LogPath {
  std::once_flag once;
  std::atomic<CReport*> report{nullptr};

  CReport* get() {
    std::call_once(once, [this] { report.store(createTraceReport()); });
    return report.load();
  }
};

LogPath& objectPath() {
  static LogPath path;
  return path;
}

LogPath& messagePath() {
  static LogPath path;
  return path;
}

void writeLine(CReport& report, const CLogable* object, const char* method, const char* text, int level, int flags) {
  std::lock_guard<std::recursive_mutex> guard(report.mutex());
  if (flags & CLogable::kPop) report.popIndent();
  if (method != nullptr && object != nullptr) {
    report.write(level, CLogable::className(*object));
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

void detachReports() {
  objectPath().get();
  messagePath().get();
  objectPath().report.store(nullptr);
  messagePath().report.store(nullptr);
}

CLogable::CLogable() { objectPath().get(); }

CLogable::CLogable(const CLogable&) : CLogable() {}

CLogable::~CLogable() = default;

std::string CLogable::className(const CLogable& object) {
  int status = 0;
  const char* mangled = typeid(object).name();
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string text = status == 0 && name ? name.get() : mangled;
  // The library's classes bear the names of the program's; lines show them as
  // declared, as the run-time type information of the platform names a class.
  static const std::string prefix = "cardvariant::";
  if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
  return "class " + text;
}

int CLogable::log(const char* method, const char* text, int level, int flags) const {
  if (text == nullptr) return 1;
  CReport* report = objectPath().report.load();
  if (report == nullptr) return 0;
  writeLine(*report, this, method, text, level, flags);
  return 0;
}

namespace {

// The text is made under the report's lock, and only when its level lets the line through.
void writeLazyLine(CReport& report, const CLogable* object, const char* method, const LazyText& text, int level,
                   int flags) {
  std::lock_guard<std::recursive_mutex> guard(report.mutex());
  const std::string made = level <= report.getLevel() ? text.make(text.maker) : std::string();
  writeLine(report, object, method, made.c_str(), level, flags);
}

}  // namespace

int CLogable::logLazy(const char* method, int level, int flags, LazyText text) const {
  CReport* report = objectPath().report.load();
  if (report == nullptr) return 0;
  writeLazyLine(*report, this, method, text, level, flags);
  return 0;
}

int CLogable::logObject(const CLogable* object, int flags) const {
  if (object == nullptr) return 1;
  CReport* report = objectPath().report.load();
  if (report == nullptr) return 0;
  constexpr int kLevel = 6;
  std::lock_guard<std::recursive_mutex> guard(report->mutex());
  report->write(kLevel, className(*object));
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

int logMessageLazy(int level, int flags, LazyText text) {
  CReport* report = messagePath().get();
  if (report == nullptr) return 0;
  writeLazyLine(*report, nullptr, nullptr, text, level, flags);
  return 0;
}

int logMessage(const char* text, int level, int flags) {
  if (text == nullptr) return 1;
  CReport* report = messagePath().get();
  if (report == nullptr) return 0;
  writeLine(*report, nullptr, nullptr, text, level, flags);
  return 0;
}

CReport* createTraceReport() {
  const std::optional<std::string> fileName = findText(nullptr, "LogFileName");
  if (!fileName) return nullptr;
  const VOQ_ConfigurationEntry* level = findSetting(nullptr, "LogLevel");
  if (level == nullptr || level->getType() != REG_DWORD) return nullptr;
  CReport* report = nullptr;
  try {
    report = CReportFactory::getInstance(fileName->c_str());
  } catch (const VOQ::CNoSuchObjectException&) {
    return nullptr;
  }
  report->setLevel(static_cast<int>(level->getDword()));
  return report;
}

}  // namespace cardvariant
