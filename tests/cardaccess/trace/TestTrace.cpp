#include "TestTrace.h"

#include "foundation/core/CLogable.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cardaccesstest {

namespace {

CReport* traceSetup() {
  CReport* report = CReportFactory::getInstance(traceFile().c_str());
  if (report) report->setLevel(6);
  return report;
}

ReportSetupRegistration g_traceSetup(&traceSetup);

// Logging stops when the tests are done: the exit handlers of the singletons log,
// and by the time they run the trace log's per-thread class names are destroyed.
class TraceEnvironment : public testing::Environment {
 public:
  void TearDown() override { detachReports(); }
};

testing::Environment* const g_traceEnvironment = testing::AddGlobalTestEnvironment(new TraceEnvironment);

}  // namespace

std::string traceFile() {
  const char* root = std::getenv("QUARVEL_MACHINE_ROOT");
  return std::string(root ? root : "/tmp") + "/trace.log";
}

std::string traceText() {
  if (CReport* report = CReportFactory::getInstance(traceFile().c_str())) report->flush();
  std::ifstream in(traceFile());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace cardaccesstest
