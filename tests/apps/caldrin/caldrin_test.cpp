// Caldrin against a server on 127.0.0.1 that speaks TLS with the test PKI kit's
// certificate, which the machine trusts through the kit's root in its Root store: the
// program run as a process of its own, and its download, status callback and progress
// dialog in the test process over the program's own dialog template.
#include "Caldrin.h"

#include <commctrl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "dialog_picture.h"
#include "platform/machine.h"
#include "platform/urlmon_test.h"
#include "platform/window_test.h"
#include "quarvel_test.h"
#include "testbundle.h"

namespace {

namespace wt = platform::wintest;
using testpki::Bytes;
using testpki::kitName;
using testpki::NameEntry;

const char kStatusText[] = "Zertifikate werden heruntergeladen";
const char kBundlePath[] = "/certs/A-Trust-Stammzertifikate.p7b";

std::set<Bytes> userStore(const char* name) {
  std::set<Bytes> all;
  HCERTSTORE store = CertOpenSystemStoreA(0, name);
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c))
    all.emplace(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  CertCloseStore(store, 0);
  return all;
}

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The program's temporary folder, made as Windows has it.
std::string tempFolder() {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  const std::string mapped = platform::mapPath(folder);
  std::filesystem::create_directories(mapped);
  return mapped;
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

// Runs the test build of Caldrin (it inherits the machine root); its exit status.
int runCaldrin() {
  pid_t pid = fork();
  if (pid == 0) {
    execl(CALDRIN_PROGRAM, CALDRIN_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The kit's TLS server identity (127.0.0.1) with its intermediate.
certnet::TlsIdentity kitIdentity() {
  const testpki::Kit& kit = testpki::Kit::standard();
  return {certnet::readText(kit.path("tls.pem")) + certnet::readText(kit.path("int.pem")),
          certnet::readText(kit.path("tls.key"))};
}

class CaldrinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trustKitRoot();
    temp = tempFolder();
    setenv("CALDRIN_TEST_PORT", std::to_string(server.port()).c_str(), 1);
  }
  void TearDown() override { platform::urlmontest::setDownloadWaits(0, 0); }

  // The machine trusts the kit's root: the test server's certificate verifies.
  static void trustKitRoot() {
    const Bytes root = testpki::Kit::standard().certificate("root");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, root.data(), static_cast<DWORD>(root.size()));
    CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_NEW, nullptr);
    CertFreeCertificateContext(c);
    CertCloseStore(store, 0);
  }
  static void distrustKitRoot() {
    std::filesystem::remove(quarveltest::machineRoot() + "/crypt/machine/root.p7b");
  }

  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes root = kit.certificate("root");
  const Bytes intermediate = kit.certificate("int");
  // A second intermediate below the kit's.
  const Bytes subCa = testpki::makeCertificate(
      {kitName("Quarvel Test Sub CA"), kitName("Quarvel Test Intermediate"), kit.path("p256.key"), kit.path("int.key"), 8001});
  const Bytes bundle = testpki::certsOnlyBundle({root, intermediate, subCa});
  certnet::TlsIdentity identity = kitIdentity();
  certnet::FileServer server{&identity};
  std::string temp;
};

TEST_F(CaldrinTest, InstallsOneRootAndTwoIntermediatesAndNothingMoreTheSecondTime) {
  server.putFile(kBundlePath, asText(bundle));
  ASSERT_EQ(0, runCaldrin());
  EXPECT_EQ(std::set<Bytes>{root}, userStore("Root"));
  EXPECT_EQ((std::set<Bytes>{intermediate, subCa}), userStore("CA"));
  EXPECT_TRUE(filesIn(temp).empty());
  const Bytes rootFile = testpki::readFile(quarveltest::machineRoot() + "/crypt/user/root.p7b");
  const Bytes caFile = testpki::readFile(quarveltest::machineRoot() + "/crypt/user/ca.p7b");

  EXPECT_EQ(0, runCaldrin());
  EXPECT_EQ(rootFile, testpki::readFile(quarveltest::machineRoot() + "/crypt/user/root.p7b"));
  EXPECT_EQ(caFile, testpki::readFile(quarveltest::machineRoot() + "/crypt/user/ca.p7b"));
  EXPECT_TRUE(filesIn(temp).empty());
  const std::vector<certnet::Request> requests = server.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(kBundlePath, requests[0].path);
}

