// CdllFactory with a CT-API driver of the test tree: mode "Normal" (path from the
// driver's archive, loaded as it is) and mode "Secure" (verified here, relative to
// the installation directory), the failure table and the traces.
#include "FoundationFixture.h"

#include "foundation/archive/InstalledArchive.h"
#include "foundation/base/CException.h"
#include "foundation/core/CdllFactory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ft = foundationtest;

namespace {

using CtInit = signed char (*)(unsigned short, unsigned short);
using CtData = signed char (*)(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                               unsigned short*, unsigned char*);
using CtClose = signed char (*)(unsigned short);

const std::string kDriver = std::string(ft::kInstallDir) + "\\drivers\\ctdriver.so";
const std::string kLog = "C:\\logs\\dll.log";

std::string address(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

eswtool::Section driverSection(const std::string& name, const std::string& sectionName = "ctdriver") {
  return eswtool::Section{name, {{"SectionName", sectionName}}, true};
}

class DllFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ft::makeApplication();
    ft::installDirectory();
    ft::writeFile(kDriver, eswtool::readFile(QUARVEL_CTDRIVER));
  }

  // The trace log at this level (set before the factory is made).
  void traceAt(unsigned long level) {
    ft::installProgramArchive(ft::signedArchive({ft::productSection({{"Trace", "allowed"}})}));
    ft::writeFile("C:\\logs\\keep", "");
    ft::setString(std::string(ft::kUserKey) + "\\Trace", "Filename", kLog);
    ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", level);
  }
};

TEST_F(DllFactoryTest, NormalModeLoadsTheDriverOnce) {
  ft::installArchive("ctdriver", ft::signedArchive({driverSection("ctapi:" + kDriver)}));
  traceAt(3);
  CdllFactory* factory = CdllFactory::getInstance();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(CdllFactory::getInstance(), factory);

  auto init = reinterpret_cast<CtInit>(factory->getFunction("ctdriver", "CT_init", "Normal"));
  auto data = reinterpret_cast<CtData>(factory->getFunction("ctdriver", "CT_data", "Normal"));
  auto close = reinterpret_cast<CtClose>(factory->getFunction("ctdriver", "CT_close", "Normal"));
  ASSERT_TRUE(init && data && close);
  EXPECT_EQ(init(1, 1), 0);
  unsigned char dad = 1, sad = 2, reset[] = {0x20, 0x11, 0x00, 0x00, 0x00}, response[16];
  unsigned short length = sizeof response;
  EXPECT_EQ(data(1, &dad, &sad, sizeof reset, reset, &length, response), 0);
  ASSERT_EQ(length, 2);
  EXPECT_EQ(response[0], 0x90);
  EXPECT_EQ(close(1), 0);

  // Every call reads the archive again, but the module is loaded once and cached by its path.
  EXPECT_EQ(reinterpret_cast<CtInit>(factory->getFunction("ctdriver", "CT_init", "Normal")), init);
  HMODULE handle = factory->getHandle(kDriver.c_str(), "Normal");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(GetProcAddress(handle, "CT_init"), reinterpret_cast<FARPROC>(init));
  // The factory holds exactly one reference: one release ends the module.
  EXPECT_TRUE(FreeLibrary(handle));
  EXPECT_FALSE(FreeLibrary(handle));

  const std::string f = address(factory);
  const std::string entry = "class CdllFactory::getFunction() at 0x" + f + ": Parameter: ctdriver, CT_init. Function started.\n";
  const std::string load = "   class CdllFactory::getHandle() at 0x" + f + ": Parameter: " + kDriver +
                           ". Function started.\n"
                           "   class CdllFactory::getHandle() at 0x" + f + ": returned: 0x" + address(handle) + ".\n";
  const std::string exit = "class CdllFactory::getFunction() at 0x" + f + ": returned: 0x" +
                           address(reinterpret_cast<void*>(init)) + ".\n";
  const std::string log = ft::readFile(kLog);
  EXPECT_EQ(log.substr(0, entry.size() + load.size() + exit.size()), entry + load + exit);
}

