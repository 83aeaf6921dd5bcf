// Calendar time of the Windows API (included by winbase.h): SYSTEMTIME, the time zone,
// and FILETIME conversions (100-nanosecond intervals since 1601-01-01 00:00 UTC).
#pragma once

#include "windef.h"

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

// UTC = local time + Bias (+ StandardBias or DaylightBias), all in minutes.
typedef struct _TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
} TIME_ZONE_INFORMATION, *PTIME_ZONE_INFORMATION, *LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

#ifdef __cplusplus
extern "C" {
#endif

// From the host's zone (TZ, read afresh at each call): Bias is minus the standard
// offset east of UTC, DaylightBias minus the extra offset of summer time, StandardBias
// 0; the result names the part of the year now in force (UNKNOWN without summer time).
// The change dates are left zero.
DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation);
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
// Fails (ERROR_INVALID_PARAMETER) for values of 2^63 and above.
BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// Fails (ERROR_INVALID_PARAMETER) for fields out of range or a year outside 1601-30827.
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);

// The C runtime's local date "MM/DD/YY" and time "HH:MM:SS" (GetLocalTime) into a
// buffer of at least 9 bytes; the buffer is returned.
char* _strdate(char* buffer);
char* _strtime(char* buffer);

#ifdef __cplusplus
}
#endif
