// Tolmira's settings over the shared file-backed registry, and its object-type tables.
#include "VOQ_ConfigurationHelper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry_test.h"

namespace {

const char kCompany[] = "VOQ. VUV-Oredaridez GmbH";
const char kProduct[] = "Tolmira";
const char kKey[] = "SOFTWARE\\VOQ. VUV-Oredaridez GmbH\\Tolmira";

bool putValue(HKEY root, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}
bool putDword(const char* name, DWORD value) {
  return putValue(HKEY_CURRENT_USER, name, REG_DWORD, &value, sizeof value);
}
bool putString(const char* name, const std::string& bytes) {
  return putValue(HKEY_CURRENT_USER, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// The raw bytes and type of a value, or "<missing>".
std::string readValue(const char* name, DWORD* type = nullptr, HKEY root = HKEY_CURRENT_USER) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "<missing>";
  DWORD size = 0;
  std::string bytes = "<missing>";
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
    bytes.assign(size, '\0');
    if (size > 0 && RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&bytes[0]), &size) != 0)
      bytes = "<missing>";
  }
  RegCloseKey(key);
  return bytes;
}

std::string dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
};

TEST_F(Settings, AnEmptyKeyGetsAllThirteenDefaultsAndNoProxy) {
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    EXPECT_EQ(helper.getCertValidationOption(), 0);
    EXPECT_FALSE(helper.isUseProxies());
    VOQ_ProxySettings proxy;
    proxy.setHost("untouched");
    proxy.setPort(3128);
    helper.getHTTPProxySettings(proxy);
    EXPECT_STREQ(proxy.getHost(), "untouched");
    EXPECT_EQ(proxy.getPort(), 3128);
  }
  struct Expected {
    const char* name;
    DWORD type;
    std::string bytes;
  };
  const Expected expected[] = {
      {"CertValidationOption", REG_DWORD, dword(0)}, {"SignatureType", REG_DWORD, dword(0)},
      {"UseProxies", REG_DWORD, dword(0)},           {"HttpProxyAddr", REG_SZ, std::string(1, '\0')},
      {"HttpsProxyAddr", REG_SZ, std::string(1, '\0')}, {"HttpProxyPort", REG_DWORD, dword(80)},
      {"HttpsProxyPort", REG_DWORD, dword(80)},      {"UseHttpProxyAuth", REG_DWORD, dword(0)},
      {"UseHttpsProxyAuth", REG_DWORD, dword(0)},    {"HttpProxyUser", REG_SZ, std::string(1, '\0')},
      {"HttpsProxyUser", REG_SZ, std::string(1, '\0')}, {"HttpProxyPassword", REG_SZ, std::string(1, '\0')},
      {"HttpsProxyPassword", REG_SZ, std::string(1, '\0')},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    DWORD type = 0;
    EXPECT_EQ(readValue(e.name, &type), e.bytes);
    EXPECT_EQ(type, e.type);
  }
}

// Values as a user or another program left them: each bad one is rewritten with its
// default when the store saves.
struct BadValueCase {
  const char* label;
  const char* name;
  DWORD type;
  std::string bytes;
  std::string rewritten;  // the registry's bytes afterwards
};

TEST_F(Settings, BadValuesAreRewrittenWithTheirDefaults) {
  const BadValueCase cases[] = {
      {"OptionAboveTwo", "CertValidationOption", REG_DWORD, dword(7), dword(0)},
      {"OptionAsText", "CertValidationOption", REG_SZ, std::string("1\0", 2), dword(0)},
      {"OptionShortDword", "CertValidationOption", REG_DWORD, std::string("\x01", 1), dword(0)},
      {"PortZero", "HttpProxyPort", REG_DWORD, dword(0), dword(80)},
      {"PortAsText", "HttpsProxyPort", REG_SZ, std::string("8080", 5), dword(80)},
      {"UseProxiesTwoIsKept", "UseProxies", REG_DWORD, dword(2), dword(2)},
      {"HostAsDword", "HttpProxyAddr", REG_DWORD, dword(5), std::string(1, '\0')},
      {"EmptyHost", "HttpProxyAddr", REG_SZ, std::string(), std::string(1, '\0')},
      {"UserAsDword", "HttpProxyUser", REG_DWORD, dword(5), std::string(1, '\0')},
      {"PasswordAsBinary", "HttpsProxyPassword", REG_BINARY, "xy", std::string(1, '\0')},
  };
  for (const BadValueCase& c : cases) {
    SCOPED_TRACE(c.label);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    ASSERT_TRUE(putValue(HKEY_CURRENT_USER, c.name, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size())));
    {
      VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
      VOQ_ConfigurationHelper helper(store);
      EXPECT_FALSE(helper.isUseProxies());
      if (std::string(c.name) == "UseProxies") {
        EXPECT_EQ(helper.getUseProxies(), 2);
      }
    }
    EXPECT_EQ(readValue(c.name), c.rewritten);
  }
}

