// The five card types on simulated cards: every signature the type makes is
// checked with OpenSSL against the certificate of the key that made it; PIN
// tables with what the card received (no security command after a PIN failure).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "VariantSupport.h"
#include "cardvariant/CSCard_BankCard.h"
#include "cardvariant/CSCard_DTrust.h"
#include "cardvariant/CSCard_OCard.h"
#include "cardvariant/CSCard_TrustSign.h"

namespace {

using namespace varianttest;
using cardvariant::CSCard;

constexpr int kWrongPinTwoLeft = static_cast<int>(0x80020002u);
constexpr int kBlocked = static_cast<int>(0x80020300u);

// True when no command after the index-th starts with one of the prefixes.
bool noneAfter(const std::vector<std::string>& commands, size_t index, const std::vector<std::string>& prefixes) {
  for (size_t i = index; i < commands.size(); ++i)
    for (const std::string& p : prefixes)
      if (commands[i].compare(0, p.size(), p) == 0) return false;
  return true;
}

const std::vector<std::string> kSecurityCommands = {"0022", "002A", "0088"};

struct Signature {
  int result;
  std::string value;
};

Signature sign(CSCard& card, int kid, const std::string& parameter, int hashAlg, const std::string* pin, bool ssl,
               const std::string& message) {
  Signature s{card.signInit(kid, parameter, hashAlg), {}};
  if (s.result != 0) return s;
  card.signUpdate(message.substr(0, 5));
  card.signUpdate(message.substr(5));
  s.result = pin ? card.signFinal(kid, pin, s.value, ssl ? 1 : 0) : card.signFinal(kid, s.value, ssl ? 1 : 0);
  return s;
}

const std::string kMessage = "The quick brown fox signs a document.";

// --- D-Trust ---

TEST(DTrust, SignsBothWaysForEveryHash) {
  for (int alg : {1, 2, 3}) {
    SimChannel channel(profile("dtrust-plugin"));
    cardvariant::CSCard_DTrust card(&channel, nullptr, "", alg);
    const std::string pin = "12345678";
    Signature normal = sign(card, 0x81, "", alg, &pin, false, kMessage);
    ASSERT_EQ(normal.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("dtrust-sig"), normal.value), digestInfo(alg, digest(alg, kMessage))) << alg;

    const std::string cardPin = "1234";
    const size_t before = channel.commands().size();
    Signature tls = sign(card, 0x01, bytes("840182"), alg, &cardPin, true, kMessage);
    ASSERT_EQ(tls.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("dtrust-aut"), tls.value), digestInfo(alg, digest(alg, kMessage))) << alg;
    // MSE for deciphering in the current directory, then the extended DECIPHER.
    const std::vector<std::string> sent = channel.commands();
    ASSERT_EQ(sent.size(), before + 3);
    EXPECT_EQ(sent[before + 1], "002201B803840182");
    EXPECT_EQ(sent[before + 2].substr(0, 20), "002A8086000101000001");
    EXPECT_EQ(sent[before + 2].substr(sent[before + 2].size() - 4), "0100");
  }
}

