#include "VOQ_FontEnumerator.h"

#include <string.h>

#include <memory>

#include "PluginState.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = pluginTrace("VOQ_FontEnumerator");
  return context;
}

const char* const kStandardFonts[14] = {
    "Times-Roman",  "Helvetica",         "Courier",         "Symbol",           "Times-Bold",
    "Helvetica-Bold", "Courier-Bold",    "ZapfDingbats",    "Times-Italic",     "Helvetica-Oblique",
    "Courier-Oblique", "Times-BoldItalic", "Helvetica-BoldOblique", "Courier-BoldOblique"};

const char* const kTypeNames[VOQ_FONT_TYPES] = {"Type1",        "Type3",        "TrueType", "MMType1",
                                                "Type0",        "CIDFontType0", "CIDFontType2", "UNKNOWN"};

const char kDoubleLine[] = "=================================================================================";
const char kSingleLine[] = "---------------------------------------------------------------------------------";

bool isCIDFont(const VOQ_FontEntry& entry) { return entry.getTypeIndex() == 5 || entry.getTypeIndex() == 6; }

}  // namespace

bool operator==(const VOQ_String& string, const char* text) {
  if (string.getData() == nullptr || text == nullptr) return false;
  size_t length = strlen(text);
  return length == string.getLength() && memcmp(string.getData(), text, length) == 0;
}

const char* fontTypeStatisticsName(int32_t index) {
  return index >= 0 && index < VOQ_FONT_TYPES ? kTypeNames[index] : kTypeNames[7];
}

// --- VOQ_FontEntry ------------------------------------------------------------------------

