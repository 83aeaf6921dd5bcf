#include "foundation/core/CReportFactory.h"

#include "foundation/base/CException.h"
#include "foundation/core/CLogable.h"

#include <cstdlib>
#include <exception>
#include <new>

std::atomic<CReportFactory*> CReportFactory::s_instance{nullptr};
VSingletonSemaphore CReportFactory::s_semaphore;

namespace {

// Releases the factory's lock when a scope is left, also by an exception.
class FactoryLock {
 public:
  FactoryLock() : m_exceptions(std::uncaught_exceptions()) { CReportFactory::Lock(); }
  // A failed release is reported, unless another exception is already on its way.
  ~FactoryLock() noexcept(false) {
    if (std::uncaught_exceptions() > m_exceptions) {
      try {
        CReportFactory::Unlock();
      } catch (const VOQ::CException&) {
      }
      return;
    }
    CReportFactory::Unlock();
  }
  FactoryLock(const FactoryLock&) = delete;
  FactoryLock& operator=(const FactoryLock&) = delete;

 private:
  int m_exceptions;
};

}  // namespace

CReportFactory::CReportFactory() { std::atexit(&CReportFactory::deleteAtExit); }

void CReportFactory::deleteAtExit() { delete s_instance.load(); }

CReportFactory::~CReportFactory() {
  // Objects destroyed after this exit handler may still log: the logging paths
  // forget their reports first, so they find logging off instead of a freed report.
  detachReports();
  try {
    FactoryLock lock;
    m_reports.clear();
  } catch (const VOQ::CException&) {
    m_reports.clear();
  }
  s_semaphore.close();
  CReportFactory* self = this;
  s_instance.compare_exchange_strong(self, nullptr);
}

void CReportFactory::Lock() {
  if (s_semaphore.acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CReportFactory::Lock", "Semaphore hat falschen Wert.\n");
}

void CReportFactory::Unlock() {
  switch (s_semaphore.release()) {
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
  if (s_instance.load() == nullptr) {
    FactoryLock lock;
    if (s_instance.load() == nullptr) s_instance.store(new CReportFactory());
  }
  return s_instance.load()->getReport(fileName);
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
  FactoryLock lock;
  auto found = m_reports.find(fileName);
  if (found != m_reports.end()) return found->second.get();
  auto report = std::make_unique<CReport>(fileName);
  report->setLevel(128);
  CReport* result = report.get();
  m_reports.emplace(std::move(name), std::move(report));
  return result;
}
