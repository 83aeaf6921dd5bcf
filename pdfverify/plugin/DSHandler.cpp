#include "DSHandler.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>

#include "DSEngine.h"
#include "Messages.h"
#include "PanelTexts.h"
#include "PluginState.h"
#include "certcheck/VOQ_Time.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/AbstractException.h"

namespace {

const char kHandlerName[] = "Dor:valin";
// The error text a failing callback leaves, unless it names its own; kept as it always read.
const char kDefaultErrorText[] = "Error at File: .\\DSHandler , Line: __LINE__";

PubSecHandlerRec handlerRecord;
bool recordBuilt = false;
bool handlerRegistered = false;
ASAtom handlerAtom = ASAtomNull;
ASAtom subFilterAtom = ASAtomNull;  // made, never read
DSEngine* registeredEngine = nullptr;

VOQ_TraceContext* trace() { return pluginTrace("DSHandler"); }
void logLine(const char* method, const char* text) { trace()->log(method, text, VOQ_TraceContext::INSIDE); }

DSEngine* engineOf(PubSecEngine engine) {
  return engine != nullptr ? reinterpret_cast<DSEngine*>(engine) : registeredEngine;
}

const char* const opTypeNames[] = {
    "kPSOpTypeNone",        "kPSOpTypePDDocSign",        "kPSOpTypePDDocSigValidate", "kPSOpTypeCosDocSign",
    "kPSOpTypeCosDocSigValidate", "kPSOpTypeDataSign",   "kPSOpTypeDataSigValidate",  "kPSOpTypeMyContactExport",
    "kPSOpTypeContactImport", "kPSOpTypePolicyModify",   "kPSOpTypeAPRead",           "kPSOpTypePDCryptDocCreate",
    "kPSOpTypePDCryptDocOpen", "kPSOpTypeLogin",         "kPSOpTypeLogout",           "kPSOpTypeCertEnum",
    "kPSOpTypeDirEnum",      "kPSOpTypeDirGet"};
const int kOpTypes = sizeof opTypeNames / sizeof opTypeNames[0];

std::string opTypeName(ASInt32 type) {
  return type >= 0 && type < kOpTypes ? opTypeNames[type] : std::to_string(type);
}

// The answers of SessionAcquire and SessionReady per operation type: 1, 0, or the
// login (acquire) and the login state (ready).
enum Answer { ONE, ZERO, LOGIN };
const Answer acquireAnswers[kOpTypes] = {ONE,   LOGIN, ONE,   LOGIN, ONE, LOGIN, ONE, LOGIN, ZERO,
                                         LOGIN, ONE,   LOGIN, LOGIN, ONE, ONE,   ZERO, ZERO, ZERO};
const Answer readyAnswers[kOpTypes] = {ONE,   LOGIN, LOGIN, LOGIN, ONE, ONE,  ONE,  LOGIN, ZERO,
                                       LOGIN, ONE,   LOGIN, LOGIN, ONE, ONE,  ZERO, ZERO,  ZERO};

// A failing callback: the log line, the error text, the failure value.
ASInt32 fail(DSEngine* engine, const char* method, const char* logText, const char* errorText, ASInt32 value) {
  logLine(method, logText);
  if (engine != nullptr) engine->setErrorText(errorText);
  return value;
}

// The text for log lines in the viewer's language encoding.
std::string logText(ASText text) {
  if (text == nullptr) return std::string();
  const char* encoded = ASTextGetEncoded(text, AVAppGetLanguageEncoding());
  return encoded != nullptr ? encoded : "";
}

// The number of signature appearances the host keeps, through its appearance list.
ASInt32 appearanceCount() {
  PSOpenAppearanceList(0, 1);
  ASInt32 count = PSGetNumAppearances();
  PSCloseAppearanceList();
  return count;
}

// --- The callbacks ----------------------------------------------------------------------

PubSecEngine NewEngine() {
  logLine("NewEngine", "Creating new DSEngine ...");
  DSEngine* engine = new (std::nothrow) DSEngine(true);
  logLine("NewEngine", engine != nullptr ? "DSEngine created." : "Errror: DSEngine NOT created.");
  return reinterpret_cast<PubSecEngine>(engine);
}

void DestroyEngine(PubSecEngine engine) {
  if (engine != nullptr) {
    logLine("DestroyEngine", "Destroying DSEngine ...");
    delete reinterpret_cast<DSEngine*>(engine);
  } else {
    logLine("DestroyEngine", "No DSEngine initialized");
  }
  logLine("DestroyEngine", "DSEngine destroyed");
}

ASBool GetBoolProperty(PubSecEngine engineHandle, const char* name, ASBool defaultValue) {
  ASBool answer = defaultValue;
  try {
    DSEngine* engine = engineOf(engineHandle);
    if (engine == nullptr || name == nullptr) {
      logLine("GetBoolProperty", "PorpertyName is NULL");
      return defaultValue;
    }
    static const char* const trueNames[] = {"signVisible",     "signAuthor",       "signPKCS1",    "signPKCS7",
                                            "signPKCS1Digest", "signPKCS7DetachedDigest", "signCustomAP"};
    static const char* const falseNames[] = {"signInvisible", "docEncrypt", "docDecrypt", "exportContact", "signFDF"};
    bool known = false;
    for (const char* n : trueNames) {
      if (strcmp(name, n) == 0) answer = true, known = true;
    }
    for (const char* n : falseNames) {
      if (strcmp(name, n) == 0) answer = false, known = true;
    }
    if (!known) {
      if (strcmp(name, "isLoggedIn") == 0) {
        answer = engine->isLoggedIn();
      } else if (strcmp(name, "userInterface") == 0) {
        answer = engine->getUserInterface();
      }
    }
    trace()->logFormat("GetBoolProperty", "Acrobat requests property \"%s\"; return: %s.\n", name,
                       answer ? "true" : "false");
  } catch (...) {
    logLine("GetBoolProperty", "Error occured.");
  }
  return answer;
}

ASAtom GetAtomProperty(PubSecEngine /*engine*/, const char* name) {
  ASAtom answer = ASAtomNull;
  try {
    if (name == nullptr) {
      logLine("GetAtomProperty", "Property name is NULL; return: ASAtomNull.");
      return ASAtomNull;
    }
    if (strcmp(name, "DigSigHandlerName") == 0 || strcmp(name, "PubSecHandlerName") == 0) {
      answer = handlerAtom;
    } else if (strcmp(name, "SubFilter") == 0) {
      answer = ASAtomFromString("adbe.pkcs7.detached");
    }
    trace()->logFormat("GetAtomProperty", "Acrobat requests property \"%s\"; return: %s.\n", name,
                       answer == ASAtomNull ? "ASAtomNull" : ASAtomGetString(answer));
  } catch (...) {
    logLine("GetAtomProperty", "Error occured.");
  }
  return answer;
}

ASInt32 GetInt32Property(PubSecEngine engineHandle, const char* name, ASInt32 defaultValue) {
  ASInt32 answer = defaultValue;
  try {
    if (name == nullptr) {
      logLine("GetInt32Property", "PropertyName is NULL; return NULL.");
      return defaultValue;
    }
    DSEngine* engine = engineOf(engineHandle);
    if (strcmp(name, "version") == 0) {
      answer = 1;
    } else if (engine != nullptr && strcmp(name, "appearances") == 0) {
      answer = appearanceCount();
    }
    trace()->logFormat("GetInt32Property", "Acrobat requests property \"%s\"; return: %i.\n", name, answer);
  } catch (...) {
    logLine("GetInt32Property", "Error occured.");
  }
  return answer;
}

ASText GetTextProperty(PubSecEngine engineHandle, const char* name, ASInt32 index) {
  ASText answer = nullptr;
  try {
    if (name == nullptr) {
      logLine("GetTextProperty", "Property name is NULL.");
      return nullptr;
    }
    DSEngine* engine = engineOf(engineHandle);
    if (strcmp(name, "PubSecHandlerName") == 0 || strcmp(name, "DigSigHandlerName") == 0 ||
        strcmp(name, "uiName") == 0) {
      answer = ASTextFromEncoded(kHandlerName, 0);
    } else if (engine != nullptr && strcmp(name, "appearances") == 0) {
      PSOpenAppearanceList(0, 1);
      if (index >= 0 && index < PSGetNumAppearances()) answer = PSGetAppearanceName(index);
      PSCloseAppearanceList();
    } else if (engine != nullptr && strcmp(name, "exception") == 0) {
      // Always a new text: the viewer destroys what it gets, the engine keeps its own.
      ASText kept = engine->getErrorText();
      if (kept != nullptr && !ASTextIsEmpty(kept)) {
        answer = ASTextDup(kept);
      } else if (index == -1) {
        answer = ASTextFromEncoded("A parameter had an incorrect value. ", 0);
      }
    }
    if (answer != nullptr) {
      trace()->logFormat("GetTextProperty", "Acrobat requests property \"%s\"; return: \"%s\".\n", name,
                         logText(answer).c_str());
    } else {
      logLine("GetTextProperty", "Property name is NULL.");
    }
  } catch (...) {
    logLine("GetTextProperty", "Error occured.");
  }
  return answer;
}

ASInt32 SessionAcquire(PubSecEngine engineHandle, void* /*session*/, ASInt32 opType, void* /*a*/, void* /*b*/,
                       ASBool userInterface) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSParameterError;
  try {
    trace()->logFormat("SessionAcquire", "Starting session of type \"%s\".\n", opTypeName(opType).c_str());
    ASInt32 answer = kDSFalse;
    if (opType >= 0 && opType < kOpTypes) {
      switch (acquireAnswers[opType]) {
        case ONE:
          answer = kDSTrue;
          break;
        case ZERO:
          answer = kDSFalse;
          break;
        case LOGIN:
          engine->login(userInterface != 0);
          answer = kDSTrue;
          break;
      }
    }
    trace()->logFormat("SessionAcquire", "returns %i\n", answer);
    return answer;
  } catch (...) {
    return fail(engine, "SessionAquire", "Error occured.", kDefaultErrorText, kDSParameterError);
  }
}

