// Named mutexes, shared by the processes of one machine root.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "quarvel_test.h"
#include "test_handles.h"

namespace {

using thrtest::Handle;
using thrtest::kLong;

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void touch(const std::string& path) {
  if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

// Waits (bounded) until a child process made the file.
bool waitForFile(const std::string& path) {
  return thrtest::eventually([&] { return fileExists(path); });
}

// Codes the probing child reports: 10 when the mutex existed, plus what the wait gave.
int waitCode(DWORD r) {
  switch (r) {
    case WAIT_OBJECT_0: return 1;
    case WAIT_TIMEOUT: return 2;
    case WAIT_ABANDONED: return 3;
    default: return 4;
  }
}
constexpr int kExisted = 10;

// args: name, wait milliseconds. Creates (not owning), waits, releases what it got.
QUARVEL_CHILD(probe_mutex) {
  HANDLE h = CreateMutexA(nullptr, FALSE, args.at(0).c_str());
  if (!h) return 50;
  const int existed = GetLastError() == ERROR_ALREADY_EXISTS ? kExisted : 0;
  DWORD r = WaitForSingleObject(h, static_cast<DWORD>(std::stoul(args.at(1))));
  if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ReleaseMutex(h);
  CloseHandle(h);
  return existed + waitCode(r);
}

// args: name, ready file, go file (or "-": hold until killed).
// Creates the mutex owned, tells the parent, and on the go file releases it cleanly.
QUARVEL_CHILD(hold_mutex) {
  HANDLE h = CreateMutexA(nullptr, TRUE, args.at(0).c_str());
  if (!h) return 50;
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  // A creator owns it; one who found it must win it by waiting.
  if (!created && WaitForSingleObject(h, 0) != WAIT_TIMEOUT) return 51;
  touch(args.at(1));
  if (args.at(2) == "-") Sleep(INFINITE);
  while (!fileExists(args.at(2))) Sleep(5);
  if (created && !ReleaseMutex(h)) return 52;
  CloseHandle(h);
  return created ? 1 : 0;
}

// args: name, counter file, rounds. Adds one to the number in the file per round, under the mutex.
QUARVEL_CHILD(count_under_mutex) {
  HANDLE h = CreateMutexA(nullptr, FALSE, args.at(0).c_str());
  if (!h) return 50;
  const int rounds = std::stoi(args.at(2));
  for (int i = 0; i < rounds; ++i) {
    if (WaitForSingleObject(h, 60000) != WAIT_OBJECT_0) return 51;
    long value = 0;
    if (FILE* f = std::fopen(args.at(1).c_str(), "r")) {
      if (std::fscanf(f, "%ld", &value) != 1) value = -1000000;
      std::fclose(f);
    }
    if (FILE* f = std::fopen(args.at(1).c_str(), "w")) {
      std::fprintf(f, "%ld", value + 1);
      std::fclose(f);
    }
    if (!ReleaseMutex(h)) return 52;
  }
  CloseHandle(h);
  return 0;
}

// args: name, ready file. A thread of this process takes the mutex and ends holding it.
QUARVEL_CHILD(thread_abandons_mutex) {
  HANDLE h = CreateMutexA(nullptr, FALSE, args.at(0).c_str());
  if (!h) return 50;
  HANDLE t = thrtest::startThread([h] { return WaitForSingleObject(h, 0); }).release();
  if (WaitForSingleObject(t, 20000) != WAIT_OBJECT_0) return 51;
  touch(args.at(1));
  Sleep(INFINITE);
  return 0;
}

class NamedMutexes : public testing::Test {
 protected:
  std::string dir = quarveltest::makeTempDirectory("mutex");
  std::string name = "Quarvel.Test." + std::to_string(getpid());
  int probe(DWORD waitMs) { return quarveltest::runChild("probe_mutex", {name, std::to_string(waitMs)}); }
};

TEST_F(NamedMutexes, SecondCreateInTheSameProcessNamesTheSameMutex) {
  SetLastError(ERROR_ALREADY_EXISTS);  // a stale value must not leak through
  Handle first(CreateMutexA(nullptr, TRUE, name.c_str()));
  ASSERT_TRUE(first);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  Handle second(CreateMutexA(nullptr, TRUE, name.c_str()));
  ASSERT_TRUE(second);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // One object: the owner takes it again through the second handle, recursively.
  EXPECT_EQ(WaitForSingleObject(second.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(first.get()));
  EXPECT_TRUE(ReleaseMutex(second.get()));
  EXPECT_FALSE(ReleaseMutex(second.get()));  // the existing one was not owned by the second create

  Handle opened(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  EXPECT_TRUE(opened);
  first.reset();
  second.reset();
  opened.reset();
  // Every handle closed: the name is free, a new create makes a new mutex.
  Handle again(CreateMutexA(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(NamedMutexes, OpenOfAMissingNameFails) {
  struct Case {
    const char* name;
    DWORD error;
  } const cases[] = {{"Quarvel.Nobody", ERROR_FILE_NOT_FOUND}, {"", ERROR_INVALID_PARAMETER},
                     {nullptr, ERROR_INVALID_PARAMETER}};
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, c.name), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // A failed open does not make the name exist.
  Handle created(CreateMutexA(nullptr, FALSE, "Quarvel.Nobody"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(NamedMutexes, NamesAreExactAndMayHoldAnyCharacters) {
  const std::string names[] = {"Global\\Quarvel/Instance \xC3\xBC", "Global\\Quarvel_Instance \xC3\xBC",
                               "global\\Quarvel/Instance \xC3\xBC", std::string(300, 'q'),
                               std::string(299, 'q') + "r"};
  std::vector<Handle> handles;
  for (const std::string& n : names) {
    handles.emplace_back(CreateMutexA(nullptr, FALSE, n.c_str()));
    ASSERT_TRUE(handles.back()) << n;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << n;
  }
  for (const std::string& n : names) {
    Handle again(OpenMutexA(SYNCHRONIZE, FALSE, n.c_str()));
    EXPECT_TRUE(again) << n;
  }
}

TEST_F(NamedMutexes, AlreadyExistsWhileAnotherProcessHoldsItNotAfterItClosed) {
  Handle mine(CreateMutexA(nullptr, FALSE, name.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(probe(0), kExisted + 1);  // exists, free: the child takes it and gives it back
  mine.reset();
  EXPECT_EQ(probe(0), 0 + 1);
}

TEST_F(NamedMutexes, OwnershipIsExclusiveAcrossProcesses) {
  Handle mine(CreateMutexA(nullptr, TRUE, name.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(probe(50), kExisted + 2);
  EXPECT_TRUE(ReleaseMutex(mine.get()));
  EXPECT_EQ(probe(kLong), kExisted + 1);
  EXPECT_EQ(WaitForSingleObject(mine.get(), 0), WAIT_OBJECT_0);  // the child released it cleanly
  EXPECT_TRUE(ReleaseMutex(mine.get()));
}

TEST_F(NamedMutexes, WaitWithTimeOutGetsItWhenTheOtherProcessReleases) {
  const std::string ready = dir + "/ready", go = dir + "/go";
  quarveltest::ChildProcess child = quarveltest::startChild("hold_mutex", {name, ready, go});
  ASSERT_TRUE(waitForFile(ready));
  Handle mine(CreateMutexA(nullptr, FALSE, name.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(mine.get(), 30), WAIT_TIMEOUT);
  touch(go);
  EXPECT_EQ(WaitForSingleObject(mine.get(), kLong), WAIT_OBJECT_0);
  EXPECT_EQ(child.wait(), 1);
  EXPECT_TRUE(ReleaseMutex(mine.get()));
}

TEST_F(NamedMutexes, HolderKilledWhileAnotherWaitsLeavesItAbandonedAndFree) {
  const std::string ready = dir + "/ready";
  quarveltest::ChildProcess child = quarveltest::startChild("hold_mutex", {name, ready, "-"});
  ASSERT_TRUE(waitForFile(ready));
  Handle mine(CreateMutexA(nullptr, TRUE, name.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(mine.get(), 30), WAIT_TIMEOUT);
  child.kill(SIGKILL);
  EXPECT_EQ(child.wait(), 128 + SIGKILL);
  EXPECT_EQ(WaitForSingleObject(mine.get(), kLong), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mine.get()));
  // Released cleanly now: the next owner is told nothing of the dead one.
  EXPECT_EQ(probe(kLong), kExisted + 1);
  mine.reset();
  EXPECT_EQ(probe(0), 0 + 1);
}

TEST_F(NamedMutexes, HolderKilledAloneLeavesTheNameFree) {
  const std::string ready = dir + "/ready";
  quarveltest::ChildProcess child = quarveltest::startChild("hold_mutex", {name, ready, "-"});
  ASSERT_TRUE(waitForFile(ready));
  EXPECT_EQ(probe(0), kExisted + 2);
  child.kill(SIGKILL);
  child.wait();
  // The single-instance check of the program: a new instance after a killed one runs.
  Handle mine(CreateMutexA(nullptr, TRUE, name.c_str()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(probe(0), kExisted + 2);  // and owns it
}

// A thread that ends holding a named mutex abandons it for every process.
TEST_F(NamedMutexes, ThreadEndingWhileOwningAbandonsItForOtherProcesses) {
  const std::string ready = dir + "/ready";
  quarveltest::ChildProcess child = quarveltest::startChild("thread_abandons_mutex", {name, ready});
  ASSERT_TRUE(waitForFile(ready));
  Handle mine(CreateMutexA(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(mine.get(), kLong), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mine.get()));
  EXPECT_EQ(WaitForSingleObject(mine.get(), 0), WAIT_OBJECT_0);  // told once only
  EXPECT_TRUE(ReleaseMutex(mine.get()));
}

// Many processes creating one name at once: exactly one of them is its creator and owner.
TEST_F(NamedMutexes, ConcurrentCreatorsAcrossProcessesAgreeOnOne) {
  constexpr int kChildren = 6;
  const std::string go = dir + "/go";
  std::vector<quarveltest::ChildProcess> children;
  for (int i = 0; i < kChildren; ++i)
    children.push_back(quarveltest::startChild("hold_mutex", {name, dir + "/ready" + std::to_string(i), go}));
  for (int i = 0; i < kChildren; ++i) ASSERT_TRUE(waitForFile(dir + "/ready" + std::to_string(i)));
  touch(go);
  int creators = 0;
  for (auto& child : children) {
    int code = child.wait();
    EXPECT_TRUE(code == 0 || code == 1) << code;
    creators += code == 1;
  }
  EXPECT_EQ(creators, 1);
}

// Read-modify-write of a file by several processes and threads: no update may be lost.
TEST_F(NamedMutexes, OwnershipExcludesOtherProcessesAndThreadsUnderLoad) {
  const std::string counter = dir + "/counter";
  FILE* start = std::fopen(counter.c_str(), "w");
  ASSERT_TRUE(start);
  std::fputs("0", start);
  std::fclose(start);
  std::vector<quarveltest::ChildProcess> children;
  for (int i = 0; i < 3; ++i)
    children.push_back(quarveltest::startChild("count_under_mutex", {name, counter, "100"}));
  std::vector<Handle> threads;
  for (int i = 0; i < 2; ++i)
    threads.push_back(thrtest::startThread([&] {
      return DWORD(quarveltest::runChild("count_under_mutex", {name, counter, "100"}) == 0 ? 0 : 1);
    }));
  for (auto& child : children) EXPECT_EQ(child.wait(), 0);
  for (auto& t : threads) ASSERT_EQ(WaitForSingleObject(t.get(), 120000), WAIT_OBJECT_0);
  long value = 0;
  FILE* f = std::fopen(counter.c_str(), "r");
  ASSERT_TRUE(f);
  EXPECT_EQ(std::fscanf(f, "%ld", &value), 1);
  std::fclose(f);
  EXPECT_EQ(value, 500);
}

// A thread waiting for a mutex another process holds can still be stopped.
TEST_F(NamedMutexes, ThreadWaitingForAMutexOfAnotherProcessCanBeTerminated) {
  const std::string ready = dir + "/ready";
  quarveltest::ChildProcess child = quarveltest::startChild("hold_mutex", {name, ready, "-"});
  ASSERT_TRUE(waitForFile(ready));
  std::atomic<bool> waiting{false};
  Handle thread = thrtest::startThread([&] {
    Handle mine(CreateMutexA(nullptr, FALSE, name.c_str()));
    waiting = true;
    return WaitForSingleObject(mine.get(), INFINITE);
  });
  ASSERT_TRUE(thrtest::eventually([&] { return waiting.load(); }));
  ASSERT_TRUE(TerminateThread(thread.get(), 21));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 21u);
  // Its handle was closed by the unwind: only the child holds the name now.
  child.kill(SIGKILL);
  child.wait();
  Handle fresh(CreateMutexA(nullptr, FALSE, name.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
