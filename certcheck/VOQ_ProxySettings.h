// One proxy (HTTP or HTTPS) as the plug-in's settings give it to the network code: host,
// port and the optional Basic credentials, as owned copies.
#pragma once

#include <memory>

class VOQ_ProxySettings {
 public:
  VOQ_ProxySettings() = default;
  VOQ_ProxySettings(const VOQ_ProxySettings& other);
  VOQ_ProxySettings& operator=(const VOQ_ProxySettings& other);

  // The network code sends a Proxy-Authorization line only when the low byte is 1.
  void setUseAuthentication(int flag) { useAuthentication = flag; }
  int getUseAuthentication() const { return useAuthentication; }
  bool usesAuthentication() const { return (useAuthentication & 0xff) == 1; }

  // Each setter keeps a copy of the text; NULL clears the field. Getters give NULL for none.
  void setHost(const char* text) { host = copyOf(text); }
  const char* getHost() const { return host.get(); }
  void setPort(int value) { port = value; }
  int getPort() const { return port; }
  void setUser(const char* text) { user = copyOf(text); }
  const char* getUser() const { return user.get(); }
  void setPassword(const char* text) { password = copyOf(text); }
  const char* getPassword() const { return password.get(); }

  // False when the host is missing, is no valid address literal and names no host the
  // resolver knows (WSAHOST_NOT_FOUND), or when Windows Sockets cannot start. An address
  // literal (IPv4 or IPv6) is reachable without any look-up; other resolver failures
  // count as reachable, and the connection attempt that follows decides.
  bool isHostReachable() const;

 private:
  static std::unique_ptr<char[]> copyOf(const char* text);

  int useAuthentication = 0;
  std::unique_ptr<char[]> host;
  int port = 0;
  std::unique_ptr<char[]> user;
  std::unique_ptr<char[]> password;
};
