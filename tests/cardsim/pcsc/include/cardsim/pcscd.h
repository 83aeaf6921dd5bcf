// A pcscd of the test's own, loading the test bed's reader driver for every
// reader of a reader host. Only one pcscd runs on a machine at a time (it owns
// /run/pcscd): tests that use it share the ctest resource lock "pcscd", and
// each PcscDaemon also holds a file lock, so that separate test runs on one
// machine take turns.
#pragma once

#include "cardsim/reader.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace cardsim {

class PcscDaemon {
 public:
  // Writes one reader.conf entry per reader into workDir, starts pcscd in the
  // foreground and waits until it lists every reader. Throws std::runtime_error
  // when another pcscd is running or this one does not come up.
  PcscDaemon(const ReaderHost& host, const std::string& workDir, const std::string& driver = defaultDriver());
  ~PcscDaemon();  // stops pcscd and waits for it
  PcscDaemon(const PcscDaemon&) = delete;
  PcscDaemon& operator=(const PcscDaemon&) = delete;

  // The PC/SC names of the host's readers, by the host's reader index.
  const std::vector<std::string>& readerNames() const { return names_; }
  const std::string& logFile() const { return logFile_; }

  static std::string defaultDriver();

 private:
  void stop();
  int lock_ = -1;
  pid_t pid_ = -1;
  std::vector<std::string> names_;
  std::string logFile_;
};

}  // namespace cardsim
