#include "cardvariant/CReaderFactory.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include <winscard.h>

#include "cardaccess/card/CBuffer.h"
#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardvariant/CSCardFactory.h"
#include "cardvariant/CdllFactory.h"
#include "cardvariant/Settings.h"
#include "certcheck/VOQ_Configuration.h"
#include "cardvariant/Utilities.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

constexpr const char* kReaderKey = "Reader";
constexpr int kNoPCSCReader = static_cast<int>(0x80000004u);
constexpr unsigned short kTerminal = 1;

std::atomic<unsigned short> g_terminalNumber{1};

// A decimal setting within [low, high], else the fallback.
int decimalSetting(const char* name, int low, int high, int fallback) {
  const std::optional<std::string> text = findText(kReaderKey, name);
  if (!text) return fallback;
  const int value = std::atoi(text->c_str());
  return value >= low && value <= high ? value : fallback;
}

bool textIs(const char* name, const char* expected) {
  const std::optional<std::string> text = findText(kReaderKey, name);
  return text && *text == expected;
}

}  // namespace

VOQ::VSingleton<CReaderFactory> CReaderFactory::s_singleton(VSingletonSemaphore::kMadeOnce);

void CReaderFactory::Lock() {
  switch (s_singleton.semaphore().acquire()) {
    case VSingletonSemaphore::kOk: return;
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReaderFactory::Lock", "kein Semaphore.\n");
    default: throw VOQ::CException("CReaderFactory::lock", "Semaphore hat falschen Wert.\n");
  }
}

void CReaderFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kOk: return;
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CReaderFactory::Unlock", "kein Semaphore.\n");
    default: throw VOQ::CException("CReaderFactory::Unlock", "Kann Semaphore nicht zurücksetzen.\n");
  }
}

CReaderFactory* CReaderFactory::instance() {
  return s_singleton.getOrMake(&Lock, &Unlock, [] {
    // Made first, the recognition is deleted after the readers at exit.
    CSCardFactory::install();
    std::unique_ptr<CReaderFactory> factory(new CReaderFactory());
    std::atexit(&CReaderFactory::deleteAtExit);
    return factory;
  });
}

void CReaderFactory::deleteAtExit() { delete s_singleton.get(); }

CReader* CReaderFactory::getInstance() { return instance()->getReader(); }

std::shared_ptr<CReader> CReaderFactory::getSharedInstance() { return instance()->getSharedReader(); }

int CReaderFactory::releaseInstance(CReader* reader) { return instance()->releaseReader(reader); }

CReaderFactory::CReaderFactory() { logObject(this, kConstructed); }

CReaderFactory::~CReaderFactory() {
  log("dtor", "started.\n", 4, kFlush);
  std::lock_guard<std::mutex> hold(m_cacheLock);
  // A reader another thread still uses is deleted when that use ends.
  for (auto& entry : m_readers) {
    log("dtor", VOQ::formatString("Try to delete Reader at: 0x%p.\n", static_cast<void*>(entry.second.get())).c_str(),
        4, kFlush);
    entry.second.reset();
    log("dtor", VOQ::formatString("Reader: %s deleted.\n", entry.first.c_str()).c_str(), 4, kFlush);
  }
  m_readers.clear();
  log("dtor", "Try to close semaphore.\n", 4, kFlush);
  s_singleton.forget(this);
  log("dtor", "Semaphore closed.\n", 4, kFlush);
  logObject(this, kDestroyed);
}

unsigned short CReaderFactory::nextTerminalNumber() { return g_terminalNumber.fetch_add(1); }

void CReaderFactory::resetTerminalNumber() { g_terminalNumber.store(1); }

CReader* CReaderFactory::getReader() { return getSharedReader().get(); }

