#include "PluginState.h"

#include <string.h>

#include "certcheck/VOQ_TraceLog.h"

// One translation unit holds the state, so its initial values exist before any other
// part of the module runs.
HWND hostMainWindow = nullptr;
HINSTANCE pluginInstance = nullptr;
bool startupOK = true;
int languageFlag = 1;
int hostMajorVersion = -1, hostMinorVersion = -1;
bool isReader = false;
std::string hostSubKey;
VOQ_Configuration* hklmStore = nullptr;
VOQ_Configuration* hkcuStore = nullptr;

VOQ_TraceContext* pluginTrace(const char* className) {
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(nullptr);
  // The contexts of the log, newest first; every class name is a literal of its class.
  static VOQ_TraceContext* newest = nullptr;
  for (VOQ_TraceContext* c = newest; c != nullptr; c = c->getPrevious()) {
    if (strcmp(c->getClassName(), className) == 0) return c;
  }
  newest = log->createContext(className);
  return newest;
}
