// Decodes arbitrary bytes and encodes them with a line length taken from the
// input; both directions must come back to where they started.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/util/VOQ_Base64.h"
#include "foundation/util/VOQ_MemoryStream.h"

namespace {

VOQ_String encoded(VOQ_String& input, unsigned int lineLength) {
  VOQ_String out;
  VOQ_MemoryStream in(&input);
  VOQ_MemoryStream stream(&out);
  voqBase64Encode(&in, &stream, 0xFFFFFFFF, lineLength);
  return out;
}

VOQ_String decoded(VOQ_String& input) {
  VOQ_String out;
  VOQ_MemoryStream in(&input);
  VOQ_MemoryStream stream(&out);
  voqBase64Decode(&in, &stream);
  return out;
}

bool sameBytes(const VOQ_String& a, const VOQ_String& b) {
  return a.getLength() == b.getLength() &&
         (a.getLength() == 0 || std::memcmp(a.getData(), b.getData(), a.getLength()) == 0);
}

// Encoder output: alphabet, '=' and line breaks only, and as many characters
// (without the breaks) as the length function says.
void checkEncoding(const VOQ_String& text, unsigned int inputLength) {
  unsigned int characters = 0;
  for (unsigned int i = 0; i < text.getLength(); ++i) {
    const char c = text.getData()[i];
    if (c == '\r' || c == '\n') continue;
    if (std::strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=", c) == nullptr) {
      std::abort();
    }
    ++characters;
  }
  if (characters != voqBase64EncodedLength(inputLength)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const unsigned int lineLength = size > 0 ? data[0] * 4u + (size > 1 ? data[1] % 4u : 0u) : 76u;
  VOQ_String input(static_cast<unsigned int>(size), data);

  VOQ_String plain = decoded(input);
  VOQ_String text = encoded(plain, lineLength);
  checkEncoding(text, plain.getLength());
  if (!sameBytes(decoded(text), plain)) {
    std::abort();
  }

  VOQ_String direct = encoded(input, lineLength);
  checkEncoding(direct, input.getLength());
  if (!sameBytes(decoded(direct), input)) {
    std::abort();
  }
  return 0;
}
