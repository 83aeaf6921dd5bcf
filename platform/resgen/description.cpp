#include "description.h"

#include <cctype>

namespace resgen {
namespace {

class Parser {
 public:
  Parser(const std::string& text, const std::string& fileName) : text_(text), file_(fileName) {}

  std::vector<Statement> statements(bool inBlock) {
    std::vector<Statement> result;
    Statement current;
    auto finish = [&]() {
      if (!current.args.empty()) result.push_back(std::move(current));
      current = Statement();
    };
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        finish();
      } else if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
        ++pos_;
      } else if (c == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '{') {
        if (current.args.empty()) fail(line_, "'{' without a statement before it on its line");
        ++pos_;
        current.hasBlock = true;
        const int open = line_;
        current.block = statements(true);
        if (pos_ >= text_.size() || text_[pos_] != '}') fail(open, "the block opened here is not closed");
        ++pos_;
        finish();
      } else if (c == '}') {
        if (!inBlock) fail(line_, "'}' without an open block");
        finish();
        return result;
      } else if (c == '"') {
        current.line = current.args.empty() ? line_ : current.line;
        current.args.push_back(quoted());
      } else {
        current.line = current.args.empty() ? line_ : current.line;
        current.args.push_back(word());
      }
    }
    finish();
    return result;
  }

  [[noreturn]] void fail(int line, const std::string& message) const { failAt(file_, line, message); }

 private:
  Token word() {
    Token t;
    t.line = line_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == '{' || c == '}' || c == '"' || c == '#') break;
      t.value += c;
      ++pos_;
    }
    return t;
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  Token quoted() {
    Token t;
    t.kind = Token::Kind::Text;
    t.line = line_;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') fail(t.line, "text without its closing '\"'");
      const char c = text_[pos_++];
      if (c == '"') break;
      if (c != '\\') {
        t.value += c;
        continue;
      }
      if (pos_ >= text_.size()) fail(t.line, "text without its closing '\"'");
      const char e = text_[pos_++];
      switch (e) {
        case 'n': t.value += '\n'; break;
        case 'r': t.value += '\r'; break;
        case 't': t.value += '\t'; break;
        case '0': t.value += '\0'; break;
        case '\\': t.value += '\\'; break;
        case '"': t.value += '"'; break;
        case 'x': {
          int hi = pos_ < text_.size() ? hexValue(text_[pos_]) : -1;
          int lo = pos_ + 1 < text_.size() ? hexValue(text_[pos_ + 1]) : -1;
          if (hi < 0 || lo < 0) fail(t.line, "\\x needs two hexadecimal digits");
          t.value += static_cast<char>(hi * 16 + lo);
          pos_ += 2;
          break;
        }
        default: fail(t.line, std::string("unknown escape \\") + e);
      }
    }
    return t;
  }

  const std::string& text_;
  std::string file_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

std::vector<Statement> parseDescription(const std::string& text, const std::string& fileName) {
  Parser parser(text, fileName);
  return parser.statements(false);
}

void failAt(const std::string& fileName, int line, const std::string& message) {
  throw DescriptionError(fileName + ":" + std::to_string(line) + ": " + message);
}

uint32_t tokenNumber(const Token& t, uint64_t max, const std::string& fileName) {
  if (t.kind != Token::Kind::Word || t.value.empty() || t.value[0] == '-' || t.value[0] == '+') {
    failAt(fileName, t.line, "expected a number, not '" + t.value + "'");
  }
  size_t used = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(t.value, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != t.value.size()) failAt(fileName, t.line, "expected a number, not '" + t.value + "'");
  if (v > max) failAt(fileName, t.line, "number " + t.value + " is out of range");
  return static_cast<uint32_t>(v);
}

std::u16string tokenUtf16(const Token& t, const std::string& fileName) {
  std::u16string out;
  const std::string& s = t.value;
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) {
      cp = b;
      n = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      n = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07;
      n = 4;
    } else {
      failAt(fileName, t.line, "the text is not UTF-8");
    }
    if (i + n > s.size()) failAt(fileName, t.line, "the text is not UTF-8");
    for (size_t k = 1; k < n; ++k) {
      const unsigned char c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) failAt(fileName, t.line, "the text is not UTF-8");
      cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) failAt(fileName, t.line, "the text is not UTF-8");
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

}  // namespace resgen
