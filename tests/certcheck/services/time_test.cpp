// VOQ_Time: PDF date strings, its calendar arithmetic (checked against the C library's
// timegm), formatting, the setters and the current time under several time zones.
#include "certcheck/VOQ_Time.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

struct Fields {
  int year, month, day, hour, minute, second;
  char op;
  int biasHour, biasMinute;
};

bool operator==(const Fields& a, const Fields& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second && a.op == b.op && a.biasHour == b.biasHour && a.biasMinute == b.biasMinute;
}

std::ostream& operator<<(std::ostream& os, const Fields& f) {
  return os << f.year << '-' << f.month << '-' << f.day << ' ' << f.hour << ':' << f.minute << ':' << f.second
            << ' ' << f.op << f.biasHour << ':' << f.biasMinute;
}

Fields fieldsOf(const VOQ_Time& t) {
  return {t.getYear(),   t.getMonth(),          t.getDay(),       t.getHour(),      t.getMinute(),
          t.getSecond(), t.getBiasOperator(), t.getBiasHour(), t.getBiasMinute()};
}

// The message a call throws, or "" when it throws nothing.
template <class F>
std::string thrown(F call) {
  try {
    call();
  } catch (const VOQ_TimeException& e) {
    EXPECT_STREQ(e.name(), "VOQ_Exception");
    return e.getMessage();
  }
  return "";
}

struct ParseCase {
  std::string text;
  Fields fields;        // when message is empty
  const char* message;  // the exception's text, or ""
};

const char kSyntax[] = "Syntax error while parsing timestring.";
const Fields kNone = {};

const ParseCase kParseCases[] = {
    // Shorter texts leave the later fields at their start values.
    {"D:2024", {2024, 1, 1, 0, 0, 0, 'Z', 0, 0}, ""},
    {"2024", {2024, 1, 1, 0, 0, 0, 'Z', 0, 0}, ""},
    {"D:202403", {2024, 3, 1, 0, 0, 0, 'Z', 0, 0}, ""},
    {"D:20000229", {2000, 2, 29, 0, 0, 0, 'Z', 0, 0}, ""},
    {"D:2024010112305", {2024, 1, 1, 12, 30, 0, 'Z', 0, 0}, ""},  // a lone digit of seconds
    {"D:20240101123000", {2024, 1, 1, 12, 30, 0, 'Z', 0, 0}, ""},
    {"D:20240101123000Z", {2024, 1, 1, 12, 30, 0, 'Z', 0, 0}, ""},
    {"D:20240101123000Z00'00'", {2024, 1, 1, 12, 30, 0, 'Z', 0, 0}, ""},
    {"D:1601", {1601, 1, 1, 0, 0, 0, 'Z', 0, 0}, ""},
    {"D:99991231235959", {9999, 12, 31, 23, 59, 59, 'Z', 0, 0}, ""},
    // Every offset form the PDF standard writes.
    {"D:20240101123000+01'00'", {2024, 1, 1, 12, 30, 0, '+', 1, 0}, ""},
    {"D:20240101123000-05'30'", {2024, 1, 1, 12, 30, 0, '-', 5, 30}, ""},
    {"D:20240101123000+01'00", {2024, 1, 1, 12, 30, 0, '+', 1, 0}, ""},
    {"D:20240101123000+01'", {2024, 1, 1, 12, 30, 0, '+', 1, 0}, ""},
    {"D:20240101123000+01", {2024, 1, 1, 12, 30, 0, '+', 1, 0}, ""},
    {"D:20240101123000+0130", {2024, 1, 1, 12, 30, 0, '+', 1, 30}, ""},
    {"D:20240101123000+23'59'", {2024, 1, 1, 12, 30, 0, '+', 23, 59}, ""},
    {"D:20240101123000+01'00'" + std::string(977, 'x'), {2024, 1, 1, 12, 30, 0, '+', 1, 0}, ""},
    // Faults, each with its message.
    {"", kNone, kSyntax},
    {"D:", kNone, kSyntax},
    {"202", kNone, kSyntax},
    {"D:202", kNone, kSyntax},
    {"D:20a4", kNone, "Invalid token in year."},
    {"D:-024", kNone, "Invalid token in year."},
    {"D:1600", kNone, "Year is not in valid range (1601 - 9999)."},
    {"D:0000", kNone, "Year is not in valid range (1601 - 9999)."},
    {"D:2024ab", kNone, "Invalid token in Month."},
    {"D:2024+1", kNone, "Invalid token in Month."},
    {"D:20241301", kNone, "Month is not in valid range (1 - 12)."},
    {"D:20240001", kNone, "Month is not in valid range (1 - 12)."},
    {"D:202401x1", kNone, "Invalid token in Day."},
    {"D:20240100", kNone, "Day is not in valid range (1 - 31)."},
    {"D:20240132", kNone, "Day is not in valid range (1 - 31)."},
    {"D:20240231", kNone, "Day is not in valid range of the month."},
    {"D:20010229", kNone, "Day is not in valid range of the month."},
    {"D:21000229", kNone, "Day is not in valid range of the month."},
    {"D:20240431", kNone, "Day is not in valid range of the month."},
    {"D:20240101 1", kNone, "Invalid token in Hour."},
    {"D:2024010124", kNone, "Hour is not in valid range (0 - 23)."},
    {"D:20240101121Z", kNone, "Invalid token in Minute."},
    {"D:202401011260", kNone, "Minute is not in valid range (0 - 60)."},
    {"D:2024010112305Z", kNone, "Invalid token in Second."},
    {"D:20240101123060", kNone, "Second is not in valid range (0 - 60)."},
    {"D:20240101123000+1", kNone, kSyntax},
    {"D:20240101123000+01'3", kNone, kSyntax},
    {"D:20240101123000+ab'00'", kNone, "Invalid token in Bias hour."},
    {"D:20240101123000 x", kNone, "Invalid token in Bias hour."},
    {"D:20240101123000+24'00'", kNone, "Bias hour is not in valid range (0 - 23)."},
    {"D:20240101123000+01'ab'", kNone, "Invalid token in Bias minute."},
    {"D:20240101123000+01'-1'", kNone, "Invalid token in Bias minute."},
    {"D:20240101123000+01'60'", kNone, "Bias minute is not in valid range (0 - 60)."},
    {"D:" + std::string(998, '2'), kNone, "Month is not in valid range (1 - 12)."},
};

