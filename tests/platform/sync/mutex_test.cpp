// Mutexes within one process: ownership, recursion, abandonment.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

// What another thread gets from a wait on the mutex with the given time-out (it releases what it took).
DWORD waitFromOtherThread(HANDLE mutex, DWORD ms) {
  std::atomic<DWORD> result{0xFFFF};
  Handle t = thrtest::startThread([&] {
    DWORD r = WaitForSingleObject(mutex, ms);
    result = r;
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ReleaseMutex(mutex);
    return DWORD{0};
  });
  WaitForSingleObject(t.get(), kLong);
  return result;
}

TEST(Mutexes, OwnershipIsRecursiveAndOnlyTheOwnerReleases) {
  Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);  // owned twice now
  EXPECT_EQ(waitFromOtherThread(mutex.get(), 20), WAIT_TIMEOUT);

  // Another thread cannot release it.
  std::atomic<DWORD> error{0};
  Handle t = thrtest::startThread([&] {
    SetLastError(0);
    BOOL ok = ReleaseMutex(mutex.get());
    error = GetLastError();
    return DWORD(ok);
  });
  ASSERT_EQ(WaitForSingleObject(t.get(), kLong), WAIT_OBJECT_0);
  DWORD ok = 9;
  GetExitCodeThread(t.get(), &ok);
  EXPECT_EQ(ok, 0u);
  EXPECT_EQ(error.load(), static_cast<DWORD>(ERROR_NOT_OWNER));

  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  EXPECT_EQ(waitFromOtherThread(mutex.get(), 20), WAIT_TIMEOUT);  // still owned once
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  EXPECT_EQ(waitFromOtherThread(mutex.get(), kLong), WAIT_OBJECT_0);
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(mutex.get()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
}

TEST(Mutexes, WaiterGetsTheMutexWhenTheOwnerReleasesIt) {
  Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
  Handle releaser = thrtest::startThread([] { return DWORD{0}; });
  std::atomic<DWORD> result{0xFFFF};
  Handle waiter = thrtest::startThread([&] {
    result = WaitForSingleObject(mutex.get(), INFINITE);
    ReleaseMutex(mutex.get());
    return DWORD{0};
  });
  EXPECT_EQ(WaitForSingleObject(waiter.get(), 30), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
}

TEST(Mutexes, OwnerEndingWithoutReleaseAbandonsItOnce) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  Handle owner = thrtest::startThread([&] {
    WaitForSingleObject(mutex.get(), 0);
    WaitForSingleObject(mutex.get(), 0);  // owned twice, released never
    return DWORD{0};
  });
  ASSERT_EQ(WaitForSingleObject(owner.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  EXPECT_FALSE(ReleaseMutex(mutex.get()));  // the new owner holds it once
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

TEST(Mutexes, AbandonedIndexInWaitForMultipleObjects) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  Handle ready(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  Handle owner = thrtest::startThread([&] { return WaitForSingleObject(mutex.get(), 0); });
  ASSERT_EQ(WaitForSingleObject(owner.get(), kLong), WAIT_OBJECT_0);
  HANDLE both[] = {ready.get(), mutex.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_ABANDONED_0 + 1);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex.get()));
}

// A wait for all that cannot take everything must not keep the mutex it could take.
TEST(Mutexes, FailedWaitForAllLeavesTheMutexFree) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  Handle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  HANDLE both[] = {mutex.get(), never.get()};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_FALSE(ReleaseMutex(mutex.get()));
  EXPECT_EQ(waitFromOtherThread(mutex.get(), 0), WAIT_OBJECT_0);
}

TEST(Mutexes, ClosingTheOnlyHandleWhileAnotherThreadWaitsIsSafe) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
  std::atomic<bool> waiting{false};
  std::atomic<DWORD> result{0xFFFF};
  Handle waiter = thrtest::startThread([&] {
    waiting = true;
    result = WaitForSingleObject(mutex, 200);
    return DWORD{0};
  });
  ASSERT_TRUE(thrtest::eventually([&] { return waiting.load(); }));
  EXPECT_TRUE(CloseHandle(mutex));  // still owned by this thread, through no handle
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(result == WAIT_TIMEOUT || result == WAIT_FAILED) << result;
}

}  // namespace