TEST(DTrust, PinTableAndCardNumber) {
  SimChannel channel(profile("dtrust-plugin"));
  cardvariant::CSCard_DTrust card(&channel, nullptr, "", 2);
  const std::string wrong = "999999";
  Signature s = sign(card, 0x81, "", 2, &wrong, false, kMessage);
  EXPECT_EQ(s.result, kWrongPinTwoLeft);
  const std::string empty;
  s = sign(card, 0x81, "", 2, &empty, false, kMessage);
  EXPECT_EQ(s.result, static_cast<int>(0x80020001u));
  EXPECT_EQ(channel.commands().back(), "0020008108" + std::string(16, '0'));
  s = sign(card, 0x81, "", 2, &wrong, false, kMessage);
  EXPECT_EQ(s.result, kBlocked);
  s = sign(card, 0x81, "", 2, &wrong, false, kMessage);
  EXPECT_EQ(s.result, kBlocked);
  EXPECT_TRUE(noneAfter(channel.commands(), 0, kSecurityCommands));
  // Unblocked with the code alone.
  EXPECT_EQ(card.unblockPIN(0x81, "23456789", 0x00), 0);
  EXPECT_EQ(channel.commands().back(), "002C018108" + hex("23456789"));
  const std::string pin = "12345678";
  EXPECT_EQ(sign(card, 0x81, "", 2, &pin, false, kMessage).result, 0);

  char cin[CSCard::kCINLength + 1] = {};
  cin[CSCard::kCINLength] = '#';
  EXPECT_EQ(card.getCIN(cin), 0);
  EXPECT_EQ(std::string(cin, CSCard::kCINLength), "0123456789abcdef");
  EXPECT_EQ(cin[CSCard::kCINLength], '#');  // no terminating zero

  // A number file that is not there, and one that ends early: the buffer stays as it was.
  std::fill(cin, cin + CSCard::kCINLength, 'x');
  channel.card().addFault(cardsim::FaultRule::parse("match=00A4000002D001 sw=6A82"));
  EXPECT_EQ(card.getCIN(cin), static_cast<int>(0x80016A82u));
  cardsim::CardProfile shortFile = profile("dtrust-plugin");
  shortFile.file({0x3F00, 0xDF71, 0xD001})->content.resize(4);
  SimChannel shortChannel(shortFile);
  cardvariant::CSCard_DTrust shortCard(&shortChannel, nullptr, "", 2);
  EXPECT_EQ(shortCard.getCIN(cin), static_cast<int>(0x80040001u));
  EXPECT_EQ(std::string(cin, CSCard::kCINLength), std::string(CSCard::kCINLength, 'x'));
}

TEST(DTrust, PinsOfEveryLengthGoPaddedOrAreRefusedUnsent) {
  SimChannel channel(profile("dtrust-plugin"));
  cardvariant::CSCard_DTrust card(&channel, nullptr, "", 2);
  struct Row {
    size_t length;
    std::string sentData;  // hex of the VERIFY data; empty: nothing sent
    int result;
  };
  const std::vector<Row> rows = {
      {0, std::string(16, '0'), kWrongPinTwoLeft},
      {4, hex("1111") + "00000000", static_cast<int>(0x80020001u)},
      {8, "", 0},  // the right PIN resets the counter
      {9, hex(std::string(9, '1')), static_cast<int>(0x80016700u)},
      {255, hex(std::string(255, '1')), static_cast<int>(0x80016700u)},
      {256, "", static_cast<int>(0x80000001u)},
      {5000, "", static_cast<int>(0x80000001u)},
  };
  for (const Row& row : rows) {
    const size_t before = channel.commands().size();
    const std::string pin = row.length == 8 ? "12345678" : std::string(row.length, '1');
    EXPECT_EQ(card.verifyPIN(0x81, pin, 0x00), row.result) << row.length;
    if (row.length == 8) continue;
    if (row.sentData.empty()) {
      EXPECT_EQ(channel.commands().size(), before) << row.length;
    } else {
      ASSERT_EQ(channel.commands().size(), before + 1) << row.length;
      EXPECT_EQ(channel.commands().back().substr(10), row.sentData) << row.length;
    }
  }
  // An unblocking code that cannot be sent: refused unsent as well.
  const size_t before = channel.commands().size();
  EXPECT_EQ(card.unblockPIN(0x81, std::string(300, '2'), 0x00), static_cast<int>(0x80000001u));
  EXPECT_EQ(channel.commands().size(), before);
}

// --- OCard and ECard ---

