// The preferences, proxy and validation-time dialogs, scripted as a user would use them,
// and the settings they leave in the plug-in's per-user store.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DialogTest.h"
#include "SettingsDialogs.h"
#include "VOQ_ConfigurationHelper.h"
#include "certcheck/VOQ_Configuration.h"

namespace {

using pdftest::DialogTest;
namespace wt = platform::wintest;

// The store the settings object works on: the plug-in's per-user store, as the module
// makes it at load.
VOQ_Configuration& userStore() {
  static VOQ_Configuration store("VOQ. VUV-Oredaridez GmbH", "Tolmira", HKEY_CURRENT_USER);
  return store;
}

class SettingsDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    hkcuStore = &userStore();
    settings = VOQ_ConfigurationHelper::getInstance();
    settings->loadConfiguration();
  }
  void TearDown() override {
    settings->setDialog(nullptr);
    DialogTest::TearDown();
  }
  static DWORD storedDword(const char* name) {
    VOQ_ConfigurationEntry* e = userStore().find(HKEY_CURRENT_USER, nullptr, name);
    return e != nullptr && e->getType() == REG_DWORD ? e->getDword() : 0xDEADBEEF;
  }
  static void putDword(const char* name, DWORD value) {
    userStore().set(HKEY_CURRENT_USER, nullptr, name, REG_DWORD, &value, sizeof value);
  }
  static void putText(const char* name, const char* value) {
    userStore().set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, value, static_cast<DWORD>(strlen(value) + 1));
  }
  void proxyDialog(const std::function<void(HWND)>& user) {
    wt::onNextDialog(user);
    settings->loadConfiguration();  // as the proxy command does first
    showProxyDialog();
  }

  VOQ_ConfigurationHelper* settings = nullptr;
};

// --- preferences ---------------------------------------------------------------------

TEST_F(SettingsDialogTest, PreferencesOkStoresTheChosenOptionCancelKeepsTheStoredOne) {
  struct Case {
    const char* name;
    DWORD before;
    int click;     // 0: none
    int leaveBy;   // the control that ends the dialog; VK_ESCAPE for the key
    DWORD after;
  };
  const Case cases[] = {
      {"OK after 1266", 0, 1266, 1267, 2},
      {"OK after 1265", 2, 1265, 1267, 1},
      {"OK unchanged", 1, 0, 1267, 1},
      {"Cancel after 1266", 0, 1266, 1261, 0},
      {"Escape after 1264", 2, 1264, VK_ESCAPE, 2},
  };
  for (const Case& c : cases) {
    putDword("CertValidationOption", c.before);
    settings->loadConfiguration();
    std::vector<bool> shown;
    wt::onNextDialog([&](HWND d) {
      for (int id : {1264, 1265, 1266}) shown.push_back(checked(d, id));
      if (c.click != 0) {
        EXPECT_TRUE(wt::pressButton(d, c.click));
      }
      if (c.leaveBy == VK_ESCAPE) {
        wt::pressKey(d, VK_ESCAPE);
      } else {
        EXPECT_TRUE(wt::pressButton(d, c.leaveBy));
      }
    });
    showPropDialog();
    std::vector<bool> expectedShown = {c.before == 0, c.before == 1, c.before == 2};
    EXPECT_EQ(shown, expectedShown) << c.name;
    EXPECT_EQ(storedDword("CertValidationOption"), c.after) << c.name;
    EXPECT_EQ(settings->getCertValidationOption(), static_cast<int>(c.after)) << c.name;
  }
}