TEST_F(CaldrinTest, WithoutANetworkNothingIsInstalledAndTheProgramStillEndsWithZero) {
  {
    certnet::FileServer gone;
    setenv("CALDRIN_TEST_PORT", std::to_string(gone.port()).c_str(), 1);
  }
  EXPECT_EQ(0, runCaldrin());
  EXPECT_TRUE(userStore("Root").empty());
  EXPECT_TRUE(userStore("CA").empty());
  EXPECT_TRUE(filesIn(temp).empty());
}

TEST_F(CaldrinTest, WhatIsNotSoundInstallsNothing) {
  const Bytes lookalike = testpki::makeCertificate(  // issuer and subject render alike, differ in their encoding
      {kitName("Look Alike"), {{"C", "AT", true}, {"O", "Quarvel Test", true}, {"CN", "Look Alike"}},
       kit.path("rsa2048.key"), kit.path("rsa2048.key"), 8002});
  const Bytes brokenRoot = testpki::withBrokenSignature(
      testpki::makeCertificate({kitName("Broken Root"), kitName("Broken Root"), kit.path("p384.key"), kit.path("p384.key"), 8003}));
  const Bytes childOfBroken = testpki::makeCertificate(
      {kitName("Broken Child"), kitName("Broken Root"), kit.path("p224.key"), kit.path("p384.key"), 8004});
  certnet::Reply truncated;
  truncated.bytes = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bundle.size()) + "\r\n\r\n" +
                    asText(bundle).substr(0, bundle.size() / 2);
  struct Row {
    const char* what;
    certnet::Reply reply;
    bool trusted;
  } rows[] = {
      {"a status of 404", certnet::httpReply(404, "<html>Not Found</html>", "text/html"), true},
      {"an HTML page served as found", certnet::httpReply(200, "<html><body>Wartung</body></html>", "text/html"), true},
      {"a bundle cut short", truncated, true},
      {"a root whose names only look alike", certnet::httpReply(200, asText(testpki::certsOnlyBundle({lookalike}))), true},
      {"a root whose self-signature is broken",
       certnet::httpReply(200, asText(testpki::certsOnlyBundle({brokenRoot, childOfBroken}))), true},
      {"a server whose certificate does not verify", certnet::httpReply(200, asText(bundle)), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (!row.trusted) distrustKitRoot();
    server.put(kBundlePath, row.reply);
    EXPECT_EQ(0, runCaldrin());
    EXPECT_TRUE(userStore("Root").empty());
    EXPECT_TRUE(userStore("CA").empty());
    EXPECT_TRUE(filesIn(temp).empty());
  }
}

// A server that sends without end, announced or not: the download stops past its
// bound, nothing is installed and nothing stays on the disk.
TEST_F(CaldrinTest, AnEndlessBodyIsStoppedAndLeavesNothing) {
  certnet::Reply unannounced;
  unannounced.bytes = "HTTP/1.0 200 OK\r\nContent-Type: application/pkcs7-mime\r\n\r\n" + asText(bundle);
  unannounced.endless = true;
  certnet::Reply announced = unannounced;
  announced.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n" + asText(bundle);
  for (const certnet::Reply& reply : {unannounced, announced}) {
    server.put(kBundlePath, reply);
    EXPECT_EQ(0, runCaldrin());
    EXPECT_TRUE(userStore("Root").empty());
    EXPECT_TRUE(userStore("CA").empty());
    EXPECT_TRUE(filesIn(temp).empty());
  }
  // Also where no dialog is shown: the bound belongs to the callback.
  server.put(kBundlePath, unannounced);
  const std::string target = temp + "/download.p7b";
  EXPECT_FALSE(downloadFile(server.url(kBundlePath).c_str(), target.c_str(), "", nullptr, GetModuleHandleA(nullptr), 9,
                            1003));
  EXPECT_TRUE(filesIn(temp).empty());
}

