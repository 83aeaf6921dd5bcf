#include "DSInfoDialog.h"

#include <stdio.h>

#include <string>

#include "Messages.h"
#include "PluginState.h"
#include "VOQ_DocumentValidator.h"
#include "SignatureFinder.h"
#include "UserInterface.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/AbstractException.h"

namespace {

struct Text {
  const char* de;
  const char* en;
};
struct DialogText {
  int id;
  Text text;
};

const char* pick(const Text& t) { return languageFlag == 1 ? t.de : t.en; }

const DialogText infoDialogText[] = {
    {120, {"Information über dynamische Inhalte", "Information about dynamic content"}},
    {1136, {"Gefundene Kategorien", "Found categories"}},
    {1140, {"Anzahl gefundener Objekte", "Amount of objects found:"}},
    {1141, {"0", "0"}},
    {1139, {"Erläuterung", "Explanation"}},
    {1143, {"Info zur Kategorie", "Info about category"}},
    {1, {"Dialog schließen", "Close dialog"}},
    {1000, {"Schriftarten anzeigen", "Show fonts"}},
};
const DialogText fontDialogText[] = {
    {122, {"Verwendete Schriftarten im Dokument", "Fonts used in the document"}},
    {1152, {"Folgende Schriftarten sind im Dokument vorhanden:", "The following fonts exist in the document:"}},
    {1153, {"Erklärung zum ausgewählten Font:", "Explanation to the selected font:"}},
    {1155, {"Fontname:", "Fontname:"}},
    {1154, {"Fonttyp:", "Fonttype:"}},
    {1173, {"Eingebettet:", "Embedded:"}},
    {1174, {"Signieren:", "Sign:"}},
    {1195, {"Statistik:", "Statistics:"}},
    {1194, {"Gesamt:", "Summary:"}},
    {1, {"Dialog schließen", "Close Dialog"}},
    {1196, {"Anzahl", "Amount"}},
    {1197, {"Eingebettet", "Embedded"}},
    {1198, {"Signieren", "Sign"}},
};
const Text categoryExplanation[] = {
    {"Popup Fenster werden von verschiedenen Annotations verwendet. Die Bereinigung schließt diese Fenster, entfernt sie jedoch nicht. Hierfür müssen die aufrufenden Notiz Objekte entfernt werden.",
     "Popup windows are used by different types of annotations. The clean action closes the windows but does not remove the calling structure. Therefore the calling annotation objects must be cleaned."},
    {"Zu den Formularfeldern gehören Buttons, Radiobuttons, CheckBoxen, Listboxen und Textfelder. Die Bereinigung entfernt das jeweils zugehörige Form-Feld und das zugehörige Notiz Objekt.",
     "Form fields can be buttons, radiobuttons, checkboxes, listboxes and textinput. The clean action removes the form field and the belonging annotation object."},
    {"Mit JavaScript kann Programmcode über das Dokument ausgeführt werden, der die Darstellung des Dokuments verändern kann ohne eine Signatur ungültig zu machen. Bei Bereinigung werden alle JavaScript Elemente gelöscht.",
     "Javascript enables the viewer to execute program code which makes it possible to change the visibility of parts of the document without invalidating a signature. The cleaning process removes all JavaScript objects."},
    {"WebCapture ermöglicht dem Dokument, Inhalte aus dem Internet zu holen. Bei Bereinigung wird diese Eigenschaft aus dem Dokument entfernt",
     "WebCapture enables a document to get the content over the web. The cleaning process removes all references to web-content."},
    {"Mit PostScript kann die Darstellung eines Dokuments dynamisch verändert werden. Bei Bereinigung werden alle PostScript Elemente gelöscht.",
     "Postscript can possibly change the representation of a document dynamically. The clean action removes all postscript elements."},
    {"Interne und externe Verweise (Links in andere Dokumente oder Internetseiten sowie benutzerdefinierte Objekteigenschaften). Bei Bereinigung werden alle Sprungmarken und Lesezeichen entfernt sowie Objekteigenschaften deaktiviert.",
     "Internal and external links (to other PDFs or websites and also user- properties of objects). The cleaning action removes all links and hyperlinks and disables the interaction of user- properties."},
    {"Markierungen für den Druck sind meist ausserhalb des sichtbaren Bereichs im Dokument angebracht und werden bei der Bereinigung aus dem Dokument entfernt.",
     "Marker for printing press (mostly outside the visible region of a document). Will be removed on cleaning."},
    {"Notizobjekt zum Hervorheben, Unterstreichen und Durchstreichen eines Textes. Verknüpft mit einem Popup Fenster. Bei Bereinigung werden die Popups geschlossen und die Notizobjekte gelöscht.",
     "Text can be marked with a highlight-, underlinde- or cancel- annotation using popup windows. The cleaning action closes all referenced popup windows and removes the annotations."},
    {"Normale Notizen sind Bereiche im Dokument die ein Popup Fenster öffnen. Bei Bereinigung werden die Fenster geschlossen und die Notizobjekte gelöscht.",
     "Regions in a document opening a popup window when the user clicks on it. The cleaning action closes all referenced windows and removes the annotation."},
    {"Sound- und Videowiedergabe. Bei Bereinigung werden alle zu dieser Kategorie gehörenden Daten aus dem Dokument entfernt.",
     "Sound and video. All referenced elements will be removed from the cleaning process."},
    {"Alternativer Text der angezeigt wird, wenn z.B. ein Bild nicht gefunden wurde.\nBei Bereingiung werden alle alternativen Elemente entfernt.",
     "Alternative text is shown if e.g. a picture is not found.\nThe cleaning action removes all alternate text."},
    {"Das Dokument wird als Slideshow angezeigt. Bei Bereinigung wird diese Eigenschaft aus dem Dokument entfernt.",
     "Defines a document as a slideshow. The cleaning action removes this behavior."},
    {"Zusätzliche Aktionen die durch bestimmte Ereignisse ausgelöst werden. Bei Bereinigung werden diese zusätzlichen Aktionen entfernt.",
     "Additional actions can be activated on events from acrobat. The cleaning action removes all additional actions."},
    {"Optionale Inhalte werden z.B. verwendet, um mehrsprachige Dokumente zu erzeugen oder Inhalte vor bestimmten Benutzern zu verbergen. Bei Bereinigung werden alle Inhalte als nicht optional gekennzeichnet.",
     "Optional content is used to change the view of a document depending on several parameters e.g. a username. The cleaning action makes all optional content visible."},
};

// The rows of the fonts grid: the font type index each shows and its three cells.
struct GridRow {
  int typeIndex;
  int count, embedded, sign;
};
const GridRow kGrid[] = {
    {0, 1156, 1164, 1178}, {1, 1157, 1165, 1179}, {2, 1158, 1166, 1180}, {4, 1159, 1167, 1181},
    {5, 1160, 1168, 1182}, {6, 1161, 1169, 1183}, {3, 1162, 1170, 1184},
};
constexpr int kTotalCount = 1163, kTotalEmbedded = 1171, kTotalSign = 1185;

constexpr int kInfoDialog = 120, kFontDialog = 122;
constexpr int kList = 1137;

// The state of the one information run at a time; the dialog procedures are plain window
// procedures.
DSInfoDialog* currentDialog = nullptr;
AVDoc documentView = nullptr;
VOQ_Map<int32_t, int32_t> infoCategoryCounts;
VOQ_List<VOQ_FontEntry>* fontList = nullptr;
uint32_t totalFonts = 0, embeddedFonts = 0;

VOQ_TraceContext* trace() { return pluginTrace("DSInfoDialog"); }
void logLine(const char* method, const char* text, int kind = VOQ_TraceContext::INSIDE) {
  trace()->log(method, text, kind);
}

const char* lookup(const DialogText* table, size_t count, int id) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].id == id) return pick(table[i].text);
  }
  return nullptr;
}

