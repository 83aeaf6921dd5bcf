// The test viewer: a PDF viewer host for plug-ins, with its PDF layer on qpdf.
//
// It offers the host function tables of pisdk/PIHFTs.h, loads plug-in modules with the
// platform's LoadLibraryA and runs their handshake, opens documents, and drives
// signature validations through the registered PubSec handler. One viewer exists per
// process at a time (the host's tables are plain C functions).
//
//   vhost::Viewer viewer(vhost::Config{});     // every HFT at its newest version
//   viewer.loadPlugin(path);                   // PlugInMain, setup, handshake, init
//   viewer.openDocument("signed.pdf");
//   for (auto& r : viewer.validateSignatures()) ...
//   viewer.unloadPlugins();                    // the unload callbacks
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pisdk/PIHFTs.h"

namespace vhost {

struct MenuItemPlan {
  std::string name;
  bool marked = false;
};
struct MenuPlan {
  std::string name;
  std::vector<MenuItemPlan> items;
};

// One report of a scripted consultant: an object (PDF object text, parsed in the
// traversed document; "R n" names indirect object n of it) and its type hierarchy.
struct ScriptedReport {
  std::string object;
  std::vector<PDFObjType> hierarchy;
};

// "raise `code` at the n-th call (1-based) of operation `operation`", counted from the
// viewer's start, or with `during` set (a handler procedure such as "SigValidate"),
// counted from the start of each run of that procedure.
struct Fault {
  Fault(std::string operation, int nthCall, ASErrorCode code, std::string during = {})
      : operation(std::move(operation)), nthCall(nthCall), code(code), during(std::move(during)) {}
  std::string operation;
  int nthCall = 1;
  ASErrorCode code = 0;
  std::string during;
};

struct Config {
  std::string product = "Exchange-Pro";  // ASGetConfiguration("Product")
  ASInt16 major = 10, minor = 0;         // AVAppGetVersion
  std::string language = "DEU";          // AVAppGetLanguage
  // The version each HFT is offered at; an HFT without an entry does not exist.
  std::map<std::string, ASUns32> hftVersions = newestHFTs();
  // Viewer preferences by (section, key); absent keys answer the caller's default.
  std::map<std::pair<std::string, std::string>, std::string> preferences;
  std::vector<MenuPlan> menus = standardMenus();
  bool refuseHandler = false;                       // PSRegisterHandler answers false
  std::vector<std::vector<uint8_t>> trustedCerts;  // AABGetTrustedCerts, DER
  std::vector<std::string> appearances;            // the signature appearance list
  std::vector<Fault> faults;
  // The consultant: ConsultantCreate answers null when it is unavailable; with a script,
  // a traversal reports the scripted objects (to the agents that requested their type)
  // in place of walking the document.
  bool consultantUnavailable = false;
  std::vector<ScriptedReport> consultantScript;
  // Chunk sizes the data source of the signed ranges delivers, in turn (each at most
  // what the handler asks for); empty: as much as asked.
  std::vector<ASInt32> chunkSizes;
  // The signer-certificate cabinet's "0" holds these DER bytes in place of the signer the
  // viewer found in the value (a viewer that hands over another of its certificates);
  // empty: the signer.
  std::vector<uint8_t> certificateInCabinet;
  // Once every signature of the document was verified, the panels are read again
  // (SignatureResult::laterTexts), as when the user opens them afterwards.
  bool rereadPanels = false;

  static std::map<std::string, ASUns32> newestHFTs();
  static std::vector<MenuPlan> standardMenus();
};

// How much of the document a signature's byte range covers, as the viewer judges it
// itself beside the handler's verdict: a handler verifies the bytes it is handed, the
// viewer knows which bytes of the file those are.
enum class Coverage {
  Unknown,          // the byte range or the /Contents string cannot be read
  WholeDocument,    // from the file's first byte to its last, only the /Contents string left out
  EarlierRevision,  // the same up to the end of an earlier revision: changed after signing
  Partial,          // no whole revision: a range that does not start at 0, a gap that holds
                    // more than the /Contents string, a /Contents string that holds more
                    // than the signature's encoding and zero padding, or an end inside a
                    // revision
};
// The line the viewer shows beside the signature's panel ("" for Unknown).
std::string coverageText(Coverage coverage);

// What the viewer learnt from one validation of one signature field.
// Host operations by name, with how often they were called: looked up on every host call
// without making a string.
using CallCounts = std::map<std::string, int, std::less<>>;

struct SignatureResult {
  std::string fieldName;
  Coverage coverage = Coverage::Unknown;
  int method = 0;        // 1, 2, 3; 0 when the field could not be read
  ASInt32 returned = 0;  // what SigValidate answered
  ASInt32 digest = 0, trustFlags = 0, id = 0;  // the result cabinet
  std::map<std::string, std::string> strings;  // its string entries, by key
  std::vector<std::string> texts;  // GetText for kinds 0 to 10 ("" for none)
  // The same, read after the whole document was verified (Config::rereadPanels).
  std::vector<std::string> laterTexts;
  std::string error;               // why the viewer could not call the handler
  // The engine's "exception" text (index -1), read as a viewer does to show why, when
  // SigValidate answered other than 1.
  std::string exception;
  // The host operations SigValidate called, by name, with their counts.
  CallCounts calls;
};

// One PubSec data import as the viewer took it; the file is read during the call.
struct ImportRecord {
  PubSecHandlerRec* handler = nullptr;
  PubSecEngine engine = nullptr;
  bool handlerRegistered = false;  // the handler is one the viewer registered
  ASInt32 dataKind = 0;
  std::string path;     // the host path of the file
  bool readable = false;
  std::string content;  // the file's bytes at the call
};

struct PluginInfo {
  std::string path;
  HMODULE module = nullptr;
  ExtensionID extension = nullptr;
  std::string name;          // the extension name atom's text
  bool loaded = false;       // the handshake completed
};

class Viewer {
 public:
  explicit Viewer(Config config = Config{});
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  static Viewer& current();
  const Config& config() const;
  Config& config();

