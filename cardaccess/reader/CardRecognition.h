// How a reader has the card recognised after connect: the card recognition puts
// itself in place here, and the readers ask it for the card object of an ATR and
// hand card objects back to it for deletion.
#pragma once

#include <string>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CSCard;
class CICC;
class CReader;

class CardRecognition {
 public:
  virtual ~CardRecognition() = default;
  // A new card object for the ATR, owned by the reader; NULL when the card is not recognised.
  virtual CSCard* getSCard(const std::string& atr, CICC* channel, CReader* reader) = 0;
  virtual void deleteCard(CSCard* card) = 0;
};

// The recognition in use (NULL: none, every card is unknown); returns the previous one.
CardRecognition* setCardRecognition(CardRecognition* recognition);

CSCard* recognizeCard(const std::string& atr, CICC* channel, CReader* reader);
void deleteCard(CSCard* card);

QUARVEL_CARD_NAMESPACE_END
