// Hex texts of commands and answers for the trace log. PINs, PIN blocks and
// deciphered data never appear there in clear.
#pragma once

#include <string>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace apdulog {

// The command in lower-case hex. For VERIFY (INS 20), CHANGE REFERENCE DATA (24)
// and RESET RETRY COUNTER (2C) everything after the first five bytes is 'x'.
std::string command(const std::string& bytes);
// The answer to that command in lower-case hex; the response data of a PSO
// DECIPHER (2A 80 86) are 'x', its status word is shown.
std::string response(const std::string& command, const std::string& bytes);

}  // namespace apdulog

QUARVEL_CARD_NAMESPACE_END
