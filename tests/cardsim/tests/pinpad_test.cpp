// How a PIN pad collects entries and writes the PIN into the command, for the
// block formats that readers and terminals are given.
#include "cardsim/pinpad.h"

#include <gtest/gtest.h>

using cardsim::Bytes;
using cardsim::EntryRules;
using cardsim::fromHex;
using cardsim::KeypadScript;
using cardsim::PinEntry;
using cardsim::toHex;

TEST(PinEntry, KeysEndEntriesAsTheRulesSay) {
  struct Row {
    const char* keys;
    EntryRules rules;
    int entries;
    PinEntry::State state;
    std::vector<std::string> pins;
  } rows[] = {
      {"1234 OK", {4, 12, false, true}, 1, PinEntry::State::Done, {"1234"}},
      {"123 OK 4 OK", {4, 12, false, true}, 1, PinEntry::State::Done, {"1234"}},  // OK below the minimum is ignored
      {"12 BS 34 CLEAR 5678 OK", {4, 12, false, true}, 1, PinEntry::State::Done, {"5678"}},
      {"123456", {6, 6, true, false}, 1, PinEntry::State::Done, {"123456"}},  // fixed length ends by itself
      {"1234567", {4, 6, false, true}, 1, PinEntry::State::TimedOut, {}},     // digits past the maximum are dropped, no OK
      {"12 CANCEL", {4, 12, false, true}, 1, PinEntry::State::Cancelled, {}},
      {"1234 OK TIMEOUT", {4, 12, false, true}, 2, PinEntry::State::TimedOut, {"1234"}},
      {"1111 OK 2222 OK 2222 OK", {4, 12, false, true}, 3, PinEntry::State::Done, {"1111", "2222", "2222"}},
  };
  for (auto& row : rows) {
    KeypadScript script = KeypadScript::parse(row.keys);
    PinEntry entry(row.rules, row.entries);
    entry.run(script);
    EXPECT_EQ(entry.state(), row.state) << row.keys;
    EXPECT_EQ(entry.entries(), row.pins) << row.keys;
  }
  EXPECT_THROW(KeypadScript::parse("12A4"), std::invalid_argument);
}

TEST(PinEntry, ReportsTheKeyCodesOfPart10) {
  KeypadScript script = KeypadScript::parse("1 BS CLEAR 1234 OK");
  PinEntry entry({4, 8, false, true}, 1);
  std::string codes;
  while (entry.state() == PinEntry::State::Collecting) codes += toHex(Bytes{entry.press(script.next())});
  EXPECT_EQ(codes, "2B080A2B2B2B2B0D");
  EXPECT_EQ(entry.press(script.next()), 0x00);  // nothing more after the entry ended
}

TEST(PinInsertion, Part10FormatBytes) {
  struct Row {
    const char* name;
    cardsim::PinBlockFormat format;
    std::size_t offset;
    const char* apdu;
    const char* pin;
    const char* expect;
  } rows[] = {
      {"format 2 block", {0x89, 0x47, 0x04}, 0, "0020008108" "20FFFFFFFFFFFFFF", "12345",
       "0020008108" "2512345FFFFFFFFF"},
      {"ASCII, bit units", {0x02, 0x08, 0x00}, 0, "0020008108" "0000000000000000", "1234",
       "0020008108" "3132333400000000"},
      {"BCD from the start", {0x01, 0x08, 0x00}, 0, "0020008108" "FFFFFFFFFFFFFFFF", "123",
       "0020008108" "123FFFFFFFFFFFFF"},
      {"binary digits, byte units, position 2", {0x90, 0x08, 0x00}, 0, "0020008108" "0000000000000000", "907",
       "0020008108" "0000090007000000"},
      {"length byte in byte units at 0", {0x88, 0x87, 0x10}, 0, "0020008108" "0000000000000000", "123456",
       "0020008108" "0601020304050600"},
      {"new PIN at offset 8", {0x89, 0x47, 0x04}, 8, "0024008110" "20FFFFFFFFFFFFFF20FFFFFFFFFFFFFF", "6543",
       "0024008110" "20FFFFFFFFFFFFFF246543FFFFFFFFFF"},
  };
  for (auto& row : rows) {
    Bytes apdu = fromHex(row.apdu);
    ASSERT_TRUE(cardsim::insertPin(apdu, row.format, row.offset, row.pin)) << row.name;
    EXPECT_EQ(toHex(apdu), row.expect) << row.name;
  }
  Bytes tooShort = fromHex("0020008102" "0000");
  EXPECT_FALSE(cardsim::insertPin(tooShort, {0x02, 0x08, 0x00}, 0, "123456"));
}

TEST(PinInsertion, CtBcsControlByteAndPosition) {
  struct Row {
    std::uint8_t control;
    std::size_t position, base;
    const char* apdu;
    const char* pin;
    const char* expect;
  } rows[] = {
      {0x02, 6, 1, "0020008108" "20FFFFFFFFFFFFFF", "1234", "0020008108" "241234FFFFFFFFFF"},
      {0x62, 6, 1, "0020008108" "20FFFFFFFFFFFFFF", "123456", "0020008108" "26123456FFFFFFFF"},
      {0x01, 6, 1, "0020008108" "0000000000000000", "4321", "0020008108" "3433323100000000"},
      {0x02, 7, 2, "0024018108" "24FFFFFFFFFFFFFF", "13579", "0024018108" "2513579FFFFFFFFF"},
      {0x00, 6, 1, "0020008104" "FFFFFFFF", "1234", "0020008104" "1234FFFF"},
  };
  for (auto& row : rows) {
    Bytes apdu = fromHex(row.apdu);
    ASSERT_TRUE(cardsim::insertPinCtBcs(apdu, row.control, row.position, row.base, row.pin)) << row.expect;
    EXPECT_EQ(toHex(apdu), row.expect);
  }
  Bytes apdu = fromHex("0020008108" "0000000000000000");
  EXPECT_FALSE(cardsim::insertPinCtBcs(apdu, 0x01, 12, 1, "123456"));  // runs past the end
  EXPECT_FALSE(cardsim::insertPinCtBcs(apdu, 0x01, 1, 2, "1"));        // before the first position
}
