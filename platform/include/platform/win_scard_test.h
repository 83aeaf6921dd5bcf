// Test controls of the WinSCard forwarding.
#pragma once

namespace platform {

// While set, SCardGetAttrib does not ask the reader driver for SCARD_ATTR_ATR_STRING
// and SCARD_ATTR_ICC_PRESENCE but rebuilds them from the card status, as it does
// for a driver that does not answer them. For tests of that path with readers that do.
void scardIgnoreDriverCardAttributes(bool ignore);

}  // namespace platform
