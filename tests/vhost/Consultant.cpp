// The PDF Consultant: a classifying walk over a document's object graph. Each object
// reached gets an object type from where it was reached (the container's type and
// key) refined by its content; each (object, type) pair is reported once to the agents
// that asked for the type, with the types of its containers. The rules are written
// down in docs/viewer-consultant.md; a visited set and a depth limit keep hostile
// graphs finite.
#include <algorithm>
#include <set>

#include "ViewerState.h"

namespace vhost {

namespace {

constexpr PDFObjType PT_AADICTIONARY = 0, PT_ACTION = 3, PT_ANNOTATION = 13, PT_ANNOTSARRAY = 14,
                     PT_DESTINATION = 30, PT_FIELD = 41, PT_FIELDCHILDREN = 42, PT_FORMSDICT = 50,
                     PT_NAMEDJAVASCRIPTTREE = 76, PT_NAMESDICT = 82, PT_OUTLINETREE = 90, PT_PAGE = 91,
                     PT_PAGESARRAY = 92, PT_PAGESNODE = 94, PT_RESOURCEDICT = 100,
                     PT_ROOTFIELDSLIST = 102, PT_ACTIONSARRAY = 4, PT_JAVASCRIPT = 225,
                     PT_TRANSITION = 281, PT_URIDICT = 294, PT_NONE = -1;
constexpr int kMaxDepth = 256;

PDFObjType byName(QPDFObjectHandle dict, const char* key,
                  const std::vector<std::pair<const char*, PDFObjType>>& table, PDFObjType otherwise) {
  QPDFObjectHandle name = dict.getKey(key);
  if (!name.isName()) return otherwise;
  for (auto& [text, type] : table) {
    if (name.getName() == text) return type;
  }
  return otherwise;
}

PDFObjType actionType(QPDFObjectHandle action) {
  static const std::vector<std::pair<const char*, PDFObjType>> table = {
      {"/JavaScript", 58}, {"/Launch", 229}, {"/GoToR", 214},     {"/GoTo", 53},
      {"/URI", 293},       {"/Thread", 276}, {"/Sound", 264},     {"/Movie", 235},
      {"/Hide", 219},      {"/SubmitForm", 209}, {"/ResetForm", 208}, {"/ImportData", 206},
      {"/Rendition", 479}, {"/SetOCGState", 499}};
  return byName(action, "/S", table, PT_ACTION);
}

PDFObjType annotationType(QPDFObjectHandle annot) {
  static const std::vector<std::pair<const char*, PDFObjType>> table = {
      {"/Link", 61},        {"/Widget", 151},   {"/Popup", 247},     {"/Text", 274},
      {"/FreeText", 210},   {"/Square", 266},   {"/Circle", 176},    {"/Line", 231},
      {"/Ink", 224},        {"/Stamp", 267},    {"/Highlight", 220}, {"/Underline", 291},
      {"/StrikeOut", 270},  {"/FileAttachment", 200}, {"/Sound", 265}, {"/Movie", 236},
      {"/Screen", 478},     {"/PrinterMark", 97}, {"/TrapNet", 282}};
  return byName(annot, "/Subtype", table, PT_ANNOTATION);
}

PDFObjType fieldType(QPDFObjectHandle field) {
  QPDFObjectHandle f = field;
  std::set<QPDFObjGen> seen;
  for (int i = 0; i < 64 && f.isDictionary(); ++i) {
    if (f.isIndirect() && !seen.insert(f.getObjGen()).second) break;
    QPDFObjectHandle ft = f.getKey("/FT");
    if (ft.isName()) {
      if (ft.getName() == "/Tx") return 275;
      if (ft.getName() == "/Btn") return 170;
      if (ft.getName() == "/Ch") return 25;
      return PT_FIELD;
    }
    f = f.getKey("/Parent");
  }
  return PT_FIELD;
}

bool isActionType(PDFObjType t) {
  return t == PT_ACTION || t == 58 || t == 229 || t == 214 || t == 53 || t == 293 || t == 276 ||
         t == 264 || t == 235 || t == 219 || t == 209 || t == 208 || t == 206 || t == 479 || t == 499;
}

bool isAnnotationType(PDFObjType t) {
  static const std::set<PDFObjType> types = {PT_ANNOTATION, 61, 151, 247, 274, 210, 266, 176, 231, 224,
                                             267, 220, 291, 270, 200, 265, 236, 478, 97, 282};
  return types.count(t) != 0;
}

bool isFieldType(PDFObjType t) { return t == PT_FIELD || t == 275 || t == 170 || t == 25; }

// An action, or an array of actions (/Next may be either).
PDFObjType actionOrList(QPDFObjectHandle v) {
  if (v.isArray()) return PT_ACTIONSARRAY;
  return v.isDictionary() ? actionType(v) : PT_NONE;
}

// The type of `child`, reached from a container of type `parent` under `key` (an array
// element has the key ""); PT_NONE: not followed.
PDFObjType classify(PDFObjType parent, const std::string& key, QPDFObjectHandle child) {
  if (parent == PT_CATALOG) {
    if (key == "/Pages") return PT_PAGESNODE;
    if (key == "/AcroForm") return PT_FORMSDICT;
    if (key == "/OpenAction") return child.isArray() ? PT_DESTINATION : actionOrList(child);
    if (key == "/AA") return PT_AADICTIONARY;
    if (key == "/Names") return PT_NAMESDICT;
    if (key == "/Outlines") return PT_OUTLINETREE;
    if (key == "/URI") return PT_URIDICT;
    return PT_NONE;
  }
  if (parent == PT_PAGESNODE) return key == "/Kids" ? PT_PAGESARRAY : PT_NONE;
  if (parent == PT_PAGESARRAY) {
    if (!child.isDictionary()) return PT_NONE;
    return child.getKey("/Type").isNameAndEquals("/Pages") ? PT_PAGESNODE : PT_PAGE;
  }
  if (parent == PT_PAGE) {
    if (key == "/Annots") return PT_ANNOTSARRAY;
    if (key == "/AA") return PT_AADICTIONARY;
    if (key == "/Trans") return PT_TRANSITION;
    if (key == "/Resources") return PT_RESOURCEDICT;
    return PT_NONE;
  }
  if (parent == PT_ANNOTSARRAY) return child.isDictionary() ? annotationType(child) : PT_NONE;
  if (isAnnotationType(parent)) {
    if (key == "/A") return actionOrList(child);
    if (key == "/AA") return PT_AADICTIONARY;
    if (key == "/Popup") return 247;
    return PT_NONE;
  }
  if (parent == PT_AADICTIONARY) return actionOrList(child);
  if (parent == PT_ACTIONSARRAY) return actionOrList(child);
  if (isActionType(parent)) {
    if (key == "/Next") return actionOrList(child);
    if (key == "/JS") return PT_JAVASCRIPT;
    return PT_NONE;
  }
  if (parent == PT_FORMSDICT) return key == "/Fields" ? PT_ROOTFIELDSLIST : PT_NONE;
  if (parent == PT_ROOTFIELDSLIST || parent == PT_FIELDCHILDREN) {
    return child.isDictionary() ? fieldType(child) : PT_NONE;
  }
  if (isFieldType(parent)) {
    if (key == "/Kids") return PT_FIELDCHILDREN;
    if (key == "/A") return actionOrList(child);
    if (key == "/AA") return PT_AADICTIONARY;
    return PT_NONE;
  }
  if (parent == PT_NAMESDICT) return key == "/JavaScript" ? PT_NAMEDJAVASCRIPTTREE : PT_NONE;
  return PT_NONE;
}

class Walk {
 public:
  Walk(ConsultantRec& consultant, Consultant handle, Document& doc)
      : consultant_(consultant), handle_(handle), doc_(doc) {
    total_ = std::max<size_t>(1, doc.qpdf->getObjectCount());
  }

