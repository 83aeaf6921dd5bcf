// The grammar engine and the manifest parser: compiler errors, notation, the
// manifest table, captures, large and hostile texts.
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using archivetest::blobOf;
using archivetest::text;

namespace {

struct Context {
  ArchiveContext* c = static_cast<ArchiveContext*>(std::calloc(1, sizeof(ArchiveContext)));
  ~Context() { releaseArchiveContext(c); }
};

TEST(ArchiveGrammar, RuleTextIsTheBuiltInOne) {
  unsigned char small[936] = {};
  Blob out = makeBlob(small, sizeof small);
  EXPECT_EQ(loadManifestGrammar(&out), -1);
  EXPECT_EQ(out.length, 0u);
  unsigned char buffer[2048];
  out = makeBlob(buffer, sizeof buffer);
  ASSERT_EQ(loadManifestGrammar(&out), 0);
  EXPECT_EQ(out.length, 937u);
  EXPECT_EQ(compileGrammarText(out), 0);
}

TEST(ArchiveGrammar, CompileErrors) {
  struct Case {
    const char* rules;
    bool ok;
  };
  const Case cases[] = {
      {"a:[-a]\r\n", true},
      {"a:[^a]\r\n", true},
      {"a:{x|}\r\n", true},
      {"a:x\r\nb:<a>*\r\n", true},
      {"a:{x|}*\r\n", false},         // repetition of something that matches empty
      {"a:x\r\nb:<a>\r\na:y\r\n", false},  // defined twice
      {"a:[ab\r\n", false},
      {"a:{ab\r\n", false},
      {"a:[a-]\r\n", false},
      {"a:[a-c-e]\r\n", false},
      {"a b:x\r\n", false},
      {"abcdefghijklmnop:x\r\n", false},  // 16 characters
  };
  for (const Case& c : cases) EXPECT_EQ(compileGrammarText(blobOf(c.rules)), c.ok ? 0 : -1) << c.rules;
}

// Whole-input matches of small grammars, start expression "<r>".
TEST(ArchiveGrammar, NotationTable) {
  struct Case {
    const char* rules;
    const char* input;
    bool match;
  };
  const Case cases[] = {
      {"r:[-a]+\r\n", "-a-", true},
      {"r:[^a]+\r\n", "bcd", true},
      {"r:[^a]+\r\n", "bad", false},
      {"r:\\0101\r\n", "A", true},
      {"r:\\0301\r\n", "A", true},  // 0301 octal is 193, modulo 128 is 65
      {"r:\\0\r\n", "", false},
      {"r:.\r\n", "\r", true},
      {"r:.\r\n", "\n", false},
      {"r:\\d\\D\r\n", "1x", true},
      {"r:\\s\\S\r\n", "\tx", true},
      {"r:\\N\r\n", "\n", false},
      {"r:\\$\r\n", "\n", true},
      {"r:\\q\r\n", "q", true},
      {"r:\"*+\"\r\n", "*+", true},
      {"r:{ab|a}b\r\n", "ab", true},  // alternatives in order, with backtracking
      {"r:{x|}y\r\n", "y", true},
      {"r:a*a\r\n", "aaa", true},
      {"r:<undefined>\r\n", "<undefined>", true},  // not a reference: plain characters
      {"x:a\r\nr:<x>+\r\n", "aaa", true},
      {"x:a\r\nr:<1=x>\r\n", "a", true},
      {"x:a\r\nr:<16=x>\r\n", "<16=x>", true},
  };
  for (const Case& c : cases) {
    Context ctx;
    CaptureList slots[kGrammarSlots];
    EXPECT_EQ(matchGrammar(&ctx.c->allocations, blobOf(c.rules), blobOf("<r>"), blobOf(c.input), slots, kGrammarSlots),
              c.match ? 1 : 0)
        << c.rules << " / " << c.input;
  }
  Context ctx;
  CaptureList slots[kGrammarSlots];
  EXPECT_EQ(matchGrammar(&ctx.c->allocations, blobOf("r:\\0\r\n"), blobOf("<r>"), makeBlob("\0", 1), slots, 16), 1);
}

TEST(ArchiveGrammar, CapturesComeOutInTextOrder) {
  Context ctx;
  CaptureList slots[kGrammarSlots];
  const std::string input = "one,two,three";  // the captures point into it
  ASSERT_EQ(matchGrammar(&ctx.c->allocations, blobOf("w:[a-z]+\r\nr:<2=w>{,<2=w>}*\r\n"), blobOf("<r>"),
                         blobOf(input), slots, kGrammarSlots),
            1);
  ASSERT_EQ(slots[2].count, 3u);
  EXPECT_EQ(text(slots[2].items[0]), "one");
  EXPECT_EQ(text(slots[2].items[2]), "three");
  EXPECT_EQ(slots[0].count, 0u);
}

struct Parsed {
  Context ctx;
  int result = -1;
  ManifestCaptures captures{};
  explicit Parsed(const std::string& input, const char* start = "<manifest>") : text_(input) {
    result = parseManifestText(ctx.c, blobOf(text_), blobOf(start), &captures);
  }
  std::string text_;
};

TEST(ArchiveManifest, Table) {
  struct Case {
    const char* name;
    std::string text;
    const char* start;
    bool ok;
    uint32_t sections;
  };
  const Case cases[] = {
      {"two sections", "Manifest-Version: 2.0\r\nA: b\r\n\r\nName: a:b\r\n\r\nName: c:d\r\nK: v\r\n\r\n\r\n", "<manifest>", true, 2},
      {"header only", "Manifest-Version: 2.0\r\nA: b\r\n\r\n", "<manifest>", true, 0},
      {"LF line ends", "Manifest-Version: 2.0\n\nName: a:b\nK: v\n\n", "<manifest>", true, 1},
      {"version 2.1", "Manifest-Version: 2.1\r\n\r\n", "<manifest>", false, 0},
      {"junk after the last section", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\n\r\nx", "<manifest>", false, 0},
      {"section without its closing line", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\n", "<manifest>", false, 0},
      {"attribute without blank", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\nK:v\r\n\r\n", "<manifest>", false, 0},
      {"signer-info without section", "Signature-Version: 2.0\r\n\r\n", "<signer_info>", false, 0},
      {"signer-info", "Signature-Version: 2.0\r\n\r\nName: a:b\r\n\r\n", "<signer_info>", true, 1},
  };
  for (const Case& c : cases) {
    Parsed p(c.text, c.start);
    EXPECT_EQ(p.result, c.ok ? 0 : -1) << c.name;
    if (c.ok) {
      EXPECT_EQ(p.captures.slots[0].count, c.sections) << c.name;
    }
  }
}

TEST(ArchiveManifest, SectionFieldsAndUnfolding) {
  for (const std::string eol : {"\r\n", "\n"}) {
    const std::string section = "Name: con" + eol + " fig:Quarvel" + eol + "SectionName: Quarvel" + eol +
                                "Digest-Algorithms: SHA1  MD5" + eol + "SHA1-Digest: YWJj" + eol + "MD5-Digest: YQ==" +
                                eol + "SHA1-Digest: YWI=" + eol + "XYZ-Digest: !!" + eol + "Long: a" + eol + " b" + eol +
                                " c" + eol + eol;
    Context ctx;
    SectionFields f;
    ASSERT_EQ(parseSectionFields(ctx.c, blobOf(section), &f), 0);
    EXPECT_EQ(text(f.name), "config:Quarvel");
    EXPECT_EQ(text(f.sectionName), "Quarvel");
    ASSERT_EQ(f.digestAlgorithmCount, 2u);
    EXPECT_EQ(text(f.digestAlgorithms->name), "SHA1");
    ASSERT_EQ(f.digestAlgorithms->digestCount, 2u);
    EXPECT_EQ(text(f.digestAlgorithms->digests->digest), "ab");  // the one written last comes first
    EXPECT_EQ(text(f.digestAlgorithms->next->name), "MD5");
    EXPECT_EQ(text(f.digestAlgorithms->next->digests->digest), "a");
    ASSERT_EQ(f.attributeCount, 1u);
    EXPECT_EQ(text(f.attributes->name), "Long");
    EXPECT_EQ(text(f.attributes->value), "abc");
    EXPECT_EQ(text(f.text), section);
  }
}

TEST(ArchiveManifest, ThreeHundredSectionsParse) {
  std::string manifest = "Manifest-Version: 2.0\r\n\r\n";
  for (int i = 0; i < 300; ++i) {
    manifest += "Name: config:S" + std::to_string(i) + "\r\nSectionName: S" + std::to_string(i) +
                "\r\nKey: a value that is a little longer than most\r\n\r\n";
  }
  Parsed p(manifest);
  ASSERT_EQ(p.result, 0);
  ASSERT_EQ(p.captures.slots[0].count, 300u);
  EXPECT_EQ(text(p.captures.slots[4].items[299]), "S299");
}

// Each line matches two alternatives of sect_line; without remembering failed
// states, junk at the end makes the matcher try 2^40 combinations.
TEST(ArchiveManifest, AmbiguousLinesWithJunkFailWithoutBlowingUp) {
  std::string text = "Signature-Version: 2.0\r\n\r\nName: a:b\r\n";
  for (int i = 0; i < 40; ++i) text += i % 2 ? "SectionName: x\r\n" : "SHA1-Digest: AAAA\r\n";
  text += "\r\nx";
  Parsed p(text, "<signer_info>");
  EXPECT_EQ(p.result, -1);
  Parsed fine(text.substr(0, text.size() - 1), "<signer_info>");
  EXPECT_EQ(fine.result, 0);
}

// ---- the line reader beside the grammar ----

// Both readers on the same text: whether the line reader accepted it, whether
// the grammar matched it, and whether their slots hold the same bytes.
struct BothReaders {
  Context ctx;
  int lines = 0;
  int grammar = 0;
  bool same = false;
  BothReaders(const std::string& input, const char* start) : text_(input) {
    CaptureList fast[kGrammarSlots], slow[kGrammarSlots];
    lines = parseManifestLines(&ctx.c->allocations, blobOf(text_), blobOf(start), fast, kGrammarSlots);
    unsigned char buffer[2048];
    Blob rules = makeBlob(buffer, sizeof buffer);
    loadManifestGrammar(&rules);
    grammar = matchGrammar(&ctx.c->allocations, rules, blobOf(start), blobOf(text_), slow, kGrammarSlots);
    same = lines == 1 && grammar == 1;
    for (int s = 0; same && s < kGrammarSlots; ++s) {
      same = fast[s].count == slow[s].count;
      for (uint32_t k = 0; same && k < fast[s].count; ++k) {
        same = fast[s].items[k].data == slow[s].items[k].data && fast[s].items[k].length == slow[s].items[k].length;
      }
    }
  }
  std::string text_;
};

// Each row: accepted by the line reader (then the grammar must match it with the
// same captures), or declined (then the grammar alone decides, as `grammar` says).
TEST(ArchiveManifestLines, AgreeWithTheGrammarOrDecline) {
  const std::string head = "Manifest-Version: 2.0\r\n\r\n";
  struct Case {
    const char* name;
    std::string text;
    const char* start;
    bool accepted;
    bool grammar;
  };
  const Case cases[] = {
      {"typical", "Manifest-Version: 2.0\r\nCreated-By: x\r\n\r\nName: config:Q\r\nSectionName: Q\r\nK: v\r\n\r\n",
       "<manifest>", true, true},
      {"LF line ends", "Manifest-Version: 2.0\nA: b\n\nName: a:b\nK: v\n\n", "<manifest>", true, true},
      {"mixed line ends", "Manifest-Version: 2.0\r\nA: b\n\r\nName: a:b\nK: v\r\n\n", "<manifest>", true, true},
      {"no sections", "Manifest-Version: 2.0\r\nA: b\r\n\r\n", "<manifest>", true, true},
      {"blank lines everywhere", head + "\r\n\n\r\nName: a:b\r\n\r\n\r\n\nName: c:d\r\n\r\n\r\n", "<manifest>", true, true},
      {"continued values", "Manifest-Version: 2.0\r\nH: 1\r\n 2\r\n\r\nName: con\r\n fig:Q\r\nK: a\r\n b\r\n  c\r\n\r\n",
       "<manifest>", true, true},
      {"empty values", head + "Name: \r\nK: \r\nSectionName: \r\n\r\n", "<manifest>", true, true},
      {"empty value then a continuation", head + "Name: a:b\r\nK: \r\n x\r\n\r\n", "<manifest>", true, true},
      {"odd bytes in values", head + "Name: a:b\r\nK: \t\x01\xff" + std::string(1, '\0') + " :: \r\n\r\n", "<manifest>",
       true, true},
      {"the alternatives' order",
       head + "Name: a:b\r\nSectionName: s\r\nDigest-Algorithms: SHA1\r\nSHA1-Digest: x\r\nDigest-Algorithms-Digest: y\r\n"
              "SectionNameX: z\r\nX-Digest: d\r\nDigest: e\r\nName: inner\r\nA_b-C: f\r\n\r\n",
       "<manifest>", true, true},
      {"signer-info", "Signature-Version: 2.0\r\nA: b\r\n\r\nName: a:b\r\nSHA1-Digest: x\r\n\r\n", "<signer_info>", true,
       true},
      {"one section", "Name: a:b\r\nK: v\r\n 2\r\n\r\n", "<section>", true, true},
      // Declined: the grammar decides.
      {"lone CR in a value", head + "Name: a:b\r\nK: a\rb\r\n\r\n", "<manifest>", false, true},
      {"CR CR LF", head + "Name: a:b\r\nK: a\r\r\n\r\n", "<manifest>", false, true},
      {"continuation of a blank alone, CRLF", head + "Name: a:b\r\nK: a\r\n \r\n\r\n", "<manifest>", false, true},
      {"continuation of a blank alone, LF", "Manifest-Version: 2.0\n\nName: a:b\nK: a\n \n\n", "<manifest>", false,
       false},
      {"continuation after a blank line", head + " x\r\nName: a:b\r\n\r\n", "<manifest>", false, false},
      {"no blank after the colon", head + "Name: a:b\r\nK:v\r\n\r\n", "<manifest>", false, false},
      {"name starting with '-'", head + "Name: a:b\r\n-K: v\r\n\r\n", "<manifest>", false, false},
      {"section without its closing line", head + "Name: a:b\r\nK: v\r\n", "<manifest>", false, false},
      {"last line without its line end", head + "Name: a:b\r\nK: v", "<manifest>", false, false},
      {"header without its blank line", "Manifest-Version: 2.0\r\nA: b\r\n", "<manifest>", false, false},
      {"junk after the last section", head + "Name: a:b\r\n\r\nx", "<manifest>", false, false},
      {"a section not starting with Name", head + "Nome: a:b\r\n\r\n", "<manifest>", false, false},
      {"version 2.1", "Manifest-Version: 2.1\r\n\r\n", "<manifest>", false, false},
      {"manifest as signer-info", head + "Name: a:b\r\n\r\n", "<signer_info>", false, false},
      {"signer-info without sections", "Signature-Version: 2.0\r\n\r\n", "<signer_info>", false, false},
      {"section with more after it", "Name: a:b\r\n\r\n\r\n", "<section>", false, false},
      {"another start expression", "Name: a:b\r\n", "<nameheader>", false, true},
      {"empty", "", "<manifest>", false, false},
  };
  for (const Case& c : cases) {
    BothReaders both(c.text, c.start);
    EXPECT_EQ(both.lines, c.accepted ? 1 : 0) << c.name;
    EXPECT_EQ(both.grammar, c.grammar ? 1 : 0) << c.name;
    if (c.accepted) {
      EXPECT_TRUE(both.same) << c.name;
    }
  }
}

// The line reader takes texts up to its line limit, each of which the grammar
// still matches within its memory budget with the same captures; above the
// limit it declines and the grammar decides. Shapes: one line kind repeated.
TEST(ArchiveManifestLines, LineLimitStaysInsideTheGrammarsBudget) {
  struct Shape {
    const char* name;
    std::string prefix, repeated, suffix;
  };
  const Shape shapes[] = {
      {"header lines", "Manifest-Version: 2.0\n", "A: b\n", "\n"},
      {"sections", "Manifest-Version: 2.0\n\n", "Name: a\n\n", ""},
      {"attribute lines", "Manifest-Version: 2.0\n\nName: a\n", "K: v\n", "\n"},
      {"digest lines", "Manifest-Version: 2.0\n\nName: a\n", "SHA1-Digest: v\n", "\n"},
      {"continuation lines", "Manifest-Version: 2.0\n\nName: a\nK: v\n", " v\n", "\n"},
      {"blank lines", "Manifest-Version: 2.0\n\nName: a\n\n", "\n", ""},
  };
  for (const Shape& shape : shapes) {
    const int perRepetition = static_cast<int>(std::count(shape.repeated.begin(), shape.repeated.end(), '\n'));
    for (int lines : {1000, 1100}) {
      std::string text = shape.prefix;
      for (int i = 0; i < (lines - 8) / perRepetition; ++i) text += shape.repeated;
      text += shape.suffix;
      BothReaders both(text, "<manifest>");
      EXPECT_EQ(both.lines, lines < 1024 ? 1 : 0) << shape.name << " " << lines;
      EXPECT_EQ(both.grammar, 1) << shape.name << " " << lines;
      if (lines < 1024) {
        EXPECT_TRUE(both.same) << shape.name;
      }
    }
  }
}

}  // namespace