TEST_F(SettingsDialogTest, PreferencesTextsFollowTheLanguage) {
  for (int language : {1, 0}) {
    languageFlag = language;
    wt::onNextDialog([&](HWND d) {
      const bool de = language == 1;
      EXPECT_EQ(text(d), de ? "Einstellungen" : "Preferences");
      EXPECT_EQ(text(d, 1263), de ? "Für welchen Zeitpunkt soll die Signatur geprüft werden:"
                                  : "Which time is supposed for certificate validation:");
      EXPECT_EQ(text(d, 1264), de ? "Die Gültigkeit des Zertifikats soll für den Zeitpunkt der Signaturerstellung "
                                    "geprüft werden."
                                  : "Test the validity of the certificate for the moment of the signature creation.");
      EXPECT_EQ(text(d, 1265), de ? "Die Gültigkeit des Zertifikats soll für den aktuellen Zeitpunkt geprüft werden."
                                  : "Test the validity of the certificate for the actual time.");
      EXPECT_EQ(text(d, 1266), de ? "Die Gültigkeit des Zertifikats soll für einen eingegebenen Zeitpunkt geprüft "
                                    "werden."
                                  : "Test the validity of the certificate for a time given via a time dialog.");
      EXPECT_EQ(text(d, 1267), "OK");
      EXPECT_EQ(text(d, 1261), de ? "Abbrechen" : "Cancel");
      savePicture(d, std::string("preferences_") + (de ? "de" : "en"));
      wt::pressButton(d, 1261);
    });
    showPropDialog();
  }
}

// --- proxies -------------------------------------------------------------------------

const int kDependents[] = {1208, 1209, 1006, 1004, 1204, 1210, 1211, 1205, 1071,
                           1212, 1213, 1003, 1005, 1206, 1214, 1215, 1207, 1072};

