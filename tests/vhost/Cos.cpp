// Cos, PDModel and DigSig over qpdf: the document's objects, pages, annotations, fonts
// and signature fields. Everything read here is untrusted PDF content: wrong types
// raise, every walk keeps a visited set.
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "ViewerState.h"

namespace vhost {

namespace {

std::string withSlash(ASAtom key) { return "/" + atomText(key); }

ASAtom nameAtom(QPDFObjectHandle name) {
  std::string text = name.getName();
  return atomOf(text.empty() ? text : text.substr(1));
}

// A number as 16.16 fixed point; one outside its range raises.
ASFixed fixedOf(QPDFObjectHandle number) {
  double v = number.getNumericValue() * 65536.0;
  if (!(v >= std::numeric_limits<ASFixed>::min() && v <= std::numeric_limits<ASFixed>::max())) {
    raise(cosErrExpectedNumber);
  }
  return static_cast<ASFixed>(std::lround(v));
}

PageRec& pageOf(PDPage page) {
  auto it = state().pages.find(page);
  if (it == state().pages.end()) raise(asErrBadHandle);
  return *it->second;
}

FontRec& fontOf(PDFont font) {
  auto it = state().fontIndex.find(font);
  if (it == state().fontIndex.end()) raise(pdErrBadFont);
  return *it->second;
}

bool isCIDFontDictionary(QPDFObjectHandle font) {
  if (!font.isDictionary()) return false;
  QPDFObjectHandle subtype = font.getKey("/Subtype");
  return subtype.isNameAndEquals("/CIDFontType0") || subtype.isNameAndEquals("/CIDFontType2");
}

// A Type0 font's descendant: the first of /DescendantFonts, when it is a CID font other
// than the font itself; anything else (a Type0 again, a cycle) is no descendant.
QPDFObjectHandle descendantOf(QPDFObjectHandle font) {
  QPDFObjectHandle kids = font.getKey("/DescendantFonts");
  if (!kids.isArray() || kids.getArrayNItems() < 1) return QPDFObjectHandle::newNull();
  QPDFObjectHandle kid = kids.getArrayItem(0);
  if (!isCIDFontDictionary(kid)) return QPDFObjectHandle::newNull();
  if (kid.isIndirect() && font.isIndirect() && kid.getObjGen() == font.getObjGen()) {
    return QPDFObjectHandle::newNull();
  }
  return kid;
}

QPDFObjectHandle dictOf(CosObj obj) {
  QPDFObjectHandle h = objectOf(obj);
  if (h.isStream()) return h.getDict();
  if (!h.isDictionary()) raise(cosErrExpectedDict);
  return h;
}

}  // namespace

Document& documentOf(ASUns32 id) {
  auto& docs = state().documents;
  if (id == 0 || id > docs.size() || !docs[id - 1]) raise(cosErrBadObject);
  return *docs[id - 1];
}

Document& documentOf(PDDoc doc) {
  for (auto& d : state().documents) {
    if (d && reinterpret_cast<PDDoc>(d.get()) == doc) return *d;
  }
  raise(pdErrBadDocument);
}

Document& documentOf(CosDoc doc) { return documentOf(reinterpret_cast<PDDoc>(doc)); }

PDDoc pdDocOf(Document& doc) { return reinterpret_cast<PDDoc>(&doc); }

QPDFObjectHandle& objectOf(CosObj obj) {
  static QPDFObjectHandle nullObject = QPDFObjectHandle::newNull();
  if (obj.doc == 0 && obj.slot == 0) return nullObject;
  Document& doc = documentOf(obj.doc);
  if (obj.slot == 0 || obj.slot >= doc.slots.size()) raise(cosErrBadObject);
  return doc.slots[obj.slot].object;
}

CosObj cosObjOf(Document& doc, QPDFObjectHandle object) {
  if (object.isIndirect()) {
    auto it = doc.indirectSlots.find(object.getObjGen());
    if (it != doc.indirectSlots.end()) return CosObj{doc.id, it->second};
  }
  if (doc.slots.size() >= std::numeric_limits<ASUns32>::max()) raise(genErrNoMemory);
  ASUns32 slot = static_cast<ASUns32>(doc.slots.size());
  if (object.isIndirect()) doc.indirectSlots.emplace(object.getObjGen(), slot);
  doc.slots.push_back(CosSlot{std::move(object), nullptr});
  return CosObj{doc.id, slot};
}

std::string fieldName(QPDFObjectHandle field) {
  std::string name;
  std::set<QPDFObjGen> seen;
  while (field.isDictionary() && (!field.isIndirect() || seen.insert(field.getObjGen()).second)) {
    QPDFObjectHandle t = field.getKey("/T");
    if (t.isString()) name = name.empty() ? t.getUTF8Value() : t.getUTF8Value() + "." + name;
    field = field.getKey("/Parent");
  }
  return name;
}

std::vector<QPDFObjectHandle> signatureFields(QPDF& qpdf) {
  std::vector<QPDFObjectHandle> found;
  QPDFObjectHandle fields = qpdf.getRoot().getKey("/AcroForm").getKey("/Fields");
  if (!fields.isArray()) return found;
  std::set<QPDFObjGen> visited;
  // Depth first in array order; /FT is inherited from the parent fields.
  struct Walk {
    std::vector<QPDFObjectHandle>& found;
    std::set<QPDFObjGen>& visited;
    void field(QPDFObjectHandle f, const std::string& inheritedType, int depth) {
      if (!f.isDictionary() || depth > 64) return;
      if (f.isIndirect() && !visited.insert(f.getObjGen()).second) return;
      std::string type = f.getKey("/FT").isName() ? f.getKey("/FT").getName() : inheritedType;
      QPDFObjectHandle kids = f.getKey("/Kids");
      bool hasFieldKids = false;
      if (kids.isArray()) {
        for (auto& kid : kids.getArrayAsVector()) {
          if (kid.isDictionary() && kid.hasKey("/T")) hasFieldKids = true;
        }
      }
      if (hasFieldKids) {
        for (auto& kid : kids.getArrayAsVector()) field(kid, type, depth + 1);
      } else if (type == "/Sig") {
        found.push_back(f);
      }
    }
  } walk{found, visited};
  for (auto& f : fields.getArrayAsVector()) walk.field(f, "", 0);
  return found;
}

FontRec* fontRecOf(Document& doc, QPDFObjectHandle font) {
  if (font.isIndirect()) {
    auto it = doc.fontByObject.find(font.getObjGen());
    if (it != doc.fontByObject.end()) return it->second;
  }
  doc.fonts.push_back(std::make_unique<FontRec>(FontRec{&doc, font}));
  FontRec* rec = doc.fonts.back().get();
  if (font.isIndirect()) doc.fontByObject.emplace(font.getObjGen(), rec);
  state().fontIndex.emplace(reinterpret_cast<PDFont>(rec), rec);
  return rec;
}

// The fonts of the pages' resources (inherited ones included), of the form XObjects they
// name and of the Type3 fonts' own resources, recursively; each font once. Appearance
// streams of annotations are not looked at.
std::vector<FontRec*> documentFonts(Document& doc, int first, int last) {
  std::vector<FontRec*> fonts;
  std::set<FontRec*> listed;
  std::set<QPDFObjGen> visitedResources;
  std::function<void(QPDFObjectHandle, int)> resources;
  auto addFont = [&](QPDFObjectHandle font, int depth) {
    if (!font.isDictionary()) return;
    FontRec* rec = fontRecOf(doc, font);
    if (!listed.insert(rec).second) return;
    fonts.push_back(rec);
    if (font.getKey("/Subtype").isNameAndEquals("/Type3")) resources(font.getKey("/Resources"), depth + 1);
  };
  resources = [&](QPDFObjectHandle res, int depth) {
    if (!res.isDictionary() || depth > 32) return;
    if (res.isIndirect() && !visitedResources.insert(res.getObjGen()).second) return;
    QPDFObjectHandle fontDict = res.getKey("/Font");
    if (fontDict.isDictionary()) {
      for (auto& key : fontDict.getKeys()) addFont(fontDict.getKey(key), depth);
    }
    QPDFObjectHandle xobjects = res.getKey("/XObject");
    if (xobjects.isDictionary()) {
      for (auto& key : xobjects.getKeys()) {
        QPDFObjectHandle x = xobjects.getKey(key);
        if (x.isStream() && x.getDict().getKey("/Subtype").isNameAndEquals("/Form")) {
          if (!visitedResources.insert(x.getObjGen()).second) continue;
          resources(x.getDict().getKey("/Resources"), depth + 1);
        }
      }
    }
  };
  const std::vector<QPDFObjectHandle>& pages = doc.qpdf->getAllPages();
  for (int i = std::max(first, 0); i <= last && i < static_cast<int>(pages.size()); ++i) {
    resources(QPDFPageObjectHelper(pages[static_cast<size_t>(i)]).getAttribute("/Resources", false), 0);
  }
  return fonts;
}

namespace ops {

// --- Cos ------------------------------------------------------------------------------------

CosType CosObjGetType(CosObj obj) {
  return hostEntry(__func__, [&]() -> CosType {
    QPDFObjectHandle& h = objectOf(obj);
    if (h.isInteger()) return CosInteger;
    if (h.isReal()) return CosFixed;
    if (h.isBool()) return CosBoolean;
    if (h.isName()) return CosName;
    if (h.isString()) return CosString;
    if (h.isStream()) return CosStream;
    if (h.isDictionary()) return CosDict;
    if (h.isArray()) return CosArray;
    return CosNull;
  });
}

CosDoc CosObjGetDoc(CosObj obj) {
  return hostEntry(__func__, [&]() -> CosDoc {
    objectOf(obj);
    if (obj.doc == 0) return nullptr;
    return reinterpret_cast<CosDoc>(&documentOf(obj.doc));
  });
}

CosObj CosDictGet(CosObj dict, ASAtom key) {
  return hostEntry(__func__, [&]() -> CosObj {
    QPDFObjectHandle value = dictOf(dict).getKey(withSlash(key));
    if (value.isNull()) return CosObj{0, 0};
    return cosObjOf(documentOf(dict.doc), value);
  });
}

ASBool CosDictKnown(CosObj dict, ASAtom key) {
  return hostEntry(__func__, [&]() -> ASBool {
    QPDFObjectHandle d = dictOf(dict);
    return d.hasKey(withSlash(key)) && !d.getKey(withSlash(key)).isNull();
  });
}

CosObj CosArrayGet(CosObj array, ASInt32 index) {
  return hostEntry(__func__, [&]() -> CosObj {
    QPDFObjectHandle& a = objectOf(array);
    if (!a.isArray()) raise(cosErrExpectedArray);
    if (index < 0 || index >= a.getArrayNItems()) return CosObj{0, 0};
    QPDFObjectHandle item = a.getArrayItem(index);
    if (item.isNull()) return CosObj{0, 0};
    return cosObjOf(documentOf(array.doc), item);
  });
}

ASInt32 CosArrayLength(CosObj array) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    QPDFObjectHandle& a = objectOf(array);
    if (!a.isArray()) raise(cosErrExpectedArray);
    return a.getArrayNItems();
  });
}

