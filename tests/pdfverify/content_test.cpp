// The content analyzer and the URL finder: the pure helpers, the analyzer over content
// streams of the corpus's text document, and the finder's walk over its words.
#include "VOQ_PDFContentAnalyzer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Corpus.h"
#include "Fixtures.h"
#include "HostCalls.h"
#include "PluginState.h"
#include "TestFiles.h"
#include "VOQ_DocumentValidator.h"
#include "platform/window_test.h"

namespace {

TEST(ContentHelpers, URLPatternsAreCounted) {
  struct Case {
    const char* text;
    int patterns;
  };
  const Case cases[] = {
      {"://www.", 1},          {"http://www.example.org/", 1}, {"www.a.de and www.b.de", 2},
      {"ends in ://", 1},      {":/", 0},                      {"ww", 0},
      {"", 0},                 {"://://", 2},                  {"http://x.org/www.y", 2},
      {"://www", 1},           {"www.", 1},                    {"no pattern here", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VOQ_PDFContentAnalyzer::countURLPatterns(VOQ_String(c.text)), c.patterns) << c.text;
  }
}

TEST(ContentHelpers, SubstringSearchesAndTheByteExchange) {
  EXPECT_EQ(findString("hello world", "world"), 6);
  EXPECT_EQ(findString("hello", ""), 0);
  EXPECT_EQ(findString("", ""), 0);
  EXPECT_EQ(findString("abc", "abcd"), -1);
  EXPECT_EQ(findString("abcabc", "ca"), 2);
  EXPECT_EQ(findString("abc", "x"), -1);
  const uint16_t hay[] = {'w', 'w', 'w', '.', 'x', 0}, www[] = {'w', '.', 0}, none[] = {0},
                 longer[] = {'w', 'w', 'w', '.', 'x', 'y', 0}, missing[] = {'y', 0};
  EXPECT_EQ(findString16(hay, www), 2);
  EXPECT_EQ(findString16(hay, none), 0);
  EXPECT_EQ(findString16(hay, longer), -1);
  EXPECT_EQ(findString16(hay, missing), -1);

  uint16_t units[] = {0x0041, 0x0042, 0x1234};
  EXPECT_FALSE(exchangeBytes(units, 3));
  EXPECT_EQ(units[0], 0x0041);
  EXPECT_TRUE(exchangeBytes(units, 2));
  EXPECT_EQ(units[0], 0x4100);
  EXPECT_EQ(units[1], 0x4200);
  EXPECT_EQ(units[2], 0x1234);
}

class Content : public ::testing::Test {
 protected:
  void SetUp() override {
    path = pdftest::scratch("text-content.pdf");
    pdffixtures::writeCorpusFixture("text-content", path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
    pdftest::bindHFTs(viewer);
  }
  CosObj pageContents(int page) {
    PDPage p = PDDocAcquirePage(viewer.activePDDoc(), page);
    CosObj contents = CosDictGet(PDPageGetCosObj(p), ASAtomFromString("Contents"));
    PDPageRelease(p);
    return contents;
  }
  std::vector<std::string> words(VOQ_PDFContentAnalyzer& analyzer) {
    std::vector<std::string> list;
    analyzer.getWords().forEach([&](VOQ_String* w) { list.emplace_back(w->getData() ? w->getData() : "", w->getLength()); });
    return list;
  }
  vhost::Viewer viewer;
  std::string path;
};

TEST_F(Content, TheAnalyzerSplitsShownTextIntoWords) {
  struct Case {
    int page;
    int32_t result;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {0, 0, {"Visit ", "http://www.example.org/ ", "orwww.test.de ", "now."}},
      // Two operands without a text matrix between them: the third letter joins the next.
      {1, 0, {"ab  ", "cd"}},
      // A text matrix between operands starts a new word.
      {2, 0, {"ab", "c"}},
      // An inline image is skipped; a string longer than the token reaches the word whole.
      {3, 0, {"x" + std::string(300, 'L') + "y"}},
      {4, 1, {"before"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    VOQ_PDFContentAnalyzer analyzer(viewer.activeAVDoc(), pageContents(c.page), 0, 0);
    EXPECT_EQ(analyzer.analyze(), c.result);
    EXPECT_EQ(words(analyzer), c.words);
  }
  // Without a stream to open.
  VOQ_PDFContentAnalyzer none(viewer.activeAVDoc(), CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc())), 0, 0);
  EXPECT_EQ(none.analyze(), 4);
  EXPECT_EQ(viewer.liveCallbacks(), 0);
  EXPECT_EQ(viewer.frameDepth(), 0);
}

TEST_F(Content, TheWordSplitKeepsWhiteSpaceWithItsWord) {
  VOQ_PDFContentAnalyzer analyzer(viewer.activeAVDoc(), pageContents(0), 0, 0);
  EXPECT_TRUE(analyzer.splitText("ab", 2, false));
  EXPECT_FALSE(analyzer.splitText("c \t", 3, true));
  EXPECT_FALSE(analyzer.splitText("  ", 2, false));
  EXPECT_TRUE(analyzer.splitText("d\re", 3, false));
  EXPECT_EQ(words(analyzer), (std::vector<std::string>{"abc \t", "  ", "d\r", "e"}));
}

TEST_F(Content, TheFinderWalksTheWordsOfEveryPage) {
  pluginInstance = GetModuleHandleA(nullptr);
  size_t windows = platform::wintest::topLevelWindows().size();
  int threads = pdftest::threadCount();
  {
    VOQ_URLFinder finder(viewer.activePDDoc());
    EXPECT_TRUE(finder.allowed());
    EXPECT_EQ(finder.find(), 0);
    // 5 on page 1 (no word joins across operators), 3 on 2, 2 on 3, 2 on 4, 1 on 5.
    EXPECT_EQ(finder.getWordCount(), 13u);
    EXPECT_EQ(validatorProgress, nullptr);
  }
  {
    viewer.config().faults = {{"PDWordFinderEnumWords", viewer.callCount("PDWordFinderEnumWords") + 2, genErrGeneral}};
    VOQ_URLFinder finder(viewer.activePDDoc());
    EXPECT_EQ(finder.find(), 2);
    EXPECT_EQ(finder.getWordCount(), 5u);
    EXPECT_EQ(validatorProgress, nullptr);
    viewer.config().faults.clear();
  }
  EXPECT_EQ(platform::wintest::topLevelWindows().size(), windows);
  // The window layer reaps a dialog thread's own helper shortly after the thread.
  EXPECT_TRUE(platform::wintest::pumpMessagesUntil([&] { return pdftest::threadCount() <= threads; }, 10000))
      << pdftest::threadCount() << " threads";
  EXPECT_EQ(viewer.liveCallbacks(), 0);
  EXPECT_EQ(viewer.frameDepth(), 0);
  pluginInstance = nullptr;
}

TEST_F(Content, TheFinderRefusesAnotherDocumentAndDeniedText) {
  PDDoc first = viewer.activePDDoc();
  std::string locked = pdftest::scratch("locked.pdf");
  pdftest::Run r = pdftest::run("qpdf --encrypt '' owner 256 --extract=n -- '" + path + "' '" + locked + "'");
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(viewer.openDocument(locked)) << viewer.error();
  VOQ_URLFinder other(first);
  EXPECT_EQ(other.find(), 3);
  VOQ_URLFinder denied(viewer.activePDDoc());
  EXPECT_FALSE(denied.allowed());
  EXPECT_EQ(denied.find(), 4);
  EXPECT_EQ(denied.getWordCount(), 0u);
}

}  // namespace
