#include "host/quarvel/MainWindow.h"

#include "cardaccess/scan/CwxReaderScan.h"
#include "foundation/core/InstallEnv.h"
#include "host/app/application_secure.h"
#include "host/quarvel/Commands.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr UINT kMenu = 107;
constexpr UINT kIcon = 115;

// Menu commands.
constexpr UINT kProxy = 40002;
constexpr UINT kTip = 40003;
constexpr UINT kSignFile = 40004;
constexpr UINT kVerifyFile = 40005;
constexpr UINT kInfoboxes = 40006;
constexpr UINT kAuth = 40007;
constexpr UINT kUseInfoboxPin = 40009;
constexpr UINT kActivatePin = 40010;
constexpr UINT kPdfSettings = 40012;
constexpr UINT kQuit = 40013;
constexpr UINT kHelp = 40014;
constexpr UINT kReaders = 40015;
constexpr UINT kAbout = 40016;
constexpr UINT kStop = 40017;
constexpr UINT kChangePin = 40018;
constexpr UINT kUnblockPin = 40019;
constexpr UINT kLogging = 40020;
constexpr UINT kAuthorities = 40021;
constexpr UINT kTrusted = 40022;
constexpr UINT kStart = 40023;
constexpr UINT kHelp2 = 40051;
constexpr UINT kAutoupdate = 40052;
constexpr UINT kUpdateNow = 40053;
constexpr UINT kShowLog = 40054;

// The commands that start a class of the Java application.
struct JavaCommand {
  UINT id;
  const char* className;
};
constexpr JavaCommand kJavaCommands[] = {
    {kProxy, "at.Quarvel.riverod.admin.JDlgProxy"},
    {kVerifyFile, "at.Quarvel.riverod.admin.JDlgVerifyFile"},
    {kInfoboxes, "at.Quarvel.riverod.admin.JDlgDisplayInfobox"},
    {kAuth, "at.Quarvel.riverod.admin.JDlgAuth"},
    {kActivatePin, "at.Quarvel.card.access.activatePIN"},
    {kPdfSettings, "at.Quarvel.riverod.admin.JPDFPositionDialog"},
    {kHelp, "at.Quarvel.riverod.admin.JDlgHelp"},
    {kAbout, "at.Quarvel.riverod.util.About"},
    {kChangePin, "at.Quarvel.card.access.changePIN"},
    {kUnblockPin, "at.Quarvel.card.access.unblockPIN"},
    {kAuthorities, "at.Quarvel.riverod.admin.JDlgLdap"},
    {kTrusted, "at.Quarvel.riverod.admin.JDlgZert"},
    {kHelp2, "at.Quarvel.riverod.admin.JDlgHelp"},
};

// The path of a sign-file request: the payload up to its first NUL, at most 511
// bytes and never more than the sender sent; no data is an empty path.
std::string signFilePath(const COPYDATASTRUCT& data) {
  char path[512];
  const size_t count = data.lpData != nullptr ? std::min<size_t>(data.cbData, sizeof path - 1) : 0;
  if (count > 0) std::memcpy(path, data.lpData, count);
  path[count] = '\0';
  return path;
}

// The default place of the Java log, in the temporary directory.
std::string defaultJavaLog() {
  char temp[1024];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  std::string path(temp, length < sizeof temp ? length : 0);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + "java.txt";
}

}  // namespace

SysTrayIcon::SysTrayIcon() {
  m_menu.load(kMenu, nullptr);
  EnableMenuItem(m_menu.getHandle(), kStart, MF_BYCOMMAND | MF_GRAYED);
  EnableMenuItem(m_menu.getHandle(), kStop, MF_BYCOMMAND | MF_ENABLED);
  if (tipEnabled()) CheckMenuItem(m_menu.getHandle(), kTip, MF_BYCOMMAND | MF_CHECKED);
  if (autoupdateEnabled()) CheckMenuItem(m_menu.getHandle(), kAutoupdate, MF_BYCOMMAND | MF_CHECKED);
  if (useInfoboxPinEnabled()) CheckMenuItem(m_menu.getHandle(), kUseInfoboxPin, MF_BYCOMMAND | MF_CHECKED);
}

