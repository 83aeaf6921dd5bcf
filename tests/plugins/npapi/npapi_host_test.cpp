// The NPAPI test host plays the browser: it loads npcalvero.dll, hands it the browser's
// functions (allocations counted, NPN_PostURLNotify really posting to a form receiver on
// loopback) and creates instances with a page's arguments, against the Security Layer
// test server.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include <npapi.h>

#include "SecurityLayerForwarding.h"
#include "ScriptedHttpServer.h"
#include "platform/window_test.h"
#include "platform/wininet_test.h"

namespace {

std::atomic<int> g_outstanding{0};
std::atomic<int> g_allocations{0};  // every call of memalloc
std::atomic<int> g_failAt{0};       // memalloc's call that finds no memory (0: none)
std::atomic<size_t> g_bytes{0};     // bytes the plug-in holds now
std::atomic<size_t> g_peakBytes{0}; // and at most since it was last reset

// Each block carries its size in front of it.
constexpr size_t kSizeField = 16;

void* countedAlloc(uint32_t size) {
  if (++g_allocations == g_failAt) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kSizeField + (size ? size : 1)));
  if (!block) return nullptr;
  ++g_outstanding;
  std::memcpy(block, &size, sizeof size);
  const size_t now = g_bytes += size;
  if (now > g_peakBytes) g_peakBytes = now;
  return block + kSizeField;
}
void countedFree(void* pointer) {
  if (!pointer) return;
  char* block = static_cast<char*>(pointer) - kSizeField;
  uint32_t size = 0;
  std::memcpy(&size, block, sizeof size);
  g_bytes -= size;
  --g_outstanding;
  std::free(block);
}

struct PostCall {
  std::string url, target, buffer;
  NPBool file = 0;
};
std::vector<PostCall> g_posts;

// The browser's posting: the buffer holds the headers, an empty line and the body.
NPError postUrlNotify(NPP, const char* url, const char* target, uint32_t len, const char* buf, NPBool file, void*) {
  PostCall call{url, target, std::string(buf, len), file};
  g_posts.push_back(call);
  const size_t split = call.buffer.find("\n\n");
  if (split == std::string::npos) return NPERR_GENERIC_ERROR;
  std::string headersText = call.buffer.substr(0, split);
  const std::string body = call.buffer.substr(split + 2);
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  size_t at = 0;
  while (at < headersText.size()) {
    size_t end = headersText.find('\n', at);
    if (end == std::string::npos) end = headersText.size();
    const std::string line = headersText.substr(at, end - at);
    // The length comes from the body itself.
    if (line.rfind("Content-length", 0) != 0) headers = curl_slist_append(headers, line.c_str());
    at = end + 1;
  }
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  const CURLcode result = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result == CURLE_OK ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
}

class NpapiHost : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(NPCALVERO_PATH);
    ASSERT_NE(module_, nullptr);
    getEntryPoints_ = reinterpret_cast<NP_GetEntryPointsFunc>(GetProcAddress(module_, "NP_GetEntryPoints"));
    initialize_ = reinterpret_cast<NP_InitializeFunc>(GetProcAddress(module_, "NP_Initialize"));
    shutdown_ = reinterpret_cast<NP_ShutdownFunc>(GetProcAddress(module_, "NP_Shutdown"));
    ASSERT_TRUE(getEntryPoints_ && initialize_ && shutdown_);
    browser_.size = sizeof browser_;
    browser_.memalloc = countedAlloc;
    browser_.memfree = countedFree;
    browser_.posturlnotify = postUrlNotify;
    g_posts.clear();
    g_outstanding = 0;
    g_allocations = 0;
    g_failAt = 0;
    platform::wintest::clearMessageBoxes();
  }
  void TearDown() override {
    if (shutdown_) shutdown_();
    EXPECT_EQ(g_outstanding.load(), 0) << "blocks of the browser's memory not given back";
    if (module_) FreeLibrary(module_);
  }

  void start(uint16_t browserVersion = 9) {
    ASSERT_EQ(getEntryPoints_(&plugin_), NPERR_NO_ERROR);
    browser_.version = browserVersion;
    ASSERT_EQ(initialize_(&browser_), NPERR_NO_ERROR);
  }

  // One instance with the page's arguments; destroyed at once unless kept.
  NPError page(std::vector<std::pair<const char*, std::string>> args, bool keep = false) {
    std::vector<char*> names, values;
    for (auto& a : args) {
      names.push_back(const_cast<char*>(a.first));
      values.push_back(const_cast<char*>(a.second.c_str()));
    }
    char mime[] = "application/quarvel-netscape-plugin";
    const NPError result = plugin_.newp(mime, &instance_, NP_EMBED, static_cast<int16_t>(args.size()), names.data(),
                                        values.data(), nullptr);
    // A browser forgets an instance whose NPP_New failed: it never destroys it.
    if (!keep && result == NPERR_NO_ERROR) {
      EXPECT_EQ(plugin_.destroy(&instance_, nullptr), NPERR_NO_ERROR);
    }
    return result;
  }

  HMODULE module_ = nullptr;
  NP_GetEntryPointsFunc getEntryPoints_ = nullptr;
  NP_InitializeFunc initialize_ = nullptr;
  NP_ShutdownFunc shutdown_ = nullptr;
  NPPluginFuncs plugin_{};
  NPNetscapeFuncs browser_{};
  NPP_t instance_{};
};

