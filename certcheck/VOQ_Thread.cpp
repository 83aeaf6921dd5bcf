#include "certcheck/VOQ_Thread.h"

VOQ_Thread::~VOQ_Thread() {
  if (thread != nullptr) stop(true);
}

DWORD VOQ_Thread::start(DWORD startArgument) {
  if (thread != nullptr) return ERROR_ALREADY_EXISTS;
  argument = startArgument;
  exitCode = -1;
  thread = CreateThread(nullptr, 0, threadProc, this, 0, &threadId);
  return thread != nullptr ? 0 : GetLastError();
}

LONG VOQ_Thread::stop(bool terminate) {
  if (thread == nullptr) return exitCode;
  DWORD code = 0;
  if (GetExitCodeThread(thread, &code)) {
    if (code == STILL_ACTIVE && terminate) {
      TerminateThread(thread, static_cast<DWORD>(-1));
      // TerminateThread gives up waiting for a thread that is slow to reach a wait
      // point; the object must not be freed while its thread may still use it.
      WaitForSingleObject(thread, INFINITE);
      GetExitCodeThread(thread, &code);
    }
    exitCode = static_cast<LONG>(code);
  }
  CloseHandle(thread);
  thread = nullptr;
  return exitCode;
}

DWORD VOQ_Thread::run(DWORD) { return static_cast<DWORD>(exitCode); }

DWORD WINAPI VOQ_Thread::threadProc(LPVOID self) {
  VOQ_Thread* object = static_cast<VOQ_Thread*>(self);
  object->onStart();
  object->run(object->argument);
  object->onStop();
  // Not STILL_ACTIVE: a thread that has ended must not look alive to stop.
  return 0;
}
