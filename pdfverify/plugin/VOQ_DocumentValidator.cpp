#include "VOQ_DocumentValidator.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <optional>
#include <string>

#include "HostHelpers.h"
#include "Messages.h"
#include "PluginState.h"
#include "VOQ_ConfigurationHelper.h"
#include "ValidationResult.h"
#include "certcheck/VOQ_TraceLog.h"

VOQ_Map<int32_t, int32_t> categoryCounts;
uint32_t missingFontCount = 0;
VOQ_List<VOQ_FontEntry> documentFonts;
VOQ_FontStatistics fontStatistics = {};
VOQ_ProgressDialog* validatorProgress = nullptr;
float consultantProgress = 0.0f;

namespace {

VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = pluginTrace("VOQ_DocumentValidator");
  return context;
}
void logLine(const char* method, const char* text, int kind = VOQ_TraceContext::INSIDE) {
  trace()->log(method, text, kind);
}
bool logHasFile() { return VOQ_TraceLog::getInstance(nullptr)->getFile() != nullptr; }

// The font enumerator of the check in progress; at most one.
std::unique_ptr<VOQ_FontEnumerator> currentFontEnumerator;

// The subtypes the consultant does not know, as the second run names them.
const char* const kUSAnnots[] = {"Caret", "PolyLine", "Polygon", "3D", "Watermark", "Squiggly"};

const int kProgressDialog = 128;
const int kProgressBar = 1129;

// Adds n to the count of a category, inserting the key when it is absent.
void addCount(int32_t category, int32_t n) {
  int32_t* count = categoryCounts.get(category);
  if (count != nullptr) {
    *count += n;
  } else {
    categoryCounts.put(category, &n, true, true);
  }
}

bool isName(CosObj object, const char* text) {
  return CosObjGetType(object) == CosName && strcmp(ASAtomGetString(CosNameValue(object)), text) == 0;
}

// /FT of exactly "Sig", in any case.
bool isSignatureFieldType(CosObj ft) {
  if (CosObjGetType(ft) != CosName) return false;
  const char* text = ASAtomGetString(CosNameValue(ft));
  return strlen(text) == 3 && toLowerAscii(text[0]) == 's' && toLowerAscii(text[1]) == 'i' &&
         toLowerAscii(text[2]) == 'g';
}

// The font step: the published font results from one enumeration.
void enumerateFonts(PDDoc doc) {
  currentFontEnumerator.reset();
  currentFontEnumerator = std::make_unique<VOQ_FontEnumerator>(doc);
  VOQ_FontStatistics* statistics = currentFontEnumerator->enumerate();
  missingFontCount = statistics->total - statistics->totalEmbedded;
  documentFonts.assign(currentFontEnumerator->getFonts());
  fontStatistics = *statistics;
  currentFontEnumerator.reset();
}

void clearFontResults() {
  currentFontEnumerator.reset();
  missingFontCount = 0;
  documentFonts.removeAll();
  memset(&fontStatistics, 0, sizeof fontStatistics);
}

// Shows the progress dialog of validate and ends it on every way out.
class ProgressGuard {
 public:
  explicit ProgressGuard(bool show) {
    if (!show) return;
    logLine("validate", "Start thread", VOQ_TraceContext::ENTER);
    dialog.emplace(hostMainWindow, getAnalyzingText(languageFlag), kProgressDialog, kProgressBar, pluginInstance);
    validatorProgress = &*dialog;
    dialog->start(0);
  }
  ~ProgressGuard() {
    if (!dialog) return;
    dialog->stop(true);
    validatorProgress = nullptr;
  }
  ProgressGuard(const ProgressGuard&) = delete;
  ProgressGuard& operator=(const ProgressGuard&) = delete;

 private:
  std::optional<VOQ_ProgressDialog> dialog;
};

}  // namespace

VOQ_DocumentValidator::VOQ_DocumentValidator() {
  currentFontEnumerator.reset();
  logLine("VOQ_DocumentValidator", "Constructed.");
}

VOQ_DocumentValidator::~VOQ_DocumentValidator() {
  destroyConsultant();
  currentFontEnumerator.reset();
  logLine("~VOQ_DocumentValidator", "Destructed.\n");
}

