#include "SettingsDialogs.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "Messages.h"
#include "PluginState.h"
#include "VOQ_ConfigurationHelper.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

constexpr int kPropDialog = 107;
constexpr int kValidationTimeDialog = 110;
constexpr int kProxyDialog = 125;

// What a text field of the dialogs holds at most, with its terminating zero.
constexpr int kFieldSize = 256;

VOQ_TraceContext* docSignInit() { return pluginTrace("DocSignInit"); }

HWND modalParent() { return WinAppGetModalParent(AVAppGetActiveDoc()); }

void setText(HWND dialog, int control, int textId) {
  const char* text = getDialogText(textId, languageFlag);
  if (text != nullptr) SetDlgItemTextA(dialog, control, text);
}

// --- preferences ------------------------------------------------------------------------

constexpr int kCertOption0 = 1264, kCertOption1 = 1265, kCertOption2 = 1266;
constexpr int kPropOk = 1267, kPropCancel = 1261;

void initPropDialog(HWND dialog) {
  const char* title = getDialogText(106, languageFlag);
  if (title != nullptr) SetWindowTextA(dialog, title);
  setText(dialog, 1263, 1120);
  setText(dialog, kCertOption0, 1116);
  setText(dialog, kCertOption1, 1117);
  setText(dialog, kCertOption2, 1118);
  setText(dialog, kPropOk, 1000);
  setText(dialog, kPropCancel, 1001);
  VOQ_ConfigurationHelper::getInstance()->setCheckBoxStates(dialog);
}

void commitPropDialog(HWND dialog) {
  const char* checked = IsDlgButtonChecked(dialog, kCertOption0)   ? "IDC_CERT_VALIDATION_2_01"
                        : IsDlgButtonChecked(dialog, kCertOption1) ? "IDC_CERT_VALIDATION_2_02"
                        : IsDlgButtonChecked(dialog, kCertOption2) ? "IDC_CERT_VALIDATION_2_03"
                                                                   : nullptr;
  if (checked != nullptr) docSignInit()->log("showAboutDialog", checked, VOQ_TraceContext::INSIDE);
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  settings->commit();
  settings->saveConfiguration();
}

// --- proxies --------------------------------------------------------------------------

constexpr int kUseProxies = 1203, kHttpAuth = 1204, kHttpsAuth = 1206;
constexpr int kHttpHost = 1006, kHttpPort = 1004, kHttpUser = 1205, kHttpPassword = 1071;
constexpr int kHttpsHost = 1003, kHttpsPort = 1005, kHttpsUser = 1207, kHttpsPassword = 1072;
constexpr int kProxyDefault = 1216, kProxyReset = 1217, kProxyOk = 1218, kProxyCancel = 1219;

int checkState(HWND dialog, int control) { return IsDlgButtonChecked(dialog, control) == BST_CHECKED ? 1 : 0; }

std::string fieldText(HWND dialog, int control) {
  char buffer[kFieldSize] = {0};
  GetDlgItemTextA(dialog, control, buffer, sizeof buffer);
  return buffer;
}

