// What the hand-off's tests share: a stand-in for Quarvel's main window in a process of
// its own, which records every sign-file request it receives, and the payload a path
// must arrive as.
#pragma once

#include "quarvel_test.h"

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace handofftest {

struct Request {
  ULONG_PTR dwData = 0;
  std::string bytes;  // cbData bytes as received
};

// A window of class "VWindow" titled "Quarvel" (hidden), made by a child process that
// records each WM_COPYDATA; kHung makes the window and then never asks for messages.
class Receiver {
 public:
  enum Mode { kPumping, kHung };
  explicit Receiver(Mode mode = kPumping);
  HWND window() const { return m_window; }
  std::vector<Request> requests() const;

 private:
  std::string m_record;
  quarveltest::ChildProcess m_process;
  HWND m_window = nullptr;
};

// The bytes of the request for a path: the path whole and its NUL.
std::string payload(const std::string& path);

// Paths of `bytes` bytes of UTF-8 with umlauts (two bytes each) in every name, ending
// in ".pdf": the sizes around the old cut and the most a request carries.
std::string umlautPath(size_t bytes);

// A build of the context-menu extension and the shell host of its word size.
struct ShellExtension {
  std::string name;    // "Menvaro" or "Menvaro32"
  std::string host;    // the shellext_host program
  std::string module;  // the extension's file
  bool emulated = false;  // run under user-mode emulation even where the kernel runs it
  // The build and how it is run, for test names and messages: "Menvaro32_qemu".
  std::string label() const { return emulated ? name + "_qemu" : name; }
};
// Names the build in test names and messages.
void PrintTo(const ShellExtension& extension, std::ostream* out);
// The builds there are: Menvaro, and Menvaro32 where the 32-bit build exists.
std::vector<ShellExtension> shellExtensions();
// The builds, and each build whose host this kernel runs once more under the emulator
// where the emulator runs it too: the road a machine whose kernel refuses 32-bit
// programs takes is then tried on every machine.
std::vector<ShellExtension> shellExtensionRoads();
// How this machine starts the build's shell host: a kernel built without 32-bit
// emulation refuses the 32-bit one (ENOEXEC) though the toolchain builds it; Debian's
// qemu-user then runs it under user-mode emulation (qemu-i386).
enum class Runner { kKernel, kEmulator, kNone };
Runner runnerOf(const ShellExtension& extension);
// Whether the shell host runs here at all.
bool runsHere(const ShellExtension& extension);
// Why it does not, or how it runs, in words for a skipped test or the demo.
std::string howItRuns(const ShellExtension& extension);

// Runs the shell host on `extension` with a command and its arguments (see
// shellext_host.cpp) and waits for it: the report's lines.
std::vector<std::string> runShellHost(const ShellExtension& extension, const std::vector<std::string>& command);
// The same, started: the host runs until `wait` is called on the returned process.
quarveltest::ChildProcess startShellHost(const ShellExtension& extension, const std::vector<std::string>& command,
                                         std::string* reportFile);
std::vector<std::string> readLines(const std::string& file);

}  // namespace handofftest
