// Content streams and words over qpdf's content tokenizer: streams opened for reading,
// their tokens and inline images, the permission to read a document's text, and a word
// finder. The word finder takes the strings that text-showing operators (Tj, TJ, ' and ")
// show, in content order, splits each operator's text at white space (bytes up to 32)
// into words, and gives each character as the UTF-16 of its byte (Latin-1); words do
// not join across operators.
#include <cstring>

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "ViewerState.h"

namespace vhost {

namespace {

StmRec& stmOf(ASStm stm) {
  auto it = state().streams.find(stm);
  if (it == state().streams.end()) raise(asErrBadHandle);
  return *it->second;
}

WordFinderRec& finderOf(PDWordFinder finder) {
  auto it = state().wordFinders.find(finder);
  if (it == state().wordFinders.end()) raise(asErrBadHandle);
  return *it->second;
}

// The word being handed to a word procedure now; any other handle raises.
const WordRec& wordOf(PDWord word) {
  for (auto& [handle, finder] : state().wordFinders) {
    if (finder->current != nullptr && reinterpret_cast<PDWord>(const_cast<WordRec*>(finder->current)) == word) {
      return *finder->current;
    }
  }
  raise(asErrBadHandle);
}

QPDFTokenizer::Token nextToken(StmRec& s) {
  return s.tokenizer.readToken(s.input, "content stream", true);
}

// The concatenated contents of a page.
std::string pageContents(QPDFObjectHandle page) {
  Pl_Buffer buffer("page contents");
  QPDFPageObjectHelper(page).pipeContents(&buffer);
  std::unique_ptr<Buffer> data(buffer.getBuffer());
  return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

// The texts that the text-showing operators of a content stream show, in order.
std::vector<std::string> shownTexts(const std::string& contents) {
  std::vector<std::string> texts;
  auto input = std::make_shared<BufferInputSource>("page contents", contents);
  QPDFTokenizer tokenizer;
  tokenizer.allowEOF();
  std::string operands;
  for (int guard = 0; guard < 10000000; ++guard) {
    QPDFTokenizer::Token t = tokenizer.readToken(input, "page contents", true);
    if (t.getType() == QPDFTokenizer::tt_eof) break;
    if (t.getType() == QPDFTokenizer::tt_string) {
      operands += t.getValue();
    } else if (t.getType() == QPDFTokenizer::tt_word) {
      const std::string& op = t.getValue();
      if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
        texts.push_back(operands);
      } else if (op == "ID") {
        char c;
        input->read(&c, 1);
        tokenizer.expectInlineImage(input);
        tokenizer.readToken(input, "page contents", true);
      }
      operands.clear();
    }
  }
  return texts;
}

}  // namespace

namespace ops {

// --- AcroSupport ----------------------------------------------------------------------------

ASInt32 ASStmClose(ASStm stm) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    stmOf(stm);
    state().streams.erase(stm);
    return 0;
  });
}

// --- Cos --------------------------------------------------------------------------------------

// Mode 2 reads the stream's data through its filters; any other mode reads it raw.
ASStm CosStreamOpenStm(CosObj stream, ASUns32 mode) {
  return hostEntry(__func__, [&]() -> ASStm {
    QPDFObjectHandle& h = objectOf(stream);
    if (!h.isStream()) raise(cosErrExpectedStream);
    auto rec = std::make_unique<StmRec>();
    rec->doc = &documentOf(stream.doc);
    std::shared_ptr<Buffer> data = mode == 2 ? h.getStreamData(qpdf_dl_generalized) : h.getRawStreamData();
    rec->bytes.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    rec->input = std::make_shared<BufferInputSource>("stream", rec->bytes);
    rec->tokenizer.allowEOF();
    ASStm stm = reinterpret_cast<ASStm>(rec.get());
    state().streams.emplace(stm, std::move(rec));
    return stm;
  });
}

// Objects belong to their document; destroying one only checks the handle.
void CosObjDestroy(CosObj obj) {
  hostEntry(__func__, [&] { objectOf(obj); });
}

// --- PDModel ----------------------------------------------------------------------------------

ASInt32 PDContentReadToken(ASStm stm, ASCallback byteProc, void* clientData, PDContentTokenRec* token) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    StmRec& s = stmOf(stm);
    if (token == nullptr || token->size != sizeof(PDContentTokenRec)) raise(genErrBadParm);
    auto bytes = byteProc ? callbackAs<PDContentByteProc>(byteProc) : nullptr;
    qpdf_offset_t before = s.input->tell();
    QPDFTokenizer::Token t = nextToken(s);
    ASInt32 consumed = static_cast<ASInt32>(s.input->tell() - before);
    std::memset(token->text, 0, sizeof token->text);
    token->stringLength = 0;
    switch (t.getType()) {
      case QPDFTokenizer::tt_eof:
        token->type = kPDContentTokenNone;
        break;
      case QPDFTokenizer::tt_word: {
        token->type = kPDContentTokenOperator;
        std::string name = t.getValue().substr(0, sizeof token->text - 1);
        std::memcpy(token->text, name.data(), name.size());
        break;
      }
      case QPDFTokenizer::tt_string: {
        token->type = kPDContentTokenString;
        const std::string& value = t.getValue();
        size_t kept = std::min(value.size(), sizeof token->text - 1);
        std::memcpy(token->text, value.data(), kept);
        token->stringLength = static_cast<ASInt32>(kept);
        if (value.size() > kept && bytes) {
          bytes(value.data() + kept, static_cast<ASInt32>(value.size() - kept), clientData);
        }
        break;
      }
      case QPDFTokenizer::tt_integer:
      case QPDFTokenizer::tt_real:
        token->type = kPDContentTokenNumber;
        break;
      case QPDFTokenizer::tt_name:
        token->type = kPDContentTokenName;
        break;
      default:
        token->type = kPDContentTokenOther;
        break;
    }
    return consumed;
  });
}

