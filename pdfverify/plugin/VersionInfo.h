// The plug-in's own version: the FileVersion text of its module's version resource
// (shown in the About dialog, written into the verification-result document, compared
// with the signing product's version) and its build date; and the start-up check of
// that version against the one the installation wrote into the registry.
#pragma once

#include "foundation/util/VOQ_String.h"

// Reads the FileVersion of the module file (a bare name finds the loaded module), sets
// both texts and checks the version. True on failure: no readable version
// information (both texts stay empty), or the installed version missing or different.
bool initVersionStringAndBuildTime(const char* fileName);
// Sets the version text; true when `Version` under the host's sub-key of the HKLM store
// is missing, holds no text, or differs from fileVersion in any byte.
bool setVersionStrings(const char* fileVersion);

// Empty until start-up read them.
const VOQ_String& getVersionString();
// "Mmm dd yyyy hh:mm:ss", the time the plug-in was built.
const VOQ_String& getBuildTimeString();