// The server's look at the desktop when the request arrives: the download's dialog.
class WatchingServer {
 public:
  explicit WatchingServer(const certnet::TlsIdentity* tls, const Bytes& body)
      : server([this, body](const certnet::Request&) {
          std::lock_guard<std::mutex> lock(seenLock);
          for (const wt::WindowInfo& w : wt::topLevelWindows())
            if (w.processId == static_cast<DWORD>(getpid())) seen.push_back(w);
          return certnet::httpReply(200, asText(body));
        }, tls) {}
  std::mutex seenLock;
  std::vector<wt::WindowInfo> seen;
  certnet::LoopbackServer server;  // last: it stops before what its handler uses goes
};

TEST_F(CaldrinTest, TheDialogShowsWhileTheDownloadRunsAndNotWithoutAStatusText) {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  const std::string target = temp + "/download.p7b";
  WatchingServer watching(&identity, bundle);
  const std::string url = watching.server.url(kBundlePath);
  ASSERT_TRUE(downloadFile(url.c_str(), target.c_str(), kStatusText, nullptr, module, 9, 1003));
  EXPECT_EQ(bundle, testpki::readFile(target));
  ASSERT_EQ(1u, watching.seen.size());
  EXPECT_EQ(kStatusText, watching.seen[0].title);
  EXPECT_TRUE(watching.seen[0].visible);  // shown at the first report, before any data
  EXPECT_FALSE(IsWindow(watching.seen[0].hwnd));
  EXPECT_EQ(nullptr, g_downloadDialog);

  watching.seen.clear();
  ASSERT_TRUE(downloadFile(url.c_str(), target.c_str(), "", nullptr, module, 9, 1003));
  EXPECT_TRUE(watching.seen.empty());
  EXPECT_EQ(bundle, testpki::readFile(target));
}

TEST_F(CaldrinTest, AFailedDownloadLeavesNoFile) {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  certnet::Reply silent;
  silent.silent = true;
  server.put("/silent", silent);
  server.put("/missing", certnet::httpReply(404, "no"));
  platform::urlmontest::setDownloadWaits(1000, 1000);
  const std::string target = temp + "/download.p7b";
  for (const char* path : {"/silent", "/missing"}) {
    SCOPED_TRACE(path);
    testpki::writeFile(target, Bytes{'o', 'l', 'd'});
    EXPECT_FALSE(downloadFile(server.url(path).c_str(), target.c_str(), kStatusText, nullptr, module, 9, 1003));
    EXPECT_TRUE(filesIn(temp).empty());
    for (const wt::WindowInfo& w : wt::topLevelWindows()) EXPECT_NE(kStatusText, w.title);
  }
}

