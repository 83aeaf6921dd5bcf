// Services an object finds through its site, by service and interface identifier.
#pragma once

#include "unknwn.h"

#ifdef __cplusplus
extern "C" const IID IID_IServiceProvider;  // {6D5140C1-7436-11CE-8034-00AA006009FA}

struct IServiceProvider : public IUnknown {
  STDMETHOD(QueryService)(REFGUID guidService, REFIID riid, void** ppvObject) PURE;

 protected:
  ~IServiceProvider() = default;
};
#endif
