#include "foundation/base/VSingletonSemaphore.h"

HANDLE VSingletonSemaphore::semaphore() {
  if (m_making == kMadeOnce) {
    std::call_once(m_once, [this] { m_handle.store(CreateSemaphoreA(nullptr, 1, 1, nullptr)); });
    return m_handle.load();
  }
  HANDLE semaphore = m_handle.load();
  if (semaphore == nullptr) {
    // Two first users may race here: one semaphore wins, the other is closed.
    HANDLE made = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (made != nullptr && m_handle.compare_exchange_strong(semaphore, made)) {
      semaphore = made;
    } else if (made != nullptr) {
      CloseHandle(made);
    }
  }
  return semaphore;
}

VSingletonSemaphore::Result VSingletonSemaphore::acquire() {
  HANDLE handle = semaphore();
  if (handle == nullptr) return kNoSemaphore;
  return WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0 ? kOk : kFailed;
}

VSingletonSemaphore::Result VSingletonSemaphore::release() {
  HANDLE handle = m_handle.load();
  if (handle == nullptr) return kNoSemaphore;
  return ReleaseSemaphore(handle, 1, nullptr) ? kOk : kFailed;
}

void VSingletonSemaphore::close() {
  if (HANDLE handle = m_handle.exchange(nullptr)) CloseHandle(handle);
}
