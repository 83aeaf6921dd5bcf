// The resource generator: descriptions to resources, and faults named with their line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "compile.h"
#include "description.h"
#include "quarvel_test.h"

namespace {

resgen::Compiled compile(const std::string& text, const std::string& base = ".") {
  return resgen::compileDescription(resgen::parseDescription(text, "test.resources"), base, "test.resources");
}

std::string faultOf(const std::string& text, const std::string& base = ".") {
  try {
    compile(text, base);
  } catch (const resgen::DescriptionError& e) {
    return e.what();
  }
  return "no fault";
}

TEST(Resgen, StatementsNestInBlocks) {
  // The tree later kinds (menus, dialogs) compile from.
  const std::vector<resgen::Statement> tree = resgen::parseDescription(
      "menu 107 {\n"
      "  popup \"&Datei\" {\n"
      "    item 100, \"Ö&ffnen\"   # comment\n"
      "    separator\n"
      "  }\n"
      "}\n"
      "version { }\n",
      "t");
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree[0].line, 1);
  ASSERT_EQ(tree[0].args.size(), 2u);
  EXPECT_EQ(tree[0].args[1].value, "107");
  ASSERT_TRUE(tree[0].hasBlock);
  ASSERT_EQ(tree[0].block.size(), 1u);
  const resgen::Statement& popup = tree[0].block[0];
  EXPECT_EQ(popup.args[1].kind, resgen::Token::Kind::Text);
  EXPECT_EQ(popup.args[1].value, "&Datei");
  ASSERT_EQ(popup.block.size(), 2u);
  EXPECT_EQ(popup.block[0].line, 3);
  ASSERT_EQ(popup.block[0].args.size(), 3u);
  EXPECT_EQ(popup.block[0].args[2].value, "Ö&ffnen");
  EXPECT_EQ(popup.block[1].args[0].value, "separator");
  EXPECT_TRUE(tree[1].hasBlock);
  EXPECT_TRUE(tree[1].block.empty());
}

TEST(Resgen, StringsGoIntoBlocksOfSixteen) {
  const resgen::Compiled c = compile(
      "# comment\n"
      "string 1 \"A\"   # trailing comment\n"
      "strings {\n"
      "  0x11, \"\\x41\\n\\\"#\"\n"
      "  31 \"\"\n"
      "}\n");
  ASSERT_EQ(c.resources.size(), 2u);
  const resgen::Resource& first = c.resources[0];
  EXPECT_EQ(first.type, 6u);
  EXPECT_EQ(first.id, 1u);
  // 16 counted texts: slot 1 holds "A", the others are empty.
  std::vector<unsigned char> expected(2 * 16 + 2, 0);
  expected[2] = 1;
  expected[4] = 'A';
  EXPECT_EQ(first.data, expected);
  const resgen::Resource& second = c.resources[1];
  EXPECT_EQ(second.id, 2u);
  ASSERT_GE(second.data.size(), 12u);
  EXPECT_EQ(second.data[2], 4) << "slot 1 of block 2 is id 17 with its 4 characters";
  EXPECT_EQ(second.data[4], 'A');
  EXPECT_EQ(second.data[6], '\n');
  EXPECT_EQ(second.data[8], '"');
  EXPECT_EQ(second.data[10], '#');
}

TEST(Resgen, FilesAreReadRelativeToTheDescription) {
  const std::string dir = quarveltest::makeTempDirectory("resgen");
  std::ofstream(dir + "/payload.bin", std::ios::binary) << std::string("\x01\x02\x00\x03", 4);
  const resgen::Compiled c = compile("data \"Payload\" \"payload.bin\"\nfile 23 7 \"payload.bin\"\n", dir);
  ASSERT_EQ(c.resources.size(), 2u);
  EXPECT_EQ(c.resources[0].name, "PAYLOAD");
  EXPECT_EQ(c.resources[0].type, 10u);
  EXPECT_EQ(c.resources[0].data, (std::vector<unsigned char>{1, 2, 0, 3}));
  EXPECT_EQ(c.resources[1].type, 23u);
  EXPECT_EQ(c.resources[1].id, 7u);
  EXPECT_EQ(c.inputs, (std::vector<std::string>{dir + "/payload.bin", dir + "/payload.bin"}));
}