TEST(VOQ_Time, ParseTable) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    VOQ_Time t(1999);
    const std::string message = thrown([&] { t.parse(c.text.c_str(), VOQ_Time::FORMAT_PDF); });
    EXPECT_EQ(message, c.message);
    if (message.empty()) {
      EXPECT_EQ(fieldsOf(t), c.fields);
      EXPECT_EQ(t.getMillisecond(), 0);
    }
  }
}

TEST(VOQ_Time, ParseArgumentsAndPartialFields) {
  VOQ_Time t(1999);
  EXPECT_EQ(thrown([&] { t.parse(nullptr, 1); }), "timeString is NULL.");
  EXPECT_EQ(thrown([&] { t.parse("D:2024", 2); }), "Invalid TimeFormat.");
  // A failed parse keeps what it read before the fault.
  EXPECT_EQ(thrown([&] { t.parse("D:20240599", 1); }), "Day is not in valid range (1 - 31).");
  EXPECT_EQ(t.getYear(), 2024);
  EXPECT_EQ(t.getMonth(), 5);
  EXPECT_EQ(t.getDay(), 1);
}

long long millisecondsOf(const char* text) {
  VOQ_Time t(1999);
  t.parse(text, 1);
  return t.getMilliseconds();
}

TEST(VOQ_Time, ArithmeticOfOffsetsAndDays) {
  EXPECT_EQ(millisecondsOf("D:20240101123000+01'00'"), millisecondsOf("D:20240101113000Z"));
  EXPECT_EQ(millisecondsOf("D:20240101123000-05'30'"), millisecondsOf("D:20240101180000Z"));
  EXPECT_EQ(millisecondsOf("D:20000301") - millisecondsOf("D:20000229"), 86400000LL);
  EXPECT_EQ(millisecondsOf("D:16010101000000Z"), 0);
  VOQ_Time start(1601);
  const FILETIME zero = start.getFileTime();
  EXPECT_EQ(zero.dwLowDateTime, 0u);
  EXPECT_EQ(zero.dwHighDateTime, 0u);
  // An hour east of UTC at the very start lies before 1601: it has no SYSTEMTIME.
  VOQ_Time early(1601);
  early.parse("D:16010101000000+01'00'", 1);
  EXPECT_EQ(early.getMilliseconds(), -3600000LL);
  EXPECT_EQ(thrown([&] { early.getSystemTime(); }), "Can\xc2\xb4t convert time to system time.");
}

