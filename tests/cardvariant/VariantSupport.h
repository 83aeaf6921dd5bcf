// What the tests of the plug-in's card library share: hex texts, channels over a
// simulated card or a script, the plug-in's HKLM settings written through the
// registry, the library's trace into a file, and OpenSSL checks of signatures.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "cardaccess/reader/CICC.h"
#include "cardsim/card.h"

class VOQ_Configuration;

namespace varianttest {

// Hex in either case, blanks allowed, to bytes; bytes to upper-case hex.
std::string bytes(const std::string& hex);
std::string hex(const std::string& bytes);

cardsim::CardProfile profile(const std::string& name);

// A channel straight to a simulated card in this process.
class SimChannel : public cardvariant::CICC_base {
 public:
  explicit SimChannel(const cardsim::CardProfile& profile);
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string& command, std::string& response) override;
  cardsim::Card& card() { return card_; }
  // The commands the card received, as upper-case hex.
  std::vector<std::string> commands() const;

 private:
  cardsim::Card card_;
};

// Answers from a script (hex with the status word; "!n": transport result n) and
// records what it was sent.
class ScriptChannel : public cardvariant::CICC_base {
 public:
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string& command, std::string& response) override;
  void answer(const std::string& hexAnswer) { answers_.push_back(hexAnswer); }
  std::vector<std::string> sent;

 private:
  std::deque<std::string> answers_;
};

// Values of the plug-in's HKLM product key (subKey empty: the key itself), written
// as an administrator would.
void setText(const std::string& subKey, const std::string& name, const std::string& value);
void setDword(const std::string& subKey, const std::string& name, DWORD value);
void setRaw(const std::string& subKey, const std::string& name, DWORD type, const std::string& data);

// Removes every value of the product key.
void clearSettings();

// The store the library reads, loaded from the registry as it is now: what start-up
// would see. Puts the previous store back when it ends.
class FreshSettings {
 public:
  FreshSettings();
  ~FreshSettings();
  FreshSettings(const FreshSettings&) = delete;
  FreshSettings& operator=(const FreshSettings&) = delete;

 private:
  std::unique_ptr<VOQ_Configuration> m_store;
  VOQ_Configuration* m_previous;
};

// Turns the library's logging on into a file of the machine root (level 6); call
// before the first logging object of the process. Returns the file's path.
std::string enableTrace();
std::string readFile(const std::string& path);

// The DER certificate of a test key ("dtrust-sig", "bank-aut", ...).
std::string certificate(const std::string& keyName);
// What a signature recovers to with the certificate's key (PKCS#1 v1.5 type 1):
// the DigestInfo the card signed; empty when it does not verify.
std::string recoverSigned(const std::string& certificateDer, const std::string& signature);
// SHA-1 (1), SHA-256 (2) or RIPEMD-160 (3), and the DigestInfo around a hash.
std::string digest(int algorithm, const std::string& message);
std::string digestInfo(int algorithm, const std::string& hash);

}  // namespace varianttest
