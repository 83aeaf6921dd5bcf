#include "foundation/base/VSingleton.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

// A process-wide object of the kind the factories are: its destructor forgets it.
struct Counted;
VOQ::VSingleton<Counted> g_singleton;
std::atomic<int> g_made{0};
std::atomic<int> g_deleted{0};
bool g_lockSucceeds = true;
bool g_unlockSucceeds = true;
std::atomic<int> g_locked{0};  // held locks, checked by the unlock

struct Counted {
  Counted() { ++g_made; }
  ~Counted() {
    ++g_deleted;
    g_singleton.forget(this);
  }
};

bool lock() {
  if (!g_lockSucceeds) return false;
  if (g_singleton.semaphore().acquire() != VSingletonSemaphore::kOk) return false;
  ++g_locked;
  return true;
}

bool unlock() {
  --g_locked;
  return g_singleton.semaphore().release() == VSingletonSemaphore::kOk && g_unlockSucceeds;
}

std::unique_ptr<Counted> make() { return std::make_unique<Counted>(); }

class Singleton : public testing::Test {
 protected:
  void SetUp() override {
    g_made = 0;
    g_deleted = 0;
    g_lockSucceeds = true;
    g_unlockSucceeds = true;
  }
  void TearDown() override {
    delete g_singleton.get();
    EXPECT_EQ(g_locked.load(), 0);
  }
};

TEST_F(Singleton, ThreadsThatAskAtOnceShareOneInstance) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(go, nullptr);
  constexpr int kThreads = 8;
  std::vector<Counted*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      WaitForSingleObject(go, INFINITE);
      seen[i] = g_singleton.getOrMake(&lock, &unlock, &make);
    });
  SetEvent(go);
  for (auto& thread : threads) thread.join();
  CloseHandle(go);
  EXPECT_EQ(g_made.load(), 1);
  ASSERT_NE(seen[0], nullptr);
  for (Counted* instance : seen) EXPECT_EQ(instance, seen[0]);
  EXPECT_EQ(g_singleton.get(), seen[0]);
}

TEST_F(Singleton, AnExistingInstanceIsReturnedWithoutTheLock) {
  Counted* first = g_singleton.getOrMake(&lock, &unlock, &make);
  g_lockSucceeds = false;
  EXPECT_EQ(g_singleton.getOrMake(&lock, &unlock, &make), first);
  EXPECT_EQ(g_made.load(), 1);
}

TEST_F(Singleton, FailuresOfTheLockAndOfMaking) {
  // A lock that fails: nothing is made.
  g_lockSucceeds = false;
  EXPECT_EQ(g_singleton.getOrMake(&lock, &unlock, &make), nullptr);
  EXPECT_EQ(g_made.load(), 0);
  g_lockSucceeds = true;

  // An unlock that fails: the instance just made goes again and is forgotten.
  g_unlockSucceeds = false;
  EXPECT_EQ(g_singleton.getOrMake(&lock, &unlock, &make), nullptr);
  EXPECT_EQ(g_made.load(), 1);
  EXPECT_EQ(g_deleted.load(), 1);
  EXPECT_EQ(g_singleton.get(), nullptr);
  g_unlockSucceeds = true;

  // make() gives nothing: still none, and the next call tries again.
  EXPECT_EQ(g_singleton.getOrMake(&lock, &unlock, [] { return std::unique_ptr<Counted>(); }), nullptr);
  // make() throws: the exception reaches the caller with the lock given back.
  EXPECT_THROW(g_singleton.getOrMake(&lock, &unlock,
                                     []() -> std::unique_ptr<Counted> { throw std::runtime_error("no"); }),
               std::runtime_error);
  EXPECT_EQ(g_locked.load(), 0);
  EXPECT_NE(g_singleton.getOrMake(&lock, &unlock, &make), nullptr);
  EXPECT_EQ(g_made.load(), 2);
}

// The factories' own lock functions throw their own exceptions.
void throwingLock() { throw std::logic_error("Semaphore hat falschen Wert."); }
void quietUnlock() {}

TEST_F(Singleton, ALockThatThrowsReachesTheCaller) {
  EXPECT_THROW(g_singleton.getOrMake(&throwingLock, &quietUnlock, &make), std::logic_error);
  EXPECT_EQ(g_made.load(), 0);
}

TEST_F(Singleton, ForgetOnlyTheCurrentInstance) {
  Counted other;  // not the singleton's: its end leaves the singleton alone
  Counted* current = g_singleton.getOrMake(&lock, &unlock, &make);
  EXPECT_FALSE(g_singleton.forget(&other));
  EXPECT_EQ(g_singleton.get(), current);
}

}  // namespace
