// The PC/SC readers the scan lists, from the test bed's readers behind pcscd, and
// the PC/SC choice through the reader factory to the card.
#include <algorithm>
#include <future>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CardTestSupport.h"
#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/scan/CwxReaderScan.h"
#include "cardsim/pcscbed.h"
#include "scan_test_support.h"

using scantest::DialogUser;

namespace {

std::vector<std::string> listed(CwxReaderScan& scan, int wanted, int* count) {
  *count = wanted;
  EXPECT_EQ(scan.listPCSCReaders(0, count, scan.getPCSCRows()), 0);
  std::vector<std::string> rows;
  for (int i = 0; i < *count; ++i)
    rows.emplace_back(scan.getPCSCRows() + i * CwxReaderScan::kPCSCRowLength, CwxReaderScan::kPCSCRowLength);
  return rows;
}

std::string padded(const std::string& name) {
  std::string row = name.substr(0, 80);
  return row + std::string(80 - row.size(), ' ');
}

TEST(PcscScan, ListsEightReadersAtMost) {
  std::vector<cardsim::ReaderConfig> readers;
  for (char c = 'A'; c <= 'J'; ++c) readers.push_back(cardsim::ReaderConfig::plain(std::string("Reader ") + c));
  cardsim::PcscBed bed(readers);
  std::set<std::string> expected;
  for (size_t i = 0; i < readers.size(); ++i) expected.insert(padded(bed.name(i)));

  CwxReaderScan scan;
  int count = 0;
  const std::vector<std::string> rows = listed(scan, 20, &count);
  ASSERT_EQ(count, 8);
  EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()).size(), 8u);
  for (const std::string& row : rows) EXPECT_EQ(expected.count(row), 1u) << row;
  const char* area = scan.getPCSCRows();
  EXPECT_TRUE(std::all_of(area + 8 * 80, area + CwxReaderScan::kAreaSize, [](char c) { return c == 0; }));

  // Fewer wanted, fewer listed.
  listed(scan, 3, &count);
  EXPECT_EQ(count, 3);
}

TEST(PcscScan, LongNameKeepsItsFirstEightyCharacters) {
  const std::string longName = "Quarvel Sim Reader with a very long name that goes on " + std::string(36, 'x');
  ASSERT_EQ(longName.size(), 90u);
  cardsim::PcscBed bed({cardsim::ReaderConfig::plain(longName), cardsim::ReaderConfig::plain("Short")});
  CwxReaderScan scan;
  int count = 0;
  const std::vector<std::string> rows = listed(scan, 8, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()),
            (std::set<std::string>{longName.substr(0, 80), padded(bed.name(1))}));
}

// The user picks the simulated reader; the factory then finds it by that name and
// connects to the card in it.
TEST(PcscSelection, OkStoresTheReaderAndTheFactoryConnectsToItsCard) {
  cardtest::createApplication();
  cardtest::writeCardLists(cardtest::standardCardLists());
  CSCardFactory::install();
  cardsim::PcscBed bed;
  bed.insert(cardsim::PcscBed::kPlain, "asign");
  const std::string name = bed.name(cardsim::PcscBed::kPlain);

  DialogUser::willAttend();
  auto result = std::async(std::launch::async, [] {
    CwxReaderScan scan;
    return scan.displayReaderDialog();
  });
  DialogUser user;
  ASSERT_NE(user.waitForDialog(), nullptr);
  EXPECT_EQ(user.rowCount(), 3);
  const int row = user.row(name);
  ASSERT_GE(row, 0);
  EXPECT_EQ(user.text(row, 1), "PC/SC");
  user.tick(row);
  user.apply();
  EXPECT_EQ(user.currentReader(), name);
  user.press(IDOK);
  ASSERT_EQ(result.get(), IDOK);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<std::pair<std::string, std::string>> values;
  for (DWORD i = 0;; ++i) {
    char valueName[256];
    DWORD nameLength = sizeof valueName, type = 0;
    BYTE data[512];
    DWORD size = sizeof data;
    if (RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << valueName;
    values.emplace_back(valueName, std::string(reinterpret_cast<char*>(data), size));
  }
  RegCloseKey(key);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{{"Port", std::string(1, '\0')},
                                                                     {"ReaderName", name + '\0'},
                                                                     {"UseGUI", std::string("Yes", 4)},
                                                                     {"ctapi", std::string("PCSC", 5)}}));

  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->connect(0), 0);
  EXPECT_NE(reader->getCard(), nullptr);
  reader->disconnect();
  CReaderFactory::releaseInstance(reader);
}

}  // namespace
