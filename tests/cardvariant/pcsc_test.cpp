// The card library through the real pcscd and the test bed's reader driver: the
// reader factory's PC/SC settings, recognition of every card type at connect,
// and PIN entry on a PC/SC PIN pad.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "VariantSupport.h"
#include "cardaccess/reader/CReader.h"
#include "cardsim/pcscbed.h"
#include "cardvariant/CReaderFactory.h"
#include "cardvariant/CSCard.h"
#include "cardvariant/CSCard_BankCard.h"
#include "cardvariant/Utilities.h"
#include "foundation/base/CException.h"
#include "quarvel_test.h"

namespace {

using namespace varianttest;
using cardvariant::CReaderFactory;

// Lower-case hex, as an administrator writes a reader's name.
std::string hexText(const std::string& text) {
  std::string out = hex(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string atrOf(const std::string& profileName) {
  const cardsim::Bytes atr = profile(profileName).atr;
  std::string text;
  cardvariant::bytesToBase64(std::string(atr.begin(), atr.end()), text);
  return text;
}

void configurePCSC(const std::string& readerName, const std::vector<std::pair<std::string, std::string>>& texts = {}) {
  clearSettings();
  setText("Reader", "CTAPI", "PCSC");
  setText("Reader", "Status0", hexText(readerName));
  for (const auto& [name, value] : texts) setText("Reader", name, value);
  // The lists of the five card types, as an administrator writes them.
  setText("", "TrustSign0", atrOf("trustsign"));
  setText("", "TrustSignHash0", "SHA256");
  setText("", "BankCard0", atrOf("bank"));  // the first 11 characters: both generations
  setText("", "eCard0", atrOf("ecardg4"));
  setText("", "eCardHash0", "SHA1");
  setText("", "oCard0", atrOf("asign"));
  setText("", "oCardHash0", "SHA256");
  setText("", "DTrust0", atrOf("dtrust-plugin"));
}

TEST(PCSC, ReaderChoiceAndItsSettings) {
  cardsim::PcscBed bed;
  const std::string trace = quarveltest::makeTempDirectory("trace") + "/card.log";
  bed.insert(cardsim::PcscBed::kPlain, "asign");
  struct Row {
    std::vector<std::pair<std::string, std::string>> texts;
    const char* shareMode;
    const char* userMessage;
    unsigned char secure, gui;
  };
  const std::vector<Row> rows = {
      {{{"ShareMode", "7"}, {"UserMessage", "3"}, {"isSecure", "Yes"}}, "ShareMode is 1.", "userMessage is 0.", 1, 1},
      {{{"ShareMode", "-1"}, {"UserMessage", "2"}, {"isSecure", "yes"}, {"UseGUI", "No"}}, "ShareMode is 1.",
       "userMessage is 2.", 0, 0},
      {{{"ShareMode", "2"}}, "ShareMode is 2.", "userMessage is 0.", 0, 1},
  };
  for (const Row& row : rows) {
    // The first characters of the name pick the first listed reader that starts so.
    configurePCSC("Quarvel Sim", row.texts);
    setText("", "LogFileName", trace);  // decided once, with the first logging object
    setDword("", "LogLevel", 6);
    FreshSettings settings;
    cardvariant::CReader* reader = CReaderFactory::getInstance();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(std::string(reader->getCTAPIName()), bed.name(cardsim::PcscBed::kPlain));
    EXPECT_EQ(reader->isSecure(), row.secure);
    EXPECT_EQ(reader->shallUseGUI(), row.gui);
    EXPECT_EQ(CReaderFactory::getInstance(), reader);
    cardvariant::logMessage("", 0, cardvariant::CLogable::kFlush);
    const std::string text = readFile(trace);
    EXPECT_NE(text.rfind(row.shareMode), std::string::npos) << row.shareMode;
    EXPECT_NE(text.rfind(row.userMessage), std::string::npos) << row.userMessage;
    int foreign = 0;
    EXPECT_EQ(CReaderFactory::releaseInstance(reinterpret_cast<cardvariant::CReader*>(&foreign)), 0);
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 0);
  }
  // A reader that is not there, and a name that is not hex.
  configurePCSC("No Such Reader");
  {
    FreshSettings settings;
    EXPECT_EQ(CReaderFactory::getInstance(), nullptr);
  }
  configurePCSC("");
  setText("Reader", "Status0", "51756xrz");
  FreshSettings settings;
  EXPECT_THROW(CReaderFactory::getInstance(), VOQ::CBadArgumentException);
}

TEST(PCSC, EveryCardTypeIsRecognisedAtConnect) {
  cardsim::PcscBed bed;
  configurePCSC("Quarvel Sim Reader");
  FreshSettings settings;
  struct Row {
    const char* profile;
    int type, hash;
  };
  for (const Row& row : {Row{"trustsign", 0, 2}, Row{"bank", 1, 2}, Row{"bank1", 1, 3}, Row{"ecardg4", 2, 1},
                         Row{"asign", 3, 2}, Row{"dtrust-plugin", 4, 3}}) {
    bed.insert(cardsim::PcscBed::kPlain, row.profile);
    cardvariant::CReader* reader = CReaderFactory::getInstance();
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->connect(0), 0) << row.profile;
    cardvariant::CSCard* card = reader->getCard();
    ASSERT_NE(card, nullptr) << row.profile;
    EXPECT_EQ(card->getCardType(), row.type) << row.profile;
    EXPECT_EQ(card->getHashAlg(), row.hash) << row.profile;
    if (row.type == 1) {
      EXPECT_EQ(static_cast<cardvariant::CSCard_BankCard*>(card)->getGeneration(), row.hash == 2 ? 2 : 1);
    }
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
    bed.remove(cardsim::PcscBed::kPlain);
  }
  // A card on no list is not recognised.
  bed.insert(cardsim::PcscBed::kPlain, "ecardng");
  cardvariant::CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_NE(reader->connect(0), 0);
  EXPECT_EQ(reader->getCard(), nullptr);
  CReaderFactory::releaseInstance(reader);
}

// A card in one of the bed's readers, connected through the reader the settings name.
struct ConnectedCard {
  cardsim::PcscBed bed;
  std::unique_ptr<FreshSettings> settings;
  cardvariant::CReader* reader = nullptr;
  cardvariant::CSCard* card = nullptr;

