// Card recognition of the card library: the answer-to-reset, in Base64, against
// the lists of the plug-in's HKLM settings, one list per card type, each entry
// with the hash algorithm the card object gets.
#pragma once

#include <string>

#include "cardaccess/reader/CardRecognition.h"
#include "cardvariant/CLogable.h"
#include "foundation/base/VSingleton.h"

namespace cardvariant {

class CSCard;

class CSCardFactory : public CLogable, public CardRecognition {
 public:
  static CSCardFactory* getInstance();
  // Puts the recognition in place for the readers' connect and reset.
  static void install();

  ~CSCardFactory() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  // The card object for the ATR, or NULL when no list has it.
  CSCard* getSCard(const std::string& atr, CICC* channel, CReader* reader) override;
  void deleteCard(CSCard* card) override;

  // The hash algorithm of the matching entry, 0 without a match.
  int isTrustSign(const std::string& atr);
  int isBankCard(const std::string& atr);
  int isECard(const std::string& atr);
  int isOCard(const std::string& atr);
  int isDTrustCard(const std::string& atr);
  // "SHA1" 1, "SHA256" 2, "RIPEMD160" 3, missing, empty or no text 3, other 99.
  int readHashAlgorithm(const char* valueName);

  static void Lock();
  static void Unlock();

 private:
  enum class Rule { WholeText, First11Characters, ECard };
  CSCardFactory();
  int recognise(const char* test, const char* list, Rule rule, const std::string& atr);

  static void deleteAtExit();

  static VOQ::VSingleton<CSCardFactory> s_singleton;
};

}  // namespace cardvariant
