#include "PinDialog.h"

#include <openssl/crypto.h>

#include "Messages.h"
#include "PluginState.h"

char pinBuffer[256];

namespace {

constexpr int kPinDialog = 123;
constexpr int kPinEdit = 1002;
constexpr int kPinLabel = 1202;

// A secret must not outlive its use: the buffer is wiped on every way out of the dialog.
void wipePinBuffer() { OPENSSL_cleanse(pinBuffer, sizeof pinBuffer); }

}  // namespace

int showPinDialog(VOQ_String& pin) {
  HWND parent = WinAppGetModalParent(AVAppGetActiveDoc());
  const INT_PTR answer = DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kPinDialog), parent, pinDlgProc, 0);
  if (answer != IDOK) {
    wipePinBuffer();
    return IDCANCEL;
  }
  pin.assign(pinBuffer);
  wipePinBuffer();
  return IDOK;
}

INT_PTR CALLBACK pinDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      if (languageFlag == 0) {
        SetWindowTextA(dialog, "PIN-Entry");
      } else if (languageFlag == 1) {
        SetWindowTextA(dialog, "PIN-Eingabe");
      }
      SetDlgItemTextA(dialog, IDCANCEL, getDialogText(1001, languageFlag));
      SetDlgItemTextA(dialog, kPinLabel, getDialogText(1202, languageFlag));
      SetFocus(GetDlgItem(dialog, kPinEdit));
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          GetDlgItemTextA(dialog, kPinEdit, pinBuffer, sizeof pinBuffer);
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

bool askPinWithDialog(std::string& pin) {
  VOQ_String typed;
  if (showPinDialog(typed) != IDOK) return false;
  pin.assign(typed.getData() != nullptr ? typed.getData() : "", typed.getLength());
  OPENSSL_cleanse(typed.getData(), typed.getLength());
  return true;
}