TEST_F(NpapiHost, EntryPointsAndTheVersionTable) {
  EXPECT_EQ(getEntryPoints_(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(initialize_(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
  ASSERT_EQ(getEntryPoints_(&plugin_), NPERR_NO_ERROR);
  EXPECT_EQ(plugin_.version, 9);
  EXPECT_EQ(plugin_.event, nullptr);
  EXPECT_EQ(plugin_.writeready(&instance_, nullptr), 0x0FFFFFFF);
  EXPECT_EQ(plugin_.write(&instance_, nullptr, 0, 1234, nullptr), 1234);
  EXPECT_EQ(plugin_.newstream(nullptr, nullptr, nullptr, 0, nullptr), NPERR_INVALID_INSTANCE_ERROR);
  struct Row {
    uint16_t version;
    NPError result;
    bool urlnotify;
  } rows[] = {{0x0100, NPERR_INCOMPATIBLE_VERSION_ERROR, false}, {8, NPERR_NO_ERROR, false}, {9, NPERR_NO_ERROR, true},
              {27, NPERR_NO_ERROR, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.version);
    plugin_ = NPPluginFuncs{};
    ASSERT_EQ(getEntryPoints_(&plugin_), NPERR_NO_ERROR);
    browser_.version = row.version;
    EXPECT_EQ(initialize_(&browser_), row.result);
    EXPECT_EQ(plugin_.urlnotify != nullptr, row.urlnotify);
    EXPECT_EQ(plugin_.javaClass, nullptr);
  }
}

// How a browser finds what the plug-in is for: the version block's strings in the
// language of its translation table, or NP_GetMIMEDescription; nothing else is exported.
TEST_F(NpapiHost, RegisteredByItsVersionBlockAndItsMimeDescription) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(NPCALVERO_PATH, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(NPCALVERO_PATH, 0, size, block.data()));
  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_GE(length, 4u);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT chars = 0;
    const std::string path = std::string(prefix) + name;
    return VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &chars) ? std::string(text)
                                                                                              : std::string("<none>");
  };
  EXPECT_EQ(value("MIMEType"), "application/quarvel-netscape-plugin");
  EXPECT_EQ(value("FileExtents"), "qnp");
  EXPECT_EQ(value("FileOpenName"), "Quarvel Plugin (*.qnp)");
  EXPECT_EQ(value("InternalName"), "npcalvero");
  EXPECT_EQ(value("OriginalFilename"), "npcalvero.dll");

  auto describe = reinterpret_cast<NP_GetMIMEDescriptionFunc>(GetProcAddress(module_, "NP_GetMIMEDescription"));
  ASSERT_NE(describe, nullptr);
  EXPECT_STREQ(describe(), "application/quarvel-netscape-plugin:qnp:Quarvel Plugin");
  for (const char* inner : {"NPP_New", "NPN_MemAlloc", "NPN_PostURLNotify", "g_browser"}) {
    EXPECT_EQ(GetProcAddress(module_, inner), nullptr) << inner;
  }
}

TEST_F(NpapiHost, ArgumentTable) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>ok</GetPropertiesResponse>";
  server.setReply(reply);
  slserver::ScriptedHttpServer receiver;
  const std::string url = receiver.url("/receive");
  start();
  struct Row {
    std::vector<std::pair<const char*, std::string>> args;
    std::string box;  // empty: posted
  };
  const Row rows[] = {
      {{{"xml_request", "<R/>"}, {"post_url", url}}, ""},
      {{{"post_url", url}, {"timeout", "5"}, {"xml_request", "<R/>"}, {"other", "x"}}, ""},
      {{{"xml_request", "<R/>"}, {"xml_request", "<R/>"}, {"post_url", url}}, slforward::kMsgIncomplete},
      {{{"xml_request", "<R/>"}}, slforward::kMsgPostUrlMissing},
      {{}, slforward::kMsgRequestMissing},
      {{{"XML_REQUEST", "<R/>"}, {"post_url", url}}, slforward::kMsgRequestMissing},
      {{{"post_url", url}}, slforward::kMsgRequestMissing},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.size());
    g_posts.clear();
    platform::wintest::clearMessageBoxes();
    EXPECT_EQ(page(row.args), NPERR_NO_ERROR);
    const auto boxes = platform::wintest::messageBoxes();
    if (row.box.empty()) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(g_posts.size(), 1u);
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, row.box);
      EXPECT_EQ(boxes[0].caption, "Error");
      EXPECT_EQ(boxes[0].owner, nullptr);
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
      EXPECT_TRUE(g_posts.empty());
    }
    EXPECT_EQ(g_outstanding.load(), 0);
  }
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(NpapiHost, ThePostingReachesTheReceiverDecoded) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<ErrorResponse><Code>0</Code><Info>abcdefghi</Info></ErrorResponse>";
  server.setReply(reply);
  slserver::ScriptedHttpServer receiver;
  start();
  const std::string request = "<sl:Request>\xE4\xF6\xFC raw bytes</sl:Request>";
  page({{"xml_request", request}, {"post_url", receiver.url("/r")}, {"timeout", "1"}});
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(server.requests()[0].body, request);  // as the browser gave it, unconverted
  ASSERT_EQ(g_posts.size(), 1u);
  EXPECT_EQ(g_posts[0].target, "_self");
  EXPECT_EQ(g_posts[0].file, 0);
  EXPECT_EQ(g_posts[0].buffer,
            "Content-type: application/x-www-form-urlencoded\nContent-length: 25\n\ndata=abcdefghi&retValue=0");
  EXPECT_EQ(g_posts[0].buffer.size(), 93u);
  ASSERT_TRUE(receiver.waitForRequests(1));
  const auto fields = slserver::decodeForm(receiver.requests()[0].body);
  EXPECT_EQ(fields.at("data"), "abcdefghi");
  EXPECT_EQ(fields.at("retValue"), "0");
  EXPECT_EQ(receiver.requests()[0].headers.at("content-type"), "application/x-www-form-urlencoded");
}

