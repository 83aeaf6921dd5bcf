#include "foundation/base/VSingletonSemaphore.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace {

TEST(VSingletonSemaphore, ReleaseBeforeAnyUseFindsNoSemaphore) {
  VSingletonSemaphore guard;
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kNoSemaphore);
}

TEST(VSingletonSemaphore, AcquireMakesItAndASecondReleaseFails) {
  VSingletonSemaphore guard;
  EXPECT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kFailed);  // the count is at its maximum
  guard.close();
}

TEST(VSingletonSemaphore, AdmitsOneHolderAtATime) {
  VSingletonSemaphore guard;
  ASSERT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
  HANDLE asking = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(asking, nullptr);
  std::atomic<bool> released{false};
  bool enteredAfterRelease = false;
  std::thread second([&] {
    SetEvent(asking);
    EXPECT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
    // The second holder gets in only once the first has given the guard back.
    enteredAfterRelease = released.load();
    EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  });
  ASSERT_EQ(WaitForSingleObject(asking, INFINITE), WAIT_OBJECT_0);
  released = true;
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  second.join();
  EXPECT_TRUE(enteredAfterRelease);
  CloseHandle(asking);
  guard.close();
}

TEST(VSingletonSemaphore, CloseEndsItAndTheNextUseMakesANewOne) {
  VSingletonSemaphore guard;
  ASSERT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
  guard.close();
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kNoSemaphore);
  EXPECT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  guard.close();
}

TEST(VSingletonSemaphore, MadeOnceStaysClosed) {
  VSingletonSemaphore guard(VSingletonSemaphore::kMadeOnce);
  ASSERT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  guard.close();
  EXPECT_EQ(guard.acquire(), VSingletonSemaphore::kNoSemaphore);
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kNoSemaphore);
}

}  // namespace
