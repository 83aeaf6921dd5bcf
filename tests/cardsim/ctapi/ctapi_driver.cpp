// A CT-API driver (CT_init, CT_data, CT_close) over simulated terminals and
// cards. The file named by QUARVEL_CTAPI_SIM_CONFIG says which terminals exist
// for this driver's file name and port; it is read again when it changes, so a
// test can insert and remove cards or script the keypad from another process.
// The library works under any file name: copies of it are separate drivers.
#include "cardsim/ctterminal.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <openssl/crypto.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>
#include <sys/syscall.h>
#include <unistd.h>

#define CTAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr signed char OK = 0, ERR_INVALID = -1, ERR_CT = -8, ERR_TRANS = -10, ERR_MEMORY = -11;

class Driver {
 public:
  static Driver& instance() {
    static Driver d;
    return d;
  }

  signed char init(unsigned short ctn, unsigned short pn) {
    std::lock_guard<std::mutex> lock(mutex_);
    refresh();
    signed char rc = OK;
    if (open_.count(ctn)) {
      rc = ERR_INVALID;
    } else if (!config_.terminal(name_, pn)) {
      rc = ERR_CT;
    } else {
      if (!terminals_.count(pn)) terminals_[pn] = std::make_unique<cardsim::CtTerminal>(*config_.terminal(name_, pn));
      open_[ctn] = pn;
    }
    logLine("CT_init ctn=" + std::to_string(ctn) + " pn=" + std::to_string(pn) + " rc=" + std::to_string(rc));
    // Callers run CT_init on a thread of its own that ends at once: its OpenSSL state
    // (the simulated cards' keys were made here) is freed now, not by the thread's
    // exit, which a short test process may not wait for (the leak checker would see
    // that state lost). The main thread keeps its state.
    if (syscall(SYS_gettid) != getpid()) OPENSSL_thread_stop();
    return rc;
  }

  signed char close(unsigned short ctn) {
    std::lock_guard<std::mutex> lock(mutex_);
    signed char rc = open_.erase(ctn) ? OK : ERR_INVALID;
    logLine("CT_close ctn=" + std::to_string(ctn) + " rc=" + std::to_string(rc));
    return rc;
  }

  signed char data(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                   const unsigned char* command, unsigned short* lenr, unsigned char* response) {
    std::lock_guard<std::mutex> lock(mutex_);
    refresh();
    const cardsim::Bytes cmd(command, command + (command ? lenc : 0));
    std::ostringstream line;
    line << "CT_data ctn=" << ctn << " dad=" << (dad ? int(*dad) : -1) << " sad=" << (sad ? int(*sad) : -1)
         << " cmd=" << cardsim::toHex(cmd);
    signed char rc = OK;
    cardsim::Bytes answer;
    std::vector<std::string> terminalApdus;
    auto it = open_.find(ctn);
    if (it == open_.end() || !dad || !sad || !lenr || !response || (!command && lenc)) {
      rc = ERR_INVALID;
    } else {
      cardsim::CtTerminal& t = *terminals_.at(it->second);
      const std::size_t call = ++calls_[it->second];
      const cardsim::DriverFault* fault = nullptr;
      for (auto& f : t.config().driverFaults)
        if (f.call == call) fault = &f;
      if (fault && fault->result) {
        rc = static_cast<signed char>(*fault->result);
      } else if (*dad == 1) {
        // What the terminal itself sends to the card (PIN pad entries) goes to the log too.
        const std::size_t seen = t.card() ? t.card()->log().size() : 0;
        answer = t.terminalCommand(cmd);
        if (t.card())
          for (std::size_t i = seen; i < t.card()->log().size(); ++i)
            if (t.card()->log()[i].event == "apdu")
              terminalApdus.push_back("card apdu=" + cardsim::toHex(t.card()->log()[i].command) +
                                      " rsp=" + cardsim::toHex(t.card()->log()[i].response));
      } else if (*dad == 0) {
        auto reply = t.cardCommand(cmd);
        if (reply) answer = *reply;
        else rc = ERR_TRANS;
      } else {
        rc = ERR_INVALID;
      }
      if (rc == OK && answer.size() > *lenr) rc = ERR_MEMORY;
      if (rc == OK) {
        const unsigned short capacity = *lenr;
        std::memcpy(response, answer.data(), answer.size());
        *lenr = static_cast<unsigned short>(answer.size());
        if (fault && fault->length == cardsim::DriverFault::Length::Zero) *lenr = 0;
        if (fault && fault->length == cardsim::DriverFault::Length::One) *lenr = answer.empty() ? 0 : 1;
        if (fault && fault->length == cardsim::DriverFault::Length::OverCapacity)
          *lenr = static_cast<unsigned short>(capacity + 10);
        const unsigned char from = *dad;
        *dad = *sad;
        *sad = from;
      }
    }
    line << " rc=" << int(rc) << " rsp=" << cardsim::toHex(answer);
    logLine(line.str());
    for (const std::string& apdu : terminalApdus) logLine(apdu);
    return rc;
  }

