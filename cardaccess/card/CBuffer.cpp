#include "cardaccess/card/CBuffer.h"

#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

std::string CBuffer::toHex() const {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size() * 2);
  for (unsigned char b : bytes()) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

namespace {

std::string checkedFID(const std::string& bytes) {
  if (bytes.size() != 2) throw VOQ::CBadArgumentException("CFID::CFID", "Es wurde kein gültiger FID übergeben.\n");
  return bytes;
}

std::string fidAt(const unsigned char* bytes) {
  if (bytes == nullptr) throw VOQ::CBadArgumentException("CFID::CFID", "Invalid Parameter.\n");
  return std::string(reinterpret_cast<const char*>(bytes), 2);
}

}  // namespace

CFID::CFID(const std::string& bytes) : CBuffer(checkedFID(bytes)) {
  logObject(this, kConstructed);
  log("Ctor", VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()).c_str(), 4, 0);
}

CFID::CFID(const unsigned char* bytes) : CBuffer(fidAt(bytes)) {
  logObject(this, kConstructed);
  log("Ctor", VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()).c_str(), 4, 0);
}

CFID::CFID(const CFID& other) : CBuffer(other) {
  logObject(this, kConstructed);
  log("Ctor", VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()).c_str(), 4, 0);
}

CFID::~CFID() { logObject(this, kDestroyed); }

CAID::CAID(const std::string& bytes) : CBuffer(bytes) {
  logObject(this, kConstructed);
  log("Ctor", VOQ::formatString("New AID: 0x%s.\n", toHex().c_str()).c_str(), 4, 0);
}

CAID::CAID(const CAID& other) : CBuffer(other) {
  logObject(this, kConstructed);
  log("Ctor", VOQ::formatString("New AID: 0x%s.\n", toHex().c_str()).c_str(), 4, 0);
}

CAID::~CAID() { logObject(this, kDestroyed); }
