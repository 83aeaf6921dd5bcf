#include "host/app/VApplication.h"
#include "host/app/application_secure.h"
#include "host/window/VMainWindow.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace {

namespace wt = platform::wintest;

const HBRUSH kWindowBrush = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);

// Another instance of the program, started in a process of its own.
QUARVEL_CHILD(startAnotherInstance) {
  const int result = application_secure::create(1, GetModuleHandleA(nullptr), 115);
  // A refused instance keeps nothing of the other's mutex.
  if (result == 0 && application_secure::getInstance()->getInstanceMutex() != nullptr) return 9;
  return result;
}

// A running instance: it holds the mutex until it is killed.
QUARVEL_CHILD(holdTheInstance) {
  if (application_secure::create(1, GetModuleHandleA(nullptr), 115) != 1) return 2;
  if (application_secure::getInstance()->getInstanceMutex() == nullptr) return 3;
  std::ofstream(quarveltest::machineRoot() + "/holding") << "1";
  for (;;) Sleep(1000);
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 60000; ++i) {
    if (std::filesystem::exists(path)) return true;
    Sleep(1);
  }
  return false;
}

TEST(Application, CreateMakesTheProgramsApplicationObject) {
  HINSTANCE program = GetModuleHandleA(nullptr);
  ASSERT_EQ(application_secure::create(1, program, 115), 1);
  application_secure* app = application_secure::getInstance();
  ASSERT_NE(app, nullptr);
  EXPECT_STREQ(app->getTitle().getText(), "Quarvel");
  EXPECT_STREQ(app->getSettingsFileName().getText(), "Quarvel.esw");
  EXPECT_STREQ(getAppName(), "Quarvel");
  EXPECT_EQ(getShowCommand(), 0);  // the main window stays hidden
  HANDLE mutex = app->getInstanceMutex();
  EXPECT_NE(mutex, nullptr);

  // Every user reaches it as the current application object, and the foundation
  // as the application identity.
  EXPECT_EQ(dynamic_cast<application_secure*>(getApplication()), app);
  EXPECT_EQ(app->getInstanceHandle(), program);
  EXPECT_EQ(app->getResourceHandle(), program);
  ApplicationIdentity& identity = applicationIdentity();
  EXPECT_EQ(&identity, static_cast<ApplicationIdentity*>(app));
  EXPECT_STREQ(identity.titleText(), "Quarvel");
  EXPECT_STREQ(identity.settingsFileName(), "Quarvel.esw");
  EXPECT_EQ(identity.resourceModule(), program);
  EXPECT_STREQ(identity.productName(), "Quarvel");
  EXPECT_STREQ(identity.companyKey(), "VOQ. VUV-Oredaridez GmbH");

  // The window class: redrawn on resizing, double clicks, the program's icon 115.
  WNDCLASSA wc{};
  ASSERT_TRUE(GetClassInfoA(program, "VWindow", &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  EXPECT_EQ(wc.hIcon, LoadIconA(program, MAKEINTRESOURCEA(115)));
  EXPECT_NE(wc.hIcon, LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(wc.hbrBackground, kWindowBrush);
  EXPECT_EQ(wc.lpfnWndProc, &VWindow::windowProc);
  EXPECT_EQ(wc.hInstance, program);

  // A second call keeps the first object, its mutex and its window class.
  EXPECT_EQ(application_secure::create(1, program, 115), 1);
  EXPECT_EQ(application_secure::getInstance(), app);
  EXPECT_EQ(app->getInstanceMutex(), mutex);
  EXPECT_TRUE(GetClassInfoA(program, "VWindow", &wc));
}

TEST(Application, CreateReplacesTheDefaultObject) {
  VApplication* first = getApplication();  // made on demand
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(getApplication(), first);
  EXPECT_EQ(getAppName(), nullptr);
  ASSERT_EQ(application_secure::create(1, GetModuleHandleA(nullptr), 115), 1);
  EXPECT_EQ(getApplication(), application_secure::getInstance());
}

TEST(Application, HandlesDefaultToTheProgram) {
  VApplication app;
  EXPECT_EQ(getApplication(), &app);
  EXPECT_EQ(app.getInstanceHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(app.getResourceHandle(), app.getInstanceHandle());

  VApplication withResources;
  HINSTANCE resources = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x4711));
  withResources.setResourceHandle(resources);
  withResources.setModule(GetModuleHandleA(nullptr), 5);
  EXPECT_EQ(withResources.getResourceHandle(), resources);  // a set resource module stays
  EXPECT_EQ(withResources.getShowCommand(), 5);
}

TEST(Application, DeletedObjectIsNoLongerCurrent) {
  uintptr_t gone = 0;
  {
    VApplication app;
    app.setAppName("Gone");
    gone = reinterpret_cast<uintptr_t>(getApplication());
    EXPECT_EQ(gone, reinterpret_cast<uintptr_t>(&app));
    EXPECT_STREQ(applicationIdentity().titleText(), "Gone");
  }
  // Nothing may reach the deleted object: the foundation finds no identity, and a
  // fresh default object takes its place.
  EXPECT_EQ(applicationIdentity().titleText(), nullptr);
  EXPECT_EQ(applicationIdentity().resourceModule(), GetModuleHandleA(nullptr));
  VApplication* next = getApplication();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->getAppName(), nullptr);
}

TEST(Application, ASecondInstanceIsRefusedWhileTheFirstRuns) {
  quarveltest::ChildProcess first = quarveltest::startChild("holdTheInstance");
  ASSERT_TRUE(waitForFile(quarveltest::machineRoot() + "/holding"));
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 0);
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 0);
  // A killed instance leaves no mutex behind that would keep the next one out.
  first.kill(SIGKILL);
  EXPECT_EQ(first.wait(), 128 + SIGKILL);
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 1);
}

