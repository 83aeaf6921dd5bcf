// The viewer-preference check: whether the viewer's display preferences and two menu
// states show a signed document as it was signed (no links made from URL-like text, no
// replaced colours, no overprint preview, smoothing on, ...). After every verification
// the engine asks isAcrobatConfigurationOK and, when it fails, shows the numbered list
// of warnings the check collected in prefWarningText. From viewer version 10 on the check
// always passes.
#pragma once

#include <stdint.h>

#include "foundation/util/VOQ_String.h"

// One checked preference: the viewer's key and section, its kind (0 boolean, 1 integer,
// 5 text) and the value expected for viewer versions 6, 7, 8 and every other version.
struct VOQ_PrefEntry {
  const char* name;
  const char* section;
  int32_t kind;
  int32_t expected[4];
  const char* expectedText[4];
};

enum { PREF_COUNT = 12 };
extern const VOQ_PrefEntry prefTable[PREF_COUNT];

// The numbered warnings of the latest check, in the current language.
extern VOQ_String prefWarningText;

// True when every preference and menu state is as expected for the viewer version;
// fills prefWarningText.
bool isAcrobatConfigurationOK(int version);
// Whether entry i of prefTable has its expected value (true for i outside the table).
bool isPrefOK(int i, int version);
// The menu states: the "Wireframe" item of "View" (versions 7 and 8) and the "Overprint"
// item of "Advanced" (version 6) are not checked.
bool isWireframeOff();
bool isOverprintOff();
VOQ_String& getPrefWarningText();
