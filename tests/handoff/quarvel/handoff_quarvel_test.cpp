// The hand-off as a user meets it: Quarvel runs with its Java VM, Tavrin or the
// context-menu extension hands it a path, and the stand-in sign-file dialog records the
// path it was opened with.
#include "HandoffTestSupport.h"
#include "JvmFixture.h"

#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The context-menu extension of each build (the 32-bit one in a 32-bit shell host)
// hands the path to the 64-bit Quarvel.
TEST_F(HandOffToQuarvel, ContextMenuOpensTheSignFileDialogWithThePath) {
  start();
  std::vector<std::string> expected;
  for (const handofftest::ShellExtension& extension : handofftest::shellExtensions()) {
    if (!handofftest::runsHere(extension)) continue;  // a kernel without 32-bit programs
    const std::string path = "/home/Max Müller/Eigene Dateien/Vertrag " + extension.name + ".pdf";
    const std::vector<std::string> lines = handofftest::runShellHost(extension, {"invoke", "0", path});
    EXPECT_NE(std::find(lines.begin(), lines.end(), "invoke 0x00000000"), lines.end()) << extension.name;
    expected.push_back(path);
    EXPECT_TRUE(quarveltest::eventually([&] { return dialogs() == expected; })) << extension.name;
  }
}

}  // namespace
