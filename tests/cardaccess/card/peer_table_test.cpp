// The peer handles by which the Java layer names readers and cards: typed, never
// reused, and gone with their objects (so a stale id is "no peer", never a freed
// object; this test runs under AddressSanitizer).
#include "CardTestSupport.h"

#include "cardaccess/reader/PeerTable.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(PeerTable, IdsAreTypedStableAndNeverReused) {
  cardtest::ScriptChannel channel;
  auto reader = std::make_unique<cardtest::PadReader>();
  std::unique_ptr<CSCard> card = cardtest::makeCard(cardtest::Type::ASign, channel, "", reader.get());

  EXPECT_EQ(peers::idOf(static_cast<CReader*>(nullptr)), 0);
  EXPECT_EQ(peers::idOf(static_cast<CSCard*>(nullptr)), 0);
  const int readerId = peers::idOf(reader.get());
  const int cardId = peers::idOf(card.get());
  ASSERT_NE(readerId, 0);
  ASSERT_NE(cardId, 0);
  EXPECT_NE(readerId, cardId);
  // The same object keeps its id (two Java objects may name one reader).
  EXPECT_EQ(peers::idOf(reader.get()), readerId);
  EXPECT_EQ(peers::reader(readerId), reader.get());
  EXPECT_EQ(peers::card(cardId), card.get());
  // A reader id never resolves as a card, nor a card id as a reader.
  EXPECT_EQ(peers::card(readerId), nullptr);
  EXPECT_EQ(peers::reader(cardId), nullptr);
  for (int unknown : {0, -1, cardId + 1000, static_cast<int>(0x80000000u)}) {
    EXPECT_EQ(peers::reader(unknown), nullptr) << unknown;
    EXPECT_EQ(peers::card(unknown), nullptr) << unknown;
  }

  // The destructors take their entries out; a new object, even at the same
  // address, gets a new id.
  card.reset();
  EXPECT_EQ(peers::card(cardId), nullptr);
  reader.reset();
  EXPECT_EQ(peers::reader(readerId), nullptr);
  auto second = std::make_unique<cardtest::PadReader>();
  const int secondId = peers::idOf(second.get());
  EXPECT_GT(secondId, cardId);
  EXPECT_EQ(peers::reader(readerId), nullptr);
  EXPECT_EQ(peers::reader(secondId), second.get());
}

}  // namespace
