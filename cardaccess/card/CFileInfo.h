// The description of an opened card file: identifier, structure type from the
// file control information, size, current position and the end-of-file flag.
#pragma once

#include "cardaccess/card/CBuffer.h"
#include "foundation/core/CLogable.h"
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CFileInfo : public CLogable {
 public:
  // Structure types the card base class tells apart (an FCI's descriptor byte,
  // an FCP's low nibble).
  static constexpr int kTransparent = 1;
  static constexpr int kLinearFixed = 2;
  static constexpr int kLinearVariable = 4;
  static constexpr int kLinearVariableTLV = 5;
  static constexpr int kCyclic = 6;
  static constexpr int kCyclicTLV = 7;
  static constexpr int kFlagEOF = 1;

  CFileInfo(const CFID& fid, int type, int size, int position);
  ~CFileInfo() override;
  CFileInfo(const CFileInfo&) = delete;
  CFileInfo& operator=(const CFileInfo&) = delete;

  // The file's size in bytes (0 when the card did not say). It takes the object
  // size's slot of CLogable, so the object trace shows the file size.
  int getSize() const override;
  int getTyp() const;
  int getPosition() const;
  // The previous position.
  int setPosition(int position);
  const CFID& getFID() const;
  int getFlags() const;
  // The previous flags.
  int setFlags(int flags);

  // Types that a read, write or seek refuses with "not usable this way".
  static bool isUnusableType(int type);
  static bool isRecordType(int type) { return type == kLinearVariable || type == kLinearVariableTLV; }

 private:
  int m_type;
  CFID m_fid;
  int m_size;
  int m_position;
  int m_flags = 0;
};

QUARVEL_CARD_NAMESPACE_END
