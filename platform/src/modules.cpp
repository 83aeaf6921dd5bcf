// The module table: LoadLibrary and friends over dlopen.
// No std::map::operator[] here: it pulls in std::piecewise_construct, a unique symbol
// that makes the host keep every module linking this layer loaded after dlclose.
#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/resources.h"
#include "platform/win_modules.h"
#include "platform/win_text.h"
#include "platform/win_threads.h"
#include "winerror.h"

namespace platform {
namespace {

constexpr uint32_t kProgramId = 1;
constexpr uint32_t kSystemId = 2;

struct Module {
  void* dl = nullptr;             // dlopen handle, closed when the last reference goes
  const void* linkMap = nullptr;  // identifies the loaded object
  std::string path;
  std::string baseName;
  int refs = 1;
  bool pinned = false;  // never unloaded: the program, the layer, modules found already loaded
  bool dataFile = false;
  bool foreign = false;  // loaded by someone else; no handle of ours keeps it
};

HMODULE toHandle(uint32_t id) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(id)); }

uint32_t toId(HMODULE module) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(module);
  return value <= UINT32_MAX ? static_cast<uint32_t>(value) : 0;
}

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

std::string baseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file at `path`, or one whose last component differs only in case.
std::string findFile(const std::string& path) {
  if (isFile(path)) return path;
  size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string found;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcasecmp(e->d_name, name.c_str()) == 0) {
        std::string candidate = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + e->d_name;
        if (isFile(candidate)) {
          found = candidate;
          break;
        }
      }
    }
    closedir(d);
  }
  return found;
}

// The names Windows tries for `name`: ".dll" appended when the file part has no
// extension, a trailing '.' removed.
std::vector<std::string> fileNameVariants(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  if (!file.empty() && file.back() == '.') return {name.substr(0, name.size() - 1)};
  if (file.find('.') == std::string::npos) return {name + ".dll", name};
  return {name};
}

bool hasDirectory(const std::string& name) {
  return name.find_first_of("/\\") != std::string::npos || (name.size() >= 2 && name[1] == ':');
}

// Names under which the system's code asks for the operating system's own modules;
// all of them are this layer.
bool isSystemModuleName(const std::string& name) {
  static const char* const kNames[] = {"kernel32", "user32",   "gdi32",    "advapi32", "shell32", "ole32",
                                       "oleaut32", "comctl32", "comdlg32", "winscard", "wininet", "urlmon",
                                       "crypt32",  "ntdll",    "shlwapi",  "version",  "msvcrt",  "kernelbase"};
  std::string n = name;
  if (n.size() > 4 && strcasecmp(n.c_str() + n.size() - 4, ".dll") == 0) n.resize(n.size() - 4);
  for (const char* known : kNames) {
    if (strcasecmp(n.c_str(), known) == 0) return true;
  }
  return false;
}

