// The line reader against the grammar on the same bytes, for each start
// expression: where the line reader accepts a text, the grammar must match it
// with the same captures (the same bytes of the input in every slot); the line
// reader may decline anything. First byte: the start expression.
#include "foundation/archive/ArchiveInternal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool sameSlots(const CaptureList* a, const CaptureList* b) {
  for (int s = 0; s < kGrammarSlots; ++s) {
    if (a[s].count != b[s].count) return false;
    for (uint32_t k = 0; k < a[s].count; ++k) {
      if (a[s].items[k].data != b[s].items[k].data || a[s].items[k].length != b[s].items[k].length) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kStarts[] = {"<manifest>", "<section>", "<signer_info>"};
  const std::string start = kStarts[data[0] % 3];
  // A copy of exactly the text, so that reading past it is seen.
  unsigned char* text = static_cast<unsigned char*>(std::malloc(size - 1 + 1));
  if (text == nullptr) return 0;
  if (size > 1) std::memcpy(text, data + 1, size - 1);
  const Blob input = makeBlob(text, size - 1);
  const Blob startBlob = makeBlob(start.data(), start.size());

  AllocList list{};
  CaptureList lines[kGrammarSlots];
  const int accepted = parseManifestLines(&list, input, startBlob, lines, kGrammarSlots);
  if (accepted != 0 && accepted != 1) std::abort();
  if (accepted == 1) {
    unsigned char rules[2048];
    Blob r = makeBlob(rules, sizeof rules);
    if (loadManifestGrammar(&r) != 0) std::abort();
    CaptureList grammar[kGrammarSlots];
    if (matchGrammar(&list, r, startBlob, input, grammar, kGrammarSlots) != 1) std::abort();
    if (!sameSlots(lines, grammar)) std::abort();
  }
  arcFreeAll(&list);
  std::free(text);
  return 0;
}
