// One log file of the card library: level filter, indentation stack and a wrap
// at 250 columns. A report either opens its own file or writes into the stream of
// the plug-in's trace log, which it never closes.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace cardvariant {

class CReport {
 public:
  static constexpr int kWrapColumn = 250;

  // Opens the file with fopen "wb". A NULL name or a file that cannot be opened
  // gives a report without stream, which writes nothing.
  explicit CReport(const char* fileName);
  // Writes into a stream another owner opened, starting at that indentation.
  CReport(const char* fileName, std::FILE* stream, int baseIndent);
  // Flushes; closes the stream only when the report opened it.
  ~CReport();
  CReport(const CReport&) = delete;
  CReport& operator=(const CReport&) = delete;

  // The previous level; without a stream the level stays.
  int setLevel(int level);
  int getLevel() const { return m_level; }
  void pushIndent(int n);
  void popIndent();
  void putChar(int level, char c);
  // A count below 0 writes nothing.
  void write(int level, const char* bytes, int count);
  void write(int level, const char* text);
  void write(int level, const std::string& text);
  void writeHex(int level, int value);
  void writeHex(int level, unsigned value);
  // NULL writes nothing.
  void writePointer(int level, const void* pointer);
  void flush();

  bool hasStream() const { return m_stream != nullptr; }
  const std::string& getFileName() const { return m_fileName; }

  // One line written in several calls stays together when threads share a report.
  std::recursive_mutex& mutex() { return m_mutex; }

 private:
  std::string m_fileName;
  std::FILE* m_stream = nullptr;
  int m_level = 0;
  int m_column = 0;
  std::deque<int> m_indent;
  bool m_atLineStart = false;
  bool m_ownsStream = true;
  std::recursive_mutex m_mutex;
};

}  // namespace cardvariant
