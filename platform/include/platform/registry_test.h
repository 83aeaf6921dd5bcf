// Registry controls for tests and tools.
#pragma once

#include <cstddef>
#include <string>

#include "windef.h"

namespace platform::registry {

// When this environment variable is "1" (or "true"/"yes"), HKEY_LOCAL_MACHINE is
// read-only, as for a standard user on Windows. It is read at every call.
constexpr const char* kStandardUserVariable = "QUARVEL_STANDARD_USER";

// Sets or clears the variable; processes started afterwards inherit the setting.
// It changes the process environment, so call it while no other thread runs.
void setStandardUser(bool on);
bool isStandardUser();

// The hive file that holds a predefined root's keys (HKEY_CLASSES_ROOT shares
// HKEY_LOCAL_MACHINE's); "" for a handle that is not a supported root.
std::string hiveFilePath(HKEY root);

// Key handles of this process that are open now.
size_t openKeyHandleCount();

// Steps of a hive write at which a test can have the writing process die (SIGKILL),
// to show that the write is then whole or absent and the hive stays usable.
enum class WriteStep {
  None,
  RecordHalfWritten,   // half of the write's journal record is in the hive file
  RecordWritten,       // the whole record, not yet flushed to disk
  RecordFlushed,
  RewriteHalfWritten,  // half of a rewritten hive is in its new file
  RewriteWritten,      // the new file is complete and flushed, not yet in place
  RewriteInPlace,      // the new file has the hive's name
};
// The next hive write of this process that reaches the step kills the process.
void killAtWriteStep(WriteStep step);

}  // namespace platform::registry
