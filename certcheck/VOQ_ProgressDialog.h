// A small modeless dialog with a title and a progress bar that keeps moving while the
// plug-in works on the viewer's thread. The bar shows activity, not measured progress.
//
// The worker thread creates the dialog, owns it and destroys it when it ends, also when
// the owner stops it: the owner's `stop(true)` (or deleting the object) ends the thread
// at its next Sleep, and the unwinding destroys the window on the thread that made it.
#pragma once

#include <windows.h>

#include <atomic>

#include "certcheck/VOQ_Thread.h"

// Final: the base's destructor is not virtual, so nothing may be deleted as a kind of
// this class through it.
class VOQ_ProgressDialog final : public VOQ_Thread {
 public:
  // The title is not copied: it must outlive the dialog. The owner is only kept; the
  // dialog has no parent window.
  VOQ_ProgressDialog(HWND owner, const char* title, int templateId, int progressControlId, HINSTANCE module);
  // Ends the worker thread, which destroys the dialog.
  ~VOQ_ProgressDialog();

  // Creates and shows the dialog, then steps the bar every 10 ms until stopped.
  DWORD run(DWORD argument) override;
  void onStart() override {}
  void onStop() override {}

  static INT_PTR CALLBACK dlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  // Registers the object as the process's current progress dialog with three values;
  // the dialog procedure then answers WM_INITDIALOG with TRUE.
  void setCurrent(int first, int second, int third);

  int getValue(int index) const { return index >= 0 && index < 3 ? values[index] : 0; }
  HWND getOwner() const { return owner; }
  // The dialog while the worker shows it, else NULL.
  HWND getDialog() const { return dialog.load(); }
  bool isRunning() const { return running.load(); }

 private:
  HWND owner;
  const char* title;
  int templateId;
  int progressControlId;
  HINSTANCE module;
  std::atomic<HWND> dialog{nullptr};
  std::atomic<bool> running{false};
  int values[3] = {0, 0, 0};
};
