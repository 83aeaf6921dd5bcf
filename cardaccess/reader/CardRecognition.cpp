#include "cardaccess/reader/CardRecognition.h"

#include <atomic>

QUARVEL_CARD_NAMESPACE_BEGIN

namespace {
std::atomic<CardRecognition*> g_recognition{nullptr};
}

CardRecognition* setCardRecognition(CardRecognition* recognition) { return g_recognition.exchange(recognition); }

CSCard* recognizeCard(const std::string& atr, CICC* channel, CReader* reader) {
  CardRecognition* r = g_recognition.load();
  return r && channel && reader ? r->getSCard(atr, channel, reader) : nullptr;
}

void deleteCard(CSCard* card) {
  CardRecognition* r = g_recognition.load();
  if (card && r) r->deleteCard(card);
}

QUARVEL_CARD_NAMESPACE_END
