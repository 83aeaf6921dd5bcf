// The sign-file request that the hand-off sends to Quarvel's main window: WM_COPYDATA
// with dwData 150 and the path as UTF-8 text with its NUL (cbData = length + 1), at most
// the 511 bytes that Quarvel takes. A path is never cut: one that does not fit, or that
// has no UTF-8 form, is not sent, and the sender says so. Senders cannot tell whether a
// request arrived: the result and the reply are not looked at.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace handoff {

constexpr ULONG_PTR kSignFileRequest = 150;
// The most Quarvel takes of a request: the path's bytes and its NUL.
constexpr DWORD kSignFilePathSize = 511;
// Receiver: the hidden main window of Quarvel (in the width of the sender's build), and
// how long a send may take.
constexpr const TCHAR* kReceiverClass = TEXT("VWindow");
constexpr const TCHAR* kReceiverTitle = TEXT("Quarvel");
constexpr UINT kSendTimeoutMs = 3000;
// What the user is told about a path that cannot be handed over.
constexpr const TCHAR* kPathTooLong = TEXT("Der Pfad der Datei ist zu lang, die Datei kann nicht signiert werden!");
constexpr const TCHAR* kPathNotText =
    TEXT("Der Pfad der Datei enthält ungültige Zeichen, die Datei kann nicht signiert werden!");

struct SignFilePath {
  char bytes[kSignFilePathSize];
  DWORD size;  // the path's bytes and its NUL
};

enum class PathCheck { kFits, kTooLong, kNotText };

// The request for a path in UTF-16: its UTF-8 form, whole. A name with an unpaired
// surrogate has no UTF-8 form.
inline PathCheck signFilePath(const WCHAR* path, SignFilePath* request) {
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return PathCheck::kNotText;
  if (static_cast<DWORD>(size) > kSignFilePathSize) return PathCheck::kTooLong;
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, request->bytes, size, nullptr, nullptr);
  request->size = static_cast<DWORD>(size);
  return PathCheck::kFits;
}

// The request for a path in the ANSI code page. Bytes that are no text in that code
// page have no UTF-8 form, and neither has a '?': no file name holds one, so the shell
// put it where the ANSI code page has no letter for a character of the name.
inline PathCheck signFilePath(const char* path, SignFilePath* request) {
  if (std::strchr(path, '?') != nullptr) return PathCheck::kNotText;
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return PathCheck::kNotText;
  std::u16string wide(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, reinterpret_cast<WCHAR*>(wide.data()), length);
  return signFilePath(reinterpret_cast<const WCHAR*>(wide.c_str()), request);
}

// The box for a path that cannot be handed over; NULL when it can.
inline const TCHAR* refusalOf(PathCheck check) {
  switch (check) {
    case PathCheck::kTooLong:
      return kPathTooLong;
    case PathCheck::kNotText:
      return kPathNotText;
    case PathCheck::kFits:
      break;
  }
  return nullptr;
}

// Sends the request with SMTO_ABORTIFHUNG, at most kSendTimeoutMs. The buffer and the
// COPYDATASTRUCT are the caller's own, so that two sends on two threads never mix.
inline void sendSignFileRequest(HWND receiver, SignFilePath& path) {
  COPYDATASTRUCT data{};
  data.dwData = kSignFileRequest;
  data.cbData = path.size;
  data.lpData = path.bytes;
  DWORD_PTR reply = 0;
  SendMessageTimeout(receiver, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                     &reply);
}

}  // namespace handoff
