#include "cardvariant/CReportFactory.h"

#include <cstdlib>

#include "cardvariant/CLogable.h"
#include "cardvariant/CReport.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/base/CException.h"

namespace cardvariant {

VOQ::VSingleton<CReportFactory> CReportFactory::s_singleton;

void CReportFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CReportFactory::Lock", "Semaphore hat falschen Wert.\n");
}

void CReportFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kOk: return;
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReportFactory::Unlock", "kein Semaphore.\n");
    default: throw VOQ::CAssertException("CReportFactory::Unlock", "Kann Semaphore nicht zurücksetzen.\n");
  }
}

CReport* CReportFactory::getInstance(const char* fileName) {
  if (fileName == nullptr) throw VOQ::CBadArgumentException("CReportFactory::getInstance", "Invalid Parameter.\n");
  CReportFactory* factory = s_singleton.getOrMake(&Lock, &Unlock, [] {
    std::atexit(&CReportFactory::deleteAtExit);
    return std::unique_ptr<CReportFactory>(new CReportFactory());
  });
  return factory->getReport(fileName);
}

void CReportFactory::deleteAtExit() { delete s_singleton.get(); }

CReportFactory::~CReportFactory() {
  // Reports flush here; a stream shared with the trace log stays open for it.
  detachReports();
  m_reports.clear();
  s_singleton.forget(this);
}

CReport* CReportFactory::getReport(const char* fileName) {
  if (fileName == nullptr) throw VOQ::CBadArgumentException("CReportFactory::getReport", "Invalid Parameter.\n");
  Lock();
  auto found = m_reports.find(fileName);
  if (found != m_reports.end()) {
    CReport* report = found->second.get();
    Unlock();
    return report;
  }
  Unlock();
  // The plug-in's trace log, or one without file when start-up made none.
  std::FILE* shared = VOQ_TraceLog::getInstance(nullptr)->getFile();
  std::unique_ptr<CReport> report = shared != nullptr
                                        ? std::make_unique<CReport>(fileName, shared, VOQ_TraceLog::getDepth())
                                        : std::make_unique<CReport>(fileName);
  report->setLevel(128);
  Lock();
  CReport* result = m_reports.emplace(fileName, std::move(report)).first->second.get();
  Unlock();
  return result;
}

}  // namespace cardvariant
