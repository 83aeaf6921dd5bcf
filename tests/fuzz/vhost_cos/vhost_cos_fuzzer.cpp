// Opens arbitrary bytes as a PDF in the test viewer and reads them the way the plug-in
// does: every host call either answers or raises; none may crash, leak or loop.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ViewerState.h"
#include "fuzz_machine_root.h"

namespace {

using namespace vhost::ops;  // the host's operations, as the plug-in calls them

constexpr int kMaxVisits = 20000;

struct Walk {
  int visits = 0;
  void visit(CosObj obj, int depth) {
    if (depth > 48 || ++visits > kMaxVisits) return;
    switch (CosObjGetType(obj)) {
      case CosInteger:
        vhost::catchRaise([&] { CosIntegerValue(obj); });
        break;
      case CosFixed:
        vhost::catchRaise([&] { CosFixedValue(obj); });
        break;
      case CosName:
        ASAtomGetString(CosNameValue(obj));
        break;
      case CosString: {
        ASInt32 n = 0;
        CosStringValue(obj, &n);
        break;
      }
      case CosArray:
        for (ASInt32 i = 0, n = CosArrayLength(obj); i < n && i < 64; ++i) visit(CosArrayGet(obj, i), depth + 1);
        break;
      case CosStream:
      case CosDict: {
        // Keys through the enumeration, values by key.
        std::vector<ASAtom> keys;
        ASCallback cb = ASCallbackCreate(nullptr, reinterpret_cast<void*>(+[](CosObj key, CosObj, void* data) -> ASBool {
          static_cast<std::vector<ASAtom>*>(data)->push_back(CosNameValue(key));
          return static_cast<std::vector<ASAtom>*>(data)->size() < 64;
        }));
        ASErrorCode code = vhost::catchRaise([&] { CosObjEnum(obj, cb, &keys); });
        ASCallbackDestroy(cb);
        if (code != 0) return;
        for (ASAtom key : keys) {
          if (key != ASAtomNull) visit(CosDictGet(obj, key), depth + 1);
        }
        break;
      }
      default:
        break;
    }
  }
};

vhost::Viewer& viewer() {
  static vhost::Viewer instance;
  return instance;
}

}  // namespace

// The viewer's main window lives in a machine root of this run, never the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzztest::machineRootOfThisRun("vhost-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vhost::Viewer& v = viewer();
  if (!v.openDocumentFromMemory("fuzz.pdf", std::string(reinterpret_cast<const char*>(data), size))) return 0;
  PDDoc doc = v.activePDDoc();
  int frames = v.frameDepth();
  int callbacks = v.liveCallbacks();

  vhost::catchRaise([&] {
    Walk walk;
    walk.visit(CosDocGetRoot(PDDocGetCosDoc(doc)), 0);
  });
  vhost::catchRaise([&] {
    ASInt32 pages = PDDocGetNumPages(doc);
    for (ASInt32 i = 0; i < pages && i < 16; ++i) {
      PDPage page = PDDocAcquirePage(doc, i);
      vhost::catchRaise([&] {
        PDPageGetDuration(page);
        for (ASInt32 a = 0, n = PDPageGetNumAnnots(page); a < n && a < 64; ++a) {
          vhost::catchRaise([&] { PDAnnotGetSubtype(PDPageGetAnnot(page, a)); });
        }
      });
      PDPageRelease(page);
    }
    ASCallback fonts = ASCallbackCreate(nullptr, reinterpret_cast<void*>(+[](PDFont font, ASUns32, void*) -> ASBool {
      char name[256];
      vhost::catchRaise([&] {
        PDFontGetName(font, name, sizeof name);
        PDFontGetSubtype(font);
        PDFontIsEmbedded(font);
        PDFontGetDescendant(font);
      });
      return true;
    }));
    vhost::catchRaise([&] { PDDocEnumFonts(doc, 0, pages - 1, fonts, nullptr, 0, 0); });
    ASCallbackDestroy(fonts);
  });
  vhost::catchRaise([&] {
    ASCallback fields = ASCallbackCreate(nullptr, reinterpret_cast<void*>(+[](PDDoc, CosObj field, void*) -> ASBool {
      vhost::catchRaise([&] {
        CosObj range = CosDictGet(CosDictGet(field, ASAtomFromString("V")), ASAtomFromString("ByteRange"));
        for (ASInt32 i = 0; i < CosArrayLength(range) && i < 8; ++i) CosIntegerValue(CosArrayGet(range, i));
      });
      return true;
    }));
    vhost::catchRaise([&] { DigSigEnumSignatures(doc, fields, nullptr); });
    ASCallbackDestroy(fields);
  });
  vhost::catchRaise([&] {
    static std::vector<PDFObjType> all = [] {
      std::vector<PDFObjType> types;
      for (PDFObjType t = 0; t < 510; ++t) types.push_back(t);
      return types;
    }();
    ASCallback found = ASCallbackCreate(
        nullptr, reinterpret_cast<void*>(+[](Consultant, CosObj, const PDFObjType*, ASUns32, void*) -> ASInt32 {
          return AC_NOCHANGE;
        }));
    ConsultantAgentRec agent{sizeof(ConsultantAgentRec), all.data(), static_cast<ASUns32>(all.size()), nullptr,
                             found, 0, 0};
    Consultant c = ConsultantCreate(nullptr);
    vhost::catchRaise([&] {
      ConsultantRegisterAgent(c, &agent, 1);
      ConsultantTraverseFrom(c, CosDocGetRoot(PDDocGetCosDoc(doc)), PT_CATALOG);
    });
    ConsultantDestroy(c);
    ASCallbackDestroy(found);
  });
  if (v.frameDepth() != frames || v.liveCallbacks() != callbacks) __builtin_trap();
  // Nothing of qpdf's may outlive the iteration: at exit qpdf's own statics go first.
  v.closeDocuments();
  return 0;
}
