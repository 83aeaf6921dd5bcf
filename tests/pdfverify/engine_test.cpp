// Tolmira verifying signed PDFs end to end: the real module in the test viewer, fixtures
// signed by the test PKI kit, the certificate checked against the viewer's trusted list
// with an OCSP responder on 127.0.0.1, and pdfsig as the peer that must agree on which
// signatures are intact.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "LoopbackServer.h"
#include "TestFiles.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "platform/machine.h"
#include "platform/window_test.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace wt = platform::wintest;

namespace {

int threadCount() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

std::string serialOf(const testpki::Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr);
  char* hex = BN_bn2hex(bn);
  std::string s(hex);
  OPENSSL_free(hex);
  BN_free(bn);
  X509_free(x);
  return s;
}

// The texts of a panel as one string, for messages.
std::string panel(const vhost::SignatureResult& r) {
  std::string all;
  for (const std::string& t : r.texts) all += t + " | ";
  return all;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ocsp = std::make_unique<certnet::OcspResponder>(certnet::OcspSettings());
    char temp[1024];
    GetTempPathA(sizeof temp, temp);
    kit = std::make_unique<testpki::Kit>(testpki::Kit::make(platform::mapPath(temp) + "kit", ocsp->port(), 1, 1));
    settings.indexFile = kit->path("ocsp-index.txt");
    settings.issuerPem = certnet::readText(kit->path("int.pem"));
    settings.signerPem = certnet::readText(kit->path("ocsp.pem"));
    settings.signerKeyPem = certnet::readText(kit->path("ocsp.key"));
    setStatus("rsa2048", 'V');
    threads = threadCount();
  }
  void TearDown() override {
    EXPECT_TRUE(quarveltest::eventually([&] { return threadCount() <= threads; })) << "no progress thread is left";
  }
  // The responder's database for the signer: valid, or revoked in 2020 (before signing).
  void setStatus(const std::string& entity, char state) {
    std::ofstream(settings.indexFile) << state << "\t491231235959Z\t" << (state == 'R' ? "200601000000Z" : "") << "\t"
                                      << serialOf(kit->certificate(entity)) << "\tunknown\t/CN=" << entity << "\n";
    ocsp->setSettings(settings);
  }
  // A one-page document with one signed field (more with `extra`), in the scratch folder.
  std::string signedDocument(const std::string& name, const std::string& subFilter = "adbe.pkcs7.detached",
                             const std::string& signer = "rsa2048", const std::string& metadata = "2.21.0000") {
    pdffixtures::DocumentPlan plan;
    pdffixtures::SignatureFieldPlan field;
    field.subFilter = subFilter;
    field.certSigner = signer;
    field.certKit = kit.get();
    field.metadataVersion = metadata;
    plan.signatures = {field};
    const std::string path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    pdffixtures::SignOptions options;
    options.signer = signer;
    options.kit = kit.get();
    if (subFilter != "adbe.pkcs7.detached") options.digest = "sha1";
    pdffixtures::sign(path, field.name, options);
    return path;
  }
  vhost::Config config(int major = 10) {
    vhost::Config c;
    c.major = static_cast<ASInt16>(major);
    c.trustedCerts = {toVector(kit->certificate("root")), toVector(kit->certificate("int"))};
    return pdftest::installedFor(c);
  }
  static std::vector<uint8_t> toVector(const testpki::Bytes& b) { return std::vector<uint8_t>(b.begin(), b.end()); }
  std::vector<vhost::SignatureResult> verify(const vhost::Config& c, const std::string& path) {
    vhost::Viewer viewer(c);
    EXPECT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
    EXPECT_TRUE(viewer.openDocument(path)) << viewer.error();
    std::vector<vhost::SignatureResult> results = viewer.validateSignatures();
    viewer.unloadPlugins();
    EXPECT_EQ(viewer.liveCallbacks(), 0);
    return results;
  }
  // pdfsig's verdict per signature: true for an intact one.
  std::vector<bool> pdfsigIntact(const std::string& path) {
    pdftest::Run r = pdftest::run("pdfsig -nocert " + path);
    std::vector<bool> intact;
    size_t at = 0;
    while ((at = r.output.find("Signature Validation: ", at)) != std::string::npos) {
      at += 22;
      intact.push_back(r.output.compare(at, 19, "Signature is Valid.") == 0);
    }
    return intact;
  }

  std::unique_ptr<certnet::OcspResponder> ocsp;
  std::unique_ptr<testpki::Kit> kit;
  certnet::OcspSettings settings;
  int threads = 0;
};

struct Row {
  const char* what;
  const char* subFilter;
  const char* signer;
  char status;       // the responder's answer for the signer
  bool tamper;       // one byte of the signed range changed
  bool trustRoot;    // the kit's root among the viewer's trusted certificates
  ASInt32 trustFlags, id;
  const char* sigValidation;
  const char* certValidation;
};

