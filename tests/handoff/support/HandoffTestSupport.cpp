#include "HandoffTestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace handofftest {
namespace {

std::string g_recordPath;

LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA && lParam != 0) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    std::string hex;
    char two[3];
    for (DWORD i = 0; i < data->cbData; ++i) {
      std::snprintf(two, sizeof two, "%02x", static_cast<const unsigned char*>(data->lpData)[i]);
      hex += two;
    }
    std::ofstream(g_recordPath, std::ios::app) << data->dwData << '\t' << hex << '\n';
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace

QUARVEL_CHILD(handoff_receiver) {
  g_recordPath = args.at(0);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &recordingProc;
  wc.lpszClassName = "VWindow";
  RegisterClassA(&wc);
  if (CreateWindowExA(0, "VWindow", "Quarvel", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                      nullptr) == nullptr)
    return 1;
  if (args.at(1) == "hung") {
    for (;;) Sleep(INFINITE);
  }
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  return 0;
}

Receiver::Receiver(Mode mode) {
  m_record = quarveltest::makeTempDirectory("receiver") + "/requests";
  m_process = quarveltest::startChild("handoff_receiver", {m_record, mode == kHung ? "hung" : "pumping"});
  EXPECT_TRUE(quarveltest::eventually([this] { return (m_window = FindWindowA("VWindow", "Quarvel")) != nullptr; }));
}

std::vector<Request> Receiver::requests() const {
  std::vector<Request> out;
  std::ifstream in(m_record);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    Request r;
    r.dwData = std::stoul(line.substr(0, tab));
    r.bytes = fromHex(line.substr(tab + 1));
    out.push_back(r);
  }
  return out;
}

void PrintTo(const ShellExtension& extension, std::ostream* out) { *out << extension.label(); }

std::vector<ShellExtension> shellExtensions() {
  std::vector<ShellExtension> out{{"Menvaro", SHELLEXT_HOST, MENVARO_DLL}};
#ifdef MENVARO32_DLL
  out.push_back({"Menvaro32", SHELLEXT_HOST32, MENVARO32_DLL});
#endif
  return out;
}

namespace {

constexpr const char* kEmulator = "qemu-i386";

// The emulator's file, found on the search path; empty when there is none.
std::string emulatorPath() {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + kEmulator;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// The exit status of `program` with `args`, its output dropped; -1 when it cannot be
// started at all, -2 when the kernel refuses its format.
int quietStatus(const std::string& program, std::vector<std::string> args) {
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (error == ENOEXEC) return -2;
  if (error != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Runner runnerOf(const ShellExtension& extension) {
  static std::map<std::string, Runner> known;
  const std::string key = extension.host + (extension.emulated ? " emulated" : "");
  auto it = known.find(key);
  if (it != known.end()) return it->second;
  // Started without arguments the host prints its usage and ends with 2.
  Runner runner = Runner::kKernel;
  if (extension.emulated || quietStatus(extension.host, {}) == -2) {
    const std::string emulator = emulatorPath();
    runner = !emulator.empty() && quietStatus(emulator, {extension.host}) == 2 ? Runner::kEmulator : Runner::kNone;
  }
  return known[key] = runner;
}

bool runsHere(const ShellExtension& extension) { return runnerOf(extension) != Runner::kNone; }

std::string howItRuns(const ShellExtension& extension) {
  switch (runnerOf(extension)) {
    case Runner::kKernel:
      return "run by the kernel";
    case Runner::kEmulator:
      return std::string("run under user-mode emulation (") + kEmulator + ")";
    case Runner::kNone:
      break;
  }
  if (extension.emulated)
    return std::string(kEmulator) + " (Debian's qemu-user) does not run the " + extension.name + " shell host";
  return std::string("neither this machine's kernel nor ") + kEmulator + " (Debian's qemu-user) runs the " +
         extension.name + " shell host";
}

std::vector<ShellExtension> shellExtensionRoads() {
  std::vector<ShellExtension> out = shellExtensions();
  for (const ShellExtension& extension : shellExtensions()) {
    if (extension.host == SHELLEXT_HOST || runnerOf(extension) != Runner::kKernel) continue;
    ShellExtension emulated = extension;
    emulated.emulated = true;
    if (runnerOf(emulated) == Runner::kEmulator) out.push_back(emulated);
  }
  return out;
}

std::vector<std::string> readLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

quarveltest::ChildProcess startShellHost(const ShellExtension& extension, const std::vector<std::string>& command,
                                         std::string* reportFile) {
  *reportFile = quarveltest::makeTempDirectory("shellhost") + "/report";
  std::vector<std::string> args{*reportFile, extension.module};
  args.insert(args.end(), command.begin(), command.end());
  if (runnerOf(extension) == Runner::kEmulator) {
    args.insert(args.begin(), extension.host);
    return quarveltest::startProgram(emulatorPath(), args);
  }
  return quarveltest::startProgram(extension.host, args);
}

std::vector<std::string> runShellHost(const ShellExtension& extension, const std::vector<std::string>& command) {
  std::string report;
  quarveltest::ChildProcess host = startShellHost(extension, command, &report);
  EXPECT_EQ(host.wait(), 0) << extension.name << " " << command.at(0);
  return readLines(report);
}

std::string payload(const std::string& path) { return path + std::string(1, '\0'); }

std::string umlautPath(size_t bytes) {
  std::string path = "/home/Jürgen Müller/";
  for (size_t i = 0; path.size() + 2 + 4 <= bytes; ++i) path += i % 30 == 29 ? "/" : i % 3 ? "ü" : "x";
  if (path.size() + 4 < bytes) path += "x";  // where a two-byte letter does not fit
  return path + ".pdf";
}

}  // namespace handofftest
