#include "ctapi_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "FoundationFixture.h"
#include "foundation/core/CdllFactory.h"

#include <gtest/gtest.h>
#include "quarvel_test.h"

namespace ft = foundationtest;

namespace readertest {

namespace {

const std::string kDriverFile = std::string(ft::kInstallDir) + "\\drivers\\ctsim.so";

std::string readHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

CtapiBed::CtapiBed() {
  ft::makeApplication();
  ft::installDirectory();
  ft::writeFile(kDriverFile, readHostFile(CARDSIM_CTAPI_LIBRARY));
  ft::installArchive(kDriverName,
                     ft::signedArchive({eswtool::Section{"ctapi:" + kDriverFile, {{"SectionName", kDriverName}}, true}}));
  const std::string dir = quarveltest::makeTempDirectory("ctapi");
  m_config = dir + "/ctapi.conf";
  m_log = dir + "/calls.log";
  setenv("QUARVEL_CTAPI_SIM_CONFIG", m_config.c_str(), 1);
  configure("");
}

void CtapiBed::configure(const std::string& terminals) {
  // A new file each time, so that the driver sees the change whatever the clock's resolution.
  const std::string fresh = m_config + ".new";
  {
    std::ofstream out(fresh);
    out << "log " << m_log << "\n" << terminals << "\n# generation " << ++m_generation << "\n";
  }
  std::rename(fresh.c_str(), m_config.c_str());
}

void CtapiBed::keypad(unsigned short port, const std::string& keys) {
  using Command = int (*)(const char*);
  auto command = reinterpret_cast<Command>(CdllFactory::getInstance()->getFunction(kDriverName, "ctsim_command", "Normal"));
  ASSERT_NE(command, nullptr);
  ASSERT_EQ(command(("keypad " + std::to_string(port) + " " + keys).c_str()), 0) << keys;
}

std::vector<std::string> CtapiBed::calls() const {
  std::vector<std::string> lines;
  std::istringstream in(readHostFile(m_log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> CtapiBed::terminalCommands(unsigned short ctn) const {
  std::vector<std::string> out;
  const std::string prefix = "CT_data ctn=" + std::to_string(ctn) + " dad=1 ";
  for (const std::string& line : calls()) {
    auto at = line.find(prefix);
    if (at == std::string::npos) continue;
    auto cmd = line.find("cmd=", at);
    out.push_back(line.substr(cmd + 4, line.find(' ', cmd) - cmd - 4));
  }
  return out;
}

size_t CtapiBed::count(const std::string& what) const {
  size_t n = 0;
  for (const std::string& line : calls())
    if (line.find(what) != std::string::npos) ++n;
  return n;
}

}  // namespace readertest
