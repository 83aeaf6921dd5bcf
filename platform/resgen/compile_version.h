// Version information of a resource description, compiled into the VS_VERSIONINFO
// block Windows keeps for RT_VERSION:
//
//   version 1 {
//     fileversion 2 21 0 0               # four numbers, as in VS_FIXEDFILEINFO
//     productversion 2 21 0 0
//     strings "000004b0" {               # language and code page, eight hex digits
//       "FileVersion" "2.21.0000"
//       "ProductName" "Tolmira"
//     }
//     translation 0x0000 0x04b0          # the VarFileInfo\Translation pair
//   }
#pragma once

#include <string>
#include <vector>

#include "description.h"

namespace resgen {

std::vector<unsigned char> compileVersion(const Statement& statement, const std::string& fileName);

}  // namespace resgen
