// The quarvel-reg tool, run as a separate process on this test's machine root.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/registry_test.h"
#include "quarvel_test.h"
#include "registry_helpers.h"

namespace {

using regtest::bytes;
using regtest::bytesWithNul;
using regtest::createKey;
using regtest::getValue;
using regtest::ScopedKey;

constexpr const char* kKeyPath = "HKCU\\Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";
constexpr const char* kSubKey = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

struct ToolResult {
  int status = -1;
  std::string out;
};

ToolResult runTool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{QUARVEL_REG_TOOL};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  ToolResult result;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

struct TypeCase {
  const char* name;
  std::vector<std::string> setArgs;  // type and data as given to "set"
  DWORD type;
  std::vector<BYTE> stored;
  std::string printed;  // what "get --type" prints
};

const std::vector<TypeCase>& typeCases() {
  static const std::vector<TypeCase> cases = {
      {"Text", {"REG_SZ", "C:\\Programme\\Quarvel"}, REG_SZ, bytesWithNul("C:\\Programme\\Quarvel"),
       "REG_SZ\nC:\\Programme\\Quarvel\n"},
      {"EmptyText", {"REG_SZ", ""}, REG_SZ, bytesWithNul(""), "REG_SZ\n\n"},
      {"Expand", {"reg_expand_sz", "%TEMP%\\java.txt"}, REG_EXPAND_SZ, bytesWithNul("%TEMP%\\java.txt"),
       "REG_EXPAND_SZ\n%TEMP%\\java.txt\n"},
      {"Multi", {"REG_MULTI_SZ", "eins", "zwei drei"}, REG_MULTI_SZ, bytes(std::string("eins\0zwei drei\0\0", 16)),
       "REG_MULTI_SZ\neins\nzwei drei\n"},
      {"Dword", {"REG_DWORD", "42"}, REG_DWORD, {42, 0, 0, 0}, "REG_DWORD\n42\n"},
      {"DwordHex", {"REG_DWORD", "0x12345678"}, REG_DWORD, {0x78, 0x56, 0x34, 0x12}, "REG_DWORD\n305419896\n"},
      {"DwordMinusOne", {"REG_DWORD", "-1"}, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, "REG_DWORD\n4294967295\n"},
      {"Qword", {"REG_QWORD", "0x0102030405060708"}, REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1},
       "REG_QWORD\n72623859790382856\n"},
      {"Binary", {"REG_BINARY", "00ff10Ab"}, REG_BINARY, {0x00, 0xFF, 0x10, 0xAB}, "REG_BINARY\n00ff10ab\n"},
      {"EmptyBinary", {"REG_BINARY"}, REG_BINARY, {}, "REG_BINARY\n\n"},
      {"None", {"REG_NONE", "01 02"}, REG_NONE, {1, 2}, "REG_NONE\n0102\n"},
      {"", {"REG_SZ", "default"}, REG_SZ, bytesWithNul("default"), "REG_SZ\ndefault\n"},
  };
  return cases;
}

TEST(RegistryTool, SetsValuesOfEveryTypeThatTheApiReads) {
  for (const auto& c : typeCases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"set", kKeyPath, c.name};
    args.insert(args.end(), c.setArgs.begin(), c.setArgs.end());
    ASSERT_EQ(runTool(args).status, 0);
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSubKey, 0, KEY_READ, key.out()), ERROR_SUCCESS);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_EQ(getValue(key.get(), c.name, data, &type), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.stored);
  }
}

TEST(RegistryTool, ReadsValuesOfEveryTypeThatTheApiWrote) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kSubKey, key), ERROR_SUCCESS);
  for (const auto& c : typeCases()) ASSERT_EQ(regtest::setValue(key.get(), c.name, c.type, c.stored), ERROR_SUCCESS);
  for (const auto& c : typeCases()) {
    SCOPED_TRACE(c.name);
    ToolResult r = runTool({"get", "--type", kKeyPath, c.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.printed);
  }
  // Text stored without its terminator, and a number of the wrong size.
  ASSERT_EQ(regtest::setValue(key.get(), "Bare", REG_SZ, bytes("bare")), ERROR_SUCCESS);
  ASSERT_EQ(regtest::setValue(key.get(), "Short", REG_DWORD, {1, 2}), ERROR_SUCCESS);
  EXPECT_EQ(runTool({"get", kKeyPath, "Bare"}).out, "bare\n");
  EXPECT_EQ(runTool({"get", kKeyPath, "Short"}).out, "0102\n");
}

