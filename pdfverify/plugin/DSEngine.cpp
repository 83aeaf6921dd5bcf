#include "DSEngine.h"

#include <openssl/x509.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "HostHelpers.h"
#include "Messages.h"
#include "PluginState.h"
#include "PreferenceCheck.h"
#include "SettingsDialogs.h"
#include "SignatureFinder.h"
#include "VOQ_ConfigurationHelper.h"
#include "VOQ_DocumentValidator.h"
#include "ValidationResult.h"
#include "VerificationResultMap.h"
#include "VersionInfo.h"
#include "certcheck/ReaderUtils.h"
#include "certcheck/VOQ_Time.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_XML_Element.h"

namespace {

const uint32_t kDigestMismatch = 0x80050001;
const uint32_t kNewerSigner = 0x80000009;
const ASInt32 kChunk = 1024;

VOQ_TraceContext* trace() { return pluginTrace("DSEngine"); }
void logLine(const char* method, const char* text) { trace()->log(method, text, VOQ_TraceContext::INSIDE); }

[[noreturn]] void raiseText(const std::string& text) { throw DSRaisedText{text}; }

struct X509StackFree {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};

// The 32-bit value as the signed decimal the result document keeps.
void appendCode(const char* name, uint32_t value) { appendResult(name, static_cast<int32_t>(value)); }

const char* optionName(int option, char* buffer, size_t size) {
  switch (option) {
    case 0:
      return "signing";
    case 1:
      return "actual";
    case 2:
      return "custom";
    default:
      snprintf(buffer, size, "%d", option);
      return buffer;
  }
}

}  // namespace

void readSignedData(PSDataSource source, const std::function<void(const unsigned char*, size_t)>& take) {
  std::unique_ptr<ASUns8[]> buffer(new ASUns8[kChunk]);
  ASInt32 got = 0;
  while (PSDataSourceGetNextChunk(source, kChunk, buffer.get(), &got)) {
    if (got > 0) take(buffer.get(), static_cast<size_t>(got < kChunk ? got : kChunk));
    got = 0;
  }
}

DSEngine::DSEngine(bool userInterface) : userInterface(userInterface) { logLine("DSEngine", "Constructed."); }

DSEngine::~DSEngine() {
  endProgressDialog();
  // The host may raise while it releases the text; nothing may leave a destructor.
  if (errorText != nullptr) {
    ASText text = errorText;
    errorText = nullptr;
    DURING
      ASTextDestroy(text);
    HANDLER
      logLine("~DSEngine", "Error text not released.");
    END_HANDLER
  }
  logLine("~DSEngine", "Destroyed.");
}

void DSEngine::setErrorText(ASText text) {
  ASText copy = text != nullptr ? ASTextDup(text) : nullptr;
  if (errorText != nullptr) ASTextDestroy(errorText);
  errorText = copy;
}

void DSEngine::setErrorText(const char* text) {
  // The made text is kept as it is: no copy that a raise could leave behind.
  ASText made = ASTextFromEncoded(text != nullptr ? text : "", 0);
  ASText old = errorText;
  errorText = made;
  if (old != nullptr) ASTextDestroy(old);
}

void DSEngine::login(bool userInterfaceAllowed) {
  if (loginState == 0 && userInterfaceAllowed) loginState = 1;
  if (loginState == 0) raiseText("No user logged in to Dorvalin!");
}

std::string DSEngine::refuseSigning(const char* method) {
  logLine(method, "Invalid call.");
  const char* text = languageFlag == 1
                         ? "Mit Tolmira können keine Signaturen erstellt werden. Bitte stellen Sie zum unterschreiben "
                           "einen anderen Signaturhandler ein."
                         : "With Tolmira it is not possible to create signatures. Please adjust another handler for "
                           "digital signature creation.";
  HWND parent = WinAppGetModalParent(AVAppGetActiveDoc());
  MessageBoxA(parent, text, languageFlag == 1 ? "Fehler" : "Error", MB_ICONERROR);
  return text;
}

