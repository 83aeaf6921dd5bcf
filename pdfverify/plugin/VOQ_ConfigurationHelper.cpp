#include "VOQ_ConfigurationHelper.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include <openssl/bio.h>
#include <openssl/evp.h>

#include "PluginState.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_Base64.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "foundation/util/VOQ_String.h"

const char* const categoryNames[CAT_COUNT] = {
    "CAT_NONE",       "CAT_FORM",        "CAT_JAVASCRIPT",    "CAT_WEBCAPTURE",      "CAT_POSTSCRIPT",
    "CAT_LINK",       "CAT_PRINTER",     "CAT_TEXTCHANGEANNOT", "CAT_NORMALANNOT",   "CAT_MULTIMEDIA",
    "CAT_ALTERNATETEXT", "CAT_TRANSITION", "CAT_ADDITIONALACTION", "CAT_OPTIONALCONTENT",
};

namespace {

const char kCompany[] = "VOQ. VUV-Oredaridez GmbH";
const char kProduct[] = "Tolmira";
// Obfuscation of the stored proxy passwords; stored values depend on it.
const char kPassPhrase[] = "Qm7r#Lw2_Ptx9vKe4!h";
// A user name or password read back from the registry is cut to this many characters.
const size_t kMaxSecret = 1023;

VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = VOQ_TraceLog::getInstance(nullptr)->createContext("VOQ_ConfigurationHelper");
  return context;
}
void logLine(const char* method, const char* text, int kind = VOQ_TraceContext::INSIDE) {
  trace()->log(method, text, kind);
}

VOQ_ConfigurationHelper* g_instance = nullptr;

void deleteInstance() {
  logLine("getInstance", "Deleting ConfigurationHelper.");
  delete g_instance;
  g_instance = nullptr;
}

std::string base64Encode(const std::string& bytes) {
  VOQ_String in(static_cast<unsigned>(bytes.size()), bytes.data());
  VOQ_String out;
  VOQ_MemoryStream inStream(&in);
  VOQ_MemoryStream outStream(&out);
  voqBase64Encode(&inStream, &outStream, 0xFFFFFFFF, 1024);
  return std::string(out.getData() != nullptr ? out.getData() : "", out.getLength());
}

std::string base64Decode(const char* text, size_t length) {
  VOQ_String in(static_cast<unsigned>(length), text);
  VOQ_String out;
  VOQ_MemoryStream inStream(&in);
  VOQ_MemoryStream outStream(&out);
  voqBase64Decode(&inStream, &outStream);
  return std::string(out.getData() != nullptr ? out.getData() : "", out.getLength());
}

// The bytes up to the first zero, at most kMaxSecret of them.
std::string boundedText(const std::string& bytes) {
  size_t end = std::min(bytes.find('\0'), kMaxSecret);
  return bytes.substr(0, std::min(end, bytes.size()));
}

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};

bool runCipher(const std::string& input, std::string& output, int encrypt) {
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH];
  const EVP_CIPHER* cipher = EVP_des_ede3_cbc();
  if (EVP_BytesToKey(cipher, EVP_sha256(), nullptr, reinterpret_cast<const unsigned char*>(kPassPhrase),
                     static_cast<int>(strlen(kPassPhrase)), 1, key, iv) <= 0) {
    return false;
  }
  BIO* filter = BIO_new(BIO_f_cipher());
  BIO* sink = BIO_new(BIO_s_mem());
  if (filter == nullptr || sink == nullptr) {
    BIO_free(filter);
    BIO_free(sink);
    return false;
  }
  BIO_set_cipher(filter, cipher, key, iv, encrypt);
  std::unique_ptr<BIO, BioDeleter> chain(BIO_push(filter, sink));
  if (!input.empty() && BIO_write(chain.get(), input.data(), static_cast<int>(input.size())) <= 0) {
    return false;
  }
  if (BIO_flush(chain.get()) <= 0 || BIO_get_cipher_status(filter) <= 0) {
    return false;
  }
  char* data = nullptr;
  long length = BIO_get_mem_data(sink, &data);
  output.assign(data != nullptr ? data : "", length > 0 ? static_cast<size_t>(length) : 0);
  return true;
}

}  // namespace

bool voqEncryptPassword(const std::string& plain, std::string& cipher) {
  return runCipher(std::string(plain.c_str(), plain.size() + 1), cipher, 1);
}

bool voqDecryptPassword(const std::string& cipher, std::string& plain) {
  return runCipher(cipher, plain, 0);
}

// --- entries -----------------------------------------------------------------------

VOQ_ObjectTypeEntry::VOQ_ObjectTypeEntry(int32_t type, int32_t control, int32_t category, const int32_t* related,
                                         int32_t relatedCount, bool flag)
    : type(type), control(control), category(category), defaultFlag(flag), edited(flag), committed(flag) {
  if (related != nullptr && relatedCount > 0) {
    relatedCategories.assign(related, related + relatedCount);
  }
}