TEST_F(DllFactoryTest, SecureModeLoadsRelativeToTheInstallationDirectory) {
  ft::installArchive("ctdriver", ft::signedArchive({driverSection("executable:drivers\\ctdriver.so")}));
  traceAt(4);
  CdllFactory* factory = CdllFactory::getInstance();
  auto init = reinterpret_cast<CtInit>(factory->getFunction("ctdriver", "CT_init", "Secure"));
  ASSERT_NE(init, nullptr);
  EXPECT_EQ(init(1, 1), 0);
  HMODULE handle = factory->getHandle("ctdriver", "Secure");
  EXPECT_EQ(GetProcAddress(handle, "CT_init"), reinterpret_cast<FARPROC>(init));
  EXPECT_EQ(factory->getFunctionPointer("ctdriver", "CT_close"), GetProcAddress(handle, "CT_close"));

  const std::string f = address(factory);
  const std::string p = address(reinterpret_cast<void*>(init));
  const std::string prefix = "class CdllFactory::";
  const std::string expected =
      prefix + "getFunction() at 0x" + f + ": Parameter: ctdriver, CT_init. Function started.\n"
      "   " + prefix + "getFunctionPointer() at 0x" + f + ": DLL: ctdriver, Function: CT_init.\n"
      "   " + prefix + "loadDLL() at 0x" + f + ": Parameter: ctdriver, started.\n"
      "   " + prefix + "loadDLL() at 0x" + f + ": returned: 0x" + address(handle) + ".\n"
      "   " + prefix + "getFunctionPointer() at 0x" + f + ": Function-Pointer: 0x" + p + "," +
      prefix + "getFunctionPointer() at 0x" + f + ": returned: 0x" + p + ".\n" +
      prefix + "getFunction() at 0x" + f + ": returned: 0x" + p + ".\n";
  const std::string log = ft::readFile(kLog);
  // The factory's lifecycle lines (level 6) are filtered out at level 4.
  EXPECT_EQ(log.substr(0, expected.size()), expected);
}

struct FailureRow {
  const char* name;
  std::function<void()> arrange;
  const char* function;
  const char* mode;
  std::string where;
  std::string message;
};

// A manifest changed after signing: the signer-info text still carries the old digest.
std::string tamperedArchive() {
  eswtool::ArchivePlan plan;
  plan.sections.push_back(driverSection("executable:drivers\\ctdriver.so"));
  plan.sections[0].attributes.push_back({"Version", "1"});
  eswtool::Block block;
  block.signers.push_back(ft::archiveRootSigner());
  plan.blocks.push_back(block);
  const std::string signedText = eswtool::signerInfoText(plan);
  plan.sections[0].attributes[1].value = "2";
  plan.signerInfoOverride = signedText;
  return eswtool::buildArchive(plan);
}

void install(const std::string& bytes) { ft::installArchive("ctdriver", bytes); }
void removeArchive() { std::remove(ft::hostPath(std::string(ft::kInstallDir) + "\\ctdriver.esw").c_str()); }

TEST_F(DllFactoryTest, FailureTable) {
  const std::string getHandle = "CdllFactory::getHandle";
  const std::string getFunctionWhere = "CdllFactory::getFunction";
  const std::string pointer = "CdllFactory::getFunctionPointer";
  const std::string noFunction = "Funktion existiert nicht.\n";
  const std::string missing = std::string(ft::kInstallDir) + "\\drivers\\missing.so";
  const FailureRow rows[] = {
      {"Normal: no archive", removeArchive, "CT_init", "Normal", getHandle, "Module  existiert nicht.\n"},
      {"Normal: archive of a stranger",
       [] { install(ft::signedArchive({driverSection("ctapi:" + kDriver)}, ft::strangerSigner())); }, "CT_init",
       "Normal", getHandle, "Module  existiert nicht.\n"},
      {"Normal: no section of the module",
       [] { install(ft::signedArchive({driverSection("ctapi:" + kDriver, "other")})); }, "CT_init", "Normal",
       getHandle, "Module  existiert nicht.\n"},
      {"Normal: module file missing",
       [missing] { install(ft::signedArchive({driverSection("ctapi:" + missing)})); }, "CT_init", "Normal",
       getHandle, "Module " + missing + " existiert nicht.\n"},
      {"Normal: export missing", [] { install(ft::signedArchive({driverSection("ctapi:" + kDriver)})); },
       "CT_missing", "Normal", getFunctionWhere, "Funktion: CT_missing existiert nicht.\n"},
      {"Secure: no archive", removeArchive, "CT_init", "Secure", pointer, noFunction},
      {"Secure: kind is not executable",
       [] { install(ft::signedArchive({driverSection("ctapi:drivers\\ctdriver.so")})); }, "CT_init", "Secure",
       pointer, noFunction},
      {"Secure: manifest changed after signing", [] { install(tamperedArchive()); }, "CT_init", "Secure", pointer,
       noFunction},
      {"Secure: signed by the default root only",
       [] {
         install(ft::signedArchive({driverSection("executable:drivers\\ctdriver.so")}, ft::defaultRootSigner()));
       },
       "CT_init", "Secure", pointer, noFunction},
      {"Secure: module file missing",
       [] { install(ft::signedArchive({driverSection("executable:drivers\\missing.so")})); }, "CT_init", "Secure",
       pointer, noFunction},
      // Last: this row loads the module, and a loaded module stays cached.
      {"Secure: export missing",
       [] { install(ft::signedArchive({driverSection("executable:drivers\\ctdriver.so")})); }, "CT_missing",
       "Secure", pointer, noFunction},
  };
  CdllFactory* factory = CdllFactory::getInstance();
  for (const FailureRow& row : rows) {
    row.arrange();
    try {
      factory->getFunction("ctdriver", row.function, row.mode);
      ADD_FAILURE() << row.name << ": no exception";
    } catch (const VOQ::CNoSuchObjectException& e) {
      EXPECT_EQ(e.getWhere(), row.where) << row.name;
      EXPECT_EQ(e.getMessage(), row.message) << row.name;
    }
  }
  // The failed loads were not remembered: with the archive mended the module loads.
  install(ft::signedArchive({driverSection("ctapi:" + kDriver)}));
  EXPECT_NE(factory->getFunction("ctdriver", "CT_init", "Normal"), nullptr);
}

