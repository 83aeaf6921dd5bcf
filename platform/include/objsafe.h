// Safety of an object for scripting and for data from a page.
#pragma once

#include "unknwn.h"

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002
#define INTERFACE_USES_DISPEX 0x00000004
#define INTERFACE_USES_SECURITY_MANAGER 0x00000008

#ifdef __cplusplus
extern "C" const IID IID_IObjectSafety;  // {CB5BDC81-93C1-11CF-8F20-00805F2CD064}

struct IObjectSafety : public IUnknown {
  STDMETHOD(GetInterfaceSafetyOptions)(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) PURE;
  STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) PURE;

 protected:
  ~IObjectSafety() = default;
};
#endif
