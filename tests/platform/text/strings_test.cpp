// lstr* functions and ASCII case mapping.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

TEST(Lstr, CopyWithALimitAlwaysTerminates) {
  struct Case {
    int limit;
    const char* expected;
  } cases[] = {{100, "Quarvel"}, {8, "Quarvel"}, {7, "Quarve"}, {4, "Qua"}, {1, ""}};
  for (const Case& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(lstrcpynA(buffer, "Quarvel", c.limit), buffer);
    EXPECT_STREQ(buffer, c.expected) << c.limit;
  }
  char untouched[4] = "abc";
  lstrcpynA(untouched, "xyz", 0);
  EXPECT_STREQ(untouched, "abc");

  WCHAR wide[8];
  EXPECT_EQ(lstrcpynW(wide, u"Hilfetext", 5), wide);
  EXPECT_EQ(std::u16string(wide), u"Hilf");
  EXPECT_EQ(lstrlenW(u"Hilfetext"), 9);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("geöffnet"), 9) << "bytes, not characters";

  char joined[16];
  lstrcpyA(joined, "ab");
  lstrcatA(joined, "cd");
  EXPECT_STREQ(joined, "abcd");
}

TEST(Lstr, Comparisons) {
  struct Case {
    const char* a;
    const char* b;
    int exact;
    int ignoringCase;
  } cases[] = {
      {"abc", "abc", 0, 0},
      {"abc", "ABC", 1, 0},
      {".PDF", ".pdf", -1, 0},
      {"a", "B", 1, -1},
      {"b", "A", 1, 1},
      {"ab", "abc", -1, -1},
      {"", "", 0, 0},
      {nullptr, "a", -1, -1},
      {"a", nullptr, 1, 1},
      {nullptr, nullptr, 0, 0},
      {"\xC3\xB6", "\xC3\x96", 1, 1},  // ö and Ö: case folding is ASCII only
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.a ? c.a : "NULL") + " / " + (c.b ? c.b : "NULL");
    EXPECT_EQ(lstrcmpA(c.a, c.b), c.exact) << label;
    EXPECT_EQ(lstrcmpiA(c.a, c.b), c.ignoringCase) << label;
  }
  EXPECT_EQ(lstrcmpiW(u"Datei.PDF", u"datei.pdf"), 0);
  EXPECT_EQ(lstrcmpi("x.Pdf", "X.PDF"), 0);
}

TEST(CaseMapping, AsciiInPlaceAndSingleCharacters) {
  char text[] = "Größe ändern: abc XYZ";
  EXPECT_EQ(CharUpperA(text), text);
  EXPECT_STREQ(text, "GRößE äNDERN: ABC XYZ");
  EXPECT_EQ(CharLowerA(text), text);
  EXPECT_STREQ(text, "größe ändern: abc xyz");

  // A character in the low word of the pointer.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>('q')))),
            static_cast<uintptr_t>('Q'));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(CharLowerA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>('Q')))),
            static_cast<uintptr_t>('q'));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>(0xF6)))), 0xF6u);

  char part[] = "abcdef";
  EXPECT_EQ(CharUpperBuffA(part, 3), 3u);
  EXPECT_STREQ(part, "ABCdef");
}

TEST(CaseMapping, CharNextAndPrevStepOverWholeCharacters) {
  const char* text = "a\xC3\xB6\xF0\x9D\x84\x9E";
  const char* p = text;
  p = CharNextA(p);
  EXPECT_EQ(p - text, 1);
  p = CharNextA(p);
  EXPECT_EQ(p - text, 3);
  p = CharNextA(p);
  EXPECT_EQ(p - text, 7);
  EXPECT_EQ(CharNextA(p), p) << "not past the NUL";
  p = CharPrevA(text, p);
  EXPECT_EQ(p - text, 3);
  p = CharPrevA(text, p);
  EXPECT_EQ(p - text, 1);
  p = CharPrevA(text, p);
  EXPECT_EQ(p, text);
  EXPECT_EQ(CharPrevA(text, p), text) << "not before the start";
}

}  // namespace
