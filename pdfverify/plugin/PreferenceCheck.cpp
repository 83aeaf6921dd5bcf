#include "PreferenceCheck.h"

#include <stdio.h>
#include <string.h>

#include "PluginState.h"
#include "certcheck/VOQ_TraceLog.h"

VOQ_String prefWarningText;

#define CM_OFF "Color Management Off"
const VOQ_PrefEntry prefTable[PREF_COUNT] = {
    {"AutoUriDetect", "AVGeneral", 0, {0, 0, 0, 0}, {}},
    {"DownloadEntireFile", "Originals", 0, {0, 0, 0, 0}, {}},
    {"IgnorePageClip", "Originals", 0, {1, 1, 0, 0}, {}},
    {"TransparencyGrid", "Originals", 0, {0, 0, 0, 0}, {}},
    {"AccessColorPolicy", "Originals", 1, {0, 0, 0, 0}, {}},
    {"ShowLargeDIBS", "Originals", 0, {1, 1, 1, 1}, {}},
    {"OverPrintPreview", "Originals", 0, {0, 0, 0, 0}, {}},
    {"AntialiasGraphics", "Originals", 0, {1, 1, 1, 1}, {}},
    {"AntialiasText", "Originals", 0, {1, 1, 1, 1}, {}},
    {"AntialiasImages", "Originals", 0, {1, 1, 1, 1}, {}},
    {"ColorSettingsFile", "Originals", 5, {0, 0, 0, 0}, {CM_OFF, CM_OFF, CM_OFF, CM_OFF}},
    {"GreekText", "Originals", 0, {0, 0, 0, 0}, {}},
};
#undef CM_OFF

namespace {

VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = pluginTrace("DocSignInit");
  return context;
}

// The column of a viewer version: 6, 7, 8, or every other.
int column(int version) { return version >= 6 && version <= 8 ? version - 6 : 3; }

// The warning of each entry by column, German and English; null where the entry has
// none for the version.
struct Warning {
  const char* de[4];
  const char* en[4];
};

#define SETTING "Die Einstellung \""
#define GRUND "\" in \"Bearbeiten\" -> \"Grundeinstellungen\" -> \""
#define VOR "\" in \"Bearbeiten\" -> \"Voreinstellungen\" -> \""
#define THE "The setting \""
#define PREFS "\" in \"Edit\" -> \"Preferences\" -> \""
#define AUS "\" muss deaktiviert sein.\n"
#define AN "\" muss aktiviert sein.\n"
#define OFF "\" must be deactivated.\n"
#define ON "\" must be activated.\n"