ASInt32 CosIntegerValue(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    QPDFObjectHandle& h = objectOf(obj);
    if (h.isInteger()) {
      long long v = h.getIntValue();
      if (v < std::numeric_limits<ASInt32>::min() || v > std::numeric_limits<ASInt32>::max()) {
        raise(cosErrExpectedNumber);
      }
      return static_cast<ASInt32>(v);
    }
    if (h.isReal()) {
      double v = h.getNumericValue();
      if (!(v >= std::numeric_limits<ASInt32>::min() && v <= std::numeric_limits<ASInt32>::max())) {
        raise(cosErrExpectedNumber);
      }
      return static_cast<ASInt32>(v);
    }
    raise(cosErrExpectedNumber);
  });
}

ASFixed CosFixedValue(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASFixed {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isNumber()) raise(cosErrExpectedNumber);
    return fixedOf(h);
  });
}

ASBool CosBooleanValue(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASBool {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isBool()) raise(cosErrExpectedBoolean);
    return h.getBoolValue();
  });
}

ASAtom CosNameValue(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASAtom {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isName()) raise(cosErrExpectedName);
    return nameAtom(h);
  });
}

const char* CosStringValue(CosObj obj, ASInt32* length) {
  return hostEntry(__func__, [&]() -> const char* {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isString()) raise(cosErrExpectedString);
    CosSlot& slot = documentOf(obj.doc).slots[obj.slot];
    if (!slot.bytes) slot.bytes = std::make_unique<std::string>(h.getStringValue());
    if (slot.bytes->size() > static_cast<size_t>(std::numeric_limits<ASInt32>::max())) {
      raise(cosErrExpectedString);
    }
    if (length) *length = static_cast<ASInt32>(slot.bytes->size());
    return slot.bytes->c_str();
  });
}

