// The guard of a process-wide singleton: an unnamed semaphore of count one, made
// on first use, waited on without time-out and released by its holder.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

class VSingletonSemaphore {
 public:
  enum Making {
    kRemadeAfterClose,  // a use after close() makes a new semaphore
    kMadeOnce,          // made at the first use only; after close() there is none
  };
  enum Result {
    kOk,
    kNoSemaphore,  // none could be made, or it is closed
    kFailed,       // the wait or the release failed
  };

  // Constant-initialised, so that a static guard is ready before any constructor runs.
  explicit constexpr VSingletonSemaphore(Making making = kRemadeAfterClose) : m_making(making) {}
  VSingletonSemaphore(const VSingletonSemaphore&) = delete;
  VSingletonSemaphore& operator=(const VSingletonSemaphore&) = delete;

  // Takes the guard, making the semaphore first when there is none yet.
  Result acquire();
  Result release();
  // The singleton's destructor closes the semaphore; the guard has no destructor
  // of its own, so exit handlers that run late still find it.
  void close();

 private:
  HANDLE semaphore();

  std::atomic<HANDLE> m_handle{nullptr};
  std::once_flag m_once;
  const Making m_making;
};
