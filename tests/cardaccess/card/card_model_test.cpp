// The card file model and the card base class: file control information from
// untrusted answers, file handles, chunked reads and writes, offsets, PIN change
// padding, on-card hashing, the abort flag and the host-side hash.
#include "CardTestSupport.h"
#include "TestTrace.h"

#include "cardaccess/card/CSCard.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/CException.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using cardtest::bytes;
using cardtest::hex;

namespace {

constexpr int kNotSupported = static_cast<int>(0x80000001u);
constexpr int kAborted = static_cast<int>(0x80000006u);
constexpr int kEOF = static_cast<int>(0x80040001u);
constexpr int kWrongType = static_cast<int>(0x80040002u);

// The base class alone, as a card type that adds nothing.
class BaseCard : public CSCard {
 public:
  BaseCard(CICC_base* channel, const std::string& atr = bytes("3B0102")) : CSCard(channel, nullptr, atr, 2) {}
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int verifyPIN(int, const std::string&, int) override { return 0; }
  int emptyOperation(int, int, int) override { return 0; }
  using CSCard::finishDigest;
};

TEST(CardFileModel, ControlInformationTable) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  const CFID fid(bytes("C000"));
  struct Row {
    bool fcp;
    std::string answer;
    int type, size;
  };
  const Row rows[] = {
      {false, "6F07 800201 00 820101", 1, 256},
      {false, "6F0A 81020010 80020020 820101", 1, 32},  // the later size object wins
      {true, "6208 820141 80020040", 1, 64},
      {false, "6F08 820141 80020040", 0x41, 64},      // an FCI keeps the whole descriptor
      {true, "6281 08 820105 80020100", 5, 256},      // two-byte length form: the walk starts at 3
      {false, "6208 820101 80020040", 0, 0},          // wrong first byte
      {true, "6F08 820101 80020040", 0, 0},
      {false, "", 0, 0},
      {false, "6F03 8002", 0, 0},                      // truncated TLVs never read past the answer
      {true, "6204 8205 01", 0, 0},
      {false, "6F02 8200", 0, 0},                      // too short for what is taken from it
      {false, "6F04 8001 12 820101", 1, 0},
      {true, "6206 820101 8002", 1, 0},
      {false, "6F06 820101 800200", 1, 0},
  };
  for (const Row& row : rows) {
    std::unique_ptr<CFileInfo> info(row.fcp ? card.parseFCP(bytes(row.answer), fid)
                                            : card.parseFCI(bytes(row.answer), fid));
    ASSERT_TRUE(info) << row.answer;
    EXPECT_EQ(info->getTyp(), row.type) << row.answer;
    EXPECT_EQ(info->getSize(), row.size) << row.answer;
    EXPECT_EQ(info->getFID().bytes(), fid.bytes());
  }
  // Over 256 bytes: nothing is taken from it.
  std::string big = bytes("6F07 800201 00 820101") + std::string(250, '\0');
  std::unique_ptr<CFileInfo> info(card.parseFCI(big, fid));
  EXPECT_EQ(info->getTyp(), 0);
  EXPECT_EQ(info->getSize(), 0);
  std::unique_ptr<CFileInfo> fcp(card.parseFCP(bytes("6F00"), fid));
  const std::string trace = cardaccesstest::traceText();
  EXPECT_NE(trace.find("::CSCard::parseFCI() at 0x"), std::string::npos);
  EXPECT_NE(trace.find("FCI zu gross."), std::string::npos);
  EXPECT_NE(trace.find("kein korrekt codierter FCI."), std::string::npos);
  EXPECT_NE(trace.find("kein korrekt codierter FCP."), std::string::npos);
}

TEST(CardFileModel, IdentifiersAndPositions) {
  EXPECT_EQ(CFID(bytes("3F00")).toHex(), "3f00");
  const unsigned char raw[] = {0xD0, 0x01, 0x55};
  EXPECT_EQ(CFID(raw).bytes(), bytes("D001"));
  try {
    CFID bad(bytes("3F0001"));
    FAIL() << "three bytes accepted";
  } catch (const VOQ::CBadArgumentException& e) {
    EXPECT_EQ(e.getMessage(), "Es wurde kein gültiger FID übergeben.\n");
  }
  try {
    CFID bad(static_cast<const unsigned char*>(nullptr));
    FAIL() << "NULL accepted";
  } catch (const VOQ::CBadArgumentException& e) {
    EXPECT_EQ(e.getMessage(), "Invalid Parameter.\n");
  }
  EXPECT_THROW((void)CFID(std::string()), VOQ::CBadArgumentException);
  EXPECT_EQ(CAID(bytes("A000000118454300")).bytes(), bytes("A000000118454300"));

  CFileInfo info(CFID(bytes("C000")), 1, 10, 0);
  EXPECT_EQ(info.setPosition(5), 0);
  EXPECT_EQ(info.setPosition(7), 5);
  EXPECT_EQ(info.setFlags(1), 0);
  EXPECT_EQ(info.getFlags(), 1);
}

