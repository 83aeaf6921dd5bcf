// shellext_host: plays the shell for a context-menu extension, in a process of its own
// and at the word size of the extension (a 64-bit and a 32-bit build of this host).
//
//   shellext_host <report file> <module> <command> [arguments]
//
// It loads the module and calls its DllMain as the loader would, then runs one command
// and writes one line per result to the report file:
//   menu <flags> [--narrow|--no-hdrop|--stale] <file>...
//        Initialize with a data object of the files (a wide list unless --narrow; --no-hdrop
//        offers no CF_HDROP, --stale hands a freed HGLOBAL), QueryContextMenu at position 0
//        of a popup menu with one item already in it, ids 100..200, then the menu as it is.
//   strings <file>   GetCommandString for offsets 0 and 1, flags 0, 1, 2, 4, 5, 6 and
//                    buffers of 10 and 64 characters and none (NULL, 0).
//   invoke <verb> <file>...   Initialize, QueryContextMenu, InvokeCommand; a verb of
//                    digits is a command offset, anything else a verb text.
//   register | unregister     DllRegisterServer, DllUnregisterServer.
//   unload           DllCanUnloadNow while a factory, an object and a server lock live.
// Files are UTF-8 on the command line; "\uXXXX" in a name stands for that UTF-16 unit
// (for names that UTF-8 cannot carry, such as an unpaired surrogate).
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// {9D630505-DE83-4BF3-8C1A-C424AE8497A6} and {BCA0FA92-9B5E-455C-98EE-8A3AFCEEFFB3}
const CLSID kMenvaro = {0x9D630505, 0xDE83, 0x4BF3, {0x8C, 0x1A, 0xC4, 0x24, 0xAE, 0x84, 0x97, 0xA6}};
const CLSID kMenvaro32 = {0xBCA0FA92, 0x9B5E, 0x455C, {0x98, 0xEE, 0x8A, 0x3A, 0xFC, 0xEE, 0xFF, 0xB3}};

FILE* g_report = nullptr;

void report(const std::string& line) {
  std::fprintf(g_report, "%s\n", line.c_str());
  std::fflush(g_report);
}

std::string hr(HRESULT value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
  return text;
}

std::u16string wideName(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    if (utf8.compare(i, 2, "\\u") == 0 && i + 6 <= utf8.size()) {
      out.push_back(static_cast<char16_t>(std::strtoul(utf8.substr(i + 2, 4).c_str(), nullptr, 16)));
      i += 6;
      continue;
    }
    size_t next = utf8.find("\\u", i);
    if (next == std::string::npos) next = utf8.size();
    const std::string part = utf8.substr(i, next - i);
    const int n = MultiByteToWideChar(CP_UTF8, 0, part.data(), static_cast<int>(part.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, part.data(), static_cast<int>(part.size()), wide.data(), n);
    out += wide;
    i = next;
  }
  return out;
}

// The shell's data object: the selection as CF_HDROP in global memory, a new block for
// each GetData, which the caller releases with ReleaseStgMedium.
class DataObject final : public IDataObject {
 public:
  enum Mode { kWide, kNarrow, kNoHdrop, kStale };
  DataObject(const std::vector<std::string>& files, Mode mode) : m_files(files), m_mode(mode) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDataObject)) {
      *object = static_cast<IDataObject*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format == nullptr || medium == nullptr) return E_INVALIDARG;
    if (m_mode == kNoHdrop || format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    std::string list;
    for (const std::string& f : m_files) {
      if (m_mode == kNarrow) {
        list += f;
        list.push_back('\0');
      } else {
        const std::u16string w = wideName(f) + u'\0';
        list.append(reinterpret_cast<const char*>(w.data()), w.size() * 2);
      }
    }
    list.append(m_mode == kNarrow ? 1 : 2, '\0');
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size());
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = m_mode != kNarrow;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size());
    GlobalUnlock(memory);
    if (m_mode == kStale) GlobalFree(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    m_handedOut.push_back(memory);
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override {
    return format && format->cfFormat == CF_HDROP && m_mode != kNoHdrop ? S_OK : DV_E_FORMATETC;
  }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

  // Whether every block handed out was released again.
  bool allReleased() const {
    for (HGLOBAL h : m_handedOut)
      if (GlobalSize(h) != 0) return false;
    return true;
  }

 private:
  std::vector<std::string> m_files;
  Mode m_mode;
  std::vector<HGLOBAL> m_handedOut;
};

