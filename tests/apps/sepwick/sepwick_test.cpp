// Sepwick.dll as an installer uses it: loaded with LoadLibraryA, its two functions
// found by name, a hive file saved by the registry mounted for every process of the
// machine and unmounted again.
#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "quarvel_test.h"

namespace {

using HiveFunction = int(WINAPI*)(const char*);

class Sepwick {
 public:
  Sepwick() : module(LoadLibraryA(SEPWICK_DLL)) {
    load = reinterpret_cast<HiveFunction>(GetProcAddress(module, "LoadHiveForUser"));
    unload = reinterpret_cast<HiveFunction>(GetProcAddress(module, "UnLoadHiveForUser"));
  }
  ~Sepwick() {
    if (module) FreeLibrary(module);
  }
  Sepwick(const Sepwick&) = delete;
  Sepwick& operator=(const Sepwick&) = delete;
  HMODULE module;
  HiveFunction load = nullptr;
  HiveFunction unload = nullptr;
};

std::string inRoot(const std::string& name) { return quarveltest::machineRoot() + "/" + name; }
bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A value of HKEY_USERS\temp_user_hive\Software\Vendor, or "<none>".
std::string mountedValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software\\Vendor", 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char data[256] = "";
  DWORD size = sizeof data - 1;
  const LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::string(data) : "<none>";
}

std::vector<std::string> usersSubkeys() {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0; RegEnumKeyA(HKEY_USERS, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

class SepwickTest : public ::testing::Test {
 protected:
  // An administrator's process: it holds SeBackupPrivilege and SeRestorePrivilege.
  void SetUp() override {
    ASSERT_TRUE(sepwick.load && sepwick.unload);
    setenv("TESTDIR", quarveltest::machineRoot().c_str(), 1);
    hive = inRoot("ntuser.dat");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Template\\Software\\Vendor", &key));
    const char text[] = "from the template";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Origin", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
    RegCloseKey(key);
    // The registry's own hive file of that key, as the registry tool or RegSaveKeyA make it.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES backup{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &backup.Privileges[0].Luid));
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &backup, 0, nullptr, nullptr));
    CloseHandle(token);
    save(hive);
  }
  static void save(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Template", 0, KEY_READ, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyA(key, path.c_str(), nullptr));
    RegCloseKey(key);
  }
  Sepwick sepwick;
  std::string hive;
};

// The installer's second process: reads and writes through the mount.
QUARVEL_CHILD(sepwick_read_and_write) {
  if (mountedValue("Origin") != "from the template") return 2;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software\\Vendor", 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 3;
  const char text[] = "by the installer";
  const LONG status = RegSetValueExA(key, "Written", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 4;
}

// Holds a key inside the hive until told to let go.
QUARVEL_CHILD(sepwick_hold_key) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
  std::ofstream(inRoot("holding")) << "yes";
  const bool released = quarveltest::eventually([] { return exists(inRoot("release")); });
  RegCloseKey(key);
  return released ? 0 : 3;
}

// Mounts the hive with Sepwick in a process of its own.
QUARVEL_CHILD(sepwick_load) {
  Sepwick sepwick;
  return sepwick.load && sepwick.load(args.at(0).c_str()) == 1 ? 0 : 2;
}

TEST_F(SepwickTest, ExportsItsTwoFunctionsByNameAndNothingElse) {
  EXPECT_EQ(nullptr, GetProcAddress(sepwick.module, "enablePrivilege"));
  EXPECT_EQ(nullptr, GetProcAddress(sepwick.module, "_ZN12_GLOBAL__N_115enablePrivilegeEPKcb"));
}

TEST_F(SepwickTest, LoadedForEveryProcessUnloadedAndLoadedAgain) {
  ASSERT_EQ(1, sepwick.load("%TESTDIR%\\ntuser.dat"));
  EXPECT_EQ(std::vector<std::string>{"temp_user_hive"}, usersSubkeys());
  EXPECT_EQ(0, quarveltest::runChild("sepwick_read_and_write"));
  EXPECT_EQ("by the installer", mountedValue("Written"));

  // The path no longer matters for the unload; the hive goes and the change stays in its file.
  ASSERT_EQ(1, sepwick.unload("%TESTDIR%\\ntuser.dat"));
  EXPECT_TRUE(usersSubkeys().empty());
  EXPECT_EQ("<none>", mountedValue("Origin"));
  EXPECT_EQ(0, sepwick.unload("%TESTDIR%\\ntuser.dat"));  // nothing mounted any more
  ASSERT_EQ(1, sepwick.load(hive.c_str()));  // a path without variables is used as it is
  EXPECT_EQ("by the installer", mountedValue("Written"));
  EXPECT_EQ(1, sepwick.unload(hive.c_str()));
}

