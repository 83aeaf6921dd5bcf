// TerminateThread as a cooperative stop at the layer's wait points.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/handles.h"
#include "platform/waitpoint.h"
#include "quarvel_test.h"
#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

bool threadGone(DWORD id) {
  struct stat st;
  return stat(("/proc/self/task/" + std::to_string(id)).c_str(), &st) != 0;
}

struct StackObject {
  std::atomic<int>& destroyed;
  ~StackObject() { ++destroyed; }
};

// Every wait point of the layer: the thread reaches it and blocks there for good.
struct WaitPointCase {
  const char* name;
  void (*block)(HANDLE neverSet);
} const kWaitPoints[] = {
    {"Sleep", [](HANDLE) { Sleep(INFINITE); }},
    {"SleepLoop", [](HANDLE) { for (;;) Sleep(1); }},
    {"SleepZeroLoop", [](HANDLE) { for (;;) Sleep(0); }},
    {"SleepEx", [](HANDLE) { SleepEx(INFINITE, TRUE); }},
    {"WaitForSingleObject", [](HANDLE event) { WaitForSingleObject(event, INFINITE); }},
    {"WaitForSingleObjectTimeout", [](HANDLE event) { for (;;) WaitForSingleObject(event, 5); }},
    {"WaitForMultipleObjectsAll",
     [](HANDLE event) {
       HANDLE both[] = {event, GetCurrentThread()};
       WaitForMultipleObjects(2, both, TRUE, INFINITE);
     }},
};

TEST(TerminateThread, StopsAThreadAtEachWaitPointUnwindingItsStack) {
  for (const WaitPointCase& c : kWaitPoints) {
    SCOPED_TRACE(c.name);
    Handle neverSet(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> destroyed{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> returned{false};
    DWORD id = 0;
    Handle thread = thrtest::startThread(
        [&] {
          StackObject outer{destroyed};
          {
            StackObject inner{destroyed};
            inside = true;
            c.block(neverSet.get());
          }
          returned = true;
          return DWORD{0};
        },
        0, &id);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));

    ASSERT_TRUE(TerminateThread(thread.get(), 42));
    // TerminateThread returns after the stop: the stack is unwound, the handle signalled.
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_FALSE(returned);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(thrtest::eventually([&] { return threadGone(id); }));
  }
}

// The same stop in a process of its own, which must then end normally: its exit code is
// the stopped thread's, or 1 when a check failed.
QUARVEL_CHILD(terminate_sleeping_thread) {
  std::atomic<int> destroyed{0};
  std::atomic<bool> inside{false};
  HANDLE thread = thrtest::startThread([&] {
    StackObject object{destroyed};
    inside = true;
    Sleep(INFINITE);
    return DWORD{0};
  }).release();
  if (!thread || !thrtest::eventually([&] { return inside.load(); })) return 1;
  if (!TerminateThread(thread, 42) || destroyed != 1) return 1;
  if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return 1;
  DWORD code = 0;
  if (!GetExitCodeThread(thread, &code) || !CloseHandle(thread)) return 1;
  return static_cast<int>(code);
}

TEST(TerminateThread, InAChildProcessThatThenExits) {
  EXPECT_EQ(quarveltest::runChild("terminate_sleeping_thread"), 42);
}

TEST(TerminateThread, OfTheCallingThreadEndsItAtOnce) {
  std::atomic<int> destroyed{0};
  std::atomic<bool> after{false};
  Handle thread = thrtest::startThread([&] {
    StackObject object{destroyed};
    TerminateThread(GetCurrentThread(), 7);
    after = true;
    return DWORD{0};
  });
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(after);
}

DWORD WINAPI neverRuns(LPVOID ran) {
  *static_cast<std::atomic<bool>*>(ran) = true;
  return 0;
}

TEST(TerminateThread, OfASuspendedThreadEndsItBeforeItRan) {
  std::atomic<bool> ran{false};
  Handle thread(CreateThread(nullptr, 0, neverRuns, &ran, CREATE_SUSPENDED, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_TRUE(TerminateThread(thread.get(), 5));
  EXPECT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 5u);
  EXPECT_FALSE(ran);
}

TEST(TerminateThread, OfAnEndedThreadKeepsItsExitCode) {
  Handle thread = thrtest::startThread([] { return DWORD{3}; });
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(TerminateThread(thread.get(), 99));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 3u);
}

// A thread that reaches no wait point cannot be stopped: TerminateThread gives up
// waiting after the grace period, and the thread stops at its next wait point.
TEST(TerminateThread, OfABusyThreadReturnsAndTheStopWaitsForTheNextWaitPoint) {
  platform::setTerminateGracePeriod(100);
  std::atomic<bool> busy{true};
  std::atomic<bool> inside{false};
  std::atomic<int> destroyed{0};
  Handle thread = thrtest::startThread([&] {
    StackObject object{destroyed};
    inside = true;
    while (busy) {
    }
    Sleep(INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));
  EXPECT_TRUE(TerminateThread(thread.get(), 11));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  busy = false;
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 11u);
  EXPECT_EQ(destroyed.load(), 1);
  platform::setTerminateGracePeriod(5000);
}

