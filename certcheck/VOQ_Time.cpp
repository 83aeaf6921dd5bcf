#include "certcheck/VOQ_Time.h"

#include <stdio.h>
#include <string.h>

#include <new>

namespace {

const char kSyntaxError[] = "Syntax error while parsing timestring.";
const long long kMillisecondsPerDay = 86400000LL;

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

void check(bool inRange, const char* message) {
  if (!inRange) throw VOQ_TimeException(message);
}

// Two decimal digits at text, or -1.
int twoDigits(const char* text) {
  if (!isDecimalDigit(text[0]) || !isDecimalDigit(text[1])) return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

}  // namespace

const char* VOQ_TimeException::name() const { return "VOQ_Exception"; }

AbstractException* VOQ_TimeException::clone() const { return new (std::nothrow) VOQ_TimeException(*this); }

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

char* formatPadded(int value, int width, char* buffer) {
  if (value < 0 || width < 0) return nullptr;
  char digits[16];
  const int length = snprintf(digits, sizeof digits, "%d", value);
  if (length > width) return nullptr;
  memset(buffer, '0', static_cast<size_t>(width - length));
  memcpy(buffer + (width - length), digits, static_cast<size_t>(length) + 1);
  return buffer;
}

VOQ_Time::VOQ_Time() {
  TIME_ZONE_INFORMATION zone;
  const DWORD zoneId = GetTimeZoneInformation(&zone);
  check(zoneId != TIME_ZONE_ID_INVALID, "Unable to retieve systems timezone information.");
  SYSTEMTIME now;
  GetLocalTime(&now);
  year = static_cast<short>(now.wYear);
  month = static_cast<short>(now.wMonth);
  day = static_cast<short>(now.wDay);
  hour = static_cast<short>(now.wHour);
  minute = static_cast<short>(now.wMinute);
  second = static_cast<short>(now.wSecond);
  millisecond = static_cast<short>(now.wMilliseconds);
  // UTC = local time + offset, so a zone east of UTC has a negative offset.
  const LONG offset = zone.Bias + (zoneId == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias);
  if (offset == 0) {
    biasOperator = 'Z';
  } else {
    biasOperator = offset < 1 ? '+' : '-';
    biasHour = static_cast<short>(offset / 60 < 0 ? -(offset / 60) : offset / 60);
    biasMinute = static_cast<short>(offset % 60 < 0 ? -(offset % 60) : offset % 60);
  }
  refresh();
}

VOQ_Time::VOQ_Time(int startYear) : year(static_cast<short>(startYear)) {}

VOQ_Time& VOQ_Time::operator=(const VOQ_Time& other) {
  year = other.year;
  month = other.month;
  day = other.day;
  hour = other.hour;
  minute = other.minute;
  second = other.second;
  millisecond = other.millisecond;
  biasOperator = other.biasOperator;
  biasHour = other.biasHour;
  biasMinute = other.biasMinute;
  refresh();
  return *this;
}

void VOQ_Time::setYear(int value) {
  check(value >= 1601 && value <= 9999, "Year exceeds allowed value area.");
  year = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setMonth(int value) {
  check(value >= 1 && value <= 12, "Month exceeds allowed value area.");
  month = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setDay(int value) {
  check(value >= 1 && value <= 31, "Day exceeds allowed value area.");
  day = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setHour(int value) {
  check(value >= 0 && value <= 23, "Hour exceeds allowed value area.");
  hour = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setMinute(int value) {
  check(value >= 0 && value <= 59, "Minute exceeds allowed value area.");
  minute = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setSecond(int value) {
  check(value >= 0 && value <= 59, "Second exceeds allowed value area.");
  second = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setMillisecond(int value) {
  check(value >= 0 && value <= 999, "Millisecond exceeds allowed value area.");
  millisecond = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setBiasHour(int value) {
  check(value >= 0 && value <= 23, "BiasHour exceeds allowed value area.");
  biasHour = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setBiasMinute(int value) {
  check(value >= 0 && value <= 59, "BiasMinute exceeds allowed value area.");
  biasMinute = static_cast<short>(value);
  stale = true;
}

void VOQ_Time::setBiasOperator(char value) {
  check(value == '+' || value == '-' || value == 'Z', "BiasOperator unknown.");
  biasOperator = value;
  stale = true;
}

void VOQ_Time::parse(const char* text, int textFormat) {
  check(textFormat == FORMAT_PDF, "Invalid TimeFormat.");
  check(text != nullptr, "timeString is NULL.");
  const char* end = text + strlen(text);
  check(end - text >= 4, kSyntaxError);
  const char* p = text;
  if (p[0] == 'D' && p[1] == ':') p += 2;
  check(end - p >= 4, kSyntaxError);
  int value = 0;
  for (int i = 0; i < 4; ++i) {
    check(isDecimalDigit(p[i]), "Invalid token in year.");
    value = value * 10 + (p[i] - '0');
  }
  // The arithmetic counts from 1601; an earlier year would silently be another instant.
  check(value >= 1601, "Year is not in valid range (1601 - 9999).");
  stale = true;
  year = static_cast<short>(value);
  month = day = 1;
  hour = minute = second = millisecond = 0;
  biasOperator = 'Z';
  biasHour = biasMinute = 0;
  p += 4;

  struct Field {
    short* target;
    const char* invalidToken;
    const char* outOfRange;
    int low;
    int high;
  } const fields[] = {
      {&month, "Invalid token in Month.", "Month is not in valid range (1 - 12).", 1, 12},
      {&day, "Invalid token in Day.", "Day is not in valid range (1 - 31).", 1, 31},
      {&hour, "Invalid token in Hour.", "Hour is not in valid range (0 - 23).", 0, 23},
      {&minute, "Invalid token in Minute.", "Minute is not in valid range (0 - 60).", 0, 59},
      {&second, "Invalid token in Second.", "Second is not in valid range (0 - 60).", 0, 59},
  };
  for (const Field& field : fields) {
    if (end - p < 2) {  // the text ends before the field: the rest keeps its defaults
      refresh();
      return;
    }
    value = twoDigits(p);
    check(value >= 0, field.invalidToken);
    check(value >= field.low && value <= field.high, field.outOfRange);
    // A day beyond its month (31 February) would silently become a day of the next.
    if (field.target == &day) check(value <= daysInMonth(year, month), "Day is not in valid range of the month.");
    *field.target = static_cast<short>(value);
    p += 2;
  }

  if (end - p < 2) {
    refresh();
    return;
  }
  if (*p == 'Z') {
    refresh();
    return;
  }
  if (*p == '+' || *p == '-') biasOperator = *p++;
  // The offset as PDF writers put it: HH, HH', HH'mm or HH'mm'.
  check(end - p >= 2, kSyntaxError);
  value = twoDigits(p);
  check(value >= 0, "Invalid token in Bias hour.");
  check(value <= 23, "Bias hour is not in valid range (0 - 23).");
  biasHour = static_cast<short>(value);
  p += 2;
  if (end - p < 2) {
    refresh();
    return;
  }
  if (*p == '\'') ++p;
  check(end - p >= 2, kSyntaxError);
  value = twoDigits(p);
  check(value >= 0, "Invalid token in Bias minute.");
  check(value <= 59, "Bias minute is not in valid range (0 - 60).");
  biasMinute = static_cast<short>(value);
  refresh();
}

void VOQ_Time::format(char* buffer, unsigned int size, int textFormat) {
  check(buffer != nullptr, "Parameter \"time\" may not be NULL.");
  check(textFormat == FORMAT_PDF, "Invalid TimeFormat.");
  check(size >= 24, "The given buffer \"time\" is too small.");
  char y[5], mo[3], d[3], h[3], mi[3], s[3], bh[3], bm[3];
  const bool padded = formatPadded(year, 4, y) && formatPadded(month, 2, mo) && formatPadded(day, 2, d) &&
                      formatPadded(hour, 2, h) && formatPadded(minute, 2, mi) && formatPadded(second, 2, s) &&
                      formatPadded(biasHour, 2, bh) && formatPadded(biasMinute, 2, bm);
  // Only the year constructor takes a value without checking it.
  check(padded, "Year exceeds allowed value area.");
  if (biasOperator == 'Z') {
    snprintf(buffer, size, "D:%s%s%s%s%s%sZ", y, mo, d, h, mi, s);
  } else {
    snprintf(buffer, size, "D:%s%s%s%s%s%s%c%s'%s'", y, mo, d, h, mi, s, biasOperator, bh, bm);
  }
}

long long VOQ_Time::getMilliseconds() const {
  const long long years = year - 1601;
  long long days = 365 * years + years / 4 - years / 100 + years / 400;
  for (int m = 1; m < month && m <= 12; ++m) days += daysInMonth(year, m);
  days += day - 1;
  long long result = days * kMillisecondsPerDay + hour * 3600000LL + minute * 60000LL + second * 1000LL + millisecond;
  const long long offset = biasHour * 3600000LL + biasMinute * 60000LL;
  if (biasOperator == '+') result -= offset;
  if (biasOperator == '-') result += offset;
  return result;
}

void VOQ_Time::refresh() {
  const unsigned long long ticks = static_cast<unsigned long long>(getMilliseconds()) * 10000ull;
  fileTime.dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  systemTimeValid = FileTimeToSystemTime(&fileTime, &systemTime) != FALSE;
  stale = false;
}

FILETIME VOQ_Time::getFileTime() {
  if (stale) refresh();
  return fileTime;
}

SYSTEMTIME VOQ_Time::getSystemTime() {
  if (stale) refresh();
  check(systemTimeValid, "Can\xc2\xb4t convert time to system time.");
  return systemTime;
}
