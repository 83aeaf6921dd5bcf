// The information dialogs of the menu command "Info about document": dialog 120 lists the
// categories of dynamic content the document check found, with the count and an
// explanation of the selected one and a summary of the document; its second button opens
// dialog 122, the document's fonts with a statistics grid per font type. Both show the
// data of one run of the document check, made when dialog 120 opens.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "pisdk/PICalls.h"

class DSInfoDialog {
 public:
  // Runs dialog 120 over the window of the document view; its result (1 closed, -1 the
  // document check failed).
  static INT_PTR show(AVDoc view);
  // Runs dialog 122 over dialog 120.
  static void showFontDialog(HWND parent);

  static INT_PTR CALLBACK dlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK dlgProcFontInfo(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  // Runs the document check and lists the categories found; false when the check failed.
  static bool fillCategoryList(HWND dialog);
  static void showCategory(HWND dialog, HWND list, int index);
  static void showDocumentInfo(HWND dialog);
  static void fillFontList(HWND dialog);
  // The first category 0 to 13 whose display name in the current language is the text; 0
  // when none is.
  static int categoryFromName(const char* name);

  explicit DSInfoDialog(AVDoc view);
  ~DSInfoDialog();
  DSInfoDialog(const DSInfoDialog&) = delete;
  DSInfoDialog& operator=(const DSInfoDialog&) = delete;
};

// One run of the document check for the dialog's view: the category counts, the font list
// and the font totals. False when the check failed or raised.
bool countObjectsPerCategory();
// Shows the details of the list's font entry `index` in dialog 122.
void selectFont(HWND dialog, HWND list, int index);

// The texts of the dialogs' controls by control (the title under the dialog's number) and
// the explanation of a category, in the current language; nullptr for others.
const char* infoDialogTextFor(int id);
const char* fontDialogTextFor(int id);
const char* categoryExplanationFor(int category);