void setFrom(HWND dialog, int control, const char* text) {
  if (text != nullptr) SetDlgItemTextA(dialog, control, text);
}

const char* yesNo(bool yes) { return getLabelText(yes ? 4 : 5, languageFlag); }

// The text of a list row, as long as it is.
std::string rowText(HWND list, int index) {
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR || length < 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

}  // namespace

const char* infoDialogTextFor(int id) { return lookup(infoDialogText, sizeof infoDialogText / sizeof infoDialogText[0], id); }
const char* fontDialogTextFor(int id) { return lookup(fontDialogText, sizeof fontDialogText / sizeof fontDialogText[0], id); }
const char* categoryExplanationFor(int category) {
  if (category < 0 || category >= static_cast<int>(sizeof categoryExplanation / sizeof categoryExplanation[0])) return nullptr;
  return pick(categoryExplanation[category]);
}

DSInfoDialog::DSInfoDialog(AVDoc view) {
  documentView = view;
  logLine("constructor", "Creating Infodialog", VOQ_TraceContext::ENTER);
}

DSInfoDialog::~DSInfoDialog() {
  documentView = nullptr;
  logLine("destructor", "InfoDialog destroyed", VOQ_TraceContext::LEAVE);
}

INT_PTR DSInfoDialog::show(AVDoc view) {
  HWND parent = WinAppGetModalParent(view);
  DSInfoDialog dialog(view);
  currentDialog = &dialog;
  const INT_PTR result = DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kInfoDialog), parent, dlgProc, 0);
  currentDialog = nullptr;
  return result;
}

