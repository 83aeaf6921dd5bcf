// Other processes as Windows starts and watches them: the command line's words, the
// program search of CreateProcessA, process handles, the process snapshot,
// FindExecutableA over the classes of the registry, WaitForInputIdle, and
// PathUnquoteSpacesA.
#include "quarvel_test.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include "platform/machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string hostPath(const std::string& windowsPath) { return platform::mapPath(windowsPath.c_str()); }

// A shell script at a Windows path that writes its name and arguments to <out>.
void writeRecorder(const std::string& windowsPath, const std::string& out, const std::string& name) {
  const std::string path = hostPath(windowsPath);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "#!/bin/sh\n{ echo " << name << " $#; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > " << out
                      << ".part && mv " << out << ".part " << out << "\n";
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

TEST(ProcessTest, CommandLineWordsAndTheTailOfWinMain) {
  struct Row {
    const char* line;
    std::vector<std::string> words;
  };
  const std::vector<Row> rows = {
      {R"(prog a b)", {"prog", "a", "b"}},
      {R"("C:\Program Files\x.exe" "a b"  c)", {R"(C:\Program Files\x.exe)", "a b", "c"}},
      {R"(C:\dir\ "x\"y" a\\"b c" d\\\"e)", {R"(C:\dir\)", R"(x"y)", R"(a\b c)", R"(d\"e)"}},
      {R"(p "a""b" "" "c)", {"p", R"(a"b)", "", "c"}},
      {R"(p C:\trail\\ "d:\q\\")", {"p", R"(C:\trail\\)", R"(d:\q\)"}},
      {"", {""}},
  };
  for (const Row& row : rows) EXPECT_EQ(platform::splitCommandLine(row.line), row.words) << row.line;

  std::vector<std::string> args = {"Tavrin", "/a b/c.pdf", "plain", "with\ttab", "q\"uote"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  EXPECT_EQ(platform::commandLineTail(static_cast<int>(argv.size()), argv.data()),
            "\"/a b/c.pdf\" plain \"with\ttab\" q\"uote");
  EXPECT_EQ(platform::commandLineTail(1, argv.data()), "");
}

TEST(ProcessTest, CreateProcessFindsTheProgramByTheSearchRuleAndWatchesIt) {
  const std::string dir = quarveltest::makeTempDirectory("process");
  const std::string out = dir + "/out.txt";
  writeRecorder("C:\\Program Files\\Tool\\tool", out, "tool");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};

  // Quoted, the program is what the quotes hold; the words as the C runtime splits them.
  std::string line = "\"C:\\Program Files\\Tool\\tool\" \"a b\" c\\\"d";
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, "C:\\", &startup, &info));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(info.dwThreadId, info.dwProcessId);
  EXPECT_EQ(GetProcessId(info.hProcess), info.dwProcessId);
  EXPECT_EQ(readFile(out), "tool 2\n[a b]\n[c\"d]\n");
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);

  // Unquoted, each longer run of words is tried: a program planted at "C:\Program" wins.
  std::filesystem::remove(out);
  line = "C:\\Program Files\\Tool\\tool x";
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  WaitForSingleObject(info.hProcess, 20000);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  EXPECT_EQ(readFile(out), "tool 2\n[Files\\Tool\\tool]\n[x]\n");
  std::filesystem::remove(out);
  writeRecorder("C:\\Program", out, "planted");
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  WaitForSingleObject(info.hProcess, 20000);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  EXPECT_EQ(readFile(out).substr(0, 8), "planted ");

  // No such program; an environment of the caller's own is not supported.
  line = "\"C:\\nowhere\\tool\"";
  EXPECT_FALSE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  char environment[] = "A=1\0";
  EXPECT_FALSE(
      CreateProcessA("C:\\Program", nullptr, nullptr, nullptr, FALSE, 0, environment, nullptr, &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

QUARVEL_CHILD(reportCurrentDirectory) {
  std::ofstream(args.at(0)) << platform::currentDirectory();
  return 0;
}

// The child's current directory is the one CreateProcessA names (a relative one taken
// against the parent's), or the parent's; never a place outside the root.
TEST(ProcessTest, TheChildWorksInTheCurrentDirectoryItIsGiven) {
  const std::string root = platform::machineRoot();
  const std::string outside = quarveltest::makeTempDirectory("child-cwd");
  for (const char* dir : {"/c/Arbeit/Unter", "/c/Ziel", "/d", "/unc/server/share"})
    std::filesystem::create_directories(root + dir);
  char before[PATH_MAX];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_EQ(chdir((root + "/c/Arbeit").c_str()), 0);
  struct Case {
    const char* name;
    std::string directory;
    bool none;
    std::string expected;
  } cases[] = {
      {"a drive path", "C:\\Ziel", false, "C:\\Ziel"},
      {"relative to the parent's", "Unter", false, "C:\\Arbeit\\Unter"},
      {"dot-dot beyond the drive", "..\\..\\..\\..", false, "C:\\"},
      {"another drive", "D:", false, "D:\\"},
      {"a share", "\\\\server\\share", false, "\\\\server\\share"},
      {"a host path in the root", root + "/c/Ziel", false, "C:\\Ziel"},
      {"a host path outside the root", outside, false, "C:\\"},
      {"none: the parent's", "", true, "C:\\Arbeit"},
  };
  for (const Case& c : cases) {
    const std::string out = outside + "/report.txt";
    std::filesystem::remove(out);
    std::string line = "\"" + quarveltest::selfExecutable() + "\" --quarvel-child reportCurrentDirectory \"" + out + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                               c.none ? nullptr : c.directory.c_str(), &startup, &info))
        << c.name << " error " << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0) << c.name;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    EXPECT_EQ(readFile(out), c.expected) << c.name;
  }
  EXPECT_EQ(chdir(before), 0);
}

