// The PC/SC reader through the real pcscd and the test bed's reader driver:
// connect, status, reset, share modes, the transmit retry, and secure PIN entry
// on direct and polling PIN pads.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cardaccess/reader/CReader_PCSC.h"
#include "cardaccess/reader/CardResult.h"
#include "cardaccess/reader/PinPad.h"
#include "cardsim/pcscbed.h"
#include "platform/win_scard_beep.h"
#include "platform/win_scard_test.h"
#include "reader_test_support.h"

using cardsim::CardProfile;
using cardsim::ReaderConfig;
using readertest::atrOf;
using readertest::hex;
using readertest::unhex;

namespace {

enum : size_t { kPlain, kDirect, kPolling, kNoPolling, kPace };

int code(unsigned value) { return static_cast<int>(value); }

class PcscReader : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<ReaderConfig> readers = cardsim::PcscBed::standardReaders();
    readers.push_back(ReaderConfig{"Quarvel Sim NoPoll", {1, 2, 3, 4}});
    readers.push_back(ReaderConfig{"Quarvel Sim Pace", {0x20, 6, 7}});
    bed_ = std::make_unique<cardsim::PcscBed>(std::move(readers));
    platform::clearBeeps();
  }

  void TearDown() override {
    platform::scardIgnoreDriverCardAttributes(false);
    bed_.reset();
  }

  const std::string& name(size_t reader) const { return bed_->name(reader); }

  // A reader as the factory builds it, on a context of its own.
  std::unique_ptr<CReader_PCSC> reader(size_t index, int shareMode = SCARD_SHARE_SHARED, bool beep = true) {
    SCARDCONTEXT ctx = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    return std::make_unique<CReader_PCSC>(name(index), ctx, shareMode, 1, beep ? 1 : 0, 1, 0);
  }

  void waitForCard(size_t reader, bool present) {
    SCARDCONTEXT ctx = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    SCARD_READERSTATEA state{};
    state.szReader = name(reader).c_str();
    bool seen = false;
    for (int round = 0; round < 50 && !seen; ++round) {
      LONG rc = SCardGetStatusChangeA(ctx, 200, &state, 1);
      ASSERT_TRUE(rc == SCARD_S_SUCCESS || rc == SCARD_E_TIMEOUT);
      seen = ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
      state.dwCurrentState = state.dwEventState;
    }
    SCardReleaseContext(ctx);
    ASSERT_TRUE(seen) << "pcscd did not see the card " << (present ? "arrive" : "leave");
  }

  void insert(size_t reader, const std::string& profile) {
    bed_->reader(reader).insert(CardProfile::load(CardProfile::installedPath(profile)));
    waitForCard(reader, true);
  }

  std::vector<std::string> cardEvents(size_t reader) {
    std::vector<std::string> events;
    for (auto& e : bed_->reader(reader).cardLog())
      if (e.event != "apdu") events.push_back(e.event);
    return events;
  }

  std::vector<DWORD> tones() {
    std::vector<DWORD> out;
    for (auto& b : platform::recordedBeeps()) {
      EXPECT_EQ(b.duration, 100u);
      out.push_back(b.frequency);
    }
    platform::clearBeeps();
    return out;
  }

  std::unique_ptr<cardsim::PcscBed> bed_;
  readertest::FakeRecognition recognition_{{atrOf("asign"), atrOf("bank")}};
};

}  // namespace

TEST_F(PcscReader, ConnectRecognisesTheCardOrReportsItUnknown) {
  auto r = reader(kPlain);
  EXPECT_EQ(r->connect(0), SCARD_E_NO_SMARTCARD);
  EXPECT_EQ(r->getCard(), nullptr);

  insert(kPlain, "asign");
  ASSERT_EQ(r->connect(0), 0);
  EXPECT_NE(r->getCard(), nullptr);
  EXPECT_EQ(r->getATR(), atrOf("asign"));
  ASSERT_EQ(recognition_.channels.size(), 1u);
  EXPECT_EQ(recognition_.channels[0], &r->getChannel());
  std::string ct;
  EXPECT_EQ(r->getCT(ct), 0);
  EXPECT_EQ(ct, "PC/SC Reader");
  EXPECT_STREQ(r->getName(), "PC/SC");
  EXPECT_EQ(r->getCTAPIName(), name(kPlain));
  EXPECT_EQ(r->activateVerification(0x81, 2, 0), code(0x80000001));
  EXPECT_EQ(r->activateVerification_KOBIL(0x81, 2, 0), code(0x80000001));

  // A second connect makes a new card object; the first lives until disconnect.
  ASSERT_EQ(r->connect(0), 0);
  EXPECT_EQ(recognition_.made, 2);
  EXPECT_EQ(recognition_.deleted, 0);
  EXPECT_EQ(r->disconnect(), 0);
  EXPECT_EQ(recognition_.deleted, 2);
  EXPECT_EQ(r->getCard(), nullptr);
  EXPECT_EQ(r->disconnect(), 0);

  bed_->reader(kPlain).remove();
  waitForCard(kPlain, false);
  insert(kPlain, "dtrust");
  EXPECT_EQ(r->connect(0), code(0x80100069));
  EXPECT_EQ(r->getCard(), nullptr);
}

