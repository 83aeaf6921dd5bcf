// ShellExecuteA: a program file runs as a process of its own; "notepad.exe" is the
// machine's text viewer, the command named by QUARVEL_TEXT_VIEWER (without it the call
// is only recorded). Every call is entered in the desktop's journal.
#include <windows.h>
#include <shellapi.h>

#include "desktop_records.h"
#include "process_internal.h"
#include "platform/machine.h"
#include "platform/window_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sstream>
#include <strings.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

HINSTANCE result(INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

std::string text(LPCSTR s) { return s != nullptr ? s : ""; }

// Starts the program with these arguments, without waiting for it.
INT_PTR spawn(const std::string& program, std::vector<std::string> words, LPCSTR lpDirectory) {
  int error = 0;
  const pid_t pid = platform::spawnProgram(
      program, std::move(words), lpDirectory != nullptr && *lpDirectory != '\0' ? platform::mapPath(lpDirectory) : "",
      &error);
  if (pid == 0) return SE_ERR_ACCESSDENIED;
  // The started program is not the caller's child in the Windows sense: it is reaped
  // when it ends, so that it leaves no zombie behind.
  std::thread([pid] {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 42;
}

INT_PTR execute(LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory) {
  if (lpOperation != nullptr && std::strcmp(lpOperation, "open") != 0) return SE_ERR_NOASSOC;
  if (lpFile == nullptr || *lpFile == '\0') return SE_ERR_FNF;
  if (strcasecmp(lpFile, "notepad.exe") == 0) {
    // The text viewer opens the one document named by the parameters.
    const char* viewer = std::getenv("QUARVEL_TEXT_VIEWER");
    if (viewer == nullptr || *viewer == '\0') return 42;
    return spawn(viewer, {viewer, platform::mapPath(lpParameters)}, lpDirectory);
  }
  const std::string program = platform::mapPath(lpFile);
  struct stat status;
  if (::stat(program.c_str(), &status) != 0) return SE_ERR_FNF;
  if (!S_ISREG(status.st_mode) || ::access(program.c_str(), X_OK) != 0) return SE_ERR_NOASSOC;

  std::vector<std::string> words{program};
  std::istringstream parameters(text(lpParameters));
  for (std::string word; parameters >> word;) words.push_back(word);
  return spawn(program, words, lpDirectory);
}

}  // namespace

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                               INT nShowCmd) {
  const INT_PTR code = execute(lpOperation, lpFile, lpParameters, lpDirectory);
  platform::desktop::append("shell-execute", {std::to_string(getpid()), text(lpOperation), text(lpFile),
                                              text(lpParameters), text(lpDirectory), std::to_string(nShowCmd),
                                              std::to_string(code)});
  return result(code);
}

namespace {

// The default value of a key under HKEY_CLASSES_ROOT; "" when there is none.
std::string classesDefault(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return "";
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return "";
  return std::string(value, strnlen(value, size));
}

INT_PTR findExecutable(LPCSTR lpFile, LPCSTR lpDirectory, std::string* program) {
  if (lpFile == nullptr || *lpFile == '\0') return SE_ERR_FNF;
  std::string file = lpFile;
  const bool relative = !(file.size() > 1 && file[1] == ':') && file[0] != '\\' && file[0] != '/';
  if (relative && lpDirectory != nullptr && *lpDirectory != '\0') file = std::string(lpDirectory) + "\\" + file;
  struct stat status;
  if (::stat(platform::mapPath(file.c_str()).c_str(), &status) != 0) return SE_ERR_FNF;
  const size_t separator = file.find_last_of("\\/");
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return SE_ERR_NOASSOC;
  const std::string progId = classesDefault(file.substr(dot));
  if (progId.empty()) return SE_ERR_NOASSOC;
  const std::string command = classesDefault(progId + "\\shell\\open\\command");
  size_t start = command.find_first_not_of(" \t");
  if (start == std::string::npos) return SE_ERR_NOASSOC;
  if (command[start] == '"') {
    const size_t end = command.find('"', start + 1);
    *program = command.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  } else {
    const size_t end = command.find_first_of(" \t", start);
    *program = command.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  if (program->empty() || program->size() >= MAX_PATH) return SE_ERR_NOASSOC;
  return 42;
}

}  // namespace

HINSTANCE WINAPI FindExecutableA(LPCSTR lpFile, LPCSTR lpDirectory, LPSTR lpResult) {
  std::string program;
  const INT_PTR code = findExecutable(lpFile, lpDirectory, &program);
  if (lpResult != nullptr) std::snprintf(lpResult, MAX_PATH, "%s", code > 32 ? program.c_str() : "");
  return result(code);
}

namespace platform {
namespace wintest {

std::vector<ShellExecuteCall> shellExecuteCalls() {
  std::vector<ShellExecuteCall> calls;
  for (const std::vector<std::string>& f : desktop::read("shell-execute")) {
    if (f.size() < 7) continue;
    ShellExecuteCall call;
    call.processId = static_cast<DWORD>(std::stoul(f[0]));
    call.operation = f[1];
    call.file = f[2];
    call.parameters = f[3];
    call.directory = f[4];
    call.show = std::stoi(f[5]);
    call.result = static_cast<INT_PTR>(std::stoll(f[6]));
    calls.push_back(call);
  }
  return calls;
}

}  // namespace wintest
}  // namespace platform
