#include "foundation/base/FormatString.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(FormatString, WholeTextsWithTheWindowsConversions) {
  const std::string a255(255, 'a');
  const std::string a256(256, 'a');
  const std::string a5000(5000, 'a');
  struct Row {
    std::string text;
    std::string expected;
  } const rows[] = {
      {VOQ::formatString("returned: 0x%x.\n", 0x80100069u), "returned: 0x80100069.\n"},
      {VOQ::formatString("0x%p", reinterpret_cast<void*>(static_cast<uintptr_t>(0xABC))), "0x0000000000000ABC"},
      {VOQ::formatString("%s", static_cast<const char*>(nullptr)), "(null)"},
      {VOQ::formatString("%ls", u"Karte"), "Karte"},
      {VOQ::formatString("%I64u", static_cast<unsigned long long>(1) << 40), "1099511627776"},
      // Around the first buffer's size, and far beyond it.
      {VOQ::formatString("%s", a255.c_str()), a255},
      {VOQ::formatString("%s", a256.c_str()), a256},
      {VOQ::formatString("%s!", a5000.c_str()), a5000 + "!"},
      {VOQ::formatString(""), ""},
      {VOQ::formatString(nullptr), ""},
  };
  for (const Row& row : rows) EXPECT_EQ(row.text, row.expected);
}

}  // namespace
