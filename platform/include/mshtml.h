// The page's document objects, as far as controls here use them: the body element.
#pragma once

#include "oaidl.h"

#ifdef __cplusplus
struct IHTMLTxtRange;

extern "C" const IID IID_IHTMLBodyElement;  // {3050F1D8-98B5-11CF-BB82-00AA00BDCE0B}

struct IHTMLBodyElement : public IDispatch {
  STDMETHOD(put_background)(BSTR v) PURE;
  STDMETHOD(get_background)(BSTR* p) PURE;
  STDMETHOD(put_bgProperties)(BSTR v) PURE;
  STDMETHOD(get_bgProperties)(BSTR* p) PURE;
  STDMETHOD(put_leftMargin)(VARIANT v) PURE;
  STDMETHOD(get_leftMargin)(VARIANT* p) PURE;
  STDMETHOD(put_topMargin)(VARIANT v) PURE;
  STDMETHOD(get_topMargin)(VARIANT* p) PURE;
  STDMETHOD(put_rightMargin)(VARIANT v) PURE;
  STDMETHOD(get_rightMargin)(VARIANT* p) PURE;
  STDMETHOD(put_bottomMargin)(VARIANT v) PURE;
  STDMETHOD(get_bottomMargin)(VARIANT* p) PURE;
  STDMETHOD(put_noWrap)(VARIANT_BOOL v) PURE;
  STDMETHOD(get_noWrap)(VARIANT_BOOL* p) PURE;
  STDMETHOD(put_bgColor)(VARIANT v) PURE;
  STDMETHOD(get_bgColor)(VARIANT* p) PURE;
  STDMETHOD(put_text)(VARIANT v) PURE;
  STDMETHOD(get_text)(VARIANT* p) PURE;
  STDMETHOD(put_link)(VARIANT v) PURE;
  STDMETHOD(get_link)(VARIANT* p) PURE;
  STDMETHOD(put_vLink)(VARIANT v) PURE;
  STDMETHOD(get_vLink)(VARIANT* p) PURE;
  STDMETHOD(put_aLink)(VARIANT v) PURE;
  STDMETHOD(get_aLink)(VARIANT* p) PURE;
  STDMETHOD(put_onload)(VARIANT v) PURE;
  STDMETHOD(get_onload)(VARIANT* p) PURE;
  STDMETHOD(put_onunload)(VARIANT v) PURE;
  STDMETHOD(get_onunload)(VARIANT* p) PURE;
  STDMETHOD(put_scroll)(BSTR v) PURE;
  STDMETHOD(get_scroll)(BSTR* p) PURE;
  STDMETHOD(put_onselect)(VARIANT v) PURE;
  STDMETHOD(get_onselect)(VARIANT* p) PURE;
  STDMETHOD(put_onbeforeunload)(VARIANT v) PURE;
  STDMETHOD(get_onbeforeunload)(VARIANT* p) PURE;
  STDMETHOD(createTextRange)(IHTMLTxtRange** range) PURE;

 protected:
  ~IHTMLBodyElement() = default;
};
#endif
