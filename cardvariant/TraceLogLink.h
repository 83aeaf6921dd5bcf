// What the card library needs of the plug-in's trace log: the open file that its
// reports share and the nesting depth at which their indentation starts. The
// plug-in puts its trace log in place at start-up; without one, reports open
// their own files.
#pragma once

#include <cstdio>

namespace cardvariant {

struct TraceLogState {
  std::FILE* file = nullptr;
  int depth = 0;
};

using TraceLogSource = TraceLogState (*)();

// Returns the previous source; NULL: no trace log.
TraceLogSource setTraceLogSource(TraceLogSource source);
TraceLogState currentTraceLog();

}  // namespace cardvariant