bool VOQ_ObjectTypeEntry::isRelatedCategory(int32_t value) const {
  return std::find(relatedCategories.begin(), relatedCategories.end(), value) != relatedCategories.end();
}

// --- lifecycle ---------------------------------------------------------------------

VOQ_ConfigurationHelper* VOQ_ConfigurationHelper::getInstance() {
  if (g_instance == nullptr) {
    logLine("getInstance", "Creating ConfigurationHelper.");
    // The plug-in's per-user store, made when the module loads (the unload callback saves
    // it); code without a loaded module gets one of its own, saved when the process ends.
    if (hkcuStore != nullptr) {
      g_instance = new VOQ_ConfigurationHelper(*hkcuStore);
    } else {
      static VOQ_Configuration userStore(kCompany, kProduct, HKEY_CURRENT_USER);
      g_instance = new VOQ_ConfigurationHelper(userStore);
    }
    atexit(deleteInstance);
  }
  return g_instance;
}

VOQ_ConfigurationHelper::VOQ_ConfigurationHelper(VOQ_Configuration& store) : store(store) {
  buildTables();
  loadConfiguration();
  requestedTypes.assign(PT_NUM_OBJECT_TYPES, 0);
  logLine("Constructor", "VOQ_ConfigurationHelper is instanciated", VOQ_TraceContext::ENTER);
}

VOQ_ConfigurationHelper::~VOQ_ConfigurationHelper() {
  logLine("Destructor", "VOQ_ConfigurationHelper is deleted", VOQ_TraceContext::LEAVE);
  categoryOptions.removeAll();
}

