// The smart-card API (winscard) of the Windows API, forwarded to pcsc-lite.
//
// pcsc-lite is loaded with dlopen at the first call; without it every call fails
// with SCARD_E_NO_SERVICE. Types keep their Windows widths (DWORD and LONG are
// 32-bit, SCARD_IO_REQUEST is 8 bytes); the forwarding translates lengths,
// protocol numbers, card states and control codes at the boundary. Context and card
// handles are pcsc-lite's own values, carried in pointer-sized integers.
//
// Where the two differ on purpose:
// - Control codes made with SCARD_CTL_CODE here (0x31xxxx) become pcsc-lite's
//   0x42000000 + function; any other code (the ones a reader reports in its feature
//   list) is passed on unchanged.
// - SCARD_ATTR_ATR_STRING and SCARD_ATTR_ICC_PRESENCE are rebuilt from SCardStatusA
//   when the reader driver does not answer them (presence: 0 absent, 2 present).
// - A stale handle fails with pcsc-lite's SCARD_E_INVALID_HANDLE, never with
//   ERROR_INVALID_HANDLE.
// - Reader groups are ignored: every listing names all readers.
//
// The functions carry link names of their own (quarvel_SCard...), so that a program
// that also links pcsc-lite directly keeps the two sets apart.
#pragma once

#include "windef.h"
#include "winerror.h"

typedef ULONG_PTR SCARDCONTEXT;
typedef SCARDCONTEXT* PSCARDCONTEXT;
typedef SCARDCONTEXT* LPSCARDCONTEXT;
typedef ULONG_PTR SCARDHANDLE;
typedef SCARDHANDLE* PSCARDHANDLE;
typedef SCARDHANDLE* LPSCARDHANDLE;

typedef struct _SCARD_IO_REQUEST {
  DWORD dwProtocol;
  DWORD cbPciLength;  // of this header and any protocol data after it
} SCARD_IO_REQUEST, *PSCARD_IO_REQUEST, *LPSCARD_IO_REQUEST;
typedef const SCARD_IO_REQUEST* LPCSCARD_IO_REQUEST;

typedef struct {
  LPCSTR szReader;
  LPVOID pvUserData;
  DWORD dwCurrentState;
  DWORD dwEventState;
  DWORD cbAtr;
  BYTE rgbAtr[36];
} SCARD_READERSTATEA, *PSCARD_READERSTATEA, *LPSCARD_READERSTATEA;

#define SCARD_AUTOALLOCATE ((DWORD)-1)

#define SCARD_SCOPE_USER 0u
#define SCARD_SCOPE_TERMINAL 1u
#define SCARD_SCOPE_SYSTEM 2u

#define SCARD_SHARE_EXCLUSIVE 1u
#define SCARD_SHARE_SHARED 2u
#define SCARD_SHARE_DIRECT 3u

#define SCARD_PROTOCOL_UNDEFINED 0x00000000u
#define SCARD_PROTOCOL_T0 0x00000001u
#define SCARD_PROTOCOL_T1 0x00000002u
#define SCARD_PROTOCOL_RAW 0x00010000u
#define SCARD_PROTOCOL_Tx (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)
#define SCARD_PROTOCOL_DEFAULT 0x80000000u
#define SCARD_PROTOCOL_OPTIMAL 0x00000000u

#define SCARD_LEAVE_CARD 0u
#define SCARD_RESET_CARD 1u
#define SCARD_UNPOWER_CARD 2u
#define SCARD_EJECT_CARD 3u

// Card states of SCardStatusA (a number, not a bit set).
#define SCARD_UNKNOWN 0u
#define SCARD_ABSENT 1u
#define SCARD_PRESENT 2u
#define SCARD_SWALLOWED 3u
#define SCARD_POWERED 4u
#define SCARD_NEGOTIABLE 5u
#define SCARD_SPECIFIC 6u

