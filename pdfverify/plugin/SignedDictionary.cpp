#include "SignedDictionary.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

// Nesting deeper than this is no signature dictionary we read.
const int kMaxDepth = 32;
// Object headers tried before the gap, nearest first: a string of the dictionary may hold
// text that looks like one.
const int kMaxCandidates = 8;

// The bytes ended where more may follow: ask for more.
struct NeedMore {
  bool before;
};
// The bytes are no dictionary holding the gap.
struct Malformed {};

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0'; }
bool isDelimiter(int c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
bool isRegular(int c) { return c >= 0 && !isSpace(c) && !isDelimiter(c); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
int hexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Value {
  enum Kind { String, Name, Number, Reference, Keyword, Array, Dictionary } kind = Keyword;
  std::string text;
  std::vector<std::pair<std::string, std::unique_ptr<Value>>> entries;
  std::vector<std::unique_ptr<Value>> items;

  // The entry of a dictionary; none when it is absent or appears more than once.
  const Value* get(const std::string& key) const {
    const Value* found = nullptr;
    for (const auto& entry : entries) {
      if (entry.first != key) continue;
      if (found != nullptr) return nullptr;
      found = entry.second.get();
    }
    return found;
  }
};

// Reads the object at a header candidate, over the bytes before the gap and after it as
// one sequence that the gap joins: the only token that may meet the junction is the
// top-level /Contents value, which is the gap itself.
class Parser {
 public:
  Parser(const std::string& before, const std::string& after, bool afterToEnd)
      : before_(before), after_(after), afterToEnd_(afterToEnd), junction_(before.size()) {}

  // Parses "<< ... >>" from `pos` (just after "obj") into `top`.
  void parseObject(size_t pos, Value& top) {
    pos_ = pos;
    skipSpace();
    if (take() != '<' || take() != '<') throw Malformed{};
    parseDictionaryBody(top, 1, true);
    if (!crossed_) throw Malformed{};
  }

 private:
  size_t limit() const { return crossed_ ? junction_ + after_.size() : junction_; }
  int byteAt(size_t i) const {
    return static_cast<unsigned char>(i < junction_ ? before_[i] : after_[i - junction_]);
  }
  // The next byte, or -1 at the limit: the gap, not yet crossed, or the end of the bytes
  // after it when those are all there are. At the end of bytes that may go on, more are asked for.
  int peek() const {
    if (pos_ < limit()) return byteAt(pos_);
    if (crossed_ && !afterToEnd_) throw NeedMore{false};
    return -1;
  }
  int take() {
    const int c = peek();
    if (c < 0) throw Malformed{};
    ++pos_;
    return c;
  }

  void skipSpace() {
    for (;;) {
      const int c = peek();
      if (isSpace(c)) {
        ++pos_;
      } else if (c == '%') {
        while (peek() >= 0 && peek() != '\r' && peek() != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  std::string parseName() {
    if (take() != '/') throw Malformed{};
    std::string name;
    while (isRegular(peek())) {
      int c = take();
      if (c == '#') {
        const int high = hexValue(take()), low = hexValue(take());
        if (high < 0 || low < 0) throw Malformed{};
        c = high << 4 | low;
      }
      name += static_cast<char>(c);
    }
    return name;
  }

  std::string parseLiteralString() {
    take();  // (
    std::string text;
    int depth = 1;
    for (;;) {
      int c = take();
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (--depth == 0) return text;
      } else if (c == '\r') {
        // An end of line in a string reads as a line feed, whichever it was.
        if (peek() == '\n') ++pos_;
        c = '\n';
      } else if (c == '\\') {
        c = take();
        switch (c) {
          case 'n': c = '\n'; break;
          case 'r': c = '\r'; break;
          case 't': c = '\t'; break;
          case 'b': c = '\b'; break;
          case 'f': c = '\f'; break;
          case '\r':
            if (peek() == '\n') ++pos_;
            continue;
          case '\n':
            continue;
          default:
            if (c >= '0' && c <= '7') {
              int octal = c - '0';
              for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7'; ++i) octal = octal * 8 + (take() - '0');
              c = octal & 0xFF;
            }
            break;  // any other character stands for itself
        }
      }
      text += static_cast<char>(c);
    }
  }

  std::string parseHexString() {
    take();  // <
    std::string text;
    int high = -1;
    for (;;) {
      const int c = take();
      if (c == '>') break;
      if (isSpace(c)) continue;
      const int d = hexValue(c);
      if (d < 0) throw Malformed{};
      if (high < 0) {
        high = d;
      } else {
        text += static_cast<char>(high << 4 | d);
        high = -1;
      }
    }
    if (high >= 0) text += static_cast<char>(high << 4);
    return text;
  }

  // A number; an unsigned integer followed by another and "R" is a reference.
  void parseNumber(Value& v) {
    const size_t start = pos_;
    bool integer = true;
    if (peek() == '+' || peek() == '-') {
      integer = false;
      ++pos_;
    }
    bool digits = false;
    while (isDigit(peek()) || peek() == '.') {
      if (peek() == '.') integer = false;
      digits = digits || isDigit(peek());
      ++pos_;
    }
    if (!digits || isRegular(peek())) throw Malformed{};
    v.kind = Value::Number;
    for (size_t i = start; i < pos_; ++i) v.text += static_cast<char>(byteAt(i));
    if (!integer) return;
    // Looking ahead for "generation R"; where it is none, the number stands alone.
    const size_t end = pos_;
    skipSpace();
    if (pos_ > end && isDigit(peek())) {
      while (isDigit(peek())) ++pos_;
      const size_t generationEnd = pos_;
      skipSpace();
      if (pos_ > generationEnd && peek() == 'R') {
        ++pos_;
        if (!isRegular(peek())) {
          v.kind = Value::Reference;
          return;
        }
      }
    }
    pos_ = end;
  }

  void parseValue(Value& v, int depth) {
    if (depth > kMaxDepth) throw Malformed{};
    skipSpace();
    const int c = peek();
    if (c < 0) throw Malformed{};
    if (c == '(') {
      v.kind = Value::String;
      v.text = parseLiteralString();
    } else if (c == '<') {
      ++pos_;
      const bool dictionary = peek() == '<';
      --pos_;
      if (dictionary) {
        pos_ += 2;
        parseDictionaryBody(v, depth + 1, false);
      } else {
        v.kind = Value::String;
        v.text = parseHexString();
      }
    } else if (c == '[') {
      ++pos_;
      v.kind = Value::Array;
      for (;;) {
        skipSpace();
        if (peek() == ']') {
          ++pos_;
          return;
        }
        v.items.push_back(std::make_unique<Value>());
        parseValue(*v.items.back(), depth + 1);
      }
    } else if (c == '/') {
      v.kind = Value::Name;
      v.text = parseName();
    } else if (isDigit(c) || c == '+' || c == '-' || c == '.') {
      parseNumber(v);
    } else if (isRegular(c)) {
      std::string word;
      while (isRegular(peek())) word += static_cast<char>(take());
      if (word != "true" && word != "false" && word != "null") throw Malformed{};
      v.kind = Value::Keyword;
      v.text = word;
    } else {
      throw Malformed{};
    }
  }

  // After "<<": the entries up to ">>". At the top level, the /Contents value must be the
  // gap, with nothing but blanks between its key and it.
  void parseDictionaryBody(Value& v, int depth, bool top) {
    if (depth > kMaxDepth) throw Malformed{};
    v.kind = Value::Dictionary;
    for (;;) {
      skipSpace();
      const int c = peek();
      if (c == '>') {
        ++pos_;
        if (take() != '>') throw Malformed{};
        return;
      }
      if (c != '/') throw Malformed{};
      std::string key = parseName();
      if (top && key == "Contents") {
        while (pos_ < junction_ && !crossed_ && isSpace(byteAt(pos_))) ++pos_;
        if (crossed_ || pos_ != junction_) throw Malformed{};
        crossed_ = true;
        v.entries.emplace_back(std::move(key), nullptr);
        continue;
      }
      auto value = std::make_unique<Value>();
      parseValue(*value, depth);
      v.entries.emplace_back(std::move(key), std::move(value));
    }
  }

  const std::string& before_;
  const std::string& after_;
  const bool afterToEnd_;
  const size_t junction_;
  size_t pos_ = 0;
  bool crossed_ = false;
};

// Reads "id generation" backwards from just before the blank in front of "obj" at `at`;
// false when the bytes there are no object header. `undetermined` is set when the header
// may go on before the bytes given.
bool headerBefore(const std::string& before, bool fromStart, size_t at, int64_t& id, int64_t& generation,
                  bool& undetermined) {
  size_t p = at;
  auto skipBack = [&] {
    const size_t start = p;
    while (p > 0 && isSpace(static_cast<unsigned char>(before[p - 1]))) --p;
    return p < start;
  };
  auto numberBack = [&](int64_t& n) {
    const size_t end = p;
    while (p > 0 && isDigit(static_cast<unsigned char>(before[p - 1])) && end - p < 10) --p;
    if (p == end) return false;
    n = std::stoll(before.substr(p, end - p));
    return true;
  };
  if (!skipBack() || !numberBack(generation) || !skipBack() || !numberBack(id)) return false;
  if (p == 0) {
    undetermined = !fromStart;
    return fromStart;
  }
  const int c = static_cast<unsigned char>(before[p - 1]);
  return isSpace(c) || isDelimiter(c);
}

}  // namespace

SignedDictionaryRead readSignedDictionary(const std::string& before, bool beforeFromStart, const std::string& after,
                                          bool afterToEnd, SignedDictionary& out) {
  bool undetermined = false;
  int tried = 0;
  for (size_t at = before.rfind("obj"); at != std::string::npos && tried < kMaxCandidates;
       at = at == 0 ? std::string::npos : before.rfind("obj", at - 1)) {
    if (at + 3 < before.size() && isRegular(static_cast<unsigned char>(before[at + 3]))) continue;
    int64_t id = -1, generation = -1;
    bool headerUndetermined = false;
    if (!headerBefore(before, beforeFromStart, at, id, generation, headerUndetermined)) {
      undetermined = undetermined || headerUndetermined;
      continue;
    }
    ++tried;
    Value top;
    try {
      Parser(before, after, afterToEnd).parseObject(at + 3, top);
    } catch (const Malformed&) {
      continue;
    } catch (const NeedMore&) {
      return SignedDictionaryRead::NeedMoreAfter;
    }
    out = SignedDictionary();
    out.id = id;
    out.generation = generation;
    if (const Value* m = top.get("M"); m != nullptr && m->kind == Value::String) {
      out.hasSigningTime = true;
      out.signingTime = m->text;
    }
    if (const Value* ranges = top.get("ByteRange"); ranges != nullptr && ranges->kind == Value::Array &&
                                                     ranges->items.size() == 4) {
      out.hasByteRange = true;
      for (size_t i = 0; i < 4; ++i) {
        const Value& n = *ranges->items[i];
        // Unsigned integers of at most ten digits: no sign, no fraction, no reference.
        if (n.kind != Value::Number || n.text.empty() || n.text.size() > 10 ||
            n.text.find_first_not_of("0123456789") != std::string::npos) {
          out.hasByteRange = false;
          break;
        }
        out.byteRange[i] = std::stoll(n.text);
      }
    }
    const Value* build = top.get("Prop_Build");
    const Value* filter = build != nullptr && build->kind == Value::Dictionary ? build->get("Filter") : nullptr;
    const Value* meta = filter != nullptr && filter->kind == Value::Dictionary ? filter->get("Metadata") : nullptr;
    if (meta != nullptr && meta->kind == Value::String) {
      out.hasMetadata = true;
      out.metadata = meta->text;
    }
    return SignedDictionaryRead::Found;
  }
  // No dictionary yet: further back there may be one, unless the bytes start at the file's
  // beginning or enough headers were tried.
  if (tried < kMaxCandidates && (!beforeFromStart || undetermined)) return SignedDictionaryRead::NeedMoreBefore;
  return SignedDictionaryRead::NotFound;
}
