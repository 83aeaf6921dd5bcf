// Threads over pthreads, the waits on kernel objects, and the cooperative stop of TerminateThread.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <pthread.h>
#include <unistd.h>

#include "platform/handles.h"
#include "platform/waitpoint.h"
#include "process.h"
#include "windows.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// What the layer knows of one OS thread. Fields other than id are guarded by the kernel lock.
struct ThreadControl {
  DWORD id = 0;
  std::condition_variable wake;  // the thread blocks on it, with the kernel lock
  bool stopRequested = false;    // TerminateThread asked for a stop
  DWORD stopCode = 0;
  bool stopping = false;  // unwinding for a stop or ExitThread: wait points let it be
  bool exitCodeSet = false;
  DWORD exitCode = 0;
  std::vector<StopWakeHook*> hooks;
  // Objects to tell when the thread ends; the address identifies them without taking a reference.
  std::vector<std::pair<const Waitable*, std::weak_ptr<Waitable>>> owned;
  bool ended = false;
};

// The handle side of a thread: signalled when the thread has ended.
class ThreadObject : public Waitable {
 public:
  explicit ThreadObject(std::shared_ptr<ThreadControl> control) : control_(std::move(control)) {}

  Acquire tryAcquire(DWORD) override { return finished_ ? Acquire::Acquired : Acquire::NotSignalled; }
  void undoAcquire(DWORD) override {}

  ThreadControl& control() { return *control_; }
  const std::shared_ptr<ThreadControl>& sharedControl() const { return control_; }
  // With the kernel lock held.
  bool finished() const { return finished_; }
  DWORD exitCode() const { return finished_ ? exitCode_ : STILL_ACTIVE; }
  void finish(DWORD code) {
    if (finished_) return;
    finished_ = true;
    exitCode_ = code;
    notifyWaiters();
  }
  DWORD suspendCount = 0;
  std::condition_variable started;  // the creator waits for the thread's id
  bool reaped = false;              // signalled by the reaper once the thread is joined

 private:
  std::shared_ptr<ThreadControl> control_;
  bool finished_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
};

std::atomic<DWORD> g_graceMilliseconds{5000};

// Never destroyed: thread-local destructors of late threads still take it.
std::mutex& kernelMutex() {
  static std::mutex* instance = new std::mutex;
  return *instance;
}

// With the kernel lock held: tells the objects the thread still holds that it ended.
// Returns them, so that the caller drops them after the lock (a destructor may lock).
std::vector<std::shared_ptr<Waitable>> abandonOwned(ThreadControl& control) {
  std::vector<std::pair<const Waitable*, std::weak_ptr<Waitable>>> owned;
  owned.swap(control.owned);
  std::vector<std::shared_ptr<Waitable>> objects;
  for (auto& entry : owned) {
    if (auto object = entry.second.lock()) {
      object->ownerThreadEnded(control.id);
      objects.push_back(std::move(object));
    }
  }
  return objects;
}

// The calling thread's record, made on first use (also for threads this layer did not
// start). It is kept under a pthread key, whose destructor runs after every C++
// thread-local destructor of the thread, so that those (a window queue) can still use
// this layer; the thread-local pointer is only a cache.
struct CurrentThread {
  std::shared_ptr<ThreadControl> control;
  std::shared_ptr<ThreadObject> object;  // made for GetCurrentThread() of a thread we did not start
};

thread_local CurrentThread* t_current = nullptr;

void endCurrentThread(void* record) {
  std::unique_ptr<CurrentThread> current(static_cast<CurrentThread*>(record));
  t_current = nullptr;
  std::shared_ptr<ThreadObject> keep = current->object;
  std::vector<std::shared_ptr<Waitable>> released;
  std::lock_guard<std::mutex> guard(kernelMutex());
  released = abandonOwned(*current->control);
  current->control->ended = true;
  if (keep && !keep->reaped) keep->finish(current->control->exitCodeSet ? current->control->exitCode : 0);
}

pthread_key_t currentThreadKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, endCurrentThread);
    return k;
  }();
  return key;
}

CurrentThread& currentRecord(std::shared_ptr<ThreadControl> control = nullptr) {
  if (!t_current) {
    auto record = std::make_unique<CurrentThread>();
    if (!control) {
      control = std::make_shared<ThreadControl>();
      control->id = static_cast<DWORD>(gettid());
    }
    record->control = std::move(control);
    pthread_setspecific(currentThreadKey(), record.get());
    t_current = record.release();
  }
  return *t_current;
}

