// The kit's own acceptance: what make-pki promises in docs/testbed.md.
#include "testpki.h"

#include "quarvel_test.h"

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr load(const testpki::Kit& kit, const std::string& name) {
  const testpki::Bytes der = kit.certificate(name);
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
  if (!cert) ADD_FAILURE() << "no certificate " << name;
  return cert;
}

// The chain's verdict at 2030-01-01, with the root trusted and the intermediate given.
int chainResult(const testpki::Kit& kit, X509* cert) {
  X509Ptr root = load(kit, "root"), intermediate = load(kit, "int");
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  X509_STORE_add_cert(store.get(), root.get());
  std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(
      sk_X509_new_null(), [](STACK_OF(X509)* s) { sk_X509_free(s); });
  sk_X509_push(untrusted.get(), intermediate.get());
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  X509_STORE_CTX_init(ctx.get(), store.get(), cert, untrusted.get());
  X509_STORE_CTX_set_time(ctx.get(), 0, 1893456000);
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
  return X509_verify_cert(ctx.get()) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(ctx.get());
}

struct Entity {
  const char* name;
  int keyType;
  int bits;
  bool qc;
  int chain;
};

TEST(TestPki, EveryEntityHasItsKeyStatementsAndChain) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Entity entities[] = {
      {"root", EVP_PKEY_RSA, 2048, false, X509_V_OK},
      {"int", EVP_PKEY_RSA, 2048, false, X509_V_OK},
      {"ocsp", EVP_PKEY_RSA, 2048, false, X509_V_OK},
      {"tls", EVP_PKEY_EC, 256, false, X509_V_OK},
      {"rsa1024", EVP_PKEY_RSA, 1024, true, X509_V_OK},
      {"rsa1024-noqc", EVP_PKEY_RSA, 1024, false, X509_V_OK},
      {"rsa1024-e3", EVP_PKEY_RSA, 1024, true, X509_V_OK},
      {"rsa1536", EVP_PKEY_RSA, 1536, true, X509_V_OK},
      {"rsa2048", EVP_PKEY_RSA, 2048, true, X509_V_OK},
      {"rsa2048-noqc", EVP_PKEY_RSA, 2048, false, X509_V_OK},
      {"p192", EVP_PKEY_EC, 192, true, X509_V_OK},
      {"p224", EVP_PKEY_EC, 224, true, X509_V_OK},
      {"p256", EVP_PKEY_EC, 256, true, X509_V_OK},
      {"p256-noqc", EVP_PKEY_EC, 256, false, X509_V_OK},
      {"p384", EVP_PKEY_EC, 384, true, X509_V_OK},
      {"brainpool", EVP_PKEY_EC, 256, true, X509_V_OK},
      {"dsa", EVP_PKEY_DSA, 1024, true, X509_V_OK},
      {"expired", EVP_PKEY_RSA, 2048, true, X509_V_ERR_CERT_HAS_EXPIRED},
  };
  for (const Entity& e : entities) {
    SCOPED_TRACE(e.name);
    X509Ptr cert = load(kit, e.name);
    ASSERT_TRUE(cert);
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    EXPECT_EQ(EVP_PKEY_get_base_id(key), e.keyType);
    EXPECT_EQ(EVP_PKEY_get_bits(key), e.bits);
    const int qc = X509_get_ext_by_OBJ(cert.get(), OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1), -1);
    EXPECT_EQ(qc >= 0, e.qc);
    EXPECT_EQ(chainResult(kit, cert.get()), e.chain);
  }
  X509Ptr e3 = load(kit, "rsa1024-e3");
  BIGNUM* exponent = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(X509_get0_pubkey(e3.get()), "e", &exponent), 1);
  EXPECT_TRUE(BN_is_word(exponent, 3));
  BN_free(exponent);
}

std::string uris(X509* cert, int nid) {
  std::string text;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  X509V3_EXT_print(bio.get(), X509_get_ext(cert, X509_get_ext_by_NID(cert, nid, -1)), 0, 0);
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(n));
}

