// WinINet: HTTP requests over libcurl.
//
// Choices of this layer (see docs/architecture.md):
// - InternetConnectA only remembers server and port; the connection is made by
//   HttpSendRequestExA (and HttpSendRequestA), which fails there when nobody listens.
// - A host name is tried at each of its addresses in turn ("localhost": ::1 and
//   127.0.0.1), so a server that binds one family only is still reached.
// - The receive time-out is how long a read may wait for the next byte; 0 means no
//   time-out (wait). Connection and request handles take the value of their parent
//   when they are made.
#pragma once

#include "windef.h"
#include "winerror.h"

typedef LPVOID HINTERNET;
typedef HINTERNET* LPHINTERNET;
typedef WORD INTERNET_PORT;

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_HTTP_PORT 80

#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_GOPHER 2
#define INTERNET_SERVICE_HTTP 3

#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6

#define INTERNET_FLAG_RELOAD 0x80000000
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000

#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_TIMEOUT 12002L
#define ERROR_INTERNET_INTERNAL_ERROR 12004L
#define ERROR_INTERNET_INVALID_URL 12005L
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#define ERROR_INTERNET_INVALID_OPTION 12009L
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#define ERROR_INTERNET_CANNOT_CONNECT 12029L
#define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#define ERROR_INTERNET_CONNECTION_RESET 12031L
#define ERROR_HTTP_HEADER_NOT_FOUND 12150L
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152L

#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_FLAG_NUMBER 0x20000000

typedef struct _INTERNET_BUFFERSA {
  DWORD dwStructSize;
  struct _INTERNET_BUFFERSA* Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  LPVOID lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
} INTERNET_BUFFERSA, *LPINTERNET_BUFFERSA;
typedef INTERNET_BUFFERSA INTERNET_BUFFERS;
typedef LPINTERNET_BUFFERSA LPINTERNET_BUFFERS;

#ifdef __cplusplus
extern "C" {
#endif

HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy, LPCSTR lpszProxyBypass,
                               DWORD dwFlags);
BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
HINTERNET WINAPI InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                                  LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext);
HINTERNET WINAPI HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName, LPCSTR lpszVersion,
                                  LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes, DWORD dwFlags,
                                  DWORD_PTR dwContext);
// Connects and sends the request line and headers; the body (dwBufferTotal bytes of
// the input record) follows through InternetWriteFile.
BOOL WINAPI HttpSendRequestExA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersIn, LPINTERNET_BUFFERSA lpBuffersOut,
                               DWORD dwFlags, DWORD_PTR dwContext);
// Sends the whole request with an optional body at once and reads the status line.
BOOL WINAPI HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                             DWORD dwOptionalLength);
// A write of 0 bytes succeeds and writes nothing.
BOOL WINAPI InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                              LPDWORD lpdwNumberOfBytesWritten);
// Fails unless exactly the announced body was written; reads the status line and headers.
BOOL WINAPI HttpEndRequestA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersOut, DWORD dwFlags, DWORD_PTR dwContext);
// A header of the reply (after HttpEndRequestA): HTTP_QUERY_CONTENT_LENGTH or
// HTTP_QUERY_STATUS_CODE, as text (its length without the NUL in *lpdwBufferLength) or,
// with HTTP_QUERY_FLAG_NUMBER, as a DWORD. ERROR_HTTP_HEADER_NOT_FOUND when the reply has
// none; ERROR_INSUFFICIENT_BUFFER with the size needed when the buffer is too small.
BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                           LPDWORD lpdwIndex);
// Body bytes only; TRUE with 0 bytes at the end of the body.
BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead);
BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);

#ifdef __cplusplus
}
#endif

#define InternetOpen InternetOpenA
#define InternetSetOption InternetSetOptionA
#define InternetConnect InternetConnectA
#define HttpOpenRequest HttpOpenRequestA
#define HttpSendRequestEx HttpSendRequestExA
#define HttpSendRequest HttpSendRequestA
#define HttpEndRequest HttpEndRequestA
#define HttpQueryInfo HttpQueryInfoA
