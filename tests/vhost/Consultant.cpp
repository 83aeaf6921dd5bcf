// The PDF Consultant: a classifying walk over a document's object graph. Each object
// reached gets an object type from where it was reached (the container's type and
// key) refined by its content; each (object, type) pair is reported once to the agents
// that asked for the type, with the types of its containers. The rules are the table
// of docs/viewer.md; a visited set and a depth limit keep hostile graphs finite, and
// back-pointers (/Parent, /P, /Prev, /Last) are never followed.
#include <algorithm>
#include <functional>
#include <set>
#include <unordered_set>

#include "ViewerState.h"
#include "pisdk/PDFObjTypes.h"

namespace vhost {

namespace {

constexpr PDFObjType PT_NONE = -1;
constexpr int kMaxDepth = 256;

using Obj = QPDFObjectHandle;

bool nameIs(Obj dict, const char* key, const char* name) {
  return dict.isDictionary() && dict.getKey(key).isNameAndEquals(name);
}

PDFObjType byName(Obj dict, const char* key, const std::vector<std::pair<const char*, PDFObjType>>& table,
                  PDFObjType otherwise) {
  Obj name = dict.isDictionary() ? dict.getKey(key) : Obj::newNull();
  if (!name.isName()) return otherwise;
  for (auto& [text, type] : table) {
    if (name.getName() == text) return type;
  }
  return otherwise;
}

PDFObjType actionType(Obj action) {
  static const std::vector<std::pair<const char*, PDFObjType>> table = {
      {"/JavaScript", PT_JAVASCRIPTACTION}, {"/Launch", PT_LAUNCHACTION},   {"/GoToR", PT_GOTORACTION},
      {"/GoTo", PT_GOTOACTION},             {"/URI", PT_URIACTION},         {"/Thread", PT_THREADACTION},
      {"/Sound", PT_SOUNDACTION},           {"/Movie", PT_MOVIEACTION},     {"/Hide", PT_HIDEACTION},
      {"/SubmitForm", PT_FORMSUBMITACTION}, {"/ResetForm", PT_FORMRESETACTION},
      {"/ImportData", PT_FORMIMPORTACTION}, {"/Rendition", PT_RENDITIONACTION},
      {"/SetOCGState", PT_SETOCGSTATEACTION}, {"/Named", PT_NAMEDACTION}};
  return byName(action, "/S", table, PT_ACTION);
}

PDFObjType annotationType(Obj annot) {
  static const std::vector<std::pair<const char*, PDFObjType>> table = {
      {"/Link", PT_LINKANNOTATION},       {"/Widget", PT_WIDGETANNOTATION},   {"/Popup", PT_POPUPANNOTATION},
      {"/Text", PT_TEXTANNOTATION},       {"/FreeText", PT_FREETEXTANNOTATION}, {"/Square", PT_SQUAREANNOTATION},
      {"/Circle", PT_CIRCLEANNOTATION},   {"/Line", PT_LINEANNOTATION},       {"/Ink", PT_INKANNOTATION},
      {"/Stamp", PT_STAMPANNOTATION},     {"/Highlight", PT_HIGHLIGHTANNOTATION},
      {"/Underline", PT_UNDERLINEANNOTATION}, {"/StrikeOut", PT_STRIKEOUTANNOTATION},
      {"/FileAttachment", PT_FILEATTACHANNOTATION}, {"/Sound", PT_SOUNDANNOTATION},
      {"/Movie", PT_MOVIEANNOTATION},     {"/Screen", PT_SCREENANNOT},        {"/PrinterMark", PT_PRINTERMARKANNOTATION},
      {"/TrapNet", PT_TRAPNETANNOTATION}};
  return byName(annot, "/Subtype", table, PT_ANNOTATION);
}

PDFObjType fontType(Obj font) {
  static const std::vector<std::pair<const char*, PDFObjType>> table = {
      {"/Type1", PT_TYPE1FONT}, {"/TrueType", PT_TRUETYPEFONT}, {"/Type3", PT_TYPE3FONT},
      {"/Type0", PT_TYPE0FONT}, {"/MMType1", PT_MMTYPE1FONT}};
  return byName(font, "/Subtype", table, PT_FONT);
}

PDFObjType renditionType(Obj r) {
  return byName(r, "/S", {{"/MR", PT_MEDIARENDITION}, {"/SR", PT_SELECTORRENDITION}}, PT_RENDITION);
}

PDFObjType clipType(Obj c) {
  return byName(c, "/S", {{"/MCD", PT_MEDIACLIPDATA}, {"/MCS", PT_MEDIACLIPSECTION}}, PT_MEDIACLIP);
}

// A field's type from its own or its nearest ancestor's /FT.
PDFObjType fieldType(Obj field) {
  Obj f = field;
  std::set<QPDFObjGen> seen;
  for (int i = 0; i < 64 && f.isDictionary(); ++i) {
    if (f.isIndirect() && !seen.insert(f.getObjGen()).second) break;
    Obj ft = f.getKey("/FT");
    if (ft.isName()) {
      if (ft.getName() == "/Tx") return PT_TEXTFIELD;
      if (ft.getName() == "/Btn") return PT_BUTTONFIELD;
      if (ft.getName() == "/Ch") return PT_CHOICEFIELD;
      if (ft.getName() == "/Sig") return PT_SIGNATUREFIELD;
      return PT_FIELD;
    }
    f = f.getKey("/Parent");
  }
  return PT_FIELD;
}

bool isActionType(PDFObjType t) {
  static const std::set<PDFObjType> types = {
      PT_ACTION,          PT_JAVASCRIPTACTION, PT_LAUNCHACTION,    PT_GOTORACTION,      PT_GOTOACTION,
      PT_URIACTION,       PT_THREADACTION,     PT_SOUNDACTION,     PT_MOVIEACTION,      PT_HIDEACTION,
      PT_FORMSUBMITACTION, PT_FORMRESETACTION, PT_FORMIMPORTACTION, PT_RENDITIONACTION, PT_SETOCGSTATEACTION,
      PT_NAMEDACTION};
  return types.count(t) != 0;
}

bool isAnnotationType(PDFObjType t) {
  static const std::set<PDFObjType> types = {
      PT_ANNOTATION,       PT_LINKANNOTATION,      PT_WIDGETANNOTATION,    PT_POPUPANNOTATION,
      PT_TEXTANNOTATION,   PT_FREETEXTANNOTATION,  PT_SQUAREANNOTATION,    PT_CIRCLEANNOTATION,
      PT_LINEANNOTATION,   PT_INKANNOTATION,       PT_STAMPANNOTATION,     PT_HIGHLIGHTANNOTATION,
      PT_UNDERLINEANNOTATION, PT_STRIKEOUTANNOTATION, PT_FILEATTACHANNOTATION, PT_SOUNDANNOTATION,
      PT_MOVIEANNOTATION,  PT_SCREENANNOT,         PT_PRINTERMARKANNOTATION, PT_TRAPNETANNOTATION};
  return types.count(t) != 0;
}

bool isFieldType(PDFObjType t) {
  return t == PT_FIELD || t == PT_TEXTFIELD || t == PT_BUTTONFIELD || t == PT_CHOICEFIELD || t == PT_SIGNATUREFIELD;
}

bool isFunction(Obj v) { return v.isDictionary() || v.isStream() || v.isArray(); }

// An action, or an array of actions (/Next may be either).
PDFObjType actionOrList(Obj v) {
  if (v.isArray()) return PT_ACTIONSARRAY;
  return v.isDictionary() ? actionType(v) : PT_NONE;
}

PDFObjType shadingType(Obj shading) {
  Obj dict = shading.isStream() ? shading.getDict() : shading;
  if (!dict.isDictionary()) return PT_NONE;
  Obj t = dict.getKey("/ShadingType");
  if (t.isInteger() && t.getIntValue() >= 1 && t.getIntValue() <= 7) {
    return PT_TYPE1SHADING + static_cast<PDFObjType>(t.getIntValue()) - 1;
  }
  return PT_SHADING;
}

PDFObjType optionalContentType(Obj v) {
  if (nameIs(v, "/Type", "/OCG")) return PT_OCG;
  if (nameIs(v, "/Type", "/OCMD")) return PT_OCMD;
  return PT_NONE;
}

// A name tree's node types: root, kids array, intermediate node, leaf node, names
// array, and the type of its values.
struct NameTree {
  PDFObjType root, kids, intNode, leafNode, names;
  PDFObjType (*value)(Obj);
};
PDFObjType asAction(Obj v) { return actionOrList(v); }
PDFObjType asDestination(Obj v) { return v.isArray() || v.isDictionary() ? PT_DESTINATION : PT_NONE; }
PDFObjType asFileSpec(Obj v) { return v.isDictionary() || v.isString() ? PT_FILESPEC : PT_NONE; }
PDFObjType asTemplate(Obj v) { return v.isDictionary() ? PT_AFTEMPLATE : PT_NONE; }
PDFObjType asSlideShow(Obj v) { return nameIs(v, "/Type", "/SlideShow") ? PT_SLIDESHOW : PT_NONE; }
const NameTree kNameTrees[] = {
    {PT_NAMEDJAVASCRIPTTREE, PT_NAMEDJSCHILDREN, PT_NAMEDJSINTNODE, PT_NAMEDJSLEAFNODE, PT_NAMEDJSNAMEDCHILDREN,
     asAction},
    {PT_NAMEDDESTSTREE, PT_NAMEDDESTSCHILDREN, PT_NAMEDDESTSINTNODE, PT_NAMEDDESTSLEAFNODE,
     PT_NAMEDDESTSNAMEDCHILDREN, asDestination},
    {PT_EMBEDOBJTREE, PT_EMBEDOBJCHILDREN, PT_EMBEDOBJINTNODE, PT_EMBEDOBJLEAFNODE, PT_EMBEDOBJNAMEDCHILDREN,
     asFileSpec},
    {PT_ACROFORMSPAGESTREE, PT_AFPAGESCHILDREN, PT_AFPAGESINTNODE, PT_AFPAGESLEAFNODE, PT_AFPAGESNAMEDCHILDREN,
     asTemplate},
    {PT_ACROFORMSTEMPLATESTREE, PT_AFTEMPLATESCHILDREN, PT_AFTEMPLATESINTNODE, PT_AFTEMPLATESLEAFNODE,
     PT_AFTEMPLATESNAMEDCHILDREN, asTemplate},
    {PT_ALTERNATEPRESTREE, PT_ALTERNATEPRESCHILDREN, PT_ALTERNATEPRESINTNODE, PT_ALTERNATEPRESLEAFNODE,
     PT_ALTERNATEPRESNAMEDCHILDREN, asSlideShow},
};

// The type of `child`, reached from a container of type `parent` under `key` (an array
// element has the key "" and its index); PT_NONE: not followed.
PDFObjType classify(PDFObjType parent, const std::string& key, int index, Obj child) {
  for (const NameTree& tree : kNameTrees) {
    if (parent == tree.root || parent == tree.intNode || parent == tree.leafNode) {
      if (key == "/Kids") return child.isArray() ? tree.kids : PT_NONE;
      if (key == "/Names") return child.isArray() ? tree.names : PT_NONE;
      return PT_NONE;
    }
    if (parent == tree.kids) {
      if (!child.isDictionary()) return PT_NONE;
      return child.hasKey("/Kids") ? tree.intNode : tree.leafNode;
    }
    if (parent == tree.names) return index % 2 == 1 ? tree.value(child) : PT_NONE;
  }
  switch (parent) {
    case PT_CATALOG:
      if (key == "/Pages") return PT_PAGESNODE;
      if (key == "/AcroForm") return PT_FORMSDICT;
      if (key == "/OpenAction") return child.isArray() ? PT_DESTINATION : actionOrList(child);
      if (key == "/AA") return PT_AADICTIONARY;
      if (key == "/Names") return PT_NAMESDICT;
      if (key == "/Outlines") return PT_OUTLINETREE;
      if (key == "/URI") return PT_URIDICT;
      if (key == "/Dests") return PT_NAMEDDESTDICT;
      if (key == "/StructTreeRoot") return PT_STRUCTTREEROOT;
      if (key == "/OCProperties") return PT_OCPROPERTIES;
      return PT_NONE;
    case PT_PAGESNODE:
      if (key == "/Kids") return PT_PAGESARRAY;
      if (key == "/Resources") return PT_RESOURCEDICT;
      return PT_NONE;
    case PT_PAGESARRAY:
      if (!child.isDictionary()) return PT_NONE;
      return nameIs(child, "/Type", "/Pages") ? PT_PAGESNODE : PT_PAGE;
    case PT_PAGE:
    case PT_AFTEMPLATE:
      if (key == "/Annots") return PT_ANNOTSARRAY;
      if (key == "/AA") return PT_AADICTIONARY;
      if (key == "/Trans") return PT_TRANSITION;
      if (key == "/Resources") return PT_RESOURCEDICT;
      return PT_NONE;
    case PT_ANNOTSARRAY:
      return child.isDictionary() ? annotationType(child) : PT_NONE;
    case PT_AADICTIONARY:
    case PT_ACTIONSARRAY:
      return actionOrList(child);
    case PT_FORMSDICT:
      return key == "/Fields" ? PT_ROOTFIELDSLIST : PT_NONE;
    case PT_ROOTFIELDSLIST:
    case PT_FIELDCHILDREN:
      return child.isDictionary() ? fieldType(child) : PT_NONE;
    case PT_NAMESDICT:
      if (key == "/JavaScript") return PT_NAMEDJAVASCRIPTTREE;
      if (key == "/Dests") return PT_NAMEDDESTSTREE;
      if (key == "/EmbeddedFiles") return PT_EMBEDOBJTREE;
      if (key == "/Pages") return PT_ACROFORMSPAGESTREE;
      if (key == "/Templates") return PT_ACROFORMSTEMPLATESTREE;
      if (key == "/AlternatePresentations") return PT_ALTERNATEPRESTREE;
      return PT_NONE;
    case PT_NAMEDDESTDICT:
      return asDestination(child);
    case PT_OUTLINETREE:
      return key == "/First" && child.isDictionary() ? PT_OUTLINEENTRY : PT_NONE;
    case PT_OUTLINEENTRY:
      if ((key == "/First" || key == "/Next") && child.isDictionary()) return PT_OUTLINEENTRY;
      if (key == "/A") return actionOrList(child);
      if (key == "/Dest") return child.isArray() ? PT_DESTINATION : PT_NONE;
      return PT_NONE;
    case PT_RESOURCEDICT:
      if (!child.isDictionary()) return PT_NONE;
      if (key == "/ExtGState") return PT_EXTGSTATELIST;
      if (key == "/ColorSpace") return PT_COLORSPACELIST;
      if (key == "/Shading") return PT_SHADINGLIST;
      if (key == "/XObject") return PT_XOBJECTLIST;
      if (key == "/Pattern") return PT_PATTERNLIST;
      if (key == "/Font") return PT_FONTRESOURCELIST;
      if (key == "/Properties") return PT_MARKEDCONTENTLIST;
      return PT_NONE;
    case PT_EXTGSTATELIST:
      return child.isDictionary() ? PT_EXTGSTATE : PT_NONE;
    case PT_EXTGSTATE:
      if (key == "/TR") return isFunction(child) ? PT_TRFUNCTION : PT_NONE;
      if (key == "/TR2") return isFunction(child) ? PT_TR2FUNCTION : PT_NONE;
      if (key == "/BG") return isFunction(child) ? PT_BGFUNCTION : PT_NONE;
      if (key == "/BG2") return isFunction(child) ? PT_BG2FUNCTION : PT_NONE;
      if (key == "/UCR") return isFunction(child) ? PT_UCRFUNCTION : PT_NONE;
      if (key == "/UCR2") return isFunction(child) ? PT_UCR2FUNCTION : PT_NONE;
      if (key == "/HT") return child.isDictionary() || child.isStream() ? PT_HALFTONE : PT_NONE;
      if (key == "/SMask") return child.isDictionary() ? PT_SOFTMASKDICT : PT_NONE;
      return PT_NONE;
    case PT_SOFTMASKDICT:
      return key == "/G" && child.isStream() ? PT_TRANSPARENCYGROUP : PT_NONE;
    case PT_SHADINGLIST:
      return shadingType(child);
    case PT_XOBJECTLIST:
      if (!child.isStream()) return PT_NONE;
      if (nameIs(child.getDict(), "/Subtype", "/Form")) return PT_FORM;
      if (nameIs(child.getDict(), "/Subtype", "/PS")) return PT_POSTSCRIPT;
      if (nameIs(child.getDict(), "/Subtype", "/Image")) return PT_IMAGE;
      return PT_NONE;
    case PT_FORM:
    case PT_TRANSPARENCYGROUP:
    case PT_TILINGPATTERN:
    case PT_TYPE3FONT:
      if (key == "/Resources") return PT_RESOURCEDICT;
      if (key == "/OC") return optionalContentType(child);
      return PT_NONE;
    case PT_POSTSCRIPT:
      return key == "/Level1" && child.isStream() ? PT_LEVEL1POSTSCRIPT : PT_NONE;
    case PT_IMAGE:
      if (key == "/Alternates") return child.isArray() ? PT_ALTERNATEIMAGESARRAY : PT_NONE;
      if (key == "/OC") return optionalContentType(child);
      return PT_NONE;
    case PT_ALTERNATEIMAGESARRAY:
      return child.isDictionary() ? PT_ALTERNATEIMAGEDICT : PT_NONE;
    case PT_PATTERNLIST:
      if (child.isStream()) return PT_TILINGPATTERN;
      return child.isDictionary() ? PT_SHADINGPATTERN : PT_NONE;
    case PT_SHADINGPATTERN:
      if (key == "/Shading") return shadingType(child);
      if (key == "/ExtGState") return child.isDictionary() ? PT_EXTGSTATE : PT_NONE;
      return PT_NONE;
    case PT_FONTRESOURCELIST:
      return child.isDictionary() ? fontType(child) : PT_NONE;
    case PT_MARKEDCONTENTLIST:
      return optionalContentType(child);
    case PT_STRUCTTREEROOT:
    case PT_STRUCTELEMENT:
    case PT_STRUCTELEMLIST:
      if (parent == PT_STRUCTELEMLIST || key == "/K") {
        if (child.isArray() && parent != PT_STRUCTELEMLIST) return PT_STRUCTELEMLIST;
        return child.isDictionary() && child.hasKey("/S") ? PT_STRUCTELEMENT : PT_NONE;
      }
      if (parent == PT_STRUCTTREEROOT) {
        if (key == "/RoleMap") return PT_STRUCTROLEMAP;
        if (key == "/ClassMap") return PT_STRUCTCLASSMAP;
        return PT_NONE;
      }
      if (key == "/A") {
        if (child.isArray()) return PT_STRUCTELEMATTRARRAY;
        return child.isDictionary() ? PT_STRUCTELEMATTR : PT_NONE;
      }
      if (key == "/Alt") return child.isString() ? PT_ALTERNATETEXT : PT_NONE;
      if (key == "/ActualText") return child.isString() ? PT_ACTUALTEXT : PT_NONE;
      return PT_NONE;
    case PT_STRUCTELEMATTRARRAY:
      return child.isDictionary() ? PT_STRUCTELEMATTR : PT_NONE;
    case PT_OCPROPERTIES:
      if (key == "/OCGs") return child.isArray() ? PT_OCGSARRAY : PT_NONE;
      if (key == "/D") return child.isDictionary() ? PT_OCCONFIGDICT : PT_NONE;
      if (key == "/Configs") return child.isArray() ? PT_OCCONFIGSARRAY : PT_NONE;
      return PT_NONE;
    case PT_OCGSARRAY:
      return child.isDictionary() ? PT_OCG : PT_NONE;
    case PT_OCCONFIGSARRAY:
      return child.isDictionary() ? PT_OCCONFIGDICT : PT_NONE;
    case PT_OCG:
      return key == "/Usage" && child.isDictionary() ? PT_OCGUSAGE : PT_NONE;
    case PT_OCCONFIGDICT:
      return key == "/AS" && child.isArray() ? PT_OCASARRAY : PT_NONE;
    case PT_OCASARRAY:
      return child.isDictionary() ? PT_OCUSAGEAPPLICATION : PT_NONE;
    case PT_FILESPEC:
      if (key == "/EF") return child.isDictionary() ? PT_FILESPECEMBEDDEDFILEDICT : PT_NONE;
      if (key == "/ID") return child.isArray() ? PT_FILESPECID : PT_NONE;
      return PT_NONE;
    case PT_FILESPECEMBEDDEDFILEDICT:
      return child.isStream() ? PT_EMBEDDEFILESTREAM : PT_NONE;
    case PT_EMBEDDEFILESTREAM:
      return key == "/Params" && child.isDictionary() ? PT_EMBEDDEFILESTRMPARAMSDICT : PT_NONE;
    case PT_EMBEDDEFILESTRMPARAMSDICT:
      return key == "/Mac" && child.isDictionary() ? PT_EMBEDDEFILESTRMMACPARAMS : PT_NONE;
    case PT_EMBEDDEFILESTRMMACPARAMS:
      return key == "/ResFork" && child.isStream() ? PT_EMBEDDEDFILESTRMRESFORK : PT_NONE;
    case PT_SELECTORRENDITION:
      if (key == "/R") return child.isArray() ? PT_RENDITIONSLIST : PT_NONE;
      [[fallthrough]];
    case PT_RENDITION:
    case PT_MEDIARENDITION:
      if (key == "/MH" || key == "/BE") return child.isDictionary() ? PT_MEDIACRITERIA : PT_NONE;
      if (parent != PT_MEDIARENDITION) return PT_NONE;
      if (key == "/C") return child.isDictionary() ? clipType(child) : PT_NONE;
      if (key == "/P") return child.isDictionary() ? PT_MEDIAPLAYPARAMS : PT_NONE;
      if (key == "/SP") return child.isDictionary() ? PT_MEDIASCREENPARAMS : PT_NONE;
      return PT_NONE;
    case PT_RENDITIONSLIST:
      return child.isDictionary() ? renditionType(child) : PT_NONE;
    case PT_MEDIACLIPDATA:
      if (key == "/P") return child.isDictionary() ? PT_MEDIAPERMSDICT : PT_NONE;
      if (key == "/PL") return child.isDictionary() ? PT_MEDIAPLAYERS : PT_NONE;
      if (key == "/D") return asFileSpec(child);
      return PT_NONE;
    case PT_MEDIACLIPSECTION:
      return key == "/D" && child.isDictionary() ? clipType(child) : PT_NONE;
    case PT_MEDIAPLAYPARAMS:
      return key == "/PL" && child.isDictionary() ? PT_MEDIAPLAYERS : PT_NONE;
    case PT_MEDIAPLAYERS:
      return (key == "/MU" || key == "/A" || key == "/NU") && child.isArray() ? PT_MEDIAPLAYINFOARRAY : PT_NONE;
    case PT_MEDIAPLAYINFOARRAY:
      return child.isDictionary() ? PT_MEDIAPLAYINFO : PT_NONE;
    default:
      break;
  }
  if (isAnnotationType(parent)) {
    if (key == "/A") return actionOrList(child);
    if (key == "/AA") return PT_AADICTIONARY;
    if (key == "/Popup") return child.isDictionary() ? PT_POPUPANNOTATION : PT_NONE;
    if (key == "/Dest") return child.isArray() ? PT_DESTINATION : PT_NONE;
    if (key == "/FS") return asFileSpec(child);
    if (key == "/Sound") return child.isStream() ? PT_SOUNDSTREAM : PT_NONE;
    if (key == "/OC") return optionalContentType(child);
    return PT_NONE;
  }
  if (isActionType(parent)) {
    if (key == "/Next") return actionOrList(child);
    if (key == "/JS") return child.isString() || child.isStream() ? PT_JAVASCRIPT : PT_NONE;
    if (key == "/D" && (parent == PT_GOTOACTION || parent == PT_GOTORACTION)) {
      return child.isArray() ? PT_DESTINATION : PT_NONE;
    }
    if (key == "/F" && (parent == PT_GOTORACTION || parent == PT_LAUNCHACTION)) return asFileSpec(child);
    if (key == "/URI" && parent == PT_URIACTION) return child.isString() ? PT_URL : PT_NONE;
    if (key == "/Sound" && parent == PT_SOUNDACTION) return child.isStream() ? PT_SOUNDSTREAM : PT_NONE;
    if (key == "/R" && parent == PT_RENDITIONACTION) return child.isDictionary() ? renditionType(child) : PT_NONE;
    return PT_NONE;
  }
  if (isFieldType(parent)) {
    if (key == "/Kids") return PT_FIELDCHILDREN;
    if (key == "/A") return actionOrList(child);
    if (key == "/AA") return PT_AADICTIONARY;
    return PT_NONE;
  }
  return PT_NONE;
}

struct ReportKey {
  QPDFObjGen object;
  PDFObjType type;
  bool operator==(const ReportKey& o) const { return object == o.object && type == o.type; }
};
struct ReportKeyHash {
  size_t operator()(const ReportKey& k) const {
    return (static_cast<size_t>(k.object.getObj()) * 1000003u) ^ (static_cast<size_t>(k.object.getGen()) << 20) ^
           static_cast<size_t>(k.type);
  }
};

class Walk {
 public:
  Walk(ConsultantRec& consultant, Consultant handle, Document& doc)
      : consultant_(consultant), handle_(handle), doc_(doc) {
    total_ = std::max<size_t>(1, doc.qpdf->getObjectCount());
    for (const ConsultantAgentRec* agent : consultant.agents) {
      requested_.emplace_back(agent->requestedTypes, agent->requestedTypes + agent->numRequestedTypes);
    }
  }

