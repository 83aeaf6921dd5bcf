// The endpoint through which other processes reach a window, tried as an attacker
// would: another user's process, requests that are not what they claim, a sender that
// stalls. Every sender is a process of its own that writes the wire itself.
#include <windows.h>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include "platform/machine.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace {

namespace wt = platform::wintest;
constexpr UINT kQuit = WM_USER + 3;
constexpr int kClosedUnanswered = 10;
constexpr int kAnswered = 11;
constexpr int kCannotSwitchUser = 77;

// The request as it travels: whoever connects may write any bytes.
struct Request {
  uint32_t magic = 0x514D5347;
  uint32_t kind = 1;  // 1 sent, 2 posted
  uint32_t hwnd = 0;
  uint32_t msg = 0;
  uint64_t wParam = 0;
  uint64_t lParam = 0;
  uint64_t dwData = 0;
  uint32_t payload = 0;  // 1: WM_COPYDATA's bytes follow, 2: a text follows
  uint32_t cbData = 0;
};
static_assert(sizeof(Request) == 48, "the request's layout");

// What the window of the test process was given.
std::set<ULONG_PTR> g_received;
bool g_cutWhenReceived = false;
std::string g_cutMarker;
std::atomic<bool> g_quitAsked{false};

LRESULT CALLBACK endpointProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      g_received.insert(cds->dwData);
      if (!g_cutMarker.empty() && std::ifstream(g_cutMarker)) g_cutWhenReceived = true;
      return 1000 + static_cast<LRESULT>(cds->cbData);
    }
    case kQuit:
      g_quitAsked = true;
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

HWND makeWindow(const char* title) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = endpointProc;
  wc.lpszClassName = "EndpointWnd";
  RegisterClassA(&wc);
  return CreateWindowExA(0, "EndpointWnd", title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

uint32_t idOf(HWND h) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)); }

// Waits for a child while this thread keeps serving its window.
int waitServing(quarveltest::ChildProcess& child) {
  std::atomic<bool> done{false};
  int code = -1;
  std::thread waiter([&] {
    code = child.wait();
    done = true;
  });
  wt::pumpMessagesUntil([&] { return done.load(); }, 120000);
  waiter.join();
  return code;
}

int connectTo(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

void writeBytes(int fd, const void* data, size_t size) {
  ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
  (void)n;  // a receiver that closed at once makes this fail; the answer tells
}

// Reads until the receiver closes: kAnswered when a whole answer came, else kClosedUnanswered.
int outcome(int fd) {
  unsigned char reply[24];
  size_t got = 0;
  for (;;) {
    const ssize_t n = read(fd, reply + got, sizeof reply - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    if (got == sizeof reply) break;
  }
  close(fd);
  return got == sizeof reply ? kAnswered : kClosedUnanswered;
}

// A uid that no account on this machine has.
uid_t unusedUid() {
  for (uid_t u = 61000; u < 65000; ++u)
    if (getpwuid(u) == nullptr && getgrgid(u) == nullptr) return u;
  return 65000;
}

// Becomes another user, with no capabilities left. The process stays dumpable, so that
// the sanitizers' leak check can still stop its threads at exit.
bool becomeUser(uid_t uid) {
  return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0 &&
         geteuid() == uid && getuid() == uid && prctl(PR_SET_DUMPABLE, 1) == 0;
}

// args: endpoint, window id, uid, what to send.
QUARVEL_CHILD(foreignSender) {
  if (!becomeUser(static_cast<uid_t>(std::stoul(args.at(2))))) return kCannotSwitchUser;
  const int fd = connectTo(args.at(0));
  if (fd < 0) return 2;
  Request r;
  r.hwnd = static_cast<uint32_t>(std::stoul(args.at(1)));
  std::string bytes;
  const std::string& what = args.at(3);
  if (what == "copydata") {
    r.msg = WM_COPYDATA;
    r.payload = 1;
    r.dwData = 66;
    bytes = "C:\\Users\\victim\\secret.pdf";
  } else if (what == "settext") {
    r.msg = WM_SETTEXT;
    r.payload = 2;
    bytes = std::string("Verdeckt", 9);
  } else if (what == "post") {
    r.kind = 2;
    r.msg = kQuit;
  } else if (what == "close") {
    r.msg = WM_CLOSE;
  }
  r.cbData = static_cast<uint32_t>(bytes.size());
  writeBytes(fd, &r, sizeof r);
  if (!bytes.empty()) writeBytes(fd, bytes.data(), bytes.size());
  return outcome(fd);
}

// args: uid, then paths the other user must not open.
QUARVEL_CHILD(foreignReader) {
  if (!becomeUser(static_cast<uid_t>(std::stoul(args.at(0))))) return kCannotSwitchUser;
  for (size_t i = 1; i < args.size(); ++i) {
    const int fd = open(args[i].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) {
      std::fprintf(stderr, "another user opened %s\n", args[i].c_str());
      return static_cast<int>(i);
    }
  }
  return 0;
}

// args: endpoint, window id, how to write; for "stall" also the marker files.
QUARVEL_CHILD(rawSender) {
  const int fd = connectTo(args.at(0));
  if (fd < 0) return 2;
  Request r;
  r.hwnd = static_cast<uint32_t>(std::stoul(args.at(1)));
  r.msg = WM_COPYDATA;
  r.payload = 1;
  r.dwData = 40;
  const std::string& how = args.at(2);
  if (how == "whole") {
    r.cbData = 3;
    writeBytes(fd, &r, sizeof r);
    writeBytes(fd, "abc", 3);
  } else if (how == "bad magic") {
    r.magic = 0x47534D51;
    r.dwData = 41;
    writeBytes(fd, &r, sizeof r);
  } else if (how == "more than a message may carry") {
    r.dwData = 42;
    r.cbData = (64u << 20) + 1;
    writeBytes(fd, &r, sizeof r);
  } else if (how == "ends inside the header") {
    r.dwData = 43;
    writeBytes(fd, &r, 20);
    shutdown(fd, SHUT_WR);
  } else if (how == "ends inside the data") {
    r.dwData = 44;
    r.cbData = 100;
    writeBytes(fd, &r, sizeof r);
    writeBytes(fd, "abc", 3);
    shutdown(fd, SHUT_WR);
  } else if (how == "stall") {
    // One byte at a time, then nothing: the receiver must not wait for the rest.
    r.dwData = 45;
    r.cbData = 3;
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    for (size_t i = 0; i < 30; ++i) writeBytes(fd, p + i, 1);
    std::ofstream(args.at(3)).put('1');
    const int result = outcome(fd);
    std::ofstream(args.at(4)).put('1');
    return result;
  }
  return outcome(fd);
}

// args: window id, dwData. The platform's own road, as a legitimate sender takes it.
QUARVEL_CHILD(copydataSender) {
  const HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoul(args.at(0))));
  COPYDATASTRUCT cds{static_cast<ULONG_PTR>(std::stoul(args.at(1))), 4, const_cast<char*>("abc")};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 60000, &result)) return 1;
  return result == 1004 ? 0 : 3;
}

