// Events, semaphores, critical sections and the waits on several objects.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/handles.h"
#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

Handle event(bool manual, bool set) { return Handle(CreateEventA(nullptr, manual, set, nullptr)); }
Handle semaphore(LONG initial, LONG maximum) { return Handle(CreateSemaphoreA(nullptr, initial, maximum, nullptr)); }

// The count of a semaphore: taken to zero and given back.
LONG countOf(HANDLE s) {
  LONG n = 0;
  while (WaitForSingleObject(s, 0) == WAIT_OBJECT_0) ++n;
  if (n > 0) {
    EXPECT_TRUE(ReleaseSemaphore(s, n, nullptr));
  }
  return n;
}

TEST(Events, StatesAfterCreateSetResetAndWait) {
  struct Case {
    bool manual, initial;
    DWORD firstWait, secondWait;
  } const cases[] = {
      {true, true, WAIT_OBJECT_0, WAIT_OBJECT_0},   // manual stays set
      {false, true, WAIT_OBJECT_0, WAIT_TIMEOUT},   // auto resets on the wait
      {true, false, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {false, false, WAIT_TIMEOUT, WAIT_TIMEOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
    Handle e = event(c.manual, c.initial);
    ASSERT_TRUE(e);
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), c.firstWait);
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), c.secondWait);
    EXPECT_TRUE(SetEvent(e.get()));
    EXPECT_TRUE(SetEvent(e.get()));  // setting twice does not count twice
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), c.manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    EXPECT_TRUE(ResetEvent(e.get()));
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);
  }
}

TEST(Events, NamedEventsAreRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Quarvel.Event"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

// Starts `count` threads that each wait once on `object`; `woken` counts those that got it.
std::vector<Handle> startWaiters(HANDLE object, int count, std::atomic<int>& woken, std::atomic<int>& waiting) {
  std::vector<Handle> threads;
  for (int i = 0; i < count; ++i)
    threads.push_back(thrtest::startThread([object, &woken, &waiting] {
      ++waiting;
      if (WaitForSingleObject(object, INFINITE) == WAIT_OBJECT_0) ++woken;
      return DWORD{0};
    }));
  return threads;
}

// Waits (bounded) until `count` waits are blocked on the object.
bool blockedOn(HANDLE object, size_t count) {
  auto waitable = platform::referenceHandleAs<platform::Waitable>(object);
  return waitable && thrtest::eventually([&] { return platform::waiterCount(waitable) == count; });
}

int endedCount(const std::vector<Handle>& threads) {
  int n = 0;
  for (auto& t : threads) n += WaitForSingleObject(t.get(), 0) == WAIT_OBJECT_0;
  return n;
}

TEST(Events, AutoResetEventWakesExactlyOneWaiterPerSet) {
  Handle e = event(false, false);
  std::atomic<int> woken{0}, waiting{0};
  std::vector<Handle> threads = startWaiters(e.get(), 4, woken, waiting);
  ASSERT_TRUE(blockedOn(e.get(), 4));

  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(SetEvent(e.get()));
    ASSERT_TRUE(thrtest::eventually([&] { return endedCount(threads) == round; }));
    // The one set was taken by one thread: the event is clear again and no other thread left.
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);
    // The others still wait on the event.
    ASSERT_TRUE(blockedOn(e.get(), static_cast<size_t>(4 - round)));
    EXPECT_EQ(endedCount(threads), round);
    EXPECT_EQ(woken.load(), round);
  }
}

TEST(Events, ManualResetEventWakesEveryWaiter) {
  Handle e = event(true, false);
  std::atomic<int> woken{0}, waiting{0};
  std::vector<Handle> threads = startWaiters(e.get(), 4, woken, waiting);
  ASSERT_TRUE(thrtest::eventually([&] { return waiting == 4; }));
  ASSERT_TRUE(SetEvent(e.get()));
  for (auto& t : threads) EXPECT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(woken.load(), 4);
}

TEST(Events, PulseReleasesOnlyTheThreadsWaitingNow) {
  struct Case {
    bool manual;
    int released;
  } const cases[] = {{true, 3}, {false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manual ? "manual" : "auto");
    Handle e = event(c.manual, false);
    // Nobody waits: the pulse leaves nothing behind.
    EXPECT_TRUE(PulseEvent(e.get()));
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);

    std::atomic<int> woken{0}, waiting{0};
    std::vector<Handle> threads = startWaiters(e.get(), 3, woken, waiting);
    ASSERT_TRUE(blockedOn(e.get(), 3));
    EXPECT_TRUE(PulseEvent(e.get()));
    ASSERT_TRUE(thrtest::eventually([&] { return endedCount(threads) == c.released; }));
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);
    // The rest still waits and goes with ordinary sets.
    ASSERT_TRUE(blockedOn(e.get(), static_cast<size_t>(3 - c.released)));
    EXPECT_EQ(endedCount(threads), c.released);
    for (int i = c.released; i < 3; ++i) {
      SetEvent(e.get());  // one at a time: an auto-reset event does not count sets
      ASSERT_TRUE(thrtest::eventually([&] { return endedCount(threads) == i + 1; }));
    }
    for (auto& t : threads) EXPECT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
    EXPECT_EQ(woken.load(), 3);
  }
}

