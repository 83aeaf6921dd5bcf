// The card channel's encoding and answer split, and the card base class's own
// operations, against scripted answers: exact bytes, and what is never sent.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "VariantSupport.h"
#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardvariant/CSCard_DTrust.h"
#include "foundation/base/CException.h"

namespace {

using cardvariant::CAPDU;
using cardvariant::CCommandAPDU;
using cardvariant::CFID;
using cardvariant::CSCard;
using cardvariant::CSCard_DTrust;
using varianttest::bytes;
using varianttest::hex;
using varianttest::ScriptChannel;

std::string filled(size_t n, char c = '\x5A') { return std::string(n, c); }

TEST(Channel, EncodesEachCommandAsTheCardExpectsIt) {
  struct Row {
    int cla, ins, p1, p2;
    std::string data;
    bool hasData;
    int le;
    std::string expected;  // hex of what goes out; empty: refused unsent
  };
  const std::string block = filled(256);
  const std::vector<Row> rows = {
      // The decipher block: the fixed extended header in place of Lc.
      {0x00, 0x2A, 0x80, 0x86, block, true, 0, "002A8086000101000001" + hex(block) + "00"},
      {0x00, 0x2A, 0x80, 0x86, "", false, 0, "002A808600"},
      {0x00, 0x2A, 0x80, 0x86, "", false, -1, "002A8086"},
      {0x80, 0x2A, 0x80, 0x86, "\x01\x02\x03", true, -1, "802A8086000101000001010203"},
      {0x00, 0xA4, 0x00, 0x0C, bytes("3F00"), true, -1, "00A4000C023F00"},
      {0x00, 0xB0, 0x01, 0x00, "", false, 0x2C, "00B001002C"},
      // Other data over 255 bytes have no one-byte length: refused.
      {0x00, 0xD6, 0x00, 0x00, block, true, -1, ""},
      {0x00, 0x2A, 0x9E, 0x9A, filled(256), true, 0, ""},
  };
  for (const Row& row : rows) {
    ScriptChannel channel;
    channel.answer("9000");
    // Built through the record's accessors: each setter gives back what the field held.
    CCommandAPDU command(0x11, 0x22, 0x33, 0x44, 0x55);
    EXPECT_EQ(command.setCLA(row.cla), 0x11);
    EXPECT_EQ(command.setINS(row.ins), 0x22);
    EXPECT_EQ(command.setP1(row.p1), 0x33);
    EXPECT_EQ(command.setP2(row.p2), 0x44);
    EXPECT_EQ(command.setLe(row.le), 0x55);
    EXPECT_EQ(command.hasData(), 0);
    if (row.hasData) command.setData(row.data);
    EXPECT_EQ(std::vector<int>({command.getCLA(), command.getINS(), command.getP1(), command.getP2(), command.getLe(),
                                command.hasData()}),
              std::vector<int>({row.cla, row.ins, row.p1, row.p2, row.le, row.hasData ? 1 : 0}));
    CAPDU apdu(command);
    const int result = channel.perform(apdu);
    if (row.expected.empty()) {
      EXPECT_EQ(result, static_cast<int>(0x80000001u));
      EXPECT_TRUE(channel.sent.empty());
    } else {
      EXPECT_EQ(result, 0);
      ASSERT_EQ(channel.sent.size(), 1u);
      EXPECT_EQ(channel.sent[0], row.expected);
    }
  }
}

TEST(Channel, SplitsAnswersAndTurnsShortOnesIntoTransportFailures) {
  struct Row {
    std::string answer;
    int result;
    int sw;
    std::string data;
  };
  const std::vector<Row> rows = {
      {"9000", 0, 0x9000, ""},
      {"01026A82", 0, 0x6A82, "0102"},
      {"90", static_cast<int>(0x80010100u), -1, ""},
      {"", static_cast<int>(0x80010100u), -1, ""},
      {"!-1", static_cast<int>(0x8001FFFFu), -1, ""},
      {"!-10", static_cast<int>(0x8001FFF6u), -1, ""},
  };
  for (const Row& row : rows) {
    ScriptChannel channel;
    channel.answer(row.answer);
    CAPDU apdu(CCommandAPDU(0x00, 0xB0, 0x00, 0x00));
    EXPECT_EQ(channel.perform(apdu), row.result) << row.answer;
    EXPECT_EQ(apdu.getResponse().SW, row.sw) << row.answer;
    EXPECT_EQ(hex(apdu.getResponse().data), row.data) << row.answer;
    // The response part passes to another record whole.
    CAPDU other(CCommandAPDU(0x00, 0xB0, 0x00, 0x00));
    other.setResponse(apdu.getResponse());
    EXPECT_EQ(other.getResponse().SW, row.sw) << row.answer;
    EXPECT_EQ(hex(other.getResponse().data), row.data) << row.answer;
  }
}

TEST(Channel, UnsetHeaderBytesRaiseAndSendNothing) {
  const std::vector<std::pair<CCommandAPDU, std::string>> rows = {
      {CCommandAPDU(-1, 0xA4, 0, 0), "Klasse nicht initialisiert.\n"},
      {CCommandAPDU(0, -1, 0, 0), "Instruction nicht initialisiert.\n"},
      {CCommandAPDU(0, 0xA4, -1, 0), "P1 nicht initialisiert.\n"},
      {CCommandAPDU(0, 0xA4, 0, -1), "P2 nicht initialisiert.\n"},
  };
  for (const auto& [command, message] : rows) {
    ScriptChannel channel;
    CAPDU apdu(command);
    try {
      channel.perform(apdu);
      ADD_FAILURE() << message;
    } catch (const VOQ::CNoSuchObjectException& e) {
      EXPECT_EQ(e.getMessage(), message);
      EXPECT_EQ(e.getWhere(), "CICC_base::perform");
    }
    EXPECT_TRUE(channel.sent.empty());
  }
}

// A card of the library over a script: the base class's operations as a card type inherits them.
struct ScriptedCard : ::testing::Test {
  ScriptChannel channel;
  CSCard_DTrust card{&channel, nullptr, bytes("3B8C8001"), 2};
};

TEST_F(ScriptedCard, SelectByPathPutDataChallengeAndSerial) {
  channel.answer("9000");
  EXPECT_EQ(card.changeDirectoryPath(bytes("3F005015")), 0);
  EXPECT_EQ(channel.sent.back(), "00A40900043F005015");

  channel.answer("9000");
  EXPECT_EQ(card.write(bytes("010203"), 0x5F50), 3);
  EXPECT_EQ(channel.sent.back(), "00DA5F5003010203");
  const size_t sent = channel.sent.size();
  EXPECT_EQ(card.write(std::string(), 0x5F50), static_cast<int>(0x80000002u));
  EXPECT_EQ(card.write(bytes("01"), 0x10000), static_cast<int>(0x80000001u));
  EXPECT_EQ(card.write(bytes("01"), -1), static_cast<int>(0x80000001u));
  EXPECT_EQ(channel.sent.size(), sent);

  std::string out = "stale";
  channel.answer("6D00");
  EXPECT_EQ(card.getChallenge(out), static_cast<int>(0x80016D00u));
  EXPECT_EQ(channel.sent.back(), "0084000000");
  EXPECT_TRUE(out.empty());
  channel.answer("!-10");
  out = "kept";
  EXPECT_EQ(card.getChallenge(out), static_cast<int>(0x8003FFF6u));
  EXPECT_EQ(out, "kept");

  channel.answer("0102030405069000");
  EXPECT_EQ(card.getSerial(out), 0);
  EXPECT_EQ(channel.sent.back(), "80F6000000");
  EXPECT_EQ(hex(out), "010203040506");
}

// Opens a transparent file of the given size: handle 0.
void openFile(ScriptedCard& t, int size) {
  char fci[32];
  std::snprintf(fci, sizeof fci, "6F0780020%03X8201019000", size);
  t.channel.answer(fci);
  ASSERT_EQ(t.card.open(CFID(bytes("C000"))), 0);
}

TEST_F(ScriptedCard, ReadsInChunksOf128) {
  openFile(*this, 0x12C);
  channel.answer("9000");
  channel.answer(hex(filled(128)) + "9000");
  channel.answer(hex(filled(128)) + "9000");
  channel.answer(hex(filled(44)) + "9000");
  std::string out;
  EXPECT_EQ(card.read(0, out, 300), 300);
  EXPECT_EQ(out.size(), 300u);
  const std::vector<std::string> expected = {"00A4000002C00000", "00A4000C02C000", "00B0000080", "00B0008080",
                                             "00B001002C"};
  EXPECT_EQ(channel.sent, expected);
  EXPECT_EQ(card.getFileInfo(0)->getPosition(), 300);
}

TEST_F(ScriptedCard, EndOfFileBy6282AndBy6B00) {
  openFile(*this, 0x100);
  // 6282 with ten bytes: the bytes so far, then the end-of-file flag until seek.
  channel.answer("9000");
  channel.answer(hex(filled(128)) + "9000");
  channel.answer(hex(filled(10)) + "6282");
  std::string out;
  EXPECT_EQ(card.read(0, out, 200), 138);
  const size_t sent = channel.sent.size();
  EXPECT_EQ(card.read(0, out, 10), static_cast<int>(0x80040001u));
  EXPECT_EQ(channel.sent.size(), sent);
  EXPECT_EQ(card.seek(0, 0), 0);

  // 6B00 is an error, on the first chunk as after bytes were read (they stay in the
  // output); it sets no end of file. The card types ask for no more than the file's size.
  channel.answer("9000");
  channel.answer("6B00");
  EXPECT_EQ(card.read(0, out, 10), static_cast<int>(0x80016B00u));
  channel.answer("9000");
  channel.answer(hex(filled(128)) + "9000");
  channel.answer("6B00");
  EXPECT_EQ(card.read(0, out, 512), static_cast<int>(0x80016B00u));
  EXPECT_EQ(out.size(), 128u);
  // The failed reads left the file where it was.
  EXPECT_EQ(card.getFileInfo(0)->getPosition(), 0);
  channel.answer("9000");
  channel.answer(hex(filled(10)) + "9000");
  EXPECT_EQ(card.read(0, out, 10), 10);
  EXPECT_EQ(channel.sent.back(), "00B000000A");
  EXPECT_EQ(card.getFileInfo(0)->getPosition(), 10);
}

TEST_F(ScriptedCard, AWriteThatFailsPartWayLeavesTheFileWhereItWas) {
  openFile(*this, 0x100);
  channel.answer("9000");
  channel.answer("9000");
  channel.answer("6A82");
  EXPECT_EQ(card.write(0, std::string(200, 'x')), static_cast<int>(0x80016A82u));
  EXPECT_EQ(card.getFileInfo(0)->getPosition(), 0);
  channel.answer("9000");
  channel.answer("9000");
  EXPECT_EQ(card.write(0, std::string(3, 'y')), 3);
  EXPECT_EQ(channel.sent.back(), "00D6000003797979");
  EXPECT_EQ(card.getFileInfo(0)->getPosition(), 3);
}

TEST_F(ScriptedCard, OffsetsAbove7FFFAreRefusedUnsent) {
  openFile(*this, 0x100);
  ASSERT_EQ(card.seek(0, 0x7F80), 0);
  channel.answer("9000");
  channel.answer(hex(filled(128)) + "9000");
  std::string out;
  EXPECT_EQ(card.read(0, out, 256), static_cast<int>(0x80000001u));
  EXPECT_EQ(channel.sent.back(), "00B07F8080");
  ASSERT_EQ(card.seek(0, 0x8000), 0);
  channel.answer("9000");
  EXPECT_EQ(card.read(0, out, 1), static_cast<int>(0x80000001u));
  EXPECT_EQ(channel.sent.back(), "00A4000C02C000");
  ASSERT_EQ(card.seek(0, 0x10000), 0);
  channel.answer("9000");
  EXPECT_EQ(card.read(0, out, 1), static_cast<int>(0x80000001u));
}

TEST_F(ScriptedCard, ControlInformationTable) {
  struct Row {
    std::string answer;
    bool fcp;
    int size, type;
  };
  const std::vector<Row> rows = {
      {"620B80020100820101830 23F01", true, 0x100, 1},
      {"62810B80020100820101830 23F01", true, 0, 0},  // walked from the length byte
      {"620A820104800200408302 3F01", true, 0x40, 4},
      {"6206800201", true, 0, 0},                     // size element cut short
      {"62048002", true, 0, 0},
      {"6203820111", true, 0, 1},                     // FCP: low nibble of the descriptor
      {"6F03820111", false, 0, 0x11},                 // FCI: the whole byte
      {"6F0B80020100820101830 23F01", true, 0, 0},    // not an FCP
      {"62", true, 0, 0},
      {"", true, 0, 0},
      {"620B80020100" + std::string(600, '0'), true, 0, 0},  // over 256 bytes
  };
  for (const Row& row : rows) {
    std::string text = row.answer;
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    std::unique_ptr<cardvariant::CFileInfo> info(row.fcp ? card.parseFCP(bytes(text), CFID(bytes("0001")))
                                                         : card.parseFCI(bytes(text), CFID(bytes("0001"))));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->getSize(), row.size) << row.answer;
    EXPECT_EQ(info->getTyp(), row.type) << row.answer;
  }
}

