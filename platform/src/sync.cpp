// Events, semaphores and critical sections.
#include <cerrno>

#include "platform/handles.h"
#include "windows.h"

namespace platform {
namespace {

class Event : public Waitable {
 public:
  Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

  Acquire tryAcquire(DWORD) override {
    if (!signalled_) return Acquire::NotSignalled;
    if (!manualReset_) signalled_ = false;  // wakes exactly one waiter
    return Acquire::Acquired;
  }
  void undoAcquire(DWORD) override { signalled_ = true; }

  // With the kernel lock held.
  void set() {
    signalled_ = true;
    notifyWaiters();
  }
  void reset() { signalled_ = false; }
  // Releases the threads waiting now (manual reset: all that can go; auto reset: the
  // first that can), then leaves the event reset.
  void pulse() {
    signalled_ = true;
    offerToWaiters();
    signalled_ = false;
  }

 private:
  const bool manualReset_;
  bool signalled_;
};

class Semaphore : public Waitable {
 public:
  Semaphore(LONG count, LONG maximum) : count_(count), maximum_(maximum) {}

  Acquire tryAcquire(DWORD) override {
    if (count_ == 0) return Acquire::NotSignalled;
    --count_;
    return Acquire::Acquired;
  }
  void undoAcquire(DWORD) override { ++count_; }

  // With the kernel lock held: false when the count would pass the maximum (then unchanged).
  bool release(LONG n, LONG* previous) {
    if (n > maximum_ - count_) return false;
    *previous = count_;
    count_ += n;
    notifyWaiters();
    return true;
  }

 private:
  LONG count_;
  const LONG maximum_;
};

bool hasName(LPCSTR name) { return name && *name; }

}  // namespace
}  // namespace platform

extern "C" {

// Named events and semaphores would be shared with other processes; nothing here
// needs them, so a name is refused rather than silently kept to this process.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
  (void)lpEventAttributes;
  if (platform::hasName(lpName)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE handle = platform::insertHandle(std::make_shared<platform::Event>(bManualReset, bInitialState));
  if (handle) SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = platform::objectOf<platform::Event>(hEvent);
  if (!event) return FALSE;
  auto lock = platform::lockKernel();
  event->set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = platform::objectOf<platform::Event>(hEvent);
  if (!event) return FALSE;
  auto lock = platform::lockKernel();
  event->reset();
  return TRUE;
}

BOOL WINAPI PulseEvent(HANDLE hEvent) {
  auto event = platform::objectOf<platform::Event>(hEvent);
  if (!event) return FALSE;
  auto lock = platform::lockKernel();
  event->pulse();
  return TRUE;
}

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount,
                               LPCSTR lpName) {
  (void)lpSemaphoreAttributes;
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (platform::hasName(lpName)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE handle = platform::insertHandle(std::make_shared<platform::Semaphore>(lInitialCount, lMaximumCount));
  if (handle) SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  auto semaphore = platform::objectOf<platform::Semaphore>(hSemaphore);
  if (!semaphore) return FALSE;
  if (lReleaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG previous = 0;
  {
    auto lock = platform::lockKernel();
    if (!semaphore->release(lReleaseCount, &previous)) {
      SetLastError(ERROR_TOO_MANY_POSTS);
      return FALSE;
    }
  }
  if (lpPreviousCount) *lpPreviousCount = previous;
  return TRUE;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&lpCriticalSection->Mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  lpCriticalSection->OwningThread = 0;
  lpCriticalSection->RecursionCount = 0;
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount) {
  (void)dwSpinCount;
  InitializeCriticalSection(lpCriticalSection);
  return TRUE;
}

// The owner field is read by threads that do not hold the section (a wrong Leave),
// so it is accessed atomically; the recursion count only by the owner.
static void noteEntered(LPCRITICAL_SECTION section) {
  __atomic_store_n(&section->OwningThread, GetCurrentThreadId(), __ATOMIC_RELAXED);
  ++section->RecursionCount;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_lock(&lpCriticalSection->Mutex);
  noteEntered(lpCriticalSection);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (pthread_mutex_trylock(&lpCriticalSection->Mutex) != 0) return FALSE;
  noteEntered(lpCriticalSection);
  return TRUE;
}

// Leaving a section the caller does not hold is a caller's fault; the section stays as it is.
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (__atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_RELAXED) != GetCurrentThreadId() ||
      lpCriticalSection->RecursionCount <= 0)
    return;
  if (--lpCriticalSection->RecursionCount == 0)
    __atomic_store_n(&lpCriticalSection->OwningThread, DWORD{0}, __ATOMIC_RELAXED);
  pthread_mutex_unlock(&lpCriticalSection->Mutex);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pthread_mutex_destroy(&lpCriticalSection->Mutex);
}

}  // extern "C"
