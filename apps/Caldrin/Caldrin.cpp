#include "Caldrin.h"

#include <commctrl.h>

#include <memory>
#include <vector>

#include "certcheck/CertificateImport.h"
#include "certcheck/VOQ_ProgressDialog.h"

CDownloadProgressDialog* g_downloadDialog = nullptr;

namespace {

#ifdef CALDRIN_TEST_HOST
const char kBundlePath[] = "/certs/A-Trust-Stammzertifikate.p7b";

// A build for the tests names their server on this machine; its port, which the test
// server chose, comes from the environment.
std::string testUrl() {
  char port[16] = "";
  const DWORD length = GetEnvironmentVariableA("CALDRIN_TEST_PORT", port, sizeof port);
  const std::string authority = length > 0 && length < sizeof port ? std::string(CALDRIN_TEST_HOST ":") + port
                                                                   : std::string(CALDRIN_TEST_HOST);
  return "https://" + authority + kBundlePath;
}
#endif

}  // namespace

const char* bundleUrl() {
#ifdef CALDRIN_TEST_HOST
  static const std::string url = testUrl();
  return url.c_str();
#else
  return "https://www.a-trust.at/certs/A-Trust-Stammzertifikate.p7b";
#endif
}

bool installRootCertificates(const char* statusText, HWND parent, HINSTANCE module, int templateId, int controlId) {
  // The temporary folder's name may be of any length; the file's name is what
  // GetTempFileNameA guarantees to fit.
  const DWORD needed = GetTempPathA(0, nullptr);
  if (needed == 0) return false;
  std::vector<char> folder(needed + 1);
  const DWORD length = GetTempPathA(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0 || length >= folder.size()) return false;
  char file[MAX_PATH];
  if (GetTempFileNameA(folder.data(), "voq", 0, file) == 0) return false;
  if (!downloadFile(bundleUrl(), file, statusText, parent, module, templateId, controlId)) {
    DeleteFileA(file);  // nothing of a failed download stays behind
    return false;
  }
  const bool imported = importCertificateBundle(file);
  DeleteFileA(file);
  return imported;
}

bool downloadFile(const char* url, const char* target, const char* statusText, HWND parent, HINSTANCE module,
                  int templateId, int controlId) {
  DeleteFileA(target);
  CDownloadStatusCallback callback;
  const bool withDialog = statusText != nullptr && *statusText != '\0';
  std::unique_ptr<CDownloadProgressDialog> dialog;
  if (withDialog) {
    dialog = std::make_unique<CDownloadProgressDialog>();
    dialog->create(parent, statusText, templateId, controlId, module);
    g_downloadDialog = dialog.get();
  }
  const HRESULT result = URLDownloadToFileA(nullptr, url, target, 0, &callback);
  if (g_downloadDialog != nullptr) {
    g_downloadDialog = nullptr;
    dialog.reset();  // destroys the window, if the callback's Release did not
  }
  return SUCCEEDED(result);
}

// --- CDownloadProgressDialog -------------------------------------------------------

CDownloadProgressDialog::~CDownloadProgressDialog() { destroy(); }

void CDownloadProgressDialog::create(HWND parentWindow, const char* text, int dialogTemplate, int control,
                                     HINSTANCE instance) {
  module = instance;
  parent = parentWindow;
  caption.assign(text != nullptr ? text : "");
  templateId = dialogTemplate;
  controlId = control;
  shown = 0;
  window = CreateDialogParamA(module, MAKEINTRESOURCEA(templateId), parent, VOQ_ProgressDialog::dlgProc, 0);
  if (window != nullptr) SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(caption.getData()));
}

void CDownloadProgressDialog::setRange(unsigned long minimum, unsigned long maximum, unsigned long stepWidth) {
  rangeMinimum = minimum;
  rangeMaximum = maximum;
  stepSize = stepWidth;
  // A total beyond the range message's 16 bits moves the bar once per `unit` steps.
  unit = maximum > 0xFFFF ? maximum / 0xFFFF + 1 : 1;
  pendingSteps = 0;
  SendDlgItemMessageA(window, controlId, PBM_SETRANGE, 0,
                      MAKELPARAM(static_cast<WORD>(minimum / unit), static_cast<WORD>(maximum / unit)));
  SendDlgItemMessageA(window, controlId, PBM_SETSTEP, static_cast<WPARAM>(stepSize), 0);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOWNORMAL);
    shown = 1;
  }
}

void CDownloadProgressDialog::step() {
  if (!shown) return;
  if (++pendingSteps < unit) return;
  pendingSteps = 0;
  SendDlgItemMessageA(window, controlId, PBM_STEPIT, 0, 0);
}

void CDownloadProgressDialog::destroy() {
  if (window == nullptr) return;
  shown = 0;
  DestroyWindow(window);
  window = nullptr;
}

// --- CDownloadStatusCallback ---------------------------------------------------------

CDownloadStatusCallback::CDownloadStatusCallback(unsigned long maximumBytes, std::chrono::milliseconds maximumTime)
    : maxBytes(maximumBytes), deadline(std::chrono::steady_clock::now() + maximumTime) {}

STDMETHODIMP CDownloadStatusCallback::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CDownloadStatusCallback::AddRef() {
  steps = 0;
  return 0;
}

STDMETHODIMP_(ULONG) CDownloadStatusCallback::Release() {
  if (g_downloadDialog != nullptr) g_downloadDialog->destroy();
  return 0;
}

STDMETHODIMP CDownloadStatusCallback::OnStartBinding(DWORD, IBinding*) { return S_OK; }
STDMETHODIMP CDownloadStatusCallback::GetPriority(LONG*) { return S_OK; }
STDMETHODIMP CDownloadStatusCallback::OnLowResource(DWORD) { return S_OK; }

STDMETHODIMP CDownloadStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  if (progress > maxBytes || progressMax > maxBytes || std::chrono::steady_clock::now() > deadline) return E_ABORT;
  if (g_downloadDialog == nullptr) return S_OK;
  switch (statusCode) {
    case BINDSTATUS_FINDINGRESOURCE:
      g_downloadDialog->setRange(0, progressMax, 1);
      return S_OK;
    case BINDSTATUS_BEGINDOWNLOADDATA:
      g_downloadDialog->setRange(0, progressMax, 1);
      break;
    case BINDSTATUS_DOWNLOADINGDATA:
    case BINDSTATUS_ENDDOWNLOADDATA:
      break;
    default:
      return S_OK;
  }
  for (; steps < progress; ++steps) g_downloadDialog->step();
  return S_OK;
}

STDMETHODIMP CDownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }
STDMETHODIMP CDownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
STDMETHODIMP CDownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }
STDMETHODIMP CDownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }
