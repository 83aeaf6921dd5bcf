// The menu command that downloads root certificates: the bundle into the user's Root
// and CA stores, the FDF to the viewer's import, over TLS from servers on 127.0.0.1,
// directly and through proxies, with each failure's box.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/pem.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "CertsCommand.h"
#include "DSHandler.h"
#include "DialogTest.h"
#include "LoopbackServer.h"
#include "NetworkTestSupport.h"
#include "VOQ_ConfigurationHelper.h"
#include "certcheck/VOQ_Configuration.h"
#include "platform/machine.h"
#include "quarvel_test.h"
#include "testbundle.h"

namespace {

using pdftest::DialogTest;
using testpki::Bytes;
namespace wt = platform::wintest;

const char kBundlePath[] = "/certs/A-Trust-Stammzertifikate.p7b";
const char kFdfPath[] = "/fileadmin/downloads/CertStore.fdf";
const char kFdf[] = "%FDF-1.2\n1 0 obj\n<</FDF<</Fields[]>>>>\nendobj\ntrailer\n<</Root 1 0 R>>\n%%EOF\n";

std::string pemOf(const Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  BIO* out = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(out, x);
  char* data = nullptr;
  const long n = BIO_get_mem_data(out, &data);
  std::string pem(data, static_cast<size_t>(n));
  BIO_free(out);
  X509_free(x);
  return pem;
}

std::set<Bytes> contents(const char* storeName) {
  const std::vector<Bytes> all = certnet::userStore(storeName);
  return std::set<Bytes>(all.begin(), all.end());
}

// The TLS servers' certificates chain to the kit's root, which the machine trusts; the
// user's own stores start empty.
void trustKitForTls(const testpki::Kit& kit) {
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  const Bytes root = kit.certificate("root");
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, root.data(), static_cast<DWORD>(root.size()));
  ASSERT_TRUE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_NEW, nullptr));
  CertFreeCertificateContext(c);
  CertCloseStore(store, 0);
}

VOQ_Configuration& userSettings() {
  static VOQ_Configuration store("VOQ. VUV-Oredaridez GmbH", "Tolmira", HKEY_CURRENT_USER);
  return store;
}

class CertsCommandTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    hkcuStore = &userSettings();
    trustKitForTls(kit);
    identity = certnet::kitTlsIdentity(kit);
    server = std::make_unique<certnet::FileServer>(&identity);
    server->put(kBundlePath, certnet::httpReply(200, bundle({root, intermediate})));
    server->putFile(kFdfPath, kFdf);
    pointAt(*server);
    useProxies(0, 0);
  }
  void TearDown() override {
    setCertificateDownloadUrls("", "");
    DialogTest::TearDown();
  }
  static std::string bundle(const std::vector<Bytes>& certificates) {
    const Bytes b = testpki::certsOnlyBundle(certificates);
    return std::string(b.begin(), b.end());
  }
  static void pointAt(const certnet::LoopbackServer& s) {
    setCertificateDownloadUrls(s.url(kBundlePath), s.url(kFdfPath));
  }
  // UseProxies and both proxies' ports on 127.0.0.1, as the proxy dialog stores them.
  void useProxies(DWORD on, unsigned port, const char* host = "127.0.0.1") {
    const DWORD p = port;
    userSettings().set(HKEY_CURRENT_USER, nullptr, "UseProxies", REG_DWORD, &on, sizeof on);
    for (const char* name : {"HttpProxyAddr", "HttpsProxyAddr"}) {
      userSettings().set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, host, static_cast<DWORD>(strlen(host) + 1));
    }
    for (const char* name : {"HttpProxyPort", "HttpsProxyPort"}) {
      userSettings().set(HKEY_CURRENT_USER, nullptr, name, REG_DWORD, &p, sizeof p);
    }
    VOQ_ConfigurationHelper::getInstance()->loadConfiguration();
  }
  void run() {
    wt::clearMessageBoxes();
    VOQ_CardSignature_Certs(nullptr);
  }
  // The one error box, or none.
  std::string box() {
    const auto boxes = wt::messageBoxes();
    if (boxes.empty()) return "";
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, hostMainWindow);
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    return boxes[0].caption + ": " + boxes[0].text;
  }
  // Temporary files the command left behind.
  static int temporaryFiles() {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::filesystem::path hostDir = platform::mapPath(dir);
    if (!std::filesystem::exists(hostDir)) return 0;
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(hostDir)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("voq", 0) == 0 || name.rfind("dl_", 0) == 0) ++n;
    }
    return n;
  }

  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes root = kit.certificate("root");
  const Bytes intermediate = kit.certificate("int");
  certnet::TlsIdentity identity;
  std::unique_ptr<certnet::FileServer> server;
};

const char kGermanBox[] =
    "Fehler: Die Rootzertifikate konnten nicht heruntergeladen werden.\nBitte überprüfen Sie Ihre Internetverbindung.";
const char kEnglishBox[] =
    "Error: The root certificates could not be downloaded.\nPlease check your connection to the internet.";

TEST_F(CertsCommandTest, BundleIntoTheStoresFdfToTheViewerTwice) {
  ASSERT_TRUE(Register());
  for (int round = 0; round < 2; ++round) {
    run();
    EXPECT_EQ(box(), "") << round;
    // Root takes the self-issued root, CA the intermediate; the second run adds nothing.
    EXPECT_EQ(contents("Root"), std::set<Bytes>{root}) << round;
    EXPECT_EQ(contents("CA"), std::set<Bytes>{intermediate}) << round;
    const auto imports = viewer.imports();
    ASSERT_EQ(imports.size(), static_cast<size_t>(round + 1));
    const vhost::ImportRecord& r = imports.back();
    EXPECT_EQ(r.dataKind, 2);
    EXPECT_TRUE(r.handlerRegistered);
    EXPECT_EQ(r.handler, currentPubSecHandler());
    EXPECT_EQ(r.engine, currentPubSecEngine());
    EXPECT_NE(r.engine, nullptr);
    EXPECT_TRUE(r.readable);
    EXPECT_EQ(r.content, kFdf);
    EXPECT_FALSE(std::filesystem::exists(r.path)) << r.path;
    EXPECT_EQ(temporaryFiles(), 0);
  }
  // Both over TLS, straight from the server.
  EXPECT_EQ(server->handshakes(), 4);
  Unregister();
}

// The progress dialog, with its bar, stands while each download runs, titled in the
// language of the moment, and is gone once the command ends.
TEST_F(CertsCommandTest, AProgressDialogStandsWhileTheDownloadsRun) {
  for (int language : {1, 0}) {
    languageFlag = language;
    const char* title = language == 1 ? "Stammzertifikate werden heruntergeladen" : "Downloading root certificates";
    std::atomic<int> seen{0};
    certnet::LoopbackServer watched(
        [&](const certnet::Request& r) {
          HWND dialog = nullptr;
          quarveltest::eventually([&] { return (dialog = FindWindowA(nullptr, title)) != nullptr; });
          if (dialog != nullptr && GetDlgItem(dialog, 1129) != nullptr) ++seen;
          return r.path == kBundlePath ? certnet::httpReply(200, bundle({root, intermediate}))
                                       : certnet::httpReply(200, kFdf);
        },
        &identity);
    pointAt(watched);
    run();
    EXPECT_EQ(box(), "") << language;
    EXPECT_EQ(seen, 2) << language;
    EXPECT_EQ(FindWindowA(nullptr, title), nullptr) << language;
  }
}

TEST_F(CertsCommandTest, WithoutAHandlerTheRecordNamesNone) {
  run();
  ASSERT_EQ(viewer.imports().size(), 1u);
  EXPECT_EQ(viewer.imports()[0].handler, nullptr);
  EXPECT_EQ(viewer.imports()[0].engine, nullptr);
}

struct FailureCase {
  const char* name;
  std::function<void(certnet::FileServer&)> serve;
  std::set<Bytes> rootAfter, caAfter;
  bool fdfImported;
};

TEST_F(CertsCommandTest, EachFailureShowsTheBoxAndInstallsNothingItShouldNot) {
  const Bytes brokenRoot = testpki::withBrokenSignature(testpki::makeCertificate(
      {{{"C", "AT", true}, {"O", "Quarvel Test"}, {"CN", "Broken Root"}},
       {{"C", "AT", true}, {"O", "Quarvel Test"}, {"CN", "Broken Root"}},
       kit.path("p384.key"),
       kit.path("p384.key"),
       7103}));
  // The machine trusts the kit's root, so the kit's intermediate alone would chain to it.
  const Bytes orphan = testpki::makeCertificate(
      {testpki::kitName("Orphan CA"), testpki::kitName("Absent Root"), kit.path("p224.key"), kit.path("p384.key"), 7105});
  const std::string fullBundle = bundle({root, intermediate});
  const FailureCase cases[] = {
      {"bundle 404, FDF fine", [](certnet::FileServer& s) { s.put(kBundlePath, certnet::httpReply(404, "gone")); },
       {}, {}, true},
      {"bundle is an HTML page",
       [](certnet::FileServer& s) {
         s.put(kBundlePath, certnet::httpReply(200, "<html><body>Wartung</body></html>", "text/html"));
       },
       {}, {}, true},
      {"bundle truncated",
       [&](certnet::FileServer& s) { s.putFile(kBundlePath, fullBundle.substr(0, fullBundle.size() / 2)); }, {}, {},
       true},
      {"bundle empty", [](certnet::FileServer& s) { s.putFile(kBundlePath, ""); }, {}, {}, true},
      {"an intermediate without its root",
       [&](certnet::FileServer& s) { s.putFile(kBundlePath, bundle({orphan})); }, {}, {}, true},
      {"a root with a broken self-signature",
       [&](certnet::FileServer& s) { s.putFile(kBundlePath, bundle({brokenRoot})); }, {}, {}, true},
      {"FDF 404", [](certnet::FileServer& s) { s.put(kFdfPath, certnet::httpReply(404, "")); }, {root},
       {intermediate}, false},
      {"FDF that is not one",
       [](certnet::FileServer& s) { s.put(kFdfPath, certnet::httpReply(200, "<html>Fehler</html>", "text/html")); },
       {root}, {intermediate}, false},
      {"FDF empty", [](certnet::FileServer& s) { s.putFile(kFdfPath, ""); }, {root}, {intermediate}, false},
  };
  for (const FailureCase& c : cases) {
    std::filesystem::remove_all(quarveltest::machineRoot() + "/crypt/user");
    const size_t importsBefore = viewer.imports().size();
    server->put(kBundlePath, certnet::httpReply(200, fullBundle));
    server->putFile(kFdfPath, kFdf);
    c.serve(*server);
    run();
    EXPECT_EQ(box(), kGermanBox) << c.name;
    EXPECT_EQ(contents("Root"), c.rootAfter) << c.name;
    EXPECT_EQ(contents("CA"), c.caAfter) << c.name;
    EXPECT_EQ(viewer.imports().size() - importsBefore, c.fdfImported ? 1u : 0u) << c.name;
    EXPECT_EQ(temporaryFiles(), 0) << c.name;
  }
}