ASInt32 SessionRelease(PubSecEngine engineHandle, ASInt32 opType) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSParameterError;
  try {
    trace()->logFormat("SessionRelease", "Ending session of type \"%s\".\n", opTypeName(opType).c_str());
    trace()->logFormat("SessionRelease", "returns %i\n", kDSTrue);
    return kDSTrue;
  } catch (...) {
    return fail(engine, "SessionRelease", "Error occured.", kDefaultErrorText, kDSParameterError);
  }
}

ASInt32 SessionReady(PubSecEngine engineHandle, ASInt32 opType) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSParameterError;
  try {
    trace()->logFormat("SessionReady", "Session ready of type \"%s\".\n", opTypeName(opType).c_str());
    ASInt32 answer = kDSFalse;
    if (opType >= 0 && opType < kOpTypes) {
      Answer a = readyAnswers[opType];
      answer = a == ONE ? kDSTrue : a == ZERO ? kDSFalse : (engine->isLoggedIn() ? kDSTrue : kDSFalse);
    }
    trace()->logFormat("SessionReady", "returns %i\n", answer);
    return answer;
  } catch (...) {
    return fail(engine, "SessionReady", "Error occured.", kDefaultErrorText, kDSParameterError);
  }
}

ASInt32 PerformOperation(PubSecEngine engineHandle, void* /*a*/, void* /*b*/, ASBool /*flag*/) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSException;
  return kDSFalse;  // the engine performs nothing
}

