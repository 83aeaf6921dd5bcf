#include "DocSignInit.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "DSHandler.h"
#include "Messages.h"
#include "PluginState.h"
#include "UserInterface.h"
#include "VOQ_ConfigurationHelper.h"
#include "VersionInfo.h"
#include "cardvariant/Settings.h"
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_Crypt.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

const char kCompany[] = "VOQ. VUV-Oredaridez GmbH";
const char kProduct[] = "Tolmira";
const char kExtensionName[] = "Dor:valin";

// The key text of the module, set at load: a pointer to its constant, so that it needs
// no construction of its own before the load runs.
const char* metadataKey = nullptr;
const unsigned char* metadataKeyProven = nullptr;  // its SHA-256 when the build checked it, else null

// The handler module object: no data; its existence means DocSignInit went on loading.
std::unique_ptr<DSHandler> handlerModule;
// The handshake callbacks, destroyed at unload.
ASCallback handshakeCallbacks[5] = {};

VOQ_TraceContext* trace() { return pluginTrace("DocSignInit"); }
void logLine(const char* method, const char* text) { trace()->log(method, text, VOQ_TraceContext::INSIDE); }

VOQ_Crypt* g_crypt = nullptr;
void deleteCrypt() {
  delete g_crypt;
  g_crypt = nullptr;
}
// The key holder, made on first request and deleted at process exit.
VOQ_Crypt* cryptInstance() {
  if (g_crypt == nullptr) {
    g_crypt = new VOQ_Crypt();
    atexit(deleteCrypt);
  }
  return g_crypt;
}

// The start-up error box of number 0 to 5: the system's default caption, error icon.
void startupError(HWND parent, int number) {
  startupOK = false;
  MessageBoxA(parent, getStartupErrorText(number, languageFlag).c_str(), nullptr, MB_ICONERROR);
}

// What the host's configuration answers for "Product", as a C string.
const char* productName() {
  return static_cast<const char*>(ASGetConfiguration(ASAtomFromString("Product")));
}

}  // namespace

void tolmiraModuleLoad(const char* metadataKeyText, const unsigned char* metadataKeyProof) {
  hklmStore = new VOQ_Configuration(kCompany, kProduct, HKEY_LOCAL_MACHINE);
  hkcuStore = new VOQ_Configuration(kCompany, kProduct, HKEY_CURRENT_USER);
  cardvariant::setSettingsStore(hklmStore);
  VOQ_TraceLog::getInstance(*hklmStore, HKEY_LOCAL_MACHINE, "", "LogFileName");
  pluginTrace("VOQ_ConfigurationHelper");
  VOQ_ConfigurationHelper::getInstance();
  for (const char* name : {"SignatureFinder", "VOQ_DocumentValidator", "VOQ_FontEnumerator", "VOQ_PDFContentAnalyzer",
                           "VOQ_URLFinder", "DocSignInit", "DSEngine", "DSHandler", "DSInfoDialog",
                           "DSUserInterface"}) {
    pluginTrace(name);
  }
  VOQ_TraceLog::getInstance("VOQ_Crypt.log");
  pluginTrace("VOQ_Crypt");
  metadataKey = metadataKeyText;
  metadataKeyProven = metadataKeyProof;
}

void tolmiraModuleTeardown() {
  // The host normally unloads the plug-in first (DocSignUnload saves and deletes the
  // stores); a module that goes without that takes what its load made with it.
  delete hkcuStore;
  hkcuStore = nullptr;
  if (hklmStore != nullptr) {
    cardvariant::setSettingsStore(nullptr);
    delete hklmStore;
    hklmStore = nullptr;
  }
}

bool importHFT(const char* name, ASUns32 minimumVersion, ASUns32* version, HFT* hft) {
  static const ASUns32 fallbackVersions[] = {0x50001, 0x50000, 0x40005, 0x40000, 0x20003, 0x20002, 0x20001};
  const ASAtom atom = ASAtomFromString(name);
  HFT found = nullptr;
  ASUns32 recorded = 0;
  if (gAcroSupportVersion >= 0x60000) {
    found = ASExtensionMgrGetHFT(atom, minimumVersion);
    if (found != nullptr) recorded = HFTGetVersion(found);
  }
  if (found == nullptr || recorded == 0) {
    found = nullptr;
    recorded = 0;
    for (ASUns32 candidate : fallbackVersions) {
      if (candidate < minimumVersion) break;
      found = ASExtensionMgrGetHFT(atom, candidate);
      if (found != nullptr) {
        recorded = candidate;
        break;
      }
    }
  }
  *hft = recorded != 0 ? found : nullptr;
  if (version != nullptr) *version = recorded;
  return recorded != 0;
}

