// INTERIM: see StartupServices.h.
#include "StartupServices.h"

#include <string.h>

#include <vector>

#include "Messages.h"
#include "PluginState.h"
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

VOQ_String versionText;
AVMenu rootMenu = nullptr;

void logLine(const char* method, const char* text) {
  pluginTrace("DocSignInit")->log(method, text, VOQ_TraceContext::INSIDE);
}

// True when the configured version is missing or differs.
bool setVersionStrings(const char* fileVersion) {
  versionText = VOQ_String(fileVersion);
  const VOQ_ConfigurationEntry* entry =
      hklmStore != nullptr ? hklmStore->find(HKEY_LOCAL_MACHINE, hostSubKey.c_str(), "Version") : nullptr;
  const char* configured = entry != nullptr ? entry->getString() : nullptr;
  if (configured == nullptr) {
    logLine("setVersionStrings", "no version entry found");
    return true;
  }
  pluginTrace("DocSignInit")->logFormat("setVersionStrings", "Comparing configured version %s and fileversion %s\n",
                                       configured, fileVersion);
  if (strlen(configured) == strlen(fileVersion) && strcmp(configured, fileVersion) == 0) return false;
  pluginTrace("DocSignInit")->logFormat("setVersionStrings", "Configured version != fileversion (%s != %s)\n",
                                       configured, fileVersion);
  return true;
}

}  // namespace

bool initVersionStringAndBuildTime(const char* fileName) {
  DWORD size = GetFileVersionInfoSizeA(fileName, nullptr);
  if (size == 0) return true;
  std::vector<char> info(size, 0);
  void* text = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(fileName, 0, size, info.data()) ||
      !VerQueryValueA(info.data(), "\\StringFileInfo\\000004b0\\FileVersion", &text, &length)) {
    return true;
  }
  return setVersionStrings(static_cast<const char*>(text));
}

const VOQ_String& getVersionString() { return versionText; }

bool addMenuItems() {
  AVMenubar bar = AVAppGetMenubar();
  if (bar == nullptr) return false;
  bool built = false;
  DURING
    rootMenu = AVMenuNew(getMenuText(0, languageFlag), "VOQ:Root", extensionId);
    AVMenubarAddMenu(bar, rootMenu, 9999);
    built = true;
  HANDLER
    if (rootMenu != nullptr) AVMenuRemove(rootMenu);
    rootMenu = nullptr;
  END_HANDLER
  return built;
}

void removeMenuItems() {
  if (rootMenu != nullptr) AVMenuRemove(rootMenu);
  rootMenu = nullptr;
  logLine("removeMenuItems", "Menuitems removed.");
}
