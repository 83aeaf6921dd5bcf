// Where the viewer enters Tolmira: the set-up procedure that fetches the host function
// tables, the handshake and its four callbacks, the language, and what exists as soon
// as the module is loaded.
#pragma once

#include "pisdk/PITypes.h"

// What the module does at load, in this order: the HKLM and HKCU stores (the card library
// gets the HKLM one), the trace log from HKLM "LogFileName" and the classes' trace
// contexts with the settings object after the first, the metadata key text (and its
// SHA-256 when the build proved it consistent, else null), the card
// library's lock. Called once by the module's single static object.
void tolmiraModuleLoad(const char* metadataKeyText, const unsigned char* metadataKeyProof);
// What the module's unload leaves of its load, released when the module goes.
void tolmiraModuleTeardown();

// The set-up procedure PlugInMain hands out.
ASBool setupSDK(ASUns32 handshakeVersion, void* sdkData);
// An HFT by name at a minimum version; whether one was found. `version` receives the
// version recorded for it (may be null for the HFTs whose version is not kept).
bool importHFT(const char* name, ASUns32 minimumVersion, ASUns32* version, HFT* hft);
ASBool handshake(ASUns32 handshakeVersion, void* handshakeData);

ASBool DocSignExportHFTs();
ASBool DocSignImportReplaceAndRegister();
ASBool DocSignInit();
ASBool DocSignUnload();
void DocSignSetLanguage();

// The handler module object's existence: DocSignInit went on with loading.
bool handlerModuleExists();