const Warning kWarnings[PREF_COUNT] = {
    {{SETTING "Automatisch URLs im Text erkennen" GRUND "Allgemein" AUS,
      SETTING "Automatisch URLs im Text erkennen" GRUND "Allgemein" AUS,
      SETTING "Verknüpfungen aus URL-Adressen erstellen" GRUND "Allgemein" AUS,
      SETTING "Verknüpfungen aus URL-Adressen erstellen" VOR "Allgemein" AUS},
     {THE "Automatically detect URLs from text" PREFS "General" OFF,
      THE "Automatically detect URLs from text" PREFS "General" OFF, THE "Create links from URLs" PREFS "General" OFF,
      THE "Create links from URLs" PREFS "General" OFF}},
    {{SETTING "Herunterladen im Hintergrund zulassen" GRUND "Internet" AUS,
      SETTING "Herunterladen im Hintergrund zulassen" GRUND "Internet" AUS,
      SETTING "Herunterladen im Hintergrund zulassen" GRUND "Internet" AUS,
      SETTING "Herunterladen im Hintergrund zulassen" VOR "Internet" AUS},
     {THE "Allow speculative downloading in the background" PREFS "Internet" OFF,
      THE "Allow speculative downloading in the background" PREFS "Internet" OFF,
      THE "Allow speculative downloading in the background" PREFS "Internet" OFF,
      THE "Allow speculative downloading in the background" PREFS "Internet" OFF}},
    {{SETTING "Seite bis zum Rand anzeigen" GRUND "Seitenanzeige" AN,
      SETTING "Seite bis zum Rand anzeigen" GRUND "Seitenanzeige" AN, nullptr, nullptr},
     {THE "Display page to edge" PREFS "Page Display" ON, THE "Display page to edge" PREFS "Page Display" ON, nullptr,
      nullptr}},
    {{SETTING "Transparenzraster anzeigen" GRUND "Seitenanzeige" AUS,
      SETTING "Transparenzraster anzeigen" GRUND "Seitenanzeige" AUS,
      SETTING "Transparenzraster anzeigen" GRUND "Seitenanzeige" AUS,
      SETTING "Transparenzraster anzeigen" VOR "Seitenanzeige" AUS},
     {THE "Display transparency grid" PREFS "Page Display" OFF, THE "Display transparency grid" PREFS "Page Display" OFF,
      THE "Show transparency grid" PREFS "Page Display" OFF, THE "Show transparency grid" PREFS "Page Display" OFF}},
    {{SETTING "Dokumentenfarben ersetzen" GRUND "Ausgabehilfe" AUS, SETTING "Dokumentenfarben ersetzen" GRUND "Ausgabehilfe" AUS,
      SETTING "Dokumentenfarben ersetzen" GRUND "Ein-/Ausgabehilfe" AUS,
      SETTING "Dokumentenfarben ersetzen" VOR "Ein-/Ausgabehilfe" AUS},
     {THE "Replace document colors" PREFS "Accessibilty" OFF, THE "Replace document colors" PREFS "Accessibilty" OFF,
      THE "Replace Document Colors" PREFS "Accessibilty" OFF, THE "Replace Document Colors" PREFS "Accessibilty" OFF}},
    {{SETTING "Grossformatige Bilder anzeigen\" \"Bearbeiten\" -> \"Grundeinstellungen\" -> \"Seitenanzeige" AN,
      SETTING "Grossformatige Bilder anzeigen\" \"Bearbeiten\" -> \"Grundeinstellungen\" -> \"Seitenanzeige" AN,
      SETTING "Große Bilder anzeigen\" \"Bearbeiten\" -> \"Grundeinstellungen\" -> \"Seitenanzeige" AN,
      SETTING "Große Bilder anzeigen\" \"Bearbeiten\" -> \"Voreinstellungen\" -> \"Seitenanzeige" AN},
     {THE "Display large images\" \"Edit\" -> \"Preferences\" -> \"Page Display" ON,
      THE "Display large images\" \"Edit\" -> \"Preferences\" -> \"Page Display" ON,
      THE "Show large images\" \"Edit\" -> \"Preferences\" -> \"Page Display" ON,
      THE "Show large images\" \"Edit\" -> \"Preferences\" -> \"Page Display" ON}},
    {{SETTING "Druckvorschau aktivieren" GRUND "Allgemein" AUS, SETTING "Überdruckvorschau" GRUND "Seitenanzeige" AUS,
      SETTING "Überdrucken-Vorschau" GRUND "Seitenanzeige" AUS,
      SETTING "Vorschau für Überdrucken" VOR "Seitenanzeige\" muss den Wert \"Nie\" haben.\n"},
     {THE "Enable Print Preview" PREFS "General" OFF, THE "Overprint Preview" PREFS "Page Display" OFF,
      THE "Overprint Preview" PREFS "Page Display" OFF,
      THE "Use Overprint Preview" PREFS "Page Display\" must have the value \"Never\".\n"}},
    {{SETTING "Vektorgrafiken glätten" GRUND "Glätten" AN, SETTING "Vektorgrafiken glätten" GRUND "Seitenanzeige" AN,
      SETTING "Vektorgrafiken glätten" GRUND "Seitenanzeige" AN, SETTING "Vektorgrafiken glätten" VOR "Seitenanzeige" AN},
     {THE "Smooth line art" PREFS "Smoothing" ON, THE "Smooth line art" PREFS "Page Display" ON,
      THE "Smooth line art" PREFS "Page Display" ON, THE "Smooth line art" PREFS "Page Display" ON}},
    {{SETTING "Text glätten" GRUND "Glätten" AN, SETTING "Text glätten" GRUND "Seitenanzeige" AN,
      SETTING "Text glätten" GRUND "Seitenanzeige" AN, SETTING "Text glätten" VOR "Seitenanzeige" AN},
     {THE "Smooth text" PREFS "Smoothing" ON, THE "Smooth text" PREFS "Page Display" ON,
      THE "Smooth text" PREFS "Page Display" ON, THE "Smooth Text" PREFS "Page Display" ON}},
    {{SETTING "Bilder glätten" GRUND "Glätten" AN, SETTING "Bilder glätten" GRUND "Seitenanzeige" AN,
      SETTING "Bilder glätten" GRUND "Seitenanzeige" AN, SETTING "Bilder glätten" VOR "Seitenanzeige" AN},
     {THE "Smooth images" PREFS "Smoothing" ON, THE "Smooth images" PREFS "Page Display" ON,
      THE "Smooth images" PREFS "Page Display" ON, THE "Smooth images" PREFS "Page Display" ON}},
    {{SETTING "Farbeinstellung" GRUND "Farbmanagement\" muss den Wert \"Farbmanagement aus\" haben.\n",
      SETTING "Farbeinstellung" GRUND "Farbmanagement\" muss den Wert \"Farbmanagement aus\" haben.\n",
      SETTING "Farbeinstellung" GRUND "Farbmanagement\" muss den Wert \"Farbmanagement aus\" haben.\n",
      SETTING "Farbeinstellung" VOR "Farbmanagement\" muss den Wert \"Farbmanagement aus\" haben.\n"},
     {THE "Color Setup" PREFS "Color Management\" must have the value \"Color Management off\".\n",
      THE "Color Setup" PREFS "Color Management\" must have the value \"Color Management off\".\n",
      THE "Color Setup" PREFS "Color Management\" must have the value \"Color Management Off\".\n",
      THE "Color Setup" PREFS "Color Management\" must have the value \"Color Management Off\".\n"}},
    {{SETTING "Text skizzieren unter..." GRUND "Seitenanzeige" AUS, SETTING "Text skizzieren unter..." GRUND "Seitenanzeige" AUS,
      nullptr, nullptr},
     {THE "Use greek text below..." PREFS "Page Display" OFF, THE "Use greek text below..." PREFS "Page Display" OFF,
      nullptr, nullptr}},
};