// A transparent file of the test bed's D-Trust card, through the base's commands.
class BaseOnSimCard : public testing::Test {
 protected:
  BaseOnSimCard() : channel_(cardtest::profile("dtrust")), card_(&channel_) {}
  void SetUp() override {
    ASSERT_EQ(card_.changeDirectory(CFID(bytes("5015"))), 0);
    channel_.clear();
  }
  cardtest::SimChannel channel_;
  BaseCard card_;
};

TEST_F(BaseOnSimCard, OpenTwiceSelectsOnceAndReadsInChunksOf128) {
  const int handle = card_.open(CFID(bytes("C000")));
  ASSERT_EQ(handle, 0);
  EXPECT_EQ(card_.open(CFID(bytes("C000"))), 0);
  EXPECT_EQ(card_.open(CFID(bytes("C100"))), 1);
  EXPECT_EQ(channel_.commands(), (std::vector<std::string>{"00A4000002C00000", "00A4000002C10000"}));
  channel_.clear();
  std::string out;
  EXPECT_EQ(card_.read(handle, out, 300), 300);
  EXPECT_EQ(out.size(), 300u);
  EXPECT_EQ(channel_.commands(),
            (std::vector<std::string>{"00A4000C02C000", "00B0000080", "00B0008080", "00B001002C"}));
  EXPECT_EQ(card_.getFileInfo(handle)->getPosition(), 300);
  // The rest of the file, then 6B00 or 6282 ends it: the end flag holds until seek.
  std::string rest;
  EXPECT_GT(card_.read(handle, rest, 5000), 0);
  EXPECT_EQ(card_.read(handle, rest, 10), kEOF);
  EXPECT_EQ(card_.seek(handle, 0), 0);
  EXPECT_EQ(card_.read(handle, rest, 10), 10);
  EXPECT_EQ(rest, out.substr(0, 10));
  EXPECT_EQ(card_.close(handle), 0);
  EXPECT_EQ(card_.close(handle), kNotSupported);
  EXPECT_EQ(card_.read(handle, rest, 10), kNotSupported);
}

TEST_F(BaseOnSimCard, AbortBeforeAndDuringARead) {
  const int handle = card_.open(CFID(bytes("C000")));
  int reads = 0;
  // Another thread sets the flag while the second chunk is on its way.
  channel_.beforeEach = [&](const std::string& command) {
    if (command.compare(0, 2, bytes("00B0")) == 0 && ++reads == 2) std::thread([&] { card_.abort(); }).join();
  };
  channel_.clear();
  std::string out;
  EXPECT_EQ(card_.read(handle, out, 600), kAborted);
  EXPECT_EQ(reads, 2);
  channel_.clear();
  EXPECT_EQ(card_.read(handle, out, 10), kAborted);
  EXPECT_EQ(channel_.commands(), std::vector<std::string>{"00A4000C02C000"});  // no READ BINARY
}

