#include "cardaccess/scan/CwxReaderScan.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/scan/ReaderDialog.h"
#include "foundation/base/FormatString.h"

const char* const CwxReaderScan::kDriverNames[kDriverCount] = {"ctrsct32.dll", "ct32.dll",     "ChyCTApiSp.dll",
                                                               "CTpcsc32.dll", "CTpcsc24.dll", "CT_Signator.dll"};

namespace {

constexpr unsigned char kTerminal = 1, kHost = 2;
constexpr int kResponseSize = 256;
constexpr unsigned short kResponseCapacity = 255;
constexpr int kMakerLength = 15;
constexpr int kMakerHexOffset = 17;

// The settings values and the buffers they are read into.
struct SettingsValue {
  const char* name;
  DWORD buffer;
};
constexpr SettingsValue kReaderName{"ReaderName", 256}, kPort{"Port", 10}, kCtapi{"ctapi", 32},
    kIsSecure{"isSecure", 32}, kUseGUI{"UseGUI", 32};

// A REG_SZ shorter than its buffer, else empty. The value may have been stored
// without its terminating zero: the text ends where the data end.
std::string readValue(HKEY key, const SettingsValue& value) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, value.name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
  if (type != REG_SZ || size >= value.buffer) return std::string();
  std::vector<char> buffer(value.buffer, '\0');
  DWORD read = value.buffer;
  if (RegQueryValueExA(key, value.name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read) !=
          ERROR_SUCCESS ||
      type != REG_SZ || read >= value.buffer)
    return std::string();
  return std::string(buffer.data(), strnlen(buffer.data(), read));
}

// Stored with its terminating zero, so that every reader of the value finds its end.
void writeValue(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text) + 1));
}

std::string hexLine(const unsigned char* bytes, int length) {
  std::string line;
  for (int i = 0; i < length; ++i) line += VOQ::formatString("%02x ", bytes[i]);
  return line + "\n";
}

}  // namespace

void formatCTAPIRow(int port, const unsigned char* units, int unitsLength, const unsigned char* maker,
                    int makerLength, char row[CwxReaderScan::kCTAPIRowLength]) {
  static const char kHex[] = "0123456789ABCDEF";
  unitsLength = units ? std::max(0, unitsLength) : 0;
  makerLength = maker ? std::max(0, makerLength) : 0;

  // A PIN pad is a 'P' among the functional units: the object's value, as far as
  // its length byte says and the terminal actually returned it (without the status word).
  bool pinPad = false;
  if (unitsLength >= 2) {
    const int end = std::min(2 + static_cast<int>(units[1]), unitsLength - 2);
    for (int i = 2; i < end && !pinPad; ++i) pinPad = units[i] == 'P';
  }

  // The maker text: the value of object 46, or the whole answer when the terminal
  // sent it without tag; never more than 15 bytes and never past the returned data.
  int start = 0, length = 0;
  if (makerLength >= 1 && maker[0] == 0x46) {
    start = 2;
    length = makerLength < 19 ? makerLength - 4 : kMakerLength;
  } else {
    length = makerLength < 17 ? makerLength - 2 : kMakerLength;
  }
  length = std::max(0, std::min(length, makerLength - start));
  for (int i = 0; i < length; ++i) {
    if (maker[start + i] == 0) {
      length = i;
      break;
    }
  }

  std::memset(row, ' ', CwxReaderScan::kCTAPIRowLength);
  std::memset(row + kMakerHexOffset, '0', CwxReaderScan::kCTAPIRowLength - kMakerHexOffset);
  row[0] = static_cast<char>('1' + port - 1);
  row[1] = pinPad ? '1' : '0';
  for (int i = 0; i < length; ++i) {
    const unsigned char c = maker[start + i];
    row[2 + i] = static_cast<char>(c);
    row[kMakerHexOffset + 2 * i] = kHex[c >> 4];
    row[kMakerHexOffset + 2 * i + 1] = kHex[c & 0xF];
  }
}

CwxReaderScan::CwxReaderScan() {
  logObject(this, kConstructed);
  loadReaderSettings();
}

CwxReaderScan::~CwxReaderScan() {
  for (HMODULE& module : m_modules) {
    if (module) FreeLibrary(module);
    module = nullptr;
  }
  m_choice.reset();
  logObject(this, kDestroyed);
}

int CwxReaderScan::getSize() const { return static_cast<int>(sizeof(CwxReaderScan)); }

void CwxReaderScan::setChoice(const ReaderChoice& choice) {
  auto copy = std::make_unique<ReaderChoice>(choice);
  m_choice = std::move(copy);  // the given record may be the one this replaces
}

void CwxReaderScan::loadReaderSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  const std::string readerName = readValue(key, kReaderName);
  const std::string port = readValue(key, kPort);
  const std::string ctapi = readValue(key, kCtapi);
  const unsigned char isSecure = readValue(key, kIsSecure) == "Yes" ? 1 : 0;
  const unsigned char useGUI = readValue(key, kUseGUI) == "Yes" ? 1 : 0;
  RegCloseKey(key);
  m_choice = std::make_unique<ReaderChoice>(readerName.c_str(), port.c_str(), ctapi.c_str(), isSecure, useGUI);
}

void CwxReaderScan::saveReaderSettings() {
  if (!m_choice) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  writeValue(key, kReaderName.name, m_choice->getReaderName());
  writeValue(key, kPort.name, m_choice->getPort());
  writeValue(key, kCtapi.name, m_choice->getCTAPI());
  writeValue(key, kUseGUI.name, m_choice->getUseGUI() ? "Yes" : "No");
  RegCloseKey(key);
}

