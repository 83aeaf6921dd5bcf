// WinSCard over pcsc-lite, loaded with dlopen.
//
// pcsc-lite on LP64 uses unsigned long for DWORD and long for LONG and handles,
// a 16-byte SCARD_IO_REQUEST, bit sets for the card state, its own raw protocol bit
// and 0x42000000-based control codes. Everything is translated here; nothing of
// pcsc-lite's headers is used, only the calls below as the library exports them.
#include "winscard.h"

#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <vector>

#include "platform/win_scard_test.h"

namespace {

namespace lite {

typedef long LONG_;
typedef unsigned long DWORD_;
typedef long HANDLE_;

struct IoRequest {
  DWORD_ dwProtocol;
  DWORD_ cbPciLength;
};

constexpr std::size_t kMaxAtr = 33;
struct ReaderState {
  const char* szReader;
  void* pvUserData;
  DWORD_ dwCurrentState;
  DWORD_ dwEventState;
  DWORD_ cbAtr;
  unsigned char rgbAtr[kMaxAtr];
};

constexpr DWORD_ kAutoAllocate = static_cast<DWORD_>(-1);
constexpr DWORD_ kProtocolRaw = 0x0004;
constexpr DWORD_ kStateAbsent = 0x0002, kStatePresent = 0x0004, kStateSwallowed = 0x0008,
                 kStatePowered = 0x0010, kStateNegotiable = 0x0020, kStateSpecific = 0x0040;
constexpr DWORD_ ctlCode(DWORD_ function) { return 0x42000000ul + function; }

struct Api {
  LONG_ (*EstablishContext)(DWORD_, const void*, const void*, HANDLE_*);
  LONG_ (*ReleaseContext)(HANDLE_);
  LONG_ (*IsValidContext)(HANDLE_);
  LONG_ (*ListReaders)(HANDLE_, const char*, char*, DWORD_*);
  LONG_ (*Connect)(HANDLE_, const char*, DWORD_, DWORD_, HANDLE_*, DWORD_*);
  LONG_ (*Reconnect)(HANDLE_, DWORD_, DWORD_, DWORD_, DWORD_*);
  LONG_ (*Disconnect)(HANDLE_, DWORD_);
  LONG_ (*BeginTransaction)(HANDLE_);
  LONG_ (*EndTransaction)(HANDLE_, DWORD_);
  LONG_ (*Status)(HANDLE_, char*, DWORD_*, DWORD_*, DWORD_*, unsigned char*, DWORD_*);
  LONG_ (*GetStatusChange)(HANDLE_, DWORD_, ReaderState*, DWORD_);
  LONG_ (*Cancel)(HANDLE_);
  LONG_ (*Transmit)(HANDLE_, const IoRequest*, const unsigned char*, DWORD_, IoRequest*, unsigned char*, DWORD_*);
  LONG_ (*Control)(HANDLE_, DWORD_, const void*, DWORD_, void*, DWORD_, DWORD_*);
  LONG_ (*GetAttrib)(HANDLE_, DWORD_, unsigned char*, DWORD_*);
  LONG_ (*FreeMemory)(HANDLE_, const void*);
};

template <class F>
bool bind(void* library, const char* name, F& target) {
  target = reinterpret_cast<F>(dlsym(library, name));
  return target != nullptr;
}

// The library stays loaded for the life of the process.
const Api* api() {
  static Api table{};
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* library = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    loaded = bind(library, "SCardEstablishContext", table.EstablishContext) &&
             bind(library, "SCardReleaseContext", table.ReleaseContext) &&
             bind(library, "SCardIsValidContext", table.IsValidContext) &&
             bind(library, "SCardListReaders", table.ListReaders) &&
             bind(library, "SCardConnect", table.Connect) && bind(library, "SCardReconnect", table.Reconnect) &&
             bind(library, "SCardDisconnect", table.Disconnect) &&
             bind(library, "SCardBeginTransaction", table.BeginTransaction) &&
             bind(library, "SCardEndTransaction", table.EndTransaction) &&
             bind(library, "SCardStatus", table.Status) &&
             bind(library, "SCardGetStatusChange", table.GetStatusChange) &&
             bind(library, "SCardCancel", table.Cancel) && bind(library, "SCardTransmit", table.Transmit) &&
             bind(library, "SCardControl", table.Control) && bind(library, "SCardGetAttrib", table.GetAttrib) &&
             bind(library, "SCardFreeMemory", table.FreeMemory);
  });
  return loaded ? &table : nullptr;
}

}  // namespace lite

std::atomic<bool> ignoreDriverCardAttributes{false};