TEST_F(PcscReader, StatusTable) {
  for (bool rebuilt : {false, true}) {
    SCOPED_TRACE(rebuilt ? "attributes rebuilt from the status" : "attributes from the driver");
    platform::scardIgnoreDriverCardAttributes(rebuilt);
    auto r = reader(kPlain);
    EXPECT_EQ(r->getStatus(1), 0);  // no card
    insert(kPlain, "asign");
    EXPECT_EQ(r->getStatus(1), 5);  // present, before any connect
    ASSERT_EQ(r->connect(0), 0);
    EXPECT_EQ(r->getStatus(1), 5);
    bed_->reader(kPlain).remove();
    waitForCard(kPlain, false);
    EXPECT_EQ(r->getStatus(1), 0);  // pulled after connect
    EXPECT_NE(r->getCard(), nullptr);  // status leaves the card object alone
  }
}

TEST_F(PcscReader, ColdAndWarmResetReachTheCard) {
  insert(kPlain, "asign");
  auto r = reader(kPlain);
  ASSERT_EQ(r->connect(0), 0);
  bed_->reader(kPlain).withCard([](cardsim::Card& c) { c.clearLog(); });
  ASSERT_EQ(r->reset(true), 0);
  auto cold = cardEvents(kPlain);
  ASSERT_GE(cold.size(), 2u);
  EXPECT_EQ(cold[cold.size() - 2], "power-off");
  EXPECT_EQ(cold.back(), "power-on");
  EXPECT_EQ(recognition_.deleted, 1);  // the old card object went with the reset
  EXPECT_EQ(recognition_.made, 2);

  bed_->reader(kPlain).withCard([](cardsim::Card& c) { c.clearLog(); });
  ASSERT_EQ(r->reset(false), 0);
  auto warm = cardEvents(kPlain);
  ASSERT_FALSE(warm.empty());
  EXPECT_EQ(warm.back(), "reset");
  for (auto& e : warm) EXPECT_NE(e, "power-off");

  // Without a handle, reset connects first.
  ASSERT_EQ(r->disconnect(), 0);
  EXPECT_EQ(r->reset(false), 0);
  EXPECT_NE(r->getCard(), nullptr);
}

TEST_F(PcscReader, ShareModeIsSeenByASecondClient) {
  insert(kPlain, "asign");
  struct Row {
    int shareMode;
    LONG second;
  } rows[] = {{SCARD_SHARE_EXCLUSIVE, SCARD_E_SHARING_VIOLATION}, {SCARD_SHARE_SHARED, SCARD_S_SUCCESS}};
  for (auto& row : rows) {
    auto r = reader(kPlain, row.shareMode);
    ASSERT_EQ(r->connect(0), 0);
    SCARDCONTEXT other = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCardConnectA(other, name(kPlain).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol),
              row.second)
        << row.shareMode;
    if (card) SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(other);
  }
  // A released reader leaves the card to others.
  {
    auto r = reader(kPlain, SCARD_SHARE_EXCLUSIVE);
    ASSERT_EQ(r->connect(0), 0);
  }
  auto again = reader(kPlain, SCARD_SHARE_EXCLUSIVE);
  EXPECT_EQ(again->connect(0), 0);
}

