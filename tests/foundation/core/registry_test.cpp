#include "foundation/core/VRegistry.h"
#include "platform/registry_test.h"
#include "quarvel_test.h"
#include "tests/foundation/TestIdentity.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <windows.h>

namespace {

const char* const kCompany = "VOQ. VUV-Oredaridez GmbH";
const char* const kProduct = "Quarvel";
const char* const kKeyPath = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

// Every file under the machine root with its size and modification time.
std::map<std::string, std::string> machineFiles() {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(quarveltest::machineRoot())) {
    std::string state = "dir";
    if (entry.is_regular_file()) {
      state = std::to_string(entry.file_size()) + "@" +
              std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    files[entry.path().string()] = state;
  }
  return files;
}

bool keyExists(HKEY root, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Writes a value with exactly these bytes and this type under the product key.
void setValue(const char* name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(VRegistry, OpenRefusalsTouchNothing) {
  // Make the hive exist first, so that an unwanted write would show in its file.
  setValue("Marker", REG_DWORD, std::string(4, '\1'));
  auto before = machineFiles();
  VRegistry registry;
  EXPECT_FALSE(registry.open(nullptr, kProduct, HKEY_CURRENT_USER, KEY_ALL_ACCESS));
  EXPECT_FALSE(registry.open(kCompany, kProduct, nullptr, KEY_ALL_ACCESS));
  // No application name yet, so no product either.
  EXPECT_FALSE(registry.open("Other Company", nullptr, HKEY_CURRENT_USER, KEY_ALL_ACCESS));
  EXPECT_EQ(registry.getKey(), nullptr);
  EXPECT_EQ(machineFiles(), before);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Other Company"));
}

TEST(VRegistry, OpenCreatesTheKeyOnceAndHoldsIt) {
  ASSERT_FALSE(keyExists(HKEY_CURRENT_USER, kKeyPath));
  VRegistry registry;
  ASSERT_TRUE(registry.open(kCompany, kProduct, HKEY_CURRENT_USER, KEY_ALL_ACCESS));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kKeyPath));
  HKEY held = registry.getKey();
  EXPECT_FALSE(registry.open(kCompany, "Else", HKEY_CURRENT_USER, KEY_ALL_ACCESS));
  EXPECT_EQ(registry.getKey(), held);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Else"));
}

TEST(VRegistry, ProductDefaultsToTheApplicationsTitle) {
  VRegistry none;
  EXPECT_FALSE(none.open(kCompany, nullptr, HKEY_CURRENT_USER, KEY_ALL_ACCESS));  // no title, no key
  foundationtest::TestIdentity identity;
  identity.title = "Quarvel";
  VRegistry registry;
  ASSERT_TRUE(registry.open(kCompany, nullptr, HKEY_CURRENT_USER, KEY_ALL_ACCESS));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kKeyPath));
}

TEST(VRegistry, StandardUserOpensTheMachineKeyForReadingOnly) {
  {
    VRegistry machine;
    ASSERT_TRUE(machine.open(kCompany, kProduct, HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS));
  }
  platform::registry::setStandardUser(true);
  VRegistry writable;
  EXPECT_FALSE(writable.open(kCompany, kProduct, HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS));
  EXPECT_EQ(writable.getKey(), nullptr);
  VRegistry readable;
  EXPECT_TRUE(readable.open(kCompany, kProduct, HKEY_LOCAL_MACHINE, KEY_READ));
  VRegistry missing;
  EXPECT_FALSE(missing.open(kCompany, "NotInstalled", HKEY_LOCAL_MACHINE, KEY_READ));
  platform::registry::setStandardUser(false);
}

TEST(VRegistry, DestructorClosesTheKey) {
  size_t open = platform::registry::openKeyHandleCount();
  {
    VRegistry registry;
    ASSERT_TRUE(registry.open(kCompany, kProduct, HKEY_CURRENT_USER, KEY_ALL_ACCESS));
    EXPECT_EQ(platform::registry::openKeyHandleCount(), open + 1);
  }
  EXPECT_EQ(platform::registry::openKeyHandleCount(), open);
}

TEST(VRegistry, QueryStringTable) {
  const std::string x1023(1023, 'x');
  const std::string x1024(1024, 'x');
  struct Case {
    const char* name;
    DWORD type;
    std::optional<std::string> stored;  // nullopt: value missing
    const char* expected;               // nullptr: no text
    std::string expectedText;
  } cases[] = {
      {"Terminated", REG_SZ, std::string("abc", 4), "", "abc"},
      {"NoTerminator", REG_SZ, std::string("abc"), "", "abc"},
      {"Full1024NoTerminator", REG_SZ, x1024, "", x1024},
      {"Full1024WithTerminator", REG_SZ, x1023 + std::string(1, '\0'), "", x1023},
      {"TooLong1025", REG_SZ, x1024 + std::string(1, '\0'), nullptr, ""},
      {"TooLong2000", REG_BINARY, std::string(2000, 'y'), nullptr, ""},
      {"EmptyText", REG_SZ, std::string(1, '\0'), nullptr, ""},
      {"NoBytes", REG_SZ, std::string(), nullptr, ""},
      {"InnerNul", REG_BINARY, std::string("ab\0cd", 5), "", "ab"},
      {"DwordBytes", REG_DWORD, std::string("DCBA"), "", "DCBA"},
      {"Missing", REG_SZ, std::nullopt, nullptr, ""},
  };
  for (const Case& c : cases) {
    if (c.stored) setValue(c.name, c.type, *c.stored);
  }
  VRegistry registry;
  ASSERT_TRUE(registry.open(kCompany, kProduct, HKEY_CURRENT_USER, KEY_READ));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VString target("previous");
    char* result = registry.queryString(c.name, target);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, nullptr);
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(result, target.getBuffer());
      EXPECT_EQ(std::string(target.getText(), target.getLength()), c.expectedText);
    }
  }
}

TEST(VRegistry, QueryWithoutKeyGivesNothing) {
  VRegistry registry;
  VString target;
  EXPECT_EQ(registry.queryString("Anything", target), nullptr);
  EXPECT_EQ(registry.queryDWORD("Anything", 42u), 42u);
}

TEST(VRegistry, QueryDWORDTable) {
  struct Case {
    const char* name;
    DWORD type;
    std::optional<std::string> stored;
    DWORD expected;
  } cases[] = {
      {"Level", REG_DWORD, std::string("\x07\x00\x00\x00", 4), 7u},
      {"MinusOne", REG_DWORD, std::string("\xff\xff\xff\xff", 4), 0xFFFFFFFFu},
      {"TwoBytes", REG_BINARY, std::string("\x34\x12", 2), 0x1234u},  // the rest reads as zero
      {"OneByte", REG_BINARY, std::string("\x05", 1), 5u},
      {"Text", REG_SZ, std::string("1\0", 2), 0x31u},  // the bytes, whatever the type
      {"TooLong", REG_QWORD, std::string(8, '\1'), 99u},
      {"Missing", REG_DWORD, std::nullopt, 99u},
  };
  for (const Case& c : cases) {
    if (c.stored) setValue(c.name, c.type, *c.stored);
  }
  VRegistry registry;
  ASSERT_TRUE(registry.open(kCompany, kProduct, HKEY_CURRENT_USER, KEY_READ));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(registry.queryDWORD(c.name, 99u), c.expected);
  }
  EXPECT_EQ(registry.queryDWORD(nullptr, 99u), 99u);
}

}  // namespace