// Reads an inline image after its "BI": the parameters up to "ID", then the data up to
// "EI". An image without them raises; `image` answers a dictionary of its parameters.
void PDContentReadInlineImage(ASStm stm, CosDoc doc, CosObj* image) {
  hostEntry(__func__, [&] {
    StmRec& s = stmOf(stm);
    Document& d = documentOf(doc);
    if (image == nullptr) raise(genErrBadParm);
    for (;;) {
      QPDFTokenizer::Token t = nextToken(s);
      if (t.getType() == QPDFTokenizer::tt_eof || t.getType() == QPDFTokenizer::tt_bad) raise(cosErrRead);
      if (t.getType() == QPDFTokenizer::tt_word && t.getValue() == "ID") break;
    }
    char c;
    if (s.input->read(&c, 1) != 1) raise(cosErrRead);
    s.tokenizer.expectInlineImage(s.input);
    if (nextToken(s).getType() != QPDFTokenizer::tt_inline_image) raise(cosErrRead);
    QPDFTokenizer::Token end = nextToken(s);
    if (end.getType() != QPDFTokenizer::tt_word || end.getValue() != "EI") raise(cosErrRead);
    *image = cosObjOf(d, QPDFObjectHandle::newDictionary());
  });
}

// Reading the text (operation 5) is denied by an encryption that forbids extraction.
ASInt32 PDDocPermRequest(PDDoc doc, ASInt32 /*object*/, ASInt32 operation, void* /*authData*/) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    Document& d = documentOf(doc);
    if (operation == 5 && d.qpdf->isEncrypted() && !d.qpdf->allowExtractAll()) return -1;
    return 0;
  });
}

PDWordFinder PDDocCreateWordFinderEx(PDDoc doc, ASInt32 /*version*/, ASBool unicode,
                                     const PDWordFinderConfigRec* config) {
  return hostEntry(__func__, [&]() -> PDWordFinder {
    if (config != nullptr && config->recordSize != sizeof(PDWordFinderConfigRec)) raise(genErrBadParm);
    auto rec = std::make_unique<WordFinderRec>();
    rec->doc = &documentOf(doc);
    rec->unicode = unicode != 0;
    PDWordFinder finder = reinterpret_cast<PDWordFinder>(rec.get());
    state().wordFinders.emplace(finder, std::move(rec));
    return finder;
  });
}

void PDWordFinderEnumWords(PDWordFinder finder, ASInt32 page, ASCallback proc, void* clientData) {
  hostEntry(__func__, [&] {
    WordFinderRec& f = finderOf(finder);
    auto wordProc = callbackAs<PDWordProc>(proc);
    const std::vector<QPDFObjectHandle>& pages = f.doc->qpdf->getAllPages();
    if (page < 0 || static_cast<size_t>(page) >= pages.size()) raise(pdErrBadPageIndex);
    for (const std::string& text : shownTexts(pageContents(pages[static_cast<size_t>(page)]))) {
      size_t i = 0;
      while (i < text.size()) {
        while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
        size_t start = i;
        while (i < text.size() && static_cast<unsigned char>(text[i]) > 32) ++i;
        if (i == start) continue;
        WordRec word;
        word.length = static_cast<ASInt32>(i - start);
        for (size_t k = start; k < i; ++k) {
          if (f.unicode) word.text += '\0';
          word.text += text[k];
        }
        f.current = &word;
        struct Clear {
          WordFinderRec& f;
          ~Clear() { f.current = nullptr; }
        } clear{f};
        if (!wordProc(finder, reinterpret_cast<PDWord>(&word), page, clientData)) return;
      }
    }
  });
}

void PDWordFinderDestroy(PDWordFinder finder) {
  hostEntry(__func__, [&] {
    finderOf(finder);
    state().wordFinders.erase(finder);
  });
}

ASInt32 PDWordGetLength(PDWord word) {
  return hostEntry(__func__, [&]() -> ASInt32 { return wordOf(word).length; });
}

// The word's text into the buffer, terminated when there is room; the bytes copied.
ASInt32 PDWordGetString(PDWord word, char* buffer, ASInt32 size) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    const WordRec& w = wordOf(word);
    if (buffer == nullptr || size <= 0) raise(genErrBadParm);
    size_t n = std::min(w.text.size(), static_cast<size_t>(size));
    std::memcpy(buffer, w.text.data(), n);
    if (n < static_cast<size_t>(size)) buffer[n] = '\0';
    if (n + 1 < static_cast<size_t>(size)) buffer[n + 1] = '\0';
    return static_cast<ASInt32>(n);
  });
}

}  // namespace ops
}  // namespace vhost
