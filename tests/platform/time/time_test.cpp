// Calendar time: the time zone from the host's TZ, FILETIME and SYSTEMTIME conversions.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <time.h>

namespace {

class TimeZone : public ::testing::Test {
 protected:
  void use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
};

TEST_F(TimeZone, BiasesFollowTheHostZone) {
  const struct {
    const char* zone;
    LONG bias;
    LONG daylightBias;
    bool hasSummer;
  } cases[] = {
      {"UTC0", 0, 0, false},
      {"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60, true},
      {"IST-5:30", -330, 0, false},
      {"<-03>3", 180, 0, false},
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", -720, -60, true},
      {"EST5EDT,M3.2.0,M11.1.0", 300, -60, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    use(c.zone);
    TIME_ZONE_INFORMATION info;
    const DWORD id = GetTimeZoneInformation(&info);
    EXPECT_EQ(info.Bias, c.bias);
    EXPECT_EQ(info.StandardBias, 0);
    EXPECT_EQ(info.DaylightBias, c.daylightBias);
    // The biases in force add up to the host's offset now.
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    const LONG active = id == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias : info.StandardBias;
    EXPECT_EQ(info.Bias + active, -local.tm_gmtoff / 60);
    if (!c.hasSummer) {
      EXPECT_EQ(id, TIME_ZONE_ID_UNKNOWN);
    } else {
      EXPECT_EQ(id, local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD);
    }
  }
  EXPECT_EQ(GetTimeZoneInformation(nullptr), TIME_ZONE_ID_INVALID);
}

TEST_F(TimeZone, LocalTimeIsTheHostsLocalTime) {
  use("IST-5:30");
  const time_t before = time(nullptr);
  SYSTEMTIME local;
  GetLocalTime(&local);
  struct tm expected;
  localtime_r(&before, &expected);
  EXPECT_EQ(local.wYear, expected.tm_year + 1900);
  EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
  EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
  // Minutes past the hour show the half-hour zone; the clock may tick between the calls.
  const int minuteOfDay = local.wHour * 60 + local.wMinute;
  EXPECT_LE((minuteOfDay - (expected.tm_hour * 60 + expected.tm_min) + 1440) % 1440, 1);
}

unsigned long long ticksOf(const FILETIME& ft) {
  return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(FileTime, ConversionsBothWays) {
  const struct {
    unsigned long long ticks;
    SYSTEMTIME time;
  } cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},  // a Monday
      {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {133777048260000000ull, {2024, 12, 2, 3, 13, 7, 6, 0}},
      {2650467743990000000ull, {9999, 12, 5, 31, 23, 59, 59, 0}},
      {951782400000ull * 10000 + 116444736000000000ull, {2000, 2, 2, 29, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticks);
    FILETIME ft = {static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, c.time.wYear);
    EXPECT_EQ(st.wMonth, c.time.wMonth);
    EXPECT_EQ(st.wDayOfWeek, c.time.wDayOfWeek);
    EXPECT_EQ(st.wDay, c.time.wDay);
    EXPECT_EQ(st.wHour, c.time.wHour);
    EXPECT_EQ(st.wMinute, c.time.wMinute);
    EXPECT_EQ(st.wSecond, c.time.wSecond);
    FILETIME back;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
    EXPECT_EQ(ticksOf(back), c.ticks);
  }
}

TEST(FileTime, OutOfRangeValuesFail) {
  FILETIME huge = {0, 0x80000000u};
  SYSTEMTIME st;
  SetLastError(0);
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &st));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  FILETIME ft;
  const SYSTEMTIME bad[] = {{1600, 12, 0, 31, 0, 0, 0, 0}, {2023, 2, 0, 29, 0, 0, 0, 0},
                            {2024, 13, 0, 1, 0, 0, 0, 0},  {2024, 1, 0, 1, 24, 0, 0, 0},
                            {2024, 1, 0, 1, 0, 0, 0, 1000}};
  for (const SYSTEMTIME& t : bad) EXPECT_FALSE(SystemTimeToFileTime(&t, &ft)) << t.wYear << '-' << t.wMonth;
}

TEST(FileTime, SystemTimeAgreesWithTheClock) {
  const time_t before = time(nullptr);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const time_t after = time(nullptr);
  const long long seconds = static_cast<long long>(ticksOf(now) / 10000000ull) - 11644473600LL;
  EXPECT_GE(seconds, static_cast<long long>(before));
  EXPECT_LE(seconds, static_cast<long long>(after));
}

// The runtime's date and time texts of the banner of a log: MM/DD/YY and HH:MM:SS, local.
TEST(RuntimeTime, DateAndTimeTextsFollowTheLocalClock) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  char date[9];
  char time[9];
  ASSERT_EQ(_strdate(date), date);
  ASSERT_EQ(_strtime(time), time);
  SYSTEMTIME after;
  GetLocalTime(&after);
  auto text = [](const char* format, unsigned a, unsigned b, unsigned c) {
    char buffer[48];
    snprintf(buffer, sizeof buffer, format, a, b, c);
    return std::string(buffer);
  };
  const std::string dates[] = {text("%02u/%02u/%02u", before.wMonth, before.wDay, before.wYear % 100u),
                               text("%02u/%02u/%02u", after.wMonth, after.wDay, after.wYear % 100u)};
  EXPECT_TRUE(date == dates[0] || date == dates[1]) << date;
  EXPECT_EQ(std::string(time).size(), 8u);
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
  EXPECT_LE(text("%02u:%02u:%02u", before.wHour, before.wMinute, before.wSecond), std::string(time));
  EXPECT_GE(text("%02u:%02u:%02u", after.wHour, after.wMinute, after.wSecond), std::string(time));
}

}  // namespace