TEST(RegistryTool, ListsDeletesAndReportsFailures) {
  ASSERT_EQ(runTool({"set", kKeyPath, "Verbose", "REG_SZ", "1"}).status, 0);
  ASSERT_EQ(runTool({"set", kKeyPath, "LogLevel", "REG_DWORD", "3"}).status, 0);
  ASSERT_EQ(runTool({"create-key", std::string(kKeyPath) + "\\Trace"}).status, 0);
  ASSERT_EQ(runTool({"set", "HKEY_CURRENT_USER\\software\\voq. vuv-oredaridez gmbh\\quarvel\\trace", "Filename",
                     "REG_SZ", "C:\\trace.txt"})
                .status,
            0);

  EXPECT_EQ(runTool({"list", kKeyPath}).out, "key\tTrace\nvalue\tVerbose\tREG_SZ\t1\nvalue\tLogLevel\tREG_DWORD\t3\n");

  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"get", kKeyPath, "Missing"}, 1},
      {{"get", "HKCU\\Software\\Missing", "x"}, 1},
      {{"delete", kKeyPath, "Missing"}, 1},
      {{"delete-key", std::string(kKeyPath) + "\\Missing"}, 1},
      {{"delete-key", kKeyPath}, 3},  // it still has the subkey Trace
      {{"get", "HKXX\\Software", "x"}, 2},
      {{"set", kKeyPath, "x", "REG_DWORD", "4294967296"}, 2},
      {{"set", kKeyPath, "x", "REG_DWORD", "12abc"}, 2},
      {{"set", kKeyPath, "x", "REG_BINARY", "abc"}, 2},
      {{"set", kKeyPath, "x", "REG_WHATEVER", "1"}, 2},
      {{"frobnicate"}, 2},
      {{}, 2},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(runTool(c.args).status, c.status) << joined;
  }

  EXPECT_EQ(runTool({"delete", kKeyPath, "verbose"}).status, 0);
  EXPECT_EQ(runTool({"delete-key", "--tree", kKeyPath}).status, 0);
  ScopedKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSubKey, 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
}

// Every entry of "list" is one line of tab-separated fields, whatever bytes the
// names and data hold: control characters and the escape character are escaped.
TEST(RegistryTool, ListEscapesWhatWouldPassForFieldsOrLines) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kSubKey, key), ERROR_SUCCESS);
  struct Case {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
    std::string line;  // as "list" prints it
  } cases[] = {
      {"Plain", REG_SZ, bytesWithNul("C:\\trace.txt"), "value\tPlain\tREG_SZ\tC:\\\\trace.txt"},
      {"Lines", REG_SZ, bytesWithNul("a\nvalue\tFake\tREG_SZ\tevil"), "value\tLines\tREG_SZ\ta\\nvalue\\tFake\\tREG_SZ\\tevil"},
      {"Name\nvalue\tFake", REG_SZ, bytesWithNul("x"), "value\tName\\nvalue\\tFake\tREG_SZ\tx"},
      {"Tab\there", REG_EXPAND_SZ, bytesWithNul("%A%\r\n"), "value\tTab\\there\tREG_EXPAND_SZ\t%A%\\r\\n"},
      {"Controls", REG_SZ, bytesWithNul(std::string("\x01\x1b[2J\x7f", 6)), "value\tControls\tREG_SZ\t\\x01\\x1b[2J\\x7f"},
      {"Texts", REG_MULTI_SZ, bytes(std::string("one\ntwo\0\\0\0\0", 11)), "value\tTexts\tREG_MULTI_SZ\tone\\ntwo\\0\\\\0"},
      {"Umlaut", REG_SZ, bytesWithNul("Gr\xc3\xbc\xc3\x9f"), "value\tUmlaut\tREG_SZ\tGr\xc3\xbc\xc3\x9f"},
  };
  std::string expected = "key\tSub\\nkey\\tFake\n";
  ScopedKey sub;
  ASSERT_EQ(createKey(key.get(), "Sub\nkey\tFake", sub), ERROR_SUCCESS);
  for (const Case& c : cases) {
    ASSERT_EQ(regtest::setValue(key.get(), c.name.c_str(), c.type, c.data), ERROR_SUCCESS) << c.name;
    expected += c.line + "\n";
  }
  const ToolResult listed = runTool({"list", kKeyPath});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, expected);
}

TEST(RegistryTool, HonoursStandardUserMode) {
  platform::registry::setStandardUser(true);
  const ToolResult denied = runTool({"set", "HKLM\\Software\\Quarvel", "InstallDir", "REG_SZ", "C:\\x"});
  platform::registry::setStandardUser(false);
  EXPECT_EQ(denied.status, 3);
  EXPECT_EQ(runTool({"set", "HKLM\\Software\\Quarvel", "InstallDir", "REG_SZ", "C:\\x"}).status, 0);
  platform::registry::setStandardUser(true);
  const ToolResult read = runTool({"get", "HKLM\\Software\\Quarvel", "InstallDir"});
  platform::registry::setStandardUser(false);
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.out, "C:\\x\n");
}

TEST(RegistryTool, SavesAHiveFileThatLoads) {
  ASSERT_EQ(runTool({"set", "HKCU\\Profile\\Software", "Name", "REG_SZ", "Erika"}).status, 0);
  const std::string hive = quarveltest::machineRoot() + "/profile.dat";
  // Saving asks for the backup privilege, which a standard user does not hold.
  platform::registry::setStandardUser(true);
  EXPECT_EQ(runTool({"save", "HKCU\\Profile", hive}).status, 3);
  platform::registry::setStandardUser(false);
  ASSERT_EQ(runTool({"save", "HKCU\\Profile", hive}).status, 0);
  EXPECT_EQ(runTool({"save", "HKCU\\Profile", hive}).status, 3);  // never over an existing file

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES restore{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &restore.Privileges[0].Luid));
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &restore, 0, nullptr, nullptr));
  CloseHandle(token);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Erika", hive.c_str()), ERROR_SUCCESS);
  const ToolResult read = runTool({"get", "HKU\\Erika\\Software", "Name"});
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.out, "Erika\n");
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Erika"), ERROR_SUCCESS);
}

}  // namespace
