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
  log("getSize", VOQ::formatString("returned: %i.\n", m_size).c_str(), 4, 0);
  return m_size;
}

int CFileInfo::getTyp() const {
  log("getTyp", "started.\n", 4, 0);
  log("getTyp", VOQ::formatString("returned: %i.\n", m_type).c_str(), 4, 0);
  return m_type;
}

int CFileInfo::getPosition() const {
  log("getPosition", "started.\n", 4, 0);
  log("getPosiotion", VOQ::formatString("returned: %i.\n", m_position).c_str(), 4, 0);
  return m_position;
}

int CFileInfo::setPosition(int position) {
  log("setPosition", VOQ::formatString("Parameter: %i.\n", position).c_str(), 4, 0);
  const int previous = m_position;
  m_position = position;
  log("setPosition", VOQ::formatString("returned: %i.\n", previous).c_str(), 4, 0);
  return previous;
}

const CFID& CFileInfo::getFID() const {
  log("getFID", "started.\n", 4, 0);
  log("getFID", VOQ::formatString("returned: 0x%s.\n", m_fid.toHex().c_str()).c_str(), 4, 0);
  return m_fid;
}

int CFileInfo::getFlags() const {
  log("getFlags", "started.\n", 4, 0);
  log("getFlags", VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(m_flags)).c_str(), 4, 0);
  return m_flags;
}

int CFileInfo::setFlags(int flags) {
  log("setFlags", VOQ::formatString("Parameter: 0x%x.\n", static_cast<unsigned>(flags)).c_str(), 4, 0);
  const int previous = m_flags;
  m_flags = flags;
  log("setFlags", VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(previous)).c_str(), 4, 0);
  return previous;
}

bool CFileInfo::isUnusableType(int type) {
  return type == kLinearFixed || type == kCyclic || type == kCyclicTLV || type == 0x11 || type == 0x17;
}

QUARVEL_CARD_NAMESPACE_END
