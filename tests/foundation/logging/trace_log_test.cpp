// The trace log as the program writes it: set up from the user's Trace key and the
// program's own signed settings file, with exact bytes.
#include "FoundationFixture.h"

#include "foundation/core/CLogable.h"
#include "foundation/core/CReport.h"

#include <gtest/gtest.h>
#include "quarvel_test.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>

namespace ft = foundationtest;

// Test classes at namespace scope, so that their class texts are their plain names.
class GoldenTraced : public CLogable {
 public:
  // A nested class: its class text names the enclosing class too.
  class Part : public CLogable {
   public:
    Part() { logObject(this, kConstructed); }
    ~Part() override { logObject(this, kDestroyed); }
    int getSize() const override { return 8; }
    void work() const {
      log("work", "started.\n", 3, kPush);
      log(nullptr, "Function-Pointer: 0x0000000000001234,", 3, kFlush);  // no line end: the exit follows on the line
      log("work", "returned: 0x0.\n", 3, kPop | kFlush);
    }
  };

  GoldenTraced() { logObject(this, kConstructed); }
  ~GoldenTraced() override { logObject(this, kDestroyed); }
  int getSize() const override { return 52; }

  int run() {
    log("run", "Parameter: JVM, JNI_CreateJavaVM. Function started.\n", 3, kPush);
    {
      Part part;
      m_part = &part;
      part.work();
      log("run", "JVM host line.\n", 4, 0);
      log("run", "too detailed\n", 7, 0);
      logMessage("banner from logMessage\n", 0, 0);
    }
    log("run", "returned: 0x1.\n", 3, kPop | kFlush);
    return 1;
  }
  const Part* m_part = nullptr;
};

namespace {

std::string address(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

const std::string kLog = "C:\\logs\\Quarvel trace.log";

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ft::makeApplication();
    ft::installProgramArchive(ft::signedArchive({ft::productSection({{"Trace", "allowed"}})}));
    ft::writeFile("C:\\logs\\keep", "");
    ft::setString(std::string(ft::kUserKey) + "\\Trace", "Filename", kLog);
  }

  // Runs the traced scenario; the text the log holds after it.
  std::string scenario(const void** object, const void** part) {
    {
      GoldenTraced traced;
      *object = &traced;
      EXPECT_EQ(traced.run(), 1);
      *part = traced.m_part;
    }
    return ft::readFile(kLog);
  }
};

TEST_F(TraceLogTest, GoldenAtLevel6) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 6);
  const void* object = nullptr;
  const void* part = nullptr;
  const std::string log = scenario(&object, &part);
  const std::string a = address(object);
  const std::string p = address(part);
  EXPECT_EQ(log,
            "class GoldenTraced at 0x" + a + ":\n"
            "   Size: 0x34 Bytes constructed.\n"
            "class GoldenTraced::run() at 0x" + a + ": Parameter: JVM, JNI_CreateJavaVM. Function started.\n"
            "   class GoldenTraced::Part at 0x" + p + ":\n"
            "      Size: 0x8 Bytes constructed.\n"
            "   class GoldenTraced::Part::work() at 0x" + p + ": started.\n"
            "      Function-Pointer: 0x0000000000001234,class GoldenTraced::Part::work() at 0x" + p +
            ": returned: 0x0.\n"
            "   class GoldenTraced::run() at 0x" + a + ": JVM host line.\n"
            "   banner from logMessage\n"
            "   class GoldenTraced::Part at 0x" + p + ":\n"
            "      destructed.\n"
            "class GoldenTraced::run() at 0x" + a + ": returned: 0x1.\n"
            "class GoldenTraced at 0x" + a + ":\n"
            "   destructed.\n");
}

TEST_F(TraceLogTest, Level3LeavesOutJvmHostAndLifecycleLines) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 3);
  const void* object = nullptr;
  const void* part = nullptr;
  const std::string log = scenario(&object, &part);
  const std::string a = address(object);
  const std::string p = address(part);
  EXPECT_EQ(log,
            "class GoldenTraced::run() at 0x" + a + ": Parameter: JVM, JNI_CreateJavaVM. Function started.\n"
            "   class GoldenTraced::Part::work() at 0x" + p + ": started.\n"
            "      Function-Pointer: 0x0000000000001234,class GoldenTraced::Part::work() at 0x" + p +
            ": returned: 0x0.\n"
            "   banner from logMessage\n"
            "class GoldenTraced::run() at 0x" + a + ": returned: 0x1.\n");
}

