// What start-up needs of the menu part of the plug-in.
//
// INTERIM: the menu commands and the About dialog are being built beside this code;
// until they arrive, StartupServices.cpp holds the smallest version of these entry
// points (a menu of the plug-in's own root entry). It goes when they land.
#pragma once

// Adds the plug-in's menu to the viewer's menu bar; false when it cannot be built.
bool addMenuItems();
void removeMenuItems();
