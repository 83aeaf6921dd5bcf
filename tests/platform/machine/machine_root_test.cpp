// The machine root holds one user's hives and desktop: it is used only when it is the
// user's alone, and what the platform keeps in it is private.
#include "platform/machine.h"
#include "platform/win_files.h"
#include "platform/window_test.h"
#include "quarvel_test.h"
#include "windows.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kCannotSwitchUser = 77;

uid_t unusedUid() {
  for (uid_t u = 61000; u < 65000; ++u)
    if (getpwuid(u) == nullptr && getgrgid(u) == nullptr) return u;
  return 65000;
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

TEST(MachineRoot, IsUsedOnlyWhenItIsTheUsersAlone) {
  const std::string own = quarveltest::machineRoot();
  const std::string base = quarveltest::makeTempDirectory("roots");
  const uid_t other = unusedUid();
  auto dir = [](const std::string& path, mode_t mode) {
    mkdir(path.c_str(), 0700);
    chmod(path.c_str(), mode);
    return path;
  };
  struct Case {
    const char* name;
    std::function<std::string()> make;  // the root to name
    bool used;
    bool otherOwner = false;  // needs a folder given to another user (chown)
  } cases[] = {
      {"missing: made", [&] { return base + "/fresh/machine"; }, true},
      {"the user's, readable by others: kept, closed", [&] { return dir(base + "/readable", 0755); }, true},
      {"the user's, named with a slash at the end", [&] { return dir(base + "/slash", 0700) + "/"; }, true},
      {"below a sticky folder others write to", [&] { return dir(base + "/sticky", 01777) + "/machine"; }, true},
      {"writable by others", [&] { return dir(base + "/open", 0777); }, false},
      {"writable by the group", [&] { return dir(base + "/group", 0770); }, false},
      {"another user's",
       [&] {
         const std::string path = dir(base + "/theirs", 0700);
         EXPECT_EQ(chown(path.c_str(), other, other), 0);
         return path;
       },
       false, true},
      {"below a folder others write to", [&] { return dir(base + "/shared", 0777) + "/machine"; }, false},
      {"below another user's folder",
       [&] {
         const std::string path = dir(base + "/their-home", 0755);
         EXPECT_EQ(chown(path.c_str(), other, other), 0);
         return path + "/machine";
       },
       false, true},
      {"a file",
       [&] {
         const std::string path = base + "/file";
         close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
         return path;
       },
       false},
      {"a relative path", [] { return std::string("relative/machine"); }, false},
      {"the user's link to a folder that others could replace",
       [&] {
         const std::string target = dir(dir(base + "/shared-too", 0777) + "/target", 0700);
         EXPECT_EQ(symlink(target.c_str(), (base + "/link").c_str()), 0);
         return base + "/link";
       },
       false},
      {"the user's link to a private folder",
       [&] {
         const std::string target = dir(base + "/private-target", 0700);
         EXPECT_EQ(symlink(target.c_str(), (base + "/good-link").c_str()), 0);
         return base + "/good-link";
       },
       true},
  };
  const bool mayGiveAway = geteuid() == 0;
  for (const Case& c : cases) {
    if (c.otherOwner && !mayGiveAway) {
      std::printf("skipped \"%s\": this process cannot give a folder to another user\n", c.name);
      continue;
    }
    const std::string root = c.make();
    std::string path = root;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    setenv(platform::kMachineRootVariable, root.c_str(), 1);
    if (c.used) {
      EXPECT_EQ(platform::machineRootRefusal(), "") << c.name;
      EXPECT_EQ(platform::machineRoot(), path) << c.name;
      EXPECT_EQ(modeOf(path), 0700u) << c.name;
      EXPECT_TRUE(CreateDirectoryA("C:\\Daten", nullptr)) << c.name;
      EXPECT_EQ(modeOf(path + "/c"), 0700u) << c.name;
    } else {
      EXPECT_NE(platform::machineRootRefusal(), "") << c.name;
      EXPECT_NE(platform::machineRoot(), path) << c.name;
      EXPECT_FALSE(CreateDirectoryA("C:\\Daten", nullptr)) << c.name;
      EXPECT_FALSE(exists(path + "/c")) << c.name;
      EXPECT_FALSE(exists(path + "/run")) << c.name;
      EXPECT_EQ(CreateMutexA(nullptr, FALSE, "QuarvelEinmal"), nullptr) << c.name;
    }
    setenv(platform::kMachineRootVariable, own.c_str(), 1);
  }

  // A run directory that others may write to is refused as the root would be.
  const std::string root = dir(base + "/open-run", 0700);
  dir(root + "/run", 0777);
  setenv(platform::kMachineRootVariable, root.c_str(), 1);
  EXPECT_NE(platform::machineRootRefusal(), "");
  EXPECT_NE(platform::runtimeDirectory(), root + "/run");
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "QuarvelEinmal"), nullptr);
  EXPECT_FALSE(exists(root + "/run/mutex"));
  setenv(platform::kMachineRootVariable, own.c_str(), 1);
  EXPECT_EQ(platform::machineRoot(), own);
}