void CwxReaderScan::CT_query(HWND hwnd, int* count, char* rows) {
  auto address = [](const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); };
  log("CT_query", VOQ::formatString("\tCT_query: hwnd is 0x%x.\n", address(hwnd)).c_str(), 4, kPush);
  log("CT_query", VOQ::formatString("\tCT_query: lpIValue is 0x%x.\n", address(count)).c_str(), 4, 0);
  if (count)
    log("CT_query", VOQ::formatString("\tCT_query: *lpIValue is 0x%x.\n", static_cast<unsigned>(*count)).c_str(),
        4, 0);
  log("CT_query", VOQ::formatString("\tCT_query: lpszValue is 0x%x.\n", address(rows)).c_str(), 4, 0);
  if (count) *count = 0;
  if (!count || !rows) {
    log("CT_query", "returned.\n", 4, kPop);
    return;
  }
  char* next = rows;
  for (int i = 0; i < kDriverCount && *count < kMaxCTAPIRows; ++i) {
    if (!m_modules[i]) m_modules[i] = LoadLibraryA(kDriverNames[i]);
    if (!m_modules[i]) continue;
    log("CT_query", VOQ::formatString("\tLibrary %s found.\n", kDriverNames[i]).c_str(), 4, 0);
    m_CT_init[i] = reinterpret_cast<CT_initFunction>(GetProcAddress(m_modules[i], "CT_init"));
    m_CT_data[i] = reinterpret_cast<CT_dataFunction>(GetProcAddress(m_modules[i], "CT_data"));
    m_CT_close[i] = reinterpret_cast<CT_closeFunction>(GetProcAddress(m_modules[i], "CT_close"));
    if (!m_CT_init[i] || !m_CT_data[i] || !m_CT_close[i]) continue;
    // The area holds 43 whole rows; six drivers on nine ports could answer with 54.
    for (unsigned short p = 1; p <= kMaxPorts && *count < kMaxCTAPIRows; ++p) {
      if (m_CT_init[i](p, p) != 0) continue;
      auto status = [&](unsigned char object, unsigned char* response, int* length) {
        unsigned char command[] = {0x20, 0x13, 0x00, object, 0x00};
        unsigned char dad = kTerminal, sad = kHost;
        unsigned short lenr = kResponseCapacity;
        const signed char result = m_CT_data[i](p, &dad, &sad, sizeof command, command, &lenr, response);
        // A driver that claims more than the buffer holds gets no further than the buffer.
        *length = std::min<int>(lenr, kResponseCapacity);
        return result == 0;
      };
      unsigned char units[kResponseSize] = {};
      unsigned char maker[kResponseSize] = {};
      int unitsLength = 0, makerLength = 0;
      if (status(0x81, units, &unitsLength) && status(0x46, maker, &makerLength)) {
        log("CT_query", hexLine(maker, makerLength).c_str(), 4, 0);
        formatCTAPIRow(p, units, unitsLength, maker, makerLength, next);
        log("CT_query", VOQ::formatString("%47.47s\n", next).c_str(), 4, 0);
        next += kCTAPIRowLength;
        ++*count;
      }
      m_CT_close[i](p);
    }
  }
  log("CT_query", "returned.\n", 4, kPop);
}

int CwxReaderScan::listPCSCReaders(int, int* count, char* rows) {
  if (!count) return 0;
  const int max = std::min(*count, kMaxPCSCRows);
  *count = 0;
  if (!rows || max <= 0) return 0;
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return 0;
  char list[1024];
  DWORD length = sizeof list;
  const LONG listed = SCardListReadersA(context, SCARD_DEFAULT_READERS, list, &length);
  SCardReleaseContext(context);
  if (listed != SCARD_S_SUCCESS || length == 0 || length > sizeof list) return 0;
  for (DWORD at = 0; at < length && list[at] && *count < max;) {
    const size_t nameLength = strnlen(list + at, length - at);
    char* row = rows + static_cast<size_t>(*count) * kPCSCRowLength;
    std::memset(row, ' ', kPCSCRowLength);
    std::memcpy(row, list + at, std::min<size_t>(nameLength, kPCSCRowLength));
    ++*count;
    at += static_cast<DWORD>(nameLength) + 1;
  }
  return 0;
}

int CwxReaderScan::displayReaderDialog() {
  log("displayReaderDialog", "started.\n", 4, kPush);
  int result = IDCANCEL;
  ReaderSelectionClaim claim;
  if (!claim.held()) {
    log("displayReaderDialog", "another reader selection is open.\n", 4, 0);
  } else {
    std::memset(m_ctapiRows, 0, sizeof m_ctapiRows);
    std::memset(m_pcscRows, 0, sizeof m_pcscRows);
    int n = 0;
    CT_query(nullptr, &n, m_ctapiRows);
    log("displayReaderDialog", VOQ::formatString("CT-API readers: %s\n", m_ctapiRows).c_str(), 4, 0);
    n = kMaxPCSCRows;
    listPCSCReaders(0, &n, m_pcscRows);
    log("displayReaderDialog", VOQ::formatString("PC/SC  readers: %s\n", m_pcscRows).c_str(), 4, 0);
    result = runReaderDialogClaimed(this);
    if (result == IDOK) saveReaderSettings();
  }
  log("displayReaderDialog", VOQ::formatString("returned: %d.\n", result).c_str(), 4, kPop);
  return result;
}
