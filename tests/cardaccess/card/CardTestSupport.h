// What the card tests share: channels over a simulated card or a script, a
// reader whose PIN pad a test scripts, hex texts, and OpenSSL checks against
// the certificates of the test bed's card keys.
#pragma once

#include "cardaccess/reader/CICC.h"
#include "cardaccess/reader/CReader.h"
#include "cardaccess/card/CSCard.h"
#include "cardsim/card.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cardtest {

// Hex in either case, blanks allowed, to bytes; and bytes to upper-case hex.
std::string bytes(const std::string& hex);
std::string hex(const std::string& bytes);
cardsim::Bytes toSim(const std::string& bytes);
std::string fromSim(const cardsim::Bytes& bytes);

cardsim::CardProfile profile(const std::string& name, const std::string& extraLines = "");

// A channel straight to a simulated card in this process.
class SimChannel : public CICC_base {
 public:
  explicit SimChannel(const cardsim::CardProfile& profile);
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string& command, std::string& response) override;

  cardsim::Card& card() { return card_; }
  // The commands the card received, as upper-case hex, since the last clear.
  std::vector<std::string> commands() const;
  void clear() { card_.clearLog(); }
  // Runs before each command is handed to the card.
  std::function<void(const std::string& command)> beforeEach;

 private:
  cardsim::Card card_;
};

// A channel that answers from a script and records what it was sent.
class ScriptChannel : public CICC_base {
 public:
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int doIO(const std::string& command, std::string& response) override;
  // The next answer (hex, status word included); "!n" makes the transport fail with n.
  void answer(const std::string& hexAnswer) { answers_.push_back(hexAnswer); }
  std::vector<std::string> sent;  // upper-case hex

 private:
  std::deque<std::string> answers_;
};

// A reader with a PIN pad the test scripts: it records each request and, when a
// PIN is set, verifies it on the simulated card as the pad would, in the format asked.
class PadReader : public CReader {
 public:
  explicit PadReader(SimChannel* card = nullptr);
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int connect(int) override { return 0; }
  int disconnect() override { return 0; }
  int getStatus(int) override { return 5; }
  int getCT(std::string& out) override;
  int reset(bool) override { return 0; }
  int performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                          unsigned char timeOut, const std::string* apdu, const std::string* displayText,
                          int* status) override;
  int modifyVerification(unsigned char, int, int) override { return static_cast<int>(0x80000001u); }
  int activateVerification(unsigned char, int, int) override { return static_cast<int>(0x80000001u); }
  int activateVerification_KOBIL(unsigned char, int, int) override { return static_cast<int>(0x80000001u); }

  struct Request {
    int keyReference, format, fixedLength, insertionPosition, timeOut;
  };
  std::vector<Request> requests;
  std::string pin;           // what the user types
  int result = 0;            // answered when no PIN is set

 private:
  SimChannel* card_;
};

// The application object with the title "Quarvel" (the test's string resource 1),
// which names the program's own settings file.
void createApplication();
// Writes the program's own signed settings file, Quarvel.esw in the system
// directory, with these values in its Quarvel section (the card lists).
void writeCardLists(const std::vector<std::pair<std::string, std::string>>& values);
// A REG_SZ value, its key made when missing (the user's Reader0 settings, ...).
void setRegistryText(HKEY root, const char* key, const char* name, const std::string& value);
// The standard Base64 of the ATR's first n bytes (all when n is 0).
std::string atrText(const std::string& atr, std::size_t n = 0);
// The values that list the test bed's five card types under their first names.
std::vector<std::pair<std::string, std::string>> standardCardLists();

// The five card types as the tests drive them: the test bed's profile, keys,
// key references and PINs of the normal and the TLS signature.
enum class Type { ASign, ECardG4, ECardng, DTrust, Bank };

struct TypeInfo {
  Type type;
  const char* profile;
  const char* className;
  const char* signCert;  // the key of the normal signature
  const char* tlsCert;   // the key of the TLS form
  int signKid, tlsKid;
  const char* signPin;
  const char* tlsPin;
};

extern const TypeInfo kTypes[5];
bool isMSE(Type type);
// The profile; the MSE types' cards get a template reference for RIPEMD-160, as
// their issuer's Java layer would use it.
cardsim::CardProfile simProfile(const TypeInfo& type);
std::unique_ptr<CSCard> makeCard(Type type, CICC_base& channel, const std::string& atr, CReader* reader);
// The parameter the Java layer gives signInit for an algorithm (1, 2, 3) and form.
std::string signParameter(Type type, int algorithm, bool tls);
// The digest algorithm of the DigestInfo the card signs: in the normal form the
// MSE types build it from their template (the eCard ng's hash template says
// SHA-1 for anything but SHA-256); otherwise the host's.
int signedPrefix(Type type, int algorithm, bool tls);

// The command (hex prefix) that makes a type's signature in a form: PSO COMPUTE
// DIGITAL SIGNATURE, the D-Trust's raw DECIPHER, the bank card's INTERNAL AUTHENTICATE.
std::string signatureCommand(Type type, bool tls);
// The command (hex prefix) of the environment signInit sets, empty when it sets none.
std::string signEnvironmentCommand(Type type);

// The DER certificate of a test key ("asign-sig", "bank-dec", ...).
std::string certificate(const std::string& keyName);
// The PKCS#1 v1.5 type-1 block content a signature recovers to with the key of
// the certificate (the DigestInfo the card signed), empty when it does not verify.
std::string recoverSigned(const std::string& certificateDer, const std::string& signature);
// A PKCS#1 v1.5 cryptogram of plain for the certificate's key.
std::string encryptFor(const std::string& certificateDer, const std::string& plain);
// SHA-1, SHA-256 or RIPEMD-160 by the card's algorithm number (1, 2, 3).
std::string digest(int algorithm, const std::string& message);
std::string digestInfo(int algorithm, const std::string& hash);

}  // namespace cardtest
