// Base of a worker thread: a subclass puts its work in OnEntryPoint and polls
// ShouldExit.
//
// The owner owns the thread handle: the thread only marks itself finished, and
// wait, terminate and the destructor join before they close the handle, so no
// handle is ever closed while someone waits on it. An object with option
// kDeleteWhenDone deletes itself when its thread ends; its owner must not touch
// it after start. A subclass whose work uses its own members waits for the
// thread in its own destructor, before those members go.
#pragma once

#include "foundation/base/VBitmask.h"
#include "foundation/base/VHandle.h"

#include <atomic>
#include <windows.h>

class VThread {
 public:
  static constexpr uint32_t kDeleteWhenDone = 0x1;

  VThread() = default;
  // Asks the thread to stop and waits for it without time-out.
  virtual ~VThread();
  VThread(const VThread&) = delete;
  VThread& operator=(const VThread&) = delete;

  // The thread's work.
  virtual void OnEntryPoint() = 0;
  // Runs on the thread after the work; empty by default.
  virtual void OnThreadEnd();

 protected:
  // Forgets a thread that has been joined: handle closed, id 0, stop flag cleared.
  virtual void reset();

 public:
  virtual void requestStop();
  virtual bool ShouldExit();

  // Starts the thread (creation flags as for _beginthreadex). False when the
  // start failed or a thread of this object is still running.
  bool start(unsigned stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr, unsigned flags = 0);
  // Asks the thread to stop and waits up to timeout ms. True when it ended in
  // that time; false without a thread, on time-out, and when the thread had
  // already ended before the call (it is joined and its handle closed then).
  bool wait(DWORD timeout);
  // Stops the thread (TerminateThread) and forgets it; false without a thread or
  // when it cannot be stopped. A thread that has not yet reached a point where it
  // can be stopped stays joinable: its handle is kept until it has ended.
  bool terminate(DWORD exitCode);

  VBitmask& getOptions() { return m_options; }
  HANDLE getHandle() const { return m_handle.get(); }
  unsigned getThreadId() const { return m_threadId; }
  // True once the work of the current thread is done.
  bool isFinished() const { return m_finished; }

 private:
  static unsigned __stdcall entry(void* start);

  VBitmask m_options;
  VHandle m_handle;
  std::atomic<unsigned> m_threadId{0};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
};
