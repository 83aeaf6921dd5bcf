// A whole PIN and decipher run through both transports, with the trace log at
// level 6: afterwards no PIN, unblocking code or deciphered byte is in the log.
// The decipher block is 257 bytes, so it also travels with extended length.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardsim/pcscbed.h"
#include "ctapi_support.h"
#include "reader_test_support.h"

using readertest::hex;
using readertest::unhex;

namespace {

const std::string kPlain = "deciphered: the session key 0123";

// Encrypts for the key of a PEM certificate with PKCS#1 v1.5 padding.
std::string encryptFor(const std::string& certificateFile, const std::string& plain) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(certificateFile.c_str(), "r"), &std::fclose);
  if (!file) return {};
  std::unique_ptr<X509, void (*)(X509*)> cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
  if (!cert) return {};
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(X509_get_pubkey(cert.get()), &EVP_PKEY_free);
  std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
  size_t length = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
  if (EVP_PKEY_encrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, plain.size()) != 1)
    return {};
  std::string out(length, '\0');
  if (EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in, plain.size()) != 1)
    return {};
  out.resize(length);
  return out;
}

std::string dtrustDir() {
  const std::string profile = cardsim::CardProfile::installedPath("dtrust");
  return profile.substr(0, profile.find_last_of('/'));
}

// Sends one command on the channel: its status word, the response data in out.
int send(CICC& channel, const std::string& hexCommand, std::string* out = nullptr) {
  const std::string bytes = unhex(hexCommand);
  CCommandAPDU c(static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1]),
                 static_cast<unsigned char>(bytes[2]), static_cast<unsigned char>(bytes[3]));
  if (bytes.size() > 5) c.setData(bytes.substr(5, static_cast<unsigned char>(bytes[4])));
  CAPDU apdu(c);
  EXPECT_EQ(channel.perform(apdu), 0) << hexCommand;
  if (out) *out = apdu.response.data;
  return apdu.response.SW;
}

std::string padded(const std::string& pin) { return hex(pin + std::string(8 - pin.size(), '\0')); }

// PIN change, unblocking, PIN 01 and a decipher of a 2048-bit block.
void pinAndDecipherRun(CICC& channel) {
  EXPECT_EQ(send(channel, "0020008108" + padded("123456")), 0x9000);
  EXPECT_EQ(send(channel, "0024008110" + padded("123456") + padded("654321")), 0x9000);
  EXPECT_EQ(send(channel, "002C008110" + hex("12345678") + padded("135790")), 0x9000);
  EXPECT_EQ(send(channel, "0020008108" + padded("135790")), 0x9000);
  EXPECT_EQ(send(channel, "00A4080006" "501550724B01"), 0x9000);
  EXPECT_EQ(send(channel, "0020000108" + padded("1234")), 0x9000);
  EXPECT_EQ(send(channel, "002241B803840182"), 0x9000);
  const std::string crypt = encryptFor(dtrustDir() + "/keys/dtrust-aut.crt", kPlain);
  ASSERT_EQ(crypt.size(), 256u);
  CCommandAPDU decipher(0x00, 0x2A, 0x80, 0x86);
  decipher.setData("\x81" + crypt);
  decipher.setLe(0);
  CAPDU apdu(decipher);
  ASSERT_EQ(channel.perform(apdu), 0);
  EXPECT_EQ(apdu.response.SW, 0x9000);
  EXPECT_EQ(apdu.response.data, kPlain);
}

void expectNoSecretIn(const std::string& log) {
  ASSERT_FALSE(log.empty());
  const std::string secrets[] = {"123456", "654321", "12345678", "135790", "1234", kPlain};
  for (const std::string& secret : secrets) {
    const std::string h = hex(secret);
    EXPECT_EQ(log.find(h), std::string::npos) << secret;
    EXPECT_EQ(log.find(readertest::lower(h)), std::string::npos) << secret;
    std::string upper = h;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(log.find(upper), std::string::npos) << secret;
  }
  EXPECT_EQ(log.find(kPlain), std::string::npos);
  EXPECT_EQ(log.find(hex(kPlain.substr(0, 8))), std::string::npos);
}

}  // namespace

TEST(Secrets, NoneReachesTheTraceLog) {
  readertest::FakeRecognition recognition({readertest::atrOf("dtrust")});
  readertest::CtapiBed bed;

  // PC/SC: the card is in once pcscd has seen it.
  cardsim::PcscBed pcscBed;
  pcscBed.insert(cardsim::PcscBed::kPlain, "dtrust");
  SCARDCONTEXT ctx = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
  CReader_PCSC pcsc(pcscBed.name(cardsim::PcscBed::kPlain), ctx, SCARD_SHARE_SHARED, 1, 0, 1, 0);
  ASSERT_EQ(pcsc.connect(0), 0);
  pinAndDecipherRun(pcsc.getChannel());

  // CT-API: the binding's own lines too.
  bed.configure("terminal 1\n  card dtrust\n");
  setCTAPIDll(readertest::CtapiBed::kDriverName);
  ASSERT_EQ(ctInitInThread(1, 1), 0);
  CReader_CTAPI ctapi(readertest::CtapiBed::kDriverName, 1, "Reader", 1, 1);
  ASSERT_EQ(ctapi.connect(0), 0);
  pinAndDecipherRun(*ctapi.getCardChannel());

  const std::string log = readertest::traceText();
  expectNoSecretIn(log);
  // The commands are in the log, masked.
  EXPECT_NE(log.find("in: 0x0020008108xxxxxxxxxxxxxxxx."), std::string::npos);
  EXPECT_NE(log.find("in: 0x002c008110xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx."), std::string::npos);
  EXPECT_NE(log.find("CT_data started, ctn: 0x1, sad: 0x2, dad: 0x0, in: 0x0024008110xxxx"), std::string::npos);
  EXPECT_NE(log.find("out: 0x" + std::string(2 * kPlain.size(), 'x') + "9000."), std::string::npos);
}
