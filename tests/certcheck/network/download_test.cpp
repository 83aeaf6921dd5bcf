// The HTTP/1.0 downloads, their reply parsers and the import of a bundle into
// the user's stores, against servers on 127.0.0.1 (plain and TLS, a capturing
// proxy and the real tinyproxy).
#include <gtest/gtest.h>

#include <dirent.h>

#include <openssl/bio.h>

#include <cstring>
#include <string>
#include <vector>

#include "NetworkTestSupport.h"
#include "certcheck/CertificateImport.h"
#include "certcheck/Download.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "foundation/util/VOQ_String.h"
#include "platform/machine.h"

using certnet::FileServer;
using certnet::httpReply;
using certnet::Reply;

namespace {

const testpki::Kit& kit() { return testpki::Kit::standard(); }

std::string temporaryPath(const char* name) {
  char dir[1024];
  GetTempPathA(sizeof dir, dir);
  return std::string(dir) + name;
}

std::string fileText(const std::string& path) {
  FILE* f = nullptr;
  if (fopen_s(&f, path.c_str(), "rb") != 0 || !f) return "<missing>";
  std::string s;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  fclose(f);
  return s;
}

bool get(const std::string& url, const std::string& file) { return getFileFromURL(VOQ_String(url.c_str()), VOQ_String(file.c_str())); }

VOQ_ProxySettings proxyAt(uint16_t port, int auth = 0, const char* user = nullptr, const char* password = nullptr) {
  VOQ_ProxySettings p;
  p.setHost("127.0.0.1");
  p.setPort(port);
  p.setUseAuthentication(auth);
  p.setUser(user);
  p.setPassword(password);
  return p;
}

}  // namespace

TEST(StatusLine, Table) {
  struct Row {
    const char* text;
    bool ok;
    int status;
  } rows[] = {
      {"HTTP/1.0 200 OK\r\n", true, 200},
      {"HTTP/1.1 404 Not Found\r\n", true, 404},
      {"HTTP/1.0 200", false, -1},
      {"HTTP/1.0 2x0 OK", false, 2},
      {"", false, -1},
      {"HTTP/1.0", false, -1},
      {"HTTP/1.0 200\r\n", true, 200},
  };
  for (const Row& row : rows) {
    std::vector<char> text(row.text, row.text + strlen(row.text) + 1);
    int status = -1;
    EXPECT_EQ(row.ok, parseStatusLine(status, text.data())) << row.text;
    EXPECT_EQ(row.status, status) << row.text;
  }
  // The reason's trailing white space is cut in place; the other name parses alike.
  char text[] = "HTTP/1.0 302 Found \r\n";
  int status = 0;
  ASSERT_TRUE(parseHTTPStatusLine(status, text));
  EXPECT_STREQ("Found", text + 13);
}

