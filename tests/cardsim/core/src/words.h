// The words of a line of the test bed's text files (card profiles, terminal scripts).
#pragma once

#include <string>
#include <vector>

namespace cardsim {

// Splits a line at blanks and tabs; "double quotes" keep blanks inside one word,
// and '#' outside quotes starts a comment.
std::vector<std::string> words(const std::string& line);

}  // namespace cardsim
