// The trace log of a card-access test process, written at level 6 into its
// machine root, so that the tests run every log line and can read what was written.
// Linked as an object library: its set-up runs in every test that links it.
#pragma once

#include <string>

namespace cardaccesstest {

std::string traceFile();
// What the trace log holds so far.
std::string traceText();

}  // namespace cardaccesstest
