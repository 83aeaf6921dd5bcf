// Hive files: saving a key, loading it under HKEY_USERS or HKEY_LOCAL_MACHINE for every
// process, unloading it, and the privileges these calls ask for.
#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/machine.h"

#include "platform/registry_test.h"
#include "quarvel_test.h"
#include "registry_helpers.h"

namespace {

using regtest::bytesWithNul;
using regtest::createKey;
using regtest::getValue;
using regtest::ScopedKey;
using regtest::setValue;
using regtest::subkeyNames;

const char kHive[] = "temp_user_hive";

// Holds these privileges for the test process and the children it starts.
void holdPrivileges(const char* list) { setenv("QUARVEL_PRIVILEGES", list, 1); }

// Enables or disables one privilege; the last error AdjustTokenPrivileges left.
DWORD adjust(const char* name, bool enable) {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  EXPECT_TRUE(LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid));
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  const DWORD error = GetLastError();
  EXPECT_TRUE(CloseHandle(token));
  return error;
}

std::string text(HKEY key, const char* name) {
  std::vector<BYTE> data;
  if (getValue(key, name, data) != ERROR_SUCCESS) return "<missing>";
  return std::string(data.begin(), data.end()).c_str();
}

std::string file(const std::string& name) { return quarveltest::machineRoot() + "/" + name; }

// A hive file of a user's settings, saved from a key of HKEY_CURRENT_USER.
std::string makeHive(const std::string& name) {
  {
    ScopedKey key;
    EXPECT_EQ(ERROR_SUCCESS, createKey(HKEY_CURRENT_USER, "Saved\\Software\\Vendor", key));
    EXPECT_EQ(ERROR_SUCCESS, setValue(key.get(), "Setting", REG_SZ, bytesWithNul("from the hive")));
    ScopedKey saved;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Saved", 0, KEY_READ, saved.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegSaveKeyA(saved.get(), file(name).c_str(), nullptr));
  }
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Saved"));
  return file(name);
}

class HiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    holdPrivileges("SeBackupPrivilege,SeRestorePrivilege");
    EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_BACKUP_NAME, true));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_RESTORE_NAME, true));
  }
  void TearDown() override { unsetenv("QUARVEL_PRIVILEGES"); }
};

TEST(Privileges, LookedUpByNameAndEnabledOnlyWhenHeld) {
  struct Row {
    const char* name;
    bool known;
    DWORD luid;
  } rows[] = {{"SeBackupPrivilege", true, 17}, {"SeRestorePrivilege", true, 18},
              {"serestoreprivilege", true, 18}, {"SeChangeNotifyPrivilege", true, 23},
              {"SeNoSuchPrivilege", false, 0},  {"", false, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LUID luid{};
    EXPECT_EQ(row.known ? TRUE : FALSE, LookupPrivilegeValueA(nullptr, row.name, &luid));
    if (row.known) {
      EXPECT_EQ(row.luid, luid.LowPart);
      EXPECT_EQ(0, luid.HighPart);
    } else {
      EXPECT_EQ(DWORD(ERROR_NO_SUCH_PRIVILEGE), GetLastError());
    }
  }

  holdPrivileges("SeBackupPrivilege");
  EXPECT_EQ(DWORD(ERROR_NOT_ALL_ASSIGNED), adjust(SE_RESTORE_NAME, true));
  EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, RegLoadKeyA(HKEY_USERS, kHive, "C:\\none.dat"));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_BACKUP_NAME, true));
  // A standard user holds neither; an administrator both.
  unsetenv("QUARVEL_PRIVILEGES");
  platform::registry::setStandardUser(true);
  EXPECT_EQ(DWORD(ERROR_NOT_ALL_ASSIGNED), adjust(SE_RESTORE_NAME, true));
  platform::registry::setStandardUser(false);
  EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_RESTORE_NAME, true));

  // The earlier state comes back when asked for; a token without the right refuses.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES off{1, {{{18, 0}, 0}}}, before{};
  DWORD length = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &off, sizeof before, &before, &length));
  EXPECT_EQ(1u, before.PrivilegeCount);
  EXPECT_EQ(18u, before.Privileges[0].Luid.LowPart);
  EXPECT_EQ(DWORD(SE_PRIVILEGE_ENABLED), before.Privileges[0].Attributes);
  EXPECT_TRUE(CloseHandle(token));
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &off, 0, nullptr, nullptr));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x4444), TOKEN_QUERY, &token));
}

