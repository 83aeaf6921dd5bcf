#include "cardaccess/reader/CReader.h"

#include "cardaccess/reader/CardRecognition.h"
#include "cardaccess/reader/PeerTable.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

CReader_base::CReader_base(const std::string& name, unsigned char useGUI) : m_name(name), m_useGUI(useGUI) {
  logObject(this, kConstructed);
}

CReader_base::~CReader_base() {
  peers::forget(this);
  dropCard(true);
  logObject(this, kDestroyed);
}

int CReader_base::getSize() const { return static_cast<int>(sizeof(CReader_base)); }

CSCard* CReader_base::getCard() {
  log("getCard", "started.\n", 3, kPush);
  logLazy("getCard", 3, kPop, [&] { return VOQ::formatString("returned: 0x%p.\n", static_cast<void*>(m_card)); });
  return m_card;
}

int CReader_base::lock() {
  log("lock", "started.\n", 3, 0);
  m_lock.enter();
  log("lock", "stopped.\n", 3, 0);
  return 0;
}

int CReader_base::unlock() {
  log("unlock", "started.\n", 3, 0);
  m_lock.leave();
  log("unlock", "stopped.\n", 3, 0);
  return 0;
}

const char* CReader_base::getName() const {
  log("getName", "started.\n", 3, 0);
  log("getName", "stopped.\n", 3, 0);
  return m_name.empty() ? nullptr : m_name.c_str();
}

unsigned char CReader_base::shallUseGUI() const {
  logLazy("shallUseGUI", 3, 0, [&] { return VOQ::formatString("returned: 0x%i.\n", m_useGUI); });
  return m_useGUI;
}

void CReader_base::takeCard(CSCard* card, const std::string& atr) {
  if (m_card && m_card != card) m_retired.push_back(m_card);
  m_card = card;
  m_ATR = atr;
}

void CReader_base::dropCard(bool retired) {
  dropOne(m_card);
  m_card = nullptr;
  m_ATR.clear();
  if (retired) {
    for (CSCard* card : m_retired) dropOne(card);
    m_retired.clear();
  }
}

// The card leaves the peer table before any of its destructors runs: a native that
// reaches it without the reader's lock (abort) finds either the whole card or none.
void CReader_base::dropOne(CSCard* card) {
  if (card == nullptr) return;
  peers::forget(card);
  deleteCard(card);
}

CReader::CReader(const std::string& driverName, unsigned short ctn, const std::string& name, unsigned char useGUI,
                 unsigned char isSecure)
    : CReader_base(name, useGUI),
      m_channel(driverName, ctn, 2, 1),
      m_ctn(ctn),
      m_secondName(driverName),
      m_kind(kCTAPI),
      m_isSecure(isSecure) {
  logObject(this, kConstructed);
}

CReader::CReader(SCARDCONTEXT hCtx, int shareMode, const std::string& readerName, unsigned char useGUI,
                 unsigned char isSecure)
    : CReader_base("PC/SC", useGUI),
      m_channel(readerName),
      m_secondName(readerName),
      m_kind(kPCSC),
      m_hCtx(hCtx),
      m_shareMode(shareMode),
      m_isSecure(isSecure) {
  logObject(this, kConstructed);
  logLazy("ctor", 4, 0, [&] {
    return VOQ::formatString("hCtx=0x%x, Name is %s.\n", static_cast<unsigned>(hCtx), readerName.c_str());
  });
}

CReader::~CReader() {
  // The card goes before the channel it talks through.
  dropCard(true);
  logObject(this, kDestroyed);
}

int CReader::getSize() const { return static_cast<int>(sizeof(CReader)); }

const char* CReader::getCTAPIName() const { return m_secondName.empty() ? nullptr : m_secondName.c_str(); }

QUARVEL_CARD_NAMESPACE_END
