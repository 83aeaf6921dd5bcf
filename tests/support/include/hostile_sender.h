// A hostile process at a window's endpoint: it writes the layer's wire itself, with
// whatever it likes where the honest sender would have checked or copied. The layout is
// the one both word sizes of the layer share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace quarveltest {
namespace hostile {

enum : uint32_t { kSend = 1, kPost = 2 };
// What follows the request: nothing, a COPYDATASTRUCT's bytes, a text in, a buffer's
// size for a text out, a window position (the layer's own SetWindowPos request).
enum : uint32_t { kNoPayload = 0, kCopyData = 1, kTextIn = 2, kTextOut = 3, kWindowPos = 4 };
// The receiver's answer: handled (a post queued), refused, or none at all.
enum : int { kHandled = 0, kNoSuchWindow = 1, kRefused = 2, kNoAnswer = -1 };

// Writes one request for window `target` to the endpoint of the thread of the top-level
// window `via` (the same thread owns both) and reads the answer's status.
int writeRequest(HWND via, HWND target, uint32_t kind, UINT msg, uint64_t wParam, uint64_t lParam,
                 uint32_t payload = kNoPayload, const std::string& bytes = std::string());

inline int writeRequest(HWND target, uint32_t kind, UINT msg, uint64_t wParam, uint64_t lParam,
                        uint32_t payload = kNoPayload, const std::string& bytes = std::string()) {
  return writeRequest(target, target, kind, msg, wParam, lParam, payload, bytes);
}

}  // namespace hostile
}  // namespace quarveltest
