// Helpers of the reader tests: hex texts, a scripted CT-API driver behind the
// binding's resolver, and a stand-in for card recognition.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "TestTrace.h"
#include "cardaccess/reader/CardRecognition.h"


namespace readertest {

std::string hex(const std::string& bytes);
std::string unhex(const std::string& text);
std::string lower(std::string text);
// The ATR of a card profile of the test bed.
std::string atrOf(const std::string& profile);

// Every test process writes the trace log at level 6 into its machine root.
using cardaccesstest::traceFile;
using cardaccesstest::traceText;

// A CT-API driver in the test process: answers from a queue, records each CT_data
// call and swaps the addresses on return as real drivers do. Puts itself in place
// as the binding's resolver while it lives.
class FakeDriver {
 public:
  struct Call {
    std::string driver;
    unsigned short ctn;
    unsigned char dad, sad;
    unsigned short capacity;
    std::string command;
  };

  FakeDriver();
  ~FakeDriver();
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  std::deque<std::string> answers;
  std::vector<Call> calls;
  std::vector<unsigned short> closes;
  int result = 0;
  int lengthOverride = -1;
  bool missing = false;   // no function at all
  bool noClose = false;   // a driver without CT_close
};

// Card recognition that accepts the listed ATRs with a card object of its own.
class FakeRecognition : public CardRecognition {
 public:
  explicit FakeRecognition(std::vector<std::string> atrs);
  ~FakeRecognition() override;
  CSCard* getSCard(const std::string& atr, CICC* channel, CReader* reader) override;
  void deleteCard(CSCard* card) override;

  int made = 0;
  int deleted = 0;
  std::vector<CICC*> channels;

 private:
  std::vector<std::string> m_atrs;
  CardRecognition* m_previous;
};

}  // namespace readertest
