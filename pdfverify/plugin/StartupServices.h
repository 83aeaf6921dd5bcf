// What start-up and the engine need of the menu and version part of the plug-in.
//
// INTERIM: the menu commands, the About dialog and the version check are being built
// beside this code; until they arrive, StartupServices.cpp holds the smallest version of
// these entry points (the version comparison, a menu of the plug-in's own root entry).
// It goes when they land.
#pragma once

#include "foundation/util/VOQ_String.h"

// Reads the FileVersion of the module file and compares it byte for byte with the
// REG_SZ value "Version" under the host's sub-key of the HKLM store. True on failure
// (unreadable version information, missing or different value).
bool initVersionStringAndBuildTime(const char* fileName);
// The plug-in's own version text (empty before start-up read it).
const VOQ_String& getVersionString();
// Adds the plug-in's menu to the viewer's menu bar; false when it cannot be built.
bool addMenuItems();
void removeMenuItems();
