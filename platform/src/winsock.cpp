// Windows Sockets start-up and name resolution: the machine's hosts file first, then the
// host's resolver, with the results copied into blocks of this layer and its error codes.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hosts_file.h"
#include "platform/machine.h"
#include "winsock2.h"

extern "C" {
int WSAAPI quarvel_ws_getaddrinfo(const char* pNodeName, const char* pServiceName, const struct addrinfo* pHints,
                                  struct addrinfo** ppResult);
void WSAAPI quarvel_ws_freeaddrinfo(struct addrinfo* pAddrInfo);
}

namespace {

// Windows has no SIGPIPE: a send on a connection the peer has closed fails with
// an error. The host's default would end the process instead (also inside
// OpenSSL's socket BIOs, which the checking library uses), so the layer ignores
// the signal once it is loaded, unless the process chose a handler of its own.
struct BrokenPipeIsAnError {
  BrokenPipeIsAnError() {
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  }
} brokenPipeIsAnError;


std::atomic<int> g_startups{0};

const char kHostsFile[] = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";

// One node of a result list in a single block: the record, its address, its name.
struct Node {
  struct addrinfo info;
  struct sockaddr_storage address;
};

struct addrinfo* newNode(int family, int socktype, int protocol, const struct sockaddr* address, socklen_t length,
                         const char* canonicalName) {
  const size_t nameLength = canonicalName ? strlen(canonicalName) + 1 : 0;
  char* block = static_cast<char*>(calloc(1, sizeof(Node) + nameLength));
  if (block == nullptr) return nullptr;
  Node* node = reinterpret_cast<Node*>(block);
  node->info.ai_family = family;
  node->info.ai_socktype = socktype;
  node->info.ai_protocol = protocol;
  memcpy(&node->address, address, length);
  node->info.ai_addr = reinterpret_cast<struct sockaddr*>(&node->address);
  node->info.ai_addrlen = length;
  if (canonicalName) {
    node->info.ai_canonname = block + sizeof(Node);
    memcpy(node->info.ai_canonname, canonicalName, nameLength);
  }
  return &node->info;
}

int windowsCode(int hostCode) {
  switch (hostCode) {
    case 0:
      return 0;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_BADFLAGS:
      return WSAEINVAL;
    case EAI_FAIL:
      return WSANO_RECOVERY;
    case EAI_FAMILY:
      return WSAEAFNOSUPPORT;
    case EAI_MEMORY:
      return WSA_NOT_ENOUGH_MEMORY;
    case EAI_NODATA:
      return WSANO_DATA;
    case EAI_SERVICE:
      return WSATYPE_NOT_FOUND;
    case EAI_SOCKTYPE:
      return WSAESOCKTNOSUPPORT;
    default:
      return WSAHOST_NOT_FOUND;  // EAI_NONAME and the rest
  }
}

int fail(int code) {
  SetLastError(static_cast<DWORD>(code));
  return code;
}

// The addresses the hosts file gives the name, of the family asked for.
std::vector<struct sockaddr_storage> hostsFileAddresses(const char* name, int family, std::vector<socklen_t>& lengths) {
  std::vector<struct sockaddr_storage> found;
  std::ifstream hosts(platform::mapPath(kHostsFile));
  std::string line;
  while (std::getline(hosts, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string address, alias;
    if (!(words >> address)) continue;
    bool named = false;
    while (words >> alias) named = named || strcasecmp(alias.c_str(), name) == 0;
    if (!named) continue;
    struct sockaddr_storage storage = {};
    auto* v4 = reinterpret_cast<struct sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<struct sockaddr_in6*>(&storage);
    if ((family == AF_UNSPEC || family == AF_INET) && inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      found.push_back(storage);
      lengths.push_back(sizeof(struct sockaddr_in));
    } else if ((family == AF_UNSPEC || family == AF_INET6) &&
               inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      found.push_back(storage);
      lengths.push_back(sizeof(struct sockaddr_in6));
    }
  }
  return found;
}

bool isNumeric(const char* node) {
  unsigned char buffer[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, node, buffer) == 1 || inet_pton(AF_INET6, node, buffer) == 1;
}

}  // namespace

namespace platform {

std::vector<std::string> hostsFileAddressTexts(const char* name) {
  std::vector<std::string> texts;
  if (name == nullptr || isNumeric(name)) return texts;
  std::vector<socklen_t> lengths;
  for (const struct sockaddr_storage& address : hostsFileAddresses(name, AF_UNSPEC, lengths)) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<const struct sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &reinterpret_cast<const struct sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
    }
    texts.emplace_back(text);
  }
  return texts;
}

}  // namespace platform

