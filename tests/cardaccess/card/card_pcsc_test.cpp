// The five card types end to end: the real pcscd with the test bed's readers,
// the PC/SC reader, recognition from the signed Quarvel.esw, and the card
// objects driving files, PINs, signatures and decipherment. What the card
// received is read from the test bed's command log.
#include "CardTestSupport.h"

#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardsim/pcscbed.h"
#include "TestTrace.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <typeinfo>

using cardsim::PcscBed;
using cardtest::bytes;
using cardtest::hex;
using cardtest::kTypes;
using cardtest::Type;
using cardtest::TypeInfo;

namespace {

constexpr int kEOF = static_cast<int>(0x80040001u);

class PcscCards : public testing::Test {
 protected:
  void SetUp() override {
    cardtest::createApplication();
    cardtest::writeCardLists(cardtest::standardCardLists());
    CSCardFactory::install();
    bed_ = std::make_unique<PcscBed>();
  }

  void TearDown() override {
    reader_.reset();
    bed_.reset();
  }

  // Inserts the card and connects a PC/SC reader to it as the reader factory would.
  int connect(std::size_t index, const cardsim::CardProfile& profile) {
    bed_->insert(index, profile);
    SCARDCONTEXT context = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    reader_ = std::make_unique<CReader_PCSC>(bed_->name(index), context, SCARD_SHARE_SHARED, 1, 0, 1, 0);
    return reader_->connect(0);
  }

  CSCard* card() { return reader_->getCard(); }

  // The commands the card received since the mark.
  std::vector<std::string> commandsSince(std::size_t index, std::size_t mark) {
    std::vector<std::string> out;
    const auto log = bed_->reader(index).cardLog();
    for (std::size_t i = 0; i < log.size(); ++i)
      if (log[i].event == "apdu" && i >= mark) out.push_back(cardsim::toHex(log[i].command));
    return out;
  }
  std::size_t mark(std::size_t index) { return bed_->reader(index).cardLog().size(); }