  ConnectedCard(size_t slot, const std::string& profileName, const std::string& isSecure) {
    bed.insert(slot, profileName);
    configurePCSC(bed.name(slot), {{"isSecure", isSecure}});
    settings = std::make_unique<FreshSettings>();
    reader = CReaderFactory::getInstance();
    if (reader && reader->connect(0) == 0) card = reader->getCard();
  }
  ~ConnectedCard() {
    if (reader) CReaderFactory::releaseInstance(reader);
  }
};

TEST(PCSC, SignsWithThePinEnteredOnThePinPad) {
  ConnectedCard c(cardsim::PcscBed::kDirectPinPad, "trustsign", "Yes");
  cardsim::PcscBed& bed = c.bed;
  cardvariant::CSCard* card = c.card;
  ASSERT_NE(card, nullptr);
  const std::string message = "signed on the pad";
  bed.reader(cardsim::PcscBed::kDirectPinPad).setKeypad("123456 OK");
  ASSERT_EQ(card->signInit(0x81, bytes("800111840182"), 2), 0);
  card->signUpdate(message);
  std::string signature;
  ASSERT_EQ(card->signFinal(0x81, signature, 0), 0);
  EXPECT_EQ(recoverSigned(certificate("trustsign-sig"), signature), digestInfo(2, digest(2, message)));

  // A wrong PIN on the pad: no security environment, no signature command.
  bed.reader(cardsim::PcscBed::kDirectPinPad).setKeypad("999999 OK");
  const size_t before = bed.reader(cardsim::PcscBed::kDirectPinPad).cardLog().size();
  ASSERT_EQ(card->signInit(0x81, bytes("800111840182"), 2), 0);
  card->signUpdate(message);
  EXPECT_EQ(card->signFinal(0x81, signature, 0), static_cast<int>(0x80020002u));
  const std::vector<cardsim::LogEntry> log = bed.reader(cardsim::PcscBed::kDirectPinPad).cardLog();
  for (size_t i = before; i < log.size(); ++i) {
    const std::string command = cardsim::toHex(log[i].command);
    EXPECT_TRUE(command.rfind("0022", 0) != 0 && command.rfind("002A9E", 0) != 0) << command;
  }
}

TEST(PCSC, APlainReaderIsNoPinPad) {
  ConnectedCard c(cardsim::PcscBed::kPlain, "dtrust-plugin", "yes");
  cardsim::PcscBed& bed = c.bed;
  cardvariant::CSCard* card = c.card;
  ASSERT_NE(card, nullptr);
  ASSERT_EQ(card->signInit(0x81, "", 1), 0);
  std::string signature;
  EXPECT_EQ(card->signFinal(0x81, signature, 0), static_cast<int>(0x80000006u));

  // A card pulled during a command: a channel failure, and none of the following commands.
  bed.reader(cardsim::PcscBed::kPlain).withCard([](cardsim::Card& c) {
    c.addFault(cardsim::FaultRule::parse("at=1 remove"));
  });
  const std::string pin = "12345678";
  ASSERT_EQ(card->signInit(0x81, "", 2), 0);
  card->signUpdate("pulled");
  const int result = card->signFinal(0x81, &pin, signature, 0);
  EXPECT_EQ(static_cast<unsigned>(result) & 0xFFFF0000u, 0x80030000u) << std::hex << result;
  std::string last;
  for (const cardsim::LogEntry& entry : bed.reader(cardsim::PcscBed::kPlain).cardLog())
    if (entry.event == "apdu") last = cardsim::toHex(entry.command);
  EXPECT_EQ(last.substr(0, 4), "0020") << "the VERIFY was the last command";
}

}  // namespace
