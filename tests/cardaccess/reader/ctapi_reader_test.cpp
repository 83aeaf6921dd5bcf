// The CT-API reader with the test bed's CT-API driver, loaded through CdllFactory
// from its signed archive: connect, status, identification, PIN entry on the
// terminal's keypad, and the reader's life with its terminal and card channel.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardaccess/reader/CardResult.h"
#include "cardsim/profile.h"
#include "ctapi_support.h"
#include "reader_test_support.h"

using readertest::hex;
using readertest::unhex;

namespace {

int code(unsigned value) { return static_cast<int>(value); }

std::string atrOf(const std::string& profile) {
  auto atr = cardsim::CardProfile::load(cardsim::CardProfile::installedPath(profile)).atr;
  return std::string(atr.begin(), atr.end());
}

class CtapiReader : public testing::Test {
 protected:
  // Opens terminal ctn at the port and makes the reader that owns it.
  std::unique_ptr<CReader_CTAPI> open(unsigned short ctn, unsigned short port) {
    setCTAPIDll(readertest::CtapiBed::kDriverName);
    EXPECT_EQ(ctInitInThread(ctn, port), 0) << "port " << port;
    return std::make_unique<CReader_CTAPI>(readertest::CtapiBed::kDriverName, ctn, "Reader", 1, 1);
  }

  std::string lastCommand(unsigned short ctn) {
    auto commands = bed_.terminalCommands(ctn);
    return commands.empty() ? std::string() : commands.back();
  }

  readertest::CtapiBed bed_;
  readertest::FakeRecognition recognition_{{atrOf("asign"), atrOf("bank")}};
};

}  // namespace

TEST_F(CtapiReader, ConnectTable) {
  bed_.configure(
      "terminal 1\n  card asign\n  atr-status 9000\n"
      "terminal 2\n  card asign\n"
      "terminal 3\n  card asign\n  request-icc 6201\n"
      "terminal 4\n  card asign\n  request-icc 6401\n"
      "terminal 5\n  card asign\n  present no\n"
      "terminal 6\n  card dtrust\n");
  struct Row {
    unsigned short port;
    int result;
    std::vector<std::string> commands;
  } rows[] = {
      {1, 0, {"2012010100"}},
      {2, 0, {"2012010100"}},
      {3, 0, {"2012010100", "2011010100"}},  // card already active: reset for its ATR
      {4, code(0x80000006), {"2012010100"}},
      {5, code(0x80016200), {"2012010100"}},
      {6, code(0x80000008), {"2012010100"}},  // not recognised: no EJECT
  };
  for (auto& row : rows) {
    auto reader = open(row.port, row.port);
    EXPECT_EQ(reader->connect(0), row.result) << "port " << row.port;
    EXPECT_EQ(bed_.terminalCommands(row.port), row.commands) << "port " << row.port;
    if (row.result == 0) {
      EXPECT_NE(reader->getCard(), nullptr);
      EXPECT_EQ(reader->getATR(), atrOf("asign"));
      CICC* channel = reader->getCardChannel();
      ASSERT_NE(channel, nullptr);
      EXPECT_EQ(channel->getCtn(), row.port);
      EXPECT_EQ(channel->getSad(), 2);
      EXPECT_EQ(channel->getDad(), 0);
      EXPECT_EQ(recognition_.channels.back(), channel);
      // A card object already there: nothing is sent.
      EXPECT_EQ(reader->connect(0), 0);
      EXPECT_EQ(bed_.terminalCommands(row.port).size(), row.commands.size());
    } else {
      EXPECT_EQ(reader->getCard(), nullptr);
      EXPECT_EQ(reader->getCardChannel(), nullptr);
    }
  }
  EXPECT_EQ(recognition_.made, 3);
}

