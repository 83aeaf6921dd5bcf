// The test bed's CT-API driver installed as the product finds a vendor's driver:
// a file in the installation directory named by the signed archive <name>.esw,
// loaded through CdllFactory in "Normal" mode. Terminals come from a
// configuration file the driver reads again whenever it changes.
#pragma once

#include <string>
#include <vector>

namespace readertest {

class CtapiBed {
 public:
  static constexpr const char* kDriverName = "ctsim";

  // Makes the application object, the installation directory, the driver's file
  // and archive, and the empty configuration.
  CtapiBed();

  // The terminals, in the driver's configuration language ("terminal 1", "  card asign", ...).
  void configure(const std::string& terminals);
  // Scripts the keypad of an initialised terminal, through the driver's own control entry.
  void keypad(unsigned short port, const std::string& keys);
  // The driver's call log, one line per call.
  std::vector<std::string> calls() const;
  // The commands sent to the terminal (dad 1) of this terminal number, as upper-case hex.
  std::vector<std::string> terminalCommands(unsigned short ctn) const;
  size_t count(const std::string& what) const;

 private:
  std::string m_config;
  std::string m_log;
  int m_generation = 0;
};

// The Reader0 settings key as the registry tool names it.
constexpr const char* kReader0 = "HKCU\\Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel\\Reader0";

}  // namespace readertest
