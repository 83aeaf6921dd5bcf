// Card answers are outside data: taken apart as FCI, FCP and as a key file, and
// fed to whole operations of the card types (open, read, card number, public key,
// a signature) through a channel that answers with the fuzzer's bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cardaccess/reader/CICC.h"
#include "cardvariant/CSCard_OCard.h"
#include "cardvariant/CSCard_TrustSign.h"
#include "foundation/base/CException.h"

namespace {

// Answers every command with the next piece of the input (a length byte, then that
// many bytes, which may be fewer than a status word); at the end, transport failures.
class FuzzChannel : public cardvariant::CICC_base {
 public:
  FuzzChannel(const uint8_t* data, size_t size) : input_(reinterpret_cast<const char*>(data), size) {}
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string&, std::string& response) override {
    if (at_ >= input_.size()) return -10;
    const size_t n = static_cast<unsigned char>(input_[at_++]);
    response = input_.substr(at_, n);
    at_ += response.size();
    return 0;
  }

 private:
  std::string input_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  FuzzChannel channel(data, size);
  cardvariant::CSCard_TrustSign trustSign(&channel, nullptr, "", 2);
  const cardvariant::CFID fid(std::string("\x2F\x02", 2));
  std::unique_ptr<cardvariant::CFileInfo>(trustSign.parseFCI(answer, fid));
  std::unique_ptr<cardvariant::CFileInfo>(trustSign.parseFCP(answer, fid));
  std::string modulus, exponent;
  trustSign.parsePublicKey(answer, modulus, exponent, size ? data[0] % 4 : 0);
  char cin[cardvariant::CSCard::kCINLength];
  try {
    trustSign.getCIN(cin);
    trustSign.getPublicKey(modulus, exponent, 2);
    const std::string pin = "1234";
    trustSign.signInit(0x81, std::string("\x80\x01\x12\x84\x01\x82", 6), 1);
    std::string signature;
    trustSign.signFinal(0x81, &pin, signature, 0);
    cardvariant::CSCard_OCard oCard(&channel, nullptr, "", 1);
    const int handle = oCard.open(fid);
    if (handle >= 0) {
      std::string out;
      oCard.read(handle, out, 300);
      oCard.seek(handle, 0x7F00);
      oCard.read(handle, out, 300);
    }
  } catch (const VOQ::CException&) {
    // File types no operation knows are raised to the caller by design.
  }
  return 0;
}
