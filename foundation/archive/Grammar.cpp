// The grammar engine: compiles the rule text into a node graph and matches a
// whole input against a start expression, shortest-first and backtracking.
//
// Unverified manifests and signer-info texts reach the matcher, so it remembers
// failed states (node, position, call stack): a hostile text fails in
// polynomial time instead of trying every combination. Captures live in an undo
// trail that backtracking truncates. The first successful path and its captures
// are the same as those of a plain backtracking matcher.
//
// Its memory is bounded too: a repetition over single bytes keeps one choice
// record for its whole run, and a match whose working memory outgrows a small
// budget relative to its input fails (real manifests stay far below it).
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

const char kManifestRuleText[] =
    "number:\\d+\r\n"
    "otherchar:.\r\n"
    "alphanum:[a-zA-Z0-9]\r\n"
    "headerchar:[-a-zA-Z0-9_]\r\n"
    "newline:{\\r\\n|\\n}\r\n"
    "cont:<newline> <otherchar>+\r\n"
    "attribname:<alphanum><headerchar>*\r\n"
    "value:<otherchar>*<cont>*\r\n"
    "sect_attr:<8=attribname>: <9=value><newline>\r\n"
    "digest_name_val:<attribname>\"-Digest\"\r\n"
    "digest_val:<6=digest_name_val>\":\" <7=value><newline>\r\n"
    "digest_alg:\"Digest-Algorithms:\" <5=value><newline>\r\n"
    "sect_name:\"SectionName:\" <4=value><newline>\r\n"
    "nameheader:\"Name:\" <3=value><newline>\r\n"
    "sect_line:{<sect_name>|<digest_alg>|<digest_val>|<sect_attr>}\r\n"
    "section:<nameheader><sect_line>*<newline>\r\n"
    "wspace_next:\\s+<headerchar>+\r\n"
    "wspace_sep_lst:<headerchar>+<wspace_next>*\r\n"
    "header_attr:<1=attribname>: <2=value><newline>\r\n"
    "manifest_entry:<0=section><newline>*\r\n"
    "manifest:\"Manifest-Version: 2.0\"<newline><header_attr>*<newline>+<manifest_entry>*\r\n"
    "signer_info_ent:<0=section><newline>*\r\n"
    "signer_info:\"Signature-Version: 2.0\"<newline><header_attr>*<newline>+<signer_info_ent>+\r\n";
const uint32_t kManifestRuleTextLength = sizeof(kManifestRuleText) - 1;

namespace {

enum NodeKind : uint8_t { kEmpty, kByte, kSet, kString, kCall, kReturn, kOpen, kClose, kFinal };

struct Node {
  NodeKind kind;
  uint8_t value;  // byte or slot
  int32_t next;
  int32_t alt;
  int32_t arg;     // set, rule or string offset
  uint32_t length;  // string length
};

struct Rule {
  std::string name;
  int32_t first;
  bool nullable;
};

struct ByteSet {
  uint64_t bits[4];
  bool has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
  void add(unsigned char c) { bits[c >> 6] |= 1ull << (c & 63); }
};

struct Program {
  std::vector<Node> nodes;
  std::vector<Rule> rules;
  std::vector<ByteSet> sets;
  std::string strings;
};

struct Fragment {
  int32_t first;
  int32_t last;  // an open end: its next link is set by whatever follows
  bool nullable;
  bool valid;
};

class Compiler {
 public:
  explicit Compiler(Program& program) : p_(program) {}

  bool compileRules(const unsigned char* text, size_t length) {
    size_t i = 0;
    while (i < length) {
      size_t lineEnd = i;
      while (lineEnd < length && text[lineEnd] != '\n' && text[lineEnd] != '\r') ++lineEnd;
      size_t next = lineEnd;
      if (next < length) next += (text[next] == '\r' && next + 1 < length && text[next + 1] == '\n') ? 2 : 1;
      if (next - i > 510) return false;
      if (lineEnd > i && !compileLine(reinterpret_cast<const char*>(text) + i, lineEnd - i)) return false;
      i = next;
    }
    return true;
  }