VOQ_FontEntry::VOQ_FontEntry(PDFont font) : font(font) {
  subtype = VOQ_String(ASAtomGetString(PDFontGetSubtype(font)));
  char buffer[256];
  buffer[0] = '\0';
  PDFontGetName(font, buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  name = VOQ_String(buffer);
  embedded = PDFontIsEmbedded(font) != 0;
  if (subtype == "Type1") {
    typeIndex = 0;
    if (!embedded) embedded = isStandardFont();
  } else if (subtype == "Type3") {
    typeIndex = 1;
    embedded = false;
  } else if (subtype == "TrueType") {
    typeIndex = 2;
  } else if (subtype == "MMType1") {
    typeIndex = 3;
    embedded = false;
  } else if (subtype == "Type0") {
    typeIndex = 4;
  } else if (subtype == "CIDFontType0") {
    typeIndex = 5;
  } else if (subtype == "CIDFontType2") {
    typeIndex = 6;
  } else {
    subtype = VOQ_String("Unknown");
    typeIndex = 7;
  }
}

VOQ_FontEntry::VOQ_FontEntry(const VOQ_FontEntry& other)
    : name(other.name),
      subtype(other.subtype),
      typeIndex(other.typeIndex),
      font(other.font),
      embedded(other.embedded),
      descendant(nullptr) {}

VOQ_FontEntry& VOQ_FontEntry::operator=(const VOQ_FontEntry& other) {
  name = other.name;
  subtype = other.subtype;
  typeIndex = other.typeIndex;
  font = other.font;
  embedded = other.embedded;
  descendant = nullptr;
  return *this;
}

void VOQ_FontEntry::setDescendant(VOQ_FontEntry* entry) {
  descendant = entry;
  if (entry != nullptr) embedded = entry->embedded;
}

bool VOQ_FontEntry::isStandardFont() const {
  for (const char* standard : kStandardFonts) {
    if (name == standard) return true;
  }
  return false;
}

// --- VOQ_FontEnumerator -------------------------------------------------------------------

VOQ_FontEnumerator::VOQ_FontEnumerator(PDDoc doc) : doc(doc) {
  memset(&statistics, 0, sizeof statistics);
  trace()->log("VOQ_FontEnumerator", "VOQ_FontEnumerator constructed.", VOQ_TraceContext::ENTER);
}

VOQ_FontEnumerator::~VOQ_FontEnumerator() {
  fonts.removeAll();
  trace()->log("~VOQ_FontEnumerator", "VOQ_FontEnumerator destroyed.", VOQ_TraceContext::LEAVE);
}

VOQ_FontStatistics* VOQ_FontEnumerator::enumerate() {
  memset(&statistics, 0, sizeof statistics);
  fonts.removeAll();
  ASInt32 pages = PDDocGetNumPages(doc);
  struct CallbackHolder {
    ASCallback callback;
    ~CallbackHolder() { ASCallbackDestroy(callback); }
  } holder{ASCallbackCreateProto(PDFontEnumProc, &VOQ_FontEnumerator::fontEnumCallback)};
  PDDocEnumFonts(doc, 0, pages - 1, holder.callback, this, 0, 0);
  dump();
  return &statistics;
}

void VOQ_FontEnumerator::count(const VOQ_FontEntry& entry) {
  int32_t index = entry.getTypeIndex();
  ++statistics.count[index];
  ++statistics.total;
  if (entry.isEmbedded()) {
    ++statistics.totalEmbedded;
    ++statistics.embedded[index];
  }
  if (statistics.embedded[index] < statistics.count[index]) statistics.impossible[index] = 1;
}

ASBool VOQ_FontEnumerator::fontEnumCallback(PDFont font, ASUns32, void* clientData) {
  auto* self = static_cast<VOQ_FontEnumerator*>(clientData);
  auto entry = std::make_unique<VOQ_FontEntry>(font);
  // A Type0 font's descendant is followed one level, and only to a CID font other than
  // the font itself: a descendant that is Type0 again (itself, or a cycle) is absent.
  std::unique_ptr<VOQ_FontEntry> descendant;
  if (entry->getTypeIndex() == 4) {
    PDFont child = PDFontGetDescendant(font);
    if (child != nullptr && child != font) {
      descendant = std::make_unique<VOQ_FontEntry>(child);
      if (isCIDFont(*descendant)) {
        entry->setDescendant(descendant.get());
      } else {
        descendant.reset();
      }
    }
  }
  self->count(*entry);
  self->fonts.insertAt(entry.release(), 0, true, false);
  if (descendant != nullptr) {
    self->count(*descendant);
    self->fonts.insertAt(descendant.release(), 0, true, false);
  }
  return true;
}

void VOQ_FontEnumerator::dump() {
  if (VOQ_TraceLog::getInstance(nullptr)->getFile() == nullptr) return;
  VOQ_TraceContext* t = trace();
  const char* method = "dump";
  t->log(method, "Fonts found:", VOQ_TraceContext::ENTER);
  t->log(method, kDoubleLine, VOQ_TraceContext::INSIDE);
  fonts.forEach([t, method](VOQ_FontEntry* entry) {
    t->logFormat(method, "Fontname: %s of type %s is %s\n",
                 entry->getName().getData() != nullptr ? entry->getName().getData() : "",
                 entry->getSubtype().getData() != nullptr ? entry->getSubtype().getData() : "",
                 entry->isEmbedded() ? "embedded -> OK." : "not embedded NOT OK!");
  });
  t->log(method, kDoubleLine, VOQ_TraceContext::INSIDE);
  t->log(method, "Statistics:", VOQ_TraceContext::INSIDE);
  t->log(method, kDoubleLine, VOQ_TraceContext::INSIDE);
  for (int i = 0; i < VOQ_FONT_TYPES; ++i) {
    t->logFormat(method, "Number of %s fonts = %u embedded: %u. makes signing impossible: %s\n", kTypeNames[i],
                 statistics.count[i], statistics.embedded[i], statistics.impossible[i] ? " Yes." : "No.");
  }
  t->log(method, kSingleLine, VOQ_TraceContext::INSIDE);
  t->logFormat(method, "Total number of fonts: %u\n", statistics.total);
  t->logFormat(method, "Total number of embedded fonts: %u\n", statistics.totalEmbedded);
  t->log(method, kDoubleLine, VOQ_TraceContext::INSIDE);
  t->log(method, "end.", VOQ_TraceContext::LEAVE);
}
