// Windows Sockets 2: start-up, clean-up and the error codes of the WSA family.
// Errors go to the thread's last error, as on Windows (WSAGetLastError is GetLastError).
#pragma once

#include "windows.h"

#define WSAAPI

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

#define SOCKET_ERROR (-1)

#define WSA_NOT_ENOUGH_MEMORY 8L
#define WSAEINVAL 10022L
#define WSAESOCKTNOSUPPORT 10044L
#define WSAEAFNOSUPPORT 10047L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSATYPE_NOT_FOUND 10109L
#define WSAHOST_NOT_FOUND 11001L
#define WSATRY_AGAIN 11002L
#define WSANO_RECOVERY 11003L
#define WSANO_DATA 11004L

#ifdef __cplusplus
extern "C" {
#endif

// Version 1.1 up to 2.2 are served (the highest the caller asks for, at most 2.2);
// 0, or WSAVERNOTSUPPORTED / WSAEINVAL. Each successful call needs one WSACleanup.
int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
// 0, or SOCKET_ERROR with WSANOTINITIALISED when no WSAStartup is outstanding.
int WSAAPI WSACleanup(void);
int WSAAPI WSAGetLastError(void);
void WSAAPI WSASetLastError(int iError);

#ifdef __cplusplus
}
#endif
