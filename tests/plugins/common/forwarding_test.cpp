// The request forwarding against the Security Layer test server on 127.0.0.1:20000:
// what the server receives, and what the user sees or the page receives for each reply.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SecurityLayerForwarding.h"
#include "SecurityLayerNamespace.h"
#include "ScriptedHttpServer.h"
#include "platform/window_test.h"
#include "platform/wininet_test.h"

namespace {

using platform::wintest::MessageBoxRecord;

struct CapturingPoster : slforward::RequestPoster {
  std::vector<std::pair<std::string, std::string>> posts;  // body, URL
  std::string form;
  char* formBuffer(size_t length) override {
    form.assign(length, '\x7f');
    return form.data();
  }
  void post(const char* url) override { posts.emplace_back(form, url); }
};

std::string encoded(const std::string& text) {
  std::vector<char> out(3 * text.size() + 1);
  slforward::urlEncode(text.c_str(), out.data());
  return out.data();
}

const std::string kBoxPrefix = "http://page.example/receive";

class Forwarding : public ::testing::Test {
 protected:
  void SetUp() override { platform::wintest::clearMessageBoxes(); }

  // Runs one forwarding against the server; the boxes it showed.
  std::vector<MessageBoxRecord> run(const char* request = "<Request/>", const char* timeout = nullptr) {
    platform::wintest::clearMessageBoxes();
    slforward::forwardRequest(request, kBoxPrefix.c_str(), timeout, nullptr, poster);
    return platform::wintest::messageBoxes();
  }

  static void expectBox(const std::vector<MessageBoxRecord>& boxes, const std::string& text,
                        const std::string& caption = "Error", UINT type = MB_OK | MB_ICONERROR) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, caption);
    EXPECT_EQ(boxes[0].type, type);
  }

  CapturingPoster poster;
};

class ForwardingWithServer : public Forwarding {
 protected:
  slserver::SecurityLayerServer server;
};

std::string sl10Error(const std::string& quote) {
  return "<sl10:ErrorResponse xmlns:sl10=" + quote + SL10_NAMESPACE + quote +
         "><sl10:ErrorCode>1100</sl10:ErrorCode><sl10:Info>Abbruch</sl10:Info></sl10:ErrorResponse>";
}

std::string prefixed(const std::string& prefix, const std::string& name, const std::string& uri) {
  return "<" + prefix + ":" + name + " xmlns:" + prefix + "=\"" + uri + "\"><x/></" + prefix + ":" + name + ">";
}

TEST_F(ForwardingWithServer, ReplyTable) {
  struct Row {
    std::string reply;
    int status;
    std::string boxText;     // empty: posted
    std::string boxCaption;
    std::string postedData;  // the decoded data field when posted
  };
  const std::string success = "<GetPropertiesResponse>p</GetPropertiesResponse>";
  std::vector<Row> rows = {
      {"<ErrorResponse><Code>2000</Code><Info>Kartenfehler</Info></ErrorResponse>", 200, "Kartenfehler",
       "Error: 2000", ""},
      {sl10Error("'"), 200, "Abbruch", "Error: 1100", ""},
      {sl10Error("\""), 200, slforward::kMsgTransfer, "Error", ""},
      {"<ErrorResponse>" + sl10Error("'") + "<Code>3</Code><Info>plain</Info>", 200, "plain", "Error: 3", ""},
      {"<ErrorResponse><Code>2000</Code><Info>x</ErrorResponse>", 200, slforward::kMsgTransfer, "Error", ""},
      {"<GetStatusResponse>s</GetStatusResponse>", 200, slforward::kMsgTransfer, "Error", ""},
      {"<ErrorResponse><Code>7</Code><Info>both</Info></ErrorResponse>" + success, 200, "both", "Error: 7", ""},
      {"<ErrorResponse><Code>0</Code><Info>null ok</Info></ErrorResponse>", 200, "", "", "null ok"},
      {"", 200, slforward::kMsgCommunication, "Error", ""},
      {success, 500, "", "", success},
      {"<ErrorResponse><Code>1234567890123</Code><Info>long</Info></ErrorResponse>", 200, slforward::kMsgTransfer,
       "Error", ""},
      {"<ErrorResponse><Code>123456789012</Code><Info>twelve</Info></ErrorResponse>", 200, "twelve",
       "Error: 123456789012", ""},
      {"<ErrorResponse></Code><Code>1</Code><Info>rev</Info></ErrorResponse>", 200, slforward::kMsgTransfer, "Error",
       ""},
      {"<ErrorResponse><Code>1</Code></Info><Info>rev</ErrorResponse>", 200, slforward::kMsgTransfer, "Error", ""},
      {"<ErrorResponse><Code>5</Code><Info>Gr\xC3\xBC\xC3\x9F" "e</Info></ErrorResponse>", 200,
       "Gr\xC3\xBC\xC3\x9F" "e", "Error: 5", ""},
      {prefixed("sl10", "GetStatusResponse", "http://other.example/namespaces/securitylayer/20020225#"), 200,
       slforward::kMsgTransfer, "Error", ""},
      // Error replies without their code.
      {"<ErrorResponse><Info>keine Nummer</Info></ErrorResponse>", 200, slforward::kMsgTransfer, "Error", ""},
      {"<sl10:ErrorResponse xmlns:sl10='" SL10_NAMESPACE "'><sl10:Info>i</sl10:Info></sl10:ErrorResponse>", 200,
       slforward::kMsgTransfer, "Error", ""},
      // A NUL byte: no Security Layer reply holds one, and what follows it would be lost.
      {success + std::string(1, '\0') + "<ErrorResponse><Code>1</Code><Info>i</Info>", 200, slforward::kMsgTransfer,
       "Error", ""},
      {std::string(1, '\0') + success, 200, slforward::kMsgTransfer, "Error", ""},
  };
  // The fourteen success pairs.
  for (const char* name : {"CreateXMLSignatureResponse", "CreateCMSSignatureResponse", "VerifyCMSSignatureResponse",
                           "VerifyXMLSignatureResponse", "GetPropertiesResponse"}) {
    const std::string reply = std::string("</") + name + "> and <" + name + ">";  // order does not matter
    rows.push_back({reply, 200, "", "", reply});
  }
  for (const char* name : {"CreateXMLSignatureResponse", "VerifyXMLSignatureResponse", "VerifyCMSSignatureResponse",
                           "GetPropertiesResponse"}) {
    const std::string reply = prefixed("sl11", name, SL11_NAMESPACE);
    rows.push_back({reply, 200, "", "", reply});
  }
  for (const char* name : {"CreateCMSSignatureResponse", "InfoboxAvailableResponse", "InfoboxReadResponse",
                           "InfoboxUpdateResponse", "GetStatusResponse"}) {
    const std::string reply = prefixed("sl10", name, SL10_NAMESPACE);
    rows.push_back({reply, 200, "", "", reply});
  }
  ASSERT_EQ(rows.size(), 20u + 14u);

  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    slserver::Reply reply;
    reply.body = row.reply;
    reply.status = row.status;
    server.setReply(reply);
    poster.posts.clear();
    const auto boxes = run();
    if (row.boxText.empty()) {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(poster.posts.size(), 1u);
      EXPECT_EQ(poster.posts[0].second, kBoxPrefix);
      EXPECT_EQ(poster.posts[0].first, "data=" + encoded(row.postedData) + "&retValue=0");
    } else {
      EXPECT_TRUE(poster.posts.empty());
      expectBox(boxes, row.boxText, row.boxCaption);
    }
  }
}

TEST_F(ForwardingWithServer, EncodingRoundTripInIrregularPieces) {
  std::string reply = "<sl10:GetStatusResponse xmlns:sl10=\"" SL10_NAMESPACE "\">";
  const std::string filler = "Gr\xC3\xBC\xC3\x9F" "e \xC3\xA4\xC3\xB6 + & = % - ~ _ . * \r\n\t'\"<>;/?#\xE2\x82\xAC ";
  while (reply.size() < 12000) reply += filler;
  reply += "</sl10:GetStatusResponse>";
  slserver::Reply script;
  script.body = reply;
  script.pieces = {1, 999, 1000, 1001, 7, 4093, 2};
  script.withLength = false;  // read until the close
  server.setReply(script);

  EXPECT_TRUE(run().empty());
  ASSERT_EQ(poster.posts.size(), 1u);
  const auto form = slserver::decodeForm(poster.posts[0].first);
  EXPECT_EQ(form.size(), 2u);
  EXPECT_EQ(form.at("data"), reply);
  EXPECT_EQ(form.at("retValue"), "0");
}

