// The test viewer's inner state, shared by the files that implement its HFTs.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/InputSource.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include "DocumentBytes.h"
#include "Viewer.h"
#include "pisdk/PIExcept.h"

struct _t_ASTextRec {
  std::string utf8;
};
struct _t_ASFileRec {
  std::string path;
  FILE* file = nullptr;
};
struct _t_ASPathNameRec {
  std::string path;
};
struct _t_ASCallbackRec {
  ExtensionID owner = nullptr;
  void* proc = nullptr;
};
struct _t_ExtensionIDRec {
  std::string name;
};

namespace vhost {

// One value of a cabinet.
struct CabValue {
  ASInt32 type = kASValueNull;
  int64_t number = 0;  // bool, int, atom, uns
  double real = 0;
  std::string bytes;  // string, binary
  ASText text = nullptr;
  ASCab cab = nullptr;
  void* pointer = nullptr;
};

}  // namespace vhost

struct _t_ASCabRec {
  std::vector<std::pair<std::string, vhost::CabValue>> entries;  // insertion order
};

namespace vhost {

// A slot of a document's Cos table; strings keep their bytes for CosStringValue.
struct CosSlot {
  QPDFObjectHandle object;
  std::unique_ptr<std::string> bytes;
};

struct Document;

struct PageRec {
  Document* doc = nullptr;
  QPDFObjectHandle page;
};

struct FontRec {
  Document* doc = nullptr;
  QPDFObjectHandle font;
};

struct Document {
  ASUns32 id = 0;
  std::string path;
  std::string memory;  // the bytes of a document opened from memory
  std::unique_ptr<QPDF> qpdf;
  std::vector<CosSlot> slots{1};  // slot 0 is never handed out
  std::map<QPDFObjGen, ASUns32> indirectSlots;
  std::vector<std::unique_ptr<FontRec>> fonts;
  std::map<QPDFObjGen, FontRec*> fontByObject;
  std::unique_ptr<_t_ASFileRec> file;  // what PDDocGetFile answers
};

struct MenuItemRec;
struct MenuRec {
  std::string name, title;
  ExtensionID owner = nullptr;
  std::vector<MenuItemRec*> items;
  bool onBar = false;
};
struct MenuItemRec {
  std::string name, title;
  bool marked = false;
  MenuRec* parent = nullptr;
  MenuRec* submenu = nullptr;
  ASCallback execute = nullptr;
  void* executeData = nullptr;
};

// The signed ranges of a document, read from where they lie in turn; nothing of them is
// copied beforehand.
struct DataSourceRec {
  std::string owned;                        // bytes a test handed over, when it did
  std::unique_ptr<DocumentBytes> ownBytes;  // over `owned`
  DocumentBytes* bytes = nullptr;
  std::vector<std::pair<size_t, size_t>> ranges;  // offset and length, in the file
  size_t range = 0;     // the range being read
  size_t position = 0;  // the next byte's place in it
  size_t left = 0;      // bytes not yet handed out
  size_t chunkTurn = 0;
};

// An open stream: its bytes, read token by token.
struct StmRec {
  Document* doc = nullptr;
  std::string bytes;
  std::shared_ptr<InputSource> input;
  QPDFTokenizer tokenizer;
};

// One word handed to a word procedure: its characters as UTF-16BE (or the bytes).
struct WordRec {
  std::string text;
  ASInt32 length = 0;
};

struct WordFinderRec {
  Document* doc = nullptr;
  bool unicode = true;
  const WordRec* current = nullptr;  // the word of the procedure running now
};

struct ConsultantRec {
  ASCallback progress = nullptr;
  std::vector<const ConsultantAgentRec*> agents;  // the caller's records
};

struct Viewer::State {
  Config config;
  std::string error;
  std::vector<PluginInfo> plugins;
  std::vector<ASCallback> unloadCallbacks;  // one per plug-in
  std::vector<std::unique_ptr<_t_ExtensionIDRec>> extensions;

  // Core
  std::vector<std::string> atoms;
  std::map<std::string, ASAtom> atomIndex;
  std::map<ASCallback, std::unique_ptr<_t_ASCallbackRec>> callbacks;
  struct Frame {
    void* frame;
    ACRestoreProc restore;
  };
  std::vector<Frame> frames;
  ASErrorCode lastError = 0;
  CallCounts calls;
  long long fileBytesRead = 0;  // by ASFileRead, since the viewer's start
  // The handler procedure the viewer runs now ("" for none) and the operations it called
  // so far in this run, for faults counted per run.
  std::string procedure;
  CallCounts procedureCalls;
  std::vector<std::string> hftRequests;  // the names ASExtensionMgrGetHFT was asked for

