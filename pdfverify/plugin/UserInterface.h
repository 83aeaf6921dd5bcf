// Tolmira's menu in the viewer, its command procedures and the About dialog.
#pragma once

#include <windows.h>

// Adds the submenu "VOQ:Root" with the items "VOQ:About", "VOQ:Preferences",
// "VOQ:Proxy", "VOQ:Info" and "VOQ:Certs" to the viewer's menu bar, titled in the
// language of the moment. False when there is no menu bar or the host raised; a partly
// built submenu is removed first.
bool addMenuItems();
// Removes every item made and then the submenu.
void removeMenuItems();

// The items' execute procedures; Help and Clean are carried by no item.
void VOQ_CardSignature_About(void* clientData);
void VOQ_CardSignature_Preferences(void* clientData);
void VOQ_CardSignature_ProxyPreferences(void* clientData);
void VOQ_CardSignature_Info(void* clientData);
void VOQ_CardSignature_Help(void* clientData);
// The signing product's clean-and-save of the active document is not built into this
// verifying plug-in: the command says so in an error box and leaves the document as it is.
void VOQ_CardSignature_Clean(void* clientData);

// The commands that end the About and information dialogs: OK, Cancel, Abort and Close.
inline bool closesDialog(int command) {
  return command == IDOK || command == IDCANCEL || command == IDABORT || command == IDCLOSE;
}

// The About dialog (template 126) over the viewer's window for the active document.
void showAboutDialog();
// The signing product's About dialog (template 116); nothing shows it.
INT_PTR CALLBACK signingAboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
