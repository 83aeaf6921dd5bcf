// Tolmira's start-up in the test viewer: the real module loaded through LoadLibraryA,
// over the matrix of products, versions, missing HFTs, installed versions and keys;
// the language; the handshake versions; unloading.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TolmiraHost.h"
#include "Viewer.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace wt = platform::wintest;

namespace {

// The German start-up texts, as the boxes show them before the language is read.
const char* const kStartupErrors[] = {
    "Es wurde kein unterstütztes Adobe Produkt von Tolmira gefunden.",
    "Diese Version des Adobe Produkts wird von Tolmira nicht unterstützt.",
    "Es sind nicht alle für den Betrieb von Tolmira notwendigen Adobe- Zusatzmodule vorhanden.",
    "Die Menüeinträge für Tolmira konnten nicht erstellt werden.",
    "Ein interner Fehler (Crypt) ist bei der Initialisierung von Tolmira aufgetreten.",
    "Die Konfiguration von Tolmira ist nicht korrekt.",
};

enum class Installed { Same, Missing, Dword, Different, TrailingBlank };

struct StartupCase {
  const char* what;
  const char* product;
  int major;
  const char* missingHFT;  // "" none
  Installed installed;
  bool badKey;
  int error;  // -1: the plug-in is active
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.what; }

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

class StartupMatrix : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupMatrix, ActiveOrExactlyOneGermanErrorBox) {
  const StartupCase& c = GetParam();
  vhost::Config config;
  config.product = c.product;
  config.major = static_cast<ASInt16>(c.major);
  config.language = "en-us";
  if (c.missingHFT[0] != '\0') config.hftVersions.erase(c.missingHFT);
  const std::string subKey = pdftest::hostSubKey(c.product, c.major);
  switch (c.installed) {
    case Installed::Same:
      pdftest::writeInstalledVersion(subKey, pdftest::ownVersion());
      break;
    case Installed::Missing:
      break;
    case Installed::Dword:
      pdftest::writeInstalledVersion(subKey, "", true);
      break;
    case Installed::Different:
      pdftest::writeInstalledVersion(subKey, "2.21");
      break;
    case Installed::TrailingBlank:
      pdftest::writeInstalledVersion(subKey, std::string(pdftest::ownVersion()) + " ");
      break;
  }
  wt::clearMessageBoxes();
  vhost::Viewer viewer(config);
  ASSERT_TRUE(viewer.loadPlugin(c.badKey ? TOLMIRA_BADKEY_PATH : TOLMIRA_PATH)) << viewer.error();
  EXPECT_EQ(viewer.plugins().at(0).name, "Dor:valin");
  const std::vector<wt::MessageBoxRecord> boxes = wt::messageBoxes();
  const bool menu = contains(viewer.menuNames(), "VOQ:Root");
  if (c.error < 0) {
    EXPECT_TRUE(boxes.empty()) << boxes.at(0).text;
    EXPECT_EQ(viewer.registeredHandlers(), 1);
    EXPECT_TRUE(menu);
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kStartupErrors[c.error]);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, viewer.mainWindow());
    EXPECT_EQ(viewer.registeredHandlers(), 0) << "an inactive plug-in registers no handler";
    EXPECT_FALSE(menu);
  }
  if (c.error == 0) {
    for (const char* name : {"PubSecHFT", "DigSigHFT", "PDFConsultant"}) {
      EXPECT_FALSE(contains(viewer.hftRequests(), name)) << name;
    }
  }
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), 0) << "unload destroys every callback";
  EXPECT_EQ(viewer.registeredHandlers(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, StartupMatrix,
    ::testing::Values(
        StartupCase{"Reader8", "Reader", 8, "", Installed::Same, false, -1},
        StartupCase{"Reader19", "Reader", 19, "", Installed::Same, false, -1},
        StartupCase{"Reader7", "Reader", 7, "", Installed::Same, false, 1},
        StartupCase{"Reader20", "Reader", 20, "", Installed::Same, false, 1},
        StartupCase{"Exchange6", "Exchange", 6, "", Installed::Same, false, -1},
        StartupCase{"Exchange10", "Exchange", 10, "", Installed::Same, false, -1},
        StartupCase{"Exchange5", "Exchange", 5, "", Installed::Same, false, 1},
        StartupCase{"Exchange11", "Exchange", 11, "", Installed::Same, false, 1},
        StartupCase{"ExchangePro", "Exchange-Pro", 9, "", Installed::Same, false, -1},
        StartupCase{"OtherProduct", "Other", 9, "", Installed::Same, false, 0},
        StartupCase{"NoPubSecHFT", "Exchange-Pro", 9, "PubSecHFT", Installed::Same, false, 2},
        StartupCase{"NoDigSigHFT", "Reader", 11, "DigSigHFT", Installed::Same, false, 2},
        StartupCase{"NoConsultant", "Exchange", 8, "PDFConsultant", Installed::Same, false, 2},
        StartupCase{"NoAcroColorStillStarts", "Exchange", 8, "AcroColorHFT", Installed::Same, false, -1},
        StartupCase{"VersionMissing", "Exchange-Pro", 9, "", Installed::Missing, false, 5},
        StartupCase{"VersionAsDword", "Exchange-Pro", 9, "", Installed::Dword, false, 5},
        StartupCase{"VersionDifferent", "Reader", 11, "", Installed::Different, false, 5},
        StartupCase{"VersionTrailingBlank", "Exchange", 10, "", Installed::TrailingBlank, false, 5},
        StartupCase{"BadKey", "Exchange-Pro", 9, "", Installed::Same, true, 4}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.what); });

