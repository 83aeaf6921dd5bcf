// Tavrin as the user starts it, against a stand-in for Quarvel's main window in a
// process of its own: the command-line table, the boxes (answered through the desktop
// by this test), Retry after the receiver has started, Cancel, and a receiver that
// never asks for messages.
#include "HandoffTestSupport.h"

#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wt = platform::wintest;

namespace {

constexpr const char* kNotRunning = "Die Datei kann nicht signiert werden, prüfen Sie ob Quarvel gestartet ist!";

int runTavrin(const std::vector<std::string>& args) { return quarveltest::startProgram(TAVRIN, args).wait(); }

std::vector<wt::DesktopMessageBox> boxesOf(pid_t pid) {
  std::vector<wt::DesktopMessageBox> out;
  for (const wt::DesktopMessageBox& box : wt::desktopMessageBoxes())
    if (box.processId == static_cast<DWORD>(pid)) out.push_back(box);
  return out;
}

TEST(Tavrin, CommandLineTable) {
  handofftest::Receiver receiver;
  const std::string p259 = "/" + std::string(254, 'x') + ".pdf";
  const std::string p300 = "/" + std::string(295, 'y') + ".pdf";
  struct Row {
    std::vector<std::string> args;  // after the program name
    std::string arrives;            // the path in the request
  };
  const std::vector<Row> rows = {
      {{"/a b/c.pdf"}, "/a b/c.pdf"},                          // quoted by the start-up code, unquoted by Tavrin
      {{"/a", "b.pdf", "/c.pdf"}, "/a b.pdf /c.pdf"},          // never split: the whole text
      {{"/a b.pdf", "/c.pdf"}, "\"/a b.pdf\" /c.pdf"},         // quotes that do not enclose all stay
      {{"/Dokumente/Max Müller/Vertrag.pdf"}, "/Dokumente/Max Müller/Vertrag.pdf"},
      {{"/x/a\"b.pdf"}, "/x/a\"b.pdf"},
      {{"relative.txt"}, "relative.txt"},                      // neither checked for ".pdf" nor for existence
      {{p259}, p259},
      {{p259 + "q"}, p259 + "q"},
      {{p300}, p300},
  };
  size_t sent = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arrives.substr(0, 40));
    EXPECT_EQ(runTavrin(row.args), 0);
    const std::vector<handofftest::Request> requests = receiver.requests();
    ASSERT_EQ(requests.size(), ++sent);
    EXPECT_EQ(requests.back().dwData, 150u);
    EXPECT_EQ(requests.back().bytes, handofftest::payload(row.arrives));
  }
  EXPECT_TRUE(wt::desktopMessageBoxes().empty());

  // No file name: the box, nothing sent.
  auto tavrin = quarveltest::startProgram(TAVRIN);
  const pid_t pid = tavrin.pid();
  EXPECT_EQ(tavrin.wait(), 0);
  ASSERT_EQ(boxesOf(pid).size(), 1u);
  EXPECT_EQ(boxesOf(pid)[0].text, "Es muss der Dateiname eines PDF-Dokuments übergeben werden!");
  EXPECT_EQ(boxesOf(pid)[0].caption, "Fehler");
  EXPECT_EQ(boxesOf(pid)[0].type, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(receiver.requests().size(), sent);
}

