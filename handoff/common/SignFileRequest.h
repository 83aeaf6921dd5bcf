// The sign-file request that the hand-off sends to Quarvel's main window: WM_COPYDATA
// with dwData 150 and 260 bytes, the path as 8-bit text cut to 259 bytes, its NUL and
// zeros to the end. Senders cannot tell whether it arrived: the result and the reply
// are not looked at.
#pragma once

#include <windows.h>

#include <cstring>

namespace handoff {

constexpr ULONG_PTR kSignFileRequest = 150;
constexpr DWORD kSignFilePathSize = 260;
// Receiver: the hidden main window of Quarvel (in the width of the sender's build), and
// how long a send may take.
constexpr const TCHAR* kReceiverClass = TEXT("VWindow");
constexpr const TCHAR* kReceiverTitle = TEXT("Quarvel");
constexpr UINT kSendTimeoutMs = 3000;

struct SignFilePath {
  char bytes[kSignFilePathSize];
};

// The path's first 259 bytes, its NUL and zeros.
inline SignFilePath signFilePath(const char* path) {
  SignFilePath request{};
  const size_t length = strnlen(path, kSignFilePathSize - 1);
  std::memcpy(request.bytes, path, length);
  return request;
}

// Sends the request with SMTO_ABORTIFHUNG, at most kSendTimeoutMs. The buffer and the
// COPYDATASTRUCT are the caller's own, so that two sends on two threads never mix.
inline void sendSignFileRequest(HWND receiver, SignFilePath& path) {
  COPYDATASTRUCT data{};
  data.dwData = kSignFileRequest;
  data.cbData = kSignFilePathSize;
  data.lpData = path.bytes;
  DWORD_PTR reply = 0;
  SendMessageTimeout(receiver, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                     &reply);
}

}  // namespace handoff
