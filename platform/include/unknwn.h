// COM's base: GUIDs, IUnknown and IClassFactory. Interfaces are C++ abstract classes
// whose virtual tables keep the slot order of the interface.
#pragma once

#include <string.h>

#include "windef.h"
#include "winerror.h"

typedef struct _GUID {
  uint32_t Data1;
  unsigned short Data2;
  unsigned short Data3;
  unsigned char Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;

#ifdef __cplusplus
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#endif

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0
#define STDAPICALLTYPE
#ifdef __cplusplus
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#else
#define STDAPI HRESULT STDAPICALLTYPE
#endif

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)

#ifdef __cplusplus
extern "C" {
#endif
extern const IID IID_IUnknown;       // {00000000-0000-0000-C000-000000000046}
extern const IID IID_IClassFactory;  // {00000001-0000-0000-C000-000000000046}
extern const GUID GUID_NULL;
#ifdef __cplusplus
}

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;  // objects go through Release
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;

 protected:
  ~IClassFactory() = default;
};
typedef IClassFactory* LPCLASSFACTORY;
#endif
