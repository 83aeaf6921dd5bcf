// Acceptance of the test bed through the real pcscd and the pcsc-lite API:
// simulated readers and cards as any PC/SC application sees them.
#include "apdu_script.h"
#include "cardsim/pcscbed.h"
#include "crypto_check.h"
#include "pcsclite_api.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <thread>

using cardsim::Bytes;
using cardsim::CardProfile;
using cardsim::fromHex;
using cardsim::ReaderConfig;
using cardsim::toHex;
using cardsim::operator+;
using cardsimtest::runScript;
using cardsimtest::Step;

namespace {

const cardsim::PcscLite& api() { return cardsim::pcsclite(); }

constexpr std::size_t kPlain = cardsim::PcscBed::kPlain, kDirectPad = cardsim::PcscBed::kDirectPinPad,
                      kPollingPad = cardsim::PcscBed::kPollingPinPad;

class PcscBed : public testing::Test {
 protected:
  void SetUp() override {
    bed_ = std::make_unique<cardsim::PcscBed>();
    ASSERT_EQ(api().EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx_), SCARD_S_SUCCESS);
  }

  void TearDown() override {
    if (handle_) api().Disconnect(handle_, SCARD_LEAVE_CARD);
    if (ctx_) api().ReleaseContext(ctx_);
    bed_.reset();
  }

  const std::string& name(std::size_t reader) const { return bed_->name(reader); }
  void insert(std::size_t reader, const std::string& profile) { bed_->insert(reader, profile); }

  LONG connect(std::size_t reader, DWORD share = SCARD_SHARE_SHARED, DWORD protocols = SCARD_PROTOCOL_T1) {
    DWORD active = 0;
    return api().Connect(ctx_, name(reader).c_str(), share, protocols, &handle_, &active);
  }

  LONG transmit(const Bytes& command, Bytes& answer) {
    answer.assign(1024, 0);
    DWORD length = static_cast<DWORD>(answer.size());
    LONG rc = api().Transmit(handle_, &api().t1, command.data(), static_cast<DWORD>(command.size()), nullptr,
                            answer.data(), &length);
    answer.resize(rc == SCARD_S_SUCCESS ? length : 0);
    return rc;
  }

  std::function<Bytes(const Bytes&)> sender() {
    return [this](const Bytes& c) {
      Bytes a;
      EXPECT_EQ(transmit(c, a), SCARD_S_SUCCESS) << toHex(c);
      return a;
    };
  }

  LONG control(DWORD code, const Bytes& input, Bytes& output) {
    output.assign(256, 0);
    DWORD length = 0;
    LONG rc = api().Control(handle_, code, input.data(), static_cast<DWORD>(input.size()), output.data(),
                           static_cast<DWORD>(output.size()), &length);
    output.resize(rc == SCARD_S_SUCCESS ? length : 0);
    return rc;
  }

  Bytes attribute(DWORD id) {
    Bytes value(64, 0);
    DWORD length = static_cast<DWORD>(value.size());
    EXPECT_EQ(api().GetAttrib(handle_, id, value.data(), &length), SCARD_S_SUCCESS);
    value.resize(length);
    return value;
  }

  // A transparent file, read as a terminal does: chunks of 128 until 6282 or 6B00.
  Bytes readFile() {
    Bytes out, a;
    for (std::size_t offset = 0;; offset += 128) {
      EXPECT_EQ(transmit(fromHex("00B0" + toHex(Bytes{static_cast<std::uint8_t>(offset >> 8),
                                                      static_cast<std::uint8_t>(offset)}) + "80"), a),
                SCARD_S_SUCCESS);
      auto sw = cardsim::statusWord(a);
      if (sw == 0x6B00 || a.size() < 2) break;
      out.insert(out.end(), a.begin(), a.end() - 2);
      if (sw != 0x9000) break;
    }
    return out;
  }

  std::unique_ptr<cardsim::PcscBed> bed_;
  SCARDCONTEXT ctx_ = 0;
  SCARDHANDLE handle_ = 0;
};

Bytes body(const Bytes& answer) { return Bytes(answer.begin(), answer.end() - 2); }

