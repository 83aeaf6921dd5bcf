#include "certcheck/VOQ_ProgressDialog.h"

#include <commctrl.h>

namespace {

std::atomic<VOQ_ProgressDialog*> g_current{nullptr};

// Destroys the dialog when the worker leaves `run`, by return or by a stop.
class DialogHolder {
 public:
  DialogHolder(HWND window, std::atomic<HWND>& published) : window(window), published(published) {
    published.store(window);
  }
  ~DialogHolder() {
    published.store(nullptr);
    if (window != nullptr) DestroyWindow(window);
  }
  DialogHolder(const DialogHolder&) = delete;
  DialogHolder& operator=(const DialogHolder&) = delete;

 private:
  HWND window;
  std::atomic<HWND>& published;
};

}  // namespace

VOQ_ProgressDialog::VOQ_ProgressDialog(HWND owner, const char* title, int templateId, int progressControlId,
                                       HINSTANCE module)
    : owner(owner), title(title), templateId(templateId), progressControlId(progressControlId), module(module) {}

VOQ_ProgressDialog::~VOQ_ProgressDialog() {
  // The thread runs this object's `run`: it must end before the members go.
  stop(true);
  running = false;
  VOQ_ProgressDialog* self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

DWORD VOQ_ProgressDialog::run(DWORD) {
  running = true;
  HWND window = CreateDialogParamA(module, MAKEINTRESOURCEA(templateId), nullptr, dlgProc, 0);
  DialogHolder holder(window, dialog);
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));
  HWND bar = GetDlgItem(window, progressControlId);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  ShowWindow(window, SW_SHOWNORMAL);
  for (;;) {
    SendMessageA(bar, PBM_STEPIT, 0, 0);
    // Keeps the dialog answering (painting, messages sent to it) while it shows.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (window == nullptr || !IsDialogMessageA(window, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    Sleep(10);  // where the owner's stop ends the thread
  }
}

INT_PTR CALLBACK VOQ_ProgressDialog::dlgProc(HWND, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return g_current.load() != nullptr ? TRUE : FALSE;
    case WM_DESTROY:
    case WM_ENTERIDLE:
      return TRUE;
    default:
      return FALSE;
  }
}

void VOQ_ProgressDialog::setCurrent(int first, int second, int third) {
  values[0] = first;
  values[1] = second;
  values[2] = third;
  g_current = this;
}
