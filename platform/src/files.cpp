// Files, folders, Windows paths and environment strings over the machine root.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/machine.h"
#include "windows.h"

extern char** environ;

namespace {

// The drive folders of the machine always exist, as a Windows drive's root does.
std::string mapWithDrive(const char* path) {
  if (path && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
    platform::makeDirectories(platform::mapPath(std::string(path, 2).append("\\").c_str()));
  return platform::mapPath(path);
}

std::string parentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Windows error for a failed host call on `mapped`.
DWORD errorFromErrno(int error, const std::string& mapped) {
  switch (error) {
    case ENOENT: return isDirectory(parentOf(mapped)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Copies a result with the Windows convention: the length without the terminator,
// or the size needed (with it) when the buffer is too small.
DWORD copyResult(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

bool isDrivePath(const char* text) {
  return text && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         (text[2] == '\\' || text[2] == '/');
}

// A user name that can stand in a Windows path.
std::string userName() {
  for (const char* variable : {"USERNAME", "USER", "LOGNAME"}) {
    const char* value = std::getenv(variable);
    if (value && *value && !std::strpbrk(value, "\\/:*?\"<>|")) return value;
  }
  return "User";
}

std::string userProfile() { return "C:\\Users\\" + userName(); }

// Windows' own value of a variable that the host environment lacks.
bool defaultVariable(const std::string& name, std::string& value) {
  struct Default {
    const char* name;
    std::string value;
  };
  const std::string profile = userProfile();
  const Default defaults[] = {
      {"SystemDrive", "C:"},
      {"SystemRoot", "C:\\WINDOWS"},
      {"windir", "C:\\WINDOWS"},
      {"ProgramFiles", "C:\\Program Files"},
      {"ProgramFiles(x86)", "C:\\Program Files (x86)"},
      {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
      {"ProgramData", "C:\\ProgramData"},
      {"ALLUSERSPROFILE", "C:\\ProgramData"},
      {"PUBLIC", "C:\\Users\\Public"},
      {"USERPROFILE", profile},
      {"HOMEDRIVE", "C:"},
      {"HOMEPATH", profile.substr(2)},
      {"APPDATA", profile + "\\AppData\\Roaming"},
      {"LOCALAPPDATA", profile + "\\AppData\\Local"},
      {"TEMP", profile + "\\AppData\\Local\\Temp"},
      {"TMP", profile + "\\AppData\\Local\\Temp"},
      {"USERNAME", userName()},
      {"OS", "Windows_NT"},
  };
  for (const auto& d : defaults) {
    if (strcasecmp(d.name, name.c_str()) == 0) {
      value = d.value;
      return true;
    }
  }
  return false;
}

// Looks a variable up as Windows does: the exact name, then any spelling, then the defaults.
bool lookupVariable(const std::string& name, std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  if (const char* exact = std::getenv(name.c_str())) {
    value = exact;
    return true;
  }
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals && static_cast<size_t>(equals - *entry) == name.size() &&
        strncasecmp(*entry, name.c_str(), name.size()) == 0) {
      value = equals + 1;
      return true;
    }
  }
  return defaultVariable(name, value);
}

std::string expand(const char* source) {
  std::string out;
  const char* p = source;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (!close) {
      out += p;
      break;
    }
    std::string value;
    if (lookupVariable(std::string(p + 1, close), value)) {
      out += value;
      p = close + 1;
    } else {
      // Unknown: keep "%NAME" and let the closing '%' open the next name.
      out.append(p, close);
      p = close;
    }
  }
  return out;
}

// A Windows folder of the machine, created when missing.
std::string machineFolder(const std::string& windowsPath) {
  platform::makeDirectories(mapWithDrive(windowsPath.c_str()));
  return windowsPath;
}

// Drops the Windows-only mode letters (t, c, n, S, R, T, D, N) and ", ccs=...".
std::string hostMode(const char* mode) {
  std::string result;
  for (const char* p = mode; *p && *p != ','; ++p) {
    if (std::strchr("rwa+bx", *p)) result += *p;
    // "N": the file is not inherited by programs the process starts (close-on-exec).
    if (*p == 'N') result += 'e';
  }
  return result;
}

}  // namespace

extern "C" {

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return copyResult(machineFolder("C:\\WINDOWS"), lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return copyResult(machineFolder("C:\\WINDOWS\\system32"), lpBuffer, uSize);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string path;
  for (const char* variable : {"TMP", "TEMP"}) {
    const char* value = std::getenv(variable);
    if (isDrivePath(value)) {
      path = value;
      break;
    }
  }
  if (path.empty()) path = userProfile() + "\\AppData\\Local\\Temp";
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.back() != '\\') path += '\\';
  return copyResult(machineFolder(path), lpBuffer, nBufferLength);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (!lpSrc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string result = expand(lpSrc);
  const DWORD needed = static_cast<DWORD>(result.size() + 1);
  if (lpDst && nSize > 0) {
    // A short buffer still holds a terminated text, so a caller that only
    // checks for 0 never reads past what was written.
    const size_t n = std::min<size_t>(result.size(), nSize - 1);
    std::memcpy(lpDst, result.data(), n);
    lpDst[n] = '\0';
  }
  return needed;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  std::string value;
  if (!lpName || !lookupVariable(lpName, value)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  return copyResult(value, lpBuffer, nSize);
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (!lpName || !*lpName || std::strchr(lpName, '=')) return fail(ERROR_INVALID_PARAMETER);
  const int r = lpValue ? setenv(lpName, lpValue, 1) : unsetenv(lpName);
  return r == 0 ? TRUE : fail(ERROR_NOT_ENOUGH_MEMORY);
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(lpFileName ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string mapped = mapWithDrive(lpFileName);
  struct stat st;
  if (::stat(mapped.c_str(), &st) != 0) {
    SetLastError(errorFromErrno(errno, mapped));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
  return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  if (!lpPathName || !*lpPathName) return fail(ERROR_PATH_NOT_FOUND);
  const std::string mapped = mapWithDrive(lpPathName);
  // The user's own, as everything in the machine root.
  if (::mkdir(mapped.c_str(), 0700) != 0) return fail(errorFromErrno(errno, mapped));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  if (!lpPathName || !*lpPathName) return fail(ERROR_PATH_NOT_FOUND);
  const std::string mapped = mapWithDrive(lpPathName);
  if (::rmdir(mapped.c_str()) != 0) return fail(errno == ENOTDIR ? ERROR_DIRECTORY : errorFromErrno(errno, mapped));
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName || !*lpFileName) return fail(ERROR_PATH_NOT_FOUND);
  const std::string mapped = mapWithDrive(lpFileName);
  // unlink would take a directory on some hosts; Windows refuses it.
  if (isDirectory(mapped)) return fail(ERROR_ACCESS_DENIED);
  if (::unlink(mapped.c_str()) != 0) return fail(errorFromErrno(errno, mapped));
  return TRUE;
}

UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string folder = lpPathName;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  const std::string prefix = std::string(lpPrefixString ? lpPrefixString : "").substr(0, 3);
  auto nameFor = [&](UINT number) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFFu);
    return folder + prefix + hex + ".tmp";
  };
  auto give = [&](const std::string& name) -> bool {
    if (name.size() >= MAX_PATH) return false;
    std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
    return true;
  };
  if (uUnique != 0) {
    if (!give(nameFor(uUnique))) return fail(ERROR_BUFFER_OVERFLOW), 0;
    return uUnique;
  }
  if (!isDirectory(mapWithDrive(folder.c_str()))) return fail(ERROR_DIRECTORY), 0;
  // Start from a number that differs between processes and calls, then take the
  // first free one; O_EXCL makes the claim atomic against other processes.
  static unsigned counter = 0;
  const UINT start = static_cast<UINT>((static_cast<unsigned>(::getpid()) * 7919u + ++counter * 131u) & 0xFFFFu);
  for (UINT step = 0; step < 0x10000u; ++step) {
    UINT number = (start + step) & 0xFFFFu;
    if (number == 0) continue;
    const std::string name = nameFor(number);
    const int fd = ::open(mapWithDrive(name.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return fail(errorFromErrno(errno, mapWithDrive(name.c_str()))), 0;
    }
    ::close(fd);
    if (!give(name)) {
      ::unlink(mapWithDrive(name.c_str()).c_str());
      return fail(ERROR_BUFFER_OVERFLOW), 0;
    }
    return number;
  }
  return fail(ERROR_FILE_EXISTS), 0;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(uBytes ? uBytes : 1, 1) : std::malloc(uBytes ? uBytes : 1);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

int _stat(const char* path, struct _stat* buffer) {
  if (!path || !buffer) {
    errno = EINVAL;
    return -1;
  }
  return ::stat(mapWithDrive(path).c_str(), buffer);
}

int _access(const char* path, int mode) {
  if (!path || (mode & ~6)) {
    errno = EINVAL;
    return -1;
  }
  int hostMode = F_OK;
  if (mode & 2) hostMode |= W_OK;
  if (mode & 4) hostMode |= R_OK;
  return ::access(mapWithDrive(path).c_str(), hostMode);
}

errno_t fopen_s(FILE** file, const char* path, const char* mode) {
  if (!file) return EINVAL;
  *file = platform::openFile(path, mode);
  return *file ? 0 : errno;
}

FILE* _fsopen(const char* path, const char* mode, int) { return platform::openFile(path, mode); }

}  // extern "C"

namespace platform {

FILE* openFile(const char* path, const char* mode) {
  if (!path || !mode || !*path) {
    errno = path && mode ? ENOENT : EINVAL;
    return nullptr;
  }
  const std::string host = hostMode(mode);
  if (host.empty() || !std::strchr("rwa", host[0])) {
    errno = EINVAL;
    return nullptr;
  }
  if (host[0] == 'r') return std::fopen(mapWithDrive(path).c_str(), host.c_str());
  // A file made here is the user's alone (mode 0600), as everything in the machine root.
  const bool update = host.find('+') != std::string::npos;
  int flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | (host[0] == 'w' ? O_TRUNC : O_APPEND);
  if (host.find('x') != std::string::npos) flags |= O_EXCL;
  if (host.find('e') != std::string::npos) flags |= O_CLOEXEC;
  const int fd = ::open(mapWithDrive(path).c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  std::string fdMode;
  for (char c : host)
    if (c != 'x' && c != 'e') fdMode += c;
  FILE* file = ::fdopen(fd, fdMode.c_str());
  if (!file) ::close(fd);
  return file;
}

}  // namespace platform