ASBool setupSDK(ASUns32 handshakeVersion, void* sdkData) {
  auto* setup = static_cast<PISetupSDKRec*>(sdkData);
  if (handshakeVersion != HANDSHAKE_VERSION_2 || setup == nullptr || setup->handshakeVersion != HANDSHAKE_VERSION_2) {
    return false;
  }
  extensionId = setup->extensionID;
  gCoreHFT = setup->coreHFT;
  gAcroSupportHFT = ASExtensionMgrGetHFT(ASAtomFromString(kAcroSupportHFTName), 0x60000);
  if (gAcroSupportHFT != nullptr) {
    gAcroSupportVersion = 0x60000;
    gAcroSupportVersion = HFTGetVersion(gAcroSupportHFT);
  }
  struct Required {
    const char* name;
    ASUns32 minimum;
    ASUns32* version;
    HFT* hft;
  };
  const Required required[] = {
      {kAcroSupportHFTName, 0x50000, &gAcroSupportVersion, &gAcroSupportHFT},
      {kCoreHFTName, 0x40000, &gCoreVersion, &gCoreHFT},
      {kCosHFTName, 0x50000, &gCosVersion, &gCosHFT},
      {kPDModelHFTName, 0x50000, &gPDModelVersion, &gPDModelHFT},
      {kAcroViewHFTName, 0x60000, &gAcroViewVersion, &gAcroViewHFT},
      {kPDSReadHFTName, 0x50000, &gPDSReadVersion, &gPDSReadHFT},
      {kWinHFTName, 0x50000, &gWinVersion, &gWinHFT},
      {kASExtraHFTName, 0x50000, &gASExtraVersion, &gASExtraHFT},
  };
  for (const Required& r : required) {
    if (!importHFT(r.name, r.minimum, r.version, r.hft)) return false;
  }
  importHFT(kAcroColorHFTName, 0x60000, &gAcroColorVersion, &gAcroColorHFT);  // optional
  handshakeCallbacks[0] = ASCallbackCreateProto(PIHandshakeProcType, &handshake);
  setup->handshakeCallback = handshakeCallbacks[0];
  return true;
}

ASBool handshake(ASUns32 handshakeVersion, void* handshakeData) {
  auto* record = static_cast<PIHandshakeRec*>(handshakeData);
  if (handshakeVersion != HANDSHAKE_VERSION_2 || record == nullptr) return false;
  record->appName = ASAtomFromString(kExtensionName);
  handshakeCallbacks[1] = ASCallbackCreateProto(PIExportHFTsProcType, &DocSignExportHFTs);
  handshakeCallbacks[2] = ASCallbackCreateProto(PIImportReplaceAndRegisterProcType, &DocSignImportReplaceAndRegister);
  handshakeCallbacks[3] = ASCallbackCreateProto(PIInitProcType, &DocSignInit);
  handshakeCallbacks[4] = ASCallbackCreateProto(PIUnloadProcType, &DocSignUnload);
  record->exportHFTsCallback = handshakeCallbacks[1];
  record->importReplaceAndRegisterCallback = handshakeCallbacks[2];
  record->initCallback = handshakeCallbacks[3];
  record->unloadCallback = handshakeCallbacks[4];
  return true;
}

ASBool DocSignExportHFTs() { return true; }

