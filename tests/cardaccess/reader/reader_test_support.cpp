#include "reader_test_support.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "cardsim/profile.h"
#include "cardaccess/reader/CTAPI.h"

namespace readertest {

namespace {

FakeDriver* g_driver = nullptr;

signed char fakeData(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc, unsigned char* command,
                     unsigned short* lenr, unsigned char* response) {
  FakeDriver& d = *g_driver;
  d.calls.push_back({getCTAPIDll(), ctn, *dad, *sad, *lenr, hex(std::string(reinterpret_cast<char*>(command), lenc))});
  if (d.result != 0) return static_cast<signed char>(d.result);
  std::string answer = d.answers.empty() ? std::string("\x90\x00", 2) : d.answers.front();
  if (!d.answers.empty()) d.answers.pop_front();
  const size_t n = std::min<size_t>(answer.size(), *lenr);
  std::memcpy(response, answer.data(), n);
  *lenr = d.lengthOverride >= 0 ? static_cast<unsigned short>(d.lengthOverride) : static_cast<unsigned short>(n);
  std::swap(*dad, *sad);
  return 0;
}

signed char fakeClose(unsigned short ctn) {
  g_driver->closes.push_back(ctn);
  return 0;
}

void* resolve(const char*, const char* function) {
  if (!g_driver || g_driver->missing) return nullptr;
  if (std::strcmp(function, "CT_data") == 0) return reinterpret_cast<void*>(&fakeData);
  if (std::strcmp(function, "CT_close") == 0 && !g_driver->noClose) return reinterpret_cast<void*>(&fakeClose);
  return nullptr;
}

// Each fake card object is a distinct allocation the recognition owns.
struct FakeCard {
  std::string atr;
};

}  // namespace

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string atrOf(const std::string& profile) {
  auto atr = cardsim::CardProfile::load(cardsim::CardProfile::installedPath(profile)).atr;
  return std::string(atr.begin(), atr.end());
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

std::string unhex(const std::string& text) {
  std::string out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ') continue;
    else throw std::invalid_argument("not hex: " + text);
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd hex: " + text);
  return out;
}

FakeDriver::FakeDriver() {
  g_driver = this;
  setCTAPIResolver(&resolve);
}

FakeDriver::~FakeDriver() {
  setCTAPIResolver(nullptr);
  g_driver = nullptr;
}

FakeRecognition::FakeRecognition(std::vector<std::string> atrs)
    : m_atrs(std::move(atrs)), m_previous(setCardRecognition(this)) {}

FakeRecognition::~FakeRecognition() { setCardRecognition(m_previous); }

CSCard* FakeRecognition::getSCard(const std::string& atr, CICC* channel, CReader*) {
  if (std::find(m_atrs.begin(), m_atrs.end(), atr) == m_atrs.end()) return nullptr;
  ++made;
  channels.push_back(channel);
  return reinterpret_cast<CSCard*>(new FakeCard{atr});
}

void FakeRecognition::deleteCard(CSCard* card) {
  ++deleted;
  delete reinterpret_cast<FakeCard*>(card);
}

}  // namespace readertest