// What each card type answers on the way a terminal talks to it.
struct CardType {
  const char* profile;
  std::vector<Step> toCertificate;  // selects the signature certificate file
  std::vector<Step> pins;           // wrong tries, blocking, unblock, change
  std::string signSetup;            // MSE (or nothing) before the signature
  std::string verifyPin;            // VERIFY with the PIN after the change
  bool hashFirst;                   // PSO HASH, then PSO CDS without data (bank card)
  bool digestInfo;                  // the terminal sends a DigestInfo
};

const CardType kTypes[] = {
    {"asign",
     {{"00A4000C02DF01", "9000"}, {"00A4020402C00000", "62*9000"}, {"00A4020C02C000", "9000"}},
     {{"002000810824" "9999FFFFFFFFFF", "63C2"},
      {"002000810824" "9999FFFFFFFFFF", "63C1"},
      {"002000810824" "9999FFFFFFFFFF", "6983"},
      {"002C00811028" "12345678FFFFFF" "26654321FFFFFFFF", "9000"},
      {"002400811026" "654321FFFFFFFF" "26112233FFFFFFFF", "9000"}},
     "002241B606840102800140", "002000810826" "112233FFFFFFFF", false, false},
    {"ecardg4",
     {{"00A4000C02DF01", "9000"}, {"00A4020402C00000", "62*9000"}, {"00A4020C02C000", "9000"}},
     {{"002000810824" "9999FFFFFFFFFF", "63C2"},
      {"002000810824" "9999FFFFFFFFFF", "63C1"},
      {"002000810824" "9999FFFFFFFFFF", "6983"},
      {"002C00811028" "12345678FFFFFF" "26654321FFFFFFFF", "9000"},
      {"002400811026" "654321FFFFFFFF" "26112233FFFFFFFF", "9000"}},
     "002241B606840102800140", "002000810826" "112233FFFFFFFF", false, false},
    {"ecardng",
     {{"00A4000C02DF01", "9000"}, {"00A4020402C00000", "62*9000"}, {"00A4020C02C000", "9000"}},
     {{"002000810824" "9999FFFFFFFFFF", "63C2"},
      {"002000810824" "9999FFFFFFFFFF", "63C1"},
      {"002000810824" "9999FFFFFFFFFF", "6983"},
      {"002C00811028" "12345678FFFFFF" "26654321FFFFFFFF", "9000"},
      {"002400811026" "654321FFFFFFFF" "26112233FFFFFFFF", "9000"}},
     "002241B606840102800140", "002000810826" "112233FFFFFFFF", false, false},
    {"dtrust",
     {{"00A4000C025015", "9000"}, {"00A4000002C00000", "6F*9000"}, {"00A4000C02C000", "9000"}},
     {{"0020008108" "3939393939390000", "63C2"},
      {"0020008108" "3939393939390000", "63C1"},
      {"0020008108" "3939393939390000", "6983"},
      {"002C008110" "3132333435363738" "3635343332310000", "9000"},
      {"0024008110" "3635343332310000" "3131323233330000", "9000"}},
     "", "0020008108" "3131323233330000", false, true},
    {"bank",
     {{"00A4040C07A0000001184543", "9000"}, {"00A4000002D00200", "6F*9000"}, {"00A4000C02C000", "9000"}},
     {{"0020008108" "3939393939390000", "63C2"},
      {"0020008108" "3939393939390000", "63C1"},
      {"0020008108" "3939393939390000", "6983"},
      {"002C018108" "3837363534333231", "9000"},
      {"0024008110" "3132333435360000" "3131323233330000", "9000"}},
     "002281B606800144840102", "0020008108" "3131323233330000", true, false},
};

void PrintTo(const CardType& type, std::ostream* os) { *os << type.profile; }

}  // namespace