  // A start expression: references and plain characters, then the final node.
  int32_t compileStart(const unsigned char* text, size_t length) {
    size_t i = 0;
    Fragment f = sequence(reinterpret_cast<const char*>(text), i, length, false);
    if (failed_) return -1;
    const int32_t final = node(kFinal);
    p_.nodes[f.last].next = final;
    return f.first;
  }

 private:
  int32_t node(NodeKind kind, uint8_t value = 0) {
    p_.nodes.push_back(Node{kind, value, -1, -1, 0, 0});
    return static_cast<int32_t>(p_.nodes.size() - 1);
  }

  Fragment single(int32_t n, bool nullable) { return Fragment{n, n, nullable, true}; }
  Fragment empty() { return single(node(kEmpty), true); }

  Fragment byteElement(unsigned char c) {
    const int32_t n = node(kByte, c);
    return single(n, false);
  }

  Fragment setElement(const ByteSet& set) {
    const int32_t n = node(kSet);
    p_.nodes[n].arg = static_cast<int32_t>(p_.sets.size());
    p_.sets.push_back(set);
    return single(n, false);
  }

  Fragment stringElement(const char* s, size_t length) {
    if (length == 0) return empty();
    if (length == 1) return byteElement(static_cast<unsigned char>(s[0]));
    const int32_t n = node(kString);
    p_.nodes[n].arg = static_cast<int32_t>(p_.strings.size());
    p_.nodes[n].length = static_cast<uint32_t>(length);
    p_.strings.append(s, length);
    return single(n, false);
  }

  Fragment concat(Fragment a, Fragment b) {
    if (!a.valid) return b;
    p_.nodes[a.last].next = b.first;
    return Fragment{a.first, b.last, a.nullable && b.nullable, true};
  }

  // Leaving the loop is the alternative link, so repetition is shortest-first.
  Fragment repeat(Fragment x, bool atLeastOnce) {
    if (x.nullable) {
      failed_ = true;
      return x;
    }
    const int32_t loop = node(kEmpty);
    const int32_t exit = node(kEmpty);
    p_.nodes[loop].alt = exit;
    p_.nodes[loop].next = x.first;
    p_.nodes[x.last].next = loop;
    return Fragment{atLeastOnce ? x.first : loop, exit, !atLeastOnce, true};
  }

  static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }

  int findRule(const char* name, size_t length) const {
    for (size_t r = 0; r < p_.rules.size(); ++r) {
      if (p_.rules[r].name.size() == length && std::memcmp(p_.rules[r].name.data(), name, length) == 0) {
        return static_cast<int>(r);
      }
    }
    return -1;
  }

  // A reference "<name>" or "<N=name>" to a rule already defined; false leaves i alone.
  bool reference(const char* s, size_t& i, size_t end, Fragment* out) {
    size_t j = i + 1;
    int slot = -1;
    bool capturing = false;
    if (j < end && isDigit(s[j])) {
      slot = 0;
      while (j < end && isDigit(s[j])) {
        slot = slot * 10 + (s[j] - '0');
        if (slot >= kGrammarSlots) return false;
        ++j;
      }
      if (j >= end || s[j] != '=') return false;
      ++j;
      capturing = true;
    }
    const size_t nameStart = j;
    if (j >= end || !isLetter(s[j])) return false;
    ++j;
    while (j < end && (isLetter(s[j]) || s[j] == '_' || (capturing && isDigit(s[j])))) ++j;
    if (j >= end || s[j] != '>' || j - nameStart > 15) return false;
    const int rule = findRule(s + nameStart, j - nameStart);
    if (rule < 0) return false;
    const int32_t call = node(kCall);
    p_.nodes[call].arg = rule;
    Fragment f = single(call, p_.rules[rule].nullable);
    if (capturing) {
      const int32_t open = node(kOpen, static_cast<uint8_t>(slot));
      const int32_t close = node(kClose, static_cast<uint8_t>(slot));
      p_.nodes[open].next = call;
      p_.nodes[call].next = close;
      f = Fragment{open, close, f.nullable, true};
    }
    i = j + 1;
    *out = f;
    return true;
  }