TEST(Application, WithoutAMutexTheProgramRunsUnguarded) {
  // A file where the named mutexes live: no mutex can be made.
  const std::string run = quarveltest::machineRoot() + "/run";
  std::filesystem::create_directories(run);
  std::filesystem::remove_all(run + "/mutex");
  std::ofstream(run + "/mutex") << "kein Ordner";
  ASSERT_EQ(application_secure::create(1, GetModuleHandleA(nullptr), 115), 1);
  EXPECT_EQ(application_secure::getInstance()->getInstanceMutex(), nullptr);
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 1);
}

TEST(Application, SplashAnswers) {
  ASSERT_EQ(application_secure::create(1, GetModuleHandleA(nullptr), 115), 1);
  application_secure* app = application_secure::getInstance();
  const std::map<DWORD, int> baseline = wt::gdiObjectCounts();
  enum class Op { Show, Status, Destroy };
  struct Step {
    Op op;
    UINT bitmap;
    const char* text;
    int result;
    bool window;  // a splash window exists afterwards
  };
  const Step steps[] = {
      {Op::Status, 0, "vorher", 1, false},
      {Op::Destroy, 0, nullptr, 1, false},
      {Op::Show, 999, nullptr, 1, false},          // no such bitmap: no window
      {Op::Status, 0, "ohne Fenster", 0, false},   // the splash object stays and takes the text
      {Op::Destroy, 0, nullptr, 0, false},
      {Op::Show, 127, nullptr, 0, true},
      {Op::Status, 0, "JVM startet", 0, true},
      {Op::Show, 127, nullptr, 0, true},           // made afresh: still one window
      {Op::Status, 0, "JVM OK.", 0, true},
      {Op::Destroy, 0, nullptr, 0, false},
      {Op::Destroy, 0, nullptr, 1, false},
      {Op::Status, 0, "danach", 1, false},
  };
  int row = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE("step " + std::to_string(row++));
    wt::clearDrawTextCalls();
    int result = -1;
    switch (step.op) {
      case Op::Show:
        result = app->showSplash(step.bitmap);
        break;
      case Op::Status:
        result = app->setStatus(step.text);
        break;
      case Op::Destroy:
        result = app->destroySplash();
        break;
    }
    EXPECT_EQ(result, step.result);
    const std::vector<HWND> windows = wt::threadWindows(GetCurrentThreadId());
    ASSERT_EQ(windows.size(), step.window ? 1u : 0u);
    if (step.window) {
      EXPECT_EQ(windows[0], app->getSplash()->getHandle());
      EXPECT_TRUE(IsWindowVisible(windows[0]));
    }
    if (step.op == Op::Status && step.window) {
      ASSERT_EQ(wt::drawTextCalls().size(), 1u);
      EXPECT_EQ(wt::drawTextCalls()[0].text, step.text);
    } else if (step.op == Op::Status) {
      EXPECT_TRUE(wt::drawTextCalls().empty());
    }
  }
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
}