// The menu-state warnings, without a line end: Wireframe for versions 6 and 7, then for
// the others; Overprint.
const char* const kWireframe[2][2] = {
    {SETTING "Drahtmodell\" in \"Anzeige\" muss deaktiviert sein.", THE "Wireframe\" in \"View\" must be deactivated."},
    {SETTING "Linienstärken\" in \"Anzeige\" muss deaktiviert sein.",
     THE "Line Weights\" in \"View\" must be deactivated."}};
const char* const kOverprint[2] = {SETTING "Überdruckvorschau\" in \"Erweitert\" muss deaktiviert sein.",
                                   THE "Overprint Preview\" in \"Advanced\" must be deactivated."};

#undef SETTING
#undef GRUND
#undef VOR
#undef THE
#undef PREFS
#undef AUS
#undef AN
#undef OFF
#undef ON

const char* warningText(int i, int version) {
  const Warning& w = kWarnings[i];
  return languageFlag == 1 ? w.de[column(version)] : w.en[column(version)];
}

void appendNumber(int count) {
  char number[32];
  snprintf(number, sizeof number, "%i.)  ", count);
  prefWarningText.append(VOQ_String(number));
}

void appendText(const char* text) {
  // Appending an empty string would keep a string without data; the texts are never empty.
  prefWarningText.append(static_cast<unsigned>(strlen(text)), text);
}

struct MenuQuery {
  const char* item;
  const char* menu;
};

ASBool matchMenuItem(AVMenuItem item, void* clientData) {
  const auto* query = static_cast<const MenuQuery*>(clientData);
  if (strcmp(ASAtomGetString(AVMenuItemGetName(item)), query->item) != 0) return false;
  AVMenu parent = AVMenuItemGetParentMenu(item);
  return parent != nullptr && strcmp(ASAtomGetString(AVMenuGetName(parent)), query->menu) == 0;
}

