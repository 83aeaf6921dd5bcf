// Other processes: CreateProcessA over posix_spawn with the Windows command-line rules,
// OpenProcess over pidfd_open, their handles as waitable objects, the exit code, and
// the command line that quarvel_winmain hands to WinMain.
#include <windows.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "process_internal.h"
#include "window_internal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <memory>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  size_t i = 0;
  const size_t n = commandLine.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  // The program: up to the first blank outside quotes, backslashes as they are.
  {
    std::string word;
    bool quoted = false;
    for (; i < n; ++i) {
      const char c = commandLine[i];
      if (c == '"') {
        quoted = !quoted;
        continue;
      }
      if (!quoted && blank(c)) break;
      word += c;
    }
    words.push_back(word);
  }
  for (;;) {
    while (i < n && blank(commandLine[i])) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n) {
      const char c = commandLine[i];
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && commandLine[i] == '\\') ++slashes, ++i;
        if (i < n && commandLine[i] == '"') {
          word.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            word += '"';
            ++i;
          }
        } else {
          word.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
          word += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted && blank(c)) break;
      word += c;
      ++i;
    }
    words.push_back(word);
  }
  return words;
}

std::string commandLineTail(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    const std::string word = argv[i];
    if (word.find_first_of(" \t") != std::string::npos) {
      tail += '"' + word + '"';
    } else {
      tail += word;
    }
  }
  return tail;
}

namespace {

bool isProgramFile(const std::string& hostPath) {
  struct stat status;
  return ::stat(hostPath.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(hostPath.c_str(), X_OK) == 0;
}

// The host path of a program named by a Windows or host path, also with ".exe"; "" for none.
std::string findProgramFile(const std::string& name) {
  if (name.empty()) return "";
  if (name.find_first_of("\\/") == std::string::npos) {
    // A bare name: the search path.
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
      const size_t end = list.find(':', start);
      const std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!dir.empty()) {
        for (const std::string& candidate : {dir + "/" + name, dir + "/" + name + ".exe"})
          if (isProgramFile(candidate)) return candidate;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return "";
  }
  for (const std::string& candidate : {name, name + ".exe"}) {
    const std::string host = mapPath(candidate.c_str());
    if (!host.empty() && isProgramFile(host)) return host;
  }
  return "";
}

// The program of a command line without an application name, by the search rule.
std::string programOfCommandLine(const std::string& commandLine) {
  size_t start = 0;
  while (start < commandLine.size() && (commandLine[start] == ' ' || commandLine[start] == '\t')) ++start;
  if (start < commandLine.size() && commandLine[start] == '"') {
    const size_t end = commandLine.find('"', start + 1);
    return findProgramFile(commandLine.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
  }
  // Unquoted: "C:\Program", then "C:\Program Files\x", ... until one is a program.
  for (size_t at = start;;) {
    const size_t blank = commandLine.find_first_of(" \t", at);
    const std::string candidate = commandLine.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
    const std::string found = findProgramFile(candidate);
    if (!found.empty() || blank == std::string::npos) return found;
    at = blank + 1;
  }
}

}  // namespace

// Whether a program file is a Windows GUI program: one linked with quarvel_winmain,
// whose section "quarvel_winmain" plays the part of the GUI subsystem in a program's
// header.
bool isWindowsProgram(const std::string& hostPath) {
  FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> closer(file, &std::fclose);
  unsigned char ident[EI_NIDENT];
  if (std::fread(ident, 1, sizeof ident, file) != sizeof ident || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
  auto readAt = [file](uint64_t offset, void* out, size_t size) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(out, 1, size, file) == size;
  };
  // The section headers, as 64-bit records whichever the file's class.
  std::vector<Elf64_Shdr> sections;
  uint16_t names = 0;
  if (ident[EI_CLASS] == ELFCLASS64) {
    Elf64_Ehdr h;
    if (!readAt(0, &h, sizeof h) || h.e_shentsize != sizeof(Elf64_Shdr) || h.e_shnum > 4096) return false;
    sections.resize(h.e_shnum);
    if (!sections.empty() && !readAt(h.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) return false;
    names = h.e_shstrndx;
  } else if (ident[EI_CLASS] == ELFCLASS32) {
    Elf32_Ehdr h;
    if (!readAt(0, &h, sizeof h) || h.e_shentsize != sizeof(Elf32_Shdr) || h.e_shnum > 4096) return false;
    std::vector<Elf32_Shdr> small(h.e_shnum);
    if (!small.empty() && !readAt(h.e_shoff, small.data(), small.size() * sizeof(Elf32_Shdr))) return false;
    for (const Elf32_Shdr& s : small) {
      Elf64_Shdr wide{};
      wide.sh_name = s.sh_name;
      wide.sh_offset = s.sh_offset;
      wide.sh_size = s.sh_size;
      sections.push_back(wide);
    }
    names = h.e_shstrndx;
  } else {
    return false;
  }
  if (names >= sections.size() || sections[names].sh_size > (1u << 24)) return false;
  std::string table(sections[names].sh_size, '\0');
  if (!readAt(sections[names].sh_offset, &table[0], table.size())) return false;
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_name < table.size() && std::strcmp(table.c_str() + s.sh_name, "quarvel_winmain") == 0) return true;
  }
  return false;
}

namespace {

int pidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

}  // namespace

// A process: signalled once it has ended. Children of this process are reaped by a
// thread of their own, which records the exit code; other processes are watched
// through a pidfd (or, without one, by probing the pid).
class ProcessObject : public Waitable {
 public:
  ProcessObject(pid_t pid, bool child, std::string program)
      : pid_(pid), child_(child), program_(std::move(program)), pidfd_(child ? -1 : pidfdOpen(pid)) {}
  ~ProcessObject() override {
    if (pidfd_ >= 0) ::close(pidfd_);
  }

