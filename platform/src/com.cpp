// COM's base and OLE automation: GUIDs and their texts, task memory, system strings,
// VARIANTs and one-dimensional SAFEARRAYs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objbase.h"
#include "shlobj.h"
#include "platform/win_threads.h"

extern "C" {

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellExtInit = {0x000214E8, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IContextMenu = {0x000214E4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

}  // extern "C"

namespace {

int hexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `at`; false on anything else.
bool readHex(LPCOLESTR text, size_t at, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = hexValue(text[at + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

HRESULT parseGuid(LPCOLESTR text, GUID* guid) {
  if (!text || !guid) return E_INVALIDARG;
  size_t length = 0;
  while (text[length] && length < 40) ++length;
  if (length != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' ||
      text[19] != u'-' || text[24] != u'-') {
    return CO_E_CLASSSTRING;
  }
  uint32_t v = 0;
  GUID g{};
  if (!readHex(text, 1, 8, &v)) return CO_E_CLASSSTRING;
  g.Data1 = v;
  if (!readHex(text, 10, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<unsigned short>(v);
  if (!readHex(text, 15, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<unsigned short>(v);
  static const size_t bytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text, bytes[i], 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<unsigned char>(v);
  }
  *guid = g;
  return S_OK;
}

// The block of a BSTR: its byte length precedes the characters.
uint32_t* headerOf(BSTR s) { return reinterpret_cast<uint32_t*>(s) - 1; }

size_t elementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

// What the array was made for, kept in front of the record.
struct ArrayBlock {
  VARTYPE vt;
  SAFEARRAY array;
};

ArrayBlock* blockOf(SAFEARRAY* psa) {
  return reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(psa) - offsetof(ArrayBlock, array));
}

}  // namespace

extern "C" {

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) { return parseGuid(lpsz, pclsid); }

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) { return parseGuid(lpsz, lpiid); }

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", rguid.Data1, rguid.Data2,
                rguid.Data3, rguid.Data4[0], rguid.Data4[1], rguid.Data4[2], rguid.Data4[3], rguid.Data4[4],
                rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
  for (int i = 0; i < 39; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return 39;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

BSTR WINAPI SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  if (cch > (0xFFFFFFFFu - sizeof(uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + (cch + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  block[0] = cch * sizeof(OLECHAR);
  BSTR s = reinterpret_cast<BSTR>(block + 1);
  if (pch) std::memcpy(s, pch, cch * sizeof(OLECHAR));
  s[cch] = 0;
  return s;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(headerOf(bstrString));
}

UINT WINAPI SysStringByteLen(BSTR bstr) { return bstr ? *headerOf(bstr) : 0; }

UINT WINAPI SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (!pvarg) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt & VT_ARRAY) {
      if (pvarg->parray) {
        const HRESULT hr = SafeArrayDestroy(pvarg->parray);
        if (FAILED(hr)) return hr;
      }
    } else {
      switch (pvarg->vt) {
        case VT_BSTR:
          SysFreeString(pvarg->bstrVal);
          break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
          if (pvarg->punkVal) pvarg->punkVal->Release();
          break;
        default:
          break;
      }
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  if (!(copy.vt & VT_BYREF)) {
    if (copy.vt & VT_ARRAY) {
      return DISP_E_BADVARTYPE;  // arrays are not copied by this layer
    } else if (copy.vt == VT_BSTR && copy.bstrVal) {
      copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
      copy.punkVal->AddRef();
    }
  }
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  *pvargDest = copy;
  return S_OK;
}

SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const size_t size = elementSize(vt);
  if (size == 0) return nullptr;
  auto* block = static_cast<ArrayBlock*>(std::calloc(1, sizeof(ArrayBlock)));
  if (!block) return nullptr;
  block->vt = vt;
  SAFEARRAY* psa = &block->array;
  psa->cDims = 1;
  psa->fFeatures = FADF_HAVEVARTYPE;
  psa->cbElements = static_cast<ULONG>(size);
  psa->rgsabound[0].cElements = cElements;
  psa->rgsabound[0].lLbound = lLbound;
  psa->pvData = std::calloc(cElements ? cElements : 1, size);  // zeroed: empty strings, VT_EMPTY variants
  if (!psa->pvData) {
    std::free(block);
    return nullptr;
  }
  return psa;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  ArrayBlock* block = blockOf(psa);
  const ULONG n = psa->rgsabound[0].cElements;
  if (block->vt == VT_BSTR) {
    for (ULONG i = 0; i < n; ++i) SysFreeString(static_cast<BSTR*>(psa->pvData)[i]);
  } else if (block->vt == VT_VARIANT) {
    for (ULONG i = 0; i < n; ++i) VariantClear(static_cast<VARIANT*>(psa->pvData) + i);
  }
  std::free(psa->pvData);
  std::free(block);
  return S_OK;
}

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  *pvt = blockOf(psa)->vt;
  return S_OK;
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plUbound = psa->rgsabound[0].lLbound + static_cast<LONG>(psa->rgsabound[0].cElements) - 1;
  return S_OK;
}

}  // extern "C"
