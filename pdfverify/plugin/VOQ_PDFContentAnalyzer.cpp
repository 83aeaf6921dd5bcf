#include "VOQ_PDFContentAnalyzer.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <optional>

#include "HostHelpers.h"
#include "Messages.h"
#include "PluginState.h"
#include "VOQ_DocumentValidator.h"
#include "certcheck/VOQ_ProgressDialog.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

VOQ_TraceContext* analyzerTrace() {
  static VOQ_TraceContext* context = pluginTrace("VOQ_PDFContentAnalyzer");
  return context;
}
VOQ_TraceContext* finderTrace() {
  static VOQ_TraceContext* context = pluginTrace("VOQ_URLFinder");
  return context;
}

bool isWhite(unsigned char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }

const int kProgressDialog = 128;
const int kProgressBar = 1129;

}  // namespace

// --- helpers ----------------------------------------------------------------------------

int findString16(const uint16_t* haystack, const uint16_t* needle) {
  size_t h = 0, n = 0;
  while (haystack != nullptr && haystack[h] != 0) ++h;
  while (needle != nullptr && needle[n] != 0) ++n;
  if (n > h) return -1;
  for (size_t i = 0; i + n <= h; ++i) {
    if (memcmp(haystack + i, needle, n * sizeof(uint16_t)) == 0) return static_cast<int>(i);
  }
  return -1;
}

int findString(const char* haystack, const char* needle) {
  size_t h = haystack != nullptr ? strlen(haystack) : 0;
  size_t n = needle != nullptr ? strlen(needle) : 0;
  if (n > h) return -1;
  for (size_t i = 0; i + n <= h; ++i) {
    if (memcmp(haystack + i, needle, n) == 0) return static_cast<int>(i);
  }
  return -1;
}

bool exchangeBytes(uint16_t* buffer, int count) {
  if (count % 2 != 0) return false;
  for (int i = 0; i < count; ++i) buffer[i] = static_cast<uint16_t>((buffer[i] << 8) | (buffer[i] >> 8));
  return true;
}

// --- VOQ_PDFContentAnalyzer -----------------------------------------------------------------

VOQ_PDFContentAnalyzer::VOQ_PDFContentAnalyzer(AVDoc doc, CosObj stream, int32_t first, int32_t second)
    : stream(stream), first(first), second(second), avDoc(doc) {
  pdDoc = AVDocGetPDDoc(doc);
  cosDoc = PDDocGetCosDoc(pdDoc);
  analyzerTrace()->log("Constructor", "Constructed.", VOQ_TraceContext::INSIDE);
}

VOQ_PDFContentAnalyzer::~VOQ_PDFContentAnalyzer() {
  words.removeAll();
  pending.clear();
  analyzerTrace()->log("Destructor", "Destructed.", VOQ_TraceContext::INSIDE);
}

void VOQ_PDFContentAnalyzer::byteCallback(const char* bytes, ASInt32 length, void* clientData) {
  if (bytes != nullptr && length > 0) {
    static_cast<VOQ_PDFContentAnalyzer*>(clientData)->pending.append(static_cast<unsigned>(length), bytes);
  }
}

bool VOQ_PDFContentAnalyzer::splitText(const char* text, unsigned int length, bool continues) {
  VOQ_String* word = nullptr;
  if (continues && words.getCount() > 0) {
    word = words.getAt(words.getCount() - 1);
  } else {
    word = new VOQ_String();
    words.insertAt(word, words.getCount(), true, false);
  }
  bool afterWhite = false;
  for (unsigned int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isWhite(c) && afterWhite) {
      word = new VOQ_String();
      words.insertAt(word, words.getCount(), true, false);
    }
    word->appendByte(c);
    afterWhite = isWhite(c);
  }
  return length > 0 ? !isWhite(static_cast<unsigned char>(text[length - 1])) : continues;
}

int VOQ_PDFContentAnalyzer::countURLPatterns(const VOQ_String& text) {
  const char* p = text.getData();
  unsigned int left = text.getLength();
  int count = 0;
  while (p != nullptr && left > 0) {
    if (left >= 3 && memcmp(p, "://", 3) == 0) {
      ++count;
      p += 3;
      left -= 3;
      if (left > 3 && memcmp(p, "www.", 4) == 0) {
        p += 4;
        left -= 4;
      }
    } else if (left >= 4 && memcmp(p, "www.", 4) == 0) {
      ++count;
      p += 4;
      left -= 4;
    } else {
      ++p;
      --left;
    }
  }
  return count;
}

int32_t VOQ_PDFContentAnalyzer::analyze() {
  result = ANALYZE_DONE;
  wordContinues = false;
  words.removeAll();
  ASStm stm = nullptr;
  DURING
    stm = CosStreamOpenStm(stream, 2);
  HANDLER
    stm = nullptr;
  END_HANDLER
  if (stm == nullptr) {
    analyzerTrace()->log("analyze", "invalid parameter.", VOQ_TraceContext::INSIDE);
    result = ANALYZE_NO_STREAM;
    return result;
  }
  struct StreamCloser {
    ASStm stm;
    ~StreamCloser() { ASStmClose(stm); }
  } closer{stm};
  ScopedCallback bytes(ASCallbackCreateProto(PDContentByteProc, &byteCallback));
  for (;;) {
    pending.clear();
    PDContentTokenRec token;
    memset(&token, 0, sizeof token);
    token.size = sizeof token;
    ASInt32 consumed = PDContentReadToken(stm, bytes.get(), this, &token);
    if (token.type == kPDContentTokenNone) {
      if (consumed == 0) break;
      continue;
    }
    if (token.type == kPDContentTokenOperator) {
      if (strcmp(token.text, "BI") == 0) {
        analyzerTrace()->log("analyze", "skipping inline image.", VOQ_TraceContext::INSIDE);
        CosObj image = CosNewNull();
        bool skipped = true;
        DURING
          PDContentReadInlineImage(stm, cosDoc, &image);
        HANDLER
          skipped = false;
        END_HANDLER
        CosObjDestroy(image);
        if (!skipped) {
          analyzerTrace()->log("analyze", "Error when skipping inline image object.", VOQ_TraceContext::INSIDE);
          result = ANALYZE_INLINE_IMAGE;
          return result;
        }
      } else if (strcmp(token.text, "Tm") == 0) {
        wordContinues = false;
      }
    } else if (token.type == kPDContentTokenString) {
      VOQ_String text(static_cast<unsigned>(token.stringLength), token.text);
      text.append(pending);
      wordContinues = splitText(text.getData(), text.getLength(), wordContinues);
    }
  }
  return result;
}