  // Visits the object and, for a chain of siblings (outline entries' /Next), each
  // sibling in turn at the same depth, so that long chains need no deep recursion.
  void visit(Obj object, PDFObjType type, std::vector<PDFObjType>& path) {
    while (!object.isNull()) object = visitOne(object, type, path);
  }

  void report(Obj object, const std::vector<PDFObjType>& path) {
    if (path.empty()) return;
    for (size_t i = 0; i < consultant_.agents.size(); ++i) {
      if (requested_[i].count(path.front()) == 0) continue;
      auto found = callbackAs<ConsultantObjFoundProc>(consultant_.agents[i]->objFound);
      found(handle_, cosObjOf(doc_, object), path.data(), static_cast<ASUns32>(path.size()), nullptr);
    }
  }

 private:
  // Answers the next sibling to visit, or the null object.
  Obj visitOne(Obj object, PDFObjType type, std::vector<PDFObjType>& path) {
    Obj sibling = Obj::newNull();
    if (static_cast<int>(path.size()) >= kMaxDepth) return sibling;
    if (object.isIndirect() && !reported_.insert({object.getObjGen(), type}).second) return sibling;
    path.insert(path.begin(), type);
    report(object, path);
    progress();
    Obj container = object.isStream() ? object.getDict() : object;
    if (container.isDictionary()) {
      for (const std::string& key : container.getKeys()) {
        Obj child = container.getKey(key);
        PDFObjType t = classify(type, key, 0, child);
        if (t == PT_NONE) continue;
        if (type == PT_OUTLINEENTRY && key == "/Next") {
          sibling = child;
        } else {
          visit(child, t, path);
        }
      }
    } else if (container.isArray()) {
      int n = container.getArrayNItems();
      for (int i = 0; i < n; ++i) {
        Obj child = container.getArrayItem(i);
        PDFObjType t = classify(type, "", i, child);
        if (t != PT_NONE) visit(child, t, path);
      }
    }
    path.erase(path.begin());
    return sibling;
  }

