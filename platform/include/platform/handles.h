// Kernel objects and their handles, for the parts of the platform layer that add their
// own objects (processes, files, message queues) to the one handle table.
//
// A HANDLE is a small positive number that names an entry of the table. Numbers are
// handed out in rising order and only come round again after about 2^30 handles, so a
// stale handle fails cleanly instead of naming another object. Objects are shared: each
// handle holds a reference, and so does every thread that waits on the object, so
// CloseHandle while another thread waits never pulls the object from under it.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win_threads.h"
#include "windef.h"
#include "winerror.h"

namespace platform {

class KernelObject : public std::enable_shared_from_this<KernelObject> {
 public:
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;

 protected:
  KernelObject() = default;
};

// Puts an object into the table: its new handle, or NULL (ERROR_NOT_ENOUGH_MEMORY set)
// when the table is full or the object is null.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);

// The object a handle names, or null when the handle is not open (no last error set).
// GetCurrentThread() names the calling thread.
std::shared_ptr<KernelObject> referenceHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> referenceHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(referenceHandle(handle));
}

// The same for an API function: ERROR_INVALID_HANDLE is set when there is no such object.
template <class T>
std::shared_ptr<T> objectOf(HANDLE handle) {
  auto object = referenceHandleAs<T>(handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

// Drops the handle; the object lives on while other handles or waiters hold it.
// False when the handle is not open.
bool closeHandle(HANDLE handle);

// The state of every waitable object is guarded by one process-wide lock, the kernel
// lock, so that a wait for several objects sees and takes them at one instant.
std::unique_lock<std::mutex> lockKernel();

// An object a thread can wait for. The virtual members are called with the kernel lock
// held; the destructor never is (the layer drops its last references outside the lock).
class Waitable : public KernelObject {
 public:
  enum class Acquire { NotSignalled, Acquired, Abandoned };

  // Takes the object for the thread when it is signalled: an auto-reset event resets,
  // a semaphore counts down, a mutex becomes owned. Abandoned: a mutex whose owner
  // ended without releasing it, now owned by the thread.
  virtual Acquire tryAcquire(DWORD threadId) = 0;
  // Undoes a successful tryAcquire, when a wait for all objects cannot take them all.
  virtual void undoAcquire(DWORD threadId) = 0;
  // For state that changes outside this process without notice: how often a waiting
  // thread looks again. Zero when every change calls notifyWaiters.
  virtual std::chrono::milliseconds pollInterval() const { return std::chrono::milliseconds(0); }
  // Called when a thread that took the object (trackOwnership) ends.
  virtual void ownerThreadEnded(DWORD threadId) { (void)threadId; }

 protected:
  // With the kernel lock held: wakes the threads waiting on this object after its state changed.
  void notifyWaiters();
  // With the kernel lock held: takes, for each thread waiting on this object in the
  // order they came, what its wait needs if it can have it now, and wakes it with that
  // result. For a state that lasts only for the call (a pulsed event).
  void offerToWaiters();
  // With the kernel lock held, from tryAcquire: the thread the object is taken for
  // should tell it when it ends (ownerThreadEnded); untrack when it gives it back.
  void trackOwnership();
  void untrackOwnership();

 private:
  friend class WaitList;
  std::vector<void*> waiters_;  // the waits on this object, oldest first
};

// How many waits are on the object now; for tests that must know a thread is blocked.
size_t waiterCount(const std::shared_ptr<Waitable>& object);

// Waits like WaitForMultipleObjects: WAIT_OBJECT_0 + i for the first signalled object
// (waitAll: all of them, taken together), WAIT_ABANDONED_0 + i, or WAIT_TIMEOUT.
// A wait point: a pending TerminateThread of the calling thread stops it here.
// The caller checks the count and the handles; an empty list just sleeps.
DWORD waitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD milliseconds);

}  // namespace platform