void DSInfoDialog::showFontDialog(HWND parent) {
  DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(kFontDialog), parent, dlgProcFontInfo, 0);
}

bool countObjectsPerCategory() {
  bool ok = false;
  try {
    DURING
      ok = VOQ_DocumentValidator::validate(AVDocGetPDDoc(documentView), true) == 0;
    HANDLER
      logLine("validate", "Unknown Exception occured during countObjectsPerCategory.");
    END_HANDLER
  } catch (const AbstractException& e) {
    logLine("validate", "VOQ_Exception occured during countObjectsPerCategory.");
    logLine("validate", e.getMessage());
  } catch (const char* text) {
    logLine("validate", "Exception occured during countObjectsPerCategory.");
    logLine("validate", text != nullptr ? text : "");
  } catch (...) {
    logLine("validate", "Unknown Exception occured during countObjectsPerCategory.");
  }
  fontList = &documentFonts;
  totalFonts = fontStatistics.total;
  embeddedFonts = fontStatistics.totalEmbedded;
  VOQ_Map<int32_t, int32_t> counts;
  VOQ_DocumentValidator::copyCategoryCounts(counts);
  infoCategoryCounts = counts;
  return ok;
}

bool DSInfoDialog::fillCategoryList(HWND dialog) {
  if (!countObjectsPerCategory()) return false;
  HWND list = GetDlgItem(dialog, kList);
  bool added = false;
  for (int32_t category = 0; category < 14; ++category) {
    const int32_t* count = infoCategoryCounts.get(category);
    if (count == nullptr) continue;
    const char* name = getCategoryText(category, languageFlag);
    trace()->logFormat("dlgProc", "Category %s with %i objects.\n", name, *count);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    added = true;
  }
  SetDlgItemTextA(dialog, 1136, languageFlag == 1 ? "Gefundene Kategorien:" : "Found categories:");
  if (added) {
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    showCategory(dialog, list, 0);
  } else {
    SetDlgItemTextA(dialog, 1140, "");
    SetDlgItemTextA(dialog, 1141, "");
    SetDlgItemTextA(dialog, 1139, "");
    SetDlgItemTextA(dialog, 1143, languageFlag == 1 ? "Keine dynamischen Inhalte gefunden" : "No dynamic content found");
  }
  return true;
}

int DSInfoDialog::categoryFromName(const char* name) {
  for (int category = 0; category < 14; ++category) {
    if (std::string(getCategoryText(category, languageFlag)) == name) return category;
  }
  return 0;
}