TEST_F(ForwardingWithServer, ChunkedReplyIsRead) {
  slserver::Reply script;
  script.body = "<CreateCMSSignatureResponse>" + std::string(5000, 'c') + "</CreateCMSSignatureResponse>";
  script.chunked = true;
  script.pieces = {700, 3000};
  server.setReply(script);
  EXPECT_TRUE(run().empty());
  ASSERT_EQ(poster.posts.size(), 1u);
  EXPECT_EQ(slserver::decodeForm(poster.posts[0].first).at("data"), script.body);
}

TEST_F(ForwardingWithServer, ServerClosingAfterHalfAReplyGivesTheTransferError) {
  slserver::Reply script;
  script.body = "<CreateCMSSignatureResponse>" + std::string(3000, 'c') + "</CreateCMSSignatureResponse>";
  script.closeAfter = script.body.size() / 2;
  server.setReply(script);
  expectBox(run(), slforward::kMsgTransfer);
  EXPECT_TRUE(poster.posts.empty());
}

TEST_F(ForwardingWithServer, RequestReachesTheServerByteExact) {
  slserver::Reply script;
  script.body = "<GetPropertiesResponse/></GetPropertiesResponse>";
  server.setReply(script);
  size_t expected = 0;
  for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 5000u}) {
    std::string request;
    for (size_t i = 0; i < size; ++i) request += static_cast<char>('!' + (i * 7) % 90);
    run(request.c_str());
    ASSERT_TRUE(server.waitForRequests(++expected));
    const slserver::Request got = server.requests().back();
    SCOPED_TRACE(size);
    EXPECT_EQ(got.requestLine, "POST / HTTP/1.0");
    EXPECT_EQ(got.body, request);
    EXPECT_EQ(got.headers.at("content-length"), std::to_string(size));
    EXPECT_EQ(got.headers.at("user-agent"), "InetURL/1.0");
    EXPECT_EQ(got.headers.at("pragma"), "no-cache");
    EXPECT_EQ(got.headers.at("host"), "localhost:20000");
    EXPECT_EQ(got.headers.size(), 4u) << got.raw;
  }
}

TEST_F(ForwardingWithServer, NonUtf8AndSpecialRequestBytesArriveUnchanged) {
  slserver::Reply script;
  script.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  server.setReply(script);
  std::string request;
  for (int c = 1; c < 256; ++c) request += static_cast<char>(c);
  run(request.c_str());
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(server.requests()[0].body, request);
  EXPECT_EQ(poster.posts.size(), 1u);
}

TEST_F(ForwardingWithServer, TimeoutTextsReachWinInetAsDecided) {
  slserver::Reply script;
  script.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  server.setReply(script);
  struct Row {
    const char* text;
    DWORD ms;
  } rows[] = {{nullptr, 1200000}, {"5", 300000},          {"3 x", 180000},          {"abc", 1200000},
              {"0", 1200000},   {"71582", 4294920000u}, {"71583", 0xFFFFFFFFu},  {"99999999999999999999", 0xFFFFFFFFu},
              {" 2", 120000},   {"", 1200000},          {"-0", 1200000},        {"000", 1200000}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text ? row.text : "(none)");
    EXPECT_EQ(slforward::receiveTimeoutOf(row.text), row.ms);
    platform::inettest::clearReceiveTimeoutsSet();
    run("<Request/>", row.text);
    // The whole time-out first; a wait set later only ever shortens it to what is left.
    const std::vector<DWORD> set = platform::inettest::receiveTimeoutsSet();
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(set[0], row.ms);
    for (size_t i = 1; i < set.size(); ++i) EXPECT_LT(set[i], set[i - 1]);
  }
}

TEST_F(ForwardingWithServer, SilentServerEndsInTheCommunicationError) {
  slserver::Reply script;
  script.silent = true;
  server.setReply(script);
  platform::inettest::capReceiveWait(200);
  expectBox(run("<Request/>", "1"), slforward::kMsgCommunication);
  platform::inettest::capReceiveWait(0);
  EXPECT_TRUE(poster.posts.empty());
}

