// Menus and dialog templates in resource descriptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compile.h"

namespace {

std::vector<unsigned char> only(const std::string& text) {
  const resgen::Compiled c = resgen::compileDescription(resgen::parseDescription(text, "t.resources"), ".", "t.resources");
  EXPECT_EQ(c.resources.size(), 1u);
  return c.resources.empty() ? std::vector<unsigned char>() : c.resources[0].data;
}

std::string faultOf(const std::string& text) {
  try {
    resgen::compileDescription(resgen::parseDescription(text, "t.resources"), ".", "t.resources");
  } catch (const resgen::DescriptionError& e) {
    return e.what();
  }
  return "no fault";
}

// Little-endian words of a byte string, for readable expectations.
std::vector<unsigned> words(const std::vector<unsigned char>& b) {
  std::vector<unsigned> w;
  for (size_t i = 0; i + 1 < b.size(); i += 2) w.push_back(b[i] | (b[i + 1] << 8));
  return w;
}

TEST(ResgenUi, MenusBecomeMenuTemplates) {
  const resgen::Compiled c = resgen::compileDescription(
      resgen::parseDescription("menu 107 {\n popup \"F\" {\n  item 5 \"Ä\" checked\n  separator\n }\n}\n", "t"), ".",
      "t");
  ASSERT_EQ(c.resources.size(), 1u);
  EXPECT_EQ(c.resources[0].type, 4u);
  EXPECT_EQ(c.resources[0].id, 107u);
  // header; popup (MF_POPUP | MF_END) "F"; item 5 (MF_CHECKED) "Ä"; separator (MF_END).
  EXPECT_EQ(words(c.resources[0].data),
            (std::vector<unsigned>{0, 0, 0x90, 'F', 0, 0x08, 5, 0xC4, 0, 0x80, 0, 0}));
}

TEST(ResgenUi, DialogsBecomeDialogTemplates) {
  const std::vector<unsigned char> d = only(
      "dialog 201 -1 2 280 200 {\n"
      "  caption \"Kartenleser\"\n"
      "  style 0x80C80880\n"
      "  control 2000 \"SysListView32\" \"L\" 15 74 251 116 0x50810201 0x200\n"
      "  control 1 \"button\" \"OK\" 10 170 50 14\n"
      "}\n");
  const std::vector<unsigned> w = words(d);
  ASSERT_GE(w.size(), 13u);
  EXPECT_EQ(w[0] | (w[1] << 16), 0x80C80880u);  // no font: DS_SETFONT stays off
  EXPECT_EQ(w[4], 2u);                          // controls
  EXPECT_EQ(static_cast<int16_t>(w[5]), -1);
  EXPECT_EQ(w[7], 280u);
  EXPECT_EQ(w[9], 0u);   // no menu
  EXPECT_EQ(w[10], 0u);  // the dialog class
  EXPECT_EQ(w[11], 'K');
  // The second control: aligned, default style, the button atom.
  const std::string bytes(d.begin(), d.end());
  const std::string buttonAtom("\xff\xff\x80\x00", 4);
  const size_t atom = bytes.find(buttonAtom);
  ASSERT_NE(atom, std::string::npos);
  const size_t item = atom - 18;
  EXPECT_EQ(item % 4, 0u);
  EXPECT_EQ(static_cast<unsigned char>(d[item + 3]), 0x50);  // child, visible
  EXPECT_EQ(d[item + 16], 1);                               // id
  // With a font, DS_SETFONT is set and the font follows the caption.
  const std::vector<unsigned> f = words(only("dialog 1 0 0 10 10 {\n font 8 \"MS Shell Dlg\"\n}\n"));
  EXPECT_TRUE(f[0] & 0x40);
  EXPECT_EQ(f[11], 0u);  // no caption
  EXPECT_EQ(f[12], 8u);
  EXPECT_EQ(f[13], 'M');
  // Neither font nor style: the default style without DS_SETFONT, or the template would
  // promise a font it does not hold.
  const std::vector<unsigned> plain = words(only("dialog 1 0 0 10 10 {\n}\n"));
  EXPECT_EQ(plain[0] | (plain[1] << 16), 0x80C80080u);
}

TEST(ResgenUi, APictureControlNamesItsBitmapByNumber) {
  const std::vector<unsigned char> d = only("dialog 1 0 0 10 10 {\n control 0xFFFF \"Static\" 115 7 7 183 62 0x5000000E\n}\n");
  const std::string bytes(d.begin(), d.end());
  // The class atom of Static, then the title as 0xFFFF and the number, then no creation data.
  EXPECT_NE(bytes.find(std::string("\xff\xff\x82\x00\xff\xff\x73\x00\x00\x00", 10)), std::string::npos);
}

TEST(ResgenUi, FaultsNameTheirLine) {
  struct Case {
    const char* text;
    const char* fault;
  } cases[] = {
      {"menu 1 \"x\"\n", "t.resources:1: expected: menu <id> { ... }"},
      {"menu 1 {\n}\n", "at least one item"},
      {"menu 1 {\n item 0 \"x\"\n}\n", "t.resources:2: item id 0"},
      {"menu 1 {\n item 3 \"x\" bold\n}\n", "unknown item option 'bold'"},
      {"menu 1 {\n popup \"p\"\n}\n", "expected: popup"},
      {"menu 1 {\n frame 3\n}\n", "expected item, popup or separator"},
      {"menu 1 {\n item 3 \"\xC3\x28\"\n}\n", "not UTF-8"},
      {"dialog 1 0 0 10 {\n}\n", "expected: dialog <id>"},
      {"dialog 1 0 0 10 10 {\n color 3\n}\n", "t.resources:2: unknown dialog statement 'color'"},
      {"dialog 1 0 0 10 10 {\n control 1 \"Button\" \"OK\" 0 0 5\n}\n", "expected: control"},
      {"dialog 1 0 0 70000 10 {\n}\n", "out of range"},
      {"dialog 1 0 0 10 10 {\n control 1 \"\" \"OK\" 0 0 5 5\n}\n", "needs a class"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(faultOf(c.text).find(c.fault), std::string::npos) << c.text << " gave " << faultOf(c.text);
  }
}

}  // namespace
