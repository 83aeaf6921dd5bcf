// CReport and CReportFactory on their own: file handling, indentation, wrap,
// level filter and the factory's one report per name.
#include "FoundationFixture.h"

#include "foundation/base/CException.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/format.h"

namespace {

using foundationtest::fileExists;
using foundationtest::readFile;
using foundationtest::writeFile;

const std::string kLog = "C:\\logs\\report.log";

std::string blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override { writeFile("C:\\logs\\keep", ""); }
};

TEST_F(ReportTest, TruncatesAndWritesThroughTheLevelFilter) {
  writeFile(kLog, "from the last run\n");
  {
    CReport report(kLog.c_str());
    EXPECT_STREQ(report.getFileName(), kLog.c_str());
    EXPECT_EQ(report.setLevel(3), 0);
    report.write(3, "three\n");
    report.write(4, "four\n");
    report.write(0, "zero\n");
    report.write(3, "abcdef", 3);
    report.write(3, "xyz", 0);
    report.write(3, nullptr);
    report.putChar(3, '\n');
    report.writeHex(3, 52);
    report.putChar(3, ' ');
    report.writeHex(3, -1);
    report.putChar(3, ' ');
    report.writePointer(3, reinterpret_cast<const void*>(static_cast<uintptr_t>(0x12FF44)));
    report.writePointer(3, nullptr);
    report.putChar(3, '\n');
  }
  EXPECT_EQ(readFile(kLog), "three\nzero\nabc\n34 FFFFFFFF 000000000012FF44\n");
}

// Numbers and addresses in the forms of the Windows runtime's "%X" and "%p".
TEST_F(ReportTest, NumbersAsTheRuntimeFormatsThem) {
  const int values[] = {0, 52, 0x7FFFFFFF, -1, INT_MIN};
  const uintptr_t pointers[] = {1, 0x12FF44, 0x00007FFC1234ABCDu, UINTPTR_MAX};
  std::string expected;
  {
    CReport report(kLog.c_str());
    report.setLevel(0);
    char text[64];
    for (int v : values) {
      report.writeHex(0, v);
      report.putChar(0, '\n');
      _snprintf(text, sizeof text, "%X\n", v);
      expected += text;
    }
    for (uintptr_t p : pointers) {
      report.writePointer(0, reinterpret_cast<const void*>(p));
      report.putChar(0, '\n');
      _snprintf(text, sizeof text, "%p\n", reinterpret_cast<const void*>(p));
      expected += text;
    }
  }
  EXPECT_EQ(readFile(kLog), expected);
}

TEST_F(ReportTest, IndentationStackAndPops) {
  {
    CReport report(kLog.c_str());
    report.setLevel(9);
    report.popIndent();  // at depth 0 the single entry stays
    report.write(1, "a\n");
    report.pushIndent(3);
    report.write(1, "b\n");
    report.pushIndent(3);
    report.write(1, "c\n");
    report.popIndent();
    report.popIndent();
    report.popIndent();
    report.write(1, "d\n");
  }
  EXPECT_EQ(readFile(kLog), "a\n   b\n      c\nd\n");
}

// The wrap counts the indentation twice: at indentation k a line holds 250 - 2k characters.
TEST_F(ReportTest, WrapsAt250MinusTwiceTheIndentation) {
  {
    CReport report(kLog.c_str());
    report.setLevel(9);
    report.pushIndent(6);
    report.write(1, "x\n");
    report.write(1, (std::string(600, 'a') + "\n").c_str());
    report.write(1, (std::string(238, 'b') + "\n").c_str());
  }
  const std::string k = blanks(6);
  // A new report is not at a line start: its first line is not indented.
  EXPECT_EQ(readFile(kLog), "x\n" + k + std::string(238, 'a') + "\n" + k + std::string(238, 'a') + "\n" + k +
                                std::string(124, 'a') + "\n" + k + std::string(238, 'b') + "\n" + k + "\n");
}

