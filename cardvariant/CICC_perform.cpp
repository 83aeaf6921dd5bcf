// How the card library's channel encodes a command and splits the answer.
#include "cardaccess/reader/CICC.h"

#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

// PSO DECIPHER of a 2048-bit block: the one command sent with an extended length.
bool isExtendedDecipher(const CCommandAPDU& c) { return c.INS == 0x2A && c.P1 == 0x80 && c.P2 == 0x86; }

}  // namespace

std::string CICC_base::encode(const CAPDU& apdu) {
  const CCommandAPDU& c = apdu.command;
  std::string bytes = header(c);
  if (c.hasData()) {
    if (isExtendedDecipher(c)) {
      // The fixed extended header of the 2048-bit decipher block: Lc 257.
      bytes.append("\x00\x01\x01\x00\x00\x01", 6);
    } else {
      bytes += static_cast<char>(c.data.size() & 0xFF);
    }
    bytes += c.data;
  }
  if (c.Le != -1) bytes += static_cast<char>(c.Le & 0xFF);
  return bytes;
}

int CICC_base::perform(CAPDU& apdu) {
  log("perform", "started.\n", 3, kPush);
  int result = 0;
  const CCommandAPDU& c = apdu.command;
  std::string command;
  try {
    command = encode(apdu);
  } catch (...) {
    log(nullptr, "", 3, kPop);
    throw;
  }
  if (c.hasData() && c.data.size() > 255 && !isExtendedDecipher(c)) {
    // A one-byte Lc cannot announce it: the command would go out malformed.
    result = cardresult::kNotSupported;
  } else {
    std::string response;
    const int transport = doIO(command, response);
    // An answer without status word is a transport failure, as in the program's channel.
    const int failure = transport != 0 ? transport : split(response, apdu.response) ? 0 : cardresult::kMalformedAnswer;
    if (failure != 0) result = static_cast<int>(0x80010000u | (static_cast<unsigned>(failure) & 0xFFFFu));
  }
  logLazy("perform", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

}  // namespace cardvariant