TEST(CardBase, EndOfFileWrongOffsetAndFileTypes) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  channel.answer("6F07 80020100 820101 9000");
  const int handle = card.open(CFID(bytes("C000")));
  ASSERT_EQ(handle, 0);
  std::string out;
  channel.answer("9000");
  channel.answer("AABBCC 6282");  // the file ends early
  EXPECT_EQ(card.read(handle, out, 200), 3);
  EXPECT_EQ(hex(out), "AABBCC");
  EXPECT_EQ(card.read(handle, out, 200), kEOF);
  EXPECT_EQ(card.seek(handle, 0x80), 0);
  channel.answer("9000");
  channel.answer("6B00");  // offset beyond the end
  EXPECT_EQ(card.read(handle, out, 10), 0);
  EXPECT_EQ(card.read(handle, out, 10), kEOF);
  channel.answer("9000");
  channel.answer("6A82");
  card.seek(handle, 0);
  EXPECT_EQ(card.read(handle, out, 10), static_cast<int>(0x80016A82u));

  channel.answer("6F03 820102 9000");  // linear fixed
  const int fixed = card.open(CFID(bytes("C001")));
  EXPECT_EQ(card.seek(fixed, 1), kWrongType);
  channel.answer("9000");
  EXPECT_EQ(card.read(fixed, out, 1), kWrongType);
  channel.answer("6F03 820103 9000");  // a type nobody knows
  const int odd = card.open(CFID(bytes("C002")));
  try {
    card.seek(odd, 1);
    FAIL() << "type 3 accepted";
  } catch (const VOQ::CException& e) {
    EXPECT_EQ(e.getMessage(), "Ungültiger Datei-Typ.\n");
  }
  channel.answer("6F03 820104 9000");  // records: P2 is the caller's count
  const int records = card.open(CFID(bytes("C003")));
  channel.answer("9000");
  channel.answer("0102 9000");
  EXPECT_EQ(card.read(records, out, 0x104), 2);
  EXPECT_EQ(channel.sent.back(), "00B2000400");
  EXPECT_EQ(card.getFileInfo(records)->getPosition(), 1);
  channel.answer("6A82");
  EXPECT_EQ(card.open(CFID(bytes("C004"))), static_cast<int>(0x80016A82u));
  channel.answer("!80100069");  // the card left during the command
  EXPECT_EQ(card.changeDirectory(CFID(bytes("3F00"))), static_cast<int>(0x80030069u));
}

TEST(CardBase, OffsetsStayBelow8000AndWritesGoIn128ByteChunks) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  channel.answer("6F07 80027FFF 820101 9000");
  const int handle = card.open(CFID(bytes("C000")));
  std::string out;
  // From 7FC0, the second chunk would start at 8040: P1 80 would name a short file identifier.
  card.seek(handle, 0x7FC0);
  channel.answer("9000");
  channel.answer(hex(std::string(128, 'x')) + "9000");
  channel.sent.clear();
  EXPECT_EQ(card.read(handle, out, 200), kNotSupported);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"00A4000C02C000", "00B07FC080"}));
  card.seek(handle, 0x8000);
  channel.answer("9000");
  channel.sent.clear();
  EXPECT_EQ(card.read(handle, out, 1), kNotSupported);
  channel.answer("9000");
  EXPECT_EQ(card.write(handle, "x"), kNotSupported);
  EXPECT_EQ(channel.sent, (std::vector<std::string>{"00A4000C02C000", "00A4000C02C000"}));

  card.seek(handle, 0);
  for (int i = 0; i < 4; ++i) channel.answer("9000");
  channel.sent.clear();
  const std::string data(300, '\x5A');
  EXPECT_EQ(card.write(handle, data), 300);
  ASSERT_EQ(channel.sent.size(), 4u);
  EXPECT_EQ(channel.sent[1].substr(0, 10), "00D6000080");
  EXPECT_EQ(channel.sent[2].substr(0, 10), "00D6008080");
  EXPECT_EQ(channel.sent[3], "00D601002C" + hex(std::string(44, '\x5A')));
  EXPECT_EQ(card.getFileInfo(handle)->getPosition(), 300);
}

TEST(CardBase, ChangeReferenceDataPadsEachPinTo8) {
  struct Row {
    std::string oldPin, newPin;
    int pad;
    std::string expect;
  } rows[] = {
      {"1234", "5678", 0xFF, "0024000310 31323334FFFFFFFF 35363738FFFFFFFF"},
      {"123456789", "5678", 0x00, "0024000311 313233343536373839 3536373800000000"},
      {"", "12345678", 0x00, "0024000310 0000000000000000 3132333435363738"},
  };
  for (const Row& row : rows) {
    cardtest::ScriptChannel channel;
    BaseCard card(&channel);
    channel.answer("63C2");
    EXPECT_EQ(card.changeReferenceData(3, row.oldPin, row.newPin, row.pad), static_cast<int>(0x80020002u));
    EXPECT_EQ(channel.sent.at(0), hex(bytes(row.expect)));
  }
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  channel.answer("6983");
  EXPECT_EQ(card.changeReferenceData(3, "1", "2", 0), static_cast<int>(0x80020300u));
  EXPECT_EQ(card.changeReferenceData(3, std::string(250, '1'), "2", 0), kNotSupported);  // Lc would wrap
  EXPECT_EQ(channel.sent.size(), 1u);
}

