// The process of the Windows API and its C runtime (included by winbase.h): the
// argument vector as the run-time library split it, the program's entry WinMain
// and ExitProcess.
//
// A program that defines WinMain links quarvel_winmain, whose main keeps argc/argv in
// __argc/__argv and runs WinMain on a thread with an 8 MB stack (the embedded Java VM
// wants a thread of its own rather than the process's first one). That thread ends the
// process with exit(WinMain's result), so the exit handlers run on the thread that ran
// WinMain.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// The argument vector of the program (program name included); 0 and NULL in a
// program whose main is not quarvel_winmain's.
extern int __argc;
extern char** __argv;

// Ends the process at once: stdout and stderr are flushed, no exit handler runs. The
// parent sees the low 8 bits of the code (ExitProcess(-1) gives 255).
__attribute__((noreturn)) void WINAPI ExitProcess(UINT uExitCode);

// Written by the program; called by quarvel_winmain with the program's module, NULL,
// the arguments after the program name joined by blanks, and SW_SHOWDEFAULT.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

#ifdef __cplusplus
}
#endif
