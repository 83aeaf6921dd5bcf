// Answers of a CT-API driver and of a PIN pad are outside data. The driver here
// answers every CT_data with the next piece of the input: a length byte it
// claims (more than it has, more than the buffer holds), then the bytes. The
// reader runs its whole round over those answers; the input also goes through
// the feature-list parser.
#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardaccess/reader/CardRecognition.h"
#include "cardaccess/reader/PinPad.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
size_t g_at = 0;

signed char fuzzData(unsigned short, unsigned char* dad, unsigned char* sad, unsigned short, unsigned char*,
                     unsigned short* lenr, unsigned char* response) {
  if (g_at >= g_size) return -1;
  const size_t claimed = g_data[g_at++];
  const size_t present = std::min({claimed, g_size - g_at, static_cast<size_t>(*lenr)});
  std::memcpy(response, g_data + g_at, present);
  std::memset(response + present, 0, std::min(claimed, static_cast<size_t>(*lenr)) - present);
  g_at += present;
  *lenr = static_cast<unsigned short>(claimed == 255 ? 65535 : claimed);
  std::swap(*dad, *sad);
  return 0;
}

signed char fuzzClose(unsigned short) { return 0; }

void* resolve(const char*, const char* function) {
  if (std::strcmp(function, "CT_data") == 0) return reinterpret_cast<void*>(&fuzzData);
  if (std::strcmp(function, "CT_close") == 0) return reinterpret_cast<void*>(&fuzzClose);
  return nullptr;
}

// Every ATR makes a card object of its own, so that card and channel lifetimes are exercised.
class AnyCard : public CardRecognition {
 public:
  CSCard* getSCard(const std::string&, CICC*, CReader*) override { return reinterpret_cast<CSCard*>(new char); }
  void deleteCard(CSCard* card) override { delete reinterpret_cast<char*>(card); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static AnyCard recognition;
  static const bool setUp = [] {
    setCTAPIResolver(&resolve);
    setCardRecognition(&recognition);
    return true;
  }();
  (void)setUp;

  DWORD table[pinpad::kFeatureCount] = {};
  pinpad::parseFeatures(data, size, table);

  g_data = data;
  g_size = size;
  g_at = 0;
  CReader_CTAPI reader("fuzz", 1, "Reader", 1, 0);
  const std::string apdu("\x00\x20\x00\x01\x08", 5);
  const std::string text = "PIN";
  std::string out;
  int status = 0;
  // No answer, however short, may end a step with an exception.
  auto step = [](auto&& f) { f(); };
  step([&] { reader.connect(0); });
  step([&] { reader.getCT(out); });
  step([&] { reader.getStatus(1); });
  step([&] { reader.performVerification(0x81, 2, 6, 6, 30, &apdu, &text, &status); });
  step([&] { reader.modifyVerification(0x81, 0, 0); });
  step([&] { reader.activateVerification_KOBIL(0x81, 2, 0); });
  step([&] {
    if (CICC* channel = reader.getCardChannel()) {
      CAPDU read(CCommandAPDU(0x00, 0xB0, 0x00, 0x00));
      read.command.setLe(0);
      channel->perform(read);
    }
  });
  step([&] { reader.reset(false); });
  step([&] { reader.disconnect(); });
  return 0;
}
