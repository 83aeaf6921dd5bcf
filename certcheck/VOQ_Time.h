// The plug-in's date and time: a calendar date and time of day with a time-zone offset,
// as PDF date strings write it (D:YYYYMMDDHHmmSSOHH'mm'), converted to UTC with its own
// calendar arithmetic from 1601-01-01. Failures are thrown as VOQ_TimeException.
#pragma once

#include <windows.h>

#include "foundation/util/AbstractException.h"

class VOQ_TimeException : public AbstractException {
 public:
  explicit VOQ_TimeException(const char* message) : AbstractException(message) {}
  VOQ_TimeException(const char* message, const AbstractException* cause) : AbstractException(message, cause) {}
  VOQ_TimeException(const VOQ_TimeException& other) = default;
  const char* name() const override;
  AbstractException* clone() const override;
};

class VOQ_Time {
 public:
  // The only text format: the PDF date string.
  enum { FORMAT_PDF = 1 };

  // The current local time with the system's time-zone offset.
  VOQ_Time();
  // 1 January of the year, 00:00:00.000 UTC.
  explicit VOQ_Time(int year);
  VOQ_Time(const VOQ_Time& other) = default;
  VOQ_Time& operator=(const VOQ_Time& other);

  short getYear() const { return year; }
  short getMonth() const { return month; }
  short getDay() const { return day; }
  short getHour() const { return hour; }
  short getMinute() const { return minute; }
  short getSecond() const { return second; }
  short getMillisecond() const { return millisecond; }
  short getBiasHour() const { return biasHour; }
  short getBiasMinute() const { return biasMinute; }
  // '+' local time ahead of UTC, '-' behind it, 'Z' UTC.
  char getBiasOperator() const { return biasOperator; }

  // Each checks its range (throwing VOQ_TimeException) and marks the value changed.
  void setYear(int value);
  void setMonth(int value);
  void setDay(int value);
  void setHour(int value);
  void setMinute(int value);
  void setSecond(int value);
  void setMillisecond(int value);
  void setBiasHour(int value);
  void setBiasMinute(int value);
  void setBiasOperator(char value);

  // Reads a PDF date string: "D:" (optional), the year, then month, day, hour, minute
  // and second as far as the text goes, then 'Z' or the offset +HH, +HH', +HH'mm or
  // +HH'mm'. A failure leaves the fields read so far.
  void parse(const char* text, int format);
  // Writes the PDF date string; the buffer must hold 24 bytes.
  void format(char* buffer, unsigned int size, int format);

  // UTC as 100-nanosecond intervals since 1601-01-01.
  FILETIME getFileTime();
  SYSTEMTIME getSystemTime();
  // UTC in milliseconds since 1601-01-01, for comparing two values.
  long long getMilliseconds() const;

 private:
  void refresh();

  short year = 1601;
  short month = 1;
  short day = 1;
  short hour = 0;
  short minute = 0;
  short second = 0;
  short millisecond = 0;
  char biasOperator = 'Z';
  short biasHour = 0;
  short biasMinute = 0;
  FILETIME fileTime = {0, 0};
  SYSTEMTIME systemTime = {};
  bool stale = true;
  bool systemTimeValid = false;  // the instant has a SYSTEMTIME (it lies in 1601 or later)
};

bool isDecimalDigit(char c);
// The value in decimal, left-padded with '0' to exactly width characters and terminated;
// NULL (nothing written) for a negative value or one with more digits than width.
char* formatPadded(int value, int width, char* buffer);
