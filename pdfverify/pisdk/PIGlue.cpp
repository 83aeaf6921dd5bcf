#include "pisdk/PICalls.h"

HFT gCoreHFT = nullptr, gAcroSupportHFT = nullptr, gCosHFT = nullptr, gPDModelHFT = nullptr,
    gAcroViewHFT = nullptr, gPDSReadHFT = nullptr, gWinHFT = nullptr, gASExtraHFT = nullptr,
    gAcroColorHFT = nullptr, gPubSecHFT = nullptr, gDigSigHFT = nullptr,
    gPDFConsultantHFT = nullptr;
ASUns32 gCoreVersion = 0, gAcroSupportVersion = 0, gCosVersion = 0, gPDModelVersion = 0,
        gAcroViewVersion = 0, gPDSReadVersion = 0, gWinVersion = 0, gASExtraVersion = 0,
        gAcroColorVersion = 0;
ExtensionID extensionId = nullptr;

void resumeFrame(void* /*frame*/) { throw pisdk::HostRaise{ASGetExceptionErrorCode()}; }
