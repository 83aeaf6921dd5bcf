// pcsc-lite's client functions, bound with dlopen. Test executables also link
// the platform layer, whose WinSCard functions have the same names but the
// Windows types; binding by hand keeps the two apart whatever the link order.
// Include this only where pcsc-lite's own headers are meant (/usr/include/PCSC
// ahead of the platform's include folder).
#pragma once

#include <winscard.h>
#include <reader.h>

namespace cardsim {

struct PcscLite {
  decltype(&SCardEstablishContext) EstablishContext = nullptr;
  decltype(&SCardReleaseContext) ReleaseContext = nullptr;
  decltype(&SCardListReaders) ListReaders = nullptr;
  decltype(&SCardGetStatusChange) GetStatusChange = nullptr;
  decltype(&SCardConnect) Connect = nullptr;
  decltype(&SCardReconnect) Reconnect = nullptr;
  decltype(&SCardDisconnect) Disconnect = nullptr;
  decltype(&SCardStatus) Status = nullptr;
  decltype(&SCardTransmit) Transmit = nullptr;
  decltype(&SCardControl) Control = nullptr;
  decltype(&SCardGetAttrib) GetAttrib = nullptr;
  SCARD_IO_REQUEST t1{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
};

// Loaded once; throws std::runtime_error when libpcsclite.so.1 is missing.
const PcscLite& pcsclite();

}  // namespace cardsim