TEST(OCard, SignsWithTheHashObjectForSha1AndSha256) {
  for (int alg : {1, 2}) {
    SimChannel channel(profile("asign"));
    cardvariant::CSCard_OCard card(&channel, nullptr, "", alg);
    const std::string pin = "123456";
    const std::string parameter = bytes(alg == 1 ? "800110840102" : "800140840102");
    Signature s = sign(card, 0x81, parameter, alg, &pin, false, kMessage);
    ASSERT_EQ(s.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("asign-sig"), s.value), digestInfo(alg, digest(alg, kMessage))) << alg;
    const std::string hash = digest(alg, kMessage);
    const std::vector<std::string> expected = {
        "002241B606" + hex(parameter),
        "002A90A0" + hex(std::string(1, static_cast<char>(hash.size() + 2))) + "90" +
            hex(std::string(1, static_cast<char>(hash.size()))) + hex(hash),
        "0020008108" + std::string("26123456FFFFFFFF"), "002A9E9A00"};
    EXPECT_EQ(channel.commands(), expected) << alg;
  }
}

TEST(ECard, RefusesSha256AndUnblockingUnsent) {
  SimChannel channel(profile("ecardg4"));
  cardvariant::CSCard_ECard card(&channel, nullptr, "", 1);
  EXPECT_EQ(card.signInit(0x81, bytes("800140840102"), 2), static_cast<int>(0x80080001u));
  EXPECT_EQ(card.unblockPIN(0x81, bytes("12345678"), bytes("123456"), 0), static_cast<int>(0x80000001u));
  EXPECT_TRUE(channel.commands().empty());
  const std::string pin = "123456";
  Signature s = sign(card, 0x81, bytes("800110840102"), 1, &pin, false, kMessage);
  ASSERT_EQ(s.result, 0);
  EXPECT_EQ(recoverSigned(certificate("ecardg4-sig"), s.value), digestInfo(1, digest(1, kMessage)));
  EXPECT_EQ(card.getCardType(), 2);
}

TEST(OCard, PinBlocksAndTheirAnswers) {
  SimChannel channel(profile("asign"));
  cardvariant::CSCard_OCard card(&channel, nullptr, "", 1);
  struct Row {
    const char* what;
    std::function<int()> call;
    std::string sent;  // empty: nothing sent
    int result;
  };
  const std::vector<Row> rows = {
      {"five digits, wrong", [&] { return card.verifyPIN(0x81, "12345", 0); }, "00200081082512345FFFFFFFFF", kWrongPinTwoLeft},
      {"retry query", [&] { return card.verifyPIN(0x81, "", 0); }, "00200081", kWrongPinTwoLeft},
      {"fifteen digits", [&] { return card.verifyPIN(0x81, "123456789012345", 0); }, "", static_cast<int>(0x80000001u)},
      {"change 4 to 6 digits", [&] { return card.changeReferenceData(0x01, "1234", "654321", 0); },
       "00240001102412 34FFFFFFFFFF26654321FFFFFFFF", 0},
      {"unblock: 8-digit code, 5-digit PIN", [&] { return card.unblockPIN(0x01, bytes("87654321"), bytes("13579F"), 0); },
       "002C0001102887654321FFFFFF2513579FFFFFFFFF", 0},
      {"unblock: empty PIN", [&] { return card.unblockPIN(0x81, bytes("12345678"), "", 0); }, "",
       static_cast<int>(0x80000001u)},
      {"unblock: 8 packed bytes", [&] { return card.unblockPIN(0x81, bytes("1234567812345678"), bytes("1234"), 0); },
       "", static_cast<int>(0x80000001u)},
      {"activate: 16 digits", [&] { return card.activatePIN(0x81, bytes("1234"), 16); }, "", static_cast<int>(0x80000001u)},
      {"verify the new PIN", [&] { return card.verifyPIN(0x01, "13579", 0); }, "00200001082513579FFFFFFFFF", 0},
  };
  for (const Row& row : rows) {
    const size_t before = channel.commands().size();
    EXPECT_EQ(row.call(), row.result) << row.what;
    std::string expected = row.sent;
    expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
    if (expected.empty()) EXPECT_EQ(channel.commands().size(), before) << row.what;
    else EXPECT_EQ(channel.commands().back(), expected) << row.what;
  }
}

