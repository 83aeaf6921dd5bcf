// The import of a downloaded bundle into the current user's Root and CA stores:
// what each kind of certificate earns, against the test PKI kit and certificates
// crafted from its keys.
#include "certcheck/CertificateImport.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "quarvel_test.h"
#include "testbundle.h"

namespace {

using testpki::Bytes;
using testpki::kitName;
using testpki::NameEntry;

std::set<Bytes> contents(const char* storeName) {
  std::set<Bytes> all;
  HCERTSTORE store = CertOpenSystemStoreA(0, storeName);
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c))
    all.emplace(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  CertCloseStore(store, 0);
  return all;
}

class RootImportTest : public ::testing::Test {
 protected:
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes root = kit.certificate("root");
  const Bytes intermediate = kit.certificate("int");
  const Bytes tls = kit.certificate("tls");  // issued by the intermediate

  std::string write(const std::string& name, const Bytes& bytes) {
    const std::string path = quarveltest::machineRoot() + "/" + name;
    testpki::writeFile(path, bytes);
    return path;
  }
  static void clearStores() {
    std::filesystem::remove_all(quarveltest::machineRoot() + "/crypt");
  }
  // Names the root's texts, but its issuer's common name is a PrintableString:
  // the rendered names are equal, the encoded ones are not.
  Bytes lookalikeRoot() const {
    std::vector<NameEntry> issuer = kitName("Quarvel Test Root");
    issuer[2].printable = true;
    return testpki::makeCertificate(
        {kitName("Quarvel Test Root"), issuer, kit.path("rsa2048.key"), kit.path("root.key"), 7001});
  }
  // Subject and issuer render alike for well over 255 bytes and differ only at the
  // end of the text (the first unit of the encoding), signed by the subject's own key.
  Bytes longNameLookalike() const {
    std::vector<NameEntry> subject = {{"C", "AT", true}, {"O", "Quarvel Test"}};
    for (int i = 0; i < 12; ++i) subject.push_back({"OU", "Organisational unit number " + std::to_string(i) + " of the tests"});
    subject.push_back({"CN", "Long Name"});
    std::vector<NameEntry> issuer = subject;
    issuer[2].value += "!";
    return testpki::makeCertificate({subject, issuer, kit.path("p256.key"), kit.path("p256.key"), 7002});
  }
  Bytes brokenRoot() const {
    return testpki::withBrokenSignature(testpki::makeCertificate(
        {kitName("Broken Root"), kitName("Broken Root"), kit.path("p384.key"), kit.path("p384.key"), 7003}));
  }
  Bytes childOfBrokenRoot() const {
    return testpki::makeCertificate(
        {kitName("Child of Broken Root"), kitName("Broken Root"), kit.path("p224.key"), kit.path("p384.key"), 7004});
  }
  // A self-signed certificate of the p256 key with these extensions.
  Bytes selfSigned(const std::string& name, bool ca, std::vector<std::pair<std::string, std::string>> extensions,
                   long serial) const {
    testpki::CertificatePlan plan{kitName(name), kitName(name), kit.path("p256.key"), kit.path("p256.key"), serial, ca};
    plan.extensions = std::move(extensions);
    return testpki::makeCertificate(plan);
  }
  Bytes version1Root() const {
    testpki::CertificatePlan plan{kitName("Version 1 Root"), kitName("Version 1 Root"), kit.path("p256.key"),
                                  kit.path("p256.key"), 7010, false};
    plan.version1 = true;
    return testpki::makeCertificate(plan);
  }
  // An intermediate below the version 1 root.
  Bytes childOfVersion1Root() const {
    return testpki::makeCertificate(
        {kitName("Below Version 1"), kitName("Version 1 Root"), kit.path("p224.key"), kit.path("p256.key"), 7011});
  }
};

