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
  CCommandAPDU(int cla, int ins, int p1, int p2, int le) : Le(le), P2(p2), P1(p1), INS(ins), CLA(cla) {}
  // A copy carries the data only when the source has them set.
  CCommandAPDU(const CCommandAPDU& other);
  CCommandAPDU& operator=(const CCommandAPDU& other);

  void setData(const std::string& bytes) {
    data = bytes;
    dataSet = 1;
  }
  int getCLA() const { return CLA; }
  int getINS() const { return INS; }
  int getP1() const { return P1; }
  int getP2() const { return P2; }
  int getLe() const { return Le; }
  int hasData() const { return dataSet; }
  // Each replaces its field and returns what it held before.
  int setCLA(int cla) { return replace(CLA, cla); }
  int setINS(int ins) { return replace(INS, ins); }
  int setP1(int p1) { return replace(P1, p1); }
  int setP2(int p2) { return replace(P2, p2); }
  int setLe(int le) { return replace(Le, le); }

  std::string data;
  int Le = -1;
  int P2 = -1;
  int P1 = -1;
  int INS = -1;
  int CLA = -1;
  int dataSet = 0;  // 1: the data field is sent

 private:
  static int replace(int& field, int value) {
    const int previous = field;
    field = value;
    return previous;
  }
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

  CResponseAPDU& getResponse() { return response; }
  const CResponseAPDU& getResponse() const { return response; }
  // Takes the response's data and status word.
  void setResponse(const CResponseAPDU& r) { response = r; }

  CCommandAPDU command;
  CResponseAPDU response;
  // Only the D-Trust card type sets it: its fixed six-byte extended-length header.
  unsigned char extended = 0;
};

QUARVEL_CARD_NAMESPACE_END