TEST(OCard, ActivatesATransportPin) {
  cardsim::CardProfile p = profile("asign");
  for (auto& pin : p.pins)
    if (pin.ref == 0x01) pin.transport = true;
  SimChannel channel(p);
  cardvariant::CSCard_OCard card(&channel, nullptr, "", 1);
  EXPECT_EQ(card.verifyPIN(0x01, "1234", 0), static_cast<int>(0x80016984u));
  EXPECT_EQ(card.activatePIN(0x01, bytes("13579F"), 5), 0);
  EXPECT_EQ(channel.commands().back(), "002401010825" "13579FFFFFFFFF");
  EXPECT_EQ(card.verifyPIN(0x01, "13579", 0), 0);
}

TEST(OCard, RecordFilesReadRecordByRecordToTheEnd) {
  SimChannel channel(profile("asign"));
  cardvariant::CSCard_OCard card(&channel, nullptr, "", 1);
  ASSERT_EQ(card.changeDirectory(cardvariant::CFID(bytes("DF01"))), 0);
  const int handle = card.open(cardvariant::CFID(bytes("5031")));
  ASSERT_GE(handle, 0);
  const std::vector<cardsim::Bytes> records = channel.card().fileRecords({0x3F00, 0xDF01, 0x5031});
  for (size_t i = 0; i < records.size(); ++i) {
    std::string out;
    EXPECT_EQ(card.read(handle, out, 0x04), static_cast<int>(records[i].size()));
    EXPECT_EQ(out, std::string(records[i].begin(), records[i].end()));
    EXPECT_EQ(channel.commands().back(), "00B2" + hex(std::string(1, static_cast<char>(i + 1))) + "0400");
  }
  std::string out;
  EXPECT_EQ(card.read(handle, out, 0x04), static_cast<int>(0x80040001u));
}

// --- bank card ---

TEST(BankCard, GenerationsAndTheirHashAlgorithms) {
  struct Row {
    const char* profile;
    int recognised, afterwards, generation;
  };
  for (const Row& row : {Row{"bank", 3, 2, 2}, Row{"bank", 1, 1, 2}, Row{"bank1", 3, 3, 1}}) {
    SimChannel channel(profile(row.profile));
    cardvariant::CSCard_BankCard card(&channel, nullptr, "", row.recognised);
    EXPECT_EQ(card.getHashAlg(), row.afterwards) << row.profile << row.recognised;
    EXPECT_EQ(card.getGeneration(), row.generation) << row.profile;
  }
}

TEST(BankCard, SecurityEnvironmentRulesAndBothSignatures) {
  const std::string refused = bytes("800114840188");
  {
    SimChannel channel(profile("bank1"));
    cardvariant::CSCard_BankCard card(&channel, nullptr, "", 3);
    const size_t before = channel.commands().size();
    EXPECT_EQ(card.signInit(0x81, refused, 2), static_cast<int>(0x80080001u));
    EXPECT_EQ(channel.commands().size(), before);
    EXPECT_EQ(card.signInit(0x81, refused, 1), 0);
    EXPECT_EQ(channel.commands().back(), "002281B606800114840188");
    // The parameter counts to its first zero byte: the same refusal.
    EXPECT_EQ(card.signInit(0x81, refused + std::string(1, '\0') + "\x07", 2), static_cast<int>(0x80080001u));
    const std::string pin = "123456";
    Signature s = sign(card, 0x81, bytes("800114840102"), 1, &pin, false, kMessage);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(recoverSigned(certificate("bank-sig"), s.value), digestInfo(1, digest(1, kMessage)));
  }
  SimChannel channel(profile("bank"));
  cardvariant::CSCard_BankCard card(&channel, nullptr, "", 3);
  EXPECT_EQ(card.signInit(0x81, refused, 2), 0);
  EXPECT_EQ(channel.commands().back(), "002281B606800144840188");
  for (int alg : {1, 2}) {
    const std::string pin = "123456";
    Signature s = sign(card, 0x81, bytes("800114840102"), alg, &pin, false, kMessage);
    ASSERT_EQ(s.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("bank-sig"), s.value), digestInfo(alg, digest(alg, kMessage))) << alg;
    const std::string cardPin = "1234";
    s = sign(card, 0x01, bytes("800114840103"), alg, &cardPin, true, kMessage);
    ASSERT_EQ(s.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("bank-aut"), s.value), digestInfo(alg, digest(alg, kMessage))) << alg;
    // The TLS environment is the caller's parameter, not the rewritten one.
    const std::vector<std::string> sent = channel.commands();
    EXPECT_EQ(sent[sent.size() - 2], "002241A406800114840103");
    EXPECT_EQ(sent.back().substr(0, 8), "00881000");
  }
  // A card that refuses the environment: signInit still succeeds.
  channel.card().addFault(cardsim::FaultRule::parse("match=002281B6 sw=6A80"));
  EXPECT_EQ(card.signInit(0x81, bytes("800114840102"), 2), 0);
}