TEST_F(CtapiReader, CardCommandsTravelOnTheCardChannel) {
  bed_.configure("terminal 1\n  card asign\n");
  auto reader = open(1, 1);
  ASSERT_EQ(reader->connect(0), 0);
  CAPDU select(CCommandAPDU(0x00, 0xA4, 0x00, 0x0C));
  select.command.setData(unhex("DF01"));
  ASSERT_EQ(reader->getCardChannel()->perform(select), 0);
  EXPECT_EQ(select.response.SW, 0x9000);
  // The driver swaps the addresses of its answer; the next command still goes to the card.
  CAPDU verify(CCommandAPDU(0x00, 0x20, 0x00, 0x81));
  ASSERT_EQ(reader->getCardChannel()->perform(verify), 0);
  EXPECT_EQ(verify.response.SW, 0x63C3);
  EXPECT_EQ(bed_.count("CT_data ctn=1 dad=0 sad=2 cmd=00A4000C02DF01"), 1u);
  EXPECT_EQ(bed_.count("CT_data ctn=1 dad=0 sad=2 cmd=00200081"), 1u);
}

TEST_F(CtapiReader, StatusAndIdentification) {
  bed_.configure(
      "terminal 1\n  card asign\n  maker \"QUARVEL SIMCT 01\"\n"
      "terminal 2\n  card asign\n  status bare\n"
      "terminal 3\n  card asign\n  short-objects yes\n"
      "terminal 4\n  present no\n");
  auto one = open(1, 1);
  EXPECT_EQ(one->getStatus(1), 3);  // present, not yet active
  ASSERT_EQ(one->connect(0), 0);
  EXPECT_EQ(one->getStatus(1), 5);
  const size_t sent = bed_.terminalCommands(1).size();
  EXPECT_EQ(one->getStatus(0), code(0x80000001));
  EXPECT_EQ(one->getStatus(256), code(0x80000001));
  EXPECT_EQ(bed_.terminalCommands(1).size(), sent);
  std::string maker;
  EXPECT_EQ(one->getCT(maker), 0);
  EXPECT_EQ(maker, "QUARVEL SIMCT 01");
  EXPECT_EQ(lastCommand(1), "2013004600");

  auto bare = open(2, 2);
  ASSERT_EQ(bare->connect(0), 0);
  EXPECT_EQ(bare->getStatus(1), 5);  // 05 90 00
  EXPECT_EQ(lastCommand(2), "2013018000");

  // Objects whose length byte claims more than follows.
  auto cut = open(3, 3);
  EXPECT_EQ(cut->getStatus(1), 3);  // the value byte itself is there
  std::string text = "unchanged";
  EXPECT_EQ(cut->getCT(text), code(0x80000001));
  EXPECT_EQ(text, "unchanged");

  auto empty = open(4, 4);
  EXPECT_EQ(empty->getStatus(1), 0);
  EXPECT_EQ(empty->connect(0), code(0x80016200));
}

TEST_F(CtapiReader, ShortTerminalAnswers) {
  // The driver counts the calls from the terminal's first CT_data.
  bed_.configure(
      "terminal 1\n  card asign\n  fault \"call=1 lenr=1\"\n  fault \"call=2 lenr=0\"\n  fault \"call=3 lenr=over\"\n"
      "  fault \"call=4 result=-10\"\n");
  auto reader = open(1, 1);
  EXPECT_EQ(reader->getStatus(1), code(0x80030100));  // one byte: no status word
  std::string text;
  EXPECT_EQ(reader->getCT(text), code(0x80030100));
  EXPECT_EQ(reader->getStatus(1), code(0x8003FFF5));  // more than the buffer holds
  EXPECT_EQ(reader->getCT(text), code(0x8003FFF6));
  EXPECT_EQ(reader->getStatus(1), 3);
}

