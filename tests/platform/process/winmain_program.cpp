// A Windows program for the process tests: writes its command line (as WinMain got it)
// to the file named by its first argument, then, unless the command line holds
// "--stall", waits for messages until it is ended; with "--stall" it never asks for any.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  if (__argc > 1) {
    if (FILE* file = std::fopen(__argv[1], "w")) {
      std::fprintf(file, "%s", lpCmdLine);
      std::fclose(file);
    }
  }
  if (std::strstr(lpCmdLine, "--stall") != nullptr) {
    for (;;) Sleep(1000);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