void DSInfoDialog::showCategory(HWND dialog, HWND list, int index) {
  const std::string name = rowText(list, index);
  const int category = categoryFromName(name.c_str());
  const int32_t* count = infoCategoryCounts.get(category);
  if (count == nullptr) return;
  char text[512];
  snprintf(text, sizeof text, "%i", *count);
  SetDlgItemTextA(dialog, 1141, text);
  SetDlgItemTextA(dialog, 1139, categoryExplanationFor(category));
  if (languageFlag == 1) {
    snprintf(text, sizeof text, "Information zur Kategorie %s", getCategoryText(category, 1));
    SetDlgItemTextA(dialog, 1140, "Anzahl gefundener Objekte:");
  } else if (category == 0) {
    snprintf(text, sizeof text, "Information about category popup window");
    SetDlgItemTextA(dialog, 1140, "Amount of found objects:");
  } else {
    snprintf(text, sizeof text, "Information about category %s", getCategoryText(category, languageFlag));
    SetDlgItemTextA(dialog, 1140, "Amount of found objects:");
  }
  SetDlgItemTextA(dialog, 1143, text);
}

void DSInfoDialog::showDocumentInfo(HWND dialog) {
  const bool de = languageFlag == 1;
  const int signatures = countSignatureFields(documentView);
  const char* versionWarning = "";
  if (!checkPdfVersion(AVDocGetPDDoc(documentView), false)) {
    versionWarning =
        de ? "Das geladene Dokument ist mit einem neueren Adobe Acrobat Produkt erstellt worden und enthält "
             "möglicherweise dynamische Daten die mit dieser Version des Dorvalin Plugin nicht erkannt werden können. "
             "Es kann deshalb nicht garantiert werden, dass bei der Bereinigung des Dokuments alle dynamischen "
             "Inhalte gefunden bzw. entfernt werden."
           : "The current document was produced with a newer version of Adobe Acrobat and maybe contains dynamic "
             "content which cannot be identified with this version of the Dorvalin plugin. Therefore it is not "
             "guaranteed that - when cleaning the document - all dynamic content is removed or found.";
  }
  const bool fontsMissing = embeddedFonts < totalFonts;
  const bool dynamic = infoCategoryCounts.getCount() > 0;
  const char* verdict;
  if (fontsMissing && dynamic) {
    verdict = de ? "Das Dokument kann aufgrund der beinhalteten dynamischen Elemente und nicht eingebetteter "
                   "Schriftarten nicht sicher signiert werden."
                 : "The document contains dynamic content and does not deliver all used fonts. Therefore a secure "
                   "signature cannot be created.";
  } else if (fontsMissing) {
    verdict = de ? "Das Dokument kann aufgrund nicht eingebetteter Schriftarten nicht sicher signiert werden."
                 : "The document does not deliver all used fonts. Therefore a secure signture cannot be created.";
  } else if (dynamic) {
    verdict = de ? "Das Dokument kann aufgrund der beinhalteten dynamischen Elemente nicht sicher signiert werden."
                 : "The document contains dynamic contnent. Threrfore a secure signatue cannot be created.";
  } else {
    verdict = de ? "Dieses Dokument beinhaltet keine dynamischen Inhalte. Das Dokument hat alle verwendeten "
                   "Schriftarten eingebettet. Das Dokument kann sicher signiert werden."
                 : "The document does not contain dynamic content. The document has embedded all used fonts. A "
                   "secure signature can be created.";
  }
  char text[2048];
  snprintf(text, sizeof text,
           de ? "Das Dokument enthält %i digitale Unterschriften. %s %s" : "The document contains %i digital signatures. %s %s",
           signatures, versionWarning, verdict);
  SetDlgItemTextA(dialog, 1145, text);
}