// --- VOQ_URLFinder --------------------------------------------------------------------------

VOQ_URLFinder::VOQ_URLFinder(PDDoc doc) : doc(doc), buffer(new char[1024]) {
  memset(&config, 0, sizeof config);
  finderTrace()->log("VOQ_URLFinder", "Instance of VOQ_URL_Finder created.", VOQ_TraceContext::ENTER);
}

VOQ_URLFinder::~VOQ_URLFinder() {
  delete[] buffer;
  finderTrace()->log("~VOQ_URLFinder", "Instance of VOQ_URL_Finder destoyed.", VOQ_TraceContext::LEAVE);
}

bool VOQ_URLFinder::allowed() {
  AVDoc active = AVAppGetActiveDoc();
  if (active == nullptr) {
    finderTrace()->log("allowed", "ERROR: No active document!", VOQ_TraceContext::INSIDE);
    return false;
  }
  if (PDDocPermRequest(AVDocGetPDDoc(active), 1, 5, nullptr) != 0) {
    finderTrace()->log("allowed", "Access to text of the document is NOT allowd.", VOQ_TraceContext::INSIDE);
    return false;
  }
  finderTrace()->log("allowed", "Access to text of the document is allowd.", VOQ_TraceContext::INSIDE);
  return true;
}

ASBool VOQ_URLFinder::checkWordCB(PDWordFinder, PDWord word, ASInt32, void* clientData) {
  auto* self = static_cast<VOQ_URLFinder*>(clientData);
  ++self->wordCount;
  unsigned char n = static_cast<unsigned char>(PDWordGetLength(word));
  memset(self->buffer, 0, 1024);
  PDWordGetString(word, self->buffer, 1024);
  uint16_t units[512];
  memcpy(units, self->buffer, sizeof units);
  if (exchangeBytes(units, n)) memcpy(self->buffer, units, sizeof units);
  finderTrace()->logRaw("checkWordCB", "", reinterpret_cast<const unsigned char*>(self->buffer), 2u * n);
  return true;
}

int32_t VOQ_URLFinder::find() {
  const char* method = "find";
  finderTrace()->log(method, "Start finding URLs in the document\xC2\xB4s text.", VOQ_TraceContext::ENTER);
  wordCount = 0;
  second = 0;
  activeDoc = AVAppGetActiveDoc();
  PDDoc shown = activeDoc != nullptr ? AVDocGetPDDoc(activeDoc) : nullptr;
  PDWordFinder finder = nullptr;
  ASCallback wordCallback = nullptr;
  if (shown != doc) {
    result = FIND_OTHER_DOCUMENT;
  } else if (!allowed()) {
    result = FIND_NOT_PERMITTED;
  } else {
    result = FIND_DONE;
    config.recordSize = sizeof config;
    for (int i : {0, 3, 4, 5, 6}) config.flags[i] = 1;
    // The progress dialog ends on every way out, a raise included.
    std::optional<VOQ_ProgressDialog> progress;
    struct ProgressEnd {
      std::optional<VOQ_ProgressDialog>& dialog;
      ~ProgressEnd() {
        if (!dialog) return;
        dialog->stop(true);
        validatorProgress = nullptr;
        dialog.reset();
      }
    } progressEnd{progress};
    DURING
      ASInt32 pages = PDDocGetNumPages(doc);
      progress.emplace(hostMainWindow, getAnalyzingText(languageFlag), kProgressDialog, kProgressBar, pluginInstance);
      validatorProgress = &*progress;
      progress->start(0);
      finder = PDDocCreateWordFinderEx(doc, 0, unicode, &config);
      wordCallback = ASCallbackCreateProto(PDWordProc, &checkWordCB);
      for (ASInt32 page = 0; page < pages; ++page) {
        finderTrace()->logFormat(method, "Scanning page number %d\n", page);
        PDWordFinderEnumWords(finder, page, wordCallback, this);
        finderTrace()->logFormat(method, "Finshed scanning page number %d\n", page);
      }
    HANDLER
      char text[1024];
      text[0] = '\0';
      ASGetErrorString(ERRORCODE, text, sizeof text);
      text[sizeof text - 1] = '\0';
      char line[1100];
      snprintf(line, sizeof line, "Exception in PDWordFinderEnum: %s", text);
      finderTrace()->log(method, line, VOQ_TraceContext::LEAVE);
      result = FIND_RAISED;
    END_HANDLER
  }
  if (finder != nullptr) PDWordFinderDestroy(finder);
  if (wordCallback != nullptr) ASCallbackDestroy(wordCallback);
  finderTrace()->log(method, "Finished.", VOQ_TraceContext::LEAVE);
  return result;
}
