// The registry functions within one process: keys, values, names, access, handles.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/registry_test.h"
#include "registry_helpers.h"

namespace {

using regtest::bytes;
using regtest::bytesWithNul;
using regtest::createKey;
using regtest::getValue;
using regtest::ScopedKey;
using regtest::setValue;

constexpr const char* kProductKey = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(RegistryKeys, CreateMakesAllMissingLevelsAndReportsDisposition) {
  ScopedKey key;
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_NE(key.get(), nullptr);

  for (const char* level : {"Software", "Software\\VOQ. VUV-Oredaridez GmbH", kProductKey}) {
    ScopedKey opened;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, level, 0, KEY_READ, opened.out()), ERROR_SUCCESS) << level;
  }

  ScopedKey again;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, again, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  // Relative to an open key, and only the last level new.
  ScopedKey trace;
  ASSERT_EQ(createKey(key.get(), "Trace", trace, KEY_ALL_ACCESS, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
}

TEST(RegistryKeys, OpenOfAMissingKeyFailsAndCreatesNothing) {
  ScopedKey key;
  HKEY* out = key.out();
  *out = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(*out, nullptr);
  EXPECT_FALSE(fileExists(platform::registry::hiveFilePath(HKEY_CURRENT_USER)));

  ScopedKey software;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software", software), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(software.get(), "VOQ. VUV-Oredaridez GmbH", key.out()), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(regtest::subkeyNames(software.get()).empty());
}

TEST(RegistryKeys, PathSyntax) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "A\\B", key), ERROR_SUCCESS);
  struct Case {
    const char* path;
    LONG open;
  } cases[] = {
      {"A\\B", ERROR_SUCCESS},
      {"A\\B\\", ERROR_SUCCESS},  // a trailing backslash is tolerated
      {"", ERROR_SUCCESS},         // the root itself
      {"\\A", ERROR_BAD_PATHNAME},
      {"A\\\\B", ERROR_BAD_PATHNAME},
      {"A/B", ERROR_FILE_NOT_FOUND},  // '/' is an ordinary character in key names
  };
  for (const auto& c : cases) {
    ScopedKey opened;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, c.path, 0, KEY_READ, opened.out()), c.open) << c.path;
  }
  const std::string longName(256, 'x');
  EXPECT_EQ(createKey(HKEY_CURRENT_USER, longName.c_str(), key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey(HKEY_CURRENT_USER, longName.substr(1).c_str(), key), ERROR_SUCCESS);
}

TEST(RegistryNames, CompareCaseInsensitivelyAndKeepTheirSpelling) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  ASSERT_EQ(setValue(key.get(), "Verbose", REG_SZ, bytesWithNul("security")), ERROR_SUCCESS);

  ScopedKey upper;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\voq. vuv-OREDARIDEZ gmbh\\QUARVEL", 0, KEY_ALL_ACCESS,
                          upper.out()),
            ERROR_SUCCESS);
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(upper.get(), "VERBOSE", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("security"));

  // Overwriting through another spelling changes the data, not the name.
  ASSERT_EQ(setValue(upper.get(), "verbose", REG_SZ, bytesWithNul("1")), ERROR_SUCCESS);
  EXPECT_EQ(regtest::valueNames(key.get()), std::vector<std::string>{"Verbose"});
  ASSERT_EQ(getValue(key.get(), "Verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("1"));

  ScopedKey software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, software.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::subkeyNames(software.get()), std::vector<std::string>{"VOQ. VUV-Oredaridez GmbH"});

  // Creating with another spelling opens the existing key.
  DWORD disposition = 0;
  ScopedKey same;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "SOFTWARE\\VOQ. VUV-OREDARIDEZ GMBH", same, KEY_READ, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(regtest::subkeyNames(software.get()).size(), 1u);
}

