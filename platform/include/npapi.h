// The Netscape plug-in interface: the types, constants and function tables a plug-in
// and its browser exchange, with the Windows entry points (NP_GetEntryPoints, then
// NP_Initialize with the browser's table).
#pragma once

#include <stdint.h>

#include "windef.h"

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;

// Opaque Java runtime interface types; this plug-in offers no Java class.
typedef void* JRIGlobalRef;
typedef struct JRIEnvInterface JRIEnvInterface;
typedef const JRIEnvInterface* JRIEnv;

#define NP_VERSION_MAJOR 0
#define NP_VERSION_MINOR 9

#define NPERR_BASE 0
#define NPERR_NO_ERROR (NPERR_BASE + 0)
#define NPERR_GENERIC_ERROR (NPERR_BASE + 1)
#define NPERR_INVALID_INSTANCE_ERROR (NPERR_BASE + 2)
#define NPERR_INVALID_FUNCTABLE_ERROR (NPERR_BASE + 3)
#define NPERR_MODULE_LOAD_FAILED_ERROR (NPERR_BASE + 4)
#define NPERR_OUT_OF_MEMORY_ERROR (NPERR_BASE + 5)
#define NPERR_INVALID_PLUGIN_ERROR (NPERR_BASE + 6)
#define NPERR_INVALID_PLUGIN_DIR_ERROR (NPERR_BASE + 7)
#define NPERR_INCOMPATIBLE_VERSION_ERROR (NPERR_BASE + 8)
#define NPERR_INVALID_PARAM (NPERR_BASE + 9)
#define NPERR_INVALID_URL (NPERR_BASE + 10)

#define NPRES_DONE 0
#define NPRES_NETWORK_ERR 1
#define NPRES_USER_BREAK 2

#define NP_EMBED 1
#define NP_FULL 2

#define NP_NORMAL 1
#define NP_SEEK 2
#define NP_ASFILE 3
#define NP_ASFILEONLY 4

#define NP_MAXREADY (((unsigned)(~0) << 4) >> 4)

typedef struct _NPP {
  void* pdata;  // the plug-in's
  void* ndata;  // the browser's
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPStream {
  void* pdata;
  void* ndata;
  const char* url;
  uint32_t end;
  uint32_t lastmodified;
  void* notifyData;
} NPStream;

typedef struct _NPByteRange {
  int32_t offset;
  uint32_t length;
  struct _NPByteRange* next;
} NPByteRange;

typedef struct _NPSavedData {
  int32_t len;
  void* buf;
} NPSavedData;

typedef struct _NPRect {
  uint16_t top;
  uint16_t left;
  uint16_t bottom;
  uint16_t right;
} NPRect;

typedef enum { NPWindowTypeWindow = 1, NPWindowTypeDrawable } NPWindowType;

typedef struct _NPWindow {
  void* window;  // an HWND
  int32_t x;
  int32_t y;
  uint32_t width;
  uint32_t height;
  NPRect clipRect;
  NPWindowType type;
} NPWindow;

typedef struct _NPFullPrint {
  NPBool pluginPrinted;  // false: the browser prints
  NPBool printOne;
  void* platformPrint;
} NPFullPrint;

typedef struct _NPEmbedPrint {
  NPWindow window;
  void* platformPrint;
} NPEmbedPrint;

typedef struct _NPPrint {
  uint16_t mode;  // NP_FULL or NP_EMBED
  union {
    NPFullPrint fullPrint;
    NPEmbedPrint embedPrint;
  } print;
} NPPrint;

// The plug-in's callbacks.
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[],
                                  char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                                        uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason, void* notifyData);

typedef struct _NPPluginFuncs {
  uint16_t size;
  uint16_t version;
  NPP_NewProcPtr newp;
  NPP_DestroyProcPtr destroy;
  NPP_SetWindowProcPtr setwindow;
  NPP_NewStreamProcPtr newstream;
  NPP_DestroyStreamProcPtr destroystream;
  NPP_StreamAsFileProcPtr asfile;
  NPP_WriteReadyProcPtr writeready;
  NPP_WriteProcPtr write;
  NPP_PrintProcPtr print;
  NPP_HandleEventProcPtr event;
  NPP_URLNotifyProcPtr urlnotify;
  JRIGlobalRef javaClass;
} NPPluginFuncs;

// The browser's functions.
typedef NPError (*NPN_GetURLProcPtr)(NPP instance, const char* url, const char* window);
typedef NPError (*NPN_PostURLProcPtr)(NPP instance, const char* url, const char* window, uint32_t len,
                                      const char* buf, NPBool file);
typedef NPError (*NPN_RequestReadProcPtr)(NPStream* stream, NPByteRange* rangeList);
typedef NPError (*NPN_NewStreamProcPtr)(NPP instance, NPMIMEType type, const char* window, NPStream** stream);
typedef int32_t (*NPN_WriteProcPtr)(NPP instance, NPStream* stream, int32_t len, void* buffer);
typedef NPError (*NPN_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPN_StatusProcPtr)(NPP instance, const char* message);
typedef const char* (*NPN_UserAgentProcPtr)(NPP instance);
typedef void* (*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void* ptr);
typedef uint32_t (*NPN_MemFlushProcPtr)(uint32_t size);
typedef void (*NPN_ReloadPluginsProcPtr)(NPBool reloadPages);
typedef JRIEnv* (*NPN_GetJavaEnvProcPtr)(void);
typedef JRIGlobalRef (*NPN_GetJavaPeerProcPtr)(NPP instance);
typedef NPError (*NPN_GetURLNotifyProcPtr)(NPP instance, const char* url, const char* window, void* notifyData);
typedef NPError (*NPN_PostURLNotifyProcPtr)(NPP instance, const char* url, const char* window, uint32_t len,
                                            const char* buf, NPBool file, void* notifyData);

typedef struct _NPNetscapeFuncs {
  uint16_t size;
  uint16_t version;  // major in the high byte, minor in the low byte
  NPN_GetURLProcPtr geturl;
  NPN_PostURLProcPtr posturl;
  NPN_RequestReadProcPtr requestread;
  NPN_NewStreamProcPtr newstream;
  NPN_WriteProcPtr write;
  NPN_DestroyStreamProcPtr destroystream;
  NPN_StatusProcPtr status;
  NPN_UserAgentProcPtr uagent;
  NPN_MemAllocProcPtr memalloc;
  NPN_MemFreeProcPtr memfree;
  NPN_MemFlushProcPtr memflush;
  NPN_ReloadPluginsProcPtr reloadplugins;
  NPN_GetJavaEnvProcPtr getJavaEnv;
  NPN_GetJavaPeerProcPtr getJavaPeer;
  NPN_GetURLNotifyProcPtr geturlnotify;
  NPN_PostURLNotifyProcPtr posturlnotify;
} NPNetscapeFuncs;

// The module's entry points (Windows convention).
typedef NPError(WINAPI* NP_GetEntryPointsFunc)(NPPluginFuncs* pFuncs);
typedef NPError(WINAPI* NP_InitializeFunc)(NPNetscapeFuncs* pFuncs);
typedef NPError(WINAPI* NP_ShutdownFunc)(void);
// The browsers of other systems read the MIME types from the plug-in itself rather than
// from its version block: "type:extensions:description", entries separated by ';'.
typedef const char*(WINAPI* NP_GetMIMEDescriptionFunc)(void);
