#include "foundation/core/VResourceString.h"
#include "tests/foundation/TestIdentity.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace {

TEST(VResourceString, LoadTable) {
  HINSTANCE program = GetModuleHandleA(nullptr);
  struct Case {
    UINT id;
    HINSTANCE module;
    const char* expected;  // nullptr: no text
  } cases[] = {
      {1, nullptr, "Quarvel"},  // the application's resource module
      {1, program, "Quarvel"},
      {999, nullptr, nullptr},
      {0, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    VResourceString text;
    const char* result = text.load(c.id, c.module);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, nullptr);
      EXPECT_EQ(text.getText(), nullptr);
    } else {
      EXPECT_STREQ(result, c.expected);
      EXPECT_EQ(text.getText(), result);
    }
  }
}

TEST(VResourceString, FailedLoadDropsTheOldText) {
  VResourceString text;
  ASSERT_NE(text.load(1), nullptr);
  EXPECT_EQ(text.load(999), nullptr);
  EXPECT_EQ(text.getText(), nullptr);
}

TEST(VResourceString, LongTextKeepsItsFirst4095Characters) {
  VResourceString text;
  const char* result = text.load(2);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::strlen(result), 4095u);
  EXPECT_EQ(std::string(result), std::string(4095, 'a'));
}

TEST(VResourceString, FollowsTheApplicationsResourceModule) {
  // A resource module without a string table gives no text.
  foundationtest::TestIdentity identity;
  identity.resources = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7777));
  VResourceString text;
  EXPECT_EQ(text.load(1), nullptr);
  EXPECT_STREQ(text.load(1, GetModuleHandleA(nullptr)), "Quarvel");
}

}  // namespace
