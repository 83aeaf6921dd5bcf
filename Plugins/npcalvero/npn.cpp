// The browser's functions. Calls that came with a later interface version answer
// NPERR_INCOMPATIBLE_VERSION_ERROR on a browser that lacks them.
#include "npcalvero.h"

NPNetscapeFuncs* g_browser = nullptr;

namespace {
int browserMinor() { return g_browser->version & 0xFF; }
}  // namespace

void NPN_Version(int* pluginMajor, int* pluginMinor, int* browserMajor, int* browserMinor) {
  *pluginMajor = NP_VERSION_MAJOR;
  *pluginMinor = NP_VERSION_MINOR;
  *browserMajor = g_browser->version >> 8;
  *browserMinor = g_browser->version & 0xFF;
}

NPError NPN_GetURLNotify(NPP instance, const char* url, const char* target, void* notifyData) {
  if (browserMinor() < 9) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  return g_browser->geturlnotify(instance, url, target, notifyData);
}

NPError NPN_GetURL(NPP instance, const char* url, const char* target) {
  return g_browser->geturl(instance, url, target);
}

NPError NPN_PostURLNotify(NPP instance, const char* url, const char* target, uint32_t len, const char* buf,
                          NPBool file, void* notifyData) {
  if (browserMinor() < 9) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  return g_browser->posturlnotify(instance, url, target, len, buf, file, notifyData);
}

NPError NPN_PostURL(NPP instance, const char* url, const char* target, uint32_t len, const char* buf, NPBool file) {
  return g_browser->posturl(instance, url, target, len, buf, file);
}

NPError NPN_RequestRead(NPStream* stream, NPByteRange* rangeList) { return g_browser->requestread(stream, rangeList); }

NPError NPN_NewStream(NPP instance, NPMIMEType type, const char* target, NPStream** stream) {
  if (browserMinor() < 8) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  return g_browser->newstream(instance, type, target, stream);
}

int32_t NPN_Write(NPP instance, NPStream* stream, int32_t len, void* buffer) {
  if (browserMinor() < 8) return -1;
  return g_browser->write(instance, stream, len, buffer);
}

NPError NPN_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
  if (browserMinor() < 8) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  return g_browser->destroystream(instance, stream, reason);
}

void NPN_Status(NPP instance, const char* message) { g_browser->status(instance, message); }

const char* NPN_UserAgent(NPP instance) { return g_browser->uagent(instance); }

void* NPN_MemAlloc(uint32_t size) { return g_browser->memalloc(size); }

void NPN_MemFree(void* ptr) { g_browser->memfree(ptr); }

uint32_t NPN_MemFlush(uint32_t size) { return g_browser->memflush(size); }

void NPN_ReloadPlugins(NPBool reloadPages) { g_browser->reloadplugins(reloadPages); }

JRIEnv* NPN_GetJavaEnv(void) { return g_browser->getJavaEnv(); }

JRIGlobalRef NPN_GetJavaPeer(NPP instance) { return g_browser->getJavaPeer(instance); }