TEST(ProcessTest, SnapshotOpenProcessAndTerminate) {
  std::string line = "/bin/sleep 60";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  auto listed = [&] {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    std::string name;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (entry.th32ProcessID == info.dwProcessId) {
        name = entry.szExeFile;
        EXPECT_EQ(entry.th32ParentProcessID, GetCurrentProcessId());
      }
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    CloseHandle(snapshot);
    return name;
  };
  EXPECT_EQ(listed(), "sleep");
  HANDLE opened = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, info.dwProcessId);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_TRUE(TerminateProcess(info.hProcess, 7));
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(opened, 20000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(listed(), "");
  CloseHandle(opened);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);

  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0), nullptr);
  EXPECT_EQ(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0), INVALID_HANDLE_VALUE);
}

void setClassesDefault(const std::string& key, const std::string& value) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

TEST(ProcessTest, FindExecutableByTheClassesOfTheRegistry) {
  setClassesDefault(".pdf", "Viewer.Document");
  setClassesDefault("Viewer.Document\\shell\\open\\command", "\"C:\\Program Files\\Viewer\\viewer.exe\" \"%1\"");
  setClassesDefault(".txt", "txtfile");
  setClassesDefault("txtfile\\shell\\open\\command", "notepad.exe %1");
  setClassesDefault(".nocommand", "Empty.Class");
  std::filesystem::create_directories(hostPath("C:\\Docs"));
  for (const char* name : {"a b.pdf", "n.txt", "x.nocommand", "noext", "y.unknown"})
    std::ofstream(hostPath(std::string("C:\\Docs\\") + name)) << "x";
  struct Row {
    const char* file;
    const char* directory;
    INT_PTR code;
    const char* program;
  };
  const std::vector<Row> rows = {
      {"C:\\Docs\\a b.pdf", nullptr, 42, "C:\\Program Files\\Viewer\\viewer.exe"},
      {"a b.pdf", "C:\\Docs", 42, "C:\\Program Files\\Viewer\\viewer.exe"},
      {"C:\\Docs\\n.txt", nullptr, 42, "notepad.exe"},
      {"C:\\Docs\\missing.pdf", nullptr, SE_ERR_FNF, ""},
      {"", nullptr, SE_ERR_FNF, ""},
      {"C:\\Docs\\x.nocommand", nullptr, SE_ERR_NOASSOC, ""},
      {"C:\\Docs\\noext", nullptr, SE_ERR_NOASSOC, ""},
      {"C:\\Docs\\y.unknown", nullptr, SE_ERR_NOASSOC, ""},
  };
  for (const Row& row : rows) {
    char result[MAX_PATH] = "stale";
    const INT_PTR code = reinterpret_cast<INT_PTR>(FindExecutableA(row.file, row.directory, result));
    EXPECT_EQ(code > 32 ? 42 : code, row.code) << row.file;
    EXPECT_STREQ(result, row.program) << row.file;
  }
}

TEST(ProcessTest, WaitForInputIdleWaitsForTheFirstMessageWait) {
  const std::string dir = quarveltest::makeTempDirectory("idle");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  auto start = [&](const std::string& arguments, PROCESS_INFORMATION* info) {
    std::string line = std::string("\"") + QTEST_WINMAIN_PROGRAM + "\" " + arguments;
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, info) != FALSE;
  };
  // A Windows program that waits for messages: idle once it does; its command line as
  // the start-up code rebuilt it.
  PROCESS_INFORMATION waiting{};
  ASSERT_TRUE(start("\"" + dir + "/line\" \"a b\" c", &waiting));
  EXPECT_EQ(WaitForInputIdle(waiting.hProcess, 20000), 0u);
  EXPECT_EQ(readFile(dir + "/line"), dir + "/line \"a b\" c");
  // One that never asks for messages: the time runs out.
  PROCESS_INFORMATION stalled{};
  ASSERT_TRUE(start("\"" + dir + "/stall\" --stall", &stalled));
  ASSERT_TRUE(quarveltest::eventually([&] { return !readFile(dir + "/stall").empty(); }));
  EXPECT_EQ(WaitForInputIdle(stalled.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  // A program without WinMain: at once.
  std::string line = "/bin/sleep 60";
  PROCESS_INFORMATION plain{};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &plain));
  EXPECT_EQ(WaitForInputIdle(plain.hProcess, INFINITE), 0u);
  for (PROCESS_INFORMATION* info : {&waiting, &stalled, &plain}) {
    TerminateProcess(info->hProcess, 1);
    EXPECT_EQ(WaitForSingleObject(info->hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(info->hProcess);
    CloseHandle(info->hThread);
  }
}

TEST(ProcessTest, UnquotingPaths) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"\"/a b/c.pdf\"", "/a b/c.pdf"}, {"/a b.pdf /c.pdf", "/a b.pdf /c.pdf"}, {"\"a\" ", "\"a\" "},
      {"\"", "\""},                     {"\"\"", ""},                           {"\"a \"b\"", "a \"b"},
  };
  for (const auto& [in, out] : rows) {
    std::string text = in;
    EXPECT_EQ(PathUnquoteSpacesA(&text[0]) != FALSE, in != out) << in;
    EXPECT_STREQ(text.c_str(), out.c_str());
  }
}

}  // namespace
