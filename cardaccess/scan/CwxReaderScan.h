// Looks for the card readers that are attached: the CT-API terminals of six known
// drivers on ports 1 to 9 and the readers of the smart-card service. Runs the reader
// selection dialog over both lists and writes the user's choice to Reader0, from
// where the reader factory builds the reader.
#pragma once

#include <memory>

#include <windows.h>

#include "cardaccess/scan/ReaderChoice.h"
#include "foundation/core/CLogable.h"

class CwxReaderScan : public CLogable {
 public:
  static constexpr int kDriverCount = 6;
  static constexpr int kMaxPorts = 9;
  static constexpr int kAreaSize = 2048;
  static constexpr int kCTAPIRowLength = 47;
  static constexpr int kPCSCRowLength = 80;
  // Whole rows that fit the areas; the PC/SC listing is kept to eight readers.
  static constexpr int kMaxCTAPIRows = kAreaSize / kCTAPIRowLength;
  static constexpr int kMaxPCSCRows = 8;
  // The driver file names, in the order they are probed.
  static const char* const kDriverNames[kDriverCount];

  using CT_initFunction = signed char (*)(unsigned short ctn, unsigned short pn);
  using CT_dataFunction = signed char (*)(unsigned short ctn, unsigned char* dad, unsigned char* sad,
                                          unsigned short lenc, unsigned char* command, unsigned short* lenr,
                                          unsigned char* response);
  using CT_closeFunction = signed char (*)(unsigned short ctn);

  // Reads the stored choice.
  CwxReaderScan();
  // Unloads the drivers.
  ~CwxReaderScan() override;
  CwxReaderScan(const CwxReaderScan&) = delete;
  CwxReaderScan& operator=(const CwxReaderScan&) = delete;

  int getSize() const override;

  // Scans, shows the dialog and saves the choice on OK. 1 OK, 2 cancelled (also when
  // another reader selection is open in the process), 0 or -1 when the dialog could
  // not be shown.
  int displayReaderDialog();

  // Probes the drivers and writes one row per answering terminal; *count is the
  // number of rows, at most kMaxCTAPIRows. The window handle is only logged.
  void CT_query(HWND hwnd, int* count, char* rows);
  // *count: the most rows wanted on entry (never more than kMaxPCSCRows), the rows
  // written on return. Always 0.
  int listPCSCReaders(int ignored, int* count, char* rows);

  char* getCTAPIRows() { return m_ctapiRows; }
  char* getPCSCRows() { return m_pcscRows; }

  // The current choice, or NULL when none could be read.
  ReaderChoice* getChoice() { return m_choice.get(); }
  // Keeps a copy of the record (which may be the current choice itself).
  void setChoice(const ReaderChoice& choice);

  void loadReaderSettings();
  void saveReaderSettings();

 private:
  HMODULE m_modules[kDriverCount] = {};
  CT_initFunction m_CT_init[kDriverCount] = {};
  CT_dataFunction m_CT_data[kDriverCount] = {};
  CT_closeFunction m_CT_close[kDriverCount] = {};
  char m_ctapiRows[kAreaSize] = {};
  char m_pcscRows[kAreaSize] = {};
  std::unique_ptr<ReaderChoice> m_choice;
};

// The row of one terminal from its two GET STATUS answers, each given with the
// number of bytes the driver returned (status word included): the port digit, the
// PIN-pad flag, the maker text padded with spaces and its hex form padded with "0".
// Answers are the terminal's: nothing is read beyond what it returned.
void formatCTAPIRow(int port, const unsigned char* units, int unitsLength, const unsigned char* maker,
                    int makerLength, char row[CwxReaderScan::kCTAPIRowLength]);