  std::unique_ptr<PcscBed> bed_;
  std::unique_ptr<CReader_PCSC> reader_;
};

TEST_F(PcscCards, UnknownAndGenerationOneCardsAreNotRecognised) {
  EXPECT_EQ(connect(PcscBed::kPlain, cardtest::profile("bank1")), static_cast<int>(0x80100069u));
  EXPECT_EQ(card(), nullptr);
  reader_.reset();
  bed_->remove(PcscBed::kPlain);
  cardtest::writeCardLists({{"DTrustCard0", cardtest::standardCardLists()[1].second}});
  EXPECT_EQ(connect(PcscBed::kPlain, cardtest::profile("asign")), static_cast<int>(0x80100069u));
  EXPECT_EQ(card(), nullptr);
}

// ---- per card type ----

struct Files {
  std::vector<std::pair<char, std::string>> steps;  // 'F' FID, 'A' AID, 'P' path: each must answer 0
  std::string certificate;                          // FID of the signature certificate
  std::string records;                              // FID of a record file, or empty
  std::vector<std::string> firstRecords;            // hex
};

Files filesOf(Type type) {
  switch (type) {
    case Type::ASign: return {{{'P', "DF01"}, {'F', "3F00"}, {'F', "DF01"}, {'A', "D2760000660101"}}, "C000", "5031", {"A00A300804062A8648CE3D0301", "A1033001FF", hex("Quarvel")}};
    case Type::ECardG4: return {{{'P', "DF01"}, {'F', "3F00"}, {'A', "D2760000660201"}}, "C000", "5031", {"A00A300804062A8648CE3D0301", "A1033001FF", hex("Quarvel")}};
    case Type::ECardng: return {{{'P', "DF01"}, {'F', "3F00"}, {'A', "D2760000660301"}}, "C000", "5031", {"A00A300804062A8648CE3D0301", "A1033001FF", hex("Quarvel")}};
    case Type::DTrust: return {{{'P', "501550724B01"}, {'F', "3F00"}, {'F', "5015"}}, "C000", "4401", {hex("D-Trust"), "0102030405"}};
    case Type::Bank: return {{{'P', "1000"}, {'F', "DF71"}, {'A', "A0000001184543"}}, "C000", "", {}};
  }
  return {};
}

}  // namespace
namespace cardtest {
void PrintTo(const TypeInfo& t, std::ostream* os) { *os << t.profile; }
}  // namespace cardtest
namespace {

class PcscCardType : public PcscCards, public testing::WithParamInterface<TypeInfo> {};
INSTANTIATE_TEST_SUITE_P(Types, PcscCardType, testing::ValuesIn(kTypes),
                         [](const auto& info) { return std::string(info.param.profile); });

TEST_P(PcscCardType, RecognisedWithFilesSelectedByFidAidAndPath) {
  const TypeInfo& t = GetParam();
  ASSERT_EQ(connect(PcscBed::kPlain, cardtest::simProfile(t)), 0);
  ASSERT_NE(card(), nullptr);
  const auto& connected = *card();
  std::string name = typeid(connected).name();
  EXPECT_EQ(name.substr(name.find("CSCard")), t.className);
  unsigned char atr[64];
  int length = 0;
  ASSERT_EQ(card()->getATR(atr, sizeof atr, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(atr), static_cast<std::size_t>(length)),
            cardtest::fromSim(cardtest::profile(t.profile).atr));

  const Files files = filesOf(t.type);
  for (const auto& [kind, value] : files.steps) {
    const int result = kind == 'F'   ? card()->changeDirectory(CFID(bytes(value)))
                       : kind == 'A' ? card()->changeDirectory(CAID(bytes(value)))
                                     : card()->changeDirectoryPath(CAID(bytes(value)));
    EXPECT_EQ(result, 0) << kind << " " << value;
  }
  const int handle = card()->open(CFID(bytes(files.certificate)));
  ASSERT_GE(handle, 0);
  std::string certificate;
  for (std::string chunk; card()->read(handle, chunk, 1000) > 0;) certificate += chunk;
  EXPECT_EQ(certificate, cardtest::certificate(t.signCert));
  std::string more;
  EXPECT_EQ(card()->read(handle, more, 10), kEOF);
  EXPECT_EQ(card()->close(handle), 0);

  if (!files.records.empty()) {
    const int records = card()->open(CFID(bytes(files.records)));
    ASSERT_GE(records, 0);
    if (t.type == Type::DTrust) card()->seek(records, 1);  // the base starts at record 0
    for (const std::string& expected : files.firstRecords) {
      std::string record;
      EXPECT_GT(card()->read(records, record, 4), 0);
      EXPECT_EQ(hex(record), expected);
    }
    if (cardtest::isMSE(t.type)) {
      std::string record;
      EXPECT_EQ(card()->read(records, record, 4), kEOF);  // past the last record
    }
  }
  EXPECT_EQ(card()->changeDirectory(CFID(bytes("4F4F"))), static_cast<int>(0x80016A82u));
}

TEST_P(PcscCardType, PinStatusTableChangeAndUnblock) {
  const TypeInfo& t = GetParam();
  ASSERT_EQ(connect(PcscBed::kPlain, cardtest::simProfile(t)), 0);
  CSCard& c = *card();
  if (t.type == Type::Bank) c.changeDirectory(CAID(bytes("A0000001184543")));
  EXPECT_EQ(c.verifyPIN(0x81, "999999", 0), static_cast<int>(0x80020002u));
  EXPECT_EQ(c.verifyPIN(0x81, "999999", 0), static_cast<int>(0x80020001u));
  EXPECT_EQ(c.verifyPIN(0x81, "999999", 0), static_cast<int>(0x80020300u));
  EXPECT_EQ(c.verifyPIN(0x81, "123456", 0), static_cast<int>(0x80020300u));
  const std::size_t before = mark(PcscBed::kPlain);
  std::vector<std::string> expected;
  if (cardtest::isMSE(t.type)) {
    auto& mse = static_cast<CSCard_MSEBase&>(c);
    EXPECT_EQ(mse.unblockPIN(0x81, bytes("12345678"), bytes("654321"), 0), 0);
    EXPECT_EQ(mse.changeReferenceData(0x81, "654321", "112233", 0), 0);
    EXPECT_EQ(mse.verifyPIN(0x81, "112233", 0), 0);
    EXPECT_EQ(mse.verifyPIN(0x81, "", 0), 0);
    expected = {"002C00811028" "12345678FFFFFF" "26654321FFFFFFFF", "002400811026" "654321FFFFFFFF" "26112233FFFFFFFF",
                "002000810826" "112233FFFFFFFF", "00200081"};
  } else if (t.type == Type::Bank) {
    EXPECT_EQ(c.unblockPIN(0x81, "87654321", 0), 0);
    EXPECT_EQ(c.changeReferenceData(0x81, "123456", "112233", 0), 0);
    EXPECT_EQ(c.verifyPIN(0x81, "112233", 0), 0);
    expected = {"002C018108" "3837363534333231", "0024008110" "3132333435360000" "3131323233330000",
                "0020008108" "3131323233330000"};
  } else {
    EXPECT_EQ(c.unblockPIN(0x81, "12345678", 0), static_cast<int>(0x80000001u));  // D-Trust has no unblocking
    EXPECT_EQ(c.changeReferenceData(0x01, "1234", "4321", 0), 0);
    EXPECT_EQ(c.verifyPIN(0x01, "4321", 0), 0);
    expected = {"0024000110" "3132333400000000" "3433323100000000", "0020000108" "3433323100000000"};
  }
  EXPECT_EQ(commandsSince(PcscBed::kPlain, before), expected);
}

TEST_P(PcscCardType, SignaturesOverThreeDigestsInBothForms) {
  const TypeInfo& t = GetParam();
  ASSERT_EQ(connect(PcscBed::kDirectPinPad, cardtest::simProfile(t)), 0);
  CSCard& c = *card();
  for (int algorithm : {1, 2, 3})
    for (bool tls : {false, true})
      for (bool pad : {false, true}) {
        if (t.type == Type::Bank && algorithm == 3 && !tls) continue;  // see the in-process table
        const std::string what = std::string(t.profile) + " algorithm " + std::to_string(algorithm) +
                                 (tls ? " tls" : "") + (pad ? " pad" : " pin");
        const int kid = tls ? t.tlsKid : t.signKid;
        const std::string pin = tls ? t.tlsPin : t.signPin;
        const std::string message = "through pcscd: " + what;
        ASSERT_EQ(c.signInit(kid, cardtest::signParameter(t.type, algorithm, tls), algorithm), 0) << what;
        ASSERT_EQ(c.signUpdate(message), 0);
        std::string signature;
        if (pad) {
          // A bank card's pad ends the entry by itself after 6 or 4 digits.
          bed_->reader(PcscBed::kDirectPinPad).setKeypad(t.type == Type::Bank ? pin : pin + " OK");
          ASSERT_EQ(c.signFinal(kid, signature, tls), 0) << what;
        } else {
          ASSERT_EQ(c.signFinal(kid, pin, signature, tls), 0) << what;
        }
        EXPECT_EQ(hex(cardtest::recoverSigned(cardtest::certificate(tls ? t.tlsCert : t.signCert), signature)),
                  hex(cardtest::digestInfo(cardtest::signedPrefix(t.type, algorithm, tls),
                                           cardtest::digest(algorithm, message))))
            << what;
      }
  // The pad's last request, byte for byte: format, lengths, VERIFY template, key reference.
  const auto records = bed_->reader(PcscBed::kDirectPinPad).controlRecords();
  ASSERT_FALSE(records.empty());
  const std::string verify = cardsim::toHex(records.back().input);
  const char* expected = cardtest::isMSE(t.type) ? "000A8947040C0402010704000000000D000000" "0020008108" "20FFFFFFFFFFFFFF"
                         : t.type == Type::Bank ? "000A020800040401010704000000000D000000" "0020000108" "0000000000000000"
                                                : "000A0208000C0402010704000000000D000000" "0020000108" "0000000000000000";
  EXPECT_EQ(verify, expected);
}

TEST_P(PcscCardType, DecipherOrItsTlsKin) {
  const TypeInfo& t = GetParam();
  if (t.type == Type::DTrust) {
    // The D-Trust's decipherment serves only its TLS signature (extended length, 2048 bits).
    ASSERT_EQ(connect(PcscBed::kPlain, cardtest::simProfile(t)), 0);
    ASSERT_EQ(card()->signInit(0x01, bytes("840182"), 2), 0);
    card()->signUpdate("client hello");
    std::string signature, plain;
    ASSERT_EQ(card()->signFinal(0x01, "1234", signature, true), 0);
    EXPECT_EQ(cardtest::recoverSigned(cardtest::certificate("dtrust-aut"), signature),
              cardtest::digestInfo(2, cardtest::digest(2, "client hello")));
    EXPECT_EQ(card()->decryptFinal(0x01, "1234", "x", plain), static_cast<int>(0x80000001u));
    return;
  }
  const bool bank = t.type == Type::Bank;
  // A second key of 2048 bits for decipherment: its cryptogram needs ISO extended length.
  const std::string extra = std::string(cardtest::isMSE(t.type) ? "algorithm 20 ripemd160\n" : "") +
                            "extended-length yes\nkey 05 file=keys/" + (bank ? "bank" : std::string(t.profile)) +
                            "-sig.key pin=01 usage=decipher";
  ASSERT_EQ(connect(PcscBed::kPollingPinPad, cardtest::profile(t.profile, extra)), 0);
  struct Row {
    const char* cert;
    const char* parameter;
    bool pad;
  } rows[] = {
      {bank ? "bank-dec" : nullptr, bank ? "840104" : "840103", false},
      {nullptr, "840105", false},
      {bank ? "bank-dec" : nullptr, bank ? "840104" : "840103", true},
  };
  for (const Row& row : rows) {
    const std::string cert = row.cert ? row.cert
                             : std::string(row.parameter) == "840105"
                                 ? std::string(bank ? "bank" : t.profile) + "-sig"
                                 : std::string(t.profile) + "-dec";
    const std::string plain = "key for " + cert;
    const std::string cryptogram = cardtest::encryptFor(cardtest::certificate(cert), plain);
    ASSERT_EQ(card()->decryptInit(0x01, bytes(row.parameter)), 0);
    std::string out;
    if (row.pad) {
      bed_->reader(PcscBed::kPollingPinPad).setKeypad(bank ? "1 2 3 4" : "1 2 3 4 OK");
      EXPECT_EQ(card()->decryptFinal(0x01, cryptogram, out), 0) << cert;
    } else {
      EXPECT_EQ(card()->decryptFinal(0x01, "1234", cryptogram, out), 0) << cert;
    }
    EXPECT_EQ(out, plain) << cert << " " << cryptogram.size() * 8 << " bits";
  }
}

// ---- the MSE types' activation, and abort ----

TEST_F(PcscCards, ActivateATransportPin) {
  ASSERT_EQ(connect(PcscBed::kPlain, cardtest::profile("ecardg4", "pin 02 format=format2 value=000000 transport=yes")), 0);
  auto& card = static_cast<CSCard_MSEBase&>(*this->card());
  EXPECT_EQ(card.verifyPIN(0x02, "000000", 0), static_cast<int>(0x80016984u));
  EXPECT_EQ(card.activatePIN(0x02, bytes("24680F"), 5), 0);
  EXPECT_EQ(card.verifyPIN(0x02, "24680", 0), 0);
  EXPECT_EQ(commandsSince(PcscBed::kPlain, 0).back(), "0020000208" "2524680FFFFFFFFF");
}

TEST_F(PcscCards, AbortFromAnotherThreadStopsAReadUnderWay) {
  ASSERT_EQ(connect(PcscBed::kPlain, cardtest::profile("dtrust")), 0);
  ASSERT_EQ(card()->changeDirectory(CFID(bytes("5015"))), 0);
  const int handle = card()->open(CFID(bytes("C000")));
  const std::size_t start = mark(PcscBed::kPlain);

  // While the test holds the card, it answers nothing: the read's first command (the
  // SELECT of its file) stays under way until the test lets go.
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE letGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(held != nullptr && letGo != nullptr);
  std::thread holding([&] {
    bed_->reader(PcscBed::kPlain).withCard([&](cardsim::Card&) {
      SetEvent(held);
      WaitForSingleObject(letGo, 60000);  // bounded, so that a failing test cannot hang
    });
  });
  ASSERT_EQ(WaitForSingleObject(held, 60000), WAIT_OBJECT_0);

  auto commandsSent = [] {
    const std::string trace = cardaccesstest::traceText();
    std::size_t n = 0;
    for (std::size_t at = trace.find(", in: 0x"); at != std::string::npos; at = trace.find(", in: 0x", at + 1)) ++n;
    return n;
  };
  const std::size_t before = commandsSent();
  int result = 0;
  std::string out;
  std::thread reading([&] { result = card()->read(handle, out, 5000); });
  const bool underWay = quarveltest::eventually([&] { return commandsSent() > before; });
  EXPECT_EQ(card()->abort(), 0);
  SetEvent(letGo);
  holding.join();
  reading.join();
  CloseHandle(held);
  CloseHandle(letGo);
  ASSERT_TRUE(underWay);
  EXPECT_EQ(result, static_cast<int>(0x80000006u));
  // The command under way was answered; no READ BINARY followed it.
  EXPECT_EQ(commandsSince(PcscBed::kPlain, start), (std::vector<std::string>{"00A4000C02C000"}));
}

}  // namespace

