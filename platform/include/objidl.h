// Uniform data transfer: the data object that hands a selection to a shell extension
// (FORMATETC, STGMEDIUM, IDataObject; only global memory travels as a medium here), and
// streams (ISequentialStream, IStream), in which objects persist themselves.
#pragma once

#include "oaidl.h"
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

// Streams: a byte sequence with a seek pointer.
typedef enum tagSTREAM_SEEK { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 } STREAM_SEEK;
typedef enum tagSTGTY { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3, STGTY_PROPERTY = 4 } STGTY;
typedef enum tagSTATFLAG { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1, STATFLAG_NOOPEN = 2 } STATFLAG;
typedef enum tagLOCKTYPE { LOCK_WRITE = 1, LOCK_EXCLUSIVE = 2, LOCK_ONLYONCE = 4 } LOCKTYPE;
typedef enum tagSTGC { STGC_DEFAULT = 0, STGC_OVERWRITE = 1, STGC_ONLYIFCURRENT = 2 } STGC;
#define STGM_READ 0x00000000L
#define STGM_WRITE 0x00000001L
#define STGM_READWRITE 0x00000002L
#define STGM_SHARE_EXCLUSIVE 0x00000010L

typedef struct tagSTATSTG {
  LPOLESTR pwcsName;  // task memory, NULL with STATFLAG_NONAME or for a stream without a name
  DWORD type;         // STGTY_
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

#ifdef __cplusplus
// Read gives fewer bytes than asked only at the end (S_OK all the same, or S_FALSE);
// Write gives all or fails.
struct ISequentialStream : public IUnknown {
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : public ISequentialStream {
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
  STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) PURE;
  STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) PURE;
  STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
  STDMETHOD(Revert)() PURE;
  STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
  STDMETHOD(Clone)(IStream** ppstm) PURE;

 protected:
  ~IStream() = default;
};
typedef IStream* LPSTREAM;

extern "C" {
extern const IID IID_ISequentialStream;  // {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
extern const IID IID_IStream;            // {0000000C-0000-0000-C000-000000000046}
}
#endif

#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001L)
#define STG_E_INVALIDPOINTER ((HRESULT)0x80030009L)
#define STG_E_WRITEFAULT ((HRESULT)0x8003001DL)
#define STG_E_READFAULT ((HRESULT)0x8003001EL)
#define STG_E_MEDIUMFULL ((HRESULT)0x80030070L)
#define STG_E_INVALIDHEADER ((HRESULT)0x800300FBL)
#define STG_E_INVALIDFLAG ((HRESULT)0x800300FFL)
#define STG_E_DOCFILECORRUPT ((HRESULT)0x80030109L)

#define DV_E_FORMATETC ((HRESULT)0x80040064L)
#define DV_E_TYMED ((HRESULT)0x80040069L)
#define DV_E_DVASPECT ((HRESULT)0x8004006BL)
#define DV_E_LINDEX ((HRESULT)0x80040068L)
#define OLE_E_ADVISENOTSUPPORTED ((HRESULT)0x80040003L)
