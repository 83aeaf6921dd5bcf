#include "cardaccess/reader/CReader_PCSC.h"

#include <windows.h>

#include "cardaccess/reader/CardRecognition.h"
#include "cardaccess/reader/CardResult.h"
#include "cardaccess/reader/PinPad.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace {

constexpr DWORD kAnswerCapacity = 64;
// Every poll of the keys is a round trip through the PC/SC service: a short pause
// between empty polls keeps the loop from spinning a core during PIN entry.
constexpr DWORD kPollPause = 15;

}  // namespace

// One PIN entry session on the pad: one entry for VERIFY, three for CHANGE
// REFERENCE DATA (old PIN, new PIN, new PIN again).
struct CReader_PCSC::Entry {
  int fixedLength;
  int wanted;
  int done = 0;
  int digits = 0;
  bool cancelled = false;
  bool timedOut = false;
};

CReader_PCSC::CReader_PCSC(const std::string& readerName, SCARDCONTEXT hCtx, int shareMode, unsigned char useGUI,
                           unsigned char useBeep, unsigned char isSecure, int userMessage)
    : CReader(hCtx, shareMode, readerName, useGUI, isSecure), m_useBeep(useBeep) {
  (void)userMessage;
  logObject(this, kConstructed);
}

CReader_PCSC::~CReader_PCSC() {
  dropCard(true);
  // Leaves no card open for other clients (exclusive share) and no context behind
  // when the factory releases the reader.
  if (m_channel.getHandle()) SCardDisconnect(m_channel.getHandle(), SCARD_RESET_CARD);
  m_channel.setHandle(0);
  if (m_hCtx) SCardReleaseContext(m_hCtx);
  logObject(this, kDestroyed);
}

int CReader_PCSC::getSize() const { return static_cast<int>(sizeof(CReader_PCSC)); }

LONG CReader_PCSC::connectCard() {
  SCARDHANDLE hCard = 0;
  LONG rc = SCardConnectA(m_hCtx, m_secondName.c_str(), static_cast<DWORD>(m_shareMode), SCARD_PROTOCOL_T1, &hCard,
                          &m_activeProtocol);
  logLazy("connect", 4, 0, [&] {
    return VOQ::formatString("SCardConnect: hCtx was 0x%x, returned 0x%x, retrieved hCard: 0x%x.\n",
                             static_cast<unsigned>(m_hCtx), rc, static_cast<unsigned>(hCard));
  });
  if (hCard) {
    m_channel.setHandle(hCard);
    GetPCSCReaderFeatures();
  }
  return rc;
}

LONG CReader_PCSC::readATR(std::string& atr) {
  BYTE buffer[256];
  DWORD length = sizeof buffer;
  LONG rc = SCardGetAttrib(m_channel.getHandle(), SCARD_ATTR_ATR_STRING, buffer, &length);
  logLazy("connect", 4, 0, [&] {
    return VOQ::formatString("SCardGetAttrib: hCtx was 0x%x, returned 0x%x.\n", static_cast<unsigned>(m_hCtx), rc);
  });
  if (rc == SCARD_S_SUCCESS) atr.assign(reinterpret_cast<const char*>(buffer), length);
  return rc;
}

int CReader_PCSC::recognise(const std::string& atr) {
  CSCard* card = recognizeCard(atr, &m_channel, this);
  if (!card) return cardresult::kCardNotRecognisedPCSC;
  takeCard(card, atr);
  return cardresult::kOk;
}

