// Builds the reader that the user's Reader0 settings name, once, and keeps it by name.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <windows.h>

#include "cardaccess/reader/CReader.h"
#include "foundation/core/CLogable.h"

class CReaderFactory : public CLogable {
 public:
  // The configured reader (the singleton is made on first use); NULL when none can be built.
  static CReader* getInstance();
  // 1 when the reader was the factory's and is now deleted, else 0.
  static int releaseInstance(CReader* reader);

  ~CReaderFactory() override;
  CReaderFactory(const CReaderFactory&) = delete;
  CReaderFactory& operator=(const CReaderFactory&) = delete;

  int getSize() const override;
  CReader* getReader();
  int releaseReader(CReader* reader);
  // A new CT-API reader for the configured driver at the port, or NULL.
  CReader* constructReader(const char* section, unsigned short port);
  // 0 and *out, or 0x80000004.
  int constructPCSCReader(const char* section, const char* name, CReader** out);
  // 1 and the driver name when the ctapi value could be read.
  int getCTAPIname(const char* section, std::string& out);

  // The registry key of the reader settings, under HKEY_CURRENT_USER.
  static const char* const kSettingsKey;

 private:
  CReaderFactory();
  static CReaderFactory* singleton();
  static void destroy();
  static void lock();
  static void unlock();

  std::map<std::string, std::unique_ptr<CReader>> m_readers;
};
