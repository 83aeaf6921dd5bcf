// What of the Java VM host needs no VM: the launcher's root key, the command-line
// accessors and the Java log's writers (the VM's hook and the console stream share it).
#include "host/jvm/CJVMFactory.h"
#include "host/jvm/JavaLog.h"
#include "host/jvm/LauncherNatives.h"
#include "host/jvm/LauncherRootKey.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(LauncherRootKey, IsCopiedOnlyIntoARecordThatHoldsIt) {
  EXPECT_EQ(buildLauncherRootKey(nullptr), 1);
  std::vector<unsigned char> buffer(2048, 0xEE);
  Blob small{442, buffer.data()};
  EXPECT_EQ(buildLauncherRootKey(&small), 0);
  EXPECT_EQ(small.length, 0u);
  EXPECT_EQ(buffer[0], 0xEE);
  Blob exact{443, buffer.data()};
  ASSERT_EQ(buildLauncherRootKey(&exact), 1);
  EXPECT_EQ(exact.length, 443u);
  // The SEQUENCE of a 443-byte SubjectPublicKeyInfo.
  EXPECT_EQ(buffer[0], 0x30);
  EXPECT_EQ(buffer[1], 0x82);
  EXPECT_EQ(buffer[2], 0x01);
  EXPECT_EQ(buffer[3], 0xB7);
  const unsigned char* p = buffer.data();
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, 443);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(p, buffer.data() + 443);
  EXPECT_EQ(EVP_PKEY_base_id(key), EVP_PKEY_DSA);
  EXPECT_EQ(EVP_PKEY_get_bits(key), 1024);
  EVP_PKEY_free(key);
}

std::string g_logPath;
std::vector<std::string> g_arguments;
std::vector<char*> g_argv;

// The program's arguments as the run-time library would keep them.
void setArguments(std::vector<std::string> arguments) {
  g_arguments = std::move(arguments);
  g_argv.clear();
  for (std::string& a : g_arguments) g_argv.push_back(a.data());
  g_argv.push_back(nullptr);
  __argc = static_cast<int>(g_arguments.size());
  __argv = g_argv.data();
}

TEST(CommandLine, AccessorsAnswerWithinTheArgumentCount) {
  setArguments({"Quarvel", "java.txt"});
  EXPECT_EQ(getArgc(), 2);
  EXPECT_STREQ(getArgv(0), "Quarvel");
  EXPECT_STREQ(getArgv(1), "java.txt");
  EXPECT_EQ(getArgv(2), nullptr);
  EXPECT_EQ(getArgv(-1), nullptr);
}

class JavaLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_logPath = quarveltest::machineRoot() + "/java.txt";
    setArguments({"Quarvel", g_logPath});
  }
  static std::string log() {
    std::ifstream in(g_logPath);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

jint hook(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const jint result = jvmVfprintf(stderr, format, args);
  va_end(args);
  return result;
}

TEST_F(JavaLogTest, TheHookContinuesALineAcrossCallsAndCutsLongMessages) {
  // -verbose:class arrives in pieces.
  hook("[%.3fs]", 0.023);
  hook("[%s]", "info");
  hook("[class,load] %s source: %s\n", "java.lang.Object", "shared objects file");
  EXPECT_EQ(hook("%s\n", std::string(10000, 'x').c_str()), 1);
  hook("after\n");
  const std::string text = log();
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "[0.023s][info][class,load] java.lang.Object source: shared objects file\n");
  // The long message was cut to the hook's buffer; nothing else was lost.
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), 'x')), 4095u);
  EXPECT_NE(text.find("after\n"), std::string::npos);
}

TEST_F(JavaLogTest, LinesOfDifferentThreadsNeverMix) {
  setJavaLogQuietTime(3600000);  // whatever the machine's speed, the half line waits for its end
  writeJavaLog(0, "first half ", 11);
  std::thread other([] {
    for (int i = 0; i < 100; ++i) writeJavaLog(4, "other thread line\n", 18);
  });
  other.join();
  writeJavaLog(0, "second half\n", 12);
  // A level above the log's 128 is dropped.
  writeJavaLog(200, "dropped\n", 8);
  const std::string text = log();
  EXPECT_NE(text.find("first half second half\n"), std::string::npos) << text;
  size_t others = 0;
  for (size_t at = text.find("other thread line\n"); at != std::string::npos; at = text.find("other thread line\n", at + 1))
    ++others;
  EXPECT_EQ(others, 100u);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
}

// Text without a line end (a prompt) is written once its thread has written nothing
// for a short while, when its thread ends, and at exit (flushJavaLog, which the host's
// exit calls); each time whole, never mixed into another thread's line.
TEST_F(JavaLogTest, AnUnfinishedLineIsWrittenWhenItsThreadFallsQuiet) {
  writeJavaLog(4, "Bitte PIN eingeben: ", 20);
  EXPECT_TRUE(quarveltest::eventually([] { return log() == "Bitte PIN eingeben: "; })) << log();
  writeJavaLog(4, "1234\n", 5);
  EXPECT_EQ(log(), "Bitte PIN eingeben: 1234\n");
}

TEST_F(JavaLogTest, AnUnfinishedLineIsWrittenWhenItsThreadEnds) {
  setJavaLogQuietTime(3600000);
  std::thread([] { writeJavaLog(0, "Warte auf Karte ... ", 20); }).join();
  EXPECT_EQ(log(), "Warte auf Karte ... ");
}

TEST_F(JavaLogTest, UnfinishedLinesOfEveryThreadAreWrittenAtExit) {
  setJavaLogQuietTime(3600000);
  std::mutex lock;
  std::condition_variable changed;
  bool written = false;
  bool flushed = false;
  std::thread other([&] {
    writeJavaLog(0, "other: ", 7);
    std::unique_lock<std::mutex> guard(lock);
    written = true;
    changed.notify_all();
    changed.wait(guard, [&] { return flushed; });
    writeJavaLog(0, "rest\n", 5);
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return written; });
  }
  writeJavaLog(4, "main: ", 6);
  EXPECT_EQ(log(), "");
  flushJavaLog();
  const std::string atExit = log();
  EXPECT_TRUE(atExit == "other: main: " || atExit == "main: other: ") << atExit;
  {
    std::lock_guard<std::mutex> guard(lock);
    flushed = true;
  }
  changed.notify_all();
  other.join();
  EXPECT_EQ(log(), atExit + "rest\n");
}

}  // namespace
