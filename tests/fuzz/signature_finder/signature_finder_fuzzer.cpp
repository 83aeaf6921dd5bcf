// Runs the signature finder over arbitrary bytes opened as a PDF in the test viewer: a
// search for a value taken from the input's last bytes, and the signing time and signer
// metadata of every field's signature dictionary. Everything must answer; the host's
// frames and callbacks must balance afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HostCalls.h"
#include "SignatureFinder.h"
#include "fuzz_machine_root.h"

namespace {

const char kRun[] = "finder-fuzz";

vhost::Viewer& viewer() {
  static vhost::Viewer instance;
  return instance;
}

ASBool readField(PDDoc, CosObj field, void*) {
  vhost::catchRaise([&] {
    CosObj sig = CosDictGet(field, ASAtomFromString("V"));
    if (CosObjGetType(sig) != CosDict) return;
    foundSignatureDict = sig;
    VOQ_Time time;
    readSigningTime(time);
    VOQ_XML_Document metadata;
    VOQ_String text;
    readSignerMetadata(metadata, text);
  });
  return true;
}

}  // namespace

// The viewer's window and the documents live in a folder of this run, never the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzztest::machineRootOfThisRun(kRun);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
  ASCallback fields = ASCallbackCreateProto(DigSigEnumProc, &readField);
  vhost::catchRaise([&] { DigSigEnumSignatures(v.activePDDoc(), fields, nullptr); });
  ASCallbackDestroy(fields);

  if (v.frameDepth() != frames || v.liveCallbacks() != callbacks) __builtin_trap();
  v.closeDocuments();
  return 0;
}
