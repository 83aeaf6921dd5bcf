// ActiveX controls: persistence (property bag, stream), the site an object lives in,
// control information, windowless in-place objects and extended views.
#pragma once

#include "oleidl.h"

typedef struct tagCONTROLINFO CONTROLINFO, *LPCONTROLINFO;
typedef struct tagExtentInfo DVEXTENTINFO;

#ifdef __cplusplus
struct IStream;
struct IDropTarget;

extern "C" {
extern const IID IID_IPersist;                     // {0000010C-0000-0000-C000-000000000046}
extern const IID IID_IPersistStreamInit;           // {7FD52380-4E07-101B-AE2D-08002B2EC713}
extern const IID IID_IPersistPropertyBag;          // {37D84F60-42CB-11CE-8135-00AA004BB851}
extern const IID IID_IPropertyBag;                 // {55272A00-42CB-11CE-8135-00AA004BB851}
extern const IID IID_IErrorLog;                    // {3127CA40-446E-11CE-8135-00AA004BB851}
extern const IID IID_IObjectWithSite;              // {FC4801A3-2BA9-11CF-A229-00AA003D7352}
extern const IID IID_IOleControl;                  // {B196B288-BAB4-101A-B69C-00AA00341D07}
extern const IID IID_IOleInPlaceObjectWindowless;  // {1C2056CC-5EF4-101B-8BC8-00AA003E3B29}
extern const IID IID_IViewObjectEx;                // {3AF24292-0C96-11CE-A0CF-00AA00600AB8}
}

struct IPersist : public IUnknown {
  STDMETHOD(GetClassID)(CLSID* pClassID) PURE;

 protected:
  ~IPersist() = default;
};

struct IPersistStreamInit : public IPersist {
  STDMETHOD(IsDirty)() PURE;
  STDMETHOD(Load)(IStream* pStm) PURE;
  STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) PURE;
  STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pCbSize) PURE;
  STDMETHOD(InitNew)() PURE;

 protected:
  ~IPersistStreamInit() = default;
};

struct IErrorLog : public IUnknown {
  STDMETHOD(AddError)(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) PURE;

 protected:
  ~IErrorLog() = default;
};

// A container's named values, read by name into a VARIANT (E_INVALIDARG: no such name).
struct IPropertyBag : public IUnknown {
  STDMETHOD(Read)(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) PURE;
  STDMETHOD(Write)(LPCOLESTR pszPropName, VARIANT* pVar) PURE;

 protected:
  ~IPropertyBag() = default;
};

struct IPersistPropertyBag : public IPersist {
  STDMETHOD(InitNew)() PURE;
  STDMETHOD(Load)(IPropertyBag* pPropBag, IErrorLog* pErrorLog) PURE;
  STDMETHOD(Save)(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) PURE;

 protected:
  ~IPersistPropertyBag() = default;
};

struct IObjectWithSite : public IUnknown {
  STDMETHOD(SetSite)(IUnknown* pUnkSite) PURE;
  STDMETHOD(GetSite)(REFIID riid, void** ppvSite) PURE;

 protected:
  ~IObjectWithSite() = default;
};

struct IOleControl : public IUnknown {
  STDMETHOD(GetControlInfo)(CONTROLINFO* pCI) PURE;
  STDMETHOD(OnMnemonic)(MSG* pMsg) PURE;
  STDMETHOD(OnAmbientPropertyChange)(DISPID dispID) PURE;
  STDMETHOD(FreezeEvents)(BOOL bFreeze) PURE;

 protected:
  ~IOleControl() = default;
};

struct IOleInPlaceObjectWindowless : public IOleInPlaceObject {
  STDMETHOD(OnWindowMessage)(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) PURE;
  STDMETHOD(GetDropTarget)(IDropTarget** ppDropTarget) PURE;

 protected:
  ~IOleInPlaceObjectWindowless() = default;
};

struct IViewObjectEx : public IViewObject2 {
  STDMETHOD(GetRect)(DWORD dwAspect, LPRECTL pRect) PURE;
  STDMETHOD(GetViewStatus)(DWORD* pdwStatus) PURE;
  STDMETHOD(QueryHitPoint)(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG lCloseHint, DWORD* pHitResult) PURE;
  STDMETHOD(QueryHitRect)(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG lCloseHint,
                          DWORD* pHitResult) PURE;
  STDMETHOD(GetNaturalExtent)(DWORD dwAspect, LONG lindex, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                              DVEXTENTINFO* pExtentInfo, LPSIZEL pSizel) PURE;

 protected:
  ~IViewObjectEx() = default;
};
#endif