TEST_F(SettingsDialogTest, ProxyDialogShowsTheStoredValuesAndEnablesByItsBoxes) {
  putDword("UseProxies", 1);
  putText("HttpProxyAddr", "proxy.example");
  putDword("HttpProxyPort", 3128);
  putDword("UseHttpProxyAuth", 0);
  proxyDialog([&](HWND d) {
    EXPECT_EQ(text(d), "Proxy-Konfiguration");
    EXPECT_EQ(text(d, 1203), "Proxyserver verwenden");
    EXPECT_EQ(text(d, 1216), "Voreinstellung");
    EXPECT_EQ(text(d, 1217), "Zurücksetzen");
    EXPECT_TRUE(checked(d, 1203));
    EXPECT_EQ(text(d, 1006), "proxy.example");
    EXPECT_EQ(text(d, 1004), "3128");
    EXPECT_EQ(text(d, 1005), "80");
    EXPECT_EQ(SendDlgItemMessageA(d, 1071, EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_EQ(SendDlgItemMessageA(d, 1072, EM_GETPASSWORDCHAR, 0, 0), '*');
    // Proxies on, no authentication: the user fields stay off.
    EXPECT_TRUE(enabled(d, 1006));
    EXPECT_FALSE(enabled(d, 1205));
    EXPECT_TRUE(wt::pressButton(d, 1204));
    EXPECT_TRUE(enabled(d, 1205) && enabled(d, 1071) && enabled(d, 1210) && enabled(d, 1211));
    EXPECT_FALSE(enabled(d, 1207));
    wt::typeText(d, 1205, "anna");
    wt::typeText(d, 1071, "geheim");
    savePicture(d, "proxy_de");
    // Proxies off: all eighteen controls go.
    EXPECT_TRUE(wt::pressButton(d, 1203));
    for (int id : kDependents) EXPECT_FALSE(enabled(d, id)) << id;
    // On again: the authentication fields come back only where their box is checked.
    EXPECT_TRUE(wt::pressButton(d, 1203));
    EXPECT_TRUE(enabled(d, 1205));
    EXPECT_FALSE(enabled(d, 1207));
    wt::pressButton(d, 1219);
  });
}

struct ProxyCase {
  const char* name;
  std::function<void(HWND)> user;
  // Expected registry values after the dialog.
  DWORD useProxies, httpPort, httpsPort, httpAuth, httpsAuth;
  const char* httpHost;
  const char* httpsHost;
};

TEST_F(SettingsDialogTest, ProxyDialogScriptsAndTheValuesTheyStore) {
  auto fill = [](HWND d) {
    wt::typeText(d, 1006, "http.proxy");
    wt::typeText(d, 1004, "8080");
    wt::typeText(d, 1003, "https.proxy");
    wt::typeText(d, 1005, "8443");
  };
  const ProxyCase cases[] = {
      {"OK with proxies off still stores hosts and ports",
       [&](HWND d) {
         wt::pressButton(d, 1203);  // the fields take input only while proxies are on
         fill(d);
         wt::pressButton(d, 1203);
         wt::pressButton(d, 1218);
       },
       0, 8080, 8443, 0, 0, "http.proxy", "https.proxy"},
      {"authentication without a password is stored off",
       [&](HWND d) {
         wt::pressButton(d, 1203);
         fill(d);
         wt::pressButton(d, 1204);
         wt::typeText(d, 1205, "anna");
         wt::pressButton(d, 1206);
         wt::typeText(d, 1207, "bert");
         wt::typeText(d, 1072, "pw");
         wt::pressButton(d, 1218);
       },
       1, 8080, 8443, 0, 1, "http.proxy", "https.proxy"},
      {"empty ports store 80, an empty host is accepted",
       [&](HWND d) {
         wt::pressButton(d, 1203);
         SetDlgItemTextA(d, 1006, "");
         SetDlgItemTextA(d, 1004, "");
         SetDlgItemTextA(d, 1005, "");
         wt::pressButton(d, 1218);
       },
       1, 80, 80, 0, 0, "", ""},
      {"ports outside 1 to 65535 or not numbers store 80",
       [&](HWND d) {
         SetDlgItemTextA(d, 1004, "65536");
         SetDlgItemTextA(d, 1005, "0");
         wt::pressButton(d, 1218);
       },
       0, 80, 80, 0, 0, "", ""},
      {"letters pasted into a port",
       [&](HWND d) {
         SetDlgItemTextA(d, 1004, "80a");
         SetDlgItemTextA(d, 1005, "99999999999");
         wt::pressButton(d, 1218);
       },
       0, 80, 80, 0, 0, "", ""},
      {"typing keeps digits only",
       [&](HWND d) {
         wt::pressButton(d, 1203);
         wt::typeText(d, 1004, "3x1-2y8");
         wt::typeText(d, 1005, "65535");
         wt::pressButton(d, 1203);
         wt::pressButton(d, 1218);
       },
       0, 3128, 65535, 0, 0, "", ""},
      {"Default, then Cancel, changes nothing stored",
       [&](HWND d) {
         wt::pressButton(d, 1203);
         fill(d);
         wt::pressButton(d, 1216);
         EXPECT_EQ(text(d, 1006), "localhost");
         EXPECT_EQ(text(d, 1004), "80");
         EXPECT_FALSE(checked(d, 1203));
         wt::pressButton(d, 1219);
       },
       0, 80, 80, 0, 0, "", ""},
      {"Default, then OK, stores the defaults",
       [&](HWND d) {
         wt::pressButton(d, 1216);
         wt::pressButton(d, 1218);
       },
       0, 80, 80, 0, 0, "localhost", "localhost"},
      {"Escape leaves everything",
       [&](HWND d) {
         wt::pressButton(d, 1203);
         fill(d);
         wt::pressKey(d, VK_ESCAPE);
       },
       0, 80, 80, 0, 0, "", ""},
  };
  for (const ProxyCase& c : cases) {
    for (const char* name : {"UseProxies", "HttpProxyPort", "HttpsProxyPort", "UseHttpProxyAuth",
                             "UseHttpsProxyAuth"}) {
      putDword(name, strstr(name, "Port") ? 80 : 0);
    }
    putText("HttpProxyAddr", "");
    putText("HttpsProxyAddr", "");
    putText("HttpProxyUser", "");
    putText("HttpsProxyUser", "");
    putText("HttpProxyPassword", "");
    putText("HttpsProxyPassword", "");
    proxyDialog(c.user);
    EXPECT_EQ(storedDword("UseProxies"), c.useProxies) << c.name;
    EXPECT_EQ(storedDword("HttpProxyPort"), c.httpPort) << c.name;
    EXPECT_EQ(storedDword("HttpsProxyPort"), c.httpsPort) << c.name;
    EXPECT_EQ(storedDword("UseHttpProxyAuth"), c.httpAuth) << c.name;
    EXPECT_EQ(storedDword("UseHttpsProxyAuth"), c.httpsAuth) << c.name;
    settings->loadConfiguration();
    EXPECT_EQ(settings->getHttpProxyHost(), c.httpHost) << c.name;
    EXPECT_EQ(settings->getHttpsProxyHost(), c.httpsHost) << c.name;
  }
}

TEST_F(SettingsDialogTest, ProxyCredentialsAndLongFields) {
  const std::string longHost(300, 'h');
  proxyDialog([&](HWND d) {
    wt::pressButton(d, 1203);
    wt::pressButton(d, 1204);
    wt::typeText(d, 1006, longHost);
    wt::typeText(d, 1205, "Jürgen");
    wt::typeText(d, 1071, "pässwort");
    wt::pressButton(d, 1218);
  });
  settings->loadConfiguration();
  EXPECT_EQ(settings->getHttpProxyUser(), "Jürgen");
  EXPECT_EQ(settings->getHttpProxyPassword(), "pässwort");
  EXPECT_EQ(settings->getHttpProxyAuth(), 1);
  // 256 fit with the zero: the first 255 characters are kept.
  EXPECT_EQ(settings->getHttpProxyHost(), longHost.substr(0, 255));
}

TEST_F(SettingsDialogTest, ProxyResetRestoresTheStoredValues) {
  putDword("UseProxies", 1);
  putText("HttpProxyAddr", "stored.proxy");
  putDword("HttpProxyPort", 81);
  proxyDialog([&](HWND d) {
    wt::pressButton(d, 1203);  // off
    wt::typeText(d, 1006, "typed.proxy");
    wt::typeText(d, 1004, "9");
    wt::pressButton(d, 1216);  // defaults
    wt::pressButton(d, 1217);  // reset
    EXPECT_TRUE(checked(d, 1203));
    EXPECT_EQ(text(d, 1006), "stored.proxy");
    EXPECT_EQ(text(d, 1004), "81");
    EXPECT_TRUE(enabled(d, 1006));
    wt::pressButton(d, 1218);
  });
  EXPECT_EQ(storedDword("UseProxies"), 1u);
  EXPECT_EQ(storedDword("HttpProxyPort"), 81u);
  EXPECT_EQ(settings->getHttpProxyHost(), "stored.proxy");
}

TEST_F(SettingsDialogTest, ProxyTextsInEnglish) {
  languageFlag = 0;
  proxyDialog([&](HWND d) {
    const std::pair<int, const char*> texts[] = {
        {1203, "Use proxy server"}, {1204, "HTTP proxy requires authentication"},
        {1206, "HTTPS Proxy requires authentication"}, {1208, "HTTP Proxy:"}, {1209, "Port:"}, {1210, "User:"},
        {1211, "Password:"}, {1212, "HTTPS Proxy:"}, {1216, "Default"}, {1217, "Reset"}, {1218, "OK"},
        {1219, "Cancel"}};
    EXPECT_EQ(text(d), "Proxy Configuration");
    for (const auto& t : texts) EXPECT_EQ(text(d, t.first), t.second) << t.first;
    savePicture(d, "proxy_en");
    wt::pressButton(d, 1219);
  });
}

// --- validation time -----------------------------------------------------------------

VOQ_Time timeOf(int year, int month, int day, int hour, int minute) {
  VOQ_Time t(year);
  t.setMonth(month);
  t.setDay(day);
  t.setHour(hour);
  t.setMinute(minute);
  t.setSecond(42);
  return t;
}

std::string comboText(HWND d, int id) { return pdftest::DialogTest::text(d, id); }
int comboCount(HWND d, int id) { return static_cast<int>(SendDlgItemMessageA(d, id, CB_GETCOUNT, 0, 0)); }
int comboIndexOf(HWND d, int id, const std::string& value) {
  for (int i = 0; i < comboCount(d, id); ++i) {
    char t[16] = {0};
    SendDlgItemMessageA(d, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
    if (value == t) return i;
  }
  return -1;
}
bool pick(HWND d, int id, const std::string& value) { return wt::pickListRow(d, id, comboIndexOf(d, id, value)); }

TEST_F(SettingsDialogTest, YearsReachPastTheCurrentAndTheSigningYear) {
  struct Case {
    int current, signing;
    bool found;
    int first, last;
  } cases[] = {
      {2026, 2024, true, 1990, 2027},  {2026, 2031, true, 1990, 2032}, {2026, 0, false, 1990, 2027},
      {2026, 1900, true, 1900, 2027},  {2026, 9999, true, 1990, 9999}, {2019, 2020, true, 1990, 2021},
  };
  for (const Case& c : cases) {
    int first = 0, last = 0;
    validationYearRange(c.current, c.signing, c.found, first, last);
    EXPECT_EQ(first, c.first) << c.signing;
    EXPECT_EQ(last, c.last) << c.signing;
  }
}

TEST_F(SettingsDialogTest, DayBoxFollowsMonthAndYear) {
  struct Case {
    VOQ_Time signing;
    const char* year;  // picked
    const char* month;
    int days;
    const char* day;  // selected afterwards
  };
  const Case cases[] = {
      {timeOf(2000, 2, 29, 10, 0), "2001", nullptr, 28, "28"},
      {timeOf(2000, 2, 29, 10, 0), "2004", nullptr, 29, "29"},
      {timeOf(2001, 1, 31, 10, 0), nullptr, "04", 30, "30"},
      {timeOf(2001, 1, 15, 10, 0), nullptr, "02", 28, "15"},
      {timeOf(2024, 3, 31, 10, 0), nullptr, "02", 29, "29"},
      // The century rule, once the list reaches those years.
      {timeOf(1900, 3, 1, 10, 0), nullptr, "02", 28, "01"},
      {timeOf(2100, 3, 1, 10, 0), nullptr, "02", 28, "01"},
      {timeOf(2000, 3, 1, 10, 0), nullptr, "02", 29, "01"},
  };
  for (const Case& c : cases) {
    VOQ_Time time = c.signing;
    int days = 0;
    std::string day;
    wt::onNextDialog([&](HWND d) {
      EXPECT_TRUE(wt::pressButton(d, 1123));
      if (c.year) {
        EXPECT_TRUE(pick(d, 1124, c.year));
      }
      if (c.month) {
        EXPECT_TRUE(pick(d, 1126, c.month));
      }
      days = comboCount(d, 1128);
      day = comboText(d, 1128);
      wt::pressButton(d, IDOK);
    });
    EXPECT_EQ(getValidationTime(time, true), 2);
    EXPECT_EQ(days, c.days) << c.signing.getYear() << "/" << c.signing.getMonth();
    EXPECT_EQ(day, c.day) << c.signing.getYear() << "/" << c.signing.getMonth();
    EXPECT_EQ(time.getDay(), atoi(c.day));
  }
}

// A time whose day is 0, which neither a setter nor a parse makes (a damaged value): the
// day's bytes, plain fields of the value, are found by changing only the day of an
// otherwise equal time and then overwritten.
VOQ_Time dayZero() {
  VOQ_Time one(2000), other(2000);
  other.setDay(17);
  unsigned char a[sizeof(VOQ_Time)], b[sizeof(VOQ_Time)];
  std::memcpy(a, static_cast<const void*>(&one), sizeof a);
  std::memcpy(b, static_cast<const void*>(&other), sizeof b);
  for (size_t i = 0; i + sizeof(short) <= sizeof a; ++i) {
    short x = 0, y = 0;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    if (x == 1 && y == 17) {
      const short zero = 0;
      std::memcpy(a + i, &zero, sizeof zero);
      break;
    }
  }
  std::memcpy(static_cast<void*>(&one), a, sizeof a);
  return one;
}

TEST_F(SettingsDialogTest, ATimeWithoutADayIsRefusedBeforeAnyDialog) {
  VOQ_Time time = dayZero();
  ASSERT_EQ(time.getDay(), 0);
  bool shown = false;
  wt::onNextDialog([&](HWND d) {
    shown = true;
    wt::pressButton(d, IDOK);
  });
  std::string message;
  try {
    getValidationTime(time, true);
  } catch (const VOQ_TimeException& e) {
    message = e.getMessage();
  }
  EXPECT_EQ(message, "Pointer to time must not be NULL and type of VOQ_Time");
  EXPECT_FALSE(shown);
  EXPECT_EQ(time.getDay(), 0) << "the time is left as it was";
}

TEST_F(SettingsDialogTest, WithoutSigningTimeTheCurrentTimeIsChosen) {
  VOQ_Time time = timeOf(2025, 6, 1, 12, 0);
  const VOQ_Time before;
  wt::onNextDialog([&](HWND d) {
    EXPECT_TRUE(checked(d, 1121));
    EXPECT_FALSE(checked(d, 1122));
    EXPECT_FALSE(enabled(d, 1122));
    EXPECT_EQ(text(d, 1122), "Signaturerstellungsdatum nicht gefunden!");
    for (int id : {1128, 1126, 1124, 1125, 1127}) EXPECT_FALSE(enabled(d, id)) << id;
    EXPECT_FALSE(wt::pressButton(d, 1122));
    // Neither Escape nor the close box end it: only OK does.
    SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(IsWindowVisible(d));
    EXPECT_EQ(GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_EQ(GetDlgItem(d, IDCANCEL), nullptr);
    wt::pressButton(d, IDOK);
  });
  EXPECT_EQ(getValidationTime(time, false), 1);
  const VOQ_Time after;
  EXPECT_GE(time.getMilliseconds(), before.getMilliseconds() - 1000);
  EXPECT_LE(time.getMilliseconds(), after.getMilliseconds() + 1000);
}

TEST_F(SettingsDialogTest, TheSigningTimeIsCopiedExactly) {
  VOQ_Time signing;
  signing.parse("D:20310704221510+05'30'", VOQ_Time::FORMAT_PDF);
  VOQ_Time time = signing;
  wt::onNextDialog([&](HWND d) {
    EXPECT_TRUE(checked(d, 1122));
    EXPECT_EQ(text(d, 1122), "Datum der Signaturerstellung (04-07-2031 22:15+05'30')");
    // A year after 2020 is offered and selected.
    EXPECT_EQ(comboText(d, 1124), "2031");
    EXPECT_EQ(comboText(d, 1126), "07");
    EXPECT_EQ(comboText(d, 1128), "04");
    EXPECT_EQ(comboText(d, 1125), "22");
    EXPECT_EQ(comboText(d, 1127), "15");
    wt::pressButton(d, IDOK);
  });
  EXPECT_EQ(getValidationTime(time, true), 0);
  char a[32], b[32];
  time.format(a, sizeof a, VOQ_Time::FORMAT_PDF);
  signing.format(b, sizeof b, VOQ_Time::FORMAT_PDF);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(time.getMillisecond(), signing.getMillisecond());
}

TEST_F(SettingsDialogTest, AUserDefinedTimeCarriesTheFieldsAndTheCurrentBias) {
  VOQ_Time time = timeOf(2019, 5, 5, 5, 5);
  wt::onNextDialog([&](HWND d) {
    EXPECT_TRUE(wt::pressButton(d, 1123));
    for (int id : {1128, 1126, 1124, 1125, 1127}) EXPECT_TRUE(enabled(d, id)) << id;
    EXPECT_TRUE(pick(d, 1124, "2027"));
    EXPECT_TRUE(pick(d, 1126, "12"));
    EXPECT_TRUE(pick(d, 1128, "24"));
    EXPECT_TRUE(pick(d, 1125, "18"));
    EXPECT_TRUE(pick(d, 1127, "30"));
    savePicture(d, "validation_time_de");
    wt::pressButton(d, IDOK);
  });
  EXPECT_EQ(getValidationTime(time, true), 2);
  const VOQ_Time now;
  EXPECT_EQ(time.getYear(), 2027);
  EXPECT_EQ(time.getMonth(), 12);
  EXPECT_EQ(time.getDay(), 24);
  EXPECT_EQ(time.getHour(), 18);
  EXPECT_EQ(time.getMinute(), 30);
  EXPECT_EQ(time.getSecond(), 42);  // the seconds stay
  EXPECT_EQ(time.getBiasOperator(), now.getBiasOperator());
  EXPECT_EQ(time.getBiasHour(), now.getBiasHour());
  EXPECT_EQ(time.getBiasMinute(), now.getBiasMinute());
}

TEST_F(SettingsDialogTest, SwitchingBackShowsEachTimeAgain) {
  VOQ_Time time = timeOf(2022, 8, 9, 10, 11);
  const VOQ_Time now;
  wt::onNextDialog([&](HWND d) {
    wt::pressButton(d, 1121);
    EXPECT_EQ(comboText(d, 1124), std::to_string(now.getYear()));
    wt::pressButton(d, 1123);
    EXPECT_EQ(comboText(d, 1124), "2022");
    EXPECT_TRUE(pick(d, 1124, "2023"));
    wt::pressButton(d, 1122);
    EXPECT_EQ(comboText(d, 1124), "2022");
    EXPECT_TRUE(checked(d, 1122) && !checked(d, 1121) && !checked(d, 1123));
    wt::pressButton(d, 1123);
    EXPECT_EQ(comboText(d, 1124), "2023");  // the time the user entered
    wt::pressButton(d, 1121);
    wt::pressButton(d, IDOK);
  });
  EXPECT_EQ(getValidationTime(time, true), 1);
  EXPECT_EQ(time.getYear(), now.getYear());
}

TEST_F(SettingsDialogTest, ValidationTimeTextsInEnglish) {
  languageFlag = 0;
  VOQ_Time time = timeOf(2024, 1, 2, 3, 4);
  time.setBiasOperator('-');
  time.setBiasHour(2);
  wt::onNextDialog([&](HWND d) {
    EXPECT_EQ(text(d), "Time for validating the signature:");
    EXPECT_EQ(text(d, 1068), "Please input the time for which the validity of the signature should be validated:");
    EXPECT_EQ(text(d, 1123), "User defined (system time):");
    EXPECT_EQ(text(d, 1122), "Date of signature creation (02-01-2024 03:04-02'00')");
    EXPECT_EQ(text(d, 1121).rfind("Actual date (", 0), 0u);
    savePicture(d, "validation_time_en");
    wt::pressButton(d, IDOK);
  });
  EXPECT_EQ(getValidationTime(time, true), 0);
}

TEST_F(SettingsDialogTest, TheUnusedKeyPairDialogAnswersTheChoice) {
  for (int choice : {1149, 1150}) {
    wt::onNextDialog([&](HWND d) {
      EXPECT_EQ(text(d), "Auswahl des Schlüsselpaares zur Signaturerstellung");
      EXPECT_TRUE(checked(d, 1149));
      wt::pressButton(d, choice);
      wt::pressButton(d, IDOK);
    });
    EXPECT_EQ(DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(121), nullptr, keyPairDlgProc, 0),
              choice == 1149 ? 1 : 2);
  }
}

}  // namespace