  void visit(QPDFObjectHandle object, PDFObjType type, std::vector<PDFObjType>& path) {
    if (static_cast<int>(path.size()) >= kMaxDepth) return;
    if (object.isIndirect() && !reported_.insert({object.getObjGen(), type}).second) return;
    path.insert(path.begin(), type);
    report(object, path);
    progress();
    QPDFObjectHandle container = object.isStream() ? object.getDict() : object;
    if (container.isDictionary()) {
      for (const std::string& key : container.getKeys()) {
        QPDFObjectHandle child = container.getKey(key);
        PDFObjType t = classify(type, key, child);
        if (t != PT_NONE) visit(child, t, path);
      }
    } else if (container.isArray()) {
      for (QPDFObjectHandle child : container.getArrayAsVector()) {
        PDFObjType t = classify(type, "", child);
        if (t != PT_NONE) visit(child, t, path);
      }
    }
    path.erase(path.begin());
  }

  void report(QPDFObjectHandle object, const std::vector<PDFObjType>& path) {
    if (path.empty()) return;
    for (const ConsultantAgentRec* agent : consultant_.agents) {
      const PDFObjType* begin = agent->requestedTypes;
      const PDFObjType* end = begin + agent->numRequestedTypes;
      if (std::find(begin, end, path.front()) == end) continue;
      auto found = callbackAs<ConsultantObjFoundProc>(agent->objFound);
      found(handle_, cosObjOf(doc_, object), path.data(), static_cast<ASUns32>(path.size()), nullptr);
    }
  }

 private:
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
  std::set<std::pair<QPDFObjGen, PDFObjType>> reported_;
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
