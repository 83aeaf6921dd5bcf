// VOQ_Thread over the platform's threads and its cooperative TerminateThread.
#include "certcheck/VOQ_Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "LiveThreads.h"

namespace st = servicestest;

namespace {

struct HandleCloser {
  void operator()(void* handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// How `run` spends its time.
enum class Body { Return, SleepForever, SleepLoop, WaitForever, LoopUntilReleased };

struct Unwound {
  std::atomic<bool>& flag;
  ~Unwound() { flag = true; }
};

class ProbeThread : public VOQ_Thread {
 public:
  explicit ProbeThread(Body body) : body(body), never(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~ProbeThread() { stop(true); }

  DWORD run(DWORD arg) override {
    record("run" + std::to_string(arg) + ";");
    Unwound guard{unwound};
    inside = true;
    switch (body) {
      case Body::Return:
        break;
      case Body::SleepForever:
        Sleep(INFINITE);
        break;
      case Body::SleepLoop:
        for (;;) Sleep(1);
      case Body::WaitForever:
        WaitForSingleObject(never.get(), INFINITE);
        break;
      case Body::LoopUntilReleased:
        while (!released) Sleep(1);
        break;
    }
    return 5;
  }
  void onStart() override { record("start;"); }
  void onStop() override { record("stop;"); }

  // A handle of our own to the thread, which outlives the object's.
  Handle duplicate() const {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return Handle(copy);
  }
  HANDLE handle() const { return thread; }
  std::string events() {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
  }

  std::atomic<bool> inside{false};
  std::atomic<bool> unwound{false};
  std::atomic<bool> released{false};

 private:
  void record(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex);
    log += event;
  }
  Body body;
  Handle never;
  std::mutex mutex;
  std::string log;
};

class VOQ_ThreadTest : public st::NoThreadLeftBehind {};

DWORD exitCodeOf(HANDLE handle) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(handle, &code));
  return code;
}

TEST_F(VOQ_ThreadTest, StopWithoutAThreadDoesNothingAndRepeats) {
  ProbeThread t(Body::Return);
  EXPECT_EQ(t.stop(true), 0);
  EXPECT_EQ(t.stop(true), 0);
  EXPECT_EQ(t.stop(false), 0);
  EXPECT_EQ(t.events(), "");
}

TEST_F(VOQ_ThreadTest, AThreadThatEndedByItselfIsNotTakenForAlive) {
  ProbeThread t(Body::Return);
  ASSERT_EQ(t.start(7), 0u);
  Handle own = t.duplicate();
  ASSERT_EQ(WaitForSingleObject(own.get(), 20000), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(own.get()), 0u);  // not STILL_ACTIVE
  EXPECT_EQ(t.stop(true), 0);           // read, not terminated
  EXPECT_EQ(t.events(), "start;run7;stop;");
  EXPECT_EQ(t.stop(true), 0);  // the kept exit code; nothing left to stop
}

TEST_F(VOQ_ThreadTest, StopTerminatesARunningThreadWaitsForItAndClosesTheHandle) {
  for (Body body : {Body::SleepForever, Body::SleepLoop, Body::WaitForever}) {
    SCOPED_TRACE(static_cast<int>(body));
    ProbeThread t(body);
    ASSERT_EQ(t.start(0), 0u);
    ASSERT_TRUE(quarveltest::eventually([&] { return t.inside.load(); }));
    Handle own = t.duplicate();
    HANDLE original = t.handle();

    EXPECT_EQ(t.stop(true), -1);
    // The thread has ended when stop returns: its stack is unwound, onStop never ran.
    EXPECT_TRUE(t.unwound);
    EXPECT_EQ(WaitForSingleObject(own.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(exitCodeOf(own.get()), 0xFFFFFFFFu);
    EXPECT_EQ(t.events(), "start;run0;");
    // The object's own handle is closed, not leaked.
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(original, &code));
    EXPECT_EQ(t.handle(), nullptr);
    EXPECT_EQ(t.stop(true), -1);
  }
}

// A derived class without a destructor of its own: the base destructor stops it.
std::atomic<bool> g_sleeperInside{false};
class Sleeper : public VOQ_Thread {
 public:
  DWORD run(DWORD) override {
    g_sleeperInside = true;
    Sleep(INFINITE);
    return 0;
  }
  Handle duplicate() const {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return Handle(copy);
  }
};

TEST_F(VOQ_ThreadTest, DestroyingTheObjectEndsItsThread) {
  Handle own;
  {
    Sleeper sleeper;
    ASSERT_EQ(sleeper.start(0), 0u);
    ASSERT_TRUE(quarveltest::eventually([] { return g_sleeperInside.load(); }));
    own = sleeper.duplicate();
  }
  EXPECT_EQ(WaitForSingleObject(own.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(exitCodeOf(own.get()), 0xFFFFFFFFu);
}

TEST_F(VOQ_ThreadTest, ASecondStartWhileRunningIsRefused) {
  ProbeThread t(Body::SleepForever);
  ASSERT_EQ(t.start(1), 0u);
  HANDLE first = t.handle();
  EXPECT_EQ(t.start(2), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(t.handle(), first);
  ASSERT_TRUE(quarveltest::eventually([&] { return t.inside.load(); }));
  EXPECT_EQ(t.stop(true), -1);
  EXPECT_EQ(t.events(), "start;run1;");
}

TEST_F(VOQ_ThreadTest, StopWithoutTerminateLeavesTheThreadRunning) {
  ProbeThread t(Body::LoopUntilReleased);
  ASSERT_EQ(t.start(3), 0u);
  ASSERT_TRUE(quarveltest::eventually([&] { return t.inside.load(); }));
  Handle own = t.duplicate();
  EXPECT_EQ(t.stop(false), static_cast<LONG>(STILL_ACTIVE));
  EXPECT_EQ(t.handle(), nullptr);
  EXPECT_EQ(WaitForSingleObject(own.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  t.released = true;
  ASSERT_EQ(WaitForSingleObject(own.get(), 20000), WAIT_OBJECT_0);
  EXPECT_EQ(t.events(), "start;run3;stop;");
}

}  // namespace