CosObj CosNewNull() {
  return hostEntry(__func__, [&] { return CosObj{0, 0}; });
}

ASBool CosObjEqual(CosObj a, CosObj b) {
  return hostEntry(__func__, [&]() -> ASBool {
    QPDFObjectHandle& x = objectOf(a);
    QPDFObjectHandle& y = objectOf(b);
    if (x.isIndirect() || y.isIndirect()) {
      return x.isIndirect() && y.isIndirect() && a.doc == b.doc && x.getObjGen() == y.getObjGen();
    }
    if (x.isNull() && y.isNull()) return true;
    if (x.isStream() || y.isStream()) return false;
    return x.unparseBinary() == y.unparseBinary();
  });
}

ASBool CosObjIsIndirect(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASBool { return objectOf(obj).isIndirect(); });
}

ASInt32 CosObjGetID(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isIndirect()) raise(cosErrBadObject);
    return h.getObjectID();
  });
}

ASInt32 CosObjGetGeneration(CosObj obj) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    QPDFObjectHandle& h = objectOf(obj);
    if (!h.isIndirect()) raise(cosErrBadObject);
    return h.getGeneration();
  });
}

ASBool CosObjEnum(CosObj obj, ASCallback proc, void* clientData) {
  return hostEntry(__func__, [&]() -> ASBool {
    auto enumProc = callbackAs<CosObjEnumProc>(proc);
    QPDFObjectHandle h = objectOf(obj);
    if (h.isStream()) h = h.getDict();
    Document* doc = obj.doc ? &documentOf(obj.doc) : nullptr;
    if (h.isDictionary()) {
      for (const std::string& key : h.getKeys()) {
        CosObj name = cosObjOf(*doc, QPDFObjectHandle::newName(key));
        QPDFObjectHandle v = h.getKey(key);
        CosObj value = v.isNull() ? CosObj{0, 0} : cosObjOf(*doc, v);
        if (!enumProc(name, value, clientData)) return false;
      }
    } else if (h.isArray()) {
      for (int i = 0; i < h.getArrayNItems(); ++i) {
        QPDFObjectHandle v = h.getArrayItem(i);
        CosObj item = v.isNull() ? CosObj{0, 0} : cosObjOf(*doc, v);
        if (!enumProc(item, CosObj{0, 0}, clientData)) return false;
      }
    }
    return true;
  });
}