TEST_F(PcscBed, ListsTheSimulatedReadersWithAndWithoutPinPad) {
  DWORD length = 0;
  ASSERT_EQ(api().ListReaders(ctx_, nullptr, nullptr, &length), SCARD_S_SUCCESS);
  std::string all(length, '\0');
  ASSERT_EQ(api().ListReaders(ctx_, nullptr, all.data(), &length), SCARD_S_SUCCESS);
  for (std::size_t r : {kPlain, kDirectPad, kPollingPad}) EXPECT_NE(all.find(name(r)), std::string::npos) << name(r);

  Bytes features;
  struct Row {
    std::size_t reader;
    const char* expect;
  } rows[] = {
      {kPlain, ""},
      {kDirectPad, "060442330006" "070442330007"},
      {kPollingPad, "010442330001" "020442330002" "030442330003" "040442330004" "050442330005"},
  };
  for (auto& row : rows) {
    ASSERT_EQ(connect(row.reader, SCARD_SHARE_DIRECT, 0), SCARD_S_SUCCESS);  // no card needed
    EXPECT_EQ(control(CM_IOCTL_GET_FEATURE_REQUEST, {}, features), SCARD_S_SUCCESS);
    EXPECT_EQ(toHex(features), row.expect);
    api().Disconnect(handle_, SCARD_LEAVE_CARD);
    handle_ = 0;
  }
}

TEST_F(PcscBed, EmptyReaderHasNoCard) {
  EXPECT_EQ(connect(kPlain), SCARD_E_NO_SMARTCARD);
  insert(kPlain, "bank");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  api().Disconnect(handle_, SCARD_LEAVE_CARD);
  handle_ = 0;
  bed_->remove(kPlain);
  EXPECT_EQ(connect(kPlain), SCARD_E_NO_SMARTCARD);
}

class PcscCardType : public PcscBed, public testing::WithParamInterface<CardType> {};
INSTANTIATE_TEST_SUITE_P(Types, PcscCardType, testing::ValuesIn(kTypes),
                         [](const auto& info) { return std::string(info.param.profile); });

TEST_P(PcscCardType, SelectReadPinsAndASignatureThatVerifies) {
  const CardType& type = GetParam();
  insert(kPlain, type.profile);
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  CardProfile profile = CardProfile::load(CardProfile::installedPath(type.profile));
  EXPECT_EQ(attribute(SCARD_ATTR_ATR_STRING), profile.atr);
  EXPECT_EQ(attribute(SCARD_ATTR_ICC_PRESENCE), fromHex("02"));

  runScript(sender(), type.toCertificate);
  Bytes certificate = readFile();
  EXPECT_TRUE(cardsimtest::issuedByTestCa(certificate));
  runScript(sender(), type.pins);

  const std::string message = std::string("Signed through pcscd by ") + type.profile;
  Bytes hash = cardsimtest::sha256(message);
  std::vector<Step> sign;
  if (!type.signSetup.empty()) sign.push_back({type.signSetup, "9000"});
  if (type.hashFirst) sign.push_back({"002A908120" + toHex(hash), "9000"});
  sign.push_back({type.verifyPin, "9000"});
  if (type.hashFirst) {
    sign.push_back({"002A9E9A00", "*9000"});
  } else if (type.digestInfo) {
    Bytes di = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + hash;
    sign.push_back({"002A9E9A33" + toHex(di) + "00", "*9000"});
  } else {
    sign.push_back({"002A9E9A20" + toHex(hash) + "00", "*9000"});
  }
  auto answers = runScript(sender(), sign);
  EXPECT_TRUE(cardsimtest::verifySignature(certificate, message, body(answers.back())));
}

TEST_F(PcscBed, ExtendedLengthDecipherGivesTheTlsSignature) {
  insert(kPlain, "dtrust");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  runScript(sender(), {{"00A4000C025015", "9000"}, {"00A4000C02C100", "9000"}});
  Bytes certificate = readFile();
  Bytes di = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + cardsimtest::sha256("client hello");
  Bytes block = fromHex("0001") + Bytes(253 - di.size(), 0xFF) + Bytes{0x00} + di;
  auto answers = runScript(sender(), {
      {"00A40800065015" "50724B01", "9000"},
      {"0020000108" "3132333400000000", "9000"},
      {"002201B803840182", "9000"},
      {"002A8086" "000101" "00" + toHex(block) + "0100", "*9000"},
  });
  ASSERT_EQ(answers.back().size(), 258u);
  EXPECT_TRUE(cardsimtest::verifySignature(certificate, "client hello", body(answers.back())));
}