ThreadControl& current() { return *currentRecord().control; }

// With the kernel lock held (in `lock`): ends the calling thread. The forced unwind
// releases the lock through its owner's destructor, as it does for every other frame.
[[noreturn]] void exitCurrentThread(ThreadControl& self, DWORD code) {
  self.stopping = true;
  if (!self.exitCodeSet) {
    self.exitCodeSet = true;
    self.exitCode = code;
  }
  pthread_exit(nullptr);
}

// A stop can start only when no exception is being thrown and no stop is in flight:
// a second unwind would end the process.
bool canStopHere(const ThreadControl& self) {
  return self.stopRequested && !self.stopping && std::uncaught_exceptions() == 0;
}

// One thread's wait, on the lists of the objects it waits for (kernel lock held throughout).
struct WaitRecord {
  ThreadControl* thread;
  const std::vector<std::shared_ptr<Waitable>>* objects;
  bool waitAll;
  DWORD granted;  // what offerToWaiters took for the thread, WAIT_TIMEOUT while nothing
};

// The thread an object is taken for: the caller, or the waiter offerToWaiters serves.
thread_local ThreadControl* t_takingFor = nullptr;

ThreadControl& takingThread() { return t_takingFor ? *t_takingFor : current(); }

}  // namespace

std::unique_lock<std::mutex> lockKernel() { return std::unique_lock<std::mutex>(kernelMutex()); }

void Waitable::notifyWaiters() {
  for (void* waiter : waiters_) static_cast<WaitRecord*>(waiter)->thread->wake.notify_one();
}

void Waitable::trackOwnership() {
  takingThread().owned.emplace_back(this, std::static_pointer_cast<Waitable>(shared_from_this()));
}

void Waitable::untrackOwnership() {
  auto& owned = takingThread().owned;
  for (auto it = owned.begin(); it != owned.end();) {
    if (it->first == this) {
      owned.erase(it);
      return;
    }
    it = it->second.expired() ? owned.erase(it) : it + 1;
  }
}

// Puts a wait on the objects' lists for its time (kernel lock held throughout).
class WaitList {
 public:
  explicit WaitList(WaitRecord* record) : record_(record) {
    for (auto& object : *record_->objects) object->waiters_.push_back(record_);
  }
  ~WaitList() {
    for (auto& object : *record_->objects) {
      auto& waiters = object->waiters_;
      auto it = std::find(waiters.begin(), waiters.end(), static_cast<void*>(record_));
      if (it != waiters.end()) waiters.erase(it);
    }
  }
  WaitList(const WaitList&) = delete;
  WaitList& operator=(const WaitList&) = delete;

  static size_t count(const Waitable& object) { return object.waiters_.size(); }
  static std::vector<void*> snapshot(const Waitable& object) { return object.waiters_; }

 private:
  WaitRecord* record_;
};

namespace {

// With the kernel lock held: takes what the wait asks for, or nothing.
DWORD tryTake(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD threadId) {
  if (!waitAll) {
    for (size_t i = 0; i < objects.size(); ++i) {
      switch (objects[i]->tryAcquire(threadId)) {
        case Waitable::Acquire::Acquired:
          return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        case Waitable::Acquire::Abandoned:
          return WAIT_ABANDONED_0 + static_cast<DWORD>(i);
        case Waitable::Acquire::NotSignalled:
          break;
      }
    }
    return WAIT_TIMEOUT;
  }
  size_t taken = 0;
  DWORD result = WAIT_OBJECT_0;
  for (; taken < objects.size(); ++taken) {
    Waitable::Acquire a = objects[taken]->tryAcquire(threadId);
    if (a == Waitable::Acquire::NotSignalled) break;
    if (a == Waitable::Acquire::Abandoned && result == WAIT_OBJECT_0)
      result = WAIT_ABANDONED_0 + static_cast<DWORD>(taken);
  }
  if (taken == objects.size()) return result;
  while (taken > 0) objects[--taken]->undoAcquire(threadId);
  return WAIT_TIMEOUT;
}

}  // namespace

