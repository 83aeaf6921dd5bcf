#include "compile.h"

#include "compile_ui.h"
#include "compile_version.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace resgen {
namespace {

constexpr uint32_t kBitmap = 2;
constexpr uint32_t kIcon = 3;
constexpr uint32_t kMenu = 4;
constexpr uint32_t kDialog = 5;
constexpr uint32_t kVersion = 16;
constexpr uint32_t kString = 6;
constexpr uint32_t kData = 10;
constexpr uint32_t kGroupIcon = 14;

void putWord(std::vector<unsigned char>& out, uint32_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

uint32_t word(const std::vector<unsigned char>& in, size_t at) {
  return static_cast<uint32_t>(in[at] | (in[at + 1] << 8));
}

uint32_t dword(const std::vector<unsigned char>& in, size_t at) { return word(in, at) | (word(in, at + 2) << 16); }

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

class Compiler {
 public:
  Compiler(const std::string& baseDirectory, const std::string& fileName) : base_(baseDirectory), file_(fileName) {}

  Compiled run(const std::vector<Statement>& statements) {
    for (const Statement& s : statements) statement(s);
    stringBlocks();
    return std::move(result_);
  }

 private:
  using Handler = void (Compiler::*)(const Statement&);

  void statement(const Statement& s) {
    static const std::map<std::string, Handler> kHandlers = {
        {"string", &Compiler::stringStatement}, {"strings", &Compiler::stringsStatement},
        {"icon", &Compiler::iconStatement},     {"bitmap", &Compiler::bitmapStatement},
        {"data", &Compiler::dataStatement},     {"file", &Compiler::fileStatement},
        {"language", &Compiler::languageStatement},
        {"menu", &Compiler::menuStatement},     {"dialog", &Compiler::dialogStatement},
        {"version", &Compiler::versionStatement},
    };
    const Token& keyword = s.args[0];
    auto it = keyword.kind == Token::Kind::Word ? kHandlers.find(keyword.value) : kHandlers.end();
    if (it == kHandlers.end()) fail(s.line, "unknown statement '" + keyword.value + "'");
    (this->*(it->second))(s);
  }

  [[noreturn]] void fail(int line, const std::string& message) const { failAt(file_, line, message); }

  void expect(const Statement& s, size_t args, bool block, const char* usage) const {
    if (s.args.size() != args || s.hasBlock != block) fail(s.line, std::string("expected: ") + usage);
  }

  uint32_t number(const Token& t, uint32_t max) const { return tokenNumber(t, max, file_); }

  // An id: a number below 0x10000 or a "NAME".
  void identify(const Token& t, Resource& r) const {
    if (t.kind == Token::Kind::Text) {
      if (t.value.empty()) fail(t.line, "a resource name must not be empty");
      r.name = upper(t.value);
    } else {
      r.id = number(t, 0xFFFF);
    }
  }

  std::vector<unsigned char> readFile(const Token& t) {
    if (t.kind != Token::Kind::Text) fail(t.line, "expected a \"file name\"");
    std::string path = t.value;
    if (path.empty() || path[0] != '/') path = base_ + "/" + path;
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(t.line, "cannot read " + path);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result_.inputs.push_back(path);
    return bytes;
  }

  void add(Resource r, int line) {
    auto key = std::make_tuple(r.typeName, r.type, r.name, r.id, r.language);
    if (!seen_.insert(key).second) fail(line, "the resource is defined twice");
    result_.resources.push_back(std::move(r));
  }

  // UTF-8 to UTF-16; a bad sequence is a fault of the description.
  std::u16string utf16(const Token& t) const {
    std::u16string out = tokenUtf16(t, file_);
    if (out.size() > 0xFFFF) fail(t.line, "the text is too long");
    return out;
  }

  void addString(const Token& id, const Token& text) {
    if (text.kind != Token::Kind::Text) fail(text.line, "expected a \"text\"");
    const uint32_t n = number(id, 0xFFFF);
    if (!strings_[language_].emplace(n, utf16(text)).second) fail(id.line, "string " + id.value + " is defined twice");
  }

  void stringStatement(const Statement& s) {
    expect(s, 3, false, "string <id> \"text\"");
    addString(s.args[1], s.args[2]);
  }

  void stringsStatement(const Statement& s) {
    expect(s, 1, true, "strings { <id> \"text\" ... }");
    for (const Statement& entry : s.block) {
      if (entry.args.size() != 2 || entry.hasBlock) fail(entry.line, "expected: <id> \"text\"");
      addString(entry.args[0], entry.args[1]);
    }
  }

  // Strings live in blocks of 16: block id / 16 + 1 holds 16 counted texts.
  void stringBlocks() {
    for (const auto& [language, strings] : strings_) {
      std::map<uint32_t, std::vector<const std::u16string*>> blocks;
      for (const auto& [id, text] : strings) {
        auto& block = blocks[id / 16 + 1];
        block.resize(16, nullptr);
        block[id % 16] = &text;
      }
      for (const auto& [blockId, texts] : blocks) {
        Resource r;
        r.type = kString;
        r.id = blockId;
        r.language = language;
        for (const std::u16string* text : texts) {
          putWord(r.data, text ? static_cast<uint32_t>(text->size()) : 0);
          if (text) {
            for (char16_t c : *text) putWord(r.data, c);
          }
        }
        result_.resources.push_back(std::move(r));
      }
    }
  }

  void iconStatement(const Statement& s) {
    expect(s, 3, false, "icon <id> \"file.ico\"");
    Resource group;
    group.type = kGroupIcon;
    group.language = language_;
    identify(s.args[1], group);
    const std::vector<unsigned char> file = readFile(s.args[2]);
    const int line = s.args[2].line;
    if (file.size() < 6 || word(file, 0) != 0 || word(file, 2) != 1 || word(file, 4) == 0) {
      fail(line, "not an icon file");
    }
    const uint32_t count = word(file, 4);
    if (file.size() < 6 + 16ull * count) fail(line, "the icon file is cut short");
    putWord(group.data, 0);
    putWord(group.data, 1);
    putWord(group.data, count);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t at = 6 + 16 * i;
      const uint32_t size = dword(file, at + 8);
      const uint32_t offset = dword(file, at + 12);
      if (size == 0 || offset > file.size() || size > file.size() - offset) fail(line, "an image of the icon file lies outside it");
      Resource image;
      image.type = kIcon;
      image.id = nextIconId_++;
      if (image.id > 0xFFFF) fail(line, "too many icon images");
      image.language = language_;
      image.data.assign(file.begin() + offset, file.begin() + offset + size);
      // The group entry: the directory entry with the image's id in place of its offset.
      group.data.insert(group.data.end(), file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 12);
      putWord(group.data, image.id);
      add(std::move(image), line);
    }
    add(std::move(group), s.line);
  }

  void bitmapStatement(const Statement& s) {
    expect(s, 3, false, "bitmap <id> \"file.bmp\"");
    Resource r;
    r.type = kBitmap;
    r.language = language_;
    identify(s.args[1], r);
    const std::vector<unsigned char> file = readFile(s.args[2]);
    // The file header (14 bytes) goes; the DIB starts with its header size.
    if (file.size() < 14 + 12 || file[0] != 'B' || file[1] != 'M' || dword(file, 14) < 12 ||
        dword(file, 14) > file.size() - 14) {
      fail(s.args[2].line, "not a bitmap file");
    }
    r.data.assign(file.begin() + 14, file.end());
    add(std::move(r), s.line);
  }

  void dataStatement(const Statement& s) {
    expect(s, 3, false, "data <id> \"file\"");
    Resource r;
    r.type = kData;
    r.language = language_;
    identify(s.args[1], r);
    r.data = readFile(s.args[2]);
    add(std::move(r), s.line);
  }

  void fileStatement(const Statement& s) {
    expect(s, 4, false, "file <type> <id> \"file\"");
    Resource r;
    r.language = language_;
    if (s.args[1].kind == Token::Kind::Text) {
      if (s.args[1].value.empty()) fail(s.line, "a type name must not be empty");
      r.typeName = upper(s.args[1].value);
    } else {
      r.type = number(s.args[1], 0xFFFF);
      if (r.type == 0) fail(s.line, "type 0 does not exist");
    }
    identify(s.args[2], r);
    r.data = readFile(s.args[3]);
    add(std::move(r), s.line);
  }

  // Menus and dialog templates (compile_ui.cpp).
  void menuStatement(const Statement& s) {
    if (s.args.size() != 2 || !s.hasBlock) fail(s.line, "expected: menu <id> { ... }");
    Resource r;
    r.type = kMenu;
    r.language = language_;
    identify(s.args[1], r);
    r.data = compileMenu(s, file_);
    add(std::move(r), s.line);
  }

  void versionStatement(const Statement& s) {
    Resource r;
    r.type = kVersion;
    r.language = language_;
    r.data = compileVersion(s, file_);
    identify(s.args[1], r);
    add(std::move(r), s.line);
  }

  void dialogStatement(const Statement& s) {
    if (s.args.size() != 6 || !s.hasBlock) fail(s.line, "expected: dialog <id> <x> <y> <width> <height> { ... }");
    Resource r;
    r.type = kDialog;
    r.language = language_;
    identify(s.args[1], r);
    r.data = compileDialog(s, file_);
    add(std::move(r), s.line);
  }

  void languageStatement(const Statement& s) {
    expect(s, 2, false, "language <number>");
    language_ = static_cast<uint16_t>(number(s.args[1], 0xFFFF));
  }

  std::string base_;
  std::string file_;
  Compiled result_;
  uint16_t language_ = 0;
  uint32_t nextIconId_ = 1;
  std::map<uint16_t, std::map<uint32_t, std::u16string>> strings_;
  std::set<std::tuple<std::string, uint32_t, std::string, uint32_t, uint16_t>> seen_;
};

std::string literal(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

Compiled compileDescription(const std::vector<Statement>& statements, const std::string& baseDirectory,
                            const std::string& fileName) {
  Compiler compiler(baseDirectory, fileName);
  return compiler.run(statements);
}

std::string generateSource(const std::vector<Resource>& resources, const std::string& origin) {
  std::ostringstream out;
  out << "// Generated by resgen from " << origin << ". Do not edit.\n"
      << "#include \"platform/resources.h\"\n\n"
      << "namespace {\n\n";
  for (size_t i = 0; i < resources.size(); ++i) {
    const std::vector<unsigned char>& data = resources[i].data;
    out << "alignas(8) const unsigned char kData" << i << "[" << (data.empty() ? 1 : data.size()) << "] = {";
    for (size_t k = 0; k < data.size(); ++k) {
      if (k % 16 == 0) out << "\n   ";
      char buf[8];
      std::snprintf(buf, sizeof buf, " 0x%02x,", data[k]);
      out << buf;
    }
    if (data.empty()) out << "0";
    out << "\n};\n\n";
  }
  if (!resources.empty()) {
    out << "const platform::ResourceEntry kEntries[] = {\n";
    for (size_t i = 0; i < resources.size(); ++i) {
      const Resource& r = resources[i];
      out << "    {" << (r.typeName.empty() ? "nullptr" : literal(r.typeName)) << ", " << r.type << "u, "
          << (r.name.empty() ? "nullptr" : literal(r.name)) << ", " << r.id << "u, " << r.language << ", "
          << r.data.size() << "u, kData" << i << "},\n";
    }
    out << "};\n\n";
  }
  out << "const platform::ResourceTable kTable = {platform::kResourceTableMagic, platform::kResourceTableVersion, "
      << resources.size() << "u, " << (resources.empty() ? "nullptr" : "kEntries") << "};\n"
      << "const platform::ResourceTableRegistration kRegistration(&kTable);\n\n"
      << "}  // namespace\n\n"
      << "// Found with dlsym when the module carries its own copy of the platform layer. A\n"
      << "// function, not a variable: every module defines one.\n"
      << "extern \"C\" __attribute__((visibility(\"default\"))) const platform::ResourceTable* "
      << "quarvel_resource_table() {\n  return &kTable;\n}\n";
  return out.str();
}

}  // namespace resgen