TEST_F(Settings, StoredPasswordKnownAnswerAndUserEncoding) {
  // printf 'secret\0' | openssl enc -des-ede3-cbc -md sha256 -nosalt -pass 'pass:<phrase>' | base64
  std::string cipher;
  ASSERT_TRUE(voqEncryptPassword("secret", cipher));
  EXPECT_EQ(cipher.size(), 8u);
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    helper.setEditedUseProxies(1);
    helper.setEditedHttpProxy("proxy.example", 3128, 1, "abc", "secret");
    helper.commitProxyConfiguration();
    helper.saveProxyConfiguration();
  }
  DWORD type = 0;
  EXPECT_EQ(readValue("HttpProxyPassword", &type), "/6Y8wm4K1+o=\r\n");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(readValue("HttpProxyUser"), "YWJj\r\n");
  EXPECT_EQ(readValue("HttpProxyAddr"), std::string("proxy.example\0", 14));

  VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
  VOQ_ConfigurationHelper helper(store);
  EXPECT_TRUE(helper.isUseProxies());
  VOQ_ProxySettings proxy;
  helper.getHTTPProxySettings(proxy);
  EXPECT_STREQ(proxy.getHost(), "proxy.example");
  EXPECT_EQ(proxy.getPort(), 3128);
  EXPECT_STREQ(proxy.getUser(), "abc");
  EXPECT_STREQ(proxy.getPassword(), "secret");
  EXPECT_TRUE(proxy.usesAuthentication());
}

TEST_F(Settings, SecretsRoundTripAndBadOnesLoadBounded) {
  const std::string umlauts = "p\xC3\xA4ss w\xC3\xB6rd \xE2\x82\xAC";
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    helper.setEditedUseProxies(1);
    helper.setEditedHttpsProxy("10.0.0.1", 8443, 1, "J\xC3\xBCrgen", umlauts.c_str());
    helper.commitProxyConfiguration();
    helper.saveProxyConfiguration();
  }
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    EXPECT_EQ(helper.getHttpsProxyPassword(), umlauts);
    EXPECT_EQ(helper.getHttpsProxyUser(), "J\xC3\xBCrgen");
  }
  struct Case {
    const char* label;
    const char* name;
    std::string stored;
    std::string user;      // expected HttpProxyUser
    std::string password;  // expected HttpProxyPassword
  };
  // 3000 'a' characters, as Base64 with line breaks, and with a stray zero in the text.
  std::string longName(3000, 'a');
  std::string longBase64;
  for (int i = 0; i < 1000; ++i) longBase64 += "YWFh";
  const Case cases[] = {
      {"CorruptCiphertext", "HttpProxyPassword", "AAAAAAAAAAAAAAAAAAAAAA==\r\n", "", ""},
      {"CiphertextNotBlockSized", "HttpProxyPassword", "/6Y8wm4K1w==", "", ""},
      {"LongUserCutTo1023", "HttpProxyUser", longBase64, std::string(1023, 'a'), ""},
      {"UserWithoutZeroAndOddBytes", "HttpProxyUser", "YWJj", "abc", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    ASSERT_TRUE(putString(c.name, c.stored));
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    EXPECT_EQ(helper.getHttpProxyUser(), c.user);
    EXPECT_EQ(helper.getHttpProxyPassword(), c.password);
  }
}

TEST_F(Settings, AuthenticationWithoutUserOrPasswordIsStoredOff) {
  VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
  VOQ_ConfigurationHelper helper(store);
  helper.setEditedUseProxies(1);
  helper.setEditedHttpProxy("proxy", 8080, 1, "", "pw");
  helper.setEditedHttpsProxy("proxy", 8443, 1, "user", "");
  helper.commitProxyConfiguration();
  EXPECT_EQ(helper.getHttpProxyAuth(), 0);
  EXPECT_EQ(helper.getHttpsProxyAuth(), 0);
  helper.setEditedHttpProxy("proxy", 8080, 1, "user", "pw");
  helper.commitProxyConfiguration();
  EXPECT_EQ(helper.getHttpProxyAuth(), 1);
}

TEST_F(Settings, AStandardUserStillReadsAndWritesItsOwnKey) {
  ASSERT_TRUE(putDword("CertValidationOption", 2));
  platform::registry::setStandardUser(true);
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    EXPECT_EQ(helper.getCertValidationOption(), 2);
    helper.setEditedCertValidationOption(1);
    helper.commit();
    helper.saveConfiguration();
  }
  platform::registry::setStandardUser(false);
  EXPECT_EQ(readValue("CertValidationOption"), dword(1));
}

// The settings are the user's: the same values machine-wide neither count nor change.
TEST_F(Settings, MachineWideValuesAreNotTheUsers) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
  const DWORD two = 2, one = 1;
  ASSERT_TRUE(putValue(HKEY_LOCAL_MACHINE, "CertValidationOption", REG_DWORD, &two, sizeof two));
  ASSERT_TRUE(putValue(HKEY_LOCAL_MACHINE, "UseProxies", REG_DWORD, &one, sizeof one));
  ASSERT_TRUE(putValue(HKEY_LOCAL_MACHINE, "HttpProxyAddr", REG_SZ, "machine.proxy", 14));
  {
    VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
    VOQ_ConfigurationHelper helper(store);
    EXPECT_EQ(helper.getCertValidationOption(), 0);
    EXPECT_FALSE(helper.isUseProxies());
    EXPECT_EQ(helper.getHttpProxyHost(), "");
    helper.saveConfiguration();
    helper.saveProxyConfiguration();
  }
  EXPECT_EQ(readValue("CertValidationOption"), dword(0));
  EXPECT_EQ(readValue("CertValidationOption", nullptr, HKEY_LOCAL_MACHINE), dword(2));
  EXPECT_EQ(readValue("UseProxies", nullptr, HKEY_LOCAL_MACHINE), dword(1));
  EXPECT_EQ(readValue("HttpProxyAddr", nullptr, HKEY_LOCAL_MACHINE), std::string("machine.proxy\0", 14));
  EXPECT_EQ(readValue("SignatureType", nullptr, HKEY_LOCAL_MACHINE), "<missing>");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
}

// Values another process wrote with the registry tool, as a user edits them by hand.
TEST_F(Settings, ValuesTheRegistryToolWroteAreRead) {
  const std::string key = std::string("'HKEY_CURRENT_USER\\") + kKey + "'";
  const std::vector<std::string> sets = {
      "HttpProxyAddr REG_SZ proxy.local", "HttpProxyPort REG_DWORD 3128", "UseProxies REG_DWORD 1",
      "UseHttpProxyAuth REG_DWORD 1",     "HttpProxyUser REG_SZ YWJj",    "CertValidationOption REG_SZ 2",
  };
  for (const std::string& set : sets) {
    std::string command = std::string(QUARVEL_REG_TOOL) + " set " + key + " " + set;
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(pclose(p), 0) << command;
  }
  VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
  VOQ_ConfigurationHelper helper(store);
  EXPECT_EQ(helper.getHttpProxyHost(), "proxy.local");
  EXPECT_EQ(helper.getHttpProxyPort(), 3128u);
  EXPECT_TRUE(helper.isUseProxies());
  EXPECT_EQ(helper.getHttpProxyAuth(), 1);
  EXPECT_EQ(helper.getHttpProxyUser(), "abc");
  EXPECT_EQ(helper.getCertValidationOption(), 0);  // a text where a number belongs
}

// ---- the object-type tables ----