const void* linkMapOf(void* dl) {
  struct link_map* map = nullptr;
  if (!dl || dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

const void* linkMapOfAddress(const void* address, std::string* fileName = nullptr) {
  Dl_info info;
  struct link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) return nullptr;
  if (fileName) *fileName = map->l_name ? map->l_name : "";
  return map;
}

DWORD errorOfDlerror(const char* text) {
  const std::string message = text ? text : "";
  if (message.find("undefined symbol") != std::string::npos) return ERROR_PROC_NOT_FOUND;
  if (message.find("invalid ELF header") != std::string::npos || message.find("file too short") != std::string::npos ||
      message.find("wrong ELF class") != std::string::npos || message.find("ELF load command") != std::string::npos ||
      message.find("position-independent executable") != std::string::npos) {
    return ERROR_BAD_EXE_FORMAT;
  }
  return ERROR_MOD_NOT_FOUND;
}

class ModuleTable {
 public:
  // The object is never destroyed, so that late callers (finalisers at exit) find
  // an empty table rather than freed memory; its contents go with TableCleanup.
  static ModuleTable& instance() {
    alignas(ModuleTable) static unsigned char storage[sizeof(ModuleTable)];
    static ModuleTable* table = ::new (storage) ModuleTable();
    return *table;
  }

  // Loads (or takes one more reference on) the module at host path `path`.
  uint32_t open(const std::string& path, bool lazy, bool dataFile) {
    if (realPath(path) == programPath_) return kProgramId;
    dlerror();
    void* dl = dlopen(path.c_str(), (lazy || dataFile ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
    if (!dl) {
      SetLastError(errorOfDlerror(dlerror()));
      return 0;
    }
    const void* map = linkMapOf(dl);
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto& [id, m] : modules_) {
      if (id != kSystemId && m.linkMap == map && m.dataFile == dataFile) {
        if (m.foreign) {
          // Known by name or address so far; from now on ours, with this reference.
          m.dl = dl;
          m.foreign = false;
          m.pinned = false;
          m.refs = 1;
          return id;
        }
        if (!m.pinned) ++m.refs;
        lock.unlock();
        dlclose(dl);  // the entry keeps its own reference
        return id;
      }
    }
    Module m;
    m.dl = dl;
    m.linkMap = map;
    const auto* lm = static_cast<const struct link_map*>(map);
    m.path = realPath(lm && lm->l_name && *lm->l_name ? lm->l_name : path);
    m.baseName = baseNameOf(m.path);
    m.dataFile = dataFile;
    return insert(std::move(m));
  }

  // A module that is already loaded, found by name; 0 when there is none.
  uint32_t findLoaded(const std::string& name) {
    const bool withDirectory = hasDirectory(name);
    const std::vector<std::string> variants = fileNameVariants(name);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const std::string& v : variants) {
        const std::string wanted = withDirectory ? realPath(findFileOrSelf(mapPath(v.c_str()))) : v;
        for (const auto& [id, m] : modules_) {
          if (id == kSystemId || m.dataFile) continue;
          const bool same = withDirectory ? m.path == wanted : strcasecmp(m.baseName.c_str(), wanted.c_str()) == 0;
          if (same) return id;
        }
        if (!withDirectory && isProgramWindowsName(v)) return kProgramId;
      }
    }
    // Loaded by the host's loader rather than by us (a library the program links).
    for (const std::string& v : variants) {
      const std::string host = withDirectory ? mapPath(v.c_str()) : v;
      if (void* dl = dlopen(host.c_str(), RTLD_LAZY | RTLD_NOLOAD)) return adopt(dl);
    }
    return 0;
  }

  // For a bare name: a loaded module of that name, with one more reference taken
  // in the same step (a module found first and referenced later may be gone by
  // then); 0 when none is loaded.
  uint32_t takeLoaded(const std::string& name) {
    const std::vector<std::string> variants = fileNameVariants(name);
    std::string loadedPath;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const std::string& v : variants) {
        for (auto& [id, m] : modules_) {
          if (id == kSystemId || m.dataFile || strcasecmp(m.baseName.c_str(), v.c_str()) != 0) continue;
          if (m.foreign) {
            loadedPath = m.path;
            break;
          }
          if (!m.pinned) ++m.refs;
          return id;
        }
        if (!loadedPath.empty()) break;
        if (isProgramWindowsName(v)) return kProgramId;
      }
    }
    // Loaded by someone else: a load by its path takes our own reference.
    for (size_t i = 0; i < variants.size() && loadedPath.empty(); ++i) {
      if (void* dl = dlopen(variants[i].c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
        const auto* lm = static_cast<const struct link_map*>(linkMapOf(dl));
        if (lm && lm->l_name && *lm->l_name) loadedPath = lm->l_name;
        dlclose(dl);
      }
    }
    return loadedPath.empty() ? 0 : open(loadedPath, false, false);
  }

  // The module holding `address`; 0 when the address lies in no loaded object.
  uint32_t containing(const void* address) {
    std::string fileName;
    const void* map = linkMapOfAddress(address, &fileName);
    if (!map) return 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& [id, m] : modules_) {
        if (id != kSystemId && !m.dataFile && m.linkMap == map) return id;
      }
    }
    void* dl = dlopen(fileName.empty() ? nullptr : fileName.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    return dl ? adopt(dl) : 0;
  }

  bool release(uint32_t id) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = modules_.find(id);
    if (it == modules_.end()) return false;
    if (it->second.pinned || --it->second.refs > 0) return true;
    void* dl = it->second.dl;
    modules_.erase(it);
    lock.unlock();
    // Outside the lock: the module's finalisers may call back into the table.
    if (dl) dlclose(dl);
    return true;
  }

  bool reference(uint32_t id, bool pin) {
    Module m;
    if (!lookup(id, &m)) return false;
    if (m.foreign) {
      // A reference needs a handle of ours.
      void* dl = dlopen(m.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      if (!dl) return false;
      std::unique_lock<std::mutex> lock(mutex_);
      auto it = modules_.find(id);
      if (it != modules_.end() && it->second.foreign && it->second.linkMap == linkMapOf(dl)) {
        it->second.dl = dl;
        it->second.foreign = false;
        it->second.pinned = pin;
        it->second.refs = 1;
        return true;
      }
      lock.unlock();
      dlclose(dl);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = modules_.find(id);
    if (it == modules_.end()) return false;
    if (pin) it->second.pinned = true;
    if (!it->second.pinned) ++it->second.refs;
    return true;
  }

  bool lookup(uint32_t id, Module* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = modules_.find(id);
    if (it == modules_.end()) return false;
    *out = it->second;
    return true;
  }

  // A module and a handle to reach its symbols while this lives; a module that
  // someone else loaded and has unloaded since is forgotten.
  class Access {
   public:
    Access() = default;
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
    ~Access() {
      if (owned_) dlclose(dl_);
    }
    const Module& module() const { return module_; }
    void* handle() const { return dl_; }

   private:
    friend class ModuleTable;
    Module module_;
    void* dl_ = nullptr;
    bool owned_ = false;
  };

  bool access(uint32_t id, Access& a) {
    if (!lookup(id, &a.module_)) return false;
    if (!a.module_.foreign) {
      a.dl_ = a.module_.dl;
      return true;
    }
    void* dl = dlopen(a.module_.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (dl && linkMapOf(dl) == a.module_.linkMap) {
      a.dl_ = dl;
      a.owned_ = true;
      return true;
    }
    if (dl) dlclose(dl);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = modules_.find(id);
    if (it != modules_.end() && it->second.foreign) modules_.erase(it);
    return false;
  }

  // Frees the table when this copy of the layer goes (its module unloads, or exit);
  // later calls find nothing instead of touching freed memory.
  void clear() {
    std::map<uint32_t, Module> gone;
    std::string path, directory;
    std::lock_guard<std::mutex> lock(mutex_);
    gone.swap(modules_);
    path.swap(programPath_);
    directory.swap(dllDirectory_);
  }

  void setDllDirectory(const char* directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    dllDirectorySet_ = directory != nullptr;
    dllDirectory_ = directory ? directory : "";
  }

  std::string dllDirectory(bool* set) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (set) *set = dllDirectorySet_;
    return dllDirectory_;
  }

  const std::string& programPath() const { return programPath_; }

 private:
  ModuleTable() {
    Module program;
    program.dl = dlopen(nullptr, RTLD_NOW);
    program.linkMap = linkMapOf(program.dl);
    program.path = realPath("/proc/self/exe");
    program.baseName = baseNameOf(program.path);
    program.pinned = true;
    programPath_ = program.path;
    modules_.emplace(kProgramId, program);

    Module layer;
    std::string fileName;
    layer.linkMap = linkMapOfAddress(reinterpret_cast<const void*>(&LoadLibraryA), &fileName);
    layer.path = fileName.empty() ? program.path : realPath(fileName);
    layer.baseName = "kernel32.dll";
    layer.pinned = true;  // no handle: a module holding this layer would pin itself
    modules_.emplace(kSystemId, layer);
  }

  // The program keeps its Windows name: "Quarvel.exe" is the file "Quarvel". Caller
  // holds the lock.
  bool isProgramWindowsName(const std::string& name) const {
    auto it = modules_.find(kProgramId);
    return it != modules_.end() && name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0 &&
           strcasecmp(it->second.baseName.c_str(), name.substr(0, name.size() - 4).c_str()) == 0;
  }

  static std::string findFileOrSelf(const std::string& path) {
    std::string found = findFile(path);
    return found.empty() ? path : found;
  }

  uint32_t insert(Module m) {
    // Caller holds the lock. Numbers are not reused soon, so a stale handle fails.
    while (next_ <= kSystemId || modules_.count(next_)) next_ = next_ == UINT32_MAX ? kSystemId + 1 : next_ + 1;
    const uint32_t id = next_++;
    modules_.emplace(id, std::move(m));
    return id;
  }

  // Enters a module someone else loaded, without keeping it loaded (as Windows
  // hands out its handle without a reference).
  uint32_t adopt(void* dl) {
    const void* map = linkMapOf(dl);
    const auto* lm = static_cast<const struct link_map*>(map);
    Module m;
    m.linkMap = map;
    m.path = realPath(lm && lm->l_name ? lm->l_name : "");
    m.baseName = baseNameOf(m.path);
    m.pinned = true;
    m.foreign = true;
    dlclose(dl);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, known] : modules_) {
      if (id != kSystemId && !known.dataFile && known.linkMap == map) return id;
    }
    return insert(std::move(m));
  }

  std::mutex mutex_;
  std::map<uint32_t, Module> modules_;
  uint32_t next_ = kSystemId + 1;
  std::string programPath_;
  std::string dllDirectory_;
  bool dllDirectorySet_ = false;
};

