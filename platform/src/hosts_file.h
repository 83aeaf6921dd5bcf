// The machine's hosts file, which every name look-up of this layer consults before the
// host's resolver, as Windows does.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The addresses the machine's hosts file gives `name`, as text, in the file's order;
// none for an address literal or a name the file does not know.
std::vector<std::string> hostsFileAddressTexts(const char* name);

}  // namespace platform
