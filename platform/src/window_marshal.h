// What of a window message may cross from one process to another. Private to platform/src.
//
// Another process's addresses mean nothing here, or something harmful, so a message
// from another process is delivered only when its parameters are plain values or
// handles (looked up in this process's tables, so a stray one fails cleanly), or when
// the layer copies what they point at. Everything else is refused, by the receiver,
// which trusts no sender, and early by an honest sender.
#pragma once

#include <string>

#include "windows.h"

namespace platform {
namespace win {

// How the parameters of a message below WM_USER travel between processes.
enum class Carriage {
  Values,      // numbers and handles only
  CopyData,    // WM_COPYDATA: the COPYDATASTRUCT and its bytes are copied
  TextIn,      // WM_SETTEXT: the text is copied
  TextOut,     // WM_GETTEXT: the text is copied back into the sender's buffer
  Refused,     // pointers the layer does not copy, and the layer's own notifications
};

// The carriage of a message number below WM_USER (Refused for any other number).
Carriage carriageOf(UINT msg);

// The receiver's rule for a message of another process to a window of this process.
// `classProc` is the class procedure of the window it is meant for (the built-in
// controls refuse their own pointer messages at or above WM_USER).
bool crossesToWindow(WNDPROC classProc, UINT msg, bool posted, LPARAM lParam);

// The sender's early form of the same rule, with the receiving window's class name.
bool crossesToClass(const std::string& className, UINT msg, bool posted, LPARAM lParam);

}  // namespace win
}  // namespace platform
