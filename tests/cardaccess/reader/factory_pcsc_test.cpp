// The reader factory with PC/SC settings, through pcscd and the test bed's
// readers: which reader a ReaderName picks, share modes, the cache, the
// switches, and that an unmatched name leaves no context behind.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FoundationFixture.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardsim/pcscbed.h"
#include "ctapi_support.h"
#include "platform/win_scard_beep.h"
#include "reader_test_support.h"

namespace ft = foundationtest;
using cardsim::CardProfile;
using readertest::kReader0;

namespace {

enum : size_t { kPlain, kDirect, kPolling };

class PcscFactory : public testing::Test {
 protected:
  void SetUp() override {
    bed_ = std::make_unique<cardsim::PcscBed>();
    for (size_t i = 0; i < 3; ++i) bed_->reader(i).insert(CardProfile::load(CardProfile::installedPath("asign")));
    for (size_t i = 0; i < 3; ++i) waitForCard(i);
    ft::setString(kReader0, "ctapi", "PCSC");
  }

  void TearDown() override { bed_.reset(); }

  const std::string& name(size_t reader) const { return bed_->name(reader); }

  // Waits as an application does until pcscd reports the card.
  void waitForCard(size_t reader) {
    SCARDCONTEXT ctx = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    SCARD_READERSTATEA state{};
    state.szReader = name(reader).c_str();
    for (int round = 0; round < 50 && !(state.dwEventState & SCARD_STATE_PRESENT); ++round) {
      SCardGetStatusChangeA(ctx, 200, &state, 1);
      state.dwCurrentState = state.dwEventState;
    }
    SCardReleaseContext(ctx);
    ASSERT_TRUE(state.dwEventState & SCARD_STATE_PRESENT) << name(reader);
  }

  // Connects a second client to the reader: what it gets while ours holds the card.
  LONG secondClient(size_t reader) {
    SCARDCONTEXT ctx = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    LONG rc = SCardConnectA(ctx, name(reader).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol);
    if (card) SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(ctx);
    return rc;
  }

  std::unique_ptr<cardsim::PcscBed> bed_;
  readertest::FakeRecognition recognition_{{readertest::atrOf("asign")}};
};

}  // namespace

TEST_F(PcscFactory, ReaderNameTable) {
  struct Row {
    std::string readerName;
    int reader;  // -1: none
  } rows[] = {
      {name(kDirect), kDirect},
      {"Quarvel Sim", kPlain},  // the first listed that begins so; the rest need not match
      {"Quarvel Sim K", kPolling},
      {"dynamic", kPlain},      // the position "Reader0" names: the first
      {"dynamic7", kPlain},
      {"", -1},
      {"Quarvel Sim Keypad and more", -1},
      {"quarvel sim", -1},
  };
  for (auto& row : rows) {
    ft::setString(kReader0, "ReaderName", row.readerName);
    CReader* reader = CReaderFactory::getInstance();
    if (row.reader < 0) {
      EXPECT_EQ(reader, nullptr) << row.readerName;
      continue;
    }
    ASSERT_NE(reader, nullptr) << row.readerName;
    ASSERT_NE(dynamic_cast<CReader_PCSC*>(reader), nullptr);
    EXPECT_EQ(std::string(reader->getCTAPIName()), name(row.reader)) << row.readerName;
    EXPECT_STREQ(reader->getName(), "PC/SC");
    EXPECT_EQ(reader->connect(0), 0);
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
  }
}

TEST_F(PcscFactory, ShareModeTable) {
  ft::setString(kReader0, "ReaderName", name(kPlain));
  struct Row {
    const char* shareMode;  // nullptr: not set
    LONG second;
  } rows[] = {
      {nullptr, SCARD_E_SHARING_VIOLATION}, {"1", SCARD_E_SHARING_VIOLATION}, {"0", SCARD_E_SHARING_VIOLATION},
      {"4", SCARD_E_SHARING_VIOLATION},     {"x", SCARD_E_SHARING_VIOLATION}, {"2", SCARD_S_SUCCESS},
  };
  for (auto& row : rows) {
    if (row.shareMode) ft::setString(kReader0, "ShareMode", row.shareMode);
    CReader* reader = CReaderFactory::getInstance();
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->connect(0), 0);
    EXPECT_EQ(secondClient(kPlain), row.second) << (row.shareMode ? row.shareMode : "not set");
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
    // Released: the card is free for others again.
    EXPECT_EQ(secondClient(kPlain), SCARD_S_SUCCESS);
  }
}

TEST_F(PcscFactory, CacheByReaderName) {
  ft::setString(kReader0, "ReaderName", "Quarvel Sim");
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(reader->connect(0), 0);
  EXPECT_EQ(CReaderFactory::getInstance(), reader);
  EXPECT_NE(reader->getCard(), nullptr);
  // Another name is another entry.
  ft::setString(kReader0, "ReaderName", name(kDirect));
  CReader* direct = CReaderFactory::getInstance();
  ASSERT_NE(direct, nullptr);
  EXPECT_NE(direct, reader);
  ft::setString(kReader0, "ReaderName", "Quarvel Sim");
  EXPECT_EQ(CReaderFactory::getInstance(), reader);

  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
  CReader* fresh = CReaderFactory::getInstance();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->getCard(), nullptr);  // a new object, not yet connected
  EXPECT_EQ(recognition_.deleted, 1);
  EXPECT_EQ(CReaderFactory::releaseInstance(fresh), 1);
  EXPECT_EQ(CReaderFactory::releaseInstance(direct), 1);
}

TEST_F(PcscFactory, SwitchesFromTheSettings) {
  ft::setString(kReader0, "ReaderName", name(kPolling));
  ft::setString(kReader0, "UseBeep", "Yes");
  ft::setString(kReader0, "UseGUI", "No");
  ft::setString(kReader0, "UserMessage", "7");
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->shallUseGUI(), 0);
  ASSERT_EQ(reader->connect(0), 0);
  EXPECT_EQ(reader->isSecure(), 1);
  bed_->reader(kPolling).setKeypad("1 2 3 4 5 6 OK");
  platform::clearBeeps();
  EXPECT_EQ(reader->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(platform::recordedBeeps().size(), 8u);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);

  ft::setString(kReader0, "isSecure", "No");
  ft::setString(kReader0, "UseBeep", "yes");  // only "Yes" switches beeping on
  reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(reader->connect(0), 0);
  EXPECT_EQ(reader->isSecure(), 0);
  EXPECT_EQ(reader->performVerification(0x81, 2, 0, 6, 0, nullptr, nullptr, nullptr), static_cast<int>(0x80000006u));
  EXPECT_EQ(reader->shallUseGUI(), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
}

TEST_F(PcscFactory, UnmatchedNamesLeaveNoContextBehind) {
  // pcscd serves a client a limited number of contexts: leaking one per call
  // would soon leave none for the reader that matches.
  ft::setString(kReader0, "ReaderName", "No Such Reader");
  for (int i = 0; i < 40; ++i) ASSERT_EQ(CReaderFactory::getInstance(), nullptr) << i;
  ft::setString(kReader0, "ReaderName", name(kPlain));
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->connect(0), 0);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(CReaderFactory::releaseInstance(reader), 1) << i;
    reader = CReaderFactory::getInstance();
    ASSERT_NE(reader, nullptr) << i;
  }
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
}
