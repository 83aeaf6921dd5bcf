#include "host/jvm/JavaLog.h"

#include "host/jvm/LauncherNatives.h"

#include "foundation/base/CException.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <windows.h>

#include <mutex>
#include <string>

namespace {

constexpr int kJavaLogLevel = 128;
// An unfinished line is written once it reaches this size, so that a writer that never
// ends its line cannot hold text back without bound.
constexpr size_t kLineLimit = 4096;

CReport* g_javaLog = nullptr;

std::string javaLogPath() {
  if (getArgc() > 1) return getArgv(1);
  char directory[1024];
  const DWORD length = GetTempPathA(sizeof directory, directory);
  std::string path = length > 0 && length < sizeof directory ? std::string(directory, length) : std::string();
  return path + "\\" + "java.txt";
}

// The unfinished line of the calling thread and its level.
struct PendingLine {
  std::string text;
  int level = 0;
};

void emit(CReport& report, PendingLine& pending) {
  if (pending.text.empty()) return;
  {
    CReport::Locked locked(report);
    locked.write(pending.level, pending.text.data(), static_cast<int>(pending.text.size()));
    locked.flush();
  }
  pending.text.clear();
}

}  // namespace

CReport* openJavaLog() {
  static std::once_flag opened;
  std::call_once(opened, [] {
    try {
      CReport* report = CReportFactory::getInstance(javaLogPath().c_str());
      report->setLevel(kJavaLogLevel);
      g_javaLog = report;
    } catch (const VOQ::CException&) {
      // The Java output is dropped.
    } catch (const std::exception&) {
    }
  });
  return g_javaLog;
}

void writeJavaLog(int level, const char* text, size_t length) {
  try {
    CReport* report = openJavaLog();
    if (report == nullptr || text == nullptr || level > report->getLevel()) return;
    thread_local PendingLine pending;
    if (!pending.text.empty() && pending.level != level) emit(*report, pending);
    pending.level = level;
    for (size_t i = 0; i < length; ++i) {
      pending.text.push_back(text[i]);
      if (text[i] == '\n' || pending.text.size() >= kLineLimit) emit(*report, pending);
    }
  } catch (...) {
    // Called from the VM's hook and from Java natives: nothing may unwind into the VM.
  }
}

void flushJavaLog() {
  if (g_javaLog != nullptr) g_javaLog->flush();
}
