// The Java log: one file for everything the Java side prints, the VM's own messages
// (the "vfprintf" hook) and System.out and System.err (VOQOutputStream). Its path is
// the program's first argument, else "java.txt" in the temporary directory.
//
// Writers on many threads share it: the VM's threads, every Java thread that prints,
// System.out and System.err each with a lock of their own only. So each thread gathers
// its text up to the end of a line and the line goes into the file at once, under the
// report's lock, and is flushed: lines of different threads never mix. What a thread
// has gathered without a line end (a prompt such as "Bitte PIN eingeben: ") is written
// once the thread has written nothing for a short while, when the thread ends, and at
// exit: the natives never see a Java flush.
#pragma once

#include <cstddef>

class CReport;

// The report of the Java log (level 128), opened by the first call of the process;
// NULL when it could not be opened (the Java output is then dropped).
CReport* openJavaLog();
// Writes text at level (dropped when above the log's level) on behalf of the calling
// thread: whole lines at once; an unfinished line waits for its end, for a pause of the
// thread's writing, for the thread's end (or until 4 KB have gathered). Never throws.
void writeJavaLog(int level, const char* text, size_t length);
// Writes what every thread has gathered, then flushes the Java log when it is open.
void flushJavaLog();

// How long a thread's unfinished line waits for more before it is written (100 ms).
// Tests that need lines to stay whole whatever the machine's speed set a long one.
void setJavaLogQuietTime(unsigned milliseconds);
