#include "VersionInfo.h"

#include <windows.h>
#include <winver.h>

#include <string.h>

#include <vector>

#include "PluginState.h"
#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

VOQ_String versionString;
VOQ_String buildTimeString;

VOQ_TraceContext* trace() { return pluginTrace("DocSignInit"); }

}  // namespace

bool setVersionStrings(const char* fileVersion) {
  versionString.assign(fileVersion);
  const VOQ_ConfigurationEntry* entry =
      hklmStore != nullptr ? hklmStore->find(HKEY_LOCAL_MACHINE, hostSubKey.c_str(), "Version") : nullptr;
  const char* configured = entry != nullptr ? entry->getString() : nullptr;
  if (configured == nullptr || configured[0] == '\0') {
    trace()->log("setVersionStrings", "no version entry found", VOQ_TraceContext::INSIDE);
    return true;
  }
  trace()->logFormat("setVersionStrings", "Comparing configured version %s and fileversion %s\n", configured,
                     fileVersion);
  if (strcmp(configured, fileVersion) == 0) {
    return false;
  }
  trace()->logFormat("setVersionStrings", "Configured version != fileversion (%s != %s)\n", configured, fileVersion);
  return true;
}

bool initVersionStringAndBuildTime(const char* fileName) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(fileName, &handle);
  if (size == 0) {
    return true;
  }
  std::vector<BYTE> info(size, 0);
  void* value = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(fileName, handle, size, info.data()) ||
      !VerQueryValueA(info.data(), "\\StringFileInfo\\000004b0\\FileVersion", &value, &length) || value == nullptr) {
    return true;
  }
  const bool failed = setVersionStrings(static_cast<const char*>(value));
  buildTimeString.assign(__DATE__ " " __TIME__);
  return failed;
}

const VOQ_String& getVersionString() { return versionString; }

const VOQ_String& getBuildTimeString() { return buildTimeString; }
