// The test viewer: its tables, plug-in loading and the validation drive.
#include "Viewer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <qpdf/QPDFExc.hh>

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "ViewerState.h"

namespace vhost {

void setState(Viewer::State* s);

namespace {

Viewer* theViewer = nullptr;

#define VHOST_ENTRY(name, result, params, args) \
  reinterpret_cast<HFTEntry>(static_cast<name##SELPROTO>(&ops::name)),
#define VHOST_TABLE(table, list, prefix)                                              \
  const HFTEntry table[] = {reinterpret_cast<HFTEntry>(static_cast<uintptr_t>(prefix##_count)), \
                            list(VHOST_ENTRY)};                                       \
  static_assert(sizeof(table) / sizeof(table[0]) == prefix##_count, "selectors");

VHOST_TABLE(coreTable, PI_CORE_HFT, CoreSel)
VHOST_TABLE(acroSupportTable, PI_ACROSUPPORT_HFT, AcroSupportSel)
VHOST_TABLE(asExtraTable, PI_ASEXTRA_HFT, ASExtraSel)
VHOST_TABLE(cosTable, PI_COS_HFT, CosSel)
VHOST_TABLE(pdModelTable, PI_PDMODEL_HFT, PDModelSel)
VHOST_TABLE(acroViewTable, PI_ACROVIEW_HFT, AcroViewSel)
VHOST_TABLE(winTable, PI_WIN_HFT, WinSel)
VHOST_TABLE(pubSecTable, PI_PUBSEC_HFT, PubSecSel)
VHOST_TABLE(digSigTable, PI_DIGSIG_HFT, DigSigSel)
VHOST_TABLE(consultantTable, PI_CONSULTANT_HFT, ConsultantSel)
// Tables that are fetched but whose operations no plug-in calls: only their count.
const HFTEntry pdsReadTable[] = {reinterpret_cast<HFTEntry>(static_cast<uintptr_t>(1))};
const HFTEntry acroColorTable[] = {reinterpret_cast<HFTEntry>(static_cast<uintptr_t>(1))};

const std::map<std::string, HFT>& tables() {
  static const std::map<std::string, HFT> all = {
      {kCoreHFTName, coreTable},       {kAcroSupportHFTName, acroSupportTable},
      {kASExtraHFTName, asExtraTable}, {kCosHFTName, cosTable},
      {kPDModelHFTName, pdModelTable}, {kAcroViewHFTName, acroViewTable},
      {kWinHFTName, winTable},         {kPubSecHFTName, pubSecTable},
      {kDigSigHFTName, digSigTable},   {kPDFConsultantHFTName, consultantTable},
      {kPDSReadHFTName, pdsReadTable}, {kAcroColorHFTName, acroColorTable}};
  return all;
}

LRESULT CALLBACK frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Runs a plug-in's start-up callback; a raise that escapes it is the plug-in's fault
// and ends as a refusal.
bool runCallback(ASCallback callback, std::string& error, const char* what) {
  if (callback == nullptr) return true;
  bool result = false;
  ASErrorCode code = catchRaise([&] { result = callbackAs<ASBool (*)()>(callback)() != 0; });
  if (code != 0) {
    error = std::string(what) + " raised " + std::to_string(code);
    return false;
  }
  if (!result) error = std::string(what) + " answered false";
  return result;
}

// The length of the BER element at `at`, with a definite or an indefinite length (signers
// that stream their PKCS#7 write indefinite ones); 0 when it is malformed or cut short.
size_t berElementLength(const std::string& v, size_t at, int depth) {
  if (depth > 64 || at + 2 > v.size()) return 0;
  size_t p = at;
  const unsigned char tag = static_cast<unsigned char>(v[p++]);
  if ((tag & 0x1F) == 0x1F) {
    while (p < v.size() && (static_cast<unsigned char>(v[p]) & 0x80)) ++p;
    ++p;
  }
  if (p >= v.size()) return 0;
  const unsigned char first = static_cast<unsigned char>(v[p++]);
  if (first == 0x80) {
    if ((tag & 0x20) == 0) return 0;  // only a constructed element has an indefinite length
    for (;;) {
      if (p + 2 > v.size()) return 0;
      if (v[p] == 0 && v[p + 1] == 0) return p + 2 - at;
      const size_t n = berElementLength(v, p, depth + 1);
      if (n == 0) return 0;
      p += n;
    }
  }
  size_t length = first;
  if (first & 0x80) {
    const size_t n = first & 0x7F;
    if (n == 0 || n > 4 || p + n > v.size()) return 0;
    length = 0;
    for (size_t i = 0; i < n; ++i) length = (length << 8) | static_cast<unsigned char>(v[p + i]);
    p += n;
  }
  return length <= v.size() - p ? p + length - at : 0;
}

// The PKCS#7 of a /Contents value: its length from its encoding, without the padding.
std::string berPrefix(const std::string& value) {
  const size_t length = berElementLength(value, 0, 0);
  return length > 0 ? value.substr(0, length) : value;
}

bool isPdfSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0'; }

// Whether the "%%EOF" at `at` closes a "startxref" with its offset.
bool closesStartxref(DocumentBytes& file, size_t at) {
  size_t p = at;
  while (p > 0 && isPdfSpace(file.byteAt(p - 1))) --p;
  const size_t digitsEnd = p;
  while (p > 0 && file.byteAt(p - 1) >= '0' && file.byteAt(p - 1) <= '9') --p;
  if (p == digitsEnd) return false;
  while (p > 0 && isPdfSpace(file.byteAt(p - 1))) --p;
  if (p < 9) return false;
  char word[9];
  return file.read(p - 9, 9, word) && std::memcmp(word, "startxref", 9) == 0;
}

bool isEofMarker(DocumentBytes& file, size_t at) {
  char marker[5];
  return at + 5 <= file.size() && file.read(at, 5, marker) && std::memcmp(marker, "%%EOF", 5) == 0 &&
         closesStartxref(file, at);
}

// Whether a revision of the file ends at `end`: right after a "%%EOF" that closes a
// "startxref" with its offset, or after the end-of-line behind it (CR, LF or CR LF; after
// a CR followed by LF only behind both). Only the bytes before `end` are read.
bool isRevisionEnd(DocumentBytes& file, size_t end) {
  if (end >= 5 && isEofMarker(file, end - 5)) return true;
  const int last = end >= 1 ? file.byteAt(end - 1) : -1;
  if (end >= 6 && last == '\n' && isEofMarker(file, end - 6)) return true;
  if (end >= 6 && last == '\r' && file.byteAt(end) != '\n' && isEofMarker(file, end - 6)) return true;
  return end >= 7 && last == '\n' && file.byteAt(end - 2) == '\r' && isEofMarker(file, end - 7);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether the file's bytes [from, to) are exactly a hexadecimal string of these bytes.
bool isHexStringOf(DocumentBytes& file, size_t from, size_t to, const std::string& bytes) {
  if (to < from + 2 || file.byteAt(from) != '<' || file.byteAt(to - 1) != '>') return false;
  std::string decoded;
  int high = -1;
  for (size_t p = from + 1; p + 1 < to; ++p) {
    const int c = file.byteAt(p);
    if (isPdfSpace(c)) continue;
    const int d = c < 0 ? -1 : hexDigit(static_cast<char>(c));
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      decoded += static_cast<char>(high << 4 | d);
      high = -1;
      // A gap larger than the string can no longer be it.
      if (decoded.size() > bytes.size()) return false;
    }
  }
  if (high >= 0) decoded += static_cast<char>(high << 4);
  return decoded == bytes;
}

// The coverage of a signature whose byte range lies inside the file.
// `encoded`: the value is a CMS whose encoding tells where it ends (every subfilter but
// adbe.x509.rsa_sha1, whose value is the whole string).
Coverage coverageOf(DocumentBytes& file, const std::vector<long long>& range, const std::string& contents,
                    bool encoded) {
  if (range[0] != 0) return Coverage::Partial;
  const size_t gapStart = static_cast<size_t>(range[1]), gapEnd = static_cast<size_t>(range[2]);
  if (gapEnd < gapStart || !isHexStringOf(file, gapStart, gapEnd, contents)) return Coverage::Partial;
  // Behind the signature's own encoding the string holds only its zero padding: other
  // data there is inside the gap, so no signature covers it.
  const size_t used = encoded ? berElementLength(contents, 0, 0) : 0;
  if (used > 0 && contents.find_first_not_of('\0', used) != std::string::npos) return Coverage::Partial;
  const size_t end = static_cast<size_t>(range[2] + range[3]);
  if (end == file.size()) return Coverage::WholeDocument;
  return isRevisionEnd(file, end) ? Coverage::EarlierRevision : Coverage::Partial;
}

// The SHA-1 of the ranges, read from the file in pieces; false when they cannot be read.
bool sha1OfRanges(DocumentBytes& file, const std::vector<std::pair<size_t, size_t>>& ranges,
                  unsigned char digest[SHA_DIGEST_LENGTH]) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1) return false;
  std::vector<char> piece(64 * 1024);
  for (const auto& [offset, length] : ranges) {
    for (size_t done = 0; done < length;) {
      const size_t n = std::min(piece.size(), length - done);
      if (!file.read(offset + done, n, piece.data()) || EVP_DigestUpdate(context.get(), piece.data(), n) != 1) {
        return false;
      }
      done += n;
    }
  }
  if (EVP_DigestFinal_ex(context.get(), digest, nullptr) != 1) return false;
  return true;
}

// Names the handler procedure the viewer runs while it lives, so that faults can be
// counted per run; what the run called is copied to `record` at its end, also when a
// raise escapes it.
class ProcedureScope {
 public:
  ProcedureScope(Viewer::State& s, const char* name, CallCounts* record = nullptr)
      : s_(s), record_(record) {
    s_.procedure = name;
    s_.procedureCalls.clear();
  }
  ~ProcedureScope() {
    if (record_ != nullptr) *record_ = s_.procedureCalls;
    s_.procedure.clear();
    s_.procedureCalls.clear();
  }
  ProcedureScope(const ProcedureScope&) = delete;
  ProcedureScope& operator=(const ProcedureScope&) = delete;

 private:
  Viewer::State& s_;
  CallCounts* record_;
};

std::string signerCertificate(const std::string& der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  PKCS7* pkcs7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  std::string out;
  if (pkcs7 == nullptr) return out;
  STACK_OF(X509)* signers = PKCS7_get0_signers(pkcs7, nullptr, 0);
  if (signers && sk_X509_num(signers) > 0) {
    unsigned char* buf = nullptr;
    int n = i2d_X509(sk_X509_value(signers, 0), &buf);
    if (n > 0) out.assign(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    OPENSSL_free(buf);
  }
  sk_X509_free(signers);
  PKCS7_free(pkcs7);
  return out;
}

}  // namespace

std::string coverageText(Coverage coverage) {
  switch (coverage) {
    case Coverage::WholeDocument:
      return "The signature covers the whole document.";
    case Coverage::EarlierRevision:
      return "The signature covers an earlier revision: the document was changed after it was signed.";
    case Coverage::Partial:
      return "The signature does not cover a whole revision of the document.";
    case Coverage::Unknown:
      break;
  }
  return "";
}

std::map<std::string, ASUns32> Config::newestHFTs() {
  return {{kCoreHFTName, 0x60000},   {kAcroSupportHFTName, 0x60000}, {kCosHFTName, 0x60000},
          {kPDModelHFTName, 0x60000}, {kAcroViewHFTName, 0x60000},   {kPDSReadHFTName, 0x60000},
          {kWinHFTName, 0x60000},     {kASExtraHFTName, 0x60000},    {kAcroColorHFTName, 0x60000},
          {kPubSecHFTName, 1},        {kDigSigHFTName, 1},           {kPDFConsultantHFTName, 0x20000}};
}

std::vector<MenuPlan> Config::standardMenus() {
  return {{"View", {{"Wireframe", false}}}, {"Advanced", {{"Overprint", false}}}, {"Help", {}}};
}

ASErrorCode catchRaise(const std::function<void()>& body) {
  try {
    body();
  } catch (const pisdk::HostRaise& r) {
    return r.code;
  }
  return 0;
}

Viewer::Viewer(Config config) : state_(std::make_unique<State>()) {
  if (theViewer != nullptr) throw std::logic_error("a test viewer exists already");
  theViewer = this;
  setState(state_.get());
  state_->config = std::move(config);
  for (const MenuPlan& m : state_->config.menus) {
    state_->menuStore.push_back(std::make_unique<MenuRec>(MenuRec{m.name, m.name, nullptr, {}, true}));
    MenuRec* menu = state_->menuStore.back().get();
    for (const MenuItemPlan& i : m.items) {
      state_->itemStore.push_back(std::make_unique<MenuItemRec>(MenuItemRec{i.name, i.name, i.marked, menu, nullptr}));
      menu->items.push_back(state_->itemStore.back().get());
    }
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = frameProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "VHostFrame";
  RegisterClassA(&wc);
  state_->window = CreateWindowExA(0, "VHostFrame", "Test Viewer", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                   nullptr, nullptr, wc.hInstance, nullptr);
}

Viewer::~Viewer() {
  unloadPlugins();
  closeDocuments();
  for (auto& [path, file] : state_->files) std::fclose(file->file);
  if (state_->window) DestroyWindow(state_->window);
  setState(nullptr);
  theViewer = nullptr;
}

Viewer& Viewer::current() {
  if (theViewer == nullptr) throw std::logic_error("no test viewer exists");
  return *theViewer;
}

const Config& Viewer::config() const { return state_->config; }
Config& Viewer::config() { return state_->config; }
const std::string& Viewer::error() const { return state_->error; }
const std::vector<PluginInfo>& Viewer::plugins() const { return state_->plugins; }
HWND Viewer::mainWindow() const { return state_->window; }

HFT Viewer::hft(const std::string& name, ASUns32 version) {
  auto offered = state_->config.hftVersions.find(name);
  if (offered == state_->config.hftVersions.end() || offered->second < version) return nullptr;
  return tables().at(name);
}

ExtensionID Viewer::newExtension(const std::string& name) {
  state_->extensions.push_back(std::make_unique<_t_ExtensionIDRec>(_t_ExtensionIDRec{name}));
  return state_->extensions.back().get();
}

bool Viewer::loadPlugin(const std::string& path) {
  State& s = *state_;
  s.error.clear();
  PluginInfo info;
  info.path = path;
  info.module = LoadLibraryA(path.c_str());
  if (info.module == nullptr) {
    s.error = "LoadLibraryA failed with " + std::to_string(GetLastError());
    return false;
  }
  auto fail = [&](const std::string& why) {
    s.error = why;
    FreeLibrary(info.module);
    return false;
  };
  auto main = reinterpret_cast<PIMainProcType>(GetProcAddress(info.module, "PlugInMain"));
  if (main == nullptr) return fail("no PlugInMain");
  ASUns32 version = 0;
  PISetupSDKProcType setup = nullptr;
  PIHostData hostData{s.window, info.module};
  if (!main(HANDSHAKE_VERSION_2, &version, &setup, &hostData) || setup == nullptr) {
    return fail("PlugInMain refused");
  }
  if (version != HANDSHAKE_VERSION_2) return fail("handshake version " + std::to_string(version));
  info.extension = newExtension(path);
  PISetupSDKRec setupRec{HANDSHAKE_VERSION_2, info.extension, hft(kCoreHFTName, 0), nullptr};
  bool ok = false;
  ASErrorCode code = catchRaise([&] { ok = setup(HANDSHAKE_VERSION_2, &setupRec) != 0; });
  if (code != 0 || !ok) return fail("the set-up procedure refused");
  PIHandshakeRec handshake{HANDSHAKE_VERSION_2, 0, ASAtomNull, nullptr, nullptr, nullptr, nullptr};
  code = catchRaise([&] {
    ok = callbackAs<PIHandshakeProcType>(setupRec.handshakeCallback)(HANDSHAKE_VERSION_2, &handshake) != 0;
  });
  if (code != 0 || !ok) return fail("the handshake refused");
  info.name = atomText(handshake.appName);
  s.plugins.push_back(info);
  PluginInfo& added = s.plugins.back();
  // Start-up callbacks answer true whatever happens; a false or a raise is recorded.
  runCallback(handshake.exportHFTsCallback, s.error, "export");
  runCallback(handshake.importReplaceAndRegisterCallback, s.error, "import and register");
  runCallback(handshake.initCallback, s.error, "init");
  added.loaded = true;
  s.unloadCallbacks.push_back(handshake.unloadCallback);
  return true;
}

void Viewer::unloadPlugins() {
  State& s = *state_;
  for (size_t i = s.plugins.size(); i-- > 0;) {
    std::string ignored;
    if (i < s.unloadCallbacks.size()) runCallback(s.unloadCallbacks[i], ignored, "unload");
  }
  for (size_t i = s.plugins.size(); i-- > 0;) FreeLibrary(s.plugins[i].module);
  s.plugins.clear();
  s.unloadCallbacks.clear();
}

namespace {

// Opens a document with `process` (qpdf's reading of a file or of the document's memory)
// and makes it the active one.
template <typename Process>
bool addDocument(Viewer::State& s, const std::string& path, const std::string& memory, Process process) {
  auto doc = std::make_unique<Document>();
  doc->path = path;
  doc->memory = memory;
  doc->qpdf = std::make_unique<QPDF>();
  doc->qpdf->setSuppressWarnings(true);
  try {
    process(*doc);
  } catch (const std::exception& e) {
    s.error = e.what();
    return false;
  }
  doc->file = std::make_unique<_t_ASFileRec>(_t_ASFileRec{path, nullptr});
  doc->id = static_cast<ASUns32>(s.documents.size() + 1);
  s.documents.push_back(std::move(doc));
  s.active = s.documents.back().get();
  return true;
}

}  // namespace

bool Viewer::openDocument(const std::string& path) {
  return addDocument(*state_, path, "", [&](Document& d) {
    std::shared_ptr<DocumentInputSource> source = DocumentInputSource::ofFile(path);
    if (!source) throw QPDFExc(qpdf_e_system, path, "", 0, std::string("cannot open: ") + std::strerror(errno));
    d.qpdf->processInputSource(source);
  });
}

bool Viewer::openDocumentFromMemory(const std::string& name, const std::string& bytes) {
  // qpdf reads the buffer while the document lives: the document's own copy.
  return addDocument(*state_, name, bytes, [&](Document& d) {
    d.qpdf->processMemoryFile(name.c_str(), d.memory.data(), d.memory.size());
  });
}

void Viewer::closeDocuments() {
  State& s = *state_;
  s.pages.clear();
  s.fontIndex.clear();
  s.streams.clear();
  s.wordFinders.clear();
  s.active = nullptr;
  for (auto& d : s.documents) d.reset();
}

namespace {

// The handler registered under the signature's /Filter; without one, the first whose
// "SubFilter" property names the signature's /SubFilter.
PubSecHandlerRec* handlerFor(Viewer::State& s, QPDFObjectHandle filter, const std::string& subFilter) {
  for (auto& [owner, h] : s.handlers) {
    for (auto& p : s.plugins) {
      if (p.extension == owner && filter.isName() && filter.getName() == "/" + p.name) return h;
    }
  }
  for (auto& entry : s.handlers) {
    // A named variable, not a structured binding: C++17 lambdas cannot capture those.
    auto h = entry.second;
    if (h->getAtomProperty == nullptr || subFilter.empty()) continue;
    ASAtom named = ASAtomNull;
    catchRaise([&] {
      ProcedureScope scope(s, "GetAtomProperty");
      named = callbackAs<PSGetAtomPropertyProc>(h->getAtomProperty)(h->engine, "SubFilter");
    });
    if (named != ASAtomNull && "/" + atomText(named) == subFilter) return h;
  }
  return nullptr;
}

}  // namespace

PDDoc Viewer::activePDDoc() const { return state_->active ? pdDocOf(*state_->active) : nullptr; }
AVDoc Viewer::activeAVDoc() const { return reinterpret_cast<AVDoc>(state_->active); }

std::vector<SignatureResult> Viewer::validateSignatures() {
  State& s = *state_;
  std::vector<SignatureResult> results;
  if (!s.active) return results;
  Document& doc = *s.active;
  // The file is read where the signatures need it, never held whole.
  std::unique_ptr<DocumentBytes> opened =
      doc.memory.empty() ? DocumentBytes::ofFile(doc.path) : DocumentBytes::ofMemory(doc.memory);
  // A file that cannot be opened again reads as empty: no signature's ranges lie inside it.
  if (!opened) opened = DocumentBytes::ofMemory(doc.memory);
  DocumentBytes& file = *opened;
  // The result cabinets of the document's signatures while their panels can be read again.
  struct Panel {
    size_t index;
    ASCab resultCab;
    PubSecHandlerRec* handler;
  };
  std::vector<Panel> panels;
  for (QPDFObjectHandle& field : signatureFields(*doc.qpdf)) {
    QPDFObjectHandle v = field.getKey("/V");
    if (!v.isDictionary()) continue;
    SignatureResult r;
    r.fieldName = fieldName(field);
    QPDFObjectHandle range = v.getKey("/ByteRange");
    QPDFObjectHandle contents = v.getKey("/Contents");
    std::string subFilter = v.getKey("/SubFilter").isName() ? v.getKey("/SubFilter").getName() : "";
    std::vector<long long> br;
    if (range.isArray()) {
      for (auto& item : range.getArrayAsVector()) {
        if (item.isInteger()) br.push_back(item.getIntValue());
      }
    }
    bool rangesOk = br.size() == 4 && br[0] >= 0 && br[1] >= 0 && br[2] >= 0 && br[3] >= 0 &&
                    static_cast<unsigned long long>(br[0]) + br[1] <= file.size() &&
                    static_cast<unsigned long long>(br[2]) + br[3] <= file.size();
    if (rangesOk && contents.isString()) {
      r.coverage = coverageOf(file, br, contents.getStringValue(), subFilter != "/adbe.x509.rsa_sha1");
    }
    PubSecHandlerRec* handler = handlerFor(s, v.getKey("/Filter"), subFilter);
    if (handler == nullptr) {
      r.error = "no handler for the signature's filter";
      results.push_back(r);
      continue;
    }
    r.method = subFilter == "/adbe.x509.rsa_sha1" ? 1 : subFilter == "/adbe.pkcs7.detached" ? 2
               : subFilter == "/adbe.pkcs7.sha1"  ? 3 : 0;
    if (r.method == 0 || !contents.isString() || !rangesOk) {
      r.error = "the signature dictionary cannot be read";
      r.method = 0;
      results.push_back(r);
      continue;
    }
    const std::vector<std::pair<size_t, size_t>> ranges = {
        {static_cast<size_t>(br[0]), static_cast<size_t>(br[1])}, {static_cast<size_t>(br[2]), static_cast<size_t>(br[3])}};
    std::string value = r.method == 1 ? contents.getStringValue() : berPrefix(contents.getStringValue());
    std::string cert = r.method == 1 ? (v.getKey("/Cert").isString() ? v.getKey("/Cert").getStringValue() : "")
                                     : signerCertificate(value);
    if (!s.config.certificateInCabinet.empty()) {
      cert.assign(s.config.certificateInCabinet.begin(), s.config.certificateInCabinet.end());
    }
    // The viewer's own digest of the ranges goes with the values that are checked over it;
    // the others digest the ranges themselves, as they read them.
    unsigned char digest[SHA_DIGEST_LENGTH] = {};
    if (r.method == 3 && !sha1OfRanges(file, ranges, digest)) {
      r.error = "the document's file cannot be read";
      r.method = 0;
      results.push_back(r);
      continue;
    }

    auto source = std::make_unique<DataSourceRec>();
    source->bytes = &file;
    source->ranges = ranges;
    source->left = ranges[0].second + ranges[1].second;
    PSDataSource sourceHandle = reinterpret_cast<PSDataSource>(source.get());
    s.dataSources.emplace(sourceHandle, std::move(source));
    ASCab certCab = ops::ASCabNew();
    ops::ASCabPutBinary(certCab, "0", cert.data(), static_cast<ASInt32>(cert.size()));
    ASCab resultCab = ops::ASCabNew();
    PSSigValidateParamsRec params{};
    params.size = sizeof params;
    params.sigMethod = r.method;
    params.digest = r.method == 3 ? digest : nullptr;
    params.sigValue = reinterpret_cast<const ASUns8*>(value.data());
    params.sigValueSize = static_cast<ASInt32>(value.size());
    params.signerCert = certCab;
    params.resultCab = resultCab;
    params.dataSource = sourceHandle;

    ASErrorCode code = catchRaise([&] {
      PubSecEngine engine = handler->engine;
      PubSecEngine made = nullptr;
      if (handler->newEngine) {
        ProcedureScope scope(s, "NewEngine");
        engine = made = callbackAs<PSNewEngineProc>(handler->newEngine)();
      }
      {
        ProcedureScope scope(s, "SigValidate", &r.calls);
        r.returned = callbackAs<PSSigValidateProc>(handler->sigValidate)(engine, &params);
      }
      if (r.returned != 1 && handler->getTextProperty) {
        ProcedureScope scope(s, "GetTextProperty");
        ASText text = callbackAs<PSGetTextPropertyProc>(handler->getTextProperty)(engine, "exception", -1);
        r.exception = text ? ops::ASTextGetEncoded(text, 0) : "";
        if (text) ops::ASTextDestroy(text);
      }
      r.digest = ops::ASCabGetInt(resultCab, "digest", 0);
      r.trustFlags = ops::ASCabGetInt(resultCab, "trustFlags", 0);
      r.id = ops::ASCabGetInt(resultCab, "id", 0);
      for (const auto& entry : cabOf(resultCab).entries) {
        if (entry.second.type == kASValueString) r.strings[entry.first] = entry.second.bytes;
      }
      if (handler->getText) {
        for (ASInt32 kind = 0; kind <= 10; ++kind) {
          ASText text = nullptr;
          {
            ProcedureScope scope(s, "GetText");
            text = callbackAs<PSGetTextProc>(handler->getText)(engine, resultCab, kind);
          }
          r.texts.push_back(text ? ops::ASTextGetEncoded(text, 0) : "");
          if (text) ops::ASTextDestroy(text);
        }
      }
      if (made && handler->destroyEngine) {
        ProcedureScope scope(s, "DestroyEngine");
        callbackAs<PSDestroyEngineProc>(handler->destroyEngine)(made);
      }
    });
    if (code != 0) r.error = "the handler raised " + std::to_string(code);
    s.dataSources.erase(sourceHandle);
    ops::ASCabDestroy(certCab);
    if (s.config.rereadPanels && handler->getText) {
      panels.push_back({results.size(), resultCab, handler});
    } else {
      ops::ASCabDestroy(resultCab);
    }
    results.push_back(r);
  }
  for (const Panel& panel : panels) {
    SignatureResult& r = results[panel.index];
    ASErrorCode code = catchRaise([&] {
      for (ASInt32 kind = 0; kind <= 10; ++kind) {
        ProcedureScope scope(s, "GetText");
        ASText text = callbackAs<PSGetTextProc>(panel.handler->getText)(panel.handler->engine, panel.resultCab, kind);
        r.laterTexts.push_back(text ? ops::ASTextGetEncoded(text, 0) : "");
        if (text) ops::ASTextDestroy(text);
      }
    });
    if (code != 0) r.error = "the handler raised " + std::to_string(code) + " reading a panel again";
    ops::ASCabDestroy(panel.resultCab);
  }
  return results;
}

int Viewer::liveCallbacks(ExtensionID extension) const {
  int n = 0;
  for (auto& [cb, rec] : state_->callbacks) n += rec->owner == extension;
  return n;
}
int Viewer::liveCallbacks() const { return static_cast<int>(state_->callbacks.size()); }
int Viewer::frameDepth() const { return static_cast<int>(state_->frames.size()); }
int Viewer::callCount(const std::string& operation) const {
  auto it = state_->calls.find(operation);
  return it == state_->calls.end() ? 0 : it->second;
}
long long Viewer::fileBytesRead() const { return state_->fileBytesRead; }
std::map<std::string, int> Viewer::liveHandles() const {
  const State& s = *state_;
  return {{"text", static_cast<int>(s.texts.size())},
          {"cabinet", static_cast<int>(s.cabs.size())},
          {"page", static_cast<int>(s.pages.size())},
          {"stream", static_cast<int>(s.streams.size())},
          {"word finder", static_cast<int>(s.wordFinders.size())},
          {"consultant", static_cast<int>(s.consultants.size())},
          {"path", static_cast<int>(s.paths.size())},
          {"file", static_cast<int>(s.files.size())},
          {"data source", static_cast<int>(s.dataSources.size())}};
}
int Viewer::registeredHandlers() const { return static_cast<int>(state_->handlers.size()); }
const std::vector<std::string>& Viewer::hftRequests() const { return state_->hftRequests; }
PubSecHandlerRec* Viewer::registeredHandler() const {
  return state_->handlers.empty() ? nullptr : state_->handlers.front().second;
}
PSDataSource Viewer::newDataSource(const std::string& bytes) {
  auto source = std::make_unique<DataSourceRec>();
  source->owned = bytes;
  source->ownBytes = DocumentBytes::ofMemory(source->owned);
  source->bytes = source->ownBytes.get();
  source->ranges = {{0, bytes.size()}};
  source->left = bytes.size();
  PSDataSource handle = reinterpret_cast<PSDataSource>(source.get());
  state_->dataSources.emplace(handle, std::move(source));
  return handle;
}
void Viewer::releaseDataSource(PSDataSource source) { state_->dataSources.erase(source); }
void* Viewer::callbackProcedure(ASCallback callback) const { return callbackProc(callback); }

std::vector<std::string> Viewer::menuNames() const {
  std::vector<std::string> names;
  for (auto& m : state_->menuStore) {
    if (m->onBar) names.push_back(m->name);
  }
  return names;
}

std::string Viewer::menuTitle(const std::string& name) const {
  for (auto& m : state_->menuStore) {
    if (m->onBar && m->name == name) return m->title;
  }
  for (auto& i : state_->itemStore) {
    if (i->parent && i->name == name) return i->title;
  }
  return "";
}

std::vector<std::string> Viewer::menuItemNames(const std::string& menuName) const {
  std::vector<std::string> names;
  for (auto& m : state_->menuStore) {
    if (m->name != menuName || !m->onBar) continue;  // a removed menu is gone for the user
    for (MenuItemRec* i : m->items) names.push_back(i->name);
  }
  return names;
}

bool Viewer::executeMenuItem(const std::string& itemName) {
  for (auto& i : state_->itemStore) {
    if (i->name == itemName && i->parent && i->execute) {
      auto proc = callbackAs<AVExecuteProc>(i->execute);
      void* data = i->executeData;
      return catchRaise([&] { proc(data); }) == 0;
    }
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> Viewer::helpRequests() const { return state_->help; }

std::vector<ImportRecord> Viewer::imports() const { return state_->imports; }

}  // namespace vhost