namespace {

// ---- answers that cannot be trusted, through pcscd ----

// A signature answer that cannot be a signature, an answer without status word
// and a refused environment fail the operation with nothing signed, as they do
// in process.
TEST_P(PcscCardType, UntrustedAnswersFailWithNothingSigned) {
  const TypeInfo& t = GetParam();
  constexpr int kMalformed = static_cast<int>(0x80030100u);
  constexpr int kRefused = static_cast<int>(0x80016A88u);
  ASSERT_EQ(connect(PcscBed::kPlain, cardtest::simProfile(t)), 0);
  CSCard& c = *card();
  struct Row {
    const char* name;
    std::string rule;
    bool tls;
    int expected;  // -1: a failure, or the true signature of the channel's next attempt
  };
  std::vector<Row> rows;
  for (bool tls : {false, true}) {
    const std::string sig = cardtest::signatureCommand(t.type, tls);
    rows.push_back({"9000 without data", "match=" + sig + " sw=9000", tls, kMalformed});
    rows.push_back({"one byte", "match=" + sig + " short=1", tls, kMalformed});
    // More than the channel's receive buffer: the transmission fails; the channel's
    // next attempt finds the signature PIN spent, or (a key without per-use PIN)
    // gets the true signature.
    rows.push_back({"300 bytes more", "match=" + sig + " oversize=300", tls, -1});
    if (t.type != Type::DTrust && !(t.type == Type::Bank && tls)) {
      rows.push_back({"refused environment", "match=" + cardtest::signEnvironmentCommand(t.type) + " sw=6A88", tls, kRefused});
    }
  }
  for (const Row& row : rows) {
    const std::string what = std::string(t.profile) + (row.tls ? " tls: " : ": ") + row.name;
    bed_->reader(PcscBed::kPlain).withCard([&](cardsim::Card& card) {
      card.clearFaults();
      card.addFault(cardsim::FaultRule::parse(row.rule));
    });
    const std::size_t before = mark(PcscBed::kPlain);
    const int kid = row.tls ? t.tlsKid : t.signKid;
    const int init = c.signInit(kid, cardtest::signParameter(t.type, 2, row.tls), 2);
    c.signUpdate("through pcscd");
    std::string signature = "stale";
    int result = init != 0 ? init : c.signFinal(kid, row.tls ? t.tlsPin : t.signPin, signature, row.tls);
    if (row.expected == -1 && result == 0) {
      EXPECT_FALSE(cardtest::recoverSigned(cardtest::certificate(row.tls ? t.tlsCert : t.signCert), signature).empty())
          << what;
      continue;
    }
    if (row.expected == -1) {
      EXPECT_NE(result, 0) << what;
    } else {
      EXPECT_EQ(result, row.expected) << what;
    }
    EXPECT_TRUE(signature.empty() || signature == "stale") << what;
    if (row.expected == kRefused) {
      for (const std::string& command : commandsSince(PcscBed::kPlain, before)) {
        EXPECT_NE(command.rfind("002A", 0), 0u) << what << ": " << command;
      }
    }
  }
  // An answer cut before its status word, in a file operation.
  bed_->reader(PcscBed::kPlain).withCard([](cardsim::Card& card) { card.addFault(cardsim::FaultRule::parse("match=00A4 short=1")); });
  EXPECT_EQ(c.open(CFID(bytes("C000"))), kMalformed);
  // The card still signs afterwards.
  bed_->reader(PcscBed::kPlain).withCard([](cardsim::Card& card) { card.clearFaults(); });
  ASSERT_EQ(c.signInit(t.signKid, cardtest::signParameter(t.type, 2, false), 2), 0);
  c.signUpdate("after the faults");
  std::string signature;
  ASSERT_EQ(c.signFinal(t.signKid, t.signPin, signature, false), 0);
  EXPECT_EQ(hex(cardtest::recoverSigned(cardtest::certificate(t.signCert), signature)),
            hex(cardtest::digestInfo(cardtest::signedPrefix(t.type, 2, false), cardtest::digest(2, "after the faults"))));
}

}  // namespace