extern "C" {

int WSAAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  const BYTE major = LOBYTE(wVersionRequested);
  const BYTE minor = HIBYTE(wVersionRequested);
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  if (lpWSAData == nullptr) return WSAEINVAL;
  memset(lpWSAData, 0, sizeof *lpWSAData);
  lpWSAData->wVersion = major > 2 || (major == 2 && minor > 2) ? MAKEWORD(2, 2) : wVersionRequested;
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  strcpy(lpWSAData->szDescription, "WinSock 2.0");
  strcpy(lpWSAData->szSystemStatus, "Running");
  ++g_startups;
  return 0;
}

int WSAAPI WSACleanup(void) {
  int count = g_startups.load();
  while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0) {
    SetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  return 0;
}

int WSAAPI WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

int WSAAPI WSAPoll(LPWSAPOLLFD fdArray, ULONG fds, INT timeout) {
  if (fdArray == nullptr && fds > 0) {
    SetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  // Windows knows no interrupted waits: a signal restarts the wait for the time left.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);
  for (;;) {
    int wait = timeout;
    if (timeout > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int ready = ::poll(fdArray, static_cast<nfds_t>(fds), wait);
    if (ready >= 0) return ready;
    if (errno == EINTR) continue;
    SetLastError(errno == EFAULT ? WSAEFAULT : WSAEINVAL);
    return SOCKET_ERROR;
  }
}

void WSAAPI WSASetLastError(int iError) { SetLastError(static_cast<DWORD>(iError)); }

int WSAAPI quarvel_ws_getaddrinfo(const char* pNodeName, const char* pServiceName, const struct addrinfo* pHints,
                                  struct addrinfo** ppResult) {
  if (ppResult == nullptr) return fail(WSAEINVAL);
  *ppResult = nullptr;
  if (g_startups.load() <= 0) return fail(WSANOTINITIALISED);
  const int family = pHints ? pHints->ai_family : AF_UNSPEC;
  const int socktype = pHints ? pHints->ai_socktype : 0;
  const int protocol = pHints ? pHints->ai_protocol : 0;

  if (pNodeName != nullptr && !isNumeric(pNodeName) && (pHints == nullptr || !(pHints->ai_flags & AI_NUMERICHOST))) {
    std::vector<socklen_t> lengths;
    std::vector<struct sockaddr_storage> addresses = hostsFileAddresses(pNodeName, family, lengths);
    if (!addresses.empty()) {
      // The port of the service, when one is given, as the host resolves it.
      in_port_t port = 0;
      if (pServiceName != nullptr) {
        struct addrinfo hints = {};
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_family = AF_INET;
        struct addrinfo* probe = nullptr;
        const int status = ::getaddrinfo("127.0.0.1", pServiceName, &hints, &probe);
        if (status != 0) return fail(windowsCode(status));
        port = reinterpret_cast<struct sockaddr_in*>(probe->ai_addr)->sin_port;
        ::freeaddrinfo(probe);
      }
      struct addrinfo** tail = ppResult;
      for (size_t i = 0; i < addresses.size(); ++i) {
        auto* address = reinterpret_cast<struct sockaddr*>(&addresses[i]);
        if (address->sa_family == AF_INET) reinterpret_cast<struct sockaddr_in*>(address)->sin_port = port;
        if (address->sa_family == AF_INET6) reinterpret_cast<struct sockaddr_in6*>(address)->sin6_port = port;
        *tail = newNode(address->sa_family, socktype, protocol, address, lengths[i], i == 0 ? pNodeName : nullptr);
        if (*tail == nullptr) {
          quarvel_ws_freeaddrinfo(*ppResult);
          *ppResult = nullptr;
          return fail(WSA_NOT_ENOUGH_MEMORY);
        }
        tail = &(*tail)->ai_next;
      }
      return 0;
    }
  }

  struct addrinfo* found = nullptr;
  const int status = ::getaddrinfo(pNodeName, pServiceName, pHints, &found);
  if (status != 0) return fail(windowsCode(status));
  struct addrinfo** tail = ppResult;
  for (struct addrinfo* each = found; each != nullptr; each = each->ai_next) {
    *tail = newNode(each->ai_family, each->ai_socktype, each->ai_protocol, each->ai_addr, each->ai_addrlen,
                    each->ai_canonname);
    if (*tail == nullptr) {
      ::freeaddrinfo(found);
      quarvel_ws_freeaddrinfo(*ppResult);
      *ppResult = nullptr;
      return fail(WSA_NOT_ENOUGH_MEMORY);
    }
    (*tail)->ai_flags = each->ai_flags;
    tail = &(*tail)->ai_next;
  }
  ::freeaddrinfo(found);
  return 0;
}

void WSAAPI quarvel_ws_freeaddrinfo(struct addrinfo* pAddrInfo) {
  while (pAddrInfo != nullptr) {
    struct addrinfo* next = pAddrInfo->ai_next;
    free(pAddrInfo);  // the node's block holds its address and name
    pAddrInfo = next;
  }
}

}  // extern "C"
