// The simulated cards, in process: what a card of each type answers.
#include "apdu_script.h"
#include "cardsim/card.h"
#include "crypto_check.h"

#include <gtest/gtest.h>

using cardsim::Bytes;
using cardsim::Card;
using cardsim::CardAnswer;
using cardsim::CardProfile;
using cardsim::CommandApdu;
using cardsim::FaultRule;
using cardsim::fromHex;
using cardsim::toHex;
using cardsim::operator+;
using cardsimtest::runScript;
using cardsimtest::Step;

namespace {

Card poweredCard(const std::string& name) {
  Card card(CardProfile::load(CardProfile::installedPath(name)));
  card.powerOn();
  return card;
}

auto sender(Card& card) {
  return [&card](const Bytes& c) { return card.transmit(c).bytes; };
}

Bytes send(Card& card, const std::string& hex) { return card.transmit(fromHex(hex)).bytes; }

Bytes body(const Bytes& answer) { return Bytes(answer.begin(), answer.end() - 2); }

std::string lc(const Bytes& b) { return toHex(Bytes{static_cast<std::uint8_t>(b.size())}); }

// Reads a whole transparent file the way a terminal does: chunks of 128 until 6282 or 6B00.
Bytes readFile(Card& card, const std::string& selectFid) {
  EXPECT_EQ(send(card, "00A4020C02" + selectFid), fromHex("9000"));
  Bytes out;
  for (std::size_t offset = 0;; offset += 128) {
    Bytes answer = send(card, "00B0" + toHex(Bytes{static_cast<std::uint8_t>(offset >> 8),
                                                   static_cast<std::uint8_t>(offset)}) + "80");
    auto sw = cardsim::statusWord(answer);
    if (sw == 0x6B00) break;
    out.insert(out.end(), answer.begin(), answer.end() - 2);
    if (sw != 0x9000) break;
  }
  return out;
}

}  // namespace

TEST(CommandApdu, ParsesEveryCaseShortAndExtended) {
  struct Row {
    const char* bytes;
    bool ok;
    std::size_t lc;
    long ne;  // -1: none
    bool extended;
  } rows[] = {
      {"00A40000", true, 0, -1, false},
      {"00B0000000", true, 0, 256, false},
      {"00B0000010", true, 0, 16, false},
      {"00A4000C023F00", true, 2, -1, false},
      {"00A4000402C00000", true, 2, 256, false},
      {"00B00000000100", true, 0, 256, true},
      {"00B00000000000", true, 0, 65536, true},
      {"002A8086000003010203", true, 3, -1, true},
      {"002A8086000003010203" "0100", true, 3, 256, true},
      {"00A4", false, 0, -1, false},
      {"00A4000C0300", false, 0, -1, false},
      {"00A400000000", false, 0, -1, false},
      {"00A40000000000020102", false, 0, -1, false},
  };
  for (auto& r : rows) {
    auto a = CommandApdu::parse(fromHex(r.bytes));
    ASSERT_EQ(a.has_value(), r.ok) << r.bytes;
    if (!r.ok) continue;
    EXPECT_EQ(a->data.size(), r.lc) << r.bytes;
    EXPECT_EQ(a->ne ? static_cast<long>(*a->ne) : -1L, r.ne) << r.bytes;
    EXPECT_EQ(a->extended, r.extended) << r.bytes;
    EXPECT_EQ(a->encode(), fromHex(r.bytes)) << r.bytes;
  }
}

class MseCard : public testing::TestWithParam<const char*> {};
INSTANTIATE_TEST_SUITE_P(Types, MseCard, testing::Values("asign", "ecardg4", "ecardng"));

TEST_P(MseCard, SelectsWithFcpAndReadsFilesAndRecords) {
  Card card = poweredCard(GetParam());
  Bytes cert = card.fileContent({0x3F00, 0xDF01, 0xC000});
  ASSERT_GT(cert.size(), 300u);
  std::string size = toHex(Bytes{static_cast<std::uint8_t>(cert.size() >> 8), static_cast<std::uint8_t>(cert.size())});
  runScript(sender(card), {
      {"00A4000C02DF01", "9000"},
      {"00A4020402C00000", "620E820101" "8002" + size + "8302C0008A0105" "9000"},
      {"00A4020402503100", "62*9000"},
      {"00A4020C025031", "9000"},
      {"00B2010400", "A00A300804062A8648CE3D0301" "9000"},
      {"00B2030400", toHex(Bytes{'Q', 'u', 'a', 'r', 'v', 'e', 'l'}) + "9000"},
      {"00B2040400", "6A83"},
      {"00B0000010", "6981"},
      {"00A4020402999900", "6A82"},
      {"00A4020402DF0100", "6A82"},  // P1 02 selects elementary files only
      {"00A4020C02C000", "9000"},
      {"00B2010400", "6981"},
      {"00B0" + toHex(Bytes{static_cast<std::uint8_t>(cert.size() >> 8), static_cast<std::uint8_t>(cert.size())}) + "10",
       "6B00"},
  });
  EXPECT_EQ(readFile(card, "C000"), cert);
  EXPECT_TRUE(cardsimtest::issuedByTestCa(cert));
}

