// Windows Sockets start-up and name resolution with the machine's hosts file.
#include <ws2tcpip.h>

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace {

void writeHostsFile(const std::string& content) {
  const std::filesystem::path hosts = platform::mapPath("C:\\WINDOWS\\system32\\drivers\\etc\\hosts");
  std::filesystem::create_directories(hosts.parent_path());
  std::ofstream(hosts) << content;
}

class Winsock : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0); }
  void TearDown() override { EXPECT_EQ(WSACleanup(), 0); }
  WSADATA data;
};

// The addresses a look-up gives, as text, or the error code.
std::vector<std::string> resolve(const char* name, int family, const char* service, int* status) {
  ADDRINFOA hints = {};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  PADDRINFOA found = nullptr;
  *status = getaddrinfo(name, service, &hints, &found);
  std::vector<std::string> addresses;
  for (PADDRINFOA each = found; each != nullptr; each = each->ai_next) {
    char text[INET6_ADDRSTRLEN] = "";
    unsigned port = 0;
    if (each->ai_family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(each->ai_addr);
      inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
      port = ntohs(v4->sin_port);
    } else {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(each->ai_addr);
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      port = ntohs(v6->sin6_port);
    }
    addresses.push_back(std::string(text) + ":" + std::to_string(port));
  }
  freeaddrinfo(found);
  return addresses;
}

TEST_F(Winsock, StartUpVersions) {
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
  WSADATA other;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &other), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(3, 0), &other), 0);
  EXPECT_EQ(other.wVersion, MAKEWORD(2, 2));
  EXPECT_EQ(WSACleanup(), 0);
}

TEST_F(Winsock, NamesFromTheHostsFileThenTheResolver) {
  writeHostsFile("10.0.0.7 proxy.test\n10.0.0.8 proxy.test # two addresses\nfd00::1 proxy.test\n");
  const struct {
    const char* name;
    int family;
    const char* service;
    int status;
    std::vector<std::string> addresses;
  } cases[] = {
      {"proxy.test", AF_INET, "8080", 0, {"10.0.0.7:8080", "10.0.0.8:8080"}},
      {"Proxy.Test", AF_UNSPEC, nullptr, 0, {"10.0.0.7:0", "10.0.0.8:0", "fd00::1:0"}},
      {"proxy.test", AF_INET6, "80", 0, {"fd00::1:80"}},
      {"localhost", AF_INET, "3128", 0, {"127.0.0.1:3128"}},
      {"127.0.0.2", AF_INET, nullptr, 0, {"127.0.0.2:0"}},
      {"nohost.invalid", AF_UNSPEC, nullptr, EAI_NONAME, {}},
      {"proxy.test", AF_INET, "no-such-service", EAI_SERVICE, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int status = -1;
    EXPECT_EQ(resolve(c.name, c.family, c.service, &status), c.addresses);
    EXPECT_EQ(status, c.status);
    if (c.status != 0) {
      EXPECT_EQ(WSAGetLastError(), c.status);
    }
  }
  EXPECT_EQ(EAI_NONAME, WSAHOST_NOT_FOUND);
}

TEST(WinsockWithoutStartUp, RefusesLookUpsAndCleanUp) {
  PADDRINFOA found = nullptr;
  EXPECT_EQ(getaddrinfo("localhost", nullptr, nullptr, &found), WSANOTINITIALISED);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

// WSAPoll over a connected pair: a look finds nothing, data and the peer's close are seen.
TEST(WinsockPoll, ReadinessOfAConnectedPair) {
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  WSAPOLLFD entry = {};
  entry.fd = pair[0];
  entry.events = POLLIN;
  EXPECT_EQ(0, WSAPoll(&entry, 1, 0));
  EXPECT_EQ(0, entry.revents);
  ASSERT_EQ(1, write(pair[1], "x", 1));
  EXPECT_EQ(1, WSAPoll(&entry, 1, -1));
  EXPECT_TRUE(entry.revents & POLLIN);
  WSAPOLLFD writable = {};
  writable.fd = pair[1];
  writable.events = POLLOUT;
  EXPECT_EQ(1, WSAPoll(&writable, 1, 1000));
  EXPECT_TRUE(writable.revents & POLLOUT);
  close(pair[1]);
  char c;
  ASSERT_EQ(1, read(pair[0], &c, 1));
  EXPECT_EQ(1, WSAPoll(&entry, 1, -1));
  EXPECT_TRUE(entry.revents & (POLLIN | POLLHUP));
  close(pair[0]);
  EXPECT_EQ(SOCKET_ERROR, WSAPoll(nullptr, 1, 0));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  EXPECT_EQ(0, WSAPoll(nullptr, 0, 0));
}

}  // namespace