TEST(WindowEndpoint, AnotherUsersProcessIsClosedBeforeAnyByteIsRead) {
  HWND h = makeWindow("Quarvel Fremd");
  ASSERT_TRUE(h);
  const std::string endpoint = wt::endpointOf(h);
  ASSERT_FALSE(endpoint.empty());
  const std::string uid = std::to_string(unusedUid());
  g_received.clear();
  g_quitAsked = false;
  for (const char* what : {"copydata", "settext", "post", "close"}) {
    quarveltest::ChildProcess child =
        quarveltest::startChild("foreignSender", {endpoint, std::to_string(idOf(h)), uid, what});
    const int code = waitServing(child);
    if (code == kCannotSwitchUser) GTEST_SKIP() << "this process cannot switch to another uid (setresuid)";
    EXPECT_EQ(code, kClosedUnanswered) << what;
  }
  // The user's own files are out of the other user's reach as well.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quarvel", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "ProxyPassword", 0, REG_SZ, reinterpret_cast<const BYTE*>("geheim"), 7), ERROR_SUCCESS);
  RegCloseKey(key);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "QuarvelEinmal");
  ASSERT_TRUE(mutex);
  wt::setCursorPos(3, 4);
  const std::string root = platform::machineRoot();
  EXPECT_EQ(quarveltest::runChild("foreignReader", {uid, root, root + "/registry/HKCU.hive", root + "/run/windows/counter",
                                                     root + "/run/windows", root + "/run/desktop", root + "/run/mutex"}),
            0);
  CloseHandle(mutex);

  // Nothing of it arrived, and the user's own processes still get through.
  quarveltest::ChildProcess own = quarveltest::startChild("copydataSender", {std::to_string(idOf(h)), "5"});
  EXPECT_EQ(waitServing(own), 0);
  EXPECT_EQ(g_received, std::set<ULONG_PTR>{5});
  EXPECT_FALSE(g_quitAsked.load());
  char title[32] = {};
  GetWindowTextA(h, title, sizeof title);
  EXPECT_STREQ(title, "Quarvel Fremd");
  EXPECT_TRUE(IsWindow(h));
  DestroyWindow(h);
}

// args: marker, title. Makes its window only once the marker exists.
QUARVEL_CHILD(laterWindow) {
  for (int i = 0; i < 60000 && !std::ifstream(args.at(0)); ++i) Sleep(1);
  HWND h = makeWindow(args.at(1).c_str());
  if (h == nullptr) return 3;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

// args: uid, endpoint name, a folder both users may write to. Takes the name first and
// answers whatever comes with a forged answer.
QUARVEL_CHILD(squatter) {
  if (!becomeUser(static_cast<uid_t>(std::stoul(args.at(0))))) return kCannotSwitchUser;
  const std::string& name = args.at(1);
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(listener, 4) != 0) return 2;
  std::ofstream(args.at(2) + "/bound").put('1');
  const int fd = accept(listener, nullptr, nullptr);
  if (fd < 0) return 2;
  Request r;
  size_t got = 0;
  for (ssize_t n; got < sizeof r && (n = read(fd, reinterpret_cast<char*>(&r) + got, sizeof r - got)) > 0;)
    got += static_cast<size_t>(n);
  if (got == 0) return 0;
  const uint32_t reply[6] = {0x51525350, 0, 4242, 0, 0, 0};
  writeBytes(fd, reply, sizeof reply);
  return 1;
}