TEST(TestPki, AKitOfItsOwnNamesItsPortsAndSharesTheKeys) {
  const testpki::Kit kit = testpki::Kit::make(quarveltest::makeTempDirectory("pki"), 40111, 40222);
  X509Ptr signer = load(kit, "rsa2048"), intermediate = load(kit, "int");
  EXPECT_NE(uris(signer.get(), NID_info_access).find("OCSP - URI:http://127.0.0.1:40111/"), std::string::npos);
  EXPECT_NE(uris(signer.get(), NID_info_access).find("URI:http://127.0.0.1:40222/int.crt"), std::string::npos);
  EXPECT_NE(uris(signer.get(), NID_crl_distribution_points).find("URI:http://127.0.0.1:40222/int.crl"),
            std::string::npos);
  EXPECT_NE(uris(intermediate.get(), NID_crl_distribution_points).find("URI:http://127.0.0.1:40222/root.crl"),
            std::string::npos);
  EXPECT_EQ(testpki::readFile(kit.path("rsa2048.key")),
            testpki::readFile(testpki::Kit::standard().path("rsa2048.key")));
  EXPECT_EQ(chainResult(kit, signer.get()), X509_V_OK);
}

TEST(TestPki, AKeyMadeElsewhereGetsASignerCertificateOfTheKit) {
  const std::string dir = quarveltest::makeTempDirectory("pki");
  const testpki::Kit kit = testpki::Kit::make(dir + "/kit", 40333, 40444);
  // A key of the kind a simulated card holds, made outside the kit.
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), EVP_PKEY_free);
  ASSERT_TRUE(key);
  const std::string keyFile = dir + "/card.key";
  {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(keyFile.c_str(), "w"), BIO_free);
    ASSERT_EQ(PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr), 1);
  }
  kit.issue("card", keyFile, "aSign Test Signature");
  X509Ptr cert = load(kit, "card");
  ASSERT_TRUE(cert);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), key.get()), 1);
  char name[256];
  X509_NAME_oneline(X509_get_subject_name(cert.get()), name, sizeof name);
  EXPECT_STREQ(name, "/C=AT/O=Quarvel Test/CN=aSign Test Signature");
  EXPECT_GE(X509_get_ext_by_OBJ(cert.get(), OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1), -1), 0) << "QC statement";
  EXPECT_NE(uris(cert.get(), NID_info_access).find("OCSP - URI:http://127.0.0.1:40333/"), std::string::npos);
  EXPECT_EQ(chainResult(kit, cert.get()), X509_V_OK);
  // The intermediate's database lists it as valid, so a responder reading it knows it.
  BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert.get()), nullptr);
  char* serialHex = BN_bn2hex(serial);
  const std::string hex = serialHex;
  OPENSSL_free(serialHex);
  BN_free(serial);
  const testpki::Bytes index = testpki::readFile(kit.path("ca/int/index.txt"));
  const std::string text(index.begin(), index.end());
  const size_t at = text.find(std::string("\t") + hex + "\tunknown\t/C=AT/O=Quarvel Test/CN=aSign Test Signature");
  ASSERT_NE(at, std::string::npos) << text;
  const size_t line = text.rfind('\n', at);
  EXPECT_EQ(text[line == std::string::npos ? 0 : line + 1], 'V') << text;
}

TEST(TestPki, PlainRsIsTheDerSignaturePaddedToTheCurveSize) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const testpki::Bytes data{'a', 'b', 'c'};
  for (const auto& [signer, size] : {std::pair{"p192", 24}, {"p256", 32}, {"p384", 48}}) {
    SCOPED_TRACE(signer);
    const testpki::Bytes rs = kit.sign("rs", signer, data);
    ASSERT_EQ(rs.size(), 2u * static_cast<size_t>(size));
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), ECDSA_SIG_free);
    ECDSA_SIG_set0(sig.get(), BN_bin2bn(rs.data(), size, nullptr), BN_bin2bn(rs.data() + size, size, nullptr));
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    X509Ptr cert = load(kit, signer);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha1(), nullptr, X509_get0_pubkey(cert.get()));
    EXPECT_EQ(EVP_DigestVerify(md.get(), der, static_cast<size_t>(derLength), data.data(), data.size()), 1);
    OPENSSL_free(der);
  }
}

}  // namespace
