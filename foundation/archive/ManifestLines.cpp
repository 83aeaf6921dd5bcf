// The manifest's common forms read line by line, ahead of the grammar engine.
//
// The built-in grammar describes texts of header lines, blank lines and sections
// of "Name: " lines, attribute lines and continuation lines. Where every line of a
// text has one of these shapes, the grammar has exactly one way to match it, and
// its first match takes each value up to the end of its last continuation line
// (without the CR of a CRLF): this reader finds the same captures in one pass.
// Anything else (a lone CR, a continuation line of a blank alone, a line of no
// known shape, a text that does not end where a match must end, too many lines)
// is declined, and the grammar decides as before: a declined text may still match.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

// More lines than this are left to the grammar, whose working-memory budget
// then decides. The grammar's costliest lines (digest lines, continuation
// lines) exhaust its budget's floor after about 1600 lines, so nothing this
// reader accepts could have run out of memory in the grammar.
constexpr uint32_t kMaxLines = 1024;

enum Start { kManifest, kSection, kSignerInfo };

class LineReader {
 public:
  LineReader(Blob input, uint32_t* counts, Blob** items) : in_(input.data), n_(input.length), counts_(counts), items_(items) {}

  bool read(Start start) {
    if (start == kSection) {
      uint32_t end = 0;
      return section(0, &end) && end == n_;
    }
    const char* first = start == kManifest ? "Manifest-Version: 2.0" : "Signature-Version: 2.0";
    Line line;
    if (!lineAt(0, &line) || !lineIs(line, first)) return false;
    uint32_t at = line.next;
    // Header attributes up to the first blank line.
    for (;;) {
      if (!lineAt(at, &line)) return false;
      if (line.contentEnd == line.start) break;
      uint32_t valueEnd = 0, next = 0;
      const uint32_t nameEnd = attributeName(line);
      if (nameEnd == 0 || !continues(line, &valueEnd, &next)) return false;
      capture(1, line.start, nameEnd);
      capture(2, nameEnd + 2, valueEnd);
      at = next;
    }
    at = pastBlankLines(at);
    uint32_t sections = 0;
    while (at < n_) {
      uint32_t end = 0;
      if (!section(at, &end)) return false;
      capture(0, at, end);
      ++sections;
      at = pastBlankLines(end);
    }
    return start == kManifest || sections > 0;
  }

 private:
  struct Line {
    uint32_t start;
    uint32_t contentEnd;  // before the CR LF or LF
    uint32_t next;        // after it
  };

  // The line at `at`; false at the end of the input, for a line without its line
  // end, for a CR that does not end a line, and past the line limit.
  bool lineAt(uint32_t at, Line* line) {
    if (at >= n_ || ++lines_ > kMaxLines) return false;
    const auto* lf = static_cast<const unsigned char*>(std::memchr(in_ + at, '\n', n_ - at));
    if (lf == nullptr) return false;
    const uint32_t end = static_cast<uint32_t>(lf - in_);
    uint32_t contentEnd = end;
    if (contentEnd > at && in_[contentEnd - 1] == '\r') --contentEnd;
    if (std::memchr(in_ + at, '\r', contentEnd - at) != nullptr) return false;
    *line = Line{at, contentEnd, end + 1};
    return true;
  }

  bool lineIs(const Line& line, const char* text) const {
    const size_t length = std::strlen(text);
    return line.contentEnd - line.start == length && std::memcmp(in_ + line.start, text, length) == 0;
  }

  bool startsWith(const Line& line, const char* text) const {
    const size_t length = std::strlen(text);
    return line.contentEnd - line.start >= length && std::memcmp(in_ + line.start, text, length) == 0;
  }

  static bool isAlphanumeric(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  }
  static bool isHeaderChar(unsigned char c) { return isAlphanumeric(c) || c == '-' || c == '_'; }

  // The end of an attribute name that ": " follows, or 0.
  uint32_t attributeName(const Line& line) const {
    uint32_t i = line.start;
    if (i >= line.contentEnd || !isAlphanumeric(in_[i])) return 0;
    while (i < line.contentEnd && isHeaderChar(in_[i])) ++i;
    if (line.contentEnd - i < 2 || in_[i] != ':' || in_[i + 1] != ' ') return 0;
    return i;
  }