// Made at start-up, before any exit handler the system's code registers, so it runs
// after them all.
struct TableCleanup {
  TableCleanup() { ModuleTable::instance(); }
  ~TableCleanup() { ModuleTable::instance().clear(); }
};
const TableCleanup kTableCleanup;

std::string programDirectory() {
  const std::string& path = ModuleTable::instance().programPath();
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The directories Windows searches for a bare name, after the loaded modules.
std::vector<std::string> searchDirectories() {
  std::vector<std::string> dirs{programDirectory()};
  bool set = false;
  const std::string extra = ModuleTable::instance().dllDirectory(&set);
  if (set && !extra.empty() && !mapPath(extra.c_str()).empty()) dirs.push_back(mapPath(extra.c_str()));
  if (!set) dirs.push_back(mapPath(currentDirectory().c_str()));
  return dirs;
}

uint32_t load(const std::string& name, DWORD flags) {
  const bool dataFile = (flags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                                  LOAD_LIBRARY_AS_IMAGE_RESOURCE)) != 0;
  const bool lazy = (flags & DONT_RESOLVE_DLL_REFERENCES) != 0;
  ModuleTable& table = ModuleTable::instance();
  const std::vector<std::string> variants = fileNameVariants(name);
  if (hasDirectory(name)) {
    for (const std::string& v : variants) {
      const std::string found = findFile(mapPath(v.c_str()));
      if (!found.empty()) return table.open(found, lazy, dataFile);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!dataFile) {
    if (uint32_t id = table.takeLoaded(name)) return id;
  }
  for (const std::string& dir : searchDirectories()) {
    for (const std::string& v : variants) {
      const std::string found = findFile(dir + "/" + v);
      if (!found.empty()) return table.open(found, lazy, dataFile);
    }
  }
  // Last, the host's own search (its library path and cache), for host libraries.
  DWORD error = ERROR_MOD_NOT_FOUND;
  for (const std::string& v : variants) {
    if (uint32_t id = table.open(v, lazy, dataFile)) return id;
    if (GetLastError() != ERROR_MOD_NOT_FOUND) error = GetLastError();
  }
  SetLastError(error);
  return 0;
}

struct Export {
  const char* name;
  FARPROC address;
};

template <typename F>
FARPROC farproc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

// The layer's functions that callers look up by name in the system modules; a
// program does not export its symbols, so they are listed here.
FARPROC systemExport(const char* name) {
  static const Export kExports[] = {
      {"LoadLibraryA", farproc(&LoadLibraryA)},
      {"LoadLibraryExA", farproc(&LoadLibraryExA)},
      {"FreeLibrary", farproc(&FreeLibrary)},
      {"GetProcAddress", farproc(&GetProcAddress)},
      {"GetModuleHandleA", farproc(&GetModuleHandleA)},
      {"GetModuleHandleExA", farproc(&GetModuleHandleExA)},
      {"GetModuleFileNameA", farproc(&GetModuleFileNameA)},
      {"SetDllDirectoryA", farproc(&SetDllDirectoryA)},
      {"GetDllDirectoryA", farproc(&GetDllDirectoryA)},
      {"FindResourceA", farproc(&FindResourceA)},
      {"FindResourceExA", farproc(&FindResourceExA)},
      {"LoadResource", farproc(&LoadResource)},
      {"SizeofResource", farproc(&SizeofResource)},
      {"LockResource", farproc(&LockResource)},
      {"LoadStringA", farproc(&LoadStringA)},
      {"LoadStringW", farproc(&LoadStringW)},
      {"MultiByteToWideChar", farproc(&MultiByteToWideChar)},
      {"WideCharToMultiByte", farproc(&WideCharToMultiByte)},
      {"lstrlenA", farproc(&lstrlenA)},
      {"lstrcpynA", farproc(&lstrcpynA)},
      {"lstrcmpiA", farproc(&lstrcmpiA)},
      {"GetLastError", farproc(&GetLastError)},
      {"SetLastError", farproc(&SetLastError)},
  };
  for (const Export& e : kExports) {
    if (std::strcmp(e.name, name) == 0) return e.address;
  }
  return nullptr;
}

}  // namespace