TEST_F(HiveTest, SavedLoadedChangedUnloadedAndLoadedAgain) {
  const std::string hive = makeHive("user.dat");
  EXPECT_EQ(ERROR_ALREADY_EXISTS, RegSaveKeyA(HKEY_CURRENT_USER, hive.c_str(), nullptr));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_BACKUP_NAME, false));
  EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, RegSaveKeyA(HKEY_CURRENT_USER, file("other.dat").c_str(), nullptr));

  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, kHive, hive.c_str()));
  ScopedKey users;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, users.out()));
  EXPECT_EQ(std::vector<std::string>{kHive}, subkeyNames(users.get()));
  {
    ScopedKey vendor;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, "TEMP_USER_HIVE\\Software\\Vendor", 0, KEY_ALL_ACCESS, vendor.out()));
    EXPECT_EQ("from the hive", text(vendor.get(), "Setting"));
    EXPECT_EQ(ERROR_SUCCESS, setValue(vendor.get(), "Installed", REG_SZ, bytesWithNul("yes")));
    // The mount point itself stays: it is the hive, not a key of HKEY_USERS.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_USERS, kHive));
    // This process's own open key keeps the hive loaded too.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegUnLoadKeyA(HKEY_USERS, kHive));
  }
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
  ScopedKey gone;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software", 0, KEY_READ, gone.out()));
  EXPECT_TRUE(subkeyNames(users.get()).empty());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegUnLoadKeyA(HKEY_USERS, kHive));

  // The change is in the file: loaded again, under the machine's root this time.
  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_LOCAL_MACHINE, "Other User", hive.c_str()));
  {
    ScopedKey vendor;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Other User\\Software\\Vendor", 0, KEY_READ, vendor.out()));
    EXPECT_EQ("yes", text(vendor.get(), "Installed"));
  }
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Other User"));
}

TEST_F(HiveTest, RefusedLoadsMountNothing) {
  const std::string hive = makeHive("user.dat");
  const std::string text = file("notes.txt");
  std::ofstream(text) << "REGEDIT4\n";
  std::vector<char> bytes;
  {
    std::ifstream in(hive, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string truncated = file("truncated.dat");
  std::ofstream(truncated, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() - 3));
  const std::string second = makeHive("second.dat");
  const std::string machineHive = platform::registry::hiveFilePath(HKEY_LOCAL_MACHINE);
  {
    ScopedKey plain;
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_USERS, "S-1-5-18", plain));
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_LOCAL_MACHINE, "Software", plain));
  }
  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, kHive, hive.c_str()));
  struct Row {
    const char* what;
    HKEY root;
    const char* name;
    std::string path;
    LONG status;
  } rows[] = {
      {"a missing file", HKEY_USERS, "a", file("missing.dat"), ERROR_FILE_NOT_FOUND},
      {"a text file", HKEY_USERS, "b", text, ERROR_BADDB},
      {"a truncated hive", HKEY_USERS, "c", truncated, ERROR_BADDB},
      {"the file loaded already", HKEY_USERS, "d", hive, ERROR_SHARING_VIOLATION},
      {"the file by another path", HKEY_LOCAL_MACHINE, "e", quarveltest::machineRoot() + "/./user.dat", ERROR_SHARING_VIOLATION},
      {"the machine's own hive", HKEY_USERS, "f", machineHive, ERROR_SHARING_VIOLATION},
      {"an existing key's name", HKEY_USERS, "s-1-5-18", second, ERROR_ALREADY_EXISTS},
      {"the name loaded already", HKEY_USERS, "TEMP_USER_HIVE", second, ERROR_SHARING_VIOLATION},
      {"a path of names", HKEY_USERS, "g\\h", hive, ERROR_INVALID_PARAMETER},
      {"no name", HKEY_USERS, "", hive, ERROR_INVALID_PARAMETER},
      {"below the current user", HKEY_CURRENT_USER, "i", hive, ERROR_INVALID_PARAMETER},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.status, RegLoadKeyA(row.root, row.name, row.path.c_str()));
  }
  ScopedKey users, machine;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, users.out()));
  EXPECT_EQ((std::vector<std::string>{"S-1-5-18", kHive}), subkeyNames(users.get()));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, machine.out()));
  EXPECT_EQ(std::vector<std::string>{"Software"}, subkeyNames(machine.get()));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegUnLoadKeyA(HKEY_USERS, "S-1-5-18"));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_RESTORE_NAME, false));
  EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, RegUnLoadKeyA(HKEY_USERS, kHive));
  EXPECT_EQ(DWORD(ERROR_SUCCESS), adjust(SE_RESTORE_NAME, true));
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
}

