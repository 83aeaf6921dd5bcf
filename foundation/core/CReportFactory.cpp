#include "foundation/core/CReportFactory.h"

#include "foundation/base/CException.h"
#include "foundation/core/CLogable.h"

#include <cstdlib>
#include <new>

VOQ::VSingleton<CReportFactory> CReportFactory::s_singleton;

CReportFactory::CReportFactory() { std::atexit(&CReportFactory::deleteAtExit); }

void CReportFactory::deleteAtExit() { delete s_singleton.get(); }

CReportFactory::~CReportFactory() {
  // Objects destroyed after this exit handler may still log: the logging paths
  // forget their reports first, so they find logging off instead of a freed report.
  detachReports();
  try {
    VOQ::VSingletonLock<void (*)()> lock(&Lock, &Unlock);
    m_reports.clear();
  } catch (const VOQ::CException&) {
    m_reports.clear();
  }
  s_singleton.forget(this);
}

void CReportFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CReportFactory::Lock", "Semaphore hat falschen Wert.\n");
}

void CReportFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReportFactory::Unlock", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CAssertException("CReportFactory::Unlock", "Kann Semaphore nicht zurücksetzen.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

CReport* CReportFactory::getInstance(const char* fileName) {
  if (fileName == nullptr) throw VOQ::CBadArgumentException("CReportFactory::getInstance", "Invalid Parameter.\n");
  CReportFactory* factory =
      s_singleton.getOrMake(&Lock, &Unlock, [] { return std::unique_ptr<CReportFactory>(new CReportFactory()); });
  return factory->getReport(fileName);
}

CReport* CReportFactory::getReport(const char* fileName) {
  if (fileName == nullptr) throw VOQ::CBadArgumentException("CReportFactory::getReport", "Invalid Parameter.\n");
  std::unique_ptr<char[]> name;
  try {
    const size_t length = std::strlen(fileName);
    name.reset(new char[length + 1]);
    std::memcpy(name.get(), fileName, length + 1);
  } catch (const std::bad_alloc&) {
    throw VOQ::CMemoryException("CReportFactory::getReport", "kein freier Speicher.\n");
  }
  // Looked up and made under one lock: two threads asking for a new name at
  // once must not both create (and truncate) the file.
  VOQ::VSingletonLock<void (*)()> lock(&Lock, &Unlock);
  auto found = m_reports.find(fileName);
  if (found != m_reports.end()) return found->second.get();
  auto report = std::make_unique<CReport>(fileName);
  report->setLevel(128);
  CReport* result = report.get();
  m_reports.emplace(std::move(name), std::move(report));
  return result;
}
