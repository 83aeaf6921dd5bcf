// The plug-in's trace log: one plain-text file for all its classes.
//
// VOQ_TraceLog owns the process-wide state (the open file, the list of contexts, the
// nesting depth); each logging class writes through its own VOQ_TraceContext, which
// prefixes the entries with the class name. Without a configured file every entry is
// dropped after one test of the file handle, so the calls stay in the code.
#pragma once

#include <stdio.h>

#include <windows.h>

class VOQ_Configuration;
class VOQ_TraceLog;

class VOQ_TraceContext {
 public:
  // Entry kinds: entering a method raises the depth after the entry, leaving lowers it
  // before the entry, inside keeps it.
  enum { ENTER = 0, LEAVE = 1, INSIDE = 2 };

  // An empty or null text writes no line end: the next entry continues the line.
  // Each call returns the result of fflush, or 0 while the log has no file.
  int log(const char* method, const char* text, int kind);
  // The bytes as lower-case hexadecimal, a new indented line every 2 * width bytes.
  int logHex(const char* method, const char* label, const unsigned char* data, unsigned int length,
             int width);
  // The bytes unchanged, then a line end.
  int logRaw(const char* method, const char* label, const unsigned char* data, unsigned int length);
  // printf-style; no line end is added.
  int logFormat(const char* method, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // The low 16 bits of value as '1' and '0', bit 0 first.
  int logBits(const char* method, const char* text, unsigned int value);
  int logChar(int c);

  const char* getClassName() const { return className; }
  // The context created before this one (the log keeps them in a list).
  VOQ_TraceContext* getPrevious() const { return previous; }

 private:
  friend class VOQ_TraceLog;
  VOQ_TraceContext(const char* className, VOQ_TraceContext* previous)
      : className(className), previous(previous) {}
  // Indentation and "class::method(...)"; with a trailing blank when `blank` is set.
  void writeHead(FILE* file, const char* method, bool blank) const;

  const char* className;  // not owned
  VOQ_TraceContext* previous;
};

class VOQ_TraceLog {
 public:
  // The log; only the first call of either form creates it, later calls return it
  // unchanged. A null name gives a log without file.
  static VOQ_TraceLog* getInstance(const char* fileName);
  // The file name is the REG_SZ value `valueName` of the store, when it is not empty.
  static VOQ_TraceLog* getInstance(VOQ_Configuration& configuration, HKEY root, const char* subKey,
                                   const char* valueName);

  // A context for the class name (kept, not copied). Contexts live as long as the
  // process: the classes keep them in static pointers.
  VOQ_TraceContext* createContext(const char* className);
  // The open file, or NULL. The card library writes its reports into it.
  FILE* getFile() const;
  // The current nesting depth (0 to 1000): where the card library's reports start
  // their indentation.
  static int getDepth();

 private:
  VOQ_TraceLog() = default;
};

// Writes "functionName -> name " and the bytes as lower-case hexadecimal to a file.
void traceHexDump(FILE* file, const char* functionName, const char* name, const unsigned char* data,
                  unsigned int length);
