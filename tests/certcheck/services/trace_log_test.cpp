// The plug-in's trace log. The log is a process-wide singleton that only its first
// creation configures, so every case that creates it runs in a child process of its own.
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_TraceLog.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"
#include "quarvel_test.h"

namespace st = servicestest;

namespace {

const char* const kGoldenDir = CERTCHECK_GOLDEN_DIR;

std::vector<unsigned char> countingBytes(unsigned int n) {
  std::vector<unsigned char> bytes(n);
  for (unsigned int i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i);
  return bytes;
}

// Every kind of entry once, in an order that shows how lines join and indent.
void runScript(VOQ_TraceContext* engine, VOQ_TraceContext* anonymous) {
  const std::vector<unsigned char> forty = countingBytes(40);
  engine->log("sigValidate", "start", VOQ_TraceContext::ENTER);
  engine->log("readRanges", "", VOQ_TraceContext::INSIDE);  // leaves the line open
  engine->log(nullptr, "continued", VOQ_TraceContext::INSIDE);
  engine->logHex("digest", "hash", forty.data(), 40, 16);
  engine->logBits("flags", "trust", 0x18005);  // only the low 16 bits are written
  engine->logFormat("count", "%d of %s\n", 3, "five");
  engine->logRaw("raw", "bytes", reinterpret_cast<const unsigned char*>("ABC"), 3);
  anonymous->log("inner", "no class", VOQ_TraceContext::INSIDE);
  engine->logChar('!');
  engine->logChar('\n');
  engine->logHex("narrow", nullptr, forty.data() + 1, 3, 0);  // width 0 is taken as 16
  engine->log("sigValidate", "end", VOQ_TraceContext::LEAVE);
  engine->log("leave", "again", VOQ_TraceContext::LEAVE);  // the depth stays at 0
}

QUARVEL_CHILD(trace_script) {
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(args.at(0).c_str());
  if (log->getFile() == nullptr) return 2;
  runScript(log->createContext("DSEngine"), log->createContext(nullptr));
  return 0;
}

TEST(TraceLog, WritesTheEntryShapesOfTheGoldenFile) {
  const std::string file = quarveltest::makeTempDirectory() + "/trace.log";
  ASSERT_EQ(quarveltest::runChild("trace_script", {file}), 0);
  EXPECT_EQ(st::readFile(file), st::readFile(std::string(kGoldenDir) + "/trace_script.log"));
}

QUARVEL_CHILD(trace_depth) {
  VOQ_TraceContext* context = VOQ_TraceLog::getInstance(args.at(0).c_str())->createContext("Deep");
  for (int i = 0; i < 1005; ++i) context->log("m", "in", VOQ_TraceContext::ENTER);
  for (int i = 0; i < 1005; ++i) context->log("m", "out", VOQ_TraceContext::LEAVE);
  context->log("m", "done", VOQ_TraceContext::INSIDE);
  return 0;
}

TEST(TraceLog, DepthStopsAt1000AndLeavesComeBackToZero) {
  const std::string file = quarveltest::makeTempDirectory() + "/depth.log";
  ASSERT_EQ(quarveltest::runChild("trace_depth", {file}), 0);
  std::istringstream lines(st::readFile(file));
  std::vector<std::string> expected;
  int depth = 0;
  for (int i = 0; i < 1005; ++i) {
    expected.push_back(std::string(depth, ' ') + "Deep::m(...) in");
    if (depth < 1000) ++depth;
  }
  for (int i = 0; i < 1005; ++i) {
    if (depth > 0) --depth;
    expected.push_back(std::string(depth, ' ') + "Deep::m(...) out");
  }
  expected.push_back("Deep::m(...) done");
  std::string line;
  size_t index = 0;
  while (std::getline(lines, line)) {
    ASSERT_LT(index, expected.size());
    ASSERT_EQ(line, expected[index]) << "line " << index;
    ++index;
  }
  EXPECT_EQ(index, expected.size());
  // A leave is indented like its enter: the first leave like the 1000th enter.
  EXPECT_EQ(expected[1005].find('D'), 999u);
}

// The set-up every plug-in class makes: the HKLM store's "LogFileName", then the
// key holder's own "VOQ_Crypt.log", which must not open a second file.
QUARVEL_CHILD(trace_from_registry) {
  if (chdir(args.at(0).c_str()) != 0) return 3;
  VOQ_Configuration machine(st::kCompany, st::kProduct, HKEY_LOCAL_MACHINE);
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(machine, HKEY_LOCAL_MACHINE, "", "LogFileName");
  if (VOQ_TraceLog::getInstance("VOQ_Crypt.log") != log) return 4;
  log->createContext("DocSignInit")->log("PlugInInit", "loaded", VOQ_TraceContext::INSIDE);
  return log->getFile() != nullptr ? 1 : 0;
}

struct CreationCase {
  const char* name;
  DWORD type;
  std::string data;  // bytes as stored; "<missing>" writes no value
  bool windowsPath;  // data is a drive path, found under the machine root
  bool file;
};

const CreationCase kCreationCases[] = {
    {"PosixPath", REG_SZ, "@FILE@", false, true},
    {"DrivePath", REG_SZ, "C:\\logs\\tolmira.log", true, true},
    {"OneNul", REG_SZ, std::string(1, '\0'), false, false},
    {"Missing", REG_SZ, "<missing>", false, false},
    {"Dword", REG_DWORD, std::string("\x01\x00\x00\x00", 4), false, false},
    {"ExpandString", REG_EXPAND_SZ, "@FILE@", false, false},
};

TEST(TraceLog, CreationFromTheMachineStore) {
  for (const CreationCase& c : kCreationCases) {
    SCOPED_TRACE(c.name);
    const std::string folder = quarveltest::makeTempDirectory(c.name);
    const std::string file = folder + "/tolmira.log";
    std::string data = c.data == "@FILE@" ? file + std::string(1, '\0') : c.data;
    if (c.windowsPath) {
      ASSERT_TRUE(CreateDirectoryA("C:\\logs", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
      data += std::string(1, '\0');
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, st::kProductKey);
    if (data != "<missing>") {
      ASSERT_TRUE(st::putValue(HKEY_LOCAL_MACHINE, st::kProductKey, "LogFileName", c.type, data.data(),
                               static_cast<DWORD>(data.size())));
    } else {
      ASSERT_TRUE(st::putString(HKEY_LOCAL_MACHINE, st::kProductKey, "Other", "x"));
    }
    EXPECT_EQ(quarveltest::runChild("trace_from_registry", {folder}), c.file ? 1 : 0);
    const std::string written = c.windowsPath ? quarveltest::machineRoot() + "/c/logs/tolmira.log" : file;
    EXPECT_EQ(st::fileExists(written), c.file);
    if (c.file) {
      EXPECT_EQ(st::readFile(written), "DocSignInit::PlugInInit(...) loaded\n");
    }
    EXPECT_FALSE(st::fileExists(folder + "/VOQ_Crypt.log"));
  }
}

QUARVEL_CHILD(trace_off) {
  if (chdir(args.at(0).c_str()) != 0) return 3;
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(static_cast<const char*>(nullptr));
  VOQ_TraceContext* context = log->createContext("Quiet");
  if (log->getFile() != nullptr) return 4;
  const unsigned char bytes[4] = {1, 2, 3, 4};
  // Bytes in use on the heap (operator new takes them from malloc too).
  const size_t heapInUse = mallinfo2().uordblks;
  int results = 0;
  for (int i = 0; i < 100; ++i) {
    results |= context->log("m", "text", VOQ_TraceContext::ENTER);
    results |= context->logHex("m", "label", bytes, 4, 16);
    results |= context->logRaw("m", "label", bytes, 4);
    results |= context->logFormat("m", "%s %d", "text", i);
    results |= context->logBits("m", "bits", 0xffff);
    results |= context->logChar('x');
  }
  if (results != 0) return 5;
#if !defined(__SANITIZE_ADDRESS__)
  if (mallinfo2().uordblks != heapInUse) return 7;
#else
  (void)heapInUse;
#endif
  return 0;
}

TEST(TraceLog, WithoutAFileEveryEntryReturnsZeroAllocatesNothingAndWritesNothing) {
  const std::string folder = quarveltest::makeTempDirectory();
  EXPECT_EQ(quarveltest::runChild("trace_off", {folder}), 0);
  EXPECT_FALSE(st::fileExists(folder + "/VOQ_Crypt.log"));
}

// A static object made before the log logs from its destructor, which runs after the
// log's exit handler closed the file: the entry is dropped, nothing breaks.
struct LateLogger {
  VOQ_TraceContext* context = nullptr;
  ~LateLogger() {
    if (context != nullptr) {
      context->log("~LateLogger", "after exit", VOQ_TraceContext::INSIDE);
      context->logHex("~LateLogger", "bytes", reinterpret_cast<const unsigned char*>("ab"), 2, 16);
    }
  }
};

QUARVEL_CHILD(trace_late_destructor) {
  static LateLogger late;
  VOQ_TraceLog* log = VOQ_TraceLog::getInstance(args.at(0).c_str());
  late.context = log->createContext("Late");
  late.context->log("run", "before exit", VOQ_TraceContext::INSIDE);
  return 0;
}

TEST(TraceLog, EntriesFromDestructorsAfterTheExitHandlerAreDropped) {
  const std::string file = quarveltest::makeTempDirectory() + "/late.log";
  EXPECT_EQ(quarveltest::runChild("trace_late_destructor", {file}), 0);
  EXPECT_EQ(st::readFile(file), "Late::run(...) before exit\n");
}

}  // namespace
