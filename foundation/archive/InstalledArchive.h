// A section of a settings archive in the installation directory, <InstallDir>\<file>.esw,
// as the DLL factory asks for it on every module lookup. Reading and verifying the
// archive costs far more than the lookup it serves, so what a verified file gave is
// kept with that file's identity and given again while the file keeps it.
#pragma once

#include <string>

struct InstalledSection {
  std::string directory;  // the installation directory, without a trailing '\'
  std::string name;       // the section's Name value
};

// true and the section whose Name or SectionName is `section` in the archive
// <InstallDir>\<file>.esw, verified against the archive root key; false when the
// installation directory, the file, its signature or the section is missing.
//
// A result is kept by the file's path, device, inode, size, modification and change
// times: a file replaced, rewritten or touched is read and verified again (and a
// failure then is a failure, whatever an earlier version gave). A file changed within
// the clock tick of its reading is not kept, since it could change again in the same
// tick without its times showing it.
bool readInstalledSection(const char* file, const char* section, InstalledSection& out);

// How many times an installed archive has been read and verified in this process.
unsigned long long installedArchiveVerifications();
