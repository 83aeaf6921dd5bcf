#include "host/jvm/JavaLog.h"

#include "host/jvm/LauncherNatives.h"

#include "foundation/base/CException.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

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

// The unfinished line of one thread, its level and when the thread last wrote.
struct PendingLine {
  std::mutex lock;
  std::string text;
  int level = 0;
  Clock::time_point lastWrite;
};

// Writes the line's text; the caller holds the line's lock.
void emit(PendingLine& pending) {
  if (pending.text.empty() || g_javaLog == nullptr) return;
  {
    CReport::Locked locked(*g_javaLog);
    locked.write(pending.level, pending.text.data(), static_cast<int>(pending.text.size()));
    locked.flush();
  }
  pending.text.clear();
}

// Every thread's unfinished line, and the writer that writes those whose threads went
// quiet. Locks are taken in one order: this table's, then a line's, then the report's;
// a writing thread holds its line's lock only, and wakes the writer after letting go.
class PendingLines {
 public:
  // Never destroyed: threads may still write while the process ends.
  static PendingLines& instance() {
    static auto* lines = new PendingLines();
    return *lines;
  }

  void add(PendingLine* line) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.insert(line);
  }

  // The line of a thread that ends: what it gathered is written.
  void remove(PendingLine* line) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.erase(line);
    std::lock_guard<std::mutex> lineGuard(line->lock);
    if (!stopped_) emit(*line);
  }

  // A line has begun: the writer will look at it once it may have gone quiet.
  void started() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!writer_) {
        writer_ = true;
        // Before the report's own exit handler (registered when it was opened), what
        // every thread gathered goes into the file, and the writer stops writing.
        std::atexit([] { instance().writeAll(true); });
        std::thread([this] { run(); }).detach();
      }
    }
    changed_.notify_one();
  }

  void writeAll(bool stop) {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopped_) return;
    for (PendingLine* line : lines_) {
      std::lock_guard<std::mutex> lineGuard(line->lock);
      emit(*line);
    }
    stopped_ = stop;
  }

  void setQuietTime(std::chrono::milliseconds quiet) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      quiet_ = quiet;
    }
    changed_.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopped_) {
      const Clock::time_point now = Clock::now();
      Clock::time_point next = Clock::time_point::max();
      for (PendingLine* line : lines_) {
        std::lock_guard<std::mutex> lineGuard(line->lock);
        if (line->text.empty()) continue;
        const Clock::time_point due = line->lastWrite + quiet_;
        if (due <= now) {
          emit(*line);
        } else if (due < next) {
          next = due;
        }
      }
      if (next == Clock::time_point::max()) {
        changed_.wait(guard);
      } else {
        changed_.wait_until(guard, next);
      }
    }
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::set<PendingLine*> lines_;
  std::chrono::milliseconds quiet_{100};
  bool writer_ = false;
  bool stopped_ = false;
};

// The calling thread's line, known to the table while the thread lives.
class ThreadLine {
 public:
  ThreadLine() { PendingLines::instance().add(&line_); }
  ThreadLine(const ThreadLine&) = delete;
  ThreadLine& operator=(const ThreadLine&) = delete;
  ~ThreadLine() { PendingLines::instance().remove(&line_); }
  PendingLine& line() { return line_; }

 private:
  PendingLine line_;
};

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
    thread_local ThreadLine thread;
    PendingLine& pending = thread.line();
    bool begun = false;
    {
      std::lock_guard<std::mutex> guard(pending.lock);
      if (!pending.text.empty() && pending.level != level) emit(pending);
      pending.level = level;
      for (size_t i = 0; i < length; ++i) {
        begun = begun || pending.text.empty();
        pending.text.push_back(text[i]);
        if (text[i] == '\n' || pending.text.size() >= kLineLimit) emit(pending);
      }
      pending.lastWrite = Clock::now();
      begun = begun && !pending.text.empty();
    }
    if (begun) PendingLines::instance().started();
  } catch (...) {
    // Called from the VM's hook and from Java natives: nothing may unwind into the VM.
  }
}

void flushJavaLog() {
  PendingLines::instance().writeAll(false);
  if (g_javaLog != nullptr) g_javaLog->flush();
}

void setJavaLogQuietTime(unsigned milliseconds) {
  PendingLines::instance().setQuietTime(std::chrono::milliseconds(milliseconds));
}
