// Certificate validation on both roads (the viewer's trusted certificates, and
// the platform's chain engine over the user's stores) against an OCSP responder
// on OpenSSL's OCSP functions, CRLs made by `openssl ca`, TLS origins, the
// capturing proxy and tinyproxy, all on 127.0.0.1. Each test makes a kit of its
// own whose certificates name the ports of its servers.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NetworkTestSupport.h"
#include "testbundle.h"
#include "certcheck/ReaderUtils.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "certcheck/VOQ_Time.h"
#include "platform/machine.h"

using certnet::FileServer;
using certnet::OcspResponder;
using certnet::OcspSettings;
using certnet::readText;

namespace {

enum class Road { TrustedCerts, Platform };
const Road kRoads[] = {Road::TrustedCerts, Road::Platform};
const char* roadName(Road r) { return r == Road::TrustedCerts ? "trusted certificates" : "platform chain"; }

const char* const kTime = "D:20300601120000Z";       // the validation time of the tables
const char* const kTimeUtc = "300601120000Z";        // the same as an index's UTCTime

std::string tempDir() {
  char dir[1024];
  GetTempPathA(sizeof dir, dir);
  return platform::mapPath(dir);
}

VOQ_ProxySettings proxyAt(const char* host, uint16_t port, int auth = 0, const char* user = nullptr,
                          const char* password = nullptr) {
  VOQ_ProxySettings p;
  p.setHost(host);
  p.setPort(port);
  p.setUseAuthentication(auth);
  p.setUser(user);
  p.setPassword(password);
  return p;
}

class ValidationBed : public ::testing::Test {
 protected:
  void SetUp() override {
    // The TLS identity comes from the standard kit: its root is the same certificate.
    tls_ = certnet::kitTlsIdentity(testpki::Kit::standard());
    crls_ = std::make_unique<FileServer>();
    ocsp_ = std::make_unique<OcspResponder>(OcspSettings());
    ocspTls_ = std::make_unique<OcspResponder>(OcspSettings(), &tls_);
    kit_ = std::make_unique<testpki::Kit>(
        testpki::Kit::make(tempDir() + "kit", ocsp_->port(), crls_->port(), ocspTls_->port()));
    publishCrls();
    settings_.indexFile = kit().path("ocsp-index.txt");
    settings_.issuerPem = readText(kit().path("int.pem"));
    settings_.signerPem = readText(kit().path("ocsp.pem"));
    settings_.signerKeyPem = readText(kit().path("ocsp.key"));
    applySettings();
    setIndex("");
    ASSERT_TRUE(certnet::addToUserStore("Root", kit().certificate("root")));
    ASSERT_TRUE(certnet::addToUserStore("CA", kit().certificate("int")));
  }

  const testpki::Kit& kit() const { return *kit_; }

  void applySettings() {
    ocsp_->setSettings(settings_);
    ocspTls_->setSettings(settings_);
  }

  // The responder's database: the entity's line, "V" or "R" with a revocation time.
  std::string indexLine(const std::string& entity, char state, const std::string& revoked = "") {
    return std::string(1, state) + "\t491231235959Z\t" + revoked + "\t" + testpki::serialHex(kit().certificate(entity)) +
           "\tunknown\t/CN=" + entity + "\n";
  }
  void setIndex(const std::string& lines) { std::ofstream(settings_.indexFile) << lines; }
  void good(const std::string& entity) { setIndex(indexLine(entity, 'V')); }

  // Revokes in the CA database with `openssl ca` and publishes the CRLs again.
  void revokeInCrl(const std::string& entity) {
    const std::string command = "openssl ca -batch -config '" + kit().path("ca.cnf") + "' -name int -revoke '" +
                                kit().path(entity + ".pem") + "' >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    testpki::runMakePki({"crl", kit().dir()});
    publishCrls();
  }
  void publishCrls() {
    crls_->putFile("/intnocdp.crl", readText(kit().path("intnocdp.crl")));
    crls_->putFile("/int.crl", readText(kit().path("int.crl")));
    crls_->putFile("/root.crl", readText(kit().path("root.crl")));
  }