void VOQ_ConfigurationHelper::buildTables() {
  const int32_t popupRelated[] = {CAT_NORMALANNOT, CAT_TEXTCHANGEANNOT};
  addObjectTypeEntry(VOQ_ObjectTypeEntry(PT_POPUPANNOTATION, 1104, CAT_NONE, popupRelated, 2, true));

  struct Row {
    int32_t category;
    std::vector<int32_t> types;
  };
  // In creation order; each entry goes to the front of its list.
  const Row rows[] = {
      {CAT_JAVASCRIPT,
       {PT_JAVASCRIPTACTION, PT_JAVASCRIPT, PT_NAMEDJAVASCRIPTTREE, PT_NAMEDJSCHILDREN, PT_NAMEDJSINTNODE,
        PT_NAMEDJSLEAFNODE, PT_NAMEDJSNAMEDCHILDREN}},
      {CAT_POSTSCRIPT,
       {PT_LEVEL1POSTSCRIPT, PT_POSTSCRIPT, PT_COLORSPACELIST, PT_TR2FUNCTION, PT_BG2FUNCTION, PT_BGFUNCTION,
        PT_TRFUNCTION, PT_UCR2FUNCTION, PT_UCRFUNCTION, PT_SOFTMASKDICT, PT_HALFTONE, PT_TYPE1SHADING,
        PT_TYPE2SHADING, PT_TYPE3SHADING, PT_TYPE4SHADING, PT_TYPE5SHADING, PT_TYPE6SHADING, PT_TYPE7SHADING}},
      {CAT_FORM,
       {PT_WIDGETANNOTATION, PT_TEXTFIELD, PT_BUTTONFIELD, PT_CHOICEFIELD, PT_FORMIMPORTACTION, PT_FORMRESETACTION,
        PT_FORMSUBMITACTION, PT_ACROFORMSPAGESTREE, PT_ACROFORMSTEMPLATESTREE, PT_AFPAGESCHILDREN,
        PT_AFPAGESINTNODE, PT_AFPAGESLEAFNODE, PT_AFPAGESNAMEDCHILDREN}},
      {CAT_LINK,
       {PT_LINKANNOTATION,
        PT_LAUNCHACTION,
        PT_GOTORACTION,
        PT_GOTOACTION,
        PT_URIACTION,
        PT_NAMEDDESTDICT,
        PT_NAMEDDESTLIST,
        PT_NAMEDDESTSCHILDREN,
        PT_NAMEDDESTSINTNODE,
        PT_NAMEDDESTSLEAFNODE,
        PT_NAMEDDESTSNAMEDCHILDREN,
        PT_NAMEDDESTSTREE,
        PT_REFERENCEDPDF,
        PT_URIDICT,
        PT_URL,
        PT_DESTINATION,
        PT_THREADACTION,
        PT_OUTLINETREE,
        PT_FILEATTACHANNOTATION,
        PT_EMBEDDEFILESTREAM,
        PT_EMBEDOBJCHILDREN,
        PT_EMBEDOBJINTNODE,
        PT_EMBEDOBJLEAFNODE,
        PT_EMBEDOBJNAMEDCHILDREN,
        PT_EMBEDOBJTREE,
        PT_EMBEDDEDOBJDICT,
        PT_FILESPEC,
        PT_FILESPECID,
        PT_FILESPECEMBEDDEDFILEDICT,
        PT_EMBEDDEFILESTRMPARAMSDICT,
        PT_EMBEDDEDFILESTRMRESFORK,
        PT_EMBEDDEFILESTRMMACPARAMS,
        PT_STRUCTELEMATTR}},
      {CAT_PRINTER, {PT_PRINTERMARKANNOTATION, PT_TRAPNETANNOTATION}},
      {CAT_TEXTCHANGEANNOT, {PT_UNDERLINEANNOTATION, PT_STRIKEOUTANNOTATION, PT_HIGHLIGHTANNOTATION}},
      {CAT_NORMALANNOT,
       {PT_FREETEXTANNOTATION, PT_SQUAREANNOTATION, PT_STAMPANNOTATION, PT_TEXTANNOTATION, PT_CIRCLEANNOTATION,
        PT_LINEANNOTATION, PT_INKANNOTATION}},
      {CAT_MULTIMEDIA,
       {PT_SOUNDANNOTATION, PT_MOVIEANNOTATION, PT_MOVIEACTION, PT_SOUNDACTION, PT_MEDIACRITERIA, PT_MEDIACLIP,
        PT_MEDIACLIPDATA, PT_MEDIAPERMSDICT, PT_MEDIAPLAYERS, PT_SOUNDSTREAM, PT_MEDIAPLAYPARAMS,
        PT_MEDIASCREENPARAMS, PT_MEDIACLIPSECTION, PT_MEDIAPLAYINFOARRAY, PT_MEDIAPLAYINFO, PT_SCREENANNOT,
        PT_RENDITIONACTION, PT_RENDITION, PT_MEDIARENDITION, PT_SELECTORRENDITION, PT_RENDITIONSLIST}},
      {CAT_ADDITIONALACTION, {PT_HIDEACTION, PT_AADICTIONARY}},
      {CAT_ALTERNATETEXT, {PT_ALTERNATETEXT, PT_ALTERNATEIMAGEDICT}},
      {CAT_TRANSITION,
       {PT_TRANSITION, PT_SLIDESHOW, PT_ALTERNATEPRESCHILDREN, PT_ALTERNATEPRESINTNODE, PT_ALTERNATEPRESLEAFNODE,
        PT_ALTERNATEPRESNAMEDCHILDREN, PT_ALTERNATEPRESTREE}},
      {CAT_OPTIONALCONTENT,
       {PT_OCPROPERTIES, PT_OCCONFIGSARRAY, PT_OCGUSAGE, PT_OCG, PT_OCCONFIGDICT, PT_OCUSAGEAPPLICATION, PT_OCMD,
        PT_SETOCGSTATEACTION}},
  };
  for (const Row& row : rows) {
    for (int32_t type : row.types) {
      addObjectTypeEntry(VOQ_ObjectTypeEntry(type, -1, row.category, nullptr, 0, true));
    }
  }

  const int32_t options[][2] = {{CAT_JAVASCRIPT, 1090},      {CAT_FORM, 1096},          {CAT_POSTSCRIPT, 1098},
                                {CAT_LINK, 1044},            {CAT_PRINTER, 1088},       {CAT_TEXTCHANGEANNOT, 1102},
                                {CAT_NORMALANNOT, 1103},     {CAT_MULTIMEDIA, 1105},    {CAT_ADDITIONALACTION, 1106},
                                {CAT_WEBCAPTURE, 1108},      {CAT_TRANSITION, 1109},    {CAT_ALTERNATETEXT, 1110},
                                {CAT_OPTIONALCONTENT, 1130}};
  for (const auto& option : options) {
    addCategoryOption(VOQ_CategoryOption(option[1], option[0], true));
  }
}

// --- tables ------------------------------------------------------------------------

void VOQ_ConfigurationHelper::addObjectTypeEntry(const VOQ_ObjectTypeEntry& entry) {
  VOQ_List<VOQ_ObjectTypeEntry>& list = entry.control != -1 ? adjustableEntries : automaticEntries;
  list.insertAt(const_cast<VOQ_ObjectTypeEntry*>(&entry), 0, true, true);
}

void VOQ_ConfigurationHelper::addCategoryOption(const VOQ_CategoryOption& option) {
  categoryOptions.insertAt(const_cast<VOQ_CategoryOption*>(&option), 0, true, true);
}

