#include "foundation/base/VBitmask.h"
#include "foundation/base/VMemoryBlock.h"
#include "foundation/base/VString.h"
#include "foundation/base/VStringConverter.h"

#include <clocale>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string bytes(const VString& s) { return std::string(s.getText(), s.getLength()); }

TEST(VString, GrowthAndContentTable) {
  const std::string sixty(60, 'x');
  struct Case {
    const char* name;
    std::function<void(VString&)> steps;
    std::string text;
    std::size_t capacity;
    bool nullBuffer;
  } cases[] = {
      {"first append to empty allocates one step", [](VString& s) { s.append("abc"); }, "abc", 64, false},
      {"60 + 3 grows past the next step",
       [&](VString& s) {
         s.assign(sixty.c_str());
         s.append("abc");
       },
       sixty + "abc", 128, false},
      {"assign 10 bytes is exact", [](VString& s) { s.assign("0123456789"); }, "0123456789", 11, false},
      {"assign empty frees",
       [](VString& s) {
         s.assign("abc");
         s.assign("");
       },
       "", 0, true},
      {"assign NULL frees",
       [](VString& s) {
         s.assign("abc");
         s.assign(static_cast<const char*>(nullptr));
       },
       "", 0, true},
      {"inner NUL truncates on assign", [](VString& s) { s.assign("ab\0cd", 0, 5); }, "ab", 6, false},
      {"maxLen limits assign", [](VString& s) { s.assign("abcdef", 4); }, "abcd", 5, false},
      {"maxLen smaller than len wins", [](VString& s) { s.assign("abcdef", 2, 5); }, "ab", 3, false},
      {"maxLen on text without terminator",
       [](VString& s) {
         const char raw[3] = {'a', 'b', 'c'};
         s.assign(raw, 3);
       },
       "abc", 4, false},
      {"self-append doubles",
       [](VString& s) {
         s.assign("abc");
         s.append(s.getBuffer());
       },
       "abcabc", 64, false},
      {"self-append that must grow",
       [&](VString& s) {
         s.assign(sixty.c_str());
         s.append(s.getBuffer());
       },
       sixty + sixty, 128, false},
      {"append of own tail",
       [](VString& s) {
         s.assign("abcd");
         s.append(s.getBuffer() + 2);
       },
       "abcdcd", 64, false},
      {"assign of own tail",
       [](VString& s) {
         s.assign("abcd");
         s.assign(s.getBuffer() + 1);
       },
       "bcd", 4, false},
      {"append NULL changes nothing",
       [](VString& s) {
         s.assign("ab");
         s.append(nullptr);
       },
       "ab", 3, false},
      {"append with len keeps inner NUL", [](VString& s) { s.append("a\0b", 0, 3); }, std::string("a\0b", 3), 64,
       false},
      {"appendChar",
       [](VString& s) {
         s.appendChar('x');
         s.appendChar('y');
       },
       "xy", 64, false},
      {"appendChar of NUL adds nothing", [](VString& s) { s.appendChar('\0'); }, "", 0, true},
      {"granularity 0 counts as 64",
       [](VString& s) {
         s.setGranularity(0);
         s.append("a");
       },
       "a", 64, false},
      {"own granularity",
       [](VString& s) {
         s.setGranularity(16);
         s.append("01234567890123456789");
       },
       "01234567890123456789", 32, false},
      {"clear without freeing keeps capacity",
       [](VString& s) {
         s.append("abc");
         s.clear(false, true);
       },
       "", 64, false},
      {"append after clear reuses buffer",
       [](VString& s) {
         s.append("abc");
         s.clear(false, true);
         s.append("de");
       },
       "de", 64, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VString s;
    c.steps(s);
    EXPECT_EQ(bytes(s), c.text);
    EXPECT_EQ(s.getCapacity(), c.capacity);
    EXPECT_EQ(s.getBuffer() == nullptr, c.nullBuffer);
    if (s.getBuffer() != nullptr) {
      EXPECT_EQ(s.getBuffer()[s.getLength()], '\0');
    }
    EXPECT_EQ(s.getErrorCount(), 0);
  }
}

TEST(VString, ResultsAreTheBuffer) {
  VString s;
  char* appended = s.append("ab");
  EXPECT_EQ(appended, s.getBuffer());
  char* assigned = s.assign("cd");
  EXPECT_EQ(assigned, s.getBuffer());
  EXPECT_EQ(s.assign(""), nullptr);
  EXPECT_EQ(s.clear(true, true), nullptr);
}

TEST(VString, CopiesAreIndependent) {
  VString a("hello");
  a.setGranularity(8);
  VString b(a);
  EXPECT_STREQ(b.getText(), "hello");
  EXPECT_EQ(b.getGranularity(), 8u);
  EXPECT_NE(b.getBuffer(), a.getBuffer());
  b.append("!");
  EXPECT_STREQ(a.getText(), "hello");

  VString c;
  c = a;  // plain assignment takes the text, not the granularity
  EXPECT_STREQ(c.getText(), "hello");
  EXPECT_EQ(c.getGranularity(), VString::kDefaultGranularity);
  c.copy(a, true);
  EXPECT_EQ(c.getGranularity(), 8u);
  const VString& same = c;
  c = same;
  EXPECT_STREQ(c.getText(), "hello");

  VString empty;
  VString fromEmpty(empty);
  EXPECT_EQ(fromEmpty.getBuffer(), nullptr);
}

TEST(VString, AdoptTakesTheBlock) {
  VMemoryBlock block;
  char* data = static_cast<char*>(block.allocate(8));
  std::strcpy(data, "hello");
  VString s("old text");
  s.adopt(block);
  EXPECT_EQ(s.getBuffer(), data);
  EXPECT_STREQ(s.getText(), "hello");
  EXPECT_EQ(s.getLength(), 5u);
  EXPECT_EQ(s.getCapacity(), 8u);
  EXPECT_EQ(block.getPointer(), nullptr);
  EXPECT_EQ(block.getSize(), 0u);

  // A block filled to its last byte still ends up terminated, with no byte lost.
  VMemoryBlock full;
  std::memcpy(full.allocate(4), "abcd", 4);
  s.adopt(full);
  EXPECT_EQ(bytes(s), "abcd");
  EXPECT_EQ(s.getBuffer()[4], '\0');
  EXPECT_EQ(s.getCapacity(), 5u);

  VMemoryBlock none;
  s.adopt(none);
  EXPECT_EQ(s.getBuffer(), nullptr);
  EXPECT_EQ(s.getLength(), 0u);
}

TEST(VMemoryBlock, AllocateZeroFillsAndZeroReleases) {
  VMemoryBlock block;
  unsigned char* p = static_cast<unsigned char*>(block.allocate(16));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(block.getSize(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
  p[0] = 1;
  EXPECT_EQ(block.allocate(0), nullptr);
  EXPECT_EQ(block.getPointer(), nullptr);
  EXPECT_EQ(block.getSize(), 0u);
  EXPECT_EQ(block.allocate(0), nullptr);
}

TEST(VBitmask, SetClearTest) {
  VBitmask mask;
  mask.set(0x1 | 0x8);
  EXPECT_TRUE(mask.isSet(0x8));
  EXPECT_FALSE(mask.isSet(0x2));
  mask.clear(0x8);
  EXPECT_EQ(mask.getValue(), 0x1u);
}

TEST(VStringConverter, NarrowTextIsHandedOut) {
  const char* text = "Quarvel";
  VStringConverter given(text);
  EXPECT_EQ(given.getNarrow(), text);
  VStringConverter none(static_cast<const char*>(nullptr));
  EXPECT_EQ(none.getNarrow(), nullptr);
}

TEST(VStringConverter, WideTextConvertsInTheCurrentLocale) {
  std::string previous = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  {
    // Each of these takes two or three bytes: the result must still be whole.
    VStringConverter umlauts(L"\u00e4\u00f6\u00fc\u20ac\u20ac\u20ac");
    EXPECT_STREQ(umlauts.getNarrow(), "\xc3\xa4\xc3\xb6\xc3\xbc\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac");
    VStringConverter plain(L"Quarvel");
    const char* first = plain.getNarrow();
    EXPECT_STREQ(first, "Quarvel");
    // Converted once: a later call hands out the same text, not a new copy.
    const char* second = plain.getNarrow();
    EXPECT_EQ(second, first);
    EXPECT_STREQ(second, "Quarvel");
    VStringConverter empty(L"");
    EXPECT_EQ(empty.getNarrow(), nullptr);
  }
  std::setlocale(LC_CTYPE, "C");
  VStringConverter unconvertible(L"\u20ac");
  EXPECT_EQ(unconvertible.getNarrow(), nullptr);
  std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace
