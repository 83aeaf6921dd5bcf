// Simulated readers behind a pcscd of the test's own, ready for PC/SC: the
// usual start of a test that needs a card in a reader.
#pragma once

#include "cardsim/pcscd.h"
#include "cardsim/reader.h"

#include <memory>
#include <string>
#include <vector>

namespace cardsim {

class PcscBed {
 public:
  // Readers 0, 1, 2 of standardReaders().
  static constexpr std::size_t kPlain = 0, kDirectPinPad = 1, kPollingPinPad = 2;
  // "Quarvel Sim Reader" (no PIN pad), "Quarvel Sim PinPad" (direct VERIFY/MODIFY),
  // "Quarvel Sim Keypad" (start, key polling, finish).
  static std::vector<ReaderConfig> standardReaders();

  // Starts the reader host and pcscd; workDir empty: a new folder under the
  // test's machine root (or /tmp).
  explicit PcscBed(std::vector<ReaderConfig> readers = standardReaders(), std::string workDir = "");
  ~PcscBed();
  PcscBed(const PcscBed&) = delete;
  PcscBed& operator=(const PcscBed&) = delete;

  SimReader& reader(std::size_t index) { return host_->reader(index); }
  // The name under which PC/SC lists the reader.
  const std::string& name(std::size_t index) const { return daemon_->readerNames().at(index); }
  const std::string& workDir() const { return workDir_; }

  // Puts a card (installed profile name or profile file) into the reader and
  // waits until pcscd reports it.
  void insert(std::size_t reader, const std::string& profile);
  void insert(std::size_t reader, const CardProfile& profile);
  // Takes the card out and waits until pcscd has seen it go.
  void remove(std::size_t reader);
  // Waits until pcscd has polled the reader twice more, so it has seen any change.
  void waitForPolls(std::size_t reader);

 private:
  void waitForCard(std::size_t reader, bool present);

  std::string workDir_;
  std::unique_ptr<ReaderHost> host_;
  std::unique_ptr<PcscDaemon> daemon_;
};

}  // namespace cardsim