// pcsc-lite's results are the same numbers in a wider type.
LONG result(lite::LONG_ rc) { return static_cast<LONG>(static_cast<uint32_t>(rc)); }

lite::DWORD_ lengthIn(DWORD length) { return length == SCARD_AUTOALLOCATE ? lite::kAutoAllocate : length; }

DWORD lengthOut(lite::DWORD_ length) { return length > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<DWORD>(length); }

lite::DWORD_ protocolIn(DWORD protocols) {
  lite::DWORD_ out = protocols & ~SCARD_PROTOCOL_RAW;
  if (protocols & SCARD_PROTOCOL_RAW) out |= lite::kProtocolRaw;
  return out;
}

DWORD protocolOut(lite::DWORD_ protocol) {
  DWORD out = static_cast<DWORD>(protocol & ~lite::kProtocolRaw);
  if (protocol & lite::kProtocolRaw) out |= SCARD_PROTOCOL_RAW;
  return out;
}

// pcsc-lite keeps reporting "negotiable" after the protocol was set; Windows says
// "specific" as soon as a protocol is in use.
DWORD cardStateOut(lite::DWORD_ state, lite::DWORD_ protocol) {
  if (state & lite::kStateSpecific) return SCARD_SPECIFIC;
  if ((state & lite::kStateNegotiable) && protocol != 0) return SCARD_SPECIFIC;
  if (state & lite::kStateNegotiable) return SCARD_NEGOTIABLE;
  if (state & lite::kStatePowered) return SCARD_POWERED;
  if (state & lite::kStateSwallowed) return SCARD_SWALLOWED;
  if (state & lite::kStatePresent) return SCARD_PRESENT;
  if (state & lite::kStateAbsent) return SCARD_ABSENT;
  return SCARD_UNKNOWN;
}

// Codes made with SCARD_CTL_CODE here carry the smart-card device type and
// METHOD_BUFFERED/FILE_ANY_ACCESS; pcsc-lite numbers the same functions from 0x42000000.
lite::DWORD_ controlCodeIn(DWORD code) {
  if ((code & 0xFFFF0000u) == (FILE_DEVICE_SMARTCARD << 16) && (code & 0xC003u) == 0)
    return lite::ctlCode((code >> 2) & 0xFFFu);
  return code;
}

// Copies a value into a caller's buffer with the Windows length rules.
LONG deliver(const unsigned char* value, size_t size, LPBYTE buffer, LPDWORD length) {
  if (!length) return SCARD_E_INVALID_PARAMETER;
  if (!buffer) {
    *length = static_cast<DWORD>(size);
    return SCARD_S_SUCCESS;
  }
  if (*length == SCARD_AUTOALLOCATE) return SCARD_E_INVALID_PARAMETER;  // not for rebuilt values
  if (*length < size) {
    *length = static_cast<DWORD>(size);
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, value, size);
  *length = static_cast<DWORD>(size);
  return SCARD_S_SUCCESS;
}

// The ATR and the presence from the card status, for drivers that do not answer them.
LONG rebuildCardAttribute(const lite::Api& a, SCARDHANDLE hCard, DWORD id, LPBYTE buffer, LPDWORD length) {
  lite::DWORD_ nameLength = 0, state = 0, protocol = 0, atrLength = lite::kMaxAtr;
  unsigned char atr[lite::kMaxAtr] = {};
  lite::LONG_ rc =
      a.Status(static_cast<lite::HANDLE_>(hCard), nullptr, &nameLength, &state, &protocol, atr, &atrLength);
  if (id == SCARD_ATTR_ICC_PRESENCE) {
    if (rc == static_cast<lite::LONG_>(static_cast<uint32_t>(SCARD_W_REMOVED_CARD))) state = lite::kStateAbsent;
    else if (rc != 0) return result(rc);
    const unsigned char presence = (state & lite::kStateAbsent) || state == 0 ? 0 : 2;
    return deliver(&presence, 1, buffer, length);
  }
  if (rc != 0) return result(rc);
  if (atrLength == 0) return SCARD_E_NO_SMARTCARD;
  return deliver(atr, atrLength > lite::kMaxAtr ? lite::kMaxAtr : atrLength, buffer, length);
}

}  // namespace

namespace platform {

void scardIgnoreDriverCardAttributes(bool ignore) { ignoreDriverCardAttributes = ignore; }

}  // namespace platform

