#include "cardaccess/card/CFileInfo.h"

#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

CFileInfo::CFileInfo(const CFID& fid, int type, int size, int position)
    : m_type(type), m_fid(fid), m_size(size), m_position(position) {
  logObject(this, kConstructed);
}

CFileInfo::~CFileInfo() { logObject(this, kDestroyed); }

int CFileInfo::getSize() const {
  log("getSize", "started.\n", 4, 0);
  logLazy("getSize", 4, 0, [&] { return VOQ::formatString("returned: %i.\n", m_size); });
  return m_size;
}

int CFileInfo::getTyp() const {
  log("getTyp", "started.\n", 4, 0);
  logLazy("getTyp", 4, 0, [&] { return VOQ::formatString("returned: %i.\n", m_type); });
  return m_type;
}

int CFileInfo::getPosition() const {
  log("getPosition", "started.\n", 4, 0);
  logLazy("getPosiotion", 4, 0, [&] { return VOQ::formatString("returned: %i.\n", m_position); });
  return m_position;
}

int CFileInfo::setPosition(int position) {
  logLazy("setPosition", 4, 0, [&] { return VOQ::formatString("Parameter: %i.\n", position); });
  const int previous = m_position;
  m_position = position;
  logLazy("setPosition", 4, 0, [&] { return VOQ::formatString("returned: %i.\n", previous); });
  return previous;
}

const CFID& CFileInfo::getFID() const {
  log("getFID", "started.\n", 4, 0);
  logLazy("getFID", 4, 0, [&] { return VOQ::formatString("returned: 0x%s.\n", m_fid.toHex().c_str()); });
  return m_fid;
}

int CFileInfo::getFlags() const {
  log("getFlags", "started.\n", 4, 0);
  logLazy("getFlags", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(m_flags)); });
  return m_flags;
}

int CFileInfo::setFlags(int flags) {
  logLazy("setFlags", 4, 0, [&] { return VOQ::formatString("Parameter: 0x%x.\n", static_cast<unsigned>(flags)); });
  const int previous = m_flags;
  m_flags = flags;
  logLazy("setFlags", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(previous)); });
  return previous;
}

bool CFileInfo::isUnusableType(int type) {
  return type == kLinearFixed || type == kCyclic || type == kCyclicTLV || type == 0x11 || type == 0x17;
}

QUARVEL_CARD_NAMESPACE_END