TEST_F(PcscReader, TransmitRetriesFourTimesWhenTheCardIsPulled) {
  insert(kPlain, "asign");
  auto r = reader(kPlain);
  ASSERT_EQ(r->connect(0), 0);
  bed_->reader(kPlain).withCard([](cardsim::Card& c) {
    c.clearLog();
    c.addFault(cardsim::FaultRule::parse("at=1 remove"));
  });
  CAPDU apdu(CCommandAPDU(0x00, 0xA4, 0x00, 0x0C));
  apdu.command.setData(unhex("DF01"));
  const int performed = r->getChannel().perform(apdu);
  // pcsc-lite reports the lost card as "no smart card" until its poll has seen it
  // go, then as removed: either way a transport failure of the card operation.
  EXPECT_TRUE(performed == code(0x80010069) || performed == code(0x8001000C)) << std::hex << performed;
  EXPECT_EQ(cardresult::plain(performed, apdu.response.SW) & code(0xFFFF0000), code(0x80030000));
  EXPECT_EQ(apdu.response.SW, -1);
  const std::string log = readertest::traceText();
  size_t retries = 0;
  for (size_t at = log.find("retrying"); at != std::string::npos; at = log.find("retrying", at + 1)) ++retries;
  EXPECT_EQ(retries, 3u);
}

TEST_F(PcscReader, TransmitToAPulledCardEndsAsRemovedAfterFourAttempts) {
  insert(kPlain, "asign");
  auto r = reader(kPlain);
  ASSERT_EQ(r->connect(0), 0);
  bed_->reader(kPlain).remove();
  waitForCard(kPlain, false);
  const std::string before = readertest::traceText();
  CAPDU apdu(CCommandAPDU(0x00, 0xA4, 0x00, 0x0C));
  apdu.command.setData(unhex("DF01"));
  const int performed = r->getChannel().perform(apdu);
  EXPECT_EQ(performed, code(0x80010069));
  EXPECT_EQ(cardresult::plain(performed, apdu.response.SW), code(0x80030069));
  const std::string log = readertest::traceText().substr(before.size());
  size_t retries = 0;
  for (size_t at = log.find("SCardTransmit returned: 0x80100069, retrying."); at != std::string::npos;
       at = log.find("SCardTransmit returned: 0x80100069, retrying.", at + 1))
    ++retries;
  EXPECT_EQ(retries, 3u);
  EXPECT_NE(log.find("Result: 0x80100069"), std::string::npos);
}

TEST_F(PcscReader, FeatureListsDecideTheEntryPath) {
  struct Row {
    size_t reader;
    bool secure;
    std::vector<int> tags;
  } rows[] = {
      {kDirect, true, {6, 7}},
      {kPolling, true, {1, 2, 3, 4, 5}},
      {kNoPolling, true, {1, 2, 3, 4}},
      {kPlain, false, {}},
      {kPace, false, {}},  // the list starts with tag 0x20: nothing after it counts
  };
  for (auto& row : rows) {
    insert(row.reader, "asign");
    auto r = reader(row.reader);
    ASSERT_EQ(r->connect(0), 0);
    EXPECT_EQ(r->isSecure() != 0, row.secure) << name(row.reader);
    for (int tag = 1; tag < 8; ++tag) {
      bool listed = std::find(row.tags.begin(), row.tags.end(), tag) != row.tags.end();
      EXPECT_EQ(r->getFeature(tag), listed ? 0x42330000u + tag : 0u) << name(row.reader) << " tag " << tag;
    }
    if (!row.secure) {
      int status = 7;
      EXPECT_EQ(r->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, &status), code(0x80000006));
      EXPECT_EQ(status, 7);  // untouched
      EXPECT_EQ(r->modifyVerification(0x81, 2, 0), code(0x80000006));
      // Off for good: a new handle does not switch it on again.
      ASSERT_EQ(r->disconnect(), 0);
      ASSERT_EQ(r->connect(0), 0);
      EXPECT_EQ(r->isSecure(), 0);
    }
  }
}

TEST(PinPadFeatures, ListIsReadInWholeRecordsOnly) {
  struct Row {
    std::string list;
    std::vector<std::pair<int, DWORD>> table;
  } rows[] = {
      {"060442330006" "070442330007", {{6, 0x42330006}, {7, 0x42330007}}},
      {"060442330006" "0704423300", {{6, 0x42330006}, {7, 0}}},  // a cut record counts for nothing
      {"0104" "00000001" "2004" "00000020" "0304" "00000003", {{1, 1}, {3, 0}}},
      {"", {{1, 0}}},
  };
  for (auto& row : rows) {
    // Stale bytes after the returned length must not be read as a record.
    std::string buffer = unhex(row.list) + unhex("070442330007");
    DWORD table[pinpad::kFeatureCount] = {};
    pinpad::parseFeatures(reinterpret_cast<const BYTE*>(buffer.data()), unhex(row.list).size(), table);
    for (auto& [tag, value] : row.table) EXPECT_EQ(table[tag], value) << row.list << " tag " << tag;
  }
}