DWORD waitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD milliseconds) {
  if (waitAll) {
    for (size_t i = 0; i < objects.size(); ++i)
      for (size_t j = i + 1; j < objects.size(); ++j)
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
  }
  ThreadControl& self = current();
  const bool infinite = milliseconds == INFINITE;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);
  std::chrono::milliseconds poll(0);
  for (auto& object : objects) {
    auto interval = object->pollInterval();
    if (interval.count() > 0 && (poll.count() == 0 || interval < poll)) poll = interval;
  }

  std::unique_lock<std::mutex> lock(kernelMutex());
  WaitRecord record{&self, &objects, waitAll, WAIT_TIMEOUT};
  WaitList list(&record);
  for (;;) {
    // What another thread took for this one is this wait's result (a pulsed event).
    if (record.granted != WAIT_TIMEOUT) return record.granted;
    if (canStopHere(self)) exitCurrentThread(self, self.stopCode);
    DWORD result = tryTake(objects, waitAll, self.id);
    if (result != WAIT_TIMEOUT) return result;
    const Clock::time_point now = Clock::now();
    if (!infinite && now >= deadline) return WAIT_TIMEOUT;
    if (infinite && poll.count() == 0) {
      self.wake.wait(lock);
    } else {
      Clock::time_point until = infinite ? now + poll : deadline;
      if (poll.count() > 0) until = std::min(until, now + poll);
      self.wake.wait_until(lock, until);
    }
  }
}

void Waitable::offerToWaiters() {
  for (void* waiter : WaitList::snapshot(*this)) {
    auto* record = static_cast<WaitRecord*>(waiter);
    if (record->granted != WAIT_TIMEOUT) continue;
    t_takingFor = record->thread;
    record->granted = tryTake(*record->objects, record->waitAll, record->thread->id);
    t_takingFor = nullptr;
    if (record->granted != WAIT_TIMEOUT) record->thread->wake.notify_one();
  }
}

size_t waiterCount(const std::shared_ptr<Waitable>& object) {
  std::lock_guard<std::mutex> guard(kernelMutex());
  return WaitList::count(*object);
}

void waitPoint() {
  ThreadControl& self = current();
  std::unique_lock<std::mutex> lock(kernelMutex());
  if (canStopHere(self)) exitCurrentThread(self, self.stopCode);
}

bool stopRequested() {
  ThreadControl& self = current();
  std::lock_guard<std::mutex> guard(kernelMutex());
  return self.stopRequested;
}

StopWakeHook::StopWakeHook(std::function<void()> wake) : wake_(std::move(wake)), thread_(&current()) {
  std::lock_guard<std::mutex> guard(kernelMutex());
  static_cast<ThreadControl*>(thread_)->hooks.push_back(this);
}

StopWakeHook::~StopWakeHook() {
  std::lock_guard<std::mutex> guard(kernelMutex());
  auto& hooks = static_cast<ThreadControl*>(thread_)->hooks;
  hooks.erase(std::remove(hooks.begin(), hooks.end(), this), hooks.end());
}

void setTerminateGracePeriod(DWORD milliseconds) { g_graceMilliseconds = milliseconds; }

std::shared_ptr<KernelObject> currentThreadObject() {
  CurrentThread& record = currentRecord();
  std::lock_guard<std::mutex> guard(kernelMutex());
  if (!record.object) record.object = std::make_shared<ThreadObject>(record.control);
  return record.object;
}

namespace {

struct StartBlock {
  std::shared_ptr<ThreadObject> object;
  LPTHREAD_START_ROUTINE start = nullptr;
  unsigned (*crtStart)(void*) = nullptr;
  LPVOID parameter = nullptr;
};

// A thread's handle is signalled once the thread has wholly ended, the thread-local
// destructors of every library included (a waiter that then ends the process must find
// the thread's memory freed): a reaper thread joins each ended thread, then signals its
// handle. The first thread of the layer that begins starts the reaper, so that a thread's
// end (and the TerminateThread that waits for it) does not also wait for a thread to be
// made. It runs only while threads of the layer live or wait to be joined, so that no
// thread of the layer outlives the work. Never destroyed: late threads still hand
// themselves over.
class Reaper {
 public:
  static Reaper& instance() {
    static Reaper* reaper = new Reaper;
    return *reaper;
  }

  // Called by each thread of the layer as it begins.
  void started() {
    std::lock_guard<std::mutex> guard(mutex_);
    forThisProcess();
    ++live_;
    ensureRunning();
  }