std::shared_ptr<CReader> CReaderFactory::getSharedReader() {
  log("getReader", "started.\n", 3, kPush);
  std::lock_guard<std::mutex> hold(m_cacheLock);
  std::shared_ptr<CReader> result;
  const std::optional<std::string> driver = findText(kReaderKey, "CTAPI");
  if (driver) {
    log("getReader", "CT-API entry found", 4, 0);
    if (*driver == "PCSC") {
      log("getReader", "PC/SC reader configured", 4, 0);
      const std::optional<std::string> stored = findText(kReaderKey, "Status0");
      if (stored) {
        log("getReader", "PC/SC Reader found in config, name is:", 4, 0);
        log("getReader", stored->c_str(), 4, 0);
        CBuffer name;
        try {
          name.fromHex(stored->c_str());
        } catch (...) {
          log(nullptr, "", 3, kPop);
          throw;
        }
        // The name ends at a zero byte, as a text would.
        const std::string readerName(name.c_str());
        if (!readerName.empty()) {
          auto found = m_readers.find(readerName);
          CReader* built = nullptr;
          if (found != m_readers.end()) {
            result = found->second;
          } else if (constructPCSCReader("Reader0", readerName.c_str(), &built) == 0 && built != nullptr) {
            result = m_readers[readerName] = std::shared_ptr<CReader>(built);
          }
        }
      }
    } else {
      for (int i = 0; i <= 8; ++i) {
        const VOQ_ConfigurationEntry* port = findSetting(kReaderKey, VOQ::formatString("Port%i", i).c_str());
        if (port == nullptr) continue;
        auto found = m_readers.find(*driver);
        if (found != m_readers.end()) {
          result = found->second;
        } else {
          result.reset(constructReader(kReaderKey, static_cast<unsigned short>(port->getDword() & 0xFFFF)));
          if (result != nullptr) m_readers[*driver] = result;
        }
      }
    }
  }
  for (auto& entry : m_readers)
    log("getReader",
        VOQ::formatString("Name: %s, Objekt: 0x%p.\n", entry.first.c_str(), static_cast<void*>(entry.second.get()))
            .c_str(),
        5, 0);
  log("getReader", VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(result.get())).c_str(), 3, kPop);
  return result;
}

int CReaderFactory::releaseReader(CReader* reader) {
  log("releaseInstance", VOQ::formatString("Parameter: 0x%p.\n", static_cast<void*>(reader)).c_str(), 4, 0);
  int result = 0;
  std::shared_ptr<CReader> released;
  std::string name;
  if (reader != nullptr) {
    std::lock_guard<std::mutex> hold(m_cacheLock);
    for (auto it = m_readers.begin(); it != m_readers.end(); ++it) {
      if (it->second.get() != reader) continue;
      released = std::move(it->second);
      name = it->first;
      m_readers.erase(it);
      result = 1;
      break;
    }
  }
  if (result) {
    // Deleted here, or when a call another thread has under way on it ends.
    released.reset();
    log("releaseReader", VOQ::formatString("deleting Reader: %s.\n", name.c_str()).c_str(), 4, 0);
  }
  log("releaseReader", VOQ::formatString("returned: 0x%x.\n", result).c_str(), 4, kFlush);
  return result;
}

int CReaderFactory::getCTAPIname(const char* subKey, std::string& out) {
  if (subKey == nullptr) {
    log("getCTAPIname", "Section: NULL, started.\n", 4, 0);
    log("getCTAPIname", "returned: 0x0.\n", 4, 0);
    return 0;
  }
  log("getCTAPIname", VOQ::formatString("Parameter: %s, started.\n", subKey).c_str(), 4, 0);
  const std::optional<std::string> name = findText(subKey, "CTAPI");
  if (name) out = *name;
  log("getCTAPIname", VOQ::formatString("returned: 0x%x.\n", name ? 1 : 0).c_str(), 4, 0);
  return name ? 1 : 0;
}

CReader_CTAPI* CReaderFactory::constructReader(const char* subKey, unsigned short port) {
  log("constructReader", VOQ::formatString("Name: %s. started.\n", subKey ? subKey : "").c_str(), 4, 0);
  CReader_CTAPI* reader = nullptr;
  std::string driver;
  if (getCTAPIname(subKey, driver)) {
    setCTAPIDll(driver);
    if (ctInit(kTerminal, port) == 0) {
      unsigned char dad = 1, sad = 2;
      const unsigned char resetCT[] = {0x20, 0x11, 0x00, 0x00};
      unsigned char answer[256];
      unsigned short length = sizeof answer;
      std::string identification;
      bool ready = ctData(kTerminal, &dad, &sad, sizeof resetCT, resetCT, &length, answer) == 0;
      if (ready) {
        CReader_CTAPI probe(driver, kTerminal, "temp", 0, 0);
        ready = probe.getCT(identification) == 0;
      }
      if (ready) {
        const std::string hex = CBuffer(identification).toHex();
        for (int i = 0; i <= 10 && reader == nullptr; ++i) {
          const std::optional<std::string> value = findText(subKey, VOQ::formatString("Status%i", i).c_str());
          if (!value) continue;
          const std::string compared = hex.substr(0, std::min(value->size(), hex.size()));
          log("constructReader",
              VOQ::formatString("Reader compare: %s, %s.\n", compared.c_str(), value->c_str()).c_str(), 4, 0);
          // An empty value matches every terminal: the administrator's choice.
          if (*value != compared) continue;
          const std::optional<std::string> useGUI = findText(subKey, "UseGUI");
          if (!textIs("isSecure", "Yes") || !useGUI) continue;
          reader = new CReader_CTAPI(driver, kTerminal, subKey, *useGUI == "No" ? 0 : 1, 1);
        }
      }
      if (reader == nullptr) ctClose(kTerminal);
    }
  }
  log("constructReader", VOQ::formatString("returned: 0x%x.\n",
                                                static_cast<unsigned>(reinterpret_cast<uintptr_t>(reader))).c_str(),
      4, 0);
  return reader;
}

