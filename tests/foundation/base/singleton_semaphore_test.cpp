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
  std::atomic<bool> entered{false};
  std::thread second([&] {
    EXPECT_EQ(guard.acquire(), VSingletonSemaphore::kOk);
    entered = true;
    EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  });
  Sleep(50);
  EXPECT_FALSE(entered.load());
  EXPECT_EQ(guard.release(), VSingletonSemaphore::kOk);
  second.join();
  EXPECT_TRUE(entered.load());
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
