// The WinSCard calls as the system's code makes them, through pcscd and the test
// bed's reader driver: Windows types and layouts on this side, pcsc-lite on the other.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cardsim/pcscbed.h"
#include "platform/win_scard_test.h"
#include "windows.h"
#include "winscard.h"

using cardsim::Bytes;
using cardsim::CardProfile;
using cardsim::fromHex;
using cardsim::toHex;

namespace {

constexpr size_t kPlain = 0, kDirectPad = 1, kPollingPad = 2;

static_assert(sizeof(SCARD_IO_REQUEST) == 8, "the Windows layout");
static_assert(CM_IOCTL_GET_FEATURE_REQUEST == 0x313520, "SCARD_CTL_CODE(3400)");

class WinSCard : public testing::Test {
 protected:
  void SetUp() override {
    bed_ = std::make_unique<cardsim::PcscBed>();
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx_), SCARD_S_SUCCESS);
  }

  void TearDown() override {
    platform::scardIgnoreDriverCardAttributes(false);
    if (card_) SCardDisconnect(card_, SCARD_LEAVE_CARD);
    if (ctx_) SCardReleaseContext(ctx_);
    bed_.reset();
  }

  const std::string& name(size_t reader) const { return bed_->name(reader); }

  // Waits as an application does until pcscd reports the card in or out.
  void waitForCard(size_t reader, bool present) {
    SCARD_READERSTATEA state{};
    state.szReader = name(reader).c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    for (int round = 0; round < 50; ++round) {
      LONG rc = SCardGetStatusChangeA(ctx_, 200, &state, 1);
      ASSERT_TRUE(rc == SCARD_S_SUCCESS || rc == SCARD_E_TIMEOUT) << std::hex << rc;
      if (((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present) return;
      state.dwCurrentState = state.dwEventState;
    }
    FAIL() << "pcscd did not see the card " << (present ? "arrive" : "leave");
  }

  void insert(size_t reader, const std::string& profile) {
    bed_->reader(reader).insert(CardProfile::load(CardProfile::installedPath(profile)));
    waitForCard(reader, true);
  }

  LONG connect(size_t reader, DWORD share = SCARD_SHARE_SHARED) {
    DWORD active = 0;
    LONG rc = SCardConnectA(ctx_, name(reader).c_str(), share, SCARD_PROTOCOL_T1, &card_, &active);
    if (rc == SCARD_S_SUCCESS) {
      EXPECT_EQ(active, SCARD_PROTOCOL_T1);
    }
    return rc;
  }

  LONG transmit(const std::string& hex, Bytes& answer, DWORD capacity = 300) {
    const SCARD_IO_REQUEST send{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
    SCARD_IO_REQUEST receive{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
    Bytes command = fromHex(hex);
    answer.assign(capacity, 0);
    DWORD length = capacity;
    LONG rc = SCardTransmit(card_, &send, command.data(), static_cast<DWORD>(command.size()), &receive,
                            answer.data(), &length);
    answer.resize(rc == SCARD_S_SUCCESS ? length : 0);
    return rc;
  }

  LONG attribute(DWORD id, Bytes& value) {
    value.assign(256, 0);
    DWORD length = 256;
    LONG rc = SCardGetAttrib(card_, id, value.data(), &length);
    value.resize(rc == SCARD_S_SUCCESS ? length : 0);
    return rc;
  }

  std::vector<std::string> cardEvents(size_t reader) {
    std::vector<std::string> events;
    for (auto& e : bed_->reader(reader).cardLog())
      if (e.event != "apdu") events.push_back(e.event);
    return events;
  }

  std::unique_ptr<cardsim::PcscBed> bed_;
  SCARDCONTEXT ctx_ = 0;
  SCARDHANDLE card_ = 0;
};

Bytes atrOf(const std::string& profile) { return CardProfile::load(CardProfile::installedPath(profile)).atr; }

}  // namespace

TEST_F(WinSCard, ListsReadersAsAMultiStringWithItsLengthRules) {
  DWORD length = 0;
  ASSERT_EQ(SCardListReadersA(ctx_, SCARD_DEFAULT_READERS, nullptr, &length), SCARD_S_SUCCESS);
  std::string expected;
  for (size_t i = 0; i < 3; ++i) expected += name(i) + '\0';
  expected += '\0';
  EXPECT_EQ(length, expected.size());

  std::string buffer(1024, 'x');
  length = 1024;
  ASSERT_EQ(SCardListReadersA(ctx_, SCARD_DEFAULT_READERS, buffer.data(), &length), SCARD_S_SUCCESS);
  EXPECT_EQ(buffer.substr(0, length), expected);

  length = 5;
  EXPECT_EQ(SCardListReadersA(ctx_, nullptr, buffer.data(), &length), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(SCardListReadersA(ctx_, nullptr, buffer.data(), nullptr), SCARD_E_INVALID_PARAMETER);

  // The service allocates the list; SCardFreeMemory gives it back.
  LPSTR allocated = nullptr;
  length = SCARD_AUTOALLOCATE;
  ASSERT_EQ(SCardListReadersA(ctx_, nullptr, reinterpret_cast<LPSTR>(&allocated), &length), SCARD_S_SUCCESS);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::string(allocated, length), expected);
  EXPECT_EQ(SCardFreeMemory(ctx_, allocated), SCARD_S_SUCCESS);
}

TEST_F(WinSCard, ConnectStatusAndTransmitWithTheWindowsLayout) {
  EXPECT_EQ(connect(kPlain), SCARD_E_NO_SMARTCARD);
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);

  char names[256];
  DWORD namesLength = sizeof names, state = 99, protocol = 0, atrLength = 36;
  BYTE atr[36];
  ASSERT_EQ(SCardStatusA(card_, names, &namesLength, &state, &protocol, atr, &atrLength), SCARD_S_SUCCESS);
  EXPECT_EQ(std::string(names), name(kPlain));
  EXPECT_EQ(state, SCARD_SPECIFIC);
  EXPECT_EQ(protocol, SCARD_PROTOCOL_T1);
  EXPECT_EQ(Bytes(atr, atr + atrLength), atrOf("asign"));

  Bytes answer;
  ASSERT_EQ(transmit("00A4000C02DF01", answer), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(answer), "9000");
  ASSERT_EQ(transmit("00200081", answer), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(answer), "63C3");
  // A receive buffer too small for the answer.
  EXPECT_EQ(transmit("00A4000C02DF01", answer, 1), SCARD_E_INSUFFICIENT_BUFFER);
  // A receiving header may be left out.
  const SCARD_IO_REQUEST send{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
  BYTE command[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0xDF, 0x01};
  BYTE out[16];
  DWORD outLength = sizeof out;
  ASSERT_EQ(SCardTransmit(card_, &send, command, sizeof command, nullptr, out, &outLength), SCARD_S_SUCCESS);
  EXPECT_EQ(outLength, 2u);
}

TEST_F(WinSCard, CardAttributesFromTheDriverOrRebuiltFromTheStatus) {
  insert(kPlain, "bank");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  for (bool rebuilt : {false, true}) {
    SCOPED_TRACE(rebuilt ? "rebuilt" : "from the driver");
    platform::scardIgnoreDriverCardAttributes(rebuilt);
    Bytes value;
    ASSERT_EQ(attribute(SCARD_ATTR_ATR_STRING, value), SCARD_S_SUCCESS);
    EXPECT_EQ(value, atrOf("bank"));
    ASSERT_EQ(attribute(SCARD_ATTR_ICC_PRESENCE, value), SCARD_S_SUCCESS);
    EXPECT_EQ(toHex(value), "02");
    // Length query and a short buffer.
    DWORD length = 0;
    ASSERT_EQ(SCardGetAttrib(card_, SCARD_ATTR_ATR_STRING, nullptr, &length), SCARD_S_SUCCESS);
    EXPECT_EQ(length, atrOf("bank").size());
    BYTE small[2];
    length = sizeof small;
    EXPECT_EQ(SCardGetAttrib(card_, SCARD_ATTR_ATR_STRING, small, &length), SCARD_E_INSUFFICIENT_BUFFER);
  }
  // With the card gone, the rebuilt presence is 0 once pcscd has seen it leave.
  bed_->reader(kPlain).remove();
  waitForCard(kPlain, false);
  Bytes value;
  EXPECT_EQ(attribute(SCARD_ATTR_ICC_PRESENCE, value), SCARD_S_SUCCESS);
  EXPECT_EQ(toHex(value), "00");
  EXPECT_EQ(attribute(SCARD_ATTR_ATR_STRING, value), SCARD_W_REMOVED_CARD);
}

TEST_F(WinSCard, FeatureRequestTakesTheWindowsControlCode) {
  insert(kDirectPad, "asign");
  ASSERT_EQ(connect(kDirectPad), SCARD_S_SUCCESS);
  BYTE out[256];
  DWORD returned = 99;
  ASSERT_EQ(SCardControl(card_, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, out, sizeof out, &returned),
            SCARD_S_SUCCESS);
  // Tag, length 4, big-endian control code; the codes are the driver's, used as they are.
  EXPECT_EQ(toHex(Bytes(out, out + returned)), "060442330006" "070442330007");

  // A reader without PIN pad has no features to report.
  SCardDisconnect(card_, SCARD_LEAVE_CARD);
  card_ = 0;
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  returned = 99;
  LONG rc = SCardControl(card_, CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, out, sizeof out, &returned);
  EXPECT_TRUE(rc != SCARD_S_SUCCESS || returned == 0) << std::hex << rc;
}

TEST_F(WinSCard, FeatureCodesFromTheListReachTheReader) {
  insert(kPollingPad, "bank");
  ASSERT_EQ(connect(kPollingPad), SCARD_S_SUCCESS);
  bed_->reader(kPollingPad).setKeypad("1 OK");
  BYTE out[64];
  DWORD returned = 0;
  ASSERT_EQ(SCardControl(card_, 0x42330005, nullptr, 0, out, sizeof out, &returned), SCARD_S_SUCCESS);
  auto records = bed_->reader(kPollingPad).controlRecords();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().code, 0x42330005u);
}

TEST_F(WinSCard, ColdAndWarmResetReachTheCard) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  bed_->reader(kPlain).withCard([](cardsim::Card& c) { c.clearLog(); });
  DWORD active = 0;
  ASSERT_EQ(SCardReconnect(card_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_UNPOWER_CARD, &active),
            SCARD_S_SUCCESS);
  EXPECT_EQ(active, SCARD_PROTOCOL_T1);
  auto cold = cardEvents(kPlain);
  ASSERT_GE(cold.size(), 2u);
  EXPECT_EQ(cold[cold.size() - 2], "power-off");
  EXPECT_EQ(cold.back(), "power-on");

  bed_->reader(kPlain).withCard([](cardsim::Card& c) { c.clearLog(); });
  ASSERT_EQ(SCardReconnect(card_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &active),
            SCARD_S_SUCCESS);
  auto warm = cardEvents(kPlain);
  ASSERT_FALSE(warm.empty());
  EXPECT_EQ(warm.back(), "reset");
  for (auto& e : warm) EXPECT_NE(e, "power-off");
}

TEST_F(WinSCard, ExclusiveShareKeepsASecondClientOut) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain, SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
  SCARDCONTEXT other = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
  SCARDHANDLE second = 0;
  DWORD active = 0;
  EXPECT_EQ(SCardConnectA(other, name(kPlain).c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &second, &active),
            SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(SCardReleaseContext(other), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardIsValidContext(other), SCARD_E_INVALID_HANDLE);
}

TEST_F(WinSCard, RemovedCardIsReportedOnTheHandle) {
  insert(kPlain, "asign");
  ASSERT_EQ(connect(kPlain), SCARD_S_SUCCESS);
  bed_->reader(kPlain).remove();
  waitForCard(kPlain, false);
  Bytes answer;
  EXPECT_EQ(transmit("00A4000C02DF01", answer), SCARD_W_REMOVED_CARD);
  DWORD state = 0, protocol = 0, atrLength = 36, namesLength = 0;
  BYTE atr[36];
  EXPECT_EQ(SCardStatusA(card_, nullptr, &namesLength, &state, &protocol, atr, &atrLength), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(SCardDisconnect(card_, SCARD_RESET_CARD), SCARD_S_SUCCESS);
  card_ = 0;
  EXPECT_EQ(SCardDisconnect(0x1234, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
}