  // AcroSupport, ASExtra
  std::map<ASText, std::unique_ptr<_t_ASTextRec>> texts;
  std::map<ASCab, std::unique_ptr<_t_ASCabRec>> cabs;
  std::map<ASPathName, std::unique_ptr<_t_ASPathNameRec>> paths;
  std::map<ASFile, std::unique_ptr<_t_ASFileRec>> files;
  std::string productText;

  // Documents
  std::vector<std::unique_ptr<Document>> documents;  // index = id - 1
  std::map<PDPage, std::unique_ptr<PageRec>> pages;
  Document* active = nullptr;

  // AcroView, Win
  std::vector<std::unique_ptr<MenuRec>> menuStore;
  std::vector<std::unique_ptr<MenuItemRec>> itemStore;
  std::vector<std::pair<std::string, std::string>> help;
  std::vector<ImportRecord> imports;
  HWND window = nullptr;

  // PubSec, consultant
  std::vector<std::pair<ExtensionID, PubSecHandlerRec*>> handlers;
  std::map<PSDataSource, std::unique_ptr<DataSourceRec>> dataSources;
  bool appearanceListOpen = false;
  std::map<Consultant, std::unique_ptr<ConsultantRec>> consultants;
  std::map<PDFont, FontRec*> fontIndex;  // every live font handle
  std::map<ASStm, std::unique_ptr<StmRec>> streams;
  std::map<PDWordFinder, std::unique_ptr<WordFinderRec>> wordFinders;
};

Viewer::State& state();

// Raising: sets the current error code and resumes the innermost frame through its
// restore procedure; without a frame the raise travels to the host's own catch.
[[noreturn]] void raise(ASErrorCode code);

// A callback's procedure, or a raise when the plug-in did not make it with
// ASCallbackCreate.
void* callbackProc(ASCallback callback);
template <typename Proc>
Proc callbackAs(ASCallback callback) {
  return reinterpret_cast<Proc>(callbackProc(callback));
}

// Every host entry: counts the call, injects configured faults, and turns the PDF
// library's exceptions into raises once the entry's own locals are gone.
ASErrorCode codeOfCurrentException();
void countCall(const char* operation);
template <typename F>
auto hostEntry(const char* operation, F&& body) -> decltype(body()) {
  countCall(operation);
  ASErrorCode code = 0;
  try {
    return body();
  } catch (const pisdk::HostRaise&) {
    throw;
  } catch (...) {
    code = codeOfCurrentException();
  }
  raise(code);
}

// Handles checked against the host's tables (a stale or foreign one raises).
Document& documentOf(ASUns32 id);
Document& documentOf(PDDoc doc);
Document& documentOf(CosDoc doc);
QPDFObjectHandle& objectOf(CosObj obj);
CosObj cosObjOf(Document& doc, QPDFObjectHandle object);
PDDoc pdDocOf(Document& doc);
ASAtom atomOf(const std::string& text);
const std::string& atomText(ASAtom atom);
ASText newText(const std::string& utf8);
_t_ASCabRec& cabOf(ASCab cab);
void putCabValue(ASCab cab, const std::string& key, CabValue value);

// The operations of each table, by the names of pisdk/PIHFTs.h.
namespace ops {
#define VHOST_DECLARE_OP(name, result, params, args) result name params;
PI_CORE_HFT(VHOST_DECLARE_OP)
PI_ACROSUPPORT_HFT(VHOST_DECLARE_OP)
PI_ASEXTRA_HFT(VHOST_DECLARE_OP)
PI_COS_HFT(VHOST_DECLARE_OP)
PI_PDMODEL_HFT(VHOST_DECLARE_OP)
PI_ACROVIEW_HFT(VHOST_DECLARE_OP)
PI_WIN_HFT(VHOST_DECLARE_OP)
PI_PUBSEC_HFT(VHOST_DECLARE_OP)
PI_DIGSIG_HFT(VHOST_DECLARE_OP)
PI_CONSULTANT_HFT(VHOST_DECLARE_OP)
#undef VHOST_DECLARE_OP
}  // namespace ops

// Fonts of pages [first, last], each once, in page and resource order.
std::vector<FontRec*> documentFonts(Document& doc, int first, int last);
// The one font handle of a font dictionary (one per indirect object).
FontRec* fontRecOf(Document& doc, QPDFObjectHandle font);
// Terminal signature fields (inherited /FT /Sig) under /AcroForm /Fields, in order.
std::vector<QPDFObjectHandle> signatureFields(QPDF& qpdf);
std::string fieldName(QPDFObjectHandle field);

}  // namespace vhost
