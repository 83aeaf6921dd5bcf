// Tolmira's settings: the certificate validation option, the signature type, the two
// proxies, and the object-type tables that decide what the document check looks for.
//
// Every setting exists twice: the stored value, which the rest of the plug-in reads, and
// the edited value, which a dialog changes and which becomes the stored one on commit.
// Values live in the per-user store under SOFTWARE\VOQ. VUV-Oredaridez GmbH\Tolmira and
// reach the registry when the store saves. Only the viewer's thread uses the object.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <windows.h>

#include "certcheck/VOQ_Configuration.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "foundation/util/VOQ_List.h"
#include "pisdk/PDFObjTypes.h"

// The categories of dynamic content, indexed by value; category 0 stands for popup
// annotations and is written "POPUP" in the result document.
enum VOQ_Category {
  CAT_NONE = 0,
  CAT_FORM = 1,
  CAT_JAVASCRIPT = 2,
  CAT_WEBCAPTURE = 3,
  CAT_POSTSCRIPT = 4,
  CAT_LINK = 5,
  CAT_PRINTER = 6,
  CAT_TEXTCHANGEANNOT = 7,
  CAT_NORMALANNOT = 8,
  CAT_MULTIMEDIA = 9,
  CAT_ALTERNATETEXT = 10,
  CAT_TRANSITION = 11,
  CAT_ADDITIONALACTION = 12,
  CAT_OPTIONALCONTENT = 13,
  CAT_COUNT = 14
};
extern const char* const categoryNames[CAT_COUNT];

// One object type of the document check and the category it counts in. Copies are deep:
// each copy owns its related categories.
struct VOQ_ObjectTypeEntry {
  VOQ_ObjectTypeEntry(int32_t type, int32_t control, int32_t category, const int32_t* related,
                      int32_t relatedCount, bool flag);
  bool isRelatedCategory(int32_t value) const;
  int32_t getRelatedCount() const { return static_cast<int32_t>(relatedCategories.size()); }

  int32_t type;
  int32_t control;  // -1: automatic, no dialog control
  int32_t category;
  std::vector<int32_t> relatedCategories;
  bool defaultFlag;
  bool edited;
  bool committed;
};

// One category check box of the settings dialog.
struct VOQ_CategoryOption {
  VOQ_CategoryOption(int32_t control, int32_t category, bool flag)
      : control(control), category(category), defaultFlag(flag), edited(flag), committed(flag) {}

  int32_t control;
  int32_t category;
  bool defaultFlag;
  bool edited;
  bool committed;
};

class VOQ_ConfigurationHelper {
 public:
  // The one settings object, over the plug-in's per-user store; made on first call and
  // deleted at process exit.
  static VOQ_ConfigurationHelper* getInstance();

  // Builds the tables and loads the values from `store` (kept, not owned).
  explicit VOQ_ConfigurationHelper(VOQ_Configuration& store);
  ~VOQ_ConfigurationHelper();
  VOQ_ConfigurationHelper(const VOQ_ConfigurationHelper&) = delete;
  VOQ_ConfigurationHelper& operator=(const VOQ_ConfigurationHelper&) = delete;

  void loadConfiguration();
  void saveConfiguration();
  void saveProxyConfiguration();
  void commit();
  void commitProxyConfiguration();
  void reset();
  void setDefault();
  // -1 (after an error box) when proxies are on without an HTTP host, else 0.
  int checkProxyConfiguration();

  int getCertValidationOption() const { return certValidationOption; }
  int getSignatureType() const { return signatureType; }
  bool isUseProxies() const { return useProxies == 1; }
  void getHTTPProxySettings(VOQ_ProxySettings& settings);
  void getHTTPSProxySettings(VOQ_ProxySettings& settings);

  // The tables.
  void addObjectTypeEntry(const VOQ_ObjectTypeEntry& entry);
  void addCategoryOption(const VOQ_CategoryOption& option);
  VOQ_ObjectTypeEntry* getObjectTypeEntry(int32_t type);
  VOQ_ObjectTypeEntry* getAdjustableEntryByControl(int32_t control);
  VOQ_CategoryOption* getCategoryOptionByControl(int32_t control);
  VOQ_CategoryOption* getCategoryOptionByCategory(int32_t category);
  bool isCategoryEdited(int32_t category, bool flag);
  VOQ_List<VOQ_ObjectTypeEntry>& getAdjustableEntries() { return adjustableEntries; }
  VOQ_List<VOQ_ObjectTypeEntry>& getAutomaticEntries() { return automaticEntries; }
  VOQ_List<VOQ_CategoryOption>& getCategoryOptions() { return categoryOptions; }

  // The requested-types array of the consultant's agent: the committed entries, or all.
  const PDFObjType* createRequestedTypes(unsigned& count);
  const PDFObjType* createRequestedTypesAll(unsigned& count);