namespace {
template <class T, class P>
T* findIn(const VOQ_List<T>& list, P predicate) {
  T* found = nullptr;
  list.forEach([&](T* element) {
    if (found == nullptr && predicate(*element)) {
      found = element;
    }
  });
  return found;
}
}  // namespace

VOQ_ObjectTypeEntry* VOQ_ConfigurationHelper::getObjectTypeEntry(int32_t type) {
  auto same = [type](const VOQ_ObjectTypeEntry& entry) { return entry.type == type; };
  VOQ_ObjectTypeEntry* entry = findIn(adjustableEntries, same);
  return entry != nullptr ? entry : findIn(automaticEntries, same);
}

VOQ_ObjectTypeEntry* VOQ_ConfigurationHelper::getAdjustableEntryByControl(int32_t control) {
  return findIn(adjustableEntries, [control](const VOQ_ObjectTypeEntry& entry) { return entry.control == control; });
}

VOQ_CategoryOption* VOQ_ConfigurationHelper::getCategoryOptionByControl(int32_t control) {
  return findIn(categoryOptions, [control](const VOQ_CategoryOption& option) { return option.control == control; });
}

VOQ_CategoryOption* VOQ_ConfigurationHelper::getCategoryOptionByCategory(int32_t category) {
  return findIn(categoryOptions,
                [category](const VOQ_CategoryOption& option) { return option.category == category; });
}

bool VOQ_ConfigurationHelper::isCategoryEdited(int32_t category, bool flag) {
  bool all = true;
  adjustableEntries.forEach([&](VOQ_ObjectTypeEntry* entry) {
    if (entry->category == category && entry->edited != flag) {
      all = false;
    }
  });
  return all;
}

const PDFObjType* VOQ_ConfigurationHelper::createRequestedTypes(unsigned& count) {
  return buildRequestedTypes(count, false);
}

const PDFObjType* VOQ_ConfigurationHelper::createRequestedTypesAll(unsigned& count) {
  return buildRequestedTypes(count, true);
}

const PDFObjType* VOQ_ConfigurationHelper::buildRequestedTypes(unsigned& count, bool all) {
  const char* method = all ? "createRequestedTypesAll" : "createRequestedTypes";
  logLine(method, "Start.", VOQ_TraceContext::ENTER);
  logLine(method, "Updateing requested types.");
  unsigned index = 0;
  auto take = [&](VOQ_ObjectTypeEntry* entry) {
    if ((all || entry->committed) && index < requestedTypes.size()) {
      requestedTypes[index++] = entry->type;
      trace()->logFormat("createRequestedTypes", "added %s to requestedTypes\n", objectTypeName(entry->type));
    }
  };
  logLine(method, all ? "Updateing adjustable object types." : "Updating adjustable object types.",
          VOQ_TraceContext::ENTER);
  adjustableEntries.forEach(take);
  logLine(method, all ? "Adjustable object types up to date." : "Adjustable object types are up to date.",
          VOQ_TraceContext::LEAVE);
  logLine(method, all ? "Updateing automatic object types." : "Updating automatic object types.",
          VOQ_TraceContext::ENTER);
  automaticEntries.forEach(take);
  logLine(method, all ? "Automatic object types up to date." : "Automatic object types are up to date.",
          VOQ_TraceContext::LEAVE);
  count = index;
  trace()->logFormat("createRequestedTypes", "added %u objecttypes to requested types.\n", index);
  logLine(method, "End.", VOQ_TraceContext::LEAVE);
  return requestedTypes.data();
}

// --- registry ----------------------------------------------------------------------

DWORD VOQ_ConfigurationHelper::readDword(const char* name, DWORD defaultValue, DWORD low, DWORD high) {
  VOQ_ConfigurationEntry* entry = store.find(HKEY_CURRENT_USER, nullptr, name);
  if (entry != nullptr && entry->getType() == REG_DWORD && entry->getSize() >= sizeof(DWORD)) {
    DWORD value = entry->getDword();
    if (value >= low && value <= high) {
      return value;
    }
  }
  store.set(HKEY_CURRENT_USER, nullptr, name, REG_DWORD, &defaultValue, sizeof(defaultValue));
  return defaultValue;
}

namespace {
// A REG_SZ value's text, read up to its size: values written without a zero still end.
std::string entryText(VOQ_ConfigurationEntry* entry) {
  const BYTE* data = entry->getData();
  if (data == nullptr) {
    return std::string();
  }
  std::string text(reinterpret_cast<const char*>(data), entry->getSize());
  return text.substr(0, text.find('\0'));
}
}  // namespace

std::string VOQ_ConfigurationHelper::readHost(const char* name) {
  VOQ_ConfigurationEntry* entry = store.find(HKEY_CURRENT_USER, nullptr, name);
  if (entry != nullptr && entry->getType() == REG_SZ) {
    std::string text = entryText(entry);
    if (!text.empty()) {
      return text;
    }
  }
  store.set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, "", 1);
  return std::string();
}

