// INTERIM: see StartupServices.h.
#include "StartupServices.h"

#include "Messages.h"
#include "PluginState.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

AVMenu rootMenu = nullptr;

void logLine(const char* method, const char* text) {
  pluginTrace("DocSignInit")->log(method, text, VOQ_TraceContext::INSIDE);
}

}  // namespace

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