// The C library's 64-bit timegm is the reference for instants far from 1970.
TEST(VOQ_Time, InstantsAgreeWithTheCLibraryBefore1970AndAfter2038) {
  const struct {
    const char* text;
    int year, month, day, hour, minute, second;
  } cases[] = {
      {"D:16010101000000Z", 1601, 1, 1, 0, 0, 0},   {"D:19000228235959Z", 1900, 2, 28, 23, 59, 59},
      {"D:19000301000000Z", 1900, 3, 1, 0, 0, 0},   {"D:19691231235959Z", 1969, 12, 31, 23, 59, 59},
      {"D:19700101000000Z", 1970, 1, 1, 0, 0, 0},   {"D:20380119031408Z", 2038, 1, 19, 3, 14, 8},
      {"D:21000301120000Z", 2100, 3, 1, 12, 0, 0},  {"D:24000229000000Z", 2400, 2, 29, 0, 0, 0},
      {"D:99991231235959Z", 9999, 12, 31, 23, 59, 59},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    struct tm tm = {};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    const long long unixSeconds = static_cast<long long>(timegm(&tm));
    const long long expected = (unixSeconds + 11644473600LL) * 1000LL;
    VOQ_Time t(1999);
    t.parse(c.text, 1);
    EXPECT_EQ(t.getMilliseconds(), expected);
    const FILETIME ft = t.getFileTime();
    EXPECT_EQ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime,
              static_cast<unsigned long long>(expected) * 10000ull);
    const SYSTEMTIME st = t.getSystemTime();
    EXPECT_EQ(st.wYear, c.year);
    EXPECT_EQ(st.wMonth, c.month);
    EXPECT_EQ(st.wDay, c.day);
    EXPECT_EQ(st.wHour, c.hour);
    EXPECT_EQ(st.wMinute, c.minute);
    EXPECT_EQ(st.wSecond, c.second);
    EXPECT_EQ(st.wDayOfWeek, tm.tm_wday);
  }
}

TEST(VOQ_Time, FormatBufferSizesAndRoundTrips) {
  VOQ_Time t(1999);
  t.parse("D:20240229235958-05'30'", 1);
  char buffer[128];
  EXPECT_EQ(thrown([&] { t.format(buffer, 23, 1); }), "The given buffer \"time\" is too small.");
  EXPECT_EQ(thrown([&] { t.format(nullptr, 128, 1); }), "Parameter \"time\" may not be NULL.");
  EXPECT_EQ(thrown([&] { t.format(buffer, 128, 0); }), "Invalid TimeFormat.");
  char exact[24];
  EXPECT_EQ(thrown([&] { t.format(exact, sizeof exact, 1); }), "");
  EXPECT_STREQ(exact, "D:20240229235958-05'30'");

  for (const char* text : {"D:20240229235958-05'30'", "D:16010101000000Z", "D:99991231235959+23'59'",
                           "D:20241210080910+01'00'"}) {
    SCOPED_TRACE(text);
    VOQ_Time a(1999);
    a.parse(text, 1);
    a.format(buffer, sizeof buffer, 1);
    EXPECT_STREQ(buffer, text);
    VOQ_Time b(1999);
    b.parse(buffer, 1);
    EXPECT_EQ(fieldsOf(b), fieldsOf(a));
    EXPECT_EQ(b.getMilliseconds(), a.getMilliseconds());
  }
  // Milliseconds are not written; a year the constructor took unchecked cannot be written.
  VOQ_Time late(12345);
  EXPECT_EQ(thrown([&] { late.format(buffer, sizeof buffer, 1); }), "Year exceeds allowed value area.");
}

