// The PC/SC part 10 blocks a PIN pad takes (packed, little-endian) and the reader's
// feature list.
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace pinpad {

// Feature tags.
constexpr int kVerifyPinStart = 1, kVerifyPinFinish = 2, kModifyPinStart = 3, kModifyPinFinish = 4,
              kGetKeyPressed = 5, kVerifyPinDirect = 6, kModifyPinDirect = 7;
constexpr int kFeatureCount = 32;

// Keys GET_KEY_PRESSED reports.
constexpr unsigned char kKeyNone = 0x00, kKeyDigit = 0x2B, kKeyBackspace = 0x08, kKeyClear = 0x0A, kKeyOk = 0x0D,
                        kKeyCancel = 0x1B, kKeyTimeout = 0x40;

constexpr size_t kVerifySize = 32, kModifySize = 45;

// PIN formats 0 (ASCII), 1 (BCD) and 2 (ISO 9564 format 2).
bool knownFormat(int format);

// PIN_VERIFY_STRUCTURE for VERIFY of keyReference. A caller APDU (at most 13 bytes)
// is written over the start of the command; P2 then stays as the caller gave it.
std::string verifyStructure(unsigned char timeOut, int format, int fixedLength, unsigned char keyReference,
                            const std::string* apdu);
// PIN_MODIFY_STRUCTURE for CHANGE REFERENCE DATA of keyReference.
std::string modifyStructure(int format, int fixedLength, unsigned char keyReference);

// Fills table[tag] with the big-endian control codes of the feature list: whole
// six-byte records within length only, up to the first tag of 32 or more.
void parseFeatures(const BYTE* list, size_t length, DWORD table[kFeatureCount]);

}  // namespace pinpad

QUARVEL_CARD_NAMESPACE_END
