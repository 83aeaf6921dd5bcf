// The trace log of a card test process, written at level 6 into its machine
// root, so that the tests run every log line and can read what was written.
#pragma once

#include <string>

namespace cardtest {

std::string traceText();

}  // namespace cardtest
