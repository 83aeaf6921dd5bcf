// Tavrin: hands the PDF document named on its command line to the running Quarvel and
// ends. Its exit code is always 0; all it shows are message boxes.
#include "handoff/common/SignFileRequest.h"

#include <shlwapi.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  if (commandLine == nullptr || *commandLine == '\0') {
    MessageBoxA(nullptr, "Es muss der Dateiname eines PDF-Dokuments übergeben werden!", "Fehler", MB_ICONINFORMATION);
    return 0;
  }
  // The whole text is the path: quotes come off only when they enclose all of it.
  PathUnquoteSpacesA(commandLine);
  // A path that cannot reach Quarvel whole is not sent at all: a cut one would name
  // another file, or none.
  handoff::SignFilePath path;
  if (const char* refusal = handoff::refusalOf(handoff::signFilePath(commandLine, &path))) {
    MessageBoxA(nullptr, refusal, "Fehler", MB_ICONINFORMATION);
    return 0;
  }
  HWND receiver = nullptr;
  while ((receiver = FindWindowA(handoff::kReceiverClass, handoff::kReceiverTitle)) == nullptr) {
    if (MessageBoxA(nullptr, "Die Datei kann nicht signiert werden, prüfen Sie ob Quarvel gestartet ist!", "Fehler",
                    MB_ICONINFORMATION | MB_RETRYCANCEL) != IDRETRY)
      return 0;
  }
  handoff::sendSignFileRequest(receiver, path);
  return 0;
}
