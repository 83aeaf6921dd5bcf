// Quarvel started as a real process on its own machine root, with the JDK's libjvm
// and the Java stand-ins, driven from the test process: the start-up, the command
// line, one instance per user, the Java VM's failures, the Java log, the exit.
#include "FoundationFixture.h"
#include "JvmFixture.h"

#include "platform/machine.h"
#include "platform/window_test.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ft = foundationtest;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The marker value of a "<word> <value>" line; empty when there is none.
std::string markerValue(const std::string& word) {
  for (const std::string& line : jvmtest::markerLines())
    if (line.rfind(word + " ", 0) == 0) return line.substr(word.size() + 1);
  return {};
}

struct Finished {
  int status = -1;
  bool hadWindow = false;
  std::string trace;
  std::string javaLog;
  std::string output;
};

// Starts Quarvel, waits for its main window, asks it to quit and waits for its end.
Finished startAndQuit(const std::vector<std::string>& arguments, const std::string& javaLog) {
  Finished run;
  jvmtest::Quarvel quarvel(arguments);
  if (HWND window = quarvel.waitForMainWindow()) {
    run.hadWindow = true;
    EXPECT_TRUE(jvmtest::requestQuit(window));
  }
  run.status = quarvel.wait();
  run.trace = jvmtest::readFile(jvmtest::traceLogPath());
  run.javaLog = jvmtest::readFile(javaLog);
  run.output = quarvel.output();
  jvmtest::expectCleanJni(run.javaLog, "the Java log");
  jvmtest::expectCleanJni(run.output, "stderr");
  return run;
}

// Starts Quarvel where it must fail before any window: its exit status.
Finished startFailing(const std::vector<std::string>& arguments) {
  Finished run;
  jvmtest::Quarvel quarvel(arguments);
  run.status = quarvel.wait();
  run.hadWindow = FindWindowA("VWindow", "Quarvel") != nullptr;
  run.trace = jvmtest::readFile(jvmtest::traceLogPath());
  run.output = quarvel.output();
  jvmtest::expectCleanJni(run.output, "stderr");
  return run;
}

// The result line; lines that a failed step left indented are indented too.
bool hasResult(const std::string& trace, const std::string& code) {
  return std::regex_search(trace, std::regex("\n *Result: " + code + "\\.\n"));
}

const char* const kBanner =
    "\\*{50}\n"
    "\\*                                                \\*\n"
    "\\* Quarvel-LOG vom [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}              \\*\n"
    "\\*                                                \\*\n"
    "\\*{50}\n\n";

TEST(QuarvelStart, RunsTheJavaApplicationAndEndsWith255AfterTheQuitRequest) {
  jvmtest::install();
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_TRUE(run.hadWindow);
  EXPECT_EQ(run.status, 255);

  // The banner opens the trace, the result closes it.
  EXPECT_TRUE(std::regex_search(run.trace, std::regex(std::string("^") + kBanner))) << run.trace.substr(0, 400);
  EXPECT_NE(run.trace.find("\nResult: 0x0.\n\n"), std::string::npos);

  // The launcher got the installation directory, the main class and the verbosity;
  // its loader learnt the three archives and loaded the main class.
  const std::vector<std::string> marker = jvmtest::markerLines();
  EXPECT_TRUE(contains(marker, "Launcher.main " + jvmtest::installDir() + "|" + jvmtest::kResponder + "|0"));
  EXPECT_TRUE(contains(marker, "addPath false"));
  for (const char* jar : {"app.jar", "a2.jar", "a3.jar"})
    EXPECT_TRUE(contains(marker, "url file:" + jvmtest::installDir() + "/" + jar)) << jar;
  EXPECT_TRUE(contains(marker, "registerNatives false"));
  EXPECT_TRUE(contains(marker, std::string("main class ") + jvmtest::kResponder + " by at.Quarvel.util.LauncherLoader"));
  const size_t first = run.trace.find("LauncherLoader: Loading Archive: app.jar.\n");
  const size_t second = run.trace.find("LauncherLoader: Loading Archive: a2.jar.\n");
  const size_t third = run.trace.find("LauncherLoader: Loading Archive: a3.jar.\n");
  EXPECT_TRUE(first < second && second < third && third != std::string::npos) << run.trace;

  // Properties: only values that name an environment variable are set; pair 3 is
  // missing and pair 4 is still read.
  EXPECT_TRUE(contains(marker, "property Quarvel.config=DEDUVE"));
  EXPECT_TRUE(contains(marker, "property qtest.dir=" + jvmtest::qtestDir() + "/x"));
  EXPECT_TRUE(contains(marker, "property qtest.four=" + jvmtest::qtestDir()));
  EXPECT_EQ(markerValue("property qtest.plain"), "");
  EXPECT_NE(run.trace.find("qtest.dir=" + jvmtest::qtestDir() + "/x.\n"), std::string::npos);

  // System.out and System.err of the stand-ins in the Java log.
  EXPECT_NE(run.javaLog.find("Launcher: System.out text\n"), std::string::npos) << run.javaLog;
  EXPECT_NE(run.javaLog.find("Launcher: System.err text\n"), std::string::npos) << run.javaLog;
  // The VM was never destroyed: the stand-in's shutdown hook did not run.
  EXPECT_FALSE(contains(marker, "shutdown hook ran"));
}

