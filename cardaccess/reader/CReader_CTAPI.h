// A card terminal driven by a vendor's CT-API driver, spoken to with the CT-BCS
// terminal commands; PIN entry on the terminal's keypad.
#pragma once

#include <memory>

#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CReader_CTAPI : public CReader {
 public:
  CReader_CTAPI(const std::string& driverName, unsigned short ctn, const std::string& name, unsigned char useGUI,
                unsigned char ownsTerminal);
  // Closes the terminal when this reader owns it.
  ~CReader_CTAPI() override;

  int getSize() const override;
  int connect(int unused) override;
  int disconnect() override;
  // The ICC status byte of the unit (0 no card, 3 present, 5 activated), or a result code.
  int getStatus(int unit) override;
  // The terminal's manufacturer data.
  int getCT(std::string& out) override;
  int reset(bool unused) override;
  int performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                          unsigned char timeOut, const std::string* apdu, const std::string* displayText,
                          int* status) override;
  int modifyVerification(unsigned char keyReference, int format, int fixedLength) override;
  int activateVerification(unsigned char keyReference, int format, int fixedLength) override;
  int activateVerification_KOBIL(unsigned char keyReference, int format, int fixedLength) override;

  // The channel to the card, NULL while no card is connected.
  CICC* getCardChannel() { return m_cardChannel.get(); }

 private:
  // Sends a CT-BCS command to the terminal: perform's result, the answer in apdu.
  int terminal(CAPDU& apdu);
  // After REQUEST ICC or RESET ICC answered: the card object, or why there is none.
  int takeAnswerToReset(const CAPDU& apdu);
  int modify(const std::string& data, const char* method);
  // Drops the card object and its channel together.
  void dropCardAndChannel();

  unsigned char m_ownsTerminal;
  std::unique_ptr<CICC> m_cardChannel;
};

QUARVEL_CARD_NAMESPACE_END