// The user and password values share their first checks and log lines; a value that is
// missing or not a text is reset to an empty text and gives no entry. The type line names
// the value as the caller spells it.
VOQ_ConfigurationEntry* VOQ_ConfigurationHelper::findUserText(const char* name, const char* typeName) {
  const char* method = "loadConfiguration";
  std::string quoted = std::string("'") + name + "'";
  VOQ_ConfigurationEntry* entry = store.find(HKEY_CURRENT_USER, nullptr, name);
  if (entry == nullptr) {
    logLine(method, (std::string("Setting ") + quoted + " NOT found").c_str());
    store.set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, "", 1);
    return nullptr;
  }
  logLine(method, (std::string("Setting ") + quoted + " found").c_str());
  if (entry->getType() != REG_SZ) {
    logLine(method, (std::string(typeName) + " is not reg_sz").c_str());
    store.set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, "", 1);
    return nullptr;
  }
  logLine(method, (quoted + " type OK").c_str());
  return entry;
}

std::string VOQ_ConfigurationHelper::readUser(const char* name) {
  const char* method = "loadConfiguration";
  std::string quoted = std::string("'") + name + "'";
  VOQ_ConfigurationEntry* entry = findUserText(name, name);
  if (entry == nullptr) {
    return std::string();
  }
  if (entry->getData() == nullptr) {
    logLine(method, (quoted + " String IS NULL").c_str());
    return std::string();
  }
  logLine(method, (quoted + " String NOT NULL").c_str());
  std::string text = entryText(entry);
  if (text.empty()) {
    logLine(method, (quoted + " String length <= 0").c_str());
    return std::string();
  }
  logLine(method, (quoted + " String length > 0").c_str());
  return boundedText(base64Decode(text.data(), text.size()));
}

std::string VOQ_ConfigurationHelper::readPassword(const char* name, const char* misspelt) {
  const char* method = "loadConfiguration";
  std::string quoted = std::string("'") + name + "'";
  VOQ_ConfigurationEntry* entry = findUserText(name, misspelt);
  if (entry == nullptr) {
    return std::string();
  }
  std::string text = entryText(entry);
  if (text.empty()) {
    logLine(method, (quoted + " String IS NULL or length <= 0").c_str());
    return std::string();
  }
  logLine(method, (quoted + " String NOT NULL and length > 0").c_str());
  std::string plain;
  // A hand-changed value that no longer decrypts loads as no password.
  if (!voqDecryptPassword(base64Decode(text.data(), text.size()), plain)) {
    return std::string();
  }
  return boundedText(plain);
}

void VOQ_ConfigurationHelper::loadConfiguration() {
  const char* method = "loadConfiguration";
  logLine(method, "Loading the Configuration and setting up uninitialized entries.");
  editedCertValidationOption = certValidationOption = readDword("CertValidationOption", 0, 0, 2);
  editedSignatureType = signatureType = readDword("SignatureType", 0, 0, 2);
  logLine(method, "Load proxy settings...");
  logLine(method, "Read setting 'UseProxies'");
  editedUseProxies = useProxies = readDword("UseProxies", 0, 0, 2);
  logLine(method, "Read setting 'HttpProxyAddr'");
  editedHttpHost = httpHost = readHost("HttpProxyAddr");
  logLine(method, "Read setting 'HttpsProxyAddr'");
  editedHttpsHost = httpsHost = readHost("HttpsProxyAddr");
  logLine(method, "Read setting 'HttpProxyPort'");
  editedHttpPort = httpPort = readDword("HttpProxyPort", 80, 1, 0xFFFFFFFF);
  logLine(method, "Read setting 'HttpsProxyPort'");
  editedHttpsPort = httpsPort = readDword("HttpsProxyPort", 80, 1, 0xFFFFFFFF);
  logLine(method, "Read setting 'UseHttpProxyAuth'");
  editedHttpAuth = httpAuth = readDword("UseHttpProxyAuth", 0, 0, 2);
  logLine(method, "Read setting 'UseHttpsProxyAuth'");
  editedHttpsAuth = httpsAuth = readDword("UseHttpsProxyAuth", 0, 0, 2);
  logLine(method, "Read setting 'HttpProxyUser'");
  editedHttpUser = httpUser = readUser("HttpProxyUser");
  logLine(method, "Read setting 'HttpsProxyUser'");
  editedHttpsUser = httpsUser = readUser("HttpsProxyUser");
  logLine(method, "Read setting 'HttpProxyPassword'");
  editedHttpPassword = httpPassword = readPassword("HttpProxyPassword", "HttpProxyPasswort");
  logLine(method, "Read setting 'HttpsProxyPassword'");
  editedHttpsPassword = httpsPassword = readPassword("HttpsProxyPassword", "HttpsProxyPasswort");
  logLine(method, "configuration loaded...");
}