// A port as typed: an unsigned decimal number of 1 to 65535. Anything else (nothing, a
// text that is not a number, 0, a number beyond the port range) gives 80, the default,
// so that no connection is ever attempted to a port that cannot exist.
unsigned fieldPort(HWND dialog, int control) {
  const std::string text = fieldText(dialog, control);
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 80;
  const unsigned long port = strtoul(text.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<unsigned>(port) : 80;
}

void initProxyDialog(HWND dialog) {
  const char* title = getDialogText(125, languageFlag);
  if (title != nullptr) SetWindowTextA(dialog, title);
  for (int control : {1203, 1204, 1206, 1208, 1209, 1210, 1211, 1212, 1213, 1214, 1215, 1216, 1217, 1218, 1219}) {
    setText(dialog, control, control);
  }
  SendDlgItemMessageA(dialog, kHttpPassword, EM_SETPASSWORDCHAR, '*', 0);
  SendDlgItemMessageA(dialog, kHttpsPassword, EM_SETPASSWORDCHAR, '*', 0);
  VOQ_ConfigurationHelper::getInstance()->setProxySettings(dialog);
}

void proxyDefaults() {
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  docSignInit()->log("buttonHandlerProxy", "Proxy configuration DEFAULT.", VOQ_TraceContext::INSIDE);
  settings->setUseProxiesState(0);
  settings->setHttpAuthenticationState(0);
  settings->setHttpsAuthenticationState(0);
  settings->setHttpProxyHost("localhost");
  settings->setHttpsProxyHost("localhost");
  settings->setHttpProxyPort(true);
  settings->setHttpsProxyPort(true);
  settings->setHttpProxyUser("");
  settings->setHttpsProxyUser("");
  settings->setHttpProxyPassword("");
  settings->setHttpsProxyPassword("");
  docSignInit()->log("buttonHandlerProxy", "Proxy configuration DEFAULT done.", VOQ_TraceContext::INSIDE);
}

void proxyReset() {
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  docSignInit()->log("buttonHandlerProxy", "Proxy configuration RESET.", VOQ_TraceContext::INSIDE);
  settings->resetProxyStates();
  settings->setCheckBoxStates_Proxy();
  settings->setProxySettings();
  docSignInit()->log("buttonHandlerProxy", "Proxy configuration RESET done.", VOQ_TraceContext::INSIDE);
}

void proxyOk(HWND dialog) {
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  settings->setEditedUseProxies(checkState(dialog, kUseProxies));
  const std::string httpHost = fieldText(dialog, kHttpHost), httpUser = fieldText(dialog, kHttpUser),
                    httpPassword = fieldText(dialog, kHttpPassword);
  const std::string httpsHost = fieldText(dialog, kHttpsHost), httpsUser = fieldText(dialog, kHttpsUser),
                    httpsPassword = fieldText(dialog, kHttpsPassword);
  settings->setEditedHttpProxy(httpHost.c_str(), fieldPort(dialog, kHttpPort), checkState(dialog, kHttpAuth),
                               httpUser.c_str(), httpPassword.c_str());
  settings->setEditedHttpsProxy(httpsHost.c_str(), fieldPort(dialog, kHttpsPort), checkState(dialog, kHttpsAuth),
                                httpsUser.c_str(), httpsPassword.c_str());
  docSignInit()->log("buttonHandlerProxy", "Proxy configuration OK.", VOQ_TraceContext::INSIDE);
  // No field is required: an empty host is accepted.
  docSignInit()->log("buttonHandlerProxy", "required fields OK.", VOQ_TraceContext::INSIDE);
  settings->commitProxyConfiguration();
  settings->saveProxyConfiguration();
}

// --- validation time ----------------------------------------------------------------

constexpr int kSigningTimeOption = 1122, kCurrentTimeOption = 1121, kUserTimeOption = 1123;
constexpr int kDay = 1128, kMonth = 1126, kYear = 1124, kHour = 1125, kMinute = 1127;
constexpr int kFirstYear = 1990;

// One run of the validation-time dialog.
struct ValidationTimeRun {
  VOQ_Time* time = nullptr;  // the caller's: set from the boxes
  VOQ_Time signingTime;      // a copy of the time given
  VOQ_Time currentTime;      // the moment the dialog opened
  bool signingTimeFound = false;
  int result = 0;
  int firstYear = kFirstYear;
};

ValidationTimeRun* currentRun = nullptr;

void addNumbers(HWND dialog, int control, int from, int to, const char* format) {
  SendDlgItemMessageA(dialog, control, CB_RESETCONTENT, 0, 0);
  char text[16];
  for (int value = from; value <= to; ++value) {
    snprintf(text, sizeof text, format, value);
    SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
}

int selection(HWND dialog, int control) {
  return static_cast<int>(SendDlgItemMessageA(dialog, control, CB_GETCURSEL, 0, 0));
}

// The day box for the month and year now selected; keeps the day index while it exists,
// else selects the month's last day.
void refillDays(HWND dialog, const ValidationTimeRun& run, int dayIndex) {
  const int month = selection(dialog, kMonth);
  const int year = selection(dialog, kYear);
  const int days = month == CB_ERR || year == CB_ERR ? 31 : daysInMonth(run.firstYear + year, month + 1);
  addNumbers(dialog, kDay, 1, days, "%02d");
  if (dayIndex < 0) dayIndex = 0;
  SendDlgItemMessageA(dialog, kDay, CB_SETCURSEL, std::min(dayIndex, days - 1), 0);
}

void showTime(HWND dialog, const ValidationTimeRun& run, const VOQ_Time& time) {
  SendDlgItemMessageA(dialog, kYear, CB_SETCURSEL, time.getYear() - run.firstYear, 0);
  SendDlgItemMessageA(dialog, kMonth, CB_SETCURSEL, time.getMonth() - 1, 0);
  refillDays(dialog, run, time.getDay() - 1);
  SendDlgItemMessageA(dialog, kHour, CB_SETCURSEL, time.getHour(), 0);
  SendDlgItemMessageA(dialog, kMinute, CB_SETCURSEL, time.getMinute(), 0);
}

// The caller's time from the boxes, with the current time-zone bias; the seconds stay.
// A box without a selection leaves its field as it was: no field is computed from CB_ERR.
void timeFromBoxes(HWND dialog, ValidationTimeRun& run) {
  VOQ_Time& time = *run.time;
  const int year = selection(dialog, kYear), month = selection(dialog, kMonth), day = selection(dialog, kDay),
            hour = selection(dialog, kHour), minute = selection(dialog, kMinute);
  if (year != CB_ERR) time.setYear(run.firstYear + year);
  if (month != CB_ERR) time.setMonth(month + 1);
  if (day != CB_ERR) time.setDay(day + 1);
  if (hour != CB_ERR) time.setHour(hour);
  if (minute != CB_ERR) time.setMinute(minute);
  const VOQ_Time now;
  time.setBiasOperator(now.getBiasOperator());
  time.setBiasHour(now.getBiasHour());
  time.setBiasMinute(now.getBiasMinute());
}

void enableBoxes(HWND dialog, bool enable) {
  for (int control : {kDay, kMonth, kYear, kHour, kMinute}) EnableWindow(GetDlgItem(dialog, control), enable);
}

void chooseOption(HWND dialog, ValidationTimeRun& run, int option) {
  CheckRadioButton(dialog, kCurrentTimeOption, kUserTimeOption, option);
  switch (option) {
    case kCurrentTimeOption:
      enableBoxes(dialog, false);
      showTime(dialog, run, run.currentTime);
      run.result = 1;
      break;
    case kSigningTimeOption:
      enableBoxes(dialog, false);
      if (run.signingTimeFound) showTime(dialog, run, run.signingTime);
      run.result = 0;
      break;
    default:
      enableBoxes(dialog, true);
      showTime(dialog, run, *run.time);
      run.result = 2;
      break;
  }
}

void formatTime(char* buffer, size_t size, const char* pattern, const VOQ_Time& t) {
  snprintf(buffer, size, pattern, t.getDay(), t.getMonth(), t.getYear(), t.getHour(), t.getMinute(),
           t.getBiasOperator(), t.getBiasHour(), t.getBiasMinute());
}

void initValidationTimeDialog(HWND dialog, ValidationTimeRun& run) {
  const bool de = languageFlag == 1;
  SetWindowTextA(dialog, de ? "Zeitpunkt der Gültigkeit der Signatur:" : "Time for validating the signature:");
  SetDlgItemTextA(dialog, 1068,
                  de ? "Geben Sie bitte den Zeitpunkt an, für den die Gültigkeit der Signatur geprüft werden soll:"
                     : "Please input the time for which the validity of the signature should be validated:");
  SetDlgItemTextA(dialog, kUserTimeOption, de ? "Benutzerdefiniert (Systemzeit):" : "User defined (system time):");
  char text[128];
  formatTime(text, sizeof text,
             de ? "Aktuelles Datum (%02d-%02d-%04d %02d:%02d %c %02d'%02d')"
                : "Actual date (%02d-%02d-%04d %02d:%02d %c %02d'%02d')",
             run.currentTime);
  SetDlgItemTextA(dialog, kCurrentTimeOption, text);
  if (run.signingTimeFound) {
    formatTime(text, sizeof text,
               de ? "Datum der Signaturerstellung (%02d-%02d-%04d %02d:%02d%c%02d'%02d')"
                  : "Date of signature creation (%02d-%02d-%04d %02d:%02d%c%02d'%02d')",
               run.signingTime);
    SetDlgItemTextA(dialog, kSigningTimeOption, text);
  } else {
    SetDlgItemTextA(dialog, kSigningTimeOption,
                    de ? "Signaturerstellungsdatum nicht gefunden!" : "Date of signature creation not found!");
    EnableWindow(GetDlgItem(dialog, kSigningTimeOption), FALSE);
  }

  int lastYear = 0;
  validationYearRange(run.currentTime.getYear(), run.signingTime.getYear(), run.signingTimeFound, run.firstYear,
                      lastYear);
  addNumbers(dialog, kMonth, 1, 12, "%02d");
  addNumbers(dialog, kYear, run.firstYear, lastYear, "%04d");
  addNumbers(dialog, kHour, 0, 23, "%02d");
  addNumbers(dialog, kMinute, 0, 59, "%02d");
  showTime(dialog, run, run.signingTimeFound ? run.signingTime : run.currentTime);
  timeFromBoxes(dialog, run);
  CheckRadioButton(dialog, kCurrentTimeOption, kUserTimeOption,
                   run.signingTimeFound ? kSigningTimeOption : kCurrentTimeOption);
  enableBoxes(dialog, false);
}

}  // namespace

// --- the settings object's dialog operations -------------------------------------------

void showPropDialog() {
  docSignInit()->log("showPropDialog", "Start.", VOQ_TraceContext::ENTER);
  DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kPropDialog), modalParent(), propDlgProc, 0);
  docSignInit()->log("showPropDialog", "End.", VOQ_TraceContext::LEAVE);
}