TEST_F(NpapiHost, BrowserOfMinorEightPostsNothingAndSaysNothing) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  server.setReply(reply);
  start(8);
  page({{"xml_request", "<R/>"}, {"post_url", "http://127.0.0.1:1/"}});
  EXPECT_TRUE(server.waitForRequests(1));
  EXPECT_TRUE(g_posts.empty());
  EXPECT_TRUE(platform::wintest::messageBoxes().empty());
}

TEST_F(NpapiHost, BadPagesAndRepliesLeakNothing) {
  auto server = std::make_unique<slserver::SecurityLayerServer>();
  start();
  const std::string huge(1 << 20, 'q');
  const std::string success = "<GetPropertiesResponse></GetPropertiesResponse>";
  const std::string oddUrl = "http://127.0.0.1:1/\xFF\xFE?a=&b=%zz#<'\">";
  struct Row {
    std::string request, reply;
    const char* box;  // NULL: posted
    slserver::Reply script = {};
    std::string url = "http://127.0.0.1:1/";
    const char* timeout = nullptr;
  } rows[] = {
      {huge, success, nullptr},
      {"", "<ErrorResponse><Code>" + std::string(100, '1') + "</Code><Info>i</Info>", slforward::kMsgTransfer},
      {"\xFF\xFE\x80", "<ErrorResponse></Info><Info><Code>1</Code>", slforward::kMsgTransfer},
      {"x", "<ErrorResponse><Code>9</Code><Info>" + huge + "</Info>", huge.c_str()},
      {"y", "", slforward::kMsgCommunication},
      {"z", success, nullptr, {}, oddUrl, "\xFF"},
      {"z", "<sl10:GetStatusResponse xmlns:sl10=\"http://elsewhere.example/namespaces/securitylayer/20020225#\">"
            "</sl10:GetStatusResponse>",
       slforward::kMsgTransfer},
      {"z", "", slforward::kMsgTransfer, [&] {
         slserver::Reply cut;  // closes in the middle
         cut.body = "<GetPropertiesResponse>" + std::string(3000, 'c') + "</GetPropertiesResponse>";
         cut.closeAfter = 1500;
         return cut;
       }()},
      {"z", "", slforward::kMsgTransfer, [&] {
         slserver::Reply tooLong;
         tooLong.body = "<GetPropertiesResponse>" + std::string(slforward::kMaxReply, 'l') + "</GetPropertiesResponse>";
         return tooLong;
       }()},
      {"z", "", nullptr, [&] {
         slserver::Reply longOne;  // grows the reply buffer in the browser's memory
         longOne.body = "<GetPropertiesResponse>" + std::string(4u << 20, 'g') + "</GetPropertiesResponse>";
         longOne.pieces = {1000, 7};
         return longOne;
       }()},
      {"z", "", slforward::kMsgCommunication, [&] {
         slserver::Reply silent;
         silent.silent = true;
         return silent;
       }(), "http://127.0.0.1:1/", "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request.substr(0, 8) + " / " + (row.reply.empty() ? row.script.body : row.reply).substr(0, 40));
    slserver::Reply reply = row.script;
    if (!row.reply.empty()) reply.body = row.reply;
    server->setReply(reply);
    g_posts.clear();
    platform::wintest::clearMessageBoxes();
    std::vector<std::pair<const char*, std::string>> args = {{"xml_request", row.request}, {"post_url", row.url}};
    if (row.timeout) args.emplace_back("timeout", row.timeout);
    // The silent server's row need not wait for ever; the others wait as the page says.
    platform::inettest::capReceiveWait(reply.silent ? 300 : 0);
    page(args);
    platform::inettest::capReceiveWait(0);
    const auto boxes = platform::wintest::messageBoxes();
    if (row.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_TRUE(boxes[0].text == row.box) << boxes[0].text.substr(0, 80);
      EXPECT_TRUE(g_posts.empty());
    } else {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(g_posts.size(), 1u);
      EXPECT_EQ(g_posts[0].url, row.url);  // as the page gave it
    }
    EXPECT_EQ(g_outstanding.load(), 0);
  }
  EXPECT_EQ(server->requests()[0].body, huge);

  // Nothing listening on the port.
  server.reset();
  slserver::Port20000Turn turn;
  platform::wintest::clearMessageBoxes();
  page({{"xml_request", "<R/>"}, {"post_url", "http://127.0.0.1:1/"}});
  ASSERT_EQ(platform::wintest::messageBoxes().size(), 1u);
  EXPECT_EQ(platform::wintest::messageBoxes()[0].text, slforward::kMsgCommunication);
  EXPECT_EQ(g_outstanding.load(), 0);
}

// All of the plug-in's memory comes from the browser, which may have none: whichever of
// a run's allocations fails, the run ends in exactly one outcome (NPP_New's out of
// memory, or one message box, or the posting when none failed), and every block taken
// goes back.
TEST_F(NpapiHost, EveryAllocationThatFailsEndsTheRunSoundly) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>" + std::string(12000, 'm') + "</GetPropertiesResponse>";  // the buffer grows
  server.setReply(reply);
  slserver::ScriptedHttpServer receiver;
  start();
  const std::vector<std::pair<const char*, std::string>> args = {
      {"xml_request", "<R/>"}, {"post_url", receiver.url("/r")}, {"timeout", "1"}};
  g_allocations = 0;
  page(args);
  const int needed = g_allocations.load();
  ASSERT_EQ(g_posts.size(), 1u);
  ASSERT_GT(needed, 6);  // the record, three texts, the reply and its growth, its info, the posting
  std::set<std::string> outcomes;
  for (int failing = 1; failing <= needed; ++failing) {
    SCOPED_TRACE(failing);
    g_posts.clear();
    platform::wintest::clearMessageBoxes();
    g_allocations = 0;
    g_failAt = failing;
    const NPError result = page(args);
    g_failAt = 0;
    const auto boxes = platform::wintest::messageBoxes();
    EXPECT_TRUE(g_posts.empty());
    if (result == NPERR_OUT_OF_MEMORY_ERROR) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(instance_.pdata, nullptr);
      outcomes.insert("out of memory");
    } else {
      EXPECT_EQ(result, NPERR_NO_ERROR);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].owner, nullptr);
      EXPECT_EQ(boxes[0].caption, "Error");
      outcomes.insert(boxes[0].text);
      const UINT icon = boxes[0].text == slforward::kMsgForwarding ? 0 : MB_ICONERROR;
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | icon));
    }
    EXPECT_EQ(g_outstanding.load(), 0);
  }
  // The record and the texts, the reply's buffer, its growth and its info, the form.
  EXPECT_EQ(outcomes, (std::set<std::string>{"out of memory", slforward::kMsgCommunication, slforward::kMsgTransfer,
                                             slforward::kMsgForwarding}));
}