TEST_F(ScriptedCard, FinalWithoutBeginningOrTwiceSendsNothing) {
  std::string out;
  const std::string pin = "123456";
  EXPECT_EQ(card.signFinal(0x81, &pin, out, 0), static_cast<int>(0x80000001u));
  EXPECT_TRUE(channel.sent.empty());
  ASSERT_EQ(card.signInit(0x81, std::string(), 2), 0);
  card.signUpdate("data");
  channel.answer("9000");
  channel.answer(hex(filled(256)) + "9000");
  EXPECT_EQ(card.signFinal(0x81, &pin, out, 0), 0);
  const size_t sent = channel.sent.size();
  EXPECT_EQ(card.signFinal(0x81, &pin, out, 0), static_cast<int>(0x80000001u));
  EXPECT_EQ(card.signFinal(0x81, out, 1), static_cast<int>(0x80000001u));
  EXPECT_EQ(channel.sent.size(), sent);
}

TEST_F(ScriptedCard, AnswersWithoutStatusWordAreChannelFailures) {
  for (const std::string answer : {"", "90"}) {
    channel.answer(answer);
    EXPECT_EQ(card.changeDirectory(CFID(bytes("DF71"))), static_cast<int>(0x80030100u)) << answer;
    channel.answer(answer);
    EXPECT_EQ(card.verifyPIN(0x81, "1234", 0), static_cast<int>(0x80030100u)) << answer;
  }
}

