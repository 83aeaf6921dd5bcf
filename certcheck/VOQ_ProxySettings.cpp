#include "certcheck/VOQ_ProxySettings.h"

#include <string.h>
#include <ws2tcpip.h>

VOQ_ProxySettings::VOQ_ProxySettings(const VOQ_ProxySettings& other)
    : useAuthentication(other.useAuthentication), host(copyOf(other.getHost())), port(other.port),
      user(copyOf(other.getUser())), password(copyOf(other.getPassword())) {}

VOQ_ProxySettings& VOQ_ProxySettings::operator=(const VOQ_ProxySettings& other) {
  if (this != &other) {
    useAuthentication = other.useAuthentication;
    host = copyOf(other.getHost());
    port = other.port;
    user = copyOf(other.getUser());
    password = copyOf(other.getPassword());
  }
  return *this;
}

std::unique_ptr<char[]> VOQ_ProxySettings::copyOf(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t size = strlen(text) + 1;
  std::unique_ptr<char[]> copy(new char[size]);
  memcpy(copy.get(), text, size);
  return copy;
}

bool VOQ_ProxySettings::isHostReachable() const {
  const char* name = getHost();
  if (name == nullptr || name[0] == '\0') return false;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  bool reachable = true;
  unsigned char address[16];
  // An address needs no look-up: a proxy at an address without a reverse entry works.
  // Anything else is a name, also one that starts with a digit ("3proxy.example.net").
  if (inet_pton(AF_INET, name, address) != 1 && inet_pton(AF_INET6, name, address) != 1) {
    ADDRINFOA hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    PADDRINFOA found = nullptr;
    const int status = getaddrinfo(name, nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    reachable = status != WSAHOST_NOT_FOUND;
  }
  WSACleanup();
  return reachable;
}
