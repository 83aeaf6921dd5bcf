// The plug-in's side of the host interface: the HFT handles it fetched, one inline
// function per host operation that calls through the matching table entry, and the
// exception-frame macros.
//
//   DURING
//     count = CosArrayLength(obj);      // may raise
//   HANDLER
//     code = ERRORCODE;                 // the frame is already popped here
//     RERAISE();                        // optional: on to the next outer frame
//   END_HANDLER
//
// A frame is a C++ scope: the host's raise reaches its handler by unwinding, so code
// between DURING and HANDLER may own objects with destructors.
#pragma once

#include <cstdlib>

#include "pisdk/PIExcept.h"
#include "pisdk/PIHFTs.h"

// The HFT handles and the versions recorded when they were fetched (0 before).
extern HFT gCoreHFT, gAcroSupportHFT, gCosHFT, gPDModelHFT, gAcroViewHFT, gPDSReadHFT,
    gWinHFT, gASExtraHFT, gAcroColorHFT, gPubSecHFT, gDigSigHFT, gPDFConsultantHFT;
extern ASUns32 gCoreVersion, gAcroSupportVersion, gCosVersion, gPDModelVersion,
    gAcroViewVersion, gPDSReadVersion, gWinVersion, gASExtraVersion, gAcroColorVersion;

namespace pisdk {

// The procedure of a selector; a call through a table the plug-in does not hold, or
// past its end, is a fault of the plug-in and ends the process.
template <typename Proto>
Proto hftProc(HFT hft, unsigned selector) {
  if (hft == nullptr || selector >= reinterpret_cast<uintptr_t>(hft[0])) std::abort();
  return reinterpret_cast<Proto>(hft[selector]);
}

}  // namespace pisdk

// One inline function per operation, calling through the entry of its table.
#define PI_CALL(table, name, result, params, args) \
  inline result name params { return ::pisdk::hftProc<name##SELPROTO>(table, name##SEL) args; }
#define PI_CORE_CALL(...) PI_CALL(gCoreHFT, __VA_ARGS__)
#define PI_ACROSUPPORT_CALL(...) PI_CALL(gAcroSupportHFT, __VA_ARGS__)
#define PI_ASEXTRA_CALL(...) PI_CALL(gASExtraHFT, __VA_ARGS__)
#define PI_COS_CALL(...) PI_CALL(gCosHFT, __VA_ARGS__)
#define PI_PDMODEL_CALL(...) PI_CALL(gPDModelHFT, __VA_ARGS__)
#define PI_ACROVIEW_CALL(...) PI_CALL(gAcroViewHFT, __VA_ARGS__)
#define PI_WIN_CALL(...) PI_CALL(gWinHFT, __VA_ARGS__)
#define PI_PUBSEC_CALL(...) PI_CALL(gPubSecHFT, __VA_ARGS__)
#define PI_DIGSIG_CALL(...) PI_CALL(gDigSigHFT, __VA_ARGS__)
#define PI_CONSULTANT_CALL(...) PI_CALL(gPDFConsultantHFT, __VA_ARGS__)

PI_CORE_HFT(PI_CORE_CALL)
PI_ACROSUPPORT_HFT(PI_ACROSUPPORT_CALL)
PI_ASEXTRA_HFT(PI_ASEXTRA_CALL)
PI_COS_HFT(PI_COS_CALL)
PI_PDMODEL_HFT(PI_PDMODEL_CALL)
PI_ACROVIEW_HFT(PI_ACROVIEW_CALL)
PI_WIN_HFT(PI_WIN_CALL)
PI_PUBSEC_HFT(PI_PUBSEC_CALL)
PI_DIGSIG_HFT(PI_DIGSIG_CALL)
PI_CONSULTANT_HFT(PI_CONSULTANT_CALL)

// The restore procedure of every frame: resumes at the frame's handler with the
// host's current error code.
void resumeFrame(void* frame);

// A plug-in function handed to the host, made with Core's callback maker.
#define ASCallbackCreateProto(proto, proc) \
  ASCallbackCreate(extensionId, reinterpret_cast<void*>(static_cast<proto>(proc)))

namespace pisdk {

// One pushed frame; popped by HANDLER or, when a non-host exception passes, by the
// destructor.
class ExceptionFrame {
 public:
  ExceptionFrame() { ASPushExceptionFrame(this, &resumeFrame); }
  ~ExceptionFrame() { pop(); }
  ExceptionFrame(const ExceptionFrame&) = delete;
  ExceptionFrame& operator=(const ExceptionFrame&) = delete;
  void pop() {
    if (pushed_) {
      pushed_ = false;
      ASPopExceptionFrame();
    }
  }

 private:
  bool pushed_ = true;
};

}  // namespace pisdk

#define DURING                          \
  {                                     \
    ::pisdk::ExceptionFrame piFrame_;   \
    try {
#define HANDLER                         \
  piFrame_.pop();                       \
  }                                     \
  catch (const ::pisdk::HostRaise&) {   \
    piFrame_.pop();
#define END_HANDLER \
  }                 \
  }
#define ERRORCODE (ASGetExceptionErrorCode())
#define RERAISE() ASRaise(ERRORCODE)

// The extension identifier from the set-up record; every callback is made with it.
extern ExtensionID extensionId;