#define PCSC_OR_FAIL                         \
  const lite::Api* a = lite::api();          \
  if (!a) return SCARD_E_NO_SERVICE

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                                  LPSCARDCONTEXT phContext) {
  PCSC_OR_FAIL;
  if (!phContext) return SCARD_E_INVALID_PARAMETER;
  lite::HANDLE_ context = 0;
  LONG rc = result(a->EstablishContext(dwScope, pvReserved1, pvReserved2, &context));
  *phContext = rc == SCARD_S_SUCCESS ? static_cast<SCARDCONTEXT>(context) : 0;
  return rc;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext) {
  PCSC_OR_FAIL;
  return result(a->ReleaseContext(static_cast<lite::HANDLE_>(hContext)));
}

LONG WINAPI SCardIsValidContext(SCARDCONTEXT hContext) {
  PCSC_OR_FAIL;
  return result(a->IsValidContext(static_cast<lite::HANDLE_>(hContext)));
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders, LPDWORD pcchReaders) {
  PCSC_OR_FAIL;
  (void)mszGroups;  // pcsc-lite knows no groups
  if (!pcchReaders) return SCARD_E_INVALID_PARAMETER;
  lite::DWORD_ length = mszReaders ? lengthIn(*pcchReaders) : 0;
  LONG rc = result(a->ListReaders(static_cast<lite::HANDLE_>(hContext), nullptr, mszReaders, &length));
  if (rc == SCARD_S_SUCCESS || rc == SCARD_E_INSUFFICIENT_BUFFER) *pcchReaders = lengthOut(length);
  return rc;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode, DWORD dwPreferredProtocols,
                          LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
  PCSC_OR_FAIL;
  if (!phCard || !pdwActiveProtocol) return SCARD_E_INVALID_PARAMETER;
  lite::HANDLE_ card = 0;
  lite::DWORD_ active = 0;
  LONG rc = result(a->Connect(static_cast<lite::HANDLE_>(hContext), szReader, dwShareMode,
                              protocolIn(dwPreferredProtocols), &card, &active));
  *phCard = rc == SCARD_S_SUCCESS ? static_cast<SCARDHANDLE>(card) : 0;
  if (rc == SCARD_S_SUCCESS) *pdwActiveProtocol = protocolOut(active);
  return rc;
}

LONG WINAPI SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                           DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
  PCSC_OR_FAIL;
  lite::DWORD_ active = 0;
  LONG rc = result(a->Reconnect(static_cast<lite::HANDLE_>(hCard), dwShareMode, protocolIn(dwPreferredProtocols),
                                dwInitialization, &active));
  if (rc == SCARD_S_SUCCESS && pdwActiveProtocol) *pdwActiveProtocol = protocolOut(active);
  return rc;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
  PCSC_OR_FAIL;
  return result(a->Disconnect(static_cast<lite::HANDLE_>(hCard), dwDisposition));
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE hCard) {
  PCSC_OR_FAIL;
  return result(a->BeginTransaction(static_cast<lite::HANDLE_>(hCard)));
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
  PCSC_OR_FAIL;
  return result(a->EndTransaction(static_cast<lite::HANDLE_>(hCard), dwDisposition));
}

LONG WINAPI SCardStatusA(SCARDHANDLE hCard, LPSTR mszReaderNames, LPDWORD pcchReaderLen, LPDWORD pdwState,
                         LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) {
  PCSC_OR_FAIL;
  lite::DWORD_ nameLength = pcchReaderLen ? lengthIn(*pcchReaderLen) : 0;
  lite::DWORD_ atrLength = pcbAtrLen ? lengthIn(*pcbAtrLen) : 0;
  lite::DWORD_ state = 0, protocol = 0;
  LONG rc = result(a->Status(static_cast<lite::HANDLE_>(hCard), pcchReaderLen ? mszReaderNames : nullptr,
                             &nameLength, &state, &protocol, pcbAtrLen ? pbAtr : nullptr, &atrLength));
  if (rc == SCARD_S_SUCCESS || rc == SCARD_E_INSUFFICIENT_BUFFER) {
    if (pcchReaderLen) *pcchReaderLen = lengthOut(nameLength);
    if (pcbAtrLen) *pcbAtrLen = lengthOut(atrLength);
  }
  if (rc == SCARD_S_SUCCESS) {
    if (pdwState) *pdwState = cardStateOut(state, protocol);
    if (pdwProtocol) *pdwProtocol = protocolOut(protocol);
  }
  return rc;
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout, LPSCARD_READERSTATEA rgReaderStates,
                                  DWORD cReaders) {
  PCSC_OR_FAIL;
  if (cReaders && !rgReaderStates) return SCARD_E_INVALID_PARAMETER;
  std::vector<lite::ReaderState> states(cReaders);
  for (DWORD i = 0; i < cReaders; ++i) {
    states[i].szReader = rgReaderStates[i].szReader;
    states[i].pvUserData = rgReaderStates[i].pvUserData;
    states[i].dwCurrentState = rgReaderStates[i].dwCurrentState;
    states[i].dwEventState = rgReaderStates[i].dwEventState;
  }
  // INFINITE is the same all-ones value in both, once widened as pcsc-lite expects.
  const lite::DWORD_ timeout = dwTimeout == INFINITE ? 0xFFFFFFFFul : dwTimeout;
  LONG rc = result(a->GetStatusChange(static_cast<lite::HANDLE_>(hContext), timeout, states.data(), cReaders));
  for (DWORD i = 0; i < cReaders; ++i) {
    rgReaderStates[i].dwEventState = static_cast<DWORD>(states[i].dwEventState);
    const size_t n = states[i].cbAtr > lite::kMaxAtr ? lite::kMaxAtr : states[i].cbAtr;
    rgReaderStates[i].cbAtr = static_cast<DWORD>(n);
    std::memcpy(rgReaderStates[i].rgbAtr, states[i].rgbAtr, n);
  }
  return rc;
}

