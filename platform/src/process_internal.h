// Starting programs, shared by CreateProcessA and ShellExecuteA. Private to platform/src.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// Starts the program (a host path; a name without '/' is looked up on the search path)
// with these words as its argument vector, in the host directory when one is given.
// The process id, or 0 with *error set to the errno value when it could not start.
pid_t spawnProgram(const std::string& program, std::vector<std::string> words, const std::string& hostDirectory,
                   int* error);

}  // namespace platform
