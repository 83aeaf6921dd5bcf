// Card answers are outside data: the file control information of a SELECT,
// taken apart as FCI and as FCP, and a whole open and read of a file whose
// card answers are the fuzzer's bytes.
#include "cardaccess/card/CSCard.h"
#include "cardaccess/reader/CICC.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// Answers every command with the next piece of the input (a length byte, then
// that many bytes); a piece shorter than a status word becomes 90 00.
class FuzzChannel : public CICC_base {
 public:
  FuzzChannel(const uint8_t* data, size_t size) : input_(reinterpret_cast<const char*>(data), size) {}
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string&, std::string& response) override {
    if (at_ >= input_.size()) return 0x16;
    const size_t n = static_cast<unsigned char>(input_[at_++]);
    response = input_.substr(at_, n);
    at_ += response.size();
    if (response.size() < 2) response = std::string("\x90\x00", 2);
    return 0;
  }

 private:
  std::string input_;
  size_t at_ = 0;
};

class FuzzCard : public CSCard {
 public:
  explicit FuzzCard(CICC_base* channel) : CSCard(channel, nullptr, "", 2) {}
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int verifyPIN(int, const std::string&, int) override { return 0; }
  int emptyOperation(int, int, int) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  FuzzChannel channel(data, size);
  FuzzCard card(&channel);
  const CFID fid(std::string("\x3F\x00", 2));
  std::unique_ptr<CFileInfo>(card.parseFCI(answer, fid));
  std::unique_ptr<CFileInfo>(card.parseFCP(answer, fid));
  try {
    const int handle = card.open(fid);
    if (handle >= 0) {
      std::string out;
      card.read(handle, out, 300);
      card.seek(handle, 0x7F00);
      card.read(handle, out, 300);
    }
  } catch (...) {
    // Unknown file types and answers without a status word are raised to the caller.
  }
  return 0;
}