TEST_F(HiveTest, KeyPathsWorkThroughTheUsersRootAsThroughAHandleOnTheMount) {
  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, kHive, makeHive("user.dat").c_str()));
  ScopedKey mount;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, kHive, 0, KEY_ALL_ACCESS, mount.out()));
  struct Route {
    const char* what;
    HKEY parent;
    std::string prefix;
  } routes[] = {
      {"through HKEY_USERS", HKEY_USERS, std::string(kHive) + "\\"},
      {"through a handle on the mount", mount.get(), ""},
  };
  for (const Route& route : routes) {
    SCOPED_TRACE(route.what);
    const std::string deep = route.prefix + "Software\\Installer\\Deeper";
    ScopedKey key;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, createKey(route.parent, deep.c_str(), key, KEY_ALL_ACCESS, &disposition));
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, setValue(key.get(), "Step", REG_SZ, bytesWithNul(route.what)));
    ASSERT_EQ(ERROR_SUCCESS, createKey(route.parent, (route.prefix + "Software\\Vendor").c_str(), key,
                                       KEY_ALL_ACCESS, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ("from the hive", text(key.get(), "Setting"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(route.parent, deep.c_str(), 0, KEY_READ, key.out()));
    EXPECT_EQ(route.what, text(key.get(), "Step"));
    key.reset();
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(route.parent, deep.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(route.parent, (route.prefix + "Software\\Installer").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(route.parent, deep.c_str(), 0, KEY_READ, key.out()));
  }
  mount.reset();
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
}

TEST_F(HiveTest, TheRegistrysFilesAreTheUsersAlone) {
  // Hives hold settings such as proxy passwords: no other account may read them.
  {
    ScopedKey key;
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_CURRENT_USER, "Software", key));
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_LOCAL_MACHINE, "Software", key));
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_USERS, ".DEFAULT", key));
  }
  const std::string saved = makeHive("user.dat");
  std::vector<std::string> files{platform::registry::hiveFilePath(HKEY_CURRENT_USER),
                                 platform::registry::hiveFilePath(HKEY_LOCAL_MACHINE),
                                 platform::registry::hiveFilePath(HKEY_USERS), saved};
  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, kHive, saved.c_str()));
  ScopedKey inside;
  // The first write into a saved hive rewrites it in the journal's layout.
  ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_USERS, "temp_user_hive\\Software\\New", inside));
  files.push_back(file("registry/mounts"));
  files.push_back(file("registry/mounts.lock"));
  for (const std::string& path : files) {
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st)) << path;
    EXPECT_EQ(0600u, st.st_mode & 07777) << path;
  }
  inside.reset();
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
}