// Reply sizes on both sides of each step of the reply buffer (its first 5100 bytes,
// the growth by at least half) and of the cap, in pieces of the read chunk and of
// other sizes: the page receives each one whole.
TEST_F(ForwardingWithServer, RepliesAroundTheBufferStepsArriveWhole) {
  const std::string open = "<GetPropertiesResponse>";
  const std::string close = "</GetPropertiesResponse>";
  struct Row {
    size_t size;
    std::vector<size_t> pieces;
  } rows[] = {
      {4099, {1000}},       {4100, {1000}},        {5099, {1000}},       {5100, {1000}},
      {5101, {1000}},       {5101, {5099, 1, 1}},  {6100, {1000}},       {7650, {999, 1001}},
      {7651, {3}},          {11476, {5100}},       {slforward::kMaxReply, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.size);
    slserver::Reply script;
    script.body = open;
    for (size_t i = 0; script.body.size() < row.size - close.size(); ++i)
      script.body += static_cast<char>('a' + i % 26);
    script.body += close;
    ASSERT_EQ(script.body.size(), row.size);
    script.pieces = row.pieces;
    server.setReply(script);
    poster.posts.clear();
    EXPECT_TRUE(run().empty());
    ASSERT_EQ(poster.posts.size(), 1u);
    EXPECT_TRUE(poster.posts[0].first == "data=" + encoded(script.body) + "&retValue=0");
  }
}

// A server that takes its time, answering late and in pieces with pauses, each
// shorter than the receive time-out though all of them are longer: the reply is
// posted whole.
TEST_F(ForwardingWithServer, SlowButSteadyReplyIsPosted) {
  slserver::Reply script;
  script.body = "<sl10:InfoboxReadResponse xmlns:sl10=\"" SL10_NAMESPACE "\">" + std::string(6000, 'i') +
                "</sl10:InfoboxReadResponse>";
  script.pieces = {800};
  script.delayMs = 200;
  script.pauseMs = 200;
  server.setReply(script);
  platform::inettest::capReceiveWait(1000);  // each wait, not the whole reply
  const auto boxes = run("<Request/>", "1");
  platform::inettest::capReceiveWait(0);
  EXPECT_TRUE(boxes.empty());
  ASSERT_EQ(poster.posts.size(), 1u);
  EXPECT_EQ(slserver::decodeForm(poster.posts[0].first).at("data"), script.body);
}

// Whether the server announces the length (refused before any byte is read) or not
// (refused once the reply grows beyond the cap).
TEST_F(ForwardingWithServer, ReplyAboveTheCapIsRefused) {
  const std::string open = "<GetPropertiesResponse>";
  const std::string close = "</GetPropertiesResponse>";
  slserver::Reply script;
  script.body = open + std::string(slforward::kMaxReply + 1 - open.size() - close.size(), 'x') + close;
  ASSERT_EQ(script.body.size(), slforward::kMaxReply + 1);
  for (const bool withLength : {true, false}) {
    SCOPED_TRACE(withLength);
    script.withLength = withLength;
    server.setReply(script);
    expectBox(run(), slforward::kMsgTransfer);
    EXPECT_TRUE(poster.posts.empty());
  }
}

TEST_F(ForwardingWithServer, LargeReplyBelowTheCapIsPosted) {
  slserver::Reply script;
  script.body = "<GetPropertiesResponse>" + std::string(3u << 20, 'y') + "</GetPropertiesResponse>";
  server.setReply(script);
  EXPECT_TRUE(run().empty());
  ASSERT_EQ(poster.posts.size(), 1u);
  EXPECT_EQ(poster.posts[0].first.size(), 5 + script.body.size() + 2 * 5 + 10 + 1);
}

// The reply grows its buffer geometrically: a few allocations for megabytes, where
// growing by a fixed step would make thousands and copy the reply each time.
TEST_F(ForwardingWithServer, LongReplyGrowsItsBufferInFewSteps) {
  static int allocations = 0;
  static int outstanding = 0;
  const slforward::PluginMemory counted{[](size_t bytes) -> void* {
                                          ++allocations;
                                          ++outstanding;
                                          return std::malloc(bytes);
                                        },
                                        [](void* block) {
                                          if (block) --outstanding;
                                          std::free(block);
                                        }};
  slserver::Reply script;
  script.body = "<GetPropertiesResponse>" + std::string(8u << 20, 'z') + "</GetPropertiesResponse>";
  script.pieces = {1000};
  server.setReply(script);
  platform::wintest::clearMessageBoxes();
  slforward::forwardRequest("<Request/>", kBoxPrefix.c_str(), nullptr, nullptr, poster, counted);
  EXPECT_TRUE(platform::wintest::messageBoxes().empty());
  ASSERT_EQ(poster.posts.size(), 1u);
  EXPECT_LT(allocations, 64);
  EXPECT_EQ(outstanding, 0);
}

