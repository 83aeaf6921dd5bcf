// The entry of the card library: the one reader the plug-in's HKLM settings
// (sub-key "Reader") describe, a PC/SC reader or a CT-API terminal, cached by
// name until it is released. Any thread may ask for and release readers: the
// cache has a lock of its own, and a reader released while another thread uses
// it lives on until that use ends.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cardvariant/CLogable.h"
#include "foundation/base/VSingleton.h"

namespace cardvariant {

class CReader;
class CReader_CTAPI;

class CReaderFactory : public CLogable {
 public:
  // The configured reader, or NULL.
  static CReader* getInstance();
  // The same, kept allocated for the caller whatever other threads release.
  static std::shared_ptr<CReader> getSharedInstance();
  // 1 when the factory made the reader (deleted now, or when a call another thread
  // has under way on it ends), else 0.
  static int releaseInstance(CReader* reader);

  ~CReaderFactory() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  CReader* getReader();
  std::shared_ptr<CReader> getSharedReader();
  int releaseReader(CReader* reader);
  // A CT-API terminal on that port whose identification the settings accept, or NULL.
  CReader_CTAPI* constructReader(const char* subKey, unsigned short port);
  // 0 and the reader whose listed name starts with readerName, or 0x80000004.
  int constructPCSCReader(const char* section, const char* readerName, CReader** out);
  // 1 and the "CTAPI" text of the sub-key, or 0.
  int getCTAPIname(const char* subKey, std::string& out);
  // Tries ports 1 to 4 with terminal numbers from *ctn on: 1 when one answered.
  int initCTAPITerminal(const char* driverName, unsigned short* ctn);

  static unsigned short nextTerminalNumber();
  static void resetTerminalNumber();

  static void Lock();
  static void Unlock();

 private:
  CReaderFactory();
  static CReaderFactory* instance();

  struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return std::strcmp(a.c_str(), b.c_str()) < 0; }
  };
  // Guards the cache; held while a reader is built, so that two threads never
  // build the same reader twice.
  std::mutex m_cacheLock;
  std::map<std::string, std::shared_ptr<CReader>, NameLess> m_readers;

  static void deleteAtExit();

  static VOQ::VSingleton<CReaderFactory> s_singleton;
};

}  // namespace cardvariant
