#include "cardaccess/reader/PinPad.h"

#include <algorithm>

QUARVEL_CARD_NAMESPACE_BEGIN

namespace pinpad {

namespace {

struct Format {
  unsigned char formatString, blockString, lengthFormat;
};

Format formatBytes(int format) {
  switch (format) {
    case 0: return {0x02, 0x08, 0x00};
    case 1: return {0x01, 0x08, 0x00};
    default: return {0x89, 0x47, 0x04};
  }
}

void putFormat(std::string& s, int format) {
  const Format f = formatBytes(format);
  s += static_cast<char>(f.formatString);
  s += static_cast<char>(f.blockString);
  s += static_cast<char>(f.lengthFormat);
}

// wPINMaxExtraDigit, maximum in the low byte: exactly L digits, or 4 to 12.
void putExtraDigit(std::string& s, int fixedLength) {
  if (fixedLength > 0) {
    s += static_cast<char>(fixedLength & 0xFF);
    s += static_cast<char>(fixedLength & 0xFF);
  } else {
    s += '\x0C';
    s += '\x04';
  }
}

// The PIN block of the command: eight zero bytes, or 20 FF FF... for format 2.
std::string pinBlock(int format) { return format == 2 ? std::string("\x20\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8) : std::string(8, '\0'); }

}  // namespace

bool knownFormat(int format) { return format >= 0 && format <= 2; }

std::string verifyStructure(unsigned char timeOut, int format, int fixedLength, unsigned char keyReference,
                            const std::string* apdu) {
  std::string s;
  s += static_cast<char>(timeOut);
  s += '\x0A';  // bTimerOut2
  putFormat(s, format);
  putExtraDigit(s, fixedLength);
  s += static_cast<char>(fixedLength > 0 ? 0x01 : 0x02);  // end at the length, or on the OK key
  s += '\x01';                                            // bNumberMessage
  s += std::string("\x07\x04", 2);                        // wLangId 0x0407
  s += '\0';                                              // bMsgIndex
  s += std::string(3, '\0');                              // bTeoPrologue
  s += std::string("\x0D\x00\x00\x00", 4);                // ulDataLength 13
  std::string command = std::string("\x00\x20\x00\x00\x08", 5) + pinBlock(format);
  if (apdu) {
    std::copy(apdu->begin(), apdu->begin() + std::min<size_t>(apdu->size(), 13), command.begin());
  } else {
    command[3] = static_cast<char>(keyReference);
  }
  return s + command;
}

std::string modifyStructure(int format, int fixedLength, unsigned char keyReference) {
  std::string s;
  s += '\x3C';  // bTimerOut 60
  s += '\x0A';  // bTimerOut2
  putFormat(s, format);
  s += '\0';    // bInsertionOffsetOld
  s += '\x08';  // bInsertionOffsetNew
  putExtraDigit(s, fixedLength);
  s += '\x03';  // bConfirmPIN: confirm the new PIN, and ask for the old one
  s += static_cast<char>(fixedLength > 0 ? 0x01 : 0x02);
  s += '\x03';  // bNumberMessage
  s += std::string("\x07\x04", 2);
  s += std::string("\x00\x01\x02", 3);  // bMsgIndex1..3
  s += std::string(3, '\0');
  s += std::string("\x15\x00\x00\x00", 4);  // ulDataLength 21
  std::string command("\x00\x24\x00\x00\x10", 5);
  command[3] = static_cast<char>(keyReference);
  return s + command + pinBlock(format) + pinBlock(format);
}

void parseFeatures(const BYTE* list, size_t length, DWORD table[kFeatureCount]) {
  for (size_t i = 0; list && i + 6 <= length; i += 6) {
    const BYTE tag = list[i];
    if (tag >= kFeatureCount) break;
    table[tag] = (DWORD(list[i + 2]) << 24) | (DWORD(list[i + 3]) << 16) | (DWORD(list[i + 4]) << 8) | list[i + 5];
  }
}

}  // namespace pinpad

QUARVEL_CARD_NAMESPACE_END