// args: uid. Another account without HOME and without a home of its own.
QUARVEL_CHILD(rootWithoutHome) {
  const uid_t uid = static_cast<uid_t>(std::stoul(args.at(0)));
  if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) {
    return kCannotSwitchUser;
  }
  prctl(PR_SET_DUMPABLE, 1);  // the sanitizers' leak check stops the threads at exit
  unsetenv(platform::kMachineRootVariable);
  unsetenv("HOME");
  if (platform::machineRootRefusal().empty()) return 1;
  if (platform::machineRoot().rfind("/tmp", 0) == 0) return 2;
  if (CreateDirectoryA("C:\\Daten", nullptr)) return 3;
  return 0;
}

TEST(MachineRoot, WithoutAHomeNoRootIsMadeInASharedFolder) {
  const int code = quarveltest::runChild("rootWithoutHome", {std::to_string(unusedUid())});
  if (code == kCannotSwitchUser) GTEST_SKIP() << "this process cannot switch to another uid (setresuid)";
  EXPECT_EQ(code, 0);
}

std::vector<std::string>* g_open = nullptr;

TEST(MachineRoot, WhatThePlatformKeepsInItIsPrivate) {
  // The hives, the window registry and its records, named objects, the desktop's journals.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quarvel", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "ProxyPassword", 0, REG_SZ, reinterpret_cast<const BYTE*>("geheim"), 7), ERROR_SUCCESS);
  RegCloseKey(key);
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quarvel", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegCloseKey(key);
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "QuarvelEinmal");
  ASSERT_TRUE(mutex);
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "PrivateWnd";
  RegisterClassA(&wc);
  HWND h = CreateWindowExA(0, "PrivateWnd", "Quarvel", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
  ASSERT_TRUE(h);
  platform::wintest::pumpMessages();
  platform::wintest::setCursorPos(1, 2);
  // What a program makes on its drives.
  ASSERT_TRUE(CreateDirectoryA("C:\\Daten", nullptr));
  for (const char* mode : {"w", "a+", "wbN"}) {
    FILE* f = nullptr;
    ASSERT_EQ(fopen_s(&f, (std::string("C:\\Daten\\") + mode + ".txt").c_str(), mode), 0) << mode;
    std::fputs("x", f);
    std::fclose(f);
  }

  std::vector<std::string> open;
  g_open = &open;
  nftw(
      platform::machineRoot().c_str(),
      [](const char* path, const struct stat* st, int, FTW*) {
        if (st->st_uid != geteuid() || (st->st_mode & 077) != 0) g_open->push_back(path);
        return 0;
      },
      16, FTW_PHYS);
  g_open = nullptr;
  EXPECT_TRUE(open.empty()) << open.front();
  EXPECT_TRUE(exists(platform::machineRoot() + "/registry/HKCU.hive"));
  EXPECT_TRUE(exists(platform::runtimeDirectory() + "/windows"));
  DestroyWindow(h);
  CloseHandle(mutex);
}

}  // namespace
