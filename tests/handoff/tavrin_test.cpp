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
  const std::string p4000 = "/" + std::string(3995, 'z') + ".pdf";
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
      {{"/x/\xff\xfe.pdf"}, "/x/\xff\xfe.pdf"},                // not UTF-8: sent as it is
      {{"relative.txt"}, "relative.txt"},                      // neither checked for ".pdf" nor for existence
      {{p259}, p259},
      {{p259 + "q"}, p259},
      {{p300}, p300.substr(0, 259)},
      {{p4000}, p4000.substr(0, 259)},
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