TEST(ContentLength, Table) {
  struct Row {
    const char* reply;
    int value;
  } rows[] = {
      {"HTTP/1.0 200 OK\r\nCONTENT-LENGTH:77\r\n\r\nbody", 77},
      {"HTTP/1.0 200 OK\r\nContent-Length:   1234\r\n\r\n", 1234},
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nX: y\r\ncontent-length: 9\r\n\r\n", 9},
      {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nContent-Length: 5\r\n", 0},
      {"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", -5},
      {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999\r\n\r\n", 2147483647},
  };
  for (const Row& row : rows) {
    BIO* bio = BIO_new(BIO_s_mem());
    BIO_write(bio, row.reply, static_cast<int>(strlen(row.reply)));
    EXPECT_EQ(row.value, readContentLength(bio)) << row.reply;
    BIO_free(bio);
  }
  // The BIO is left at the body.
  BIO* bio = BIO_new(BIO_s_mem());
  const char reply[] = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody";
  BIO_write(bio, reply, sizeof reply - 1);
  EXPECT_EQ(4, parseContentLength(bio));
  char body[8] = {};
  EXPECT_EQ(4, BIO_read(bio, body, sizeof body));
  EXPECT_STREQ("body", body);
  BIO_free(bio);
}

TEST(Download, DirectBodyIsByteExactAndTheRequestIsAbsoluteForm) {
  FileServer server;
  const std::string body("line\nzero\0byte\r\n\0", 17);
  server.putFile("/x", body);
  const std::string file = temporaryPath("direct.bin");
  ASSERT_TRUE(get(server.url("/x"), file));
  EXPECT_EQ(body, fileText(file));
  ASSERT_EQ(1u, server.requests().size());
  EXPECT_EQ("GET " + server.url("/x") + " HTTP/1.0\r\n\r\n", server.requests()[0].raw);
}

TEST(Download, RepliesThatFail) {
  certnet::ShortTimeouts shortTimeouts;
  FileServer server;
  const std::string file = temporaryPath("hostile.bin");
  struct Row {
    const char* name;
    Reply reply;
    bool ok;
    std::string expected;
  };
  Reply splitStatus;
  splitStatus.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  splitStatus.pieces = {6, 4, 100};
  // Exactly 1024 bytes in the first read: status, header and body.
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: ";
  std::string exact = head + "0000\r\n\r\n";
  const size_t bodySize = 1024 - exact.size();
  exact = head + std::to_string(bodySize) + "\r\n\r\n";
  exact += std::string(1024 - exact.size(), 'b');
  Reply exact1024;
  exact1024.bytes = exact;
  Reply negative;
  negative.bytes = "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\nabc";
  Reply huge;
  huge.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\nabc";
  Reply longer;
  longer.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc";
  Reply noLength;
  noLength.bytes = "HTTP/1.0 200 OK\r\n\r\nabc";
  Reply silent;
  silent.silent = true;
  Reply endless;
  endless.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n";
  endless.endless = true;
  Reply stalls;
  stalls.bytes = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\na";
  stalls.keepOpen = true;
  Reply notFound = httpReply(404, "abc");
  Reply garbage;
  garbage.bytes = std::string(4000, '\x01');
  const Row rows[] = {
      {"status line in two writes", splitStatus, true, "abc"},
      {"first read of exactly 1024 bytes", exact1024, true, std::string(bodySize, 'b')},
      {"negative length", negative, false, ""},
      {"huge length", huge, false, ""},
      {"length beyond the body", longer, false, ""},
      {"no length", noLength, false, ""},
      {"silent server", silent, false, ""},
      {"endless body", endless, false, ""},
      {"body that stalls", stalls, false, ""},
      {"status 404", notFound, false, ""},
      {"no status line", garbage, false, ""},
  };
  for (const Row& row : rows) {
    server.putFile("/x", "");
    server.put("/x", row.reply);
    EXPECT_EQ(row.ok, get(server.url("/x"), file)) << row.name;
    if (row.ok) {
      EXPECT_EQ(row.expected, fileText(file)) << row.name;
    }
  }
}

TEST(Download, UnsafeOrOtherUrlsFailAtOnce) {
  FileServer server;
  server.putFile("/x", "abc");
  const std::string file = temporaryPath("refused.bin");
  VOQ_ProxySettings http = proxyAt(server.port());
  VOQ_ProxySettings https = proxyAt(server.port());
  VOQ_String name;
  EXPECT_FALSE(downloadToTempFile(nullptr, nullptr, VOQ_String("ftp://127.0.0.1/x"), name));
  EXPECT_FALSE(downloadToTempFile(&http, &https, VOQ_String("ftp://127.0.0.1/x"), name));
  EXPECT_FALSE(get(server.url("/x\r\nX-Injected: 1"), file));
  EXPECT_FALSE(get(server.url("/" + std::string(1100, 'a')), file));
  EXPECT_FALSE(downloadFileThroughProxy(&http, VOQ_String((server.url("/x") + "\r\nX: y").c_str()), VOQ_String(file.c_str())));
  EXPECT_EQ(0u, server.requests().size());
}

TEST(Download, HttpProxyRequestBytes) {
  FileServer origin;
  origin.putFile("/bundle", "content");
  certnet::CaptureProxy proxy;
  const std::string url = origin.url("/bundle");
  struct Row {
    int flag;
    const char* user;
    const char* password;
    std::string authorization;
  } rows[] = {
      {0, "user", "secret", ""},
      {1, "user", "secret", "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"},
      {1, "user", "", "Proxy-Authorization: Basic dXNlcjo=\r\n"},
      {2, "user", "secret", ""},
      {0x101, "user", "secret", "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"},
  };
  for (const Row& row : rows) {
    VOQ_ProxySettings http = proxyAt(proxy.port(), row.flag, row.user, row.password);
    VOQ_ProxySettings https = proxyAt(1);
    VOQ_String name;
    ASSERT_TRUE(downloadToTempFile(&http, &https, VOQ_String(url.c_str()), name)) << row.flag;
    EXPECT_EQ("content", fileText(name.getData()));
    DeleteFileA(name.getData());
    EXPECT_EQ("GET " + url + " HTTP/1.0\r\n" + row.authorization + "\r\n", proxy.requests().back().raw);
  }
  // Credentials too long to send are refused, not cut.
  VOQ_ProxySettings http = proxyAt(proxy.port(), 1, std::string(800, 'u').c_str(), "p");
  EXPECT_FALSE(downloadFileThroughProxy(&http, VOQ_String(url.c_str()), VOQ_String(temporaryPath("long").c_str())));
}

class TlsDownload : public ::testing::Test {
 protected:
  void SetUp() override { identity_ = certnet::kitTlsIdentity(kit()); }
  certnet::TlsIdentity identity_;
};

TEST_F(TlsDownload, DirectHttpsVerifiesTheServer) {
  FileServer origin(&identity_);
  origin.putFile("/bundle", "secret content");
  const std::string file = temporaryPath("tls.bin");
  // Without the kit's root in the user's Root store the server does not verify.
  EXPECT_FALSE(get(origin.url("/bundle"), file));
  EXPECT_EQ(0u, origin.requests().size());
  ASSERT_TRUE(certnet::addToUserStore("Root", kit().certificate("root")));
  ASSERT_TRUE(get(origin.url("/bundle"), file));
  EXPECT_EQ("secret content", fileText(file));
  // The certificate names 127.0.0.1 and localhost, not another host.
  EXPECT_TRUE(get("https://localhost:" + std::to_string(origin.port()) + "/bundle", file));
}

TEST_F(TlsDownload, HttpsProxyTunnel) {
  ASSERT_TRUE(certnet::addToUserStore("Root", kit().certificate("root")));
  FileServer origin(&identity_);
  origin.putFile("/bundle", "through the tunnel");
  certnet::CaptureProxy proxy;
  VOQ_ProxySettings http = proxyAt(1);
  VOQ_ProxySettings https = proxyAt(proxy.port(), 1, "u", "p");
  const std::string url = origin.url("/bundle");
  VOQ_String name;
  ASSERT_TRUE(downloadToTempFile(&http, &https, VOQ_String(url.c_str()), name));
  EXPECT_EQ("through the tunnel", fileText(name.getData()));
  DeleteFileA(name.getData());
  ASSERT_EQ(1u, proxy.requests().size());
  EXPECT_EQ("CONNECT 127.0.0.1:" + std::to_string(origin.port()) + " HTTP/1.0\r\nProxy-Authorization: Basic dTpw\r\n\r\n",
            proxy.requests()[0].raw);
  ASSERT_EQ(1u, origin.requests().size());
  EXPECT_EQ("GET " + url + " HTTP/1.0\r\n\r\n", origin.requests()[0].raw);

  // An answer in pieces is read up to its empty line before TLS starts.
  proxy.setConnectAnswer("HTTP/1.0 200 Connection established\r\nX-Proxy: yes\r\n\r\n", {5, 20, 3, 100});
  ASSERT_TRUE(downloadToTempFile(&http, &https, VOQ_String(url.c_str()), name));
  DeleteFileA(name.getData());

  // 407: false before any handshake.
  proxy.setConnectAnswer("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
  const int handshakes = origin.handshakes();
  EXPECT_FALSE(downloadToTempFile(&http, &https, VOQ_String(url.c_str()), name));
  EXPECT_EQ(handshakes, origin.handshakes());
  DeleteFileA(name.getData());
}

TEST_F(TlsDownload, ThroughTinyproxy) {
  ASSERT_TRUE(certnet::addToUserStore("Root", kit().certificate("root")));
  FileServer plain;
  plain.putFile("/file", "plain body");
  FileServer tls(&identity_);
  tls.putFile("/file", "tls body");
  certnet::TinyProxy proxy("alice", "wonder");
  VOQ_ProxySettings http = proxyAt(proxy.port(), 1, "alice", "wonder");
  VOQ_ProxySettings https = proxyAt(proxy.port(), 1, "alice", "wonder");
  VOQ_String name;
  ASSERT_TRUE(downloadToTempFile(&http, &https, VOQ_String(plain.url("/file").c_str()), name));
  EXPECT_EQ("plain body", fileText(name.getData()));
  DeleteFileA(name.getData());
  ASSERT_TRUE(downloadToTempFile(&http, &https, VOQ_String(tls.url("/file").c_str()), name));
  EXPECT_EQ("tls body", fileText(name.getData()));
  DeleteFileA(name.getData());
  // Wrong credentials: tinyproxy answers 407.
  VOQ_ProxySettings wrong = proxyAt(proxy.port(), 1, "alice", "guess");
  EXPECT_FALSE(downloadToTempFile(&wrong, &wrong, VOQ_String(plain.url("/file").c_str()), name));
  DeleteFileA(name.getData());
  EXPECT_FALSE(downloadToTempFile(&wrong, &wrong, VOQ_String(tls.url("/file").c_str()), name));
  DeleteFileA(name.getData());
}

namespace {

int temporaryFilesWithPrefix(const char* prefix) {
  char dir[1024];
  GetTempPathA(sizeof dir, dir);
  int count = 0;
  if (DIR* d = opendir(platform::mapPath(dir).c_str())) {
    while (dirent* e = readdir(d))
      if (strncmp(e->d_name, prefix, strlen(prefix)) == 0) ++count;
    closedir(d);
  }
  return count;
}

}  // namespace

TEST(RootImport, BundleGoesIntoRootAndCa) {
  FileServer server;
  const testpki::Bytes root = kit().certificate("root");
  const testpki::Bytes intermediate = kit().certificate("int");
  // The intermediate first: the order of the bundle does not matter.
  server.putFile("/bundle.p7b", certnet::bundleOf({intermediate, root}));
  const VOQ_String url(server.url("/bundle.p7b").c_str());
  ASSERT_TRUE(installRootCertificatesFromURL(nullptr, nullptr, url));
  EXPECT_EQ(std::vector<testpki::Bytes>{root}, certnet::userStore("Root"));
  EXPECT_EQ(std::vector<testpki::Bytes>{intermediate}, certnet::userStore("CA"));
  EXPECT_EQ(0, temporaryFilesWithPrefix("voq"));
  // A second import changes nothing and still succeeds.
  ASSERT_TRUE(installRootCertificatesFromURL(nullptr, nullptr, url));
  EXPECT_EQ(std::vector<testpki::Bytes>{root}, certnet::userStore("Root"));
  EXPECT_EQ(std::vector<testpki::Bytes>{intermediate}, certnet::userStore("CA"));
}

TEST(RootImport, WhatIsRefused) {
  FileServer server;
  // An error page served with 200.
  server.put("/page", httpReply(200, "<html><body>Not here</body></html>", "text/html"));
  EXPECT_FALSE(installRootCertificatesFromURL(nullptr, nullptr, VOQ_String(server.url("/page").c_str())));
  // A self-issued certificate whose signature does not verify.
  testpki::Bytes forged = kit().certificate("root");
  forged[forged.size() - 10] ^= 0x55;
  server.putFile("/forged", certnet::bundleOf({forged}));
  EXPECT_FALSE(installRootCertificatesFromURL(nullptr, nullptr, VOQ_String(server.url("/forged").c_str())));
  // An intermediate whose root is not trusted.
  server.putFile("/int", certnet::bundleOf({kit().certificate("int"), kit().certificate("rsa2048")}));
  EXPECT_FALSE(installRootCertificatesFromURL(nullptr, nullptr, VOQ_String(server.url("/int").c_str())));
  EXPECT_TRUE(certnet::userStore("Root").empty());
  EXPECT_TRUE(certnet::userStore("CA").empty());
  // A download that fails imports nothing.
  EXPECT_FALSE(installRootCertificatesFromURL(nullptr, nullptr, VOQ_String(server.url("/missing").c_str())));
  EXPECT_EQ(0, temporaryFilesWithPrefix("voq"));
  // Once the root is trusted, the intermediate and the signer chain to it.
  ASSERT_TRUE(certnet::addToUserStore("Root", kit().certificate("root")));
  EXPECT_TRUE(installRootCertificatesFromURL(nullptr, nullptr, VOQ_String(server.url("/int").c_str())));
  EXPECT_EQ(2u, certnet::userStore("CA").size());
}

TEST(RootImport, DownloadToTempFileHandsOutItsName) {
  FileServer server;
  server.putFile("/f", "abc");
  VOQ_String name;
  ASSERT_TRUE(downloadToTempFile(nullptr, nullptr, VOQ_String(server.url("/f").c_str()), name));
  EXPECT_NE(nullptr, strstr(name.getData(), "dl_"));
  EXPECT_EQ("abc", fileText(name.getData()));
  DeleteFileA(name.getData());
  // A failed direct download leaves no file behind (the target is deleted first).
  ASSERT_FALSE(downloadToTempFile(nullptr, nullptr, VOQ_String(server.url("/none").c_str()), name));
  EXPECT_EQ("<missing>", fileText(name.getData()));
  DeleteFileA(name.getData());
}

TEST(TempFileName, FirstFreeName) {
  FILE* f = nullptr;
  ASSERT_EQ(0, fopen_s(&f, "C:\\VOQ_TempFile_0.p7b", "wb"));
  fclose(f);
  VOQ_String name;
  ASSERT_TRUE(makeTempFileName(name, VOQ_String("p7b")));
  EXPECT_STREQ("C:\\VOQ_TempFile_1.p7b", name.getData());
  ASSERT_TRUE(makeTempFileName(name, VOQ_String("")));
  EXPECT_STREQ("C:\\VOQ_TempFile_0", name.getData());
  EXPECT_EQ(0, pumpMessages(nullptr));
}