void VOQ_ConfigurationHelper::writeDword(const char* name, DWORD value) {
  store.set(HKEY_CURRENT_USER, nullptr, name, REG_DWORD, &value, sizeof(value));
}

// Base64 text as REG_SZ of exactly its characters (no zero); nothing as one zero byte.
void VOQ_ConfigurationHelper::writeSecret(const char* name, const std::string& encoded) {
  if (encoded.empty()) {
    store.set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, "", 1);
  } else {
    store.set(HKEY_CURRENT_USER, nullptr, name, REG_SZ, encoded.data(), static_cast<DWORD>(encoded.size()));
  }
}

void VOQ_ConfigurationHelper::saveConfiguration() {
  logLine("saveConfiguration", "Saving the actual Configuration.");
  writeDword("CertValidationOption", certValidationOption);
  writeDword("SignatureType", signatureType);
}

void VOQ_ConfigurationHelper::saveProxyConfiguration() {
  const char* method = "saveProxyConfiguration";
  logLine(method, "Start.", VOQ_TraceContext::ENTER);
  auto encodedUser = [](const std::string& user) { return user.empty() ? std::string() : base64Encode(user); };
  auto encodedPassword = [](const std::string& password) {
    std::string cipher;
    if (password.empty() || !voqEncryptPassword(password, cipher)) {
      return std::string();
    }
    return base64Encode(cipher);
  };
  writeDword("UseProxies", useProxies);
  store.set(HKEY_CURRENT_USER, nullptr, "HttpProxyAddr", REG_SZ, httpHost.c_str(),
            static_cast<DWORD>(httpHost.size() + 1));
  writeDword("HttpProxyPort", httpPort);
  writeDword("UseHttpProxyAuth", httpAuth);
  writeSecret("HttpProxyUser", encodedUser(httpUser));
  writeSecret("HttpProxyPassword", encodedPassword(httpPassword));
  store.set(HKEY_CURRENT_USER, nullptr, "HttpsProxyAddr", REG_SZ, httpsHost.c_str(),
            static_cast<DWORD>(httpsHost.size() + 1));
  writeDword("HttpsProxyPort", httpsPort);
  writeDword("UseHttpsProxyAuth", httpsAuth);
  writeSecret("HttpsProxyUser", encodedUser(httpsUser));
  writeSecret("HttpsProxyPassword", encodedPassword(httpsPassword));
  logLine(method, "End.", VOQ_TraceContext::LEAVE);
}

void VOQ_ConfigurationHelper::commit() {
  logLine("commit", "Commiting the actual Configuration.");
  adjustableEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->committed = entry->edited; });
  automaticEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->committed = entry->edited; });
  categoryOptions.forEach([](VOQ_CategoryOption* option) { option->committed = option->edited; });
  certValidationOption = editedCertValidationOption;
  signatureType = editedSignatureType;
}

void VOQ_ConfigurationHelper::commitProxyConfiguration() {
  const char* method = "commitProxyConfiguration";
  logLine(method, "Start.", VOQ_TraceContext::ENTER);
  useProxies = editedUseProxies;
  httpHost = editedHttpHost;
  httpPort = editedHttpPort;
  httpUser = editedHttpUser;
  httpPassword = editedHttpPassword;
  if (!httpUser.empty() && !httpPassword.empty()) {
    httpAuth = editedHttpAuth;
  } else {
    httpAuth = 0;
    logLine(method, "invalid HTTP authentication data. Do not use HTTP authentication");
  }
  httpsHost = editedHttpsHost;
  httpsPort = editedHttpsPort;
  httpsUser = editedHttpsUser;
  httpsPassword = editedHttpsPassword;
  if (!httpsUser.empty() && !httpsPassword.empty()) {
    httpsAuth = editedHttpsAuth;
  } else {
    httpsAuth = 0;
    logLine(method, "invalid HTTPS authentication data. Do not use HTTPS authentication");
  }
  logLine(method, "End.", VOQ_TraceContext::LEAVE);
}

void VOQ_ConfigurationHelper::reset() {
  logLine("reset", "Reseting the actual Configuration.");
  adjustableEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = entry->committed; });
  automaticEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = entry->committed; });
  categoryOptions.forEach([](VOQ_CategoryOption* option) { option->edited = option->committed; });
  setCertOption(certValidationOption);
}

void VOQ_ConfigurationHelper::setDefault() {
  logLine("setDefault", "Reseting the actual Configuration to default values.");
  adjustableEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = entry->defaultFlag; });
  automaticEntries.forEach([](VOQ_ObjectTypeEntry* entry) { entry->edited = entry->defaultFlag; });
  categoryOptions.forEach([](VOQ_CategoryOption* option) { option->edited = option->defaultFlag; });
  setCertOption(0);
}