int CReader_PCSC::connect(int) {
  log("connect", "started.\n", 3, kPush);
  int result = 0;
  if (!m_channel.getHandle()) result = connectCard();
  if (m_channel.getHandle()) {
    std::string atr;
    result = readATR(atr);
    if (result != SCARD_S_SUCCESS) {
      DWORD protocol = 0;
      SCardReconnect(m_channel.getHandle(), static_cast<DWORD>(m_shareMode), SCARD_PROTOCOL_T1, SCARD_RESET_CARD,
                     &protocol);
      result = readATR(atr);
    }
    if (result == SCARD_S_SUCCESS) result = recognise(atr);
  }
  logLazy("connect", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_PCSC::disconnect() {
  log("disconnect", "started.\n", 3, kPush);
  LONG result = SCARD_S_SUCCESS;
  if (SCARDHANDLE hCard = m_channel.getHandle()) {
    result = SCardDisconnect(hCard, SCARD_RESET_CARD);
    logLazy("disconnect", 4, 0,
            [&] { return VOQ::formatString("disconnecting hCard %d returns %d.\n", static_cast<int>(hCard), result); });
    m_channel.setHandle(0);
  }
  dropCard(true);
  logLazy("disconnect", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_PCSC::getStatus(int) {
  log("getStatus", "started.\n", 3, kPush);
  LONG rc = SCARD_S_SUCCESS;
  if (!m_channel.getHandle()) rc = connectCard();
  BYTE presence = 0;
  if (m_channel.getHandle()) {
    DWORD length = 1;
    rc = SCardGetAttrib(m_channel.getHandle(), SCARD_ATTR_ICC_PRESENCE, &presence, &length);
    logLazy("getStatus_pcsc", 4, 0,
            [&] { return VOQ::formatString("SCardGetAttrib: returned: 0x%x, iccstate is 0x%x.\n", rc, presence); });
    if (rc == SCARD_W_REMOVED_CARD || rc == SCARD_W_RESET_CARD) {
      DWORD protocol = 0;
      LONG again = SCardReconnect(m_channel.getHandle(), static_cast<DWORD>(m_shareMode), SCARD_PROTOCOL_T1,
                                  SCARD_RESET_CARD, &protocol);
      logLazy("getStatus_pcsc", 4, 0,
              [&] { return VOQ::formatString("card removed or reset, SCardReconnect: returned: 0x%x.\n", again); });
      if (again == SCARD_S_SUCCESS) {
        length = 1;
        rc = SCardGetAttrib(m_channel.getHandle(), SCARD_ATTR_ICC_PRESENCE, &presence, &length);
      }
    }
  }
  int result;
  // The Windows service reports a stale handle as ERROR_INVALID_HANDLE; pcsc-lite's
  // SCARD_E_INVALID_HANDLE is passed on as a PC/SC result, as on Windows.
  if (rc == ERROR_INVALID_HANDLE || rc == SCARD_W_REMOVED_CARD || rc == SCARD_E_NO_SMARTCARD) result = 0;
  else if (rc != SCARD_S_SUCCESS) result = rc;
  else result = presence == 1 ? 3 : presence == 2 ? 5 : 0;
  logLazy("getStatus", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_PCSC::getCT(std::string& out) {
  out = "PC/SC Reader";
  return 0;
}

int CReader_PCSC::reset(bool cold) {
  log("reset", "started.\n", 3, kPush);
  dropCard(false);
  int result;
  if (SCARDHANDLE hCard = m_channel.getHandle()) {
    result = SCardReconnect(hCard, static_cast<DWORD>(m_shareMode), SCARD_PROTOCOL_T1,
                            cold ? SCARD_UNPOWER_CARD : SCARD_RESET_CARD, &m_activeProtocol);
    logLazy("reset", 4, 0, [&] {
      return VOQ::formatString("SCardReconnect: returned 0x%x, hCard was 0x%x.\n", result,
                               static_cast<unsigned>(hCard));
    });
  } else {
    result = connectCard();
  }
  if (result == SCARD_S_SUCCESS) {
    std::string atr;
    result = readATR(atr);
    if (result == SCARD_S_SUCCESS) result = recognise(atr);
  }
  logLazy("reset", 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

bool CReader_PCSC::GetPCSCReaderFeatures() {
  static const char* const method = "CReader::GetPCSCReaderFeatures";
  for (DWORD& code : m_features) code = 0;
  if (!m_isSecure) {
    log(method, "not secure, skipping.\n", 4, 0);
    return false;
  }
  BYTE answer[256] = {};
  DWORD returned = 0;
  LONG rc = SCardControl(m_channel.getHandle(), CM_IOCTL_GET_FEATURE_REQUEST, nullptr, 0, answer, sizeof answer,
                         &returned);
  logLazy(method, 4, 0, [&] {
    return VOQ::formatString("SCardControl(CM_IOCTL_GET_FEATURE_REQUEST) returns 0x%x, result is 0x%02x%02x.\n", rc,
                             answer[0], answer[1]);
  });
  if (rc != SCARD_S_SUCCESS) {
    m_isSecure = 0;
    log(method, "returns false.\n", 4, 0);
    return false;
  }
  pinpad::parseFeatures(answer, returned > sizeof answer ? sizeof answer : returned, m_features);
  if (m_features[pinpad::kVerifyPinDirect] && m_features[pinpad::kModifyPinDirect]) {
    log(method, "PIN_DIRECT capability detected.\n", 4, 0);
  } else if (m_features[pinpad::kVerifyPinStart] && m_features[pinpad::kModifyPinStart]) {
    log(method, "PIN_START capability detected.\n", 4, 0);
  } else {
    m_isSecure = 0;
    log(method, "returns false.\n", 4, 0);
    return false;
  }
  log(method, "returns true.\n", 4, 0);
  return true;
}

LONG CReader_PCSC::control(const char* method, DWORD code, const std::string& in, BYTE* out, DWORD* returned,
                           const char* feature) {
  *returned = 0;
  out[0] = out[1] = 0;
  LONG rc = SCardControl(m_channel.getHandle(), code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                         out, kAnswerCapacity, returned);
  if (*returned > kAnswerCapacity) *returned = 0;
  logLazy(method, 4, 0, [&] {
    return VOQ::formatString("SCardControl(%s) returns 0x%x, result is 0x%02x%02x.\n", feature, rc, out[0], out[1]);
  });
  return rc;
}

void CReader_PCSC::tone(DWORD frequency) {
  if (m_useBeep) Beep(frequency, 100);
}

LONG CReader_PCSC::keyLoop(const char* method, Entry& entry) {
  const bool single = entry.wanted == 1;
  auto endEntry = [&] {
    tone(400);
    ++entry.done;
    entry.digits = 0;
  };
  while (entry.done < entry.wanted) {
    BYTE out[kAnswerCapacity] = {};
    DWORD returned = 0;
    LONG rc = SCardControl(m_channel.getHandle(), m_features[pinpad::kGetKeyPressed], nullptr, 0, out,
                           kAnswerCapacity, &returned);
    if (rc != SCARD_S_SUCCESS) return rc;
    const BYTE key = returned > 0 ? out[0] : pinpad::kKeyNone;
    if (key == pinpad::kKeyNone) {
      Sleep(kPollPause);
      continue;
    }
    logLazy(method, 4, 0,
            [&] { return VOQ::formatString("SCardControl(FEATURE_GET_KEY_PRESSED) returns key 0x%x.\n", key); });
    switch (key) {
      case pinpad::kKeyDigit:
        tone(200);
        ++entry.digits;
        if (entry.fixedLength > 0 && entry.digits >= entry.fixedLength) endEntry();
        break;
      case pinpad::kKeyBackspace:
        if (entry.digits > 0) {
          tone(2000);
          --entry.digits;
        }
        break;
      case pinpad::kKeyClear:
        tone(2000);
        entry.digits = 0;
        break;
      case pinpad::kKeyOk:
        if (entry.fixedLength <= 0 || entry.digits >= entry.fixedLength) {
          tone(200);
          endEntry();
        }
        break;
      case pinpad::kKeyCancel:
        tone(2000);
        entry.cancelled = true;
        if (single) tone(400);
        return SCARD_S_SUCCESS;
      case pinpad::kKeyTimeout:
        entry.timedOut = true;
        if (single) tone(400);
        return SCARD_S_SUCCESS;
      default:
        break;
    }
  }
  return SCARD_S_SUCCESS;
}

int CReader_PCSC::performVerification(unsigned char keyReference, int format, int fixedLength, int, unsigned char timeOut,
                                      const std::string* apdu, const std::string*, int* status) {
  static const char* const method = "CReader_PCSC::performVerification";
  log(method, "started.\n", 3, kPush);
  int result = 0;
  int statusOut = 0;
  if (!m_isSecure) {
    result = cardresult::kSecureEntryImpossible;
    logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
    return result;
  }
  if (status) *status = 0;
  if (!pinpad::knownFormat(format) || (apdu && apdu->size() > 13)) {
    result = cardresult::kSecureEntryImpossible;
    logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
    return result;
  }
  const std::string block = pinpad::verifyStructure(timeOut, format, fixedLength, keyReference, apdu);
  BYTE answer[kAnswerCapacity] = {};
  DWORD returned = 0;
  if (m_features[pinpad::kVerifyPinDirect]) {
    result = control(method, m_features[pinpad::kVerifyPinDirect], block, answer, &returned, "FEATURE_VERIFY_PIN_DIRECT");
  } else {
    result = control(method, m_features[pinpad::kVerifyPinStart], block, answer, &returned, "FEATURE_VERIFY_PIN_START");
    if (result != SCARD_S_SUCCESS) {
      if (status) *status = result;
      logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
      return result;
    }
    Entry entry{fixedLength, 1};
    if (m_features[pinpad::kGetKeyPressed]) result = keyLoop(method, entry);
    else tone(400);
    if (result == SCARD_S_SUCCESS)
      result = control(method, m_features[pinpad::kVerifyPinFinish], std::string(), answer, &returned,
                       "FEATURE_VERIFY_PIN_FINISH");
    if (entry.cancelled) result = cardresult::kSecureEntryImpossible;
    else if (entry.timedOut) result = cardresult::kPinTimeout;
  }
  if (result == 0 && returned == 2) {
    result = cardresult::padVerification(answer[0] * 256 + answer[1], cardresult::kPadTimeoutPCSC, statusOut);
  } else {
    // A pad that answers with other than a status word has verified nothing.
    if (result == 0) result = cardresult::kSecureEntryImpossible;
    statusOut = result;
  }
  if (status) *status = statusOut;
  logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_PCSC::modifyVerification(unsigned char keyReference, int format, int fixedLength) {
  static const char* const method = "CReader_PCSC::modifyVerificationSecure";
  log(method, "started.\n", 3, kPush);
  int result = 0;
  if (!m_isSecure || !pinpad::knownFormat(format)) {
    result = cardresult::kSecureEntryImpossible;
    logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
    return result;
  }
  const std::string block = pinpad::modifyStructure(format, fixedLength, keyReference);
  BYTE answer[kAnswerCapacity] = {};
  DWORD returned = 0;
  if (m_features[pinpad::kModifyPinDirect]) {
    result = control(method, m_features[pinpad::kModifyPinDirect], block, answer, &returned, "FEATURE_MODIFY_PIN_DIRECT");
  } else {
    result = control(method, m_features[pinpad::kModifyPinStart], block, answer, &returned, "FEATURE_MODIFY_PIN_START");
    if (result != SCARD_S_SUCCESS) {
      logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
      return result;
    }
    Entry entry{fixedLength, 3};
    if (m_features[pinpad::kGetKeyPressed]) result = keyLoop(method, entry);
    if (result == SCARD_S_SUCCESS)
      result = control(method, m_features[pinpad::kModifyPinFinish], std::string(), answer, &returned,
                       "FEATURE_MODIFY_PIN_FINISH");
    if (entry.cancelled) result = cardresult::kSecureEntryImpossible;
    else if (entry.timedOut) result = cardresult::kPadTimeoutPCSC;
  }
  if (result == 0) {
    if (returned != 2) {
      result = cardresult::kSecureEntryImpossible;
    } else {
      result = cardresult::padModification(answer[0] * 256 + answer[1], cardresult::kPadTimeoutPCSC);
    }
  }
  logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CReader_PCSC::activateVerification(unsigned char, int, int) { return cardresult::kNotSupported; }

int CReader_PCSC::activateVerification_KOBIL(unsigned char, int, int) { return cardresult::kNotSupported; }

QUARVEL_CARD_NAMESPACE_END
