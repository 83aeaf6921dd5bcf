// VOQ_Crypt with the test PKI kit's RSA keys (made by OpenSSL for this build, never
// committed); OpenSSL's own `openssl dgst` checks what it signs, and signs what it checks.
#include "certcheck/VOQ_Crypt.h"
#include "certcheck/VOQ_TraceLog.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace st = servicestest;

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey readPrivateKey(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) return nullptr;
  Pkey key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  fclose(file);
  return key;
}

// The key's text as the plug-in stores it: e|d|n|p|q|dmp1|dmq1|iqmp in BN_bn2hex's form.
std::vector<std::string> keyFields(EVP_PKEY* key) {
  const char* names[] = {OSSL_PKEY_PARAM_RSA_E,         OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_N,
                         OSSL_PKEY_PARAM_RSA_FACTOR1,   OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                         OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
  std::vector<std::string> fields;
  for (const char* name : names) {
    BIGNUM* bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1) << name;
    char* hex = BN_bn2hex(bn);
    fields.push_back(hex);
    OPENSSL_free(hex);
    BN_free(bn);
  }
  return fields;
}

std::string join(const std::vector<std::string>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) text += (i ? "|" : "") + fields[i];
  return text;
}

VOQ_String voq(const std::string& text) { return VOQ_String(static_cast<unsigned int>(text.size()), text.data()); }

std::string text(const VOQ_String& s) { return s.getLength() ? std::string(s.getData(), s.getLength()) : ""; }

std::string writePublicKey(EVP_PKEY* key, const std::string& path) {
  FILE* file = fopen(path.c_str(), "w");
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(PEM_write_PUBKEY(file, key), 1);
  fclose(file);
  return path;
}

int run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

class VOQ_CryptTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The log this process's key holder writes into (the first creation of the log wins).
    logFile = quarveltest::makeTempDirectory("cryptlog") + "/trace.log";
    VOQ_TraceLog::getInstance(logFile.c_str());
  }
  void SetUp() override {
    folder = quarveltest::makeTempDirectory("crypt");
    logStart = st::readFile(logFile).size();
  }
  // What the key holder logged since the case began.
  std::string logged() const { return st::readFile(logFile).substr(logStart); }
  static std::string kitKey(const char* name) { return testpki::Kit::standard().path(std::string(name) + ".key"); }

  static std::string logFile;
  std::string folder;
  size_t logStart = 0;
};
std::string VOQ_CryptTest::logFile;

TEST_F(VOQ_CryptTest, LoadsTheKeyTextAndExportsItUnchanged) {
  for (const char* name : {"rsa1024", "rsa1024-e3", "rsa2048"}) {
    SCOPED_TRACE(name);
    Pkey key = readPrivateKey(kitKey(name));
    ASSERT_NE(key, nullptr);
    const std::string keyText = join(keyFields(key.get()));
    VOQ_Crypt crypt;
    ASSERT_EQ(crypt.loadKey(voq(keyText)), VOQ_CRYPT_OK);
    VOQ_String exported(">");
    EXPECT_EQ(crypt.exportKey(exported), VOQ_CRYPT_OK);
    EXPECT_EQ(text(exported), ">" + keyText);  // appended
  }
  EXPECT_EQ(logged(), "");
}