TEST(CardBase, OnCardHashingKeepsTheRestForTheNextBlock) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  channel.answer("9000");
  channel.answer("9000");
  std::string data;
  for (int i = 0; i < 128; ++i) data += static_cast<char>(i);
  EXPECT_EQ(card.hashOnCard(data.substr(0, 100)), 0);
  EXPECT_EQ(card.hashOnCard(data.substr(100)), 0);
  ASSERT_EQ(channel.sent.size(), 2u);
  EXPECT_EQ(channel.sent[0], "102A90A042" "8040" + hex(data.substr(0, 64)));
  EXPECT_EQ(channel.sent[1], "102A90A042" "8040" + hex(data.substr(64, 64)));
  EXPECT_EQ(card.hashOnCard(""), 0);
  card.abort();
  EXPECT_EQ(card.hashOnCard(std::string(64, 'a')), kAborted);
}

TEST(CardBase, HostHashNeedsARunningDigest) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  std::string hash;
  EXPECT_EQ(card.signUpdate("data"), kNotSupported);  // before any start: no crash, an error
  EXPECT_EQ(card.finishDigest(hash), kNotSupported);
  EXPECT_EQ(card.setHashAlgorithm(3), 1);
  EXPECT_EQ(card.signUpdate("abc"), 0);
  EXPECT_EQ(card.finishDigest(hash), 0);
  EXPECT_EQ(hash, cardtest::digest(3, "abc"));
  EXPECT_EQ(card.signUpdate("more"), kNotSupported);  // the final step consumed the digest
  EXPECT_EQ(card.finishDigest(hash), kNotSupported);
  EXPECT_TRUE(channel.sent.empty());
}

TEST(CardBase, AtrCopiesRespectTheCallersCapacity) {
  cardtest::ScriptChannel channel;
  const std::string atr = bytes("3B8E800151415350206153696700");
  BaseCard card(&channel, atr);
  unsigned char buffer[40];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  int length = -1;
  EXPECT_EQ(card.getATR(buffer, 10, &length), kNotSupported);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(card.getATR(buffer, static_cast<int>(sizeof buffer), &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length)), atr);
  // What a rogue CT-API terminal may hand over is no ATR.
  BaseCard rogue(&channel, std::string(298, '\x3B'));
  std::string big(300, '\0');
  EXPECT_EQ(rogue.getATR(reinterpret_cast<unsigned char*>(big.data()), 300, &length), kNotSupported);
  EXPECT_EQ(length, 0);
}

TEST(CardBase, RawCommandsSecurityOperationsAndUnsupportedSlots) {
  cardtest::ScriptChannel channel;
  BaseCard card(&channel);
  std::string response;
  channel.answer("0102 9000");
  EXPECT_EQ(card.directIO(bytes("00CA010000"), response), 0);
  EXPECT_EQ(hex(response), "01029000");
  channel.answer("!0010");
  EXPECT_EQ(card.directIO(bytes("00CA010000"), response), static_cast<int>(0x80030010u));
  channel.answer("00AABB 9000");
  EXPECT_EQ(card.encipher(bytes("1122"), response), 0);
  EXPECT_EQ(hex(response), "AABB");
  EXPECT_EQ(channel.sent.back(), "002A8680021122" "00");
  channel.answer("9000");
  EXPECT_EQ(card.putMSE(bytes("840102"), 0x41, 0xB6), 0);
  EXPECT_EQ(channel.sent.back(), "002241B603840102");
  channel.answer("6A80");
  EXPECT_EQ(card.PutHash(bytes("0102")), static_cast<int>(0x80016A80u));
  EXPECT_EQ(channel.sent.back(), "002A9081020102");
  const std::size_t sent = channel.sent.size();
  char cin[32];
  std::string a, b;
  EXPECT_EQ(card.signInit(1, "", 2), kNotSupported);
  EXPECT_EQ(card.signFinal(1, "", a, false), kNotSupported);
  EXPECT_EQ(card.getCIN(cin, sizeof cin), kNotSupported);
  EXPECT_EQ(card.getPublicKey(1, a, b), kNotSupported);
  EXPECT_EQ(card.finalOnCard(), kNotSupported);
  EXPECT_EQ(card.decryptFinal(1, a, b), kNotSupported);
  EXPECT_EQ(channel.sent.size(), sent);
}

}  // namespace
