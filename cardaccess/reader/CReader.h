// Reader objects: the base that holds the current card, and the reader with its
// channel, PC/SC context and PIN-pad features that PC/SC and CT-API readers share.
#pragma once

#include <string>
#include <vector>

#include <winscard.h>

#include "cardaccess/reader/CICC.h"
#include "foundation/base/VCriticalSection.h"
#include "foundation/core/CLogable.h"
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CSCard;

class CReader_base : public CLogable {
 public:
  CReader_base(const std::string& name, unsigned char useGUI);
  // Deletes the card object.
  ~CReader_base() override;
  CReader_base(const CReader_base&) = delete;
  CReader_base& operator=(const CReader_base&) = delete;

  int getSize() const override;
  virtual int connect(int unused) = 0;
  virtual int disconnect() = 0;
  virtual int getStatus(int unit) = 0;
  virtual int getCT(std::string& out) = 0;

  CSCard* getCard();
  // NULL when the name is empty.
  const char* getName() const;
  // The UseGUI setting: whether the caller shows its own dialogs for this reader.
  unsigned char shallUseGUI() const;
  // The reader's lock, for callers that share one reader between threads: it
  // serialises the operations on the reader and its cards. Reentrant; only the
  // thread that entered it leaves it. Both 0. CReaderLock holds it for a scope.
  int lock();
  int unlock();
  // The same lock without the trace lines of lock and unlock, for the natives,
  // which take it around every call.
  VCriticalSection& lockSection() { return m_lock; }
  const std::string& getATR() const { return m_ATR; }

 protected:
  // The new card object of a connect. One still held is retired, not deleted: the
  // Java layer may hold it until the next disconnect.
  void takeCard(CSCard* card, const std::string& atr);
  // Deletes the current card object, and with retired, the retired ones too.
  void dropCard(bool retired);

  CSCard* m_card = nullptr;
  std::string m_ATR;
  VCriticalSection m_lock;
  std::string m_name;
  unsigned char m_useGUI;

 private:
  void dropOne(CSCard* card);

  std::vector<CSCard*> m_retired;
};

// Holds a reader's lock (lock and unlock, with their trace lines) for a scope, so
// that no way out of it, an exception included, leaves the reader locked.
class CReaderLock {
 public:
  explicit CReaderLock(CReader_base& reader) : m_reader(reader) { m_reader.lock(); }
  ~CReaderLock() { m_reader.unlock(); }
  CReaderLock(const CReaderLock&) = delete;
  CReaderLock& operator=(const CReaderLock&) = delete;

 private:
  CReader_base& m_reader;
};

class CReader : public CReader_base {
 public:
  enum Kind : unsigned char { kCTAPI = 0, kPCSC = 1 };
  static constexpr int kFeatureCount = 32;

  // A CT-API reader: its channel speaks to the terminal (sad 2, dad 1).
  CReader(const std::string& driverName, unsigned short ctn, const std::string& name, unsigned char useGUI,
          unsigned char isSecure);
  // A PC/SC reader of the context hCtx.
  CReader(SCARDCONTEXT hCtx, int shareMode, const std::string& readerName, unsigned char useGUI,
          unsigned char isSecure);
  ~CReader() override;

  int getSize() const override;
  virtual int reset(bool cold) = 0;
  // PIN entry on the reader's keypad; apdu, displayText and status may be NULL.
  virtual int performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                                  unsigned char timeOut, const std::string* apdu, const std::string* displayText,
                                  int* status) = 0;
  virtual int modifyVerification(unsigned char keyReference, int format, int fixedLength) = 0;
  virtual int activateVerification(unsigned char keyReference, int format, int fixedLength) = 0;
  virtual int activateVerification_KOBIL(unsigned char keyReference, int format, int fixedLength) = 0;

  unsigned char isSecure() const { return m_isSecure; }
  void setSecure(unsigned char secure) { m_isSecure = secure; }
  // NULL when empty.
  const char* getCTAPIName() const;
  CICC& getChannel() { return m_channel; }
  DWORD getFeature(int tag) const { return tag >= 0 && tag < kFeatureCount ? m_features[tag] : 0; }

 protected:
  CICC m_channel;
  unsigned short m_ctn = 0;
  std::string m_secondName;
  unsigned char m_kind;
  SCARDCONTEXT m_hCtx = 0;
  int m_shareMode = SCARD_SHARE_EXCLUSIVE;
  DWORD m_activeProtocol = 0;
  DWORD m_features[kFeatureCount] = {};
  unsigned char m_isSecure;
};

QUARVEL_CARD_NAMESPACE_END