  // Called by the ending thread. False when no reaper runs: the caller signals itself.
  bool take(pthread_t thread, std::shared_ptr<ThreadObject> object, DWORD code) {
    std::lock_guard<std::mutex> guard(mutex_);
    forThisProcess();
    if (live_ > 0) --live_;
    if (!ensureRunning()) return false;
    ended_.push_back(Ended{thread, std::move(object), code});
    work_.notify_one();
    return true;
  }

 private:
  struct Ended {
    pthread_t thread;
    std::shared_ptr<ThreadObject> object;
    DWORD code;
  };

  // With mutex_ held. A child made by fork has none of its parent's threads, the reaper
  // included.
  void forThisProcess() {
    if (countedIn_ == getpid()) return;
    countedIn_ = getpid();
    live_ = 0;
    ended_.clear();
  }

  // With mutex_ held: false when no reaper runs and none can be started.
  bool ensureRunning() {
    if (runningIn_ == getpid()) return true;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t reaper;
    const int rc = pthread_create(&reaper, &attr, &Reaper::run, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) return false;
    runningIn_ = getpid();
    return true;
  }

  static void* run(void* self) {
    Reaper& reaper = *static_cast<Reaper*>(self);
    for (;;) {
      Ended ended;
      {
        std::unique_lock<std::mutex> lock(reaper.mutex_);
        reaper.work_.wait(lock, [&] { return !reaper.ended_.empty() || reaper.live_ == 0; });
        if (reaper.ended_.empty()) {
          reaper.runningIn_ = 0;
          return nullptr;
        }
        ended = std::move(reaper.ended_.front());
        reaper.ended_.erase(reaper.ended_.begin());
      }
      pthread_join(ended.thread, nullptr);
      std::lock_guard<std::mutex> guard(kernelMutex());
      ended.object->finish(ended.code);
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::condition_variable work_;
  std::vector<Ended> ended_;
  size_t live_ = 0;      // threads of the layer that began and have not ended
  pid_t countedIn_ = 0;  // the process live_ and ended_ belong to
  pid_t runningIn_ = 0;  // the process whose reaper runs, 0 for none
};

// Marks the thread ended on every way out of it: return, ExitThread, a stop. Objects it
// owns are released at once; its handle is signalled by the reaper.
class ThreadEnd {
 public:
  explicit ThreadEnd(std::shared_ptr<ThreadObject> object) : object_(std::move(object)) {}
  ~ThreadEnd() {
    std::vector<std::shared_ptr<Waitable>> released;
    DWORD code;
    {
      std::lock_guard<std::mutex> guard(kernelMutex());
      ThreadControl& control = object_->control();
      released = abandonOwned(control);
      code = control.exitCodeSet ? control.exitCode : result;
    }
    if (Reaper::instance().take(pthread_self(), object_, code)) return;
    pthread_detach(pthread_self());
    std::lock_guard<std::mutex> guard(kernelMutex());
    object_->finish(code);
  }
  ThreadEnd(const ThreadEnd&) = delete;
  ThreadEnd& operator=(const ThreadEnd&) = delete;
  DWORD result = 0;

 private:
  std::shared_ptr<ThreadObject> object_;
};

void* threadMain(void* argument) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(argument));
  std::shared_ptr<ThreadObject> object = block->object;
  ThreadControl& control = object->control();
  {
    std::lock_guard<std::mutex> guard(kernelMutex());
    control.id = static_cast<DWORD>(gettid());
    object->started.notify_all();
  }
  // The creator goes on from here: what the thread sets up for itself (its record, the
  // memory it allocates first) is its own.
  currentRecord(object->sharedControl()).object = object;
  Reaper::instance().started();
  ThreadEnd end(object);
  {
    // A suspended thread waits here; a stop while suspended ends it before it ran.
    std::unique_lock<std::mutex> lock(kernelMutex());
    while (object->suspendCount > 0) {
      if (canStopHere(control)) exitCurrentThread(control, control.stopCode);
      control.wake.wait(lock);
    }
  }
  end.result = block->start ? block->start(block->parameter) : block->crtStart(block->parameter);
  return nullptr;
}

HANDLE startThread(SIZE_T stackSize, std::unique_ptr<StartBlock> block, DWORD flags, LPDWORD threadId) {
  auto control = std::make_shared<ThreadControl>();
  auto object = std::make_shared<ThreadObject>(control);
  if (flags & CREATE_SUSPENDED) object->suspendCount = 1;
  block->object = object;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  object->reaped = true;  // joined by the reaper: the thread stays joinable
  if (stackSize > 0) {
    // The system the code was written for reserves at least 1 MiB whatever was asked;
    // the size given only sets what is committed first.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = std::max<size_t>(stackSize, 1u << 20);
    size = (size + page - 1) / page * page;
    if (pthread_attr_setstacksize(&attr, size) != 0) {
      pthread_attr_destroy(&attr);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  // The handle exists before the thread runs, so that a failure leaves nothing behind.
  HANDLE handle = insertHandle(object);
  if (!handle) {
    pthread_attr_destroy(&attr);
    return nullptr;
  }
  pthread_t thread;
  StartBlock* raw = block.release();
  int rc = pthread_create(&thread, &attr, threadMain, raw);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete raw;
    closeHandle(handle);
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(kernelMutex());
  object->started.wait(lock, [&] { return control->id != 0; });
  if (threadId) *threadId = control->id;
  return handle;
}

}  // namespace

}  // namespace platform

using platform::ThreadObject;

extern "C" {

DWORD WINAPI GetCurrentThreadId(void) { return platform::current().id; }

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId) {
  (void)lpThreadAttributes;
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto block = std::make_unique<platform::StartBlock>();
  block->start = lpStartAddress;
  block->parameter = lpParameter;
  return platform::startThread(dwStackSize, std::move(block), dwCreationFlags, lpThreadId);
}

uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*), void* arglist,
                         unsigned initflag, unsigned* thrdaddr) {
  (void)security;
  if (!start_address) {
    errno = EINVAL;
    return 0;
  }
  auto block = std::make_unique<platform::StartBlock>();
  block->crtStart = start_address;
  block->parameter = arglist;
  DWORD id = 0;
  HANDLE handle = platform::startThread(stack_size, std::move(block), initflag, &id);
  if (!handle) {
    errno = EAGAIN;
    return 0;
  }
  if (thrdaddr) *thrdaddr = id;
  return reinterpret_cast<uintptr_t>(handle);
}