  // Loads a plug-in module and runs PlugInMain, the set-up procedure, the handshake
  // and the export, import-and-register and init callbacks. False when the module
  // cannot be loaded or refuses; `error()` says why.
  bool loadPlugin(const std::string& path);
  // The unload callback of every loaded plug-in, then FreeLibrary.
  void unloadPlugins();
  const std::vector<PluginInfo>& plugins() const;
  const std::string& error() const;

  // Opens a PDF file as the active document. False (and `error()`) when qpdf refuses.
  bool openDocument(const std::string& path);
  // The same for a document held in memory; `name` stands for its path.
  bool openDocumentFromMemory(const std::string& name, const std::string& bytes);
  void closeDocuments();
  PDDoc activePDDoc() const;
  AVDoc activeAVDoc() const;

  // For every signature field with a value, in field order: the handler registered for
  // its /Filter validates it, or, when no handler of that name is loaded, the handler
  // whose "SubFilter" property names the signature's /SubFilter (as a viewer set to
  // verify with a chosen handler does). The viewer judges each signature's coverage.
  std::vector<SignatureResult> validateSignatures();

  // An HFT by name at least at `version`, as ASExtensionMgrGetHFT answers it; lets a
  // test run plug-in code in its own process.
  HFT hft(const std::string& name, ASUns32 version = 1);
  ExtensionID newExtension(const std::string& name);

  // Inspection.
  int liveCallbacks(ExtensionID extension) const;
  int liveCallbacks() const;
  int frameDepth() const;
  int callCount(const std::string& operation) const;
  // The bytes plug-ins read from files through ASFileRead since the viewer's start.
  long long fileBytesRead() const;
  // Live host objects a plug-in made or acquired, by kind ("text", "cabinet", "page",
  // "stream", "word finder", "consultant", "path", "file", "data source").
  std::map<std::string, int> liveHandles() const;
  // The items of the menu of that name on the bar.
  std::vector<std::string> menuItemNames(const std::string& menuName) const;
  std::vector<std::string> menuNames() const;
  // The title of the menu on the bar, or of the menu item, of that name ("" for none).
  std::string menuTitle(const std::string& name) const;
  // Runs the execute procedure of a menu item, as a click on it does.
  bool executeMenuItem(const std::string& itemName);
  std::vector<std::pair<std::string, std::string>> helpRequests() const;
  std::vector<ImportRecord> imports() const;
  int registeredHandlers() const;
  // The names of the HFTs a plug-in asked for, in order.
  const std::vector<std::string>& hftRequests() const;
  // The handler record a plug-in registered (null when none is registered).
  PubSecHandlerRec* registeredHandler() const;
  // A data source of signed ranges holding these bytes, as SigValidate receives one;
  // it lives until released or until the viewer goes.
  PSDataSource newDataSource(const std::string& bytes);
  void releaseDataSource(PSDataSource source);
  // The procedure of a live callback (a raise for one that is not).
  void* callbackProcedure(ASCallback callback) const;
  template <typename Proc>
  Proc procedure(ASCallback callback) const {
    return reinterpret_cast<Proc>(callbackProcedure(callback));
  }
  HWND mainWindow() const;

  struct State;  // the implementation's

 private:
  std::unique_ptr<State> state_;
};

// Runs `body` as the host runs a plug-in callback: a raise that escapes it ends in
// the host; answers the code, or 0 when nothing was raised.
ASErrorCode catchRaise(const std::function<void()>& body);

}  // namespace vhost
