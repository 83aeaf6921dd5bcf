// Logging base class of the program's classes, the free logMessage and the trace
// set-up that decides once per run whether there is a log at all.
#pragma once

#include <atomic>
#include <string>

class CReport;

// A text made only when it is needed: a callable and the function that calls it.
struct LazyText {
  const void* maker;
  std::string (*make)(const void* maker);
  template <typename MakeText>
  static std::string call(const void* maker) {
    return (*static_cast<const MakeText*>(maker))();
  }
};

class CLogable {
 public:
  // Flags of log and logMessage (combinable).
  static constexpr int kPush = 1;   // after writing, indent the following lines by 3
  static constexpr int kPop = 2;    // before writing, go back one indentation
  static constexpr int kFlush = 4;  // after writing, flush the file
  // Flags of logObject.
  static constexpr int kConstructed = 8;
  static constexpr int kDestroyed = 16;

  // Sets up the report of all CLogable objects when this is the first object of the run.
  CLogable();
  CLogable(const CLogable& other);
  CLogable& operator=(const CLogable&) = default;
  virtual ~CLogable();

  // The size of the object in bytes, printed by the lifecycle trace.
  virtual int getSize() const = 0;

  // 1 for a NULL text; otherwise 0, after writing when logging is on. With a
  // method, the line starts with the class text, the method and this object's address.
  // Inline: with logging off a traced method pays only this test.
  int log(const char* method, const char* text, int level, int flags) const {
    if (text == nullptr) return 1;
    CReport* report = s_report.load(std::memory_order_acquire);
    if (report == nullptr) return 0;
    writeLog(*report, method, text, level, flags);
    return 0;
  }
  // As log, with the text made by makeText() (a std::string) only when the line
  // will be written: hot paths pass their formatting here, so that with logging
  // off or below the line's level they pay for the test alone.
  template <typename MakeText>
  int logLazy(const char* method, int level, int flags, const MakeText& makeText) const {
    CReport* report = s_report.load(std::memory_order_acquire);
    if (report == nullptr) return 0;
    writeLazyLog(*report, method, level, flags, LazyText{&makeText, &LazyText::call<MakeText>});
    return 0;
  }
  // 1 for a NULL object; otherwise 0. Writes the lifecycle trace at level 6.
  int logObject(const CLogable* object, int flags) const;

  // "class " and the class name as declared (enclosing classes and namespaces before it).
  static const std::string& classText(const CLogable& object);

 private:
  friend struct CLogableAccess;
  void writeLog(CReport& report, const char* method, const char* text, int level, int flags) const;
  void writeLazyLog(CReport& report, const char* method, int level, int flags, LazyText text) const;

  // The report of all CLogable objects; NULL while logging is off.
  static std::atomic<CReport*> s_report;
};

// Writes text to the trace log without a class prefix; results as CLogable::log.
int logMessage(const char* text, int level, int flags);
// As logMessage, with the text made by makeText() only when the line will be written.
int logMessageLazy(int level, int flags, LazyText text);
template <typename MakeText>
int logMessageLazy(int level, int flags, const MakeText& makeText) {
  return logMessageLazy(level, flags, LazyText{&makeText, &LazyText::call<MakeText>});
}

// The trace set-up: the report named by the user's Trace settings, when the
// program's own signed settings file allows a log; NULL otherwise.
CReport* createTraceReport();

// The set-up that CLogable and logMessage run at their first use. A deliverable
// that keeps its log elsewhere registers its own before any logging class is made,
// for example from a static ReportSetupRegistration object. Returns the previous one.
using ReportSetup = CReport* (*)();
ReportSetup setReportSetup(ReportSetup setup);

struct ReportSetupRegistration {
  explicit ReportSetupRegistration(ReportSetup setup) { setReportSetup(setup); }
};

// Called by the report factory when it deletes its reports at process exit: both
// logging paths forget their report, so later log calls find logging off.
void detachReports();