TEST_F(CtapiReader, PerformVerificationBytes) {
  bed_.configure("terminal 1\n  card asign\n");
  auto reader = open(1, 1);
  ASSERT_EQ(reader->connect(0), 0);
  const std::string caller13 = unhex("0020000208" "1122334455667788");
  const std::string caller14 = caller13 + unhex("99");
  const std::string prompt = "PIN?";
  struct Row {
    int format, fixed;
    unsigned char timeOut;
    const std::string* text;
    const std::string* apdu;
    std::string command;  // empty: refused, nothing sent
  } rows[] = {
      {0, 0, 0, nullptr, nullptr, "2018010011" "520F0106" "0020008108" "0000000000000000"},
      {0, 6, 0, nullptr, nullptr, "2018010011" "520F6106" "0020008108" "0000000000000000"},
      {2, 0, 0, nullptr, nullptr, "2018010011" "520F0206" "0020008108" "20FFFFFFFFFFFFFF"},
      {2, 6, 0, nullptr, nullptr, "2018010011" "520F6206" "0020008108" "20FFFFFFFFFFFFFF"},
      {1, 0, 0, nullptr, nullptr, "2018010000"},
      {1, 6, 30, &prompt, nullptr, "2018010000"},
      {2, 0, 30, nullptr, nullptr, "2018010014" "520F0206" "0020008108" "20FFFFFFFFFFFFFF" "80011E"},
      {2, 0, 0, &prompt, nullptr, "2018010017" "520F0206" "0020008108" "20FFFFFFFFFFFFFF" "5004" "50494E3F"},
      {0, 6, 30, &prompt, nullptr, "201801001A" "520F6106" "0020008108" "0000000000000000" "80011E" "5004" "50494E3F"},
      {2, 0, 0, nullptr, &caller13, "2018010011" "520F0206" "0020000208" "1122334455667788"},
      {2, 0, 0, nullptr, &caller14, ""},
  };
  for (auto& row : rows) {
    bed_.keypad(1, "CANCEL");
    const size_t before = bed_.terminalCommands(1).size();
    int status = 7;
    const int result = reader->performVerification(0x81, row.format, row.fixed, 6, row.timeOut, row.apdu, row.text,
                                                   &status);
    if (row.command.empty()) {
      EXPECT_EQ(result, code(0x80000006));
      EXPECT_EQ(bed_.terminalCommands(1).size(), before);
      continue;
    }
    EXPECT_EQ(lastCommand(1), row.command) << "format " << row.format << " fixed " << row.fixed;
  }
  // Secure entry switched off: nothing is sent, the status is left alone.
  reader->setSecure(0);
  const size_t before = bed_.terminalCommands(1).size();
  int status = 7;
  EXPECT_EQ(reader->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, &status), code(0x80000006));
  EXPECT_EQ(reader->modifyVerification(0x81, 2, 0), code(0x80000006));
  EXPECT_EQ(reader->activateVerification(0x81, 2, 0), code(0x80000006));
  EXPECT_EQ(status, 7);
  EXPECT_EQ(bed_.terminalCommands(1).size(), before);
}

TEST_F(CtapiReader, VerificationAnswers) {
  bed_.configure("terminal 1\n  card asign\n");
  auto reader = open(1, 1);
  ASSERT_EQ(reader->connect(0), 0);
  struct Row {
    const char* keys;
    int format;
    int result, status;
  } rows[] = {
      {"111111 OK", 2, code(0x80020002), code(0x800163C2)},
      {"111111 OK", 2, code(0x80020001), code(0x800163C1)},
      {"123456 OK", 2, 0, 0x9000},
      {"12 CANCEL", 2, code(0x80000006), code(0x80036401)},
      {"12", 2, code(0x80020200), code(0x80036400)},  // the user stops typing
      {"123456 OK", 1, code(0x80016A80), code(0x80016A80)},  // nothing for the terminal to do
      {"111111 OK", 2, code(0x80020002), code(0x800163C2)},
      {"111111 OK", 2, code(0x80020001), code(0x800163C1)},
      {"111111 OK", 2, code(0x80020300), code(0x80016983)},  // the last try blocks the PIN
  };
  for (auto& row : rows) {
    bed_.keypad(1, row.keys);
    int status = 7;
    EXPECT_EQ(reader->performVerification(0x81, row.format, 0, 6, 0, nullptr, nullptr, &status), row.result)
        << row.keys;
    EXPECT_EQ(status, row.status) << row.keys;
  }
}

