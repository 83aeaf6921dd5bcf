// Parses arbitrary bytes as a PDF date. Whatever parses must format within 24 bytes and
// read back to the same instant and fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "certcheck/VOQ_Time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // parse stops at a NUL
  VOQ_Time time(1999);
  try {
    time.parse(text.c_str(), VOQ_Time::FORMAT_PDF);
  } catch (const VOQ_TimeException&) {
    return 0;
  }
  char buffer[24];
  time.format(buffer, sizeof buffer, VOQ_Time::FORMAT_PDF);
  VOQ_Time again(1999);
  again.parse(buffer, VOQ_Time::FORMAT_PDF);
  if (again.getMilliseconds() != time.getMilliseconds() || again.getYear() != time.getYear() ||
      again.getMonth() != time.getMonth() || again.getDay() != time.getDay() ||
      again.getHour() != time.getHour() || again.getMinute() != time.getMinute() ||
      again.getSecond() != time.getSecond() || again.getBiasOperator() != time.getBiasOperator()) {
    abort();
  }
  // Offset digits without a sign are read but leave the value in UTC ('Z'), which the
  // formatted text does not repeat.
  if (time.getBiasOperator() != 'Z' &&
      (again.getBiasHour() != time.getBiasHour() || again.getBiasMinute() != time.getBiasMinute())) {
    abort();
  }
  try {
    time.getSystemTime();
  } catch (const VOQ_TimeException&) {
    // only an instant before 1601 (an offset east of UTC on its first day) has none
    if (time.getMilliseconds() >= 0) abort();
  }
  return 0;
}
