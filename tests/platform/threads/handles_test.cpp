// The handle table: stale and foreign handles fail cleanly; objects outlive their handles while in use.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>

#include "platform/handles.h"
#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

TEST(Handles, BadHandlesFailEveryCallCleanly) {
  HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(closed);
  ASSERT_TRUE(CloseHandle(closed));
  struct Case {
    const char* name;
    HANDLE handle;
  } const cases[] = {
      {"null", nullptr},
      {"closed", closed},
      {"never handed out", reinterpret_cast<HANDLE>(uintptr_t{0x3FFFFFF0})},
      {"misaligned", reinterpret_cast<HANDLE>(uintptr_t{5})},
      {"beyond 32 bits", reinterpret_cast<HANDLE>(~uintptr_t{0} - 15)},
      {"current process", GetCurrentProcess()},  // not waitable in this layer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(c.handle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(c.handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(c.handle, &code));
    EXPECT_FALSE(ReleaseMutex(c.handle));
    EXPECT_FALSE(ReleaseSemaphore(c.handle, 1, nullptr));
    EXPECT_FALSE(TerminateThread(c.handle, 0));
    EXPECT_EQ(ResumeThread(c.handle), static_cast<DWORD>(-1));
  }
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A handle of the wrong kind is refused, not reinterpreted.
TEST(Handles, HandleOfAnotherKindIsRefused) {
  Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Handle semaphore(CreateSemaphoreA(nullptr, 0, 1, nullptr));
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(event.get()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(semaphore.get()));
  EXPECT_FALSE(ReleaseSemaphore(event.get(), 1, nullptr));
  EXPECT_FALSE(TerminateThread(event.get(), 0));
  DWORD code;
  EXPECT_FALSE(GetExitCodeThread(semaphore.get(), &code));
}

// Handle values rise: a handle closed a moment ago does not come back naming a new object.
TEST(Handles, ValuesAreSmallAndNotReusedSoon) {
  std::set<HANDLE> seen;
  for (int i = 0; i < 1000; ++i) {
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(h);
    EXPECT_TRUE(seen.insert(h).second) << "reused " << h;
    EXPECT_LE(reinterpret_cast<uintptr_t>(h), uintptr_t{0xFFFFFFFF});
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % 4, 0u);
    ASSERT_TRUE(CloseHandle(h));
  }
}

TEST(Handles, DuplicateNamesTheSameObjectAndLivesOnItsOwn) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
  EXPECT_NE(copy, event);
  EXPECT_FALSE(CloseHandle(event));  // closed by the duplication
  EXPECT_TRUE(SetEvent(copy));
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(copy));
}

// The object a waiter holds stays alive after its last handle is closed.
TEST(Handles, EventClosedWhileAThreadWaitsOnItIsKeptForTheWaiter) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::shared_ptr<platform::Waitable> held = platform::referenceHandleAs<platform::Waitable>(event);
  ASSERT_TRUE(held);
  std::atomic<DWORD> result{0xFFFF};
  Handle waiter = thrtest::startThread([&] {
    result = platform::waitForObjects({held}, false, 100);
    return DWORD{0};
  });
  ASSERT_TRUE(CloseHandle(event));
  ASSERT_EQ(WaitForSingleObject(waiter.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

TEST(Handles, InsertedObjectsOfOtherPartsAreNamedAndClosed) {
  struct Probe : platform::KernelObject {
    bool* alive;
    explicit Probe(bool* a) : alive(a) { *alive = true; }
    ~Probe() override { *alive = false; }
  };
  bool alive = false;
  HANDLE h = platform::insertHandle(std::make_shared<Probe>(&alive));
  ASSERT_TRUE(h);
  EXPECT_TRUE(alive);
  EXPECT_TRUE(platform::referenceHandleAs<Probe>(h));
  EXPECT_FALSE(platform::referenceHandleAs<platform::Waitable>(h));
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);  // not waitable
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(alive);
}

}  // namespace
