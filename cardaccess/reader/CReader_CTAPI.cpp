#include "cardaccess/reader/CReader_CTAPI.h"

#include "cardaccess/reader/CTAPI.h"
#include "cardaccess/reader/CardRecognition.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace {

// Addresses of the CT-API: host, terminal, card in slot 1.
constexpr unsigned char kHost = 2, kCardSlot1 = 0;

CCommandAPDU ctbcs(int ins, int p1, int p2) { return CCommandAPDU(0x20, ins, p1, p2); }

CCommandAPDU withData(CCommandAPDU c, const std::string& data) {
  c.setData(data);
  return c;
}

CCommandAPDU withLe(CCommandAPDU c, int le) {
  c.setLe(le);
  return c;
}

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out += static_cast<char>(b);
  return out;
}

// Control byte of the CT-BCS PIN objects: the fixed length in the high nibble.
int controlByte(int base, int fixedLength) { return fixedLength > 0 ? ((fixedLength & 0xF) << 4) + base : base; }

std::string ff7() { return std::string(7, '\xFF'); }

}  // namespace

CReader_CTAPI::CReader_CTAPI(const std::string& driverName, unsigned short ctn, const std::string& name,
                             unsigned char useGUI, unsigned char ownsTerminal)
    : CReader(driverName, ctn, name, useGUI, 1), m_ownsTerminal(ownsTerminal) {
  logObject(this, kConstructed);
}

CReader_CTAPI::~CReader_CTAPI() {
  dropCard(true);
  m_cardChannel.reset();
  if (m_ownsTerminal) {
    // The driver name is process-wide: close this reader's terminal, not another driver's.
    setCTAPIDll(m_secondName);
    ctClose(m_ctn);
  }
  logObject(this, kDestroyed);
}

int CReader_CTAPI::getSize() const { return static_cast<int>(sizeof(CReader_CTAPI)); }

int CReader_CTAPI::terminal(CAPDU& apdu) { return m_channel.perform(apdu); }

void CReader_CTAPI::dropCardAndChannel() {
  dropCard(false);
  m_cardChannel.reset();
}

int CReader_CTAPI::takeAnswerToReset(const CAPDU& apdu) {
  const int sw = apdu.response.SW;
  if (sw == 0x9000 || sw == 0x9001) {
    const std::string& atr = apdu.response.data;
    m_cardChannel = std::make_unique<CICC>(m_secondName, m_ctn, kHost, kCardSlot1);
    CSCard* card = recognizeCard(atr, m_cardChannel.get(), this);
    if (!card) {
      m_cardChannel.reset();
      return cardresult::kCardNotRecognisedCTAPI;
    }
    takeCard(card, atr);
    return cardresult::kOk;
  }
  if (sw == 0x6401) return cardresult::kSecureEntryImpossible;
  return cardresult::statusWord(sw);
}

