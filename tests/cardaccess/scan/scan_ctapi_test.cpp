// The scan of the CT-API terminals, with the test bed's driver installed under the
// six file names the scan knows; and the reader settings it reads and writes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CardTestSupport.h"
#include "EswWriter.h"
#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/scan/CwxReaderScan.h"
#include "platform/machine.h"
#include "scan_test_support.h"

using scantest::DialogUser;
using scantest::DriverBed;
using scantest::terminal;

namespace {

std::string hexOf(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 0xF];
  }
  return out;
}

// The row the scan writes for a terminal: port, PIN-pad flag, maker text, its hex.
std::string row(int port, bool pinPad, const std::string& maker) {
  std::string text = maker + std::string(15 - maker.size(), ' ');
  std::string hex = hexOf(maker);
  return std::to_string(port) + (pinPad ? "1" : "0") + text + hex + std::string(30 - hex.size(), '0');
}

std::vector<std::string> scanRows(CwxReaderScan& scan, int* countOut = nullptr) {
  int count = -1;
  scan.CT_query(nullptr, &count, scan.getCTAPIRows());
  if (countOut) *countOut = count;
  std::vector<std::string> rows;
  for (int i = 0; i < count; ++i)
    rows.emplace_back(scan.getCTAPIRows() + i * CwxReaderScan::kCTAPIRowLength, CwxReaderScan::kCTAPIRowLength);
  return rows;
}

class CtApiScan : public testing::Test {
 protected:
  DriverBed drivers;
  CwxReaderScan scan;
};

TEST_F(CtApiScan, ListsEachAnsweringTerminalOnItsPort) {
  drivers.configure(terminal("ctrsct32.dll", 1, "\"DESCTCJPPA V3.0\"", "  units \"43 44 50\"\n") +
                    terminal("ctrsct32.dll", 3, "\"DESCTECUSB V2.0\"", "  units \"43 44\"\n") +
                    terminal("CT_Signator.dll", 9, "\"DEUTICM   04.00\"", "  units \"01 50 40\"\n"));
  EXPECT_EQ(scanRows(scan), (std::vector<std::string>{row(1, true, "DESCTCJPPA V3.0"), row(3, false, "DESCTECUSB V2.0"),
                                                      row(9, true, "DEUTICM   04.00")}));
  // Every port of every driver was tried; only the opened ones were closed again.
  EXPECT_EQ(drivers.calls("CT_init").size(), 6u * 9u);
  EXPECT_EQ(drivers.calls("ctrsct32.dll: CT_close ctn=1 rc=0").size(), 1u);
  EXPECT_EQ(drivers.calls("ctrsct32.dll: CT_close ctn=3 rc=0").size(), 1u);
  EXPECT_EQ(drivers.calls("CT_Signator.dll: CT_close ctn=9 rc=0").size(), 1u);
  EXPECT_EQ(drivers.calls("CT_close").size(), 3u);
  // The terminal was asked for its units with dad 1 and sad 2.
  EXPECT_EQ(drivers.calls("ctrsct32.dll: CT_data ctn=1 dad=1 sad=2 cmd=2013008100").size(), 1u);
}

struct MakerCase {
  const char* name;
  const char* config;  // the maker line's value
  std::string maker;   // what the row shows
};

class CtApiMaker : public CtApiScan, public testing::WithParamInterface<MakerCase> {};

TEST_P(CtApiMaker, RowShowsTheMakerText) {
  drivers.configure(terminal("ct32.dll", 2, GetParam().config));
  EXPECT_EQ(scanRows(scan), std::vector<std::string>{row(2, true, GetParam().maker)});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CtApiMaker,
    testing::Values(MakerCase{"Fifteen", "\"DExxxCT399V2.08\"", "DExxxCT399V2.08"},  // 19 bytes with tag and status
                    MakerCase{"Ten", "DExxxCT399", "DExxxCT399"},                      // 14 bytes
                    MakerCase{"Twenty", "DExxxCT399V2.08ABCDE", "DExxxCT399V2.08"},
                    MakerCase{"ZeroInside", "\"hex:41 42 00 43\"", "AB"},
                    MakerCase{"Empty", "\"\"", ""}),
    [](const testing::TestParamInfo<MakerCase>& info) { return std::string(info.param.name); });

struct MalformedCase {
  const char* name;
  const char* lines;   // more configuration of the terminal
  bool listed;
  bool pinPad;
  std::string maker;
};

class CtApiMalformed : public CtApiScan, public testing::WithParamInterface<MalformedCase> {};