  // An empty CRL in the intermediate's name with that nextUpdate, signed by the key of `signer`.
  std::string emptyIntermediateCrl(const char* signer, const ASN1_TIME* nextUpdate) {
    std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> crl(X509_CRL_new(), X509_CRL_free);
    const testpki::Bytes issuer = kit().certificate("int");
    const unsigned char* p = issuer.data();
    std::unique_ptr<X509, decltype(&X509_free)> issuerCert(d2i_X509(nullptr, &p, static_cast<long>(issuer.size())),
                                                           X509_free);
    X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuerCert.get()));
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> now(X509_gmtime_adj(nullptr, -60), ASN1_TIME_free);
    X509_CRL_set1_lastUpdate(crl.get(), now.get());
    X509_CRL_set1_nextUpdate(crl.get(), nextUpdate);
    const std::string keyPem = readText(kit().path(std::string(signer) + ".key"));
    std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())),
                                                     BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    EXPECT_GT(X509_CRL_sign(crl.get(), key.get(), EVP_sha256()), 0);
    unsigned char* out = nullptr;
    const int n = i2d_X509_CRL(crl.get(), &out);
    EXPECT_GT(n, 0);
    const std::string der(reinterpret_cast<char*>(out), n > 0 ? static_cast<size_t>(n) : 0);
    OPENSSL_free(out);
    return der;
  }

  DWORD validate(Road road, const std::string& entity, VOQ_ProxySettings* http = nullptr,
                 VOQ_ProxySettings* https = nullptr, const char* time = kTime, bool* qualifiedOut = nullptr) {
    const testpki::Bytes der = kit().certificate(entity);
    VOQ_Time at;
    at.parse(time, VOQ_Time::FORMAT_PDF);
    bool qualified = false;
    DWORD result;
    if (road == Road::Platform) {
      result = validateCertificate(der.data(), static_cast<unsigned int>(der.size()), &qualified, &at, http, https);
    } else {
      STACK_OF(X509)* trusted = sk_X509_new_null();
      for (const char* name : {"root", "int"}) {
        const testpki::Bytes c = kit().certificate(name);
        const unsigned char* p = c.data();
        sk_X509_push(trusted, d2i_X509(nullptr, &p, static_cast<long>(c.size())));
      }
      result = validateCertificateWithTrustedCerts(trusted, der.data(), static_cast<unsigned int>(der.size()),
                                                   &qualified, &at, http, https);
      sk_X509_pop_free(trusted, X509_free);
    }
    if (qualifiedOut) *qualifiedOut = qualified;
    return result;
  }

  certnet::TlsIdentity tls_;
  std::unique_ptr<FileServer> crls_;
  std::unique_ptr<OcspResponder> ocsp_;
  std::unique_ptr<OcspResponder> ocspTls_;
  std::unique_ptr<testpki::Kit> kit_;
  OcspSettings settings_;
};

// Table 1: the OCSP statuses, the revocation time against the validation time,
// the chain's own verdicts; qualified is set in every row.
TEST_F(ValidationBed, OcspStatusesOnBothRoads) {
  struct Row {
    const char* name;
    std::string index;
    const char* entity;
    DWORD trusted;
    DWORD platform;
  };
  const Row rows[] = {
      {"good", indexLine("rsa2048", 'V'), "rsa2048", 0, 0},
      {"revoked a day before", indexLine("rsa2048", 'R', "300531120000Z"), "rsa2048", 0x80070014, 0x80070014},
      {"revoked at the validation time", indexLine("rsa2048", 'R', kTimeUtc), "rsa2048", 0x80070014, 0x80070014},
      // Revoked a second later: accepted; the platform road then asks the CRLs (empty).
      {"revoked one second after", indexLine("rsa2048", 'R', "300601120001Z"), "rsa2048", 0, 0},
      {"unknown", indexLine("p256", 'V'), "rsa2048", 0x80070015, 0x80070015},
      // Without an OCSP address: only the platform road checks the CRLs.
      {"no AIA", "", "noaia", 0x80070022, 0},
      {"expired", indexLine("expired", 'V'), "expired", 0x8004000b, 0x8004000b},
      // An AIA whose first OCSP location is a directory name: the URL after it is used.
      {"AIA directoryName first", indexLine("aiadirname", 'V'), "aiadirname", 0, 0},
  };
  for (const Row& row : rows) {
    setIndex(row.index);
    for (Road road : kRoads) {
      bool qualified = false;
      EXPECT_EQ(road == Road::Platform ? row.platform : row.trusted,
                validate(road, row.entity, nullptr, nullptr, kTime, &qualified))
          << row.name << " / " << roadName(road);
      if (std::string(row.entity) != "aiadirname") {
        EXPECT_TRUE(qualified) << row.name;
      }
    }
  }
  // The trusted list holding only a self-signed certificate: no issuer for it.
  const testpki::Bytes root = kit().certificate("root");
  STACK_OF(X509)* onlyRoot = sk_X509_new_null();
  const unsigned char* p = root.data();
  sk_X509_push(onlyRoot, d2i_X509(nullptr, &p, static_cast<long>(root.size())));
  bool qualified = true;
  EXPECT_EQ(0x8007001eu, validateCertificateWithTrustedCerts(onlyRoot, root.data(), static_cast<unsigned int>(root.size()),
                                                              &qualified, nullptr, nullptr, nullptr));
  EXPECT_FALSE(qualified);
  sk_X509_pop_free(onlyRoot, X509_free);
}