TEST(Resgen, FaultsNameTheirLine) {
  const std::string dir = quarveltest::makeTempDirectory("resgen");
  std::ofstream(dir + "/short.ico", std::ios::binary) << std::string("\0\0\1\0\2\0", 6);
  std::ofstream(dir + "/outside.ico", std::ios::binary)
      << std::string("\0\0\1\0\1\0" "\x10\x10\0\0\1\0\x20\0" "\xff\0\0\0" "\x16\0\0\0", 22);
  std::ofstream(dir + "/text.bmp", std::ios::binary) << "not a bitmap at all, really not";
  struct Case {
    const char* text;
    const char* fault;
  } cases[] = {
      {"frobnicate 1 \"x\"\n", "test.resources:1: unknown statement 'frobnicate'"},
      {"\nstring x \"A\"\n", "test.resources:2: expected a number, not 'x'"},
      {"string -1 \"A\"\n", "expected a number"},
      {"string 65536 \"A\"\n", "out of range"},
      {"string 1 \"A\"\nstring 1 \"B\"\n", "test.resources:2: string 1 is defined twice"},
      {"string 1 \"A\" \"B\"\n", "expected: string <id> \"text\""},
      {"string 1 A\n", "expected a \"text\""},
      {"string 1 \"open\n", "text without its closing"},
      {"string 1 \"\\q\"\n", "unknown escape"},
      {"string 1 \"\\x4\"\n", "two hexadecimal digits"},
      {"string 1 \"\xC3\x28\"\n", "not UTF-8"},
      {"string 1 \"\xED\xA0\x80\"\n", "not UTF-8"},  // a surrogate
      {"string 1 \"\xC0\xAF\"\n", "not UTF-8"},      // overlong
      {"strings {\n 1 \"A\"\n", "test.resources:1: the block opened here is not closed"},
      {"}\n", "without an open block"},
      {"{\n}\n", "'{' without a statement"},
      {"data 1 \"missing.bin\"\n", "cannot read"},
      {"data \"\" \"x\"\n", "must not be empty"},
      {"icon 1 \"short.ico\"\n", "cut short"},
      {"icon 1 \"outside.ico\"\n", "lies outside"},
      {"bitmap 1 \"text.bmp\"\n", "not a bitmap file"},
      {"file 0 1 \"x\"\n", "type 0 does not exist"},
      {"language\n", "expected: language <number>"},
      {"version 1\n", "expected: version <id> { ... }"},
      {"version 1 {\n fileversion 1 2 3\n}\n", "test.resources:2: expected: fileversion, productversion"},
      {"version 1 {\n strings \"0407\" { }\n}\n", "eight hex digits"},
      {"version 1 {\n strings \"000004b0\" {\n  \"FileVersion\"\n }\n}\n",
       "test.resources:3: expected: \"Name\" \"value\""},
  };
  for (const Case& c : cases) {
    EXPECT_NE(faultOf(c.text, dir).find(c.fault), std::string::npos) << c.text << " gave " << faultOf(c.text, dir);
  }
}

TEST(Resgen, GeneratedSourceHoldsEveryEntry) {
  resgen::Resource named;
  named.typeName = "HTML";
  named.name = "PAGE\"1";
  named.data = {0xAB};
  resgen::Resource empty;
  empty.type = 10;
  empty.id = 4;
  const std::string source = resgen::generateSource({named, empty}, "x.resources");
  EXPECT_NE(source.find("{\"HTML\", 0u, \"PAGE\\\"1\", 0u, 0, 1u, kData0}"), std::string::npos) << source;
  EXPECT_NE(source.find("{nullptr, 10u, nullptr, 4u, 0, 0u, kData1}"), std::string::npos) << source;
  EXPECT_NE(source.find("0xab"), std::string::npos);
  EXPECT_NE(source.find("ResourceTableRegistration"), std::string::npos);
}

}  // namespace
