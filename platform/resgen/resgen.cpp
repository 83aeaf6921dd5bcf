// resgen <description> <output.cpp> [<depfile>]
// Generates the resource table of a module from its description file (description.h).
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "compile.h"
#include "description.h"

namespace {

bool readText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string escapeMakePath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == ' ' || c == '#') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: resgen <description> <output.cpp> [<depfile>]\n";
    return 2;
  }
  const std::string description = argv[1];
  const std::string output = argv[2];
  std::string text;
  if (!readText(description, text)) {
    std::cerr << "resgen: cannot read " << description << "\n";
    return 1;
  }
  const size_t slash = description.find_last_of('/');
  const std::string base = slash == std::string::npos ? "." : description.substr(0, slash);
  try {
    const resgen::Compiled compiled =
        resgen::compileDescription(resgen::parseDescription(text, description), base, description);
    if (!writeText(output, resgen::generateSource(compiled.resources, description))) {
      std::cerr << "resgen: cannot write " << output << "\n";
      return 1;
    }
    if (argc == 4) {
      std::string deps = escapeMakePath(output) + ": " + escapeMakePath(description);
      for (const std::string& input : compiled.inputs) deps += " \\\n  " + escapeMakePath(input);
      deps += "\n";
      if (!writeText(argv[3], deps)) {
        std::cerr << "resgen: cannot write " << argv[3] << "\n";
        return 1;
      }
    }
  } catch (const resgen::DescriptionError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
