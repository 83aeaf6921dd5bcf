// The card result codes that every reader and card operation returns, and the
// status-word mappings the operations share.
#pragma once
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace cardresult {

constexpr int kOk = 0;
constexpr int kNotSupported = static_cast<int>(0x80000001u);
constexpr int kNoPCSCReader = static_cast<int>(0x80000004u);
constexpr int kSecureEntryImpossible = static_cast<int>(0x80000006u);
constexpr int kCardNotRecognisedCTAPI = static_cast<int>(0x80000008u);
constexpr int kStatusWord = static_cast<int>(0x80010000u);
constexpr int kWrongPin = static_cast<int>(0x80020000u);
constexpr int kNewPinsDiffer = static_cast<int>(0x80020100u);
constexpr int kPinTimeout = static_cast<int>(0x80020200u);
constexpr int kPinBlocked = static_cast<int>(0x80020300u);
constexpr int kTransport = static_cast<int>(0x80030000u);
// An answer that cannot be the one asked for: shorter than its status word, or
// a signature no key of the card types could have made. A transport failure,
// since nothing the card sent can be used.
constexpr int kMalformedAnswer = static_cast<int>(0x80030100u);
constexpr int kPadTimeoutPCSC = static_cast<int>(0x8010000Au);
constexpr int kCardNotRecognisedPCSC = static_cast<int>(0x80100069u);

inline int statusWord(int sw) { return kStatusWord | (sw & 0xFFFF); }
inline int transport(int result) { return kTransport | (result & 0xFFFF); }
inline bool isWrongPin(int sw) { return (sw & 0x63C0) == 0x63C0; }

// A card operation's result after perform returned r with status word sw.
inline int plain(int r, int sw) {
  if (r != 0) return transport(r);
  return sw == 0x9000 ? kOk : statusWord(sw);
}

// The same for the PIN commands: wrong PIN with tries left, PIN blocked.
inline int pin(int r, int sw) {
  if (r != 0) return transport(r);
  if (sw == 0x9000) return kOk;
  if (isWrongPin(sw)) return kWrongPin | (sw & 0xF);
  if (sw == 0x6983) return kPinBlocked;
  return statusWord(sw);
}

// Secure PIN entry, from the status word the pad passed on: the result, and in
// status what the caller is told of the pad's answer. An entry left to time out
// gives timeout, which each kind of reader reports in its own way.
inline int padVerification(int sw, int timeout, int& status) {
  if (sw == 0x9000) {
    status = 0x9000;
    return kOk;
  }
  if (isWrongPin(sw)) {
    status = statusWord(sw);
    return kWrongPin + (sw & 0xF);
  }
  if (sw == 0x6401) {
    status = static_cast<int>(0x80036401u);
    return kSecureEntryImpossible;
  }
  if (sw == 0x6400) {
    status = static_cast<int>(0x80036400u);
    return timeout;
  }
  if (sw == 0x6983) {
    status = statusWord(sw);
    return kPinBlocked;
  }
  return status = statusWord(sw);
}

// The same for a PIN change on the pad, where the two new entries may also differ.
inline int padModification(int sw, int timeout) {
  if (sw == 0x6402) return kNewPinsDiffer;
  int status = 0;
  return padVerification(sw, timeout, status);
}

}  // namespace cardresult

QUARVEL_CARD_NAMESPACE_END