// A pulse takes for a waiter everything its wait needs, or nothing.
TEST(Events, PulseGivesAWaitForAllEverythingOrNothing) {
  Handle e = event(true, false);
  Handle s = semaphore(0, 1);
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  std::atomic<DWORD> result{0xFFFF};
  std::atomic<BOOL> released{FALSE};
  Handle go = event(true, false);
  Handle waiter = thrtest::startThread([&] {
    HANDLE all[] = {e.get(), s.get(), mutex.get()};
    result = WaitForMultipleObjects(3, all, TRUE, INFINITE);
    released = ReleaseMutex(mutex.get());  // the pulse took it for this thread
    WaitForSingleObject(mutex.get(), 0);
    WaitForSingleObject(go.get(), INFINITE);
    return DWORD{0};  // ends owning the mutex
  });
  ASSERT_TRUE(blockedOn(e.get(), 1));
  EXPECT_TRUE(PulseEvent(e.get()));  // the semaphore is empty: nothing is taken
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  EXPECT_TRUE(ReleaseSemaphore(s.get(), 1, nullptr));
  ASSERT_TRUE(blockedOn(e.get(), 1));
  EXPECT_EQ(result.load(), 0xFFFFu);

  EXPECT_TRUE(PulseEvent(e.get()));
  ASSERT_TRUE(thrtest::eventually([&] { return result.load() != 0xFFFFu; }));
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s.get(), 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);
  // The ownership went to the waiter, and its end abandons the mutex.
  SetEvent(go.get());
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(released);
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Semaphores, CreateRefusesImpossibleCounts) {
  struct Case {
    LONG initial, maximum;
    bool ok;
  } const cases[] = {
      {0, 1, true}, {1, 1, true}, {5, 10, true}, {0, 0x7FFFFFFF, true},
      {2, 1, false}, {-1, 1, false}, {0, 0, false}, {0, -5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.maximum);
    SetLastError(0);
    Handle s = semaphore(c.initial, c.maximum);
    EXPECT_EQ(bool(s), c.ok);
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
  }
}

TEST(Semaphores, ReleaseBeyondTheMaximumFailsAndChangesNothing) {
  Handle s = semaphore(1, 3);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s.get(), 1, &previous));
  EXPECT_EQ(previous, 1);
  previous = -1;
  SetLastError(0);
  EXPECT_FALSE(ReleaseSemaphore(s.get(), 2, &previous));  // 2 + 2 > 3
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
  EXPECT_EQ(previous, -1);
  EXPECT_TRUE(ReleaseSemaphore(s.get(), 1, &previous));
  EXPECT_EQ(previous, 2);
  EXPECT_FALSE(ReleaseSemaphore(s.get(), 1, nullptr));  // at 3 of 3
  // A count near the limit of LONG must not overflow into acceptance.
  Handle big = semaphore(1, 0x7FFFFFFF);
  EXPECT_FALSE(ReleaseSemaphore(big.get(), 0x7FFFFFFF, nullptr));
  for (LONG bad : {0, -1}) {
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(s.get(), bad, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  // Three waits take the three counts, the fourth times out.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(s.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s.get(), 0), WAIT_TIMEOUT);
}

// The factory lock of the card layer: count 1, maximum 1, taken and given back by many threads.
TEST(Semaphores, AsALockItAdmitsOneThreadAtATime) {
  Handle s = semaphore(1, 1);
  std::atomic<int> inside{0}, maxInside{0}, passes{0};
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i)
    threads.push_back(thrtest::startThread([&] {
      for (int n = 0; n < 200; ++n) {
        if (WaitForSingleObject(s.get(), INFINITE) != WAIT_OBJECT_0) return DWORD{1};
        int now = ++inside;
        int seen = maxInside;
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        ++passes;
        --inside;
        if (!ReleaseSemaphore(s.get(), 1, nullptr)) return DWORD{2};
      }
      return DWORD{0};
    }));
  for (auto& t : threads) {
    ASSERT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
    DWORD code = 9;
    GetExitCodeThread(t.get(), &code);
    EXPECT_EQ(code, 0u);
  }
  EXPECT_EQ(maxInside.load(), 1);
  EXPECT_EQ(passes.load(), 800);
}