// Where a page may have the reply posted: http, https and relative URLs, which the
// browser resolves against the page; every other scheme is refused with the forwarding
// box before anything is sent, and so is a relative URL with a backslash before its
// query (a file share to the browsers of this platform). The rule reads both widths.
TEST_F(ForwardingWithServer, PostUrlTable) {
  slserver::Reply script;
  script.body = "<GetPropertiesResponse>p</GetPropertiesResponse>";
  server.setReply(script);
  struct Row {
    std::string url;
    bool posted;
  } rows[] = {
      {"http://page.example/receive", true},
      {"HTTPS://Page.Example/receive?a=b:c", true},
      {"HtTp://page.example", true},
      {"https:", true},
      {"/receive", true},
      {"receive.php?next=javascript:x", true},
      {"../up/one:two", true},
      {"?only=query", true},
      {"#fragment:x", true},
      {"//other.example/receive", true},
      {"javascript%3Aalert(1)", true},  // no scheme: a relative path
      {"", true},                       // an empty value counts as given
      {"javascript:alert(document.cookie)", false},
      {"JavaScript:alert(1)", false},
      {"vbscript:MsgBox(1)", false},
      {"file:///C:/Windows/win.ini", false},
      {"data:text/html,<script>alert(1)</script>", false},
      {"java\tscript:alert(1)", false},
      {" javascript:alert(1)", false},
      {" http://page.example/", false},
      {"\x01http://page.example/", false},
      {"http\n://page.example/", false},
      {"ftp://page.example/", false},
      {"httpx://page.example/", false},
      {"h\xC3\xA4ttp://page.example/", false},
      {"C:\\Users\\max\\x.html", false},
      {"\\\\evil.example\\share\\x", false},
      {"/\\evil.example/x", false},
      {":", false},
  };
  size_t requests = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    poster.posts.clear();
    platform::wintest::clearMessageBoxes();
    slforward::forwardRequest("<Request/>", row.url.c_str(), nullptr, nullptr, poster);
    const auto boxes = platform::wintest::messageBoxes();
    if (row.posted) {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(poster.posts.size(), 1u);
      EXPECT_EQ(poster.posts[0].second, row.url);
      ASSERT_TRUE(server.waitForRequests(++requests));
    } else {
      expectBox(boxes, slforward::kMsgForwarding, "Error", MB_OK);
      EXPECT_TRUE(poster.posts.empty());
    }
    // The wide form of each URL gets the same answer.
    std::u16string wide;
    for (unsigned char c : row.url) wide += static_cast<char16_t>(c < 0x80 ? c : 0xE4);
    EXPECT_EQ(slforward::isPostableUrl(wide.c_str()), row.posted);
  }
  EXPECT_EQ(server.requests().size(), requests);
  EXPECT_FALSE(slforward::isPostableUrl(static_cast<const char*>(nullptr)));
}

// One deadline for the whole reply: a server that trickles its reply, each byte well
// within a single wait, is cut off when the time is up (the reply is not whole: the
// transfer error); a server that sends nothing in time gives the communication error.
TEST_F(ForwardingWithServer, TheWholeReplyMustArriveWithinTheTimeOut) {
  struct Row {
    const char* what;
    slserver::Reply script;
    const char* box;
  };
  slserver::Reply trickle;
  trickle.body = "<GetPropertiesResponse>" + std::string(400, 't') + "</GetPropertiesResponse>";
  trickle.pieces = {1};
  trickle.pauseMs = 50;  // 20 s for the whole reply
  slserver::Reply late;
  late.body = "<GetPropertiesResponse>late</GetPropertiesResponse>";
  late.delayMs = 20000;
  slserver::Reply unendingHead = trickle;  // headers in time, then a body without end
  unendingHead.withLength = false;
  // The late server holds its one connection until the test ends: its row comes last.
  for (const Row& row : {Row{"trickle", trickle, slforward::kMsgTransfer},
                         Row{"trickle without length", unendingHead, slforward::kMsgTransfer},
                         Row{"late", late, slforward::kMsgCommunication}}) {
    SCOPED_TRACE(row.what);
    server.setReply(row.script);
    poster.posts.clear();
    platform::wintest::clearMessageBoxes();
    slforward::forwardRequestWithin("<Request/>", kBoxPrefix.c_str(), 500, nullptr, poster);
    expectBox(platform::wintest::messageBoxes(), row.box);
    EXPECT_TRUE(poster.posts.empty());
  }
}