  // One escaped character after '\' as a set (classes) or a byte.
  Fragment escape(const char* s, size_t& i, size_t end) {
    if (i + 1 >= end) {
      ++i;
      return byteElement('\\');
    }
    const char c = s[i + 1];
    i += 2;
    ByteSet set{};
    switch (c) {
      case 'n': return byteElement('\n');
      case 'r': return byteElement('\r');
      case 't': return byteElement('\t');
      case 'v': return byteElement('\v');
      case 'b': return byteElement('\b');
      case 'f': return byteElement('\f');
      case 'a': return byteElement('\a');
      case '0': {
        unsigned value = 0;
        for (int k = 0; k < 3 && i < end && s[i] >= '0' && s[i] <= '7'; ++k) value = value * 8 + (s[i++] - '0');
        return byteElement(static_cast<unsigned char>(value % 128));
      }
      case 'd':
      case 'D':
        for (int b = '0'; b <= '9'; ++b) set.add(static_cast<unsigned char>(b));
        if (c == 'D') invert(set);
        return setElement(set);
      case 's':
      case 'S':
        set.add(' ');
        set.add('\t');
        set.add('\f');
        set.add('\n');
        if (c == 'S') invert(set);
        return setElement(set);
      case 'N':
        set.add(' ');
        set.add('\t');
        set.add('\f');
        return setElement(set);
      case '$':
        invert(set);
        return setElement(set);
      default:
        return byteElement(static_cast<unsigned char>(c));
    }
  }

  static void invert(ByteSet& set) {
    for (auto& word : set.bits) word = ~word;
  }

  Fragment bracketSet(const char* s, size_t& i, size_t end) {
    ++i;
    ByteSet set{};
    bool negate = false;
    if (i < end && s[i] == '^') {
      negate = true;
      ++i;
    }
    if (i < end && s[i] == '-') {
      set.add('-');
      ++i;
    }
    while (i < end && s[i] != ']') {
      unsigned char lo = static_cast<unsigned char>(s[i]);
      if (lo == '-') {  // a '-' that does not form a range
        failed_ = true;
        return Fragment{};
      }
      if (i + 1 < end && s[i + 1] == '-') {
        if (i + 2 >= end || s[i + 2] == ']') {
          failed_ = true;
          return Fragment{};
        }
        const unsigned char hi = static_cast<unsigned char>(s[i + 2]);
        if (hi < lo) {
          failed_ = true;
          return Fragment{};
        }
        for (unsigned b = lo; b <= hi; ++b) set.add(static_cast<unsigned char>(b));
        i += 3;
      } else {
        set.add(lo);
        ++i;
      }
    }
    if (i >= end) {
      failed_ = true;
      return Fragment{};
    }
    ++i;
    if (negate) invert(set);
    return setElement(set);
  }

  Fragment group(const char* s, size_t& i, size_t end) {
    ++i;
    std::vector<Fragment> alternatives;
    for (;;) {
      Fragment f = sequence(s, i, end, true);
      if (failed_) return Fragment{};
      alternatives.push_back(f);
      if (i >= end) {
        failed_ = true;
        return Fragment{};
      }
      if (s[i++] == '}') break;
    }
    const int32_t join = node(kEmpty);
    bool nullable = false;
    for (const Fragment& f : alternatives) {
      p_.nodes[f.last].next = join;
      nullable = nullable || f.nullable;
    }
    // The first alternative is the alternative link of the first empty node, and
    // so on; the last one is reached by the next links.
    int32_t first = alternatives.back().first;
    for (size_t k = alternatives.size() - 1; k-- > 0;) {
      const int32_t choice = node(kEmpty);
      p_.nodes[choice].alt = alternatives[k].first;
      p_.nodes[choice].next = first;
      first = choice;
    }
    return Fragment{first, join, nullable, true};
  }

