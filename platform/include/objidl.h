// Uniform data transfer: the data object that hands a selection to a shell extension
// (FORMATETC, STGMEDIUM, IDataObject). Only global memory travels as a medium here.
#pragma once

#include "unknwn.h"

typedef WORD CLIPFORMAT;
#define CF_TEXT 1
#define CF_HDROP 15

typedef enum tagTYMED {
  TYMED_HGLOBAL = 1,
  TYMED_FILE = 2,
  TYMED_ISTREAM = 4,
  TYMED_ISTORAGE = 8,
  TYMED_GDI = 16,
  TYMED_MFPICT = 32,
  TYMED_ENHMF = 64,
  TYMED_NULL = 0
} TYMED;

typedef enum tagDVASPECT { DVASPECT_CONTENT = 1, DVASPECT_THUMBNAIL = 2, DVASPECT_ICON = 4, DVASPECT_DOCPRINT = 8 } DVASPECT;

typedef struct tagDVTARGETDEVICE DVTARGETDEVICE;  // target devices are never given here

typedef struct tagFORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
} FORMATETC, *LPFORMATETC;

typedef struct tagSTGMEDIUM {
  DWORD tymed;
  union {
    HBITMAP hBitmap;
    HGLOBAL hGlobal;
    LPWSTR lpszFileName;
  };
  IUnknown* pUnkForRelease;
} STGMEDIUM, *LPSTGMEDIUM;

#ifdef __cplusplus
struct IEnumFORMATETC;
struct IAdviseSink;
struct IEnumSTATDATA;

// The slots keep the interface's order; a data object that cannot do one answers
// E_NOTIMPL (or OLE_E_ADVISENOTSUPPORTED) there.
struct IDataObject : public IUnknown {
  STDMETHOD(GetData)(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) PURE;
  STDMETHOD(GetDataHere)(FORMATETC* pformatetc, STGMEDIUM* pmedium) PURE;
  STDMETHOD(QueryGetData)(FORMATETC* pformatetc) PURE;
  STDMETHOD(GetCanonicalFormatEtc)(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) PURE;
  STDMETHOD(SetData)(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) PURE;
  STDMETHOD(EnumFormatEtc)(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) PURE;
  STDMETHOD(DAdvise)(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
  STDMETHOD(DUnadvise)(DWORD dwConnection) PURE;
  STDMETHOD(EnumDAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;

 protected:
  ~IDataObject() = default;
};
typedef IDataObject* LPDATAOBJECT;

extern "C" const IID IID_IDataObject;  // {0000010E-0000-0000-C000-000000000046}
#endif

#define DV_E_FORMATETC ((HRESULT)0x80040064L)
#define DV_E_TYMED ((HRESULT)0x80040069L)
#define DV_E_DVASPECT ((HRESULT)0x8004006BL)
#define DV_E_LINDEX ((HRESULT)0x80040068L)
#define OLE_E_ADVISENOTSUPPORTED ((HRESULT)0x80040003L)