TEST(TerminateThread, ClosingTheHandleAfterwardsIsClean) {
  std::atomic<bool> inside{false};
  Handle thread = thrtest::startThread([&] {
    inside = true;
    Sleep(INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));
  HANDLE raw = thread.release();
  ASSERT_TRUE(TerminateThread(raw, 1));
  EXPECT_TRUE(CloseHandle(raw));
  SetLastError(0);
  EXPECT_FALSE(TerminateThread(raw, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The stop unwinds like an exception that cannot be swallowed: a handler that rethrows sees it.
TEST(TerminateThread, CatchAllHandlerThatRethrowsSeesTheStop) {
  std::atomic<bool> inside{false}, cleaned{false};
  Handle thread = thrtest::startThread([&] {
    try {
      inside = true;
      Sleep(INFINITE);
    } catch (...) {
      cleaned = true;
      throw;
    }
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));
  ASSERT_TRUE(TerminateThread(thread.get(), 4));
  EXPECT_TRUE(cleaned);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 4u);
}

// A stop cannot begin while an exception unwinds the thread (two unwinds end the
// process): the waits in a destructor run normally, the stop comes at the next wait point.
TEST(TerminateThread, WaitsInDestructorsDuringAnExceptionDoNotStopTheThread) {
  platform::setTerminateGracePeriod(50);
  std::atomic<bool> inDestructor{false}, release{false}, caught{false};
  Handle thread = thrtest::startThread([&] {
    try {
      struct Slow {
        std::atomic<bool>& in;
        std::atomic<bool>& go;
        ~Slow() {
          in = true;
          while (!go) Sleep(1);
        }
      } slow{inDestructor, release};
      throw 1;
    } catch (int) {
      caught = true;
    }
    Sleep(INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inDestructor.load(); }));
  EXPECT_TRUE(TerminateThread(thread.get(), 6));
  release = true;
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(caught);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 6u);
  platform::setTerminateGracePeriod(5000);
}

// A stopped thread that owned a mutex leaves it abandoned, not locked for ever.
TEST(TerminateThread, MutexOwnedByTheStoppedThreadIsAbandoned) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  std::atomic<bool> inside{false};
  Handle thread = thrtest::startThread([&] {
    WaitForSingleObject(mutex.get(), INFINITE);
    inside = true;
    Sleep(INFINITE);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_TIMEOUT);
  ASSERT_TRUE(TerminateThread(thread.get(), 1));
  EXPECT_EQ(WaitForSingleObject(mutex.get(), kLong), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

// The hook another layer keeps around a blocking wait of its own (the message waits).
TEST(TerminateThread, StopWakeHookWakesAForeignWaitThatThenReachesTheWaitPoint) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::atomic<bool> inside{false};
  std::atomic<int> destroyed{0};
  Handle thread = thrtest::startThread([&] {
    StackObject object{destroyed};
    platform::StopWakeHook hook([&] {
      char byte = 1;
      (void)!write(fds[1], &byte, 1);
    });
    inside = true;
    for (;;) {
      platform::waitPoint();
      char byte;
      if (read(fds[0], &byte, 1) != 1) break;
    }
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return inside.load(); }));
  ASSERT_TRUE(TerminateThread(thread.get(), 8));
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 8u);
  EXPECT_EQ(destroyed.load(), 1);
  close(fds[0]);
  close(fds[1]);
}

// Two threads that stop each other: the one waiting in TerminateThread is at a wait point too.
TEST(TerminateThread, ThreadsStoppingEachOtherBothEnd) {
  std::atomic<HANDLE> handles[2] = {{nullptr}, {nullptr}};
  std::atomic<int> arrived{0};
  auto body = [&](int self) {
    return [&, self] {
      // Both must be past every wait point before either stops the other.
      ++arrived;
      while (arrived < 2 || !handles[1 - self].load()) {
      }
      TerminateThread(handles[1 - self].load(), 100 + self);
      Sleep(INFINITE);
      return DWORD{0};
    };
  };
  Handle a = thrtest::startThread(body(0));
  Handle b = thrtest::startThread(body(1));
  handles[0] = a.get();
  handles[1] = b.get();
  HANDLE both[] = {a.get(), b.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, kLong), WAIT_OBJECT_0);
  for (HANDLE h : both) {
    DWORD code = 0;
    GetExitCodeThread(h, &code);
    EXPECT_TRUE(code == 100 || code == 101) << code;
  }
}

}  // namespace