TEST_F(DllFactoryTest, NullArgumentsAndOtherModesGiveNull) {
  install(ft::signedArchive({driverSection("ctapi:" + kDriver)}));
  CdllFactory* factory = CdllFactory::getInstance();
  EXPECT_EQ(factory->getFunction("ctdriver", "CT_init", "normal"), nullptr);
  EXPECT_EQ(factory->getFunction("ctdriver", "CT_init", "SECURE"), nullptr);
  EXPECT_EQ(factory->getFunction("ctdriver", "CT_init", nullptr), nullptr);
  EXPECT_EQ(factory->getFunction(nullptr, "CT_init", "Normal"), nullptr);
  EXPECT_EQ(factory->getFunction("ctdriver", nullptr, "Normal"), nullptr);
  EXPECT_EQ(factory->getHandle(nullptr, "Normal"), nullptr);
  EXPECT_EQ(factory->getHandle(kDriver.c_str(), "normal"), nullptr);
  EXPECT_EQ(factory->getFunctionPointer(nullptr, "CT_init"), nullptr);
  EXPECT_EQ(factory->getFunctionPointer("ctdriver", nullptr), nullptr);
  EXPECT_EQ(factory->loadDLL(nullptr), nullptr);
  // A very long module name is cut in the trace and the message, not overflowed.
  const std::string longName(2000, 'm');
  try {
    factory->getHandle(longName.c_str(), "Normal");
    ADD_FAILURE() << "no exception";
  } catch (const VOQ::CNoSuchObjectException& e) {
    EXPECT_LT(e.getMessage().size(), VOQ::kMessageBufferSize);
    EXPECT_EQ(e.getMessage().compare(0, 10, "Module mmm"), 0);
  }
}

// The CT-API wrappers ask from the reader's start-up thread and the caller's
// thread at once: one cached module, holding one reference.
TEST_F(DllFactoryTest, ThreadsLoadingAtOnceShareOneModule) {
  install(ft::signedArchive({driverSection("ctapi:" + kDriver)}));
  CdllFactory* factory = CdllFactory::getInstance();
  std::vector<FARPROC> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t)
    threads.emplace_back([t, &seen, factory] { seen[t] = factory->getFunction("ctdriver", "CT_data", "Normal"); });
  for (std::thread& t : threads) t.join();
  for (FARPROC f : seen) EXPECT_EQ(f, seen[0]);
  HMODULE handle = factory->getHandle(kDriver.c_str(), "Normal");
  EXPECT_TRUE(FreeLibrary(handle));
  EXPECT_FALSE(FreeLibrary(handle));
}

}  // namespace

namespace {

const std::string kArchive = std::string(ft::kInstallDir) + "\\ctdriver.esw";

// The driver's archive with a version attribute whose digit tampering can change.
std::string versionedArchive(const std::string& name, const std::string& version) {
  return ft::signedArchive({eswtool::Section{name, {{"SectionName", "ctdriver"}, {"Version", version}}, true}});
}

struct stat statusOf(const std::string& windowsPath) {
  struct stat st {};
  EXPECT_EQ(::stat(ft::hostPath(windowsPath).c_str(), &st), 0) << windowsPath;
  return st;
}

void setModified(const std::string& windowsPath, const timespec& modified) {
  const timespec times[2] = {{0, UTIME_OMIT}, modified};
  ASSERT_EQ(utimensat(AT_FDCWD, ft::hostPath(windowsPath).c_str(), times, 0), 0);
}

// The bytes with "Version: 1" made "Version: 2": same size, no longer what was signed.
std::string tampered(std::string bytes) {
  const size_t at = bytes.find("Version: 1");
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) bytes[at + 9] = '2';
  return bytes;
}

// A new file put in the archive's place (a new inode), its bytes given.
void replaceArchive(const std::string& bytes) {
  const std::string fresh = std::string(ft::kInstallDir) + "\\ctdriver.new";
  ft::writeFile(fresh, bytes);
  ASSERT_EQ(std::rename(ft::hostPath(fresh).c_str(), ft::hostPath(kArchive).c_str()), 0);
}

