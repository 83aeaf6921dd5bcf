// How the program's card channel encodes a command and splits the answer. The
// plug-in's card library shares the rest of the channel but encodes in its own way.
#include "cardaccess/reader/CICC.h"

#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

std::string CICC_base::encode(const CAPDU& apdu) {
  const CCommandAPDU& c = apdu.command;
  std::string bytes = header(c);
  // Data beyond 255 bytes cannot be announced in one byte: ISO extended length
  // (00 Lc1 Lc2, and a two-byte Le) instead.
  const bool extendedLength = c.hasData() && !apdu.extended && c.data.size() > 255;
  if (c.hasData()) {
    if (apdu.extended) {
      // The D-Trust card type's fixed header for its 2048-bit decipher block.
      bytes.append("\x00\x01\x01\x00\x00\x01", 6);
    } else if (extendedLength) {
      bytes += '\0';
      bytes += static_cast<char>((c.data.size() >> 8) & 0xFF);
      bytes += static_cast<char>(c.data.size() & 0xFF);
    } else {
      bytes += static_cast<char>(c.data.size() & 0xFF);
    }
    bytes += c.data;
  }
  if (c.Le != -1) {
    if (extendedLength) bytes += static_cast<char>((c.Le >> 8) & 0xFF);
    bytes += static_cast<char>(c.Le & 0xFF);
  }
  return bytes;
}

int CICC_base::perform(CAPDU& apdu) {
  log("perform", "started.\n", 3, kPush);
  int result = 0;
  try {
    const std::string command = encode(apdu);
    std::string response;
    const int transport = doIO(command, response);
    if (transport == 0 && !split(response, apdu.response)) {
      result = static_cast<int>(0x80010000u | (static_cast<unsigned>(cardresult::kMalformedAnswer) & 0xFFFFu));
    } else if (transport != 0) {
      result = static_cast<int>(0x80010000u | (static_cast<unsigned>(transport) & 0xFFFFu));
    }
  } catch (...) {
    log(nullptr, "", 3, kPop);
    throw;
  }
  logLazy("perform", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

QUARVEL_CARD_NAMESPACE_END
