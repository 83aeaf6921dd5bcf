// The card base class of the plug-in's card library: files (select, open, read,
// write, seek, close), PIN commands, the host-side hash of a signature, security
// operations, GET CHALLENGE, the serial number, PUT DATA, raw commands and a lock
// of the card object's own. Operations a card type does not offer answer 0x80000001.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "cardaccess/card/CBuffer.h"
#include "cardaccess/card/CFileInfo.h"
#include "cardvariant/CLogable.h"
#include "foundation/base/VCriticalSection.h"

struct evp_md_ctx_st;

namespace cardvariant {

class CAPDU;
class CICC_base;
class CReader;

class CSCard : public CLogable {
 public:
  // Result codes of the card library.
  static constexpr int kNotSupported = static_cast<int>(0x80000001u);
  static constexpr int kNoData = static_cast<int>(0x80000002u);
  static constexpr int kAborted = static_cast<int>(0x80000006u);
  static constexpr int kEndOfFile = static_cast<int>(0x80040001u);
  static constexpr int kWrongFileType = static_cast<int>(0x80040002u);
  static constexpr int kRefused = static_cast<int>(0x80080001u);
  // Highest offset READ and UPDATE BINARY address: with bit 8 of P1 set a card
  // reads P1 as a short file identifier, that is another file.
  static constexpr int kMaxBinaryOffset = 0x7FFF;
  // Bytes getCIN writes: the 8 bytes of the number as hex text, no terminating zero.
  static constexpr int kCINLength = 16;

  CSCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard() override;
  CSCard(const CSCard&) = delete;
  CSCard& operator=(const CSCard&) = delete;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  // The operations a card type may replace, in the order of the card's table.
  virtual int open(const CFID& fid);
  virtual int read(int handle, std::string& out, int length);
  virtual int signInit(int kid, std::string parameter, int hashAlg);
  virtual int signUpdate(const std::string& data);
  // pin NULL: entry on the reader's PIN pad.
  virtual int signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl);
  virtual int signFinal(int kid, std::string& out, unsigned char ssl);
  virtual int unblockPIN(int kid, const std::string& puk, int pad);
  virtual int verifyPIN(int kid, const std::string& pin, int pad) = 0;
  virtual int reserved1(int first, int second, int third);
  // PSO DECIPHER of a cryptogram (padding indicator 00).
  virtual int decrypt(const std::string& cryptogram, std::string& out);
  virtual int reserved2(int first, int second);
  virtual int encipher(const std::string& data, std::string& out);
  virtual int changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int pad);
  // buffer receives kCINLength characters, without a terminating zero.
  virtual int getCIN(char* buffer);
  virtual int getPublicKey(std::string& modulus, std::string& exponent, int keyNumber);
  virtual int reserved3(int first, int second, int third) = 0;
  virtual int activatePIN(int kid, const std::string& pin, int digits);
  // 0 TrustSign, 1 bank card, 2 ECard, 3 OCard, 4 D-Trust.
  virtual int getCardType() = 0;
  virtual int reserved4(int first, int second);

  // read, asking for no more than the file holds from its position by the size its
  // control information gave (the length itself when it gave none): a card whose
  // files end in 6B00 answers that as an error, so its files are never read past
  // their end. Nothing left: 0 without a command.
  int readUpToSize(int handle, std::string& out, int length);

  int changeDirectory(const CFID& fid);
  int changeDirectory(const CAID& aid);
  // SELECT by path from the current directory (P1 09).
  int changeDirectoryPath(const std::string& path);
  int close(int handle);
  int seek(int handle, int position);
  // UPDATE BINARY of an opened transparent file from its position.
  int write(int handle, const std::string& data);
  // PUT DATA of the data object tag: the byte count or a result code.
  int write(const std::string& data, int tag);
  // The card object's own lock; only the thread that took it releases it.
  int lock();
  int unlock();
  int getChallenge(std::string& out);
  int getSerial(std::string& out);
  // May be called from another thread while a read or update runs.
  int abort();
  // Copies the ATR into the buffer (its length to *length): 0, or 0x80000001
  // with length 0 when it does not fit.
  int getATR(unsigned char* buffer, int capacity, int* length);
  int directIO(const std::string& command, std::string& response);
  int getHashAlg() const { return m_hashAlg; }
  // Starts the host-side hash: 1 SHA-1, 2 SHA-256, any other RIPEMD-160.
  void setHashAlgorithm(int algorithm);
  int putMSE(const std::string& data, int p1, int p2);
  // PSO HASH 00 2A 90 81 with the hash itself.
  int PutHash(const std::string& hash);

  // A file description from a SELECT answer (6F or 62); size and type 0 when the
  // answer does not carry them. Elements running past the answer end the walk.
  CFileInfo* parseFCI(const std::string& answer, const CFID& fid);
  CFileInfo* parseFCP(const std::string& answer, const CFID& fid);

  int readBinary(std::string& out, int& position, int length, int& flags);
  int updateBinary(const std::string& data, int& position, int length, int& flags);
  int readRecord(std::string& out, int& record, int p2, int& flags);

  // Hooks before a digest starts; no effect.
  void beforeSHADigest() {}
  void beforeRIPEMDDigest() {}

  // Reads the public key numbered keyNumber from a key file (entries with the
  // values least significant byte first): 0, also when no entry has the number
  // (outputs unchanged); 1 for empty or malformed content.
  int parsePublicKey(const std::string& content, std::string& modulus, std::string& exponent, int keyNumber);
  static void appendReversed(std::string& out, const std::string& value);

  const CFileInfo* getFileInfo(int handle) const;
  int getKeyReference() const { return m_keyReference; }
  int getDigestAlgorithm() const { return m_digestAlgorithm; }
  const std::string& getSignParameter() const { return m_signParameter; }
  CReader* getReader() const { return m_reader; }

 protected:
  // A command: perform's result, the answer in the record. Data over 255 bytes
  // (other than the decipher block) are refused unsent.
  int transmit(CAPDU& apdu);
  // The result code of a command (plain mapping), the response data to out on 9000.
  int command(int cla, int ins, int p1, int p2, const std::string* data, int le, std::string* out = nullptr);
  // The same with the PIN mapping (wrong PIN with tries left, blocked).
  int pinCommand(int ins, int p1, int p2, const std::string* data);
  // The card result of perform's result r and status word sw.
  static int mapPlain(int r, int sw);
  static int mapPin(int r, int sw);

  // SELECT with P1 and P2 (FCI or FCP answer); record files start at record 1 when asked.
  int openWith(const CFID& fid, int p1, int p2, bool fcp, bool firstRecordIsOne);
  // Reads after SELECT P1 0C; a record not found becomes the end of the file when asked.
  int readWith(int handle, std::string& out, int length, int selectP1, bool recordNotFoundIsEOF);

  // The hash of the data since signInit. 0x80000001 when no signature was begun,
  // or its digest was finished already: nothing may be signed then.
  int finishDigest(std::string& hash);
  void startSignature(int kid, const std::string& parameter, int hashAlg);
  // The PKCS#1 DigestInfo of the digest algorithm with the hash.
  std::string digestInfo(const std::string& hash) const;
  // The value with pad bytes up to 8; 8 bytes or more unchanged.
  static std::string padTo8(const std::string& value, int pad);

  // The padded PIN commands and the card number in DF71/D001 that several types share.
  int verifyPaddedPIN(int kid, const std::string& pin, int pad);
  int unblockWithCode(int kid, const std::string& puk, int pad);
  int readCINFromDF71(char* buffer);
  // PIN of a final: the given PIN, or entry on the reader's PIN pad.
  int padVerification(int kid, int format, int length);

  void logEnter(const char* method, const char* text = "started.\n") const;
  int logReturn(const char* method, int result) const;

  std::map<int, std::unique_ptr<CFileInfo>> m_files;
  CICC_base* m_channel;
  CReader* m_reader;
  std::atomic<int> m_abort{0};
  std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> m_digest;
  bool m_digestStarted = false;
  std::string m_cardData;
  std::string m_atr;
  std::string m_signParameter;
  int m_hashAlg;
  int m_digestAlgorithm = 0;
  int m_keyReference = -1;
  int m_nextHandle = 0;
  VCriticalSection m_lock;

 private:
  CFileInfo* parseControlInfo(const std::string& answer, const CFID& fid, bool fcp);
  int findOpen(const CFID& fid) const;
};

}  // namespace cardvariant