// Signing is refused with a failure the host understands: -2 and the refusal as the
// engine's error text, so that the host stops signing.
ASInt32 refuse(PubSecEngine engineHandle, const char* callback, const char* engineMethod) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSException;
  std::string error = std::string("Unbekannter Fehler in ") + callback + ".";
  try {
    error = engine->refuseSigning(engineMethod);
  } catch (const DSRaisedText& raised) {
    error = raised.text;
  } catch (...) {
  }
  logLine(callback, (std::string("Error occured in ") + callback + ".").c_str());
  engine->endProgressDialog();
  engine->setErrorText(error.c_str());
  return kDSException;
}

ASInt32 SigGetSigProperties(PubSecEngine engine, void* /*signingParams*/) {
  return refuse(engine, "SigGetSigProperties", "sigGetSigProperties");
}

ASInt32 SigGetSigValue(PubSecEngine engine, void* /*signingParams*/) {
  return refuse(engine, "SigGetSigValue", "sigGetSigValue");
}

ASInt32 SigAuthenticate(PubSecEngine engineHandle, void* /*a*/, void* /*b*/, ASBool userInterface) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr) return kDSParameterError;
  try {
    if (!userInterface) return kDSFalse;
    engine->login(true);
    return kDSTrue;
  } catch (...) {
    return fail(engine, "SigAuthenticate", "Error occured.", kDefaultErrorText, kDSParameterError);
  }
}

