#include "CardTestSupport.h"

#include "EswWriter.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_DTrustCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/CardResult.h"
#include "host/app/application_secure.h"
#include "platform/machine.h"

#include <windows.h>
#include "cardsim/bytes.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace cardtest {

std::string bytes(const std::string& hexText) { return fromSim(cardsim::fromHex(hexText)); }
std::string hex(const std::string& b) { return cardsim::toHex(toSim(b)); }
cardsim::Bytes toSim(const std::string& b) { return cardsim::Bytes(b.begin(), b.end()); }
std::string fromSim(const cardsim::Bytes& b) { return std::string(b.begin(), b.end()); }

cardsim::CardProfile profile(const std::string& name, const std::string& extraLines) {
  const std::string path = cardsim::CardProfile::installedPath(name);
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf() << "\n" << extraLines << "\n";
  return cardsim::CardProfile::parse(text.str(), path.substr(0, path.rfind('/')), path);
}

SimChannel::SimChannel(const cardsim::CardProfile& profile) : card_(profile) { card_.powerOn(); }

int SimChannel::doIO(const std::string& command, std::string& response) {
  if (beforeEach) beforeEach(command);
  const cardsim::CardAnswer answer = card_.transmit(toSim(command));
  if (answer.kind != cardsim::CardAnswer::Kind::Answered) return static_cast<int>(0x80100069u);
  response = fromSim(answer.bytes);
  return 0;
}

std::vector<std::string> SimChannel::commands() const {
  std::vector<std::string> out;
  for (const auto& c : card_.commands()) out.push_back(cardsim::toHex(c));
  return out;
}

int ScriptChannel::doIO(const std::string& command, std::string& response) {
  sent.push_back(hex(command));
  if (answers_.empty()) return static_cast<int>(0x80100016u);
  const std::string next = answers_.front();
  answers_.pop_front();
  if (!next.empty() && next[0] == '!') return static_cast<int>(std::stoul(next.substr(1), nullptr, 16));
  response = bytes(next);
  return 0;
}

PadReader::PadReader(SimChannel* card) : CReader(0, 1, "Test Pad", 0, 1), card_(card) {}

int PadReader::getCT(std::string& out) {
  out = "Test Pad";
  return 0;
}

int PadReader::performVerification(unsigned char keyReference, int format, int fixedLength, int insertionPosition,
                                   unsigned char timeOut, const std::string*, const std::string*, int*) {
  requests.push_back({keyReference, format, fixedLength, insertionPosition, timeOut});
  if (card_ == nullptr || pin.empty()) return result;
  std::string block;
  if (format == 2) {
    block.assign(8, '\xFF');
    block[0] = static_cast<char>(0x20 | pin.size());
    for (std::size_t k = 0; k < pin.size(); ++k) {
      const int nibble = pin[k] - '0';
      unsigned char& b = reinterpret_cast<unsigned char&>(block[1 + k / 2]);
      b = k % 2 == 0 ? static_cast<unsigned char>(nibble << 4 | 0x0F) : static_cast<unsigned char>((b & 0xF0) | nibble);
    }
  } else {
    block = pin;
    block.resize(8, '\0');
  }
  const std::string command = std::string{'\x00', '\x20', '\x00', static_cast<char>(keyReference), '\x08'} + block;
  std::string answer;
  card_->doIO(command, answer);
  const int sw = static_cast<unsigned char>(answer[answer.size() - 2]) << 8 | static_cast<unsigned char>(answer.back());
  return cardresult::pin(0, sw);
}

const TypeInfo kTypes[5] = {
    {Type::ASign, "asign", "CSCard_aSignPCS", "asign-sig", "asign-sig", 0x81, 0x81, "123456", "123456"},
    {Type::ECardG4, "ecardg4", "CSCard_ECardG4", "ecardg4-sig", "ecardg4-sig", 0x81, 0x81, "123456", "123456"},
    {Type::ECardng, "ecardng", "CSCard_ECardng", "ecardng-sig", "ecardng-sig", 0x81, 0x81, "123456", "123456"},
    {Type::DTrust, "dtrust", "CSCard_DTrustCard", "dtrust-sig", "dtrust-aut", 0x81, 0x01, "123456", "1234"},
    {Type::Bank, "bank", "CSCard_BankCard", "bank-sig", "bank-aut", 0x81, 0x01, "123456", "1234"},
};

bool isMSE(Type t) { return t == Type::ASign || t == Type::ECardG4 || t == Type::ECardng; }

cardsim::CardProfile simProfile(const TypeInfo& t) {
  return profile(t.profile, isMSE(t.type) ? "algorithm 20 ripemd160" : "");
}

std::unique_ptr<CSCard> makeCard(Type type, CICC_base& channel, const std::string& atr, CReader* reader) {
  switch (type) {
    case Type::ASign: return std::make_unique<CSCard_aSignPCS>(&channel, reader, atr, 7);
    case Type::ECardG4: return std::make_unique<CSCard_ECardG4>(&channel, reader, atr, 7);
    case Type::ECardng: return std::make_unique<CSCard_ECardng>(&channel, reader, atr, 7);
    case Type::DTrust: return std::make_unique<CSCard_DTrustCard>(&channel, reader, atr, 7);
    case Type::Bank: return std::make_unique<CSCard_BankCard>(&channel, reader, atr, 7);
  }
  return nullptr;
}