CosObj CosStreamDict(CosObj stream) {
  return hostEntry(__func__, [&]() -> CosObj {
    QPDFObjectHandle& h = objectOf(stream);
    if (!h.isStream()) raise(cosErrExpectedStream);
    return cosObjOf(documentOf(stream.doc), h.getDict());
  });
}

CosObj CosDocGetRoot(CosDoc doc) {
  return hostEntry(__func__, [&]() -> CosObj {
    Document& d = documentOf(doc);
    return cosObjOf(d, d.qpdf->getRoot());
  });
}

ASBool CosDocEnumIndirect(CosDoc doc, ASCallback proc, void* clientData) {
  return hostEntry(__func__, [&]() -> ASBool {
    auto enumProc = callbackAs<CosDocEnumProc>(proc);
    Document& d = documentOf(doc);
    for (QPDFObjectHandle& object : d.qpdf->getAllObjects()) {
      if (!enumProc(cosObjOf(d, object), clientData)) return false;
    }
    return true;
  });
}

// --- PDModel ----------------------------------------------------------------------------------

CosDoc PDDocGetCosDoc(PDDoc doc) {
  return hostEntry(__func__, [&] { return reinterpret_cast<CosDoc>(&documentOf(doc)); });
}

ASFile PDDocGetFile(PDDoc doc) {
  return hostEntry(__func__, [&] { return static_cast<ASFile>(documentOf(doc).file.get()); });
}

