#include "compile_version.h"

#include <cstdint>

namespace resgen {

namespace {

class Writer {
 public:
  std::vector<unsigned char> bytes;

  void word(uint16_t v) {
    bytes.push_back(static_cast<unsigned char>(v & 0xFF));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
  }
  void dword(uint32_t v) {
    word(static_cast<uint16_t>(v & 0xFFFF));
    word(static_cast<uint16_t>(v >> 16));
  }
  void text(const std::u16string& t) {
    for (char16_t c : t) word(static_cast<uint16_t>(c));
    word(0);
  }
  void align() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  // A node: wLength, wValueLength, wType, szKey, padding, value, padding, children.
  // `fill` writes the value and the children; the lengths are set afterwards.
  template <typename Fill>
  void node(const std::u16string& key, uint16_t type, uint16_t valueLength, Fill fill) {
    align();
    size_t start = bytes.size();
    word(0);
    word(valueLength);
    word(type);
    text(key);
    align();
    fill();
    size_t length = bytes.size() - start;
    bytes[start] = static_cast<unsigned char>(length & 0xFF);
    bytes[start + 1] = static_cast<unsigned char>(length >> 8);
  }
};

}  // namespace

std::vector<unsigned char> compileVersion(const Statement& statement, const std::string& fileName) {
  if (statement.args.size() != 2 || !statement.hasBlock) {
    failAt(fileName, statement.line, "expected: version <id> { ... }");
  }
  uint32_t file[4] = {}, product[4] = {};
  struct Table {
    std::u16string name;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
  };
  std::vector<Table> tables;
  std::vector<uint32_t> translations;
  for (const Statement& s : statement.block) {
    const std::string& keyword = s.args.empty() ? std::string() : s.args[0].value;
    if ((keyword == "fileversion" || keyword == "productversion") && s.args.size() == 5 && !s.hasBlock) {
      uint32_t* target = keyword == "fileversion" ? file : product;
      for (int i = 0; i < 4; ++i) target[i] = tokenNumber(s.args[static_cast<size_t>(i) + 1], 0xFFFF, fileName);
    } else if (keyword == "strings" && s.args.size() == 2 && s.hasBlock && s.args[1].kind == Token::Kind::Text) {
      if (s.args[1].value.size() != 8) failAt(fileName, s.line, "a string table is named by eight hex digits");
      Table table{tokenUtf16(s.args[1], fileName), {}};
      for (const Statement& entry : s.block) {
        if (entry.args.size() != 2 || entry.hasBlock || entry.args[0].kind != Token::Kind::Text ||
            entry.args[1].kind != Token::Kind::Text) {
          failAt(fileName, entry.line, "expected: \"Name\" \"value\"");
        }
        table.strings.emplace_back(tokenUtf16(entry.args[0], fileName), tokenUtf16(entry.args[1], fileName));
      }
      tables.push_back(std::move(table));
    } else if (keyword == "translation" && s.args.size() == 3 && !s.hasBlock) {
      translations.push_back(tokenNumber(s.args[1], 0xFFFF, fileName) |
                             (tokenNumber(s.args[2], 0xFFFF, fileName) << 16));
    } else {
      failAt(fileName, s.line, "expected: fileversion, productversion, strings or translation");
    }
  }

  Writer w;
  w.node(u"VS_VERSION_INFO", 0, 52, [&] {
    w.dword(0xFEEF04BD);  // signature
    w.dword(0x00010000);  // structure version
    w.dword((file[0] << 16) | file[1]);
    w.dword((file[2] << 16) | file[3]);
    w.dword((product[0] << 16) | product[1]);
    w.dword((product[2] << 16) | product[3]);
    w.dword(0x3F);        // flags mask
    w.dword(0);           // flags
    w.dword(0x00040004);  // VOS_NT_WINDOWS32
    w.dword(2);           // VFT_DLL
    w.dword(0);           // subtype
    w.dword(0);           // date, high
    w.dword(0);           // date, low
    if (!tables.empty()) {
      w.node(u"StringFileInfo", 1, 0, [&] {
        for (const Table& table : tables) {
          w.node(table.name, 1, 0, [&] {
            for (const auto& entry : table.strings) {
              const auto& value = entry.second;
              if (value.size() + 1 > 0xFFFF) failAt(fileName, statement.line, "a version text is too long");
              w.node(entry.first, 1, static_cast<uint16_t>(value.size() + 1), [&] { w.text(value); });
            }
          });
        }
      });
    }
    if (!translations.empty()) {
      w.node(u"VarFileInfo", 1, 0, [&] {
        w.node(u"Translation", 0, static_cast<uint16_t>(4 * translations.size()), [&] {
          for (uint32_t t : translations) w.dword(t);
        });
      });
    }
  });
  if (w.bytes.size() > 0xFFFF) failAt(fileName, statement.line, "the version information is too long");
  return w.bytes;
}

}  // namespace resgen
