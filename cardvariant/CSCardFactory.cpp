#include "cardvariant/CSCardFactory.h"

#include <cstdlib>

#include "cardaccess/reader/CICC.h"
#include "cardvariant/CSCard_BankCard.h"
#include "cardvariant/CSCard_DTrust.h"
#include "cardvariant/CSCard_OCard.h"
#include "cardvariant/CSCard_TrustSign.h"
#include "cardvariant/Settings.h"
#include "cardvariant/Utilities.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

constexpr int kListLength = 11;

// Two texts compared as zero-terminated ones over at most n characters, each
// ending at its own length: neither is read past its end.
bool sameUpTo(const std::string& a, const std::string& b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char x = i < a.size() ? a[i] : '\0';
    const char y = i < b.size() ? b[i] : '\0';
    if (x != y) return false;
    if (x == '\0') return true;
  }
  return true;
}

}  // namespace

VOQ::VSingleton<CSCardFactory> CSCardFactory::s_singleton;

void CSCardFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CSCardFactory", "Semaphore hat falschen Wert.\n");
}

void CSCardFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kOk: return;
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CSCardFactory::Unlock", "kein Semaphore.\n");
    default: throw VOQ::CAssertException("CFactory", "Kann Semaphore nicht zurücksetzen.\n");
  }
}

CSCardFactory* CSCardFactory::getInstance() {
  return s_singleton.getOrMake(&Lock, &Unlock, [] {
    std::atexit(&CSCardFactory::deleteAtExit);
    return std::unique_ptr<CSCardFactory>(new CSCardFactory());
  });
}

void CSCardFactory::deleteAtExit() { delete s_singleton.get(); }

void CSCardFactory::install() { setCardRecognition(getInstance()); }

CSCardFactory::CSCardFactory() { logObject(this, kConstructed); }

CSCardFactory::~CSCardFactory() {
  // Readers made after this point find no recognition; another one in place stays.
  CardRecognition* previous = setCardRecognition(nullptr);
  if (previous != this) setCardRecognition(previous);
  s_singleton.forget(this);
  logObject(this, kDestroyed);
}

void CSCardFactory::deleteCard(CSCard* card) { delete card; }

CSCard* CSCardFactory::getSCard(const std::string& atr, CICC* channel, CReader* reader) {
  CSCard* card = nullptr;
  if (channel == nullptr || reader == nullptr) {
    log("getSCard", "started.\n", 4, 0);
  } else {
    log("getSCard",
        VOQ::formatString("ICC: 0x%x, Reader: 0x%x, started.\n",
                               static_cast<unsigned>(reinterpret_cast<uintptr_t>(channel)),
                               static_cast<unsigned>(reinterpret_cast<uintptr_t>(reader)))
            .c_str(),
        4, 0);
    int hash = 0;
    if ((hash = isTrustSign(atr)) != 0) card = new CSCard_TrustSign(channel, reader, atr, hash);
    else if ((hash = isBankCard(atr)) != 0) card = new CSCard_BankCard(channel, reader, atr, hash);
    else if ((hash = isECard(atr)) != 0) card = new CSCard_ECard(channel, reader, atr, hash);
    else if ((hash = isOCard(atr)) != 0) card = new CSCard_OCard(channel, reader, atr, hash);
    else if ((hash = isDTrustCard(atr)) != 0) card = new CSCard_DTrust(channel, reader, atr, hash);
  }
  log("getSCard", VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(card)).c_str(), 4, 0);
  return card;  // owned by the reader, which hands it back through deleteCard
}

int CSCardFactory::isTrustSign(const std::string& atr) {
  return recognise("isTrustSign", "TrustSign", Rule::WholeText, atr);
}
int CSCardFactory::isBankCard(const std::string& atr) {
  return recognise("isBankCard", "BankCard", Rule::First11Characters, atr);
}
int CSCardFactory::isECard(const std::string& atr) { return recognise("isECard", "eCard", Rule::ECard, atr); }
int CSCardFactory::isOCard(const std::string& atr) { return recognise("isOCard", "oCard", Rule::WholeText, atr); }
int CSCardFactory::isDTrustCard(const std::string& atr) {
  return recognise("isDTrustCard", "DTrust", Rule::First11Characters, atr);
}

int CSCardFactory::recognise(const char* test, const char* list, Rule rule, const std::string& atr) {
  log(test, "started.\n", 4, 0);
  int result = 0;
  std::string text;
  if (bytesToBase64(atr, text)) {
    for (int i = 0; i < kListLength && result == 0; ++i) {
      const std::optional<std::string> value = findText(nullptr, VOQ::formatString("%s%i", list, i).c_str());
      if (!value) continue;
      bool match = false;
      switch (rule) {
        case Rule::WholeText: match = *value == text; break;
        case Rule::First11Characters: match = sameUpTo(*value, text, 11); break;
        case Rule::ECard: {
          std::string decoded;
          match = *value == text ||
                  (base64ToBytes(*value, decoded) && !decoded.empty() && sameUpTo(decoded, atr, 11));
          break;
        }
      }
      if (match) result = readHashAlgorithm(VOQ::formatString("%sHash%i", list, i).c_str());
    }
  }
  log(test, VOQ::formatString("returned: 0x%x.\n", result).c_str(), 4, 0);
  return result;
}

int CSCardFactory::readHashAlgorithm(const char* valueName) {
  const std::optional<std::string> name = findText(nullptr, valueName);
  if (!name || name->empty() || *name == "RIPEMD160") return 3;
  if (*name == "SHA1") return 1;
  if (*name == "SHA256") return 2;
  return 99;
}

}  // namespace cardvariant