std::string signParameter(Type type, int algorithm, bool tls) {
  const char* reference = algorithm == 1 ? "10" : algorithm == 2 ? "40" : "20";
  switch (type) {
    case Type::DTrust: return tls ? bytes("840182") : std::string();
    case Type::Bank: return bytes(tls ? "800114840103" : "800144840102");
    default: return bytes(std::string("840102 8001") + reference);
  }
}

std::string signatureCommand(Type type, bool tls) {
  if (tls && type == Type::DTrust) return "002A8086";
  if (tls && type == Type::Bank) return "00881000";
  return "002A9E9A";
}

std::string signEnvironmentCommand(Type type) {
  if (type == Type::DTrust) return "";
  return type == Type::Bank ? "002281B6" : "002241B6";
}

int signedPrefix(Type type, int algorithm, bool tls) {
  if (!tls && type == Type::ECardng) return algorithm == 2 ? 2 : 1;
  return algorithm;
}

void createApplication() {
  if (application_secure::create(1, GetModuleHandleA(nullptr), 115) != 1)
    throw std::runtime_error("no application object");
}

void writeCardLists(const std::vector<std::pair<std::string, std::string>>& values) {
  eswtool::ArchivePlan plan;
  plan.manifestHeader.push_back({"Created-By", "quarvel card tests"});
  eswtool::Section section{"config:Quarvel", {{"SectionName", "Quarvel"}}, true};
  for (const auto& [name, value] : values) section.attributes.push_back({name, value});
  plan.sections.push_back(section);
  eswtool::Block block;
  block.signers.push_back({std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.key",
                           std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.crt"});
  plan.blocks.push_back(block);
  char directory[MAX_PATH];
  const UINT n = GetSystemDirectoryA(directory, sizeof directory);
  const std::string host = platform::mapPath((std::string(directory, n) + "\\Quarvel.esw").c_str());
  platform::makeDirectories(host.substr(0, host.rfind('/')));
  eswtool::writeFile(host, eswtool::buildArchive(plan));
}

void setRegistryText(HKEY root, const char* key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
    throw std::runtime_error(std::string("cannot open ") + key);
  const LONG rc = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS) throw std::runtime_error(std::string("cannot set ") + name);
}

std::string atrText(const std::string& atr, std::size_t n) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string part = n != 0 && atr.size() > n ? atr.substr(0, n) : atr;
  std::string out;
  for (std::size_t i = 0; i < part.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(part[i]) << 16;
    if (i + 1 < part.size()) v |= static_cast<unsigned char>(part[i + 1]) << 8;
    if (i + 2 < part.size()) v |= static_cast<unsigned char>(part[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < part.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < part.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> standardCardLists() {
  auto atr = [](const char* name) { return fromSim(profile(name).atr); };
  return {
      {"BankCard0", atrText(atr("bank"))},
      {"DTrustCard0", atrText(atr("dtrust"))},
      {"eCardng0", atrText(atr("ecardng"), 16)},
      {"eCardG40", atrText(atr("ecardg4"), 14)},
      {"aSignPCardos0", atrText(atr("asign"), 14)},
  };
}

namespace {
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

std::unique_ptr<EVP_PKEY, KeyFree> publicKey(const std::string& der) {
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) throw std::runtime_error("not a certificate");
  return std::unique_ptr<EVP_PKEY, KeyFree>(X509_get_pubkey(cert.get()));
}
}  // namespace

std::string certificate(const std::string& keyName) {
  const std::string path = cardsim::CardProfile::installedPath("asign");
  const std::string file = path.substr(0, path.rfind('/')) + "/keys/" + keyName + ".crt";
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "r"), &std::fclose);
  if (!in) throw std::runtime_error("no certificate " + file);
  std::unique_ptr<X509, X509Free> cert(PEM_read_X509(in.get(), nullptr, nullptr, nullptr));
  unsigned char* der = nullptr;
  const int n = i2d_X509(cert.get(), &der);
  std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
  OPENSSL_free(der);
  return out;
}

std::string recoverSigned(const std::string& certificateDer, const std::string& signature) {
  auto key = publicKey(certificateDer);
  std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return {};
  std::string out(static_cast<std::size_t>(EVP_PKEY_get_size(key.get())), '\0');
  std::size_t length = out.size();
  if (EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                              reinterpret_cast<const unsigned char*>(signature.data()), signature.size()) != 1)
    return {};
  out.resize(length);
  return out;
}

std::string encryptFor(const std::string& certificateDer, const std::string& plain) {
  auto key = publicKey(certificateDer);
  std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  EVP_PKEY_encrypt_init(ctx.get());
  EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
  std::size_t length = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
  EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, plain.size());
  std::string out(length, '\0');
  if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in, plain.size()) != 1)
    throw std::runtime_error("encryption failed");
  out.resize(length);
  return out;
}

std::string digest(int algorithm, const std::string& message) {
  const EVP_MD* md = algorithm == 1 ? EVP_sha1() : algorithm == 2 ? EVP_sha256() : EVP_ripemd160();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(message.data(), message.size(), out, &length, md, nullptr);
  return std::string(reinterpret_cast<char*>(out), length);
}

std::string digestInfo(int algorithm, const std::string& hash) {
  const char* prefix = algorithm == 1   ? "3021300906052B0E03021A05000414"
                       : algorithm == 2 ? "3031300D060960864801650304020105000420"
                                        : "3021300906052B2403020105000414";
  return bytes(prefix) + hash;
}

}  // namespace cardtest
