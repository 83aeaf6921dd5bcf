#include "PluginState.h"

// One translation unit holds the state, so its initial values exist before any other
// part of the module runs.
HWND hostMainWindow = nullptr;
HINSTANCE pluginInstance = nullptr;
bool startupOK = true;
int languageFlag = 1;
int hostMajorVersion = -1, hostMinorVersion = -1;
bool isReader = false;
std::string hostSubKey;