TEST_F(ScriptedCard, DecryptFramesItsOwnLength) {
  std::string out;
  channel.answer("AABB9000");
  EXPECT_EQ(card.decrypt(bytes("0102"), out), 0);
  EXPECT_EQ(channel.sent.back(), "002A8086030001020" "0");
  EXPECT_EQ(hex(out), "AABB");
  const std::string cryptogram = filled(256);
  channel.answer("6A80");
  EXPECT_EQ(card.decrypt(cryptogram, out), static_cast<int>(0x80016A80u));
  EXPECT_EQ(channel.sent.back(), "002A808600010100" + hex(cryptogram) + "0000");
  channel.answer("90");
  EXPECT_EQ(card.decrypt(cryptogram, out), static_cast<int>(0x80030100u));
}

TEST_F(ScriptedCard, TheCardLockIsTheHoldersAlone) {
  EXPECT_EQ(card.lock(), 0);
  EXPECT_EQ(card.lock(), 0);  // again on the same thread
  // Another thread's unlock leaves the lock with its holder.
  std::thread([&] { card.unlock(); }).join();
  EXPECT_EQ(card.unlock(), 0);
  EXPECT_EQ(card.unlock(), 0);
  std::thread([&] {
    card.lock();
    card.unlock();
  }).join();
}

