#include "UserInterface.h"

#include <string.h>

#include <memory>

#include "Messages.h"
#include "PluginState.h"
#include "SettingsDialogs.h"
#include "VersionInfo.h"
#include "DSInfoDialog.h"
#include "CertsCommand.h"
#include "VOQ_ConfigurationHelper.h"
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

constexpr int kAboutDialog = 126;
constexpr int kAboutVersion = 1220;
constexpr int kAboutDate = 1147;
constexpr int kSigningAboutVersion = 1200;
constexpr int kSigningAboutDate = 1201;

const char* textOf(const VOQ_String& s) { return s.getData() != nullptr ? s.getData() : ""; }

VOQ_TraceContext* userInterface() { return pluginTrace("DSUserInterface"); }
VOQ_TraceContext* docSignInit() { return pluginTrace("DocSignInit"); }

// The menu: the submenu and its items, kept for their removal.
struct MenuEntry {
  int title;  // number of the menu-title text
  const char* name;
  const char* logLine;
  AVExecuteProc command;
};
const MenuEntry kItems[] = {
    {2, "VOQ:About", "Adding About button.", &VOQ_CardSignature_About},
    {3, "VOQ:Preferences", "Adding Preferences button.", &VOQ_CardSignature_Preferences},
    {4, "VOQ:Proxy", "Adding Proxy Preferences button.", &VOQ_CardSignature_ProxyPreferences},
    {6, "VOQ:Info", "Adding Info button.", &VOQ_CardSignature_Info},
    {7, "VOQ:Certs", "Adding Download button.", &VOQ_CardSignature_Certs},
};
constexpr int kItemCount = sizeof kItems / sizeof kItems[0];

AVMenu rootMenu = nullptr;
AVMenuItem menuItems[kItemCount] = {};
ASCallback menuCallbacks[kItemCount] = {};

// Every callback handed to the host goes back to it once its item is gone.
void destroyCallbacks() {
  for (ASCallback& callback : menuCallbacks) {
    if (callback != nullptr) ASCallbackDestroy(callback);
    callback = nullptr;
  }
}

// Both About dialogs: the version and the build date into their two controls; the
// dialog ends with IDCLOSE on any closing command.
INT_PTR aboutMessage(HWND dialog, UINT message, WPARAM wParam, int versionControl, int dateControl) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, versionControl, textOf(getVersionString()));
    SetDlgItemTextA(dialog, dateControl, textOf(getBuildTimeString()));
    return TRUE;
  }
  if (message == WM_COMMAND && closesDialog(LOWORD(wParam))) {
    EndDialog(dialog, IDCLOSE);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK aboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  return aboutMessage(dialog, message, wParam, kAboutVersion, kAboutDate);
}

}  // namespace

INT_PTR CALLBACK signingAboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  return aboutMessage(dialog, message, wParam, kSigningAboutVersion, kSigningAboutDate);
}

bool addMenuItems() {
  const char* method = "addMenuItems";
  userInterface()->log(method, "Start.", VOQ_TraceContext::ENTER);
  AVMenubar bar = AVAppGetMenubar();
  if (bar == nullptr) {
    userInterface()->log(method, "Can´t access Menubar.", VOQ_TraceContext::LEAVE);
    return false;
  }
  bool built = false;
  DURING
    userInterface()->log(method, "Adding VOQ root Menu.", VOQ_TraceContext::INSIDE);
    rootMenu = AVMenuNew(getMenuText(0, languageFlag), "VOQ:Root", extensionId);
    AVMenubarAddMenu(bar, rootMenu, 9999);
    for (int i = 0; i < kItemCount; ++i) {
      userInterface()->log(method, kItems[i].logLine, VOQ_TraceContext::INSIDE);
      menuItems[i] = AVMenuItemNew(getMenuText(kItems[i].title, languageFlag), kItems[i].name, nullptr, extensionId);
      menuCallbacks[i] = ASCallbackCreateProto(AVExecuteProc, kItems[i].command);
      AVMenuItemSetExecuteProc(menuItems[i], menuCallbacks[i], nullptr);
      AVMenuAddMenuItem(rootMenu, menuItems[i], 9999);
    }
    built = true;
  HANDLER
    // What was built goes with the submenu.
    if (rootMenu != nullptr) AVMenuRemove(rootMenu);
    rootMenu = nullptr;
    for (AVMenuItem& item : menuItems) item = nullptr;
    destroyCallbacks();
  END_HANDLER
  userInterface()->log(method, built ? "Successfully initialized." : "Can´t initialize menuitems.",
                       VOQ_TraceContext::LEAVE);
  return built;
}

void removeMenuItems() {
  for (AVMenuItem& item : menuItems) {
    if (item != nullptr) AVMenuItemRemove(item);
    item = nullptr;
  }
  if (rootMenu != nullptr) AVMenuRemove(rootMenu);
  rootMenu = nullptr;
  destroyCallbacks();
  userInterface()->log("removeMenuItems", "Menuitems removed.", VOQ_TraceContext::INSIDE);
}

void VOQ_CardSignature_About(void*) {
  userInterface()->log("VOQ_CardSignature_About", "Show About Dialog.", VOQ_TraceContext::INSIDE);
  showAboutDialog();
}

void VOQ_CardSignature_Preferences(void*) {
  userInterface()->log("VOQ_CardSignature_Preferences", "Start", VOQ_TraceContext::ENTER);
  showPropDialog();
  userInterface()->log("VOQ_CardSignature_Preferences", "End", VOQ_TraceContext::LEAVE);
}

void VOQ_CardSignature_ProxyPreferences(void*) {
  // The opening line keeps the name of the preferences command it was made from.
  userInterface()->log("VOQ_CardSignature_Preferences", "Start", VOQ_TraceContext::ENTER);
  VOQ_ConfigurationHelper::getInstance()->loadConfiguration();
  showProxyDialog();
  userInterface()->log("VOQ_CardSignature_ProxyPreferences", "End", VOQ_TraceContext::LEAVE);
}

void VOQ_CardSignature_Info(void*) {
  userInterface()->log("VOQ_CardSignature_Info", "Info about the actual Document.", VOQ_TraceContext::INSIDE);
  AVDoc doc = AVAppGetActiveDoc();
  if (doc != nullptr) {
    DSInfoDialog::show(doc);
    return;
  }
  MessageBoxA(hostMainWindow, getNoDocumentText(languageFlag), "Error", MB_ICONERROR);
}

void VOQ_CardSignature_Help(void*) {
  userInterface()->log("VOQ_CardSignature_Help", "Show Help Dialog.", VOQ_TraceContext::INSIDE);
  AVAppOpenHelpFile("Dorvalin Hilfe.pdf", "Index");
}

void VOQ_CardSignature_Clean(void*) {
  userInterface()->log("VOQ_CardSignature_Clean", "Clean the actual Document.", VOQ_TraceContext::INSIDE);
  MessageBoxA(hostMainWindow, getCleanUnavailableText(languageFlag), languageFlag == 1 ? "Fehler" : "Error",
              MB_ICONERROR);
}

void showAboutDialog() {
  docSignInit()->log("showAboutDialog", "show dialog from Tolmira", VOQ_TraceContext::INSIDE);
  DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kAboutDialog), WinAppGetModalParent(AVAppGetActiveDoc()),
                  aboutDlgProc, 0);
}