  Fragment sequence(const char* s, size_t& i, size_t end, bool inGroup) {
    Fragment result{};
    Fragment last{};
    bool literal = false;
    while (i < end && !failed_) {
      const char c = s[i];
      if (literal) {
        if (c == '"') {
          literal = false;
          ++i;
          continue;
        }
        size_t j = i;
        while (j < end && s[j] != '"') ++j;
        result = concat(result, last);
        last = stringElement(s + i, j - i);
        i = j;
        continue;
      }
      if (c == '"') {
        literal = true;
        ++i;
        continue;
      }
      if (inGroup && (c == '|' || c == '}')) break;
      if ((c == '*' || c == '+') && last.valid) {
        last = repeat(last, c == '+');
        ++i;
        continue;
      }
      result = concat(result, last);
      switch (c) {
        case '.': {
          ByteSet set{};
          invert(set);
          set.bits['\n' >> 6] &= ~(1ull << ('\n' & 63));
          last = setElement(set);
          ++i;
          break;
        }
        case '[':
          last = bracketSet(s, i, end);
          break;
        case '\\':
          last = escape(s, i, end);
          break;
        case '{':
          last = group(s, i, end);
          break;
        case '<':
          if (!reference(s, i, end, &last)) {
            last = byteElement('<');
            ++i;
          }
          break;
        default:
          last = byteElement(static_cast<unsigned char>(c));
          ++i;
          break;
      }
    }
    if (failed_) return Fragment{0, 0, false, true};
    result = concat(result, last);
    if (!result.valid) result = empty();
    return result;
  }

  bool compileLine(const char* line, size_t length) {
    size_t i = 0;
    while (i < length && (isLetter(line[i]) || isDigit(line[i]) || line[i] == '_')) ++i;
    if (i == 0 || i > 15 || i >= length || line[i] != ':') return false;
    if (findRule(line, i) >= 0) return false;
    const std::string name(line, i);
    ++i;
    Fragment body = sequence(line, i, length, false);
    if (failed_) return false;
    const int32_t ret = node(kReturn);
    p_.nodes[body.last].next = ret;
    p_.rules.push_back(Rule{name, body.first, body.nullable});
    return true;
  }

  Program& p_;
  bool failed_ = false;
};

// ---- matching ----

struct Choice {
  int32_t node;
  uint32_t position;
  int32_t stack;
  uint32_t trail;
  uint64_t steps;  // the step count when the choice was made
  uint32_t run;    // failed choices of this node at position, position + 1, ... (at least 1)
  bool second;     // the alternative failed; the next link is being tried
};

// The working memory a match may use: this many bytes, or the input's length
// when that is more. A line costs the matcher a few hundred bytes, so a
// manifest of about a hundred kilobytes of short lines still fits; beyond the
// floor, only long values keep a match within its input's size.
constexpr size_t kMatchBudgetFloor = 1024 * 1024;

// A failed state is remembered only when exploring it took at least this many
// steps: cheap failures cost less to repeat than to remember, and every costly
// one is still remembered, which keeps the whole match polynomial.
constexpr uint64_t kMemoSteps = 32;

struct TrailEntry {
  uint32_t position;
  uint8_t slot;
  bool close;
};

struct StackNode {
  int32_t parent;
  int32_t returnNode;
  int32_t firstChild;
  int32_t sibling;
};

// Failed states, open addressing on 64-bit keys (0 marks a free cell).
class FailedStates {
 public:
  size_t bytes() const { return cells_.capacity() * sizeof(uint64_t); }
  bool contains(uint64_t key) const {
    if (cells_.empty()) return false;
    for (size_t i = hash(key) & mask_;; i = (i + 1) & mask_) {
      if (cells_[i] == key) return true;
      if (cells_[i] == 0) return false;
    }
  }
  void insert(uint64_t key) {
    if ((size_ + 1) * 2 > cells_.size()) grow();
    for (size_t i = hash(key) & mask_;; i = (i + 1) & mask_) {
      if (cells_[i] == key) return;
      if (cells_[i] == 0) {
        cells_[i] = key;
        ++size_;
        return;
      }
    }
  }

 private:
  static size_t hash(uint64_t key) {
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDull;
    key ^= key >> 33;
    return static_cast<size_t>(key);
  }
  void grow() {
    std::vector<uint64_t> old;
    old.swap(cells_);
    cells_.assign(old.empty() ? 1024 : old.size() * 2, 0);
    mask_ = cells_.size() - 1;
    size_ = 0;
    for (uint64_t key : old) {
      if (key != 0) insert(key);
    }
  }
  std::vector<uint64_t> cells_;
  size_t mask_ = 0;
  size_t size_ = 0;
};