void VOQ_DocumentValidator::destroyConsultant() {
  if (consultant == nullptr) return;
  Consultant c = consultant;
  consultant = nullptr;
  DURING
    ConsultantDestroy(c);
  HANDLER
  END_HANDLER
}

int32_t VOQ_DocumentValidator::validate(PDDoc doc, bool showProgress) {
  logLine("validate", "Start counting elements per category.", VOQ_TraceContext::ENTER);
  ProgressGuard progress(showProgress);
  int32_t result;
  {
    VOQ_DocumentValidator validator;
    result = validator.validateAll(doc);
  }
  logLine("validate", "Finished dynamic object.", VOQ_TraceContext::LEAVE);
  return result;
}

int32_t VOQ_DocumentValidator::validateAll(PDDoc doc) {
  const char* method = "validateAll";
  logLine(method, "Start.", VOQ_TraceContext::ENTER);

  // A raise while the fonts are read (a damaged font dictionary) fails the check; the
  // results of an earlier check must not stand for this document.
  bool fontsRead = false;
  DURING
    enumerateFonts(doc);
    fontsRead = true;
  HANDLER
  END_HANDLER
  categoryCounts.removeAll();
  validationResultText.clear();
  if (!fontsRead) {
    clearFontResults();
    logLine(method, "Exception thrown in ValidateAll!", VOQ_TraceContext::LEAVE);
    return CHECK_FAILED;
  }

  logLine(method, "1st Run: Counting object types supported by Acrobat SDK 6.0");
  ScopedCallback progressCallback(ASCallbackCreateProto(ConsultantProgressProc, &consultantProgressCallback));
  ScopedCallback found(ASCallbackCreateProto(ConsultantObjFoundProc, &objCountAll));
  ScopedCallback post(ASCallbackCreateProto(ConsultantPostProcessProc, &postProcess));
  bool traversed = false;
  DURING
    consultant = ConsultantCreate(progressCallback.get());
    if (consultant != nullptr) {
      ConsultantAgentRec agent;
      registerAgentAll(found.get(), post.get(), &agent);
      consultantProgress = 0.0f;
      logLine(method, "Start traversing.");
      CosObj root = CosDocGetRoot(PDDocGetCosDoc(doc));
      ConsultantTraverseFrom(consultant, root, PT_CATALOG);
      logLine(method, "Traversed.");
      destroyConsultant();
      traversed = true;
    }
  HANDLER
    logLine(method, "Exception thrown in ValidateAll!");
    destroyConsultant();
    return CHECK_FAILED;
  END_HANDLER
  if (!traversed) {
    logLine(method, "Can\xC2\xB4t create PDFConsultant!", VOQ_TraceContext::LEAVE);
    return CHECK_FAILED;
  }

  logLine(method, "2nd Run: Counting object types not supported by Acrobat SDK 6.0");
  int32_t transitions = 0;
  int32_t annotations = 0;
  DURING
    annotations = countUSAnnots(doc, &transitions);
  HANDLER
    logLine(method, "Exception thrown in countUSAnnots!");
    return CHECK_FAILED;
  END_HANDLER
  if (annotations > 0) addCount(CAT_NORMALANNOT, annotations);
  if (transitions > 0) addCount(CAT_TRANSITION, transitions);
  logLine(method, "End.", VOQ_TraceContext::LEAVE);
  return CHECK_DONE;
}

void VOQ_DocumentValidator::registerAgentAll(ASCallback objFound, ASCallback postProcessCallback,
                                             ConsultantAgentRec* agent) {
  unsigned count = 0;
  const PDFObjType* types = VOQ_ConfigurationHelper::getInstance()->createRequestedTypesAll(count);
  memset(agent, 0, sizeof *agent);
  agent->size = sizeof *agent;
  agent->requestedTypes = types;
  agent->numRequestedTypes = count;
  agent->postProcess = postProcessCallback;
  agent->objFound = objFound;
  agent->flags = 0;
  ConsultantRegisterAgent(consultant, agent, 1);
  logLine("registerAgentAll", "Consultant Agent registered.");
}

