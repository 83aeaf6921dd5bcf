// Code-page conversion: UTF-8 as the ANSI page, UTF-16 as WCHAR.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ToWide {
  UINT page;
  DWORD flags;
  std::string in;
  int length;  // -1: through the NUL
  std::u16string out;
  DWORD error;  // 0: success
};

TEST(MultiByteToWideChar, Table) {
  const ToWide cases[] = {
      {CP_ACP, 0, "Quarvel", -1, std::u16string(u"Quarvel") + u'\0', 0},
      {CP_UTF8, 0, "geöffnet", 9, u"geöffnet", 0},
      {CP_ACP, MB_PRECOMPOSED, "Größe", -1, std::u16string(u"Größe") + u'\0', 0},
      {CP_UTF8, 0, "\xE2\x82\xAC", 3, u"€", 0},
      {CP_UTF8, 0, "\xF0\x9D\x84\x9E", 4, u"\xD834\xDD1E", 0},  // a surrogate pair
      {CP_UTF8, 0, std::string("a\0b", 3), 3, std::u16string(u"a\0b", 3), 0},
      {CP_UTF8, 0, "\xC3\x28", 2, u"\xFFFD(", 0},               // a lead without its continuation
      {CP_UTF8, 0, "\xF0\x9D\x84", 3, u"\xFFFD", 0},            // cut short: one replacement
      {CP_UTF8, 0, "\xED\xA0\x80", 3, u"\xFFFD\xFFFD\xFFFD", 0}, // an encoded surrogate
      {CP_UTF8, 0, "\xC0\xAF", 2, u"\xFFFD\xFFFD", 0},           // overlong
      {CP_UTF8, 0, "\xF4\x90\x80\x80", 4, u"\xFFFD\xFFFD\xFFFD\xFFFD", 0},  // above U+10FFFF
      {CP_UTF8, 0, "\x80x", 2, u"\xFFFDx", 0},
      {CP_UTF8, MB_ERR_INVALID_CHARS, "ok \xC3\x28", -1, u"", ERROR_NO_UNICODE_TRANSLATION},
      {CP_ACP, MB_ERR_INVALID_CHARS, "\xF0\x9D\x84", 3, u"", ERROR_NO_UNICODE_TRANSLATION},
      {CP_UTF8, MB_ERR_INVALID_CHARS, "\xF0\x9D\x84\x9E", 4, u"\xD834\xDD1E", 0},
      {CP_ISO_8859_1, 0, "\xF6\xFF", 2, u"\u00F6\u00FF", 0},
      {CP_UTF8, MB_PRECOMPOSED, "x", 1, u"", ERROR_INVALID_FLAGS},
      {CP_ACP, MB_PRECOMPOSED | MB_COMPOSITE, "x", 1, u"", ERROR_INVALID_FLAGS},
      {1252, 0, "x", 1, u"", ERROR_INVALID_PARAMETER},
      {CP_UTF8, 0, "x", 0, u"", ERROR_INVALID_PARAMETER},
      {CP_UTF8, 0, "x", -2, u"", ERROR_INVALID_PARAMETER},
  };
  for (const ToWide& c : cases) {
    SCOPED_TRACE(c.in);
    SetLastError(0);
    const int size = MultiByteToWideChar(c.page, c.flags, c.in.data(), c.length, nullptr, 0);
    if (c.error) {
      EXPECT_EQ(size, 0);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_EQ(size, static_cast<int>(c.out.size()));
    std::vector<WCHAR> buffer(c.out.size() + 1, u'#');
    EXPECT_EQ(MultiByteToWideChar(c.page, c.flags, c.in.data(), c.length, buffer.data(), size), size);
    EXPECT_EQ(std::u16string(buffer.data(), static_cast<size_t>(size)), c.out);
    EXPECT_EQ(buffer[static_cast<size_t>(size)], u'#') << "nothing past the result";
  }
}

TEST(MultiByteToWideChar, BufferAndArgumentFaults) {
  WCHAR small[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Quarvel", -1, small, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, small, 3), 3) << "exactly full, no NUL asked for";

  struct Case {
    LPCSTR in;
    int length;
    LPWSTR out;
    int size;
  } faults[] = {
      {nullptr, -1, small, 3},
      {"abc", -1, nullptr, 3},
      {"abc", -1, small, -1},
  };
  for (const Case& c : faults) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.in, c.length, c.out, c.size), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

struct ToNarrow {
  UINT page;
  DWORD flags;
  std::u16string in;
  int length;
  LPCSTR defaultChar;
  bool askUsed;
  std::string out;
  BOOL used;
  DWORD error;
};

TEST(WideCharToMultiByte, Table) {
  const ToNarrow cases[] = {
      {CP_ACP, 0, u"geöffnet", -1, nullptr, false, std::string("geöffnet") + '\0', FALSE, 0},
      {CP_UTF8, 0, u"geöffnet", 8, nullptr, false, "geöffnet", FALSE, 0},
      {CP_UTF8, 0, u"\xD834\xDD1E", 2, nullptr, false, "\xF0\x9D\x84\x9E", FALSE, 0},
      {CP_UTF8, 0, u"a\xD834", 2, nullptr, false, "a\xEF\xBF\xBD", FALSE, 0},       // lone high surrogate
      {CP_UTF8, 0, u"\xDD1E" u"b", 2, nullptr, false, "\xEF\xBF\xBD" "b", FALSE, 0},  // lone low surrogate
      {CP_UTF8, 0, u"\xDD1E\xD834", 2, nullptr, false, "\xEF\xBF\xBD\xEF\xBF\xBD", FALSE, 0},  // wrong order
      {CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xD834", 2, nullptr, false, "", FALSE, ERROR_NO_UNICODE_TRANSLATION},
      {CP_UTF8, 0, u"x", 1, "?", false, "", FALSE, ERROR_INVALID_PARAMETER},
      {CP_UTF8, 0, u"x", 1, nullptr, true, "", FALSE, ERROR_INVALID_PARAMETER},
      {CP_UTF8, WC_NO_BEST_FIT_CHARS, u"x", 1, nullptr, false, "", FALSE, ERROR_INVALID_FLAGS},
      {CP_ACP, WC_NO_BEST_FIT_CHARS, u"Größe", 5, nullptr, true, "Größe", FALSE, 0},
      {CP_ACP, 0, u"a\xD834", 2, nullptr, true, "a?", TRUE, 0},
      {CP_ACP, 0, u"a\xD834", 2, "#", true, "a#", TRUE, 0},
      {CP_ISO_8859_1, 0, u"ö€\xD834\xDD1E", 4, nullptr, true, "\xF6??", TRUE, 0},
      {1252, 0, u"x", 1, nullptr, false, "", FALSE, ERROR_INVALID_PARAMETER},
      {CP_ACP, 0, u"x", 0, nullptr, false, "", FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const ToNarrow& c : cases) {
    SCOPED_TRACE(c.out);
    BOOL used = 77;
    SetLastError(0);
    const int size = WideCharToMultiByte(c.page, c.flags, c.in.data(), c.length, nullptr, 0, c.defaultChar,
                                         c.askUsed ? &used : nullptr);
    if (c.error) {
      EXPECT_EQ(size, 0);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_EQ(size, static_cast<int>(c.out.size()));
    std::string buffer(c.out.size() + 1, '#');
    EXPECT_EQ(WideCharToMultiByte(c.page, c.flags, c.in.data(), c.length, &buffer[0], size, c.defaultChar,
                                  c.askUsed ? &used : nullptr),
              size);
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(size)), c.out);
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '#');
    if (c.askUsed) {
      EXPECT_EQ(used, c.used);
    }
  }
}

TEST(WideCharToMultiByte, NeverSplitsACharacterAtTheBufferEnd) {
  char buffer[4] = "###";
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"aö", 2, buffer, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"aö", 2, buffer, 3, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(buffer, 3), "aö");

  // UTF-8 needs up to three bytes for a character of the basic plane: a buffer of
  // 2n + 1 bytes for n characters is too small for "€€".
  char five[5];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"€€", 2, five, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Conversion, RoundTripsThroughBothDirections) {
  const char* const texts[] = {"", "Quarvel", "Die Datei wurde geöffnet.", "ÄÖÜäöüß €", "\xF0\x9D\x84\x9E and \xF0\x9F\x98\x80",
                               "日本語"};
  for (const char* text : texts) {
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    ASSERT_GT(wide, 0) << text;
    std::vector<WCHAR> w(static_cast<size_t>(wide));
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, w.data(), wide), wide);
    const int narrow = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string back(static_cast<size_t>(narrow), '\0');
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, w.data(), wide, &back[0], narrow, nullptr, nullptr), narrow);
    EXPECT_STREQ(back.c_str(), text);
  }
  EXPECT_EQ(platform::toUtf8(platform::toUtf16("Größe \xF0\x9D\x84\x9E")), "Größe \xF0\x9D\x84\x9E");
}

}  // namespace