class Matcher {
 public:
  Matcher(const Program& program, const unsigned char* input, uint32_t length)
      : p_(program), in_(input), length_(length), budget_(length > kMatchBudgetFloor ? length : kMatchBudgetFloor) {
    stacks_.push_back(StackNode{-1, -1, -1, -1});
  }

  bool run(int32_t start) {
    int32_t n = start;
    uint32_t pos = 0;
    int32_t stack = 0;
    uint64_t steps = 0;
    for (;;) {
      ++steps;
      if ((steps & 1023) == 0 && memory() > budget_) return false;
      const Node& node = p_.nodes[n];
      bool ok = true;
      switch (node.kind) {
        case kEmpty:
          if (node.alt >= 0) {
            if (stack < kMaxMemoStack && (failed_.contains(key(n, pos, stack)) || inFailedRun(n, pos, stack))) {
              ok = false;
              break;
            }
            choices_.push_back(Choice{n, pos, stack, static_cast<uint32_t>(trail_.size()), steps, 1, false});
            n = node.alt;
          } else {
            n = node.next;
          }
          break;
        case kByte:
          ok = pos < length_ && in_[pos] == node.value;
          if (ok) {
            ++pos;
            n = node.next;
          }
          break;
        case kSet:
          ok = pos < length_ && p_.sets[node.arg].has(in_[pos]);
          if (ok) {
            ++pos;
            n = node.next;
          }
          break;
        case kString:
          ok = length_ - pos >= node.length && std::memcmp(in_ + pos, p_.strings.data() + node.arg, node.length) == 0;
          if (ok) {
            pos += node.length;
            n = node.next;
          }
          break;
        case kCall:
          stack = push(stack, node.next);
          n = p_.rules[node.arg].first;
          break;
        case kReturn:
          n = stacks_[stack].returnNode;
          stack = stacks_[stack].parent;
          break;
        case kOpen:
        case kClose:
          trail_.push_back(TrailEntry{pos, node.value, node.kind == kClose});
          n = node.next;
          break;
        case kFinal:
          if (pos == length_) return true;
          ok = false;
          break;
      }
      if (ok) continue;
      // Back to the most recent choice point whose next link is still untried.
      for (;;) {
        if (choices_.empty()) return false;
        Choice& c = choices_.back();
        if (!c.second) {
          c.second = true;
          pos = c.position;
          stack = c.stack;
          trail_.resize(c.trail);
          n = p_.nodes[c.node].next;
          mergeRun();
          break;
        }
        if (c.stack < kMaxMemoStack && steps - c.steps >= kMemoSteps) {
          if (c.run >= kRunAsInterval) {
            failedRuns_[runKey(c.node, c.stack)][c.position] = c.position + c.run;
            ++failedRunCount_;
          } else {
            for (uint32_t k = 0; k < c.run; ++k) failed_.insert(key(c.node, c.position + k, c.stack));
          }
        }
        choices_.pop_back();
      }
    }
  }

  const std::vector<TrailEntry>& trail() const { return trail_; }

 private:
  // A choice whose alternative failed right after the same choice one byte
  // earlier failed its alternative (a repetition of single bytes) joins that
  // record: both are only waiting to be remembered as failed.
  void mergeRun() {
    if (choices_.size() < 2) return;
    const Choice& top = choices_.back();
    Choice& below = choices_[choices_.size() - 2];
    if (below.second && below.node == top.node && below.stack == top.stack && below.trail == top.trail &&
        below.position + below.run == top.position) {
      ++below.run;
      choices_.pop_back();
    }
  }

  size_t memory() const {
    return choices_.capacity() * sizeof(Choice) + trail_.capacity() * sizeof(TrailEntry) +
           stacks_.capacity() * sizeof(StackNode) + failed_.bytes() + failedRunCount_ * kRunBytes;
  }

