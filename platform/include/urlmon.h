// URL monikers (urlmon): downloading a URL into a file with a binding status callback.
//
// URLDownloadToFileA fetches http and https URLs with libcurl, synchronously on the
// calling thread. The callback, when given, is held with one AddRef and one Release
// around the download and hears, in order: GetBindInfo, OnStartBinding (with an
// IBinding whose Abort cancels the download), GetPriority, OnProgress with
// BINDSTATUS_FINDINGRESOURCE (the host), BINDSTATUS_CONNECTING (the address),
// BINDSTATUS_SENDINGREQUEST, BINDSTATUS_REDIRECTING (the new URL) for each redirect
// followed, BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_DOWNLOADINGDATA per piece and
// BINDSTATUS_ENDDOWNLOADDATA, each with the bytes so far and the Content-Length (0 when
// the server names none), and last OnStopBinding with the result. A failing HRESULT
// from OnStartBinding, GetBindInfo or OnProgress cancels the download (E_ABORT).
//
// https is verified: TLS 1.2 at least, the server's certificate chained to a root of
// the machine (the host's certificate authorities, and the machine's and the current
// user's "Root" stores) and naming the host. There is no fallback to clear text, and a
// redirect from https to http is refused. The file appears only when the whole body
// arrived; a failed download leaves no file and an existing target as it was.
//
// Results: S_OK; INET_E_CANNOT_CONNECT (nobody answers at the address),
// INET_E_RESOURCE_NOT_FOUND (the host name is unknown), INET_E_DOWNLOAD_FAILURE (a
// status other than 2xx, a body cut short or a broken connection),
// INET_E_CONNECTION_TIMEOUT (no connection within 60 s, or 60 s without a byte),
// INET_E_INVALID_CERTIFICATE / INET_E_SECURITY_PROBLEM (the server is not verified / no
// TLS agreed), INET_E_REDIRECT_FAILED, INET_E_UNKNOWN_PROTOCOL, INET_E_INVALID_URL,
// E_ABORT, E_INVALIDARG, and HRESULT_FROM_WIN32 of a file error.
#pragma once

#include "oaidl.h"
#include "unknwn.h"

#define INET_E_INVALID_URL ((HRESULT)0x800C0002L)
#define INET_E_NO_SESSION ((HRESULT)0x800C0003L)
#define INET_E_CANNOT_CONNECT ((HRESULT)0x800C0004L)
#define INET_E_RESOURCE_NOT_FOUND ((HRESULT)0x800C0005L)
#define INET_E_OBJECT_NOT_FOUND ((HRESULT)0x800C0006L)
#define INET_E_DATA_NOT_AVAILABLE ((HRESULT)0x800C0007L)
#define INET_E_DOWNLOAD_FAILURE ((HRESULT)0x800C0008L)
#define INET_E_CONNECTION_TIMEOUT ((HRESULT)0x800C000BL)
#define INET_E_UNKNOWN_PROTOCOL ((HRESULT)0x800C000DL)
#define INET_E_SECURITY_PROBLEM ((HRESULT)0x800C000EL)
#define INET_E_REDIRECT_FAILED ((HRESULT)0x800C0014L)
#define INET_E_INVALID_CERTIFICATE ((HRESULT)0x800C0019L)

typedef enum tagBINDSTATUS {
  BINDSTATUS_FINDINGRESOURCE = 1,
  BINDSTATUS_CONNECTING = 2,
  BINDSTATUS_REDIRECTING = 3,
  BINDSTATUS_BEGINDOWNLOADDATA = 4,
  BINDSTATUS_DOWNLOADINGDATA = 5,
  BINDSTATUS_ENDDOWNLOADDATA = 6,
  BINDSTATUS_BEGINDOWNLOADCOMPONENTS = 7,
  BINDSTATUS_INSTALLINGCOMPONENTS = 8,
  BINDSTATUS_ENDDOWNLOADCOMPONENTS = 9,
  BINDSTATUS_USINGCACHEDCOPY = 10,
  BINDSTATUS_SENDINGREQUEST = 11,
  BINDSTATUS_CLASSIDAVAILABLE = 12,
  BINDSTATUS_MIMETYPEAVAILABLE = 13,
  BINDSTATUS_CACHEFILENAMEAVAILABLE = 14
} BINDSTATUS;

typedef WORD CLIPFORMAT;
struct IStream;
struct IStorage;

typedef struct tagDVTARGETDEVICE DVTARGETDEVICE;
typedef struct tagFORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
} FORMATETC;

typedef struct tagSTGMEDIUM {
  DWORD tymed;
  union {
    HANDLE hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease;
} STGMEDIUM;

typedef struct _tagBINDINFO {
  ULONG cbSize;
  LPWSTR szExtraInfo;
  STGMEDIUM stgmedData;
  DWORD grfBindInfoF;
  DWORD dwBindVerb;
  LPWSTR szCustomVerb;
  DWORD cbstgmedData;
  DWORD dwOptions;
  DWORD dwOptionsFlags;
  DWORD dwCodePage;
  SECURITY_ATTRIBUTES securityAttributes;
  IID iid;
  IUnknown* pUnk;
  DWORD dwReserved;
} BINDINFO;

#ifdef __cplusplus
extern "C" {
#endif
extern const IID IID_IBinding;              // {79EAC9C0-BAF9-11CE-8C82-00AA004BA90B}
extern const IID IID_IBindStatusCallback;   // {79EAC9C1-BAF9-11CE-8C82-00AA004BA90B}
#ifdef __cplusplus
}

struct IBinding : public IUnknown {
  STDMETHOD(Abort)() PURE;
  STDMETHOD(Suspend)() PURE;
  STDMETHOD(Resume)() PURE;
  STDMETHOD(SetPriority)(LONG nPriority) PURE;
  STDMETHOD(GetPriority)(LONG* pnPriority) PURE;
  STDMETHOD(GetBindResult)(CLSID* pclsidProtocol, DWORD* pdwResult, LPOLESTR* pszResult, DWORD* pdwReserved) PURE;

 protected:
  ~IBinding() = default;
};

struct IBindStatusCallback : public IUnknown {
  STDMETHOD(OnStartBinding)(DWORD dwReserved, IBinding* pib) PURE;
  STDMETHOD(GetPriority)(LONG* pnPriority) PURE;
  STDMETHOD(OnLowResource)(DWORD reserved) PURE;
  STDMETHOD(OnProgress)(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode, LPCWSTR szStatusText) PURE;
  STDMETHOD(OnStopBinding)(HRESULT hresult, LPCWSTR szError) PURE;
  STDMETHOD(GetBindInfo)(DWORD* grfBINDF, BINDINFO* pbindinfo) PURE;
  STDMETHOD(OnDataAvailable)(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc, STGMEDIUM* pstgmed) PURE;
  STDMETHOD(OnObjectAvailable)(REFIID riid, IUnknown* punk) PURE;

 protected:
  ~IBindStatusCallback() = default;
};
typedef IBindStatusCallback* LPBINDSTATUSCALLBACK;

extern "C" {
#endif

HRESULT WINAPI URLDownloadToFileA(LPUNKNOWN pCaller, LPCSTR szURL, LPCSTR szFileName, DWORD dwReserved,
                                  LPBINDSTATUSCALLBACK lpfnCB);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define URLDownloadToFile URLDownloadToFileA
#endif
