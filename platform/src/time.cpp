// Calendar time: SYSTEMTIME and FILETIME with the proleptic Gregorian calendar of the
// Windows API, and the time zone from the host's (TZ, tzset).
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "windows.h"

namespace {

const int64_t kTicksPerMillisecond = 10000;
const int64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 to 1970-01-01.
const int64_t kDaysTo1970 = 134774;

bool isLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int64_t year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the first day of the year.
int64_t daysBeforeYear(int64_t year) {
  const int64_t y = year - 1601;
  return 365 * y + y / 4 - y / 100 + y / 400;
}

void fromDays(int64_t days, int64_t milliseconds, SYSTEMTIME* out) {
  // 400 years are 146097 days; walk the rest year by year and month by month.
  int64_t year = 1601 + 400 * (days / 146097);
  days %= 146097;
  while (days >= (isLeap(year) ? 366 : 365)) days -= isLeap(year++) ? 366 : 365;
  int month = 1;
  while (days >= daysInMonth(year, month)) days -= daysInMonth(year, month++);
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(days + 1);
  out->wHour = static_cast<WORD>(milliseconds / 3600000);
  out->wMinute = static_cast<WORD>(milliseconds / 60000 % 60);
  out->wSecond = static_cast<WORD>(milliseconds / 1000 % 60);
  out->wMilliseconds = static_cast<WORD>(milliseconds % 1000);
}

void setDayOfWeek(int64_t daysSince1601, SYSTEMTIME* out) {
  out->wDayOfWeek = static_cast<WORD>((daysSince1601 + 1) % 7);  // 1601-01-01 was a Monday
}

void toSystemTime(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void copyName(const char* name, WCHAR* target) {
  size_t i = 0;
  for (; name != nullptr && name[i] != '\0' && i < 31; ++i) target[i] = static_cast<unsigned char>(name[i]);
  target[i] = 0;
}

}  // namespace

extern "C" {

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  tzset();
  memset(info, 0, sizeof *info);
  const time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  // The offset east of UTC, in minutes, of standard time and of summer time: from now,
  // or from a month of the coming year in which it is in force.
  auto offsetIn = [&](bool summer, long* minutes) {
    for (int month = 0; month <= 12; ++month) {
      const time_t probe = now + static_cast<time_t>(month) * 30 * 86400;
      struct tm t;
      if (localtime_r(&probe, &t) != nullptr && (t.tm_isdst > 0) == summer) {
        *minutes = t.tm_gmtoff / 60;
        return true;
      }
    }
    return false;
  };
  long standard = -timezone / 60;
  offsetIn(false, &standard);
  long summer = standard;
  const bool hasSummer = offsetIn(true, &summer);
  info->Bias = static_cast<LONG>(-standard);
  info->StandardBias = 0;
  info->DaylightBias = static_cast<LONG>(-(summer - standard));
  copyName(tzname[0], info->StandardName);
  copyName(tzname[1], info->DaylightName);
  if (local.tm_isdst > 0) return TIME_ZONE_ID_DAYLIGHT;
  return hasSummer ? TIME_ZONE_ID_STANDARD : TIME_ZONE_ID_UNKNOWN;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  toSystemTime(local, now.tv_nsec, lpSystemTime);
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  FileTimeToSystemTime(&now, lpSystemTime);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  if (lpSystemTimeAsFileTime == nullptr) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t ticks = static_cast<uint64_t>((kDaysTo1970 * 86400 + now.tv_sec) * 10000000LL + now.tv_nsec / 100);
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t ticks = (static_cast<uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
  if (ticks >= (1ull << 63)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t milliseconds = static_cast<int64_t>(ticks / kTicksPerMillisecond);
  const int64_t days = milliseconds / kMillisecondsPerDay;
  fromDays(days, milliseconds % kMillisecondsPerDay, lpSystemTime);
  setDayOfWeek(days, lpSystemTime);
  return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
  if (lpSystemTime == nullptr || lpFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SYSTEMTIME& t = *lpSystemTime;
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
      t.wDay > daysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
      t.wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = daysBeforeYear(t.wYear);
  for (int month = 1; month < t.wMonth; ++month) days += daysInMonth(t.wYear, month);
  days += t.wDay - 1;
  const int64_t milliseconds =
      days * kMillisecondsPerDay + t.wHour * 3600000LL + t.wMinute * 60000LL + t.wSecond * 1000LL + t.wMilliseconds;
  const uint64_t ticks = static_cast<uint64_t>(milliseconds) * kTicksPerMillisecond;
  lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

}  // extern "C"

char* _strdate(char* buffer) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  snprintf(buffer, 9, "%02u/%02u/%02u", now.wMonth % 100u, now.wDay % 100u, now.wYear % 100u);
  return buffer;
}

char* _strtime(char* buffer) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  snprintf(buffer, 9, "%02u:%02u:%02u", now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u);
  return buffer;
}