  // A failed run is remembered as one interval of positions, not one state per byte.
  static uint64_t runKey(int32_t node, int32_t stack) {
    return static_cast<uint64_t>(static_cast<uint32_t>(stack)) << 32 | static_cast<uint32_t>(node);
  }
  bool inFailedRun(int32_t node, uint32_t position, int32_t stack) const {
    if (failedRuns_.empty()) return false;
    const auto runs = failedRuns_.find(runKey(node, stack));
    if (runs == failedRuns_.end()) return false;
    auto after = runs->second.upper_bound(position);
    if (after == runs->second.begin()) return false;
    return position < std::prev(after)->second;
  }

  static constexpr int32_t kMaxMemoStack = 0xFFFF;  // the key holds 16 bits of it
  static constexpr uint32_t kRunAsInterval = 8;
  static constexpr size_t kRunBytes = 96;  // about what one interval costs in the maps

  static uint64_t key(int32_t node, uint32_t position, int32_t stack) {
    return (static_cast<uint64_t>(position) << 32 | static_cast<uint64_t>(stack) << 16 | static_cast<uint64_t>(node)) + 1;
  }

  int32_t push(int32_t stack, int32_t returnNode) {
    for (int32_t c = stacks_[stack].firstChild; c >= 0; c = stacks_[c].sibling) {
      if (stacks_[c].returnNode == returnNode) return c;
    }
    stacks_.push_back(StackNode{stack, returnNode, -1, stacks_[stack].firstChild});
    const int32_t id = static_cast<int32_t>(stacks_.size() - 1);
    stacks_[stack].firstChild = id;
    return id;
  }

  const Program& p_;
  const unsigned char* in_;
  uint32_t length_;
  size_t budget_;
  std::vector<Choice> choices_;
  std::vector<TrailEntry> trail_;
  std::vector<StackNode> stacks_;
  FailedStates failed_;
  std::map<uint64_t, std::map<uint32_t, uint32_t>> failedRuns_;  // first position -> end
  size_t failedRunCount_ = 0;
};

// Where a link really leads: past empty nodes without an alternative, which do
// nothing but point onward and would cost the matcher a step each.
int32_t pastEmptyNodes(const Program& p, int32_t n) {
  for (size_t hops = 0; n >= 0 && hops < p.nodes.size(); ++hops) {
    const Node& node = p.nodes[static_cast<size_t>(n)];
    if (node.kind != kEmpty || node.alt >= 0) break;
    n = node.next;
  }
  return n;
}

// Lets every link skip the empty nodes and inlines rules of a single byte test;
// the paths taken and their order stay the same.
void linkPastEmptyNodes(Program& p) {
  for (Node& node : p.nodes) {
    node.next = pastEmptyNodes(p, node.next);
    if (node.alt >= 0) node.alt = pastEmptyNodes(p, node.alt);
  }
  for (Rule& rule : p.rules) rule.first = pastEmptyNodes(p, rule.first);
  // A call of a rule that is one byte or byte set and nothing else becomes that
  // test itself: one step instead of call, test and return.
  for (Node& node : p.nodes) {
    if (node.kind != kCall) continue;
    const int32_t first = p.rules[static_cast<size_t>(node.arg)].first;
    if (first < 0) continue;
    const Node& body = p.nodes[static_cast<size_t>(first)];
    if ((body.kind != kByte && body.kind != kSet) || body.next < 0 ||
        p.nodes[static_cast<size_t>(body.next)].kind != kReturn)
      continue;
    const int32_t next = node.next;
    node = body;
    node.next = next;
  }
}

// The built-in grammar with its three start expressions, compiled once: every
// parse behaves as if it had been compiled afresh.
struct CompiledManifestGrammar {
  Program program;
  int32_t manifest = -1;
  int32_t section = -1;
  int32_t signerInfo = -1;
  bool ok = false;