int VOQ_ConfigurationHelper::checkProxyConfiguration() {
  if (editedUseProxies == 1 && editedHttpHost.empty()) {
    if (languageFlag == 1) {
      MessageBoxA(hostMainWindow, "Bitte geben Sie einen HTTP Proxy Server an!", "Fehler", MB_ICONERROR);
    } else {
      MessageBoxA(hostMainWindow, "Please enter a HTTP Proxy server!", "Error", MB_ICONERROR);
    }
    return -1;
  }
  return 0;
}

void VOQ_ConfigurationHelper::setEditedHttpProxy(const char* host, unsigned port, int auth, const char* user,
                                                 const char* password) {
  editedHttpHost = host != nullptr ? host : "";
  editedHttpPort = port;
  editedHttpAuth = auth;
  editedHttpUser = user != nullptr ? user : "";
  editedHttpPassword = password != nullptr ? password : "";
}

void VOQ_ConfigurationHelper::setEditedHttpsProxy(const char* host, unsigned port, int auth, const char* user,
                                                  const char* password) {
  editedHttpsHost = host != nullptr ? host : "";
  editedHttpsPort = port;
  editedHttpsAuth = auth;
  editedHttpsUser = user != nullptr ? user : "";
  editedHttpsPassword = password != nullptr ? password : "";
}

void VOQ_ConfigurationHelper::fillProxy(VOQ_ProxySettings& settings, const std::string& host, unsigned port,
                                        const std::string& password, const std::string& user, int auth) {
  if (useProxies == 0) {
    logLine("getProxySettings", "setting to NULL");
    return;
  }
  settings.setHost(host.c_str());
  settings.setPort(static_cast<int>(port));
  settings.setPassword(password.c_str());
  settings.setUser(user.c_str());
  settings.setUseAuthentication(auth != 0 ? 1 : 0);
}

void VOQ_ConfigurationHelper::getHTTPProxySettings(VOQ_ProxySettings& settings) {
  fillProxy(settings, httpHost, httpPort, httpPassword, httpUser, httpAuth);
}

void VOQ_ConfigurationHelper::getHTTPSProxySettings(VOQ_ProxySettings& settings) {
  fillProxy(settings, httpsHost, httpsPort, httpsPassword, httpsUser, httpsAuth);
}

// --- the dialogs' controls -----------------------------------------------------------

namespace {
// The proxy dialog's controls.
constexpr int kUseProxies = 1203, kHttpAuth = 1204, kHttpsAuth = 1206;
constexpr int kHttpHost = 1006, kHttpPort = 1004, kHttpUser = 1205, kHttpPassword = 1071;
constexpr int kHttpsHost = 1003, kHttpsPort = 1005, kHttpsUser = 1207, kHttpsPassword = 1072;
}  // namespace

void VOQ_ConfigurationHelper::enableControls(std::initializer_list<int> controls, bool enable) {
  for (int control : controls) EnableWindow(GetDlgItem(dialog, control), enable ? TRUE : FALSE);
}

void VOQ_ConfigurationHelper::setCertOption(int option) {
  logLine("setCertOption", "setting radio button.");
  if (option >= 0 && option <= 2) {
    CheckRadioButton(dialog, 1264, 1266, 1264 + option);
    editedCertValidationOption = option;
  }
  logLine("setCertOption", "done.");
}

void VOQ_ConfigurationHelper::setCheckBoxStates(HWND window) {
  logLine("setCheckBoxStates", "Setting initially the CheckBoxStates Properties.");
  dialog = window;
  setCertOption(certValidationOption);
}

void VOQ_ConfigurationHelper::setUseProxiesState(int state) {
  if (state != 0 && state != 1) return;
  const bool on = state == 1;
  CheckDlgButton(dialog, kUseProxies, on ? BST_CHECKED : BST_UNCHECKED);
  editedUseProxies = state;
  enableControls({1208, 1209, kHttpHost, kHttpPort, kHttpAuth}, on);
  enableControls({1210, 1211, kHttpUser, kHttpPassword}, on && IsDlgButtonChecked(dialog, kHttpAuth) == BST_CHECKED);
  enableControls({1212, 1213, kHttpsHost, kHttpsPort, kHttpsAuth}, on);
  enableControls({1214, 1215, kHttpsUser, kHttpsPassword},
                 on && IsDlgButtonChecked(dialog, kHttpsAuth) == BST_CHECKED);
}

