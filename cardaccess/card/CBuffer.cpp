#include "cardaccess/card/CBuffer.h"

#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

QUARVEL_CARD_NAMESPACE_BEGIN

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

int CBuffer::hexValue(char c) {
  static const char kDigits[] = "0123456789abcdef";
  const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  for (int i = 0; i < 16; ++i)
    if (kDigits[i] == lower) return i;
  return -1;
}

void CBuffer::fromHex(const char* text) {
  if (text == nullptr) throw VOQ::CBadArgumentException("CBuffer::fromHex", "Pointer gleich NULL.\n");
  const std::string hex(text);
  if (hex.size() % 2 != 0) throw VOQ::CBadArgumentException("CBuffer::fromHex", "Länge kein vielfaches von zwei.\n");
  clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexValue(hex[i]);
    const int low = hexValue(hex[i + 1]);
    if (high < 0 || low < 0) {
      const unsigned position = static_cast<unsigned>(high < 0 ? i : i + 1);
      throw VOQ::CBadArgumentException("CBuffer::fromHex",
                                       VOQ::formatString("Ungültiges Zeichen. Position: %u.\n", position).c_str());
    }
    push_back(static_cast<char>((high << 4) | low));
  }
}

std::string CBuffer::ToBinary(int numBits) const {
  const long long all = 8LL * static_cast<long long>(size());
  const long long lowest = all - 8;
  if (empty() || numBits < lowest || numBits > all)
    throw VOQ::CBadArgumentException(
        "CBuffer::ToBinary", VOQ::formatString("Numbits: %u liegt nicht im Bereich zwischen %u und %u.\n",
                                                    static_cast<unsigned>(numBits), static_cast<unsigned>(lowest),
                                                    static_cast<unsigned>(all)).c_str());
  std::string bits;
  bits.reserve(static_cast<size_t>(numBits));
  for (int i = 0; i < numBits; ++i) {
    const unsigned char byte = static_cast<unsigned char>((*this)[static_cast<size_t>(i / 8)]);
    bits += (byte >> (7 - i % 8)) & 1 ? '1' : '0';
  }
  return bits;
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
  logLazy("Ctor", 4, 0, [&] { return VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()); });
}

CFID::CFID(const unsigned char* bytes) : CBuffer(fidAt(bytes)) {
  logObject(this, kConstructed);
  logLazy("Ctor", 4, 0, [&] { return VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()); });
}

CFID::CFID(const CFID& other) : CBuffer(other) {
  logObject(this, kConstructed);
  logLazy("Ctor", 4, 0, [&] { return VOQ::formatString("New FID: 0x%s.\n", toHex().c_str()); });
}

CFID::~CFID() { logObject(this, kDestroyed); }

CAID::CAID(const std::string& bytes) : CBuffer(bytes) {
  logObject(this, kConstructed);
  logLazy("Ctor", 4, 0, [&] { return VOQ::formatString("New AID: 0x%s.\n", toHex().c_str()); });
}

CAID::CAID(const CAID& other) : CBuffer(other) {
  logObject(this, kConstructed);
  logLazy("Ctor", 4, 0, [&] { return VOQ::formatString("New AID: 0x%s.\n", toHex().c_str()); });
}

CAID::~CAID() { logObject(this, kDestroyed); }

QUARVEL_CARD_NAMESPACE_END