// Which self-signed certificates are roots: those OpenSSL's X509_check_ca counts as CAs.
TEST_F(RootImportTest, OnlyCertificationAuthoritiesBecomeRoots) {
  const Bytes v1 = version1Root();
  const Bytes keyCertSign = selfSigned("Signs Certificates", false, {{"keyUsage", "critical,keyCertSign"}}, 7012);
  const struct {
    const char* what;
    Bytes certificate;
    bool root;
  } rows[] = {
      {"a version 1 root without extensions", v1, true},
      {"basicConstraints CA", selfSigned("CA", true, {}, 7013), true},
      {"keyUsage keyCertSign without basicConstraints", keyCertSign, true},
      {"basicConstraints CA:FALSE", selfSigned("No CA", false, {{"basicConstraints", "critical,CA:FALSE"}}, 7014), false},
      {"a version 3 certificate without extensions", selfSigned("Bare", false, {}, 7015), false},
      {"basicConstraints CA, keyUsage without keyCertSign",
       selfSigned("CA That Signs Documents", true, {{"keyUsage", "critical,digitalSignature"}}, 7016), false},
      {"a self-signed TLS server", selfSigned("127.0.0.1", false,
                                              {{"keyUsage", "critical,digitalSignature,keyEncipherment"},
                                               {"extendedKeyUsage", "serverAuth"}, {"subjectAltName", "IP:127.0.0.1"}},
                                              7017),
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    clearStores();
    EXPECT_EQ(row.root, importCertificateBundle(write("bundle.p7b", testpki::certsOnlyBundle({row.certificate})).c_str()));
    EXPECT_EQ(row.root ? std::set<Bytes>{row.certificate} : std::set<Bytes>{}, contents("Root"));
    EXPECT_TRUE(contents("CA").empty());
  }
  // Below a version 1 root an intermediate chains as below any other.
  clearStores();
  const Bytes child = childOfVersion1Root();
  EXPECT_TRUE(importCertificateBundle(write("bundle.p7b", testpki::certsOnlyBundle({child, v1})).c_str()));
  EXPECT_EQ(std::set<Bytes>{v1}, contents("Root"));
  EXPECT_EQ(std::set<Bytes>{child}, contents("CA"));
}

// The machine's Root store is an anchor as the user's is.
TEST_F(RootImportTest, AnIntermediateChainingToTheMachinesRootIsAccepted) {
  HCERTSTORE machine = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, root.data(), static_cast<DWORD>(root.size()));
  ASSERT_TRUE(CertAddCertificateContextToStore(machine, c, CERT_STORE_ADD_NEW, nullptr));
  CertFreeCertificateContext(c);
  CertCloseStore(machine, 0);
  EXPECT_TRUE(importCertificateBundle(write("bundle.p7b", testpki::certsOnlyBundle({tls, intermediate})).c_str()));
  EXPECT_TRUE(contents("Root").empty());
  EXPECT_EQ((std::set<Bytes>{intermediate, tls}), contents("CA"));
}

// An accepted certificate that its store does not take: not everything is in place.
TEST_F(RootImportTest, AStoreThatCannotTakeACertificateMakesTheImportFail) {
  // The store's replacement file cannot be made where a folder of its name stands.
  std::filesystem::create_directories(quarveltest::machineRoot() + "/crypt/user/ca.p7b.new");
  EXPECT_FALSE(importCertificateBundle(write("bundle.p7b", testpki::certsOnlyBundle({root, intermediate})).c_str()));
  EXPECT_EQ(std::set<Bytes>{root}, contents("Root"));
  EXPECT_TRUE(contents("CA").empty());
}

