// The fonts a document's pages use: each classified by font type, whether it counts as
// embedded, and per-type statistics. The document check runs it at the start of every
// check; the fonts that do not count as embedded are the check's missing fonts.
#pragma once

#include <stdint.h>

#include "foundation/util/VOQ_List.h"
#include "foundation/util/VOQ_String.h"
#include "pisdk/PICalls.h"

enum { VOQ_FONT_TYPES = 8 };

// Byte equality with a C text: false without data or without text, else equal length
// and equal bytes.
bool operator==(const VOQ_String& string, const char* text);

// Counts per font type (index 0 to 7, see VOQ_FontEntry) and in all.
struct VOQ_FontStatistics {
  uint32_t count[VOQ_FONT_TYPES];
  uint32_t embedded[VOQ_FONT_TYPES];
  uint8_t impossible[VOQ_FONT_TYPES];  // "makes signing impossible": a font of the type is missing
  uint32_t total;
  uint32_t totalEmbedded;
};

// The statistics name of a font type ("UNKNOWN" for index 7).
const char* fontTypeStatisticsName(int32_t index);

class VOQ_FontEntry {
 public:
  // Builds the entry from a host font, without its descendant (the enumerator adds that
  // one level, see VOQ_FontEnumerator).
  explicit VOQ_FontEntry(PDFont font);
  // A copy carries everything but the descendant link.
  VOQ_FontEntry(const VOQ_FontEntry& other);
  VOQ_FontEntry& operator=(const VOQ_FontEntry& other);
  ~VOQ_FontEntry() = default;

  const VOQ_String& getName() const { return name; }
  const VOQ_String& getSubtype() const { return subtype; }
  int32_t getTypeIndex() const { return typeIndex; }
  PDFont getFont() const { return font; }
  bool isEmbedded() const { return embedded; }
  VOQ_FontEntry* getDescendant() const { return descendant; }
  // Links a Type0 font's descendant (owned by the enumerator's list); a Type0 font then
  // counts as embedded as its descendant does.
  void setDescendant(VOQ_FontEntry* entry);
  // Whether the name is one of the 14 standard font names, byte for byte.
  bool isStandardFont() const;

 private:
  VOQ_String name;
  VOQ_String subtype;
  int32_t typeIndex = 7;
  PDFont font = nullptr;
  bool embedded = false;
  VOQ_FontEntry* descendant = nullptr;  // not owned
};

class VOQ_FontEnumerator {
 public:
  explicit VOQ_FontEnumerator(PDDoc doc);
  ~VOQ_FontEnumerator();
  VOQ_FontEnumerator(const VOQ_FontEnumerator&) = delete;
  VOQ_FontEnumerator& operator=(const VOQ_FontEnumerator&) = delete;

  // Resets, has the host enumerate the fonts of every page, writes the dump and answers
  // the statistics (valid as long as the enumerator). Host raises pass on.
  VOQ_FontStatistics* enumerate();
  VOQ_FontStatistics* getStatistics() { return &statistics; }
  // The fonts, newest first; a Type0 font's descendant stands directly before it.
  VOQ_List<VOQ_FontEntry>& getFonts() { return fonts; }
  // The fonts and statistics into the trace log.
  void dump();

  // The per-font procedure of the host's enumeration.
  static ASBool fontEnumCallback(PDFont font, ASUns32 flags, void* clientData);

 private:
  void count(const VOQ_FontEntry& entry);

  VOQ_List<VOQ_FontEntry> fonts;
  VOQ_FontStatistics statistics;
  PDDoc doc;
};