TEST_F(VOQ_CryptTest, SignaturesCheckedByOpensslAndTheReverse) {
  Pkey key = readPrivateKey(kitKey("rsa1024"));
  ASSERT_NE(key, nullptr);
  VOQ_Crypt crypt;
  ASSERT_EQ(crypt.loadKey(voq(join(keyFields(key.get())))), VOQ_CRYPT_OK);
  const std::string data = "<metadata>Dorvalin 3.1</metadata>";
  const std::string dataFile = folder + "/data.bin";
  testpki::writeFile(dataFile, testpki::Bytes(data.begin(), data.end()));
  const std::string publicKey = writePublicKey(key.get(), folder + "/public.pem");

  std::vector<unsigned char> signature(128);
  unsigned int length = static_cast<unsigned int>(signature.size());
  ASSERT_EQ(crypt.sign(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                       signature.data(), &length),
            VOQ_CRYPT_OK);
  EXPECT_EQ(length, 128u);
  signature.resize(length);
  testpki::writeFile(folder + "/ours.sig", signature);
  EXPECT_EQ(run("openssl dgst -sha1 -verify " + publicKey + " -signature " + folder + "/ours.sig " + dataFile), 0);

  ASSERT_EQ(run("openssl dgst -sha1 -sign " + kitKey("rsa1024") + " -out " + folder + "/theirs.sig " + dataFile), 0);
  const testpki::Bytes theirs = testpki::readFile(folder + "/theirs.sig");
  EXPECT_EQ(crypt.verify(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                         theirs.data(), static_cast<unsigned int>(theirs.size())),
            VOQ_CRYPT_OK);
  // Other data, or a SHA-256 signature, do not verify.
  EXPECT_EQ(crypt.verify(reinterpret_cast<const unsigned char*>("other"), 5, theirs.data(),
                         static_cast<unsigned int>(theirs.size())),
            VOQ_CRYPT_BAD_SIGNATURE);
  ASSERT_EQ(run("openssl dgst -sha256 -sign " + kitKey("rsa1024") + " -out " + folder + "/sha256.sig " + dataFile), 0);
  const testpki::Bytes sha256 = testpki::readFile(folder + "/sha256.sig");
  EXPECT_EQ(crypt.verify(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                         sha256.data(), static_cast<unsigned int>(sha256.size())),
            VOQ_CRYPT_BAD_SIGNATURE);
  EXPECT_EQ(logged(), "VOQ_Crypt::verify(...) validated signature is invalid!\n"
                      "VOQ_Crypt::verify(...) validated signature is invalid!\n");
}

TEST_F(VOQ_CryptTest, KeyTextsOfTheWrongForm) {
  Pkey key = readPrivateKey(kitKey("rsa1024"));
  Pkey other = readPrivateKey(kitKey("rsa1024-noqc"));
  ASSERT_TRUE(key && other);
  const std::vector<std::string> good = keyFields(key.get());
  const std::vector<std::string> stranger = keyFields(other.get());
  auto with = [&](size_t index, const std::string& value) {
    std::vector<std::string> fields = good;
    fields[index] = value;
    return join(fields);
  };
  std::string lowerCase = join(good);
  for (char& c : lowerCase) c = static_cast<char>(tolower(c));
  const std::string notPrime = "RSA - key is not a prime number!";
  const struct {
    const char* name;
    std::string keyText;
    DWORD result;
    std::string log;  // the line's text after "VOQ_Crypt::loadKey(...) ", or ""
  } cases[] = {
      {"SevenSeparators", join(good), VOQ_CRYPT_OK, ""},
      {"LowerCase", lowerCase, VOQ_CRYPT_OK, ""},
      {"SixSeparators", join(std::vector<std::string>(good.begin(), good.end() - 1)), VOQ_CRYPT_BAD_KEY, ""},
      {"EightSeparators", join(good) + "|00", VOQ_CRYPT_BAD_KEY, ""},
      {"Empty", "", VOQ_CRYPT_BAD_KEY, ""},
      {"OnlySeparators", "|||||||", VOQ_CRYPT_BAD_KEY, notPrime},
      {"PrimesOfAnotherKey", with(3, stranger[3]), VOQ_CRYPT_BAD_KEY, notPrime},
      {"ModulusOfAnotherKey", with(2, stranger[2]), VOQ_CRYPT_BAD_KEY, notPrime},
      {"NotHex", with(1, "XYZ"), VOQ_CRYPT_BAD_KEY, notPrime},
      {"HexThenGarbage", with(0, good[0] + "G"), VOQ_CRYPT_BAD_KEY, notPrime},
      {"Negative", with(0, "-" + good[0]), VOQ_CRYPT_BAD_KEY, notPrime},
      {"Blank", with(4, " " + good[4]), VOQ_CRYPT_BAD_KEY, notPrime},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t start = st::readFile(logFile).size();
    VOQ_Crypt crypt;
    EXPECT_EQ(crypt.loadKey(voq(c.keyText)), c.result);
    EXPECT_EQ(st::readFile(logFile).substr(start), c.log.empty() ? "" : "VOQ_Crypt::loadKey(...) " + c.log + "\n");
    // A key that failed is not kept: nothing is signed with it.
    unsigned char signature[512];
    unsigned int length = sizeof signature;
    const DWORD signed_ = crypt.sign(reinterpret_cast<const unsigned char*>("x"), 1, signature, &length);
    EXPECT_EQ(signed_, c.result == VOQ_CRYPT_OK ? VOQ_CRYPT_OK : VOQ_CRYPT_BAD_KEY);
  }
}