INT_PTR CALLBACK DSInfoDialog::dlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG: {
      logLine("dlgProc", "Message: WN_INITDIALOG");
      const char* title = infoDialogTextFor(kInfoDialog);
      if (title != nullptr) SetWindowTextA(dialog, title);
      for (int control : {1136, 1140, 1141, 1139, 1143, 1, 1000}) setFrom(dialog, control, infoDialogTextFor(control));
      SetDlgItemTextA(dialog, 1144, languageFlag == 1 ? "Information zum Dokument" : "Information about the document");
      if (!fillCategoryList(dialog)) {
        if (languageFlag == 1) {
          MessageBoxA(dialog, "Fehler beim Prüfen des Dokuments", "Fehler", MB_ICONERROR);
        } else {
          MessageBoxA(dialog, "An error occured during scanning the document", "Error", MB_ICONERROR);
        }
        EndDialog(dialog, -1);
      }
      showDocumentInfo(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      if (closesDialog(LOWORD(wParam))) {
        logLine("dlgProc", "Command: IDOK");
        EndDialog(dialog, 1);
        return TRUE;
      }
      switch (LOWORD(wParam)) {
        case 1000:
          logLine("dlgProcFontInfo", "Command: Show Font info");
          showFontDialog(dialog);
          return TRUE;
        case kList:
          logLine("dlgProcFontInfo", "Command: ListBox");
          if (HIWORD(wParam) == LBN_SELCHANGE) {
            HWND list = GetDlgItem(dialog, kList);
            showCategory(dialog, list, static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)));
          }
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK DSInfoDialog::dlgProcFontInfo(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG: {
      logLine("dlgProcFontInfo", "Message: WN_INITDIALOG");
      const char* title = fontDialogTextFor(kFontDialog);
      if (title != nullptr) SetWindowTextA(dialog, title);
      for (int control : {1152, 1153, 1155, 1154, 1173, 1174, 1195, 1194, 1, 1196, 1197, 1198}) {
        setFrom(dialog, control, fontDialogTextFor(control));
      }
      bool allSignable = true;
      for (int index = 0; index < VOQ_FONT_TYPES; ++index) allSignable = allSignable && fontStatistics.impossible[index] == 0;
      for (const GridRow& row : kGrid) {
        SetDlgItemInt(dialog, row.count, fontStatistics.count[row.typeIndex], FALSE);
        SetDlgItemInt(dialog, row.embedded, fontStatistics.embedded[row.typeIndex], FALSE);
        SetDlgItemTextA(dialog, row.sign, yesNo(fontStatistics.impossible[row.typeIndex] == 0));
      }
      SetDlgItemInt(dialog, kTotalCount, fontStatistics.total, FALSE);
      SetDlgItemInt(dialog, kTotalEmbedded, fontStatistics.totalEmbedded, FALSE);
      SetDlgItemTextA(dialog, kTotalSign, yesNo(allSignable));
      fillFontList(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      if (closesDialog(LOWORD(wParam))) {
        logLine("dlgProcFontInfo", "Command: IDOK");
        EndDialog(dialog, 1);
        return TRUE;
      }
      switch (LOWORD(wParam)) {
        case kList:
          logLine("dlgProcFontInfo", "Command: ListBox");
          if (HIWORD(wParam) == LBN_SELCHANGE) {
            HWND list = GetDlgItem(dialog, kList);
            selectFont(dialog, list, static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)));
          }
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

void DSInfoDialog::fillFontList(HWND dialog) {
  HWND list = GetDlgItem(dialog, kList);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, 1024, 0);
  if (fontList != nullptr) {
    fontList->forEach([&](VOQ_FontEntry* entry) {
      const VOQ_String& name = entry->getName();
      SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.getData() != nullptr ? name.getData() : ""));
    });
  }
  SendMessageA(list, LB_SETCURSEL, 0, 0);
  selectFont(dialog, list, 0);
}

void selectFont(HWND dialog, HWND list, int index) {
  if (fontList == nullptr || fontList->getCount() == 0) {
    for (int control : {1002, 1172, 1175, 1176}) SetDlgItemTextA(dialog, control, "---");
    return;
  }
  // Font names come from the document: the row is read at its own length.
  const VOQ_String name(rowText(list, index).c_str());
  VOQ_FontEntry* found = nullptr;
  fontList->forEach([&](VOQ_FontEntry* entry) {
    if (found == nullptr && entry->getName().equals(name)) found = entry;
  });
  if (found == nullptr) {
    logLine("selectFont", "Warning: font not found in fontlist");
    return;
  }
  SetDlgItemTextA(dialog, 1002, name.getData());
  const VOQ_String& subtype = found->getSubtype();
  SetDlgItemTextA(dialog, 1172, subtype.getData() != nullptr ? subtype.getData() : "");
  SetDlgItemTextA(dialog, 1175, yesNo(found->isEmbedded()));
  SetDlgItemTextA(dialog, 1176, yesNo(found->isEmbedded()));
}