// The message of a host error code, as the host words it.
std::string hostErrorText(ASErrorCode code) {
  char buffer[256] = "";
  std::string text;
  DURING
    const char* message = ASGetErrorString(code, buffer, sizeof buffer);
    text = message != nullptr ? message : "";
  HANDLER
  END_HANDLER
  return text.empty() ? getErrorMessage(0x80000005, languageFlag) : text;
}

ASInt32 SigValidate(PubSecEngine engineHandle, PSSigValidateParamsRec* params) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr || params == nullptr) return kDSException;
  std::string error;
  bool failed = false;
  // One frame around the whole verification: a raise of the host anywhere in it ends
  // here, after the unwinding, like every other failure.
  DURING
    try {
      engine->sigValidate(params);
    } catch (const pisdk::HostRaise&) {
      throw;
    } catch (const DSRaisedText& raised) {
      logLine("SigValidate", "Error occured  in SigValidate.");
      logLine("SigValidate", raised.text.c_str());
      error = raised.text;
      failed = true;
    } catch (const VOQ_TimeException& e) {
      logLine("SigValidate", "VOQ_TimeException");
      logLine("SigValidate", e.getMessage() != nullptr ? e.getMessage() : "");
      logLine("SigValidate", "Error occured  in SigValidate.");
      error = getErrorMessage(0x80000005, languageFlag);
      failed = true;
    } catch (...) {
      logLine("SigValidate", "Error occured  in SigValidate.");
      error = getErrorMessage(0x80000005, languageFlag);
      failed = true;
    }
  HANDLER
    logLine("SigValidate", "Error occured  in SigValidate.");
    error = hostErrorText(ERRORCODE);
    failed = true;
  END_HANDLER
  if (!failed) return kDSTrue;
  engine->endProgressDialog();
  DSEngine::discardResult(params);
  // A raise while the text is kept must not reach the host: the failure stands without it.
  DURING
    engine->setErrorText(error.c_str());
  HANDLER
  END_HANDLER
  return kDSException;
}

ASText GetTextCallback(PubSecEngine /*engine*/, ASCab resultCab, ASInt32 kind) {
  try {
    return hostMajorVersion <= 6 ? GetText(resultCab, kind, -1) : GetTextV70(resultCab, kind);
  } catch (...) {
    logLine("GetText", "Error occured.");
    return nullptr;
  }
}

void GetAppearanceLogo(ASAtom key, const char** content, const ASFixedRect** box) {
  if (content != nullptr) *content = nullptr;
  if (box != nullptr) *box = nullptr;
  if (key != 0xFFFF) return;
  if (content != nullptr) *content = appearanceLogoStream();
  if (box != nullptr) *box = &appearanceLogoBox();
}

ASInt32 ExportData(PubSecEngine engineHandle, void* /*hostValue*/, void* data, ASBool /*flag*/) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr || data == nullptr) return kDSParameterError;
  return kDSTrue;  // nothing is exported
}

ASInt32 openCMSEnvelope(PubSecEngine engineHandle, void* first, void* /*second*/, void* third, void* fourth,
                        ASBool /*flag*/) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr || first == nullptr || third == nullptr || fourth == nullptr) return kDSParameterError;
  return kDSFalse;
}

ASInt32 getImplicitRecipients(PubSecEngine engineHandle, void* hostValue, ASBool /*flag*/) {
  DSEngine* engine = engineOf(engineHandle);
  if (engine == nullptr || hostValue == nullptr) return kDSParameterError;
  return kDSTrue;  // nothing is added
}