// Answers are the terminal's: lengths that claim more than was returned, answers cut
// short or longer than the buffer never make the scan read past what it got.
TEST_P(CtApiMalformed, ReadsNoMoreThanTheTerminalReturned) {
  const MalformedCase& c = GetParam();
  drivers.configure(terminal("ChyCTApiSp.dll", 4, "DExxxCT399", c.lines));
  const std::vector<std::string> rows = scanRows(scan);
  if (!c.listed) {
    EXPECT_TRUE(rows.empty());
  } else {
    EXPECT_EQ(rows, std::vector<std::string>{row(4, c.pinPad, c.maker)});
  }
  EXPECT_EQ(drivers.calls("ChyCTApiSp.dll: CT_close ctn=4 rc=0").size(), 1u);
}

const std::string kLongUnits = "  units \"" + [] {
  std::string hex;
  for (int i = 0; i < 250; ++i) hex += "43 ";
  return hex;
}() + "\"\n  short-objects yes\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, CtApiMalformed,
    testing::Values(
        MalformedCase{"UnitsLengthBeyondAnswer", "  units \"43 44\"\n  short-objects yes\n", true, false, "DExxxCT399"},
        MalformedCase{"UnitsLength255", kLongUnits.c_str(), true, false, "DExxxCT399"},
        MalformedCase{"PadWithinShortObject", "  units \"50\"\n  short-objects yes\n", true, true, "DExxxCT399"},
        MalformedCase{"UnitsEmptyAnswer", "  fault \"call=1 lenr=0\"\n", true, false, "DExxxCT399"},
        MalformedCase{"UnitsOneByte", "  fault \"call=1 lenr=1\"\n", true, false, "DExxxCT399"},
        MalformedCase{"MakerEmptyAnswer", "  fault \"call=2 lenr=0\"\n", true, true, ""},
        MalformedCase{"MakerOneByte", "  fault \"call=2 lenr=1\"\n", true, true, ""},
        MalformedCase{"MakerLongerThanBuffer", "  fault \"call=2 lenr=over\"\n", true, true, "DExxxCT399\x90"},
        MalformedCase{"UnitsFail", "  fault \"call=1 result=-10\"\n", false, false, ""},
        MalformedCase{"MakerFail", "  fault \"call=2 result=-1\"\n", false, false, ""}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST_F(CtApiScan, StopsAtTheFortyThreeRowsTheAreaHolds) {
  std::string all;
  for (int port = 1; port <= 9; ++port) all += "terminal " + std::to_string(port) + "\n  maker \"DExxxCT399V2.08\"\n";
  drivers.configure(all);
  int count = 0;
  const std::vector<std::string> rows = scanRows(scan, &count);
  ASSERT_EQ(count, CwxReaderScan::kMaxCTAPIRows);
  ASSERT_EQ(count, 43);
  EXPECT_EQ(rows.back(), row(7, true, "DExxxCT399V2.08"));  // the fifth driver's seventh port
  const char* area = scan.getCTAPIRows();
  EXPECT_TRUE(std::all_of(area + 43 * 47, area + CwxReaderScan::kAreaSize, [](char c) { return c == 0; }));
  EXPECT_TRUE(drivers.calls("CTpcsc24.dll: CT_init ctn=8").empty());
  EXPECT_TRUE(drivers.calls("CT_Signator.dll").empty());
}

TEST_F(CtApiScan, DriverWithoutCloseContributesNothing) {
  std::remove(drivers.path("ct32.dll").c_str());
  std::ifstream partial(SCAN_PARTIAL_DRIVER, std::ios::binary);
  std::ofstream(drivers.path("ct32.dll"), std::ios::binary) << partial.rdbuf();
  drivers.configure(terminal("CTpcsc32.dll", 5, "\"DESCTECUSB V2.0\""));
  EXPECT_EQ(scanRows(scan), std::vector<std::string>{row(5, true, "DESCTECUSB V2.0")});
}

TEST_F(CtApiScan, NullCountOrAreaIsRefused) {
  drivers.configure(terminal("ct32.dll", 1, "DExxxCT399"));
  int count = 5;
  scan.CT_query(nullptr, nullptr, scan.getCTAPIRows());
  scan.CT_query(nullptr, &count, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(drivers.calls("CT_init").empty());
}

}  // namespace

namespace {

// The values of Reader0 as name -> bytes, for comparisons before and after.
std::vector<std::pair<std::string, std::string>> readerSettings() {
  std::vector<std::pair<std::string, std::string>> out;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name, type = 0;
    BYTE data[1024];
    DWORD size = sizeof data;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    out.emplace_back(std::string(name, nameLength), std::string(reinterpret_cast<char*>(data), size));
  }
  RegCloseKey(key);
  std::sort(out.begin(), out.end());
  return out;
}

void setValue(const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

// A KOBIL terminal with a card on port 2 of one driver, and another terminal that is
// not a known family; the user picks in the dialog that displayReaderDialog shows.
class CtApiSelection : public testing::Test {
 protected:
  void SetUp() override {
    drivers.configure(terminal("ct32.dll", 2, "\"DExxxCT399V2.08\"", "  card asign\n") +
                      terminal("ctrsct32.dll", 1, "\"QUARVEL SIMCT 1\""));
  }

  // Runs displayReaderDialog on a thread of its own; `act` is the user.
  int select(const std::function<void(DialogUser&)>& act) {
    DialogUser::willAttend();
    auto result = std::async(std::launch::async, [] {
      CwxReaderScan scan;
      return scan.displayReaderDialog();
    });
    DialogUser user;
    if (!user.waitForDialog()) {
      ADD_FAILURE() << "no dialog";
    } else {
      act(user);
    }
    return result.get();
  }

  DriverBed drivers;
};

TEST_F(CtApiSelection, OkStoresTheTerminalAndTheFactoryConnectsToItsCard) {
  setValue("isSecure", "Yes");
  const int result = select([](DialogUser& user) {
    // The CT-API rows come first; the unknown terminal is not listed. (Readers of a
    // pcscd that another test runs may follow as PC/SC rows.)
    ASSERT_GE(user.rowCount(), 1);
    EXPECT_EQ(user.text(0, 0), "Kobil Kaan Professional");
    EXPECT_EQ(user.text(0, 1), "CT-API");
    EXPECT_EQ(user.text(0, 2), "2");
    if (user.rowCount() > 1) {
      EXPECT_EQ(user.text(1, 1), "PC/SC");
    }
    user.tick(0);
    user.apply();
    user.press(IDOK);
  });
  ASSERT_EQ(result, IDOK);
  EXPECT_EQ(readerSettings(), (std::vector<std::pair<std::string, std::string>>{
                                  {"Port", std::string("2", 2)},
                                  {"ReaderName", std::string("Kobil Kaan Professional", 24)},
                                  {"UseGUI", std::string("Yes", 4)},
                                  {"ctapi", std::string("CT-API KOBIL Systems", 21)},
                                  {"isSecure", std::string("Yes", 4)},
                              }));

  // The family's driver is found through its signed settings file, as every driver.
  cardtest::createApplication();
  cardtest::writeCardLists(cardtest::standardCardLists());
  CSCardFactory::install();
  HKEY machine = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &machine, nullptr),
            ERROR_SUCCESS);
  const std::string installDir = "C:\\Quarvel";
  RegSetValueExA(machine, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir.c_str()),
                 static_cast<DWORD>(installDir.size() + 1));
  RegCloseKey(machine);
  eswtool::ArchivePlan plan;
  plan.sections.push_back({"ctapi:" + drivers.path("ct32.dll"), {{"SectionName", "CT-API KOBIL Systems"}}, true});
  eswtool::Block block;
  block.signers.push_back({std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.key",
                           std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.crt"});
  plan.blocks.push_back(block);
  const std::string file = platform::mapPath("C:\\Quarvel\\CT-API KOBIL Systems.esw");
  platform::makeDirectories(file.substr(0, file.rfind('/')));
  eswtool::writeFile(file, eswtool::buildArchive(plan));

  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->connect(0), 0);
  EXPECT_NE(reader->getCard(), nullptr);
  EXPECT_EQ(drivers.calls("ct32.dll: CT_init ctn=1 pn=2 rc=0").size(), 1u);
  CReaderFactory::releaseInstance(reader);
}

enum class Ending { Cancel, CloseBox };

class CtApiSelectionEnding : public CtApiSelection, public testing::WithParamInterface<Ending> {};

TEST_P(CtApiSelectionEnding, CancelledAfterApplyStoresNothing) {
  setValue("ctapi", "PCSC");
  setValue("ReaderName", "Quarvel Sim Reader");
  setValue("isSecure", "No");
  const auto before = readerSettings();
  const int result = select([](DialogUser& user) {
    EXPECT_EQ(user.currentReader(), "Quarvel Sim Reader");
    user.tick(0);
    user.apply();
    if (GetParam() == Ending::Cancel) {
      user.press(IDCANCEL);
    } else {
      user.closeBox();
    }
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(readerSettings(), before);
}

INSTANTIATE_TEST_SUITE_P(Endings, CtApiSelectionEnding, testing::Values(Ending::Cancel, Ending::CloseBox),
                         [](const testing::TestParamInfo<Ending>& info) {
                           return std::string(info.param == Ending::Cancel ? "Cancel" : "CloseBox");
                         });

}  // namespace