// A reply that stops short of its Content-Length, or a chunked one without its last
// chunk, is not whole, even where what came would read as a success.
TEST_F(ForwardingWithServer, ShortRepliesAreTheTransferError) {
  const std::string success = "<GetPropertiesResponse>p</GetPropertiesResponse>";
  struct Row {
    const char* what;
    bool chunked;
    size_t closeAfter;
  } rows[] = {
      {"one byte short", false, success.size() + 99},
      {"the tags whole, the padding missing", false, success.size()},
      {"chunked, cut", true, success.size() + 50},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    slserver::Reply script;
    script.body = success + std::string(100, ' ');
    script.chunked = row.chunked;
    script.pieces = {success.size(), 50, 50};
    script.closeAfter = row.closeAfter;
    server.setReply(script);
    poster.posts.clear();
    expectBox(run(), slforward::kMsgTransfer);
    EXPECT_TRUE(poster.posts.empty());
  }
}

// The texts the user reads, byte for byte (UTF-8, the ANSI code page here).
TEST(MessageTexts, AsTheUserReadsThem) {
  const std::pair<const char*, const char*> rows[] = {
      {slforward::kMsgRequestMissing,
       "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten f\xC3\xBCr die Signaturerstellung vorhanden.\n"
       "Bitte \xC3\xBC" "berpr\xC3\xBC" "fen Sie, ob der Parameter 'xml_request' angegeben wurde."},
      {slforward::kMsgPostUrlMissing,
       "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten f\xC3\xBCr die Signaturerstellung vorhanden.\n"
       "Bitte \xC3\xBC" "berpr\xC3\xBC" "fen Sie, ob der Parameter 'post_url' angegeben wurde."},
      {slforward::kMsgIncomplete,
       "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten f\xC3\xBCr die Signaturerstellung vorhanden."},
      {slforward::kMsgCommunication, "Kommunikationsfehler.\nBitte pr\xC3\xBC" "fen Sie, ob Quar:vel gestartet ist."},
      {slforward::kMsgTransfer, "Bei der Daten\xC3\xBC" "bertragung ist ein Fehler aufgetreten."},
      {slforward::kMsgForwarding,
       "Bei der Weiterleitung auf die n\xC3\xA4" "chste Seite ist ein Fehler aufgetreten."},
      {slforward::kCaptionError, "Error"},
  };
  for (const auto& row : rows) EXPECT_STREQ(row.first, row.second);
}

TEST_F(Forwarding, NothingListeningGivesTheCommunicationError) {
  slserver::Port20000Turn turn;  // while it is ours, no test server listens
  expectBox(run(), slforward::kMsgCommunication);
  EXPECT_TRUE(poster.posts.empty());
}

TEST_F(Forwarding, MissingParametersAreRefusedBeforeAnyExchange) {
  platform::inettest::clearReceiveTimeoutsSet();
  slforward::forwardRequest(nullptr, nullptr, nullptr, nullptr, poster);
  slforward::forwardRequest(nullptr, "http://x/", nullptr, nullptr, poster);
  slforward::forwardRequest("<R/>", nullptr, "5", nullptr, poster);
  const auto boxes = platform::wintest::messageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, slforward::kMsgRequestMissing);
  EXPECT_EQ(boxes[1].text, slforward::kMsgRequestMissing);
  EXPECT_EQ(boxes[2].text, slforward::kMsgPostUrlMissing);
  EXPECT_EQ(std::string(slforward::kMsgPostUrlMissing),
            "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten f\xC3\xBCr die Signaturerstellung vorhanden.\n"
            "Bitte \xC3\xBC" "berpr\xC3\xBC" "fen Sie, ob der Parameter 'post_url' angegeben wurde.");
  EXPECT_TRUE(platform::inettest::receiveTimeoutsSet().empty());
  EXPECT_TRUE(poster.posts.empty());
}