TEST_F(EndToEnd, FixturesAgainstTheLocalServices) {
  const Row rows[] = {
      {"intact, good", "adbe.pkcs7.detached", "rsa2048", 'V', false, true, 0xFFFF, 4, "0", "0"},
      {"intact, OCSP revoked", "adbe.pkcs7.detached", "rsa2048", 'R', false, true, 0, 2, "0", "-2147024876"},
      {"tampered, good", "adbe.pkcs7.detached", "rsa2048", 'V', true, true, 0xFFFF, 2, "-2147155967", "0"},
      {"intact, root not trusted", "adbe.pkcs7.detached", "rsa2048", 'V', false, false, 0, 3, "0", nullptr},
      {"embedded SHA-1, good", "adbe.pkcs7.sha1", "rsa2048", 'V', false, true, 0xFFFF, 4, "0", "0"},
      // The signing plug-in's own format, in each size it makes: 259, 323 and 179 bytes.
      {"PKCS#1 RSA-1024, good", "adbe.x509.rsa_sha1", "rsa1024", 'V', false, true, 0xFFFF, 4, "0", "0"},
      {"PKCS#1 RSA-1536, good", "adbe.x509.rsa_sha1", "rsa1536", 'V', false, true, 0xFFFF, 4, "0", "0"},
      {"PKCS#1 P-192 r||s, good", "adbe.x509.rsa_sha1", "p192", 'V', false, true, 0xFFFF, 4, "0", "0"},
      {"PKCS#1 RSA-1024, tampered", "adbe.x509.rsa_sha1", "rsa1024", 'V', true, true, 0xFFFF, 2, "-2147155967", "0"},
      {"PKCS#1 RSA-1536, tampered", "adbe.x509.rsa_sha1", "rsa1536", 'V', true, true, 0xFFFF, 2, "-2147155967", "0"},
      {"PKCS#1 P-192 r||s, tampered", "adbe.x509.rsa_sha1", "p192", 'V', true, true, 0xFFFF, 2, "-2147155967", "0"},
      {"PKCS#1 RSA-1024, OCSP revoked", "adbe.x509.rsa_sha1", "rsa1024", 'R', false, true, 0, 2, "0", "-2147024876"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    setStatus(row.signer, row.status);
    std::string path = signedDocument(std::string("e2e-") + std::to_string(&row - rows) + ".pdf", row.subFilter,
                                      row.signer);
    if (row.tamper) pdffixtures::flipByte(path, 11);  // inside the binary comment after the header
    vhost::Config c = config();
    if (!row.trustRoot) c.trustedCerts.erase(c.trustedCerts.begin());
    std::vector<vhost::SignatureResult> results = verify(c, path);
    ASSERT_EQ(results.size(), 1u);
    const vhost::SignatureResult& r = results[0];
    EXPECT_EQ(r.returned, 1) << r.error;
    EXPECT_EQ(r.digest, 7);
    EXPECT_EQ(r.trustFlags, row.trustFlags) << panel(r);
    EXPECT_EQ(r.id, row.id) << panel(r);
    std::string all = panel(r);
    EXPECT_TRUE(has(all, row.id == 4 || row.id == 3 ? "Die Signatur ist gültig." : "Die Signatur ist nicht gültig."))
        << all;
    if (row.subFilter != std::string("adbe.x509.rsa_sha1")) {
      const std::vector<bool> peer = pdfsigIntact(path);
      ASSERT_EQ(peer.size(), 1u);
      EXPECT_EQ(peer[0], !row.tamper) << "pdfsig agrees";
    }
  }
}

TEST_F(EndToEnd, TwoSignaturesEachShowTheirOwnDetails) {
  // The first signature covers the first revision; a second is appended and signed, then
  // a byte of the first revision's signed range changes: both break? No: tamper the
  // appended part only, so the first stays intact and the second breaks.
  std::string path = signedDocument("two.pdf");
  pdffixtures::SignatureFieldPlan second;
  second.name = "Second";
  second.certKit = kit.get();
  pdffixtures::appendSignatureField(path, second);
  pdffixtures::SignOptions options;
  options.kit = kit.get();
  pdffixtures::sign(path, "Second", options);
  const std::string bytes = pdffixtures::readFile(path);
  pdffixtures::flipByte(path, static_cast<long>(bytes.size()) - 40);  // in the second revision only
  const std::vector<bool> peer = pdfsigIntact(path);
  std::vector<vhost::SignatureResult> results = verify(config(), path);
  ASSERT_EQ(results.size(), 2u);
  ASSERT_EQ(peer.size(), 2u);
  EXPECT_TRUE(peer[0]);
  EXPECT_FALSE(peer[1]);
  EXPECT_EQ(results[0].id, 4) << panel(results[0]);
  EXPECT_EQ(results[1].id, 2) << panel(results[1]);
  EXPECT_TRUE(has(panel(results[0]), "Die Signatur ist gültig.")) << panel(results[0]);
  EXPECT_TRUE(has(panel(results[1]), "Die Signatur ist nicht gültig.")) << panel(results[1]);
  EXPECT_NE(panel(results[0]), panel(results[1]));
}

TEST_F(EndToEnd, AFailedVerificationAfterAGoodOneShowsNothingOfIt) {
  std::string good = signedDocument("good.pdf");
  std::string bad = signedDocument("bad.pdf");
  // A value that is no PKCS#7 at all: the checking library refuses it, the engine fails.
  std::string bytes = pdffixtures::readFile(bad);
  const size_t contents = bytes.find("/Contents <") + 11;
  bytes.replace(contents, 8, "DEADBEEF");
  pdffixtures::writeFile(bad, bytes);
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  ASSERT_TRUE(viewer.openDocument(good));
  std::vector<vhost::SignatureResult> first = viewer.validateSignatures();
  ASSERT_TRUE(viewer.openDocument(bad));
  std::vector<vhost::SignatureResult> second = viewer.validateSignatures();
  viewer.unloadPlugins();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].id, 4);
  EXPECT_EQ(second[0].returned, -2);
  EXPECT_EQ(second[0].id, 0) << "the result cabinet stays empty";
  for (const std::string& text : second[0].texts) {
    EXPECT_FALSE(has(text, "Die Signatur ist gültig.")) << text;
    EXPECT_FALSE(has(text, "erfolgreich")) << text;
  }
}

}  // namespace