// The posting's memory: the reply buffer (grown by half at a time), the reply's info
// and the posting, which carries the form body itself; at its peak at most five times
// the reply, for a reply whose every byte takes three in the form.
TEST_F(NpapiHost, ThePostingsPeakMemoryIsAtMostFiveTimesTheReply) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>" + std::string(6u << 20, '%') + "</GetPropertiesResponse>";
  server.setReply(reply);
  start();
  browser_.posturlnotify = [](NPP, const char*, const char*, uint32_t len, const char*, NPBool, void*) -> NPError {
    g_posts.push_back({"", "", std::to_string(len), 0});
    return NPERR_NO_ERROR;
  };
  g_peakBytes = 0;
  page({{"xml_request", "<R/>"}, {"post_url", "http://127.0.0.1:1/"}});
  ASSERT_EQ(g_posts.size(), 1u);
  EXPECT_GT(std::stoul(g_posts[0].buffer), 3 * reply.body.size());
  EXPECT_LE(g_peakBytes.load(), 5 * reply.body.size());
}

// The URL the browser is handed is the page's, and only one of a scheme the reply may
// go to (the whole rule: tests/plugins/common).
TEST_F(NpapiHost, OnlyHttpHttpsAndRelativePostUrlsAreHandedToTheBrowser) {
  slserver::SecurityLayerServer server;
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>ok</GetPropertiesResponse>";
  server.setReply(reply);
  start();
  browser_.posturlnotify = [](NPP, const char* url, const char* target, uint32_t, const char*, NPBool file,
                              void*) -> NPError {
    g_posts.push_back({url, target, "", file});
    return NPERR_NO_ERROR;
  };
  const std::pair<std::string, bool> rows[] = {
      {"https://page.example/r", true},     {"/r?x=1", true},        {"javascript:alert(1)", false},
      {"java\tscript:alert(1)", false},     {"file:///etc/passwd", false},
  };
  for (const auto& [url, posted] : rows) {
    SCOPED_TRACE(url);
    g_posts.clear();
    platform::wintest::clearMessageBoxes();
    page({{"xml_request", "<R/>"}, {"post_url", url}});
    const auto boxes = platform::wintest::messageBoxes();
    if (posted) {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(g_posts.size(), 1u);
      EXPECT_EQ(g_posts[0].url, url);
    } else {
      EXPECT_TRUE(g_posts.empty());
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, slforward::kMsgForwarding);
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    }
    EXPECT_EQ(g_outstanding.load(), 0);
  }
  EXPECT_EQ(server.requests().size(), 2u);
}