TEST_F(CertsCommandTest, AServerThatDoesNotVerifyGetsNothingInstalled) {
  // A TLS identity the machine does not trust: a certificate signed by its own key.
  const std::vector<testpki::NameEntry> name = {{"C", "AT", true}, {"O", "Elsewhere"}, {"CN", "127.0.0.1"}};
  const Bytes der = testpki::makeCertificate({name, name, kit.path("p256.key"), kit.path("p256.key"), 7104});
  certnet::TlsIdentity stranger;
  stranger.certificateChainPem = pemOf(der);
  stranger.keyPem = certnet::readText(kit.path("p256.key"));
  certnet::FileServer untrusted(&stranger);
  untrusted.put(kBundlePath, certnet::httpReply(200, bundle({root, intermediate})));
  untrusted.putFile(kFdfPath, kFdf);
  pointAt(untrusted);
  run();
  EXPECT_EQ(box(), kGermanBox);
  EXPECT_TRUE(contents("Root").empty());
  EXPECT_TRUE(contents("CA").empty());
  EXPECT_TRUE(viewer.imports().empty());
  EXPECT_TRUE(untrusted.requests().empty());  // no request ever left the client
}

TEST_F(CertsCommandTest, ASilentServerTimesOut) {
  certnet::ShortTimeouts shortly;
  certnet::LoopbackServer silent([](const certnet::Request&) {
    certnet::Reply r;
    r.silent = true;
    return r;
  }, &identity);
  pointAt(silent);
  languageFlag = 0;
  run();
  EXPECT_EQ(box(), kEnglishBox);
  EXPECT_TRUE(contents("Root").empty());
  EXPECT_TRUE(viewer.imports().empty());
  EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(CertsCommandTest, ThroughTheConfiguredProxies) {
  certnet::CaptureProxy proxy;
  useProxies(1, proxy.port());
  run();
  EXPECT_EQ(box(), "");
  EXPECT_EQ(contents("Root"), std::set<Bytes>{root});
  ASSERT_EQ(viewer.imports().size(), 1u);
  // Both downloads asked the HTTPS proxy for a tunnel to the server.
  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const certnet::Request& r : requests) {
    EXPECT_EQ(r.raw, "CONNECT 127.0.0.1:" + std::to_string(server->port()) + " HTTP/1.0\r\n\r\n");
  }
}

TEST_F(CertsCommandTest, AnUnreachableProxyHasNoDirectFallback) {
  certnet::ShortTimeouts shortly;
  useProxies(1, 8080, "proxy.invalid");
  run();
  EXPECT_EQ(box(), kGermanBox);
  EXPECT_EQ(server->connections(), 0);
  EXPECT_TRUE(contents("Root").empty());
  EXPECT_TRUE(viewer.imports().empty());
}

TEST_F(CertsCommandTest, TheProductFetchesOverHttpsOnly) {
  setCertificateDownloadUrls("", "");
  EXPECT_EQ(certificateBundleUrl().rfind("https://", 0), 0u);
  EXPECT_EQ(certificateFileUrl().rfind("https://", 0), 0u);
  EXPECT_NE(certificateBundleUrl().find("/certs/A-Trust-Stammzertifikate.p7b"), std::string::npos);
  EXPECT_NE(certificateFileUrl().find("/fileadmin/downloads/CertStore.fdf"), std::string::npos);
}

}  // namespace