// Table 2: freshness and the responder's authority.
TEST_F(ValidationBed, FreshnessAndResponderAuthority) {
  struct Row {
    const char* name;
    std::function<void(OcspSettings&)> change;
    bool revoked;  // the index revokes the signer a year before the validation time
    DWORD expected;
  };
  auto signWith = [this](const char* entity) {
    return [this, entity](OcspSettings& s) {
      s.signerPem = readText(kit().path(std::string(entity) + ".pem"));
      s.signerKeyPem = readText(kit().path(std::string(entity) + ".key"));
    };
  };
  const std::vector<Row> rows = {
      {"thisUpdate 301 s ahead", [](OcspSettings& s) { s.thisUpdateOffset = 301; }, false, 0x80070013},
      {"thisUpdate 299 s ahead", [](OcspSettings& s) { s.thisUpdateOffset = 299; }, false, 0},
      {"nextUpdate passed",
       [](OcspSettings& s) {
         s.thisUpdateOffset = -7200;
         s.nextUpdateOffset = -3600;
       },
       false, 0x80070013},
      {"the issuer answers itself, id by key", [&](OcspSettings& s) { signWith("int")(s); s.byKey = true; }, false, 0},
      // The signature is checked with the answer's own certificates alone.
      {"the issuer answers itself without certificates",
       [&](OcspSettings& s) {
         signWith("int")(s);
         s.includeSigner = false;
       },
       false, 0x8007000c},
      {"responder id by key", [](OcspSettings& s) { s.byKey = true; }, false, 0},
      {"no responder certificate", [](OcspSettings& s) { s.includeSigner = false; }, false, 0x8007000c},
      {"no nonce", [](OcspSettings& s) { s.echoNonce = false; }, false, 0x8007000b},
      {"a responder that does not chain", signWith("nocdp"), false, 0x8007000f},
      {"a signer the issuer did not delegate", signWith("rsa1024"), false, 0x8007000f},
      {"rogue responder says good for a revoked certificate",
       [&](OcspSettings& s) {
         signWith("rogue")(s);
         s.forceStatus = V_OCSP_CERTSTATUS_GOOD;
       },
       true, 0x8007000f},
      {"garbage instead of DER", [](OcspSettings& s) { s.garbage = std::string(300, '\x30'); }, false, 0x80070008},
  };
  const OcspSettings base = settings_;
  for (const Row& row : rows) {
    settings_ = base;
    row.change(settings_);
    applySettings();
    setIndex(row.revoked ? indexLine("rsa2048", 'R', "290601120000Z") : indexLine("rsa2048", 'V'));
    for (Road road : kRoads) EXPECT_EQ(row.expected, validate(road, "rsa2048")) << row.name << " / " << roadName(road);
  }
}

