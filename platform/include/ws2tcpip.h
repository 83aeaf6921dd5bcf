// Name resolution of Windows Sockets 2: getaddrinfo and freeaddrinfo with the WSA error
// codes, inet_pton and inet_ntop.
//
// Names are first looked up in the machine's hosts file, C:\WINDOWS\system32\drivers\etc\hosts
// under the machine root ("address name [alias ...]" lines, '#' comments), as the system
// the code was written for does, then by the host's resolver. Tests give their machine a
// hosts file to name hosts that no resolver knows.
//
// The host's C library has functions of the same names and other error codes; code that
// includes this header calls the layer's, whose results are freed with its freeaddrinfo.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "winsock2.h"

#undef EAI_AGAIN
#undef EAI_BADFLAGS
#undef EAI_FAIL
#undef EAI_FAMILY
#undef EAI_MEMORY
#undef EAI_NONAME
#undef EAI_NODATA
#undef EAI_SERVICE
#undef EAI_SOCKTYPE
#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY WSA_NOT_ENOUGH_MEMORY
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_NODATA WSANO_DATA
#define EAI_SERVICE WSATYPE_NOT_FOUND
#define EAI_SOCKTYPE WSAESOCKTNOSUPPORT

typedef struct addrinfo ADDRINFOA, *PADDRINFOA;

#define getaddrinfo quarvel_ws_getaddrinfo
#define freeaddrinfo quarvel_ws_freeaddrinfo

#ifdef __cplusplus
extern "C" {
#endif

// 0, or one of the EAI_ codes above (also the thread's last error). Needs WSAStartup.
int WSAAPI getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints,
                       PADDRINFOA* ppResult);
void WSAAPI freeaddrinfo(PADDRINFOA pAddrInfo);

#ifdef __cplusplus
}
#endif