int CReaderFactory::constructPCSCReader(const char* section, const char* readerName, CReader** out) {
  int result = kNoPCSCReader;
  *out = nullptr;
  log("constructPCSCReader", VOQ::formatString("Name: %s. started.\n", readerName).c_str(), 4, 0);
  const int shareMode = decimalSetting("ShareMode", 1, 3, 1);
  const int userMessage = decimalSetting("UserMessage", 0, 2, 0);
  log("constructPCSCReader", VOQ::formatString("ShareMode is %d.\n", shareMode).c_str(), 4, 0);
  log("constructPCSCReader", VOQ::formatString("userMessage is %d.\n", userMessage).c_str(), 4, 0);
  const std::optional<std::string> useGUI = findText(kReaderKey, "UseGUI");
  const unsigned char gui = useGUI && *useGUI == "No" ? 0 : 1;
  const unsigned char beep = textIs("UseBeep", "Yes") ? 1 : 0;
  const unsigned char secure = textIs("isSecure", "Yes") ? 1 : 0;

  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    log("constructPCSCReader", "could not establish SCard context", 0, 0);
  } else {
    log("constructPCSCReader",
        VOQ::formatString("SCard context established, hCtx is 0x%x.\n", static_cast<unsigned>(context)).c_str(), 4,
        0);
    std::vector<char> names(1024);
    DWORD length = static_cast<DWORD>(names.size());
    if (SCardListReadersA(context, "SCard$DefaultReaders", names.data(), &length) != SCARD_S_SUCCESS) {
      log("constructPCSCReader", "could not list SCard readers", 0, 0);
      SCardReleaseContext(context);
    } else {
      const std::string wanted(readerName);
      const bool dynamic = wanted.compare(0, 7, "dynamic") == 0;
      const int wantedPosition = section && std::strlen(section) > 6 ? std::atoi(section + 6) : -1;
      const char* match = nullptr;
      int position = 0;
      const char* end = names.data() + std::min<size_t>(length, names.size());
      for (const char* name = names.data(); name < end && *name != '\0'; name += std::strlen(name) + 1, ++position) {
        if (std::strncmp(wanted.c_str(), name, wanted.size()) == 0 || (dynamic && position == wantedPosition)) {
          match = name;
          break;
        }
      }
      if (match != nullptr) {
        log("constructPCSCReader", VOQ::formatString("Reader found: %s.\n", match).c_str(), 4, 0);
        *out = new CReader_PCSC(match, context, shareMode, gui, beep, secure, userMessage);
        result = 0;
      } else {
        SCardReleaseContext(context);
      }
    }
  }
  log("constructPCSCReader",
      VOQ::formatString("returned: %lu, reader is 0x%x.\n", static_cast<unsigned long>(static_cast<unsigned>(result)),
                             static_cast<unsigned>(reinterpret_cast<uintptr_t>(*out))).c_str(),
      4, 0);
  return result;
}

int CReaderFactory::initCTAPITerminal(const char* driverName, unsigned short* ctn) {
  if (driverName == nullptr || ctn == nullptr) return 0;
  setCTAPIDll(driverName);
  for (unsigned short port = 1; port <= 4; ++port) {
    if (ctInit(*ctn, port) == 0) {
      if (std::strcmp(driverName, "CT-API INGENICO Smartup") == 0 && !isWindowsNT4()) return 1;
      unsigned char dad = 1, sad = 2;
      const unsigned char resetCT[] = {0x20, 0x11, 0x00, 0x00};
      unsigned char answer[256];
      unsigned short length = sizeof answer;
      if (ctData(*ctn, &dad, &sad, sizeof resetCT, resetCT, &length, answer) == 0) return 1;
    }
    ctClose(*ctn);
    ++*ctn;
  }
  return 0;
}

}  // namespace cardvariant