TEST_F(PcscBed, CardPulledDuringACommand) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kPlain);
  reader.withCard([](cardsim::Card& c) { c.addFault(cardsim::FaultRule::parse("at=1 remove")); });
  Bytes answer;
  // pcsc-lite reports the command that lost its card as "no smart card" ...
  EXPECT_EQ(transmit(fromHex("00A4000C02DF01"), answer), SCARD_E_NO_SMARTCARD);
  EXPECT_FALSE(reader.hasCard());
  bed_->waitForPolls(kPlain);
  // ... and the handle as one whose card was removed, once its poll has seen it.
  EXPECT_EQ(transmit(fromHex("00A4000C02DF01"), answer), SCARD_W_REMOVED_CARD);
  insert(kPlain, "asign");
  EXPECT_EQ(transmit(fromHex("00A4000C02DF01"), answer), SCARD_W_REMOVED_CARD);
}

// PC/SC part 10 structures, written out as a PIN-pad application sends them.
namespace {
// PIN_VERIFY_STRUCTURE, ISO 9564 format 2, 4..12 digits ended with OK, VERIFY for PIN 81.
const char* kVerifyFormat2 = "000A" "894704" "0C04" "02" "01" "0704" "00" "000000" "0D000000"
                             "0020008108" "20FFFFFFFFFFFFFF";
// PIN_MODIFY_STRUCTURE, format 2, old at 0 and new at 8, with confirmation.
const char* kModifyFormat2 = "3C0A" "894704" "00" "08" "0C04" "03" "02" "03" "0704" "000102" "000000" "15000000"
                             "0024008110" "20FFFFFFFFFFFFFF" "20FFFFFFFFFFFFFF";
// PIN_VERIFY_STRUCTURE, ASCII digits padded with 00, exactly 6 digits, VERIFY for PIN 81.
const char* kVerifyAsciiFixed6 = "000A" "020800" "0606" "01" "01" "0704" "00" "000000" "0D000000"
                                 "0020008108" "0000000000000000";
}  // namespace

TEST_F(PcscBed, PinPadDirectVerifyCancelTimeOutAndWrongLength) {
  insert(kDirectPad, "asign");
  ASSERT_EQ(connect(kDirectPad), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kDirectPad);
  const DWORD verifyDirect = 0x42330006;
  struct Row {
    const char* keys;
    std::optional<Bytes> forced;
    const char* answer;
  } rows[] = {
      {"111111 OK", std::nullopt, "63C2"},
      {"12 BS 3456 OK", std::nullopt, "63C1"},  // 13456: one digit rubbed out
      {"123456 OK", std::nullopt, "9000"},
      {"12 CANCEL", std::nullopt, "6401"},
      {"123", std::nullopt, "6400"},  // the user stops typing
      {"123456 OK", Bytes{0x90}, "90"},
  };
  Bytes out;
  for (auto& row : rows) {
    reader.setKeypad(row.keys);
    reader.setPinPadAnswer(row.forced);
    EXPECT_EQ(control(verifyDirect, fromHex(kVerifyFormat2), out), SCARD_S_SUCCESS) << row.keys;
    EXPECT_EQ(toHex(out), row.answer) << row.keys;
  }
  auto records = reader.controlRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().code, verifyDirect);
  EXPECT_EQ(records.back().input, fromHex(kVerifyFormat2));
  // The PIN went to the card as a format-2 block.
  auto log = reader.cardLog();
  bool sent = false;
  for (auto& e : log) sent |= e.command == fromHex("002000810826123456FFFFFFFF");
  EXPECT_TRUE(sent);
}

TEST_F(PcscBed, PinPadDirectModifyAndMismatch) {
  insert(kDirectPad, "asign");
  ASSERT_EQ(connect(kDirectPad), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kDirectPad);
  Bytes out;
  reader.setKeypad("123456 OK 246810 OK 246811 OK");
  ASSERT_EQ(control(0x42330007, fromHex(kModifyFormat2), out), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(out), "6402");
  reader.setKeypad("123456 OK 246810 OK 246810 OK");
  ASSERT_EQ(control(0x42330007, fromHex(kModifyFormat2), out), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(out), "9000");
  reader.withCard([](cardsim::Card& c) { EXPECT_EQ(c.pinValue(0x81), "246810"); });
}