void VOQ_ConfigurationHelper::setHttpAuthenticationState(int state) {
  if (state != 0 && state != 1) return;
  CheckDlgButton(dialog, kHttpAuth, state == 1 ? BST_CHECKED : BST_UNCHECKED);
  editedHttpAuth = state;
  if (state == 0) {
    enableControls({1210, 1211, kHttpUser, kHttpPassword}, false);
  } else if (editedUseProxies == 1) {
    enableControls({1210, 1211, kHttpUser, kHttpPassword}, true);
  }
}

void VOQ_ConfigurationHelper::setHttpsAuthenticationState(int state) {
  if (state != 0 && state != 1) return;
  CheckDlgButton(dialog, kHttpsAuth, state == 1 ? BST_CHECKED : BST_UNCHECKED);
  editedHttpsAuth = state;
  if (state == 0) {
    enableControls({1214, 1215, kHttpsUser, kHttpsPassword}, false);
  } else if (editedUseProxies == 1) {
    enableControls({1214, 1215, kHttpsUser, kHttpsPassword}, true);
  }
}

void VOQ_ConfigurationHelper::setField(int control, const char* text, const std::string& stored,
                                       std::string& edited) {
  edited = text != nullptr ? std::string(text) : stored;
  SetDlgItemTextA(dialog, control, edited.c_str());
}

void VOQ_ConfigurationHelper::setPort(int control, bool useDefault, unsigned stored, unsigned& edited) {
  edited = useDefault ? 80 : stored;
  SetDlgItemInt(dialog, control, edited, FALSE);
}

void VOQ_ConfigurationHelper::setHttpProxyHost(const char* text) { setField(kHttpHost, text, httpHost, editedHttpHost); }
void VOQ_ConfigurationHelper::setHttpsProxyHost(const char* text) {
  setField(kHttpsHost, text, httpsHost, editedHttpsHost);
}
void VOQ_ConfigurationHelper::setHttpProxyUser(const char* text) { setField(kHttpUser, text, httpUser, editedHttpUser); }
void VOQ_ConfigurationHelper::setHttpsProxyUser(const char* text) {
  setField(kHttpsUser, text, httpsUser, editedHttpsUser);
}
void VOQ_ConfigurationHelper::setHttpProxyPassword(const char* text) {
  setField(kHttpPassword, text, httpPassword, editedHttpPassword);
}
void VOQ_ConfigurationHelper::setHttpsProxyPassword(const char* text) {
  setField(kHttpsPassword, text, httpsPassword, editedHttpsPassword);
}
void VOQ_ConfigurationHelper::setHttpProxyPort(bool useDefault) { setPort(kHttpPort, useDefault, httpPort, editedHttpPort); }
void VOQ_ConfigurationHelper::setHttpsProxyPort(bool useDefault) {
  setPort(kHttpsPort, useDefault, httpsPort, editedHttpsPort);
}

void VOQ_ConfigurationHelper::setCheckBoxStates_Proxy() {
  logLine("setCheckBoxStates_Proxy", "Setting initially the CheckBoxStates Proxy.");
  setUseProxiesState(useProxies);
  setHttpAuthenticationState(httpAuth);
  setHttpsAuthenticationState(httpsAuth);
}

void VOQ_ConfigurationHelper::setProxySettings() {
  logLine("setProxySettings", "Setting initially the proxy settings.");
  setHttpProxyHost();
  setHttpsProxyHost();
  setHttpProxyPort(false);
  setHttpsProxyPort(false);
  setHttpProxyUser();
  setHttpsProxyUser();
  setHttpProxyPassword();
  setHttpsProxyPassword();
}

void VOQ_ConfigurationHelper::setProxySettings(HWND window) {
  logLine("setProxySettings", "Setting initially the proxy settings.");
  dialog = window;
  // Copies: each setter assigns the edited value it is handed.
  const std::string hosts[] = {editedHttpHost, editedHttpsHost};
  const std::string users[] = {editedHttpUser, editedHttpsUser};
  const std::string passwords[] = {editedHttpPassword, editedHttpsPassword};
  setHttpProxyHost(hosts[0].c_str());
  setHttpsProxyHost(hosts[1].c_str());
  setHttpProxyPort(false);
  setHttpsProxyPort(false);
  setHttpProxyUser(users[0].c_str());
  setHttpsProxyUser(users[1].c_str());
  setHttpProxyPassword(passwords[0].c_str());
  setHttpsProxyPassword(passwords[1].c_str());
  const int states[] = {editedUseProxies == 1 ? 1 : 0, editedHttpAuth == 1 ? 1 : 0, editedHttpsAuth == 1 ? 1 : 0};
  setUseProxiesState(states[0]);
  setHttpAuthenticationState(states[1]);
  setHttpsAuthenticationState(states[2]);
}

void VOQ_ConfigurationHelper::resetProxyStates() {
  editedUseProxies = useProxies;
  editedHttpAuth = httpAuth;
  editedHttpsAuth = httpsAuth;
}
