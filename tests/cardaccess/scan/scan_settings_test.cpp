// The Reader0 settings as the scan reads and writes them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/scan/CwxReaderScan.h"

namespace {

struct Stored {
  const char* name;
  DWORD type;
  std::string bytes;  // exactly as stored, terminator or not
};

void store(const std::vector<Stored>& values) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  for (const Stored& v : values)
    ASSERT_EQ(RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.bytes.data()),
                             static_cast<DWORD>(v.bytes.size())),
              ERROR_SUCCESS);
  RegCloseKey(key);
}

// The value's type and exact bytes; type 0 when it is missing.
Stored stored(const char* name) {
  Stored out{name, 0, ""};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string bytes(size, '\0');
    RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]), &size);
    out.type = type;
    out.bytes = bytes.substr(0, size);
  }
  RegCloseKey(key);
  return out;
}

std::string z(const std::string& text) { return text + '\0'; }

TEST(ReaderSettings, NoKeyNoChoice) {
  CwxReaderScan scan;
  EXPECT_EQ(scan.getChoice(), nullptr);
}

struct LoadCase {
  const char* name;
  std::vector<Stored> values;
  std::string readerName, port, ctapi;
  unsigned char isSecure, useGUI;
};

class ReaderSettingsLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(ReaderSettingsLoad, ReadsTheStoredChoice) {
  const LoadCase& c = GetParam();
  store(c.values);
  CwxReaderScan scan;
  ASSERT_NE(scan.getChoice(), nullptr);
  EXPECT_EQ(scan.getChoice()->getReaderName(), c.readerName);
  EXPECT_EQ(scan.getChoice()->getPort(), c.port);
  EXPECT_EQ(scan.getChoice()->getCTAPI(), c.ctapi);
  EXPECT_EQ(scan.getChoice()->getSecure(), c.isSecure);
  EXPECT_EQ(scan.getChoice()->getUseGUI(), c.useGUI);
}

const std::string k255(255, 'R');

INSTANTIATE_TEST_SUITE_P(
    Values, ReaderSettingsLoad,
    testing::Values(
        LoadCase{"Complete",
                 {{"ReaderName", REG_SZ, z("Kobil Kaan Professional")}, {"Port", REG_SZ, z("2")},
                  {"ctapi", REG_SZ, z("CT-API KOBIL Systems")}, {"isSecure", REG_SZ, z("Yes")},
                  {"UseGUI", REG_SZ, z("Yes")}},
                 "Kobil Kaan Professional", "2", "CT-API KOBIL Systems", 1, 1},
        // Only "Yes" exactly sets a flag.
        LoadCase{"LowerCaseYes",
                 {{"ctapi", REG_SZ, z("PCSC")}, {"isSecure", REG_SZ, z("yes")}, {"UseGUI", REG_SZ, z("YES")}},
                 "", "", "PCSC", 0, 0},
        // Stored without terminator, as earlier versions wrote them.
        LoadCase{"NoTerminators",
                 {{"ReaderName", REG_SZ, "Quarvel Sim Reader 00 00"}, {"ctapi", REG_SZ, "PCSC"},
                  {"UseGUI", REG_SZ, "Yes"}},
                 "Quarvel Sim Reader 00 00", "", "PCSC", 0, 1},
        // 255 characters fit the buffer but not the record: the record keeps 254.
        LoadCase{"LongestNameWithoutTerminator", {{"ReaderName", REG_SZ, k255}}, k255.substr(0, 254), "", "", 0, 0},
        LoadCase{"NameFillingTheBuffer", {{"ReaderName", REG_SZ, z(k255)}}, "", "", "", 0, 0},
        LoadCase{"PortTooLong", {{"Port", REG_SZ, z("123456789")}, {"ctapi", REG_SZ, z("CT-API SCM")}}, "", "",
                 "CT-API SCM", 0, 0},
        LoadCase{"LongestPort", {{"Port", REG_SZ, z("12345678")}}, "", "12345678", "", 0, 0},
        LoadCase{"NotText", {{"Port", REG_DWORD, std::string("\x02\0\0\0", 4)}, {"ctapi", REG_BINARY, z("PCSC")}}, "",
                 "", "", 0, 0}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

class ReaderSettingsSave : public testing::TestWithParam<unsigned char> {};

TEST_P(ReaderSettingsSave, WritesFourTextsWithTerminatorsAndLeavesIsSecure) {
  store({{"isSecure", REG_SZ, z("No")}, {"ShareMode", REG_SZ, z("2")}});
  const unsigned char useGUI = GetParam();
  {
    CwxReaderScan scan;
    scan.setChoice(ReaderChoice("Omnikey Cardman", "3", "CT-API Cardman", 1, useGUI));
    scan.setChoice(*scan.getChoice());  // its own record: copied before the old one goes
    scan.saveReaderSettings();
  }
  EXPECT_EQ(stored("ReaderName").bytes, z("Omnikey Cardman"));
  EXPECT_EQ(stored("Port").bytes, z("3"));
  EXPECT_EQ(stored("ctapi").bytes, z("CT-API Cardman"));
  EXPECT_EQ(stored("UseGUI").bytes, z(useGUI ? "Yes" : "No"));
  for (const char* name : {"ReaderName", "Port", "ctapi", "UseGUI"}) EXPECT_EQ(stored(name).type, REG_SZ) << name;
  EXPECT_EQ(stored("isSecure").bytes, z("No"));
  EXPECT_EQ(stored("ShareMode").bytes, z("2"));
  // A new scan reads them back.
  CwxReaderScan again;
  ASSERT_NE(again.getChoice(), nullptr);
  EXPECT_STREQ(again.getChoice()->getReaderName(), "Omnikey Cardman");
  EXPECT_EQ(again.getChoice()->getUseGUI(), useGUI);
}

INSTANTIATE_TEST_SUITE_P(UseGUI, ReaderSettingsSave, testing::Values(0, 1));

TEST(ReaderSettings, SaveWithoutChoiceWritesNothing) {
  CwxReaderScan scan;
  scan.saveReaderSettings();
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

}  // namespace

namespace {

// This test program carries no dialog resource: the dialog cannot be made, and the
// stored choice stays as it was.
TEST(ReaderSettings, NoDialogResourceNothingWritten) {
  store({{"ctapi", REG_SZ, z("PCSC")}, {"ReaderName", REG_SZ, z("Quarvel Sim Reader")}});
  CwxReaderScan scan;
  scan.setChoice(ReaderChoice("Other", "", "PCSC", 1, 1));
  EXPECT_EQ(scan.displayReaderDialog(), -1);
  EXPECT_EQ(stored("ReaderName").bytes, z("Quarvel Sim Reader"));
  EXPECT_EQ(stored("UseGUI").type, 0u);
}

}  // namespace
