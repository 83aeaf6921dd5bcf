#include "host/app/VApplication.h"
#include "host/app/application_secure.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace {

TEST(Application, ProductName) { EXPECT_STREQ(getProductName(), "Quarvel"); }

TEST(Application, CreateLoadsTitleAndSettingsFileName) {
  HINSTANCE program = GetModuleHandleA(nullptr);
  ASSERT_EQ(application_secure::create(1, program, 115), 1);
  application_secure* app = application_secure::getInstance();
  ASSERT_NE(app, nullptr);
  EXPECT_STREQ(app->getTitle().getText(), "Quarvel");
  EXPECT_STREQ(app->getSettingsFileName().getText(), "Quarvel.esw");
  EXPECT_STREQ(getAppName(), "Quarvel");
  EXPECT_EQ(getShowCommand(), 0);  // the main window stays hidden
  EXPECT_EQ(app->getInstanceMutex(), nullptr);

  // Every user reaches it as the current application object.
  EXPECT_EQ(dynamic_cast<application_secure*>(getApplication()), app);
  EXPECT_EQ(app->getInstanceHandle(), program);
  EXPECT_EQ(app->getResourceHandle(), program);

  // A second call keeps the first object.
  EXPECT_EQ(application_secure::create(1, program, 115), 1);
  EXPECT_EQ(application_secure::getInstance(), app);
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
  }
  // Nothing may reach the deleted object: a fresh default one takes its place.
  VApplication* next = getApplication();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->getAppName(), nullptr);
}

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
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.appName ? c.appName : "NULL") + " / " + (c.document ? c.document : "NULL"));
    VApplication app;
    app.setAppName(c.appName);
    EXPECT_TRUE(app.setDocumentTitle(c.document, c.untitled));
    EXPECT_STREQ(app.getWindowTitle().getText(), c.title);
  }
}

TEST(Application, DocumentTitleWithItsOwnNameChangesNothing) {
  VApplication app;
  app.setAppName("Quarvel");
  app.setDocumentTitle("a.pdf", false);
  const char* held = app.getDocumentName().getBuffer();
  EXPECT_TRUE(app.setDocumentTitle(held, false));
  EXPECT_EQ(app.getDocumentName().getBuffer(), held);
  EXPECT_STREQ(app.getWindowTitle().getText(), "Quarvel - a.pdf");
}

}  // namespace
