// The plug-in-wide state of Tolmira: one instance each, set at load, by PlugInMain and
// by the start-up callbacks, read by every other part of the plug-in. Everything runs on
// the viewer's thread. The HFT handles and `extensionId` live with the host interface
// (pisdk/PICalls.h).
#pragma once

#include <string>

#include "pisdk/PICalls.h"

class VOQ_Configuration;
class VOQ_TraceContext;

extern HWND hostMainWindow;       // word 0 of PlugInMain's host data; owner of progress dialogs
extern HINSTANCE pluginInstance;  // word 1; the module of every dialog and resource
extern bool startupOK;            // cleared by the first failing start-up step
extern int languageFlag;          // 1 German, 0 English; 1 until the host's language is read
extern int hostMajorVersion, hostMinorVersion;  // -1 until read at start-up
extern bool isReader;             // the host product is "Reader"
extern std::string hostSubKey;    // "Acrobat Reader\N.0" or "Adobe Acrobat\N.0"

// The registry stores of the product key SOFTWARE\VOQ. VUV-Oredaridez GmbH\Tolmira, made
// when the module loads and saved and deleted by the unload callback (null before and
// after).
extern VOQ_Configuration* hklmStore;
extern VOQ_Configuration* hkcuStore;

// The plug-in's trace context of that class name: the one made when the module loaded,
// or, where no module load made the contexts (a test linking the code), one made now.
VOQ_TraceContext* pluginTrace(const char* className);
