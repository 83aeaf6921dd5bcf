#include "foundation/base/VDelimitedString.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Calls next until NULL; "<NULL>" marks the end.
std::vector<std::string> tokens(VDelimitedString& d, bool restore) {
  std::vector<std::string> out;
  for (int guard = 0; guard < 20; ++guard) {
    char* t = d.next(restore);
    if (t == nullptr) {
      out.push_back("<NULL>");
      break;
    }
    out.push_back(t);
  }
  return out;
}

TEST(VDelimitedString, TokenTable) {
  struct Case {
    const char* text;
    char delimiter;
    std::vector<std::string> expected;
  } cases[] = {
      {"a;;b;", ';', {"a", "", "b", "<NULL>"}},
      {"", ';', {"<NULL>"}},
      {"abc", ';', {"abc", "<NULL>"}},
      {";a", ';', {"", "a", "<NULL>"}},
      {";", ';', {"", "<NULL>"}},
      {"x,y", ',', {"x", "y", "<NULL>"}},
      {"a;b", '\0', {"a;b", "<NULL>"}},
  };
  for (const Case& c : cases) {
    for (bool restore : {false, true}) {
      SCOPED_TRACE(std::string("'") + c.text + "' restore=" + (restore ? "1" : "0"));
      std::string buffer = c.text;
      VDelimitedString d(buffer.data(), c.delimiter);
      EXPECT_EQ(tokens(d, restore), c.expected);
      EXPECT_EQ(d.position, VDelimitedString::kExhausted);
      EXPECT_EQ(d.next(restore), nullptr);
      if (restore) {
        EXPECT_EQ(std::string(buffer.c_str()), c.text);
      }
    }
  }
}

TEST(VDelimitedString, WithoutRestoreTheCutsStay) {
  std::string buffer = "a;;b;";
  VDelimitedString d(buffer.data(), ';');
  tokens(d, false);
  EXPECT_EQ(buffer, std::string("a\0\0b\0", 5));
}

TEST(VDelimitedString, PositionFollowsTheCuts) {
  std::string buffer = "ab;c;d";
  VDelimitedString d;
  d.text = buffer.data();
  d.delimiter = ';';
  EXPECT_EQ(d.position, VDelimitedString::kBeforeFirst);
  d.next(true);
  EXPECT_EQ(d.position, 2);
  d.next(true);
  EXPECT_EQ(d.position, 4);
  EXPECT_STREQ(d.next(true), "d");
  EXPECT_EQ(d.position, VDelimitedString::kExhausted);
  EXPECT_EQ(buffer, "ab;c;d");
}

TEST(VDelimitedString, NoTextGivesNull) {
  VDelimitedString d;
  EXPECT_EQ(d.next(false), nullptr);
}

}  // namespace
