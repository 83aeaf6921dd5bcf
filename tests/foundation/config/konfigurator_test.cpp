// CKonfigurator: settings from the user's and the machine's registry and from the
// signed settings archives, as the program's callers ask for them.
#include "FoundationFixture.h"

#include "foundation/base/CException.h"
#include "foundation/core/CKonfigurator.h"
#include "platform/registry_test.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace ft = foundationtest;

namespace {

const std::string kUser = ft::kUserKey;
const std::string kMachine = ft::kMachineKey;

void arrangeMachine() {
  ft::makeApplication();
  ft::installDirectory();
  // Registry values, written by another process.
  ft::setString(kUser, "Verbose", "yes");
  ft::setString(kUser + "\\Verbose", "Verbose", "from the subkey");
  ft::setDword(kUser, "Unset", 0xFFFFFFFFul);
  ft::setDword(kUser, "Tip", 1);
  ft::setString(kUser, "EmptyText", "");
  ft::setString(kMachine + "\\A\\B", "V", "deep");
  ft::setDword(kMachine + "\\A\\B", "N", 7);
  ft::setString(kMachine, "Long", std::string(1100, 'l'));
  // The program's own archive and a named one in the installation directory.
  ft::installProgramArchive(ft::signedArchive({
      ft::productSection({{"Main-Class", "at.Quarvel.Launcher"}, {"BankCard1", "3B:FF:18:00"},
                          {"ClassPath", "lib\\quarvel.jar"}}),
      eswtool::Section{"config:Classes", {{"SectionName", "ClassPath"}, {"Entry", "lib\\other.jar"}}, true},
  }));
  ft::installArchive("Properties", ft::signedArchive({eswtool::Section{
                                       "config:Properties",
                                       {{"SectionName", "Properties"}, {"Key0", "java.home"}, {"Property0", "jre"}},
                                       true}}));
}

enum class Out { Text, VText, Number, Number6, None };

struct Row {
  const char* source;
  std::vector<const char*> keys;
  Out out;
  int result;
  std::string value;  // delivered value; "untouched" when the output must stay as it was
};

const Row kRows[] = {
    // A value next to a subkey of the same name: the value.
    {"RegistryUser", {"Verbose"}, Out::Text, 0, "yes"},
    {"RegistryUser", {"Verbose"}, Out::VText, 0, "yes"},
    {"RegistryUser", {"Verbose", "Verbose"}, Out::Text, 0, "from the subkey"},
    {"RegistryMachine", {"A", "B", "V"}, Out::Text, 0, "deep"},
    {"RegistryMachine", {"A", "B", "N"}, Out::Number, 0, "7"},
    {"RegistryMachine", {"A", "B", "N"}, Out::Number6, 0, "7"},
    {"RegistryMachine", {"Missing", "B", "V"}, Out::Text, 1, "untouched"},
    {"RegistryMachine", {"A", "Missing", "V"}, Out::Text, 1, "untouched"},
    {"RegistryUser", {"Tip"}, Out::Number, 0, "1"},
    {"RegistryUser", {"Unset"}, Out::Number, 1, "untouched"},  // a stored -1 is missing
    {"RegistryUser", {"EmptyText"}, Out::Text, 1, "untouched"},
    {"RegistryUser", {"NoSuchValue"}, Out::Text, 1, "untouched"},
    {"RegistryMachine", {"Long"}, Out::Text, 1, "untouched"},  // longer than 1024 bytes
    {"RegistryMachine", {"Verbose"}, Out::Text, 1, "untouched"},  // the user's value is not the machine's
    {"SecureInternal", {"Main-Class"}, Out::Text, 0, "at.Quarvel.Launcher"},
    {"SecureInternal", {"BankCard1"}, Out::Text, 0, "3B:FF:18:00"},
    {"SecureInternal", {"BankCard10"}, Out::Text, 1, "untouched"},
    {"SecureInternal", {"BankCard"}, Out::Text, 1, "untouched"},
    {"SecureInternal", {"Main-Class"}, Out::VText, 1, "untouched"},  // archives deliver std::string only
    {"SecureInternal", {"Main-Class"}, Out::Number, 1, "untouched"},
    // A section named like the first element takes precedence over the product section.
    {"SecureInternal", {"ClassPath"}, Out::Text, 1, "untouched"},
    {"SecureInternal", {"ClassPath", "Entry"}, Out::Text, 0, "lib\\other.jar"},
    {"SecureExternal", {"Properties", "Key0"}, Out::Text, 0, "java.home"},
    {"SecureExternal", {"Properties", "Property0"}, Out::Text, 0, "jre"},
    {"SecureExternal", {"Properties", "Key1"}, Out::Text, 1, "untouched"},
    {"SecureExternal", {"Missing", "Key0"}, Out::Text, 1, "untouched"},
    // Parameters that run out are "not found".
    {"RegistryUser", {"Verbose"}, Out::None, 1, "untouched"},
    {"SecureInternal", {"Main-Class"}, Out::None, 1, "untouched"},
    {"SecureExternal", {"Properties"}, Out::None, 1, "untouched"},
    // Bad calls.
    {"registryuser", {"Verbose"}, Out::Text, -1, "untouched"},
    {"Registry", {"Verbose"}, Out::Text, -1, "untouched"},
    {nullptr, {"Verbose"}, Out::Text, -1, "untouched"},
    {"RegistryUser", {}, Out::Text, -1, "untouched"},  // the first parameter is the output
    {"RegistryUser", {}, Out::None, -1, "untouched"},
};

std::string describe(const Row& row) {
  std::string text = row.source != nullptr ? row.source : "NULL";
  for (const char* k : row.keys) text += std::string(" ") + k;
  return text + " -> kind " + std::to_string(static_cast<int>(row.out));
}

TEST(Konfigurator, LookupTable) {
  arrangeMachine();
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  ASSERT_NE(konfigurator, nullptr);
  for (const Row& row : kRows) {
    std::vector<CKonfigParam> params;
    for (const char* k : row.keys) params.push_back(konfigKey(k));
    std::string text = "untouched";
    VString vtext("untouched");
    DWORD number = 4711;
    switch (row.out) {
      case Out::Text: params.push_back(konfigOut(&text)); break;
      case Out::VText: params.push_back(konfigOut(&vtext)); break;
      case Out::Number: params.push_back(konfigOut(&number)); break;
      case Out::Number6: {
        CKonfigParam p;
        p.m_kind = CKonfigParam::kNumber2;
        p.m_value = &number;
        params.push_back(p);
        break;
      }
      case Out::None: break;
    }
    EXPECT_EQ(konfigurator->get(row.source, params.data(), params.size()), row.result) << describe(row);
    std::string delivered = text;
    if (row.out == Out::VText) delivered = vtext.getText();
    if (row.out == Out::Number || row.out == Out::Number6)
      delivered = number == 4711 ? "untouched" : std::to_string(number);
    EXPECT_EQ(delivered, row.value) << describe(row);
  }
}

TEST(Konfigurator, VariadicCallsAndModulePath) {
  arrangeMachine();
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  ASSERT_NE(konfigurator, nullptr);
  std::string mainClass;
  EXPECT_EQ(konfigurator->get("SecureInternal", konfigKey("Main-Class"), konfigOut(&mainClass)), 0);
  EXPECT_EQ(mainClass, "at.Quarvel.Launcher");
  std::string key;
  EXPECT_EQ(konfigurator->get("SecureExternal", konfigKey("Properties"), konfigKey("Key0"), konfigOut(&key)), 0);
  EXPECT_EQ(key, "java.home");
  EXPECT_EQ(konfigurator->get("RegistryUser"), -1);
  EXPECT_EQ(konfigurator->get("RegistryUser", konfigKey("Verbose")), 1);

  // The path part of a module entry, after the first ':'.
  ft::installArchive("ctdriver", ft::signedArchive({eswtool::Section{
                                     "ctapi:C:\\drivers\\ct:api.so", {{"SectionName", "ctdriver"}}, true}}));
  std::string path = "unchanged";
  konfigurator->getModulePath(konfigKey("ctdriver"), "ctdriver", path);
  EXPECT_EQ(path, "C:\\drivers\\ct:api.so");
  for (const char* file : {"missing", "Properties"}) {
    path = "unchanged";
    konfigurator->getModulePath(konfigKey("ctdriver"), file, path);
    EXPECT_EQ(path, "unchanged") << file;
  }
}

TEST(Konfigurator, UnsignedAndStrangerArchivesAreNotRead) {
  arrangeMachine();
  ft::installArchive("Properties", ft::signedArchive({eswtool::Section{
                                       "config:Properties", {{"SectionName", "Properties"}, {"Key0", "forged"}}, true}},
                                                     ft::strangerSigner()));
  std::string key = "untouched";
  EXPECT_EQ(CKonfigurator::getInstance()->get("SecureExternal", konfigKey("Properties"), konfigKey("Key0"),
                                              konfigOut(&key)),
            1);
  EXPECT_EQ(key, "untouched");
}

TEST(Konfigurator, ConstructorArguments) {
  ft::makeApplication();
  try {
    CKonfigurator konfigurator(nullptr, "Quarvel");
    FAIL() << "no exception";
  } catch (const VOQ::CBadArgumentException& e) {
    EXPECT_EQ(e.getWhere(), "CKonfigurator::CKonfigurator");
    EXPECT_EQ(e.getMessage(), "Invalid Parameter.\n");
  }
  // A product of its own: both keys are made for it.
  ft::setString("HKCU\\Software\\VOQ. VUV-Oredaridez GmbH\\Other", "Verbose", "other");
  CKonfigurator other("VOQ. VUV-Oredaridez GmbH", "Other");
  std::string text;
  EXPECT_EQ(other.get("RegistryUser", konfigKey("Verbose"), konfigOut(&text)), 0);
  EXPECT_EQ(text, "other");
}

// A standard user cannot create the machine key that the installer did not make:
// the constructor fails, and so does every later getInstance, without waiting for ever.
TEST(Konfigurator, StandardUserWithoutMachineKey) {
  ft::makeApplication();
  platform::registry::setStandardUser(true);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      CKonfigurator::getInstance();
      FAIL() << "no exception";
    } catch (const VOQ::CNoSuchObjectException& e) {
      EXPECT_EQ(e.getWhere(), "CKonfigurator::CKonfigurator");
      EXPECT_EQ(e.getMessage(), "Cannot open Registry.\n");
    }
  }
  // Once the installer has made the key, the standard user reads it.
  platform::registry::setStandardUser(false);
  ft::createKey(kMachine);
  platform::registry::setStandardUser(true);
  EXPECT_NE(CKonfigurator::getInstance(), nullptr);
}

TEST(Konfigurator, ThreadsShareOneInstance) {
  arrangeMachine();
  std::vector<CKonfigurator*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t)
    threads.emplace_back([t, &seen] {
      seen[t] = CKonfigurator::getInstance();
      std::string text;
      for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(seen[t]->get("RegistryMachine", konfigKey("A"), konfigKey("B"), konfigKey("V"), konfigOut(&text)), 0);
        EXPECT_EQ(text, "deep");
      }
    });
  for (std::thread& t : threads) t.join();
  for (CKonfigurator* k : seen) EXPECT_EQ(k, seen[0]);
}

}  // namespace