ASInt32 PDDocGetNumPages(PDDoc doc) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    return static_cast<ASInt32>(documentOf(doc).qpdf->getAllPages().size());
  });
}

PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) {
  return hostEntry(__func__, [&]() -> PDPage {
    Document& d = documentOf(doc);
    const std::vector<QPDFObjectHandle>& pages = d.qpdf->getAllPages();
    if (index < 0 || static_cast<size_t>(index) >= pages.size()) raise(pdErrBadPageIndex);
    auto rec = std::make_unique<PageRec>(PageRec{&d, pages[static_cast<size_t>(index)]});
    PDPage page = reinterpret_cast<PDPage>(rec.get());
    state().pages.emplace(page, std::move(rec));
    return page;
  });
}

void PDPageRelease(PDPage page) {
  hostEntry(__func__, [&] {
    if (page == nullptr) return;
    pageOf(page);
    state().pages.erase(page);
  });
}

CosObj PDPageGetCosObj(PDPage page) {
  return hostEntry(__func__, [&] {
    PageRec& p = pageOf(page);
    return cosObjOf(*p.doc, p.page);
  });
}

ASFixed PDPageGetDuration(PDPage page) {
  return hostEntry(__func__, [&]() -> ASFixed {
    QPDFObjectHandle dur = pageOf(page).page.getKey("/Dur");
    if (!dur.isNumber()) return fixedNegativeOne;
    return fixedOf(dur);
  });
}

ASInt32 PDPageGetNumAnnots(PDPage page) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    QPDFObjectHandle annots = pageOf(page).page.getKey("/Annots");
    return annots.isArray() ? annots.getArrayNItems() : 0;
  });
}

PDAnnot PDPageGetAnnot(PDPage page, ASInt32 index) {
  return hostEntry(__func__, [&]() -> PDAnnot {
    PageRec& p = pageOf(page);
    QPDFObjectHandle annots = p.page.getKey("/Annots");
    if (!annots.isArray() || index < 0 || index >= annots.getArrayNItems()) raise(pdErrBadAnnot);
    QPDFObjectHandle annot = annots.getArrayItem(index);
    if (!annot.isDictionary()) raise(pdErrBadAnnot);
    return cosObjOf(*p.doc, annot);
  });
}

ASAtom PDAnnotGetSubtype(PDAnnot annot) {
  return hostEntry(__func__, [&]() -> ASAtom {
    QPDFObjectHandle& a = objectOf(annot);
    if (!a.isDictionary()) raise(pdErrBadAnnot);
    QPDFObjectHandle subtype = a.getKey("/Subtype");
    return subtype.isName() ? nameAtom(subtype) : ASAtomNull;
  });
}

