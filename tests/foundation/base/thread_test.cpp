#include "foundation/base/VCriticalSection.h"
#include "foundation/base/VThread.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <windows.h>

namespace {

// A thread whose work the test supplies; it waits for itself in its destructor,
// as every subclass whose work uses its own members must.
class TestThread : public VThread {
 public:
  explicit TestThread(std::function<void(TestThread&)> work) : m_work(std::move(work)) {}
  ~TestThread() override { wait(INFINITE); }

  void OnEntryPoint() override {
    seenThreadId = GetCurrentThreadId();
    m_work(*this);
  }
  void OnThreadEnd() override {
    if (!m_endReported.exchange(true)) ended.set_value();
  }

  std::atomic<unsigned> seenThreadId{0};
  std::promise<void> ended;  // set when the first run ends

 private:
  std::atomic<bool> m_endReported{false};
  std::function<void(TestThread&)> m_work;
};

void untilStopped(TestThread& self) {
  while (!self.ShouldExit()) Sleep(1);
}

TEST(VThread, StartAndWait) {
  TestThread thread(untilStopped);
  std::future<void> ended = thread.ended.get_future();
  ASSERT_TRUE(thread.start());
  EXPECT_NE(thread.getHandle(), nullptr);
  unsigned id = thread.getThreadId();
  EXPECT_NE(id, 0u);

  EXPECT_TRUE(thread.wait(INFINITE));  // asks the loop to stop, then joins
  ended.get();
  EXPECT_EQ(thread.seenThreadId.load(), id);
  EXPECT_EQ(thread.getHandle(), nullptr);
  EXPECT_EQ(thread.getThreadId(), 0u);
  EXPECT_FALSE(thread.wait(INFINITE));  // nothing left to wait for
}

TEST(VThread, WaitTimesOutWhileTheWorkGoesOn) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  TestThread thread([released](TestThread&) { released.wait(); });
  ASSERT_TRUE(thread.start());
  EXPECT_FALSE(thread.wait(1));
  EXPECT_NE(thread.getHandle(), nullptr);  // still owned, still joinable
  EXPECT_TRUE(thread.ShouldExit());
  release.set_value();
  thread.wait(INFINITE);  // true or false, depending on whether the thread ended first
  EXPECT_EQ(thread.getHandle(), nullptr);
}

TEST(VThread, WaitAfterTheThreadEndedReturnsFalseAndJoins) {
  TestThread thread([](TestThread&) {});
  std::future<void> ended = thread.ended.get_future();
  ASSERT_TRUE(thread.start());
  ended.get();
  EXPECT_TRUE(thread.isFinished());
  EXPECT_FALSE(thread.wait(INFINITE));
  EXPECT_EQ(thread.getHandle(), nullptr);
}

TEST(VThread, FinishedThreadCanBeStartedAgainButNotARunningOne) {
  std::atomic<int> runs{0};
  TestThread thread([&runs](TestThread& self) {
    ++runs;
    untilStopped(self);
  });
  ASSERT_TRUE(thread.start());
  EXPECT_FALSE(thread.start());  // a second thread on the same object would share its state
  EXPECT_TRUE(thread.wait(INFINITE));
  ASSERT_TRUE(thread.start());
  EXPECT_FALSE(thread.ShouldExit());  // the stop request of the last run is gone
  EXPECT_TRUE(thread.wait(INFINITE));
  EXPECT_EQ(runs.load(), 2);
}

// Deletes itself when done and reports its destruction. The report is shared, so
// that it outlives both the object and the test's wait for it.
class SelfDeletingThread : public VThread {
 public:
  explicit SelfDeletingThread(std::shared_ptr<std::promise<void>> destroyed) : m_destroyed(std::move(destroyed)) {
    getOptions().set(kDeleteWhenDone);
  }
  ~SelfDeletingThread() override {
    std::shared_ptr<std::promise<void>> report = m_destroyed;
    report->set_value();
  }
  void OnEntryPoint() override {}

 private:
  std::shared_ptr<std::promise<void>> m_destroyed;
};

TEST(VThread, SelfDeletingThreadFreesItselfAndItsHandle) {
  // The work is empty, so the thread may end before start has returned; start
  // must never touch the object after the thread could have deleted it.
  for (int i = 0; i < 50; ++i) {
    auto destroyed = std::make_shared<std::promise<void>>();
    std::future<void> done = destroyed->get_future();
    auto* thread = new SelfDeletingThread(destroyed);  // owns itself once started
    ASSERT_TRUE(thread->start());
    done.get();
  }
}

TEST(VThread, TerminateStopsALoopingThread) {
  std::promise<void> looping;
  std::future<void> isLooping = looping.get_future();
  std::atomic<bool> passedTheLoop{false};
  TestThread thread([&](TestThread&) {
    looping.set_value();
    for (;;) Sleep(1);  // never asks ShouldExit
    passedTheLoop = true;
  });
  ASSERT_TRUE(thread.start());
  isLooping.get();
  EXPECT_TRUE(thread.terminate(7));
  EXPECT_EQ(thread.getHandle(), nullptr);
  EXPECT_FALSE(thread.wait(INFINITE));
  EXPECT_FALSE(thread.terminate(7));
  EXPECT_FALSE(passedTheLoop.load());
}

TEST(VCriticalSection, SameThreadEntersAgain) {
  VCriticalSection section;
  section.enter();
  section.enter();
  std::atomic<int> otherGotIn{-1};
  TestThread other([&](TestThread&) { otherGotIn = TryEnterCriticalSection(section.get()) ? 1 : 0; });
  ASSERT_TRUE(other.start());
  other.wait(INFINITE);
  EXPECT_EQ(otherGotIn.load(), 0);

  section.leave();  // still held once
  ASSERT_TRUE(other.start());
  other.wait(INFINITE);
  EXPECT_EQ(otherGotIn.load(), 0);

  section.leave();
  ASSERT_TRUE(other.start());
  other.wait(INFINITE);
  EXPECT_EQ(otherGotIn.load(), 1);
}

TEST(VCriticalSection, ExcludesOtherThreads) {
  VCriticalSection section;
  long counter = 0;  // deliberately not atomic: the section alone protects it
  auto work = [&](TestThread&) {
    for (int i = 0; i < 100000; ++i) {
      VCriticalSectionLock lock(section);
      VCriticalSectionLock again(section);
      counter = counter + 1;
    }
  };
  TestThread a(work);
  TestThread b(work);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  a.wait(INFINITE);
  b.wait(INFINITE);
  EXPECT_EQ(counter, 200000);
}

}  // namespace