const ResourceTable* resourceTableOf(HMODULE module, DWORD* error) {
  ModuleTable::Access access;
  const uint32_t id = module ? toId(module) : kProgramId;
  if (!ModuleTable::instance().access(id, access)) {
    if (error) *error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  const Module& m = access.module();
  const ResourceTable* table = nullptr;
  if (id != kSystemId) {
    table = registeredResourceTable(m.linkMap);
    if (!table && access.handle()) {
      // The module's table registered with the module's own copy of this layer.
      void* symbol = dlsym(access.handle(), QUARVEL_RESOURCE_TABLE_SYMBOL);
      if (symbol && linkMapOfAddress(symbol) == m.linkMap) {
        using TableFunction = const ResourceTable* (*)();
        const ResourceTable* found = reinterpret_cast<TableFunction>(symbol)();
        if (found && found->magic == kResourceTableMagic && found->version == kResourceTableVersion) table = found;
      }
    }
  }
  if (!table && error) *error = ERROR_RESOURCE_DATA_NOT_FOUND;
  return table;
}

HMODULE moduleOf(const void* address) {
  return address ? toHandle(ModuleTable::instance().containing(address)) : nullptr;
}

}  // namespace platform

extern "C" {

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  constexpr DWORD kKnown = DONT_RESOLVE_DLL_REFERENCES | LOAD_LIBRARY_AS_DATAFILE | LOAD_WITH_ALTERED_SEARCH_PATH |
                           LOAD_IGNORE_CODE_AUTHZ_LEVEL | LOAD_LIBRARY_AS_IMAGE_RESOURCE |
                           LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                           LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  if (!lpLibFileName || hFile || (dwFlags & ~kKnown)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name(lpLibFileName);
  if (name.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (platform::isSystemModuleName(name)) return platform::toHandle(platform::kSystemId);
  return platform::toHandle(platform::load(name, dwFlags));
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) { return LoadLibraryExA(lpLibFileName, nullptr, 0); }

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (!platform::ModuleTable::instance().release(platform::toId(hLibModule))) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  platform::ModuleTable::Access access;
  const uint32_t id = hModule ? platform::toId(hModule) : platform::kProgramId;
  if (!platform::ModuleTable::instance().access(id, access) || access.module().dataFile) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const platform::Module& m = access.module();
  // Exports by ordinal do not exist here.
  if (!lpProcName || IS_INTRESOURCE(lpProcName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (id == platform::kSystemId) {
    if (FARPROC f = platform::systemExport(lpProcName)) return f;
    void* symbol = dlsym(RTLD_DEFAULT, lpProcName);
    if (symbol) return reinterpret_cast<FARPROC>(symbol);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = access.handle() ? dlsym(access.handle(), lpProcName) : nullptr;
  // Only the module's own exports count, not those of the libraries it uses.
  if (!symbol || platform::linkMapOfAddress(symbol) != m.linkMap) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return platform::toHandle(platform::kProgramId);
  const std::string name(lpModuleName);
  if (platform::isSystemModuleName(name)) return platform::toHandle(platform::kSystemId);
  const uint32_t id = name.empty() ? 0 : platform::ModuleTable::instance().findLoaded(name);
  if (!id) SetLastError(ERROR_MOD_NOT_FOUND);
  return platform::toHandle(id);
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  constexpr DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                           GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (!phModule || (dwFlags & ~kKnown) ||
      ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
    if (phModule) *phModule = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HMODULE module = nullptr;
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    module = platform::moduleOf(lpModuleName);
    if (!module) SetLastError(ERROR_MOD_NOT_FOUND);
  } else {
    module = GetModuleHandleA(lpModuleName);
  }
  *phModule = module;
  if (!module) return FALSE;
  if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) &&
      !platform::ModuleTable::instance().reference(platform::toId(module),
                                                   (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0)) {
    *phModule = nullptr;
    SetLastError(ERROR_MOD_NOT_FOUND);  // unloaded meanwhile
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  platform::Module m;
  if (!platform::ModuleTable::instance().lookup(hModule ? platform::toId(hModule) : platform::kProgramId, &m)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0 || !lpFilename) {
    SetLastError(nSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (m.path.size() < nSize) {
    std::memcpy(lpFilename, m.path.c_str(), m.path.size() + 1);
    return static_cast<DWORD>(m.path.size());
  }
  std::memcpy(lpFilename, m.path.data(), nSize - 1);
  lpFilename[nSize - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  platform::Module m;
  if (!platform::ModuleTable::instance().lookup(hModule ? platform::toId(hModule) : platform::kProgramId, &m)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0 || !lpFilename) {
    SetLastError(nSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string path = platform::toUtf16(m.path);
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(path.size());
  }
  std::memcpy(lpFilename, path.data(), (nSize - 1) * sizeof(WCHAR));
  lpFilename[nSize - 1] = 0;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName) {
  platform::ModuleTable::instance().setDllDirectory(lpPathName);
  return TRUE;
}

DWORD WINAPI GetDllDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  const std::string directory = platform::ModuleTable::instance().dllDirectory(nullptr);
  if (!lpBuffer || directory.size() >= nBufferLength) {
    if (lpBuffer && nBufferLength) lpBuffer[0] = '\0';
    return static_cast<DWORD>(directory.size() + 1);
  }
  std::memcpy(lpBuffer, directory.c_str(), directory.size() + 1);
  return static_cast<DWORD>(directory.size());
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
  if (!hLibModule) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