void WINAPI ExitThread(DWORD dwExitCode) {
  platform::ThreadControl& self = platform::current();
  std::unique_lock<std::mutex> lock(platform::kernelMutex());
  platform::exitCurrentThread(self, dwExitCode);
}

void _endthreadex(unsigned retval) { ExitThread(retval); }

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  auto object = platform::objectOf<ThreadObject>(hThread);
  if (!object) return FALSE;
  platform::ThreadControl& target = object->control();
  if (&target == &platform::current()) ExitThread(dwExitCode);  // at once
  {
    std::lock_guard<std::mutex> guard(platform::kernelMutex());
    if (object->finished() || target.ended) return TRUE;
    if (!target.stopRequested) {
      target.stopRequested = true;
      target.stopCode = dwExitCode;
    }
    target.wake.notify_all();
    for (platform::StopWakeHook* hook : target.hooks) (*hook)();
  }
  // Returns once the target has stopped; a target that reaches no wait point within
  // the grace period stops later, at its next one (see waitpoint.h).
  platform::waitForObjects({object}, false, platform::g_graceMilliseconds.load());
  return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto object = platform::referenceHandleAs<ThreadObject>(hThread);
  if (!object || !lpExitCode) {
    SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(platform::kernelMutex());
  *lpExitCode = object->exitCode();
  return TRUE;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  auto object = platform::objectOf<ThreadObject>(hThread);
  if (!object) return static_cast<DWORD>(-1);
  std::lock_guard<std::mutex> guard(platform::kernelMutex());
  const DWORD previous = object->suspendCount;
  if (previous > 0 && --object->suspendCount == 0) object->control().wake.notify_all();
  return previous;
}

DWORD WINAPI GetThreadId(HANDLE Thread) {
  auto object = platform::objectOf<ThreadObject>(Thread);
  if (!object) return 0;
  return object->control().id;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    platform::waitPoint();
    sched_yield();
    return;
  }
  platform::waitForObjects({}, false, dwMilliseconds);
}

// Nothing queues user APCs in this layer, so an alertable sleep always runs its time.
DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
  (void)bAlertable;
  Sleep(dwMilliseconds);
  return 0;
}

DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
                                      BOOL bAlertable) {
  (void)bAlertable;
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<platform::Waitable>> objects;
  objects.reserve(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    auto object = platform::referenceHandleAs<platform::Waitable>(lpHandles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  return platform::waitForObjects(objects, bWaitAll != FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

}  // extern "C"