TEST(BankCard, PinsAndCardNumber) {
  SimChannel channel(profile("bank"));
  cardvariant::CSCard_BankCard card(&channel, nullptr, "", 2);
  const std::string wrong = "111111";
  EXPECT_EQ(sign(card, 0x81, bytes("800114840102"), 2, &wrong, false, kMessage).result, kWrongPinTwoLeft);
  const std::vector<std::string> sent = channel.commands();
  // PSO HASH comes before the PIN on this card; nothing after the failed VERIFY.
  EXPECT_EQ(sent.back().substr(0, 10), "0020008108");
  EXPECT_EQ(card.unblockPIN(0x81, "87654321", 0), 0);
  char cin[CSCard::kCINLength];
  EXPECT_EQ(card.getCIN(cin), 0);
  EXPECT_EQ(std::string(cin, sizeof cin), "0123456789abcdef");
}

// --- TrustSign ---

TEST(TrustSign, SignsInItsOrderAndByInternalAuthenticate) {
  for (int alg : {1, 2}) {
    SimChannel channel(profile("trustsign"));
    cardvariant::CSCard_TrustSign card(&channel, nullptr, "", alg);
    const std::string pin = "123456";
    Signature s = sign(card, 0x81, bytes("800111840182"), alg, &pin, false, kMessage);
    ASSERT_EQ(s.result, 0) << alg;
    EXPECT_EQ(recoverSigned(certificate("trustsign-sig"), s.value), digestInfo(alg, digest(alg, kMessage))) << alg;
    const std::vector<std::string> expected = {
        "002A9081" + hex(std::string(1, static_cast<char>(digest(alg, kMessage).size()))) + hex(digest(alg, kMessage)),
        "0020008108" + hex(pin) + "0000",
        std::string("002281B6068001") + (alg == 1 ? "12" : "22") + "840182", "002A9E9A00"};
    EXPECT_EQ(channel.commands(), expected) << alg;
  }
  SimChannel channel(profile("trustsign"));
  cardvariant::CSCard_TrustSign card(&channel, nullptr, "", 1);
  const std::string pin = "1234";
  Signature s = sign(card, 0x93, bytes("800111840193"), 1, &pin, true, kMessage);
  ASSERT_EQ(s.result, 0);
  EXPECT_EQ(recoverSigned(certificate("trustsign-aut"), s.value), digestInfo(1, digest(1, kMessage)));
  const std::vector<std::string> sent = channel.commands();
  EXPECT_EQ(sent[1], "002241A406800111840193");  // the workaround keeps the parameter
  EXPECT_EQ(sent[2], "0088100023" + hex(digestInfo(1, digest(1, kMessage))) + "00");
}

