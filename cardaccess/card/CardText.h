// printf-style texts for the trace lines of the card classes.
#pragma once

#include <string>

namespace cardtext {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cardtext