void buildRecord() {
  handlerRecord = PubSecHandlerRec{};
  handlerRecord.size = sizeof handlerRecord;
  handlerRecord.engine = reinterpret_cast<PubSecEngine>(registeredEngine);
  handlerRecord.newEngine = ASCallbackCreateProto(PSNewEngineProc, &NewEngine);
  handlerRecord.destroyEngine = ASCallbackCreateProto(PSDestroyEngineProc, &DestroyEngine);
  handlerRecord.getBoolProperty = ASCallbackCreateProto(PSGetBoolPropertyProc, &GetBoolProperty);
  handlerRecord.getAtomProperty = ASCallbackCreateProto(PSGetAtomPropertyProc, &GetAtomProperty);
  handlerRecord.getInt32Property = ASCallbackCreateProto(PSGetInt32PropertyProc, &GetInt32Property);
  handlerRecord.getTextProperty = ASCallbackCreateProto(PSGetTextPropertyProc, &GetTextProperty);
  handlerRecord.sessionAcquire = ASCallbackCreateProto(PSSessionAcquireProc, &SessionAcquire);
  handlerRecord.sessionRelease = ASCallbackCreateProto(PSSessionReleaseProc, &SessionRelease);
  handlerRecord.sessionReady = ASCallbackCreateProto(PSSessionReadyProc, &SessionReady);
  handlerRecord.performOperation = ASCallbackCreateProto(PSPerformOperationProc, &PerformOperation);
  handlerRecord.sigGetSigProperties = ASCallbackCreateProto(PSSigGetSigPropertiesProc, &SigGetSigProperties);
  handlerRecord.sigAuthenticate = ASCallbackCreateProto(PSSigAuthenticateProc, &SigAuthenticate);
  handlerRecord.sigGetSigValue = ASCallbackCreateProto(PSSigGetSigValueProc, &SigGetSigValue);
  handlerRecord.sigValidate = ASCallbackCreateProto(PSSigValidateProc, &SigValidate);
  handlerRecord.getText = ASCallbackCreateProto(PSGetTextProc, &GetTextCallback);
  handlerRecord.getAppearanceLogo = ASCallbackCreateProto(PSGetLogoProc, &GetAppearanceLogo);
  handlerRecord.exportData = ASCallbackCreateProto(PSExportDataProc, &ExportData);
  handlerRecord.openCMSEnvelope = ASCallbackCreateProto(PSOpenCMSEnvelopeProc, &openCMSEnvelope);
  handlerRecord.getImplicitRecipients = ASCallbackCreateProto(PSGetImplicitRecipientsProc, &getImplicitRecipients);
}

void destroyCallbacks() {
  ASCallback* fields[] = {&handlerRecord.newEngine,        &handlerRecord.destroyEngine,
                          &handlerRecord.getBoolProperty,  &handlerRecord.getAtomProperty,
                          &handlerRecord.getInt32Property, &handlerRecord.getTextProperty,
                          &handlerRecord.sessionAcquire,   &handlerRecord.sessionRelease,
                          &handlerRecord.sessionReady,     &handlerRecord.performOperation,
                          &handlerRecord.sigGetSigProperties, &handlerRecord.sigAuthenticate,
                          &handlerRecord.sigGetSigValue,   &handlerRecord.sigValidate,
                          &handlerRecord.getText,          &handlerRecord.getAppearanceLogo,
                          &handlerRecord.exportData,       &handlerRecord.openCMSEnvelope,
                          &handlerRecord.getImplicitRecipients};
  for (ASCallback* field : fields) {
    if (*field != nullptr) ASCallbackDestroy(*field);
    *field = nullptr;
  }
}

}  // namespace

bool Register() {
  logLine("Register", "Registering PubSec handler.");
  handlerAtom = ASAtomFromString(kHandlerName);
  subFilterAtom = ASAtomFromString("voq.x509.ecc_sha1");
  if (gPubSecHFT == nullptr || handlerRegistered) {
    logLine("Register", "Error during registering PubSec handler.");
    return false;
  }
  if (recordBuilt) {
    logLine("Register", "PubSec handler allready registerd.");
  } else {
    registeredEngine = new (std::nothrow) DSEngine(true);
    if (registeredEngine == nullptr) return false;
    buildRecord();
    recordBuilt = true;
  }
  if (!PSRegisterHandler(extensionId, &handlerRecord)) {
    // A refused record is no registered handler: torn down, and the caller told so.
    logLine("Register", "Cannot register PubSec Handler - unregistering it.");
    Unregister();
    return false;
  }
  handlerRegistered = true;
  logLine("Register", "End.");
  return true;
}