TEST(TrustSign, AWrongPinSendsNoEnvironment) {
  SimChannel channel(profile("trustsign"));
  cardvariant::CSCard_TrustSign card(&channel, nullptr, "", 2);
  const std::string wrong = "000000";
  EXPECT_EQ(sign(card, 0x81, bytes("800111840182"), 2, &wrong, false, kMessage).result, kWrongPinTwoLeft);
  EXPECT_EQ(sign(card, 0x81, bytes("800111840182"), 2, &wrong, true, kMessage).result,
            static_cast<int>(0x80020001u));
  const std::vector<std::string> sent = channel.commands();
  EXPECT_TRUE(noneAfter(sent, 1, {"0022", "002A9E", "0088"}));
  EXPECT_EQ(card.unblockPIN(0x81, "12345678", "654321", 0x00), 0);
  EXPECT_EQ(channel.commands().back(), "002C008110" + hex("12345678") + hex("654321") + "0000");
  const std::string pin = "654321";
  EXPECT_EQ(sign(card, 0x81, bytes("800111840182"), 2, &pin, false, kMessage).result, 0);
}

TEST(TrustSign, PublicKeysAndCardNumber) {
  SimChannel channel(profile("trustsign"));
  cardvariant::CSCard_TrustSign card(&channel, nullptr, "", 2);
  for (const auto& [number, keyName] : {std::pair<int, const char*>{2, "trustsign-sig"}, {3, "trustsign-aut"}}) {
    std::string modulus, exponent;
    ASSERT_EQ(card.getPublicKey(modulus, exponent, number), 0) << keyName;
    const std::string profilePath = cardsim::CardProfile::installedPath("trustsign");
    const std::string keyFile = profilePath.substr(0, profilePath.find_last_of('/')) + "/keys/" + keyName + ".key";
    const cardsim::Bytes m = cardsim::RsaKey::fromPemFile(keyFile).modulus();
    EXPECT_EQ(modulus, std::string(m.begin(), m.end())) << keyName;
    EXPECT_EQ(hex(exponent), "010001") << keyName;
  }
  std::string modulus, exponent;
  EXPECT_EQ(card.getPublicKey(modulus, exponent, 0x55), 0);
  EXPECT_TRUE(modulus.empty() && exponent.empty());

  char cin[CSCard::kCINLength];
  const size_t before = channel.commands().size();
  EXPECT_EQ(card.getCIN(cin), 0);
  EXPECT_EQ(std::string(cin, sizeof cin), "a1b2c3d4e5f60718");
  // Its files end in 6B00: read for the 17 bytes its control information names, not past them.
  std::vector<std::string> reads;
  for (size_t i = before; i < channel.commands().size(); ++i)
    if (channel.commands()[i].rfind("00B0", 0) == 0) reads.push_back(channel.commands()[i]);
  EXPECT_EQ(reads, std::vector<std::string>{"00B0000011"});
  // Ten bytes hold no number.
  cardsim::CardProfile shortFile = profile("trustsign");
  shortFile.file({0x3F00, 0x2F02})->content.resize(10);
  SimChannel shortChannel(shortFile);
  cardvariant::CSCard_TrustSign shortCard(&shortChannel, nullptr, "", 2);
  std::fill(cin, cin + sizeof cin, 'x');
  EXPECT_NE(shortCard.getCIN(cin), 0);
  EXPECT_EQ(std::string(cin, sizeof cin), std::string(sizeof cin, 'x'));
}

TEST(TrustSign, SignInitRewritesOrKeepsTheParameter) {
  SimChannel channel(profile("trustsign"));
  cardvariant::CSCard_TrustSign card(&channel, nullptr, "", 2);
  struct Row {
    int kid, alg;
    std::string expected;
  };
  for (const Row& row : {Row{0x93, 2, "800111840193"}, Row{0x81, 2, "800122840193"}, Row{0x81, 1, "800112840193"},
                         Row{0x81, 3, "800122840193"}}) {
    EXPECT_EQ(card.signInit(row.kid, bytes("800111840193"), row.alg), 0);
    EXPECT_EQ(hex(card.getSignParameter()), row.expected) << row.kid << " " << row.alg;
  }
  EXPECT_TRUE(channel.commands().empty());
}

}  // namespace
