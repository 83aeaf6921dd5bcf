// npcalvero: the NPAPI plug-in that forwards a page's Security Layer request.
#pragma once

#include <windows.h>

#include <npapi.h>

// The plug-in's interface version and what the browser registers it for.
#define NPCALVERO_MIME_TYPE "application/quarvel-netscape-plugin"
#define NPCALVERO_FILE_EXTENTS "qnp"
#define NPCALVERO_FILE_OPEN_NAME "Quarvel Plugin (*.qnp)"
// The same registration for browsers that ask the plug-in (NP_GetMIMEDescription).
#define NPCALVERO_MIME_DESCRIPTION NPCALVERO_MIME_TYPE ":" NPCALVERO_FILE_EXTENTS ":Quarvel Plugin"

// One per instance: kept in pdata and as the window property "instance->pdata".
struct InstanceRecord {
  NPWindow* window;
  uint16_t mode;
  HWND hwnd;
  WNDPROC savedProc;
};

// The plug-in's callbacks.
NPError NPP_Initialize(void);
void NPP_Shutdown(void);
NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NPP_Print(NPP instance, NPPrint* platformPrint);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
JRIGlobalRef NPP_GetJavaClass(void);

// The browser's functions, through the table NP_Initialize kept.
void NPN_Version(int* pluginMajor, int* pluginMinor, int* browserMajor, int* browserMinor);
NPError NPN_GetURLNotify(NPP instance, const char* url, const char* target, void* notifyData);
NPError NPN_GetURL(NPP instance, const char* url, const char* target);
NPError NPN_PostURLNotify(NPP instance, const char* url, const char* target, uint32_t len, const char* buf,
                          NPBool file, void* notifyData);
NPError NPN_PostURL(NPP instance, const char* url, const char* target, uint32_t len, const char* buf, NPBool file);
NPError NPN_RequestRead(NPStream* stream, NPByteRange* rangeList);
NPError NPN_NewStream(NPP instance, NPMIMEType type, const char* target, NPStream** stream);
int32_t NPN_Write(NPP instance, NPStream* stream, int32_t len, void* buffer);
NPError NPN_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPN_Status(NPP instance, const char* message);
const char* NPN_UserAgent(NPP instance);
void* NPN_MemAlloc(uint32_t size);
void NPN_MemFree(void* ptr);
uint32_t NPN_MemFlush(uint32_t size);
void NPN_ReloadPlugins(NPBool reloadPages);
JRIEnv* NPN_GetJavaEnv(void);
JRIGlobalRef NPN_GetJavaPeer(NPP instance);

// The browser's table, or NULL outside NP_Initialize .. NP_Shutdown.
extern NPNetscapeFuncs* g_browser;