TEST_F(PcscReader, VerifyStructureBytes) {
  insert(kDirect, "asign");
  auto r = reader(kDirect);
  ASSERT_EQ(r->connect(0), 0);
  const std::string caller13 = unhex("0020000208" "1122334455667788");
  const std::string caller14 = caller13 + unhex("99");
  struct Row {
    int format, fixed;
    const std::string* apdu;
    std::string block;  // empty: refused, nothing sent
  } rows[] = {
      {0, 0, nullptr, "000A" "020800" "0C04" "02" "01" "0704" "00" "000000" "0D000000" "0020008108" "0000000000000000"},
      {1, 0, nullptr, "000A" "010800" "0C04" "02" "01" "0704" "00" "000000" "0D000000" "0020008108" "0000000000000000"},
      {2, 0, nullptr, "000A" "894704" "0C04" "02" "01" "0704" "00" "000000" "0D000000" "0020008108" "20FFFFFFFFFFFFFF"},
      {0, 6, nullptr, "000A" "020800" "0606" "01" "01" "0704" "00" "000000" "0D000000" "0020008108" "0000000000000000"},
      {1, 6, nullptr, "000A" "010800" "0606" "01" "01" "0704" "00" "000000" "0D000000" "0020008108" "0000000000000000"},
      {2, 6, nullptr, "000A" "894704" "0606" "01" "01" "0704" "00" "000000" "0D000000" "0020008108" "20FFFFFFFFFFFFFF"},
      {2, 0, &caller13, "000A" "894704" "0C04" "02" "01" "0704" "00" "000000" "0D000000" "0020000208" "1122334455667788"},
      {0, 6, &caller13, "000A" "020800" "0606" "01" "01" "0704" "00" "000000" "0D000000" "0020000208" "1122334455667788"},
      {2, 0, &caller14, ""},
      {3, 0, nullptr, ""},
  };
  for (auto& row : rows) {
    bed_->reader(kDirect).setKeypad("CANCEL");
    const size_t before = bed_->reader(kDirect).controlRecords().size();
    int status = 7;
    const int result = r->performVerification(0x81, row.format, row.fixed, 6, 0, row.apdu, nullptr, &status);
    auto records = bed_->reader(kDirect).controlRecords();
    if (row.block.empty()) {
      EXPECT_EQ(result, code(0x80000006));
      EXPECT_EQ(records.size(), before);
      continue;
    }
    ASSERT_EQ(records.size(), before + 1);
    EXPECT_EQ(records.back().code, 0x42330006u);
    EXPECT_EQ(hex(std::string(records.back().input.begin(), records.back().input.end())), readertest::lower(row.block))
        << "format " << row.format << " fixed " << row.fixed;
  }
  // The caller's time-out goes into bTimerOut.
  bed_->reader(kDirect).setKeypad("CANCEL");
  r->performVerification(0x81, 2, 0, 6, 30, nullptr, nullptr, nullptr);
  EXPECT_EQ(bed_->reader(kDirect).controlRecords().back().input.at(0), 30);
}

TEST_F(PcscReader, ModifyStructureBytes) {
  insert(kDirect, "asign");
  auto r = reader(kDirect);
  ASSERT_EQ(r->connect(0), 0);
  struct Row {
    int format, fixed;
    std::string block;
  } rows[] = {
      {0, 0, "3C0A" "020800" "00" "08" "0C04" "03" "02" "03" "0704" "000102" "000000" "15000000" "0024008110"
             "0000000000000000" "0000000000000000"},
      {1, 6, "3C0A" "010800" "00" "08" "0606" "03" "01" "03" "0704" "000102" "000000" "15000000" "0024008110"
             "0000000000000000" "0000000000000000"},
      {2, 0, "3C0A" "894704" "00" "08" "0C04" "03" "02" "03" "0704" "000102" "000000" "15000000" "0024008110"
             "20FFFFFFFFFFFFFF" "20FFFFFFFFFFFFFF"},
  };
  for (auto& row : rows) {
    bed_->reader(kDirect).setKeypad("CANCEL");
    EXPECT_EQ(r->modifyVerification(0x81, row.format, row.fixed), code(0x80000006));
    auto records = bed_->reader(kDirect).controlRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().code, 0x42330007u);
    EXPECT_EQ(hex(std::string(records.back().input.begin(), records.back().input.end())), readertest::lower(row.block))
        << "format " << row.format;
  }
}