// A path is never cut: sent whole with its NUL while the two fit the 511 bytes of a
// request, else refused with a box and not sent; so is a path that is no UTF-8 text (it
// could only reach Quarvel as another name).
TEST(Tavrin, PathsAreSentWholeOrRefusedWithABox) {
  handofftest::Receiver receiver;
  constexpr const char* kTooLong = "Der Pfad der Datei ist zu lang, die Datei kann nicht signiert werden!";
  constexpr const char* kNotText = "Der Pfad der Datei enthält ungültige Zeichen, die Datei kann nicht signiert werden!";
  struct Row {
    std::string path;
    const char* box;  // NULL: sent whole
  };
  const std::vector<Row> rows = {
      {handofftest::umlautPath(259), nullptr},
      {handofftest::umlautPath(260), nullptr},
      {handofftest::umlautPath(300), nullptr},
      {handofftest::umlautPath(510), nullptr},
      {handofftest::umlautPath(511), kTooLong},
      {"/" + std::string(3995, 'z') + ".pdf", kTooLong},
      {"/x/\xff\xfe.pdf", kNotText},
      {"/x/\xed\xa0\x80.pdf", kNotText},  // a surrogate written out as UTF-8 bytes
      {"/x/M\xc3", kNotText},               // a letter cut in half
      {"/x/a?b.pdf", kNotText},             // where a letter was lost on its way to the command line
  };
  size_t sent = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.path.size()) + " " + row.path.substr(0, 20));
    auto tavrin = quarveltest::startProgram(TAVRIN, {row.path});
    const pid_t pid = tavrin.pid();
    EXPECT_EQ(tavrin.wait(), 0);
    const std::vector<handofftest::Request> requests = receiver.requests();
    if (row.box == nullptr) {
      ASSERT_EQ(requests.size(), ++sent);
      EXPECT_EQ(requests.back().bytes, handofftest::payload(row.path));
      EXPECT_TRUE(boxesOf(pid).empty());
    } else {
      EXPECT_EQ(requests.size(), sent);
      ASSERT_EQ(boxesOf(pid).size(), 1u);
      EXPECT_EQ(boxesOf(pid)[0].text, row.box);
      EXPECT_EQ(boxesOf(pid)[0].caption, "Fehler");
      EXPECT_EQ(boxesOf(pid)[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    }
  }
}

TEST(Tavrin, RetryAfterQuarvelStartedSendsOnce) {
  wt::setDesktopMessageBoxesWait(true);
  auto tavrin = quarveltest::startProgram(TAVRIN, {"/Dokumente/Vertrag 1.pdf"});
  ASSERT_TRUE(quarveltest::eventually([&] { return boxesOf(tavrin.pid()).size() == 1; }));
  EXPECT_EQ(boxesOf(tavrin.pid())[0].text, kNotRunning);
  EXPECT_EQ(boxesOf(tavrin.pid())[0].caption, "Fehler");
  EXPECT_EQ(boxesOf(tavrin.pid())[0].type, 0x45u);
  // Retry while there is still no receiver: the box again.
  wt::queueDesktopMessageBoxAnswer(IDRETRY);
  ASSERT_TRUE(quarveltest::eventually([&] { return boxesOf(tavrin.pid()).size() == 2; }));
  handofftest::Receiver receiver;
  wt::queueDesktopMessageBoxAnswer(IDRETRY);
  EXPECT_EQ(tavrin.wait(), 0);
  ASSERT_EQ(receiver.requests().size(), 1u);
  EXPECT_EQ(receiver.requests()[0].bytes, handofftest::payload("/Dokumente/Vertrag 1.pdf"));
}

TEST(Tavrin, CancelSendsNothing) {
  wt::setDesktopMessageBoxesWait(true);
  auto tavrin = quarveltest::startProgram(TAVRIN, {"/Dokumente/Vertrag 2.pdf"});
  const pid_t pid = tavrin.pid();
  ASSERT_TRUE(quarveltest::eventually([&] { return boxesOf(pid).size() == 1; }));
  wt::queueDesktopMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(tavrin.wait(), 0);
  EXPECT_EQ(boxesOf(pid).size(), 1u);
  EXPECT_EQ(FindWindowA("VWindow", "Quarvel"), nullptr);
}

// A receiver that never asks for messages: the send gives up, Tavrin still ends with 0.
TEST(Tavrin, HungReceiver) {
  handofftest::Receiver receiver(handofftest::Receiver::kHung);
  EXPECT_EQ(runTavrin({"/Dokumente/Vertrag 3.pdf"}), 0);
  EXPECT_TRUE(receiver.requests().empty());
}

}  // namespace