TEST_P(MseCard, PinTriesBlockingUnblockAndChange) {
  Card card = poweredCard(GetParam());
  runScript(sender(card), {
      {"00200081", "63C3"},
      {"002000810824" "1234FFFFFFFFFF", "63C2"},
      {"0020008108261234560FFFFFFF", "6A80"},  // not a format-2 block: no try spent
      {"00200081", "63C2"},
      {"0020008108261234FFFFFFFFFF", "6A80"},  // length nibble says 6, only 4 digits
      {"002000810826" "123457FFFFFFFF", "63C1"},
      {"002000810826" "123457FFFFFFFF", "6983"},
      {"002000810826" "123456FFFFFFFF", "6983"},  // blocked: the right PIN no longer helps
      {"00200081", "6983"},
      {"002C00811028" "87654321FFFFFF" "26654321FFFFFFFF", "63C9"},
      {"002C00811028" "12345678FFFFFF" "26654321FFFFFFFF", "9000"},
      {"00200081", "63C3"},
      {"002000810826" "654321FFFFFFFF", "9000"},
      {"00200081", "9000"},
      {"002400811026" "654321FFFFFFFF" "26111111FFFFFFFF", "9000"},
      {"002000810826" "654321FFFFFFFF", "63C2"},
      {"002000810826" "111111FFFFFFFF", "9000"},
      {"002400811026" "111111FFFFFFFF" "24" "1234FFFFFFFFFF", "6A80"},  // the signature PIN has at least 6 digits
      {"00240181082611" "1111FFFFFFFF", "6985"},  // activation is for a PIN in transport state only
      {"00200099", "6A88"},
      {"00200181", "6A86"},
  });
  EXPECT_EQ(card.pinValue(0x81), "111111");
}

TEST_P(MseCard, TransportPinIsActivatedByNewReferenceDataAlone) {
  CardProfile profile = CardProfile::load(CardProfile::installedPath(GetParam()));
  for (auto& pin : profile.pins) pin.transport = true;
  Card card(profile);
  card.powerOn();
  runScript(sender(card), {
      {"002000810826" "123456FFFFFFFF", "6984"},
      {"002401810826" "246810FFFFFFFF", "9000"},
      {"002000810826" "246810FFFFFFFF", "9000"},
      {"002401810826" "135790FFFFFFFF", "6985"},
  });
}

TEST_P(MseCard, SignatureNeedsThePinEachTimeAndVerifiesAgainstTheCertificate) {
  Card card = poweredCard(GetParam());
  Bytes cert = card.fileContent({0x3F00, 0xDF01, 0xC000});
  const std::string message = "Quarvel signs this.";
  Bytes hash = cardsimtest::sha256(message);
  Bytes digestInfo = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + hash;
  auto answers = runScript(sender(card), {
      {"0022 41B6 06 840102 800140", "9000"},
      {"002A9E9A20" + toHex(hash) + "00", "6982"},
      {"002000810826" "123456FFFFFFFF", "9000"},
      {"002A9E9A20" + toHex(hash) + "00", "*9000"},
      {"002A9E9A20" + toHex(hash) + "00", "6982"},  // the signature PIN counts for one signature
      {"002000810826" "123456FFFFFFFF", "9000"},
      {"002A9E9A33" + toHex(digestInfo) + "00", "*9000"},
      {"002000810826" "123456FFFFFFFF", "9000"},
      {"002A9E9A1F" + toHex(Bytes(hash.begin(), hash.end() - 1)) + "00", "6A80"},
      {"0022 41B6 03 840103", "6A80"},  // the decipher key cannot sign
      {"0022 41B6 03 840177", "6A88"},
  });
  EXPECT_EQ(answers[3].size(), 258u);
  EXPECT_TRUE(cardsimtest::verifySignature(cert, message, body(answers[3])));
  EXPECT_TRUE(cardsimtest::verifySignature(cert, message, body(answers[6])));
}

