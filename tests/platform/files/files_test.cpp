// Windows paths, folders, environment strings and the C runtime's file calls.
#include <windows.h>
#include <io.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine.h"
#include "quarvel_test.h"

namespace {

bool hostDirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void writeHostFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Fixes the variables the Windows defaults depend on, and restores them afterwards.
class Environment : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
    setenv("USERNAME", "tester", 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

  static constexpr const char* kVariables[] = {
      "USERNAME", "TEMP", "TMP", "SystemRoot", "SYSTEMROOT", "windir", "WINDIR", "ProgramFiles", "APPDATA",
      "USERPROFILE", "LOCALAPPDATA", "SystemDrive", "QUARVEL_TEST_VAR", "QUARVEL_EMPTY_VAR"};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string expand(const char* text) {
  const DWORD needed = ExpandEnvironmentStringsA(text, nullptr, 0);
  std::string out(needed, '\0');
  EXPECT_EQ(ExpandEnvironmentStringsA(text, out.data(), needed), needed) << text;
  EXPECT_EQ(out.back(), '\0');
  out.pop_back();
  return out;
}

TEST_F(Environment, ExpandEnvironmentStringsTable) {
  setenv("QUARVEL_TEST_VAR", "abc", 1);
  setenv("QUARVEL_EMPTY_VAR", "", 1);
  const std::string temp = "C:\\Users\\tester\\AppData\\Local\\Temp";
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"%SystemRoot%\\system32", "C:\\WINDOWS\\system32"},
      {"%windir%", "C:\\WINDOWS"},
      {"%WINDIR%", "C:\\WINDOWS"},
      {"%SystemDrive%\\Users", "C:\\Users"},
      {"%ProgramFiles%\\Quarvel\\jre", "C:\\Program Files\\Quarvel\\jre"},
      {"%TEMP%\\java.txt", temp + "\\java.txt"},
      {"%TMP%", temp},
      {"%USERPROFILE%", "C:\\Users\\tester"},
      {"%APPDATA%\\Quarvel", "C:\\Users\\tester\\AppData\\Roaming\\Quarvel"},
      {"%QUARVEL_TEST_VAR%", "abc"},
      {"%quarvel_test_var%/%QUARVEL_TEST_VAR%", "abc/abc"},
      {"[%QUARVEL_EMPTY_VAR%]", "[]"},
      {"%NOT_A_VARIABLE%\\x", "%NOT_A_VARIABLE%\\x"},
      {"%NOT_A_VARIABLE%QUARVEL_TEST_VAR%", "%NOT_A_VARIABLEabc"},
      {"100%", "100%"},
      {"%%", "%%"},
      {"50% of %QUARVEL_TEST_VAR%", "50% of abc"},  // " of " is no variable; its closing '%' opens the next
      {"no variables", "no variables"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;

  // A variable of the process environment wins over the default.
  setenv("TEMP", "D:\\Scratch", 1);
  EXPECT_EQ(expand("%Temp%\\java.txt"), "D:\\Scratch\\java.txt");
}

TEST_F(Environment, ExpandEnvironmentStringsBufferSizes) {
  setenv("QUARVEL_TEST_VAR", "abcdef", 1);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  // "<abcdef>" needs 9 bytes with its terminator.
  EXPECT_EQ(ExpandEnvironmentStringsA("<%QUARVEL_TEST_VAR%>", buffer, 9), 9u);
  EXPECT_STREQ(buffer, "<abcdef>");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(ExpandEnvironmentStringsA("<%QUARVEL_TEST_VAR%>", buffer, 5), 9u);
  EXPECT_STREQ(buffer, "<abc") << "a short buffer holds a terminated prefix";
  EXPECT_EQ(buffer[5], 'x');
  EXPECT_EQ(ExpandEnvironmentStringsA("<%QUARVEL_TEST_VAR%>", nullptr, 0), 9u);
  EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Environment, GetEnvironmentVariableUsesTheSameDefaults) {
  char buffer[64];
  EXPECT_EQ(GetEnvironmentVariableA("windir", buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetEnvironmentVariableA("windir", buffer, 10), 11u);
  EXPECT_EQ(GetEnvironmentVariableA("QUARVEL_TEST_VAR", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  ASSERT_TRUE(SetEnvironmentVariableA("QUARVEL_TEST_VAR", "set"));
  EXPECT_EQ(GetEnvironmentVariableA("quarvel_test_var", buffer, sizeof buffer), 3u);
  EXPECT_EQ(expand("%QUARVEL_TEST_VAR%"), "set");
  ASSERT_TRUE(SetEnvironmentVariableA("QUARVEL_TEST_VAR", nullptr));
  EXPECT_EQ(GetEnvironmentVariableA("QUARVEL_TEST_VAR", buffer, sizeof buffer), 0u);
  EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
}

TEST_F(Environment, MachineFoldersAreWindowsPathsThatExist) {
  using Getter = std::function<DWORD(LPSTR, DWORD)>;
  struct Case {
    const char* name;
    Getter get;
    std::string expected;
  } cases[] = {
      {"system", [](LPSTR b, DWORD n) { return GetSystemDirectoryA(b, n); }, "C:\\WINDOWS\\system32"},
      {"windows", [](LPSTR b, DWORD n) { return GetWindowsDirectoryA(b, n); }, "C:\\WINDOWS"},
      {"temp", [](LPSTR b, DWORD n) { return GetTempPathA(n, b); }, "C:\\Users\\tester\\AppData\\Local\\Temp\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DWORD length = static_cast<DWORD>(c.expected.size());
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(c.get(buffer, length), length + 1) << "too small: the size needed";
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(c.get(nullptr, 0), length + 1);
    ASSERT_EQ(c.get(buffer, length + 1), length);
    EXPECT_EQ(std::string(buffer), c.expected);
    EXPECT_TRUE(hostDirectoryExists(platform::mapPath(buffer)));
    EXPECT_EQ(GetFileAttributesA(buffer), FILE_ATTRIBUTE_DIRECTORY);
  }

  // A file placed in the system directory is found through the Windows path.
  char system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  const std::string archive = std::string(system) + "\\Quarvel.esw";
  writeHostFile(platform::mapPath(archive.c_str()), "PK");
  EXPECT_EQ(platform::mapPath(archive.c_str()), quarveltest::machineRoot() + "/c/WINDOWS/system32/Quarvel.esw");
  EXPECT_EQ(GetFileAttributesA(archive.c_str()), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Environment, TempPathFollowsTmpAndTempWhenTheyHoldDrivePaths) {
  struct Case {
    const char* tmp;
    const char* temp;
    std::string expected;
  } cases[] = {
      {"D:\\Scratch", nullptr, "D:\\Scratch\\"},
      {nullptr, "C:\\Temp\\", "C:\\Temp\\"},
      {"E:/Mixed/Slashes", "C:\\Temp", "E:\\Mixed\\Slashes\\"},
      {"/tmp", nullptr, "C:\\Users\\tester\\AppData\\Local\\Temp\\"},  // a host path is not a Windows one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    if (c.tmp) setenv("TMP", c.tmp, 1); else unsetenv("TMP");
    if (c.temp) setenv("TEMP", c.temp, 1); else unsetenv("TEMP");
    char buffer[MAX_PATH];
    ASSERT_EQ(GetTempPathA(sizeof buffer, buffer), c.expected.size());
    EXPECT_EQ(std::string(buffer), c.expected);
    EXPECT_TRUE(hostDirectoryExists(platform::mapPath(buffer)));
  }
}

TEST(Files, AttributesDirectoriesAndDeletion) {
  // A fresh machine has its drive C even before anything was put there.
  ASSERT_TRUE(CreateDirectoryA("C:\\Programme", nullptr));
  ASSERT_TRUE(CreateDirectoryA("C:\\Programme\\Quarvel", nullptr));
  writeHostFile(platform::mapPath("C:\\Programme\\Quarvel\\JVM.esw"), "data");
  writeHostFile(platform::mapPath("C:\\Programme\\Quarvel\\ro.txt"), "data");
  chmod(platform::mapPath("C:\\Programme\\Quarvel\\ro.txt").c_str(), 0444);

  struct AttributeCase {
    const char* path;
    DWORD attributes;
    DWORD error;
  } attributeCases[] = {
      {"C:\\Programme\\Quarvel", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"c:/Programme/Quarvel/", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"C:\\Programme\\Quarvel\\JVM.esw", FILE_ATTRIBUTE_NORMAL, 0},
      {"C:\\Programme\\Quarvel\\ro.txt", FILE_ATTRIBUTE_READONLY, 0},
      {"C:\\Programme\\Quarvel\\jvm.ESW", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},  // host names keep case
      {"C:\\Programme\\Missing\\JVM.esw", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"C:\\Programme\\Quarvel\\JVM.esw\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : attributeCases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
  }
  EXPECT_EQ(GetFileAttributesA(quarveltest::machineRoot().c_str()), FILE_ATTRIBUTE_DIRECTORY) << "host paths pass";
  EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);

  struct ChangeCase {
    const char* what;
    BOOL (*call)(const char*);
    const char* path;
    DWORD error;  // 0: succeeds
  } changeCases[] = {
      {"create existing", [](const char* p) { return CreateDirectoryA(p, nullptr); }, "C:\\Programme", ERROR_ALREADY_EXISTS},
      {"create below missing", [](const char* p) { return CreateDirectoryA(p, nullptr); }, "C:\\No\\Such", ERROR_PATH_NOT_FOUND},
      {"delete a directory", DeleteFileA, "C:\\Programme\\Quarvel", ERROR_ACCESS_DENIED},
      {"delete missing", DeleteFileA, "C:\\Programme\\Quarvel\\none.txt", ERROR_FILE_NOT_FOUND},
      {"delete below missing", DeleteFileA, "C:\\No\\none.txt", ERROR_PATH_NOT_FOUND},
      {"remove non-empty", RemoveDirectoryA, "C:\\Programme\\Quarvel", ERROR_DIR_NOT_EMPTY},
      {"remove a file", RemoveDirectoryA, "C:\\Programme\\Quarvel\\JVM.esw", ERROR_DIRECTORY},
      {"delete file", DeleteFileA, "C:\\Programme\\Quarvel\\JVM.esw", 0},
      {"delete read-only file", DeleteFileA, "C:\\Programme\\Quarvel\\ro.txt", 0},
      {"remove empty", RemoveDirectoryA, "C:\\Programme\\Quarvel", 0},
  };
  for (const auto& c : changeCases) {
    SetLastError(0);
    const BOOL ok = c.call(c.path);
    EXPECT_EQ(ok, c.error ? FALSE : TRUE) << c.what;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
  }
  EXPECT_EQ(GetFileAttributesA("C:\\Programme\\Quarvel"), INVALID_FILE_ATTRIBUTES);
}

TEST(RuntimeFiles, StatAccessAndOpenTakeWindowsPaths) {
  ASSERT_TRUE(CreateDirectoryA("C:\\Data", nullptr));
  FILE* file = nullptr;
  ASSERT_EQ(fopen_s(&file, "C:\\Data\\Properties.esw", "wt"), 0);
  ASSERT_NE(file, nullptr);
  std::fputs("0123456789", file);
  std::fclose(file);
  EXPECT_TRUE(std::ifstream(quarveltest::machineRoot() + "/c/Data/Properties.esw").good());

  struct _stat st;
  ASSERT_EQ(_stat("C:\\Data\\Properties.esw", &st), 0);
  EXPECT_EQ(st.st_size, 10);
  EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFREG);
  EXPECT_NE(st.st_mtime, 0);
  ASSERT_EQ(_stat("c:\\data", &st), -1) << "host names keep their case";
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(_stat("C:\\Data", &st), 0);
  EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFDIR);

  EXPECT_EQ(_access("C:\\Data\\Properties.esw", 0), 0);
  EXPECT_EQ(_access("C:\\Data\\Properties.esw", 6), 0);
  EXPECT_EQ(_access("C:\\Data\\Missing.esw", 0), -1);
  EXPECT_EQ(_access("C:\\Data\\Properties.esw", 1), -1) << "mode 1 does not exist on Windows";

  struct ModeCase {
    const char* mode;
    bool opens;
  } modes[] = {{"rb", true}, {"r", true}, {"rt", true}, {"r, ccs=UTF-8", true}, {"rbS", true},
               {"r+b", true}, {"", false}, {"b", false}, {"q", false}};
  for (const auto& m : modes) {
    FILE* f = platform::openFile("C:\\Data\\Properties.esw", m.mode);
    EXPECT_EQ(f != nullptr, m.opens) << m.mode;
    if (f) {
      char text[16] = {};
      EXPECT_EQ(std::fread(text, 1, sizeof text, f), 10u) << m.mode;
      EXPECT_STREQ(text, "0123456789");
      std::fclose(f);
    }
  }

  FILE* shared = _fsopen("C:\\Data\\Properties.esw", "ab", _SH_DENYNO);
  ASSERT_NE(shared, nullptr);
  std::fputs("A", shared);
  std::fclose(shared);
  ASSERT_EQ(_stat("C:\\Data\\Properties.esw", &st), 0);
  EXPECT_EQ(st.st_size, 11);

  // "N": programs this one starts do not inherit the file; without it they do.
  for (const char* mode : {"rb", "rbN"}) {
    FILE* f = _fsopen("C:\\Data\\Properties.esw", mode, _SH_DENYNO);
    ASSERT_NE(f, nullptr) << mode;
    EXPECT_EQ((fcntl(fileno(f), F_GETFD) & FD_CLOEXEC) != 0, std::strchr(mode, 'N') != nullptr) << mode;
    std::fclose(f);
  }

  file = reinterpret_cast<FILE*>(1);
  EXPECT_EQ(fopen_s(&file, "C:\\Data\\Missing\\x.txt", "rb"), ENOENT);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(fopen_s(nullptr, "C:\\Data\\x.txt", "rb"), EINVAL);
  EXPECT_EQ(platform::openFile(nullptr, "rb"), nullptr);
}

}  // namespace
