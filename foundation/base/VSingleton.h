// The process-wide instance of a class, made once under its VSingletonSemaphore
// (double-checked: the instance is read without the lock once it exists).
//
// The class keeps its own lock and unlock functions, so that their failures carry its
// own texts and exceptions: each either throws or returns whether it succeeded.
#pragma once

#include "foundation/base/VSingletonSemaphore.h"

#include <atomic>
#include <exception>
#include <memory>

namespace VOQ {

inline bool succeeded(void (*hook)()) {
  hook();
  return true;
}
inline bool succeeded(bool (*hook)()) { return hook(); }

// Holds a singleton's lock for a scope. A lock that fails without throwing is not
// held. Leaving the scope gives the lock back, also when an exception leaves it; a
// failing unlock then stays silent, so that the first exception reaches the caller.
template <class Hook>
class VSingletonLock {
 public:
  VSingletonLock(Hook lock, Hook unlock) : m_unlock(unlock), m_held(succeeded(lock)) {}
  ~VSingletonLock() noexcept(false) {
    if (!m_held) return;
    if (std::uncaught_exceptions() > m_exceptions) {
      try {
        release();
      } catch (...) {
      }
      return;
    }
    release();
  }
  VSingletonLock(const VSingletonLock&) = delete;
  VSingletonLock& operator=(const VSingletonLock&) = delete;

  bool held() const { return m_held; }
  // Gives the lock back now; false when the unlock failed without throwing.
  bool release() {
    m_held = false;
    return succeeded(m_unlock);
  }

 private:
  Hook m_unlock;
  bool m_held;
  int m_exceptions = std::uncaught_exceptions();
};

template <class T>
class VSingleton {
 public:
  // Constant-initialised, so that a static singleton is ready before any constructor runs.
  explicit constexpr VSingleton(VSingletonSemaphore::Making making = VSingletonSemaphore::kRemadeAfterClose)
      : m_semaphore(making) {}
  VSingleton(const VSingleton&) = delete;
  VSingleton& operator=(const VSingleton&) = delete;

  T* get() const { return m_instance.load(); }

  // The instance. When there is none, takes the class's lock, asks make() for one
  // (a std::unique_ptr<T>, empty when none could be made) unless another thread made
  // it meanwhile, and gives the lock back. A lock that fails without throwing: the
  // instance as it is (NULL when none). An unlock that fails without throwing: an
  // instance just made is deleted again (its destructor forgets it). What make, lock
  // or unlock throw reaches the caller, with the lock given back.
  template <class Hook, class Make>
  T* getOrMake(Hook lock, Hook unlock, Make make) {
    if (T* instance = get()) return instance;
    VSingletonLock<Hook> guard(lock, unlock);
    if (!guard.held()) return get();
    T* made = nullptr;
    if (get() == nullptr) {
      made = make().release();  // owned by the class's exit handler from here
      if (made != nullptr) m_instance.store(made);
    }
    if (!guard.release()) delete made;
    return get();
  }

  // For the instance's destructor: forgets it when it is the current one and then
  // closes the semaphore; true when it was current.
  bool forget(T* instance) {
    if (!m_instance.compare_exchange_strong(instance, nullptr)) return false;
    m_semaphore.close();
    return true;
  }

  VSingletonSemaphore& semaphore() { return m_semaphore; }

 private:
  std::atomic<T*> m_instance{nullptr};
  VSingletonSemaphore m_semaphore;
};

}  // namespace VOQ