TEST(ObjectTypes, RequestedTypesAllInListOrder) {
  VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
  VOQ_ConfigurationHelper helper(store);
  unsigned count = 0;
  const PDFObjType* types = helper.createRequestedTypesAll(count);
  const std::vector<PDFObjType> expected = {
      247, 499, 498, 497, 495, 494, 493, 492, 491, 489, 487, 486, 485, 484, 488, 281, 364, 155, 0,   219,
      483, 482, 481, 480, 479, 478, 509, 508, 507, 506, 505, 477, 504, 503, 502, 501, 500, 264, 235, 236,
      265, 224, 231, 176, 274, 267, 266, 210, 220, 270, 291, 282, 97,  272, 372, 371, 370, 369, 368, 367,
      195, 37,  36,  35,  34,  33,  373, 200, 90,  276, 30,  295, 294, 252, 75,  74,  73,  72,  71,  70,
      69,  293, 53,  214, 229, 61,  8,   7,   6,   5,   2,   1,   209, 208, 206, 25,  170, 275, 151, 331,
      330, 329, 328, 327, 326, 325, 217, 106, 290, 289, 283, 164, 163, 280, 28,  96,  230, 80,  79,  78,
      77,  76,  225, 58};
  ASSERT_EQ(count, 124u);
  EXPECT_EQ(std::vector<PDFObjType>(types, types + count), expected);

  // Cleared committed flags: nothing is requested.
  helper.getAdjustableEntries().forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = false; });
  helper.getAutomaticEntries().forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = false; });
  helper.commit();
  helper.createRequestedTypes(count);
  EXPECT_EQ(count, 0u);
  helper.reset();
  helper.setDefault();
  helper.commit();
  helper.createRequestedTypes(count);
  EXPECT_EQ(count, 124u);
}

TEST(ObjectTypes, LookupsAndNames) {
  VOQ_Configuration store(kCompany, kProduct, HKEY_CURRENT_USER);
  VOQ_ConfigurationHelper helper(store);
  const struct {
    PDFObjType type;
    int category;  // -1: no entry
  } lookups[] = {{272, 5}, {247, 0}, {58, 2}, {499, 13}, {91, -1}, {509, 9}, {-1, -1}, {510, -1}};
  for (const auto& c : lookups) {
    SCOPED_TRACE(c.type);
    VOQ_ObjectTypeEntry* entry = helper.getObjectTypeEntry(c.type);
    EXPECT_EQ(entry == nullptr ? -1 : entry->category, c.category);
  }
  // No type counts in web capture, and the popup entry owns its related categories.
  helper.getAutomaticEntries().forEach([](VOQ_ObjectTypeEntry* e) { EXPECT_NE(e->category, CAT_WEBCAPTURE); });
  VOQ_ObjectTypeEntry* popup = helper.getAdjustableEntryByControl(1104);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->relatedCategories, (std::vector<int32_t>{8, 7}));
  EXPECT_TRUE(popup->isRelatedCategory(7));
  EXPECT_EQ(helper.getCategoryOptionByControl(1130)->category, CAT_OPTIONALCONTENT);
  EXPECT_EQ(helper.getCategoryOptionByCategory(CAT_LINK)->control, 1044);
  EXPECT_EQ(helper.getCategoryOptionByCategory(CAT_NONE), nullptr);
  EXPECT_EQ(helper.getCategoryOptions().getCount(), 13u);
  EXPECT_STREQ(objectTypeName(462), "PT_JTDEVICERENDERINGINFo");
  EXPECT_STREQ(objectTypeName(510), "?");
  EXPECT_STREQ(objectTypeName(-3), "?");
  EXPECT_STREQ(categoryNames[CAT_OPTIONALCONTENT], "CAT_OPTIONALCONTENT");
}

TEST(ObjectTypes, EntriesCopyDeeply) {
  const int32_t related[] = {8, 7};
  VOQ_List<VOQ_ObjectTypeEntry> list;
  {
    VOQ_ObjectTypeEntry temporary(PT_POPUPANNOTATION, 1104, CAT_NONE, related, 2, true);
    list.insertAt(&temporary, 0, true, true);
  }
  // The temporary is gone; the list's copy still owns its own array.
  EXPECT_EQ(list.getAt(0)->relatedCategories, (std::vector<int32_t>{8, 7}));
  VOQ_List<VOQ_ObjectTypeEntry> copy(list);
  list.removeAll();
  EXPECT_TRUE(copy.getAt(0)->isRelatedCategory(8));
}

TEST(ObjectTypes, TheSingletonIsOneObject) {
  VOQ_ConfigurationHelper* first = VOQ_ConfigurationHelper::getInstance();
  EXPECT_EQ(first, VOQ_ConfigurationHelper::getInstance());
}

}  // namespace
