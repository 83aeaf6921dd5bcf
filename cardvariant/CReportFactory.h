// The card library's reports, one per file name, made under the singleton's semaphore.
#pragma once

#include <cstring>
#include <map>
#include <memory>

#include "foundation/base/VSingleton.h"

namespace cardvariant {

class CReport;

class CReportFactory {
 public:
  // The report of fileName. NULL throws VOQ::CBadArgumentException.
  static CReport* getInstance(const char* fileName);

  virtual ~CReportFactory();
  CReportFactory(const CReportFactory&) = delete;
  CReportFactory& operator=(const CReportFactory&) = delete;

  // A known name gives its report; a new one writes into the trace log's stream
  // when the plug-in's trace log has one, else into a file of its own; level 128.
  CReport* getReport(const char* fileName);

  static void Lock();
  static void Unlock();

 private:
  CReportFactory() = default;

  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return std::strcmp(a.c_str(), b.c_str()) < 0; }
  };
  std::map<std::string, std::unique_ptr<CReport>, NameLess> m_reports;

  static void deleteAtExit();

  static VOQ::VSingleton<CReportFactory> s_singleton;
};

}  // namespace cardvariant