// The callback and the dialog as the download drives them: the bar's range and steps
// for totals of 0, 1000 and 100 000 bytes (beyond the range message's 16 bits).
TEST(CaldrinProgress, TheBarFollowsTheBytesWithinItsRange) {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  struct Row {
    ULONG total;
    LRESULT halfway;  // the bar's position after half the bytes
    LRESULT end;      // and after all of them
    int high;         // the range's top
  } rows[] = {{0, 0, 0, 0}, {1000, 500, 1000, 1000}, {100000, 25000, 50000, 50000}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.total);
    CDownloadStatusCallback callback;
    CDownloadProgressDialog dialog;
    dialog.create(nullptr, kStatusText, 9, 1003, module);
    ASSERT_NE(nullptr, dialog.getWindow());
    EXPECT_FALSE(IsWindowVisible(dialog.getWindow()));
    g_downloadDialog = &dialog;
    callback.AddRef();
    HWND bar = GetDlgItem(dialog.getWindow(), 1003);
    EXPECT_EQ(S_OK, callback.OnProgress(0, row.total, BINDSTATUS_FINDINGRESOURCE, u"127.0.0.1"));
    EXPECT_TRUE(IsWindowVisible(dialog.getWindow()));
    EXPECT_EQ(S_OK, callback.OnProgress(0, row.total, BINDSTATUS_BEGINDOWNLOADDATA, u""));
    EXPECT_EQ(row.high, static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
    if (row.total > 0) {
      EXPECT_EQ(S_OK, callback.OnProgress(row.total / 2, row.total, BINDSTATUS_DOWNLOADINGDATA, u""));
      EXPECT_EQ(row.halfway, SendMessageA(bar, PBM_GETPOS, 0, 0));
      if (row.total == 1000) {
        EXPECT_TRUE(quarveltest::saveWindowPicture(dialog.getWindow(), PICTURE_DIR, "caldrin-progress"));
      }
      EXPECT_EQ(S_OK, callback.OnProgress(row.total, row.total, BINDSTATUS_ENDDOWNLOADDATA, u""));
      EXPECT_EQ(row.end, SendMessageA(bar, PBM_GETPOS, 0, 0));
    }
    // The download's Release closes the window; the dialog's end finds nothing left.
    callback.Release();
    EXPECT_EQ(nullptr, dialog.getWindow());
    g_downloadDialog = nullptr;
  }
  // Without a dialog the callback only answers.
  CDownloadStatusCallback callback;
  EXPECT_EQ(S_OK, callback.OnProgress(0, kMaxDownloadBytes, BINDSTATUS_BEGINDOWNLOADDATA, u""));
  EXPECT_EQ(S_OK, callback.OnProgress(kMaxDownloadBytes, kMaxDownloadBytes, BINDSTATUS_DOWNLOADINGDATA, u""));
  EXPECT_EQ(S_OK, callback.OnProgress(10, 20, BINDSTATUS_DOWNLOADINGDATA, u""));
  void* object = nullptr;
  EXPECT_EQ(S_OK, callback.QueryInterface(IID_IBindStatusCallback, &object));
  EXPECT_EQ(static_cast<IBindStatusCallback*>(&callback), object);
  EXPECT_EQ(E_NOINTERFACE, callback.QueryInterface(IID_IBinding, &object));
  EXPECT_EQ(nullptr, object);
}

// The callback's bounds: more bytes than allowed, arrived or announced, and time
// beyond the deadline stop the download, whichever report brings them.
TEST(CaldrinProgress, TheCallbackStopsADownloadBeyondItsBounds) {
  const ULONG over = kMaxDownloadBytes + 1;
  const struct {
    const char* what;
    ULONG progress, total, status;
  } rows[] = {
      {"arrived beyond the bound, length unknown", over, 0, BINDSTATUS_DOWNLOADINGDATA},
      {"arrived beyond the bound, at the end", over, over, BINDSTATUS_ENDDOWNLOADDATA},
      {"announced beyond the bound", 0, over, BINDSTATUS_BEGINDOWNLOADDATA},
      {"announced while finding the host", 0, over, BINDSTATUS_FINDINGRESOURCE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    CDownloadStatusCallback callback;
    EXPECT_EQ(E_ABORT, callback.OnProgress(row.progress, row.total, row.status, u""));
  }
  // With a dialog as well, and before the bar moves a step.
  CDownloadProgressDialog dialog;
  dialog.create(nullptr, kStatusText, 9, 1003, GetModuleHandleA(nullptr));
  g_downloadDialog = &dialog;
  CDownloadStatusCallback withDialog;
  EXPECT_EQ(S_OK, withDialog.OnProgress(0, 0, BINDSTATUS_BEGINDOWNLOADDATA, u""));
  EXPECT_EQ(E_ABORT, withDialog.OnProgress(over, 0, BINDSTATUS_DOWNLOADINGDATA, u""));
  EXPECT_EQ(0, SendMessageA(GetDlgItem(dialog.getWindow(), 1003), PBM_GETPOS, 0, 0));
  g_downloadDialog = nullptr;
  // Past its time, every report stops it; within, a report passes.
  CDownloadStatusCallback patient;
  EXPECT_EQ(S_OK, patient.OnProgress(10, 20, BINDSTATUS_DOWNLOADINGDATA, u""));
  CDownloadStatusCallback hasty(kMaxDownloadBytes, std::chrono::milliseconds(1));
  EXPECT_TRUE(quarveltest::eventually(
      [&] { return hasty.OnProgress(10, 20, BINDSTATUS_DOWNLOADINGDATA, u"") == E_ABORT; }));
}

}  // namespace
