// The context-menu handler object: told the selection by the shell, it adds its item
// for a single PDF document and hands that document to the running Quarvel.
#pragma once

#include "Menvaro.h"

#include <string>

namespace menvaro {

class CContxtMenu final : public IShellExtInit, public IContextMenu {
 public:
  CContxtMenu();
  CContxtMenu(const CContxtMenu&) = delete;
  CContxtMenu& operator=(const CContxtMenu&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IShellExtInit
  STDMETHODIMP Initialize(LPCITEMIDLIST folder, IDataObject* dataObject, HKEY progIdKey) override;
  // IContextMenu
  STDMETHODIMP QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId, UINT flags) override;
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  STDMETHODIMP GetCommandString(UINT_PTR commandOffset, UINT flags, UINT* reserved, CHAR* buffer,
                                UINT bufferLength) override;

 private:
  ~CContxtMenu();

  HBITMAP m_menuBitmap = nullptr;
  // The first selected file, NUL-terminated, however long its name.
  std::basic_string<TCHAR> m_firstPath;
  UINT m_selectedFiles = 0;
  volatile LONG m_refs = 1;
};

}  // namespace menvaro