void VOQ_DocumentValidator::postProcess() {
  logLine("postProcess", "Start.", VOQ_TraceContext::ENTER);
  logLine("postProcess", "End.\n", VOQ_TraceContext::LEAVE);
}

void VOQ_DocumentValidator::consultantProgressCallback(float progress) {
  if (validatorProgress != nullptr && progress > consultantProgress + 1.0f) consultantProgress = progress;
}

ASInt32 VOQ_DocumentValidator::objCountAll(Consultant, CosObj found, const PDFObjType* hierarchy,
                                           ASUns32 hierarchyLength, void*) {
  const char* method = "objCountAll";
  ASInt32 action = AC_NOCHANGE;
  CosType type = CosObjGetType(found);
  DURING
    VOQ_ObjectTypeEntry* entry = nullptr;
    if (hierarchy != nullptr && hierarchyLength > 0) {
      entry = VOQ_ConfigurationHelper::getInstance()->getObjectTypeEntry(hierarchy[0]);
    }
    bool inStructAttribute = false;
    for (ASUns32 i = 0; hierarchy != nullptr && i < hierarchyLength; ++i) {
      if (hierarchy[i] == PT_STRUCTELEMATTR) inStructAttribute = true;
    }
    bool postScript = entry != nullptr && entry->category == CAT_POSTSCRIPT;
    // The path is text for the trace log only: without a log file it is not built.
    if (logHasFile() && hierarchy != nullptr) {
      std::string path;
      for (ASUns32 i = hierarchyLength; i-- > 0;) {
        path += objectTypeName(hierarchy[i]);
        if (i > 0) path += " -> ";
      }
      logLine(method, path.c_str());
    }
    int32_t functions = 0;
    if (postScript) {
      logLine(method, "Category PostScript, looking for functions...");
      functions = countFunctions(found, entry->type);
    }
    bool skipped = false;
    if (type == CosDict) {
      if (inStructAttribute) {
        // Only user properties count; an owner that is not a name raises.
        CosObj owner = CosDictGet(found, ASAtomFromString("O"));
        bool userProperties = CosObjGetType(owner) != CosNull &&
                              strcmp(ASAtomGetString(CosNameValue(owner)), "UserProperties") == 0;
        if (!userProperties) {
          skipped = true;
          logLine(method, "Skipping non UserProperty.");
        }
      }
      if (!skipped && isSignatureFieldType(CosDictGet(found, ASAtomFromString("FT")))) {
        skipped = true;
        logLine(method, "Skipping Signature Field.");
      }
    }
    if (!skipped && entry != nullptr) {
      if (postScript) {
        if (functions != 0 || categoryCounts.get(entry->category) != nullptr) addCount(entry->category, functions);
      } else {
        addCount(entry->category, 1);
      }
    }
  HANDLER
    logLine(method, "An Exception occured.");
    RERAISE();
  END_HANDLER
  return action;
}

ASBool VOQ_DocumentValidator::OnColorSpaceFound_CountCB(CosObj, CosObj value, void* count) {
  if (CosObjGetType(value) == CosArray && CosArrayLength(value) > 0) {
    CosObj family = CosArrayGet(value, 0);
    if (isName(family, "Separation")) {
      ++*static_cast<int32_t*>(count);
      logLine("OnColorSpaceFound_CountCB", "Separation COlorSpace with mandatory function found.");
    } else if (isName(family, "DeviceN")) {
      ++*static_cast<int32_t*>(count);
      logLine("OnColorSpaceFound_CountCB", "DeviceN COlorSpace with mandatory function found.");
    }
  }
  return true;
}

