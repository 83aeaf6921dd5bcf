// URLDownloadToFileA: the binding status protocol a caller sees, verified https without a
// clear-text fallback, redirects, and failures that leave no file.
#include <windows.h>
#include <urlmon.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "platform/urlmon_test.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace {

using certnet::FileServer;
using certnet::Reply;

std::string narrow(LPCWSTR text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

// Records what the download tells it, in order; OnProgress answers `answer` at `abortAt`.
class Recorder : public IBindStatusCallback {
 public:
  struct Progress {
    ULONG done, total, status;
    std::string text;
  };
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = riid == IID_IUnknown || riid == IID_IBindStatusCallback ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++addRefs; }
  STDMETHODIMP_(ULONG) Release() override {
    ++releases;
    events.push_back("Release");
    return 0;
  }
  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    events.push_back("OnStartBinding");
    return binding ? S_OK : E_FAIL;
  }
  STDMETHODIMP GetPriority(LONG*) override {
    events.push_back("GetPriority");
    return S_OK;
  }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG done, ULONG total, ULONG status, LPCWSTR text) override {
    progress.push_back({done, total, status, narrow(text)});
    const std::string name = "OnProgress " + std::to_string(status);
    if (events.empty() || events.back() != name) events.push_back(name);  // pieces count once
    return status == abortAt ? E_ABORT : S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override {
    stopResult = result;
    events.push_back("OnStopBinding");
    return S_OK;
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    events.push_back("GetBindInfo");
    return flags && info && info->cbSize == sizeof(BINDINFO) ? S_OK : E_INVALIDARG;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  std::vector<std::string> events;
  std::vector<Progress> progress;
  ULONG addRefs = 0, releases = 0, abortAt = 0;
  HRESULT stopResult = 1;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file of the folder, so that a test sees a part file left behind.
std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

class UrlDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = quarveltest::makeTempDirectory("downloads");
    target = folder + "/bundle.p7b";
  }
  void TearDown() override { platform::urlmontest::setDownloadWaits(0, 0); }
  // The kit's root as a root of the machine, so that the kit's TLS server verifies.
  static void trustKitRoot(DWORD where = CERT_SYSTEM_STORE_LOCAL_MACHINE) {
    const testpki::Bytes root = testpki::Kit::standard().certificate("root");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, where, "Root");
    PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, root.data(), static_cast<DWORD>(root.size()));
    ASSERT_TRUE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_NEW, nullptr));
    CertFreeCertificateContext(c);
    CertCloseStore(store, 0);
  }
  // The kit's TLS server certificate (127.0.0.1) with its intermediate.
  static certnet::TlsIdentity identityOf(const std::string& leaf, const std::string& chain = "int") {
    const testpki::Kit& kit = testpki::Kit::standard();
    return {certnet::readText(kit.path(leaf + ".pem")) + (chain.empty() ? "" : certnet::readText(kit.path(chain + ".pem"))),
            certnet::readText(kit.path(leaf + ".key"))};
  }
  certnet::TlsIdentity identity = identityOf("tls");
  std::string folder, target;
};

TEST_F(UrlDownloadTest, TheCallbackHearsEachStepInOrder) {
  trustKitRoot();
  FileServer server(&identity);
  const std::string body(1000, 'x');
  server.putFile("/certs/bundle.p7b", body);
  Recorder recorder;
  ASSERT_EQ(S_OK, URLDownloadToFileA(nullptr, server.url("/certs/bundle.p7b").c_str(), target.c_str(), 0, &recorder));
  EXPECT_EQ(body, readFile(target));
  EXPECT_EQ((std::vector<std::string>{"GetBindInfo", "OnStartBinding", "GetPriority", "OnProgress 1", "OnProgress 2",
                                      "OnProgress 11", "OnProgress 4", "OnProgress 5", "OnProgress 6", "OnStopBinding",
                                      "Release"}),
            recorder.events);
  EXPECT_EQ(1u, recorder.addRefs);
  EXPECT_EQ(1u, recorder.releases);
  EXPECT_EQ(S_OK, recorder.stopResult);
  EXPECT_EQ("127.0.0.1", recorder.progress.front().text);
  ULONG last = 0;
  for (const Recorder::Progress& p : recorder.progress) {
    if (p.status == BINDSTATUS_BEGINDOWNLOADDATA) {
      EXPECT_EQ(0u, p.done);
    }
    if (p.status < BINDSTATUS_BEGINDOWNLOADDATA || p.status > BINDSTATUS_ENDDOWNLOADDATA) continue;
    EXPECT_EQ(1000u, p.total);
    EXPECT_GE(p.done, last);
    last = p.done;
    EXPECT_EQ(server.url("/certs/bundle.p7b"), p.text);
  }
  EXPECT_EQ(1000u, recorder.progress.back().done);
  EXPECT_EQ(std::vector<std::string>{"bundle.p7b"}, filesIn(folder));
}

