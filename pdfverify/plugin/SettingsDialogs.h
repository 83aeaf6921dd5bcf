// The dialogs that change Tolmira's settings: preferences (which moment the signer's
// certificate is validated for), proxies, and the validation-time dialog the engine
// opens when the user is to name that moment. All run modally over the viewer's window
// for the active document, in the plug-in's language.
#pragma once

#include <windows.h>

#include "certcheck/VOQ_Time.h"

// The preferences dialog (template 107): OK commits and saves the option.
void showPropDialog();
// The proxy dialog (template 125): OK commits and saves the proxy settings.
void showProxyDialog();

// The validation-time dialog (template 110). `time` is the signing time when
// `signingTimeFound`; on return it holds the moment chosen: 0 the signing time, 1 the
// current time, 2 the one the user entered. The dialog cannot be cancelled. A time
// without a day raises VOQ_TimeException before any dialog is shown.
int getValidationTime(VOQ_Time& time, bool signingTimeFound);

INT_PTR CALLBACK propDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK proxyDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK validationTimeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The signing product's choice of key pair (template 121), shown by nothing here:
// 1 the signature key, 2 the secrecy key.
INT_PTR CALLBACK keyPairDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The years the validation-time dialog offers: from 1990 (or an earlier signing year) to
// one after the later of the current and the signing year, never beyond 9999.
void validationYearRange(int currentYear, int signingYear, bool signingTimeFound, int& first, int& last);
// Days of a month: 29 in February of a leap year of the Gregorian calendar.
int daysInMonth(int year, int month);

// Dialog classes of the signing product; nothing here constructs them.
class DSPropDialog {
 public:
  DSPropDialog();
  ~DSPropDialog();
};
class DSProxyDialog {
 public:
  DSProxyDialog();
  ~DSProxyDialog();
};
