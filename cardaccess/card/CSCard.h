// The base of every card type: directories, opening, reading, writing and
// closing files, PIN change, MANAGE SECURITY ENVIRONMENT, PSO HASH and ENCIPHER,
// on-card hashing, the host-side hash of a signature, raw commands and the abort
// flag. Operations a card type does not provide answer 0x80000001.
#pragma once

#include "cardaccess/card/CBuffer.h"
#include "cardaccess/card/CFileInfo.h"
#include "foundation/base/VCriticalSection.h"
#include "foundation/core/CLogable.h"

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

class CAPDU;
class CICC_base;
class CReader;
struct evp_md_ctx_st;

class CSCard : public CLogable {
 public:
  // Highest offset a READ or UPDATE BINARY can address: with bit 7 of P1 set
  // the card would take P1 as a short file identifier and read another file.
  static constexpr int kMaxBinaryOffset = 0x7FFF;
  // The longest answer-to-reset ISO 7816-3 allows.
  static constexpr int kMaxATRLength = 33;
  // Result codes of the file model and of on-card hashing.
  static constexpr int kEndOfFile = static_cast<int>(0x80040001u);
  static constexpr int kWrongFileType = static_cast<int>(0x80040002u);
  static constexpr int kEncodeFailed = static_cast<int>(0x80050000u);
  // The longest signature of any card type: that of a 4096-bit key.
  static constexpr std::size_t kMaxSignatureBytes = 512;

  CSCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard() override;
  CSCard(const CSCard&) = delete;
  CSCard& operator=(const CSCard&) = delete;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  // A file handle (0 or more) or a result code.
  virtual int open(const CFID& fid);
  // The byte count read (the record's length for record files) or a result code.
  virtual int read(int handle, std::string& out, int count);
  virtual int signInit(int kid, std::string parameter, int hashAlg);
  virtual int signUpdate(const std::string& data);
  virtual int signFinal(int kid, const std::string& pin, std::string& out, bool tls);
  virtual int signFinal(int kid, std::string& out, bool tls);
  // The bank card's form: the unblocking code alone.
  virtual int unblockPIN(int kid, const std::string& code, int pad);
  virtual int verifyPIN(int kid, const std::string& pin, int pad) = 0;
  virtual int decryptInit(int kid, std::string parameter);
  virtual int decryptFinal(int kid, const std::string& pin, const std::string& data, std::string& out);
  virtual int decryptFinal(int kid, const std::string& data, std::string& out);
  virtual int notSupportedA(int first, int second);
  virtual int encipher(const std::string& data, std::string& out);
  virtual int changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int pad);
  // out holds capacity bytes; the CIN as hex text with its terminating zero.
  virtual int getCIN(char* out, std::size_t capacity);
  virtual int getPublicKey(int kid, std::string& modulus, std::string& exponent);
  virtual int emptyOperation(int first, int second, int third) = 0;
  virtual int activatePIN(int kid, const std::string& pin, int digits);
  virtual int hashOnCard(const std::string& data);
  virtual int notSupportedB(int first, int second);
  virtual int finalOnCard();

  int changeDirectory(const CFID& fid);
  int changeDirectory(const CAID& aid);
  int changeDirectoryPath(const CAID& path);
  int close(int handle);
  int seek(int handle, int position);
  int write(int handle, const std::string& data);
  // May be called from another thread while an operation runs.
  int abort();
  // Copies the ATR into buffer (capacity bytes): 0, or 0x80000001 with length 0
  // when it does not fit or is longer than any ATR can be.
  int getATR(unsigned char* buffer, int capacity, int* length);
  int directIO(const std::string& command, std::string& response);
  int getHashAlg() const;
  // Starts the host-side hash: 1 SHA-1, 2 SHA-256, any other RIPEMD-160.
  int setHashAlgorithm(int algorithm);
  int putMSE(const std::string& data, int p1, int p2);
  int PutHash(const std::string& hash);

  // New file descriptions from a SELECT answer; NULL only when memory runs out.
  CFileInfo* parseFCI(const std::string& answer, const CFID& fid);
  CFileInfo* parseFCP(const std::string& answer, const CFID& fid);

  // The description of an opened file, NULL for an unknown handle.
  const CFileInfo* getFileInfo(int handle) const;
  CReader* getReader() const { return m_reader; }
  CICC_base* getChannel() const { return m_channel; }
  const std::string& getATR() const { return m_atr; }
  bool isAborted() const { return m_abort.load() != 0; }
  int getKeyReference() const { return m_keyReference; }
  int getDigestAlgorithm() const { return m_digestAlgorithm; }

 protected:
  // A command record; data NULL = no data field, le -1 = no Le byte.
  static CAPDU makeAPDU(int cla, int ins, int p1, int p2, const std::string* data, int le, bool extended = false);
  // perform's result (0 or 0x8001xxxx); the answer in the record.
  int transmit(CAPDU& apdu);
  // The same with the plain or the PIN mapping of the status word; the response
  // data go to out when given and the status word is 9000.
  int plainCommand(int cla, int ins, int p1, int p2, const std::string* data, int le, std::string* out = nullptr,
                   bool extended = false);
  int pinCommand(int cla, int ins, int p1, int p2, const std::string* data);
  // PSO DECIPHER 00 2A 80 86 with Le 00 and the plain mapping. Data over 255
  // bytes (81 and a 2048-bit cryptogram) go with ISO extended length.
  int decipher(const std::string& data, std::string& out);

  // Opens with the given SELECT (P1, P2) and FCI or FCP parsing; record files
  // start at record 1 when firstRecordIsOne.
  int openWith(const CFID& fid, int p1, int p2, bool fcp, bool firstRecordIsOne);
  // Reads after a SELECT with P2 (0C) and P1; record-not-found becomes end of file
  // when recordNotFoundIsEOF.
  int readWith(int handle, std::string& out, int count, int selectP1, bool recordNotFoundIsEOF);
  int readBinary(std::string& out, int& position, int count, int& flags);
  int readRecord(std::string& out, int& record, int p2, int& flags);
  int updateBinary(const std::string& data, int& position, int count, int& flags);

  // A signature command's result as the caller sees it: an answer that cannot be
  // a signature (none, longer than any key, or not keyBytes long where the card
  // type knows its key) is the malformed answer, and out is emptied.
  static int checkSignature(int result, std::string& out, std::size_t keyBytes = 0);
  // Ends the running digest: signUpdate and signFinal refuse until the next
  // signInit (a signature whose key could not be chosen is never made).
  void dropDigest();
  // The hash of the data since signInit; 0x80000001 when no signature was begun
  // (no digest running), and the digest then stays unusable until the next signInit.
  int finishDigest(std::string& hash);
  // The PKCS#1 v1.5 DigestInfo prefix of the digest algorithm.
  static std::string digestInfoPrefix(int digestAlgorithm);
  // pad the text with the pad byte to 8 bytes; 8 or more bytes are taken whole.
  static std::string padTo8(const std::string& value, int pad);
  // Wraps up to 64 bytes as the data object 80 L data: 0, or 0x80000001 for more
  // than 64 bytes, or 0x80050000 when the encoder fails.
  static int encodeHashBlock(const std::string& block, std::string& object);

  // "started." with indent, and "returned: 0x%x." with unindent.
  void logEnter(const char* method, int level = 3) const;
  int logReturn(const char* method, int result, int level = 3) const;

  std::map<int, std::unique_ptr<CFileInfo>> m_files;
  CICC_base* m_channel;
  CReader* m_reader;
  std::atomic<int> m_abort{0};
  std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> m_digest;
  std::string m_pendingData;
  std::string m_atr;
  std::string m_signParameter;
  int m_hashAlg;
  int m_digestAlgorithm = 0;
  int m_keyReference = -1;
  int m_nextHandle = 0;
  VCriticalSection m_section;

 private:
  CFileInfo* parseControlInfo(const std::string& answer, const CFID& fid, bool fcp);
  CFileInfo* findOpen(const CFID& fid, int* handle) const;
};
