// The hand-off as a user meets it: Quarvel runs with its Java VM, Tavrin or the
// context-menu extension hands it a path, and the stand-in sign-file dialog records the
// path it was opened with.
#include "HandoffTestSupport.h"
#include "JvmFixture.h"

#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

class HandOffToQuarvel : public ::testing::Test {
 protected:
  void SetUp() override { jvmtest::install(); }
  void TearDown() override {
    if (quarvel) {
      EXPECT_TRUE(jvmtest::requestQuit(window));
      EXPECT_EQ(quarvel->wait(), 255);
      jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log");
    }
  }
  void start() {
    quarvel = std::make_unique<jvmtest::Quarvel>(std::vector<std::string>{jvmtest::javaLogPath()});
    window = quarvel->waitForMainWindow();
    ASSERT_NE(window, nullptr);
  }
  // The sign-file dialog's marker lines so far.
  static std::vector<std::string> dialogs() {
    std::vector<std::string> out;
    for (const std::string& line : jvmtest::markerLines())
      if (line.rfind("JDlgSignFile.main ", 0) == 0) out.push_back(line.substr(18));
    return out;
  }

  std::unique_ptr<jvmtest::Quarvel> quarvel;
  HWND window = nullptr;
};

TEST_F(HandOffToQuarvel, TavrinOpensTheSignFileDialogWithThePath) {
  start();
  const std::vector<std::string> paths = {
      "/home/Max Müller/Eigene Dateien/Vertrag 2024.pdf",
      "/home/max/a \"quoted\" name.pdf",
  };
  for (const std::string& path : paths) {
    EXPECT_EQ(quarveltest::startProgram(TAVRIN, {path}).wait(), 0);
    EXPECT_TRUE(quarveltest::eventually([&] { return !dialogs().empty() && dialogs().back() == path; })) << path;
  }
  EXPECT_EQ(dialogs(), paths);
}

TEST_F(HandOffToQuarvel, RetryOnceQuarvelIsRunning) {
  platform::wintest::setDesktopMessageBoxesWait(true);
  auto tavrin = quarveltest::startProgram(TAVRIN, {"/home/max/Angebot.pdf"});
  ASSERT_TRUE(quarveltest::eventually([] { return !platform::wintest::desktopMessageBoxes().empty(); }));
  start();
  platform::wintest::queueDesktopMessageBoxAnswer(IDRETRY);
  EXPECT_EQ(tavrin.wait(), 0);
  EXPECT_TRUE(quarveltest::eventually([&] { return dialogs() == std::vector<std::string>{"/home/max/Angebot.pdf"}; }));
}

// The context-menu extension of each build (the 32-bit one in a 32-bit shell host, by
// the kernel and under user-mode emulation) hands the path to the 64-bit Quarvel.
TEST_F(HandOffToQuarvel, ContextMenuOpensTheSignFileDialogWithThePath) {
  start();
  std::vector<std::string> expected;
  std::string skipped;
  for (const handofftest::ShellExtension& extension : handofftest::shellExtensionRoads()) {
    if (!handofftest::runsHere(extension)) {
      skipped = handofftest::howItRuns(extension);
      continue;
    }
    const std::string path = "/home/Max Müller/Eigene Dateien/Vertrag " + extension.label() + ".pdf";
    const std::vector<std::string> lines = handofftest::runShellHost(extension, {"invoke", "0", path});
    EXPECT_NE(std::find(lines.begin(), lines.end(), "invoke 0x00000000"), lines.end()) << extension.label();
    expected.push_back(path);
    EXPECT_TRUE(quarveltest::eventually([&] { return dialogs() == expected; })) << extension.label();
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// Long paths with umlauts from each sender, against the real Quarvel: signed whole (the
// sign-file dialog opens with the very path) or refused with the sender's box; never
// cut, never lost without a word.
TEST_F(HandOffToQuarvel, LongAndBadPathsAreSignedWholeOrRefusedWithABox) {
  start();
  const std::string tooLong = "Der Pfad der Datei ist zu lang, die Datei kann nicht signiert werden!";
  const std::string notText = "Der Pfad der Datei enthält ungültige Zeichen, die Datei kann nicht signiert werden!";
  struct Sender {
    std::string name;
    std::function<void(const std::string&)> send;
  };
  std::vector<Sender> senders = {{"Tavrin", [](const std::string& path) {
                                    EXPECT_EQ(quarveltest::startProgram(TAVRIN, {path}).wait(), 0);
                                  }}};
  for (const handofftest::ShellExtension& extension : handofftest::shellExtensionRoads()) {
    if (!handofftest::runsHere(extension)) continue;  // ContextMenuOpensTheSignFileDialogWithThePath says why
    senders.push_back({extension.label(), [extension](const std::string& path) {
                         const std::vector<std::string> lines = handofftest::runShellHost(extension, {"invoke", "0", path});
                         EXPECT_NE(std::find(lines.begin(), lines.end(), "invoke 0x00000000"), lines.end());
                       }});
  }
  struct Row {
    std::string path;
    std::string box;  // empty: signed whole
    bool shellOnly = false;  // a name only the shell's wide list can hold
    bool commandLineOnly = false;
  };
  const std::vector<Row> rows = {
      {handofftest::umlautPath(259), ""},
      {handofftest::umlautPath(260), ""},
      {handofftest::umlautPath(300), ""},
      {handofftest::umlautPath(510), ""},
      {handofftest::umlautPath(511), tooLong},
      {"/home/Jürgen/a\\uD800b.pdf", notText, true},
      {"/home/Jürgen/\xff\xfe.pdf", notText, false, true},
  };
  std::vector<std::string> expected;
  size_t boxes = 0;
  for (const Sender& sender : senders) {
    for (const Row& row : rows) {
      if ((row.shellOnly && sender.name == "Tavrin") || (row.commandLineOnly && sender.name != "Tavrin")) continue;
      SCOPED_TRACE(sender.name + " " + std::to_string(row.path.size()));
      sender.send(row.path);
      if (row.box.empty()) {
        expected.push_back(row.path);
        EXPECT_TRUE(quarveltest::eventually([&] { return dialogs() == expected; }));
      } else {
        const auto shown = platform::wintest::desktopMessageBoxes();
        ASSERT_EQ(shown.size(), ++boxes);
        EXPECT_EQ(shown.back().text, row.box);
      }
    }
  }
  EXPECT_EQ(dialogs(), expected);
}

}  // namespace
