// main of a program that defines WinMain.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>

namespace {

// The embedded Java VM runs on the thread that enters WinMain; HotSpot sets up its
// own guard pages there and wants more than the system's default for a new thread.
constexpr size_t kWinMainStack = 8 * 1024 * 1024;

std::string g_commandLine;

// Marks the program file as a Windows GUI program (what the subsystem field of a
// program's header says on Windows): WaitForInputIdle waits for such a program only.
__attribute__((used, section("quarvel_winmain"))) const char kSubsystem[] = "windows";

void* runWinMain(void*) {
  // The exit handlers run here, on the thread that ran WinMain, which stays alive
  // (and attached to the Java VM, if it made one) until the process ends.
  std::exit(WinMain(GetModuleHandleA(nullptr), nullptr, g_commandLine.data(), SW_SHOWDEFAULT));
}

}  // namespace

int main(int argc, char** argv) {
  __argc = argc;
  __argv = argv;
  g_commandLine = platform::commandLineTail(argc, argv);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWinMainStack);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, &runWinMain, nullptr);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    std::fprintf(stderr, "WinMain thread: %d\n", error);
    return 1;
  }
  // The WinMain thread ends the process.
  pthread_join(thread, nullptr);
  return 0;
}
