// Caldrin: downloads the certification authority's bundle of root and intermediate
// certificates and puts them into the current user's "Root" and "CA" stores, with a
// progress dialog while it downloads.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <chrono>

#include "foundation/util/VOQ_String.h"

// The bundle's address on the certification authority's server: https only, so that
// the trust anchors arrive from a verified server.
const char* bundleUrl();

// Downloads the bundle into a temporary file and imports it; false when the download
// failed or nothing was accepted. An empty status text downloads without a dialog.
bool installRootCertificates(const char* statusText, HWND parent, HINSTANCE module, int templateId, int controlId);

// Downloads url into target (deleted first) with the progress dialog of the template
// when the status text is not empty; true when the download succeeded. The status
// callback goes with every download, dialog or not, and stops one that grows beyond
// its bounds.
bool downloadFile(const char* url, const char* target, const char* statusText, HWND parent, HINSTANCE module,
                  int templateId, int controlId);

// A modeless dialog with a progress bar, hidden until it gets its first range.
class CDownloadProgressDialog {
 public:
  CDownloadProgressDialog() = default;
  virtual ~CDownloadProgressDialog();
  CDownloadProgressDialog(const CDownloadProgressDialog&) = delete;
  CDownloadProgressDialog& operator=(const CDownloadProgressDialog&) = delete;

  void create(HWND parent, const char* caption, int templateId, int controlId, HINSTANCE module);
  // The bar counts from minimum to maximum in steps of `step`; the dialog shows.
  void setRange(unsigned long minimum, unsigned long maximum, unsigned long step);
  void step();
  void destroy();

  HWND getWindow() const { return window; }
  bool isShown() const { return shown != 0; }

 private:
  HINSTANCE module = nullptr;
  HWND window = nullptr;
  HWND parent = nullptr;
  VOQ_String caption;
  int templateId = 0;
  unsigned char shown = 0;
  unsigned long rangeMinimum = 0;
  unsigned long rangeMaximum = 0;
  unsigned long stepSize = 0;
  int controlId = 0;
  // The bar's range holds 16 bits: a larger total is shown in units of this many steps.
  unsigned long unit = 1;
  unsigned long pendingSteps = 0;
};

// The most a bundle download may bring, and how long it may take: a server that
// sends without end would otherwise fill the disk, one that drips would hold the
// installer for ever. A real bundle is a few dozen kilobytes.
const unsigned long kMaxDownloadBytes = 16ul << 20;
const std::chrono::milliseconds kMaxDownloadTime{30000};

// The download's status callback: it lives on the stack of downloadFile and is not
// reference-counted. It moves the current download dialog one step per byte, and
// stops the download (E_ABORT) once more than maxBytes arrived or are announced, or
// more than maxTime passed since it was made.
class CDownloadStatusCallback : public IBindStatusCallback {
 public:
  explicit CDownloadStatusCallback(unsigned long maxBytes = kMaxDownloadBytes,
                                   std::chrono::milliseconds maxTime = kMaxDownloadTime);
  virtual ~CDownloadStatusCallback() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override;

 private:
  unsigned long steps = 0;
  unsigned long maxBytes;
  std::chrono::steady_clock::time_point deadline;
};

// The dialog of the download that runs now, which the callback moves; set by downloadFile.
extern CDownloadProgressDialog* g_downloadDialog;
