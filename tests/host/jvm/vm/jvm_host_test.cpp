// The Java VM host in the test process, with the JDK's libjvm: the splash's progress,
// the class cache, the host's Java calls. One VM per process: each test case runs in a
// process of its own, which the host ends with status 255 (ctest reads gtest's verdict).
#include "FoundationFixture.h"
#include "JvmFixture.h"

#include "host/app/application_secure.h"
#include "host/jvm/CJVMFactory.h"
#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace ft = foundationtest;

namespace {

const bool g_rootRemoved = (jvmtest::removeMachineRootAfterTests(), true);

std::vector<std::string> g_arguments;
std::vector<char*> g_argv;

class JvmHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jvmtest::install();
    ft::makeApplication();
    g_arguments = {"jvm_host_tests", jvmtest::javaLogPath()};
    for (std::string& a : g_arguments) g_argv.push_back(a.data());
    g_argv.push_back(nullptr);
    __argc = 2;
    __argv = g_argv.data();
  }
  void TearDown() override { jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log"); }

  static CJVMFactory* started() {
    CJVMFactory* host = CJVMFactory::getInstance();
    host->startJVM();
    host->run();
    return host;
  }
};

TEST_F(JvmHostTest, TheSplashShowsTheProgressInOrder) {
  namespace wt = platform::wintest;
  ASSERT_EQ(application_secure::getInstance()->showSplash(127), 0);
  wt::clearDrawTextCalls();
  started();
  std::vector<std::string> shown;
  for (const wt::DrawTextRecord& record : wt::drawTextCalls())
    if (shown.empty() || shown.back() != record.text) shown.push_back(record.text);
  const std::vector<std::string> expected{"Checking JVM ...",         "JVM OK.",
                                          "Starting JVM ...",         "JVM started.",
                                          "Starting Application ...", "Application started."};
  EXPECT_EQ(shown, expected);
}

// The launcher's archive reaches the VM's class path from the installation directory;
// without one, no class-path option at all (an empty one would name the current
// directory to the VM's class loader).
TEST_F(JvmHostTest, TheClassPathOptionComesOnlyWithAnInstallationDirectory) {
  EXPECT_EQ(CJVMFactory::classPathOption(), "-Djava.class.path=" + jvmtest::installDir() + "/lib/launcher.jar");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ft::kMachineKey + 5, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "InstallDir"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CJVMFactory::classPathOption(), "");
}

TEST_F(JvmHostTest, DottedNamesAreFoundThroughTheLoaderAndCachedUnderTheirOwnName) {
  CJVMFactory* host = started();
  ASSERT_NE(host->getClassLoader(), nullptr);
  // A slashed name of a class only the loader sees: FindClass fails, and the loader
  // refuses the slashed form, its exception left for the caller.
  EXPECT_FALSE(host->findClass("at/Quarvel/riverod/admin/TipFrame"));
  std::unique_ptr<char[]> refused = host->getExceptionMessage();
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(std::string(refused.get()).rfind("java.lang.NoClassDefFoundError", 0), 0u) << refused.get();
  EXPECT_FALSE(host->getEnv()->ExceptionCheck());

  ASSERT_TRUE(host->findClass("at.Quarvel.riverod.admin.TipFrame"));
  jclass tip = host->getClass("at.Quarvel.riverod.admin.TipFrame");
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(host->getClass("at.Quarvel.riverod.admin.TipFrame"), tip);
  EXPECT_EQ(host->getClass("at/Quarvel/riverod/admin/TipFrame"), nullptr);

  // The responder was loaded by the launcher already: the loader answers it again.
  ASSERT_TRUE(host->findClass(jvmtest::kResponder));
  EXPECT_EQ(host->getExceptionMessage(), nullptr);
  // Found again, the entry holds a new reference to the same class (the old one is
  // given back).
  jclass responder = host->getClass(jvmtest::kResponder);
  ASSERT_TRUE(host->findClass("at.Quarvel.riverod.admin.TipFrame"));
  jclass again = host->getClass("at.Quarvel.riverod.admin.TipFrame");
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(host->getEnv()->IsSameObject(again, responder));

  // A class nobody has: the loader's exception is left for the caller.
  EXPECT_FALSE(host->findClass("at.Quarvel.NoSuchClass"));
  std::unique_ptr<char[]> text = host->getExceptionMessage();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text.get()), "java.lang.ClassNotFoundException: at.Quarvel.NoSuchClass");
  EXPECT_FALSE(host->findClass(nullptr));
  EXPECT_FALSE(host->findClass(""));
  EXPECT_EQ(host->getClass(nullptr), nullptr);
}

TEST_F(JvmHostTest, StaticCallsPropertiesAndArgumentArrays) {
  CJVMFactory* host = started();
  JNIEnv* env = host->getEnv();

  EXPECT_EQ(host->setProperty("qtest.host", "one"), nullptr);
  std::unique_ptr<char[]> previous = host->setProperty("qtest.host", "two");
  ASSERT_NE(previous, nullptr);
  EXPECT_STREQ(previous.get(), "one");
  EXPECT_EQ(host->setProperty(nullptr, "x"), nullptr);

  jobjectArray array = host->constructArgs(3, "a", "b", "c");
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(env->GetArrayLength(array), 3);
  env->DeleteLocalRef(array);

  // System.getProperty through the host's static call.
  jstring key = env->NewStringUTF("qtest.host");
  auto value = static_cast<jstring>(
      host->callVoidStatic("java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", key));
  ASSERT_FALSE(env->ExceptionCheck());
  ASSERT_NE(value, nullptr);
  const char* chars = env->GetStringUTFChars(value, nullptr);
  EXPECT_STREQ(chars, "two");
  env->ReleaseStringUTFChars(value, chars);
  env->DeleteLocalRef(value);
  env->DeleteLocalRef(key);

  // A missing method leaves its error pending; the text clears it.
  EXPECT_EQ(host->callVoidStatic("java/lang/System", "noSuchMethod", "()Ljava/lang/Object;"), nullptr);
  std::unique_ptr<char[]> text = host->getExceptionMessage();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text.get()).rfind("java.lang.NoSuchMethodError", 0), 0u) << text.get();
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(host->getExceptionMessage(), nullptr);
  EXPECT_EQ(host->callVoidStatic("java/lang/Nothing", "main", "()V"), nullptr);
  EXPECT_EQ(host->callVoidStatic("", "main", "()V"), nullptr);
}

}  // namespace