  Acquire tryAcquire(DWORD) override { return endedLocked() ? Acquire::Acquired : Acquire::NotSignalled; }
  void undoAcquire(DWORD) override {}
  std::chrono::milliseconds pollInterval() const override {
    return child_ ? std::chrono::milliseconds(0) : std::chrono::milliseconds(10);
  }

  // With the kernel lock held.
  bool endedLocked() {
    if (ended_) return true;
    if (child_) return false;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      ended_ = ::poll(&p, 1, 0) > 0;
    } else {
      ended_ = ::kill(pid_, 0) != 0 && errno == ESRCH;
    }
    return ended_;
  }

  void reaped(int status) {
    auto lock = lockKernel();
    ended_ = true;
    if (!terminated_) exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    notifyWaiters();
  }

  pid_t pid() const { return pid_; }
  const std::string& program() const { return program_; }
  bool ended() {
    auto lock = lockKernel();
    return endedLocked();
  }
  DWORD exitCode() {
    auto lock = lockKernel();
    if (!endedLocked()) return STILL_ACTIVE;
    return exitCode_;
  }
  bool terminate(UINT code) {
    {
      auto lock = lockKernel();
      if (endedLocked()) return true;
      terminated_ = true;
      exitCode_ = code;
    }
    return ::kill(pid_, SIGKILL) == 0;
  }

 private:
  const pid_t pid_;
  const bool child_;
  const std::string program_;  // host path; "" when not known
  const int pidfd_;
  bool ended_ = false;
  bool terminated_ = false;
  DWORD exitCode_ = 0;
};

std::shared_ptr<ProcessObject> processOf(HANDLE handle) { return objectOf<ProcessObject>(handle); }

pid_t spawnProgram(const std::string& program, std::vector<std::string> words, const std::string& hostDirectory,
                   int* error) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!hostDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());
  pid_t pid = 0;
  *error = program.find('/') == std::string::npos
               ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
               : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return *error == 0 ? pid : 0;
}

}  // namespace platform

using platform::ProcessObject;

extern "C" {

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (lpProcessInformation == nullptr || lpStartupInfo == nullptr ||
      (lpApplicationName == nullptr && lpCommandLine == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpEnvironment != nullptr || (dwCreationFlags & CREATE_SUSPENDED)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const std::string commandLine = lpCommandLine != nullptr ? lpCommandLine : lpApplicationName;
  const std::string program = lpApplicationName != nullptr ? platform::findProgramFile(lpApplicationName)
                                                           : platform::programOfCommandLine(commandLine);
  if (program.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const std::string directory =
      lpCurrentDirectory != nullptr && *lpCurrentDirectory != '\0' ? platform::mapPath(lpCurrentDirectory) : "";
  int error = 0;
  const pid_t pid = platform::spawnProgram(program, platform::splitCommandLine(commandLine), directory, &error);
  if (pid == 0) {
    SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto process = std::make_shared<ProcessObject>(pid, true, program);
  // Reaped as soon as it ends, whoever holds its handles.
  std::thread([process] {
    int status = 0;
    while (::waitpid(process->pid(), &status, 0) < 0 && errno == EINTR) {
    }
    process->reaped(status);
  }).detach();
  HANDLE hProcess = platform::insertHandle(process);
  HANDLE hThread = platform::insertHandle(process);
  if (hProcess == nullptr || hThread == nullptr) {
    if (hProcess != nullptr) platform::closeHandle(hProcess);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  lpProcessInformation->hProcess = hProcess;
  lpProcessInformation->hThread = hThread;
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
  const pid_t pid = static_cast<pid_t>(dwProcessId);
  if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  char link[64];
  snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  std::string program = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
  return platform::insertHandle(std::make_shared<ProcessObject>(pid, false, program));
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = platform::processOf(hProcess);
  if (!process) return FALSE;
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = process->exitCode();
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto process = platform::processOf(hProcess);
  if (!process) return FALSE;
  if (!process->terminate(uExitCode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds) {
  auto process = platform::processOf(hProcess);
  if (!process) return WAIT_FAILED;
  // A program without WinMain has no message loop to wait for.
  if (process->program().empty() || !platform::isWindowsProgram(process->program())) return 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    if (platform::win::processWasIdle(static_cast<uint32_t>(process->pid()))) return 0;
    if (process->ended()) return WAIT_FAILED;
    if (dwMilliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    Sleep(10);
  }
}

DWORD WINAPI GetProcessId(HANDLE Process) {
  auto process = platform::processOf(Process);
  return process ? static_cast<DWORD>(process->pid()) : 0;
}

}  // extern "C"
