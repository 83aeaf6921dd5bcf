// The module's only export.
#include "PluginState.h"

namespace {

// The host's set-up call. Fetching the HFTs and the handshake belong to the plug-in's
// start-up, which registers the handler; until it is built the plug-in declines to be
// set up, and the host does not load it.
ASBool setupSDK(ASUns32 /*handshakeVersion*/, void* /*sdkData*/) { return false; }

}  // namespace

// Stores the host's two words, answers the smaller of the host's handshake version and
// the plug-in's, and hands out the set-up procedure.
extern "C" __attribute__((visibility("default"))) ASBool PlugInMain(ASUns32 appHandshakeVersion,
                                                                   ASUns32* handshakeVersion,
                                                                   PISetupSDKProcType* setupProc,
                                                                   void* hostData) {
  const auto* host = static_cast<const PIHostData*>(hostData);
  if (host != nullptr) {
    hostMainWindow = host->hostMainWindow;
    pluginInstance = host->pluginInstance;
  }
  *handshakeVersion = appHandshakeVersion < HANDSHAKE_VERSION_2 ? appHandshakeVersion : HANDSHAKE_VERSION_2;
  *setupProc = &setupSDK;
  return true;
}