struct Module {
  HMODULE handle = nullptr;
  CLSID clsid{};
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  LPFNCANUNLOADNOW canUnloadNow = nullptr;
};

using DllMainFunction = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

IContextMenu* createMenu(const Module& m) {
  IClassFactory* factory = nullptr;
  if (FAILED(m.getClassObject(m.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
  IShellExtInit* init = nullptr;
  factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  if (init == nullptr) return nullptr;
  IContextMenu* menu = nullptr;
  init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
  init->Release();
  return menu;
}

HRESULT initialize(IContextMenu* menu, DataObject& data) {
  IShellExtInit* init = nullptr;
  menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
  const HRESULT result = init->Initialize(nullptr, &data, nullptr);
  init->Release();
  return result;
}

std::string menuText(HMENU menu, UINT position) {
  WCHAR wide[300];
  GetMenuStringW(menu, position, wide, 300, MF_BYPOSITION);
  char narrow[900];
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

int runMenu(const Module& m, const std::vector<std::string>& args) {
  const UINT flags = static_cast<UINT>(std::strtoul(args.at(0).c_str(), nullptr, 0));
  DataObject::Mode mode = DataObject::kWide;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--narrow")
      mode = DataObject::kNarrow;
    else if (args[i] == "--no-hdrop")
      mode = DataObject::kNoHdrop;
    else if (args[i] == "--stale")
      mode = DataObject::kStale;
    else
      files.push_back(args[i]);
  }
  IContextMenu* object = createMenu(m);
  if (object == nullptr) return 2;
  DataObject data(files, mode);
  report("initialize " + hr(initialize(object, data)));
  report(std::string("released ") + (data.allReleased() ? "1" : "0"));
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING, 1, "Öffnen");
  report("query " + hr(object->QueryContextMenu(menu, 0, 100, 200, flags)));
  const int count = GetMenuItemCount(menu);
  report("items " + std::to_string(count));
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_CHECKMARKS;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    report("item " + std::to_string(i) + " " + std::to_string(info.wID) + " " +
           (info.hbmpUnchecked != nullptr ? "1" : "0") + " " + (info.hbmpChecked != nullptr ? "1" : "0") + " " +
           menuText(menu, static_cast<UINT>(i)));
  }
  DestroyMenu(menu);
  object->Release();
  return 0;
}

int runStrings(const Module& m, const std::vector<std::string>& args) {
  IContextMenu* object = createMenu(m);
  if (object == nullptr) return 2;
  DataObject data({args.at(0)}, DataObject::kWide);
  initialize(object, data);
  for (UINT offset : {0u, 1u}) {
    for (UINT flags : {0u, 1u, 2u, 4u, 5u, 6u}) {
      for (UINT length : {10u, 64u, 0u}) {
        // A buffer of 64 WCHARs filled with a marker, to see whether and what was written.
        WCHAR buffer[64];
        std::memset(buffer, 0xA5, sizeof buffer);
        CHAR* target = length == 0 ? nullptr : reinterpret_cast<CHAR*>(buffer);
        const HRESULT result = object->GetCommandString(offset, flags, nullptr, target, length);
        bool touched = false;
        for (size_t i = 0; i < sizeof buffer; ++i) touched = touched || reinterpret_cast<unsigned char*>(buffer)[i] != 0xA5;
        std::string text = "-";
        if (touched && (flags & GCS_UNICODE)) {
          char narrow[200];
          WideCharToMultiByte(CP_UTF8, 0, buffer, -1, narrow, sizeof narrow, nullptr, nullptr);
          text = std::string("W:") + narrow;
        } else if (touched) {
          text = std::string("A:") + std::string(reinterpret_cast<const char*>(buffer), strnlen(reinterpret_cast<const char*>(buffer), 128));
        }
        report("string " + std::to_string(offset) + " " + std::to_string(flags) + " " + std::to_string(length) + " " +
               hr(result) + " " + text);
      }
    }
  }
  object->Release();
  return 0;
}

int runInvoke(const Module& m, const std::vector<std::string>& args) {
  IContextMenu* object = createMenu(m);
  if (object == nullptr) return 2;
  DataObject data(std::vector<std::string>(args.begin() + 1, args.end()), DataObject::kWide);
  initialize(object, data);
  HMENU menu = CreatePopupMenu();
  object->QueryContextMenu(menu, 0, 100, 200, CMF_NORMAL);
  DestroyMenu(menu);
  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  const std::string& verb = args.at(0);
  const bool offset = verb.find_first_not_of("0123456789") == std::string::npos;
  info.lpVerb = offset ? MAKEINTRESOURCEA(std::atoi(verb.c_str())) : verb.c_str();
  info.nShow = SW_SHOWNORMAL;
  report("invoke " + hr(object->InvokeCommand(&info)));
  object->Release();
  return 0;
}

int runUnload(const Module& m) {
  report("unload-start " + hr(m.canUnloadNow()));
  IClassFactory* factory = nullptr;
  report("get-factory " + hr(m.getClassObject(m.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))));
  report("unload-factory " + hr(m.canUnloadNow()));
  IUnknown* object = nullptr;
  report("create " + hr(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&object))));
  IUnknown* outer = object;
  void* aggregated = nullptr;
  report("aggregate " + hr(factory->CreateInstance(outer, IID_IUnknown, &aggregated)));
  report("lock " + hr(factory->LockServer(TRUE)));
  factory->Release();
  report("unload-object-lock " + hr(m.canUnloadNow()));
  object->Release();
  report("unload-lock " + hr(m.canUnloadNow()));
  // The lock is the module's, not the factory's: it outlives the factory that took it.
  factory = nullptr;
  m.getClassObject(m.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  factory->LockServer(FALSE);
  factory->Release();
  report("unload-end " + hr(m.canUnloadNow()));
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  void* none = nullptr;
  report("other-class " + hr(m.getClassObject(other, IID_IClassFactory, &none)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: shellext_host <report file> <module> <command> [arguments]\n");
    return 2;
  }
  g_report = std::fopen(argv[1], "a");
  if (g_report == nullptr) return 2;
  Module m;
  m.handle = LoadLibraryA(argv[2]);
  if (m.handle == nullptr) {
    report("load-failed " + std::to_string(GetLastError()));
    return 3;
  }
  auto dllMain = reinterpret_cast<DllMainFunction>(GetProcAddress(m.handle, "DllMain"));
  m.getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m.handle, "DllGetClassObject"));
  m.canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(m.handle, "DllCanUnloadNow"));
  auto registerServer = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(m.handle, "DllRegisterServer"));
  auto unregisterServer = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(m.handle, "DllUnregisterServer"));
  if (!dllMain || !m.getClassObject || !m.canUnloadNow || !registerServer || !unregisterServer) {
    report("missing-export");
    return 3;
  }
  m.clsid = sizeof(void*) == 8 ? kMenvaro : kMenvaro32;
  dllMain(reinterpret_cast<HINSTANCE>(m.handle), DLL_PROCESS_ATTACH, nullptr);
  const std::string command = argv[3];
  const std::vector<std::string> args(argv + 4, argv + argc);
  int status = 2;
  if (command == "menu") status = runMenu(m, args);
  if (command == "strings") status = runStrings(m, args);
  if (command == "invoke") status = runInvoke(m, args);
  if (command == "unload") status = runUnload(m);
  if (command == "register") {
    report("register " + hr(registerServer()));
    status = 0;
  }
  if (command == "unregister") {
    report("unregister " + hr(unregisterServer()));
    status = 0;
  }
  report("can-unload " + hr(m.canUnloadNow()));
  dllMain(reinterpret_cast<HINSTANCE>(m.handle), DLL_PROCESS_DETACH, nullptr);
  FreeLibrary(m.handle);
  std::fclose(g_report);
  return status;
}
