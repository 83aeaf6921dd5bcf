// The peer handles by which the Java layer names readers and cards: typed, never
// reused, gone with their objects or with a release (so a stale id is "no peer",
// never a freed object; this test runs under AddressSanitizer), and the rule of
// a native's call: the object held, its reader locked, a signature its thread's.
#include "CardTestSupport.h"

#include "cardaccess/reader/PeerTable.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

using peers::Held;
using peers::Locked;

// A reader and its card as the natives find them: the reader shared, the card
// entered with it.
struct Pair {
  cardtest::ScriptChannel channel;
  std::shared_ptr<CReader> reader = std::make_shared<cardtest::PadReader>();
  std::unique_ptr<CSCard> card = cardtest::makeCard(cardtest::Type::ASign, channel, "", reader.get());
  int readerId = peers::idOf(reader);
  int cardId = peers::idOf(card.get(), reader);
};

TEST(PeerTable, IdsAreTypedStableAndNeverReused) {
  Pair p;
  EXPECT_EQ(peers::idOf(std::shared_ptr<CReader>()), 0);
  EXPECT_EQ(peers::idOf(nullptr, p.reader), 0);
  ASSERT_NE(p.readerId, 0);
  ASSERT_NE(p.cardId, 0);
  EXPECT_NE(p.readerId, p.cardId);
  // The same object keeps its id (two Java objects may name one reader).
  EXPECT_EQ(peers::idOf(p.reader), p.readerId);
  EXPECT_EQ(peers::idOf(p.card.get(), p.reader), p.cardId);
  {
    const Held reader = Held::reader(p.readerId);
    const Held card = Held::card(p.cardId);
    EXPECT_EQ(reader.owner(), p.reader);
    EXPECT_EQ(card.owner(), p.reader);
    Locked lockedReader(reader);
    EXPECT_EQ(lockedReader.reader(), p.reader.get());
    EXPECT_EQ(lockedReader.card(), nullptr);
    Locked lockedCard(card);  // the reader's lock is reentrant
    EXPECT_EQ(lockedCard.card(), p.card.get());
  }
  // A reader id never resolves as a card, nor a card id as a reader.
  EXPECT_FALSE(Held::card(p.readerId));
  EXPECT_FALSE(Held::reader(p.cardId));
  for (int unknown : {0, -1, p.cardId + 1000, static_cast<int>(0x80000000u)}) {
    EXPECT_FALSE(Held::reader(unknown)) << unknown;
    EXPECT_FALSE(Held::card(unknown)) << unknown;
    Locked none{Held::card(unknown)};
    EXPECT_EQ(none.card(), nullptr);
  }

  // The destructors take their entries out; a new object, even at the same
  // address, gets a new id.
  p.card.reset();
  EXPECT_FALSE(Held::card(p.cardId));
  p.reader.reset();
  EXPECT_FALSE(Held::reader(p.readerId));
  auto second = std::make_shared<cardtest::PadReader>();
  const int secondId = peers::idOf(std::shared_ptr<CReader>(second));
  EXPECT_GT(secondId, p.cardId);
  EXPECT_FALSE(Held::reader(p.readerId));
  EXPECT_EQ(Held::reader(secondId).owner(), second);
}

// A release takes the reader and its cards out of the table at once, while a call
// that holds them keeps them allocated until it ends.
TEST(PeerTable, AReleasedReaderNamesNothingButStaysForItsHolders) {
  Pair p;
  Pair other;
  Held heldReader = Held::reader(p.readerId);
  Held heldCard = Held::card(p.cardId);
  {
    VCriticalSectionLock hold(p.reader->lockSection());
    peers::forgetWithCards(p.reader.get());
  }
  EXPECT_FALSE(Held::reader(p.readerId));
  EXPECT_FALSE(Held::card(p.cardId));
  // A call that held them before finds them gone once it has the lock.
  EXPECT_EQ(Locked(heldReader).reader(), nullptr);
  EXPECT_EQ(Locked(heldCard).card(), nullptr);
  // Another reader's entries stay.
  EXPECT_TRUE(Held::card(other.cardId));
  // The last holder frees the reader.
  std::weak_ptr<CReader> watch = p.reader;
  p.card.reset();
  p.reader.reset();
  EXPECT_FALSE(watch.expired());
  heldReader = Held();
  heldCard = Held();
  EXPECT_TRUE(watch.expired());
}

TEST(PeerTable, AbortReachesTheCardWithoutItsReadersLock) {
  Pair p;
  VCriticalSectionLock busy(p.reader->lockSection());  // another operation holds the reader
  bool reached = false;
  std::thread([&] {
    reached = peers::whileNamed(p.cardId, [](CSCard& card) { card.abort(); });
  }).join();
  EXPECT_TRUE(reached);
  EXPECT_TRUE(p.card->isAborted());
  EXPECT_FALSE(peers::whileNamed(p.readerId, [](CSCard&) { ADD_FAILURE(); }));
  EXPECT_FALSE(peers::whileNamed(0, [](CSCard&) { ADD_FAILURE(); }));
}

// Whether the thread sleeps in the kernel (a wait), by its state in /proc.
bool sleeping(pid_t thread) {
  std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t name = line.rfind(')');
  return name != std::string::npos && line.size() > name + 2 && line[name + 2] == 'S';
}

// A thread that begins a signature on the card and reports where it is.
struct Signer {
  explicit Signer(int cardId)
      : thread([this, cardId] {
          tid = static_cast<pid_t>(syscall(SYS_gettid));
          begun = peers::beginSignature(cardId) ? 1 : 0;
          other = peers::signatureOfOther(cardId);
        }) {}
  ~Signer() { thread.join(); }
  // Started and waiting in beginSignature.
  bool waiting() const { return tid != 0 && begun == -1 && sleeping(tid); }

  std::atomic<pid_t> tid{0};
  std::atomic<int> begun{-1};
  std::atomic<bool> other{false};
  std::thread thread;
};

TEST(PeerTable, ASignatureBelongsToTheThreadThatBeganIt) {
  Pair p;
  ASSERT_TRUE(peers::beginSignature(p.cardId));
  EXPECT_TRUE(peers::beginSignature(p.cardId)) << "the same thread begins again";
  EXPECT_FALSE(peers::signatureOfOther(p.cardId));
  bool seenByOther = false;
  std::thread([&] { seenByOther = peers::signatureOfOther(p.cardId); }).join();
  EXPECT_TRUE(seenByOther);
  {
    // A second thread waits until this one's signature ends, then its own runs.
    Signer second(p.cardId);
    ASSERT_TRUE(quarveltest::eventually([&] { return second.waiting(); }));
    std::thread([&] { peers::endSignature(p.cardId); }).join();  // not the signer: no effect
    EXPECT_TRUE(second.waiting());
    peers::endSignature(p.cardId);
    ASSERT_TRUE(quarveltest::eventually([&] { return second.begun != -1; }));
    EXPECT_EQ(second.begun, 1);
    EXPECT_FALSE(second.other);
  }
  // That thread ended without signFinal: its signature still holds the card, until
  // the card goes, which ends the wait of this thread with "no card".
  EXPECT_TRUE(peers::signatureOfOther(p.cardId));
  Signer third(p.cardId);
  ASSERT_TRUE(quarveltest::eventually([&] { return third.waiting(); }));
  p.card.reset();
  ASSERT_TRUE(quarveltest::eventually([&] { return third.begun != -1; }));
  EXPECT_EQ(third.begun, 0);
  EXPECT_FALSE(peers::beginSignature(p.cardId));
  EXPECT_FALSE(peers::signatureOfOther(p.cardId));
}

}  // namespace