  int command(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::istringstream in(text);
    std::string verb;
    unsigned port = 0;
    if (!(in >> verb >> port) || !terminals_.count(static_cast<unsigned short>(port))) return -1;
    cardsim::CtTerminal& t = *terminals_[static_cast<unsigned short>(port)];
    std::string rest;
    std::getline(in >> std::ws, rest);
    try {
      if (verb == "insert")
        t.insert(cardsim::CardProfile::load(rest.find('/') == std::string::npos
                                                ? cardsim::CardProfile::installedPath(rest)
                                                : rest));
      else if (verb == "remove") t.remove();
      else if (verb == "keypad") t.setKeypad(rest);
      else if (verb == "card-fault" && t.card()) t.card()->addFault(cardsim::FaultRule::parse(rest));
      else return -1;
    } catch (const std::exception& e) {
      logLine(std::string("ctsim_command failed: ") + e.what());
      return -1;
    }
    return 0;
  }

 private:
  Driver() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Driver::instance), &info) && info.dli_fname) {
      name_ = info.dli_fname;
      auto slash = name_.find_last_of('/');
      if (slash != std::string::npos) name_ = name_.substr(slash + 1);
    }
  }

  // Reads the configuration again when its file changed. The text is compared, not
  // the file's stamp: a test rewrites it faster than the file clock ticks, with
  // versions of one size, and a replaced file may get the inode its predecessor had.
  void refresh() {
    const char* path = std::getenv("QUARVEL_CTAPI_SIM_CONFIG");
    if (!path || !*path) return;
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::ostringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    if (loaded_ && text == text_ && path == path_) return;
    try {
      config_ = cardsim::CtApiConfig::parse(text, path);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "CT-API simulator: %s\n", e.what());
      config_ = {};
    }
    loaded_ = true;
    text_ = std::move(text);
    path_ = path;
    for (auto& [port, terminal] : terminals_)
      if (auto* c = config_.terminal(name_, port)) terminal->reconfigure(*c);
  }

  void logLine(const std::string& text) {
    if (config_.log.empty()) return;
    std::ofstream out(config_.log, std::ios::app);
    out << name_ << ": " << text << " tid=" << ::syscall(SYS_gettid) << "\n";
  }

  std::mutex mutex_;
  std::string name_;
  std::string path_;
  bool loaded_ = false;
  std::string text_;
  cardsim::CtApiConfig config_;
  std::map<unsigned short, std::unique_ptr<cardsim::CtTerminal>> terminals_;  // by port
  std::map<unsigned short, unsigned short> open_;                            // ctn -> port
  std::map<unsigned short, std::size_t> calls_;                              // CT_data calls by port
};

}  // namespace

CTAPI_EXPORT signed char CT_init(unsigned short ctn, unsigned short pn) { return Driver::instance().init(ctn, pn); }

CTAPI_EXPORT signed char CT_data(unsigned short ctn, unsigned char* dad, unsigned char* sad, unsigned short lenc,
                                 unsigned char* command, unsigned short* lenr, unsigned char* response) {
  return Driver::instance().data(ctn, dad, sad, lenc, command, lenr, response);
}

CTAPI_EXPORT signed char CT_close(unsigned short ctn) { return Driver::instance().close(ctn); }

// For a test in the same process: "insert <pn> <profile>", "remove <pn>",
// "keypad <pn> <keys>", "card-fault <pn> <rule>" on an initialised terminal.
CTAPI_EXPORT int ctsim_command(const char* text) { return text ? Driver::instance().command(text) : -1; }
