#include "CertsCommand.h"

#include <stdio.h>
#include <string.h>

#include <memory>

#include "DSHandler.h"
#include "PluginState.h"
#include "VOQ_ConfigurationHelper.h"
#include "certcheck/Download.h"
#include "certcheck/VOQ_ProgressDialog.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_String.h"

namespace {

// Trust anchors are fetched over TLS only, with the server's certificate verified.
const char kBundleUrl[] = "https://www.a-trust.at/certs/A-Trust-Stammzertifikate.p7b";
const char kFileUrl[] = "https://www.voq-oredaridez.at/fileadmin/downloads/CertStore.fdf";

std::string& bundleUrl() {
  static std::string url = kBundleUrl;
  return url;
}
std::string& fileUrl() {
  static std::string url = kFileUrl;
  return url;
}

void trace(const char* text) {
  pluginTrace("DSUserInterface")->log("VOQ_CardSignature_Certs", text, VOQ_TraceContext::INSIDE);
}

// An FDF file begins with its header; anything else (an error page served with 200, an
// empty or cut reply) is not handed to the viewer as trusted identities.
bool looksLikeFdf(const VOQ_String& path) {
  FILE* file = nullptr;
  if (fopen_s(&file, path.getData(), "rb") != 0 || file == nullptr) return false;
  char head[5] = {0};
  const size_t read = fread(head, 1, sizeof head, file);
  fclose(file);
  return read == sizeof head && memcmp(head, "%FDF-", sizeof head) == 0;
}

// Hands the downloaded FDF to the viewer's import; the host reads it during the call.
void importIdentities(const VOQ_String& path) {
  ASText text = nullptr;
  ASFileSys fileSys = nullptr;
  ASPathName pathName = nullptr;
  DURING
    text = ASTextFromEncoded(path.getData(), 0);
    fileSys = ASFileSysGetDefault();
    pathName = ASFileSysCreatePathName(fileSys, ASAtomFromString("ASTextPath"), text, nullptr);
    PSImportDataRec record{};
    record.size = sizeof record;
    record.handler = currentPubSecHandler();
    record.engine = currentPubSecEngine();
    record.dataKind = kPSImportDataFDF;
    record.fileSys = fileSys;
    record.path = pathName;
    PSImportData(&record);  // what the viewer makes of it is not reported
  HANDLER
    trace("FDF import raised");
  END_HANDLER
  if (pathName != nullptr) ASFileSysReleasePath(fileSys, pathName);
  if (text != nullptr) ASTextDestroy(text);
}

}  // namespace

const std::string& certificateBundleUrl() { return bundleUrl(); }
const std::string& certificateFileUrl() { return fileUrl(); }

void setCertificateDownloadUrls(const std::string& bundle, const std::string& file) {
  bundleUrl() = bundle.empty() ? kBundleUrl : bundle;
  fileUrl() = file.empty() ? kFileUrl : file;
}

void VOQ_CardSignature_Certs(void*) {
  const bool de = languageFlag == 1;
  trace("Get actual root certificates.");
  const char* title = de ? "Stammzertifikate werden heruntergeladen" : "Downloading root certificates";
  std::unique_ptr<VOQ_ProgressDialog> progress(new VOQ_ProgressDialog(hostMainWindow, title, 128, 1129, pluginInstance));
  progress->start(0);
  trace("ProgressDialog gestartet.");

  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  bool bundleFailed = false;
  {
    const VOQ_String url(bundleUrl().c_str());
    bool installed = false;
    if (settings->getUseProxies() == 1) {
      trace("Download certs through http or https proxy.");
      VOQ_ProxySettings http, https;
      settings->getHTTPProxySettings(http);
      settings->getHTTPSProxySettings(https);
      trace("Try downloading a-trust root certificates");
      installed = installRootCertificatesFromURL(&http, &https, url);
    } else {
      trace("Download root certs without proxy.");
      installed = installRootCertificatesFromURL(nullptr, nullptr, url);
    }
    if (!installed) {
      trace("Fehler beim Download der A-Trust Rootzeritifikate.");
      bundleFailed = true;
    }
  }

  VOQ_String fdfFile;
  bool fdfOk = false;
  {
    const VOQ_String url(fileUrl().c_str());
    if (settings->getUseProxies() == 1) {
      trace("Download fdf certs through http or https proxy.");
      VOQ_ProxySettings http, https;
      settings->getHTTPProxySettings(http);
      settings->getHTTPSProxySettings(https);
      trace("Try downloading fdf root certificates");
      fdfOk = downloadToTempFile(&http, &https, url, fdfFile);
    } else {
      trace("Download root fdf certs without proxy.");
      fdfOk = downloadToTempFile(nullptr, nullptr, url, fdfFile);
    }
    if (fdfOk && !looksLikeFdf(fdfFile)) fdfOk = false;
  }

  progress->stop(true);
  trace("ProgressDialog gestopt.");

  if (fdfOk) {
    trace("FDF download done");
    importIdentities(fdfFile);
  } else {
    trace("FDF download failed");
  }
  // The temporary file goes whatever became of the download.
  if (fdfFile.getLength() > 0) DeleteFileA(fdfFile.getData());
  progress.reset();

  if (bundleFailed || !fdfOk) {
    MessageBoxA(hostMainWindow,
                de ? "Die Rootzertifikate konnten nicht heruntergeladen werden.\nBitte überprüfen Sie Ihre "
                     "Internetverbindung."
                   : "The root certificates could not be downloaded.\nPlease check your connection to the internet.",
                de ? "Fehler" : "Error", MB_ICONERROR);
  }
}
