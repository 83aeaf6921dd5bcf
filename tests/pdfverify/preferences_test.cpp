// The viewer-preference check against the test viewer's preference store and menu bar.
#include "PreferenceCheck.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "HostCalls.h"
#include "PluginState.h"

namespace {

using Prefs = std::map<std::pair<std::string, std::string>, std::string>;

const std::pair<std::string, std::string> kColor{"Originals", "ColorSettingsFile"};

struct Case {
  const char* what;
  int version;
  bool reader;
  int language;  // 1 German, 0 English
  Prefs prefs;   // beside a colour setting that is as expected, unless a row names it
  bool wireframeMarked, overprintMarked;
  bool ok;
  std::string warnings;
};

std::string prefText() {
  return prefWarningText.getData() != nullptr ? std::string(prefWarningText.getData(), prefWarningText.getLength())
                                              : std::string();
}

TEST(PreferenceCheck, WarnsForEachPreferenceAndMenuStateAsTheViewerVersionExpects) {
  const std::string createLinks =
      "The setting \"Create links from URLs\" in \"Edit\" -> \"Preferences\" -> \"General\" must be deactivated.\n";
  const std::vector<Case> cases = {
      {"version 10 passes without reading", 10, false, 0, {{{"AVGeneral", "AutoUriDetect"}, "1"}, {kColor, "x"}}, true,
       true, true, ""},
      {"nothing set: every default is the expected value", 8, false, 0, {}, false, false, true, ""},
      {"8: links from URLs", 8, false, 0, {{{"AVGeneral", "AutoUriDetect"}, "1"}}, false, false, false,
       "1.)  " + createLinks},
      {"8 in German", 8, false, 1, {{{"AVGeneral", "AutoUriDetect"}, "true"}}, false, false, false,
       "1.)  Die Einstellung \"Verknüpfungen aus URL-Adressen erstellen\" in \"Bearbeiten\" -> \"Grundeinstellungen\" "
       "-> \"Allgemein\" muss deaktiviert sein.\n"},
      {"9: overprint preview must be Never", 9, false, 0, {{{"AVDisplay", "OverprintPreview"}, "0"}}, false, false,
       false,
       "1.)  The setting \"Use Overprint Preview\" in \"Edit\" -> \"Preferences\" -> \"Page Display\" must have the "
       "value \"Never\".\n"},
      {"9: the old overprint key is not read", 9, false, 0, {{{"Originals", "OverPrintPreview"}, "1"}}, false, false,
       true, ""},
      {"9 Reader: no colour entry", 9, true, 0, {{kColor, "Emulate Acrobat 4"}}, false, false, true, ""},
      {"9 Acrobat: the colour entry", 9, false, 0, {{kColor, "Emulate Acrobat 4"}}, false, false, false,
       "1.)  The setting \"Color Setup\" in \"Edit\" -> \"Preferences\" -> \"Color Management\" must have the value "
       "\"Color Management Off\".\n"},
      {"7: an unknown colour setting is a mismatch", 7, false, 0, {{kColor, "<unknown>"}}, false, false, false,
       "1.)  The setting \"Color Setup\" in \"Edit\" -> \"Preferences\" -> \"Color Management\" must have the value "
       "\"Color Management off\".\n"},
      {"7: page clip off", 7, false, 0, {{{"Originals", "IgnorePageClip"}, "0"}}, false, false, false,
       "1.)  The setting \"Display page to edge\" in \"Edit\" -> \"Preferences\" -> \"Page Display\" must be "
       "activated.\n"},
      {"8: page clip on has no text", 8, false, 0, {{{"Originals", "IgnorePageClip"}, "1"}}, false, false, true, ""},
      {"8: greek text has no text", 8, false, 1, {{{"Originals", "GreekText"}, "1"}}, false, false, true, ""},
      {"7: wireframe marked", 7, false, 0, {}, true, false, false,
       "1.)  The setting \"Wireframe\" in \"View\" must be deactivated."},
      {"8: line weights marked, after a table entry", 8, false, 1, {{{"Originals", "AccessColorPolicy"}, "2"}}, true,
       false, false,
       "1.)  Die Einstellung \"Dokumentenfarben ersetzen\" in \"Bearbeiten\" -> \"Grundeinstellungen\" -> "
       "\"Ein-/Ausgabehilfe\" muss deaktiviert sein.\n2.)  Die Einstellung \"Linienstärken\" in \"Anzeige\" muss "
       "deaktiviert sein."},
      {"9: wireframe is not looked for", 9, false, 0, {}, true, true, true, ""},
      {"6: two entries and overprint", 6, false, 0,
       {{{"Originals", "AntialiasText"}, "0"}, {{"Originals", "OverPrintPreview"}, "1"}}, true, true, false,
       "1.)  The setting \"Enable Print Preview\" in \"Edit\" -> \"Preferences\" -> \"General\" must be "
       "deactivated.\n2.)  The setting \"Smooth text\" in \"Edit\" -> \"Preferences\" -> \"Smoothing\" must be "
       "activated.\n3.)  The setting \"Overprint Preview\" in \"Advanced\" must be deactivated."},
      {"other versions: German texts of the newer menus", 5, false, 1, {{{"Originals", "TransparencyGrid"}, "1"}},
       false, false, false,
       "1.)  Die Einstellung \"Transparenzraster anzeigen\" in \"Bearbeiten\" -> \"Voreinstellungen\" -> "
       "\"Seitenanzeige\" muss deaktiviert sein.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vhost::Config config;
    config.menus[0].items[0].marked = c.wireframeMarked;
    config.menus[1].items[0].marked = c.overprintMarked;
    config.preferences = c.prefs;
    if (config.preferences.count(kColor) == 0) config.preferences[kColor] = "Color Management Off";
    if (config.preferences[kColor] == "<unknown>") config.preferences.erase(kColor);
    vhost::Viewer viewer(config);
    pdftest::bindHFTs(viewer);
    hostMajorVersion = c.version;
    isReader = c.reader;
    languageFlag = c.language;
    EXPECT_EQ(isAcrobatConfigurationOK(c.version), c.ok);
    EXPECT_EQ(prefText(), c.warnings);
    EXPECT_EQ(&getPrefWarningText(), &prefWarningText);
    if (c.version >= 10) {
      EXPECT_EQ(viewer.callCount("AVAppGetPrefBool") + viewer.callCount("AVAppGetPrefInt") +
                    viewer.callCount("AVAppGetPrefText") + viewer.callCount("AVAppGetMenubar"),
                0);
    }
    EXPECT_EQ(viewer.liveCallbacks(), 0);
  }
  hostMajorVersion = -1;
  isReader = false;
  languageFlag = 1;
}

TEST(PreferenceCheck, AnEntryOutsideTheTableIsOk) {
  EXPECT_TRUE(isPrefOK(-1, 8));
  EXPECT_TRUE(isPrefOK(12, 8));
}

}  // namespace