// A proof (the SHA-256 of a text its build checked) spares that very text the check and
// nothing else: a text it does not belong to is checked in full, and a text of the wrong
// form stays refused whatever proof comes with it.
TEST_F(VOQ_CryptTest, AProofSparesTheCheckOfItsOwnTextOnly) {
  Pkey key = readPrivateKey(kitKey("rsa1024"));
  Pkey other = readPrivateKey(kitKey("rsa1024-noqc"));
  ASSERT_TRUE(key && other);
  std::vector<std::string> fields = keyFields(key.get());
  const std::string good = join(fields);
  fields[3] = keyFields(other.get())[3];  // a prime of another key: fails the check
  const std::string inconsistent = join(fields);
  const std::string sevenFields = good.substr(0, good.rfind('|'));
  auto proofOf = [](const std::string& text) {
    std::vector<unsigned char> digest(VOQ_Crypt::kProofLength);
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr), 1);
    return digest;
  };
  const struct {
    const char* name;
    std::string keyText;
    std::vector<unsigned char> proof;  // empty: none
    DWORD result;
  } cases[] = {
      {"ItsOwnText", good, proofOf(good), VOQ_CRYPT_OK},
      {"NoProof", good, {}, VOQ_CRYPT_OK},
      {"AnotherTextsProof", inconsistent, proofOf(good), VOQ_CRYPT_BAD_KEY},
      {"NoProofForABadKey", inconsistent, {}, VOQ_CRYPT_BAD_KEY},
      {"WrongFormWithItsOwnDigest", sevenFields, proofOf(sevenFields), VOQ_CRYPT_BAD_KEY},
      {"NotHexWithItsOwnDigest", good + "G", proofOf(good + "G"), VOQ_CRYPT_BAD_KEY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VOQ_Crypt crypt;
    EXPECT_EQ(crypt.loadKey(voq(c.keyText), c.proof.empty() ? nullptr : c.proof.data()), c.result);
    if (c.result != VOQ_CRYPT_OK) continue;
    VOQ_String exported;
    EXPECT_EQ(crypt.exportKey(exported), VOQ_CRYPT_OK);
    EXPECT_EQ(text(exported), c.keyText);
    unsigned char signature[128];
    unsigned int length = sizeof signature;
    EXPECT_EQ(crypt.sign(reinterpret_cast<const unsigned char*>("x"), 1, signature, &length), VOQ_CRYPT_OK);
  }
}

TEST_F(VOQ_CryptTest, HexSignaturesOfEveryKeySize) {
  // A 3072-bit key, made here: its signature does not fit the 256 bytes a fixed buffer would give.
  Pkey large(EVP_RSA_gen(3072));
  ASSERT_NE(large, nullptr);
  const struct {
    const char* name;
    Pkey key;
    unsigned int hexLength;
  } cases[] = {{"rsa1024", readPrivateKey(kitKey("rsa1024")), 256},
               {"rsa2048", readPrivateKey(kitKey("rsa2048")), 512},
               {"rsa3072", std::move(large), 768}};
  const VOQ_String data("Signaturdaten");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.key, nullptr);
    VOQ_Crypt crypt;
    ASSERT_EQ(crypt.loadKey(voq(join(keyFields(c.key.get())))), VOQ_CRYPT_OK);
    VOQ_ByteBuffer hex;
    ASSERT_EQ(crypt.signHex(data, hex), VOQ_CRYPT_OK);
    ASSERT_EQ(hex.getLength(), c.hexLength);
    const std::string signature(reinterpret_cast<const char*>(hex.getData()), hex.getLength());
    EXPECT_EQ(signature.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(crypt.verifyHex(data, voq(signature)), VOQ_CRYPT_OK);
    std::string upper = signature;
    for (char& ch : upper) ch = static_cast<char>(toupper(ch));
    EXPECT_EQ(crypt.verifyHex(data, voq(upper)), VOQ_CRYPT_OK);
    std::string flipped = signature;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    EXPECT_EQ(crypt.verifyHex(data, voq(flipped)), VOQ_CRYPT_BAD_SIGNATURE);
    EXPECT_EQ(crypt.verifyHex(data, voq(signature.substr(0, 20) + "zz")), VOQ_CRYPT_BAD_SIGNATURE);
    EXPECT_EQ(crypt.verifyHex(VOQ_String("Andere Daten"), voq(signature)), VOQ_CRYPT_BAD_SIGNATURE);
  }
}

