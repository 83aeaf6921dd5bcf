// Command records and the channel: the bytes a command becomes, how an answer is
// split, what an unset field does, the CT-API channel's addressing and the
// masking of secrets in hex log lines.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "cardaccess/reader/ApduLog.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/CException.h"
#include "reader_test_support.h"

using readertest::hex;
using readertest::unhex;

namespace {

// A channel that records what it is given and answers from a script.
class ScriptedChannel : public CICC_base {
 public:
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string& command, std::string& response) override {
    sent.push_back(command);
    response = answer;
    return result;
  }
  std::vector<std::string> sent;
  std::string answer = std::string("\x90\x00", 2);
  int result = 0;
};

CCommandAPDU command(int cla, int ins, int p1, int p2, const std::string* data = nullptr, int le = -1) {
  CCommandAPDU c(cla, ins, p1, p2);
  if (data) c.setData(*data);
  c.setLe(le);
  return c;
}

}  // namespace

TEST(CommandRecord, EncodingTable) {
  const std::string d3 = unhex("010203");
  const std::string d255(255, '\x5A'), d256(256, '\x5B'), d300(300, '\x5C');
  struct Row {
    const char* what;
    CCommandAPDU c;
    bool extended;
    std::string bytes;
  } rows[] = {
      {"header only", command(0x00, 0xA4, 0x00, 0x0C), false, "00a4000c"},
      {"Le 0", command(0x00, 0xB0, 0x00, 0x00, nullptr, 0), false, "00b0000000"},
      {"data, no Le", command(0x00, 0xA4, 0x00, 0x0C, &d3), false, "00a4000c03010203"},
      {"data and Le", command(0x00, 0xA4, 0x00, 0x00, &d3, 0), false, "00a4000003010203" "00"},
      {"255 bytes", command(0x00, 0xD6, 0x00, 0x00, &d255), false, "00d60000ff" + hex(d255)},
      {"256 bytes, extended length", command(0x00, 0x2A, 0x80, 0x86, &d256, 0), false,
       "002a8086" "000100" + hex(d256) + "0000"},
      {"300 bytes, no Le", command(0x00, 0x2A, 0x80, 0x86, &d300), false, "002a8086" "00012c" + hex(d300)},
      {"300 bytes, Le 256", command(0x00, 0x2A, 0x80, 0x86, &d300, 256), false,
       "002a8086" "00012c" + hex(d300) + "0100"},
      {"D-Trust header", command(0x00, 0x2A, 0x80, 0x86, &d3, 0), true, "002a8086" "000101000001" "010203" "00"},
      {"D-Trust header, 256 bytes", command(0x00, 0x2A, 0x80, 0x86, &d256, 0), true,
       "002a8086" "000101000001" + hex(d256) + "00"},
  };
  for (auto& row : rows) {
    ScriptedChannel channel;
    CAPDU apdu(row.c);
    apdu.extended = row.extended;
    EXPECT_EQ(channel.perform(apdu), 0) << row.what;
    ASSERT_EQ(channel.sent.size(), 1u) << row.what;
    EXPECT_EQ(hex(channel.sent[0]), row.bytes) << row.what;
  }
}

TEST(CommandRecord, CopyCarriesDataOnlyWhenSet) {
  CCommandAPDU c(0x00, 0x20, 0x00, 0x81);
  c.data = "1234";  // set by hand, without the flag
  c.setLe(0);
  CCommandAPDU copy(c);
  EXPECT_TRUE(copy.data.empty());
  EXPECT_EQ(copy.hasData(), 0);
  EXPECT_EQ(copy.Le, 0);
  EXPECT_EQ(copy.P2, 0x81);
  c.setData("5678");
  CCommandAPDU assigned;
  assigned = c;
  EXPECT_EQ(assigned.data, "5678");
  EXPECT_EQ(assigned.hasData(), 1);
  CAPDU apdu(c);
  EXPECT_EQ(apdu.response.SW, -1);
  EXPECT_EQ(apdu.extended, 0);
}

TEST(CommandRecord, UnsetFieldsRaiseTheirTextAndSendNothing) {
  struct Row {
    CCommandAPDU c;
    const char* message;
  } rows[] = {
      {command(-1, 0xA4, 0x00, 0x00), "Klasse nicht initialisiert.\n"},
      {command(0x00, -1, 0x00, 0x00), "Instruction nicht initialisiert.\n"},
      {command(0x00, 0xA4, -1, 0x00), "P1 nicht initialisiert.\n"},
      {command(0x00, 0xA4, 0x00, -1), "P2 nicht initialisiert.\n"},
      {CCommandAPDU(), "Klasse nicht initialisiert.\n"},
  };
  for (auto& row : rows) {
    ScriptedChannel channel;
    CAPDU apdu(row.c);
    try {
      channel.perform(apdu);
      ADD_FAILURE() << "no exception for " << row.message;
    } catch (const VOQ::CNoSuchObjectException& e) {
      EXPECT_EQ(e.getMessage(), row.message);
      EXPECT_EQ(e.getWhere(), "CICC_base::perform");
      EXPECT_EQ(e.getType(), "No Such Object Exception");
    }
    EXPECT_TRUE(channel.sent.empty());
  }
}

