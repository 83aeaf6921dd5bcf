#include "cardaccess/card/CSCardFactory.h"

#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_DTrustCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/CICC.h"
#include "foundation/archive/SignedArchive.h"
#include "foundation/base/CException.h"
#include "foundation/core/CKonfigurator.h"
#include "foundation/base/FormatString.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

VOQ::VSingleton<CSCardFactory> CSCardFactory::s_singleton;

namespace {
constexpr int kMatch = 2;

// Takes the factory's place when it is deleted at exit: readers deleted later
// still hand their card objects back for deletion.
class LateCardDeletion : public CardRecognition {
 public:
  CSCard* getSCard(const std::string&, CICC*, CReader*) override { return nullptr; }
  void deleteCard(CSCard* card) override { delete card; }
};

CardRecognition* lateCardDeletion() {
  static CardRecognition* const instance = new LateCardDeletion();  // lives to the very end
  return instance;
}

constexpr int kLastListIndex = 10;
constexpr std::size_t kBankCompare = 11;
}  // namespace

CSCardFactory::CSCardFactory() { logObject(this, kConstructed); }

CSCardFactory::~CSCardFactory() {
  CardRecognition* previous = setCardRecognition(lateCardDeletion());
  if (previous != this) setCardRecognition(previous);
  s_singleton.forget(this);
  logObject(this, kDestroyed);
}

void CSCardFactory::lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CSCardFactory", "Semaphore hat falschen Wert.\n");
}

void CSCardFactory::unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CSCardFactory::Unlock", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CAssertException("CFactory", "Kann Semaphore nicht zurücksetzen.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

void CSCardFactory::deleteAtExit() { delete s_singleton.get(); }

CSCardFactory* CSCardFactory::getInstance() {
  return s_singleton.getOrMake(&lock, &unlock, [] {
    std::unique_ptr<CSCardFactory> made(new (std::nothrow) CSCardFactory());
    if (made) std::atexit(&CSCardFactory::deleteAtExit);
    return made;
  });
}

void CSCardFactory::install() { setCardRecognition(getInstance()); }

CSCard* CSCardFactory::getSCard(const std::string& atr, CICC* channel, CReader* reader) {
  return getSCard(atr, static_cast<CICC_base*>(channel), reader);
}

void CSCardFactory::deleteCard(CSCard* card) { delete card; }

CSCard* CSCardFactory::getSCard(const std::string& atr, CICC_base* channel, CReader* reader) {
  if (channel == nullptr || reader == nullptr) {
    log("getSCard", "started.\n", 4, 0);
    return nullptr;
  }
  log("getSCard",
      VOQ::formatString("ICC: 0x%p, Reader: 0x%p, started.\n", static_cast<void*>(channel),
                       static_cast<void*>(reader))
          .c_str(),
      4, 0);
  CSCard* card = nullptr;
  try {
    if (int alg = isBankCard(atr)) {
      auto bank = std::make_unique<CSCard_BankCard>(channel, reader, atr, alg);
      log("SCardFactory", "ACOS Version check\n", 4, 0);
      const bool acos04 = bank->isACOS04();
      log("SCardFactory", VOQ::formatString("ACOS_Generation: %d.\n", acos04 ? 1 : 0).c_str(), 4, 0);
      if (!acos04) {
        // The probe's object goes with the refusal.
        log("ACOS_03", "not supported\n", 4, 0);
        return nullptr;
      }
      card = bank.release();
    } else if (int alg = isDTrustCard(atr)) {
      card = new CSCard_DTrustCard(channel, reader, atr, alg);
    } else if (int alg = isECardng(atr)) {
      card = new CSCard_ECardng(channel, reader, atr, alg);
    } else if (int alg = isECardG4(atr)) {
      card = new CSCard_ECardG4(channel, reader, atr, alg);
    } else if (int alg = isASignP_Cardos(atr)) {
      card = new CSCard_aSignPCS(channel, reader, atr, alg);
    }
  } catch (const std::bad_alloc&) {
    card = nullptr;
  }
  log("getSCard", VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(card)).c_str(), 4, 0);
  return card;
}

int CSCardFactory::toBase64(const std::string& bytes, std::string& out) {
  Blob* text = base64Encode(makeBlob(bytes.data(), bytes.size()));
  if (text == nullptr) return 0;
  out.assign(reinterpret_cast<const char*>(text->data), text->length);
  freeBlob(text);
  return 1;
}

int CSCardFactory::isListed(const char* method, const std::string& atr, const char* format, std::size_t prefix,
                            std::size_t compare) {
  log(method, "started.\n", 4, 0);
  int result = 0;
  std::string encoded;
  const std::string part = prefix != 0 && atr.size() > prefix ? atr.substr(0, prefix) : atr;
  CKonfigurator* settings = CKonfigurator::getInstance();
  if (settings != nullptr && toBase64(part, encoded)) {
    for (int i = 0; i <= kLastListIndex && result == 0; ++i) {
      const std::string name = VOQ::formatString(format, i);
      std::string value;
      if (settings->get("SecureInternal", konfigKey(name.c_str()), konfigOut(&value)) != 0) continue;
      const bool equal = compare != 0 ? std::strncmp(value.c_str(), encoded.c_str(), compare) == 0
                                      : std::strcmp(value.c_str(), encoded.c_str()) == 0;
      if (equal) result = kMatch;
    }
  }
  log(method, VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(result)).c_str(), 4, 0);
  return result;
}

int CSCardFactory::isBankCard(const std::string& atr) {
  return isListed("isBankCard", atr, "BankCard%i", 0, kBankCompare);
}

int CSCardFactory::isDTrustCard(const std::string& atr) {
  return isListed("isDTrustCard", atr, "DTrustCard%i", 0, 0);
}

int CSCardFactory::isECardng(const std::string& atr) { return isListed("isECardng", atr, "eCardng%i", 16, 0); }

int CSCardFactory::isECardG4(const std::string& atr) { return isListed("isECardG4", atr, "eCardG4%i", 14, 0); }

int CSCardFactory::isASignP_Cardos(const std::string& atr) {
  return isListed("isASignP_Cardos", atr, "aSignPCardos%i", 14, 0);
}
