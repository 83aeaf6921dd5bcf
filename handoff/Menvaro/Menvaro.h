// Menvaro, the shell's context-menu extension: one source, two builds. Menvaro (64-bit)
// is built with UNICODE and calls the wide functions; Menvaro32 (32-bit) is built
// without it and calls the ANSI ones. Each build has its own COM identity.
#pragma once

#include <shlobj.h>
#include <windows.h>

namespace menvaro {

#ifdef UNICODE
// {9D630505-DE83-4BF3-8C1A-C424AE8497A6}
constexpr CLSID CLSID_ContxtMenu = {0x9D630505, 0xDE83, 0x4BF3, {0x8C, 0x1A, 0xC4, 0x24, 0xAE, 0x84, 0x97, 0xA6}};
// {7ABFDD6F-F76C-4CDC-8480-2898C33BD5A0}
constexpr IID IID_IContxtMenu = {0x7ABFDD6F, 0xF76C, 0x4CDC, {0x84, 0x80, 0x28, 0x98, 0xC3, 0x3B, 0xD5, 0xA0}};
// {D67BA8C3-8FC9-4029-8D77-78853BAC79FF}
constexpr GUID LIBID_MenvaroLib = {0xD67BA8C3, 0x8FC9, 0x4029, {0x8D, 0x77, 0x78, 0x85, 0x3B, 0xAC, 0x79, 0xFF}};
constexpr const TCHAR* kClsidText = TEXT("{9D630505-DE83-4BF3-8C1A-C424AE8497A6}");
constexpr const TCHAR* kAppIdText = TEXT("{196F1E05-E501-4806-ACB1-ACA405E79850}");
constexpr const TCHAR* kClassDescription = TEXT("Quarvel Shell64 Extension");
constexpr const TCHAR* kHandlerName = TEXT("Menvaro64");
constexpr WORD kMenuBitmap = 205;
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
// {BCA0FA92-9B5E-455C-98EE-8A3AFCEEFFB3}
constexpr CLSID CLSID_ContxtMenu = {0xBCA0FA92, 0x9B5E, 0x455C, {0x98, 0xEE, 0x8A, 0x3A, 0xFC, 0xEE, 0xFF, 0xB3}};
// {F051488B-3D7A-46BF-B5ED-EE7FC0BD97F2}
constexpr IID IID_IContxtMenu = {0xF051488B, 0x3D7A, 0x46BF, {0xB5, 0xED, 0xEE, 0x7F, 0xC0, 0xBD, 0x97, 0xF2}};
// {59FA86B9-8327-4405-B302-ADB8DC80A55D}
constexpr GUID LIBID_MenvaroLib = {0x59FA86B9, 0x8327, 0x4405, {0xB3, 0x02, 0xAD, 0xB8, 0xDC, 0x80, 0xA5, 0x5D}};
constexpr const TCHAR* kClsidText = TEXT("{BCA0FA92-9B5E-455C-98EE-8A3AFCEEFFB3}");
constexpr const TCHAR* kAppIdText = TEXT("{584C39EE-1B7D-4283-A28D-AA2B70D7FFDB}");
constexpr const TCHAR* kClassDescription = TEXT("Quarvel Shell32 Extension");
constexpr const TCHAR* kHandlerName = TEXT("Menvaro32");
constexpr WORD kMenuBitmap = 201;
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif
// The module's name (and the approved-extension value's data) is string resource 100.
constexpr UINT kModuleNameString = 100;

// The module: its instance handle and the counts that decide whether it may unload.
class CMenvaroModule {
 public:
  HINSTANCE instance() const { return m_instance; }
  void setInstance(HINSTANCE instance) { m_instance = instance; }
  void lock() { InterlockedIncrement(&m_locks); }
  void unlock() { InterlockedDecrement(&m_locks); }
  void objectCreated() { InterlockedIncrement(&m_objects); }
  void objectDestroyed() { InterlockedDecrement(&m_objects); }
  bool canUnload() const { return m_objects == 0 && m_locks == 0; }

 private:
  HINSTANCE m_instance = nullptr;
  volatile LONG m_objects = 0;
  volatile LONG m_locks = 0;
};

extern CMenvaroModule g_module;

// Writes (register) or removes (!register) the module's entries under HKEY_CLASSES_ROOT;
// S_OK or the first failure.
HRESULT updateRegistry(bool registering);

}  // namespace menvaro
