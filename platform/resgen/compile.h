// Turns the statements of a description into resources in the binary forms Windows
// keeps (see platform/resources.h), and writes them as a C++ source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "description.h"

namespace resgen {

struct Resource {
  std::string typeName;  // upper case; empty for the number `type`
  uint32_t type = 0;
  std::string name;      // upper case; empty for the number `id`
  uint32_t id = 0;
  uint16_t language = 0;
  std::vector<unsigned char> data;
};

struct Compiled {
  std::vector<Resource> resources;
  std::vector<std::string> inputs;  // files read, for the build's dependencies
};

// `baseDirectory` is where relative file names start; `fileName` names the place in errors.
Compiled compileDescription(const std::vector<Statement>& statements, const std::string& baseDirectory,
                            const std::string& fileName);

// The C++ source holding the table; `origin` is named in its head comment.
std::string generateSource(const std::vector<Resource>& resources, const std::string& origin);

}  // namespace resgen
