// The command and response records that travel through a card channel.
#pragma once

#include <string>
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

// One command. Byte strings are std::string (bytes, not text). -1 marks an unset
// CLA, INS, P1 or P2, and a missing Le.
class CCommandAPDU {
 public:
  CCommandAPDU() = default;
  CCommandAPDU(int cla, int ins, int p1, int p2) : P2(p2), P1(p1), INS(ins), CLA(cla) {}
  // A copy carries the data only when the source has them set.
  CCommandAPDU(const CCommandAPDU& other);
  CCommandAPDU& operator=(const CCommandAPDU& other);

  void setData(const std::string& bytes) {
    data = bytes;
    hasData = 1;
  }
  void setLe(int le) { Le = le; }

  std::string data;
  int Le = -1;
  int P2 = -1;
  int P1 = -1;
  int INS = -1;
  int CLA = -1;
  int hasData = 0;
};

class CResponseAPDU {
 public:
  std::string data;
  int SW = -1;
};

// What perform takes: a copy of the command, and the response it fills.
class CAPDU {
 public:
  explicit CAPDU(const CCommandAPDU& c) : command(c) {}

  CCommandAPDU command;
  CResponseAPDU response;
  // Only the D-Trust card type sets it: its fixed six-byte extended-length header.
  unsigned char extended = 0;
};

QUARVEL_CARD_NAMESPACE_END
