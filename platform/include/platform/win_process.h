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
// the command line after the program name as the start-up code presents it (the
// arguments joined by blanks, an argument that holds a blank or a tab enclosed in
// double quotes) and SW_SHOWDEFAULT.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// --- Other processes -----------------------------------------------------------------
// A process runs a program file of the machine. Its handle is a waitable object,
// signalled when the process has ended; the program is reaped when it ends (no caller
// waits for it to be reaped). The process's first thread has the process's id.

#define PROCESS_TERMINATE 0x0001u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define PROCESS_ALL_ACCESS 0x001FFFFFu
#define CREATE_NO_WINDOW 0x08000000u
#define NORMAL_PRIORITY_CLASS 0x00000020u

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program. lpApplicationName, when given, names the program file (not
// searched); else the program is the command line's first word: a quoted word as it
// stands, an unquoted one by the Windows search rule (each longer run of blank-separated
// words is tried in turn, as it is and with ".exe", so "C:\Program Files\x" may start
// "C:\Program"). A name without a path is looked up on the search path. The program's
// arguments are the command line split by the C runtime's rules (CommandLineToArgv).
// lpCurrentDirectory (a Windows or host path) is its working directory. Only a NULL
// lpEnvironment and no CREATE_SUSPENDED are supported (else ERROR_NOT_SUPPORTED).
// Fails with ERROR_FILE_NOT_FOUND when no program file was found.
BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);
// A handle of a running process of the machine (any program, not only those this
// process started); NULL with ERROR_INVALID_PARAMETER when there is no such process.
HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
// STILL_ACTIVE while it runs; then its exit code (128 + signal for a signal), as far as
// this process can know it: a process it did not start answers 0 once ended.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
DWORD WINAPI GetProcessId(HANDLE Process);

#ifdef __cplusplus
}

#include <string>
#include <vector>

namespace platform {

// The words of a command line by the C runtime's rules: blanks and tabs separate words,
// double quotes group, 2n backslashes before a quote give n backslashes and the quote
// groups, 2n+1 give n and a literal quote, "" inside a group a literal quote. The first
// word (the program) ends at the first blank or tab outside quotes, its backslashes
// taken as they are.
std::vector<std::string> splitCommandLine(const std::string& commandLine);
// The command line after the program name as the start-up code presents it to WinMain:
// the arguments joined by blanks, an argument with a blank or a tab in double quotes.
std::string commandLineTail(int argc, char** argv);

}  // namespace platform
#endif