int32_t VOQ_DocumentValidator::countFunctions(CosObj object, int32_t type) {
  const char* method = "countFunctions";
  int32_t count = 0;
  switch (type) {
    case PT_COLORSPACELIST: {
      ScopedCallback callback(ASCallbackCreateProto(CosObjEnumProc, &OnColorSpaceFound_CountCB));
      CosObjEnum(object, callback.get(), &count);
      break;
    }
    case PT_POSTSCRIPT:
    case PT_LEVEL1POSTSCRIPT:
      count = 1;
      logLine(method, "PostScript XCObject found - cannot be removed in NOT OK");
      break;
    case PT_SOFTMASKDICT:
      count = 1;
      logLine(method, "Softmask found - cannot be removed in NOT OK");
      break;
    case PT_BG2FUNCTION:
    case PT_BGFUNCTION:
    case PT_TR2FUNCTION:
    case PT_TRFUNCTION:
    case PT_UCR2FUNCTION:
    case PT_UCRFUNCTION:
      count = 1;
      trace()->logFormat(method, "optional %s Function found in ExtGState.\n", objectTypeName(type));
      break;
    case PT_HALFTONE:
      if (CosObjGetType(object) == CosDict) {
        CosType transfer = CosObjGetType(CosDictGet(object, ASAtomFromString("TransferFunction")));
        if (transfer == CosStream || transfer == CosDict || transfer == CosArray) {
          ++count;
          logLine(method, "Transferfunction found in Halftone.");
        }
        CosType spot = CosObjGetType(CosDictGet(object, ASAtomFromString("SpotFunction")));
        if (spot == CosStream || spot == CosDict) {
          ++count;
          logLine(method, "SpotFunction found in Halftone.");
        }
      }
      break;
    case PT_TYPE1SHADING:
    case PT_TYPE2SHADING:
    case PT_TYPE3SHADING:
      count = 1;
      logLine(method, "Shading with mandatory function found - Document cannot be cleaned.");
      break;
    case PT_TYPE4SHADING:
    case PT_TYPE5SHADING:
    case PT_TYPE6SHADING:
    case PT_TYPE7SHADING:
      if (CosDictKnown(object, ASAtomFromString("Function"))) {
        count = 1;
        logLine(method, "Shading with optional function found - Document cannot be cleaned.");
      }
      break;
    default:
      break;
  }
  return count;
}

int32_t VOQ_DocumentValidator::countUSAnnots(PDDoc doc, int32_t* transitions) {
  const char* method = "countUSAnnots";
  logLine(method, "Start.", VOQ_TraceContext::ENTER);
  int32_t count = 0;
  // A raise between acquiring and releasing a page must not leak the page.
  struct PageHolder {
    PDPage page = nullptr;
    ~PageHolder() {
      if (page == nullptr) return;
      PDPage p = page;
      page = nullptr;
      DURING
        PDPageRelease(p);
      HANDLER
      END_HANDLER
    }
  };
  ASInt32 pages = PDDocGetNumPages(doc);
  for (ASInt32 i = 0; i < pages; ++i) {
    PageHolder holder;
    holder.page = PDDocAcquirePage(doc, i);
    if (transitions != nullptr && PDPageGetDuration(holder.page) != fixedNegativeOne) {
      logLine(method, "Encountered /Dur- Element in Page Object. Counting it for CAT_TRANSITION.");
      ++*transitions;
    }
    for (ASInt32 a = PDPageGetNumAnnots(holder.page) - 1; a >= 0; --a) {
      if (isUSAnnot(PDPageGetAnnot(holder.page, a))) ++count;
    }
    PDPage page = holder.page;
    holder.page = nullptr;
    PDPageRelease(page);
  }
  char text[64];
  snprintf(text, sizeof text, "Found %i USAnnots. End.", count);
  logLine(method, text, VOQ_TraceContext::LEAVE);
  return count;
}

bool VOQ_DocumentValidator::isUSAnnot(PDAnnot annot) {
  const char* subtype = ASAtomGetString(PDAnnotGetSubtype(annot));
  for (const char* name : kUSAnnots) {
    if (compareNames(subtype, name, false) == 0) {
      trace()->logFormat("isUSAnnot", "Found: %s.\n", name);
      return true;
    }
  }
  logLine("isUSAnnot", "Not a USAnnot.");
  return false;
}

VOQ_Map<int32_t, int32_t>& VOQ_DocumentValidator::copyCategoryCounts(VOQ_Map<int32_t, int32_t>& map) {
  map = categoryCounts;
  return map;
}
