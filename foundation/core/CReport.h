// One log file with a level filter, an indentation stack and a line wrap.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

class CReport {
 public:
  // The indentation used for writing and wrapping never exceeds this many blanks:
  // traced methods left by an exception never pop theirs, and an unbounded
  // indentation would reach the wrap column and wrap for ever.
  static constexpr int kMaxIndent = 120;
  static constexpr int kWrapColumn = 250;

  // Creates or truncates the file (mode 0644); a NULL name gives a report that
  // writes nothing. Throws VOQ::CMemoryException or VOQ::CNoSuchObjectException.
  explicit CReport(const char* fileName);
  // Flushes and closes the file.
  ~CReport();
  CReport(const CReport&) = delete;
  CReport& operator=(const CReport&) = delete;

  // The previous level; the level changes only while the file is open.
  int setLevel(int level);
  int getLevel() const { return m_level; }
  void pushIndent(int n);
  void popIndent();
  void putChar(int level, char c);
  void write(int level, const char* text);
  void write(int level, const char* bytes, int n);
  void writeHex(int level, int value);
  void writePointer(int level, const void* pointer);
  void flush();
  // Flushes and closes the file; the report writes nothing afterwards.
  void close();

  const char* getFileName() const { return m_fileName.c_str(); }
  bool isOpen() const { return m_stream != nullptr; }

  // The report is shared by the Java threads, the Java output streams and the
  // card start-up threads: every call above holds this lock, and a caller that
  // writes one line in several calls holds it around all of them.
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }

  class Guard {
   public:
    explicit Guard(CReport& report) : m_report(report) { m_report.lock(); }
    ~Guard() { m_report.unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CReport& m_report;
  };

 private:
  bool passes(int level) const { return m_stream != nullptr && level <= m_level; }
  void putPassed(char c);
  void emit(char c);
  int currentIndent() const;

  std::string m_fileName;
  std::FILE* m_stream = nullptr;
  int m_level = 0;
  int m_column = 0;
  std::deque<int> m_indent{0};
  bool m_atLineStart = false;
  std::recursive_mutex m_mutex;
};