// The page's minutes are read as scanf reads an unsigned number ("%u": blanks, a sign,
// digits, the rest ignored; a negative number wraps), then times 60000 without wrapping;
// no minutes at all are the default, never a wait without end.
TEST(TimeoutText, ReadAsScanfReadsAnUnsignedNumber) {
  const char* texts[] = {"5",  "+5",  "-0",     "-1",      "-5",   "\t7\n", "  12abc", "0x10", "1e3",
                         "0",  "00",  "+",      "-",       " ",    "x5",    ("\xFF" "9"),  "9\xFF", "71582",
                         "71583", "4294967295", "4294967", "1 2", "\v\f3"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    unsigned minutes = 0;
    DWORD expected = slforward::kDefaultTimeoutMs;
    if (std::sscanf(text, "%u", &minutes) == 1 && minutes != 0) {
      const unsigned long long ms = 60000ull * minutes;
      expected = ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(ms);
    }
    EXPECT_EQ(slforward::receiveTimeoutOf(text), expected);
  }
}

TEST(SplitResponse, CodeFieldAndTagOrder) {
  struct Row {
    std::string reply;
    int result;
    std::string code;
    std::string info;
  } rows[] = {
      {"<ErrorResponse><Code>2000</Code><Info>Wort</Info></ErrorResponse>", 0, "2000", "Wort"},
      {"<ErrorResponse><Code></Code><Info></Info>", 0, "", ""},
      {"<ErrorResponse><Code>" + std::string(12, '9') + "</Code><Info>i</Info>", 0, std::string(12, '9'), "i"},
      {"<ErrorResponse><Code>" + std::string(100, '9') + "</Code><Info>i</Info>", -1, "", ""},
      {"<ErrorResponse></Code>x<Code><Info>i</Info>", -1, "", ""},
      {"<ErrorResponse><Code>1</Code></Info>x<Info>", -1, "", ""},
      {"<ErrorResponse><Code>1</Code><Info>i", -1, "", ""},
      {"<ErrorResponse><Code>1<Info>i</Info>", -1, "", ""},
      {"<ErrorResponse><Info>i</Info>", -1, "", ""},
      {"<ErrorResponse><Code>1</Code>", -1, "", ""},
      {"<Code>1</Code><Info>i</Info><ErrorResponse>", 0, "1", "i"},  // anywhere in the reply
      {"<GetPropertiesResponse></GetPropertiesResponse>", 1, "0",
       "<GetPropertiesResponse></GetPropertiesResponse>"},
      {"no answer at all", -1, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    char code[slforward::kCodeSize];
    std::vector<char> info(row.reply.size() + 1);
    const int result = slforward::splitResponse(row.reply.c_str(), code, info.data());
    EXPECT_EQ(result, row.result);
    if (result != -1) {
      EXPECT_EQ(std::string(code), row.code);
      EXPECT_EQ(std::string(info.data()), row.info);
    }
  }
}

TEST(UrlEncodeAndUmlauts, Tables) {
  struct Row {
    std::string in, out;
  } encodeRows[] = {
      {"a b", "a+b"},
      {"-._~", "%2d%2e%5f%7e"},
      {"\xC3\xA4", "%c3%a4"},
      {"AZaz09", "AZaz09"},
      {"+&=%\r\n", "%2b%26%3d%25%0d%0a"},
      {"\xFF\x80", "%ff%80"},
      {"", ""},
  };
  for (const Row& row : encodeRows) EXPECT_EQ(encoded(row.in), row.out) << row.in;

  Row umlautRows[] = {
      {"\x47\x72\xC3\xBC\xC3\x9F\x65", "\x47\x72\xFC\xDF\x65"},
      {"\xC3\x9C\xC3\xBC\xC3\x96\xC3\xB6\xC3\x84\xC3\xA4\xC3\x9F", "\xDC\xFC\xD6\xF6\xC4\xE4\xDF"},
      {"\xC3\xA9 \xE2\x82\xAC", "\xC3\xA9 \xE2\x82\xAC"},  // other letters stay
      {"ab\xC3", "ab\xC3"},                                  // a cut-off sequence at the end
      {"\xC3\xC3\xBC", "\xC3\xFC"},
      {"", ""},
  };
  for (const Row& row : umlautRows) {
    std::vector<char> text(row.in.begin(), row.in.end());
    text.push_back('\0');
    slforward::convertUmlauts(text.data());
    EXPECT_EQ(std::string(text.data()), row.out);
  }
}

}  // namespace
