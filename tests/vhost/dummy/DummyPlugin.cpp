// DummyPlugin.api: a small plug-in that runs the host handshake the way a real one does,
// records what it received, registers a PubSec handler "Dor:valin" that checks PKCS#7
// detached signatures with OpenSSL, and runs exception-frame scenarios on request.
#include "DummyPlugin.h"

#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/pkcs7.h>

#include "pisdk/PICalls.h"

namespace {

DummyReport report;
PubSecHandlerRec handler;
std::vector<ASCallback> made;

const char* const hftNames[12] = {kCoreHFTName,  kAcroSupportHFTName, kCosHFTName,
                                  kPDModelHFTName, kAcroViewHFTName,  kPDSReadHFTName,
                                  kWinHFTName,   kASExtraHFTName,     kAcroColorHFTName,
                                  kPubSecHFTName, kDigSigHFTName,     kPDFConsultantHFTName};
const ASUns32 minVersions[12] = {0x40000, 0x50000, 0x50000, 0x50000, 0x60000, 0x50000,
                                 0x50000, 0x50000, 0x60000, 1,       1,       0x20000};
HFT* const handles[12] = {&gCoreHFT,   &gAcroSupportHFT, &gCosHFT,      &gPDModelHFT,
                          &gAcroViewHFT, &gPDSReadHFT,   &gWinHFT,      &gASExtraHFT,
                          &gAcroColorHFT, &gPubSecHFT,   &gDigSigHFT,   &gPDFConsultantHFT};

template <typename Proto>
ASCallback callback(Proto proc) {
  ASCallback cb = ASCallbackCreate(extensionId, reinterpret_cast<void*>(proc));
  made.push_back(cb);
  ++report.callbacksMade;
  return cb;
}

struct Engine {
  int validations = 0;
  bool lastIntact = false;
};

PubSecEngine newEngine() { return reinterpret_cast<PubSecEngine>(new Engine); }

void destroyEngine(PubSecEngine engine) { delete reinterpret_cast<Engine*>(engine); }

// Checks a detached PKCS#7 value over the data source's bytes.
ASInt32 sigValidate(PubSecEngine engine, PSSigValidateParamsRec* params) {
  Engine* e = reinterpret_cast<Engine*>(engine);
  if (e == nullptr || params == nullptr) return -2;
  std::string data;
  ASUns8 buffer[1024];
  ASInt32 size = 0;
  while (PSDataSourceGetNextChunk(params->dataSource, sizeof buffer, buffer, &size)) {
    data.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(size));
  }
  bool intact = false;
  if (params->sigMethod == kPSSigMethodPKCS7Detached) {
    const unsigned char* p = params->sigValue;
    PKCS7* pkcs7 = d2i_PKCS7(nullptr, &p, params->sigValueSize);
    BIO* content = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    intact = pkcs7 && content &&
             PKCS7_verify(pkcs7, nullptr, nullptr, content, nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
    BIO_free(content);
    PKCS7_free(pkcs7);
  }
  e->lastIntact = intact;
  ++e->validations;
  ++report.validations;
  ASCabPutInt(params->resultCab, "digest", 7);
  ASCabPutInt(params->resultCab, "trustFlags", intact ? 1 : 0);
  ASCabPutInt(params->resultCab, "id", intact ? 2 : 1);
  return 1;
}

// The handler checks what "adbe.pkcs7.detached" names, whoever labelled the signature.
ASAtom getAtomProperty(PubSecEngine /*engine*/, const char* name) {
  return name != nullptr && std::string(name) == "SubFilter" ? ASAtomFromString("adbe.pkcs7.detached") : ASAtomNull;
}

ASText getText(PubSecEngine /*engine*/, ASCab resultCab, ASInt32 kind) {
  if (kind != 0) return nullptr;
  bool intact = ASCabGetInt(resultCab, "trustFlags", 0) == 1;
  return ASTextFromEncoded(intact ? "Signature intact" : "Signature broken", 0);
}

ASBool exportHFTs() {
  report.exported = true;
  return true;
}

ASBool importReplaceAndRegister() {
  report.imported = true;
  return true;
}

ASBool init() {
  report.initialised = true;
  handler = PubSecHandlerRec{};
  handler.size = sizeof handler;
  handler.newEngine = callback(&newEngine);
  handler.destroyEngine = callback(&destroyEngine);
  handler.sigValidate = callback(&sigValidate);
  handler.getText = callback(&getText);
  handler.getAtomProperty = callback(&getAtomProperty);
  report.handlerRegistered = PSRegisterHandler(extensionId, &handler) != 0;
  return true;
}

ASBool unload() {
  if (report.handlerRegistered) PSUnregisterHandler(&handler);
  report.handlerRegistered = false;
  for (ASCallback cb : made) {
    ASCallbackDestroy(cb);
    ++report.callbacksDestroyed;
  }
  made.clear();
  report.unloaded = true;
  return true;
}

ASBool handshake(ASUns32 version, void* data) {
  if (version != HANDSHAKE_VERSION_2) return false;
  auto* rec = static_cast<PIHandshakeRec*>(data);
  rec->appName = ASAtomFromString("Dor:valin");
  rec->exportHFTsCallback = callback(&exportHFTs);
  rec->importReplaceAndRegisterCallback = callback(&importReplaceAndRegister);
  rec->initCallback = callback(&init);
  rec->unloadCallback = callback(&unload);
  report.handshakeDone = true;
  return true;
}

// Fetches every HFT at its minimum version; AcroSupport's version query gives the version
// recorded. The optional AcroColorHFT may be missing.
ASBool setupSDK(ASUns32 version, void* data) {
  auto* rec = static_cast<PISetupSDKRec*>(data);
  if (version != HANDSHAKE_VERSION_2 || rec->handshakeVersion != HANDSHAKE_VERSION_2) return false;
  extensionId = rec->extensionID;
  gCoreHFT = rec->coreHFT;
  for (int i = 0; i < 12; ++i) {
    HFT hft = ASExtensionMgrGetHFT(ASAtomFromString(hftNames[i]), minVersions[i]);
    *handles[i] = hft;
    if (hft == nullptr && i != 8) return false;
  }
  for (int i = 0; i < 12; ++i) report.versions[i] = *handles[i] ? HFTGetVersion(*handles[i]) : 0;
  rec->handshakeCallback = callback(&handshake);
  return true;
}

ASBool raiseOnFirst(PDDoc /*doc*/, CosObj /*field*/, void* data) {
  ++*static_cast<int*>(data);
  ASRaise(PIBuildErrorCode(ErrSysNone, 77));
  return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ASBool PlugInMain(ASUns32 appHandshakeVersion,
                                                                   ASUns32* handshakeVersion,
                                                                   PISetupSDKProcType* setupProc,
                                                                   void* hostData) {
  auto* host = static_cast<PIHostData*>(hostData);
  report.handshakeVersion = appHandshakeVersion;
  report.hostMainWindow = host->hostMainWindow;
  report.pluginInstance = host->pluginInstance;
  *handshakeVersion = appHandshakeVersion < HANDSHAKE_VERSION_2 ? appHandshakeVersion : HANDSHAKE_VERSION_2;
  *setupProc = &setupSDK;
  return true;
}

extern "C" __attribute__((visibility("default"))) const DummyReport* DummyPluginReport() { return &report; }

extern "C" __attribute__((visibility("default"))) FrameOutcome DummyRunFrames(int scenario, PDDoc doc) {
  FrameOutcome out;
  DURING
    DURING
      if (scenario == kRaiseInEnumeration) {
        ASCallback proc = ASCallbackCreate(extensionId, reinterpret_cast<void*>(&raiseOnFirst));
        try {
          DigSigEnumSignatures(doc, proc, &out.enumerated);
        } catch (...) {
          ASCallbackDestroy(proc);
          throw;
        }
        ASCallbackDestroy(proc);
      } else {
        CosObj null = CosNewNull();
        CosArrayLength(null);  // a null is no array: raises
      }
    HANDLER
      out.inner = ERRORCODE;
      if (scenario == kReraise) RERAISE();
    END_HANDLER
  HANDLER
    out.outer = ERRORCODE;
  END_HANDLER
  return out;
}
