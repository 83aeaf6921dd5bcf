#include "VariantSupport.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "cardsim/bytes.h"
#include "cardvariant/Settings.h"
#include "certcheck/VOQ_Configuration.h"
#include "quarvel_test.h"

namespace varianttest {

std::string bytes(const std::string& hexText) {
  const cardsim::Bytes b = cardsim::fromHex(hexText);
  return std::string(b.begin(), b.end());
}

std::string hex(const std::string& data) { return cardsim::toHex(cardsim::Bytes(data.begin(), data.end())); }

cardsim::CardProfile profile(const std::string& name) {
  return cardsim::CardProfile::load(cardsim::CardProfile::installedPath(name));
}

SimChannel::SimChannel(const cardsim::CardProfile& profile) : card_(profile) { card_.powerOn(); }

int SimChannel::doIO(const std::string& command, std::string& response) {
  const cardsim::CardAnswer answer = card_.transmit(cardsim::Bytes(command.begin(), command.end()));
  if (answer.kind != cardsim::CardAnswer::Kind::Answered) return answer.kind == cardsim::CardAnswer::Kind::Removed ? 0x69 : -10;
  response.assign(answer.bytes.begin(), answer.bytes.end());
  return 0;
}

std::vector<std::string> SimChannel::commands() const {
  std::vector<std::string> out;
  for (const cardsim::Bytes& c : card_.commands()) out.push_back(cardsim::toHex(c));
  return out;
}

int ScriptChannel::doIO(const std::string& command, std::string& response) {
  sent.push_back(hex(command));
  if (answers_.empty()) return -1;
  const std::string next = answers_.front();
  answers_.pop_front();
  if (!next.empty() && next[0] == '!') return std::stoi(next.substr(1));
  response = bytes(next);
  return 0;
}

void setRaw(const std::string& subKey, const std::string& name, DWORD type, const std::string& data) {
  std::string path = std::string("SOFTWARE\\") + cardvariant::kCompany + "\\" + cardvariant::kProduct;
  if (!subKey.empty()) path += "\\" + subKey;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("cannot create " + path);
  const LONG rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot write " + name);
}

void setText(const std::string& subKey, const std::string& name, const std::string& value) {
  setRaw(subKey, name, REG_SZ, value + std::string(1, '\0'));
}

void setDword(const std::string& subKey, const std::string& name, DWORD value) {
  setRaw(subKey, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

void clearSettings() {
  const std::string path = std::string("SOFTWARE\\") + cardvariant::kCompany + "\\" + cardvariant::kProduct;
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
}

FreshSettings::FreshSettings()
    : m_store(std::make_unique<VOQ_Configuration>(cardvariant::kCompany, cardvariant::kProduct, HKEY_LOCAL_MACHINE)),
      m_previous(cardvariant::setSettingsStore(m_store.get())) {}

FreshSettings::~FreshSettings() { cardvariant::setSettingsStore(m_previous); }

std::string enableTrace() {
  const std::string file = quarveltest::makeTempDirectory("trace") + "/card.log";
  setText("", "LogFileName", file);
  setDword("", "LogLevel", 6);
  return file;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string certificate(const std::string& keyName) {
  const std::string path = cardsim::CardProfile::installedPath("asign");
  const std::string dir = path.substr(0, path.find_last_of('/')) + "/keys/" + keyName + ".crt";
  const cardsim::Bytes der = cardsim::certificateDer(dir);
  return std::string(der.begin(), der.end());
}

std::string recoverSigned(const std::string& certificateDer, const std::string& signature) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(certificateDer.data());
  std::unique_ptr<X509, void (*)(X509*)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificateDer.size())), X509_free);
  if (!cert) return {};
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(X509_get_pubkey(cert.get()), EVP_PKEY_free);
  std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0)
    return {};
  size_t length = 0;
  const auto* sig = reinterpret_cast<const unsigned char*>(signature.data());
  if (EVP_PKEY_verify_recover(ctx.get(), nullptr, &length, sig, signature.size()) <= 0) return {};
  std::string out(length, '\0');
  if (EVP_PKEY_verify_recover(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]), &length, sig, signature.size()) <= 0)
    return {};
  out.resize(length);
  return out;
}

std::string digest(int algorithm, const std::string& message) {
  const EVP_MD* md = algorithm == 1 ? EVP_sha1() : algorithm == 2 ? EVP_sha256() : EVP_ripemd160();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(message.data(), message.size(), out, &length, md, nullptr);
  return std::string(reinterpret_cast<const char*>(out), length);
}

std::string digestInfo(int algorithm, const std::string& hash) {
  const cardsim::Bytes prefix = cardsim::digestInfoPrefix(algorithm == 1   ? cardsim::HashAlg::Sha1
                                                          : algorithm == 2 ? cardsim::HashAlg::Sha256
                                                                           : cardsim::HashAlg::Ripemd160);
  return std::string(prefix.begin(), prefix.end()) + hash;
}

}  // namespace varianttest