  void progress() {
    ++visited_;
    if (!consultant_.progress) return;
    float value = std::min(100.0f, 100.0f * static_cast<float>(visited_) / static_cast<float>(total_));
    if (value > lastProgress_) {
      lastProgress_ = value;
      callbackAs<ConsultantProgressProc>(consultant_.progress)(value);
    }
  }

  ConsultantRec& consultant_;
  Consultant handle_;
  Document& doc_;
  std::vector<std::unordered_set<PDFObjType>> requested_;
  std::unordered_set<ReportKey, ReportKeyHash> reported_;
  size_t visited_ = 0, total_ = 1;
  float lastProgress_ = 0;
};

ConsultantRec& consultantOf(Consultant c) {
  auto it = state().consultants.find(c);
  if (it == state().consultants.end()) raise(asErrBadHandle);
  return *it->second;
}

}  // namespace

namespace ops {

Consultant ConsultantCreate(ASCallback progress) {
  return hostEntry(__func__, [&] {
    if (progress) callbackProc(progress);
    if (state().config.consultantUnavailable) return static_cast<Consultant>(nullptr);
    auto rec = std::make_unique<ConsultantRec>();
    rec->progress = progress;
    Consultant c = reinterpret_cast<Consultant>(rec.get());
    state().consultants.emplace(c, std::move(rec));
    return c;
  });
}

// The agent record stays the caller's and must stay in place while it is registered.
void ConsultantRegisterAgent(Consultant consultant, const ConsultantAgentRec* agent, ASUns32 /*flags*/) {
  hostEntry(__func__, [&] {
    ConsultantRec& c = consultantOf(consultant);
    if (agent == nullptr || agent->size != sizeof(ConsultantAgentRec) ||
        (agent->numRequestedTypes > 0 && agent->requestedTypes == nullptr)) {
      raise(genErrBadParm);
    }
    callbackProc(agent->objFound);
    if (agent->postProcess) callbackProc(agent->postProcess);
    c.agents.push_back(agent);
  });
}

void ConsultantTraverseFrom(Consultant consultant, CosObj start, PDFObjType startType) {
  hostEntry(__func__, [&] {
    ConsultantRec& c = consultantOf(consultant);
    QPDFObjectHandle object = objectOf(start);
    Document& doc = documentOf(start.doc);
    Walk walk(c, consultant, doc);
    if (state().config.consultantScript.empty()) {
      std::vector<PDFObjType> path;
      walk.visit(object, startType, path);
    } else {
      for (const ScriptedReport& r : state().config.consultantScript) {
        QPDFObjectHandle scripted = r.object.rfind("R ", 0) == 0
                                        ? doc.qpdf->getObjectByID(std::stoi(r.object.substr(2)), 0)
                                        : QPDFObjectHandle::parse(r.object);
        walk.report(scripted, r.hierarchy);
      }
    }
    for (const ConsultantAgentRec* agent : c.agents) {
      if (agent->postProcess) callbackAs<ConsultantPostProcessProc>(agent->postProcess)();
    }
  });
}

void ConsultantDestroy(Consultant consultant) {
  hostEntry(__func__, [&] {
    consultantOf(consultant);
    state().consultants.erase(consultant);
  });
}

}  // namespace ops
}  // namespace vhost