// The same file under other names: links, and paths that resolve to it.
TEST_F(HiveTest, AHiveIsItsFileHoweverThePathIsSpelled) {
  const std::string root = quarveltest::machineRoot();
  const std::string usersHive = platform::registry::hiveFilePath(HKEY_USERS);
  const std::string current = platform::registry::hiveFilePath(HKEY_CURRENT_USER);
  const std::string machine = platform::registry::hiveFilePath(HKEY_LOCAL_MACHINE);
  {
    // Every machine hive exists.
    ScopedKey key;
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_CURRENT_USER, "Software", key));
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_LOCAL_MACHINE, "Software", key));
    ASSERT_EQ(ERROR_SUCCESS, createKey(HKEY_USERS, ".DEFAULT", key));
  }
  const std::string loaded = makeHive("user.dat");
  ASSERT_EQ(ERROR_SUCCESS, RegLoadKeyA(HKEY_USERS, kHive, loaded.c_str()));
  const std::string elsewhere = quarveltest::makeTempDirectory("spellings");
  ASSERT_EQ(0, symlink(root.c_str(), (elsewhere + "/root").c_str()));
  ASSERT_EQ(0, symlink(current.c_str(), (elsewhere + "/hkcu-link").c_str()));
  ASSERT_EQ(0, link(current.c_str(), (elsewhere + "/hkcu-hard").c_str()));
  ASSERT_EQ(0, symlink(loaded.c_str(), (elsewhere + "/user-link").c_str()));
  ASSERT_EQ(0, link(loaded.c_str(), (elsewhere + "/user-hard").c_str()));
  ASSERT_TRUE(CreateDirectoryA("C:\\Profiles", nullptr));
  ASSERT_EQ(0, symlink((root + "/registry").c_str(), (root + "/c/Profiles/registry").c_str()));
  // HOME/.quarvel/machine is the machine root when no root is named.
  ASSERT_EQ(0, mkdir((elsewhere + "/home").c_str(), 0700));
  ASSERT_EQ(0, mkdir((elsewhere + "/home/.quarvel").c_str(), 0700));
  ASSERT_EQ(0, symlink(root.c_str(), (elsewhere + "/home/.quarvel/machine").c_str()));

  struct Row {
    const char* what;
    std::string path;
    std::string machineRoot;  // how the machine root is named meanwhile; "": by HOME
  } rows[] = {
      {"the user's hive", current, root},
      {"the machine's hive", machine, root},
      {"the users' hive", usersHive, root},
      {"doubled slashes", root + "//registry//HKCU.hive", root},
      {"dot components", root + "/./registry/./HKCU.hive", root},
      {"dot-dot components", root + "/registry/../registry/HKCU.hive", root},
      {"the root through a symbolic link", elsewhere + "/root/registry/HKCU.hive", root},
      {"a symbolic link to the hive", elsewhere + "/hkcu-link", root},
      {"a hard link to the hive", elsewhere + "/hkcu-hard", root},
      {"a drive path through a linked folder", "C:\\Profiles\\registry\\HKCU.hive", root},
      {"another file of the registry's folder", root + "/registry/mounts", root},
      {"the root named through a link", current, elsewhere + "/root"},
      {"the root named with a trailing slash", current, root + "/"},
      {"the root under a HOME ending in a slash", current, ""},
      {"the loaded hive again", loaded, root},
      {"the loaded hive through a symbolic link", elsewhere + "/user-link", root},
      {"the loaded hive through a hard link", elsewhere + "/user-hard", root},
      {"the loaded hive with dot-dot components", root + "/c/../user.dat", root},
  };
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (!row.machineRoot.empty()) {
      setenv(platform::kMachineRootVariable, row.machineRoot.c_str(), 1);
    } else {
      unsetenv(platform::kMachineRootVariable);
      setenv("HOME", (elsewhere + "/home/").c_str(), 1);
    }
    EXPECT_EQ(ERROR_SHARING_VIOLATION, RegLoadKeyA(HKEY_USERS, "second", row.path.c_str()));
    setenv(platform::kMachineRootVariable, root.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
  }
  ScopedKey users;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, users.out()));
  EXPECT_EQ((std::vector<std::string>{".DEFAULT", kHive}), subkeyNames(users.get()));
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
}

// A second process that loads, or holds a key inside the hive until told to let go.
QUARVEL_CHILD(hive_load) {
  holdPrivileges("SeRestorePrivilege");
  if (adjust(SE_RESTORE_NAME, true) != ERROR_SUCCESS) return 2;
  return RegLoadKeyA(HKEY_USERS, kHive, args.at(0).c_str()) == ERROR_SUCCESS ? 0 : 3;
}

QUARVEL_CHILD(hive_hold_key) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software", 0, KEY_READ, key.out()) != ERROR_SUCCESS) return 2;
  std::ofstream(file("holding")) << "yes";
  if (args.at(0) == "until-killed") {
    for (;;) Sleep(1000);
  }
  if (!quarveltest::eventually([] { return GetFileAttributesA(file("release").c_str()) != INVALID_FILE_ATTRIBUTES; }))
    return 3;
  return 0;
}

TEST_F(HiveTest, AHiveLoadedByOneProcessIsEveryProcessesUntilUnloaded) {
  const std::string hive = makeHive("user.dat");
  ASSERT_EQ(0, quarveltest::runChild("hive_load", {hive}));
  {
    ScopedKey vendor;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, "temp_user_hive\\Software\\Vendor", 0, KEY_READ, vendor.out()));
    EXPECT_EQ("from the hive", text(vendor.get(), "Setting"));
  }
  quarveltest::ChildProcess holder = quarveltest::startChild("hive_hold_key", {"until-released"});
  ASSERT_TRUE(quarveltest::eventually([] { return GetFileAttributesA(file("holding").c_str()) != INVALID_FILE_ATTRIBUTES; }));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegUnLoadKeyA(HKEY_USERS, kHive));
  std::ofstream(file("release")) << "yes";
  ASSERT_EQ(0, holder.wait());
  DeleteFileA(file("holding").c_str());

  // A holder that dies without closing its key does not keep the hive loaded.
  holder = quarveltest::startChild("hive_hold_key", {"until-killed"});
  ASSERT_TRUE(quarveltest::eventually([] { return GetFileAttributesA(file("holding").c_str()) != INVALID_FILE_ATTRIBUTES; }));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegUnLoadKeyA(HKEY_USERS, kHive));
  holder.kill(SIGKILL);
  holder.wait();
  EXPECT_EQ(ERROR_SUCCESS, RegUnLoadKeyA(HKEY_USERS, kHive));
}

}  // namespace