void Unregister() {
  logLine("Unregister", "Unregistering PubSSec handler.");
  if (recordBuilt) {
    if (handlerRegistered) PSUnregisterHandler(&handlerRecord);
    handlerRegistered = false;
    delete registeredEngine;
    registeredEngine = nullptr;
    destroyCallbacks();
    handlerRecord = PubSecHandlerRec{};
  } else {
    logLine("Unregister", "Unable to unregiste PubSSec handler - it was not initialized.");
  }
  recordBuilt = false;
  logLine("Unregister", "PubSec handler unregistered.");
}

PubSecHandlerRec* currentPubSecHandler() { return handlerRegistered ? &handlerRecord : nullptr; }
PubSecEngine currentPubSecEngine() {
  return handlerRegistered ? reinterpret_cast<PubSecEngine>(registeredEngine) : nullptr;
}

// --- The logo ------------------------------------------------------------------------------

namespace {

// A seal of 43 filled shapes in three CMYK colours inside 145 x 112: an outer ring of
// petals, a ring of 24 beads, a square core, made once.
std::string makeLogo() {
  std::string s;
  char line[160];
  auto add = [&](const char* text) {
    if (!s.empty()) s += '\n';
    s += text;
  };
  const double cx = 72.5, cy = 56.0;
  add("1.5 i");
  add("0 0.6 1 0 k");
  // 18 petals: cubic curves between the inner and outer radius.
  for (int i = 0; i < 18; ++i) {
    const double a0 = 2 * M_PI * i / 18, a1 = 2 * M_PI * (i + 1) / 18, am = (a0 + a1) / 2;
    const double r0 = 30, r1 = 55;
    snprintf(line, sizeof line, "%.2f %.2f m", cx + r0 * cos(a0), cy + r0 * sin(a0));
    add(line);
    snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f %.2f %.2f c", cx + r1 * cos(a0 + 0.05), cy + r1 * sin(a0 + 0.05),
             cx + r1 * cos(am), cy + r1 * sin(am), cx + r1 * cos(a1 - 0.05), cy + r1 * sin(a1 - 0.05));
    add(line);
    snprintf(line, sizeof line, "%.2f %.2f l", cx + r0 * cos(a1), cy + r0 * sin(a1));
    add(line);
    add("h");
    add("f");
  }
  add("1 0.5 0 0.2 k");
  for (int i = 0; i < 24; ++i) {
    const double a = 2 * M_PI * i / 24;
    const double bx = cx + 24 * cos(a), by = cy + 24 * sin(a), r = 2.5;
    snprintf(line, sizeof line, "%.2f %.2f m", bx + r, by);
    add(line);
    for (int q = 1; q <= 4; ++q) {
      const double p0 = M_PI / 2 * (q - 1), p1 = M_PI / 2 * q, k = 0.5523 * r;
      snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f %.2f %.2f c", bx + r * cos(p0) - k * sin(p0),
               by + r * sin(p0) + k * cos(p0), bx + r * cos(p1) + k * sin(p1), by + r * sin(p1) - k * cos(p1),
               bx + r * cos(p1), by + r * sin(p1));
      add(line);
    }
    add("h");
    add("f");
  }
  add("0 0 0 1 k");
  snprintf(line, sizeof line, "%.2f %.2f m", cx - 12, cy - 12);
  add(line);
  snprintf(line, sizeof line, "%.2f %.2f l", cx + 12, cy - 12);
  add(line);
  snprintf(line, sizeof line, "%.2f %.2f l", cx + 12, cy + 12);
  add(line);
  snprintf(line, sizeof line, "%.2f %.2f l", cx - 12, cy + 12);
  add(line);
  add("h");
  add("f");
  return s;
}

}  // namespace

const char* appearanceLogoStream() {
  static const std::string logo = makeLogo();
  return logo.c_str();
}

const ASFixedRect& appearanceLogoBox() {
  static const ASFixedRect box = {0, 112 * fixedOne, 145 * fixedOne, 0};
  return box;
}