TEST_F(CtapiReader, ModifyAndActivationBytesAndAnswers) {
  bed_.configure("terminal 1\n  card asign\n");
  auto reader = open(1, 1);
  ASSERT_EQ(reader->connect(0), 0);
  struct Row {
    const char* what;
    int format, fixed;
    const char* keys;
    std::string command;
    int result;
  } rows[] = {
      {"modify", 0, 0, "CANCEL", "201901001A" "521801060E" "0024008110" "00000000000000000000000000000000",
       code(0x80000006)},
      {"modify", 0, 6, "CANCEL", "201901001A" "521861060E" "0024008110" "00000000000000000000000000000000",
       code(0x80000006)},
      {"modify", 1, 0, "CANCEL", "2019010000", code(0x80016A80)},
      {"modify", 2, 0, "123456 OK 246810 OK 246811 OK",
       "201901001A" "521802060E" "0024008110" "26FFFFFFFFFFFFFF26FFFFFFFFFFFFFF", code(0x80020100)},
      {"modify", 2, 0, "123456 OK 246810 OK", "", code(0x80020200)},
      {"modify", 2, 0, "123456 OK 246810 OK 246810 OK", "", 0},
      {"activate", 2, 0, "CANCEL", "2019010012" "5210020606" "0024018108" "24FFFFFFFFFFFFFF", code(0x80000006)},
      {"activate", 0, 0, "CANCEL", "2019010000", code(0x80016A80)},
      {"kobil", 2, 0, "CANCEL", "2019010012" "5210020707" "0024018108" "24FFFFFFFFFFFFFF", code(0x80000006)},
      {"kobil", 0, 6, "CANCEL", "2019010000", code(0x80016A80)},
  };
  for (auto& row : rows) {
    bed_.keypad(1, row.keys);
    const std::string what = row.what;
    int result = what == "modify"     ? reader->modifyVerification(0x81, row.format, row.fixed)
                 : what == "activate" ? reader->activateVerification(0x81, row.format, row.fixed)
                                      : reader->activateVerification_KOBIL(0x81, row.format, row.fixed);
    EXPECT_EQ(result, row.result) << what << " " << row.keys;
    if (!row.command.empty()) {
      EXPECT_EQ(lastCommand(1), row.command) << what << " format " << row.format;
    }
  }
}

TEST_F(CtapiReader, InitRunsOnAThreadOfItsOwn) {
  bed_.configure("terminal 1\n  card asign\n");
  setCTAPIDll(readertest::CtapiBed::kDriverName);
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  EXPECT_EQ(ctInitInThread(1, 1), -1);  // ctn already open: the driver's -1 comes back signed
  EXPECT_EQ(ctInitInThread(2, 9), -8);  // no terminal at port 9
  const std::string self = "tid=" + std::to_string(::syscall(SYS_gettid));
  size_t inits = 0;
  for (const std::string& line : bed_.calls()) {
    if (line.find("CT_init") == std::string::npos) continue;
    ++inits;
    EXPECT_EQ(line.find(self), std::string::npos) << line;
  }
  EXPECT_EQ(inits, 3u);
  EXPECT_EQ(ctClose(1), 0);
}

