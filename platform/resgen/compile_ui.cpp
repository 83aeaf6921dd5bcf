#include "compile_ui.h"

#include <cstdint>
#include <strings.h>

namespace resgen {
namespace {

constexpr uint32_t kGrayed = 0x01;
constexpr uint32_t kDisabled = 0x02;
constexpr uint32_t kChecked = 0x08;
constexpr uint32_t kPopup = 0x10;
constexpr uint32_t kEnd = 0x80;
constexpr uint32_t kSetFont = 0x40;
// Popup, caption, system menu, modal frame; DS_SETFONT only with a font statement, since the
// template then holds the font.
constexpr uint32_t kDefaultDialogStyle = 0x80C80080;
constexpr uint32_t kDefaultControlStyle = 0x50010000;  // child, visible, tab stop

class Writer {
 public:
  explicit Writer(const std::string& file) : file_(file) {}

  [[noreturn]] void fail(int line, const std::string& message) const { failAt(file_, line, message); }

  uint32_t number(const Token& t, uint64_t max) const { return tokenNumber(t, max, file_); }

  // Dialog coordinates are signed 16-bit numbers.
  int16_t coordinate(const Token& t) const {
    if (t.kind == Token::Kind::Word && !t.value.empty() && t.value[0] == '-') {
      Token positive = t;
      positive.value = t.value.substr(1);
      return static_cast<int16_t>(-static_cast<int32_t>(number(positive, 0x8000)));
    }
    return static_cast<int16_t>(number(t, 0x7FFF));
  }

  const std::string& text(const Token& t) const {
    if (t.kind != Token::Kind::Text) fail(t.line, "expected a \"text\"");
    return t.value;
  }

  void word(uint32_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
  }
  void dword(uint32_t v) {
    word(v & 0xFFFF);
    word(v >> 16);
  }
  void align() {
    while (out.size() % 4) out.push_back(0);
  }

  // UTF-8 as UTF-16 with its terminating 0; a bad sequence is a fault of the description.
  void utf16(const Token& t) {
    text(t);  // a word is refused as a text
    for (char16_t c : tokenUtf16(t, file_)) word(c);
    word(0);
  }

  std::vector<unsigned char> out;