TEST_P(MseCard, Sha1SignatureByAlgorithmReference) {
  Card card = poweredCard(GetParam());
  Bytes cert = card.fileContent({0x3F00, 0xDF01, 0xC000});
  Bytes hash = cardsimtest::sha1("short");
  auto answers = runScript(sender(card), {
      {"002241B606840102800110", "9000"},
      {"002000810826123456FFFFFFFF", "9000"},
      {"002A9E9A14" + toHex(hash) + "00", "*9000"},
  });
  EXPECT_TRUE(cardsimtest::verifySignature(cert, "short", body(answers[2]), "SHA1"));
}

TEST_P(MseCard, DeciphersPkcs1WithTheDecipherKey) {
  Card card = poweredCard(GetParam());
  Bytes plain = fromHex("00112233445566778899AABBCCDDEEFF");
  Bytes crypt = cardsimtest::encryptFor(card.fileContent({0x3F00, 0xDF01, 0xC001}), plain);
  Bytes field = Bytes{0x81} + crypt;
  runScript(sender(card), {
      {"002241B803840103", "9000"},
      {"002A8086" + lc(field) + toHex(field) + "00", "6982"},
      {"00200001082" "41234FFFFFFFFFF", "9000"},
      {"002A8086" + lc(field) + toHex(field) + "00", toHex(plain) + "9000"},
      {"002A8086" + lc(field) + toHex(field), "9000"},  // without Le the card returns no data
  });
}

// The empty signature template puts back the key current after power-on: the
// profile's second signature key, not the one of the certificate in C000.
TEST(EcardngCard, HashTemplateAndEmptySignTemplateAreAccepted) {
  Card card = poweredCard("ecardng");
  Bytes hash = cardsimtest::sha256("ng");
  auto answers = runScript(sender(card), {
      {"002241B600", "9000"},
      {"002241AA03800140", "9000"},
      {"002000810826123456FFFFFFFF", "9000"},
      {"002A90A0229020" + toHex(hash), "9000"},
      {"002A9E9A00", "*9000"},  // signs the hash given before
  });
  EXPECT_TRUE(cardsimtest::verifySignature(cardsimtest::keyCertificate("second-sig"), "ng", body(answers[4])));
  EXPECT_FALSE(cardsimtest::verifySignature(card.fileContent({0x3F00, 0xDF01, 0xC000}), "ng", body(answers[4])));
}

TEST(DTrustCard, FciSelectionAndPathSelection) {
  Card card = poweredCard("dtrust");
  runScript(sender(card), {
      {"00A40000025015" "00", "6F*9000"},
      {"00A4000002C00000", "6F*82010183 02C000" "9000"},
      {"00A4000C02C100", "9000"},
      {"00A4000002440100", "6F*9000"},
      {"00B2020400", "01020304059000"},
      {"00B2030400", "6A83"},
      {"00A40800065015" "50724B01", "9000"},
      {"00A4000C024401", "6A82"},  // not reachable from the key directory
      {"00A40800065015" "50724B02", "6A82"},
  });
}

TEST(DTrustCard, PaddedPinsAndAllZeroBlock) {
  Card card = poweredCard("dtrust");
  runScript(sender(card), {
      {"0020000108" "31323334" "00000000", "9000"},
      {"0020008108" "0000000000000000", "63C2"},
      {"0020008106" "313233343536", "6700"},
      {"0020008108" "313233343536" "0000", "9000"},
      {"0024008110" "3132333435360000" "3635343332310000", "9000"},
      {"0020008108" "363534333231" "0000", "9000"},
  });
}

TEST(DTrustCard, TlsSignatureIsARawDecipherOfAPaddedBlockInTheKeyDirectory) {
  Card card = poweredCard("dtrust");
  const std::string message = "TLS handshake";
  Bytes digestInfo = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + cardsimtest::sha256(message);
  Bytes block(253 - digestInfo.size(), 0xFF);
  block = fromHex("0001") + block + Bytes{0x00} + digestInfo;
  ASSERT_EQ(block.size(), 256u);
  std::string decipher = "002A8086" "000101" "00" + toHex(block) + "0100";
  auto answers = runScript(sender(card), {
      {"002201B803840182", "6A88"},  // the authentication key lives in 5015/5072/4B01
      {"00A40800065015" "50724B01", "9000"},
      {"0020000108" "3132333400000000", "9000"},
      {"002201B803840182", "9000"},
      {decipher, "*9000"},
  });
  ASSERT_EQ(answers[4].size(), 258u);
  EXPECT_TRUE(cardsimtest::verifySignature(card.fileContent({0x3F00, 0x5015, 0xC100}), message, body(answers[4])));

  Card shortOnly = poweredCard("asign");
  EXPECT_EQ(send(shortOnly, decipher), fromHex("6700"));  // no extended length on that card
}

