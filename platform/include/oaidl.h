// OLE automation's types: VARIANT, SAFEARRAY and IDispatch with its records.
#pragma once

#include "unknwn.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
// A length-prefixed UTF-16 string; the pointer names its first character.
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
typedef unsigned short VARTYPE;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef DWORD LCID;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF
};

typedef struct tagSAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  unsigned short cDims;
  unsigned short fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;
typedef SAFEARRAY* LPSAFEARRAY;

#define FADF_HAVEVARTYPE 0x0080

#ifdef __cplusplus
struct IDispatch;
#endif

typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    short iVal;
    ULONG ulVal;
    int intVal;
    unsigned int uintVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
#ifdef __cplusplus
    IUnknown* punkVal;
    IDispatch* pdispVal;
#endif
    SAFEARRAY* parray;
    struct tagVARIANT* pvarVal;
    void* byref;
  };
} VARIANT;
typedef VARIANT* LPVARIANT;
typedef VARIANT VARIANTARG;

typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg;         // the arguments, last first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
  HRESULT scode;
} EXCEPINFO;

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_HWND (-515)

#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004L)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000EL)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000DL)
#define TYPE_E_ELEMENTNOTFOUND ((HRESULT)0x8002802BL)

#ifdef __cplusplus
extern "C" {
#endif
extern const IID IID_IDispatch;  // {00020400-0000-0000-C000-000000000046}
extern const IID IID_ITypeInfo;  // {00020401-0000-0000-C000-000000000046}
extern const IID IID_ITypeLib;   // {00020402-0000-0000-C000-000000000046}
#ifdef __cplusplus
}

struct ITypeInfo;

struct IDispatch : public IUnknown {
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) PURE;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) PURE;
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) PURE;
  STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;

 protected:
  ~IDispatch() = default;
};
typedef IDispatch* LPDISPATCH;

// Type libraries: what a library declares of itself and its interfaces.
typedef enum tagSYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 } SYSKIND;
typedef enum tagTYPEKIND {
  TKIND_ENUM = 0,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION,
  TKIND_MAX
} TYPEKIND;
typedef struct tagTLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
} TLIBATTR, *LPTLIBATTR;
struct ITypeComp;

typedef DWORD HREFTYPE;
typedef enum tagINVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8
} INVOKEKIND;
#define MEMBERID_NIL DISPID_UNKNOWN

// What a type's flags say of it; registration looks at the automation ones.
typedef enum tagTYPEFLAGS {
  TYPEFLAG_FAPPOBJECT = 0x1,
  TYPEFLAG_FCANCREATE = 0x2,
  TYPEFLAG_FLICENSED = 0x4,
  TYPEFLAG_FPREDECLID = 0x8,
  TYPEFLAG_FHIDDEN = 0x10,
  TYPEFLAG_FCONTROL = 0x20,
  TYPEFLAG_FDUAL = 0x40,
  TYPEFLAG_FNONEXTENSIBLE = 0x80,
  TYPEFLAG_FOLEAUTOMATION = 0x100,
  TYPEFLAG_FRESTRICTED = 0x200,
  TYPEFLAG_FAGGREGATABLE = 0x400,
  TYPEFLAG_FREPLACEABLE = 0x800,
  TYPEFLAG_FDISPATCHABLE = 0x1000,
  TYPEFLAG_FREVERSEBIND = 0x2000,
  TYPEFLAG_FPROXY = 0x4000
} TYPEFLAGS;

typedef struct tagARRAYDESC ARRAYDESC;
typedef struct tagTYPEDESC {
  union {
    struct tagTYPEDESC* lptdesc;
    ARRAYDESC* lpadesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
} TYPEDESC;

typedef struct tagIDLDESC {
  ULONG_PTR dwReserved;
  USHORT wIDLFlags;
} IDLDESC;

typedef struct tagTYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
} TYPEATTR, *LPTYPEATTR;

typedef struct tagFUNCDESC FUNCDESC;
typedef struct tagVARDESC VARDESC;

// One type of a library. The layer's types know their identity, kind, flags, version
// and name; members, binding and invocation answer E_NOTIMPL.
struct ITypeInfo : public IUnknown {
  STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) PURE;
  STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) PURE;
  STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) PURE;
  STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) PURE;
  STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) PURE;
  STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) PURE;
  STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) PURE;
  STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) PURE;
  STDMETHOD(Invoke)(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                    EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;
  STDMETHOD(GetDocumentation)(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                              BSTR* pBstrHelpFile) PURE;
  STDMETHOD(GetDllEntry)(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                         WORD* pwOrdinal) PURE;
  STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) PURE;
  STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) PURE;
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) PURE;
  STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) PURE;
  STDMETHOD(GetContainingTypeLib)(struct ITypeLib** ppTLib, UINT* pIndex) PURE;
  STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) PURE;
  STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) PURE;
  STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) PURE;

 protected:
  ~ITypeInfo() = default;
};
typedef ITypeInfo* LPTYPEINFO;

// The layer's type libraries know their attributes, their help string and their
// interfaces (type information by index or identifier); binding answers E_NOTIMPL.
struct ITypeLib : public IUnknown {
  STDMETHOD_(UINT, GetTypeInfoCount)() PURE;
  STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) PURE;
  STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) PURE;
  STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) PURE;
  STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) PURE;
  STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) PURE;
  STDMETHOD(GetDocumentation)(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                              BSTR* pBstrHelpFile) PURE;
  STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) PURE;
  STDMETHOD(FindName)(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                      USHORT* pcFound) PURE;
  STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) PURE;

 protected:
  ~ITypeLib() = default;
};
typedef ITypeLib* LPTYPELIB;
#endif

#define TYPE_E_CANTLOADLIBRARY ((HRESULT)0x80029C4AL)
#define TYPE_E_REGISTRYACCESS ((HRESULT)0x8002801CL)
#define TYPE_E_INVALIDSTATE ((HRESULT)0x80028029L)