SysTrayIcon::~SysTrayIcon() { m_menu.destroy(); }

void SysTrayIcon::toggleSwitch(UINT id, bool (*enabled)(), void (*setEnabled)(bool)) {
  const bool on = enabled();
  CheckMenuItem(m_menu.getHandle(), id, MF_BYCOMMAND | (on ? MF_UNCHECKED : MF_CHECKED));
  setEnabled(!on);
}

bool SysTrayIcon::filterMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                bool* handled) {
  if (msg == WM_COMMAND) {
    switch (LOWORD(wParam)) {
      case kTip: toggleSwitch(kTip, tipEnabled, setTipEnabled); break;
      case kUseInfoboxPin: toggleSwitch(kUseInfoboxPin, useInfoboxPinEnabled, setUseInfoboxPinEnabled); break;
      case kAutoupdate: toggleSwitch(kAutoupdate, autoupdateEnabled, setAutoupdateEnabled); break;
      case kStop:
        EnableMenuItem(m_menu.getHandle(), kStart, MF_BYCOMMAND | MF_ENABLED);
        EnableMenuItem(m_menu.getHandle(), kStop, MF_BYCOMMAND | MF_GRAYED);
        break;
      case kStart:
        EnableMenuItem(m_menu.getHandle(), kStart, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(m_menu.getHandle(), kStop, MF_BYCOMMAND | MF_ENABLED);
        break;
      case kLogging:
        CheckMenuItem(m_menu.getHandle(), kLogging, MF_BYCOMMAND | (m_logChecked ? MF_UNCHECKED : MF_CHECKED));
        m_logChecked = !m_logChecked;
        break;
      case kShowLog: {
        // The Java log's default place, also when the command line moved the log.
        const std::string log = defaultJavaLog();
        ShellExecuteA(nullptr, "open", "notepad.exe", log.c_str(), nullptr, SW_SHOW);
        break;
      }
      default: break;
    }
  } else if (msg == WM_COPYDATA && lParam != 0) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data->dwData == kSignFileRequest) runSignFileDialog(signFilePath(*data).c_str());
  }
  return VTaskBarIcon::filterMessage(window, msg, wParam, lParam, result, handled);
}

void SysTrayIcon::onLeftDoubleClick(const VPoint&) {}

void SysTrayIcon::onRightButtonDown(const VPoint& point) {
  SetForegroundWindow(m_window);
  TrackPopupMenuEx(GetSubMenu(m_menu.getHandle(), 0), 0, point.x, point.y, m_window, nullptr);
}

MainWindow::MainWindow() { pushUseInfoboxPin(); }

MainWindow::~MainWindow() = default;

bool MainWindow::onCreate() {
  if (HICON icon = loadIconFile("config\\images\\icon")) {
    m_trayIcon.setIcon(icon);
  } else {
    m_trayIcon.setIcon(kIcon, false, nullptr);
  }
  m_trayIcon.add(*this, 0, " VOQ Quarvel", nullptr);
  return VMainWindow::onCreate();
}

LRESULT MainWindow::onCommand(UINT, UINT id, HWND) {
  for (const JavaCommand& command : kJavaCommands) {
    if (command.id == id) {
      startJavaClass(command.className);
      return kVWindowNotHandled;
    }
  }
  switch (id) {
    case kSignFile: runSignFileDialog(nullptr); break;
    case kUseInfoboxPin: pushUseInfoboxPin(); break;
    case kQuit:
      callResponder("terminate");
      PostQuitMessage(0);
      break;
    case kReaders: {
      auto scan = std::make_unique<CwxReaderScan>();
      scan->displayReaderDialog();
      break;
    }
    case kStop: callResponder("Stopp"); break;
    case kStart: callResponder("Start"); break;
    case kLogging: toggleLogging(&m_logging); break;
    case kUpdateNow: runUpdater(); break;
    default: break;
  }
  return kVWindowNotHandled;
}
