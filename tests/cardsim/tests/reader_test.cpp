// A simulated reader as its driver sees it, without pcscd: presence, power,
// attributes, and the PIN pad's answers to malformed or out-of-order requests.
#include "cardsim/reader.h"

#include <gtest/gtest.h>
#include <ifdhandler.h>
#include <reader.h>

#include <thread>

using cardsim::Bytes;
using cardsim::CardProfile;
using cardsim::fromHex;
using cardsim::ReaderConfig;
using cardsim::SimReader;
using cardsim::toHex;

namespace {
CardProfile profile(const char* name) { return CardProfile::load(CardProfile::installedPath(name)); }
}  // namespace

TEST(SimReader, PresencePowerAndAttributes) {
  SimReader reader(ReaderConfig::plain("R"));
  Bytes out;
  EXPECT_EQ(reader.presence(), IFD_ICC_NOT_PRESENT);
  EXPECT_EQ(reader.power(IFD_POWER_UP, out), IFD_ERROR_POWER_ACTION);
  EXPECT_EQ(reader.capability(SCARD_ATTR_ICC_PRESENCE, 1, out), IFD_SUCCESS);
  EXPECT_EQ(out, fromHex("00"));

  reader.insert(profile("bank"));
  EXPECT_EQ(reader.presence(), IFD_ICC_PRESENT);
  EXPECT_EQ(reader.transmit(fromHex("00A4040C07A0000001184543"), 258, out), IFD_COMMUNICATION_ERROR);  // not powered
  ASSERT_EQ(reader.power(IFD_POWER_UP, out), IFD_SUCCESS);
  EXPECT_EQ(out, profile("bank").atr);
  EXPECT_EQ(reader.capability(SCARD_ATTR_ATR_STRING, 33, out), IFD_SUCCESS);
  EXPECT_EQ(out, profile("bank").atr);
  EXPECT_EQ(reader.capability(SCARD_ATTR_ATR_STRING, 4, out), IFD_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(reader.capability(SCARD_ATTR_ICC_PRESENCE, 1, out), IFD_SUCCESS);
  EXPECT_EQ(out, fromHex("02"));
  EXPECT_EQ(reader.capability(0x7FFF0001, 64, out), IFD_ERROR_TAG);
  EXPECT_EQ(reader.transmit(fromHex("00A4040C07A0000001184543"), 258, out), IFD_SUCCESS);
  EXPECT_EQ(out, fromHex("9000"));
  EXPECT_EQ(reader.transmit(fromHex("00B0000000"), 1, out), IFD_ERROR_INSUFFICIENT_BUFFER);
  ASSERT_EQ(reader.power(IFD_POWER_DOWN, out), IFD_SUCCESS);
  EXPECT_TRUE(out.empty());
  reader.remove();
  EXPECT_EQ(reader.presence(), IFD_ICC_NOT_PRESENT);
  EXPECT_EQ(reader.cardLog().back().event, "power-off");  // the log outlives the card
}

TEST(SimReader, PinPadRefusesWhatItCannotDo) {
  SimReader plain(ReaderConfig::plain("R"));
  SimReader pad(ReaderConfig::pinPadStartFinish("P"));
  pad.insert(profile("asign"));
  Bytes out;
  EXPECT_EQ(plain.control(cardsim::feature::controlCode(6), fromHex("00"), 64, out), IFD_ERROR_NOT_SUPPORTED);
  EXPECT_EQ(pad.control(cardsim::feature::controlCode(6), fromHex("00"), 64, out), IFD_ERROR_NOT_SUPPORTED);
  EXPECT_EQ(pad.control(cardsim::feature::controlCode(2), {}, 64, out), IFD_COMMUNICATION_ERROR);  // finish without start
  EXPECT_EQ(pad.control(cardsim::feature::controlCode(5), {}, 64, out), IFD_SUCCESS);
  EXPECT_EQ(out, fromHex("00"));  // no entry running: no key
  // ulDataLength that does not match the bytes given
  EXPECT_EQ(pad.control(cardsim::feature::controlCode(1),
                        fromHex("000A8947040C0402010704000000000E000000" "0020008108" "20FFFFFFFFFFFFFF"), 64, out),
            IFD_COMMUNICATION_ERROR);
  EXPECT_EQ(pad.control(cardsim::feature::kGetFeatureRequest, {}, 10, out), IFD_ERROR_INSUFFICIENT_BUFFER);
  auto records = pad.controlRecords();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[3].input.size(), 32u);
}

// A held command waits before the card sees it while the reader stays usable; only the
// first matching command is held, and the hold's end lets a waiting command go.
TEST(SimReader, HeldCommandWaitsUntilReleased) {
  SimReader reader(ReaderConfig::plain("R"));
  reader.insert(profile("bank"));
  Bytes out;
  ASSERT_EQ(reader.power(IFD_POWER_UP, out), IFD_SUCCESS);
  const Bytes select = fromHex("00A4040C07A0000001184543");
  for (bool endOfLife : {false, true}) {
    Bytes answer;
    long rc = IFD_COMMUNICATION_ERROR;
    std::thread driver;
    std::size_t seen = 0;
    {
      SimReader::Hold hold = reader.hold(fromHex("00A4"));
      driver = std::thread([&] { rc = reader.transmit(select, 258, answer); });
      EXPECT_TRUE(hold.waitArrived()) << endOfLife;
      seen = reader.cardLog().size();  // the reader's lock is free
      EXPECT_EQ(reader.presence(), IFD_ICC_PRESENT);
      EXPECT_EQ(reader.transmit(select, 258, out), IFD_SUCCESS);  // held once only
      EXPECT_EQ(reader.cardLog().size(), seen + 1);
      if (!endOfLife) hold.release();
    }
    driver.join();
    EXPECT_EQ(rc, IFD_SUCCESS);
    EXPECT_EQ(answer, fromHex("9000"));
    EXPECT_EQ(reader.cardLog().size(), seen + 2);
  }
}