// The header's version, or the catalog's /Version when that is higher.
void PDDocGetVersion(PDDoc doc, ASInt16* major, ASInt16* minor) {
  hostEntry(__func__, [&] {
    if (major == nullptr || minor == nullptr) raise(genErrBadParm);
    Document& d = documentOf(doc);
    auto parse = [](const std::string& text, int& ma, int& mi) {
      return std::sscanf(text.c_str(), "%d.%d", &ma, &mi) == 2;
    };
    int ma = 0, mi = 0;
    parse(d.qpdf->getPDFVersion(), ma, mi);
    QPDFObjectHandle v = d.qpdf->getRoot().getKey("/Version");
    int cma = 0, cmi = 0;
    if (v.isName() && parse(v.getName().substr(1), cma, cmi) && (cma > ma || (cma == ma && cmi > mi))) {
      ma = cma;
      mi = cmi;
    }
    *major = static_cast<ASInt16>(ma);
    *minor = static_cast<ASInt16>(mi);
  });
}

void PDDocEnumFonts(PDDoc doc, ASInt32 firstPage, ASInt32 lastPage, ASCallback proc,
                    void* clientData, ASBool /*reserved1*/, ASBool /*reserved2*/) {
  hostEntry(__func__, [&] {
    auto enumProc = callbackAs<PDFontEnumProc>(proc);
    for (FontRec* font : documentFonts(documentOf(doc), firstPage, lastPage)) {
      if (!enumProc(reinterpret_cast<PDFont>(font), 0, clientData)) break;
    }
  });
}

ASInt32 PDFontGetName(PDFont font, char* buffer, ASInt32 size) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    if (buffer == nullptr || size <= 0) raise(genErrBadParm);
    QPDFObjectHandle f = fontOf(font).font;
    QPDFObjectHandle base = f.getKey("/BaseFont");
    if (!base.isName()) base = f.getKey("/Name");
    std::string name = base.isName() ? base.getName().substr(1) : std::string();
    size_t n = std::min(name.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return static_cast<ASInt32>(n);
  });
}

ASAtom PDFontGetSubtype(PDFont font) {
  return hostEntry(__func__, [&]() -> ASAtom {
    QPDFObjectHandle subtype = fontOf(font).font.getKey("/Subtype");
    if (!subtype.isName()) raise(pdErrBadFont);
    return nameAtom(subtype);
  });
}

// Embedded: the font's descriptor carries a font file; a Type0 font's is its
// descendant's, and a Type3 font carries its glyphs itself.
ASBool PDFontIsEmbedded(PDFont font) {
  return hostEntry(__func__, [&]() -> ASBool {
    QPDFObjectHandle f = fontOf(font).font;
    if (f.getKey("/Subtype").isNameAndEquals("/Type3")) return true;
    if (f.getKey("/Subtype").isNameAndEquals("/Type0")) f = descendantOf(f);
    if (!f.isDictionary()) return false;
    QPDFObjectHandle descriptor = f.getKey("/FontDescriptor");
    if (!descriptor.isDictionary()) return false;
    return descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") ||
           descriptor.hasKey("/FontFile3");
  });
}

PDFont PDFontGetDescendant(PDFont font) {
  return hostEntry(__func__, [&]() -> PDFont {
    FontRec& f = fontOf(font);
    QPDFObjectHandle kid = descendantOf(f.font);
    if (kid.isNull()) return nullptr;
    return reinterpret_cast<PDFont>(fontRecOf(*f.doc, kid));
  });
}

CosObj PDFontGetCosObj(PDFont font) {
  return hostEntry(__func__, [&] {
    FontRec& f = fontOf(font);
    return cosObjOf(*f.doc, f.font);
  });
}

// --- DigSig -------------------------------------------------------------------------------------

void DigSigEnumSignatures(PDDoc doc, ASCallback proc, void* clientData) {
  hostEntry(__func__, [&] {
    auto enumProc = callbackAs<DigSigEnumProc>(proc);
    Document& d = documentOf(doc);
    for (QPDFObjectHandle& field : signatureFields(*d.qpdf)) {
      if (!enumProc(doc, cosObjOf(d, field), clientData)) break;
    }
  });
}

}  // namespace ops
}  // namespace vhost