TEST(QuarvelStart, TheMainWindowStaysHidden) {
  jvmtest::install();
  jvmtest::Quarvel quarvel({jvmtest::javaLogPath()});
  HWND window = quarvel.waitForMainWindow();
  ASSERT_NE(window, nullptr);
  bool found = false;
  for (const platform::wintest::WindowInfo& info : platform::wintest::topLevelWindows()) {
    if (info.hwnd != window) continue;
    found = true;
    EXPECT_EQ(info.className, "VWindow");
    EXPECT_FALSE(info.visible);
  }
  EXPECT_TRUE(found);
  ASSERT_TRUE(jvmtest::requestQuit(window));
  EXPECT_EQ(quarvel.wait(), 255);
}

// The Java log's place and the heap option by the number of arguments.
struct ArgumentCase {
  const char* name;
  std::vector<std::string> arguments;  // "LOG" stands for the Java log path
  bool logInTemp;
  unsigned long long maxHeap;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class QuarvelArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(QuarvelArguments, PlaceTheJavaLogAndChooseTheHeap) {
  jvmtest::install();
  std::vector<std::string> arguments = GetParam().arguments;
  for (std::string& a : arguments)
    if (a == "LOG") a = jvmtest::javaLogPath();
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
  const std::string javaLog = GetParam().logInTemp ? platform::mapPath((std::string(temp) + "java.txt").c_str())
                                                   : jvmtest::javaLogPath();
  const Finished run = startAndQuit(arguments, javaLog);
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.javaLog.find("Launcher: System.out text"), std::string::npos) << javaLog;
  // The VM may keep a survivor space out of Runtime.maxMemory.
  const unsigned long long heap = std::stoull("0" + markerValue("maxMemory"));
  EXPECT_LE(heap, GetParam().maxHeap);
  EXPECT_GT(heap, GetParam().maxHeap * 3 / 4);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuarvelArguments,
    ::testing::Values(ArgumentCase{"none", {}, true, 128ull << 20}, ArgumentCase{"log", {"LOG"}, false, 128ull << 20},
                      ArgumentCase{"logAndHeap", {"LOG", "-Xmx64m"}, false, 64ull << 20},
                      ArgumentCase{"three", {"LOG", "-Xmx64m", "more"}, false, 128ull << 20}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

TEST(QuarvelStart, ASecondInstanceEndsAtOnceAndAKilledOneLeavesTheWayFree) {
  jvmtest::install();
  jvmtest::Quarvel first({jvmtest::javaLogPath()});
  ASSERT_NE(first.waitForMainWindow(), nullptr);

  const std::string secondTrace = quarveltest::machineRoot() + "/trace-second.txt";
  jvmtest::setTraceLogPath(secondTrace);
  jvmtest::Quarvel second({quarveltest::machineRoot() + "/java-second.txt"});
  EXPECT_EQ(second.wait(), 2);
  const std::string trace = jvmtest::readFile(secondTrace);
  EXPECT_TRUE(hasResult(trace, "0x80040002")) << trace;
  EXPECT_EQ(trace.find("Quarvel-LOG"), std::string::npos);
  EXPECT_FALSE(jvmtest::fileExists(quarveltest::machineRoot() + "/java-second.txt"));
  EXPECT_EQ(count(jvmtest::readFile(jvmtest::markerPath()), "Launcher.main"), 1u);

  first.kill(SIGKILL);
  EXPECT_EQ(first.wait(), 128 + SIGKILL);
  const Finished third = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_TRUE(third.hadWindow);
  EXPECT_EQ(third.status, 255);
  EXPECT_EQ(count(jvmtest::readFile(jvmtest::markerPath()), "Launcher.main"), 2u);
}

// The Java VM cannot be made or started: no window, result 0x80040002; status 2 when
// the host could not be made at all, 255 once it exists.
struct FailureCase {
  const char* name;
  std::string jvmLibrary;
  bool tampered;
  std::vector<std::string> arguments;
  int status;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class QuarvelVmFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(QuarvelVmFailures, EndWithoutWindow) {
  jvmtest::Machine machine;
  machine.jvmLibrary = GetParam().jvmLibrary;
  machine.tamperJvmArchive = GetParam().tampered;
  jvmtest::install(machine);
  std::vector<std::string> arguments = GetParam().arguments;
  arguments.insert(arguments.begin(), jvmtest::javaLogPath());
  const Finished run = startFailing(arguments);
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_FALSE(run.hadWindow);
  EXPECT_TRUE(hasResult(run.trace, "0x80040002")) << run.trace;
  EXPECT_EQ(count(jvmtest::readFile(jvmtest::markerPath()), "Launcher.main"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuarvelVmFailures,
    ::testing::Values(FailureCase{"noArchive", "", false, {}, 2},
                      FailureCase{"missingLibrary", "jre\\lib\\server\\missing.so", false, {}, 2},
                      FailureCase{"notExecutable", "jre\\lib\\server\\libjvm.so", true, {}, 2},
                      FailureCase{"invalidOption", "jre\\lib\\server\\libjvm.so", false, {"-Xfoo"}, 255}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(QuarvelStart, AnArchiveNamingNoExecutableMakesNoHost) {
  jvmtest::Machine machine;
  machine.jvmLibrary = "";
  jvmtest::install(machine);
  // A section whose Name does not start with "executable".
  ft::writeFile(jvmtest::installDir() + "/JVM.esw",
                ft::signedArchive({eswtool::Section{"library:jre\\lib\\server\\libjvm.so", {{"SectionName", "JVM"}}, true}}));
  const Finished run = startFailing({jvmtest::javaLogPath()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.trace.find("Virtuelle Maschine kann nicht erzeugt werden.\n"), std::string::npos) << run.trace;
  EXPECT_TRUE(hasResult(run.trace, "0x80040002"));
}

// Start-up paths that go wrong after the Java VM stands. A Java log that cannot be
// opened drops the Java output and the program runs; a window class that cannot be
// registered leaves no main window, so the loop does not run and the result is 0; any
// other exception out of the start-up is the result 0x80000005. Once the host exists
// the status is 255 whatever the result.
struct StartFaultCase {
  const char* name;
  const char* fault;    // QTEST_STARTUP_FAULT, NULL: none
  bool unopenableLog;
  bool window;
  const char* result;
};

void PrintTo(const StartFaultCase& c, std::ostream* os) { *os << c.name; }

class QuarvelStartFaults : public ::testing::TestWithParam<StartFaultCase> {};

TEST_P(QuarvelStartFaults, EndAsTheirResultSays) {
  jvmtest::install();
  const std::string javaLog = GetParam().unopenableLog ? quarveltest::machineRoot() + "/no such folder/java.txt"
                                                       : jvmtest::javaLogPath();
  if (GetParam().fault != nullptr) {
    setenv("LD_PRELOAD", QTEST_STARTUP_FAULTS, 1);
    setenv("QTEST_STARTUP_FAULT", GetParam().fault, 1);
  }
  jvmtest::Quarvel quarvel({javaLog});
  unsetenv("LD_PRELOAD");
  unsetenv("QTEST_STARTUP_FAULT");
  HWND window = GetParam().window ? quarvel.waitForMainWindow() : nullptr;
  EXPECT_EQ(window != nullptr, GetParam().window);
  if (window != nullptr) EXPECT_TRUE(jvmtest::requestQuit(window));
  EXPECT_EQ(quarvel.wait(), 255);
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel"), nullptr);
  const std::string trace = jvmtest::readFile(jvmtest::traceLogPath());
  EXPECT_TRUE(hasResult(trace, GetParam().result)) << trace.substr(trace.size() > 2000 ? trace.size() - 2000 : 0);
  // The Java application had started before anything went wrong.
  EXPECT_EQ(count(jvmtest::readFile(jvmtest::markerPath()), "Launcher.main"), 1u);
  EXPECT_EQ(jvmtest::fileExists(javaLog), !GetParam().unopenableLog);
  jvmtest::expectCleanJni(quarvel.output(), "stderr");
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuarvelStartFaults,
    ::testing::Values(StartFaultCase{"javaLogCannotBeOpened", nullptr, true, true, "0x0"},
                      StartFaultCase{"windowClassNotRegistered", "window-class", false, false, "0x0"},
                      StartFaultCase{"otherException", "throw", false, false, "0x80000005"}),
    [](const ::testing::TestParamInfo<StartFaultCase>& info) { return std::string(info.param.name); });

// Text without a line end reaches the Java log: from a thread that ended, and from
// the main thread once it went quiet, while the program runs; and both stay at exit.
TEST(QuarvelStart, PromptsWithoutALineEndReachTheJavaLog) {
  jvmtest::install();
  jvmtest::setJavaScript("prompts");
  jvmtest::Quarvel quarvel({jvmtest::javaLogPath()});
  HWND window = quarvel.waitForMainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(contains(jvmtest::markerLines(), "prompts done"));
  auto both = [] {
    const std::string log = jvmtest::readFile(jvmtest::javaLogPath());
    return log.find("Bitte PIN eingeben: ") != std::string::npos && log.find("Warte auf Karte ... ") != std::string::npos;
  };
  EXPECT_TRUE(quarveltest::eventually(both)) << jvmtest::readFile(jvmtest::javaLogPath());
  ASSERT_TRUE(jvmtest::requestQuit(window));
  EXPECT_EQ(quarvel.wait(), 255);
  EXPECT_TRUE(both());
}

// The user's Verbose value: the fourth VM option and the launcher's verbosity.
struct VerboseCase {
  const char* name;
  const char* value;  // NULL: missing
  const char* verbosity;
  const char* javaLogHas;
};

void PrintTo(const VerboseCase& c, std::ostream* os) { *os << c.name; }

class QuarvelVerbose : public ::testing::TestWithParam<VerboseCase> {};

TEST_P(QuarvelVerbose, ChoosesTheVmsMessagesAndTheVerbosity) {
  jvmtest::install();
  if (GetParam().value != nullptr) ft::setString(jvmtest::kUserKey, "Verbose", GetParam().value);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(contains(jvmtest::markerLines(), std::string("Launcher.main ") + jvmtest::installDir() + "|" +
                                                   jvmtest::kResponder + "|" + GetParam().verbosity));
  if (GetParam().javaLogHas != nullptr)
    EXPECT_NE(run.javaLog.find(GetParam().javaLogHas), std::string::npos) << run.javaLog.substr(0, 2000);
  else
    EXPECT_EQ(run.javaLog.find("[info]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuarvelVerbose,
    ::testing::Values(VerboseCase{"missing", nullptr, "0", nullptr}, VerboseCase{"empty", "", "0", nullptr},
                      VerboseCase{"security", "security", "2", "[info][class,load] java.lang.Object source: "},
                      VerboseCase{"gc", "gc", "1", "[info][gc]"}),
    [](const ::testing::TestParamInfo<VerboseCase>& info) { return std::string(info.param.name); });

TEST(QuarvelStart, AVerboseValueOfAnyLengthIsHandedToTheVmWhole) {
  jvmtest::install();
  // Longer than any fixed buffer; the VM takes a "-verbose:" kind it does not know.
  ft::setString(jvmtest::kUserKey, "Verbose", std::string(1000, 'v'));
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(contains(jvmtest::markerLines(), std::string("Launcher.main ") + jvmtest::installDir() + "|" +
                                                   jvmtest::kResponder + "|1"));
}

TEST(QuarvelStart, PropertiesAreSetOnlyFromAnExpansionThatFits) {
  jvmtest::Machine machine;
  machine.properties = {{"Key0", "qtest.unknown"}, {"Property0", "%QTEST_NO_SUCH_VARIABLE%/y"},
                        {"Key1", "qtest.long"},    {"Property1", "%QTEST_LONG%"},
                        {"Key2", "qtest.fits"},    {"Property2", "<%QTEST_DIR%>"},
                        {"Key5", "qtest.five"},    {"Property5", "%QTEST_FIVE%"},
                        {"Key9", "qtest.nine"},    {"Property9", "%QTEST_DIR%9"},
                        {"Key7", "qtest.novalue"}};
  jvmtest::install(machine);
  setenv("QTEST_LONG", std::string(300, 'L').c_str(), 1);
  setenv("QTEST_FIVE", std::string(255, 'F').c_str(), 1);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(markerValue("property qtest.unknown"), "");
  EXPECT_EQ(markerValue("property qtest.long"), "");
  EXPECT_EQ(markerValue("property qtest.novalue"), "");
  const std::vector<std::string> marker = jvmtest::markerLines();
  EXPECT_TRUE(contains(marker, "property qtest.fits=<" + jvmtest::qtestDir() + ">"));
  EXPECT_TRUE(contains(marker, "property qtest.five=" + std::string(255, 'F')));
  EXPECT_TRUE(contains(marker, "property qtest.nine=" + jvmtest::qtestDir() + "9"));
}

TEST(QuarvelStart, ConcurrentJavaOutputKeepsEveryLineWhole) {
  jvmtest::install();
  ft::setString(jvmtest::kUserKey, "Verbose", "security");
  jvmtest::setJavaScript("stress");
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(contains(jvmtest::markerLines(), "stress done"));
  const std::regex stressLine("stress thread [0-3] line [0-9]+ end");
  const std::regex classLine("\\[[0-9.]+s\\]\\[info\\]\\[class,load\\] \\S+ source: .*");
  size_t stress = 0;
  size_t classes = 0;
  for (const std::string& line : jvmtest::lines(run.javaLog)) {
    if (line.find("stress") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, stressLine)) << "broken line: " << line;
      ++stress;
    } else if (line.find("[class,load]") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, classLine)) << "broken line: " << line;
      ++classes;
    }
  }
  EXPECT_EQ(stress, 40000u);
  EXPECT_GT(classes, 100u);
}

TEST(QuarvelStart, TheRootKeyReachesJavasKeyFactoryAndOpenSsl) {
  jvmtest::install();
  jvmtest::setJavaScript("rootkey,level200");
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(markerValue("rootKey"), "at.Quarvel.util.VOQPublicKey");
  EXPECT_EQ(markerValue("keyFactory"), "DSA p=1024 q=160");
  const std::string hex = markerValue("encoded");
  ASSERT_EQ(hex.size(), 2u * 443);
  EXPECT_EQ(hex.substr(0, 8), "308201b7");
  std::vector<unsigned char> der;
  for (size_t i = 0; i < hex.size(); i += 2) der.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  const unsigned char* p = der.data();
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(EVP_PKEY_base_id(key), EVP_PKEY_DSA);
  EXPECT_EQ(EVP_PKEY_get_bits(key), 1024);
  EVP_PKEY_free(key);
  // A stream above the log's level 128 writes nothing.
  EXPECT_EQ(run.javaLog.find("level 200 text"), std::string::npos);
}

TEST(QuarvelStart, ALauncherThatThrowsLeavesTheProgramRunning) {
  jvmtest::install();
  jvmtest::setJavaScript("throw");
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_TRUE(run.hadWindow);
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.trace.find("java.lang.IllegalStateException: Launcher stand-in asked to fail\n"), std::string::npos)
      << run.trace;
  // The stack trace went to System.err, that is the Java log.
  EXPECT_NE(run.javaLog.find("at at.Quarvel.util.Launcher.main"), std::string::npos) << run.javaLog;
  EXPECT_EQ(markerValue("main class"), "");
  EXPECT_NE(run.trace.find("\nResult: 0x0.\n"), std::string::npos);
}

TEST(QuarvelStart, AClassMissingANativeIsLoggedAndTheStartGoesOn) {
  jvmtest::Machine machine;
  machine.launcherJar = "launcher-missing-native.jar";
  jvmtest::install(machine);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_TRUE(run.hadWindow);
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.trace.find("java.lang.NoSuchMethodError"), std::string::npos) << run.trace;
  EXPECT_NE(run.trace.find("myGetEncoded"), std::string::npos);
  EXPECT_NE(markerValue("main class"), "");
}

TEST(QuarvelStart, AMissingClassIsNamedAndTheOthersAreStillFound) {
  jvmtest::Machine machine;
  machine.launcherJar = "launcher-without-ocard.jar";
  jvmtest::install(machine);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.trace.find("Class at/Quarvel/util/jni/OCard not found.\n"), std::string::npos) << run.trace;
  // The classes after it in the list are in the cache.
  EXPECT_NE(run.trace.find("class: at/Quarvel/util/jni/TrustSign, 0x"), std::string::npos);
  EXPECT_NE(markerValue("main class"), "");
}

// The user's Tip and Autoupdate switches at start-up: the tip of the day (a Java
// class) and the updater program of the installation directory.
struct StartSwitchCase {
  const char* name;
  long tip;         // -1: missing
  long autoupdate;  // -1: missing
  bool tipFrame;
  bool updater;
};

void PrintTo(const StartSwitchCase& c, std::ostream* os) { *os << c.name; }

class QuarvelStartSwitches : public ::testing::TestWithParam<StartSwitchCase> {};

TEST_P(QuarvelStartSwitches, StartTheTipAndTheUpdater) {
  jvmtest::install();
  ft::createKey(jvmtest::kUserKey);
  if (GetParam().tip >= 0) ft::setDword(jvmtest::kUserKey, "Tip", static_cast<unsigned long>(GetParam().tip));
  if (GetParam().autoupdate >= 0)
    ft::setDword(jvmtest::kUserKey, "Autoupdate", static_cast<unsigned long>(GetParam().autoupdate));
  const std::string updater = jvmtest::installDir() + "/ZadeVuzadiVerovu.exe";
  eswtool::writeFile(updater, "#!/bin/sh\necho \"updater $*\" >> \"$QUARVEL_JAVA_MARKER\"\n");
  ASSERT_EQ(::chmod(updater.c_str(), 0755), 0);

  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  // The tip frame runs before the main window exists.
  EXPECT_EQ(contains(jvmtest::markerLines(), "TipFrame.main"), GetParam().tipFrame);
  if (GetParam().updater)
    EXPECT_TRUE(quarveltest::eventually([] { return contains(jvmtest::markerLines(), "updater "); },
                                        std::chrono::seconds(10)));
  else
    EXPECT_FALSE(contains(jvmtest::markerLines(), "updater "));
}

INSTANTIATE_TEST_SUITE_P(Table, QuarvelStartSwitches,
                         ::testing::Values(StartSwitchCase{"missing", -1, -1, false, true},
                                           StartSwitchCase{"tipOneUpdateZero", 1, 0, true, false},
                                           StartSwitchCase{"tipTwoUpdateFive", 2, 5, false, true}),
                         [](const ::testing::TestParamInfo<StartSwitchCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(QuarvelStart, WithoutMainClassNothingIsStarted) {
  jvmtest::Machine machine;
  machine.program = {{"ClassPath", "app.jar"}};
  jvmtest::install(machine);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_TRUE(run.hadWindow);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(count(jvmtest::readFile(jvmtest::markerPath()), "Launcher.main"), 0u);
  EXPECT_NE(run.trace.find("\nResult: 0x0.\n"), std::string::npos);
}

TEST(QuarvelStart, WithoutClassPathTheLoaderGetsNoArchive) {
  jvmtest::Machine machine;
  machine.program = {{"Main-Class", jvmtest::kResponder}};
  jvmtest::install(machine);
  const Finished run = startAndQuit({jvmtest::javaLogPath()}, jvmtest::javaLogPath());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(markerValue("addPath"), "true");
  EXPECT_EQ(markerValue("url"), "");
  // The main class is then nowhere to be found.
  EXPECT_NE(run.trace.find("java.lang.ClassNotFoundException: at.Quarvel.riverod.responder.WebClient"),
            std::string::npos)
      << run.trace;
}

}  // namespace
