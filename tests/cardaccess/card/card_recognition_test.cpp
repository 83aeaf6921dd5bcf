// Card recognition from the ATR and the card lists of the program's own signed
// settings file: the order of trial, the comparison rules of each list, gaps in
// the numbering, and the bank card of the wrong generation.
#include "CardTestSupport.h"

#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_DTrustCard.h"
#include "cardaccess/card/CSCard_MSE.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>
#include <typeinfo>

using cardtest::atrText;

namespace {

std::string atrOf(const char* profile) { return cardtest::fromSim(cardtest::profile(profile).atr); }

// The card type recognition makes for the profile's card, or "none".
std::string recognise(const char* profile) {
  cardtest::SimChannel channel(cardtest::profile(profile));
  cardtest::PadReader reader(&channel);
  std::unique_ptr<CSCard> card(CSCardFactory::getInstance()->getSCard(atrOf(profile), &channel, &reader));
  if (!card) return "none";
  const CSCard& made = *card;
  std::string name = typeid(made).name();
  return name.substr(name.find("CSCard"));
}

class Recognition : public testing::Test {
 protected:
  void SetUp() override { cardtest::createApplication(); }
};

TEST_F(Recognition, TheStandardListsFindEachType) {
  cardtest::writeCardLists(cardtest::standardCardLists());
  EXPECT_EQ(recognise("asign"), "CSCard_aSignPCS");
  EXPECT_EQ(recognise("ecardg4"), "CSCard_ECardG4");
  EXPECT_EQ(recognise("ecardng"), "CSCard_ECardng");
  EXPECT_EQ(recognise("dtrust"), "CSCard_DTrustCard");
  EXPECT_EQ(recognise("bank"), "CSCard_BankCard");
  // Generation 1 shares the bank card's 11-character prefix and is refused after its probe.
  EXPECT_EQ(recognise("bank1"), "none");
  cardtest::SimChannel channel(cardtest::profile("bank1"));
  cardtest::PadReader reader(&channel);
  EXPECT_EQ(CSCardFactory::getInstance()->getSCard(atrOf("bank1"), static_cast<CICC_base*>(nullptr), &reader), nullptr);
  EXPECT_EQ(CSCardFactory::getInstance()->getSCard(atrOf("bank1"), &channel, nullptr), nullptr);
  EXPECT_TRUE(channel.commands().empty());
}

TEST_F(Recognition, ListRulesTable) {
  const std::string bank = atrText(atrOf("bank"));
  const std::string dtrust = atrText(atrOf("dtrust"));
  std::string dtrustOneOff = dtrust;
  dtrustOneOff[dtrustOneOff.size() - 3] ^= 1;
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> lists;
    const char* profile;
    const char* expect;
  } rows[] = {
      {"bank card is tried first", {{"DTrustCard0", bank}, {"BankCard3", bank}}, "bank", "CSCard_BankCard"},
      {"11 characters decide for the bank card", {{"BankCard0", bank.substr(0, 11) + "AAAA"}}, "bank",
       "CSCard_BankCard"},
      {"one character off", {{"DTrustCard0", dtrustOneOff}}, "dtrust", "none"},
      {"G4 takes 14 bytes", {{"eCardG40", atrText(atrOf("ecardg4"), 14)}}, "ecardg4", "CSCard_ECardG4"},
      {"G4 with 16 bytes", {{"eCardG40", atrText(atrOf("ecardg4"), 16)}}, "ecardg4", "none"},
      {"ng takes 16 bytes", {{"eCardng0", atrText(atrOf("ecardng"), 16)}}, "ecardng", "CSCard_ECardng"},
      {"ng with 14 bytes", {{"eCardng0", atrText(atrOf("ecardng"), 14)}}, "ecardng", "none"},
      {"a whole ATR is not a 14-byte value", {{"aSignPCardos0", atrText(atrOf("asign"))}}, "asign", "none"},
      {"gaps are searched through",
       {{"aSignPCardos0", atrText(atrOf("ecardg4"), 14)}, {"aSignPCardos5", atrText(atrOf("asign"), 14)}}, "asign",
       "CSCard_aSignPCS"},
      {"the last index is 10", {{"aSignPCardos10", atrText(atrOf("asign"), 14)}}, "asign", "CSCard_aSignPCS"},
      {"and not 11", {{"aSignPCardos11", atrText(atrOf("asign"), 14)}}, "asign", "none"},
      // A bank-list prefix that a D-Trust ATR shares takes it to the bank card's
      // probe, which finds no ACOS application: no card, and D-Trust is never tried.
      {"bank prefix blocks D-Trust", {{"BankCard0", dtrust.substr(0, 11)}, {"DTrustCard0", dtrust}}, "dtrust", "none"},
      {"empty lists", {}, "asign", "none"},
  };
  for (const Row& row : rows) {
    cardtest::writeCardLists(row.lists);
    EXPECT_EQ(recognise(row.profile), row.expect) << row.what;
  }
}

TEST_F(Recognition, MissingSettingsFileAndBase64) {
  EXPECT_EQ(recognise("asign"), "none");  // no Quarvel.esw at all
  std::string text;
  CSCardFactory* factory = CSCardFactory::getInstance();
  EXPECT_EQ(factory->toBase64("", text), 0);
  EXPECT_EQ(factory->toBase64("abc", text), 1);
  EXPECT_EQ(text, "YWJj");
  EXPECT_EQ(factory, CSCardFactory::getInstance());
}

TEST(RecognitionFactory, OneInstanceForConcurrentFirstCalls) {
  std::vector<CSCardFactory*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = CSCardFactory::getInstance(); });
  for (std::thread& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (CSCardFactory* f : seen) EXPECT_EQ(f, seen[0]);
}

// Exit handlers may delete the factory before a reader gives back its card.
TEST_F(Recognition, CardsOutliveTheFactory) {
  cardtest::writeCardLists(cardtest::standardCardLists());
  CSCardFactory::install();
  cardsim::Bytes atr = cardtest::profile("asign").atr;
  cardtest::SimChannel channel(cardtest::profile("asign"));
  cardtest::PadReader reader(&channel);
  CSCard* card = recognizeCard(std::string(atr.begin(), atr.end()), &reader.getChannel(), &reader);
  ASSERT_NE(card, nullptr);
  delete CSCardFactory::getInstance();
  deleteCard(card);  // no factory any more: still deleted, and no use of the deleted one
  EXPECT_EQ(recognizeCard(std::string(atr.begin(), atr.end()), &reader.getChannel(), &reader), nullptr);
  CSCardFactory::install();
  CSCard* again = recognizeCard(std::string(atr.begin(), atr.end()), &reader.getChannel(), &reader);
  EXPECT_NE(again, nullptr);
  deleteCard(again);
}

}  // namespace