  // Edited values, set by the preferences and proxy dialogs.
  void setEditedCertValidationOption(int value) { editedCertValidationOption = value; }
  void setEditedSignatureType(int value) { editedSignatureType = value; }
  void setEditedUseProxies(int value) { editedUseProxies = value; }
  void setEditedHttpProxy(const char* host, unsigned port, int auth, const char* user, const char* password);
  void setEditedHttpsProxy(const char* host, unsigned port, int auth, const char* user, const char* password);
  void setDialog(HWND window) { dialog = window; }

  // The preferences and proxy dialogs' controls, set on the dialog window last handed
  // over. The certificate option 0, 1 or 2 checks radio button 1264, 1265 or 1266.
  void setCertOption(int option);
  void setCheckBoxStates(HWND window);
  // States 0 and 1 (other values change nothing) check or clear the check box, become
  // the edited value and enable or disable the controls that depend on it.
  void setUseProxiesState(int state);
  void setHttpAuthenticationState(int state);
  void setHttpsAuthenticationState(int state);
  // With a text: the field shows it and it becomes the edited value; without: the field
  // shows the stored value and the edited value becomes a copy of it.
  void setHttpProxyHost(const char* text = nullptr);
  void setHttpsProxyHost(const char* text = nullptr);
  void setHttpProxyUser(const char* text = nullptr);
  void setHttpsProxyUser(const char* text = nullptr);
  void setHttpProxyPassword(const char* text = nullptr);
  void setHttpsProxyPassword(const char* text = nullptr);
  // The default 80, or the stored port; it becomes the edited port.
  void setHttpProxyPort(bool useDefault);
  void setHttpsProxyPort(bool useDefault);
  // The three check boxes from the stored values.
  void setCheckBoxStates_Proxy();
  // Every field from the stored values.
  void setProxySettings();
  // The dialog's fields from the edited values (the ports from the stored ones) and the
  // three check boxes from the edited states.
  void setProxySettings(HWND window);
  // The edited use-proxies and authentication values become the stored ones again.
  void resetProxyStates();

  // Stored values, as the dialogs show them.
  const std::string& getHttpProxyHost() const { return httpHost; }
  const std::string& getHttpsProxyHost() const { return httpsHost; }
  unsigned getHttpProxyPort() const { return httpPort; }
  unsigned getHttpsProxyPort() const { return httpsPort; }
  const std::string& getHttpProxyUser() const { return httpUser; }
  const std::string& getHttpsProxyUser() const { return httpsUser; }
  const std::string& getHttpProxyPassword() const { return httpPassword; }
  const std::string& getHttpsProxyPassword() const { return httpsPassword; }
  int getHttpProxyAuth() const { return httpAuth; }
  int getHttpsProxyAuth() const { return httpsAuth; }
  int getUseProxies() const { return useProxies; }

 private:
  void buildTables();
  DWORD readDword(const char* name, DWORD defaultValue, DWORD low, DWORD high);
  std::string readHost(const char* name);
  VOQ_ConfigurationEntry* findUserText(const char* name, const char* typeName);
  std::string readUser(const char* name);
  std::string readPassword(const char* name, const char* misspelt);
  void writeDword(const char* name, DWORD value);
  void writeSecret(const char* name, const std::string& encoded);
  void fillProxy(VOQ_ProxySettings& settings, const std::string& host, unsigned port,
                 const std::string& password, const std::string& user, int auth);
  const PDFObjType* buildRequestedTypes(unsigned& count, bool all);
  void enableControls(std::initializer_list<int> controls, bool enable);
  void setField(int control, const char* text, const std::string& stored, std::string& edited);
  void setPort(int control, bool useDefault, unsigned stored, unsigned& edited);

  VOQ_Configuration& store;

  std::string editedHttpHost, editedHttpsHost, editedHttpUser, editedHttpsUser, editedHttpPassword,
      editedHttpsPassword;
  unsigned editedHttpPort = 80, editedHttpsPort = 80;
  int editedUseProxies = 0, editedHttpAuth = 0, editedHttpsAuth = 0;
  int certValidationOption = 0, editedCertValidationOption = 0;
  int signatureType = 0, editedSignatureType = 0;
  int useProxies = 0, httpAuth = 0, httpsAuth = 0;
  std::string httpHost, httpsHost;
  unsigned httpPort = 80, httpsPort = 80;
  std::string httpUser, httpsUser, httpPassword, httpsPassword;

  VOQ_List<VOQ_ObjectTypeEntry> adjustableEntries;
  VOQ_List<VOQ_ObjectTypeEntry> automaticEntries;
  VOQ_List<VOQ_CategoryOption> categoryOptions;
  std::vector<PDFObjType> requestedTypes;
  HWND dialog = nullptr;
};

// The stored-password cipher: 3DES-CBC with key and IV from the fixed pass phrase.
// Decrypting bytes that do not decrypt (length, padding) gives false.
bool voqEncryptPassword(const std::string& plain, std::string& cipher);
bool voqDecryptPassword(const std::string& cipher, std::string& plain);
