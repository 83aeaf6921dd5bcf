// Card recognition: the card type of an answer-to-reset, from the lists of the
// program's own signed settings file, and the card object for it.
#pragma once

#include "cardaccess/reader/CardRecognition.h"
#include "foundation/base/VSingleton.h"
#include "foundation/core/CLogable.h"

#include <windows.h>

#include <atomic>
#include <string>

class CICC_base;
class CSCard;

class CSCardFactory : public CLogable, public CardRecognition {
 public:
  // The process-wide factory, made on first use under a semaphore.
  static CSCardFactory* getInstance();
  // Puts the factory in place as the readers' card recognition.
  static void install();

  ~CSCardFactory() override;
  CSCardFactory(const CSCardFactory&) = delete;
  CSCardFactory& operator=(const CSCardFactory&) = delete;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  // A new card object owned by the caller, or NULL when no type serves the ATR.
  virtual CSCard* getSCard(const std::string& atr, CICC_base* channel, CReader* reader);

  // CardRecognition, for the readers.
  CSCard* getSCard(const std::string& atr, CICC* channel, CReader* reader) override;
  void deleteCard(CSCard* card) override;

  // 2 (the hash algorithm handed to the card) when the ATR is listed, else 0.
  int isBankCard(const std::string& atr);
  int isDTrustCard(const std::string& atr);
  int isECardng(const std::string& atr);
  int isECardG4(const std::string& atr);
  int isASignP_Cardos(const std::string& atr);

  // 1 and the standard Base64 text, 0 when the encoder gives nothing.
  int toBase64(const std::string& bytes, std::string& out);

 private:
  CSCardFactory();
  // Looks the Base64 of the ATR's first `prefix` bytes (0: all) up in the
  // values format % 0..10, comparing `compare` characters (0: the whole text).
  int isListed(const char* method, const std::string& atr, const char* format, std::size_t prefix,
               std::size_t compare);
  static void lock();
  static void unlock();
  static void deleteAtExit();

  static VOQ::VSingleton<CSCardFactory> s_singleton;
};