// Table 3: the requests through the proxies, byte for byte, and the tunnel.
TEST_F(ValidationBed, OcspThroughProxies) {
  good("rsa2048");
  // The responder itself plays the HTTP proxy: it answers any POST and keeps the bytes.
  struct Row {
    int flag;
    std::string authorization;
  } rows[] = {{1, "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n"}, {2, ""}};
  for (const Row& row : rows) {
    for (Road road : kRoads) {
      VOQ_ProxySettings http = proxyAt("127.0.0.1", ocsp_->port(), row.flag, "user", "pass");
      VOQ_ProxySettings https = proxyAt("127.0.0.1", 1);
      ASSERT_EQ(0u, validate(road, "rsa2048", &http, &https)) << roadName(road);
      const certnet::Request last = ocsp_->requests().back();
      const std::string expected = "POST http://127.0.0.1:" + std::to_string(ocsp_->port()) + "/ HTTP/1.0\r\n" +
                                   row.authorization + "Content-Type: application/ocsp-request\r\nContent-Length: " +
                                   std::to_string(last.body.size()) + "\r\n\r\n" + last.body;
      EXPECT_EQ(expected, last.raw) << roadName(road);
    }
  }

  // Direct https: TLS with the server verified, the path, and the trailing empty line.
  setIndex(indexLine("httpsocsp", 'V'));
  for (Road road : kRoads) EXPECT_EQ(0u, validate(road, "httpsocsp")) << roadName(road);
  EXPECT_EQ("POST / HTTP/1.0\r\n", ocspTls_->requests().back().raw.substr(0, 17));
  EXPECT_EQ("\r\n\r\n", ocspTls_->requests().back().raw.substr(ocspTls_->requests().back().raw.size() - 4));

  // The HTTPS proxy: CONNECT, TLS to the responder, the POST in absolute form.
  certnet::CaptureProxy proxy;
  VOQ_ProxySettings http = proxyAt("127.0.0.1", 1);
  VOQ_ProxySettings https = proxyAt("127.0.0.1", proxy.port(), 1, "user", "pass");
  const std::string responder = "127.0.0.1:" + std::to_string(ocspTls_->port());
  for (Road road : kRoads) {
    ASSERT_EQ(0u, validate(road, "httpsocsp", &http, &https)) << roadName(road);
    EXPECT_EQ("CONNECT " + responder + " HTTP/1.0\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n",
              proxy.requests().back().raw);
    const std::string post = "POST https://" + responder + "/ HTTP/1.0\r\nContent-Type: application/ocsp-request\r\n";
    EXPECT_EQ(post, ocspTls_->requests().back().raw.substr(0, post.size()));
  }
  // A CONNECT answer in pieces is read to its empty line.
  proxy.setConnectAnswer("HTTP/1.0 200 OK\r\nVia: test\r\n\r\n", {3, 9, 1, 50});
  for (Road road : kRoads) EXPECT_EQ(0u, validate(road, "httpsocsp", &http, &https)) << roadName(road);
  proxy.setConnectAnswer("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
  const int handshakes = ocspTls_->handshakes();
  for (Road road : kRoads) EXPECT_EQ(0x8007001au, validate(road, "httpsocsp", &http, &https)) << roadName(road);
  EXPECT_EQ(handshakes, ocspTls_->handshakes());
  proxy.setConnectAnswer("garbage\r\n\r\n");
  for (Road road : kRoads) EXPECT_EQ(0x80070020u, validate(road, "httpsocsp", &http, &https)) << roadName(road);

  // An HTTPS proxy whose name does not resolve: refused before any connection.
  VOQ_ProxySettings nowhere = proxyAt("no-such-proxy.invalid", proxy.port());
  const int connections = proxy.connections();
  for (Road road : kRoads) EXPECT_EQ(0x8007001du, validate(road, "httpsocsp", &http, &nowhere)) << roadName(road);
  VOQ_ProxySettings nowhereHttp = proxyAt("no-such-proxy.invalid", proxy.port());
  for (Road road : kRoads) EXPECT_EQ(0x8007001cu, validate(road, "rsa2048", &nowhereHttp, &https)) << roadName(road);
  EXPECT_EQ(connections, proxy.connections());
  // A proxy that refuses connections.
  VOQ_ProxySettings closed = proxyAt("127.0.0.1", 1);
  for (Road road : kRoads) {
    EXPECT_EQ(0x80070019u, validate(road, "httpsocsp", &http, &closed)) << roadName(road);
    EXPECT_EQ(0x80070016u, validate(road, "rsa2048", &closed, &https)) << roadName(road);
  }
}

TEST_F(ValidationBed, OcspThroughTinyproxy) {
  good("rsa2048");
  setIndex(indexLine("rsa2048", 'V') + indexLine("httpsocsp", 'V'));
  certnet::TinyProxy proxy("alice", "wonder");
  VOQ_ProxySettings http = proxyAt("127.0.0.1", proxy.port(), 1, "alice", "wonder");
  VOQ_ProxySettings https = proxyAt("127.0.0.1", proxy.port(), 1, "alice", "wonder");
  VOQ_ProxySettings wrong = proxyAt("127.0.0.1", proxy.port(), 1, "alice", "guess");
  for (Road road : kRoads) {
    EXPECT_EQ(0u, validate(road, "rsa2048", &http, &https)) << roadName(road);
    EXPECT_EQ(0u, validate(road, "httpsocsp", &http, &https)) << roadName(road);
    EXPECT_EQ(0x8007001fu, validate(road, "rsa2048", &wrong, &wrong)) << roadName(road);
    EXPECT_EQ(0x8007001au, validate(road, "httpsocsp", &wrong, &wrong)) << roadName(road);
  }
}

// Table 4: the platform road without an OCSP address: CRLs through the chain
// engine, or through the proxies.
TEST_F(ValidationBed, CrlsOfThePlatformRoad) {
  FileServer& crls = *crls_;
  EXPECT_EQ(0u, validate(Road::Platform, "noaia"));
  revokeInCrl("noaia");
  EXPECT_EQ(0x8003000bu, validate(Road::Platform, "noaia"));
  // The chain engine counts a revocation from its date on; the CRLs read through the
  // proxies count any entry, as the original client does.
  EXPECT_EQ(0u, validate(Road::Platform, "noaia", nullptr, nullptr, "D:20250101000000Z"));

  // Through the HTTP proxy (the CRL server answers absolute-form requests too).
  VOQ_ProxySettings http = proxyAt("127.0.0.1", crls.port(), 1, "u", "p");
  VOQ_ProxySettings https = proxyAt("127.0.0.1", 1);
  EXPECT_EQ(0x8003000bu, validate(Road::Platform, "noaia", &http, &https));
  EXPECT_EQ("GET http://127.0.0.1:" + std::to_string(crls.port()) + "/int.crl HTTP/1.0\r\nProxy-Authorization: Basic dTpw\r\n\r\n",
            crls.requests().back().raw.substr(0, crls.requests().back().raw.find("\r\n\r\n") + 4));
  // A distribution point listing a directory name first: its URL is used.
  EXPECT_EQ(0u, validate(Road::Platform, "dpdirname", &http, &https));
  // Through tinyproxy.
  certnet::TinyProxy proxy;
  VOQ_ProxySettings tiny = proxyAt("127.0.0.1", proxy.port());
  EXPECT_EQ(0x8003000bu, validate(Road::Platform, "noaia", &tiny, &tiny));
  EXPECT_EQ(0u, validate(Road::Platform, "dpdirname", &tiny, &tiny));

  // A forged, empty CRL for the issuer's name, signed by another key, clears nothing.
  ASN1_TIME* tomorrow = X509_gmtime_adj(nullptr, 86400);
  crls.putFile("/int.crl", emptyIntermediateCrl("rogue", tomorrow));
  ASN1_TIME_free(tomorrow);
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia"));
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia", &http, &https));
  // The issuer's own empty CRL whose nextUpdate cannot be read: stale, not fresh.
  ASN1_STRING* unreadable = ASN1_STRING_type_new(V_ASN1_UTCTIME);
  ASN1_STRING_set(unreadable, "49x231235959Z", -1);
  crls.putFile("/int.crl", emptyIntermediateCrl("int", unreadable));
  ASN1_STRING_free(unreadable);
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia"));
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia", &http, &https));
  // Garbage instead of a CRL.
  crls.putFile("/int.crl", "not a CRL");
  EXPECT_EQ(0x800a000eu, validate(Road::Platform, "noaia", &http, &https));
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia"));
  // The CRL server down.
  crls_.reset();
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "noaia"));
}

