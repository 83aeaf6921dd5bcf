// The CT-API binding over CdllFactory, with the small CT-API driver of the module
// loading tests installed under two file names: which module a call reaches when
// the driver's archive changes, no longer verifies, or the factory lets its modules go.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "FoundationFixture.h"
#include "cardaccess/reader/CTAPI.h"
#include "foundation/core/CdllFactory.h"

namespace ft = foundationtest;

namespace {

const std::string kFirst = std::string(ft::kInstallDir) + "\\drivers\\first.so";
const std::string kSecond = std::string(ft::kInstallDir) + "\\drivers\\second.so";
const std::string kArchive = std::string(ft::kInstallDir) + "\\ctdriver.esw";

// The driver's archive naming this file, with a version digit that tampering changes.
std::string archiveNaming(const std::string& file) {
  return ft::signedArchive({eswtool::Section{"ctapi:" + file, {{"SectionName", "ctdriver"}, {"Version", "1"}}, true}});
}

void install(const std::string& bytes) {
  ft::installArchive("ctdriver", bytes);
  ft::settleFile(kArchive);
}

// The installed archive with one digit changed in place, its modification time kept:
// the same size, and no longer what was signed.
void tamperInPlace() {
  struct stat st {};
  ASSERT_EQ(::stat(ft::hostPath(kArchive).c_str(), &st), 0);
  std::string bytes = ft::readFile(kArchive);
  const size_t at = bytes.find("Version: 1");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 9] = '2';
  ft::installArchive("ctdriver", bytes);
  const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, ft::hostPath(kArchive).c_str(), times, 0), 0);
  ft::settleFile(kArchive);
}

signed char resetTerminal(unsigned short ctn) {
  unsigned char dad = 1, sad = 2, command[] = {0x20, 0x11, 0x00, 0x00, 0x00}, response[16];
  unsigned short length = sizeof response;
  return ctData(ctn, &dad, &sad, sizeof command, command, &length, response);
}

// How many commands the module loaded from this file has answered.
int commandsOf(const std::string& file) {
  using Count = int (*)();
  HMODULE module = CdllFactory::getInstance()->getHandle(file.c_str(), "Normal");
  auto count = reinterpret_cast<Count>(GetProcAddress(module, "ctdriver_commands"));
  return count ? count() : -1;
}

class CtapiBinding : public testing::Test {
 protected:
  void SetUp() override {
    ft::makeApplication();
    ft::installDirectory();
    const std::string driver = eswtool::readFile(QUARVEL_CTDRIVER);
    ft::writeFile(kFirst, driver);
    ft::writeFile(kSecond, driver);
    install(archiveNaming(kFirst));
    setCTAPIDll("ctdriver");
  }
};

// CT_data and CT_close stay with the module a terminal was opened in; the next opening
// resolves afresh, sees what the archive names then, and the others follow it.
TEST_F(CtapiBinding, EntryPointsStayWithTheirModuleUntilTheNextOpening) {
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  EXPECT_EQ(resetTerminal(1), 0);
  EXPECT_EQ(commandsOf(kFirst), 1);

  install(archiveNaming(kSecond));
  EXPECT_EQ(resetTerminal(1), 0) << "the open terminal's module";
  EXPECT_EQ(commandsOf(kFirst), 2);

  ASSERT_EQ(ctInitInThread(1, 1), 0);
  EXPECT_EQ(resetTerminal(1), 0);
  EXPECT_EQ(commandsOf(kSecond), 1) << "CT_data follows the module of the latest opening";
  EXPECT_EQ(commandsOf(kFirst), 2);

  // An archive that no longer verifies: the opening is refused, and the kept entry
  // points go with it; no call reaches either module.
  tamperInPlace();
  EXPECT_EQ(ctInitInThread(1, 1), -1);
  EXPECT_EQ(resetTerminal(1), -1);
  EXPECT_EQ(ctClose(1), -1);
  EXPECT_EQ(commandsOf(kFirst), 2);
  EXPECT_EQ(commandsOf(kSecond), 1);

  // Mended: the next call resolves again (a refusal is never kept).
  install(archiveNaming(kSecond));
  EXPECT_EQ(resetTerminal(1), 0);
  EXPECT_EQ(commandsOf(kSecond), 2);
  EXPECT_EQ(ctClose(1), 0);
}

// The factory lets its modules go (as at process exit): the binding resolves again
// rather than call into a module no longer loaded. The module loaded afresh starts
// with no terminal open.
TEST_F(CtapiBinding, ADriverTheFactoryLetGoIsResolvedAfresh) {
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  EXPECT_EQ(resetTerminal(1), 0);
  delete CdllFactory::getInstance();
  EXPECT_EQ(resetTerminal(1), -1);
  EXPECT_EQ(commandsOf(kFirst), 0);
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  EXPECT_EQ(resetTerminal(1), 0);
  EXPECT_EQ(commandsOf(kFirst), 1);
  delete CdllFactory::getInstance();
  EXPECT_EQ(ctClose(1), -1);
}

}  // namespace