TEST_F(SepwickTest, APathOnTheSystemDrive) {
  ASSERT_TRUE(CreateDirectoryA("C:\\Users", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectoryA("C:\\Users\\Erika", nullptr));
  save("C:\\Users\\Erika\\NTUSER.DAT");
  ASSERT_EQ(1, sepwick.load("%SystemDrive%\\Users\\Erika\\NTUSER.DAT"));
  EXPECT_EQ("from the template", mountedValue("Origin"));
  EXPECT_EQ(1, sepwick.unload("%SystemDrive%\\Users\\Erika\\NTUSER.DAT"));
}

TEST_F(SepwickTest, InUseByAnotherProcessTheHiveStaysUntilItLetsGo) {
  ASSERT_EQ(1, sepwick.load(hive.c_str()));
  quarveltest::ChildProcess holder = quarveltest::startChild("sepwick_hold_key");
  ASSERT_TRUE(quarveltest::eventually([] { return exists(inRoot("holding")); }));
  EXPECT_EQ(0, sepwick.unload(hive.c_str()));
  EXPECT_EQ("from the template", mountedValue("Origin"));
  std::ofstream(inRoot("release")) << "yes";
  ASSERT_EQ(0, holder.wait());
  EXPECT_EQ(1, sepwick.unload(hive.c_str()));
}

TEST_F(SepwickTest, MountedByAnotherProcessTheNameIsTaken) {
  ASSERT_EQ(0, quarveltest::runChild("sepwick_load", {hive}));
  EXPECT_EQ("from the template", mountedValue("Origin"));
  EXPECT_EQ(0, sepwick.load(hive.c_str()));  // loading twice
  EXPECT_EQ(1, sepwick.unload(hive.c_str()));  // any process may unload it
  EXPECT_TRUE(usersSubkeys().empty());
}

// Writes <count> values "<prefix><i>" into HKEY_CURRENT_USER\Template, one call each.
QUARVEL_CHILD(sepwick_write_own_hive) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "Template", &key) != ERROR_SUCCESS) return 2;
  for (int i = 0; i < std::stoi(args.at(1)); ++i) {
    const std::string name = args.at(0) + std::to_string(i);
    if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>(name.size() + 1)) !=
        ERROR_SUCCESS)
      return 3;
  }
  RegCloseKey(key);
  return 0;
}

TEST_F(SepwickTest, TheUsersOwnHiveIsNeverMountedAgainAndOutlivesConcurrentWriters) {
  // The machine root spelled in other ways, as a user's environment may spell it.
  const std::string root = quarveltest::machineRoot();
  const std::string elsewhere = quarveltest::makeTempDirectory("spelled");
  ASSERT_EQ(0, symlink(root.c_str(), (elsewhere + "/root").c_str()));
  const std::vector<std::string> spellings{root, elsewhere + "/root", root + "/", "/." + root};
  for (const std::string& spelling : spellings) {
    setenv("SPELLED", spelling.c_str(), 1);
    EXPECT_EQ(0, sepwick.load("%SPELLED%\\registry\\HKCU.hive")) << spelling;
    EXPECT_EQ(0, sepwick.load((elsewhere + "/root//registry/./HKCU.hive").c_str())) << spelling;
    // The loader's own view of the machine root spelled that way too.
    setenv("QUARVEL_MACHINE_ROOT", spelling.c_str(), 1);
    EXPECT_EQ(0, sepwick.load((root + "/registry/HKCU.hive").c_str())) << spelling;
    setenv("QUARVEL_MACHINE_ROOT", root.c_str(), 1);
  }
  EXPECT_TRUE(usersSubkeys().empty());

  // Writers of the user's hive under every spelling at once lose nothing.
  constexpr int kCount = 30;
  std::vector<quarveltest::ChildProcess> writers;
  for (size_t i = 0; i < spellings.size(); ++i) {
    setenv("QUARVEL_MACHINE_ROOT", spellings[i].c_str(), 1);
    writers.push_back(quarveltest::startChild("sepwick_write_own_hive", {"w" + std::to_string(i) + "_", std::to_string(kCount)}));
  }
  setenv("QUARVEL_MACHINE_ROOT", root.c_str(), 1);
  for (auto& writer : writers) EXPECT_EQ(0, writer.wait());
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Template", 0, KEY_READ, &key));
  DWORD values = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                            nullptr, nullptr, nullptr));
  RegCloseKey(key);
  EXPECT_EQ(spellings.size() * kCount, values);
}

TEST_F(SepwickTest, RefusedLoadsAndUnloadsLeaveTheRegistryAsItWas) {
  std::ofstream(inRoot("notes.txt")) << "not a hive\n";
  setenv("LONGDIR", std::string(1100, 'x').c_str(), 1);
  struct Row {
    const char* what;
    const char* privileges;  // nullptr: an administrator's
    std::string path;
  } rows[] = {
      {"a missing file", nullptr, "%TESTDIR%\\missing.dat"},
      {"a file that is no hive", nullptr, "%TESTDIR%\\notes.txt"},
      {"a directory", nullptr, "%TESTDIR%"},
      {"an expansion longer than the buffer", nullptr, "%LONGDIR%\\ntuser.dat"},
      {"a caller without the restore privilege", "SeBackupPrivilege", hive},
      {"a caller without any privilege", "", hive},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.privileges) setenv("QUARVEL_PRIVILEGES", row.privileges, 1);
    EXPECT_EQ(0, sepwick.load(row.path.c_str()));
    EXPECT_TRUE(usersSubkeys().empty());
    unsetenv("QUARVEL_PRIVILEGES");
  }
  // Unloading: without the privilege, or with an over-long path, the mounted hive stays.
  ASSERT_EQ(1, sepwick.load(hive.c_str()));
  setenv("QUARVEL_PRIVILEGES", "", 1);
  EXPECT_EQ(0, sepwick.unload(hive.c_str()));
  unsetenv("QUARVEL_PRIVILEGES");
  EXPECT_EQ(0, sepwick.unload("%LONGDIR%"));
  EXPECT_EQ(0, sepwick.unload(nullptr));
  EXPECT_EQ(std::vector<std::string>{"temp_user_hive"}, usersSubkeys());
  EXPECT_EQ(1, sepwick.unload(hive.c_str()));
  EXPECT_EQ(0, sepwick.load(nullptr));
}

}  // namespace
