// Card access from many threads at once, in process (no Java VM, so that it also
// runs under ThreadSanitizer): the reader factory, the peer table and the reader's
// lock as the natives use them (PeerTable.h), against the real pcscd and a
// simulated card. Each pattern runs a fixed number of rounds: every call answers
// a result or "no peer", signatures never mix their documents, and no reader or
// card outlives the last release.
#include "CardTestSupport.h"

#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/reader/PeerTable.h"
#include "cardsim/pcscbed.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using cardsim::PcscBed;
using peers::Held;
using peers::Locked;

namespace {

constexpr int kNoPeer = static_cast<int>(0x8000000bu);
constexpr int kNotSupported = static_cast<int>(0x80000001u);
constexpr std::size_t kReader = PcscBed::kPlain;

// A call on what an id names, as a native makes it: held, locked, done only when
// the object is still there; "no peer" otherwise.
template <class Operation>
int onReader(int id, Operation operation) {
  const Held held = Held::reader(id);
  if (!held) return kNoPeer;
  Locked locked(held);
  return locked.reader() ? operation(*locked.reader(), held) : kNoPeer;
}

template <class Operation>
int onCard(int id, Operation operation) {
  const Held held = Held::card(id);
  if (!held) return kNoPeer;
  Locked locked(held);
  return locked.card() ? operation(*locked.card()) : kNoPeer;
}

// connect, and the id of the card it made (0 for none).
int connectCard(int readerId) {
  int cardId = 0;
  onReader(readerId, [&](CReader& reader, const Held& held) {
    const int code = reader.connect(0);
    if (code == 0) cardId = peers::idOf(reader.getCard(), held.owner());
    return code;
  });
  return cardId;
}

// What every call answered, by code; a test lists the codes it allows.
class Outcomes {
 public:
  void add(int code) {
    std::lock_guard<std::mutex> hold(m_lock);
    ++m_counts[static_cast<unsigned>(code)];
  }
  std::size_t count(int code) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_counts[static_cast<unsigned>(code)];
  }
  // The codes outside the allowed ones; PC/SC results (0x8010xxxx, a card reset or
  // shared meanwhile) and transport failures (0x8003xxxx) are allowed always.
  std::string unexpected(const std::set<int>& allowed) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::string out;
    for (const auto& [code, n] : m_counts) {
      const unsigned family = code & 0xFFFF0000u;
      if (allowed.count(static_cast<int>(code)) || family == 0x80100000u || family == 0x80030000u) continue;
      char text[48];
      std::snprintf(text, sizeof text, "%08x x%zu ", code, n);
      out += text;
    }
    return out;
  }

 private:
  std::mutex m_lock;
  std::map<unsigned, std::size_t> m_counts;
};

class CardThreads : public testing::Test {
 protected:
  void SetUp() override {
    cardtest::createApplication();
    cardtest::writeCardLists(cardtest::standardCardLists());
    CSCardFactory::install();
    bed_ = std::make_unique<PcscBed>();
    bed_->insert(kReader, "asign");
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"ctapi", "PCSC"},
                                      {"ReaderName", bed_->name(kReader)},
                                      {"ShareMode", "2"}})
      cardtest::setRegistryText(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, name, value);
  }

  void TearDown() override { bed_.reset(); }

  // The configured reader as ReaderFactory.getReader hands it out: its id; every
  // reader handed out is watched until it is gone.
  int getReader() {
    std::shared_ptr<CReader> reader = CReaderFactory::getSharedInstance();
    if (!reader) return 0;
    std::lock_guard<std::mutex> hold(watchLock_);
    watched_.push_back(reader);
    return peers::idOf(reader);
  }

  // ReaderFactory.releaseInstance: 1, 0 when the id names no reader of the factory.
  static int release(int readerId) {
    const Held held = Held::reader(readerId);
    return held ? CReaderFactory::releaseInstance(held.owner().get()) : 0;
  }

  // After the last release: how many readers handed out are still allocated (their
  // cards go with them).
  std::size_t leftOver() {
    std::size_t n = 0;
    for (const auto& reader : watched_) n += reader.expired() ? 0 : 1;
    return n;
  }

  std::unique_ptr<PcscBed> bed_;
  std::mutex watchLock_;
  std::vector<std::weak_ptr<CReader>> watched_;
};

TEST_F(CardThreads, EightThreadsGetUseAndReleaseTheReader) {
  Outcomes outcomes;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 20; ++round) {
        const int readerId = getReader();
        outcomes.add(readerId ? 0 : -1);
        outcomes.add(onReader(readerId, [](CReader& r, const Held&) { return r.getName() ? 0 : -2; }));
        const int cardId = connectCard(readerId);
        outcomes.add(onCard(cardId, [](CSCard& c) { return c.changeDirectory(CFID(cardtest::bytes("3F00"))); }));
        const int released = release(readerId);
        outcomes.add(released == 1 ? 0 : released == 0 ? kNoPeer : released);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(outcomes.unexpected({0, kNoPeer}), "");
  EXPECT_GT(outcomes.count(0), 8u * 20u);
  release(getReader());
  EXPECT_EQ(leftOver(), 0u);
}

