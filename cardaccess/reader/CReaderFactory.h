// Builds the reader that the user's Reader0 settings name, once, and keeps it by name.
// Any thread may ask for and release readers: the cache has a lock of its own, and a
// reader released while another thread uses it lives on until that use ends.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <windows.h>

#include "cardaccess/reader/CReader.h"
#include "foundation/core/CLogable.h"

class CReaderFactory : public CLogable {
 public:
  // The configured reader (the singleton is made on first use); NULL when none can be built.
  static CReader* getInstance();
  // The same, kept allocated for the caller whatever other threads release.
  static std::shared_ptr<CReader> getSharedInstance();
  // 1 when the reader was the factory's (deleted now, or when a call another thread
  // has under way on it ends), else 0.
  static int releaseInstance(CReader* reader);

  ~CReaderFactory() override;
  CReaderFactory(const CReaderFactory&) = delete;
  CReaderFactory& operator=(const CReaderFactory&) = delete;

  int getSize() const override;
  CReader* getReader();
  std::shared_ptr<CReader> getSharedReader();
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

  // Guards the cache; held while a reader is built, so that two threads never build
  // the same reader twice.
  std::mutex m_cacheLock;
  std::map<std::string, std::shared_ptr<CReader>> m_readers;
};
