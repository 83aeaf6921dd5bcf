// The PIN dialog: the card PIN typed by the user when the reader has no PIN pad.
#pragma once

#include <string>

#include <windows.h>

#include "foundation/util/VOQ_String.h"

// Runs dialog 123 over the viewer's modal parent: 1 when the user confirmed with OK (pin
// then holds what was typed, at most 255 characters), 2 otherwise (pin unchanged).
int showPinDialog(VOQ_String& pin);

INT_PTR CALLBACK pinDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The dialog as the card signing's PIN source: false when the user did not confirm.
bool askPinWithDialog(std::string& pin);

// The dialog's PIN buffer. It holds the typed PIN only between OK and the copy into the
// caller's string; outside showPinDialog it is all zero.
extern char pinBuffer[256];
