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
  // card start-up threads: every call above holds the report's lock. A caller that
  // writes one line in several steps holds it once for all of them through Locked,
  // whose calls are those above without locking again.
  class Locked {
   public:
    explicit Locked(CReport& report) : m_report(report), m_guard(report.m_mutex) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    bool writes(int level) const { return m_report.passes(level); }
    void write(int level, const char* text) { m_report.writeText(level, text); }
    void write(int level, const char* bytes, int n) { m_report.writeBytes(level, bytes, n); }
    void writeHex(int level, int value) { m_report.writeHexValue(level, value); }
    void writePointer(int level, const void* pointer) { m_report.writePointerValue(level, pointer); }
    void pushIndent(int n) { m_report.push(n); }
    void popIndent() { m_report.pop(); }
    void flush() { m_report.flushStream(); }

   private:
    CReport& m_report;
    std::lock_guard<std::recursive_mutex> m_guard;
  };

 private:
  bool passes(int level) const { return m_stream != nullptr && level <= m_level; }
  void writeText(int level, const char* text);
  void writeBytes(int level, const char* bytes, int n);
  void writeHexValue(int level, int value);
  void writePointerValue(int level, const void* pointer);
  void push(int n);
  void pop();
  void flushStream();
  void startLine();
  void putRun(const char* bytes, size_t n);
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
