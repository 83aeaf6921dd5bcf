#include "cardvariant/CSCard.h"

#include <algorithm>
#include <cstring>

#include <openssl/evp.h>

#include "cardaccess/reader/CAPDU.h"
#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/CException.h"
#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

constexpr int kChunk = 128;

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out += static_cast<char>(b);
  return out;
}

CCommandAPDU makeCommand(int cla, int ins, int p1, int p2, const std::string* data, int le) {
  CCommandAPDU c(cla, ins, p1, p2);
  if (data) c.setData(*data);
  c.setLe(le);
  return c;
}

}  // namespace

CSCard::CSCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : m_channel(channel), m_reader(reader), m_digest(EVP_MD_CTX_new(), EVP_MD_CTX_free), m_atr(atr), m_hashAlg(hashAlg) {
  logObject(this, kConstructed);
}

CSCard::~CSCard() { logObject(this, kDestroyed); }

void CSCard::logEnter(const char* method, const char* text) const { log(method, text, 3, kPush); }

int CSCard::logReturn(const char* method, int result) const {
  logLazy(method, 3, kPop, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard::mapPlain(int r, int sw) {
  if (r == kNotSupported) return r;
  return cardresult::plain(r, sw);
}

int CSCard::mapPin(int r, int sw) {
  if (r == kNotSupported) return r;
  return cardresult::pin(r, sw);
}

int CSCard::transmit(CAPDU& apdu) {
  if (m_channel == nullptr) return cardresult::kTransport;
  return m_channel->perform(apdu);
}

int CSCard::command(int cla, int ins, int p1, int p2, const std::string* data, int le, std::string* out) {
  CAPDU apdu(makeCommand(cla, ins, p1, p2, data, le));
  const int r = transmit(apdu);
  const int result = mapPlain(r, apdu.response.SW);
  if (result == 0 && out) *out = apdu.response.data;
  return result;
}

int CSCard::pinCommand(int ins, int p1, int p2, const std::string* data) {
  CAPDU apdu(makeCommand(0x00, ins, p1, p2, data, -1));
  const int r = transmit(apdu);
  return mapPin(r, apdu.response.SW);
}

// --- files ---

int CSCard::findOpen(const CFID& fid) const {
  for (const auto& entry : m_files)
    if (entry.second->getFID().bytes() == fid.bytes()) return entry.first;
  return -1;
}

const CFileInfo* CSCard::getFileInfo(int handle) const {
  auto found = m_files.find(handle);
  return found == m_files.end() ? nullptr : found->second.get();
}

int CSCard::open(const CFID& fid) {
  logEnter("open");
  return logReturn("open", openWith(fid, 0x00, 0x00, false, false));
}

int CSCard::openWith(const CFID& fid, int p1, int p2, bool fcp, bool firstRecordIsOne) {
  const int known = findOpen(fid);
  if (known >= 0) return known;
  std::string answer;
  const std::string data = fid.bytes();
  const int result = command(0x00, 0xA4, p1, p2, &data, 0x00, &answer);
  if (result != 0) return result;
  CFileInfo* info = fcp ? parseFCP(answer, fid) : parseFCI(answer, fid);
  if (info == nullptr) throw VOQ::CException("CSCard::open", "Invalid FCI.\n");
  std::unique_ptr<CFileInfo> owned(info);
  if (firstRecordIsOne && CFileInfo::isRecordType(info->getTyp())) info->setPosition(1);
  logLazy("open", 4, 0, [&] {
    return VOQ::formatString(info->getTyp() == CFileInfo::kTransparent
                                 ? "FileInfo:\nFID: 0x%s.\nTyp: transparent.\nSize: 0x%x.\n"
                                 : "FileInfo:\nFID: 0x%s.\nTyp: unbekannt.\nSize: 0x%x.\n",
                             fid.toHex().c_str(), info->getSize());
  });
  const int handle = m_nextHandle++;
  m_files[handle] = std::move(owned);
  return handle;
}

int CSCard::read(int handle, std::string& out, int length) {
  logEnter("read");
  return logReturn("read", readWith(handle, out, length, 0x00, false));
}

int CSCard::readUpToSize(int handle, std::string& out, int length) {
  const CFileInfo* file = getFileInfo(handle);
  if (file != nullptr && file->getTyp() == CFileInfo::kTransparent && file->getSize() > 0) {
    const int left = std::max(0, file->getSize() - file->getPosition());
    if (left == 0 && length > 0) {
      out.clear();
      return 0;
    }
    length = std::min(length, left);
  }
  return read(handle, out, length);
}

int CSCard::readWith(int handle, std::string& out, int length, int selectP1, bool recordNotFoundIsEOF) {
  auto found = m_files.find(handle);
  if (found == m_files.end()) return kNotSupported;
  CFileInfo& file = *found->second;
  if (file.getFlags() & CFileInfo::kFlagEOF) return kEndOfFile;
  out.clear();
  const std::string fid = file.getFID().bytes();
  const int selected = command(0x00, 0xA4, selectP1, 0x0C, &fid, -1);
  if (selected != 0) return selected;
  const int type = file.getTyp();
  int position = file.getPosition();
  int flags = file.getFlags();
  int result;
  if (type == CFileInfo::kTransparent) {
    result = length <= 0 ? 0 : readBinary(out, position, length, flags);
  } else if (CFileInfo::isRecordType(type)) {
    result = readRecord(out, position, length, flags);
    if (recordNotFoundIsEOF && result == cardresult::statusWord(0x6A83)) result = kEndOfFile;
  } else if (CFileInfo::isUnusableType(type)) {
    return kWrongFileType;
  } else {
    throw VOQ::CException("CSCard::read", "Ungültiger Datei-Typ.\n");
  }
  // A read that fails part way leaves the file where it was: the caller learns no count,
  // so a position moved by the chunks before the failure could not be known to it.
  if (result >= 0) {
    file.setPosition(position);
    file.setFlags(flags);
  }
  return result;
}

int CSCard::write(int handle, const std::string& data) {
  logEnter("write");
  auto found = m_files.find(handle);
  if (found == m_files.end()) return logReturn("write", kNotSupported);
  CFileInfo& file = *found->second;
  if (file.getFlags() & CFileInfo::kFlagEOF) return logReturn("write", kEndOfFile);
  const std::string fid = file.getFID().bytes();
  const int selected = command(0x00, 0xA4, 0x00, 0x0C, &fid, -1);
  if (selected != 0) return logReturn("write", selected);
  const int type = file.getTyp();
  if (CFileInfo::isUnusableType(type)) return logReturn("write", kWrongFileType);
  if (type != CFileInfo::kTransparent) {
    log(nullptr, "", 3, kPop);
    throw VOQ::CException("write", "Ungültiger Datei-Typ.\n");
  }
  int position = file.getPosition();
  int flags = file.getFlags();
  const int result = updateBinary(data, position, static_cast<int>(data.size()), flags);
  if (result >= 0) {  // as for reads: a failed write leaves the file where it was
    file.setPosition(position);
    file.setFlags(flags);
  }
  return logReturn("write", result);
}

int CSCard::seek(int handle, int position) {
  auto found = m_files.find(handle);
  if (found == m_files.end()) return kNotSupported;
  CFileInfo& file = *found->second;
  const int type = file.getTyp();
  if (type == CFileInfo::kTransparent || CFileInfo::isRecordType(type)) {
    file.setPosition(position);
    file.setFlags(0);
    return 0;
  }
  if (CFileInfo::isUnusableType(type)) return kWrongFileType;
  throw VOQ::CException("CSCard::seek", "Ungültiger Datei-Typ.\n");
}

int CSCard::close(int handle) {
  log("close", "started.\n", 3, 0);
  const int result = m_files.erase(handle) ? 0 : kNotSupported;
  logLazy("close", 3, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard::changeDirectory(const CFID& fid) {
  logEnter("changeDirectory");
  const std::string data = fid.bytes();
  return logReturn("changeDirectory", command(0x00, 0xA4, 0x00, 0x0C, &data, -1));
}

int CSCard::changeDirectory(const CAID& aid) {
  logEnter("changeDirectory");
  const std::string data = aid.bytes();
  return logReturn("changeDirectory", command(0x00, 0xA4, 0x04, 0x0C, &data, -1));
}

int CSCard::changeDirectoryPath(const std::string& path) {
  logEnter("changeDirectory");
  return logReturn("changeDirectory", command(0x00, 0xA4, 0x09, 0x00, &path, -1));
}

CFileInfo* CSCard::parseFCI(const std::string& answer, const CFID& fid) { return parseControlInfo(answer, fid, false); }

CFileInfo* CSCard::parseFCP(const std::string& answer, const CFID& fid) { return parseControlInfo(answer, fid, true); }

CFileInfo* CSCard::parseControlInfo(const std::string& answer, const CFID& fid, bool fcp) {
  const char* method = fcp ? "CSCard::parseFCP" : "CSCard::parseFCI";
  int size = 0;
  int type = 0;
  if (answer.size() > 256) {
    log(method, fcp ? "FCP zu gross." : "FCI zu gross.", 4, 0);
  } else if (answer.empty() || static_cast<unsigned char>(answer[0]) != (fcp ? 0x62 : 0x6F)) {
    log(method, fcp ? "kein korrekt codierter FCP." : "kein korrekt codierter FCI.", 4, 0);
  } else {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(answer[i]); };
    // Each element: tag, one length byte, value; one that runs past the answer ends the walk.
    for (size_t i = 2; i + 1 < answer.size();) {
      const unsigned tag = at(i);
      const size_t length = at(i + 1);
      if (i + 2 + length > answer.size()) break;
      if ((tag == 0x80 || tag == 0x81) && length >= 2) size = at(i + 2) * 256 + at(i + 3);
      if (tag == 0x82 && length >= 1) type = fcp ? (at(i + 2) & 0x0F) : at(i + 2);
      i += length + 2;
    }
  }
  return new CFileInfo(fid, type, size, 0);
}

int CSCard::readBinary(std::string& out, int& position, int length, int& flags) {
  if (length < 0 || position < 0 || position > 0xFFFF) return kNotSupported;
  int count = 0;
  while (count < length) {
    if (m_abort.load()) return kAborted;
    if (position > kMaxBinaryOffset) return kNotSupported;
    const int le = std::min(kChunk, length - count);
    CAPDU apdu(makeCommand(0x00, 0xB0, position >> 8, position & 0xFF, nullptr, le));
    const int r = transmit(apdu);
    if (r != 0) return mapPlain(r, 0);
    const int sw = apdu.response.SW;
    // A card that sends more than asked for is taken at its word only up to Le.
    const std::string chunk = apdu.response.data.substr(0, static_cast<size_t>(le));
    if (sw == 0x9000 || sw == 0x6282) {
      out += chunk;
      count += static_cast<int>(chunk.size());
      position += static_cast<int>(chunk.size());
      if (sw == 0x6282) {
        flags |= CFileInfo::kFlagEOF;
        break;
      }
      if (chunk.empty()) break;  // nothing more to come: no endless loop
    } else {
      return cardresult::statusWord(sw);
    }
  }
  return count;
}

int CSCard::updateBinary(const std::string& data, int& position, int length, int& flags) {
  if (length < 0 || position < 0 || position > 0xFFFF) return kNotSupported;
  length = std::min(length, static_cast<int>(data.size()));
  int count = 0;
  while (count < length) {
    if (m_abort.load()) return kAborted;
    if (position > kMaxBinaryOffset) return kNotSupported;
    const std::string chunk = data.substr(static_cast<size_t>(count), static_cast<size_t>(std::min(kChunk, length - count)));
    CAPDU apdu(makeCommand(0x00, 0xD6, position >> 8, position & 0xFF, &chunk, -1));
    const int r = transmit(apdu);
    if (r != 0) return mapPlain(r, 0);
    const int sw = apdu.response.SW;
    if (sw != 0x9000 && sw != 0x6282) return cardresult::statusWord(sw);
    count += static_cast<int>(chunk.size());
    position += static_cast<int>(chunk.size());
    if (sw == 0x6282) {
      flags |= CFileInfo::kFlagEOF;
      break;
    }
  }
  return count;
}

int CSCard::readRecord(std::string& out, int& record, int p2, int& flags) {
  if (record < 0 || record > 255) return kNotSupported;
  CAPDU apdu(makeCommand(0x00, 0xB2, record, p2 & 0xFF, nullptr, 0x00));
  const int r = transmit(apdu);
  if (r != 0) return mapPlain(r, 0);
  const int sw = apdu.response.SW;
  if (sw != 0x9000 && sw != 0x6282) return cardresult::statusWord(sw);
  if (sw == 0x6282) flags |= CFileInfo::kFlagEOF;
  out += apdu.response.data;
  ++record;
  return static_cast<int>(apdu.response.data.size());
}

// --- signatures ---

void CSCard::setHashAlgorithm(int algorithm) {
  if (algorithm == 1 || algorithm == 2) beforeSHADigest();
  else beforeRIPEMDDigest();
  m_digestAlgorithm = algorithm;
  const EVP_MD* md = algorithm == 1 ? EVP_sha1() : algorithm == 2 ? EVP_sha256() : EVP_ripemd160();
  m_digestStarted = md != nullptr && EVP_DigestInit(m_digest.get(), md) == 1;
}

void CSCard::startSignature(int kid, const std::string& parameter, int hashAlg) {
  m_signParameter = parameter;
  setHashAlgorithm(hashAlg);
  m_keyReference = kid;
  m_cardData.clear();
}

int CSCard::finishDigest(std::string& hash) {
  if (!m_digestStarted) return kNotSupported;
  m_digestStarted = false;
  unsigned char buffer[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal(m_digest.get(), buffer, &length) != 1) return kNotSupported;
  hash.assign(reinterpret_cast<const char*>(buffer), length);
  return 0;
}

std::string CSCard::digestInfo(const std::string& hash) const {
  static const std::string sha1 = bytes({0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00,
                                         0x04, 0x14});
  static const std::string sha256 = bytes({0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
                                           0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20});
  static const std::string ripemd = bytes({0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x24, 0x03, 0x02, 0x01, 0x05,
                                           0x00, 0x04, 0x14});
  return (m_digestAlgorithm == 1 ? sha1 : m_digestAlgorithm == 2 ? sha256 : ripemd) + hash;
}

int CSCard::signInit(int, std::string, int) { return kNotSupported; }

int CSCard::signUpdate(const std::string& data) {
  logEnter("signUpdate");
  if (m_digestStarted) EVP_DigestUpdate(m_digest.get(), data.data(), data.size());
  return logReturn("signUpdate", 0);
}

int CSCard::signFinal(int, const std::string*, std::string&, unsigned char) { return kNotSupported; }
int CSCard::signFinal(int, std::string&, unsigned char) { return kNotSupported; }

int CSCard::padVerification(int kid, int format, int length) {
  CReader* reader = m_reader;
  if (reader == nullptr) return cardresult::kSecureEntryImpossible;
  return reader->performVerification(static_cast<unsigned char>(kid), format, length, 6, 0, nullptr, nullptr, nullptr);
}

int CSCard::putMSE(const std::string& data, int p1, int p2) {
  log("putMSE", "started.\n", 4, 0);
  const int result = command(0x00, 0x22, p1, p2, &data, -1);
  logLazy("putMSE", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard::PutHash(const std::string& hash) {
  log("PutHash", "started.\n", 4, 0);
  const int result = command(0x00, 0x2A, 0x90, 0x81, &hash, -1);
  logLazy("PutHash", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard::decrypt(const std::string& cryptogram, std::string& out) {
  log("decrypt", "started.\n", 4, 0);
  // The channel gives this header its fixed 2048-bit framing, which fits no other
  // length: the command is framed here, short or extended as its length needs.
  const std::string data = std::string(1, '\0') + cryptogram;
  std::string apdu = bytes({0x00, 0x2A, 0x80, 0x86});
  if (data.size() <= 255) {
    apdu += static_cast<char>(data.size());
    apdu += data + std::string(1, '\0');
  } else if (data.size() <= 0xFFFF) {
    apdu += bytes({0x00, static_cast<int>(data.size() >> 8), static_cast<int>(data.size() & 0xFF)});
    apdu += data + std::string(2, '\0');
  } else {
    return kNotSupported;
  }
  std::string answer;
  CResponseAPDU response;
  int result = directIO(apdu, answer);
  if (result == 0) {
    result = CICC_base::split(answer, response) ? cardresult::plain(0, response.SW) : cardresult::kMalformedAnswer;
    if (result == 0) out = response.data;
  }
  logLazy("decrypt", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard::encipher(const std::string& data, std::string& out) {
  std::string answer;
  const int result = command(0x00, 0x2A, 0x86, 0x80, &data, 0x00, &answer);
  if (result == 0) out = answer.empty() ? std::string() : answer.substr(1);
  return result;
}

// --- PINs ---

std::string CSCard::padTo8(const std::string& value, int pad) {
  if (value.size() >= 8) return value;
  return value + std::string(8 - value.size(), static_cast<char>(pad));
}

int CSCard::unblockPIN(int, const std::string&, int) { return kNotSupported; }

int CSCard::changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int pad) {
  logEnter("changeReferenceData");
  const std::string data = padTo8(oldPin, pad) + padTo8(newPin, pad);
  return logReturn("changeReferenceData", pinCommand(0x24, 0x00, kid, &data));
}

int CSCard::verifyPaddedPIN(int kid, const std::string& pin, int pad) {
  logEnter("verifyPIN");
  const std::string data = padTo8(pin, pad);
  return logReturn("verifyPIN", pinCommand(0x20, 0x00, kid, &data));
}

int CSCard::unblockWithCode(int kid, const std::string& puk, int pad) {
  logEnter("unblockPIN");
  const std::string data = padTo8(puk, pad);
  return logReturn("unblockPIN", pinCommand(0x2C, 0x01, kid, &data));
}

int CSCard::activatePIN(int, const std::string&, int) { return kNotSupported; }

int CSCard::readCINFromDF71(char* buffer) {
  if (buffer == nullptr) return kNotSupported;
  int result = changeDirectory(CFID(bytes({0xDF, 0x71})));
  if (result != 0) return result;
  const int handle = open(CFID(bytes({0xD0, 0x01})));
  if (handle < 0) return handle;
  std::string number;
  result = readUpToSize(handle, number, 8);
  close(handle);
  if (result < 0) return result;
  // All eight bytes, or the buffer would keep stale characters behind a short number.
  if (number.size() < 8) return kEndOfFile;
  std::memcpy(buffer, CBuffer(number.substr(0, 8)).toHex().data(), kCINLength);
  return 0;
}

// --- the rest of the table ---

int CSCard::reserved1(int, int, int) { return kNotSupported; }
int CSCard::reserved2(int, int) { return kNotSupported; }
int CSCard::reserved4(int, int) { return kNotSupported; }
int CSCard::getCIN(char*) { return kNotSupported; }
int CSCard::getPublicKey(std::string&, std::string&, int) { return kNotSupported; }

int CSCard::write(const std::string& data, int tag) {
  logEnter("write");
  if (tag < 0 || tag > 0xFFFF) return logReturn("write", kNotSupported);
  if (data.empty()) return logReturn("write", kNoData);
  const int result = command(0x00, 0xDA, tag >> 8, tag & 0xFF, &data, -1);
  return logReturn("write", result == 0 ? static_cast<int>(data.size()) : result);
}

int CSCard::lock() {
  logEnter("lock");
  m_lock.enter();
  return logReturn("lock", 0);
}

int CSCard::unlock() {
  logEnter("unlock");
  m_lock.leave();
  return logReturn("unlock", 0);
}

namespace {

// GET CHALLENGE and GET SERIAL: the output is emptied once an answer arrived.
int getData(int r, const CResponseAPDU& response, std::string& out) {
  if (r != 0) return r == CSCard::kNotSupported ? r : cardresult::transport(r);
  out.clear();
  if (response.SW != 0x9000) return cardresult::statusWord(response.SW);
  out = response.data;
  return 0;
}

}  // namespace

int CSCard::getChallenge(std::string& out) {
  logEnter("getChallenge");
  CAPDU apdu(makeCommand(0x00, 0x84, 0x00, 0x00, nullptr, 0x00));
  const int r = transmit(apdu);
  return logReturn("getChallenge", getData(r, apdu.response, out));
}

int CSCard::getSerial(std::string& out) {
  logEnter("getSerial");
  CAPDU apdu(makeCommand(0x80, 0xF6, 0x00, 0x00, nullptr, 0x00));
  const int r = transmit(apdu);
  return logReturn("getSerial", getData(r, apdu.response, out));
}

int CSCard::abort() {
  m_abort.store(1);
  return 0;
}

int CSCard::getATR(unsigned char* buffer, int capacity, int* length) {
  if (length) *length = 0;
  if (buffer == nullptr || length == nullptr || capacity < 0 || m_atr.size() > static_cast<size_t>(capacity))
    return kNotSupported;
  std::memcpy(buffer, m_atr.data(), m_atr.size());
  *length = static_cast<int>(m_atr.size());
  return 0;
}

int CSCard::directIO(const std::string& command, std::string& response) {
  log("CSCard::directIO", "started.\n", 3, kPush);
  int result = m_channel ? m_channel->doIO(command, response) : -1;
  if (result != 0) result = cardresult::transport(result);
  return logReturn("CSCard::directIO", result);
}

// --- key file ---

void CSCard::appendReversed(std::string& out, const std::string& value) { out.append(value.rbegin(), value.rend()); }

int CSCard::parsePublicKey(const std::string& content, std::string& modulus, std::string& exponent, int keyNumber) {
  if (content.empty()) return 1;
  const size_t size = content.size();
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(content[i]); };
  const int entries = static_cast<signed char>(byteAt(0));
  if (entries < 0) return 1;
  size_t entry = 1;
  for (int n = 0; n < entries; ++n) {
    // An entry whose key number is not there cannot be told apart from the one asked for.
    if (entry >= size) return 1;
    const int number = static_cast<signed char>(byteAt(entry));
    if (number != keyNumber) {
      // The last entry, even cut short, only tells that the key is not in the file.
      if (n == entries - 1) break;
      if (entry + 3 > size) return 1;
      entry += (byteAt(entry + 1) * 256u + byteAt(entry + 2)) + 12;
      continue;
    }
    // The entry asked for: its three element headers must lie in the content.
    if (entry + 17 > size) return 1;
    std::string foundModulus, foundExponent;
    size_t value = entry + 17;
    for (int element = 0; element < 3; ++element) {
      const unsigned tag = byteAt(entry + 11 + 2 * element);
      const size_t elementLength = byteAt(entry + 12 + 2 * element);
      if (value + elementLength > size) return 1;
      if (tag == 0x10) appendReversed(foundModulus, content.substr(value, elementLength));
      if (tag == 0x13) appendReversed(foundExponent, content.substr(value, elementLength));
      value += elementLength;
    }
    modulus += foundModulus;
    exponent += foundExponent;
    return 0;
  }
  return 0;
}

}  // namespace cardvariant