TEST(Application, DeletingTheObjectTakesSplashMutexAndClassAway) {
  HINSTANCE program = GetModuleHandleA(nullptr);
  ASSERT_EQ(application_secure::create(1, program, 115), 1);
  application_secure* app = application_secure::getInstance();
  const std::map<DWORD, int> baseline = wt::gdiObjectCounts();
  ASSERT_EQ(app->showSplash(127), 0);
  HWND splash = app->getSplash()->getHandle();
  ASSERT_TRUE(IsWindow(splash));
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 0);

  delete app;
  EXPECT_EQ(application_secure::getInstance(), nullptr);
  EXPECT_FALSE(IsWindow(splash));
  EXPECT_EQ(wt::gdiObjectCounts(), baseline);
  WNDCLASSA wc{};
  EXPECT_FALSE(GetClassInfoA(program, "VWindow", &wc));
  // The mutex is given back and closed: another instance may start now.
  EXPECT_EQ(quarveltest::runChild("startAnotherInstance"), 1);
}

TEST(Application, AnyApplicationObjectTakesTheClassAwayWhenItGoes) {
  HINSTANCE program = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  {
    VApplication app;
    ASSERT_NE(VApplication::registerWindowClass(program, SW_HIDE, 115, kWindowBrush, nullptr), 0);
    EXPECT_TRUE(GetClassInfoA(program, "VWindow", &wc));
    // While a window of the class lives the class stays.
    {
      VMainWindow window;
      ASSERT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
    }
  }
  EXPECT_FALSE(GetClassInfoA(program, "VWindow", &wc));
  // So the next application object can register it again.
  VApplication next;
  EXPECT_NE(VApplication::registerWindowClass(program, SW_HIDE, 115, kWindowBrush, nullptr), 0);
}

// Each row is run without a main window, with a main window object that has no
// window, and with a live main window, which then carries the title.
TEST(Application, DocumentTitleTable) {
  struct Case {
    const char* appName;
    const char* document;
    bool untitled;
    const char* title;
  } cases[] = {
      {"Quarvel", "Vertrag.pdf", false, "Quarvel - Vertrag.pdf"},
      {"Quarvel", "Vertrag.pdf", true, "Quarvel - Vertrag.pdf"},
      {"Quarvel", nullptr, true, "Quarvel - Untitled"},
      {"Quarvel", nullptr, false, "Quarvel"},
      {"Quarvel", "", true, "Quarvel"},
      {nullptr, nullptr, true, ""},
      {nullptr, "Vertrag.pdf", false, ""},
  };
  enum class Main { None, Unbound, Live };
  HINSTANCE program = GetModuleHandleA(nullptr);
  for (Main main : {Main::None, Main::Unbound, Main::Live}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.appName ? c.appName : "NULL") + " / " + (c.document ? c.document : "NULL") +
                   " / main window " + std::to_string(static_cast<int>(main)));
      VApplication app;
      app.setAppName(c.appName);
      // The previous application object took the class away with it.
      ASSERT_NE(VApplication::registerWindowClass(program, SW_HIDE, 115, kWindowBrush, nullptr), 0);
      std::unique_ptr<VMainWindow> window;
      if (main != Main::None) window = std::make_unique<VMainWindow>();
      if (main == Main::Live) {
        ASSERT_EQ(window->create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
        SetWindowTextA(window->getHandle(), "vorher");
      }
      EXPECT_TRUE(app.setDocumentTitle(c.document, c.untitled));
      EXPECT_STREQ(app.getWindowTitle().getText(), c.title);
      if (main == Main::Live) {
        char text[64] = "";
        GetWindowTextA(window->getHandle(), text, sizeof text);
        EXPECT_STREQ(text, c.title);
      }
    }
  }
}

TEST(Application, DocumentTitleWithItsOwnNameChangesNothing) {
  VApplication app;
  app.setAppName("Quarvel");
  ASSERT_NE(VApplication::registerWindowClass(GetModuleHandleA(nullptr), SW_HIDE, 115, kWindowBrush, nullptr), 0);
  VMainWindow window;
  ASSERT_EQ(window.create(0, VRect(0, 0, 300, 200), 0, 0, 0, 0, WS_OVERLAPPEDWINDOW, false), 1);
  app.setDocumentTitle("a.pdf", false);
  SetWindowTextA(window.getHandle(), "anders");
  const char* held = app.getDocumentName().getBuffer();
  EXPECT_TRUE(app.setDocumentTitle(held, false));
  EXPECT_EQ(app.getDocumentName().getBuffer(), held);
  EXPECT_STREQ(app.getWindowTitle().getText(), "Quarvel - a.pdf");
  char text[64] = "";
  GetWindowTextA(window.getHandle(), text, sizeof text);
  EXPECT_STREQ(text, "anders");
}

}  // namespace
