// The card channel: turns a command record into bytes, hands them to the transport
// (CT_data of the CT-API driver or SCardTransmit of the PC/SC service) and splits
// the answer into response data and status word.
#pragma once

#include <string>

#include <winscard.h>

#include "cardaccess/reader/CAPDU.h"
#include "foundation/core/CLogable.h"
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

// Lower-case hexadecimal, two characters per byte.
std::string toHex(const std::string& bytes);

class CICC_base : public CLogable {
 public:
  CICC_base();
  ~CICC_base() override;
  CICC_base(const CICC_base&) = delete;
  CICC_base& operator=(const CICC_base&) = delete;

  int getSize() const override;
  // Sends the bytes; the transport result (0 = success), the answer in response.
  virtual int doIO(const std::string& command, std::string& response) = 0;

  // 0 when an answer arrived (its status word in apdu.response.SW), otherwise
  // 0x80010000 | the low 16 bits of the transport result; an answer shorter than
  // the status word is such a failure too, the malformed answer (a card operation
  // sees 0x80030100), and leaves the record as it was. Throws
  // VOQ::CNoSuchObjectException for an unset CLA, INS, P1 or P2 (nothing is sent).
  int perform(CAPDU& apdu);

  // The bytes perform sends for a command.
  static std::string encode(const CAPDU& apdu);
  // CLA, INS, P1 and P2; the first unset one throws VOQ::CNoSuchObjectException.
  static std::string header(const CCommandAPDU& command);
  // Response data and status word of an answer; false, and the response left as it
  // was, for an answer shorter than its status word.
  static bool split(const std::string& answer, CResponseAPDU& response);
};

class CICC : public CICC_base {
 public:
  enum Kind : unsigned char { kCTAPI = 0, kPCSC = 1 };
  // Receive buffer of every exchange.
  static constexpr unsigned kResponseCapacity = 300;

  // A CT-API channel: driver name, terminal number, source and destination address.
  CICC(const std::string& name, unsigned short ctn, unsigned char sad, unsigned char dad);
  // A PC/SC channel to the named reader, not connected.
  explicit CICC(const std::string& name);
  ~CICC() override;

  int getSize() const override;
  int doIO(const std::string& command, std::string& response) override;

  void setHandle(SCARDHANDLE hCard) { m_hCard = hCard; }
  SCARDHANDLE getHandle() const { return m_hCard; }
  const std::string& getName() const { return m_name; }
  unsigned short getCtn() const { return m_ctn; }
  unsigned char getKind() const { return m_kind; }
  unsigned char getSad() const { return m_sad; }
  unsigned char getDad() const { return m_dad; }

 private:
  int transmitPCSC(const std::string& command, std::string& response);
  int transmitCTAPI(const std::string& command, std::string& response);

  unsigned short m_ctn = 0;
  std::string m_name;
  unsigned char m_kind;
  SCARDHANDLE m_hCard = 0;
  unsigned char m_dad = 0;
  unsigned char m_sad = 0;
};

QUARVEL_CARD_NAMESPACE_END
