// The plug-in's version text and build date from its module file, and the start-up check
// against the version the installation wrote into the machine's registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "PluginState.h"
#include "VersionInfo.h"
#include "certcheck/VOQ_Configuration.h"

namespace {

std::string str(const VOQ_String& s) { return s.getLength() ? std::string(s.getData(), s.getLength()) : ""; }

const char kCompany[] = "VOQ. VUV-Oredaridez GmbH";
const char kProduct[] = "Tolmira";

// Writes a value of the plug-in's machine key, as the installation does.
void install(const std::string& subKey, DWORD type, const void* data, DWORD size) {
  const std::string path = std::string("SOFTWARE\\") + kCompany + "\\" + kProduct + "\\" + subKey;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Version", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}
void installText(const std::string& subKey, const std::string& text) {
  install(subKey, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// The plug-in's machine store as start-up makes it, over what was installed before.
class MachineStore {
 public:
  MachineStore() : store(kCompany, kProduct, HKEY_LOCAL_MACHINE) { hklmStore = &store; }
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
      {"Adobe Acrobat\\6.0", "2.21.0000", false},   {"Adobe Acrobat\\7.0", "2.21.0000 ", true},
      {"Adobe Acrobat\\8.0", "2.21", true},         {"Adobe Acrobat\\9.0", "2.21.0001", true},
      {"Acrobat Reader\\8.0", "2.21.0000", false},  {"Acrobat Reader\\9.0", nullptr, true},
      {"Acrobat Reader\\10.0", "", true},           {"Acrobat Reader\\11.0", "2.21.0000\t", true},
  };
  for (const Case& c : cases) {
    if (c.installed != nullptr) installText(c.subKey, c.installed);
  }
  const DWORD dword = 221;
  install("Adobe Acrobat\\10.0", REG_DWORD, &dword, sizeof dword);
  hostSubKey = "Adobe Acrobat\\6.0";
  EXPECT_TRUE(setVersionStrings("2.21.0000"));  // no store: nothing installed
  MachineStore machine;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subKey);
    hostSubKey = c.subKey;
    EXPECT_EQ(setVersionStrings("2.21.0000"), c.fails);
    EXPECT_EQ(str(getVersionString()), "2.21.0000");
  }
  hostSubKey = "Adobe Acrobat\\10.0";
  EXPECT_TRUE(setVersionStrings("2.21.0000"));  // a number is no version text
}

TEST(Version, TheModuleFileGivesTheVersionTextAndTheBuildDate) {
  // A file without version information: a failure, and both texts stay empty.
  EXPECT_TRUE(initVersionStringAndBuildTime("no-such-module.api"));
  EXPECT_EQ(str(getVersionString()), "");
  EXPECT_EQ(str(getBuildTimeString()), "");

  hostSubKey = "Adobe Acrobat\\10.0";
  installText(hostSubKey, "2.21.0000");
  MachineStore machine;
  EXPECT_FALSE(initVersionStringAndBuildTime(TOLMIRA_PATH));
  EXPECT_EQ(str(getVersionString()), "2.21.0000");
  EXPECT_TRUE(std::regex_match(str(getBuildTimeString()),
                               std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\\d \\d{4} "
                                          "\\d\\d:\\d\\d:\\d\\d")))
      << str(getBuildTimeString());
}

}  // namespace
