// The process-wide registry of reports: one CReport per file name.
#pragma once

#include "foundation/base/VSingleton.h"
#include "foundation/core/CReport.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>

class CReportFactory {
 public:
  // The report for fileName, made (level 128) on first use. Throws
  // VOQ::CBadArgumentException for NULL, and what CReport's constructor throws.
  static CReport* getInstance(const char* fileName);

  virtual ~CReportFactory();
  CReportFactory(const CReportFactory&) = delete;
  CReportFactory& operator=(const CReportFactory&) = delete;

  CReport* getReport(const char* fileName);

  // The singleton's guard: an unnamed semaphore made on first use.
  static void Lock();
  static void Unlock();

 private:
  CReportFactory();
  static void deleteAtExit();

  struct NameLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<char[]>& a, const std::unique_ptr<char[]>& b) const {
      return std::strcmp(a.get(), b.get()) < 0;
    }
    bool operator()(const std::unique_ptr<char[]>& a, const char* b) const { return std::strcmp(a.get(), b) < 0; }
    bool operator()(const char* a, const std::unique_ptr<char[]>& b) const { return std::strcmp(a, b.get()) < 0; }
  };

  std::map<std::unique_ptr<char[]>, std::unique_ptr<CReport>, NameLess> m_reports;

  static VOQ::VSingleton<CReportFactory> s_singleton;
};
