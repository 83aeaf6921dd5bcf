// The plug-in's version text and build date from its module file, and the start-up check
// against the version the installation wrote into the machine's registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "PluginState.h"
#include "TolmiraHost.h"
#include "VersionInfo.h"
#include "certcheck/VOQ_Configuration.h"

namespace {

std::string str(const VOQ_String& s) { return s.getLength() ? std::string(s.getData(), s.getLength()) : ""; }

// The plug-in's machine store as start-up makes it, over what was installed before.
class MachineStore {
 public:
  MachineStore() : store("VOQ. VUV-Oredaridez GmbH", "Tolmira", HKEY_LOCAL_MACHINE) { hklmStore = &store; }
  ~MachineStore() { hklmStore = nullptr; }

 private:
  VOQ_Configuration store;
};

// Every case has a host sub-key of its own; the store reads them all when it is made.
TEST(Version, TheInstalledVersionMustEqualTheFileVersionByteForByte) {
  struct Case {
    const char* subKey;
    const char* installed;  // nullptr: nothing installed
    bool fails;
  };
  const Case cases[] = {
      {"Adobe Acrobat\\6.0", pdftest::ownVersion(), false},
      {"Adobe Acrobat\\7.0", "2.21.0000 ", true},
      {"Adobe Acrobat\\8.0", "2.21", true},
      {"Adobe Acrobat\\9.0", "2.21.0001", true},
      {"Acrobat Reader\\8.0", pdftest::ownVersion(), false},
      {"Acrobat Reader\\9.0", nullptr, true},
      {"Acrobat Reader\\10.0", "", true},
      {"Acrobat Reader\\11.0", "2.21.0000\t", true},
  };
  for (const Case& c : cases) {
    if (c.installed != nullptr) pdftest::writeInstalledVersion(c.subKey, c.installed);
  }
  pdftest::writeInstalledVersion("Adobe Acrobat\\10.0", "", true);
  hostSubKey = "Adobe Acrobat\\6.0";
  EXPECT_TRUE(setVersionStrings(pdftest::ownVersion()));  // no store: nothing installed
  MachineStore machine;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subKey);
    hostSubKey = c.subKey;
    EXPECT_EQ(setVersionStrings(pdftest::ownVersion()), c.fails);
    EXPECT_EQ(str(getVersionString()), pdftest::ownVersion());
  }
  hostSubKey = "Adobe Acrobat\\10.0";
  EXPECT_TRUE(setVersionStrings(pdftest::ownVersion()));  // a number is no version text
}

TEST(Version, TheModuleFileGivesTheVersionTextAndTheBuildDate) {
  // A file without version information: a failure, and both texts stay empty.
  EXPECT_TRUE(initVersionStringAndBuildTime("no-such-module.api"));
  EXPECT_EQ(str(getVersionString()), "");
  EXPECT_EQ(str(getBuildTimeString()), "");

  hostSubKey = "Adobe Acrobat\\10.0";
  pdftest::writeInstalledVersion(hostSubKey, pdftest::ownVersion());
  MachineStore machine;
  // Loaded as the viewer loads it and kept for the process (its load-time state lives as
  // long as the module); start-up then names it by its bare file name.
  ASSERT_NE(LoadLibraryA(TOLMIRA_PATH), nullptr);
  EXPECT_FALSE(initVersionStringAndBuildTime("Tolmira.api"));
  EXPECT_EQ(str(getVersionString()), pdftest::ownVersion());
  EXPECT_TRUE(std::regex_match(str(getBuildTimeString()),
                               std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\\d \\d{4} "
                                          "\\d\\d:\\d\\d:\\d\\d")))
      << str(getBuildTimeString());
}

}  // namespace
