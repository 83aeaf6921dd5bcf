// The formatter with the Windows runtime's conversions, and the return values of
// the Windows names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/format.h"

namespace {

TEST(Format, PointersAsTheWindowsRuntimePrintsThem) {
  struct Case {
    const char* format;
    const void* pointer;
    const char* expected;
  } cases[] = {
      {"%p", nullptr, "0000000000000000"},
      {"0x%p", reinterpret_cast<const void*>(0x7FFC12345678ull), "0x00007FFC12345678"},
      {"%p", reinterpret_cast<const void*>(0xDEADBEEFull), "00000000DEADBEEF"},
      {"%p", reinterpret_cast<const void*>(~0ull), "FFFFFFFFFFFFFFFF"},
      {"[%20p]", reinterpret_cast<const void*>(0x1234ull), "[    0000000000001234]"},
      {"[%-20p]", reinterpret_cast<const void*>(0x1234ull), "[0000000000001234    ]"},
      {"[%.4p]", reinterpret_cast<const void*>(0x1234ull), "[0000000000001234]"},  // the width of a pointer always
      {"returned: 0x%p.\n", reinterpret_cast<const void*>(0xABCull), "returned: 0x0000000000000ABC.\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::formatString(c.format, c.pointer), c.expected) << c.format;

  const std::string real = platform::formatString("%p", static_cast<const void*>(&cases));
  ASSERT_EQ(real.size(), 16u);
  EXPECT_EQ(real.find_first_not_of("0123456789ABCDEF"), std::string::npos) << real;
}

TEST(Format, IntegersOfEveryWidth) {
  const LONG negativeLong = -5;
  const DWORD allOnes = 0xFFFFFFFFu;
  const long long big = -1234567890123LL;
  struct Case {
    std::string result;
    const char* expected;
  } cases[] = {
      {platform::formatString("%d|%i|%u", -5, 42, 4294967295u), "-5|42|4294967295"},
      {platform::formatString("%x|%X|%08X|%#x|%o", 255, 255, 255, 255, 8), "ff|FF|000000FF|0xff|10"},
      {platform::formatString("%+d|% d|%-5d|%05d", 7, 7, 7, -7), "+7| 7|7    |-0007"},
      {platform::formatString("%ld|%lu|%lx", negativeLong, allOnes, allOnes), "-5|4294967295|ffffffff"},
      {platform::formatString("%ld|%lu", -5L, 7UL), "-5|7"},
      {platform::formatString("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615"},
      {platform::formatString("%I64d|%I64u|%I64x|%I64X", big, ULLONG_MAX, 0xABCDEF0123ull, 0xABCDEF0123ull),
       "-1234567890123|18446744073709551615|abcdef0123|ABCDEF0123"},
      {platform::formatString("%I32d|%I32u", -3, 3u), "-3|3"},
      {platform::formatString("%Iu|%Id|%zu|%Ix", static_cast<size_t>(1) << 40, static_cast<intptr_t>(-2),
                              static_cast<size_t>(17), static_cast<size_t>(255)),
       "1099511627776|-2|17|ff"},
      {platform::formatString("%hd|%hhd|%hu", 70000, 300, 65537), "4464|44|1"},
      {platform::formatString("%*d|%-*d|%*d", 5, 42, 4, 1, -4, 2), "   42|1   |2   "},
      {platform::formatString("%.3d|%.0d|", 5, 0), "005||"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(Format, TextsCharactersAndFloatingPoint) {
  const char* nothing = nullptr;
  const WCHAR* noWide = nullptr;
  struct Case {
    std::string result;
    const char* expected;
  } cases[] = {
      {platform::formatString("%s", nothing), "(null)"},
      {platform::formatString("%.3s|%8s|%-8s|", nothing, nothing, "ab"), "(nu|  (null)|ab      |"},
      {platform::formatString("%s|%.2s|%5s", "Quarvel", "abc", "ab"), "Quarvel|ab|   ab"},
      {platform::formatString("%.*s|%.*s", 2, "abc", -1, "abc"), "ab|abc"},
      {platform::formatString("%S|%ls|%ws", u"geöffnet", u"\xD834\xDD1E", u"x"), "geöffnet|\xF0\x9D\x84\x9E|x"},
      {platform::formatString("%.3S|%6S|%S", u"abcdef", u"ab", noWide), "abc|    ab|(null)"},
      {platform::formatString("%.1S|", u"\xD834\xDD1Ex"), "|"},  // never half a surrogate pair
      {platform::formatString("%hs|%hS", "narrow", "also"), "narrow|also"},
      {platform::formatString("%c|%3c|%-3c|", 'A', 'b', 'c'), "A|  b|c  |"},
      {platform::formatString("%C|%lc|%wc|%hc", u'ö', u'€', u'x', 'y'), "ö|€|x|y"},
      {platform::formatString("%%|100%%"), "%|100%"},
      {platform::formatString("%5.2f|%.3e|%g|%-8.1f|", 3.14159, 1234.5, 0.5, 2.25), " 3.14|1.234e+03|0.5|2.2     |"},
      {platform::formatString("%Lf", 1.5L), "1.500000"},
      {platform::formatString("%y|%"), "%y|%"},  // unknown and unfinished conversions stay as written
      {platform::formatString("Datei: %s kann nicht geöffnet werden.\n", "a.esw"),
       "Datei: a.esw kann nicht geöffnet werden.\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected);
}

TEST(Format, LongConversionsAndTheNConversion) {
  EXPECT_EQ(platform::formatString("%300d", 1), std::string(299, ' ') + "1");
  const std::string big(5000, 'q');
  EXPECT_EQ(platform::formatString("<%s>", big.c_str()), "<" + big + ">");
  int written = 77;
  EXPECT_EQ(platform::formatString("ab%ncd", &written), "abcd");
  EXPECT_EQ(written, 77) << "%n never writes";
  EXPECT_EQ(platform::formatString(nullptr), "");
}

TEST(Format, WindowsReturnValuesAndTermination) {
  char b[8];
  auto fill = [&] { std::memset(b, '#', sizeof b); };

  fill();
  EXPECT_EQ(_snprintf(b, 5, "%s", "abc"), 3);
  EXPECT_STREQ(b, "abc");
  fill();
  EXPECT_EQ(_snprintf(b, 3, "abc"), 3) << "exactly full: no terminator";
  EXPECT_EQ(std::string(b, 4), "abc#");
  fill();
  EXPECT_EQ(_snprintf(b, 2, "%d", 12345), -1) << "truncated: -1, no terminator";
  EXPECT_EQ(std::string(b, 3), "12#");
  EXPECT_EQ(_snprintf(nullptr, 0, "%d", 12345), 5) << "a size query";

  fill();
  EXPECT_EQ(sprintf_s(b, 4, "abc"), 3);
  EXPECT_STREQ(b, "abc");
  fill();
  errno = 0;
  EXPECT_EQ(sprintf_s(b, 3, "abc"), -1);
  EXPECT_EQ(b[0], '\0') << "too small: an empty text";
  EXPECT_EQ(errno, ERANGE);
  fill();
  EXPECT_EQ(sprintf_s(b, "%s-%d", "x", 42), 4) << "the array form";
  EXPECT_STREQ(b, "x-42");
  errno = 0;
  EXPECT_EQ(sprintf_s(nullptr, 4, "abc"), -1);
  EXPECT_EQ(errno, EINVAL);

  struct TruncateCase {
    size_t size;
    size_t count;
    int result;
    const char* contents;
  } truncating[] = {
      {4, _TRUNCATE, -1, "abc"}, {8, _TRUNCATE, 6, "abcdef"}, {7, _TRUNCATE, 6, "abcdef"},
      {8, 3, -1, "abc"},         {8, 6, 6, "abcdef"},          {4, 10, -1, ""},  // count beyond the buffer, text too long
      {8, 10, 6, "abcdef"},
  };
  for (const TruncateCase& c : truncating) {
    fill();
    EXPECT_EQ(_snprintf_s(b, c.size, c.count, "%s", "abcdef"), c.result) << c.size << "/" << c.count;
    EXPECT_STREQ(b, c.contents) << c.size << "/" << c.count;
  }
  fill();
  EXPECT_EQ(_snprintf_s(b, _TRUNCATE, "%s", "0123456789"), -1) << "the array form";
  EXPECT_STREQ(b, "0123456");

  EXPECT_EQ(_scprintf("%d-%s", 12345, "ab"), 8);
}

TEST(Format, WsprintfWritesAtMost1024Characters) {
  char buffer[1100];
  const std::string big(2000, 'w');
  EXPECT_EQ(wsprintfA(buffer, "%s", big.c_str()), 1023);
  EXPECT_EQ(std::strlen(buffer), 1023u);
  EXPECT_EQ(wsprintfA(buffer, "%S", u"http://ocsp.example/"), 20) << "a wide text in an ANSI format";
  EXPECT_STREQ(buffer, "http://ocsp.example/");
  EXPECT_EQ(wsprintf(buffer, "0x%p", static_cast<void*>(nullptr)), 18);
  EXPECT_STREQ(buffer, "0x0000000000000000");
}

}  // namespace
