#include "platform/machine.h"
#include "platform/win_files.h"
#include "quarvel_test.h"
#include "windows.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

namespace {

TEST(MachineRoot, EachTestProcessHasItsOwnExistingRoot) {
  std::string root = platform::machineRoot();
  EXPECT_EQ(root, quarveltest::machineRoot());
  EXPECT_NE(root.find("quarvel-test-"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(root.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(MachineRoot, ChildProcessSharesTheRoot) {
  EXPECT_EQ(quarveltest::runChild("print_root_check", {platform::machineRoot()}), 0);
}

QUARVEL_CHILD(print_root_check) { return args.at(0) == platform::machineRoot() ? 0 : 1; }

TEST(PathMapping, Table) {
  const std::string root = platform::machineRoot();
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"C:\\WINDOWS\\system32\\Quarvel.esw", root + "/c/WINDOWS/system32/Quarvel.esw"},
      {"c:/Program Files/Quarvel", root + "/c/Program Files/Quarvel"},
      {"D:\\", root + "/d/"},
      {"E:", root + "/e/"},
      {"x:rel\\file", root + "/x/rel/file"},
      {"\\Temp\\java.txt", root + "/c/Temp/java.txt"},
      {"/usr/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu"},
      // Relative: against the current directory, here C:\ (the test works outside the root).
      {"jre\\bin\\server\\jvm.dll", root + "/c/jre/bin/server/jvm.dll"},
      {"relative/file.txt", root + "/c/relative/file.txt"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::mapPath(c.in), c.out) << c.in;
  EXPECT_EQ(platform::mapPath(nullptr), "");
}

// Windows resolves "." and ".." inside the drive or share: no form of path may
// reach a host file outside the machine root.
TEST(PathMapping, WindowsPathsStayUnderTheRoot) {
  const std::string root = platform::machineRoot();
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"C:\\..\\..\\..\\etc\\passwd", root + "/c/etc/passwd"},
      {"C:..\\..\\x", root + "/c/x"},
      {"\\..\\..\\x", root + "/c/x"},
      {"C:/../../x", root + "/c/x"},
      {"C:\\WINDOWS\\system32\\..\\..\\..\\x", root + "/c/x"},
      {"C:\\WINDOWS\\system32\\..\\Temp\\.\\a.txt", root + "/c/WINDOWS/Temp/a.txt"},
      {"C:\\a\\..", root + "/c/"},
      {"C:\\\\a\\\\\\b\\", root + "/c/a/b/"},
      {"d:\\x\\...\\y", root + "/d/x/.../y"},
      {"\\\\?\\C:\\x", root + "/c/x"},
      {"\\\\?\\C:\\..\\..\\x", root + "/c/x"},
      {"\\\\.\\C:\\x", root + "/c/x"},
      {"\\\\server\\share\\x", root + "/unc/server/share/x"},
      {"\\\\server\\share\\..\\..\\x", root + "/unc/server/share/x"},
      {"\\\\server\\share", root + "/unc/server/share"},
      {"\\\\server", root + "/unc/server"},
      {"\\\\?\\UNC\\server\\share\\x", root + "/unc/server/share/x"},
      {"\\\\.\\..\\..\\x", ""},
      {"\\\\.\\PIPE\\x", ""},
      {"\\\\.\\COM1", ""},
      {"\\\\?\\Volume{1}\\x", ""},
      {"\\\\..\\x", ""},
      {"\\\\server\\..\\x", ""},
      {"\\\\", ""},
      {"/etc/passwd", "/etc/passwd"},
      {"/usr/lib/../lib", "/usr/lib/../lib"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::mapPath(c.in), c.out) << c.in;

  // Through the file functions: the host's own files stay out of reach.
  struct _stat st;
  for (const char* p : {"C:\\..\\..\\..\\..\\..\\..\\etc\\passwd", "C:..\\..\\..\\..\\..\\..\\etc\\passwd",
                        "\\..\\..\\..\\..\\..\\..\\etc\\passwd", "C:/../../../../../../etc/passwd",
                        "\\\\.\\..\\..\\..\\..\\..\\..\\etc\\passwd", "\\\\?\\C:\\..\\..\\..\\..\\etc\\passwd"}) {
    EXPECT_NE(_stat(p, &st), 0) << p;
    EXPECT_EQ(GetFileAttributesA(p), INVALID_FILE_ATTRIBUTES) << p;
  }
  FILE* written = platform::openFile("C:\\WINDOWS\\..\\..\\..\\escape.txt", "w");
  ASSERT_NE(written, nullptr);
  std::fclose(written);
  EXPECT_EQ(stat((root + "/c/escape.txt").c_str(), &st), 0);
  EXPECT_EQ(platform::openFile("\\\\.\\PIPE\\x", "w"), nullptr);
}

// Works in a host directory for one test and goes back afterwards.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& dir) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) before_ = cwd;
    std::filesystem::create_directories(dir);
    EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
  }
  ~WorkingDirectory() { EXPECT_EQ(chdir(before_.c_str()), 0); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::string before_;
};

TEST(CurrentDirectory, TheWorkingDirectoryMappedBackElseTheRootOfC) {
  const std::string root = platform::machineRoot();
  const std::string outside = quarveltest::makeTempDirectory("cwd");
  struct Case {
    std::string host;
    std::string windows;
  } cases[] = {
      {root + "/c", "C:\\"},
      {root + "/c/Programme/Quarvel", "C:\\Programme\\Quarvel"},
      {root + "/d/Daten", "D:\\Daten"},
      {root + "/unc/server/share", "\\\\server\\share"},
      {root + "/unc/server/share/Ordner", "\\\\server\\share\\Ordner"},
      // In the root but no drive or share of it, or a name Windows cannot spell.
      {root, "C:\\"},
      {root + "/registry", "C:\\"},
      {root + "/unc/server", "C:\\"},
      {root + "/C/Gross", "C:\\"},
      {root + "/c/a\\b", "C:\\"},
      {root + "/c/x:y", "C:\\"},
      {outside, "C:\\"},
      {"/", "C:\\"},
  };
  for (const Case& c : cases) {
    WorkingDirectory in(c.host);
    EXPECT_EQ(platform::currentDirectory(), c.windows) << c.host;
  }
  // The root reached through a link is the same root.
  const std::string link = outside + "/link";
  ASSERT_EQ(symlink(root.c_str(), link.c_str()), 0);
  WorkingDirectory through(link + "/c/Programme");
  EXPECT_EQ(platform::currentDirectory(), "C:\\Programme");
}

// Relative, drive-relative and rooted paths are taken against the current directory
// and stay in the drive or share, however many ".." they hold.
TEST(PathMapping, RelativePathsResolveAgainstTheCurrentDirectoryInTheRoot) {
  const std::string root = platform::machineRoot();
  struct Case {
    const char* in;
    std::string out;
  };
  {
    WorkingDirectory in(root + "/c/Arbeit/Tief");
    const Case cases[] = {
        {"a.txt", root + "/c/Arbeit/Tief/a.txt"},
        {".\\a.txt", root + "/c/Arbeit/Tief/a.txt"},
        {".", root + "/c/Arbeit/Tief"},
        {"..\\x", root + "/c/Arbeit/x"},
        {"..\\..\\..\\etc\\passwd", root + "/c/etc/passwd"},
        {"../../../../../../etc/passwd", root + "/c/etc/passwd"},
        {"C:a", root + "/c/Arbeit/Tief/a"},
        {"c:..\\..\\..\\..\\x", root + "/c/x"},
        {"C:", root + "/c/Arbeit/Tief/"},
        {"D:a", root + "/d/a"},  // another drive: its root
        {"D:..\\..\\x", root + "/d/x"},
        {"\\x", root + "/c/x"},
        {"\\..\\..\\x", root + "/c/x"},
        {"\\\\server\\share\\..\\..\\..\\x", root + "/unc/server/share/x"},
        {"/etc/passwd", "/etc/passwd"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::mapPath(c.in), c.out) << c.in;
  }
  {
    WorkingDirectory in(root + "/unc/server/share/Ordner");
    const Case cases[] = {
        {"a.txt", root + "/unc/server/share/Ordner/a.txt"},
        {"..\\..\\..\\..\\x", root + "/unc/server/share/x"},
        {"\\x", root + "/unc/server/share/x"},
        {"\\..\\..\\x", root + "/unc/server/share/x"},
        {"C:x", root + "/c/x"},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::mapPath(c.in), c.out) << c.in;
  }
  {
    // A host working directory outside the root: relative paths no longer reach the
    // host's files around it.
    WorkingDirectory in("/usr/share");
    const Case cases[] = {
        {"..\\..\\etc\\passwd", root + "/c/etc/passwd"},
        {"../../etc/passwd", root + "/c/etc/passwd"},
        {"C:..\\..\\etc\\passwd", root + "/c/etc/passwd"},
        {"doc", root + "/c/doc"},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::mapPath(c.in), c.out) << c.in;
    struct _stat st;
    for (const char* p : {"..\\..\\etc\\passwd", "../../etc/passwd", "C:..\\..\\etc\\passwd", "..\\..\\etc",
                          "\\..\\..\\etc\\passwd"}) {
      EXPECT_NE(_stat(p, &st), 0) << p;
      EXPECT_EQ(GetFileAttributesA(p), INVALID_FILE_ATTRIBUTES) << p;
    }
    FILE* written = platform::openFile("..\\..\\..\\written.txt", "w");
    ASSERT_NE(written, nullptr);
    std::fclose(written);
    EXPECT_EQ(stat((root + "/c/written.txt").c_str(), &st), 0);
  }
}

TEST(PathMapping, RuntimeDirectoryLiesInTheRoot) {
  std::string dir = platform::runtimeDirectory();
  EXPECT_EQ(dir.rfind(platform::machineRoot(), 0), 0u);
  struct stat st;
  EXPECT_EQ(stat(dir.c_str(), &st), 0);
}

}  // namespace