int CReader_CTAPI::connect(int) {
  log("connect", "started.\n", 3, kPush);
  int result = 0;
  if (!m_card) {
    CAPDU request(withLe(ctbcs(0x12, 0x01, 0x01), 0));
    int r = terminal(request);
    if (r == 0 && request.response.SW == 0x6201) {
      // The card is already there and active: reset it for a fresh ATR.
      CAPDU resetIcc(withLe(ctbcs(0x11, 0x01, 0x01), 0));
      r = terminal(resetIcc);
      request = resetIcc;
    }
    if (r != 0) {
      result = cardresult::transport(r);
    } else {
      m_cardChannel.reset();
      result = takeAnswerToReset(request);
    }
  }
  logLazy("connect", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::disconnect() {
  log("disconnect", "started.\n", 3, kPush);
  int result = 0;
  if (m_card) {
    CAPDU eject(ctbcs(0x15, 0x01, 0x04));
    const int r = terminal(eject);
    result = r != 0 ? cardresult::transport(r) : cardresult::plain(0, eject.response.SW);
  }
  // Card object and channel always go together: neither outlives the other.
  dropCard(true);
  m_cardChannel.reset();
  logLazy("disconnect", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::reset(bool) {
  log("reset", "started.\n", 3, kPush);
  dropCardAndChannel();
  CAPDU resetIcc(withLe(ctbcs(0x11, 0x01, 0x01), 0));
  const int r = terminal(resetIcc);
  const int result = r != 0 ? cardresult::transport(r) : takeAnswerToReset(resetIcc);
  logLazy("reset", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::getStatus(int unit) {
  log("getStatus", "started.\n", 3, kPush);
  int result;
  if (unit < 1 || unit > 255) {
    result = cardresult::kNotSupported;
  } else {
    CAPDU status(withLe(ctbcs(0x13, unit, 0x80), 0));
    const int r = terminal(status);
    const std::string& data = status.response.data;
    if (r != 0) {
      result = cardresult::transport(r);
    } else if (status.response.SW != 0x9000) {
      result = cardresult::statusWord(status.response.SW);
    } else if (data.empty()) {
      result = cardresult::kNotSupported;
    } else {
      const unsigned char tag = static_cast<unsigned char>(data[0]);
      logLazy("getStatus", 4, 0, [&] { return VOQ::formatString("Tag: 0x%x.\n", tag); });
      if (tag == 0x80) {
        // The status object 80 01 xx; a terminal that cuts it short has told nothing.
        result = data.size() >= 3 && data[1] != 0 ? static_cast<signed char>(data[2]) : cardresult::kNotSupported;
      } else {
        log("getStatus", "REINER SCT Workaround.\n", 4, 0);
        result = static_cast<signed char>(data[0]);
      }
    }
  }
  logLazy("getStatus", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::getCT(std::string& out) {
  log("getCT", "started.\n", 3, kPush);
  int result;
  CAPDU status(withLe(ctbcs(0x13, 0x00, 0x46), 0));
  const int r = terminal(status);
  const std::string& data = status.response.data;
  if (r != 0) {
    result = cardresult::transport(r);
  } else if (status.response.SW != 0x9000) {
    result = cardresult::statusWord(status.response.SW);
  } else if (data.size() < 2 || data.size() < 2u + static_cast<unsigned char>(data[1])) {
    // The object's length byte claims more than the terminal sent.
    result = cardresult::kNotSupported;
  } else {
    out = data.substr(2, static_cast<unsigned char>(data[1]));
    result = cardresult::kOk;
  }
  logLazy("getCT", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                                       unsigned char timeOut, const std::string* apdu, const std::string* displayText,
                                       int* status) {
  log("performVerification", "started.\n", 3, kPush);
  int result = 0;
  int statusOut = 0;
  if (!m_isSecure) {
    result = cardresult::kSecureEntryImpossible;
    logLazy("performVerification", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
    return result;
  }
  if (status) *status = 0;
  if (apdu && apdu->size() > 13) {
    result = cardresult::kSecureEntryImpossible;
    logLazy("performVerification", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
    return result;
  }
  std::string data;
  if (format == 0 || format == 2) {
    data = bytes({0x52, 0x0F, controlByte(format == 0 ? 0x01 : 0x02, fixedLength), insertionPosition & 0xFF, 0x00,
                  0x20, 0x00, keyReference, 0x08});
    data += format == 0 ? std::string(8, '\0') : std::string("\x20", 1) + ff7();
    if (apdu) data.replace(4, apdu->size(), *apdu);
    if (timeOut) data += bytes({0x80, 0x01, timeOut});
    if (displayText) {
      const std::string text = displayText->substr(0, 255);
      data += bytes({0x50, static_cast<int>(text.size())}) + text;
    }
  }
  CAPDU verify(withData(ctbcs(0x18, 0x01, 0x00), data));
  const int r = terminal(verify);
  if (r != 0) {
    result = statusOut = cardresult::transport(r);
  } else {
    result = cardresult::padVerification(verify.response.SW, cardresult::kPinTimeout, statusOut);
  }
  if (status) *status = statusOut;
  logLazy("performVerification", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::modify(const std::string& data, const char* method) {
  log(method, "started.\n", 3, kPush);
  int result = 0;
  if (!m_isSecure) {
    result = cardresult::kSecureEntryImpossible;
  } else {
    CAPDU change(withData(ctbcs(0x19, 0x01, 0x00), data));
    const int r = terminal(change);
    if (r != 0) result = cardresult::transport(r);
    else result = cardresult::padModification(change.response.SW, cardresult::kPinTimeout);
  }
  logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_CTAPI::modifyVerification(unsigned char keyReference, int format, int fixedLength) {
  std::string data;
  if (format == 0) {
    data = bytes({0x52, 0x18, controlByte(0x01, fixedLength), 0x06, 0x0E, 0x00, 0x24, 0x00, keyReference, 0x10}) +
           std::string(16, '\0');
  } else if (format == 2) {
    data = bytes({0x52, 0x18, controlByte(0x02, fixedLength), 0x06, 0x0E, 0x00, 0x24, 0x00, keyReference, 0x10}) +
           "\x26" + ff7() + "\x26" + ff7();
  }
  return modify(data, "modifyVerification");
}

int CReader_CTAPI::activateVerification(unsigned char keyReference, int format, int) {
  std::string data;
  if (format == 2)
    data = bytes({0x52, 0x10, 0x02, 0x06, 0x06, 0x00, 0x24, 0x01, keyReference, 0x08}) + "\x24" + ff7();
  return modify(data, "activateVerification");
}

int CReader_CTAPI::activateVerification_KOBIL(unsigned char keyReference, int format, int) {
  std::string data;
  if (format == 2)
    data = bytes({0x52, 0x10, 0x02, 0x07, 0x07, 0x00, 0x24, 0x01, keyReference, 0x08}) + "\x24" + ff7();
  return modify(data, "activateVerification_KOBIL");
}

QUARVEL_CARD_NAMESPACE_END