// Reader states of SCardGetStatusChangeA (bits).
#define SCARD_STATE_UNAWARE 0x00000000u
#define SCARD_STATE_IGNORE 0x00000001u
#define SCARD_STATE_CHANGED 0x00000002u
#define SCARD_STATE_UNKNOWN 0x00000004u
#define SCARD_STATE_UNAVAILABLE 0x00000008u
#define SCARD_STATE_EMPTY 0x00000010u
#define SCARD_STATE_PRESENT 0x00000020u
#define SCARD_STATE_ATRMATCH 0x00000040u
#define SCARD_STATE_EXCLUSIVE 0x00000080u
#define SCARD_STATE_INUSE 0x00000100u
#define SCARD_STATE_MUTE 0x00000200u
#define SCARD_STATE_UNPOWERED 0x00000400u

#define SCARD_DEFAULT_READERS "SCard$DefaultReaders"
#define SCARD_ALL_READERS "SCard$AllReaders"

// Attributes.
#define SCARD_CLASS_VENDOR_INFO 1u
#define SCARD_CLASS_COMMUNICATIONS 2u
#define SCARD_CLASS_PROTOCOL 3u
#define SCARD_CLASS_POWER_MGMT 4u
#define SCARD_CLASS_SECURITY 5u
#define SCARD_CLASS_MECHANICAL 6u
#define SCARD_CLASS_VENDOR_DEFINED 7u
#define SCARD_CLASS_IFD_PROTOCOL 8u
#define SCARD_CLASS_ICC_STATE 9u
#define SCARD_CLASS_SYSTEM 0x7FFFu
#define SCARD_ATTR_VALUE(Class, Tag) ((((ULONG)(Class)) << 16) | ((ULONG)(Tag)))
#define SCARD_ATTR_VENDOR_NAME SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0100)
#define SCARD_ATTR_VENDOR_IFD_TYPE SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0101)
#define SCARD_ATTR_VENDOR_IFD_VERSION SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0102)
#define SCARD_ATTR_MAXINPUT SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_DEFINED, 0xA007)
#define SCARD_ATTR_CURRENT_PROTOCOL_TYPE SCARD_ATTR_VALUE(SCARD_CLASS_COMMUNICATIONS, 0x0201)
#define SCARD_ATTR_ICC_PRESENCE SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0300)
#define SCARD_ATTR_ICC_INTERFACE_STATUS SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0301)
#define SCARD_ATTR_ATR_STRING SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0303)
#define SCARD_ATTR_DEVICE_FRIENDLY_NAME_A SCARD_ATTR_VALUE(SCARD_CLASS_SYSTEM, 0x0003)
#define SCARD_ATTR_DEVICE_SYSTEM_NAME_A SCARD_ATTR_VALUE(SCARD_CLASS_SYSTEM, 0x0004)

// Control codes: CTL_CODE(FILE_DEVICE_SMARTCARD, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
#ifndef FILE_DEVICE_SMARTCARD
#define FILE_DEVICE_SMARTCARD 0x00000031u
#endif
#ifndef METHOD_BUFFERED
#define METHOD_BUFFERED 0u
#endif
#ifndef FILE_ANY_ACCESS
#define FILE_ANY_ACCESS 0u
#endif
#ifndef CTL_CODE
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#endif
#define SCARD_CTL_CODE(code) CTL_CODE(FILE_DEVICE_SMARTCARD, (code), METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_SMARTCARD_GET_ATTRIBUTE SCARD_CTL_CODE(2)
#define IOCTL_SMARTCARD_SET_ATTRIBUTE SCARD_CTL_CODE(3)
#define CM_IOCTL_GET_FEATURE_REQUEST SCARD_CTL_CODE(3400)