TEST_F(CardThreads, ACardUsedWhileAnotherThreadDisconnectsAndReconnects) {
  const int readerId = getReader();
  ASSERT_NE(readerId, 0);
  std::atomic<int> cardId{connectCard(readerId)};
  ASSERT_NE(cardId.load(), 0);
  Outcomes outcomes;
  std::atomic<bool> done{false};
  std::atomic<int> calls{0};
  std::thread user([&] {
    for (; !done; ++calls) {
      const int id = cardId.load();
      outcomes.add(onCard(id, [](CSCard& c) {
        unsigned char atr[64];
        int length = 0;
        return c.getATR(atr, sizeof atr, &length);
      }));
      outcomes.add(onCard(id, [](CSCard& c) {
        int rc = c.changeDirectory(CFID(cardtest::bytes("3F00")));
        if (rc == 0) rc = c.changeDirectory(CFID(cardtest::bytes("DF01")));
        if (rc != 0) return rc;
        const int handle = c.open(CFID(cardtest::bytes("C000")));
        if (handle < 0) return handle;
        std::string out;
        const int read = c.read(handle, out, 300);
        c.close(handle);
        return read < 0 ? read : 0;
      }));
    }
  });
  for (int round = 0; round < 60; ++round) {
    // The rounds interleave with the user's calls: the user has made one more each time.
    const int before = calls;
    if (!quarveltest::eventually([&] { return calls > before; })) {
      ADD_FAILURE() << "the user's calls stopped";
      break;
    }
    outcomes.add(onReader(readerId, [](CReader& r, const Held&) { return r.disconnect(); }));
    cardId = connectCard(readerId);
  }
  done = true;
  user.join();
  EXPECT_EQ(outcomes.unexpected({0, kNoPeer}), "");
  EXPECT_GT(outcomes.count(0), 60u);
  EXPECT_GT(outcomes.count(kNoPeer), 0u);
  release(readerId);
  EXPECT_EQ(leftOver(), 0u);
}

TEST_F(CardThreads, ReaderCallsWhileAnotherThreadReleasesTheReader) {
  std::atomic<int> readerId{getReader()};
  ASSERT_NE(readerId.load(), 0);
  Outcomes outcomes;
  std::atomic<bool> done{false};
  std::atomic<int> calls{0};
  std::thread user([&] {
    for (; !done; ++calls) {
      const int id = readerId.load();
      outcomes.add(onReader(id, [](CReader& r, const Held&) {
        const int status = r.getStatus(1);
        return status >= 0 ? 0 : status;
      }));
      outcomes.add(onReader(id, [](CReader& r, const Held&) { return r.getCTAPIName() ? 0 : -2; }));
      const int cardId = connectCard(id);
      outcomes.add(onCard(cardId, [](CSCard& c) { return c.verifyPIN(0x81, "", 0); }) == kNoPeer ? kNoPeer : 0);
    }
  });
  for (int round = 0; round < 40; ++round) {
    const int before = calls;
    if (!quarveltest::eventually([&] { return calls > before; })) {
      ADD_FAILURE() << "the user's calls stopped";
      break;
    }
    outcomes.add(release(readerId) == 1 ? 0 : -3);
    readerId = getReader();
  }
  done = true;
  user.join();
  EXPECT_EQ(outcomes.unexpected({0, kNoPeer}), "");
  release(readerId);
  EXPECT_EQ(leftOver(), 0u);
}

// Four threads sign documents of their own on one card, as careless callers do:
// each signature is over its thread's document alone. A fifth thread feeds data
// to whatever signature runs: refused, never mixed in.
TEST_F(CardThreads, FourThreadsSignOnOneCard) {
  const cardtest::TypeInfo& type = cardtest::kTypes[static_cast<int>(cardtest::Type::ASign)];
  const int readerId = getReader();
  const int cardId = connectCard(readerId);
  ASSERT_NE(cardId, 0);
  const std::string parameter = cardtest::signParameter(type.type, 2, false);
  struct Signed {
    std::string document, signature;
  };
  std::mutex lock;
  std::vector<Signed> signatures;
  Outcomes outcomes;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 6; ++round) {
        const std::string document = "document " + std::to_string(t) + "/" + std::to_string(round);
        ASSERT_TRUE(peers::beginSignature(cardId));
        int rc = onCard(cardId, [&](CSCard& c) { return c.signInit(type.signKid, parameter, 2); });
        for (std::size_t at = 0; rc == 0 && at < document.size(); at += 4)
          rc = onCard(cardId, [&](CSCard& c) { return c.signUpdate(document.substr(at, 4)); });
        std::string signature;
        if (rc == 0) rc = onCard(cardId, [&](CSCard& c) { return c.signFinal(type.signKid, type.signPin, signature, false); });
        peers::endSignature(cardId);
        outcomes.add(rc);
        std::lock_guard<std::mutex> hold(lock);
        if (rc == 0) signatures.push_back({document, signature});
      }
    });
  }
  std::atomic<bool> done{false};
  std::thread intruder([&] {
    while (!done)
      outcomes.add(onCard(cardId, [&](CSCard& c) {
        return peers::signatureOfOther(cardId) ? kNotSupported : c.signUpdate("intruder");
      }));
  });
  for (auto& t : threads) t.join();
  done = true;
  intruder.join();
  EXPECT_EQ(outcomes.unexpected({0, kNotSupported}), "");
  ASSERT_EQ(signatures.size(), 24u);
  const std::string certificate = cardtest::certificate(type.signCert);
  const int prefix = cardtest::signedPrefix(type.type, 2, false);
  for (const Signed& s : signatures)
    EXPECT_EQ(cardtest::recoverSigned(certificate, s.signature),
              cardtest::digestInfo(prefix, cardtest::digest(prefix, s.document)))
        << s.document;
  release(readerId);
  EXPECT_EQ(leftOver(), 0u);
}

}  // namespace