TEST(RegistryNames, OnlyTheLettersAToZMatchInEitherCase) {
  // Neighbours of the letters, bytes beyond ASCII, and names across eight-byte steps.
  struct Row {
    std::string first, second;
    bool same;
  } rows[] = {
      {"a", "A", true},
      {"z", "Z", true},
      {"@", "`", false},  // 0x40 and 0x60, on either side of the letters
      {"[", "{", false},  // 0x5B and 0x7B
      {"^", "~", false},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false},  // only ASCII letters fold
      {"\xE1", "\xC1", false},
      {"ValueAb", "vALUEaB", true},
      {"EightChr", "eightchr", true},
      {"NineChars", "NINECHARS", true},
      {"NineChars", "NineChar", false},
      {"SixteenCharsName", "sixteencharsnamE", true},
      {"SeventeenCharName", "SEVENTEENCHARNAMe", true},
      {"SeventeenCharName", "SeventeenCharNam@", false},
      {"", "", true},
  };
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE("'" + row.first + "' and '" + row.second + "'");
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, (std::string(kProductKey) + "\\Names" + std::to_string(++index)).c_str(),
                        key),
              ERROR_SUCCESS);
    ASSERT_EQ(setValue(key.get(), row.first.c_str(), REG_SZ, bytesWithNul("first")), ERROR_SUCCESS);
    ASSERT_EQ(setValue(key.get(), row.second.c_str(), REG_SZ, bytesWithNul("second")), ERROR_SUCCESS);
    std::vector<BYTE> data;
    ASSERT_EQ(getValue(key.get(), row.first.c_str(), data), ERROR_SUCCESS);
    EXPECT_EQ(data, bytesWithNul(row.same ? "second" : "first"));
    const std::vector<std::string> names =
        row.same ? std::vector<std::string>{row.first} : std::vector<std::string>{row.first, row.second};
    EXPECT_EQ(regtest::valueNames(key.get()), names);
    // A delete by the second spelling removes the first name only where the two are one.
    ASSERT_EQ(RegDeleteValueA(key.get(), row.second.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(getValue(key.get(), row.first.c_str(), data), row.same ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
  }
}

TEST(RegistryNames, ValueAndSubkeyOfTheSameNameAreSeparate) {
  ScopedKey key, sub;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  ASSERT_EQ(setValue(key.get(), "Verbose", REG_SZ, bytesWithNul("yes")), ERROR_SUCCESS);
  ASSERT_EQ(createKey(key.get(), "Verbose", sub), ERROR_SUCCESS);
  ASSERT_EQ(setValue(sub.get(), "Verbose", REG_SZ, bytesWithNul("inner")), ERROR_SUCCESS);

  std::vector<BYTE> data;
  ASSERT_EQ(getValue(key.get(), "Verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("yes"));
  ASSERT_EQ(RegDeleteValueA(key.get(), "Verbose"), ERROR_SUCCESS);
  EXPECT_EQ(getValue(key.get(), "Verbose", data), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(getValue(sub.get(), "Verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("inner"));

  ASSERT_EQ(setValue(key.get(), "Verbose", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  sub.reset();
  ASSERT_EQ(RegDeleteKeyA(key.get(), "Verbose"), ERROR_SUCCESS);
  ASSERT_EQ(getValue(key.get(), "Verbose", data), ERROR_SUCCESS);
  EXPECT_EQ(data, (std::vector<BYTE>{1, 0, 0, 0}));
}

TEST(RegistryValues, KeepExactBytesAndType) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  const std::vector<BYTE> multi{'a', 0, 'b', 'c', 0, 0};
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"TextWithNul", REG_SZ, bytesWithNul("C:\\Programme\\Quarvel")},
      {"TextWithoutNul", REG_SZ, bytes("no terminator")},
      {"EmptyText", REG_SZ, {}},
      {"Expand", REG_EXPAND_SZ, bytesWithNul("%SystemRoot%\\x")},
      {"Multi", REG_MULTI_SZ, multi},
      {"Dword", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"ShortDword", REG_DWORD, {7}},
      {"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"Binary", REG_BINARY, {0, 0, 0xFF, 0, 0x80}},
      {"None", REG_NONE, {}},
      {"OddType", 0x12345678u, {9, 8, 7}},
      {"", REG_SZ, bytesWithNul("default value")},
      {"Umlaut \xC3\xA4", REG_SZ, bytesWithNul("Gr\xC3\xBC\xC3\x9F" "e")},
  };
  std::vector<BYTE> big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  for (const auto& c : cases) ASSERT_EQ(setValue(key.get(), c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
  ASSERT_EQ(setValue(key.get(), "Big", REG_BINARY, big), ERROR_SUCCESS);

  for (const auto& c : cases) {
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_EQ(getValue(key.get(), c.name, data, &type), ERROR_SUCCESS) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(key.get(), "Big", data), ERROR_SUCCESS);
  EXPECT_EQ(data, big);
  // NULL names the default value, as "" does.
  ASSERT_EQ(getValue(key.get(), nullptr, data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("default value"));
}

TEST(RegistryValues, BufferSizes) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  const std::vector<BYTE> text = bytesWithNul("0123456789");  // 11 bytes
  ASSERT_EQ(setValue(key.get(), "Text", REG_SZ, text), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, REG_SZ);

  struct Case {
    DWORD capacity;
    LONG status;
  } cases[] = {{0, ERROR_MORE_DATA}, {10, ERROR_MORE_DATA}, {11, ERROR_SUCCESS}, {1024, ERROR_SUCCESS}};
  for (const auto& c : cases) {
    std::vector<BYTE> buffer(1024, 0xCC);
    size = c.capacity;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, nullptr, buffer.data(), &size), c.status) << c.capacity;
    EXPECT_EQ(size, 11u) << "needed size reported for capacity " << c.capacity;
    if (c.status == ERROR_SUCCESS) {
      EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + 11), text);
      EXPECT_EQ(buffer[11], 0xCC) << "wrote past the value";
    } else {
      EXPECT_EQ(buffer[c.capacity], 0xCC) << "wrote past the buffer";
    }
  }

  BYTE byte;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, nullptr, &byte, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key.get(), "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExA(key.get(), "NoData", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(RegSetValueExA(key.get(), "EmptyData", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
}

TEST(RegistryAccess, HandleRightsDecideWhatACallMayDo) {
  ScopedKey full;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, full), ERROR_SUCCESS);
  ASSERT_EQ(setValue(full.get(), "Tip", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  ScopedKey child;
  ASSERT_EQ(createKey(full.get(), "Existing", child), ERROR_SUCCESS);
  child.reset();

  struct Case {
    const char* name;
    REGSAM access;
    bool read, write, create, enumerate;
  } cases[] = {
      {"KEY_READ", KEY_READ, true, false, false, true},
      {"KEY_QUERY_VALUE", KEY_QUERY_VALUE, true, false, false, false},
      {"KEY_WRITE", KEY_WRITE, false, true, true, false},
      {"KEY_SET_VALUE", KEY_SET_VALUE, false, true, false, false},
      {"KEY_ALL_ACCESS", KEY_ALL_ACCESS, true, true, true, true},
      {"GENERIC_READ", GENERIC_READ, true, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, c.access, key.out()), ERROR_SUCCESS);
    const LONG denied = ERROR_ACCESS_DENIED;
    std::vector<BYTE> data;
    EXPECT_EQ(getValue(key.get(), "Tip", data), c.read ? ERROR_SUCCESS : denied);
    EXPECT_EQ(regtest::setDword(key.get(), "Tip", 0), c.write ? ERROR_SUCCESS : denied);
    EXPECT_EQ(RegDeleteValueA(key.get(), "Missing"), c.write ? ERROR_FILE_NOT_FOUND : denied);
    ScopedKey created;
    EXPECT_EQ(createKey(key.get(), "New", created), c.create ? ERROR_SUCCESS : denied);
    // Opening an existing subkey through RegCreateKeyExA needs no right on the parent.
    EXPECT_EQ(createKey(key.get(), "Existing", created), ERROR_SUCCESS);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              c.enumerate ? ERROR_SUCCESS : denied);
    created.reset();
    if (c.create) {
      ASSERT_EQ(RegDeleteKeyA(full.get(), "New"), ERROR_SUCCESS);
    }
  }

  // A read-only handle cannot delete its own key either.
  ScopedKey reader;
  ASSERT_EQ(RegOpenKeyExA(full.get(), "Existing", 0, KEY_READ, reader.out()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(reader.get(), ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeA(reader.get(), nullptr), ERROR_ACCESS_DENIED);
}

TEST(RegistryHandles, StaleAndForeignHandlesFailCleanly) {
  ScopedKey key;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
  const size_t open = platform::registry::openKeyHandleCount();
  EXPECT_EQ(RegCloseKey(raw), ERROR_SUCCESS);
  EXPECT_EQ(platform::registry::openKeyHandleCount(), open - 1);

  // A new handle never gets the closed one's number back.
  ScopedKey other;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_ALL_ACCESS, other.out()), ERROR_SUCCESS);
  EXPECT_NE(other.get(), raw);

  const HKEY bad[] = {raw, nullptr, reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7FFFFFF0)),
                      reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xDEADBEEF)), HKEY_CURRENT_CONFIG,
                      HKEY_PERFORMANCE_DATA};
  for (HKEY h : bad) {
    SCOPED_TRACE(reinterpret_cast<uintptr_t>(h));
    DWORD size = 0;
    ScopedKey sub;
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(regtest::setDword(h, "x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(h, "x", 0, KEY_READ, sub.out()), ERROR_INVALID_HANDLE);
    EXPECT_EQ(createKey(h, "x", sub), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(h, "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(h, "x"), ERROR_INVALID_HANDLE);
    char name[8];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  }

  // Closing a predefined root is a no-op, as often as one likes; its truncated
  // (not sign-extended) form names the same root.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  ASSERT_EQ(regtest::setDword(HKEY_CURRENT_USER, "Direct", 5), ERROR_SUCCESS);
  const HKEY truncated = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(truncated, "Direct", data), ERROR_SUCCESS);
  EXPECT_EQ(data, (std::vector<BYTE>{5, 0, 0, 0}));
}

TEST(RegistryHandles, AHandleToADeletedKeyReportsIt) {
  ScopedKey parent, child;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, parent), ERROR_SUCCESS);
  ASSERT_EQ(createKey(parent.get(), "Trace", child), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(parent.get(), "Trace"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(child.get(), "Filename", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(regtest::setDword(child.get(), "LogLevel", 1), ERROR_KEY_DELETED);
  ScopedKey grandchild;
  // Creating below a deleted key must not bring the deleted key back.
  EXPECT_EQ(createKey(child.get(), "Below", grandchild), ERROR_KEY_DELETED);
  ScopedKey reopened;
  EXPECT_EQ(RegOpenKeyExA(parent.get(), "Trace", 0, KEY_READ, reopened.out()), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryKeys, DeleteRefusesKeysWithSubkeys) {
  ScopedKey key, sub;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\A\\B\\C", sub), ERROR_SUCCESS);
  sub.reset();
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\A"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\A\\B\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Missing\\B"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "software\\a\\b\\c"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\A\\B"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A\\B", 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
  // The roots themselves cannot go.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);

  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\T\\X\\Y", sub), ERROR_SUCCESS);
  ASSERT_EQ(setValue(sub.get(), "v", REG_SZ, bytesWithNul("x")), ERROR_SUCCESS);
  sub.reset();
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\T"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, KEY_READ, key.out()), ERROR_SUCCESS);
}

TEST(RegistryEnumeration, KeysInNameOrderValuesInInsertionOrder) {
  ScopedKey key, sub;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  for (const char* name : {"Trace", "reader0", "Alpha", "a_b", "AB"}) ASSERT_EQ(createKey(key.get(), name, sub), ERROR_SUCCESS);
  for (const char* name : {"Tip", "Autoupdate", "UseInfoboxPin", "Reader0"})
    ASSERT_EQ(setValue(key.get(), name, REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
  ASSERT_EQ(setValue(key.get(), "Tip", REG_SZ, bytesWithNul("long text value")), ERROR_SUCCESS);

  // Windows orders subkeys by their upper-case names: '_' (0x5F) after the letters.
  EXPECT_EQ(regtest::subkeyNames(key.get()), (std::vector<std::string>{"AB", "Alpha", "a_b", "reader0", "Trace"}));
  EXPECT_EQ(regtest::valueNames(key.get()),
            (std::vector<std::string>{"Tip", "Autoupdate", "UseInfoboxPin", "Reader0"}));

  // The two-step read of a value: name, type and size first, then the data.
  char name[256];
  DWORD length = sizeof name, type = 0, size = 0;
  ASSERT_EQ(RegEnumValueA(key.get(), 0, name, &length, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Tip");
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 16u);
  std::vector<BYTE> data(size + 1);
  length = sizeof name;
  DWORD small = 4;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &length, nullptr, &type, data.data(), &small), ERROR_MORE_DATA);
  EXPECT_EQ(small, 16u);
  length = sizeof name;
  ASSERT_EQ(RegEnumValueA(key.get(), 0, name, &length, nullptr, &type, data.data(), &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(data.data()), "long text value");

  // Name buffers count the terminator.
  length = 3;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  length = 5;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 4, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  length = 6;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 4, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Trace");
  EXPECT_EQ(RegEnumKeyA(key.get(), 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "AB");

  length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 5, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(key.get(), 4, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxValue = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                             &maxValueName, &maxValue, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 5u);
  EXPECT_EQ(maxSubkey, 7u);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(maxValueName, 13u);
  EXPECT_EQ(maxValue, 16u);
  EXPECT_NE(written.dwHighDateTime, 0u);
}

TEST(RegistryRoots, ClassesRootIsAViewOfMachineClasses) {
  ScopedKey viaClasses, viaMachine;
  ASSERT_EQ(createKey(HKEY_CLASSES_ROOT, ".pdf\\shellex", viaClasses), ERROR_SUCCESS);
  ASSERT_EQ(setValue(viaClasses.get(), "", REG_SZ, bytesWithNul("handler")), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pdf\\shellex", 0, KEY_READ, viaMachine.out()),
            ERROR_SUCCESS);
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(viaMachine.get(), "", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("handler"));
  EXPECT_EQ(regtest::subkeyNames(HKEY_CLASSES_ROOT), std::vector<std::string>{".pdf"});
  // The roots do not share their keys otherwise.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\.pdf", 0, KEY_READ, viaMachine.out()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Software\\Classes\\.pdf", 0, KEY_READ, viaMachine.out()),
            ERROR_FILE_NOT_FOUND);
}

TEST(RegistryRoots, AnEmptyClassesRootCanBeReadAndEnumerated) {
  ScopedKey key;
  EXPECT_TRUE(regtest::subkeyNames(HKEY_CLASSES_ROOT).empty());
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, key.out()), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, key.out()), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

class StandardUser : public testing::Test {
 protected:
  void SetUp() override {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, kProductKey, key), ERROR_SUCCESS);
    ASSERT_EQ(setValue(key.get(), "InstallDir", REG_SZ, bytesWithNul("C:\\Programme\\Quarvel")), ERROR_SUCCESS);
    // A write handle taken while the user still had the right.
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, kProductKey, writer_), ERROR_SUCCESS);
    platform::registry::setStandardUser(true);
  }
  void TearDown() override { platform::registry::setStandardUser(false); }

  ScopedKey writer_;
};

TEST_F(StandardUser, MachineKeysAreReadOnly) {
  ASSERT_TRUE(platform::registry::isStandardUser());
  ScopedKey key;
  const LONG denied = ERROR_ACCESS_DENIED;
  EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Other", key), denied);
  EXPECT_EQ(key.get(), nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Other", 0, KEY_READ, key.out()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\New", key, KEY_READ), denied);
  EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, kProductKey, key, KEY_ALL_ACCESS), denied);
  EXPECT_EQ(createKey(HKEY_LOCAL_MACHINE, kProductKey, key, KEY_WRITE), denied);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, key.out()), denied);
  EXPECT_EQ(regtest::setDword(HKEY_LOCAL_MACHINE, "x", 1), denied);
  EXPECT_EQ(regtest::setDword(writer_.get(), "x", 1), denied);
  EXPECT_EQ(RegDeleteValueA(writer_.get(), "InstallDir"), denied);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey), denied);
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software"), denied);
  EXPECT_EQ(createKey(HKEY_CLASSES_ROOT, "CLSID", key), denied);

  // Reading works, through every way of opening for reading.
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, kProductKey, key, KEY_READ, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(key.get(), "InstallDir", data), ERROR_SUCCESS);
  EXPECT_EQ(data, bytesWithNul("C:\\Programme\\Quarvel"));
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kProductKey, key.out()), ERROR_SUCCESS);
  EXPECT_EQ(getValue(key.get(), "InstallDir", data), ERROR_SUCCESS);
  EXPECT_EQ(regtest::setDword(key.get(), "x", 1), denied) << "RegOpenKeyA gives a standard user read access";
  ASSERT_EQ(getValue(writer_.get(), "InstallDir", data), ERROR_SUCCESS);

  // The user's own keys stay writable.
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, kProductKey, key), ERROR_SUCCESS);
  EXPECT_EQ(regtest::setDword(key.get(), "Tip", 1), ERROR_SUCCESS);

  // Nothing changed in the machine hive.
  platform::registry::setStandardUser(false);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, key.out()), ERROR_SUCCESS);
  EXPECT_EQ(regtest::subkeyNames(key.get()), std::vector<std::string>{"VOQ. VUV-Oredaridez GmbH"});
  EXPECT_EQ(regtest::valueNames(writer_.get()), std::vector<std::string>{"InstallDir"});
}

