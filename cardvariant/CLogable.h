// Logging of the plug-in's card library: the base class of its logging classes,
// the class-less logMessage and the set-up from the plug-in's settings store.
#pragma once

#include <string>

namespace cardvariant {

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

  // The first logging object of the process sets up the report of them all.
  CLogable();
  CLogable(const CLogable& other);
  CLogable& operator=(const CLogable&) = default;
  virtual ~CLogable();

  // The object's size in bytes, printed by the lifecycle trace.
  virtual int getSize() const = 0;

  // 1 for a NULL text, otherwise 0. With a method the line starts with the class
  // name, "::", the method, "() at 0x", this object's address and ": ".
  int log(const char* method, const char* text, int level, int flags) const;
  // As log, with the text made by makeText() (a std::string) only when the line
  // will be written: hot paths pay nothing for their trace text with logging off.
  template <typename MakeText>
  int logLazy(const char* method, int level, int flags, const MakeText& makeText) const {
    return logLazy(method, level, flags, LazyText{&makeText, &LazyText::call<MakeText>});
  }
  int logLazy(const char* method, int level, int flags, LazyText text) const;
  // 1 for a NULL object, otherwise 0; the lifecycle trace at level 6.
  int logObject(const CLogable* object, int flags) const;

  // "class " and the class name as declared, without the library's namespace.
  static std::string className(const CLogable& object);
};

// Writes text without a class prefix; 1 for a NULL text, otherwise 0.
int logMessage(const char* text, int level, int flags);
// As logMessage, with the text made by makeText() only when the line will be written.
int logMessageLazy(int level, int flags, LazyText text);
template <typename MakeText>
int logMessageLazy(int level, int flags, const MakeText& makeText) {
  return logMessageLazy(level, flags, LazyText{&makeText, &LazyText::call<MakeText>});
}

// The report named by "LogFileName" at the level "LogLevel" of the plug-in's
// HKLM settings; NULL (no logging) when either is missing or of another type.
CReport* createTraceReport();

// The report factory calls it when it deletes its reports at process exit: both
// logging paths forget their report, and later log calls write nothing.
void detachReports();

}  // namespace cardvariant