TEST(DTrustCard, SignatureOverDigestInfo) {
  Card card = poweredCard("dtrust");
  Bytes digestInfo = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + cardsimtest::sha256("doc");
  auto answers = runScript(sender(card), {
      {"0020008108" "3132333435360000", "9000"},
      {"002A9E9A33" + toHex(digestInfo) + "00", "*9000"},
  });
  EXPECT_TRUE(cardsimtest::verifySignature(card.fileContent({0x3F00, 0x5015, 0xC000}), "doc", body(answers[1])));
}

TEST(BankCard, GenerationMarkerAndCin) {
  Card gen2 = poweredCard("bank");
  Card gen1 = poweredCard("bank1");
  const std::vector<Step> probe = {
      {"00A4040C07A0000001184543", "9000"},
  };
  runScript(sender(gen2), probe);
  runScript(sender(gen1), probe);
  EXPECT_EQ(send(gen2, "00A4000002D00200"), fromHex("6F0B800200018201018302D0029000"));
  EXPECT_EQ(send(gen1, "00A4000002D00200"), fromHex("6A82"));
  runScript(sender(gen2), {
      {"00A4000C02DF71", "9000"},
      {"00A4000002D00100", "6F0B800200088201018302D0019000"},
      {"00A4000C02D001", "9000"},
      {"00B0000008", "0123456789ABCDEF9000"},
      {"00B0000010", "0123456789ABCDEF6282"},
      {"00B0000800", "6B00"},
  });
}

TEST(BankCard, HashThenSignInternalAuthenticateAndDecipher) {
  Card card = poweredCard("bank");
  Bytes hash = cardsimtest::sha256("bank");
  Bytes digestInfo = cardsim::digestInfoPrefix(cardsim::HashAlg::Sha256) + cardsimtest::sha256("tls");
  Bytes crypt = cardsimtest::encryptFor(card.fileContent({0x3F00, 0x1000, 0xC002}), fromHex("CAFE"));
  Bytes field = Bytes{0x81} + crypt;
  auto answers = runScript(sender(card), {
      {"00A4040C07A0000001184543", "9000"},
      {"002A9E9A00", "6985"},  // nothing to sign yet
      {"002281B606800144840102", "9000"},
      {"002A908120" + toHex(hash), "9000"},
      {"0020008108" "3132333435360000", "9000"},
      {"002A9E9A00", "*9000"},
      {"0020008108" "3132333435360000", "9000"},
      {"002A9E9A00", "6985"},  // the hash is used up
      {"002241A403840103", "9000"},
      {"0020000108" "3132333400000000", "9000"},
      {"00881000" + lc(digestInfo) + toHex(digestInfo) + "00", "*9000"},
      {"002241B803840104", "9000"},
      {"002A8086" + lc(field) + toHex(field) + "00", "CAFE9000"},
  });
  EXPECT_TRUE(cardsimtest::verifySignature(card.fileContent({0x3F00, 0x1000, 0xC000}), "bank", body(answers[5])));
  EXPECT_TRUE(cardsimtest::verifySignature(card.fileContent({0x3F00, 0x1000, 0xC001}), "tls", body(answers[10])));
}

TEST(BankCard, UnblockingCodeAloneResetsTheCounter) {
  Card card = poweredCard("bank");
  runScript(sender(card), {
      {"0020000108" "3939393900000000", "63C2"},
      {"0020000108" "3939393900000000", "63C1"},
      {"0020000108" "3939393900000000", "6983"},
      {"002C010108" "3132333435363737", "63C9"},
      {"002C010108" "3132333435363738", "9000"},
      {"00200001", "63C3"},
      {"0020000108" "3132333400000000", "9000"},
  });
}