TEST_F(PcscBed, PinPadStartPollFinishWithFixedLength) {
  insert(kPollingPad, "bank");
  ASSERT_EQ(connect(kPollingPad), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kPollingPad);
  reader.setKeypad("1 2 3 4 5 6 OK");
  Bytes out;
  ASSERT_EQ(control(0x42330001, fromHex(kVerifyAsciiFixed6), out), SCARD_S_SUCCESS);
  EXPECT_TRUE(out.empty());
  std::string keys;
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(control(0x42330005, {}, out), SCARD_S_SUCCESS);
    ASSERT_EQ(out.size(), 1u);
    keys += toHex(out);
  }
  EXPECT_EQ(keys, "2B2B2B2B2B2B0000");  // the sixth digit ends the entry
  ASSERT_EQ(control(0x42330002, {}, out), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(out), "9000");
  reader.withCard([](cardsim::Card& c) { EXPECT_TRUE(c.verified(0x81)); });

  reader.setKeypad("1 2 CANCEL");
  ASSERT_EQ(control(0x42330001, fromHex(kVerifyAsciiFixed6), out), SCARD_S_SUCCESS);
  keys.clear();
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(control(0x42330005, {}, out), SCARD_S_SUCCESS);
    keys += toHex(out);
  }
  EXPECT_EQ(keys, "2B2B1B00");
  ASSERT_EQ(control(0x42330002, {}, out), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(out), "6401");
}

TEST_F(PcscBed, PinPadStartPollFinishModify) {
  insert(kPollingPad, "asign");
  ASSERT_EQ(connect(kPollingPad), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kPollingPad);
  reader.setKeypad("123456 OK 112233 OK 112233 OK");
  Bytes out;
  ASSERT_EQ(control(0x42330003, fromHex(kModifyFormat2), out), SCARD_S_SUCCESS);
  std::string keys;
  do {
    ASSERT_EQ(control(0x42330005, {}, out), SCARD_S_SUCCESS);
    keys += toHex(out);
  } while (out == Bytes{0x2B} || out == Bytes{0x0D});
  EXPECT_EQ(keys, "2B2B2B2B2B2B0D" "2B2B2B2B2B2B0D" "2B2B2B2B2B2B0D" "00");
  ASSERT_EQ(control(0x42330004, {}, out), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(out), "9000");
  reader.withCard([](cardsim::Card& c) { EXPECT_EQ(c.pinValue(0x81), "112233"); });
}

TEST_F(PcscBed, UnpoweringTheCardForgetsTheVerifiedPin) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  runScript(sender(), {{"002000810826123456FFFFFFFF", "9000"}, {"00200081", "9000"}});
  DWORD active = 0;
  ASSERT_EQ(api().Reconnect(handle_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &active), SCARD_S_SUCCESS);
  runScript(sender(), {{"00200081", "63C3"}, {"002000810826123456FFFFFFFF", "9000"}});
  ASSERT_EQ(api().Reconnect(handle_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_UNPOWER_CARD, &active),
            SCARD_S_SUCCESS);
  runScript(sender(), {{"00200081", "63C3"}});
  auto log = bed_->reader(kPlain).cardLog();
  std::vector<std::string> events;
  for (auto& e : log)
    if (e.event != "apdu") events.push_back(e.event);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.back(), "power-on");  // unpowered, then powered again
}

TEST_F(PcscBed, CardFaultsAsAnApplicationSeesThem) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  auto& reader = bed_->reader(kPlain);
  struct Row {
    const char* fault;
    LONG rc;
    std::size_t length;
  } rows[] = {
      {"at=1 sw=6A83", SCARD_S_SUCCESS, 2},
      {"at=1 short=1", SCARD_S_SUCCESS, 1},
      {"at=1 oversize=300", SCARD_S_SUCCESS, 302},
      {"at=1 mute", SCARD_E_NOT_TRANSACTED, 0},
      {"at=1 delay=50", SCARD_S_SUCCESS, 2},
  };
  for (auto& row : rows) {
    reader.withCard([&](cardsim::Card& c) { c.addFault(cardsim::FaultRule::parse(row.fault)); });
    Bytes answer;
    EXPECT_EQ(transmit(fromHex("00A4000C023F00"), answer), row.rc) << row.fault;
    EXPECT_EQ(answer.size(), row.length) << row.fault;
  }
}
