// ShellExecuteA for program files: the program runs as a process of its own.
#include <windows.h>
#include <shellapi.h>

#include "platform/machine.h"

#include <cstring>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

HINSTANCE result(INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

}  // namespace

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                               INT) {
  if (lpOperation != nullptr && std::strcmp(lpOperation, "open") != 0) return result(SE_ERR_NOASSOC);
  if (lpFile == nullptr || *lpFile == '\0') return result(SE_ERR_FNF);
  const std::string program = platform::mapPath(lpFile);
  struct stat status;
  if (::stat(program.c_str(), &status) != 0) return result(SE_ERR_FNF);
  if (!S_ISREG(status.st_mode) || ::access(program.c_str(), X_OK) != 0) return result(SE_ERR_NOASSOC);

  std::vector<std::string> words{program};
  std::istringstream parameters(lpParameters != nullptr ? lpParameters : "");
  for (std::string word; parameters >> word;) words.push_back(word);
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
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return result(SE_ERR_ACCESSDENIED);
  // The started program is not the caller's child in the Windows sense: it is reaped
  // when it ends, so that it leaves no zombie behind.
  std::thread([pid] {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return result(42);
}
