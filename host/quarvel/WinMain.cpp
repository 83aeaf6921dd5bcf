// Start-up and shutdown of Quarvel: one instance per logon, the splash, the log
// banner, the Java VM and the Java application, the tip of the day, then the hidden
// main window's message loop until the user quits.
#include "foundation/base/CException.h"
#include "foundation/core/CLogable.h"
#include "host/app/application_secure.h"
#include "host/jvm/CJVMFactory.h"
#include "host/quarvel/Commands.h"
#include "host/quarvel/MainWindow.h"
#include "host/window/VRect.h"

#include <windows.h>


namespace {

constexpr UINT kTitle = 1;
constexpr UINT kIcon = 115;
constexpr UINT kSplash = 127;
constexpr int kResultAnotherInstance = static_cast<int>(0x80040002);
constexpr int kResultFailure = static_cast<int>(0x80000005);

void logBanner() {
  char date[9];
  char time[9];
  _strdate(date);
  _strtime(time);
  logMessage("**************************************************\n", 0, 0);
  logMessage("*                                                *\n", 0, 0);
  logMessage("* Quarvel-LOG vom ", 0, 0);
  logMessage(date, 0, 0);
  logMessage(" ", 0, 0);
  logMessage(time, 0, 0);
  logMessage("              *\n", 0, 0);
  logMessage("*                                                *\n", 0, 0);
  logMessage("**************************************************\n\n", 0, 0);
}

void logResult(int result) {
  char text[32];
  _snprintf_s(text, sizeof text, _TRUNCATE, "0x%x.\n", static_cast<unsigned int>(result));
  logMessage("\nResult: ", 0, 0);
  logMessage(text, 0, 0);
  logMessage("\n", 0, CLogable::kFlush);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int result = 0;
  if (application_secure::create(kTitle, instance, kIcon) == 0) {
    logResult(kResultAnotherInstance);
    return kResultAnotherInstance;
  }
  application_secure* application = application_secure::getInstance();
  application->showSplash(kSplash);
  logBanner();
  try {
    CJVMFactory* host = CJVMFactory::getInstance();
    host->startJVM();
    host->run();
    application->destroySplash();
    if (tipEnabled()) startJavaClass("at.Quarvel.riverod.admin.TipFrame");
    if (autoupdateEnabled()) runUpdater();
    // The hidden main window; its message loop runs until the program is asked to quit.
    MainWindow window;
    const VRect rect(0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN));
    window.create(0, rect, 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, true);
  } catch (const VOQ::CAssertException&) {
    result = kResultAnotherInstance;
  } catch (...) {
    result = kResultFailure;
  }
  logResult(result);
  return result;
}
