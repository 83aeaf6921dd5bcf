#include "words.h"

namespace cardsim {

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else if (!quoted && c == '#') {
      break;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(current);
  return out;
}

}  // namespace cardsim
