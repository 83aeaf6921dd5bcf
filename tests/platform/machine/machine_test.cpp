#include "platform/machine.h"
#include "quarvel_test.h"

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

TEST(PathMapping, RuntimeDirectoryLiesInTheRoot) {
  std::string dir = platform::runtimeDirectory();
  EXPECT_EQ(dir.rfind(platform::machineRoot(), 0), 0u);
  struct stat st;
  EXPECT_EQ(stat(dir.c_str(), &st), 0);
}

}  // namespace
