// Runs a command while simulated readers and cards sit behind a pcscd of its
// own, for trying the system by hand or for a demo:
//   quarvel-cardsim [--reader NAME[=PROFILE]] [--pinpad NAME[=PROFILE]]
//                   [--keypad-reader NAME[=PROFILE]] [--keys "123456 OK"] -- COMMAND ARGS...
// PROFILE is an installed profile name (asign, ecardg4, ecardng, dtrust, bank,
// bank1) or a profile file. --keys scripts the keypad of every PIN-pad reader.
// The exit code is the command's.
#include "cardsim/pcscd.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int usage() {
  std::cerr << "usage: quarvel-cardsim [--reader|--pinpad|--keypad-reader NAME[=PROFILE]]... [--keys KEYS] -- COMMAND...\n";
  return 2;
}

cardsim::CardProfile profileFor(const std::string& text) {
  return cardsim::CardProfile::load(text.find('/') == std::string::npos ? cardsim::CardProfile::installedPath(text)
                                                                         : text);
}

}  // namespace

int main(int argc, char** argv) {
  struct Slot {
    cardsim::ReaderConfig config;
    std::string profile;
  };
  std::vector<Slot> slots;
  std::string keys;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return usage();
    std::string v = argv[++i];
    if (a == "--keys") {
      keys = v;
      continue;
    }
    auto eq = v.find('=');
    std::string name = v.substr(0, eq), profile = eq == std::string::npos ? "" : v.substr(eq + 1);
    if (a == "--reader") slots.push_back({cardsim::ReaderConfig::plain(name), profile});
    else if (a == "--pinpad") slots.push_back({cardsim::ReaderConfig::pinPadDirect(name), profile});
    else if (a == "--keypad-reader") slots.push_back({cardsim::ReaderConfig::pinPadStartFinish(name), profile});
    else return usage();
  }
  if (i >= argc || slots.empty()) return usage();

  char pattern[] = "/tmp/quarvel-cardsim-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  int status = 1;
  try {
    cardsim::ReaderHost host(dir + "/readers.sock");
    for (auto& s : slots) host.addReader(s.config);
    for (std::size_t r = 0; r < slots.size(); ++r) {
      if (!slots[r].profile.empty()) host.reader(r).insert(profileFor(slots[r].profile));
      if (!keys.empty()) host.reader(r).setKeypad(keys);
    }
    host.start();
    cardsim::PcscDaemon pcscd(host, dir);
    for (auto& n : pcscd.readerNames()) std::cerr << "quarvel-cardsim: reader \"" << n << "\"\n";
    pid_t child = fork();
    if (child == 0) {
      execvp(argv[i], argv + i);
      std::perror(argv[i]);
      _exit(127);
    }
    int raw = 0;
    waitpid(child, &raw, 0);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  } catch (const std::exception& e) {
    std::cerr << "quarvel-cardsim: " << e.what() << "\n";
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  return status;
}
