#include "platform/win_system.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "desktop_records.h"
#include "platform/window_test.h"

#include <windows.h>

namespace {

// The one window station and desktop of a process: constant handles, never closed.
HWINSTA const kWindowStation = reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(1));
HDESK const kDesktop = reinterpret_cast<HDESK>(static_cast<uintptr_t>(1));

}  // namespace

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  return TRUE;
}

DWORD WINAPI GetVersion(void) { return (19045u << 16) | (0u << 8) | 10u; }

void WINAPI OutputDebugStringA(LPCSTR text) {
  const std::string line = text != nullptr ? text : "";
  std::fprintf(stderr, "%s%s", line.c_str(), !line.empty() && line.back() == '\n' ? "" : "\n");
  platform::desktop::append("debug-output", {std::to_string(GetCurrentProcessId()), line});
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
  const std::string line = platform::toUtf8(text);
  OutputDebugStringA(line.c_str());
}

HWINSTA WINAPI OpenWindowStationA(LPCSTR name, BOOL, DWORD) {
  if (name == nullptr || std::strcmp(name, "WinSta0") != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return kWindowStation;
}

BOOL WINAPI SetProcessWindowStation(HWINSTA station) {
  if (station != kWindowStation) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HDESK WINAPI OpenDesktopA(LPCSTR name, DWORD, BOOL, DWORD) {
  if (name == nullptr || std::strcmp(name, "Default") != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return kDesktop;
}

BOOL WINAPI SetThreadDesktop(HDESK desktop) {
  if (desktop != kDesktop) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"

namespace platform {
namespace wintest {

std::vector<DesktopDebugLine> desktopDebugOutput() {
  std::vector<DesktopDebugLine> lines;
  for (const std::vector<std::string>& f : desktop::read("debug-output")) {
    if (f.size() < 2) continue;
    lines.push_back({static_cast<DWORD>(std::stoul(f[0])), f[1]});
  }
  return lines;
}

}  // namespace wintest
}  // namespace platform