TEST(VOQ_Time, SettersCheckTheirRangesAndMarkTheValueChanged) {
  using Setter = void (VOQ_Time::*)(int);
  const struct {
    const char* name;
    Setter set;
    int low, high;
    const char* message;
  } cases[] = {
      {"year", &VOQ_Time::setYear, 1601, 9999, "Year exceeds allowed value area."},
      {"month", &VOQ_Time::setMonth, 1, 12, "Month exceeds allowed value area."},
      {"day", &VOQ_Time::setDay, 1, 31, "Day exceeds allowed value area."},
      {"hour", &VOQ_Time::setHour, 0, 23, "Hour exceeds allowed value area."},
      {"minute", &VOQ_Time::setMinute, 0, 59, "Minute exceeds allowed value area."},
      {"second", &VOQ_Time::setSecond, 0, 59, "Second exceeds allowed value area."},
      {"millisecond", &VOQ_Time::setMillisecond, 0, 999, "Millisecond exceeds allowed value area."},
      {"bias hour", &VOQ_Time::setBiasHour, 0, 23, "BiasHour exceeds allowed value area."},
      {"bias minute", &VOQ_Time::setBiasMinute, 0, 59, "BiasMinute exceeds allowed value area."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VOQ_Time t(2000);
    EXPECT_EQ(thrown([&] { (t.*c.set)(c.low); }), "");
    EXPECT_EQ(thrown([&] { (t.*c.set)(c.high); }), "");
    EXPECT_EQ(thrown([&] { (t.*c.set)(c.low - 1); }), c.message);
    EXPECT_EQ(thrown([&] { (t.*c.set)(c.high + 1); }), c.message);
  }
  VOQ_Time t(2000);
  EXPECT_EQ(thrown([&] { t.setBiasOperator('x'); }), "BiasOperator unknown.");
  const long long before = t.getFileTime().dwLowDateTime;
  t.setHour(5);
  t.setBiasOperator('-');
  t.setBiasHour(1);
  EXPECT_NE(static_cast<long long>(t.getFileTime().dwLowDateTime), before);
  EXPECT_EQ(t.getMilliseconds(), millisecondsOf("D:20000101060000Z"));
  VOQ_Time copy(1999);
  copy = t;
  EXPECT_EQ(fieldsOf(copy), fieldsOf(t));
  EXPECT_EQ(copy.getMilliseconds(), t.getMilliseconds());
}

TEST(VOQ_Time, Helpers) {
  char buffer[8];
  EXPECT_STREQ(formatPadded(0, 4, buffer), "0000");
  EXPECT_STREQ(formatPadded(7, 2, buffer), "07");
  EXPECT_STREQ(formatPadded(2024, 4, buffer), "2024");
  EXPECT_EQ(formatPadded(100, 2, buffer), nullptr);
  EXPECT_EQ(formatPadded(-1, 2, buffer), nullptr);
  EXPECT_TRUE(isDecimalDigit('0'));
  EXPECT_TRUE(isDecimalDigit('9'));
  EXPECT_FALSE(isDecimalDigit('a'));
  EXPECT_FALSE(isDecimalDigit('/'));
}

// The current time under each zone: the offset follows the host's, and the instant is now.
TEST(VOQ_Time, CurrentTimeUnderSeveralTimeZones) {
  const char* saved = getenv("TZ");
  const std::string restore = saved ? saved : "";
  for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "IST-5:30", "<-03>3", "<+01>-1",
                           "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    // The precise clock: time() may read a coarse one that lags it by a tick.
    const auto unixNow = [] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
    const long long beforeMs = unixNow();
    VOQ_Time now;
    const long long afterMs = unixNow();
    const time_t before = static_cast<time_t>(beforeMs / 1000);
    struct tm local;
    localtime_r(&before, &local);
    const long east = local.tm_gmtoff / 60;
    EXPECT_EQ(now.getBiasOperator(), east == 0 ? 'Z' : east > 0 ? '+' : '-');
    EXPECT_EQ(now.getBiasHour(), (east < 0 ? -east : east) / 60);
    EXPECT_EQ(now.getBiasMinute(), (east < 0 ? -east : east) % 60);
    const long long unixMilliseconds = now.getMilliseconds() - 11644473600000LL;
    EXPECT_GE(unixMilliseconds, beforeMs);
    EXPECT_LE(unixMilliseconds, afterMs);
  }
  if (saved) {
    setenv("TZ", restore.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(VOQ_Time, ZoneWestAndEastGiveTheirSigns) {
  const struct {
    const char* zone;
    char op;
    int hours, minutes;
  } cases[] = {{"<+01>-1", '+', 1, 0}, {"IST-5:30", '+', 5, 30}, {"<-03>3", '-', 3, 0}, {"UTC0", 'Z', 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    setenv("TZ", c.zone, 1);
    tzset();
    VOQ_Time now;
    EXPECT_EQ(now.getBiasOperator(), c.op);
    EXPECT_EQ(now.getBiasHour(), c.hours);
    EXPECT_EQ(now.getBiasMinute(), c.minutes);
  }
  unsetenv("TZ");
  tzset();
}

TEST(VOQ_Time, ExceptionCopies) {
  VOQ_TimeException cause("inner");
  VOQ_TimeException e("outer", &cause);
  std::unique_ptr<AbstractException> copy(e.clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->getMessage(), "outer");
  EXPECT_STREQ(copy->name(), "VOQ_Exception");
  ASSERT_NE(copy->getCause(), nullptr);
  EXPECT_STREQ(copy->getCause()->getMessage(), "inner");
}

}  // namespace