// Entry traces whose exit trace an exception skipped keep growing the indentation;
// writing stops growing at 120 blanks instead of wrapping for ever.
TEST_F(ReportTest, IndentationIsCappedForWritingAndWrapping) {
  {
    CReport report(kLog.c_str());
    report.setLevel(9);
    for (int i = 0; i < 100; ++i) report.pushIndent(3);
    report.write(1, "deep\n");
    report.write(1, (std::string(15, 'w') + "\n").c_str());
    for (int i = 0; i < 100 - 2; ++i) report.popIndent();
    report.write(1, "back\n");
  }
  const std::string cap = blanks(CReport::kMaxIndent);
  EXPECT_EQ(readFile(kLog), "deep\n" + cap + std::string(10, 'w') + "\n" + cap + std::string(5, 'w') + "\n" +
                                blanks(6) + "back\n");
}

TEST_F(ReportTest, WithoutNameNothingIsWritten) {
  CReport report(nullptr);
  EXPECT_FALSE(report.isOpen());
  EXPECT_EQ(report.setLevel(9), 0);
  EXPECT_EQ(report.getLevel(), 0);  // the level changes only while a file is open
  report.pushIndent(3);
  report.write(0, "nothing\n");
  report.flush();
}

TEST_F(ReportTest, UnopenableFileThrows) {
  const std::string missing = "C:\\no such folder\\trace.log";
  try {
    CReport report(missing.c_str());
    FAIL() << "no exception";
  } catch (const VOQ::CNoSuchObjectException& e) {
    EXPECT_EQ(e.getWhere(), "CReport::CReport");
    EXPECT_EQ(e.getMessage(), "Datei: " + missing + " kann nicht geöffnet werden.\n");
  }
  EXPECT_FALSE(fileExists(missing));
}

TEST_F(ReportTest, FactoryHandsOutOneReportPerName) {
  CReport* first = CReportFactory::getInstance(kLog.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->getLevel(), 128);
  first->setLevel(2);
  EXPECT_EQ(CReportFactory::getInstance(kLog.c_str()), first);
  EXPECT_EQ(first->getLevel(), 2);  // a second request leaves the level alone

  const std::string other = "C:\\logs\\java.txt";
  CReport* second = CReportFactory::getInstance(other.c_str());
  EXPECT_NE(second, first);
  EXPECT_TRUE(fileExists(kLog));
  EXPECT_TRUE(fileExists(other));
  // Names compare byte for byte.
  writeFile("C:\\LOGS\\keep", "");
  EXPECT_NE(CReportFactory::getInstance("C:\\LOGS\\report.log"), first);
}

TEST_F(ReportTest, FactoryArgumentAndOpenFailures) {
  try {
    CReportFactory::getInstance(nullptr);
    FAIL() << "no exception";
  } catch (const VOQ::CBadArgumentException& e) {
    EXPECT_EQ(e.getWhere(), "CReportFactory::getInstance");
    EXPECT_EQ(e.getMessage(), "Invalid Parameter.\n");
  }
  EXPECT_THROW(CReportFactory::getInstance("C:\\missing\\x.log"), VOQ::CNoSuchObjectException);
  // A failed open leaves the factory usable: its lock was released.
  EXPECT_NE(CReportFactory::getInstance(kLog.c_str()), nullptr);
}

TEST_F(ReportTest, UnlockWithoutLockIsAnAssertion) {
  CReportFactory::Lock();
  CReportFactory::Unlock();
  try {
    CReportFactory::Unlock();  // the count is at its maximum already
    FAIL() << "no exception";
  } catch (const VOQ::CAssertException& e) {
    EXPECT_EQ(e.getWhere(), "CReportFactory::Unlock");
    EXPECT_EQ(e.getMessage(), "Kann Semaphore nicht zurücksetzen.\n");
  }
}

}  // namespace