TEST_F(PcscReader, DirectPadAnswersTable) {
  insert(kDirect, "asign");
  auto r = reader(kDirect);
  ASSERT_EQ(r->connect(0), 0);
  struct Row {
    const char* keys;
    const char* forced;  // the pad's own answer instead of the card's, hex
    int result, status;
  } rows[] = {
      {"111111 OK", nullptr, code(0x80020002), code(0x800163C2)},
      {"123456 OK", nullptr, 0, 0x9000},
      {"12 CANCEL", nullptr, code(0x80000006), code(0x80036401)},
      {"123", nullptr, code(0x8010000A), code(0x80036400)},
      {"123456 OK", "6A80", code(0x80016A80), code(0x80016A80)},
      {"123456 OK", "6983", code(0x80020300), code(0x80016983)},
      {"123456 OK", "90", code(0x80000006), code(0x80000006)},        // one byte: nothing verified
      {"123456 OK", "900000", code(0x80000006), code(0x80000006)},    // three bytes: nothing verified
  };
  for (auto& row : rows) {
    bed_->reader(kDirect).setKeypad(row.keys);
    if (row.forced) {
      auto bytes = unhex(row.forced);
      bed_->reader(kDirect).setPinPadAnswer(cardsim::Bytes(bytes.begin(), bytes.end()));
    }
    int status = 7;
    EXPECT_EQ(r->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, &status), row.result) << row.keys;
    EXPECT_EQ(status, row.status) << row.keys;
  }
  EXPECT_TRUE(tones().empty());  // a direct pad sounds nothing of ours
}

TEST_F(PcscReader, PollingPadKeysAndTones) {
  insert(kPolling, "bank");
  auto r = reader(kPolling);
  ASSERT_EQ(r->connect(0), 0);
  struct Row {
    const char* keys;
    int fixed;
    int result, status;
    std::vector<DWORD> tones;
  } rows[] = {
      {"1 2 3 4 5 6", 6, 0, 0x9000, {200, 200, 200, 200, 200, 200, 400}},
      {"1 2 3 4 OK 5 6", 6, 0, 0x9000, {200, 200, 200, 200, 200, 200, 400}},  // OK before the length is ignored
      {"1 2 BS 2 3 4 5 6", 6, 0, 0x9000, {200, 200, 2000, 200, 200, 200, 200, 200, 400}},
      {"9 9 CLEAR 1 2 3 4 5 6", 6, 0, 0x9000, {200, 200, 2000, 200, 200, 200, 200, 200, 200, 400}},
      {"BS 1 2 3 4 5 6", 6, 0, 0x9000, {200, 200, 200, 200, 200, 200, 400}},  // nothing to rub out: no tone
      {"1 2 3 4 5 6 OK", 0, 0, 0x9000, {200, 200, 200, 200, 200, 200, 200, 400}},
      {"6 5 4 3 2 1", 6, code(0x80020002), code(0x800163C2), {200, 200, 200, 200, 200, 200, 400}},
      {"1 2 CANCEL", 6, code(0x80000006), code(0x80000006), {200, 200, 2000, 400}},
      {"1 2 TIMEOUT", 6, code(0x80020200), code(0x80020200), {200, 200, 400}},
  };
  for (auto& row : rows) {
    bed_->reader(kPolling).setKeypad(row.keys);
    int status = 7;
    EXPECT_EQ(r->performVerification(0x81, 0, row.fixed, 6, 0, nullptr, nullptr, &status), row.result) << row.keys;
    EXPECT_EQ(status, row.status) << row.keys;
    EXPECT_EQ(tones(), row.tones) << row.keys;
  }
  // The block went to the start feature, the answer came from the finish.
  auto records = bed_->reader(kPolling).controlRecords();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back().code, 0x42330002u);
  EXPECT_TRUE(records.back().input.empty());

  // Without useBeep the pad is silent.
  auto quiet = reader(kPolling, SCARD_SHARE_SHARED, false);
  bed_->reader(kPolling).setKeypad("1 2 3 4 5 6");
  r.reset();
  ASSERT_EQ(quiet->connect(0), 0);
  EXPECT_EQ(quiet->performVerification(0x81, 0, 6, 6, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(tones().empty());
}

TEST_F(PcscReader, PadWithoutKeyPollingGoesFromStartToFinish) {
  insert(kNoPolling, "asign");
  auto r = reader(kNoPolling);
  ASSERT_EQ(r->connect(0), 0);
  bed_->reader(kNoPolling).setKeypad("123456 OK");
  int status = 0;
  const int result = r->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, &status);
  EXPECT_EQ(tones(), std::vector<DWORD>{400});
  auto records = bed_->reader(kNoPolling).controlRecords();
  ASSERT_GE(records.size(), 2u);
  // Start, then finish at once: no key is polled.
  EXPECT_EQ(records[records.size() - 2].code, 0x42330001u);
  EXPECT_EQ(records.back().code, 0x42330002u);
  const std::string answer(records.back().output.begin(), records.back().output.end());
  EXPECT_EQ(result, answer == unhex("9000") ? 0 : answer == unhex("6400") ? code(0x8010000A) : -1) << hex(answer);

  bed_->reader(kNoPolling).setKeypad("123456 OK 246810 OK 246810 OK");
  r->modifyVerification(0x81, 2, 0);
  EXPECT_TRUE(tones().empty());
  records = bed_->reader(kNoPolling).controlRecords();
  EXPECT_EQ(records[records.size() - 2].code, 0x42330003u);
  EXPECT_EQ(records.back().code, 0x42330004u);
}

