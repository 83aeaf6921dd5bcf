#include "cardsim/pcscbed.h"

#include "pcsclite_api.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace cardsim {

std::vector<ReaderConfig> PcscBed::standardReaders() {
  return {ReaderConfig::plain("Quarvel Sim Reader"), ReaderConfig::pinPadDirect("Quarvel Sim PinPad"),
          ReaderConfig::pinPadStartFinish("Quarvel Sim Keypad")};
}

PcscBed::PcscBed(std::vector<ReaderConfig> readers, std::string workDir) : workDir_(std::move(workDir)) {
  if (workDir_.empty()) {
    const char* root = std::getenv("QUARVEL_MACHINE_ROOT");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/pcsc-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("cannot make " + pattern);
    workDir_ = buffer.data();
  }
  host_ = std::make_unique<ReaderHost>(workDir_ + "/readers.sock");
  for (auto& r : readers) host_->addReader(std::move(r));
  host_->start();
  daemon_ = std::make_unique<PcscDaemon>(*host_, workDir_);
}

PcscBed::~PcscBed() {
  daemon_.reset();
  host_.reset();
}

void PcscBed::insert(std::size_t reader, const std::string& profile) {
  insert(reader, CardProfile::load(profile.find('/') == std::string::npos ? CardProfile::installedPath(profile)
                                                                           : profile));
}

void PcscBed::insert(std::size_t reader, const CardProfile& profile) {
  host_->reader(reader).insert(profile);
  waitForCard(reader, true);
}

void PcscBed::remove(std::size_t reader) {
  host_->reader(reader).remove();
  waitForPolls(reader);
  waitForCard(reader, false);
}

void PcscBed::waitForPolls(std::size_t reader) {
  auto& r = host_->reader(reader);
  const std::size_t start = r.presenceQueries();
  for (int round = 0; round < 200 && r.presenceQueries() < start + 2; ++round)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  if (r.presenceQueries() < start + 2) throw std::runtime_error("pcscd does not poll " + name(reader));
}

void PcscBed::waitForCard(std::size_t reader, bool present) {
  const PcscLite& api = pcsclite();
  SCARDCONTEXT ctx = 0;
  if (api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS)
    throw std::runtime_error("no PC/SC context");
  SCARD_READERSTATE state{};
  state.szReader = name(reader).c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  bool reached = false;
  for (int round = 0; round < 50 && !reached; ++round) {
    LONG rc = api.GetStatusChange(ctx, 200, &state, 1);
    if (rc != SCARD_S_SUCCESS && rc != SCARD_E_TIMEOUT) break;
    reached = ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
    state.dwCurrentState = state.dwEventState;
  }
  api.ReleaseContext(ctx);
  if (!reached)
    throw std::runtime_error("pcscd did not see the card " + std::string(present ? "arrive in " : "leave ") +
                             name(reader));
}

}  // namespace cardsim