// A line longer than the wrap limit continues on a line that starts with the
// current indentation; at indentation 6 a line holds 250 - 2 * 6 characters.
TEST_F(TraceLogTest, LongLinesWrapAtTheCurrentIndentation) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 3);
  GoldenTraced::Part part;
  part.log("work", "started.\n", 3, CLogable::kPush);
  part.log("work", "started.\n", 3, CLogable::kPush);
  const std::string text(600, 'd');
  part.log(nullptr, (text + "\n").c_str(), 3, CLogable::kFlush);
  const std::string k(6, ' ');
  const std::string expected = "class GoldenTraced::Part::work() at 0x" + address(&part) + ": started.\n   " +
                               "class GoldenTraced::Part::work() at 0x" + address(&part) + ": started.\n" + k +
                               text.substr(0, 238) + "\n" + k + text.substr(238, 238) + "\n" + k +
                               text.substr(476) + "\n";
  EXPECT_EQ(ft::readFile(kLog), expected);
}

TEST_F(TraceLogTest, NullTextAndNullMethod) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 6);
  {
    GoldenTraced::Part part;
    EXPECT_EQ(part.log("work", nullptr, 0, 0), 1);
    EXPECT_EQ(part.log(nullptr, "only the text\n", 0, 0), 0);
    EXPECT_EQ(part.logObject(nullptr, CLogable::kConstructed), 1);
    EXPECT_EQ(logMessage(nullptr, 0, 0), 1);
  }
  const std::string log = ft::readFile(kLog);
  EXPECT_NE(log.find("\nonly the text\n"), std::string::npos) << log;
}

// A lazily made text is made exactly when its line is written, and the line reads as
// with the text given made; below the log's level only the indentation moves.
TEST_F(TraceLogTest, LazyTextsAreMadeOnlyForLinesThatAreWritten) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 3);
  int made = 0;
  const auto text = [&made] {
    ++made;
    return std::string("returned: 0x7.\n");
  };
  {
    GoldenTraced::Part part;
    EXPECT_EQ(part.logLazy("work", 4, CLogable::kPush, text), 0);  // filtered, yet indents
    EXPECT_EQ(made, 0);
    EXPECT_EQ(part.logLazy("work", 3, CLogable::kPop, text), 0);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(logMessageLazy(5, 0, text), 0);
    EXPECT_EQ(logMessageLazy(2, CLogable::kFlush, text), 0);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(ft::readFile(kLog),
              "class GoldenTraced::Part::work() at 0x" + address(&part) + ": returned: 0x7.\nreturned: 0x7.\n");
  }
}

// Methods left by an exception never write their exit trace; the indentation
// keeps growing, and the log stays readable instead of overflowing the stack.
TEST_F(TraceLogTest, ExceptionsThatSkipExitTracesDoNotBreakTheLog) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 3);
  GoldenTraced::Part part;
  for (int i = 0; i < 200; ++i) {
    try {
      part.log("work", "started.\n", 3, CLogable::kPush);
      throw 1;
    } catch (int) {
    }
  }
  part.log("work", "still logging.\n", 3, CLogable::kFlush);
  const std::string log = ft::readFile(kLog);
  // At the cap of 120 blanks the wrap leaves 10 characters per line.
  const std::string cap(CReport::kMaxIndent, ' ');
  const std::string text = "class GoldenTraced::Part::work() at 0x" + address(&part) + ": still logging.";
  // 70 characters: seven full lines, then the text's own line end after the forced one.
  ASSERT_EQ(text.size(), 70u);
  std::string tail;
  for (size_t at = 0; at < text.size(); at += 10) tail += cap + text.substr(at, 10) + "\n";
  tail += cap + "\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

}  // namespace

// Logging after the report factory's exit handler: an object that outlives the
// factory logs its destruction into nothing.
QUARVEL_CHILD(late_logger) {
  ft::makeApplication();
  static std::optional<GoldenTraced::Part> late;  // destroyed after the factory
  late.emplace();
  late->work();
  return 0;
}

namespace {

TEST_F(TraceLogTest, LoggingAfterTheFactoryIsGoneIsHarmless) {
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 6);
  EXPECT_EQ(quarveltest::runChild("late_logger"), 0);
  const std::string log = ft::readFile(kLog);
  EXPECT_NE(log.find("Size: 0x8 Bytes constructed.\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("destructed."), std::string::npos) << log;
}

}  // namespace
