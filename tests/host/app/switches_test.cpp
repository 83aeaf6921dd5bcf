// The per-user switches Tip, Autoupdate and UseInfoboxPin over every value a user can
// leave in the registry, written by the registry tool as another process would.
#include "FoundationFixture.h"
#include "host/app/application_secure.h"

#include <gtest/gtest.h>

#include <string>

namespace ft = foundationtest;

namespace {

struct Switch {
  const char* name;
  bool (*read)();
  void (*write)(bool);
  bool whenOne;
  bool whenOther;  // 2, 5, 0xFFFFFFFF
  bool byDefault;  // missing or unreadable
};

const Switch kSwitches[] = {
    {"Tip", &tipEnabled, &setTipEnabled, true, false, false},
    {"Autoupdate", &autoupdateEnabled, &setAutoupdateEnabled, true, true, true},
    {"UseInfoboxPin", &useInfoboxPinEnabled, &setUseInfoboxPinEnabled, true, true, true},
};

class Switches : public ::testing::TestWithParam<Switch> {
 protected:
  void SetUp() override { ft::makeApplication(); }
};

void PrintTo(const Switch& s, std::ostream* os) { *os << s.name; }

TEST_P(Switches, ReadEveryValueByTheirRule) {
  const Switch& s = GetParam();
  // Reading without the key makes it.
  EXPECT_EQ(s.read(), s.byDefault);
  ft::createKey(ft::kUserKey);
  ft::setDword(ft::kUserKey, s.name, 0);
  EXPECT_FALSE(s.read());
  ft::setDword(ft::kUserKey, s.name, 1);
  EXPECT_EQ(s.read(), s.whenOne);
  for (unsigned long value : {2ul, 5ul, 0xFFFFFFFFul}) {
    ft::setDword(ft::kUserKey, s.name, value);
    EXPECT_EQ(s.read(), s.whenOther) << value;
  }
  // A text "1" or five binary bytes are no DWORD: the default.
  ft::setString(ft::kUserKey, s.name, "1");
  EXPECT_EQ(s.read(), s.byDefault);
  ft::setBinary(ft::kUserKey, s.name, "0100000000");
  EXPECT_EQ(s.read(), s.byDefault);
}

// The stored value: its type, size and number.
void expectStored(const char* name, DWORD expected) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0;
  DWORD value = 0xDEAD;
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, expected);
}

TEST_P(Switches, WritesStoreOneOrZero) {
  const Switch& s = GetParam();
  s.write(true);
  expectStored(s.name, 1);
  EXPECT_TRUE(s.read());
  s.write(false);
  expectStored(s.name, 0);
  EXPECT_FALSE(s.read());
}

TEST(SwitchKey, AReadMakesTheUsersKey) {
  ft::makeApplication();
  EXPECT_TRUE(autoupdateEnabled());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Table, Switches, ::testing::ValuesIn(kSwitches),
                         [](const ::testing::TestParamInfo<Switch>& info) { return std::string(info.param.name); });

}  // namespace