TEST_F(RootImportTest, EachCertificateGoesWhereItsSignaturesEarn) {
  const Bytes lookalike = lookalikeRoot();
  const Bytes longName = longNameLookalike();
  const Bytes broken = brokenRoot();
  const Bytes child = childOfBrokenRoot();
  struct Row {
    const char* what;
    Bytes file;
    std::set<Bytes> root, ca;
    bool result;
  } rows[] = {
      {"root and intermediate", testpki::certsOnlyBundle({root, intermediate}), {root}, {intermediate}, true},
      {"a chain in reverse order", testpki::certsOnlyBundle({tls, intermediate, root}), {root}, {intermediate, tls}, true},
      {"as PEM", testpki::pemBundle(testpki::certsOnlyBundle({root, intermediate})), {root}, {intermediate}, true},
      {"one DER certificate", root, {root}, {}, true},
      {"a root's lookalike beside it", testpki::certsOnlyBundle({lookalike, root, intermediate}), {root}, {intermediate}, true},
      {"names that differ after 255 bytes", testpki::certsOnlyBundle({longName}), {}, {}, false},
      {"a broken self-signature", testpki::certsOnlyBundle({broken, child}), {}, {}, false},
      {"a broken root beside a sound one", testpki::certsOnlyBundle({broken, root, child, intermediate}), {root}, {intermediate}, true},
      {"an intermediate without its root", testpki::certsOnlyBundle({intermediate, tls}), {}, {}, false},
      {"no certificate", testpki::certsOnlyBundle({}), {}, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    clearStores();
    EXPECT_EQ(row.result, importCertificateBundle(write("bundle.p7b", row.file).c_str()));
    EXPECT_EQ(row.root, contents("Root"));
    EXPECT_EQ(row.ca, contents("CA"));
  }
}

TEST_F(RootImportTest, WhatIsNoCertificateStoreImportsNothing) {
  const Bytes bundle = testpki::certsOnlyBundle({root, intermediate});
  const std::string html = "<html><body>Not found</body></html>\n";
  struct Row {
    const char* what;
    std::string path;
  } rows[] = {
      {"an HTML page", write("page.p7b", Bytes(html.begin(), html.end()))},
      {"a truncated bundle", write("truncated.p7b", Bytes(bundle.begin(), bundle.begin() + bundle.size() / 2))},
      {"an empty file", write("empty.p7b", Bytes())},
      {"a missing file", quarveltest::machineRoot() + "/missing.p7b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(importCertificateBundle(row.path.c_str()));
    EXPECT_TRUE(contents("Root").empty());
    EXPECT_TRUE(contents("CA").empty());
  }
  EXPECT_FALSE(importCertificateBundle(nullptr));
}

TEST_F(RootImportTest, ASecondImportChangesNothingAndStillCounts) {
  const std::string path = write("bundle.p7b", testpki::certsOnlyBundle({root, intermediate}));
  ASSERT_TRUE(importCertificateBundle(path.c_str()));
  const std::string rootFile = quarveltest::machineRoot() + "/crypt/user/root.p7b";
  const std::string caFile = quarveltest::machineRoot() + "/crypt/user/ca.p7b";
  const Bytes rootBefore = testpki::readFile(rootFile), caBefore = testpki::readFile(caFile);
  EXPECT_TRUE(importCertificateBundle(path.c_str()));
  EXPECT_EQ(rootBefore, testpki::readFile(rootFile));
  EXPECT_EQ(caBefore, testpki::readFile(caFile));
  // An intermediate alone chains to the root already installed.
  EXPECT_TRUE(importCertificateBundle(write("tls.p7b", testpki::certsOnlyBundle({tls})).c_str()));
  EXPECT_EQ((std::set<Bytes>{intermediate, tls}), contents("CA"));
}

TEST_F(RootImportTest, APathOfAnyLength) {
  std::string folder = quarveltest::machineRoot();
  for (int i = 0; i < 8; ++i) folder += "/a-rather-long-folder-name-of-forty-bytes";
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/bundle.p7b";
  ASSERT_GT(path.size(), 300u);
  testpki::writeFile(path, testpki::certsOnlyBundle({root}));
  EXPECT_TRUE(importCertificateBundle(path.c_str()));
  EXPECT_EQ(std::set<Bytes>{root}, contents("Root"));
}

}  // namespace
