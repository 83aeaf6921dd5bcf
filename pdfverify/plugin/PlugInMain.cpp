// The module's only export and what the module does at load.
#include "DocSignInit.h"
#include "PluginState.h"

extern const char kMetadataKeyText[];             // made at build time
extern const unsigned char* const kMetadataKeyProof;  // the text's SHA-256 once the build checked it

namespace {

// The single static object of the module: everything that exists at load is made by it,
// in one fixed order.
struct ModuleLoad {
  ModuleLoad() { tolmiraModuleLoad(kMetadataKeyText, kMetadataKeyProof); }
  ~ModuleLoad() { tolmiraModuleTeardown(); }
} moduleLoad;

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
