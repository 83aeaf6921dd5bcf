// The Java log: one file for everything the Java side prints, the VM's own messages
// (the "vfprintf" hook) and System.out and System.err (VOQOutputStream). Its path is
// the program's first argument, else "java.txt" in the temporary directory.
//
// Writers on many threads share it: the VM's threads, every Java thread that prints,
// System.out and System.err each with a lock of their own only. So each thread gathers
// its text up to the end of a line and the line goes into the file at once, under the
// report's lock, and is flushed: lines of different threads never mix.
#pragma once

#include <cstddef>

class CReport;

// The report of the Java log (level 128), opened by the first call of the process;
// NULL when it could not be opened (the Java output is then dropped).
CReport* openJavaLog();
// Writes text at level (dropped when above the log's level) on behalf of the calling
// thread: whole lines at once; an unfinished line waits for its end (or until 4 KB
// have gathered). Never throws.
void writeJavaLog(int level, const char* text, size_t length);
// Flushes the Java log when it is open.
void flushJavaLog();
