#include "cardaccess/reader/CReaderFactory.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardaccess/reader/CardResult.h"
#include "cardaccess/reader/PeerTable.h"
#include "foundation/base/ApplicationIdentity.h"
#include "foundation/base/CException.h"
#include "foundation/base/VSingleton.h"
#include "foundation/base/FormatString.h"

const char* const CReaderFactory::kSettingsKey = "Software\\" COMPANY_KEY "\\Quarvel\\Reader0";

namespace {

// Its semaphore is made once per process: after the factory is gone at exit, no new one is built.
VOQ::VSingleton<CReaderFactory> g_singleton(VSingletonSemaphore::kMadeOnce);

// The Reader0 key, opened for reading and closed with the object.
class SettingsKey {
 public:
  SettingsKey() {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &m_key) != ERROR_SUCCESS)
      m_key = nullptr;
  }
  ~SettingsKey() {
    if (m_key) RegCloseKey(m_key);
  }
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  bool isOpen() const { return m_key != nullptr; }

  // A value counts only as REG_SZ shorter than the buffer; it may lack its NUL.
  bool read(const char* name, DWORD capacity, std::string& out) const {
    if (!m_key) return false;
    std::vector<BYTE> buffer(capacity);
    DWORD type = 0, size = capacity;
    if (RegQueryValueExA(m_key, name, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ || size >= capacity) return false;
    const char* text = reinterpret_cast<const char*>(buffer.data());
    out.assign(text, strnlen(text, size));
    return true;
  }

 private:
  HKEY m_key = nullptr;
};

// "No" switches a setting off; any other text, or none, leaves it on.
unsigned char onUnlessNo(const SettingsKey& key, const char* name, DWORD capacity) {
  std::string value;
  return key.read(name, capacity, value) && value == "No" ? 0 : 1;
}

}  // namespace

CReaderFactory::CReaderFactory() {
  logObject(this, kConstructed);
  std::atexit(&CReaderFactory::destroy);
}

CReaderFactory::~CReaderFactory() {
  log("dtor", "started.\n", 4, kPush);
  std::lock_guard<std::mutex> hold(m_cacheLock);
  // A reader another thread still uses is deleted when that use ends.
  for (auto& entry : m_readers) {
    log("dtor", VOQ::formatString("Try to delete Reader at: 0x%p.\n", static_cast<void*>(entry.second.get())).c_str(),
        4, 0);
    entry.second.reset();
    log("dtor", VOQ::formatString("Reader: %s deleted.\n", entry.first.c_str()).c_str(), 4, 0);
  }
  m_readers.clear();
  log("dtor", "Try to close semaphore.\n", 4, 0);
  g_singleton.forget(this);
  log("dtor", "Semaphore closed.\n", 4, kPop);
  logObject(this, kDestroyed);
}

void CReaderFactory::destroy() { delete g_singleton.get(); }

int CReaderFactory::getSize() const { return static_cast<int>(sizeof(CReaderFactory)); }

