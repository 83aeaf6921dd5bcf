#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "foundation/util/VOQ_String.h"

namespace {

std::string bytesOf(const VOQ_String& s) {
  return s.getData() == nullptr ? std::string() : std::string(s.getData(), s.getLength());
}

// Every non-empty string carries a zero byte behind its length; the empty one has no data.
void expectWellFormed(const VOQ_String& s) {
  if (s.getLength() == 0) {
    EXPECT_EQ(s.getData(), nullptr);
  } else {
    ASSERT_NE(s.getData(), nullptr);
    EXPECT_EQ(s.getData()[s.getLength()], '\0');
  }
}

VOQ_String make(const std::string& bytes) {
  return VOQ_String(static_cast<unsigned int>(bytes.size()), bytes.data());
}

TEST(VOQ_String, Construction) {
  struct Case {
    const char* what;
    unsigned int length;
    const char* bytes;
    unsigned int expectedLength;
    std::string expected;
  };
  const Case cases[] = {
      {"neither", 0, nullptr, 0, ""},
      {"bytes", 3, "abc", 3, "abc"},
      {"part of the bytes", 2, "abc", 2, "ab"},
      {"inner zero byte", 3, "a\0b", 3, std::string("a\0b", 3)},
      {"length without bytes", 4, nullptr, 4, std::string(4, '\0')},
      {"bytes without length", 0, "abc", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VOQ_String s(c.length, c.bytes);
    EXPECT_EQ(s.getLength(), c.expectedLength);
    EXPECT_EQ(bytesOf(s), c.expected);
    expectWellFormed(s);
    VOQ_String copy(s);
    EXPECT_EQ(bytesOf(copy), c.expected);
    expectWellFormed(copy);
    if (s.getData() != nullptr) {
      EXPECT_NE(copy.getData(), s.getData());
    }
  }
}

TEST(VOQ_String, EqualsAndDiffers) {
  struct Case {
    const char* what;
    std::string a;
    std::string b;
    bool equal;
  };
  const Case cases[] = {
      {"two empty strings", "", "", false},
      {"empty and non-empty", "", "a", false},
      {"prefix", "ab", "abc", false},
      {"same bytes", "abc", "abc", true},
      {"different bytes", "abc", "abd", false},
      {"same bytes with inner zero", std::string("a\0b", 3), std::string("a\0b", 3), true},
      {"differ behind inner zero", std::string("a\0b", 3), std::string("a\0c", 3), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VOQ_String a = make(c.a);
    VOQ_String b = make(c.b);
    EXPECT_EQ(a.equals(b), c.equal);
    EXPECT_EQ(b.equals(a), c.equal);
    // The version check's test: an empty side always differs.
    EXPECT_EQ(a.differs(b), !c.equal);
  }
}

TEST(VOQ_String, AppendAndAssign) {
  struct Case {
    const char* what;
    std::string start;
    std::function<void(VOQ_String&)> change;
    std::string expected;
  };
  const Case cases[] = {
      {"appendByte on empty", "", [](VOQ_String& s) { s.appendByte('x'); }, "x"},
      {"appendByte zero byte", "ab", [](VOQ_String& s) { s.appendByte(0); }, std::string("ab\0", 3)},
      {"appendByte many",
       "",
       [](VOQ_String& s) {
         for (int i = 0; i < 1000; ++i) s.appendByte(static_cast<unsigned char>('a' + i % 26));
       },
       [] {
         std::string r;
         for (int i = 0; i < 1000; ++i) r += static_cast<char>('a' + i % 26);
         return r;
       }()},
      {"append bytes", "ab", [](VOQ_String& s) { s.append(3, "cde"); }, "abcde"},
      {"append to empty", "", [](VOQ_String& s) { s.append(2, "cd"); }, "cd"},
      {"append nothing", "ab", [](VOQ_String& s) { s.append(0, "cd"); }, "ab"},
      {"append inner zero", "a", [](VOQ_String& s) { s.append(2, "\0b"); }, std::string("a\0b", 3)},
      {"append string", "ab", [](VOQ_String& s) { s.append(VOQ_String("cd")); }, "abcd"},
      {"append empty string", "ab", [](VOQ_String& s) { s.append(VOQ_String()); }, "ab"},
      {"append string to empty", "", [](VOQ_String& s) { s.append(VOQ_String("cd")); }, "cd"},
      {"append string itself", "ab", [](VOQ_String& s) { s.append(s); }, "abab"},
      {"append string with zeros", "a", [](VOQ_String& s) { s.append(VOQ_String(2, "\0b")); }, std::string("a\0b", 3)},
      {"assign text", "old", [](VOQ_String& s) { s.assign("new text"); }, "new text"},
      {"assign text stops at zero", "old", [](VOQ_String& s) { s.assign("ab\0cd"); }, "ab"},
      {"assign empty text", "old", [](VOQ_String& s) { s.assign(""); }, ""},
      {"assign NULL text", "old", [](VOQ_String& s) { s.assign(static_cast<const char*>(nullptr)); }, ""},
      {"assign other", "old", [](VOQ_String& s) { s.assign(make("other")); }, "other"},
      {"assign empty other", "old", [](VOQ_String& s) { s.assign(VOQ_String()); }, ""},
      {"copy assignment", "old", [](VOQ_String& s) { s = make("xyz"); }, "xyz"},
      {"clear", "old", [](VOQ_String& s) { s.clear(); }, ""},
      // The string's own data as the source: these read freed memory unless
      // the copy is made before the old block goes.
      {"assign itself", "self", [](VOQ_String& s) { s.assign(s); }, "self"},
      {"assign own data as text", "self", [](VOQ_String& s) { s.assign(s.getData()); }, "self"},
      {"assign own tail as text", "abcdef", [](VOQ_String& s) { s.assign(s.getData() + 3); }, "def"},
      {"copy-assign itself",
       "self",
       [](VOQ_String& s) {
         VOQ_String& same = s;
         s = same;
       },
       "self"},
      {"append itself", "abc", [](VOQ_String& s) { s.append(s.getLength(), s.getData()); }, "abcabc"},
      {"append own middle", "abcd", [](VOQ_String& s) { s.append(2, s.getData() + 1); }, "abcdbc"},
      {"append itself repeatedly",
       "ab",
       [](VOQ_String& s) {
         for (int i = 0; i < 10; ++i) s.append(s.getLength(), s.getData());
       },
       [] {
         std::string r = "ab";
         for (int i = 0; i < 10; ++i) r += r;
         return r;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VOQ_String s = make(c.start);
    c.change(s);
    EXPECT_EQ(s.getLength(), c.expected.size());
    EXPECT_EQ(bytesOf(s), c.expected);
    expectWellFormed(s);
  }
}

TEST(VOQ_String, FromText) {
  const struct {
    const char* text;
    std::string expected;
  } cases[] = {{"abc", "abc"}, {"", ""}, {nullptr, ""}, {"ab\0cd", "ab"}, {"\xc3\xa4", "\xc3\xa4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    VOQ_String s(c.text);
    EXPECT_EQ(bytesOf(s), c.expected);
    expectWellFormed(s);
  }
}

TEST(VOQ_String, AppendedDataIsUsableAsText) {
  VOQ_String s;
  s.assign("abc");
  s.appendByte('d');
  s.append(2, "ef");
  EXPECT_STREQ(s.getData(), "abcdef");
}

}  // namespace