// A window whose own procedure counts what reaches it.
std::vector<UINT> g_ownMessages;
int countOf(UINT message) {
  int n = 0;
  for (UINT m : g_ownMessages) n += m == message;
  return n;
}
LRESULT CALLBACK countingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  g_ownMessages.push_back(message);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND makeWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = countingProc;
    wc.lpszClassName = "NpapiHostWindow";
    RegisterClassA(&wc);
    registered = true;
  }
  return CreateWindowExA(0, "NpapiHostWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                         nullptr);
}

TEST_F(NpapiHost, WindowSubclassingAndItsProperty) {
  start();
  page({{"post_url", "u"}}, true);  // refused: the instance lives on
  platform::wintest::clearMessageBoxes();
  HWND first = makeWindow();
  HWND second = makeWindow();
  const auto ownProc = GetWindowLongPtrA(first, GWLP_WNDPROC);
  NPWindow window{};
  window.window = first;
  ASSERT_EQ(plugin_.setwindow(&instance_, &window), NPERR_NO_ERROR);
  const auto pluginProc = GetWindowLongPtrA(first, GWLP_WNDPROC);
  EXPECT_NE(pluginProc, ownProc);
  EXPECT_EQ(GetPropA(first, "instance->pdata"), instance_.pdata);

  g_ownMessages.clear();
  SendMessageA(first, WM_PAINT, 0, 0);
  UpdateWindow(first);
  EXPECT_EQ(countOf(WM_PAINT), 0);  // swallowed
  SendMessageA(first, WM_USER + 1, 0, 0);
  EXPECT_EQ(countOf(WM_USER + 1), 1);  // passed on

  ASSERT_EQ(plugin_.setwindow(&instance_, &window), NPERR_NO_ERROR);  // the same handle: repaint only
  EXPECT_EQ(GetWindowLongPtrA(first, GWLP_WNDPROC), pluginProc);

  NPWindow other{};
  other.window = second;
  ASSERT_EQ(plugin_.setwindow(&instance_, &other), NPERR_NO_ERROR);  // moves to another window
  EXPECT_EQ(GetWindowLongPtrA(first, GWLP_WNDPROC), ownProc);
  EXPECT_EQ(GetPropA(first, "instance->pdata"), nullptr);
  EXPECT_EQ(GetPropA(second, "instance->pdata"), instance_.pdata);

  NPWindow none{};
  ASSERT_EQ(plugin_.setwindow(&instance_, &none), NPERR_NO_ERROR);  // no handle: restored
  EXPECT_EQ(GetWindowLongPtrA(second, GWLP_WNDPROC), ownProc);
  EXPECT_EQ(GetPropA(second, "instance->pdata"), nullptr);

  ASSERT_EQ(plugin_.setwindow(&instance_, &other), NPERR_NO_ERROR);
  EXPECT_EQ(GetPropA(second, "instance->pdata"), instance_.pdata);
  ASSERT_EQ(plugin_.setwindow(&instance_, nullptr), NPERR_NO_ERROR);  // no window at all: restored
  EXPECT_EQ(GetWindowLongPtrA(second, GWLP_WNDPROC), ownProc);
  EXPECT_EQ(GetPropA(second, "instance->pdata"), nullptr);
  g_ownMessages.clear();
  SendMessageA(second, WM_PAINT, 0, 0);
  EXPECT_EQ(countOf(WM_PAINT), 1);  // the window paints for itself again

  ASSERT_EQ(plugin_.setwindow(&instance_, &window), NPERR_NO_ERROR);
  EXPECT_EQ(plugin_.destroy(&instance_, nullptr), NPERR_NO_ERROR);  // destroy restores too
  EXPECT_EQ(GetWindowLongPtrA(first, GWLP_WNDPROC), ownProc);
  EXPECT_EQ(GetPropA(first, "instance->pdata"), nullptr);
  EXPECT_EQ(instance_.pdata, nullptr);

  // A plug-in procedure left on a window without its record falls back to the default.
  ASSERT_EQ(page({{"post_url", "u"}}, true), NPERR_NO_ERROR);
  ASSERT_EQ(plugin_.setwindow(&instance_, &window), NPERR_NO_ERROR);
  const auto leftProc = GetWindowLongPtrA(first, GWLP_WNDPROC);
  EXPECT_EQ(plugin_.destroy(&instance_, nullptr), NPERR_NO_ERROR);
  SetWindowLongPtrA(second, GWLP_WNDPROC, leftProc);
  g_ownMessages.clear();
  SendMessageA(second, WM_USER + 2, 0, 0);
  EXPECT_EQ(countOf(WM_USER + 2), 0);
  SetWindowLongPtrA(second, GWLP_WNDPROC, ownProc);
  DestroyWindow(first);
  DestroyWindow(second);
}

TEST_F(NpapiHost, PrintLeavesAFullPagePrintToTheBrowser) {
  start();
  char mime[] = "m";
  ASSERT_EQ(plugin_.newp(mime, &instance_, NP_FULL, 0, nullptr, nullptr, nullptr), NPERR_NO_ERROR);
  NPPrint print{};
  print.mode = NP_FULL;
  print.print.fullPrint.pluginPrinted = TRUE;
  plugin_.print(&instance_, &print);
  EXPECT_EQ(print.print.fullPrint.pluginPrinted, FALSE);
  plugin_.print(&instance_, nullptr);
  EXPECT_EQ(plugin_.destroy(&instance_, nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(plugin_.newp(mime, nullptr, NP_FULL, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
}

}  // namespace