TEST(CommandRecord, ResponseSplitAndTransportFailures) {
  struct Row {
    std::string answer;
    int transport;
    int result;
    std::string data;
    int sw;
  } rows[] = {
      {unhex("9000"), 0, 0, "", 0x9000},
      {unhex("0102036282"), 0, 0, unhex("010203"), 0x6282},
      {unhex("6A82"), 0, 0, "", 0x6A82},
      {unhex("9000"), static_cast<int>(0x80100069u), static_cast<int>(0x80010069u), "", -1},
      {unhex("9000"), -1, static_cast<int>(0x8001FFFFu), "", -1},
  };
  for (auto& row : rows) {
    ScriptedChannel channel;
    channel.answer = row.answer;
    channel.result = row.transport;
    CAPDU apdu(command(0x00, 0xB0, 0x00, 0x00, nullptr, 0));
    EXPECT_EQ(channel.perform(apdu), row.result) << hex(row.answer);
    EXPECT_EQ(apdu.response.data, row.data) << hex(row.answer);
    EXPECT_EQ(apdu.response.SW, row.sw) << hex(row.answer);
  }
  // A card operation sees a transport failure as 0x8003 and its low 16 bits.
  EXPECT_EQ(cardresult::transport(static_cast<int>(0x8001FFFFu)), static_cast<int>(0x8003FFFFu));
  EXPECT_EQ(cardresult::plain(static_cast<int>(0x80010069u), 0), static_cast<int>(0x80030069u));
}

// Nothing may leave a card operation as an exception (it would end the Java VM
// through a native): a short answer is the transport failure "malformed answer".
TEST(CommandRecord, AnswerWithoutStatusWordIsAMalformedAnswerAndChangesNothing) {
  for (const std::string& answer : {std::string(), unhex("90")}) {
    ScriptedChannel channel;
    channel.answer = answer;
    CAPDU apdu(command(0x00, 0xB0, 0x00, 0x00, nullptr, 0));
    apdu.response.data = "before";
    const int result = channel.perform(apdu);
    EXPECT_EQ(result, static_cast<int>(0x80010100u));
    EXPECT_EQ(cardresult::plain(result, apdu.response.SW), cardresult::kMalformedAnswer);
    EXPECT_EQ(apdu.response.data, "before");
    EXPECT_EQ(apdu.response.SW, -1);
  }
}

TEST(CommandRecord, StatusWordMappings) {
  struct Row {
    int r, sw, plain, pin;
  } rows[] = {
      {0, 0x9000, 0, 0},
      {0, 0x63C2, static_cast<int>(0x800163C2u), static_cast<int>(0x80020002u)},
      {0, 0x63CF, static_cast<int>(0x800163CFu), static_cast<int>(0x8002000Fu)},
      {0, 0x6983, static_cast<int>(0x80016983u), static_cast<int>(0x80020300u)},
      {0, 0x6A82, static_cast<int>(0x80016A82u), static_cast<int>(0x80016A82u)},
      {static_cast<int>(0x8001000Cu), 0, static_cast<int>(0x8003000Cu), static_cast<int>(0x8003000Cu)},
  };
  for (auto& row : rows) {
    EXPECT_EQ(cardresult::plain(row.r, row.sw), row.plain) << std::hex << row.sw;
    EXPECT_EQ(cardresult::pin(row.r, row.sw), row.pin) << std::hex << row.sw;
  }
}

TEST(CommandRecord, PinPadStatusWordMappings) {
  constexpr int kTimeout = 0x7777;  // the reader kind's own time-out code
  struct Row {
    int sw, verify, status, modify;
  } rows[] = {
      {0x9000, 0, 0x9000, 0},
      {0x63C2, static_cast<int>(0x80020002u), static_cast<int>(0x800163C2u), static_cast<int>(0x80020002u)},
      {0x6401, static_cast<int>(0x80000006u), static_cast<int>(0x80036401u), static_cast<int>(0x80000006u)},
      {0x6400, kTimeout, static_cast<int>(0x80036400u), kTimeout},
      {0x6402, static_cast<int>(0x80016402u), static_cast<int>(0x80016402u), static_cast<int>(0x80020100u)},
      {0x6983, static_cast<int>(0x80020300u), static_cast<int>(0x80016983u), static_cast<int>(0x80020300u)},
      {0x6A82, static_cast<int>(0x80016A82u), static_cast<int>(0x80016A82u), static_cast<int>(0x80016A82u)},
  };
  for (auto& row : rows) {
    int status = -1;
    EXPECT_EQ(cardresult::padVerification(row.sw, kTimeout, status), row.verify) << std::hex << row.sw;
    EXPECT_EQ(status, row.status) << std::hex << row.sw;
    EXPECT_EQ(cardresult::padModification(row.sw, kTimeout), row.modify) << std::hex << row.sw;
  }
}