 private:
  std::string file_;
};

void menuLevel(Writer& w, const std::vector<Statement>& items, int depth, int line) {
  if (items.empty()) w.fail(line, "a menu or popup needs at least one item");
  if (depth > 8) w.fail(line, "popups are nested too deeply");
  for (size_t i = 0; i < items.size(); ++i) {
    const Statement& s = items[i];
    const uint32_t end = i + 1 == items.size() ? kEnd : 0;
    const std::string& keyword = s.args[0].value;
    if (keyword == "separator") {
      if (s.args.size() != 1 || s.hasBlock) w.fail(s.line, "expected: separator");
      w.word(end);
      w.word(0);
      w.word(0);
      continue;
    }
    const bool popup = keyword == "popup";
    if (!popup && keyword != "item") w.fail(s.line, "expected item, popup or separator, not '" + keyword + "'");
    const size_t first = popup ? 2 : 3;  // the words after the text
    if (s.args.size() < first || s.hasBlock != popup) {
      w.fail(s.line, popup ? "expected: popup \"text\" { ... }" : "expected: item <id> \"text\" [grayed] [disabled] [checked]");
    }
    uint32_t flags = end | (popup ? kPopup : 0);
    for (size_t k = first; k < s.args.size(); ++k) {
      const std::string& f = s.args[k].value;
      if (s.args[k].kind != Token::Kind::Word) w.fail(s.line, "unexpected text after the item's text");
      if (f == "grayed") {
        flags |= kGrayed;
      } else if (f == "disabled") {
        flags |= kDisabled;
      } else if (f == "checked") {
        flags |= kChecked;
      } else {
        w.fail(s.line, "unknown item option '" + f + "'");
      }
    }
    w.word(flags);
    if (popup) {
      w.utf16(s.args[1]);
      menuLevel(w, s.block, depth + 1, s.line);
    } else {
      const uint32_t id = w.number(s.args[1], 0xFFFF);
      if (id == 0) w.fail(s.line, "item id 0 is the separator's");
      w.word(id);
      w.utf16(s.args[2]);
    }
  }
}

// A class by its atom when it is one of the system's, else by name.
void controlClass(Writer& w, const Token& t) {
  static const char* const kAtoms[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
  const std::string& name = w.text(t);
  for (uint32_t i = 0; i < 6; ++i) {
    if (strcasecmp(name.c_str(), kAtoms[i]) == 0) {
      w.word(0xFFFF);
      w.word(0x80 + i);
      return;
    }
  }
  if (name.empty()) w.fail(t.line, "a control needs a class");
  w.utf16(t);
}

}  // namespace

std::vector<unsigned char> compileMenu(const Statement& s, const std::string& fileName) {
  Writer w(fileName);
  if (s.args.size() != 2 || !s.hasBlock) w.fail(s.line, "expected: menu <id> { ... }");
  w.word(0);  // version
  w.word(0);  // header size
  menuLevel(w, s.block, 0, s.line);
  return std::move(w.out);
}

std::vector<unsigned char> compileDialog(const Statement& s, const std::string& fileName) {
  Writer w(fileName);
  if (s.args.size() != 6 || !s.hasBlock) w.fail(s.line, "expected: dialog <id> <x> <y> <width> <height> { ... }");
  uint32_t style = kDefaultDialogStyle;
  uint32_t exStyle = 0;
  const Token* caption = nullptr;
  const Token* className = nullptr;
  const Token* fontName = nullptr;
  uint32_t pointSize = 0;
  std::vector<const Statement*> controls;
  for (const Statement& e : s.block) {
    const std::string& keyword = e.args[0].value;
    auto expect = [&](size_t n, const char* usage) {
      if (e.args.size() != n || e.hasBlock) w.fail(e.line, std::string("expected: ") + usage);
    };
    if (keyword == "caption") {
      expect(2, "caption \"text\"");
      w.text(e.args[1]);
      caption = &e.args[1];
    } else if (keyword == "style") {
      expect(2, "style <number>");
      style = w.number(e.args[1], 0xFFFFFFFFu);
    } else if (keyword == "exstyle") {
      expect(2, "exstyle <number>");
      exStyle = w.number(e.args[1], 0xFFFFFFFFu);
    } else if (keyword == "class") {
      expect(2, "class \"name\"");
      w.text(e.args[1]);
      className = &e.args[1];
    } else if (keyword == "font") {
      expect(3, "font <points> \"face\"");
      pointSize = w.number(e.args[1], 0xFFFF);
      w.text(e.args[2]);
      fontName = &e.args[2];
    } else if (keyword == "control") {
      if (e.args.size() < 8 || e.args.size() > 10 || e.hasBlock) {
        w.fail(e.line, "expected: control <id> \"class\" \"text\" <x> <y> <width> <height> [style [exstyle]]");
      }
      controls.push_back(&e);
    } else {
      w.fail(e.line, "unknown dialog statement '" + keyword + "'");
    }
  }
  if (controls.size() > 0xFFFF) w.fail(s.line, "too many controls");
  if (fontName != nullptr) style |= kSetFont;
  w.dword(style);
  w.dword(exStyle);
  w.word(static_cast<uint32_t>(controls.size()));
  for (size_t i = 2; i < 6; ++i) w.word(static_cast<uint16_t>(w.coordinate(s.args[i])));
  w.word(0);  // no menu
  if (className != nullptr) {
    w.utf16(*className);
  } else {
    w.word(0);
  }
  if (caption != nullptr) {
    w.utf16(*caption);
  } else {
    w.word(0);
  }
  if (fontName != nullptr) {
    w.word(pointSize);
    w.utf16(*fontName);
  }
  for (const Statement* c : controls) {
    const std::vector<Token>& a = c->args;
    w.align();
    w.dword(a.size() > 8 ? w.number(a[8], 0xFFFFFFFFu) : kDefaultControlStyle);
    w.dword(a.size() > 9 ? w.number(a[9], 0xFFFFFFFFu) : 0);
    for (size_t i = 4; i < 8; ++i) w.word(static_cast<uint16_t>(w.coordinate(a[i])));
    w.word(w.number(a[1], 0xFFFF));
    controlClass(w, a[2]);
    if (a[3].kind == Token::Kind::Word) {
      // A resource number in place of a text: the picture of an SS_BITMAP or SS_ICON static.
      w.word(0xFFFF);
      w.word(w.number(a[3], 0xFFFF));
    } else {
      w.utf16(a[3]);
    }
    w.word(0);  // no creation data
  }
  return std::move(w.out);
}

}  // namespace resgen
