// Opens arbitrary bytes as a PDF in the test viewer and runs the plug-in's document
// check on it: the check answers 0 or 3, and leaves no frame, callback or page behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HostCalls.h"
#include "fuzz_machine_root.h"
#include "VOQ_DocumentValidator.h"

namespace {

vhost::Viewer& viewer() {
  static vhost::Viewer instance;
  return instance;
}

}  // namespace

// The viewer's main window and the settings live in a machine root of this run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzztest::machineRootOfThisRun("validator-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vhost::Viewer& v = viewer();
  if (!v.openDocumentFromMemory("fuzz.pdf", std::string(reinterpret_cast<const char*>(data), size))) return 0;
  pdftest::bindHFTs(v);
  int frames = v.frameDepth();
  int callbacks = v.liveCallbacks();
  int32_t result = VOQ_DocumentValidator::validate(v.activePDDoc(), false);
  if (result != 0 && result != 3) __builtin_trap();
  if (v.frameDepth() != frames || v.liveCallbacks() != callbacks) __builtin_trap();
  // Nothing of qpdf's may outlive the iteration: at exit qpdf's own statics go first.
  v.closeDocuments();
  return 0;
}
