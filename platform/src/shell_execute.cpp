// ShellExecuteA: a program file runs as a process of its own; "notepad.exe" is the
// machine's text viewer, the command named by QUARVEL_TEXT_VIEWER (without it the call
// is only recorded). Every call is entered in the desktop's journal.
#include <windows.h>
#include <shellapi.h>

#include "desktop_records.h"
#include "platform/machine.h"
#include "platform/window_test.h"

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
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string directory;
  if (lpDirectory != nullptr && *lpDirectory != '\0') {
    directory = platform::mapPath(lpDirectory);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  }
  pid_t pid = 0;
  // A bare command name (the viewer's) is looked up on the search path.
  const int error = program.find('/') == std::string::npos
                        ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                        : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return SE_ERR_ACCESSDENIED;
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
