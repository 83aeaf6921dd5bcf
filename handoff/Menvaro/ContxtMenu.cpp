#include "ContxtMenu.h"

#include "handoff/common/SignFileRequest.h"

namespace menvaro {
namespace {

const TCHAR* const kMenuText = TEXT("Mit Quarvel signieren ...");
const TCHAR* const kHelpText = TEXT("Pdf-Dokument mit Quarvel signieren");
const TCHAR* const kOnlyOneDocument = TEXT("Sie dürfen nur ein Dokument auswählen!");
const TCHAR* const kNotRunning = TEXT("Die Datei kann nicht signiert werden, prüfen Sie ob Quarvel gestartet ist!");
const TCHAR* const kCaption = TEXT("Quarvel - VOQ Vuv Oredaridez GmbH");
const TCHAR* const kSuffix = TEXT(".pdf");

// The request bits a build answers with its help text: the wide build every request
// for help or in UTF-16 (verbs included), the ANSI build only the requests for help.
#ifdef UNICODE
constexpr UINT kAnsweredFlags = GCS_HELPTEXTA | GCS_UNICODE;
#else
constexpr UINT kAnsweredFlags = GCS_HELPTEXTA;
#endif

}  // namespace

CContxtMenu::CContxtMenu() {
  g_module.objectCreated();
  m_menuBitmap = LoadBitmap(g_module.instance(), MAKEINTRESOURCE(kMenuBitmap));
}

CContxtMenu::~CContxtMenu() {
  if (m_menuBitmap != nullptr) DeleteObject(m_menuBitmap);
  g_module.objectDestroyed();
}

STDMETHODIMP CContxtMenu::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IShellExtInit) || IsEqualGUID(riid, IID_IContxtMenu))
    *object = static_cast<IShellExtInit*>(this);
  else if (IsEqualGUID(riid, IID_IContextMenu))
    *object = static_cast<IContextMenu*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CContxtMenu::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CContxtMenu::Release() {
  const LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP CContxtMenu::Initialize(LPCITEMIDLIST, IDataObject* dataObject, HKEY) {
  if (dataObject == nullptr) return E_INVALIDARG;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(dataObject->GetData(&format, &medium))) return E_INVALIDARG;
  HDROP drop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
  if (drop == nullptr) {
    ReleaseStgMedium(&medium);
    return E_INVALIDARG;
  }
  HRESULT result = E_INVALIDARG;
  m_selectedFiles = DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0);
  m_firstPath.clear();
  if (m_selectedFiles != 0) {
    // The name's length first: a long name is kept whole, never cut at MAX_PATH.
    const UINT length = DragQueryFile(drop, 0, nullptr, 0);
    m_firstPath.assign(static_cast<size_t>(length) + 1, TEXT('\0'));
    if (length != 0 && DragQueryFile(drop, 0, &m_firstPath[0], length + 1) == length) {
      m_firstPath.resize(length);
      result = S_OK;
    } else {
      m_firstPath.clear();
    }
  }
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  return result;
}

STDMETHODIMP CContxtMenu::QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT, UINT flags) {
  if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  const size_t length = m_firstPath.size();
  if (length < 4 || lstrcmpi(m_firstPath.c_str() + length - 4, kSuffix) != 0) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  if (m_selectedFiles > 1) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  // An item that could not be inserted is not reported as added.
  if (!InsertMenu(menu, position, MF_BYPOSITION | MF_STRING, firstId, kMenuText))
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  if (m_menuBitmap != nullptr) SetMenuItemBitmaps(menu, position, MF_BYPOSITION, m_menuBitmap, nullptr);
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

// The help text for the requests the build answers (kAnsweredFlags), wide when the
// request asks for UTF-16 (GCS_UNICODE), else ANSI; every other request, and one
// without a buffer to write to, E_INVALIDARG.
STDMETHODIMP CContxtMenu::GetCommandString(UINT_PTR commandOffset, UINT flags, UINT*, CHAR* buffer,
                                           UINT bufferLength) {
  if (commandOffset != 0 || !(flags & kAnsweredFlags)) return E_INVALIDARG;
  if (buffer == nullptr || bufferLength == 0) return E_INVALIDARG;
  if (flags & GCS_UNICODE) {
#ifdef UNICODE
    lstrcpynW(reinterpret_cast<LPWSTR>(buffer), kHelpText, static_cast<int>(bufferLength));
#else
    WCHAR wide[64];
    MultiByteToWideChar(CP_ACP, 0, kHelpText, -1, wide, 64);
    lstrcpynW(reinterpret_cast<LPWSTR>(buffer), wide, static_cast<int>(bufferLength));
#endif
  } else {
#ifdef UNICODE
    char narrow[64];
    WideCharToMultiByte(CP_ACP, 0, kHelpText, -1, narrow, sizeof narrow, nullptr, nullptr);
    lstrcpynA(buffer, narrow, static_cast<int>(bufferLength));
#else
    lstrcpynA(buffer, kHelpText, static_cast<int>(bufferLength));
#endif
  }
  return S_OK;
}

STDMETHODIMP CContxtMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (info == nullptr || !IS_INTRESOURCE(info->lpVerb) || LOWORD(info->lpVerb) != 0) return E_INVALIDARG;
  if (m_selectedFiles > 1) {
    MessageBox(info->hwnd, kOnlyOneDocument, kCaption, MB_ICONINFORMATION);
    return S_OK;
  }
  // A path that cannot reach Quarvel whole is not sent at all: a cut one would name
  // another file, or none.
  handoff::SignFilePath path;
  if (const TCHAR* refusal = handoff::refusalOf(handoff::signFilePath(m_firstPath.c_str(), &path))) {
    MessageBox(info->hwnd, refusal, kCaption, MB_ICONINFORMATION);
    return S_OK;
  }
  HWND receiver = nullptr;
  while ((receiver = FindWindow(handoff::kReceiverClass, handoff::kReceiverTitle)) == nullptr) {
    if (MessageBox(nullptr, kNotRunning, kCaption, MB_ICONINFORMATION | MB_RETRYCANCEL) != IDRETRY) return S_OK;
  }
  // The request is built on this call's own stack: two invocations on two threads of
  // the shell never share a buffer.
  handoff::sendSignFileRequest(receiver, path);
  return S_OK;
}

}  // namespace menvaro
