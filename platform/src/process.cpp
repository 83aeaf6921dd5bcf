// The process: the argument vector that quarvel_winmain keeps, and ExitProcess.
#include <windows.h>

#include <cstdio>
#include <unistd.h>

extern "C" {
int __argc = 0;
char** __argv = nullptr;
}

void WINAPI ExitProcess(UINT uExitCode) {
  std::fflush(stdout);
  std::fflush(stderr);
  // _exit, not exit: ExitProcess is called from exit handlers too, where exit() is
  // undefined, and the embedded Java VM's threads may still run.
  ::_exit(static_cast<int>(uExitCode & 0xFFu));
}