TEST(Startup, AMissingRequiredHFTRefusesTheSetUp) {
  for (const char* name : {"AcroView", "Cos", "ASExtra", "Win"}) {
    vhost::Config config = pdftest::installedFor(vhost::Config{});
    config.hftVersions.erase(name);
    vhost::Viewer viewer(config);
    EXPECT_FALSE(viewer.loadPlugin(TOLMIRA_PATH)) << name;
    EXPECT_EQ(viewer.error(), "the set-up procedure refused") << name;
    EXPECT_EQ(viewer.liveCallbacks(), 0);
  }
  // An AcroSupport older than 0x60000 cannot deliver AcroView: not loaded.
  vhost::Config config = pdftest::installedFor(vhost::Config{});
  config.hftVersions["AcroSupport"] = 0x50000;
  vhost::Viewer viewer(config);
  EXPECT_FALSE(viewer.loadPlugin(TOLMIRA_PATH));
}

TEST(Startup, AnOlderHandshakeIsAnsweredAndRefused) {
  HMODULE module = LoadLibraryA(TOLMIRA_PATH);
  ASSERT_NE(module, nullptr);
  auto main = reinterpret_cast<PIMainProcType>(GetProcAddress(module, "PlugInMain"));
  ASSERT_NE(main, nullptr);
  ASUns32 answered = 0;
  PISetupSDKProcType setup = nullptr;
  PIHostData host{nullptr, module};
  EXPECT_TRUE(main(0x10000, &answered, &setup, &host));
  EXPECT_EQ(answered, 0x10000u);
  ASSERT_NE(setup, nullptr);
  PISetupSDKRec record{0x10000, nullptr, nullptr, nullptr};
  EXPECT_FALSE(setup(0x10000, &record));
  record.handshakeVersion = HANDSHAKE_VERSION_2;
  EXPECT_FALSE(setup(0x10000, &record));
  EXPECT_EQ(record.handshakeCallback, nullptr);
  FreeLibrary(module);
}

// A host that refuses the handler: the plug-in stays loaded with its menu, shows no box,
// keeps none of the handler's 19 callbacks, and its unload leaves no callback behind.
TEST(Startup, ARefusedHandlerLeavesThePluginWithoutOne) {
  int accepted = 0;
  {
    vhost::Viewer viewer(pdftest::installedFor(vhost::Config{}));
    ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
    accepted = viewer.liveCallbacks();
  }
  vhost::Config config = pdftest::installedFor(vhost::Config{});
  config.refuseHandler = true;
  wt::clearMessageBoxes();
  vhost::Viewer viewer(config);
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  EXPECT_EQ(viewer.registeredHandlers(), 0);
  EXPECT_EQ(viewer.registeredHandler(), nullptr);
  EXPECT_TRUE(wt::messageBoxes().empty());
  EXPECT_TRUE(contains(viewer.menuNames(), "VOQ:Root"));
  EXPECT_EQ(viewer.liveCallbacks(), accepted - 19);
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

// The language is the viewer's also when it refused the handler: the plug-in's own texts
// (here the Info command's without a document) follow it.
TEST(Startup, ARefusedHandlerStillTakesTheViewersLanguage) {
  vhost::Config config = pdftest::installedFor(vhost::Config{});
  config.refuseHandler = true;
  config.language = "en-us";
  vhost::Viewer viewer(config);
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  ASSERT_EQ(viewer.registeredHandlers(), 0);
  wt::clearMessageBoxes();
  ASSERT_TRUE(viewer.executeMenuItem("VOQ:Info"));
  ASSERT_EQ(wt::messageBoxes().size(), 1u);
  EXPECT_EQ(wt::messageBoxes()[0].text, "No document is open!");
}

struct LanguageCase {
  const char* code;
  const char* caption;
};

// The language shows in a later text: the caption of the signing refusal.
TEST(Startup, OnlyDeDEUAndDeDeAreGerman) {
  const LanguageCase cases[] = {{"de", "Fehler"},  {"DEU", "Fehler"}, {"de-de", "Fehler"}, {"deu", "Error"},
                                {"de-at", "Error"}, {"DE", "Error"},  {"en", "Error"},     {"", "Error"}};
  for (const LanguageCase& c : cases) {
    vhost::Config config = pdftest::installedFor(vhost::Config{});
    config.language = c.code;
    vhost::Viewer viewer(config);
    ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
    PubSecHandlerRec* handler = viewer.registeredHandler();
    ASSERT_NE(handler, nullptr);
    wt::clearMessageBoxes();
    auto refuse = viewer.procedure<PSSigGetSigPropertiesProc>(handler->sigGetSigProperties);
    EXPECT_EQ(refuse(nullptr, nullptr), -2) << c.code;
    ASSERT_EQ(wt::messageBoxes().size(), 1u);
    EXPECT_EQ(wt::messageBoxes()[0].caption, c.caption) << c.code;
    viewer.unloadPlugins();
  }
}

QUARVEL_CHILD(read_user_setting) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, pdftest::kTolmiraKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
  DWORD type = 0, value = 7, size = sizeof value;
  LONG read = RegQueryValueExA(key, args.at(0).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS) return 3;
  return type == REG_DWORD && value == static_cast<DWORD>(std::stoul(args.at(1))) ? 0 : 4;
}

TEST(Startup, UnloadSavesTheStoresForOtherProcesses) {
  vhost::Viewer viewer(pdftest::installedFor(vhost::Config{}));
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  // The settings object filled the user's store with its defaults at load; only the
  // unload writes them.
  EXPECT_EQ(quarveltest::runChild("read_user_setting", {"CertValidationOption", "0"}), 2);
  viewer.unloadPlugins();
  EXPECT_EQ(quarveltest::runChild("read_user_setting", {"CertValidationOption", "0"}), 0);
  EXPECT_EQ(quarveltest::runChild("read_user_setting", {"HttpProxyPort", "80"}), 0);
}

}  // namespace