TEST_F(VOQ_CryptTest, HexHelpers) {
  const struct {
    const char* text;
    bool ok;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"", true, {}},
      {"00ff", true, {0x00, 0xff}},
      {"abc", true, {0x0a, 0xbc}},  // odd length: the first digit alone
      {"7", true, {0x07}},
      {"A0b1", true, {0xa0, 0xb1}},
      {"0g", false, {}},
      {"12 4", false, {}},
      {"-1", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    VOQ_ByteBuffer buffer;
    EXPECT_EQ(hexToBytes(buffer, c.text), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::vector<unsigned char>(buffer.getData(), buffer.getData() + buffer.getLength()), c.bytes);
    }
  }
  const unsigned char bytes[] = {0x00, 0x7f, 0xab, 0xff};
  EXPECT_EQ(text(bytesToHex(bytes, 4)), "007fabff");
  EXPECT_EQ(bytesToHex(nullptr, 4).getData(), nullptr);
  EXPECT_EQ(bytesToHex(bytes, 0).getData(), nullptr);
  EXPECT_TRUE(isHexDigit('f'));
  EXPECT_FALSE(isHexDigit('g'));
  VOQ_ByteBuffer zeroed;
  zeroed.setData(3, nullptr);
  EXPECT_EQ(zeroed.getLength(), 3u);
  EXPECT_EQ(zeroed.getData()[2], 0);
  zeroed.setData(0, nullptr);
  EXPECT_EQ(zeroed.getData(), nullptr);
}

TEST_F(VOQ_CryptTest, GeneratedKeysAndNoKey) {
  VOQ_Crypt crypt;
  unsigned char signature[256];
  unsigned int length = sizeof signature;
  EXPECT_EQ(crypt.sign(reinterpret_cast<const unsigned char*>("x"), 1, signature, &length), VOQ_CRYPT_BAD_KEY);
  EXPECT_EQ(crypt.verify(reinterpret_cast<const unsigned char*>("x"), 1, signature, 128), VOQ_CRYPT_BAD_SIGNATURE);
  VOQ_String none;
  EXPECT_EQ(crypt.exportKey(none), VOQ_CRYPT_NO_KEY);
  EXPECT_EQ(logged(), "VOQ_Crypt::sign(...) cannot sign!\nVOQ_Crypt::verify(...) validated signature is invalid!\n");

  ASSERT_EQ(crypt.genKey("Zufall aus der Maus"), VOQ_CRYPT_OK);
  VOQ_String exported;
  ASSERT_EQ(crypt.exportKey(exported), VOQ_CRYPT_OK);
  EXPECT_EQ(text(exported).substr(0, 7), "0A0499|");
  // A buffer smaller than the key's size is refused rather than overrun.
  length = 100;
  EXPECT_EQ(crypt.sign(reinterpret_cast<const unsigned char*>("x"), 1, signature, &length), VOQ_CRYPT_BAD_KEY);
  length = sizeof signature;
  ASSERT_EQ(crypt.sign(reinterpret_cast<const unsigned char*>("x"), 1, signature, &length), VOQ_CRYPT_OK);
  EXPECT_EQ(length, 128u);
  VOQ_Crypt copy;
  ASSERT_EQ(copy.loadKey(exported), VOQ_CRYPT_OK);
  EXPECT_EQ(copy.verify(reinterpret_cast<const unsigned char*>("x"), 1, signature, length), VOQ_CRYPT_OK);
}

TEST_F(VOQ_CryptTest, DumpWritesEachComponent) {
  Pkey key = readPrivateKey(kitKey("rsa1024-e3"));
  ASSERT_NE(key, nullptr);
  const std::vector<std::string> fields = keyFields(key.get());
  VOQ_Crypt crypt;
  ASSERT_EQ(crypt.loadKey(voq(join(fields))), VOQ_CRYPT_OK);
  EXPECT_EQ(crypt.dumpKey(), VOQ_CRYPT_OK);
  const std::string head = "VOQ_Crypt::dumpKey(...) ";
  EXPECT_EQ(logged(), head + "n:" + fields[2] + "\n" + head + "e:03\n" + head + "p:" + fields[3] + "\n" + head +
                          "q:" + fields[4] + "\n" + head + "d:" + fields[1] + "\n" + head + "dmp1:" + fields[5] +
                          "\n" + head + "dmq1:" + fields[6] + "\n" + head + "iqmp:" + fields[7] + "\n");
}

TEST(VOQ_CryptException, NameAndCopy) {
  VOQ_CryptException e("kaputt");
  std::unique_ptr<AbstractException> copy(e.clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->name(), "VOQ_CryptException");
  EXPECT_STREQ(copy->getMessage(), "kaputt");
}

}  // namespace
