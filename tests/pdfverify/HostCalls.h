// Lets a test call the test viewer through the plug-in's own call path (pisdk/PICalls.h):
// the glue's HFT handles are set from the viewer's tables.
#pragma once

#include "Viewer.h"
#include "pisdk/PICalls.h"

namespace pdftest {

inline void bindHFTs(vhost::Viewer& viewer) {
  gCoreHFT = viewer.hft(kCoreHFTName);
  gAcroSupportHFT = viewer.hft(kAcroSupportHFTName);
  gCosHFT = viewer.hft(kCosHFTName);
  gPDModelHFT = viewer.hft(kPDModelHFTName);
  gAcroViewHFT = viewer.hft(kAcroViewHFTName);
  gWinHFT = viewer.hft(kWinHFTName);
  gASExtraHFT = viewer.hft(kASExtraHFTName);
  gPubSecHFT = viewer.hft(kPubSecHFTName);
  gDigSigHFT = viewer.hft(kDigSigHFTName);
  gPDFConsultantHFT = viewer.hft(kPDFConsultantHFTName);
  extensionId = viewer.newExtension("test");
}

// The code a host call raised, or 0.
template <typename F>
ASErrorCode raisedBy(F&& call) {
  ASErrorCode code = 0;
  DURING
    call();
  HANDLER
    code = ERRORCODE;
  END_HANDLER
  return code;
}

}  // namespace pdftest
