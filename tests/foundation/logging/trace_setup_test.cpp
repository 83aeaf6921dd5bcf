// The trace set-up decides once whether there is a log; anything missing or broken
// means no log file at all, and logging calls return at once.
#include "FoundationFixture.h"

#include "foundation/core/CLogable.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace ft = foundationtest;

namespace {

const std::string kLogFolder = "C:\\logs";
const std::string kLog = kLogFolder + "\\trace.log";

class Probe : public CLogable {
 public:
  int getSize() const override { return 4; }
};

struct Machine {
  bool archive = true;
  eswtool::Signer signer = ft::archiveRootSigner();
  std::string sectionName = "config:Quarvel";
  std::string sectionTitle = "Quarvel";
  bool attributes = true;
  bool traceKey = true;
  std::optional<std::string> fileName = kLog;
  std::optional<unsigned long> level = 6;
  bool logFolder = true;
};

void arrange(const Machine& m) {
  ft::makeApplication();
  if (m.archive) {
    eswtool::Section section{m.sectionName, {{"SectionName", m.sectionTitle}}, true};
    if (m.attributes) section.attributes.push_back({"Trace", "allowed"});
    ft::installProgramArchive(ft::signedArchive({section}, m.signer));
  }
  ft::createKey(ft::kUserKey);
  const std::string trace = std::string(ft::kUserKey) + "\\Trace";
  if (m.traceKey) ft::createKey(trace);
  if (m.fileName) ft::setString(trace, "Filename", *m.fileName);
  if (m.level) ft::setDword(trace, "LogLevel", *m.level);
  if (m.logFolder) ft::writeFile(kLogFolder + "\\keep", "");
}

struct SetupCase {
  const char* name;
  Machine machine;
};

Machine with(void (*change)(Machine&)) {
  Machine m;
  change(m);
  return m;
}

const SetupCase kCases[] = {
    {"NoTraceKey", with([](Machine& m) { m.traceKey = false, m.fileName.reset(), m.level.reset(); })},
    {"NoFilename", with([](Machine& m) { m.fileName.reset(); })},
    {"EmptyFilename", with([](Machine& m) { m.fileName = ""; })},
    {"FilenameLongerThan1024", with([](Machine& m) { m.fileName = kLogFolder + "\\" + std::string(1100, 'x'); })},
    {"NoLogLevel", with([](Machine& m) { m.level.reset(); })},
    {"LogLevelMinusOne", with([](Machine& m) { m.level = 0xFFFFFFFFul; })},
    {"NoArchive", with([](Machine& m) { m.archive = false; })},
    {"ArchiveOfAStranger", with([](Machine& m) { m.signer = ft::strangerSigner(); })},
    {"ArchiveOfTheDefaultRoot", with([](Machine& m) { m.signer = ft::defaultRootSigner(); })},
    {"NoProductSection", with([](Machine& m) { m.sectionName = "config:Other", m.sectionTitle = "Other"; })},
    {"SectionWithoutAttributes", with([](Machine& m) { m.attributes = false; })},
    {"LogFolderMissing", with([](Machine& m) { m.logFolder = false; })},
};

void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

class TraceSetupFailure : public ::testing::TestWithParam<SetupCase> {};

TEST_P(TraceSetupFailure, NoLogFile) {
  arrange(GetParam().machine);
  Probe probe;
  EXPECT_EQ(probe.log("probe", "text\n", 0, CLogable::kFlush), 0);
  EXPECT_EQ(probe.logObject(&probe, CLogable::kConstructed), 0);
  EXPECT_EQ(logMessage("text\n", 0, CLogable::kFlush), 0);
  EXPECT_EQ(createTraceReport(), nullptr);
  EXPECT_FALSE(ft::fileExists(kLog));
  EXPECT_EQ(ft::fileExists(kLogFolder), GetParam().machine.logFolder);
}

INSTANTIATE_TEST_SUITE_P(Table, TraceSetupFailure, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SetupCase>& info) { return info.param.name; });

// The complete machine that each row above breaks in one place.
TEST(TraceSetup, CompleteMachineGivesTheLog) {
  arrange(Machine{});
  Probe probe;
  EXPECT_EQ(logMessage("banner\n", 0, CLogable::kFlush), 0);
  EXPECT_EQ(ft::readFile(kLog), "banner\n");
}

// The set-up is replaceable per deliverable: a library with a log of its own
// registers its set-up before any logging object is made.
CReport* noLog() { return nullptr; }

TEST(TraceSetup, DeliverableRegistersItsOwnSetup) {
  arrange(Machine{});
  setReportSetup(&noLog);
  Probe probe;
  EXPECT_EQ(logMessage("banner\n", 0, CLogable::kFlush), 0);
  EXPECT_FALSE(ft::fileExists(kLog));
}

}  // namespace
