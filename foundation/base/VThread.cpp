#include "foundation/base/VThread.h"

#include <cstdint>
#include <future>
#include <memory>
#include <process.h>

namespace {

// What the new thread receives. The thread waits for `ready` until start has
// stored the handle, so that a thread which deletes its object can never run
// ahead of start; the promise's shared state outlives the object.
struct ThreadStart {
  VThread* self;
  std::future<void> ready;
};

}  // namespace

VThread::~VThread() {
  HANDLE handle = m_handle.get();
  // A self-deleting object is destroyed on its own thread: nothing to wait for.
  if (handle != nullptr && m_threadId != GetCurrentThreadId()) {
    requestStop();
    WaitForSingleObject(handle, INFINITE);
  }
}

void VThread::OnThreadEnd() {}

void VThread::reset() {
  m_handle.reset();
  m_threadId = 0;
  m_stop = false;
  m_finished = false;
}

void VThread::requestStop() { m_stop = true; }

bool VThread::ShouldExit() { return m_stop; }

bool VThread::start(unsigned stackSize, LPSECURITY_ATTRIBUTES security, unsigned flags) {
  if (m_handle.get() != nullptr) {
    if (!m_finished) return false;
    WaitForSingleObject(m_handle.get(), INFINITE);
  }
  reset();

  std::promise<void> ready;
  auto pack = std::make_unique<ThreadStart>(ThreadStart{this, ready.get_future()});
  unsigned threadId = 0;
  uintptr_t handle = _beginthreadex(security, stackSize, &VThread::entry, pack.get(), flags, &threadId);
  if (handle == 0) return false;
  pack.release();  // the thread owns it now
  m_handle.reset(reinterpret_cast<HANDLE>(handle));
  m_threadId = threadId;
  // From here on the object may already be gone (kDeleteWhenDone).
  ready.set_value();
  return true;
}

unsigned __stdcall VThread::entry(void* start) {
  std::unique_ptr<ThreadStart> pack(static_cast<ThreadStart*>(start));
  pack->ready.wait();
  VThread* self = pack->self;
  pack.reset();

  self->OnEntryPoint();
  self->m_finished = true;
  self->OnThreadEnd();
  if (self->m_options.isSet(kDeleteWhenDone)) delete self;
  return 0;
}

bool VThread::wait(DWORD timeout) {
  HANDLE handle = m_handle.get();
  if (handle == nullptr) return false;
  if (m_threadId == 0) return true;
  bool endedBefore = m_finished;
  requestStop();
  if (WaitForSingleObject(handle, endedBefore ? INFINITE : timeout) != WAIT_OBJECT_0) return false;
  m_handle.reset();
  m_threadId = 0;
  return !endedBefore;
}

bool VThread::terminate(DWORD exitCode) {
  HANDLE handle = m_handle.get();
  if (handle == nullptr) return false;
  if (!TerminateThread(handle, exitCode)) return false;
  // A thread that has not reached a point where it can be stopped yet keeps
  // running until it does: keep its handle, so that it is still joined later.
  if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) reset();
  return true;
}
