// Runs the signature finder over arbitrary bytes opened as a PDF in the test viewer: a
// search for a value taken from the input's last bytes (which reads the signature
// dictionary of a matching field from the bytes around its gap), then the signing time
// and signer metadata of the match. The reader of that dictionary also runs alone over the
// input cut in two at a point its first byte chooses, as the bytes before and after a
// gap. Everything must answer; the host's frames and callbacks must balance afterwards.
// Seeds: a signed field, and the shapes of what is written after signing (a decoy field
// placed first, the dictionary redefined later in the file, an indirect /M).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HostCalls.h"
#include "SignatureFinder.h"
#include "SignedDictionary.h"
#include "fuzz_machine_root.h"

namespace {

const char kRun[] = "finder-fuzz";

vhost::Viewer& viewer() {
  static vhost::Viewer instance;
  return instance;
}

// The dictionary reader alone, with each kind of end: bytes from the file's start or not,
// up to the signed ranges' end or not.
void readAlone(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const size_t cut = 1 + (size - 1) * data[0] / 255;
  const std::string before(reinterpret_cast<const char*>(data) + 1, cut - 1);
  const std::string after(reinterpret_cast<const char*>(data) + cut, size - cut);
  for (int ends = 0; ends < 4; ++ends) {
    SignedDictionary d;
    readSignedDictionary(before, (ends & 1) != 0, after, (ends & 2) != 0, d);
  }
}

}  // namespace

// The viewer's window and the documents live in a folder of this run, never the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzztest::machineRootOfThisRun(kRun);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  readAlone(data, size);
  // The finder reads the document's file a second time, so the bytes go into a file.
  const std::string path = fuzztest::machineRootOfThisRun(kRun) + "/fuzz.pdf";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  vhost::Viewer& v = viewer();
  static const bool bound = (pdftest::bindHFTs(v), true);
  (void)bound;
  if (!v.openDocument(path)) return 0;
  const int frames = v.frameDepth();
  const int callbacks = v.liveCallbacks();

  const size_t valueLength = size < 8 ? size : 8;
  vhost::catchRaise([&] { findSignature(v.activePDDoc(), data + size - valueLength, valueLength); });
  vhost::catchRaise([&] {
    countSignatureFields(v.activeAVDoc());
    hasSignatureFields(v.activeAVDoc());
  });
  VOQ_Time time;
  readSigningTime(time);
  VOQ_XML_Document metadata;
  VOQ_String text;
  readSignerMetadata(metadata, text);

  if (v.frameDepth() != frames || v.liveCallbacks() != callbacks) __builtin_trap();
  v.closeDocuments();
  return 0;
}
