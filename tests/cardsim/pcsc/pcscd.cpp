#include "cardsim/pcscd.h"

#include "pcsclite_api.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef CARDSIM_IFD_LIBRARY
#define CARDSIM_IFD_LIBRARY ""
#endif

namespace cardsim {

namespace {

constexpr const char* kPidFile = "/run/pcscd/pcscd.pid";
constexpr const char* kLockFile = "/tmp/quarvel-cardsim-pcscd.lock";

// Waits (bounded) for the machine-wide turn to run a pcscd; -1 when it never came.
int takeTurn() {
  int fd = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  for (int attempt = 0; attempt < 2400; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::close(fd);
  return -1;
}

bool otherPcscdRunning(pid_t* pid) {
  std::ifstream in(kPidFile);
  long value = 0;
  if (!(in >> value) || value <= 0) return false;
  *pid = static_cast<pid_t>(value);
  return ::kill(*pid, 0) == 0;
}

// A pcscd that serves simulated readers ends with its test: worth waiting for.
bool isTestBedPcscd(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
  std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return cmdline.find("/reader.conf.d") != std::string::npos &&
         (cmdline.find("quarvel-test") != std::string::npos || cmdline.find("quarvel-cardsim") != std::string::npos);
}

std::vector<std::string> listReaders() {
  std::vector<std::string> out;
  const PcscLite& api = pcsclite();
  SCARDCONTEXT ctx = 0;
  if (api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return out;
  DWORD length = 0;
  if (api.ListReaders(ctx, nullptr, nullptr, &length) == SCARD_S_SUCCESS && length > 0) {
    std::string buffer(length, '\0');
    if (api.ListReaders(ctx, nullptr, buffer.data(), &length) == SCARD_S_SUCCESS) {
      for (std::size_t i = 0; i < buffer.size() && buffer[i];) {
        std::string name(buffer.c_str() + i);
        out.push_back(name);
        i += name.size() + 1;
      }
    }
  }
  api.ReleaseContext(ctx);
  return out;
}

// pcscd names a reader "<FRIENDLYNAME> XX YY".
bool namesReader(const std::string& listed, const std::string& friendly) {
  return listed.size() == friendly.size() + 6 && listed.compare(0, friendly.size(), friendly) == 0 &&
         listed[friendly.size()] == ' ';
}

}  // namespace

std::string PcscDaemon::defaultDriver() {
  const char* env = std::getenv("QUARVEL_CARDSIM_IFD");
  return env && *env ? env : CARDSIM_IFD_LIBRARY;
}

PcscDaemon::PcscDaemon(const ReaderHost& host, const std::string& workDir, const std::string& driver) {
  lock_ = takeTurn();
  if (lock_ < 0) throw std::runtime_error(std::string("no turn to run pcscd: ") + kLockFile + " stays locked");
  pid_t other = 0;
  for (int attempt = 0; attempt < 2400 && otherPcscdRunning(&other) && isTestBedPcscd(other); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (otherPcscdRunning(&other)) {
    stop();
    throw std::runtime_error("another pcscd is running (pid " + std::to_string(other) +
                             "); the card tests start their own: stop it first");
  }
  const std::string confDir = workDir + "/reader.conf.d";
  ::mkdir(confDir.c_str(), 0755);
  std::ofstream conf(confDir + "/cardsim");
  for (std::size_t i = 0; i < host.readerCount(); ++i) {
    conf << "FRIENDLYNAME \"" << host.reader(i).config().name << "\"\n"
         << "DEVICENAME " << host.socketPath() << ":" << i << "\n"
         << "LIBPATH " << driver << "\n"
         << "CHANNELID " << i << "\n\n";
  }
  conf.close();
  logFile_ = workDir + "/pcscd.log";

  const char* program = std::getenv("QUARVEL_PCSCD");
  std::string pcscd = program && *program ? program : "/usr/sbin/pcscd";
  const bool debug = std::getenv("QUARVEL_CARDSIM_PCSCD_DEBUG") != nullptr;
  pid_ = ::fork();
  if (pid_ < 0) {
    stop();
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    // pcscd ends with the test process, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    int log = ::open(logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    if (debug)
      ::execl(pcscd.c_str(), "pcscd", "--foreground", "--debug", "--apdu", "--config", confDir.c_str(), nullptr);
    else
      ::execl(pcscd.c_str(), "pcscd", "--foreground", "--config", confDir.c_str(), nullptr);
    ::_exit(127);
  }

  names_.assign(host.readerCount(), std::string());
  for (int attempt = 0; attempt < 200; ++attempt) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      stop();
      throw std::runtime_error("pcscd ended at start; see " + logFile_);
    }
    std::size_t found = 0;
    auto listed = listReaders();
    for (std::size_t i = 0; i < host.readerCount(); ++i) {
      for (auto& l : listed)
        if (namesReader(l, host.reader(i).config().name)) names_[i] = l;
      if (!names_[i].empty()) ++found;
    }
    if (found == host.readerCount()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop();
  throw std::runtime_error("pcscd did not list the simulated readers; see " + logFile_);
}

PcscDaemon::~PcscDaemon() { stop(); }

void PcscDaemon::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int attempt = 0; attempt < 100 && !ended; ++attempt) {
      ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (lock_ >= 0) ::close(lock_);  // the next pcscd may start
  lock_ = -1;
}

}  // namespace cardsim