TEST_F(PcscReader, ModifyOnDirectAndPollingPads) {
  struct Row {
    size_t reader;
    const char* keys;
    const char* forced;
    int result;
  } rows[] = {
      {kDirect, "123456 OK 246810 OK 246811 OK", nullptr, code(0x80020100)},
      {kDirect, "123456 OK 246810 OK 246810 OK", nullptr, 0},
      {kDirect, "246810 OK 1 OK", nullptr, code(0x8010000A)},  // the user stops typing
      {kDirect, "111111 OK 222222 OK 222222 OK", nullptr, code(0x80020002)},
      {kDirect, "246810 OK 135790 OK 135790 OK", "6983", code(0x80020300)},
      {kDirect, "246810 OK 135790 OK 135790 OK", "9000AA", code(0x80000006)},
      {kPolling, "1 2 3 4 5 6 OK 1 3 5 7 9 0 OK 1 3 5 7 9 0 OK", nullptr, 0},
      {kPolling, "1 2 CANCEL", nullptr, code(0x80000006)},
      {kPolling, "1 2 3 4 5 6 OK 1 TIMEOUT", nullptr, code(0x8010000A)},
  };
  insert(kDirect, "asign");
  insert(kPolling, "asign");
  auto direct = reader(kDirect);
  auto polling = reader(kPolling);
  ASSERT_EQ(direct->connect(0), 0);
  ASSERT_EQ(polling->connect(0), 0);
  for (auto& row : rows) {
    bed_->reader(row.reader).setKeypad(row.keys);
    if (row.forced) {
      auto bytes = unhex(row.forced);
      bed_->reader(row.reader).setPinPadAnswer(cardsim::Bytes(bytes.begin(), bytes.end()));
    }
    auto& r = row.reader == kDirect ? direct : polling;
    EXPECT_EQ(r->modifyVerification(0x81, 2, 0), row.result) << row.keys;
  }
  // Three entries on the polling pad: each one that ends sounds 400 Hz.
  bed_->reader(kPolling).setKeypad("1 3 5 7 9 0 OK 2 4 6 8 1 0 OK 2 4 6 8 1 0 OK");
  platform::clearBeeps();
  EXPECT_EQ(polling->modifyVerification(0x81, 2, 0), 0);
  std::vector<DWORD> expected;
  for (int entry = 0; entry < 3; ++entry) {
    expected.insert(expected.end(), 7, 200);
    expected.push_back(400);
  }
  EXPECT_EQ(tones(), expected);
  bed_->reader(kPolling).withCard([](cardsim::Card& c) { EXPECT_EQ(c.pinValue(0x81), "246810"); });
}