TEST_F(CtapiReader, DestructorClosesOnlyAnOwnedTerminal) {
  bed_.configure("terminal 1\n  card asign\n");
  setCTAPIDll(readertest::CtapiBed::kDriverName);
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  { CReader_CTAPI borrowed(readertest::CtapiBed::kDriverName, 1, "temp", 0, 0); }
  EXPECT_EQ(bed_.count("CT_close"), 0u);
  {
    CReader_CTAPI owner(readertest::CtapiBed::kDriverName, 1, "Reader", 1, 1);
    ASSERT_EQ(owner.connect(0), 0);
    // Another driver named in between: the close still goes to this reader's driver.
    setCTAPIDll("some-other-driver");
  }
  EXPECT_EQ(bed_.count("CT_close ctn=1 rc=0"), 1u);
  EXPECT_EQ(recognition_.deleted, 1);
}

// The reader's life with a scripted driver: what happens to card and channel.
TEST(CtapiReaderLife, EjectFailureDropsCardAndChannelTogether) {
  readertest::FakeRecognition recognition({unhex("3B00")});
  readertest::FakeDriver driver;
  CReader_CTAPI reader("fake", 1, "Reader", 1, 1);
  driver.answers = {unhex("3B009000")};
  ASSERT_EQ(reader.connect(0), 0);
  ASSERT_NE(reader.getCardChannel(), nullptr);
  driver.result = -10;  // EJECT ICC is lost
  EXPECT_EQ(reader.disconnect(), code(0x8003FFF6));
  EXPECT_EQ(reader.getCard(), nullptr);
  EXPECT_EQ(reader.getCardChannel(), nullptr);
  EXPECT_EQ(recognition.deleted, 1);
  // The next connect asks the terminal again instead of trusting a stale card.
  driver.result = 0;
  driver.answers = {unhex("3B009000")};
  const size_t before = driver.calls.size();
  EXPECT_EQ(reader.connect(0), 0);
  ASSERT_EQ(driver.calls.size(), before + 1);
  EXPECT_EQ(driver.calls.back().command, "2012010100");
  driver.answers = {unhex("9000")};
  EXPECT_EQ(reader.disconnect(), 0);
  EXPECT_EQ(driver.calls.back().command, "20150104");
  EXPECT_EQ(reader.disconnect(), 0);  // nothing to eject
}

TEST(CtapiReaderLife, ResetReplacesCardAndChannel) {
  readertest::FakeRecognition recognition({unhex("3B00")});
  readertest::FakeDriver driver;
  CReader_CTAPI reader("fake", 1, "Reader", 1, 1);
  for (int i = 0; i < 3; ++i) {
    driver.answers = {unhex("3B009000")};
    EXPECT_EQ(reader.reset(false), 0);
    EXPECT_EQ(driver.calls.back().command, "2011010100");
  }
  EXPECT_EQ(recognition.made, 3);
  EXPECT_EQ(recognition.deleted, 2);
  driver.answers = {unhex("6400")};
  EXPECT_EQ(reader.reset(false), code(0x80016400));
  EXPECT_EQ(reader.getCardChannel(), nullptr);
  EXPECT_EQ(recognition.deleted, 3);
  driver.result = -1;
  EXPECT_EQ(reader.reset(false), code(0x8003FFFF));
}

TEST(CtapiReaderLife, TransportFailuresAndAMissingClose) {
  readertest::FakeDriver driver;
  driver.noClose = true;
  {
    CReader_CTAPI reader("fake", 3, "Reader", 1, 1);
    driver.result = -10;
    int status = 7;
    EXPECT_EQ(reader.performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, &status), code(0x8003FFF6));
    EXPECT_EQ(status, code(0x8003FFF6));
    EXPECT_EQ(reader.modifyVerification(0x81, 2, 0), code(0x8003FFF6));
    EXPECT_EQ(reader.getStatus(1), code(0x8003FFF6));
    EXPECT_EQ(reader.connect(0), code(0x8003FFF6));
  }
  EXPECT_TRUE(driver.closes.empty());
  EXPECT_EQ(ctClose(3), -1);
  driver.noClose = false;
  { CReader_CTAPI reader("fake", 3, "Reader", 1, 1); }
  EXPECT_EQ(driver.closes, std::vector<unsigned short>{3});
}
