#include "cardaccess/reader/CICC.h"

#include <windows.h>

#include "cardaccess/reader/ApduLog.h"
#include "cardaccess/reader/CTAPI.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

CICC_base::CICC_base() { logObject(this, kConstructed); }

CICC_base::~CICC_base() { logObject(this, kDestroyed); }

int CICC_base::getSize() const { return static_cast<int>(sizeof(CICC_base)); }

std::string CICC_base::header(const CCommandAPDU& c) {
  static const char* const where = "CICC_base::perform";
  std::string bytes;
  if (c.CLA == -1) throw VOQ::CNoSuchObjectException(where, "Klasse nicht initialisiert.\n");
  bytes += static_cast<char>(c.CLA);
  if (c.INS == -1) throw VOQ::CNoSuchObjectException(where, "Instruction nicht initialisiert.\n");
  bytes += static_cast<char>(c.INS);
  if (c.P1 == -1) throw VOQ::CNoSuchObjectException(where, "P1 nicht initialisiert.\n");
  bytes += static_cast<char>(c.P1);
  if (c.P2 == -1) throw VOQ::CNoSuchObjectException(where, "P2 nicht initialisiert.\n");
  bytes += static_cast<char>(c.P2);
  return bytes;
}

bool CICC_base::split(const std::string& answer, CResponseAPDU& response) {
  const size_t n = answer.size();
  if (n < 2) return false;
  response.SW = static_cast<unsigned char>(answer[n - 2]) * 256 + static_cast<unsigned char>(answer[n - 1]);
  response.data = answer.substr(0, n - 2);
  return true;
}

CICC::CICC(const std::string& name, unsigned short ctn, unsigned char sad, unsigned char dad)
    : m_ctn(ctn), m_name(name), m_kind(kCTAPI), m_dad(dad), m_sad(sad) {
  logObject(this, kConstructed);
}

CICC::CICC(const std::string& name) : m_name(name), m_kind(kPCSC) { logObject(this, kConstructed); }

CICC::~CICC() { logObject(this, kDestroyed); }

int CICC::getSize() const { return static_cast<int>(sizeof(CICC)); }

int CICC::doIO(const std::string& command, std::string& response) {
  log("doIO", "started.\n", 3, 0);
  const int result = m_kind == kPCSC ? transmitPCSC(command, response) : transmitCTAPI(command, response);
  logLazy("doIO", 3, 0, [&] { return VOQ::formatString("Returned: 0x%x.\n", result); });
  return result;
}

int CICC::transmitPCSC(const std::string& command, std::string& response) {
  logLazy("doIO", 4, 0, [&] {
    return VOQ::formatString("hCard: 0x%x, in: 0x%s.\n", static_cast<unsigned>(m_hCard),
                             apdulog::command(command).c_str());
  });
  const SCARD_IO_REQUEST send{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
  unsigned char buffer[kResponseCapacity];
  DWORD length = 0;
  LONG result = SCARD_S_SUCCESS;
  // The card may be busy or briefly away: four attempts in all, 100 ms apart.
  for (int attempt = 1;; ++attempt) {
    SCARD_IO_REQUEST receive{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
    length = sizeof buffer;
    result = SCardTransmit(m_hCard, &send, reinterpret_cast<const BYTE*>(command.data()),
                           static_cast<DWORD>(command.size()), &receive, buffer, &length);
    if (result == SCARD_S_SUCCESS || attempt == 4) break;
    logLazy("doIO", 0, 0, [&] { return VOQ::formatString("SCardTransmit returned: 0x%x, retrying.\n", result); });
    Sleep(100);
  }
  if (result == SCARD_S_SUCCESS) response.assign(reinterpret_cast<const char*>(buffer), length);
  logLazy("doIO", 4, 0, [&] {
    return VOQ::formatString("Result: 0x%02x, hCard: 0x%x, out: 0x%s.\n", result, static_cast<unsigned>(m_hCard),
                             result == SCARD_S_SUCCESS ? apdulog::response(command, response).c_str() : "");
  });
  return result;
}

int CICC::transmitCTAPI(const std::string& command, std::string& response) {
  logLazy("doIO", 4, 0, [&] {
    return VOQ::formatString("ctn: %d, sad: 0x%02x, dad: 0x%02x, in: 0x%s.\n", m_ctn, m_sad, m_dad,
                             apdulog::command(command).c_str());
  });
  setCTAPIDll(m_name);
  // The driver writes the answer's addresses back: it gets copies, never our own.
  unsigned char dad = m_dad, sad = m_sad;
  unsigned char buffer[kResponseCapacity];
  unsigned short length = sizeof buffer;
  const int result = ctData(m_ctn, &dad, &sad, static_cast<unsigned short>(command.size()),
                            reinterpret_cast<const unsigned char*>(command.data()), &length, buffer);
  if (result == 0) response.assign(reinterpret_cast<const char*>(buffer), length);
  logLazy("doIO", 4, 0, [&] {
    return VOQ::formatString("Result: 0x%02x, ctn: %d, sad: 0x%02x, dad: 0x%02x, out: 0x%s.\n", result, m_ctn, m_sad,
                             m_dad, result == 0 ? apdulog::response(command, response).c_str() : "");
  });
  return result;
}

QUARVEL_CARD_NAMESPACE_END
