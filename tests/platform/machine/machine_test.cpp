#include "platform/machine.h"
#include "platform/win_files.h"
#include "quarvel_test.h"
#include "windows.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
      {"jre\\bin\\server\\jvm.dll", "jre/bin/server/jvm.dll"},
      {"relative/file.txt", "relative/file.txt"},
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

TEST(PathMapping, RuntimeDirectoryLiesInTheRoot) {
  std::string dir = platform::runtimeDirectory();
  EXPECT_EQ(dir.rfind(platform::machineRoot(), 0), 0u);
  struct stat st;
  EXPECT_EQ(stat(dir.c_str(), &st), 0);
}

}  // namespace