// Result codes (winerror.h on the system the code was written for).
#ifndef SCARD_S_SUCCESS
#define SCARD_S_SUCCESS ((LONG)0x00000000L)
#define SCARD_F_INTERNAL_ERROR ((LONG)0x80100001L)
#define SCARD_E_CANCELLED ((LONG)0x80100002L)
#define SCARD_E_INVALID_HANDLE ((LONG)0x80100003L)
#define SCARD_E_INVALID_PARAMETER ((LONG)0x80100004L)
#define SCARD_E_INVALID_TARGET ((LONG)0x80100005L)
#define SCARD_E_NO_MEMORY ((LONG)0x80100006L)
#define SCARD_F_WAITED_TOO_LONG ((LONG)0x80100007L)
#define SCARD_E_INSUFFICIENT_BUFFER ((LONG)0x80100008L)
#define SCARD_E_UNKNOWN_READER ((LONG)0x80100009L)
#define SCARD_E_TIMEOUT ((LONG)0x8010000AL)
#define SCARD_E_SHARING_VIOLATION ((LONG)0x8010000BL)
#define SCARD_E_NO_SMARTCARD ((LONG)0x8010000CL)
#define SCARD_E_UNKNOWN_CARD ((LONG)0x8010000DL)
#define SCARD_E_CANT_DISPOSE ((LONG)0x8010000EL)
#define SCARD_E_PROTO_MISMATCH ((LONG)0x8010000FL)
#define SCARD_E_NOT_READY ((LONG)0x80100010L)
#define SCARD_E_INVALID_VALUE ((LONG)0x80100011L)
#define SCARD_E_SYSTEM_CANCELLED ((LONG)0x80100012L)
#define SCARD_F_COMM_ERROR ((LONG)0x80100013L)
#define SCARD_F_UNKNOWN_ERROR ((LONG)0x80100014L)
#define SCARD_E_INVALID_ATR ((LONG)0x80100015L)
#define SCARD_E_NOT_TRANSACTED ((LONG)0x80100016L)
#define SCARD_E_READER_UNAVAILABLE ((LONG)0x80100017L)
#define SCARD_P_SHUTDOWN ((LONG)0x80100018L)
#define SCARD_E_PCI_TOO_SMALL ((LONG)0x80100019L)
#define SCARD_E_READER_UNSUPPORTED ((LONG)0x8010001AL)
#define SCARD_E_DUPLICATE_READER ((LONG)0x8010001BL)
#define SCARD_E_CARD_UNSUPPORTED ((LONG)0x8010001CL)
#define SCARD_E_NO_SERVICE ((LONG)0x8010001DL)
#define SCARD_E_SERVICE_STOPPED ((LONG)0x8010001EL)
#define SCARD_E_UNEXPECTED ((LONG)0x8010001FL)
#define SCARD_E_ICC_INSTALLATION ((LONG)0x80100020L)
#define SCARD_E_ICC_CREATEORDER ((LONG)0x80100021L)
#define SCARD_E_UNSUPPORTED_FEATURE ((LONG)0x80100022L)
#define SCARD_E_DIR_NOT_FOUND ((LONG)0x80100023L)
#define SCARD_E_FILE_NOT_FOUND ((LONG)0x80100024L)
#define SCARD_E_NO_DIR ((LONG)0x80100025L)
#define SCARD_E_NO_FILE ((LONG)0x80100026L)
#define SCARD_E_NO_ACCESS ((LONG)0x80100027L)
#define SCARD_E_WRITE_TOO_MANY ((LONG)0x80100028L)
#define SCARD_E_BAD_SEEK ((LONG)0x80100029L)
#define SCARD_E_INVALID_CHV ((LONG)0x8010002AL)
#define SCARD_E_UNKNOWN_RES_MNG ((LONG)0x8010002BL)
#define SCARD_E_NO_SUCH_CERTIFICATE ((LONG)0x8010002CL)
#define SCARD_E_CERTIFICATE_UNAVAILABLE ((LONG)0x8010002DL)
#define SCARD_E_NO_READERS_AVAILABLE ((LONG)0x8010002EL)
#define SCARD_E_COMM_DATA_LOST ((LONG)0x8010002FL)
#define SCARD_E_NO_KEY_CONTAINER ((LONG)0x80100030L)
#define SCARD_E_SERVER_TOO_BUSY ((LONG)0x80100031L)
#define SCARD_W_UNSUPPORTED_CARD ((LONG)0x80100065L)
#define SCARD_W_UNRESPONSIVE_CARD ((LONG)0x80100066L)
#define SCARD_W_UNPOWERED_CARD ((LONG)0x80100067L)
#define SCARD_W_RESET_CARD ((LONG)0x80100068L)
#define SCARD_W_REMOVED_CARD ((LONG)0x80100069L)
#define SCARD_W_SECURITY_VIOLATION ((LONG)0x8010006AL)
#define SCARD_W_WRONG_CHV ((LONG)0x8010006BL)
#define SCARD_W_CHV_BLOCKED ((LONG)0x8010006CL)
#define SCARD_W_EOF ((LONG)0x8010006DL)
#define SCARD_W_CANCELLED_BY_USER ((LONG)0x8010006EL)
#define SCARD_W_CARD_NOT_AUTHENTICATED ((LONG)0x8010006FL)
#endif

