// Windows Sockets 2: start-up, clean-up and the error codes of the WSA family.
// Errors go to the thread's last error, as on Windows (WSAGetLastError is GetLastError).
#pragma once

// The host's pollfd is the layer's WSAPOLLFD: the same fields and flag names
// (POLLIN, POLLOUT, POLLERR, POLLHUP, ...) that Windows declares.
#include <poll.h>

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

typedef struct pollfd WSAPOLLFD, *PWSAPOLLFD, *LPWSAPOLLFD;

#define WSA_NOT_ENOUGH_MEMORY 8L
#define WSAEFAULT 10014L
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

// Waits until one of the sockets is ready or `timeout` milliseconds passed (a
// negative timeout waits without end, 0 only looks): the number of entries
// whose revents are set, 0 on the time-out, or SOCKET_ERROR (WSAEFAULT without
// an array, WSAEINVAL for a count beyond the process's limit). Here it needs no
// WSAStartup: OpenSSL's sockets, which the checking library waits on, are made
// without one.
int WSAAPI WSAPoll(LPWSAPOLLFD fdArray, ULONG fds, INT timeout);

#ifdef __cplusplus
}
#endif
