// OLE automation's functions: system strings (BSTR), VARIANTs and SAFEARRAYs.
//
// A BSTR is one block: a 32-bit byte length, the UTF-16 characters and a NUL; the
// pointer names the first character. NULL is the empty string to every reader.
#pragma once

#include "oaidl.h"

#ifdef __cplusplus
extern "C" {
#endif

BSTR WINAPI SysAllocString(const OLECHAR* psz);
// cch characters from pch (or, with pch NULL, uninitialised room for them).
BSTR WINAPI SysAllocStringLen(const OLECHAR* pch, UINT cch);
void WINAPI SysFreeString(BSTR bstrString);
UINT WINAPI SysStringLen(BSTR pbstr);
UINT WINAPI SysStringByteLen(BSTR bstr);

void WINAPI VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (string, array, interface reference) and makes it VT_EMPTY.
HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

// A one-dimensional array of VT_UI1, VT_I2, VT_I4, VT_UI4, VT_BSTR or VT_VARIANT elements.
SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa);
// Fails with DISP_E_ARRAYISLOCKED while the data are accessed.
HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa);
HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa);
HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);

// Type libraries. A module carries its library as resource 1 of type "TYPELIB", a text
// of its own form (one statement a line):
//   library {LIBID} <major>.<minor> <name> "<help string>"
//   interface {IID} <name> [dual]
// LoadTypeLib reads it from the module file szFile (TYPE_E_CANTLOADLIBRARY when the
// module or its library is missing or malformed); a dual interface's type information
// has TYPEFLAG_FDUAL, TYPEFLAG_FOLEAUTOMATION and TYPEFLAG_FDISPATCHABLE. RegisterTypeLib
// enters the library under HKEY_CLASSES_ROOT: TypeLib\{LIBID}\<major.minor> (the help
// string), its 0\win32 or 0\win64 (szFullPath), FLAGS ("0") and HELPDIR (szHelpDir, or
// the module's folder); and each automation interface (dual, oleautomation or a
// dispatch interface) under Interface\{IID}: its name, ProxyStubClsid and
// ProxyStubClsid32 (the universal marshaler {00020424-0000-0000-C000-000000000046}) and
// TypeLib (the LIBID, value Version "<major>.<minor>"). Other interfaces get no
// Interface entries. UnRegisterTypeLib takes away the Interface entries that name this
// version of the library and the version's key (the LIBID key when no other version is
// left). Registry failures give TYPE_E_REGISTRYACCESS.
HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);

#ifdef __cplusplus
}
#endif
