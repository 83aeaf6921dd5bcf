// The reader selection dialog: lists the readers that a scan found, shows the
// configured one and hands the reader the user ticked, applied and confirmed to
// the scan object.
#pragma once

#include <windows.h>

class CwxReaderScan;

namespace readerdialog {
// Resources of the application module.
constexpr int kDialog = 201;
constexpr int kIcon = 115;
constexpr int kColumnReaders = 4;  // "Gefundene Kartenleser"
constexpr int kColumnType = 5;     // "Typ"
constexpr int kColumnPort = 6;     // "Port"
// Controls.
constexpr int kList = 2000;
constexpr int kCurrentReader = 3015;
constexpr int kApply = 2013;
constexpr int kCaption = 1066;
constexpr int kPrompt = 1067;
}  // namespace readerdialog

// Runs the modal dialog over the scan's rows on the calling thread: 1 OK, 2
// cancelled or closed (also when another reader selection is open in the process),
// 0 or -1 when the dialog could not be made.
int runReaderDialog(CwxReaderScan* scan);

INT_PTR CALLBACK readerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// One reader selection at a time in the process: the tray command on the window
// thread and ReaderFactory.getReader on a Java thread may both ask for one, and
// the dialog's state is one set per process. A second opener gets "cancelled".
class ReaderSelectionClaim {
 public:
  ReaderSelectionClaim();
  ~ReaderSelectionClaim();
  ReaderSelectionClaim(const ReaderSelectionClaim&) = delete;
  ReaderSelectionClaim& operator=(const ReaderSelectionClaim&) = delete;
  bool held() const { return m_held; }

 private:
  bool m_held = false;
};

// The dialog, for a caller that holds the claim.
int runReaderDialogClaimed(CwxReaderScan* scan);