#define QUARVEL_SCARD_LINK(name) __asm__("quarvel_" #name)

#ifdef __cplusplus
extern "C" {
#endif

LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                                  LPSCARDCONTEXT phContext) QUARVEL_SCARD_LINK(SCardEstablishContext);
LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext) QUARVEL_SCARD_LINK(SCardReleaseContext);
LONG WINAPI SCardIsValidContext(SCARDCONTEXT hContext) QUARVEL_SCARD_LINK(SCardIsValidContext);
// A multi-string: each name NUL-terminated, one more NUL at the end.
LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders, LPDWORD pcchReaders)
    QUARVEL_SCARD_LINK(SCardListReadersA);
LONG WINAPI SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode, DWORD dwPreferredProtocols,
                          LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) QUARVEL_SCARD_LINK(SCardConnectA);
LONG WINAPI SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                           DWORD dwInitialization, LPDWORD pdwActiveProtocol) QUARVEL_SCARD_LINK(SCardReconnect);
LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) QUARVEL_SCARD_LINK(SCardDisconnect);
LONG WINAPI SCardBeginTransaction(SCARDHANDLE hCard) QUARVEL_SCARD_LINK(SCardBeginTransaction);
LONG WINAPI SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) QUARVEL_SCARD_LINK(SCardEndTransaction);
LONG WINAPI SCardStatusA(SCARDHANDLE hCard, LPSTR mszReaderNames, LPDWORD pcchReaderLen, LPDWORD pdwState,
                         LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) QUARVEL_SCARD_LINK(SCardStatusA);
LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout, LPSCARD_READERSTATEA rgReaderStates,
                                  DWORD cReaders) QUARVEL_SCARD_LINK(SCardGetStatusChangeA);
LONG WINAPI SCardCancel(SCARDCONTEXT hContext) QUARVEL_SCARD_LINK(SCardCancel);
LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci, LPCBYTE pbSendBuffer,
                          DWORD cbSendLength, LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer,
                          LPDWORD pcbRecvLength) QUARVEL_SCARD_LINK(SCardTransmit);
LONG WINAPI SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID lpInBuffer, DWORD cbInBufferSize,
                         LPVOID lpOutBuffer, DWORD cbOutBufferSize, LPDWORD lpBytesReturned)
    QUARVEL_SCARD_LINK(SCardControl);
LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen)
    QUARVEL_SCARD_LINK(SCardGetAttrib);
// Frees what a call with SCARD_AUTOALLOCATE handed out.
LONG WINAPI SCardFreeMemory(SCARDCONTEXT hContext, LPCVOID pvMem) QUARVEL_SCARD_LINK(SCardFreeMemory);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define SCardListReaders SCardListReadersA
#define SCardConnect SCardConnectA
#define SCardStatus SCardStatusA
#define SCardGetStatusChange SCardGetStatusChangeA
#define SCARD_READERSTATE SCARD_READERSTATEA
#define PSCARD_READERSTATE PSCARD_READERSTATEA
#define LPSCARD_READERSTATE LPSCARD_READERSTATEA
#endif
