#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>
#include <dirent.h>
#include <pthread.h>

#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "quarvel_test.h"
#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

DWORD exitCodeOf(HANDLE thread) {
  DWORD code = 0xDEADBEEF;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

TEST(Threads, ExitCodeIsStillActiveWhileRunningThenTheReturnedValue) {
  Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle thread = thrtest::startThread([&] {
    WaitForSingleObject(go.get(), INFINITE);
    return DWORD{1234};
  });
  ASSERT_TRUE(thread);
  EXPECT_EQ(exitCodeOf(thread.get()), STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_TIMEOUT);
  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(thread.get()), 1234u);
  // An ended thread stays signalled for every later wait.
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
}

TEST(Threads, ThreadIdIsReportedToTheCreatorAndSeenByTheThread) {
  std::atomic<DWORD> seen{0};
  DWORD id = 0;
  Handle thread = thrtest::startThread(
      [&] {
        seen = GetCurrentThreadId();
        return DWORD{0};
      },
      0, &id);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(seen.load(), id);
  EXPECT_EQ(GetThreadId(thread.get()), id);
  EXPECT_NE(id, GetCurrentThreadId());
}

unsigned crtThread(void* parameter) {
  auto* counter = static_cast<std::atomic<int>*>(parameter);
  ++*counter;
  _endthreadex(77);
}

unsigned crtReturn(void* parameter) {
  ++*static_cast<std::atomic<int>*>(parameter);
  return 5;
}

TEST(Threads, BeginThreadExRunsAndEndThreadExSetsTheCode) {
  struct Case {
    unsigned (*start)(void*);
    DWORD code;
  } cases[] = {{crtThread, 77}, {crtReturn, 5}};
  for (const Case& c : cases) {
    std::atomic<int> counter{0};
    unsigned id = 0;
    uintptr_t raw = _beginthreadex(nullptr, 0, c.start, &counter, 0, &id);
    ASSERT_NE(raw, 0u);
    Handle thread(reinterpret_cast<HANDLE>(raw));
    EXPECT_NE(id, 0u);
    ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
    EXPECT_EQ(counter.load(), 1);
    EXPECT_EQ(exitCodeOf(thread.get()), c.code);
  }
}

TEST(Threads, ExitThreadEndsTheThreadAndRunsItsDestructors) {
  std::atomic<bool> destroyed{false};
  std::atomic<bool> after{false};
  Handle thread = thrtest::startThread([&] {
    struct Guard {
      std::atomic<bool>& flag;
      ~Guard() { flag = true; }
    } guard{destroyed};
    ExitThread(9);
    after = true;
    return DWORD{0};
  });
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(thread.get()), 9u);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(after);
}

// CloseHandle on a running thread only drops the handle: the thread runs on and ends normally.
TEST(Threads, ClosingTheHandleOfARunningThreadLetsItRunOn) {
  Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle thread = thrtest::startThread([&] {
    WaitForSingleObject(go.get(), INFINITE);
    SetEvent(done.get());
    return DWORD{0};
  });
  ASSERT_TRUE(CloseHandle(thread.release()));
  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(done.get(), kLong), WAIT_OBJECT_0);
}

// The fault the base classes had: the thread's handle closed while its owner waits on it.
TEST(Threads, ClosingAThreadHandleWhileAnotherThreadWaitsOnItIsSafe) {
  Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle worker = thrtest::startThread([&] {
    WaitForSingleObject(go.get(), INFINITE);
    return DWORD{3};
  });
  HANDLE raw = worker.release();
  std::atomic<DWORD> waited{0xFFFF};
  std::atomic<bool> waiting{false};
  Handle waiter = thrtest::startThread([&] {
    waiting = true;
    waited = WaitForSingleObject(raw, INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return waiting.load(); }));
  // Either the waiter is inside its wait or about to enter it; both must be clean.
  Sleep(20);
  ASSERT_TRUE(CloseHandle(raw));
  SetEvent(go.get());
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kLong), WAIT_OBJECT_0);
  // Inside the wait it saw the thread end; a wait begun after the close fails cleanly.
  EXPECT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_FAILED) << waited;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume) {
  std::atomic<bool> ran{false};
  Handle thread = thrtest::startThread(
      [&] {
        ran = true;
        return DWORD{0};
      },
      CREATE_SUSPENDED);
  ASSERT_TRUE(thread);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 50), WAIT_TIMEOUT);
  EXPECT_FALSE(ran);
  EXPECT_EQ(ResumeThread(thread.get()), 1u);
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ResumeThread(thread.get()), 0u);
}

