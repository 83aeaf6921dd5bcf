// OLE embedding: the interfaces between a container and an embedded object (client
// site, in-place site, the object, its window and its views) and their constants.
// Interfaces are C++ abstract classes whose virtual tables keep the interfaces' slot
// order; parameters of kinds no caller here passes are declared and never defined.
#pragma once

#include "oaidl.h"
#include "objidl.h"
#include "unknwn.h"
#include "windef.h"
#include "winuser.h"

typedef struct _RECTL {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECTL, *LPRECTL;
typedef const RECTL* LPCRECTL;
typedef struct tagSIZEL {
  LONG cx;
  LONG cy;
} SIZEL, *LPSIZEL;

typedef struct tagLOGPALETTE LOGPALETTE;
typedef struct tagOLEINPLACEFRAMEINFO OLEINPLACEFRAMEINFO, *LPOLEINPLACEFRAMEINFO;
typedef struct tagOLEVERB OLEVERB, *LPOLEVERB;

// Verbs of IOleObject::DoVerb.
#define OLEIVERB_PRIMARY (0L)
#define OLEIVERB_SHOW (-1L)
#define OLEIVERB_OPEN (-2L)
#define OLEIVERB_HIDE (-3L)
#define OLEIVERB_UIACTIVATE (-4L)
#define OLEIVERB_INPLACEACTIVATE (-5L)
#define OLEIVERB_DISCARDUNDOSTATE (-6L)

// IOleObject::GetMiscStatus bits.
#define OLEMISC_RECOMPOSEONRESIZE 0x1
#define OLEMISC_ONLYICONIC 0x2
#define OLEMISC_INSERTNOTREPLACE 0x4
#define OLEMISC_STATIC 0x8
#define OLEMISC_CANTLINKINSIDE 0x10
#define OLEMISC_CANLINKBYOLE1 0x20
#define OLEMISC_ISLINKOBJECT 0x40
#define OLEMISC_INSIDEOUT 0x80
#define OLEMISC_ACTIVATEWHENVISIBLE 0x100
#define OLEMISC_RENDERINGISDEVICEINDEPENDENT 0x200
#define OLEMISC_INVISIBLEATRUNTIME 0x400
#define OLEMISC_ALWAYSRUN 0x800
#define OLEMISC_ACTSLIKEBUTTON 0x1000
#define OLEMISC_ACTSLIKELABEL 0x2000
#define OLEMISC_NOUIACTIVATE 0x4000
#define OLEMISC_ALIGNABLE 0x8000
#define OLEMISC_SIMPLEFRAME 0x10000
#define OLEMISC_SETCLIENTSITEFIRST 0x20000

#define OLECLOSE_SAVEIFDIRTY 0
#define OLECLOSE_NOSAVE 1
#define OLECLOSE_PROMPTSAVE 2

#define OLE_E_NOCONNECTION ((HRESULT)0x80040004L)
#define OLE_E_NOT_INPLACEACTIVE ((HRESULT)0x80040010L)
#define OLEOBJ_S_INVALIDVERB ((HRESULT)0x00040180L)
#define OLEOBJ_E_NOVERBS ((HRESULT)0x80040180L)
#define E_NOTOOLSPACE ((HRESULT)0x800401A1L)

#ifdef __cplusplus
struct IMoniker;
struct IOleContainer;
struct IEnumOLEVERB;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;

extern "C" {
extern const IID IID_IOleWindow;               // {00000114-0000-0000-C000-000000000046}
extern const IID IID_IOleInPlaceObject;        // {00000113-...}
extern const IID IID_IOleInPlaceActiveObject;  // {00000117-...}
extern const IID IID_IOleClientSite;           // {00000118-...}
extern const IID IID_IOleInPlaceSite;          // {00000119-...}
extern const IID IID_IOleObject;               // {00000112-...}
extern const IID IID_IViewObject;              // {0000010D-...}
extern const IID IID_IViewObject2;             // {00000127-...}
}

struct IOleWindow : public IUnknown {
  STDMETHOD(GetWindow)(HWND* phwnd) PURE;
  STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) PURE;

 protected:
  ~IOleWindow() = default;
};