TEST(Reader, ItsLockIsReentrantAndTheHoldersAlone) {
  const std::string trace = varianttest::enableTrace();
  cardvariant::CReader_CTAPI reader("", 1, "", 0, 0);
  EXPECT_EQ(reader.getName(), nullptr);
  EXPECT_EQ(reader.shallUseGUI(), 0);
  EXPECT_EQ(reader.lock(), 0);
  EXPECT_EQ(reader.lock(), 0);
  std::thread([&] { reader.unlock(); }).join();  // not the holder: no effect
  EXPECT_EQ(reader.unlock(), 0);
  EXPECT_EQ(reader.unlock(), 0);
  std::thread([&] {
    reader.lock();
    reader.unlock();
  }).join();
  // The name and the switch are read with their own lines.
  cardvariant::logMessage("", 0, cardvariant::CLogable::kFlush);
  const std::string text = varianttest::readFile(trace);
  for (const char* line : {"getName\\(\\) at 0x[0-9A-F]{16}: started\\.\n", "getName\\(\\) at 0x[0-9A-F]{16}: stopped\\.\n",
                           "shallUseGUI\\(\\) at 0x[0-9A-F]{16}: returned: 0x0\\.\n",
                           "lock\\(\\) at 0x[0-9A-F]{16}: started\\.\n"})
    EXPECT_TRUE(std::regex_search(text, std::regex(std::string("class CReader_CTAPI::") + line))) << line << "\n" << text;
}

