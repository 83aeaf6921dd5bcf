#include "cardaccess/card/CSCard.h"

#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CardResult.h"
#include "cardaccess/reader/PeerTable.h"
#include "cardaccess/rtsrc/asn1ber/BerMessageBuffer.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSwOk = 0x9000;
constexpr int kSwEndOfFile = 0x6282;
constexpr int kSwWrongOffset = 0x6B00;
constexpr int kSwRecordNotFound = 0x6A83;
constexpr int kChunk = 128;
constexpr std::size_t kHashBlock = 64;

}  // namespace

CSCard::CSCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : m_channel(channel), m_reader(reader), m_digest(EVP_MD_CTX_new(), &EVP_MD_CTX_free), m_atr(atr),
      m_hashAlg(hashAlg) {
  logObject(this, kConstructed);
}

CSCard::~CSCard() {
  peers::forget(this);
  logObject(this, kDestroyed);
}

void CSCard::logEnter(const char* method, int level) const { log(method, "started.\n", level, kPush); }

int CSCard::logReturn(const char* method, int result, int level) const {
  logLazy(method, level, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", static_cast<unsigned>(result)); });
  return result;
}

// ---- commands ----

CAPDU CSCard::makeAPDU(int cla, int ins, int p1, int p2, const std::string* data, int le, bool extended) {
  CCommandAPDU command(cla, ins, p1, p2);
  if (data != nullptr) command.setData(*data);
  command.setLe(le);
  CAPDU apdu(command);
  apdu.extended = extended ? 1 : 0;
  return apdu;
}

int CSCard::transmit(CAPDU& apdu) { return m_channel->perform(apdu); }

int CSCard::plainCommand(int cla, int ins, int p1, int p2, const std::string* data, int le, std::string* out,
                         bool extended) {
  CAPDU apdu = makeAPDU(cla, ins, p1, p2, data, le, extended);
  const int r = transmit(apdu);
  const int result = cardresult::plain(r, apdu.response.SW);
  if (result == 0 && out != nullptr) *out = apdu.response.data;
  return result;
}

int CSCard::pinCommand(int cla, int ins, int p1, int p2, const std::string* data) {
  // No PIN command carries more than 255 bytes; a longer PIN text is refused unsent.
  if (data != nullptr && data->size() > 255) return cardresult::kNotSupported;
  CAPDU apdu = makeAPDU(cla, ins, p1, p2, data, -1);
  const int r = transmit(apdu);
  return cardresult::pin(r, apdu.response.SW);
}

int CSCard::decipher(const std::string& data, std::string& out) {
  if (data.size() > 65535) return cardresult::kNotSupported;
  // The channel sends data over 255 bytes with ISO extended length.
  return plainCommand(0x00, 0x2A, 0x80, 0x86, &data, 0x00, &out);
}

// ---- directories ----

int CSCard::changeDirectory(const CFID& fid) {
  logEnter("changeDirectory");
  return logReturn("changeDirectory", plainCommand(0x00, 0xA4, 0x00, 0x0C, &fid.bytes(), -1));
}

int CSCard::changeDirectory(const CAID& aid) {
  logEnter("changeDirectory");
  return logReturn("changeDirectory", plainCommand(0x00, 0xA4, 0x04, 0x0C, &aid.bytes(), -1));
}

int CSCard::changeDirectoryPath(const CAID& path) {
  logEnter("changeDirectoryPath");
  return logReturn("changeDirectoryPath", plainCommand(0x00, 0xA4, 0x08, 0x00, &path.bytes(), -1));
}

// ---- file control information ----

CFileInfo* CSCard::parseFCI(const std::string& answer, const CFID& fid) {
  return parseControlInfo(answer, fid, false);
}

CFileInfo* CSCard::parseFCP(const std::string& answer, const CFID& fid) {
  return parseControlInfo(answer, fid, true);
}

CFileInfo* CSCard::parseControlInfo(const std::string& answer, const CFID& fid, bool fcp) {
  const char* method = fcp ? "CSCard::parseFCP" : "CSCard::parseFCI";
  const auto* bytes = reinterpret_cast<const unsigned char*>(answer.data());
  const std::size_t n = answer.size();
  int type = 0;
  int size = 0;
  if (n > 256) {
    log(method, fcp ? "FCP zu gross.\n" : "FCI zu gross.\n", 4, 0);
  } else if (n == 0 || bytes[0] != (fcp ? 0x62 : 0x6F)) {
    log(method, fcp ? "kein korrekt codierter FCP.\n" : "kein korrekt codierter FCI.\n", 4, 0);
  } else {
    std::size_t i = (fcp && n > 1 && bytes[1] == 0x81) ? 3 : 2;
    // Each object must lie whole inside the answer and be long enough for what
    // is taken from it: a card's answer is not trusted.
    while (i + 2 <= n) {
      const unsigned tag = bytes[i];
      const std::size_t length = bytes[i + 1];
      if (i + 2 + length > n) break;
      const unsigned char* value = bytes + i + 2;
      if ((tag == 0x80 || tag == 0x81) && length >= 2) {
        size = value[0] * 256 + value[1];
      } else if (tag == 0x82 && length >= 1) {
        type = fcp ? (value[0] & 0x0F) : value[0];
      }
      i += length + 2;
    }
  }
  try {
    return new CFileInfo(fid, type, size, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ---- files ----

CFileInfo* CSCard::findOpen(const CFID& fid, int* handle) const {
  for (const auto& [h, info] : m_files) {
    if (info->getFID().bytes() == fid.bytes()) {
      *handle = h;
      return info.get();
    }
  }
  return nullptr;
}

const CFileInfo* CSCard::getFileInfo(int handle) const {
  auto it = m_files.find(handle);
  return it == m_files.end() ? nullptr : it->second.get();
}

int CSCard::open(const CFID& fid) { return openWith(fid, 0x00, 0x00, false, false); }

int CSCard::openWith(const CFID& fid, int p1, int p2, bool fcp, bool firstRecordIsOne) {
  logEnter("open");
  int handle = 0;
  if (findOpen(fid, &handle) != nullptr) return logReturn("open", handle);
  std::string answer;
  const int result = plainCommand(0x00, 0xA4, p1, p2, &fid.bytes(), 0x00, &answer);
  if (result != 0) return logReturn("open", result);
  std::unique_ptr<CFileInfo> info(fcp ? parseFCP(answer, fid) : parseFCI(answer, fid));
  if (!info) throw VOQ::CException("CSCard::open", "Invalid FCI.\n");
  const int type = info->getTyp();
  if (firstRecordIsOne && CFileInfo::isRecordType(type)) info->setPosition(1);
  logLazy("open", 4, 0, [&] {
    return VOQ::formatString(type == CFileInfo::kTransparent ? "FileInfo:\nFID: 0x%s.\nTyp: transparent.\nSize: 0x%x.\n"
                                                             : "FileInfo:\nFID: 0x%s.\nTyp: unbekannt.\nSize: 0x%x.\n",
                             fid.toHex().c_str(), static_cast<unsigned>(info->getSize()));
  });
  handle = m_nextHandle++;
  m_files[handle] = std::move(info);
  return logReturn("open", handle);
}

int CSCard::read(int handle, std::string& out, int count) { return readWith(handle, out, count, 0x00, false); }

int CSCard::readWith(int handle, std::string& out, int count, int selectP1, bool recordNotFoundIsEOF) {
  logEnter("read");
  auto it = m_files.find(handle);
  if (it == m_files.end()) return logReturn("read", cardresult::kNotSupported);
  CFileInfo& info = *it->second;
  if (info.getFlags() & CFileInfo::kFlagEOF) return logReturn("read", kEndOfFile);
  out.clear();
  const int selected = plainCommand(0x00, 0xA4, selectP1, 0x0C, &info.getFID().bytes(), -1);
  if (selected != 0) return logReturn("read", selected);
  const int type = info.getTyp();
  int position = info.getPosition();
  int flags = info.getFlags();
  int result;
  if (type == CFileInfo::kTransparent) {
    result = readBinary(out, position, count, flags);
  } else if (CFileInfo::isRecordType(type)) {
    result = readRecord(out, position, count, flags);
    if (recordNotFoundIsEOF && result == cardresult::statusWord(kSwRecordNotFound)) result = kEndOfFile;
  } else if (CFileInfo::isUnusableType(type)) {
    return logReturn("read", kWrongFileType);
  } else {
    throw VOQ::CException("CSCard::read", "Ungültiger Datei-Typ.\n");
  }
  info.setPosition(position);
  info.setFlags(flags);
  return logReturn("read", result);
}

int CSCard::readBinary(std::string& out, int& position, int count, int& flags) {
  if (count < 0 || position < 0 || position > kMaxBinaryOffset) return cardresult::kNotSupported;
  int total = 0;
  while (total < count) {
    if (isAborted()) return cardresult::kSecureEntryImpossible;
    if (position > kMaxBinaryOffset) return cardresult::kNotSupported;
    const int le = std::min(kChunk, count - total);
    CAPDU apdu = makeAPDU(0x00, 0xB0, (position >> 8) & 0xFF, position & 0xFF, nullptr, le);
    const int r = transmit(apdu);
    if (r != 0) return cardresult::transport(r);
    const std::string& data = apdu.response.data;
    const int sw = apdu.response.SW;
    if (sw == kSwOk) {
      if (data.empty()) return total;  // the card gives nothing more without saying why
      out += data;
      position += static_cast<int>(data.size());
      total += static_cast<int>(data.size());
    } else if (sw == kSwEndOfFile) {
      flags |= CFileInfo::kFlagEOF;
      out += data;
      position += static_cast<int>(data.size());
      total += static_cast<int>(data.size());
      return total;
    } else if (sw == kSwWrongOffset) {
      flags |= CFileInfo::kFlagEOF;
      return total;
    } else {
      return cardresult::statusWord(sw);
    }
  }
  return total;
}

int CSCard::readRecord(std::string& out, int& record, int p2, int& flags) {
  if (record < 0 || record > 255) return cardresult::kNotSupported;
  CAPDU apdu = makeAPDU(0x00, 0xB2, record, p2 & 0xFF, nullptr, 0x00);
  const int r = transmit(apdu);
  if (r != 0) return cardresult::transport(r);
  const int sw = apdu.response.SW;
  if (sw != kSwOk && sw != kSwEndOfFile) return cardresult::statusWord(sw);
  if (sw == kSwEndOfFile) flags |= CFileInfo::kFlagEOF;
  out += apdu.response.data;
  ++record;
  return static_cast<int>(apdu.response.data.size());
}

int CSCard::write(int handle, const std::string& data) {
  logEnter("write");
  auto it = m_files.find(handle);
  if (it == m_files.end()) return logReturn("write", cardresult::kNotSupported);
  CFileInfo& info = *it->second;
  if (info.getFlags() & CFileInfo::kFlagEOF) return logReturn("write", kEndOfFile);
  const int selected = plainCommand(0x00, 0xA4, 0x00, 0x0C, &info.getFID().bytes(), -1);
  if (selected != 0) return logReturn("write", selected);
  const int type = info.getTyp();
  if (CFileInfo::isUnusableType(type)) return logReturn("write", kWrongFileType);
  if (type != CFileInfo::kTransparent) throw VOQ::CException("write", "Ungültiger Datei-Typ.\n");
  int position = info.getPosition();
  int flags = info.getFlags();
  const int result = updateBinary(data, position, static_cast<int>(data.size()), flags);
  info.setPosition(position);
  info.setFlags(flags);
  return logReturn("write", result);
}

int CSCard::updateBinary(const std::string& data, int& position, int count, int& flags) {
  if (count < 0 || position < 0 || position > kMaxBinaryOffset) return cardresult::kNotSupported;
  int total = 0;
  while (total < count) {
    if (isAborted()) return cardresult::kSecureEntryImpossible;
    if (position > kMaxBinaryOffset) return cardresult::kNotSupported;
    const int n = std::min(kChunk, count - total);
    const std::string chunk = data.substr(static_cast<std::size_t>(total), static_cast<std::size_t>(n));
    CAPDU apdu = makeAPDU(0x00, 0xD6, (position >> 8) & 0xFF, position & 0xFF, &chunk, -1);
    const int r = transmit(apdu);
    if (r != 0) return cardresult::transport(r);
    const int sw = apdu.response.SW;
    if (sw != kSwOk && sw != kSwEndOfFile) return cardresult::statusWord(sw);
    position += n;
    total += n;
    if (sw == kSwEndOfFile) {
      flags |= CFileInfo::kFlagEOF;
      return total;
    }
  }
  return total;
}

int CSCard::seek(int handle, int position) {
  logEnter("seek");
  auto it = m_files.find(handle);
  if (it == m_files.end()) return logReturn("read", cardresult::kNotSupported);
  CFileInfo& info = *it->second;
  const int type = info.getTyp();
  if (type == CFileInfo::kTransparent || CFileInfo::isRecordType(type)) {
    info.setPosition(position);
    info.setFlags(0);
    return logReturn("read", 0);
  }
  if (CFileInfo::isUnusableType(type)) return logReturn("read", kWrongFileType);
  throw VOQ::CException("CSCard::seek", "Ungültiger Datei-Typ.\n");
}

int CSCard::close(int handle) {
  logEnter("close");
  auto it = m_files.find(handle);
  if (it == m_files.end()) return logReturn("close", cardresult::kNotSupported);
  m_files.erase(it);
  return logReturn("close", 0);
}

// ---- PIN, security environment, security operations ----

std::string CSCard::padTo8(const std::string& value, int pad) {
  std::string padded = value;
  if (padded.size() < 8) padded.append(8 - padded.size(), static_cast<char>(pad & 0xFF));
  return padded;
}

int CSCard::changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int pad) {
  logEnter("changeReferenceData");
  const std::string data = padTo8(oldPin, pad) + padTo8(newPin, pad);
  return logReturn("changeReferenceData", pinCommand(0x00, 0x24, 0x00, kid & 0xFF, &data));
}

int CSCard::putMSE(const std::string& data, int p1, int p2) {
  logEnter("putMSE", 4);
  return logReturn("putMSE", plainCommand(0x00, 0x22, p1 & 0xFF, p2 & 0xFF, &data, -1), 4);
}

int CSCard::PutHash(const std::string& hash) {
  logEnter("PutHash", 4);
  return logReturn("PutHash", plainCommand(0x00, 0x2A, 0x90, 0x81, &hash, -1), 4);
}

int CSCard::encipher(const std::string& data, std::string& out) {
  logEnter("encipher");
  std::string answer;
  const int result = plainCommand(0x00, 0x2A, 0x86, 0x80, &data, 0x00, &answer);
  if (result == 0) out = answer.empty() ? std::string() : answer.substr(1);
  return logReturn("encipher", result);
}

int CSCard::encodeHashBlock(const std::string& block, std::string& object) {
  if (block.size() > kHashBlock) return cardresult::kNotSupported;
  uint8_t buffer[80];
  BerEncodeBuffer encoder(buffer, sizeof buffer);
  const int contents = berEncodeOctetString(encoder.context(), reinterpret_cast<const uint8_t*>(block.data()),
                                            static_cast<uint32_t>(block.size()), 0);
  if (contents < 0) return kEncodeFailed;
  const int total = berEncodeTagLength(encoder.context(), 0x8000, contents);
  if (total < 0) return kEncodeFailed;
  object.assign(reinterpret_cast<const char*>(encoder.getMsgPtr()), static_cast<std::size_t>(total));
  return 0;
}

int CSCard::hashOnCard(const std::string& data) {
  logEnter("hashOnCard");
  std::string work = m_pendingData + data;
  if (work.empty()) return logReturn("hashOnCard", 0);
  std::size_t offset = 0;
  while (work.size() - offset >= kHashBlock) {
    if (isAborted()) return logReturn("hashOnCard", cardresult::kSecureEntryImpossible);
    std::string object;
    const int encoded = encodeHashBlock(work.substr(offset, kHashBlock), object);
    if (encoded != 0) return logReturn("hashOnCard", encoded);
    offset += kHashBlock;
    const int result = plainCommand(0x10, 0x2A, 0x90, 0xA0, &object, -1);
    if (result != 0) {
      m_pendingData = work.substr(offset);
      return logReturn("hashOnCard", result);
    }
  }
  m_pendingData = work.substr(offset);
  return logReturn("hashOnCard", 0);
}

// ---- host-side hash ----

int CSCard::setHashAlgorithm(int algorithm) {
  m_digestAlgorithm = algorithm;
  const EVP_MD* md = algorithm == 1 ? EVP_sha1() : algorithm == 2 ? EVP_sha256() : EVP_ripemd160();
  return EVP_DigestInit(m_digest.get(), md);
}

int CSCard::signUpdate(const std::string& data) {
  logEnter("signUpdate");
  // Without a running digest (no signInit, or after signFinal) OpenSSL would
  // call through a NULL update function.
  if (EVP_MD_CTX_get0_md(m_digest.get()) == nullptr) return logReturn("signUpdate", cardresult::kNotSupported);
  if (EVP_DigestUpdate(m_digest.get(), data.data(), data.size()) != 1)
    return logReturn("signUpdate", cardresult::kNotSupported);
  return logReturn("signUpdate", 0);
}

int CSCard::checkSignature(int result, std::string& out, std::size_t keyBytes) {
  if (result != 0) return result;
  if (out.empty() || out.size() > kMaxSignatureBytes || (keyBytes != 0 && out.size() != keyBytes)) {
    out.clear();
    return cardresult::kMalformedAnswer;
  }
  return 0;
}

void CSCard::dropDigest() { EVP_MD_CTX_reset(m_digest.get()); }

int CSCard::finishDigest(std::string& hash) {
  if (EVP_MD_CTX_get0_md(m_digest.get()) == nullptr) return cardresult::kNotSupported;
  unsigned char buffer[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // EVP_DigestFinal also resets the context: a second final finds no digest.
  if (EVP_DigestFinal(m_digest.get(), buffer, &length) != 1) return cardresult::kNotSupported;
  hash.assign(reinterpret_cast<const char*>(buffer), length);
  return 0;
}

std::string CSCard::digestInfoPrefix(int digestAlgorithm) {
  static const unsigned char kSha1[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                        0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  static const unsigned char kSha256[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                          0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  static const unsigned char kRipemd160[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x24,
                                             0x03, 0x02, 0x01, 0x05, 0x00, 0x04, 0x14};
  if (digestAlgorithm == 1) return std::string(reinterpret_cast<const char*>(kSha1), sizeof kSha1);
  if (digestAlgorithm == 2) return std::string(reinterpret_cast<const char*>(kSha256), sizeof kSha256);
  return std::string(reinterpret_cast<const char*>(kRipemd160), sizeof kRipemd160);
}

int CSCard::getHashAlg() const { return m_hashAlg; }

// ---- the rest ----

int CSCard::abort() {
  m_abort.store(1);
  return 0;
}

int CSCard::getATR(unsigned char* buffer, int capacity, int* length) {
  logEnter("getATR");
  if (length != nullptr) *length = 0;
  const int n = static_cast<int>(m_atr.size());
  // A rogue CT-API terminal can hand over far more than any ATR.
  if (buffer == nullptr || length == nullptr || n > capacity || n > kMaxATRLength)
    return logReturn("getATR", cardresult::kNotSupported);
  std::memcpy(buffer, m_atr.data(), m_atr.size());
  *length = n;
  return logReturn("getATR", 0);
}

int CSCard::directIO(const std::string& command, std::string& response) {
  logEnter("CSCard::directIO");
  const int r = m_channel->doIO(command, response);
  return logReturn("CSCard::directIO", r != 0 ? cardresult::transport(r) : 0);
}

int CSCard::signInit(int, std::string, int) { return cardresult::kNotSupported; }
int CSCard::signFinal(int, const std::string&, std::string&, bool) { return cardresult::kNotSupported; }
int CSCard::signFinal(int, std::string&, bool) { return cardresult::kNotSupported; }
int CSCard::unblockPIN(int, const std::string&, int) { return cardresult::kNotSupported; }
int CSCard::decryptInit(int, std::string) { return cardresult::kNotSupported; }
int CSCard::decryptFinal(int, const std::string&, const std::string&, std::string&) {
  return cardresult::kNotSupported;
}
int CSCard::decryptFinal(int, const std::string&, std::string&) { return cardresult::kNotSupported; }
int CSCard::notSupportedA(int, int) { return cardresult::kNotSupported; }
int CSCard::getCIN(char*, std::size_t) { return cardresult::kNotSupported; }
int CSCard::getPublicKey(int, std::string&, std::string&) { return cardresult::kNotSupported; }
int CSCard::activatePIN(int, const std::string&, int) { return cardresult::kNotSupported; }
int CSCard::notSupportedB(int, int) { return cardresult::kNotSupported; }
int CSCard::finalOnCard() { return cardresult::kNotSupported; }