struct IOleInPlaceObject : public IOleWindow {
  STDMETHOD(InPlaceDeactivate)() PURE;
  STDMETHOD(UIDeactivate)() PURE;
  STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT lprcClipRect) PURE;
  STDMETHOD(ReactivateAndUndo)() PURE;

 protected:
  ~IOleInPlaceObject() = default;
};

struct IOleInPlaceActiveObject : public IOleWindow {
  STDMETHOD(TranslateAccelerator)(LPMSG lpmsg) PURE;
  STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) PURE;
  STDMETHOD(OnDocWindowActivate)(BOOL fActivate) PURE;
  STDMETHOD(ResizeBorder)(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) PURE;
  STDMETHOD(EnableModeless)(BOOL fEnable) PURE;

 protected:
  ~IOleInPlaceActiveObject() = default;
};

struct IOleClientSite : public IUnknown {
  STDMETHOD(SaveObject)() PURE;
  STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
  STDMETHOD(GetContainer)(IOleContainer** ppContainer) PURE;
  STDMETHOD(ShowObject)() PURE;
  STDMETHOD(OnShowWindow)(BOOL fShow) PURE;
  STDMETHOD(RequestNewObjectLayout)() PURE;

 protected:
  ~IOleClientSite() = default;
};

struct IOleInPlaceSite : public IOleWindow {
  STDMETHOD(CanInPlaceActivate)() PURE;
  STDMETHOD(OnInPlaceActivate)() PURE;
  STDMETHOD(OnUIActivate)() PURE;
  STDMETHOD(GetWindowContext)(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                              LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) PURE;
  STDMETHOD(Scroll)(SIZE scrollExtant) PURE;
  STDMETHOD(OnUIDeactivate)(BOOL fUndoable) PURE;
  STDMETHOD(OnInPlaceDeactivate)() PURE;
  STDMETHOD(DiscardUndoState)() PURE;
  STDMETHOD(DeactivateAndUndo)() PURE;
  STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) PURE;

 protected:
  ~IOleInPlaceSite() = default;
};

struct IOleObject : public IUnknown {
  STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) PURE;
  STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) PURE;
  STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) PURE;
  STDMETHOD(Close)(DWORD dwSaveOption) PURE;
  STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) PURE;
  STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
  STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) PURE;
  STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) PURE;
  STDMETHOD(DoVerb)(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                    LPCRECT lprcPosRect) PURE;
  STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) PURE;
  STDMETHOD(Update)() PURE;
  STDMETHOD(IsUpToDate)() PURE;
  STDMETHOD(GetUserClassID)(CLSID* pClsid) PURE;
  STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) PURE;
  STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
  STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
  STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
  STDMETHOD(Unadvise)(DWORD dwConnection) PURE;
  STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
  STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) PURE;
  STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) PURE;

 protected:
  ~IOleObject() = default;
};

struct IViewObject : public IUnknown {
  STDMETHOD(Draw)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev,
                  HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds, BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR),
                  ULONG_PTR dwContinue) PURE;
  STDMETHOD(GetColorSet)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                         LOGPALETTE** ppColorSet) PURE;
  STDMETHOD(Freeze)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) PURE;
  STDMETHOD(Unfreeze)(DWORD dwFreeze) PURE;
  STDMETHOD(SetAdvise)(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) PURE;
  STDMETHOD(GetAdvise)(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) PURE;

 protected:
  ~IViewObject() = default;
};

struct IViewObject2 : public IViewObject {
  STDMETHOD(GetExtent)(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL lpsizel) PURE;

 protected:
  ~IViewObject2() = default;
};
#endif