TEST(KeyFile, ParsesEntriesAndRefusesMalformedOnes) {
  ScriptChannel channel;
  CSCard_DTrust card(&channel, nullptr, bytes("3B"), 1);
  struct Row {
    std::string content;
    int key;
    int result;
    std::string modulus, exponent;
  };
  const std::string entry = "02000A" "00000000000000" "00" "100213010000" "0102" "03" "0000";
  const std::vector<Row> rows = {
      {"01" + entry, 2, 0, "0201", "03"},
      {"01" + entry, 5, 0, "", ""},                             // no such key
      {"", 2, 1, "", ""},                                       // empty
      {"FF" + entry, 2, 1, "", ""},                             // negative count
      {"01" + entry.substr(0, 20), 2, 1, "", ""},               // headers past the end
      {"01" + entry.substr(0, 36), 2, 1, "", ""},               // values past the end
      {"02" + entry, 7, 1, "", ""},                             // a second entry that is not there
      {"02" "0300FF" + entry.substr(6) + entry, 2, 1, "", ""},  // L + 12 beyond the content
      {"02" "0300" "0A" + entry.substr(6) + entry, 2, 0, "0201", "03"},  // skips a first entry
      // A last entry cut short that is not the one asked for: no such key.
      {"01" + entry.substr(0, 20), 5, 0, "", ""},
      {"01" + entry.substr(0, 36), 5, 0, "", ""},
      {"02" + entry + "05", 7, 0, "", ""},
      {"02" + entry + "05", 5, 1, "", ""},  // the one asked for, cut short
  };
  for (const Row& row : rows) {
    std::string modulus, exponent;
    EXPECT_EQ(card.parsePublicKey(bytes(row.content), modulus, exponent, row.key), row.result) << row.content;
    EXPECT_EQ(hex(modulus), row.modulus) << row.content;
    EXPECT_EQ(hex(exponent), row.exponent) << row.content;
  }
}

}  // namespace
