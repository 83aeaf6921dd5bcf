// Card recognition from the lists of the plug-in's HKLM store: precedence, the
// comparison rules of each list, the eCard's decoded bytes, the hash names.
#include <gtest/gtest.h>

#include <memory>

#include "VariantSupport.h"
#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardvariant/CSCard.h"
#include "cardvariant/CSCardFactory.h"
#include "cardvariant/Utilities.h"

namespace {

using namespace varianttest;
using cardvariant::CSCardFactory;

std::string base64(const std::string& atr) {
  std::string text;
  cardvariant::bytesToBase64(atr, text);
  return text;
}

const std::string kAtr = bytes("3B8B800151424E4B2041434F53303426");
const std::string kOther = bytes("3B8B800151424E4B2041434F53303326");  // differs late

struct Value {
  std::string name, data;
  DWORD type = REG_SZ;
};

struct Row {
  const char* what;
  std::vector<Value> values;
  std::string atr;
  int type;  // card type number, -1: not recognised
  int hash;
};

TEST(Recognition, ListsRulesAndHashNames) {
  const std::string b64 = base64(kAtr);
  std::string decodedPrefix = kAtr.substr(0, 11) + std::string("rest differs");
  const std::vector<Row> rows = {
      {"TrustSign before BankCard", {{"BankCard0", b64}, {"TrustSign0", b64}}, kAtr, 0, 3},
      {"BankCard: the first 11 characters", {{"BankCard3", base64(kOther)}, {"BankCardHash3", "SHA1"}}, kAtr, 1, 1},
      {"BankCard: short values must be whole", {{"BankCard0", b64.substr(0, 8)}}, kAtr, -1, 0},
      {"BankCard: a short value equal to the text", {{"BankCard0", b64}}, kAtr, 1, 3},
      {"oCard: the whole text", {{"oCard0", base64(kOther)}}, kAtr, -1, 0},
      {"oCard", {{"oCard10", b64}, {"oCardHash10", "SHA256"}}, kAtr, 3, 2},
      {"eCard: the decoded first 11 bytes", {{"eCard0", base64(decodedPrefix)}, {"eCardHash0", "MD5"}}, kAtr, 2, 99},
      {"eCard: fewer decoded bytes", {{"eCard0", base64(kAtr.substr(0, 10))}}, kAtr, -1, 0},
      {"eCard: no Base64", {{"eCard0", "*not base64*"}}, kAtr, -1, 0},
      {"DTrust: the first 11 characters", {{"DTrust1", base64(kOther)}, {"DTrustHash1", ""}}, kAtr, 4, 3},
      {"a twelfth value is not read", {{"TrustSign11", b64}}, kAtr, -1, 0},
      {"values of another type are skipped", {{"TrustSign0", b64, REG_BINARY}, {"DTrust2", b64}, {"DTrustHash2", "RIPEMD160"}},
       kAtr, 4, 3},
      {"a hash of another type counts as absent", {{"oCard0", b64}, {"oCardHash0", "SHA1", REG_BINARY}}, kAtr, 3, 3},
  };
  cardvariant::CICC channel("no reader");
  cardvariant::CReader_CTAPI reader("", 1, "test", 0, 0);
  for (const Row& row : rows) {
    clearSettings();
    for (const Value& v : row.values) {
      if (v.type == REG_SZ) setText("", v.name, v.data);
      else setRaw("", v.name, v.type, v.data);
    }
    FreshSettings settings;
    std::unique_ptr<cardvariant::CSCard> card(CSCardFactory::getInstance()->getSCard(row.atr, &channel, &reader));
    if (row.type < 0) {
      EXPECT_EQ(card, nullptr) << row.what;
      continue;
    }
    ASSERT_NE(card, nullptr) << row.what;
    EXPECT_EQ(card->getCardType(), row.type) << row.what;
    // The bank card may change the algorithm on a newer card; here no card answers.
    EXPECT_EQ(card->getHashAlg(), row.hash) << row.what;
  }
}

TEST(Recognition, NothingWithoutChannelOrReader) {
  const std::string trace = enableTrace();
  setText("", "TrustSign0", base64(kAtr));
  cardvariant::CICC channel("no reader");
  cardvariant::CReader_CTAPI reader("", 1, "test", 0, 0);
  CSCardFactory* factory = CSCardFactory::getInstance();
  EXPECT_EQ(factory->getSCard(kAtr, nullptr, &reader), nullptr);
  EXPECT_EQ(factory->getSCard(kAtr, &channel, nullptr), nullptr);
  EXPECT_EQ(factory->isDTrustCard(kAtr), 0);
  cardvariant::logMessage("", 0, cardvariant::CLogable::kFlush);
  const std::string text = readFile(trace);
  EXPECT_NE(text.find("::getSCard() at 0x"), std::string::npos);
  EXPECT_EQ(text.find("isTrustSign"), std::string::npos) << "no list was tried";
  EXPECT_NE(text.find("::isDTrustCard() at 0x"), std::string::npos);
  const size_t last = text.rfind("returned: 0x0.\n");
  ASSERT_NE(last, std::string::npos);
  EXPECT_NE(text.substr(text.rfind('\n', last - 1)).find("isDTrustCard"), std::string::npos);
}

}  // namespace