ASBool DocSignImportReplaceAndRegister() {
  const char* method = "DocSignImportReplaceAndRegister";
  HWND parent = WinAppGetModalParent(AVAppGetActiveDoc());
  logLine(method, "Start.");
  startupOK = true;

  const char* product = productName();
  const bool known = product != nullptr && (strcmp(product, "Exchange") == 0 ||
                                            strcmp(product, "Exchange-Pro") == 0 || strcmp(product, "Reader") == 0);
  if (!known) {
    logLine(method, "Acrobat Type is NOT OK.");
    startupError(parent, 0);
  }
  if (startupOK) {
    isReader = strcmp(product, "Reader") == 0;
    ASInt16 major = 0, minor = 0;
    AVAppGetVersion(&major, &minor);
    hostMajorVersion = major;
    hostMinorVersion = minor;
    char line[96];
    snprintf(line, sizeof line, "major: %d, minor: %d, reader: %d", hostMajorVersion, hostMinorVersion, isReader);
    trace()->logFormat(method, "Adobe-Version:%s\n", line);
    snprintf(line, sizeof line, isReader ? "Acrobat Reader\\%d.0" : "Adobe Acrobat\\%d.0", hostMajorVersion);
    hostSubKey = line;
    const bool inRange = isReader ? hostMajorVersion >= 8 && hostMajorVersion <= 19
                                  : hostMajorVersion >= 6 && hostMajorVersion <= 10;
    if (inRange) {
      logLine(method, isReader ? "Adobe Reader Version is OK." : "Adobe Acrobat Version is OK.");
    } else {
      logLine(method, isReader ? "Adobe Reader Version is NOT OK." : "Adobe Acrobat Version is NOT OK.");
      startupError(parent, 1);
    }
  }
  if (startupOK) {
    // All three are always asked for.
    bool all = importHFT(kPubSecHFTName, 1, nullptr, &gPubSecHFT);
    all = importHFT(kDigSigHFTName, 1, nullptr, &gDigSigHFT) && all;
    all = importHFT(kPDFConsultantHFTName, 0x20000, nullptr, &gPDFConsultantHFT) && all;
    if (!all) {
      logLine(method, "Not all needed HFTs are available!");
      startupError(parent, 2);
    }
  }
  if (startupOK && initVersionStringAndBuildTime("Tolmira.api")) {
    logLine(method, "Error in \"initVersionStringAndBuildTime\" or configured version does not match fileversion");
    startupError(parent, 5);
  }
  if (startupOK) {
    VOQ_String keyText(metadataKey);
    if (cryptInstance()->loadKey(keyText, metadataKeyProven) != 0) {
      logLine(method, getStartupErrorText(4, languageFlag).c_str());
      startupError(parent, 4);
    } else {
      logLine(method, "Metadata signature key successfully initialized.");
    }
  }
  if (!startupOK) {
    logLine(method, "Configuration failed --> stop.");
    logLine(method, "End.");
    return true;
  }
  logLine(method, "Adding MenuItems.");
  if (!addMenuItems()) startupError(parent, 3);
  logLine(method, "End.");
  return true;
}

ASBool DocSignInit() {
  const char* method = "DocSignInit";
  logLine(method, "Start.");
  if (startupOK) {
    logLine(method, "Go on with loading plugin.");
    handlerModule = std::make_unique<DSHandler>();
    // The plug-in's menu and boxes speak the viewer's language whether or not the viewer
    // took the handler.
    Register();
    DocSignSetLanguage();
  } else {
    logLine(method, "Plugin will not be loaded.");
  }
  logLine(method, "End.");
  return true;
}

void DocSignSetLanguage() {
  char language[32] = "";
  AVAppGetLanguage(language);
  language[sizeof language - 1] = '\0';
  if (strcmp(language, "de") == 0 || strcmp(language, "DEU") == 0 || strcmp(language, "de-de") == 0) {
    languageFlag = 1;
    logLine("DocSignSetLanguage", "Set Language to german.");
  } else {
    languageFlag = 0;
    logLine("DocSignSetLanguage", "Set Language to english.");
  }
}

ASBool DocSignUnload() {
  if (hkcuStore != nullptr) {
    hkcuStore->save();
    delete hkcuStore;
    hkcuStore = nullptr;
  }
  if (hklmStore != nullptr) {
    hklmStore->save();
    cardvariant::setSettingsStore(nullptr);
    delete hklmStore;
    hklmStore = nullptr;
  }
  if (handlerModule) {
    Unregister();
    handlerModule.reset();
  }
  removeMenuItems();
  // The handshake's own callbacks go with the plug-in: nothing of it stays with the host.
  for (ASCallback& callback : handshakeCallbacks) {
    if (callback != nullptr) ASCallbackDestroy(callback);
    callback = nullptr;
  }
  logLine("DocSignUnload", "Signature Handler unloaded.");
  return true;
}

bool handlerModuleExists() { return handlerModule != nullptr; }
