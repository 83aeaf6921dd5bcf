// Worker-thread base class of the PDF plug-in: a derived class puts its work in `run`.
//
// `stop(true)` ends a running thread with the platform's TerminateThread, which stops it
// at its next wait point (Sleep, a wait, a message wait) and unwinds its stack, and
// returns only once the thread has ended, so that the owner may delete the object at
// once. A derived class whose `run` uses its own members stops the thread in its own
// destructor: the base destructor runs after those members are gone.
#pragma once

#include <windows.h>

class VOQ_Thread {
 public:
  VOQ_Thread() = default;
  VOQ_Thread(const VOQ_Thread&) = delete;
  VOQ_Thread& operator=(const VOQ_Thread&) = delete;
  // Stops a thread that still runs. Not virtual: objects are destroyed through their own type.
  ~VOQ_Thread();

  // Starts the thread procedure (onStart, run(argument), onStop) on a new thread.
  // 0, or the error that kept the thread from starting (also when one still runs).
  DWORD start(DWORD argument);
  // Without a thread: the kept exit code. Otherwise reads the thread's exit code; a
  // thread that still runs is terminated with exit code -1 when `terminate` is set and
  // waited for; the handle is closed. The exit code read (-1 after a termination).
  LONG stop(bool terminate);

  virtual DWORD run(DWORD argument);
  virtual void onStart() {}
  virtual void onStop() {}

 protected:
  static DWORD WINAPI threadProc(LPVOID self);

  HANDLE thread = nullptr;
  DWORD threadId = 0;
  DWORD argument = 0;
  LONG exitCode = 0;
};