// Whether the item of the menu is not marked; an item that is not there (or is not
// looked for on this viewer version) passes.
bool isMenuItemOff(const char* itemName, const char* menuName, bool lookFor) {
  if (!lookFor) return true;
  MenuQuery query{itemName, menuName};
  ASCallback predicate = ASCallbackCreateProto(AVMenuItemPredicate, &matchMenuItem);
  AVMenuItem item = nullptr;
  DURING
    item = AVMenubarAcquireMenuItemByPredicate(AVAppGetMenubar(), predicate, &query);
  HANDLER
    ASCallbackDestroy(predicate);
    RERAISE();
  END_HANDLER
  ASCallbackDestroy(predicate);
  if (item == nullptr) return true;
  bool marked = AVMenuItemIsMarked(item) != 0;
  AVMenuItemRelease(item);
  return !marked;
}

}  // namespace

bool isPrefOK(int i, int version) {
  if (i < 0 || i >= PREF_COUNT) return true;
  const VOQ_PrefEntry& entry = prefTable[i];
  if (strcmp(entry.name, "OverPrintPreview") == 0 && version >= 9) {
    trace()->log("isPrefOK", "Change settings for preferences \"OverPrintPreview\" for Adobe Acrobat 9.0",
                 VOQ_TraceContext::INSIDE);
    ASInt32 value = AVAppGetPrefInt("AVDisplay", "OverprintPreview", 1);
    trace()->logFormat("isPrefOK", "Prefence \"%s\" shold be: \"%i\" and is: \"%i\"\n", "OverprintPreview", 1, value);
    return value == 1;
  }
  int c = column(version);
  switch (entry.kind) {
    case 0: {
      bool expected = entry.expected[c] != 0;
      bool value = AVAppGetPrefBool(entry.section, entry.name, expected) != 0;
      trace()->logFormat("isPrefOK", "Prefence \"%s\" should be: \"%s\" and is: \"%s\"\n", entry.name,
                         expected ? "true" : "false", value ? "true" : "false");
      return value == expected;
    }
    case 1: {
      ASInt32 value = AVAppGetPrefInt(entry.section, entry.name, entry.expected[c]);
      trace()->logFormat("isPrefOK", "Prefence \"%s\" shold be: \"%i\" and is: \"%i\"\n", entry.name, entry.expected[c],
                         value);
      return value == entry.expected[c];
    }
    case 5: {
      // A text the viewer does not know is no text at all: it does not match.
      ASText text = AVAppGetPrefText(entry.section, entry.name, nullptr);
      const char* value = text != nullptr ? ASTextGetEncoded(text, 0) : nullptr;
      bool equal = value != nullptr && strcmp(value, entry.expectedText[c]) == 0;
      trace()->logFormat("isPrefOK", "Prefence \"%s\" should be \"%s\" and is: \"%s\"\n", entry.name,
                         entry.expectedText[c], value != nullptr ? value : "");
      if (text != nullptr) ASTextDestroy(text);
      return equal;
    }
    default:
      return false;
  }
}

bool isWireframeOff() {
  return isMenuItemOff("Wireframe", "View", hostMajorVersion != 6 && hostMajorVersion != 9);
}

bool isOverprintOff() { return isMenuItemOff("Overprint", "Advanced", hostMajorVersion == 6); }

VOQ_String& getPrefWarningText() { return prefWarningText; }

bool isAcrobatConfigurationOK(int version) {
  const char* method = "isAcrobatConfigurationOK";
  prefWarningText.clear();
  trace()->log(method, "Testing acrobat preferences.", VOQ_TraceContext::ENTER);
  if (version >= 10) {
    trace()->log(method, "Acrobat preferences settings OK.", VOQ_TraceContext::LEAVE);
    return true;
  }
  bool ok = true;
  int count = 0;
  for (int i = 0; i < PREF_COUNT; ++i) {
    if (isPrefOK(i, version)) continue;
    const char* text = warningText(i, version);
    if (text == nullptr || (isReader && i == 10)) continue;
    ok = false;
    appendNumber(++count);
    appendText(text);
  }
  if (!isWireframeOff()) {
    appendNumber(++count);
    ok = false;
    appendText(kWireframe[version == 6 || version == 7 ? 0 : 1][languageFlag == 1 ? 0 : 1]);
  }
  if (!isOverprintOff()) {
    appendNumber(++count);
    ok = false;
    if (version == 6) appendText(kOverprint[languageFlag == 1 ? 0 : 1]);
  }
  trace()->log(method, ok ? "Acrobat preferences settings OK." : "Acrobat preferences settings NOT OK!",
               VOQ_TraceContext::LEAVE);
  return ok;
}