void showProxyDialog() {
  docSignInit()->log("showProxyDialog", "Start.", VOQ_TraceContext::ENTER);
  DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kProxyDialog), modalParent(), proxyDlgProc, 0);
  docSignInit()->log("showProxyDialog", "End.", VOQ_TraceContext::LEAVE);
}

INT_PTR CALLBACK propDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_INITDIALOG) {
    initPropDialog(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case kCertOption0:
    case kCertOption1:
    case kCertOption2:
      VOQ_ConfigurationHelper::getInstance()->setCertOption(LOWORD(wParam) - kCertOption0);
      return TRUE;
    case kPropOk:
      commitPropDialog(dialog);
      EndDialog(dialog, IDOK);
      return TRUE;
    case kPropCancel:
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK proxyDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_INITDIALOG) {
    initProxyDialog(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  VOQ_ConfigurationHelper* settings = VOQ_ConfigurationHelper::getInstance();
  switch (LOWORD(wParam)) {
    case kUseProxies:
      settings->setUseProxiesState(checkState(dialog, kUseProxies));
      return TRUE;
    case kHttpAuth:
      settings->setHttpAuthenticationState(checkState(dialog, kHttpAuth));
      return TRUE;
    case kHttpsAuth:
      settings->setHttpsAuthenticationState(checkState(dialog, kHttpsAuth));
      return TRUE;
    case kProxyDefault:
      proxyDefaults();
      return TRUE;
    case kProxyReset:
      proxyReset();
      return TRUE;
    case kProxyOk:
      proxyOk(dialog);
      EndDialog(dialog, IDOK);
      return TRUE;
    case kProxyCancel:
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

void validationYearRange(int currentYear, int signingYear, bool signingTimeFound, int& first, int& last) {
  const int latest = signingTimeFound ? std::max(currentYear, signingYear) : currentYear;
  const int earliest = signingTimeFound ? std::min(currentYear, signingYear) : currentYear;
  first = std::max(1601, std::min(kFirstYear, earliest));
  last = std::min(9999, latest + 1);
}

int daysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

int getValidationTime(VOQ_Time& time, bool signingTimeFound) {
  if (time.getDay() == 0) throw VOQ_TimeException("Pointer to time must not be NULL and type of VOQ_Time");
  ValidationTimeRun run;
  run.time = &time;
  run.signingTime = time;
  run.signingTimeFound = signingTimeFound;
  run.result = signingTimeFound ? 0 : 1;
  ValidationTimeRun* outer = currentRun;
  currentRun = &run;
  DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kValidationTimeDialog), modalParent(), validationTimeDlgProc,
                  0);
  currentRun = outer;
  return run.result;
}

INT_PTR CALLBACK validationTimeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  ValidationTimeRun* run = currentRun;
  if (run == nullptr) return FALSE;
  if (message == WM_INITDIALOG) {
    initValidationTimeDialog(dialog, *run);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  const int control = LOWORD(wParam);
  switch (control) {
    case kCurrentTimeOption:
    case kSigningTimeOption:
    case kUserTimeOption:
      if (HIWORD(wParam) == BN_CLICKED) chooseOption(dialog, *run, control);
      return TRUE;
    case kYear:
    case kMonth:
      if (HIWORD(wParam) == CBN_SELCHANGE) {
        refillDays(dialog, *run, selection(dialog, kDay));
        timeFromBoxes(dialog, *run);
      }
      return TRUE;
    case kDay:
    case kHour:
    case kMinute:
      if (HIWORD(wParam) == CBN_SELCHANGE) timeFromBoxes(dialog, *run);
      return TRUE;
    case IDOK:
      if (IsDlgButtonChecked(dialog, kSigningTimeOption) == BST_CHECKED) {
        *run->time = run->signingTime;
      } else if (IsDlgButtonChecked(dialog, kCurrentTimeOption) == BST_CHECKED) {
        *run->time = run->currentTime;
      } else {
        timeFromBoxes(dialog, *run);
      }
      EndDialog(dialog, run->result);
      return TRUE;
    case IDCANCEL:
      // No way out but OK: the verification needs a moment.
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK keyPairDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, languageFlag == 1 ? "Auswahl des Schlüsselpaares zur Signaturerstellung"
                                               : "Choice of the keypair for creating the signature");
      for (int control : {1147, 1149, 1150, 1199}) setText(dialog, control, control);
      CheckRadioButton(dialog, 1149, 1150, 1149);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, IsDlgButtonChecked(dialog, 1150) == BST_CHECKED ? 2 : 1);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

DSPropDialog::DSPropDialog() { docSignInit()->log("DSPropDialog", "Creating DSPropDialog", VOQ_TraceContext::ENTER); }
DSPropDialog::~DSPropDialog() {
  docSignInit()->log("~DSPropDialog", "DSPropDialog destroyed", VOQ_TraceContext::LEAVE);
}
DSProxyDialog::DSProxyDialog() {
  docSignInit()->log("DSProxyDialog", "Creating DSProxyDialog", VOQ_TraceContext::ENTER);
}
DSProxyDialog::~DSProxyDialog() {
  docSignInit()->log("~DSProxyDialog", "DSProxyDialog destroyed", VOQ_TraceContext::LEAVE);
}
