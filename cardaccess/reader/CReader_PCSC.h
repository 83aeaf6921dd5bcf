// A reader of the PC/SC service, with secure PIN entry on its PIN pad through the
// PC/SC part 10 features.
#pragma once

#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CReader_PCSC : public CReader {
 public:
  // userMessage is not kept.
  CReader_PCSC(const std::string& readerName, SCARDCONTEXT hCtx, int shareMode, unsigned char useGUI,
               unsigned char useBeep, unsigned char isSecure, int userMessage);
  // Disconnects the card and releases the reader's context.
  ~CReader_PCSC() override;

  int getSize() const override;
  int connect(int unused) override;
  int disconnect() override;
  // 0 no card, 3 card present, 5 card present and in position; or a PC/SC result.
  int getStatus(int unused) override;
  int getCT(std::string& out) override;
  int reset(bool cold) override;
  int performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                          unsigned char timeOut, const std::string* apdu, const std::string* displayText,
                          int* status) override;
  int modifyVerification(unsigned char keyReference, int format, int fixedLength) override;
  // Not supported by PC/SC readers: 0x80000001.
  int activateVerification(unsigned char keyReference, int format, int fixedLength) override;
  int activateVerification_KOBIL(unsigned char keyReference, int format, int fixedLength) override;

  // Fills the feature table; false, and isSecure off for good, without secure PIN entry.
  bool GetPCSCReaderFeatures();

 private:
  struct Entry;
  LONG connectCard();
  LONG readATR(std::string& atr);
  int recognise(const std::string& atr);
  LONG control(const char* method, DWORD code, const std::string& in, BYTE* out, DWORD* returned,
               const char* feature);
  // Polls the keys until the entries end: 0, or the failing poll's result.
  LONG keyLoop(const char* method, Entry& entry);
  void tone(DWORD frequency);

  unsigned char m_useBeep;
};

QUARVEL_CARD_NAMESPACE_END