// A CRL fetched through the HTTPS proxy's tunnel from a TLS server.
TEST_F(ValidationBed, CrlThroughTheHttpsProxy) {
  FileServer origin(&tls_);
  origin.putFile("/int.crl", readText(kit().path("int.crl")));
  certnet::CaptureProxy proxy;
  VOQ_ProxySettings https = proxyAt("127.0.0.1", proxy.port(), 1, "u", "p");
  const testpki::Bytes signer = kit().certificate("noaia");
  const testpki::Bytes issuer = kit().certificate("int");
  PCCERT_CONTEXT s = CertCreateCertificateContext(X509_ASN_ENCODING, signer.data(), static_cast<DWORD>(signer.size()));
  PCCERT_CONTEXT i = CertCreateCertificateContext(X509_ASN_ENCODING, issuer.data(), static_cast<DWORD>(issuer.size()));
  const std::string port = std::to_string(origin.port());
  const std::string url = origin.url("/int.crl");
  EXPECT_EQ(0u, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  EXPECT_EQ("GET " + url + " HTTP/1.0\r\n\r\n", origin.requests().back().raw);
  revokeInCrl("noaia");
  origin.putFile("/int.crl", readText(kit().path("int.crl")));
  EXPECT_EQ(0x8003000bu, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  // The CRL of another issuer for this certificate is not believed.
  origin.putFile("/int.crl", readText(kit().path("intnocdp.crl")));
  EXPECT_EQ(0x8003000cu, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  origin.put("/int.crl", certnet::httpReply(404, ""));
  EXPECT_EQ(0x800b000cu, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  proxy.setConnectAnswer("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
  EXPECT_EQ(0x800b000cu, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  // A server that does not verify: the kit's root leaves the Root store.
  proxy.setConnectAnswer("HTTP/1.0 200 OK\r\n\r\n");
  ASSERT_EQ(0, std::remove((platform::machineRoot() + "/crypt/user/root.p7b").c_str()));
  EXPECT_EQ(0x800b0005u, checkCRLThroughHTTPSProxy("127.0.0.1", port.c_str(), &https, url.c_str(), s, i));
  CertFreeCertificateContext(s);
  CertFreeCertificateContext(i);
}

TEST_F(ValidationBed, ChainVerdictsOfThePlatformRoad) {
  good("rsa2048");
  VOQ_ProxySettings http = proxyAt("127.0.0.1", crls_->port());
  VOQ_ProxySettings https = proxyAt("127.0.0.1", 1);
  // A CA without distribution points, with proxies.
  ASSERT_TRUE(certnet::addToUserStore("CA", kit().certificate("intnocdp")));
  EXPECT_EQ(0x800a0003u, validate(Road::Platform, "nocdp", &http, &https));
  // Distribution points that name no URL: unknown with proxies as without; through the
  // proxies nothing is fetched for it.
  const size_t fetched = crls_->requests().size();
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "dpnourl", &http, &https));
  EXPECT_EQ(fetched, crls_->requests().size());
  EXPECT_EQ(0x8003000cu, validate(Road::Platform, "dpnourl"));
}

// Signers that are not meant for signing are confirmed on neither road, before
// any responder is asked; the roads' own codes, whatever the chain's state.
TEST_F(ValidationBed, SignersNotMeantForSigningAreNotConfirmed) {
  setIndex(indexLine("rsa2048", 'V') + indexLine("docsigner", 'V') + indexLine("critext", 'V'));
  const struct {
    const char* what;
    const char* entity;
    DWORD trusted, platform;
  } rows[] = {
      {"keyUsage nonRepudiation", "rsa2048", 0, 0},
      {"extendedKeyUsage documentSigning", "docsigner", 0, 0},
      {"a TLS server: extendedKeyUsage serverAuth", "tls", 0x80040004, 0x80030008},
      {"a CA: the intermediate", "int", 0x80040004, 0x80030008},
      // The trusted list's own root has no issuer there; the platform's chain ends at it.
      {"a CA: the root", "root", 0x8007001e, 0x80030008},
      // Never ignored: on the trusted-certificates road OpenSSL refuses it.
      {"an unknown critical extension", "critext", 0x80040000, 0x8003000a},
  };
  const int requests = static_cast<int>(ocsp_->requests().size());
  int asked = 0;
  for (const auto& row : rows) {
    for (Road road : kRoads) {
      EXPECT_EQ(road == Road::Platform ? row.platform : row.trusted, validate(road, row.entity))
          << row.what << " / " << roadName(road);
    }
    if (row.platform == 0) asked += 2;
  }
  EXPECT_EQ(requests + asked, static_cast<int>(ocsp_->requests().size()));
  // With proxies the platform's road refuses them before any CRL is fetched.
  VOQ_ProxySettings http = proxyAt("127.0.0.1", crls_->port());
  VOQ_ProxySettings https = proxyAt("127.0.0.1", 1);
  const size_t fetched = crls_->requests().size();
  for (const char* entity : {"tls", "root"}) EXPECT_EQ(0x80030008u, validate(Road::Platform, entity, &http, &https)) << entity;
  EXPECT_EQ(fetched, crls_->requests().size());
}

// The OCSP address names a host no connection object can be made for.
TEST_F(ValidationBed, AResponderNoConnectionCanBeMadeFor) {
  testpki::CertificatePlan plan{testpki::kitName("Signer Of A Long Host"), testpki::kitName("Quarvel Test Intermediate"),
                                kit().path("p256.key"), kit().path("int.key"), 9001, false};
  plan.extensions = {{"basicConstraints", "critical,CA:FALSE"},
                     {"keyUsage", "critical,nonRepudiation"},
                     {"authorityInfoAccess", "OCSP;URI:http://" + std::string(300, 'a') + ".test/"}};
  testpki::writeFile(kit().path("longhost.der"), testpki::makeCertificate(plan));
  for (Road road : kRoads) EXPECT_EQ(0x80070006u, validate(road, "longhost")) << roadName(road);
}

TEST_F(ValidationBed, UntrustedAndPartialChains) {
  good("rsa2048");
  // Without the root in the user's Root store the chain stops at the intermediate.
  ASSERT_EQ(0, std::remove((platform::machineRoot() + "/crypt/user/root.p7b").c_str()));
  EXPECT_EQ(0x80030006u, validate(Road::Platform, "rsa2048"));
  // The root in the CA store only: the chain ends at a root that is not trusted.
  ASSERT_TRUE(certnet::addToUserStore("CA", kit().certificate("root")));
  EXPECT_EQ(0x8003000du, validate(Road::Platform, "rsa2048"));
  // An issuer missing from the trusted certificates.
  EXPECT_EQ(0x8003000du, validate(Road::TrustedCerts, "nocdp"));
}

// Table 5: hostile responders end within the time-out with a failure.
TEST_F(ValidationBed, HostileResponders) {
  certnet::ShortTimeouts shortTimeouts;
  good("rsa2048");
  FileServer hostile;
  VOQ_ProxySettings http = proxyAt("127.0.0.1", hostile.port());
  VOQ_ProxySettings https = proxyAt("127.0.0.1", 1);
  struct Row {
    const char* name;
    certnet::Reply reply;
    DWORD ocsp;  // OCSP through the HTTP proxy
    DWORD crl;   // the CRL through the HTTP proxy
  };
  certnet::Reply silent;
  silent.silent = true;
  certnet::Reply endless;
  endless.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
  endless.endless = true;
  certnet::Reply negative;
  negative.bytes = "HTTP/1.0 200 OK\r\nContent-Length: -3\r\n\r\nabc";
  certnet::Reply huge;
  huge.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\nabc";
  certnet::Reply longer;
  longer.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc";
  certnet::Reply exact;
  exact.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n";
  exact.bytes += std::string(1024 - exact.bytes.size(), 'z');
  certnet::Reply split;
  split.bytes = "HTTP/1.0 500 Internal Error\r\n\r\n";
  split.pieces = {7, 100};
  certnet::Reply noStatus;
  noStatus.bytes = std::string(2000, 'A');
  // A CRL without Content-Length: no byte of it is taken, so nothing decodes.
  certnet::Reply noLength;
  noLength.bytes = "HTTP/1.0 200 OK\r\n\r\n" + readText(kit().path("int.crl"));
  const Row rows[] = {
      {"accepts and never answers", silent, 0x80070017, 0x800a000a},
      {"endless body", endless, 0x80070017, 0x800a000a},
      {"negative length", negative, 0x80070017, 0x800a000a},
      {"huge length", huge, 0x80070017, 0x800a000a},
      {"length beyond the body", longer, 0x80070017, 0x800a000a},
      {"first read of exactly 1024 bytes", exact, 0x80070017, 0x800a000a},
      {"status line split, not 200", split, 0x8007001f, 0x800a0011},
      {"no status line", noStatus, 0x80070020, 0x800a0010},
      {"no Content-Length", noLength, 0x80070017, 0x800a000e},
  };
  for (const Row& row : rows) {
    hostile.setHandler([&row](const certnet::Request&) { return row.reply; });
    for (Road road : kRoads) EXPECT_EQ(row.ocsp, validate(road, "rsa2048", &http, &https)) << row.name;
    EXPECT_EQ(row.crl, validate(Road::Platform, "noaia", &http, &https)) << row.name;
  }
  // Directly: a silent responder, then none at all.
  ocsp_->setHandler([&silent](const certnet::Request&) { return silent; });
  for (Road road : kRoads) EXPECT_EQ(0x80070008u, validate(road, "rsa2048")) << roadName(road);
  ocsp_.reset();
  for (Road road : kRoads) EXPECT_EQ(0x80070007u, validate(road, "rsa2048")) << roadName(road);
}

TEST(ValidationHelpers, Mappings) {
  struct Chain {
    DWORD status;
    DWORD code;
  } chain[] = {{0, 0},
               {0x1, 0x8004000b},
               {0x2 | 0x20, 0x8004000b},
               {0x8, 0x80040003},
               {0x40000, 0x80040003},
               {0x10, 0x80030008},
               {0x20 | 0x4, 0x8003000d},
               {0x10000, 0x80030006},
               {0x80, 0x80030006},
               {0x4 | 0x40, 0x8003000b},
               {0x40 | 0x1000000, 0x8003000c},
               {0x400, 0x80030009},
               {0x2000000, 0x80030009},
               {0x100, 0x8003000a},
               {0x20000, 0x8003000e},
               {0x1000000, 0x8004000c}};
  for (const Chain& c : chain) EXPECT_EQ(c.code, mapChainStatus(c.status)) << std::hex << c.status;
  struct OpenSsl {
    int error;
    DWORD code;
  } openssl[] = {{X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, 0x8003000d},
                 {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 0x8003000d},
                 {X509_V_ERR_CERT_HAS_EXPIRED, 0x8004000b},
                 {X509_V_ERR_CERT_SIGNATURE_FAILURE, 0x80040003},
                 {X509_V_ERR_INVALID_CA, 0x80030001},
                 {X509_V_ERR_NO_ISSUER_PUBLIC_KEY, 0x8004000a},
                 {X509_V_ERR_CERT_REVOKED, 0x8003000b},
                 {X509_V_ERR_KEYUSAGE_NO_CERTSIGN, 0x80040004},
                 {X509_V_ERR_INVALID_EXTENSION, 0x8003000a},
                 {X509_V_ERR_OUT_OF_MEM, 0x80000007},
                 {X509_V_ERR_PATH_LOOP, 0x80040000},
                 {static_cast<int>(0x80030002), 0x80040000}};
  for (const OpenSsl& o : openssl) EXPECT_EQ(o.code, mapOpenSSLError(o.error)) << o.error;
  EXPECT_TRUE(isMaskSet(0x80070014, 0, 0x80070000, 0));
  EXPECT_FALSE(isMaskSet(0x80030001, 0, 0x80070000, 0));
  // Exactly the 72 bytes the header promises: a guard byte after them stays.
  char bits[73];
  bits[72] = '#';
  formatBits64(0x1, 0x80000000, bits);
  EXPECT_STREQ("10000000 00000000 00000000 00000000 00000000 00000000 00000000 00000001", bits);
  EXPECT_EQ('#', bits[72]);
  formatBits64(0xFFFFFFFF, 0xFFFFFFFF, bits);
  EXPECT_EQ(71u, strlen(bits));
  EXPECT_EQ('#', bits[72]);
}

TEST(ValidationHelpers, TimesAndInputs) {
  char text[64];
  struct Row {
    const char* time;
    bool ok;
    const char* pdf;
  } rows[] = {{"20300601120000Z", true, "D:20300601120000Z"},
              {"203006011200Z", true, "D:20300601120000Z"},
              {"20300601120000", true, "D:20300601120000+01'00'"},
              {"20301301120000Z", false, "Bad time value"},
              {"2030060112", false, "Bad time value"}};
  for (const Row& row : rows) {
    ASN1_GENERALIZEDTIME* t = ASN1_GENERALIZEDTIME_new();
    ASN1_STRING_set(t, row.time, -1);
    EXPECT_EQ(row.ok, asn1TimeToPDFDate(t, text)) << row.time;
    EXPECT_STREQ(row.pdf, text) << row.time;
    ASN1_GENERALIZEDTIME_free(t);
  }
  unsigned long seconds = 0;
  FILETIME epoch = {0xD53E8000u, 0x019DB1DEu};  // 1970-01-01
  ASSERT_TRUE(fileTimeToUnixTime(epoch, &seconds));
  EXPECT_EQ(0u, seconds);
  FILETIME before = {0, 0x019DB1DEu};
  EXPECT_FALSE(fileTimeToUnixTime(before, &seconds));
  bool qualified = true;
  EXPECT_EQ(0x80000002u, validateCertificate(nullptr, 0, &qualified, nullptr, nullptr, nullptr));
  const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  EXPECT_EQ(0x8004000au, validateCertificate(junk, sizeof junk, &qualified, nullptr, nullptr, nullptr));
  EXPECT_EQ(0x8004000au, validateCertificateWithTrustedCerts(nullptr, junk, sizeof junk, &qualified, nullptr, nullptr, nullptr));
  // A CRL address with a line break never reaches a request line.
  EXPECT_EQ(0x800b000au, checkCRLThroughHTTPProxy(nullptr, "http://127.0.0.1:1/a\r\nX: y", nullptr, nullptr));
}

}  // namespace
