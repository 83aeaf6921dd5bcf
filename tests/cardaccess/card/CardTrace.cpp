#include "CardTrace.h"

#include "foundation/core/CLogable.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cardtest {

namespace {

std::string traceFile() {
  const char* root = std::getenv("QUARVEL_MACHINE_ROOT");
  return std::string(root ? root : "/tmp") + "/card-trace.log";
}

CReport* traceSetup() {
  CReport* report = CReportFactory::getInstance(traceFile().c_str());
  if (report) report->setLevel(6);
  return report;
}

ReportSetupRegistration g_traceSetup(&traceSetup);

// The singletons' exit handlers log after the tests; the log stops with them.
class TraceEnvironment : public testing::Environment {
 public:
  void TearDown() override { detachReports(); }
};

testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new TraceEnvironment);

}  // namespace

std::string traceText() {
  if (CReport* report = CReportFactory::getInstance(traceFile().c_str())) report->flush();
  std::ifstream in(traceFile());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace cardtest