TEST_F(UrlDownloadTest, RedirectsAreFollowedAndBodiesWithoutALengthKept) {
  FileServer server;
  Reply moved;
  moved.bytes = "HTTP/1.0 302 Found\r\nLocation: /new\r\nContent-Length: 5\r\n\r\nmoved";
  server.put("/old", moved);
  Reply unsized;
  unsized.bytes = "HTTP/1.0 200 OK\r\n\r\nno length, ended by the close";
  server.put("/new", unsized);
  Recorder recorder;
  ASSERT_EQ(S_OK, URLDownloadToFileA(nullptr, server.url("/old").c_str(), target.c_str(), 0, &recorder));
  EXPECT_EQ("no length, ended by the close", readFile(target));
  std::vector<std::string> redirects;
  for (const Recorder::Progress& p : recorder.progress) {
    if (p.status == BINDSTATUS_REDIRECTING) redirects.push_back(p.text);
    if (p.status == BINDSTATUS_BEGINDOWNLOADDATA || p.status == BINDSTATUS_ENDDOWNLOADDATA) {
      EXPECT_EQ(0u, p.total);
    }
  }
  EXPECT_EQ(std::vector<std::string>{server.url("/new")}, redirects);
  EXPECT_EQ(29u, recorder.progress.back().done);

  // Without a callback, and over an existing file.
  EXPECT_EQ(S_OK, URLDownloadToFileA(nullptr, server.url("/new").c_str(), target.c_str(), 0, nullptr));
  EXPECT_EQ("no length, ended by the close", readFile(target));
}

TEST_F(UrlDownloadTest, FailuresLeaveNoFileAndTellTheirCause) {
  trustKitRoot(CERT_SYSTEM_STORE_CURRENT_USER);  // the user's roots count as well
  FileServer plain;
  FileServer tls(&identity);
  // A server whose certificate chains to no root of the machine.
  // A server whose certificate is not for 127.0.0.1 (a signer's, without a host name).
  const certnet::TlsIdentity otherName = identityOf("rsa2048");
  FileServer wrongName(&otherName);
  wrongName.putFile("/b", "bundle");
  plain.put("/missing", certnet::httpReply(404, "<html>Not Found</html>", "text/html"));
  Reply cut;
  cut.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b";
  plain.put("/cut", cut);
  Reply silent;
  silent.silent = true;
  plain.put("/silent", silent);
  Reply downgrade;
  downgrade.bytes = "HTTP/1.0 301 Moved\r\nLocation: " + plain.url("/b") + "\r\nContent-Length: 0\r\n\r\n";
  tls.put("/b", downgrade);
  plain.putFile("/b", "bundle");
  std::string closedUrl;
  {
    FileServer gone;
    closedUrl = gone.url("/b");
  }
  platform::urlmontest::setDownloadWaits(1000, 1000);
  std::ofstream(target) << "what was there";
  struct Row {
    const char* what;
    std::string url;
    HRESULT result;
  } rows[] = {
      {"a status of 404", plain.url("/missing"), INET_E_DOWNLOAD_FAILURE},
      {"a body shorter than announced", plain.url("/cut"), INET_E_DOWNLOAD_FAILURE},
      {"nobody at the port", closedUrl, INET_E_CANNOT_CONNECT},
      {"a server that never answers", plain.url("/silent"), INET_E_CONNECTION_TIMEOUT},
      {"a certificate for another name", wrongName.url("/b"), INET_E_INVALID_CERTIFICATE},
      // The plain server waits for a request that never comes: nothing goes out in clear text.
      {"https to a plain server", "https://127.0.0.1:" + std::to_string(plain.port()) + "/b", INET_E_CONNECTION_TIMEOUT},
      {"a redirect from https to http", tls.url("/b"), INET_E_REDIRECT_FAILED},
      {"another scheme", "ftp://127.0.0.1/b", INET_E_UNKNOWN_PROTOCOL},
      {"no URL", "not a url at all", INET_E_INVALID_URL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Recorder recorder;
    EXPECT_EQ(row.result, URLDownloadToFileA(nullptr, row.url.c_str(), target.c_str(), 0, &recorder));
    EXPECT_EQ(row.result, recorder.stopResult);
    EXPECT_EQ(1u, recorder.releases);
    EXPECT_EQ("what was there", readFile(target));
    EXPECT_EQ(std::vector<std::string>{"bundle.p7b"}, filesIn(folder));
  }
  // No request went out over a connection that was not verified.
  EXPECT_TRUE(wrongName.requests().empty());
}

TEST_F(UrlDownloadTest, AServerIsTrustedOnlyThroughARootOfTheMachine) {
  FileServer server(&identity);
  server.putFile("/b", "bundle");
  EXPECT_EQ(INET_E_INVALID_CERTIFICATE, URLDownloadToFileA(nullptr, server.url("/b").c_str(), target.c_str(), 0, nullptr));
  EXPECT_TRUE(filesIn(folder).empty());
  EXPECT_TRUE(server.requests().empty());
  trustKitRoot();
  EXPECT_EQ(S_OK, URLDownloadToFileA(nullptr, server.url("/b").c_str(), target.c_str(), 0, nullptr));
  EXPECT_EQ("bundle", readFile(target));
}

TEST_F(UrlDownloadTest, TheCallerCancels) {
  FileServer server;
  server.putFile("/b", std::string(5000, 'y'));
  for (ULONG at : {BINDSTATUS_FINDINGRESOURCE, BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_DOWNLOADINGDATA}) {
    SCOPED_TRACE(at);
    Recorder recorder;
    recorder.abortAt = at;
    EXPECT_EQ(E_ABORT, URLDownloadToFileA(nullptr, server.url("/b").c_str(), target.c_str(), 0, &recorder));
    EXPECT_EQ(E_ABORT, recorder.stopResult);
    EXPECT_EQ(1u, recorder.releases);
    EXPECT_TRUE(filesIn(folder).empty());
  }
  EXPECT_EQ(E_INVALIDARG, URLDownloadToFileA(nullptr, nullptr, target.c_str(), 0, nullptr));
  EXPECT_EQ(E_INVALIDARG, URLDownloadToFileA(nullptr, server.url("/b").c_str(), nullptr, 0, nullptr));
}

}  // namespace
