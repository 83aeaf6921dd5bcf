// The font enumerator's dump in the trace log, line by line. The log is this process's
// own file: the first request for the log names it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "HostCalls.h"
#include "TestFiles.h"
#include "VOQ_FontEnumerator.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

// The texts of the dump's lines: each line's part after "dump(...) " ... as written.
std::vector<std::string> dumpLines(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    size_t at = line.find("VOQ_FontEnumerator::dump");
    if (at == std::string::npos) continue;
    size_t text = line.find(' ', at);
    lines.push_back(text == std::string::npos ? "" : line.substr(text + 1));
  }
  return lines;
}

TEST(FontDump, ListsEveryFontAndTheStatistics) {
  std::string log = pdftest::scratch("trace.log");
  ASSERT_NE(VOQ_TraceLog::getInstance(log.c_str())->getFile(), nullptr);
  pdffixtures::DocumentPlan plan;
  plan.fonts = {{"Helvetica", "Type1", false}, {"Arial,Bold", "TrueType", false}, {"Gentium", "TrueType", true}};
  std::string path = pdftest::scratch("dump.pdf");
  pdffixtures::writeDocument(plan, path);
  vhost::Viewer viewer;
  ASSERT_TRUE(viewer.openDocument(path));
  pdftest::bindHFTs(viewer);
  {
    VOQ_FontEnumerator enumerator(viewer.activePDDoc());
    enumerator.enumerate();
  }
  const std::string equals(81, '='), dashes(81, '-');
  const std::vector<std::string> expected = {
      "Fonts found:",
      equals,
      "Fontname: Gentium of type TrueType is embedded -> OK.",
      "Fontname: Arial,Bold of type TrueType is not embedded NOT OK!",
      "Fontname: Helvetica of type Type1 is embedded -> OK.",
      equals,
      "Statistics:",
      equals,
      "Number of Type1 fonts = 1 embedded: 1. makes signing impossible: No.",
      "Number of Type3 fonts = 0 embedded: 0. makes signing impossible: No.",
      "Number of TrueType fonts = 2 embedded: 1. makes signing impossible:  Yes.",
      "Number of MMType1 fonts = 0 embedded: 0. makes signing impossible: No.",
      "Number of Type0 fonts = 0 embedded: 0. makes signing impossible: No.",
      "Number of CIDFontType0 fonts = 0 embedded: 0. makes signing impossible: No.",
      "Number of CIDFontType2 fonts = 0 embedded: 0. makes signing impossible: No.",
      "Number of UNKNOWN fonts = 0 embedded: 0. makes signing impossible: No.",
      dashes,
      "Total number of fonts: 3",
      "Total number of embedded fonts: 2",
      equals,
      "end.",
  };
  EXPECT_EQ(dumpLines(log), expected);
}

}  // namespace