TEST(CardPower, PowerOffForgetsVerificationButKeepsCounters) {
  Card card = poweredCard("asign");
  runScript(sender(card), {
      {"002000010824" "9999FFFFFFFFFF", "63C2"},
      {"002000810826" "123456FFFFFFFF", "9000"},
      {"00A4000C02DF01", "9000"},
  });
  card.powerOff();
  card.powerOn();
  runScript(sender(card), {
      {"00200081", "63C3"},
      {"00200001", "63C2"},
      {"00A4020C02C000", "6A82"},  // back in the MF
  });
}

TEST(CardFaults, ScriptedAnswersForChosenCommands) {
  Card card = poweredCard("asign");
  card.addFault(FaultRule::parse("at=2 sw=6A83"));
  card.addFault(FaultRule::parse("match=00B0 sw=6282 execute times=2"));
  runScript(sender(card), {
      {"00A4000C02DF01", "9000"},
      {"002000810826" "123456FFFFFFFF", "6A83"},  // not executed
      {"00200081", "63C3"},
      {"00A4020C02C000", "9000"},
      {"00B0000004", "30*6282"},
      {"00B0000004", "30*6282"},
      {"00B0000004", "30*9000"},
  });
  card.addFault(FaultRule::parse("at=1 short=1"));
  EXPECT_EQ(send(card, "00B0000004").size(), 1u);
  card.addFault(FaultRule::parse("at=1 oversize=300"));
  EXPECT_EQ(send(card, "00B0000004").size(), 306u);
  card.addFault(FaultRule::parse("at=1 mute"));
  EXPECT_EQ(card.transmit(fromHex("00B0000004")).kind, CardAnswer::Kind::Mute);
  card.addFault(FaultRule::parse("at=1 remove"));
  EXPECT_EQ(card.transmit(fromHex("00B0000004")).kind, CardAnswer::Kind::Removed);
  EXPECT_FALSE(card.powered());
  EXPECT_THROW(FaultRule::parse("at=1"), std::invalid_argument);
}

TEST(CardCommands, ErrorsOfClassInstructionLengthAndState) {
  Card card = poweredCard("asign");
  runScript(sender(card), {
      {"80A4000C02DF01", "6E00"},
      {"00CA000000", "6D00"},
      {"10A4000C02DF01", "6884"},  // chaining is for on-card hashing only
      {"00A4000C0300", "6700"},    // Lc says more than there is
      {"00A4000C02DF01", "9000"},
      {"00B00000", "6700"},        // READ BINARY without Le
      {"00B0000010", "6986"},      // no current elementary file
      {"00A4020C025031", "9000"},
      {"00B2010402", "6C0D"},      // Le too short: the card names the record's length
      {"00B2010400", "A00A300804062A8648CE3D0301" "9000"},
      {"00B2010C00", "6A82"},      // no short file identifiers
      {"0084000008", "*9000"},
      {"00A4020C024E01", "9000"},
      {"00D6000002CAFE", "6982"},  // writing needs the card PIN
      {"002000010824" "1234FFFFFFFFFF", "9000"},
      {"00D6000002CAFE", "9000"},
      {"00D6003F02CAFE", "6A84"},  // past the end of the 64-byte file
      {"00B0000003", "CAFE00" "9000"},
      {"002241B603840103", "6A80"},
      {"0022F3B6", "9000"},        // RESTORE: back to the signature key
      {"0022 41B8 03 840102", "6A80"},  // the signature key does not decipher
  });
  EXPECT_EQ(send(card, "0084000008").size(), 10u);
}

TEST(CardLog, RecordsEveryCommandWithItsAnswer) {
  Card card = poweredCard("asign");
  send(card, "00A4000C02DF01");
  send(card, "00200081");
  ASSERT_EQ(card.commands().size(), 2u);
  EXPECT_EQ(card.commands()[1], fromHex("00200081"));
  EXPECT_EQ(card.log().back().response, fromHex("63C3"));
  EXPECT_EQ(card.log().front().event, "power-on");
}

TEST(CardProfileText, VariantsAndErrorsNameTheLine) {
  CardProfile p = CardProfile::parse("atr 3B00\nef 3F00/0001 transparent content=text:hi\n", ".");
  Card card(p);
  card.powerOn();
  EXPECT_EQ(send(card, "00A4000C020001"), fromHex("9000"));
  EXPECT_EQ(send(card, "00B0000000"), fromHex("68699000"));
  try {
    CardProfile::parse("atr 3B00\nef 3F00/0001/0002 transparent\n", ".", "x.profile");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("x.profile:2"), std::string::npos);
  }
}
