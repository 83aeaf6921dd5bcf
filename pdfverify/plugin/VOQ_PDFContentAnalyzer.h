// Text inspection of the signing product, carried by the plug-in: the content analyzer
// splits the text a content stream shows into words; the URL finder walks the words of
// every page with the viewer's word finder. Nothing on the verification road creates
// either class; the helpers (word split, URL-pattern count, substring searches, byte
// exchange) are plain functions of the texts.
#pragma once

#include <stdint.h>

#include "foundation/util/VOQ_List.h"
#include "foundation/util/VOQ_String.h"
#include "pisdk/PICalls.h"

class VOQ_PDFContentAnalyzer {
 public:
  enum { ANALYZE_DONE = 0, ANALYZE_INLINE_IMAGE = 1, ANALYZE_NO_STREAM = 4 };

  // The two further values are kept and not read.
  VOQ_PDFContentAnalyzer(AVDoc doc, CosObj stream, int32_t first, int32_t second);
  ~VOQ_PDFContentAnalyzer();
  VOQ_PDFContentAnalyzer(const VOQ_PDFContentAnalyzer&) = delete;
  VOQ_PDFContentAnalyzer& operator=(const VOQ_PDFContentAnalyzer&) = delete;

  // Reads the content stream and fills the word list: 0 done, 1 an inline image could
  // not be skipped, 4 no stream could be opened.
  int32_t analyze();
  VOQ_List<VOQ_String>& getWords() { return words; }

  // Appends the text to the words: a word is a run of non-white bytes with the white
  // space after it; with `continues` the text goes on with the last word. Answers
  // whether the text ends inside a word.
  bool splitText(const char* text, unsigned int length, bool continues);
  // The URL patterns of a text: "://" (with a "www." right after it belonging to it),
  // or a lone "www.".
  static int countURLPatterns(const VOQ_String& text);

  // The bytes the viewer hands over while it reads one token.
  static void byteCallback(const char* bytes, ASInt32 length, void* clientData);

 private:
  CosObj stream;
  // Stored at construction and read nowhere, kept on purpose: the object carries all its
  // constructor was given (the two values, the viewer document the others came from).
  [[maybe_unused]] int32_t first, second;
  [[maybe_unused]] AVDoc avDoc;
  PDDoc pdDoc;
  CosDoc cosDoc;
  int32_t result = ANALYZE_DONE;
  VOQ_String pending;
  VOQ_List<VOQ_String> words;
  bool wordContinues = false;
};

class VOQ_URLFinder {
 public:
  enum { FIND_DONE = 0, FIND_RAISED = 2, FIND_OTHER_DOCUMENT = 3, FIND_NOT_PERMITTED = 4 };

  explicit VOQ_URLFinder(PDDoc doc);
  ~VOQ_URLFinder();
  VOQ_URLFinder(const VOQ_URLFinder&) = delete;
  VOQ_URLFinder& operator=(const VOQ_URLFinder&) = delete;

  // Whether the active view's document permits reading its text.
  bool allowed();
  // Walks the words of every page: 0 done, 2 the viewer raised, 3 the active view shows
  // another document, 4 reading the text is not permitted.
  int32_t find();
  uint32_t getWordCount() const { return wordCount; }

  static ASBool checkWordCB(PDWordFinder finder, PDWord word, ASInt32 page, void* clientData);

 private:
  PDDoc doc;
  AVDoc activeDoc = nullptr;
  int32_t result = FIND_DONE;
  PDWordFinderConfigRec config;
  ASBool unicode = 1;
  uint32_t wordCount = 0;
  uint32_t second = 0;
  char* buffer;  // one word's text
};

// The first occurrence of needle in haystack (zero-terminated 16-bit or byte strings):
// its index, 0 for an empty needle, -1 when it does not occur or is longer.
int findString16(const uint16_t* haystack, const uint16_t* needle);
int findString(const char* haystack, const char* needle);
// Exchanges the two bytes of each of the first count 16-bit units; false, and nothing
// changed, for an odd count.
bool exchangeBytes(uint16_t* buffer, int count);