TEST(WindowEndpoint, AnotherUserWhoTakesAWindowsEndpointNameFirstGetsNothing) {
  HWND mine = makeWindow("Quarvel Hier");
  ASSERT_TRUE(mine);
  // Endpoint names end in "-<process>-<thread>"; a program's first thread has the process's number.
  std::string prefix = wt::endpointOf(mine);
  prefix.erase(prefix.rfind('-', prefix.rfind('-') - 1));
  const std::string go = quarveltest::machineRoot() + "/go";
  quarveltest::ChildProcess later = quarveltest::startChild("laterWindow", {go, "Quarvel Spaet"});
  const std::string pid = std::to_string(later.pid());
  char shared[] = "/tmp/quarvel-squat-XXXXXX";
  ASSERT_TRUE(mkdtemp(shared));
  chmod(shared, 0777);
  quarveltest::ChildProcess squatter =
      quarveltest::startChild("squatter", {std::to_string(unusedUid()), prefix + "-" + pid + "-" + pid, shared});
  const std::string bound = std::string(shared) + "/bound";
  if (!quarveltest::eventually([&] { return std::ifstream(bound).good(); })) {
    const int code = squatter.wait();
    rmdir(shared);
    if (code == kCannotSwitchUser) GTEST_SKIP() << "this process cannot switch to another uid (setresuid)";
    FAIL() << "the squatter ended with " << code;
  }
  std::ofstream(go).put('1');
  HWND h = nullptr;
  ASSERT_TRUE(quarveltest::eventually([&] { return (h = FindWindowA("EndpointWnd", "Quarvel Spaet")) != nullptr; }));

  COPYDATASTRUCT cds{70, 4, const_cast<char*>("abc")};
  DWORD_PTR result = 0;
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 10000, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(squatter.wait(), 0) << "the other user read the message";
  unlink(bound.c_str());
  rmdir(shared);
  later.kill(SIGKILL);
  later.wait();
  DestroyWindow(mine);
}

TEST(WindowEndpoint, ARequestIsHandedOnOnlyWhenItArrivedWhole) {
  HWND h = makeWindow("Quarvel Roh");
  ASSERT_TRUE(h);
  const std::string endpoint = wt::endpointOf(h);
  g_received.clear();
  struct Case {
    const char* how;
    int code;
    bool delivered;
  } cases[] = {
      {"whole", kAnswered, true},
      {"bad magic", kClosedUnanswered, false},
      {"more than a message may carry", kClosedUnanswered, false},
      {"ends inside the header", kClosedUnanswered, false},
      {"ends inside the data", kClosedUnanswered, false},
  };
  for (const Case& c : cases) {
    g_received.clear();
    quarveltest::ChildProcess child = quarveltest::startChild("rawSender", {endpoint, std::to_string(idOf(h)), c.how});
    EXPECT_EQ(waitServing(child), c.code) << c.how;
    EXPECT_EQ(!g_received.empty(), c.delivered) << c.how;
  }
  DestroyWindow(h);
}

TEST(WindowEndpoint, AStallingSenderHoldsNeitherTheWindowNorOtherSenders) {
  HWND h = makeWindow("Quarvel Langsam");
  ASSERT_TRUE(h);
  const std::string endpoint = wt::endpointOf(h);
  const std::string stalled = quarveltest::machineRoot() + "/stalled";
  g_cutMarker = quarveltest::machineRoot() + "/cut";
  g_received.clear();
  g_cutWhenReceived = false;
  // While the stalling sender is still connected, others are served.
  wt::setMessageReadLimit(600000);
  quarveltest::ChildProcess slow =
      quarveltest::startChild("rawSender", {endpoint, std::to_string(idOf(h)), "stall", stalled, g_cutMarker});
  ASSERT_TRUE(wt::pumpMessagesUntil([&] { return std::ifstream(stalled).good(); }, 60000));
  for (const char* dwData : {"21", "22"}) {
    quarveltest::ChildProcess fast = quarveltest::startChild("copydataSender", {std::to_string(idOf(h)), dwData});
    EXPECT_EQ(waitServing(fast), 0) << dwData;
  }
  EXPECT_EQ(g_received, (std::set<ULONG_PTR>{21, 22}));
  EXPECT_FALSE(g_cutWhenReceived) << "the others waited for the stalling sender";

  // Past the bound the stalling sender is cut off, and its message is dropped.
  wt::setMessageReadLimit(50);
  EXPECT_EQ(waitServing(slow), kClosedUnanswered);
  wt::setMessageReadLimit(2000);
  quarveltest::ChildProcess after = quarveltest::startChild("copydataSender", {std::to_string(idOf(h)), "23"});
  EXPECT_EQ(waitServing(after), 0);
  EXPECT_EQ(g_received, (std::set<ULONG_PTR>{21, 22, 23}));
  g_cutMarker.clear();
  DestroyWindow(h);
}

}  // namespace
