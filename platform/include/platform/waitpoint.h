// Wait points: the places where TerminateThread can stop a thread.
//
// TerminateThread never cancels a thread asynchronously. It marks the target and wakes
// it; the target ends at its next wait point by unwinding its stack (destructors run,
// as with pthread_exit; a catch (...) must rethrow). Sleep, SleepEx, the WaitFor*
// functions and platform::waitForObjects are wait points. A layer with a blocking wait
// of its own calls waitPoint() before and after blocking, and keeps a StopWakeHook
// while it blocks so that a stop request wakes it.
//
// Limitation: a thread that never reaches a wait point cannot be stopped. TerminateThread
// waits for the stop for the grace period below; after it, it returns TRUE anyway and
// the stop stays pending: the thread ends at its next wait point, and its handle becomes
// signalled then (GetExitCodeThread reports STILL_ACTIVE until that happens).
// EnterCriticalSection is no wait point (a thread blocked there is stopped only later).
// A stop never starts while an exception unwinds the thread (its waits run normally).
// The unwind passes every frame: a stop at a wait inside a destructor on a normal scope
// exit (destructors are noexcept), or below frames without unwind information (code of
// a virtual machine, C libraries built without tables), ends the process.
#pragma once

#include <functional>

#include "windef.h"

namespace platform {

// Stops the calling thread here when a stop is pending for it (does not return then).
// No effect while the thread is already unwinding (exception or stop in flight).
void waitPoint();

// True when TerminateThread asked the calling thread to stop.
bool stopRequested();

// While alive, a stop request for the thread that made the hook also calls `wake`,
// from the stopping thread with the kernel lock held. A wait on objects of this layer
// needs no hook: make the awaited thing a Waitable and use waitForObjects. The hook is
// for waits on descriptors (poll on a socket): `wake` writes to a pipe or eventfd that
// the poll watches. It must take no lock, block, or call into this layer.
class StopWakeHook {
 public:
  explicit StopWakeHook(std::function<void()> wake);
  ~StopWakeHook();
  StopWakeHook(const StopWakeHook&) = delete;
  StopWakeHook& operator=(const StopWakeHook&) = delete;

  void operator()() const { wake_(); }

 private:
  std::function<void()> wake_;
  void* thread_;
};

// How long TerminateThread waits for the target to reach a wait point (default 5000 ms).
void setTerminateGracePeriod(DWORD milliseconds);

}  // namespace platform
