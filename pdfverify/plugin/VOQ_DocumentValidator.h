// The document check: counts a document's dynamic content per category with the
// viewer's PDF Consultant, counts the annotation subtypes and page display durations the
// consultant does not know in a second run over the pages, and counts the fonts the
// document does not embed. The results are published in the module-wide variables
// below, from which the verification-result document and the Info dialogs are made.
//
//   if (VOQ_DocumentValidator::validate(doc, false) == 0) ... categoryCounts, missingFontCount
//
// Everything runs on the viewer's thread.
#pragma once

#include <stdint.h>

#include "VOQ_FontEnumerator.h"
#include "certcheck/VOQ_ProgressDialog.h"
#include "foundation/util/VOQ_List.h"
#include "foundation/util/VOQ_Map.h"
#include "pisdk/PICalls.h"

// Results of the last check (the validator's part of the result document is
// validationResultText, ValidationResult.h).
extern VOQ_Map<int32_t, int32_t> categoryCounts;  // category -> count; a key only once counted
extern uint32_t missingFontCount;                 // fonts counted minus fonts counted as embedded
extern VOQ_List<VOQ_FontEntry> documentFonts;     // copies of the last enumeration's entries
extern VOQ_FontStatistics fontStatistics;
extern VOQ_ProgressDialog* validatorProgress;  // while validate shows its progress dialog
extern float consultantProgress;              // the last progress value taken from the consultant

class VOQ_DocumentValidator {
 public:
  // Result codes of a check.
  enum { CHECK_DONE = 0, CHECK_FOUND = 1, CHECK_NOT_DONE = 2, CHECK_FAILED = 3 };

  VOQ_DocumentValidator();
  ~VOQ_DocumentValidator();
  VOQ_DocumentValidator(const VOQ_DocumentValidator&) = delete;
  VOQ_DocumentValidator& operator=(const VOQ_DocumentValidator&) = delete;

  // One complete check of the document, with a progress dialog when asked: 0 done, 3
  // failed (the counts recorded before the failure stay published).
  static int32_t validate(PDDoc doc, bool showProgress);
  // The check itself: fonts, then the consultant's walk, then the pages' annotations.
  int32_t validateAll(PDDoc doc);
  // Fills the agent record with every requested type and the two callbacks and
  // registers it with the current consultant. The record must stay in place while the
  // consultant walks.
  void registerAgentAll(ASCallback objFound, ASCallback postProcess, ConsultantAgentRec* agent);

  // The consultant's callbacks.
  static ASInt32 objCountAll(Consultant consultant, CosObj found, const PDFObjType* hierarchy,
                             ASUns32 hierarchyLength, void* reserved);
  static void postProcess();
  static void consultantProgressCallback(float progress);

  // The function-bearing items of an object of category 4 (PostScript and device functions).
  static int32_t countFunctions(CosObj object, int32_t type);
  static ASBool OnColorSpaceFound_CountCB(CosObj key, CosObj value, void* count);
  // Annotations of the subtypes the consultant does not know; with `transitions`, the
  // pages with a display duration are counted there.
  static int32_t countUSAnnots(PDDoc doc, int32_t* transitions);
  static bool isUSAnnot(PDAnnot annot);
  static VOQ_Map<int32_t, int32_t>& copyCategoryCounts(VOQ_Map<int32_t, int32_t>& map);

 private:
  void destroyConsultant();

  Consultant consultant = nullptr;
};
