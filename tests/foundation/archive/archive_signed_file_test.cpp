// Settings files on the machine: the program's own in the system directory, a
// named one in the installation directory, and the InstallDir value they rely on.
#include "ArchiveTestSupport.h"
#include "foundation/archive/InstallDir.h"

#include "host/app/application_secure.h"
#include "platform/machine.h"
#include "tests/foundation/TestIdentity.h"

#include <gtest/gtest.h>
#include <quarvel_test.h>
#include <windows.h>

#include <cstring>

using namespace archivetest;

namespace {

const char kProductKey[] = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

void createApplication() { ASSERT_EQ(application_secure::create(1, GetModuleHandleA(nullptr), 115), 1); }

void setInstallDir(const std::string& value, DWORD type = REG_SZ, bool withNul = true) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "InstallDir", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + (withNul ? 1 : 0))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void putFile(const std::string& windowsPath, const std::string& bytes) {
  const std::string host = platform::mapPath(windowsPath.c_str());
  platform::makeDirectories(host.substr(0, host.rfind('/')));
  eswtool::writeFile(host, bytes);
}

std::string systemDirectory() {
  char buffer[128];
  const UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
  return std::string(buffer, n);
}

TEST(ArchiveInstallDir, Table) {
  createApplication();
  struct Case {
    const char* stored;
    unsigned int capacity;
    int result;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\Quarvel", 512, 1, "C:\\Quarvel"},
      {"C:\\Quarvel\\", 512, 1, "C:\\Quarvel"},
      {"C:\\Quarvel\\\\", 512, 1, "C:\\Quarvel\\"},
      {"C:\\Quarvel", 11, 1, "C:\\Quarvel"},  // exactly length + 1
      {"C:\\Quarvel", 10, 0, "untouched"},
      {"C:\\Quarvel", 0, 0, "untouched"},
  };
  for (const Case& c : cases) {
    setInstallDir(c.stored);
    char buffer[512] = "untouched";
    EXPECT_EQ(readInstallDir(buffer, c.capacity), c.result) << c.stored << " " << c.capacity;
    EXPECT_STREQ(buffer, c.expected) << c.stored << " " << c.capacity;
  }
  EXPECT_EQ(readInstallDir(nullptr, 512), 0);
}

TEST(ArchiveInstallDir, MissingKeyGivesNothing) {
  createApplication();
  char buffer[512] = "untouched";
  EXPECT_EQ(readInstallDir(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(loadSignedFile("JVM"), nullptr);
}

// A 256-byte value without its NUL fills the whole read buffer: the text stops
// there instead of running on, and loadSignedFile refuses such a long directory.
TEST(ArchiveInstallDir, UnterminatedFullValue) {
  createApplication();
  const std::string value = "C:\\" + std::string(253, 'd');
  setInstallDir(value, REG_BINARY, false);
  char buffer[512];
  ASSERT_EQ(readInstallDir(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), value);
  putFile(value + "\\JVM.esw", eswtool::buildArchive(typicalPlan()));
  EXPECT_EQ(loadSignedFile("JVM"), nullptr);
}

QUARVEL_CHILD(without_application) {
  setInstallDir("C:\\Quarvel");
  char buffer[64];
  return readInstallDir(buffer, sizeof buffer) == 0 && loadSignedFile(nullptr) == nullptr ? 0 : 1;
}

TEST(ArchiveInstallDir, NeedsTheApplicationObject) { EXPECT_EQ(quarveltest::runChild("without_application"), 0); }

TEST(ArchiveSignedFile, ProgramsOwnFileInTheSystemDirectory) {
  createApplication();
  EXPECT_EQ(loadSignedFile(nullptr), nullptr);
  putFile(systemDirectory() + "\\Quarvel.esw", eswtool::buildArchive(typicalPlan()));
  ArchivePtr a(loadSignedFile(nullptr));
  ASSERT_NE(a, nullptr);
  EXPECT_NE(find(a.get(), "Quarvel"), nullptr);
  EXPECT_EQ(text(a->block->archive->directory), systemDirectory());
}

TEST(ArchiveSignedFile, NamedFileInTheInstallationDirectory) {
  createApplication();
  setInstallDir("C:\\Program Files\\Quarvel\\");
  EXPECT_EQ(loadSignedFile("JVM"), nullptr);
  putFile("C:\\Program Files\\Quarvel\\JVM.esw", eswtool::buildArchive(typicalPlan()));
  ArchivePtr a(loadSignedFile("JVM"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(text(find(a.get(), "JVM")->path), "jre\\lib\\server\\libjvm.so");
  EXPECT_EQ(text(a->block->archive->directory), "C:\\Program Files\\Quarvel");
  EXPECT_EQ(loadSignedFile("jvm"), nullptr);  // file names are exact
}

// Another deliverable (a plug-in, a setup tool) fills its own identity: the same
// functions then read its key and its own settings file, without the tray program.
TEST(ArchiveSignedFile, AnotherProgramsIdentity) {
  foundationtest::TestIdentity identity;
  identity.title = "Tolmira";
  identity.settingsFile = "Tolmira.esw";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Tolmira", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char dir[] = "C:\\Tolmira";
  ASSERT_EQ(RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir), sizeof dir), ERROR_SUCCESS);
  RegCloseKey(key);
  char buffer[64];
  ASSERT_EQ(readInstallDir(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, dir);
  putFile(systemDirectory() + "\\Tolmira.esw", eswtool::buildArchive(typicalPlan()));
  EXPECT_NE(ArchivePtr(loadSignedFile(nullptr)), nullptr);
}

TEST(ArchiveSignedFile, OnlyTheArchiveRootIsTrusted) {
  createApplication();
  setInstallDir("C:\\Quarvel");
  eswtool::ArchivePlan plan = typicalPlan();
  plan.blocks = {block(defaultRoot())};
  putFile("C:\\Quarvel\\Properties.esw", eswtool::buildArchive(plan));
  EXPECT_EQ(loadSignedFile("Properties"), nullptr);
  putFile("C:\\Quarvel\\Broken.esw", eswtool::buildArchive(typicalPlan()).substr(0, 200));
  EXPECT_EQ(loadSignedFile("Broken"), nullptr);
}

}  // namespace