void CReaderFactory::lock() {
  switch (g_singleton.semaphore().acquire()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReaderFactory::Lock", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CException("CReaderFactory::lock", "Semaphore hat falschen Wert.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

void CReaderFactory::unlock() {
  switch (g_singleton.semaphore().release()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReaderFactory::Unlock", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CException("CReaderFactory::Unlock", "Kann Semaphore nicht zurücksetzen.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

CReaderFactory* CReaderFactory::singleton() {
  return g_singleton.getOrMake(&lock, &unlock, [] { return std::unique_ptr<CReaderFactory>(new CReaderFactory()); });
}

CReader* CReaderFactory::getInstance() {
  CReaderFactory* factory = singleton();
  return factory ? factory->getReader() : nullptr;
}

std::shared_ptr<CReader> CReaderFactory::getSharedInstance() {
  CReaderFactory* factory = singleton();
  return factory ? factory->getSharedReader() : nullptr;
}

int CReaderFactory::releaseInstance(CReader* reader) {
  CReaderFactory* factory = singleton();
  return factory ? factory->releaseReader(reader) : 0;
}

CReader* CReaderFactory::getReader() { return getSharedReader().get(); }

std::shared_ptr<CReader> CReaderFactory::getSharedReader() {
  log("getReader", "started.\n", 3, kPush);
  std::lock_guard<std::mutex> hold(m_cacheLock);
  std::shared_ptr<CReader> reader;
  CReader* built = nullptr;
  SettingsKey key;
  std::string ctapi;
  if (key.read("ctapi", 32, ctapi)) {
    if (ctapi != "PCSC") {
      std::string port;
      if (key.read("Port", 10, port)) {
        auto found = m_readers.find(ctapi);
        if (found != m_readers.end()) {
          reader = found->second;
        } else if ((built = constructReader("Reader", static_cast<unsigned short>(std::strtol(port.c_str(), nullptr, 10))))) {
          reader = m_readers[ctapi] = std::shared_ptr<CReader>(built);
        }
      }
    } else {
      std::string name;
      if (key.read("ReaderName", 256, name)) {
        log("getReader", "PC/SC Reader found in registry, name is:", 4, 0);
        log(nullptr, (name + "\n").c_str(), 4, 0);
        if (!name.empty()) {
          auto found = m_readers.find(name);
          if (found != m_readers.end()) {
            reader = found->second;
          } else if (constructPCSCReader("Reader0", name.c_str(), &built) == 0 && built) {
            reader = m_readers[name] = std::shared_ptr<CReader>(built);
          }
        }
      }
    }
  }
  for (auto& entry : m_readers)
    log("getReader", VOQ::formatString("Name: %s, Objekt: 0x%p.\n", entry.first.c_str(),
                                            static_cast<void*>(entry.second.get())).c_str(),
        5, 0);
  log("getReader", VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(reader.get())).c_str(), 3, kPop);
  return reader;
}

int CReaderFactory::releaseReader(CReader* reader) {
  log("releaseInstance", VOQ::formatString("Parameter: 0x%p.\n", static_cast<void*>(reader)).c_str(), 4, kPush);
  std::shared_ptr<CReader> released;
  std::string name;
  int result = 0;
  {
    std::lock_guard<std::mutex> hold(m_cacheLock);
    for (auto it = m_readers.begin(); reader && it != m_readers.end(); ++it) {
      if (it->second.get() == reader) {
        released = std::move(it->second);
        name = it->first;
        m_readers.erase(it);
        result = 1;
        break;
      }
    }
  }
  if (result) {
    // A call under way on it ends first; from then on no call finds the reader or
    // its cards. It is deleted here, or when a call that holds it now ends.
    {
      VCriticalSectionLock hold(released->lockSection());
      peers::forgetWithCards(released.get());
    }
    released.reset();
    log("releaseInstance", VOQ::formatString("deleting Reader: %s.\n", name.c_str()).c_str(), 4, 0);
  }
  log("releaseInstance", VOQ::formatString("returned: 0x%x.\n", result).c_str(), 4, kPop);
  return result;
}

int CReaderFactory::getCTAPIname(const char* section, std::string& out) {
  if (!section) {
    log("getCTAPIname", "Section: NULL, started.\n", 4, 0);
    return 0;
  }
  log("getCTAPIname", VOQ::formatString("Section: %s, started.\n", section).c_str(), 4, kPush);
  SettingsKey key;
  const int result = key.read("ctapi", 32, out) ? 1 : 0;
  log("getCTAPIname", VOQ::formatString("returned: 0x%x.\n", result).c_str(), 4, kPop);
  return result;
}

CReader* CReaderFactory::constructReader(const char* section, unsigned short port) {
  log("constructReader", VOQ::formatString("Name: %s. started.\n", section ? section : "(null)").c_str(), 4,
      kPush);
  std::unique_ptr<CReader_CTAPI> reader;
  std::string driver;
  if (getCTAPIname(section, driver)) {
    setCTAPIDll(driver);
    if (ctInitInThread(1, port) == 0) {
      // From here on the terminal is open: every way out that builds no reader closes it.
      bool built = false;
      unsigned char dad = 1, sad = 2;
      unsigned char command[] = {0x20, 0x11, 0x00, 0x00};
      unsigned char response[256];
      unsigned short length = sizeof response;
      if (ctData(1, &dad, &sad, sizeof command, command, &length, response) == 0) {
        std::string maker;
        int identified = -1;
        {
          CReader_CTAPI temp(driver, 1, "temp", 0, 0);
          try {
            identified = temp.getCT(maker);
          } catch (const std::exception&) {
            identified = -1;  // an answer without status word
          }
        }
        SettingsKey key;
        if (identified == 0 && key.isOpen()) {
          const unsigned char isSecure = onUnlessNo(key, "isSecure", 32);
          const unsigned char useGUI = onUnlessNo(key, "UseGUI", 32);
          reader = std::make_unique<CReader_CTAPI>(driver, 1, section, useGUI, 1);
          if (!isSecure) reader->setSecure(0);
          built = true;
        }
      }
      if (!built) {
        setCTAPIDll(driver);
        ctClose(1);
      }
    }
  }
  log("constructReader", VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(reader.get()))).c_str(), 4, kPop);
  return reader.release();
}

int CReaderFactory::constructPCSCReader(const char* section, const char* name, CReader** out) {
  log("constructPCSCReader", "started.\n", 4, kPush);
  int result = cardresult::kNoPCSCReader;
  if (out) *out = nullptr;
  unsigned char useGUI = 1, useBeep = 0, isSecure = 1;
  int shareMode = SCARD_SHARE_EXCLUSIVE, userMessage = 0;
  {
    SettingsKey key;
    std::string value;
    if (key.read("ShareMode", 1024, value)) {
      const long mode = std::strtol(value.c_str(), nullptr, 10);
      shareMode = mode >= 1 && mode <= 3 ? static_cast<int>(mode) : SCARD_SHARE_EXCLUSIVE;
    }
    log("constructPCSCReader", VOQ::formatString("ShareMode is %d.\n", shareMode).c_str(), 4, 0);
    useGUI = onUnlessNo(key, "UseGUI", 1024);
    if (key.read("UseBeep", 1024, value) && value == "Yes") useBeep = 1;
    if (key.read("UserMessage", 1024, value)) {
      const long message = std::strtol(value.c_str(), nullptr, 10);
      userMessage = message >= 0 && message <= 2 ? static_cast<int>(message) : 0;
    }
    log("constructPCSCReader", VOQ::formatString("userMessage is %d.\n", userMessage).c_str(), 4, 0);
    isSecure = onUnlessNo(key, "isSecure", 1024);
  }
  SCARDCONTEXT hCtx = 0;
  if (!out || !name || SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &hCtx) != SCARD_S_SUCCESS) {
    log("constructPCSCReader", "could not establish SCard context\n", 0, 0);
  } else {
    log("constructPCSCReader", VOQ::formatString("SCard context established, hCtx is 0x%x.\n",
                                                      static_cast<unsigned>(hCtx)).c_str(),
        4, 0);
    char list[1024];
    DWORD length = sizeof list;
    if (SCardListReadersA(hCtx, SCARD_DEFAULT_READERS, list, &length) != SCARD_S_SUCCESS) {
      log("constructPCSCReader", "could not list SCard readers\n", 0, 0);
    } else {
      const bool dynamic = std::strncmp(name, "dynamic", 7) == 0;
      const long wanted = section && std::strlen(section) > 6 ? std::strtol(section + 6, nullptr, 10) : 0;
      const size_t prefix = std::strlen(name);
      long position = 0;
      for (size_t i = 0; i < length && list[i]; i += std::strlen(list + i) + 1, ++position) {
        const char* listed = list + i;
        if (std::strncmp(listed, name, prefix) == 0 || (dynamic && position == wanted)) {
          log("constructPCSCReader", VOQ::formatString("Reader found: %s.\n", listed).c_str(), 4, 0);
          *out = new CReader_PCSC(listed, hCtx, shareMode, useGUI, useBeep, isSecure, userMessage);
          result = cardresult::kOk;
          break;
        }
      }
    }
    // A context without a reader to own it would stay open for ever.
    if (result != cardresult::kOk) SCardReleaseContext(hCtx);
  }
  log("constructPCSCReader", VOQ::formatString("returned: %lu, reader is 0x%x.\n", static_cast<DWORD>(result),
                                                    static_cast<unsigned>(reinterpret_cast<uintptr_t>(out ? *out : nullptr))).c_str(),
      4, kPop);
  return result;
}
