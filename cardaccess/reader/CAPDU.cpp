#include "cardaccess/reader/CAPDU.h"

QUARVEL_CARD_NAMESPACE_BEGIN

CCommandAPDU::CCommandAPDU(const CCommandAPDU& other)
    : data(other.dataSet ? other.data : std::string()),
      Le(other.Le),
      P2(other.P2),
      P1(other.P1),
      INS(other.INS),
      CLA(other.CLA),
      dataSet(other.dataSet ? 1 : 0) {}

CCommandAPDU& CCommandAPDU::operator=(const CCommandAPDU& other) {
  if (this != &other) {
    data = other.dataSet ? other.data : std::string();
    Le = other.Le;
    P2 = other.P2;
    P1 = other.P1;
    INS = other.INS;
    CLA = other.CLA;
    dataSet = other.dataSet ? 1 : 0;
  }
  return *this;
}

QUARVEL_CARD_NAMESPACE_END