  // Where a value that starts on this line ends: at the end of the line or of
  // the last continuation line after it (a blank and at least one more byte).
  bool continues(const Line& line, uint32_t* valueEnd, uint32_t* next) {
    uint32_t end = line.contentEnd;
    uint32_t at = line.next;
    while (at < n_ && in_[at] == ' ') {
      Line more;
      if (!lineAt(at, &more) || more.contentEnd - more.start < 2) return false;
      end = more.contentEnd;
      at = more.next;
    }
    *valueEnd = end;
    *next = at;
    return true;
  }

  uint32_t pastBlankLines(uint32_t at) {
    Line line;
    while (at < n_ && (in_[at] == '\n' || in_[at] == '\r') && lineAt(at, &line) && line.contentEnd == line.start) {
      at = line.next;
    }
    return at;
  }

  // A section from its "Name: " line through the blank line that ends it.
  bool section(uint32_t at, uint32_t* end) {
    Line line;
    if (!lineAt(at, &line) || !startsWith(line, "Name: ")) return false;
    uint32_t valueEnd = 0, next = 0;
    if (!continues(line, &valueEnd, &next)) return false;
    capture(3, line.start + 6, valueEnd);
    at = next;
    for (;;) {
      if (!lineAt(at, &line)) return false;
      if (line.contentEnd == line.start) {
        *end = line.next;
        return true;
      }
      // The alternatives in the grammar's order; the first that fits the line is the match.
      int nameSlot = -1, valueSlot;
      uint32_t valueStart;
      uint32_t nameEnd = 0;
      if (startsWith(line, "SectionName: ")) {
        valueSlot = 4;
        valueStart = line.start + 13;
      } else if (startsWith(line, "Digest-Algorithms: ")) {
        valueSlot = 5;
        valueStart = line.start + 19;
      } else {
        nameEnd = attributeName(line);
        if (nameEnd == 0) return false;
        const bool digest = nameEnd - line.start > 7 && std::memcmp(in_ + nameEnd - 7, "-Digest", 7) == 0;
        nameSlot = digest ? 6 : 8;
        valueSlot = digest ? 7 : 9;
        valueStart = nameEnd + 2;
      }
      if (!continues(line, &valueEnd, &next)) return false;
      if (nameSlot >= 0) capture(nameSlot, line.start, nameEnd);
      capture(valueSlot, valueStart, valueEnd);
      at = next;
    }
  }

  void capture(int slot, uint32_t start, uint32_t end) {
    if (items_ != nullptr && items_[slot] != nullptr) items_[slot][counts_[slot]] = makeBlob(in_ + start, end - start);
    ++counts_[slot];
  }

  const unsigned char* in_;
  uint32_t n_;
  uint32_t* counts_;
  Blob** items_;
  uint32_t lines_ = 0;
};

bool startIs(Blob start, const char* text) {
  const size_t length = std::strlen(text);
  return start.length == length && start.data != nullptr && std::memcmp(start.data, text, length) == 0;
}

}  // namespace

int parseManifestLines(AllocList* list, Blob input, Blob start, CaptureList* slots, int slotCount) {
  if (list == nullptr || slots == nullptr || slotCount < 0 || input.data == nullptr) return 0;
  Start which;
  if (startIs(start, "<manifest>")) which = kManifest;
  else if (startIs(start, "<section>")) which = kSection;
  else if (startIs(start, "<signer_info>")) which = kSignerInfo;
  else return 0;
  // Counted first, then filled: the slots take exactly what they hold, as the grammar's do.
  uint32_t counts[kManifestSlots] = {};
  if (!LineReader(input, counts, nullptr).read(which)) return 0;
  Blob* items[kManifestSlots] = {};
  for (int s = 0; s < slotCount; ++s) {
    slots[s].count = 0;
    slots[s].items = nullptr;
    if (s < kManifestSlots && counts[s] != 0) {
      items[s] = static_cast<Blob*>(arcAlloc(list, sizeof(Blob) * counts[s]));
      if (items[s] == nullptr) return 0;
      slots[s].items = items[s];
    }
  }
  uint32_t filled[kManifestSlots] = {};
  LineReader(input, filled, items).read(which);
  for (int s = 0; s < slotCount && s < kManifestSlots; ++s) slots[s].count = counts[s];
  return 1;
}
