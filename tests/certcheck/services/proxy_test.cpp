// VOQ_ProxySettings: the record, and isHostReachable against the machine's hosts file
// and the host's resolver (no DNS is needed: names that are not in the hosts file end in
// .invalid, which no resolver knows).
#include "certcheck/VOQ_ProxySettings.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/machine.h"

namespace {

void writeHostsFile(const std::string& content) {
  const std::filesystem::path hosts = platform::mapPath("C:\\WINDOWS\\system32\\drivers\\etc\\hosts");
  std::filesystem::create_directories(hosts.parent_path());
  std::ofstream(hosts) << content;
}

TEST(VOQ_ProxySettings, IsHostReachable) {
  writeHostsFile("# the machine's own names\n10.20.30.40  3proxy.test proxy-alias.test\n"
                 "fd00::8 v6proxy.test   # an IPv6 proxy\n");
  const struct {
    const char* host;
    bool reachable;
  } cases[] = {
      {"localhost", true},
      {"127.0.0.1", true},
      {"127.0.0.2", true},        // an address without a reverse entry: no look-up at all
      {"10.1.2.3", true},
      {"::1", true},
      {"3proxy.test", true},      // a name that starts with a digit is still a name
      {"PROXY-ALIAS.test", true}, // names compare without case
      {"v6proxy.test", true},
      {"300.1.1.1", false},       // not an address, and no such name
      {"nohost.invalid", false},
      {"3proxy.invalid", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    VOQ_ProxySettings proxy;
    proxy.setHost(c.host);
    EXPECT_EQ(proxy.isHostReachable(), c.reachable);
  }
  VOQ_ProxySettings none;
  EXPECT_FALSE(none.isHostReachable());
  // Every test cleaned up after itself: no start-up of Windows Sockets is left over.
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(VOQ_ProxySettings, FieldsAreOwnedCopies) {
  char host[] = "proxy.example";
  char user[] = "anna";
  VOQ_ProxySettings proxy;
  EXPECT_EQ(proxy.getHost(), nullptr);
  EXPECT_EQ(proxy.getPort(), 0);
  EXPECT_EQ(proxy.getUser(), nullptr);
  EXPECT_EQ(proxy.getPassword(), nullptr);
  EXPECT_EQ(proxy.getUseAuthentication(), 0);
  proxy.setHost(host);
  proxy.setUser(user);
  proxy.setPassword("geheim");
  proxy.setPort(70000);  // kept as given; the connection attempt decides
  host[0] = 'X';
  user[0] = 'X';
  EXPECT_STREQ(proxy.getHost(), "proxy.example");
  EXPECT_STREQ(proxy.getUser(), "anna");
  EXPECT_EQ(proxy.getPort(), 70000);
  VOQ_ProxySettings copy(proxy);
  proxy.setPassword(nullptr);
  EXPECT_EQ(proxy.getPassword(), nullptr);
  EXPECT_STREQ(copy.getPassword(), "geheim");
  EXPECT_NE(copy.getHost(), proxy.getHost());
  const VOQ_ProxySettings& same = copy;
  copy = same;
  EXPECT_STREQ(copy.getHost(), "proxy.example");
}

TEST(VOQ_ProxySettings, AuthenticationIsTheLowByteEqualToOne) {
  const struct {
    int flag;
    bool uses;
  } cases[] = {{0, false}, {1, true}, {2, false}, {0x101, true}, {-1, false}, {0x100, false}};
  for (const auto& c : cases) {
    VOQ_ProxySettings proxy;
    proxy.setUseAuthentication(c.flag);
    EXPECT_EQ(proxy.getUseAuthentication(), c.flag);
    EXPECT_EQ(proxy.usesAuthentication(), c.uses) << c.flag;
  }
}

}  // namespace