void DSEngine::startProgressDialog() {
  progressDialog = std::make_unique<VOQ_ProgressDialog>(
      hostMainWindow, languageFlag == 1 ? "Verifiziere Signatur ..." : "Verifying Signature ...", 128, 1129,
      pluginInstance);
  progressDialog->start(0);
}

void DSEngine::endProgressDialog() {
  if (progressDialog) {
    progressDialog->stop(true);
    progressDialog.reset();
  }
}

void DSEngine::discardResult(PSSigValidateParamsRec* params) {
  // The failure is being reported: a raise of the host here changes nothing of that, and
  // each entry goes on its own, "id" first.
  if (params->resultCab != nullptr) {
    for (const char* key : {"id", "trustFlags", "digest"}) {
      DURING
        ASCabRemove(params->resultCab, key);
      HANDLER
      END_HANDLER
    }
  }
  DURING
    forgetValidationResult(params->resultCab);
  HANDLER
  END_HANDLER
}

void DSEngine::sigValidate(PSSigValidateParamsRec* params) {
  const char* method = "sigValidate";
  logLine(method, "Start.");
  int32_t documentResult = 2;
  // Whatever happens below, the panel never shows an earlier verification's details.
  clearValidationResult();

  // Only the values the signing plug-in makes are checked; anything else is a failure the
  // viewer shows, not a success with nothing to show.
  const ASInt32 sigMethod = params->sigMethod;
  if (sigMethod != kPSSigMethodPKCS1 && sigMethod != kPSSigMethodPKCS7Detached &&
      sigMethod != kPSSigMethodPKCS7SHA1) {
    logLine(method, "wrong signature method.");
    raiseText(getUnsupportedSignatureText(languageFlag));
  }
  const ASInt32 length = params->sigValueSize;
  if (sigMethod == kPSSigMethodPKCS1 && length != 259 && length != 323 && length != 179) {
    logLine(method, "not a Dorvalin signature. validation canceled.");
    raiseText(getUnsupportedSignatureText(languageFlag));
  }
  if (params->sigValue == nullptr || length <= 0) raiseText(getErrorMessage(0x80000001, languageFlag));

  AVDoc avDoc = AVAppGetActiveDoc();
  if (avDoc == nullptr) {
    logLine(method, "no active document.");
    raiseText(getNoDocumentText(languageFlag));
  }
  PDDoc pdDoc = AVDocGetPDDoc(avDoc);
  HWND parent = WinAppGetModalParent(avDoc);
  if (sigMethod == kPSSigMethodPKCS7SHA1 && params->digest == nullptr) {
    logLine(method, "no digest from Adobe.");
    raiseText(getErrorMessage(0x80000001, languageFlag));
  }

  logLine(method, "Getting certificate");
  ASInt32 cabCertLength = 0;
  const void* cabCert = params->signerCert != nullptr ? ASCabGetBinary(params->signerCert, "0", &cabCertLength) : nullptr;
  VOQ_String certificate;
  if (cabCert != nullptr && cabCertLength > 0) certificate = VOQ_String(static_cast<unsigned>(cabCertLength), cabCert);
  logLine(method, "certificate read");

  startProgressDialog();

  // The signed data, in the host's chunks, each digested as it arrives; the value (and for
  // PKCS#1 the certificate) is read first so that the check knows which digest it needs.
  // The SHA-1 PKCS#7 is checked over the viewer's digest instead; its data are still read.
  const auto* value = reinterpret_cast<const unsigned char*>(params->sigValue);
  SignedDataCheck check = sigMethod == kPSSigMethodPKCS1
                              ? SignedDataCheck::pkcs1(value + 3, static_cast<unsigned>(length - 131),
                                                       reinterpret_cast<const unsigned char*>(certificate.getData()),
                                                       certificate.getLength())
                              : SignedDataCheck::pkcs7(value, static_cast<unsigned>(length));
  const bool overData = sigMethod != kPSSigMethodPKCS7SHA1;
  readSignedData(params->dataSource, [&](const unsigned char* chunk, size_t size) {
    if (overData) check.update(chunk, size);
  });
  if (!overData) {
    pluginTrace("DSHandler")->log("SigValidate", "Take SHA1 digest from Adobe.", VOQ_TraceContext::INSIDE);
    check.update(params->digest, 20);
  }

  bool qualified = false;
  uint32_t signatureResult;
  // The certificate whose key verified the value is the one validated below.
  VOQ_String signer;
  if (sigMethod == kPSSigMethodPKCS1) {
    logLine(method, "start verifiying pkcs1.");
    signatureResult = check.finish(&qualified, nullptr);
    signer = certificate;
  } else {
    logLine(method, "start verifiying pkcs7.");
    signatureResult = check.finish(&qualified, &signer);
  }
  if (signatureResult != 0) {
    logLine(method, "PDF - signature verification failed!");
    if (signatureResult != kDigestMismatch) raiseText(getErrorMessage(signatureResult, languageFlag));
  } else {
    logLine(method, "PDF - signature verification OK.");
  }

  if (!findSignature(pdDoc, value, static_cast<unsigned>(length))) {
    logLine(method, "ERROR: Signaturfeld nicht gefunden!");
    raiseText(getNoSignatureFieldText(languageFlag));
  }
  VOQ_Time signingTime;
  const bool signingTimeFound = readSigningTime(signingTime);

  logLine(method, "validating document...");
  // A raise of the host inside the document check (a damaged font dictionary, ...) is a
  // failed check, result 3, like any other failure there.
  DURING
    try {
      documentResult = VOQ_DocumentValidator::validate(pdDoc, false);
    } catch (const pisdk::HostRaise&) {
      throw;
    } catch (...) {
      logLine(method, "Unknown Exception occured during validate.");
      documentResult = 3;
    }
  HANDLER
    logLine(method, "Unknown Exception occured during validate.");
    documentResult = 3;
  END_HANDLER

  VOQ_XML_Document metadata;
  VOQ_String metadataText;
  const bool metadataFound = readSignerMetadata(metadata, metadataText);

  validationResult.parse(createValidationResult());

  VOQ_Time validationTime;
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  const int option = settings->getCertValidationOption();
  int optionUsed = option;
  if (option == 0) {
    if (signingTimeFound) {
      validationTime = signingTime;
      optionUsed = 0;
    } else {
      validationTime = signingTime;
      optionUsed = getValidationTime(validationTime, false);
    }
  } else if (option == 2) {
    validationTime = signingTime;
    optionUsed = getValidationTime(validationTime, signingTimeFound);
  }
  char date[128] = "";
  validationTime.format(date, sizeof date, VOQ_Time::FORMAT_PDF);
  appendResult("Date", date);

  uint32_t certificateResult;
  VOQ_ProxySettings httpProxy, httpsProxy;
  const bool proxies = settings->isUseProxies();
  if (proxies) {
    settings->getHTTPProxySettings(httpProxy);
    settings->getHTTPSProxySettings(httpsProxy);
  }
  const auto* signerBytes = reinterpret_cast<const unsigned char*>(signer.getData());
  if (signer.getLength() == 0) {
    // No certificate verified the value: none is validated in its place.
    certificateResult = 0x80000001;
  } else if (hostMajorVersion < 10) {
    logLine(method, "adobe < 10 validate");
    logLine(method, proxies ? "Use Configured Proxy" : "No Proxy configured");
    certificateResult = validateCertificate(signerBytes, signer.getLength(), &qualified, &validationTime,
                                            proxies ? &httpProxy : nullptr, proxies ? &httpsProxy : nullptr);
  } else {
    logLine(method, "adobe >= 10 validate");
    logLine(method, "before AABGetTrustedCerts");
    std::unique_ptr<STACK_OF(X509), X509StackFree> trusted(sk_X509_new_null());
    ASCab cab = ASCabNew();
    try {
      AABGetTrustedCerts(0xFFFF, cab);
      cabToX509Stack(cab, trusted.get());
    } catch (...) {
      ASCabDestroy(cab);
      throw;
    }
    ASCabDestroy(cab);
    logLine(method, "after AABGetTrustedCerts");
    if (proxies) logLine(method, "Use Configured Proxy");
    certificateResult =
        validateCertificateWithTrustedCerts(trusted.get(), signerBytes, signer.getLength(), &qualified, &validationTime,
                                            proxies ? &httpProxy : nullptr, proxies ? &httpsProxy : nullptr);
  }
  char number[16];
  trace()->logFormat(method, "Certificate will be tested for the %s time: %s\n",
                     optionName(optionUsed, number, sizeof number), date);
  trace()->logFormat(method, "Certificatevalidation: result = 0x%x, the signature is a %s.\n", certificateResult,
                     qualified ? "\"sichere Signatur\"" : "\"einfache Signature\"");

  appendCode("CertValidation", certificateResult);
  appendResult("CertValidationOption", optionUsed);
  appendCode("SigValidation", signatureResult);
  appendResult("DocValResult", documentResult);

  const VOQ_XML_Element* version =
      metadataFound && metadata.getRoot() != nullptr ? metadata.getRoot()->getChild("Version", 0) : nullptr;
  const VOQ_String& own = getVersionString();
  ASCab result = params->resultCab;
  const bool newer = version != nullptr && isNewerSigner(version->getValue().getData(), version->getValue().getLength(),
                                                         own.getData(), own.getLength());
  if (newer) {
    logLine(method,
            "Cannot correctly verify Signature due to the version of the creating plugin is higher as this version of "
            "the Plugin.");
    signatureResult = kNewerSigner;
    if (VOQ_XML_Element* sig = validationResult.getRoot()->getChild("SigValidation", 0)) {
      snprintf(number, sizeof number, "%d", static_cast<int32_t>(kNewerSigner));
      sig->getValue() = VOQ_String(number);
    }
  }
  // The panel of this signature reads this verification's document, whatever follows.
  // "id", which makes the outcome readable, is the cabinet's last entry: a raise on the
  // way leaves none, and the failure clears what was written.
  keepValidationResult(result);
  if (newer) {
    ASCabPutInt(result, "digest", 7);
    if (certificateResult == 0) ASCabPutInt(result, "trustFlags", 0xFFFF);
    ASCabPutInt(result, "id", 1);
  } else {
    const VerificationMapping mapped = mapVerificationResult(signatureResult, certificateResult);
    ASCabPutInt(result, "digest", 7);
    ASCabPutInt(result, "trustFlags", mapped.trustFlags);
    ASCabPutInt(result, "id", mapped.id);
    for (const char* line : mapped.logLines) logLine(method, line);
  }

  endProgressDialog();

  if (!isAcrobatConfigurationOK(hostMajorVersion)) {
    std::string text =
        languageFlag == 1
            ? "Die aktuellen Einstellungen des Adobe-Viewers sind nicht geeignet, ein Dokument eindeutig darzustellen.\n"
              "Bitte setzten Sie die aufgelisteten Einstellungen auf die angegeben Werte\nund beachten Sie, dass sich die "
              "Darstellung des angezeigten Dokument dadurch ändern kann.\nFolgende Einstellungen sind zu überprüfen:\n\n"
            : "The actual preferences of the Acrobat- viewer are not convenient to render a document unambigously.\n"
              "Please check the following preferences.\nPlease note that the presentation of the document can change.\n";
    text.append(prefWarningText.getData() != nullptr ? prefWarningText.getData() : "", prefWarningText.getLength());
    MessageBoxA(parent, text.c_str(), languageFlag == 1 ? "Warnung" : "Warning", MB_ICONWARNING);
  }
  logLine(method, "End.");
}