// Only the user's own hive (HKCU) takes writes from a standard user: HKLM, the
// classes under it and every hive under HKU (the default profile, other users).
TEST_F(StandardUser, OnlyTheOwnHiveIsWritable) {
  platform::registry::setStandardUser(false);
  for (const char* path : {".DEFAULT\\Software\\Quarvel", "S-1-5-21-1000\\Software\\Quarvel"}) {
    ScopedKey key;
    ASSERT_EQ(createKey(HKEY_USERS, path, key), ERROR_SUCCESS) << path;
    ASSERT_EQ(regtest::setDword(key.get(), "Tip", 1), ERROR_SUCCESS) << path;
  }
  ScopedKey usersWriter;
  ASSERT_EQ(createKey(HKEY_USERS, ".DEFAULT\\Software\\Quarvel", usersWriter), ERROR_SUCCESS);
  platform::registry::setStandardUser(true);

  struct Case {
    HKEY root;
    const char* path;
    bool writable;
    bool exists;
  } cases[] = {
      {HKEY_CURRENT_USER, "Software\\Quarvel", true, false},
      {HKEY_CURRENT_USER, "Software\\New\\Deeper", true, false},
      {HKEY_USERS, ".DEFAULT\\Software\\Quarvel", false, true},
      {HKEY_USERS, ".DEFAULT\\Software\\New", false, false},
      {HKEY_USERS, "S-1-5-21-1000\\Software\\Quarvel", false, true},
      {HKEY_USERS, "NewUser", false, false},
      {HKEY_LOCAL_MACHINE, kProductKey, false, true},
      {HKEY_CLASSES_ROOT, ".pdf", false, false},
  };
  for (const Case& c : cases) {
    const LONG expected = c.writable ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    ScopedKey key;
    EXPECT_EQ(createKey(c.root, c.path, key), expected) << c.path;
    const LONG opened = c.writable ? ERROR_SUCCESS : c.exists ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(RegOpenKeyExA(c.root, c.path, 0, KEY_SET_VALUE, key.out()), opened) << c.path;
    if (c.writable) {
      EXPECT_EQ(regtest::setDword(key.get(), "Tip", 2), ERROR_SUCCESS) << c.path;
    }
  }
  // Handles taken before the switch, deletes and reads.
  EXPECT_EQ(regtest::setDword(usersWriter.get(), "Tip", 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(usersWriter.get(), "Tip"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeA(HKEY_USERS, ".DEFAULT"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "S-1-5-21-1000\\Software\\Quarvel"), ERROR_ACCESS_DENIED);
  ScopedKey reader;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, ".DEFAULT\\Software\\Quarvel", 0, KEY_READ, reader.out()), ERROR_SUCCESS);
  std::vector<BYTE> data;
  ASSERT_EQ(getValue(reader.get(), "Tip", data), ERROR_SUCCESS);
  EXPECT_EQ(data, (std::vector<BYTE>{1, 0, 0, 0}));
}

TEST_F(StandardUser, TheSwitchIsReadAtEveryCall) {
  EXPECT_EQ(regtest::setDword(writer_.get(), "x", 1), ERROR_ACCESS_DENIED);
  platform::registry::setStandardUser(false);
  EXPECT_EQ(regtest::setDword(writer_.get(), "x", 1), ERROR_SUCCESS);
  setenv(platform::registry::kStandardUserVariable, "yes", 1);
  EXPECT_EQ(regtest::setDword(writer_.get(), "x", 2), ERROR_ACCESS_DENIED);
  setenv(platform::registry::kStandardUserVariable, "0", 1);
  EXPECT_EQ(regtest::setDword(writer_.get(), "x", 3), ERROR_SUCCESS);
}

}  // namespace
