// The card library's settings: the plug-in's HKLM registry store of the product
// key SOFTWARE\VOQ. VUV-Oredaridez GmbH\Tolmira, read through its loaded copy.
#pragma once

#include <optional>
#include <string>

#include <windows.h>

class VOQ_Configuration;
class VOQ_ConfigurationEntry;

namespace cardvariant {

constexpr const char* kCompany = "VOQ. VUV-Oredaridez GmbH";
constexpr const char* kProduct = "Tolmira";

// The plug-in hands its HKLM store over at start-up; without one the library
// loads a store of its own at the first look-up. Returns the previous store.
VOQ_Configuration* setSettingsStore(VOQ_Configuration* store);

// The value of the product key itself (subKey NULL or empty) or of a sub-key, or NULL.
const VOQ_ConfigurationEntry* findSetting(const char* subKey, const char* valueName);
// The text of a REG_SZ value; none for a missing value or another type.
std::optional<std::string> findText(const char* subKey, const char* valueName);

}  // namespace cardvariant