TEST(ApduLog, SecretsAreMaskedInEveryHexLine) {
  struct Row {
    const char* command;
    const char* logged;
  } rows[] = {
      // VERIFY, CHANGE REFERENCE DATA, RESET RETRY COUNTER: header and Lc stay.
      {"0020008108" "3132333400000000", "0020008108" "xxxxxxxxxxxxxxxx"},
      {"0024008110" "31323334000000003536373800000000", "0024008110" "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
      {"002C000110" "1111111111111111" "2222222222222222", "002c000110" "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
      {"002C018108" "1111111111111111", "002c018108" "xxxxxxxxxxxxxxxx"},
      {"002C0381", "002c0381"},
      {"00200081", "00200081"},
      // Anything else is shown as it is.
      {"00A4000C02DF01", "00a4000c02df01"},
      {"2018010011520F0206002000810820FFFFFFFFFFFFFF", "2018010011520f0206002000810820ffffffffffffff"},
  };
  for (auto& row : rows) EXPECT_EQ(apdulog::command(unhex(row.command)), row.logged) << row.command;
  // The plaintext of a PSO DECIPHER never shows; its status word does.
  EXPECT_EQ(apdulog::response(unhex("002A8086030001020300"), unhex("4142439000")), "xxxxxx9000");
  EXPECT_EQ(apdulog::response(unhex("002A8086030001020300"), unhex("6A80")), "6a80");
  EXPECT_EQ(apdulog::response(unhex("00B0000000"), unhex("4142439000")), "4142439000");
}

TEST(CTAPIChannel, TheDriverGetsCopiesOfTheAddresses) {
  readertest::FakeDriver driver;
  driver.answers = {unhex("9000"), unhex("019000")};
  CICC channel("fake-driver", 7, 2, 0);
  for (int i = 0; i < 2; ++i) {
    CAPDU apdu(command(0x00, 0xA4, 0x00, 0x0C));
    ASSERT_EQ(channel.perform(apdu), 0);
  }
  // The driver swaps the addresses on return, as real ones do; the channel's stay.
  ASSERT_EQ(driver.calls.size(), 2u);
  for (auto& call : driver.calls) {
    EXPECT_EQ(call.ctn, 7);
    EXPECT_EQ(call.dad, 0);
    EXPECT_EQ(call.sad, 2);
    EXPECT_EQ(call.capacity, CICC::kResponseCapacity);
    EXPECT_EQ(call.driver, "fake-driver");
  }
  EXPECT_EQ(channel.getDad(), 0);
  EXPECT_EQ(channel.getSad(), 2);
}

TEST(CTAPIChannel, DriverFailuresAndOverlongLengthsAreTransportFailures) {
  readertest::FakeDriver driver;
  CICC channel("fake-driver", 1, 2, 0);
  struct Row {
    int result;
    int lengthOverride;  // -1: the answer's own length
    int performed;
  } rows[] = {
      {-1, -1, static_cast<int>(0x8001FFFFu)},
      {-10, -1, static_cast<int>(0x8001FFF6u)},
      {0, CICC::kResponseCapacity + 1, static_cast<int>(0x8001FFF5u)},  // more than the buffer holds
      {0, 65535, static_cast<int>(0x8001FFF5u)},
      {0, CICC::kResponseCapacity, 0},  // exactly full is fine
  };
  for (auto& row : rows) {
    driver.answers = {std::string(CICC::kResponseCapacity, '\x90')};
    driver.result = row.result;
    driver.lengthOverride = row.lengthOverride;
    CAPDU apdu(command(0x00, 0xB0, 0x00, 0x00, nullptr, 0));
    EXPECT_EQ(channel.perform(apdu), row.performed) << row.result << " " << row.lengthOverride;
  }
  // A driver without the function: the binding answers -1 itself. (A driver's entry
  // points are kept once resolved, so this is a driver of another name.)
  driver.missing = true;
  CICC without("driver-without-functions", 1, 2, 0);
  CAPDU apdu(command(0x00, 0xB0, 0x00, 0x00, nullptr, 0));
  EXPECT_EQ(without.perform(apdu), static_cast<int>(0x8001FFFFu));
  EXPECT_EQ(ctClose(1), -1);
}