TEST(WaitForMultipleObjects, AnyReturnsTheLowestSignalledIndex) {
  Handle a = event(true, false), b = event(true, true), c = event(true, true);
  HANDLE all[] = {a.get(), b.get(), c.get()};
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
  ResetEvent(b.get());
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  ResetEvent(c.get());
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 30), WAIT_TIMEOUT);
}

TEST(WaitForMultipleObjects, AnyTakesOnlyTheObjectItReturns) {
  Handle s1 = semaphore(1, 1), s2 = semaphore(1, 1);
  HANDLE both[] = {s1.get(), s2.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(countOf(s1.get()), 0);
  EXPECT_EQ(countOf(s2.get()), 1);
}

TEST(WaitForMultipleObjects, AllWaitsForEveryObjectAndTakesThemTogether) {
  Handle s = semaphore(1, 1), autoEvent = event(false, true), manual = event(true, false);
  HANDLE all[] = {s.get(), autoEvent.get(), manual.get()};
  // Not all signalled: nothing is taken.
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(countOf(s.get()), 1);
  EXPECT_EQ(WaitForSingleObject(autoEvent.get(), 0), WAIT_OBJECT_0);
  SetEvent(autoEvent.get());

  // Signalled by another thread while the wait blocks.
  Handle setter = thrtest::startThread([&] {
    Sleep(30);
    SetEvent(manual.get());
    return DWORD{0};
  });
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(countOf(s.get()), 0);
  EXPECT_EQ(WaitForSingleObject(autoEvent.get(), 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
}

TEST(WaitForMultipleObjects, AllOnThreadsReturnsWhenEveryThreadEnded) {
  Handle go = event(true, false);
  std::vector<Handle> threads;
  std::vector<HANDLE> raw;
  for (DWORD i = 0; i < 3; ++i) {
    threads.push_back(thrtest::startThread([&go, i] {
      WaitForSingleObject(go.get(), INFINITE);
      Sleep(10 * i);
      return i;
    }));
    raw.push_back(threads.back().get());
  }
  EXPECT_EQ(WaitForMultipleObjects(3, raw.data(), TRUE, 0), WAIT_TIMEOUT);
  SetEvent(go.get());
  EXPECT_EQ(WaitForMultipleObjects(3, raw.data(), TRUE, kLong), WAIT_OBJECT_0);
  for (DWORD i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(raw[i], 0), WAIT_OBJECT_0);
}

TEST(WaitForMultipleObjects, BadArgumentsFail) {
  Handle a = event(true, true);
  HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, a.get());
  HANDLE twice[] = {a.get(), a.get()};
  HANDLE oneBad[] = {a.get(), closed};
  struct Case {
    const char* name;
    DWORD count;
    const HANDLE* handles;
    BOOL all;
    DWORD error;
  } const cases[] = {
      {"no handles", 0, twice, FALSE, ERROR_INVALID_PARAMETER},
      {"null array", 1, nullptr, FALSE, ERROR_INVALID_PARAMETER},
      {"too many", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE, ERROR_INVALID_PARAMETER},
      {"same object twice, all", 2, twice, TRUE, ERROR_INVALID_PARAMETER},
      {"one closed handle, any", 2, oneBad, FALSE, ERROR_INVALID_HANDLE},
      {"one closed handle, all", 2, oneBad, TRUE, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.all, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // The same object twice is fine for "any".
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);
}

TEST(CriticalSections, AreRecursiveAndExcludeOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));

  auto otherThreadEnters = [&] {
    Handle t = thrtest::startThread([&] {
      if (!TryEnterCriticalSection(&section)) return DWORD{0};
      LeaveCriticalSection(&section);
      return DWORD{1};
    });
    WaitForSingleObject(t.get(), kLong);
    DWORD code = 9;
    GetExitCodeThread(t.get(), &code);
    return code == 1;
  };
  for (int held = 3; held > 0; --held) {
    SCOPED_TRACE(held);
    EXPECT_FALSE(otherThreadEnters());
    LeaveCriticalSection(&section);
  }
  EXPECT_TRUE(otherThreadEnters());
  DeleteCriticalSection(&section);
}

// Leaving a section one does not hold must not release it for its owner.
TEST(CriticalSections, LeaveByANonOwnerDoesNotReleaseIt) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  Handle t = thrtest::startThread([&] {
    LeaveCriticalSection(&section);
    return DWORD(TryEnterCriticalSection(&section));
  });
  ASSERT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
  DWORD code = 9;
  GetExitCodeThread(t.get(), &code);
  EXPECT_EQ(code, 0u);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

TEST(CriticalSections, GuardSharedCountersUnderContention) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  long counter = 0;
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i)
    threads.push_back(thrtest::startThread([&] {
      for (int n = 0; n < 20000; ++n) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);
        ++counter;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
      return DWORD{0};
    }));
  for (auto& t : threads) ASSERT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(counter, 80000);
  DeleteCriticalSection(&section);
}

}  // namespace
