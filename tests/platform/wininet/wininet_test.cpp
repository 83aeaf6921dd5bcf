// WinINet over libcurl against a scripted server on a free loopback port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <windows.h>
#include <wininet.h>

#include "ScriptedHttpServer.h"
#include "platform/machine.h"
#include "platform/wininet_test.h"

namespace {

// One POST through the calls a plug-in makes, step by step.
class Post {
 public:
  Post(INTERNET_PORT port, DWORD timeoutMs) {
    internet_ = InternetOpenA("Agent/2", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetSetOptionA(internet_, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
    connection_ = InternetConnectA(internet_, "localhost", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    request_ = HttpOpenRequestA(connection_, "POST", "/", "HTTP/1.0", nullptr, nullptr,
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
  }
  ~Post() {
    InternetCloseHandle(request_);
    InternetCloseHandle(connection_);
    InternetCloseHandle(internet_);
  }
  BOOL send(DWORD total) {
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = total;
    return HttpSendRequestExA(request_, &buffers, nullptr, 0, 0);
  }
  BOOL write(const std::string& bytes, DWORD* written) {
    return InternetWriteFile(request_, bytes.data(), static_cast<DWORD>(bytes.size()), written);
  }
  BOOL end() { return HttpEndRequestA(request_, nullptr, 0, 0); }
  // The whole body; false when a read failed.
  bool readAll(std::string* body) {
    char buffer[1000];
    for (;;) {
      DWORD got = 0;
      if (!InternetReadFile(request_, buffer, sizeof buffer, &got)) return false;
      if (got == 0) return true;
      body->append(buffer, got);
    }
  }
  HINTERNET connection() const { return connection_; }

 private:
  HINTERNET internet_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
};

TEST(WinInet, PostInPiecesAndReadTheBody) {
  slserver::ScriptedHttpServer server;
  slserver::Reply reply;
  reply.body = std::string(2500, 'r');
  reply.status = 404;  // the status is not the caller's business here
  reply.pieces = {10, 1990};
  server.setReply(reply);
  Post post(server.port(), 5000);
  ASSERT_NE(post.connection(), nullptr);
  ASSERT_TRUE(post.send(5));
  DWORD written = 99;
  EXPECT_TRUE(post.write("", &written));  // a write of nothing succeeds
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(post.write("ab", &written));
  EXPECT_TRUE(post.write("cde", &written));
  EXPECT_EQ(written, 3u);
  ASSERT_TRUE(post.end());
  std::string body;
  EXPECT_TRUE(post.readAll(&body));
  EXPECT_EQ(body, reply.body);
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(server.requests()[0].body, "abcde");
  EXPECT_EQ(server.requests()[0].headers.size(), 4u);  // Host, User-Agent, Content-Length, Pragma
  EXPECT_EQ(server.requests()[0].headers.at("pragma"), "no-cache");
  EXPECT_EQ(server.requests()[0].headers.at("user-agent"), "Agent/2");
}

TEST(WinInet, ConnectIsLazyAndARefusalFailsTheSend) {
  // A port nobody listens on: bound, never listened, then closed.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  Post post(ntohs(address.sin_port), 0);
  EXPECT_NE(post.connection(), nullptr);  // nothing connected yet
  EXPECT_FALSE(post.send(3));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
}

TEST(WinInet, EndFailsOnAShortBodyATimeOutAndACloseBeforeTheStatusLine) {
  slserver::ScriptedHttpServer server;
  {
    Post post(server.port(), 5000);
    ASSERT_TRUE(post.send(4));
    DWORD written = 0;
    EXPECT_TRUE(post.write("abc", &written));
    EXPECT_FALSE(post.end());
  }
  {
    slserver::Reply silent;
    silent.silent = true;
    server.setReply(silent);
    Post post(server.port(), 200);
    ASSERT_TRUE(post.send(0));
    EXPECT_FALSE(post.end());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  }
  {
    slserver::ScriptedHttpServer hangingUp;  // the first one still holds the silent request
    slserver::Reply hangUp;
    hangUp.status = 0;
    hangingUp.setReply(hangUp);
    Post post(hangingUp.port(), 5000);
    ASSERT_TRUE(post.send(0));
    EXPECT_FALSE(post.end());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_SERVER_RESPONSE));
  }
}

TEST(WinInet, ReadFailsWhenTheBodyIsCutShort) {
  slserver::ScriptedHttpServer server;
  slserver::Reply reply;
  reply.body = std::string(3000, 'x');
  reply.closeAfter = 1000;
  server.setReply(reply);
  Post post(server.port(), 5000);
  ASSERT_TRUE(post.send(0));
  ASSERT_TRUE(post.end());
  std::string body;
  EXPECT_FALSE(post.readAll(&body));
  EXPECT_EQ(body.size(), 1000u);
}

TEST(WinInet, TimeOutZeroWaitsAndTheTestCapShortensIt) {
  slserver::ScriptedHttpServer server;
  slserver::Reply silent;
  silent.silent = true;
  server.setReply(silent);
  platform::inettest::clearReceiveTimeoutsSet();
  platform::inettest::capReceiveWait(100);
  Post post(server.port(), 0);
  ASSERT_TRUE(post.send(0));
  EXPECT_FALSE(post.end());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  platform::inettest::capReceiveWait(0);
  EXPECT_EQ(platform::inettest::receiveTimeoutsSet(), std::vector<DWORD>{0});
}

// The machine's hosts file names the addresses of "localhost" in the order they are
// tried: one that refuses gives way to the next, whichever family comes first; only
// when every one refuses does the send fail.
TEST(WinInet, LocalhostTriesEachAddressTheHostsFileGives) {
  const std::filesystem::path hosts = platform::mapPath("C:\\WINDOWS\\system32\\drivers\\etc\\hosts");
  std::filesystem::create_directories(hosts.parent_path());
  struct Row {
    const char* hostsFile;  // NULL: no hosts file, the host's resolver answers
    const char* listening;  // where the server is
    bool reached;
  } rows[] = {
      {"::1 localhost\n127.0.0.1 localhost\n", "127.0.0.1", true},
      {"::1 localhost\n127.0.0.1 localhost\n", "::1", true},
      {"127.0.0.1 localhost\n::1 localhost\n", "::1", true},
      {"# a comment\n::1 ip6-localhost LocalHost\n127.0.0.1 other\n", "::1", true},
      {"::1 localhost\n", "127.0.0.1", false},
      {nullptr, "127.0.0.1", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.hostsFile ? row.hostsFile : "(no hosts file)") + " / " + row.listening);
    std::filesystem::remove(hosts);
    if (row.hostsFile) std::ofstream(hosts) << row.hostsFile;
    slserver::ScriptedHttpServer server(0, row.listening);
    slserver::Reply reply;
    reply.body = "answer";
    server.setReply(reply);
    Post post(server.port(), 5000);
    if (!row.reached) {
      EXPECT_FALSE(post.send(0));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
      EXPECT_TRUE(server.requests().empty());
      continue;
    }
    ASSERT_TRUE(post.send(2));
    DWORD written = 0;
    EXPECT_TRUE(post.write("hi", &written));
    ASSERT_TRUE(post.end());
    std::string body;
    EXPECT_TRUE(post.readAll(&body));
    EXPECT_EQ(body, "answer");
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(server.requests()[0].body, "hi");
    EXPECT_EQ(server.requests()[0].headers.at("host"), "localhost:" + std::to_string(server.port()));
  }
  std::filesystem::remove(hosts);
}

// The receive time-out bounds each wait for the server, not the whole reply: a reply
// that comes late and in pieces with pauses, each shorter than the time-out, is read
// in full although it takes longer than the time-out altogether.
TEST(WinInet, ReceiveTimeOutIsPerWaitNotForTheWholeReply) {
  slserver::ScriptedHttpServer server;
  slserver::Reply slow;
  slow.body = std::string(6000, 's');
  slow.pieces = {750};
  slow.delayMs = 200;
  slow.pauseMs = 200;
  server.setReply(slow);
  Post post(server.port(), 1000);  // 8 waits of 200 ms: 1.6 s in all
  ASSERT_TRUE(post.send(0));
  ASSERT_TRUE(post.end());
  std::string body;
  EXPECT_TRUE(post.readAll(&body));
  EXPECT_EQ(body, slow.body);
}

}  // namespace