// An unchanged archive is read and verified once; each change of the file (another
// inode, another modification time, another size, or only another change time) has it
// read and verified again, and one that no longer verifies is refused even though an
// earlier version loaded: a refusal is never kept, the next call verifies once more.
TEST_F(DllFactoryTest, TheDriverArchiveIsVerifiedAgainWhenTheFileChanges) {
  const std::string good = versionedArchive("ctapi:" + kDriver, "1");
  install(good);
  struct Row {
    const char* name;
    std::function<void()> change;
    bool verifiedAgain;
    bool accepted;
  };
  const Row rows[] = {
      {"first load", [] {}, true, true},
      {"unchanged", [] {}, false, true},
      {"replaced by a copy of itself", [good] { replaceArchive(good); }, true, true},
      {"modification time touched",
       [] {
         timespec later = statusOf(kArchive).st_mtim;
         later.tv_sec += 10;
         setModified(kArchive, later);
       },
       true, true},
      {"rewritten with another size", [] { install(versionedArchive("ctapi:" + kDriver, "10")); }, true, true},
      {"rewritten with the same size, tampered, modification time put back",
       [] {
         const timespec modified = statusOf(kArchive).st_mtim;
         install(tampered(ft::readFile(kArchive)));
         setModified(kArchive, modified);
       },
       true, false},
      {"the good archive back", [good] { install(good); }, true, true},
      {"replaced by a tampered copy of the same size and modification time",
       [good] {
         const timespec modified = statusOf(kArchive).st_mtim;
         replaceArchive(tampered(good));
         setModified(kArchive, modified);
       },
       true, false},
      {"the good archive back again", [good] { install(good); }, true, true},
  };
  CdllFactory* factory = CdllFactory::getInstance();
  const auto load = [factory](const char* row) {
    try {
      return factory->getFunction("ctdriver", "CT_init", "Normal") != nullptr;
    } catch (const VOQ::CNoSuchObjectException& e) {
      EXPECT_EQ(e.getMessage(), "Module  existiert nicht.\n") << row;
      return false;
    }
  };
  for (const Row& row : rows) {
    row.change();
    ft::settleFile(kArchive);
    const unsigned long long before = installedArchiveVerifications();
    EXPECT_EQ(load(row.name), row.accepted) << row.name;
    EXPECT_EQ(installedArchiveVerifications() - before, row.verifiedAgain ? 1u : 0u) << row.name;
    // Asked again: a verified result is kept, a refusal is verified (and refused) once more.
    EXPECT_EQ(load(row.name), row.accepted) << row.name << ", asked again";
    EXPECT_EQ(installedArchiveVerifications() - before, (row.verifiedAgain ? 1u : 0u) + (row.accepted ? 0u : 1u))
        << row.name << ", asked again";
  }
}

// The archive now names another module file: the next lookup loads that one.
TEST_F(DllFactoryTest, AnArchiveNamingAnotherFileIsFollowed) {
  const std::string copy = std::string(ft::kInstallDir) + "\\drivers\\copy.so";
  ft::writeFile(copy, eswtool::readFile(QUARVEL_CTDRIVER));
  install(versionedArchive("ctapi:" + kDriver, "1"));
  ft::settleFile(kArchive);
  CdllFactory* factory = CdllFactory::getInstance();
  const FARPROC first = factory->getFunction("ctdriver", "CT_init", "Normal");
  install(versionedArchive("ctapi:" + copy, "1"));
  const FARPROC second = factory->getFunction("ctdriver", "CT_init", "Normal");
  EXPECT_NE(first, second);
  EXPECT_EQ(second, GetProcAddress(factory->getHandle(copy.c_str(), "Normal"), "CT_init"));
}

// Mode "Secure" verifies at every load too: a tampered archive is refused after a
// good load, and a file that did not change is not verified again.
TEST_F(DllFactoryTest, SecureLoadsRefuseATamperedArchiveAfterAGoodOne) {
  install(versionedArchive("executable:drivers\\ctdriver.so", "1"));
  ft::settleFile(kArchive);
  CdllFactory* factory = CdllFactory::getInstance();
  const unsigned long long before = installedArchiveVerifications();
  EXPECT_NE(factory->loadDLL("ctdriver"), nullptr);
  EXPECT_NE(factory->loadDLL("ctdriver"), nullptr);
  EXPECT_EQ(installedArchiveVerifications() - before, 1u);
  const timespec modified = statusOf(kArchive).st_mtim;
  install(tampered(ft::readFile(kArchive)));
  setModified(kArchive, modified);
  EXPECT_EQ(factory->loadDLL("ctdriver"), nullptr);
  EXPECT_EQ(installedArchiveVerifications() - before, 2u);
}

}  // namespace