LONG WINAPI SCardCancel(SCARDCONTEXT hContext) {
  PCSC_OR_FAIL;
  return result(a->Cancel(static_cast<lite::HANDLE_>(hContext)));
}

LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci, LPCBYTE pbSendBuffer,
                          DWORD cbSendLength, LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer,
                          LPDWORD pcbRecvLength) {
  PCSC_OR_FAIL;
  if (!pioSendPci || !pcbRecvLength) return SCARD_E_INVALID_PARAMETER;
  // Only the protocol travels: neither side adds protocol data after the header.
  const lite::IoRequest send{protocolIn(pioSendPci->dwProtocol), sizeof(lite::IoRequest)};
  lite::IoRequest receive{pioRecvPci ? protocolIn(pioRecvPci->dwProtocol) : 0, sizeof(lite::IoRequest)};
  lite::DWORD_ length = lengthIn(*pcbRecvLength);
  LONG rc = result(a->Transmit(static_cast<lite::HANDLE_>(hCard), &send, pbSendBuffer, cbSendLength,
                               pioRecvPci ? &receive : nullptr, pbRecvBuffer, &length));
  if (rc == SCARD_S_SUCCESS || rc == SCARD_E_INSUFFICIENT_BUFFER) *pcbRecvLength = lengthOut(length);
  if (rc == SCARD_S_SUCCESS && pioRecvPci) {
    pioRecvPci->dwProtocol = protocolOut(receive.dwProtocol);
    pioRecvPci->cbPciLength = sizeof(SCARD_IO_REQUEST);
  }
  return rc;
}

LONG WINAPI SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID lpInBuffer, DWORD cbInBufferSize,
                         LPVOID lpOutBuffer, DWORD cbOutBufferSize, LPDWORD lpBytesReturned) {
  PCSC_OR_FAIL;
  if (!lpBytesReturned) return SCARD_E_INVALID_PARAMETER;
  lite::DWORD_ returned = 0;
  LONG rc = result(a->Control(static_cast<lite::HANDLE_>(hCard), controlCodeIn(dwControlCode), lpInBuffer,
                              cbInBufferSize, lpOutBuffer, cbOutBufferSize, &returned));
  *lpBytesReturned = rc == SCARD_S_SUCCESS ? lengthOut(returned) : 0;
  return rc;
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen) {
  PCSC_OR_FAIL;
  if (!pcbAttrLen) return SCARD_E_INVALID_PARAMETER;
  const bool cardAttribute = dwAttrId == SCARD_ATTR_ATR_STRING || dwAttrId == SCARD_ATTR_ICC_PRESENCE;
  if (cardAttribute && ignoreDriverCardAttributes) return rebuildCardAttribute(*a, hCard, dwAttrId, pbAttr, pcbAttrLen);
  lite::DWORD_ length = pbAttr ? lengthIn(*pcbAttrLen) : 0;
  LONG rc = result(a->GetAttrib(static_cast<lite::HANDLE_>(hCard), dwAttrId, pbAttr, &length));
  if (cardAttribute && rc == SCARD_E_UNSUPPORTED_FEATURE)
    return rebuildCardAttribute(*a, hCard, dwAttrId, pbAttr, pcbAttrLen);
  if (rc == SCARD_S_SUCCESS || rc == SCARD_E_INSUFFICIENT_BUFFER) *pcbAttrLen = lengthOut(length);
  return rc;
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT hContext, LPCVOID pvMem) {
  PCSC_OR_FAIL;
  return result(a->FreeMemory(static_cast<lite::HANDLE_>(hContext), pvMem));
}

}  // extern "C"