  CompiledManifestGrammar() {
    Compiler compiler(program);
    ok = compiler.compileRules(reinterpret_cast<const unsigned char*>(kManifestRuleText), kManifestRuleTextLength);
    if (!ok) return;
    manifest = compiler.compileStart(reinterpret_cast<const unsigned char*>("<manifest>"), 10);
    section = compiler.compileStart(reinterpret_cast<const unsigned char*>("<section>"), 9);
    signerInfo = compiler.compileStart(reinterpret_cast<const unsigned char*>("<signer_info>"), 13);
    ok = manifest >= 0 && section >= 0 && signerInfo >= 0;
    if (!ok) return;
    linkPastEmptyNodes(program);
    manifest = pastEmptyNodes(program, manifest);
    section = pastEmptyNodes(program, section);
    signerInfo = pastEmptyNodes(program, signerInfo);
  }
};

bool blobIs(Blob b, const char* text) {
  const size_t length = std::strlen(text);
  return b.length == length && std::memcmp(b.data, text, length) == 0;
}

bool programFits(const Program& program) { return program.nodes.size() < 0xFFFF; }

bool collect(AllocList* list, const std::vector<TrailEntry>& trail, Blob input, CaptureList* slots, int slotCount) {
  std::vector<uint32_t> counts(kGrammarSlots, 0);
  for (const TrailEntry& t : trail) {
    if (t.close) ++counts[t.slot];
  }
  for (int s = 0; s < slotCount; ++s) {
    slots[s].count = 0;
    slots[s].items = nullptr;
    if (s < kGrammarSlots && counts[s] != 0) {
      slots[s].items = static_cast<Blob*>(arcAlloc(list, sizeof(Blob) * counts[s]));
      if (slots[s].items == nullptr) return false;
    }
  }
  std::vector<std::vector<uint32_t>> open(kGrammarSlots);
  for (const TrailEntry& t : trail) {
    if (!t.close) {
      open[t.slot].push_back(t.position);
      continue;
    }
    if (open[t.slot].empty()) continue;
    const uint32_t start = open[t.slot].back();
    open[t.slot].pop_back();
    if (t.slot < slotCount) {
      slots[t.slot].items[slots[t.slot].count++] = makeBlob(input.data + start, t.position - start);
    }
  }
  return true;
}

}  // namespace

int loadManifestGrammar(Blob* out) {
  if (out == nullptr) return -1;
  if (out->data == nullptr || out->length < kManifestRuleTextLength) {
    out->length = 0;
    return -1;
  }
  std::memcpy(out->data, kManifestRuleText, kManifestRuleTextLength);
  out->length = kManifestRuleTextLength;
  return 0;
}

int compileGrammarText(Blob rules) {
  try {
    Program program;
    Compiler compiler(program);
    return compiler.compileRules(rules.data, rules.length) ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

int matchGrammar(AllocList* list, Blob rules, Blob start, Blob input, CaptureList* slots, int slotCount) {
  if (list == nullptr || slots == nullptr || slotCount < 0) return 0;
  if (input.length != 0 && input.data == nullptr) return 0;
  static const unsigned char kNothing = 0;
  if (input.data == nullptr) input.data = const_cast<unsigned char*>(&kNothing);
  try {
    // Never destroyed: exit handlers (a CT-API reader closing at exit, say) still
    // load signed archives after static objects have gone.
    static const CompiledManifestGrammar& builtIn = *new CompiledManifestGrammar;
    const Program* program = nullptr;
    int32_t first = -1;
    Program fresh;
    if (builtIn.ok && rules.length == kManifestRuleTextLength &&
        std::memcmp(rules.data, kManifestRuleText, kManifestRuleTextLength) == 0) {
      program = &builtIn.program;
      if (blobIs(start, "<manifest>")) first = builtIn.manifest;
      else if (blobIs(start, "<section>")) first = builtIn.section;
      else if (blobIs(start, "<signer_info>")) first = builtIn.signerInfo;
    }
    if (first < 0) {
      Compiler compiler(fresh);
      if (!compiler.compileRules(rules.data, rules.length)) return 0;
      first = compiler.compileStart(start.data, start.length);
      if (first < 0) return 0;
      linkPastEmptyNodes(fresh);
      first = pastEmptyNodes(fresh, first);
      program = &fresh;
    }
    if (!programFits(*program)) return 0;
    Matcher matcher(*program, input.data, input.length);
    if (!matcher.run(first)) return 0;
    return collect(list, matcher.trail(), input, slots, slotCount) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