TEST(Threads, StackSizeIsAtLeastWhatWasAsked) {
  struct Case {
    SIZE_T asked;
    size_t atLeast;
  } cases[] = {{4096, 4096}, {3u << 20, 3u << 20}};
  for (const Case& c : cases) {
    std::atomic<size_t> size{0};
    Handle thread = thrtest::startThread(
        [&] {
          pthread_attr_t attr;
          size_t s = 0;
          if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &s);
            pthread_attr_destroy(&attr);
          }
          size = s;
          return DWORD{0};
        },
        0, nullptr, c.asked);
    ASSERT_TRUE(thread) << c.asked;
    ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
    EXPECT_GE(size.load(), c.atLeast) << c.asked;
  }
}

TEST(Threads, CreateThreadWithoutStartRoutineFails) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
}

TEST(Threads, LastErrorBelongsToEachThread) {
  SetLastError(111);
  Handle thread = thrtest::startThread([] {
    DWORD initial = GetLastError();
    SetLastError(222);
    return initial;
  });
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(thread.get()), 0u);
  EXPECT_EQ(GetLastError(), 111u);
}

TEST(Time, SleepWaitsAtLeastItsTimeAndTicksRise) {
  const ULONGLONG before = GetTickCount64();
  Sleep(30);
  SleepEx(20, TRUE);
  const ULONGLONG after = GetTickCount64();
  EXPECT_GE(after - before, 49u);
  // GetTickCount is the low 32 bits of the same count: read after `after`, it is at
  // most a little ahead of them (the difference is taken modulo 2^32, as it wraps).
  const DWORD ahead = GetTickCount() - static_cast<DWORD>(after);
  EXPECT_LT(ahead, 60000u);
  Sleep(0);
  EXPECT_EQ(SleepEx(0, FALSE), 0u);
}

TEST(Identity, ProcessIdAndPseudoHandles) {
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  EXPECT_NE(GetCurrentThread(), nullptr);
  EXPECT_NE(GetCurrentProcess(), nullptr);
  // Pseudo handles need no closing, and closing them does no harm.
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));
  EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
}

TEST(Identity, DuplicateOfTheCurrentThreadPseudoHandleNamesTheThread) {
  std::atomic<HANDLE> duplicate{nullptr};
  Handle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle thread = thrtest::startThread([&] {
    HANDLE own = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &own, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
      duplicate = own;
    WaitForSingleObject(go.get(), INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return duplicate.load() != nullptr; }));
  Handle copy(duplicate.load());
  EXPECT_EQ(GetThreadId(copy.get()), GetThreadId(thread.get()));
  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
}

TEST(Interlocked, Table) {
  LONG volatile value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 10), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 3), 10);
  EXPECT_EQ(value, 13);
  EXPECT_EQ(InterlockedCompareExchange(&value, 20, 99), 13);  // no match: unchanged
  EXPECT_EQ(value, 13);
  EXPECT_EQ(InterlockedCompareExchange(&value, 20, 13), 13);
  EXPECT_EQ(value, 20);
  LONG volatile edge = 0x7FFFFFFF;
  EXPECT_EQ(InterlockedIncrement(&edge), static_cast<LONG>(0x80000000u));  // wraps like the hardware
}

TEST(Interlocked, ConcurrentIncrementsAllCount) {
  LONG volatile counter = 0;
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i)
    threads.push_back(thrtest::startThread([&] {
      for (int n = 0; n < 20000; ++n) InterlockedIncrement(&counter);
      return DWORD{0};
    }));
  for (auto& t : threads) ASSERT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(counter, 80000);
}

}  // namespace

namespace {

// Thread-local objects of other layers (a window queue) use the platform in their
// destructors, also on threads this layer did not start.
struct LateUser {
  HANDLE event = nullptr;
  DWORD id = 0;
  ~LateUser() {
    if (!event) return;
    Sleep(1);
    if (GetCurrentThreadId() == id) SetEvent(event);
  }
};
thread_local LateUser t_lateUser;

TEST(Threads, PlatformCallsFromThreadLocalDestructorsWork) {
  Handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread foreign([&] {
    t_lateUser.event = done.get();  // constructed before the platform knows this thread
    t_lateUser.id = GetCurrentThreadId();
    Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
    Sleep(1);
  });
  foreign.join();
  EXPECT_EQ(WaitForSingleObject(done.get(), 0), WAIT_OBJECT_0);
}

int tasksOfThisProcess() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

// Whatever the layer runs beside the threads it was asked for ends with them.
TEST(Threads, NoThreadOfTheLayerOutlivesTheThreadsItRuns) {
  const int before = tasksOfThisProcess();
  for (int round = 0; round < 3; ++round) {
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i) {
      threads.push_back(CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
        Sleep(5);
        return 7;
      }, nullptr, 0, nullptr));
      ASSERT_NE(threads.back(), nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, kLong), WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
      EXPECT_EQ(exitCodeOf(thread), 7u);
      CloseHandle(thread);
    }
    EXPECT_TRUE(quarveltest::eventually([&] { return tasksOfThisProcess() == before; }))
        << tasksOfThisProcess() << " threads, " << before << " before";
  }
}

}  // namespace
