// The PubSec handler "Dor:valin" driven through its record as the viewer calls it: the
// registration, the property and session tables, the signing refusals, the logo, and
// SigValidate's failure paths. The plug-in's code runs in the test's own process.
#include "DSHandler.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <set>
#include <string>
#include <vector>

#include "DSEngine.h"
#include "HostCalls.h"
#include "TestFiles.h"
#include "PluginState.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace wt = platform::wintest;

namespace {

const char kDefaultError[] = "Error at File: .\\DSHandler , Line: __LINE__";

std::string take(ASText text) {
  if (text == nullptr) return "<null>";
  std::string s = ASTextGetEncoded(text, 0);
  ASTextDestroy(text);
  return s;
}

class Handler : public ::testing::Test {
 protected:
  void SetUp() override {
    viewer.config().appearances = {"Plain", "With logo"};
    pdftest::bindHFTs(viewer);
    languageFlag = 1;
    wt::clearMessageBoxes();
  }
  void TearDown() override {
    Unregister();
    EXPECT_EQ(viewer.liveCallbacks(), 0) << "Unregister destroys the 19 callbacks";
    EXPECT_EQ(viewer.frameDepth(), 0);
  }
  // Registers and keeps the record's procedures, which stay callable as code after
  // Unregister.
  void registerHandler() {
    ASSERT_TRUE(Register());
    rec = *currentPubSecHandler();
    boolProp = viewer.procedure<PSGetBoolPropertyProc>(rec.getBoolProperty);
    atomProp = viewer.procedure<PSGetAtomPropertyProc>(rec.getAtomProperty);
    intProp = viewer.procedure<PSGetInt32PropertyProc>(rec.getInt32Property);
    textProp = viewer.procedure<PSGetTextPropertyProc>(rec.getTextProperty);
    acquire = viewer.procedure<PSSessionAcquireProc>(rec.sessionAcquire);
    ready = viewer.procedure<PSSessionReadyProc>(rec.sessionReady);
    release = viewer.procedure<PSSessionReleaseProc>(rec.sessionRelease);
    newEngine = viewer.procedure<PSNewEngineProc>(rec.newEngine);
    destroyEngine = viewer.procedure<PSDestroyEngineProc>(rec.destroyEngine);
    validate = viewer.procedure<PSSigValidateProc>(rec.sigValidate);
  }
  std::string atomText(ASAtom atom) { return atom == ASAtomNull ? "<null>" : ASAtomGetString(atom); }

  vhost::Viewer viewer;
  PubSecHandlerRec rec{};
  PSGetBoolPropertyProc boolProp = nullptr;
  PSGetAtomPropertyProc atomProp = nullptr;
  PSGetInt32PropertyProc intProp = nullptr;
  PSGetTextPropertyProc textProp = nullptr;
  PSSessionAcquireProc acquire = nullptr;
  PSSessionReadyProc ready = nullptr;
  PSSessionReleaseProc release = nullptr;
  PSNewEngineProc newEngine = nullptr;
  PSDestroyEngineProc destroyEngine = nullptr;
  PSSigValidateProc validate = nullptr;
};

TEST_F(Handler, TheRecordHoldsNineteenCallbacksAndTheRegisteredEngine) {
  registerHandler();
  EXPECT_EQ(rec.size, sizeof(PubSecHandlerRec));
  EXPECT_NE(rec.engine, nullptr);
  EXPECT_EQ(currentPubSecEngine(), rec.engine);
  EXPECT_EQ(viewer.liveCallbacks(), 19);
  EXPECT_EQ(viewer.registeredHandlers(), 1);
  EXPECT_FALSE(Register()) << "a registered handler is not registered twice";
  Unregister();
  EXPECT_EQ(currentPubSecHandler(), nullptr);
  EXPECT_EQ(currentPubSecEngine(), nullptr);
  EXPECT_EQ(viewer.registeredHandlers(), 0);
}

TEST_F(Handler, ARefusedRegistrationIsAFailureAndLeavesNothingRegistered) {
  viewer.config().refuseHandler = true;
  EXPECT_FALSE(Register());
  EXPECT_EQ(currentPubSecHandler(), nullptr) << "the download command must not see a handler";
  EXPECT_EQ(viewer.liveCallbacks(), 0);
  // Once the host accepts, the handler registers: nothing stale blocks it.
  viewer.config().refuseHandler = false;
  EXPECT_TRUE(Register());
  EXPECT_NE(currentPubSecHandler(), nullptr);
}

TEST_F(Handler, WithoutPubSecNothingRegisters) {
  gPubSecHFT = nullptr;
  EXPECT_FALSE(Register());
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

struct PropertyCase {
  char kind;  // 'b' bool (default 0 and 1), 'a' atom, 'i' int32 (default 42), 't' text
  const char* name;
  ASInt32 index;
  std::string withEngine, withoutEngine;
};

TEST_F(Handler, PropertiesWithTheRegisteredEngineAndWithout) {
  const PropertyCase cases[] = {
      {'b', "signVisible", 0, "1/1", "0/1"},    {'b', "signPKCS7", 0, "1/1", "0/1"},
      {'b', "signCustomAP", 0, "1/1", "0/1"},   {'b', "signInvisible", 0, "0/0", "0/1"},
      {'b', "docEncrypt", 0, "0/0", "0/1"},     {'b', "signFDF", 0, "0/0", "0/1"},
      {'b', "isLoggedIn", 0, "0/0", "0/1"},     {'b', "userInterface", 0, "1/1", "0/1"},
      {'b', "unknown", 0, "0/1", "0/1"},        {'b', nullptr, 0, "0/1", "0/1"},
      {'a', "DigSigHandlerName", 0, "Dor:valin", "Dor:valin"},
      {'a', "PubSecHandlerName", 0, "Dor:valin", "Dor:valin"},
      {'a', "SubFilter", 0, "adbe.pkcs7.detached", "adbe.pkcs7.detached"},
      {'a', "unknown", 0, "<null>", "<null>"},  {'a', nullptr, 0, "<null>", "<null>"},
      {'i', "version", 0, "1", "1"},            {'i', "appearances", 0, "2", "42"},
      {'i', "unknown", 0, "42", "42"},          {'i', nullptr, 0, "42", "42"},
      {'t', "uiName", 0, "Dor:valin", "Dor:valin"},
      {'t', "PubSecHandlerName", 0, "Dor:valin", "Dor:valin"},
      {'t', "loginName", 0, "<null>", "<null>"}, {'t', "loginPath", 0, "<null>", "<null>"},
      {'t', "appearances", 1, "With logo", "<null>"}, {'t', "appearances", 2, "<null>", "<null>"},
      {'t', "exception", -1, "A parameter had an incorrect value. ", "<null>"},
      {'t', "exception", 0, "<null>", "<null>"}, {'t', nullptr, -1, "<null>", "<null>"},
  };
  registerHandler();
  auto ask = [&](const PropertyCase& c) -> std::string {
    switch (c.kind) {
      case 'b':
        return std::to_string(boolProp(nullptr, c.name, 0)) + "/" + std::to_string(boolProp(nullptr, c.name, 1));
      case 'a':
        return atomText(atomProp(nullptr, c.name));
      case 'i':
        return std::to_string(intProp(nullptr, c.name, 42));
      default:
        return take(textProp(nullptr, c.name, c.index));
    }
  };
  for (const PropertyCase& c : cases) {
    EXPECT_EQ(ask(c), c.withEngine) << c.kind << " " << (c.name ? c.name : "(null)") << " " << c.index;
  }
  Unregister();
  for (const PropertyCase& c : cases) {
    EXPECT_EQ(ask(c), c.withoutEngine) << c.kind << " " << (c.name ? c.name : "(null)") << " after Unregister";
  }
  EXPECT_EQ(viewer.frameDepth(), 0);
}

TEST_F(Handler, SessionsByOperationTypeAndUserInterface) {
  registerHandler();
  // acquire without UI, acquire with UI; ready before and after a login.
  struct Row {
    ASInt32 type;
    ASInt32 acquireNoUI, acquireUI, readyOut, readyIn;
  };
  const Row rows[] = {{0, 1, 1, 1, 1},   {1, -1, 1, 0, 1},  {2, 1, 1, 0, 1},  {3, -1, 1, 0, 1},  {4, 1, 1, 1, 1},
                      {5, -1, 1, 1, 1},  {6, 1, 1, 1, 1},   {7, -1, 1, 0, 1}, {8, 0, 0, 0, 0},   {9, -1, 1, 0, 1},
                      {10, 1, 1, 1, 1},  {11, -1, 1, 0, 1}, {12, -1, 1, 0, 1}, {13, 1, 1, 1, 1}, {14, 1, 1, 1, 1},
                      {15, 0, 0, 0, 0},  {16, 0, 0, 0, 0},  {17, 0, 0, 0, 0}, {99, 0, 0, 0, 0},  {-1, 0, 0, 0, 0}};
  for (const Row& r : rows) {
    PubSecEngine e = newEngine();
    EXPECT_EQ(ready(e, r.type), r.readyOut) << r.type;
    EXPECT_EQ(acquire(e, nullptr, r.type, nullptr, nullptr, false), r.acquireNoUI) << r.type;
    if (r.acquireNoUI == -1) {
      EXPECT_EQ(take(textProp(e, "exception", -1)), kDefaultError) << r.type;
    }
    EXPECT_EQ(acquire(e, nullptr, r.type, nullptr, nullptr, true), r.acquireUI) << r.type;
    EXPECT_EQ(release(e, r.type), 1);
    // A login (by any type that logs in) makes "logged in" answers 1.
    acquire(e, nullptr, 1, nullptr, nullptr, true);
    EXPECT_EQ(ready(e, r.type), r.readyIn) << r.type;
    EXPECT_EQ(boolProp(e, "isLoggedIn", 0), 1);
    destroyEngine(e);
  }
}

// A raise of the host while DestroyEngine releases the engine's error text stays inside
// the engine: the viewer goes on, with its frames balanced.
TEST_F(Handler, ARaiseWhileTheEngineReleasesItsErrorTextEndsThere) {
  registerHandler();
  PubSecEngine e = newEngine();
  ASSERT_EQ(acquire(e, nullptr, 1, nullptr, nullptr, false), -1);
  ASSERT_EQ(take(textProp(e, "exception", -1)), kDefaultError);
  viewer.config().faults = {{"ASTextDestroy", viewer.callCount("ASTextDestroy") + 1, genErrNoMemory}};
  destroyEngine(e);
  viewer.config().faults.clear();
  EXPECT_EQ(viewer.frameDepth(), 0);
}

TEST_F(Handler, SigningIsRefusedWithAFailureAndTheRefusalAsErrorText) {
  registerHandler();
  const char* german =
      "Mit Tolmira können keine Signaturen erstellt werden. Bitte stellen Sie zum unterschreiben einen anderen "
      "Signaturhandler ein.";
  const char* english =
      "With Tolmira it is not possible to create signatures. Please adjust another handler for digital signature "
      "creation.";
  auto properties = viewer.procedure<PSSigGetSigPropertiesProc>(rec.sigGetSigProperties);
  auto value = viewer.procedure<PSSigGetSigValueProc>(rec.sigGetSigValue);
  const int texts = viewer.liveHandles().at("text");
  PubSecEngine e = newEngine();
  EXPECT_EQ(properties(e, nullptr), -2);
  EXPECT_EQ(viewer.liveHandles().at("text"), texts + 1) << "the engine keeps one error text";
  languageFlag = 0;
  EXPECT_EQ(value(e, nullptr), -2);
  EXPECT_EQ(viewer.liveHandles().at("text"), texts + 1) << "the replaced text is released";
  const std::vector<wt::MessageBoxRecord> boxes = wt::messageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, german);
  EXPECT_EQ(boxes[0].caption, "Fehler");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(boxes[1].text, english);
  EXPECT_EQ(boxes[1].caption, "Error");
  // The host reads why, as often as it likes: each read is a text of its own.
  EXPECT_EQ(take(textProp(e, "exception", -1)), english);
  EXPECT_EQ(take(textProp(e, "exception", 0)), english);
  EXPECT_EQ(viewer.liveHandles().at("text"), texts + 1) << "the texts handed out are the viewer's";
  // Without an engine: a failure, no box.
  Unregister();
  EXPECT_EQ(properties(nullptr, nullptr), -2);
  EXPECT_EQ(wt::messageBoxes().size(), 2u);
  destroyEngine(e);
  EXPECT_EQ(viewer.liveHandles().at("text"), texts) << "the engine's text goes with it";
}

TEST_F(Handler, TheOtherCallbacksAnswerWithoutDoingAnything) {
  registerHandler();
  auto perform = viewer.procedure<PSPerformOperationProc>(rec.performOperation);
  auto authenticate = viewer.procedure<PSSigAuthenticateProc>(rec.sigAuthenticate);
  auto exportData = viewer.procedure<PSExportDataProc>(rec.exportData);
  auto envelope = viewer.procedure<PSOpenCMSEnvelopeProc>(rec.openCMSEnvelope);
  auto recipients = viewer.procedure<PSGetImplicitRecipientsProc>(rec.getImplicitRecipients);
  int data = 0;
  EXPECT_EQ(perform(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(authenticate(nullptr, nullptr, nullptr, false), 0);
  EXPECT_EQ(boolProp(nullptr, "isLoggedIn", 0), 0);
  EXPECT_EQ(authenticate(nullptr, nullptr, nullptr, true), 1);
  EXPECT_EQ(boolProp(nullptr, "isLoggedIn", 0), 1);
  EXPECT_EQ(exportData(nullptr, nullptr, &data, 0), 1);
  EXPECT_EQ(exportData(nullptr, nullptr, nullptr, 0), -1);
  EXPECT_EQ(envelope(nullptr, &data, nullptr, &data, &data, 0), 0);
  EXPECT_EQ(envelope(nullptr, &data, nullptr, nullptr, &data, 0), -1);
  EXPECT_EQ(recipients(nullptr, &data, 0), 1);
  EXPECT_EQ(recipients(nullptr, nullptr, 0), -1);
  Unregister();
  EXPECT_EQ(perform(nullptr, nullptr, nullptr, 0), -2);
  EXPECT_EQ(authenticate(nullptr, nullptr, nullptr, true), -1);
  EXPECT_EQ(exportData(nullptr, nullptr, &data, 0), -1);
  EXPECT_EQ(envelope(nullptr, &data, &data, &data, &data, 0), -1);
  EXPECT_EQ(recipients(nullptr, &data, 0), -1);
}

// Checks the logo's operators and coordinates while qpdf parses it.
class LogoCheck : public QPDFObjectHandle::ParserCallbacks {
 public:
  void handleObject(QPDFObjectHandle obj) override {
    if (obj.isOperator()) {
      const std::string op = obj.getOperatorValue();
      if (allowed.count(op) == 0) bad.push_back(op);
      if (op == "m") ++subpaths;
      if (op == "m" || op == "l" || op == "c") {
        for (size_t i = 0; i < operands.size(); i += 2) {
          const double x = operands[i], y = i + 1 < operands.size() ? operands[i + 1] : -1;
          if (x < 0 || x > 145 || y < 0 || y > 112) bad.push_back(op + " outside the box");
        }
      }
      operands.clear();
    } else if (obj.isNumber()) {
      operands.push_back(obj.getNumericValue());
    } else {
      bad.push_back("operand " + obj.unparse());
    }
  }
  void handleEOF() override {}

  std::set<std::string> allowed{"k", "i", "m", "l", "c", "h", "f"};
  std::vector<double> operands;
  std::vector<std::string> bad;
  int subpaths = 0;
};

TEST_F(Handler, TheLogoIsAContentStreamInsideItsBox) {
  registerHandler();
  auto logo = viewer.procedure<PSGetLogoProc>(rec.getAppearanceLogo);
  const char* content = "x";
  const ASFixedRect* box = reinterpret_cast<const ASFixedRect*>(&content);
  logo(0x1234, &content, &box);
  EXPECT_EQ(content, nullptr);
  EXPECT_EQ(box, nullptr);
  logo(0xFFFF, &content, &box);
  ASSERT_NE(content, nullptr);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->left, 0);
  EXPECT_EQ(box->top, 112 * 65536);
  EXPECT_EQ(box->right, 145 * 65536);
  EXPECT_EQ(box->bottom, 0);
  const std::string stream = content;
  EXPECT_NE(stream.back(), '\n');
  QPDF pdf;
  pdf.emptyPDF();
  LogoCheck check;
  QPDFObjectHandle::parseContentStream(QPDFObjectHandle::newStream(&pdf, stream), &check);
  EXPECT_TRUE(check.bad.empty()) << check.bad.front();
  EXPECT_EQ(check.subpaths, 43);
  logo(0xFFFF, nullptr, nullptr);  // no outputs asked for
}

// SigValidate's failures: -2, the error text, and no progress thread afterwards.
TEST_F(Handler, SigValidateFailuresEndTheProgressDialogAndKeepTheirText) {
  registerHandler();
  const int threads = pdftest::threadCount();
  PSSigValidateParamsRec params{};
  params.size = sizeof params;
  EXPECT_EQ(validate(nullptr, nullptr), -2);

  // An unknown method: a failure with a text, never "validated".
  params.sigMethod = 9;
  ASCab result = ASCabNew();
  params.resultCab = result;
  EXPECT_EQ(validate(nullptr, &params), -2);
  EXPECT_EQ(ASCabNumEntries(result), 0);
  EXPECT_EQ(take(textProp(nullptr, "exception", -1)),
            "Die Signatur hat kein von Dorvalin erstelltes Format und kann nicht geprüft werden.");

  // A host raise while the signed data are read: the host's text, the dialog ended.
  const std::string file = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                           "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n";
  ASSERT_TRUE(viewer.openDocumentFromMemory("doc.pdf", file));
  viewer.config().faults.push_back({"PSDataSourceGetNextChunk", 1, PIBuildErrorCode(ErrSysPubSec, 9)});
  const unsigned char value[259] = {0x04, 0x81, 0x80};
  params.sigMethod = kPSSigMethodPKCS1;
  params.sigValue = value;
  params.sigValueSize = sizeof value;
  EXPECT_EQ(validate(nullptr, &params), -2);
  EXPECT_EQ(take(textProp(nullptr, "exception", -1)), "Viewer error 0x40050009.");
  EXPECT_EQ(ASCabNumEntries(result), 0);
  EXPECT_FALSE(reinterpret_cast<DSEngine*>(rec.engine)->hasProgressDialog());
  EXPECT_TRUE(quarveltest::eventually([&] { return pdftest::threadCount() == threads; })) << "no progress thread is left";
  ASCabDestroy(result);
}

// What SigValidate refuses before it reads anything of the document: a method or PKCS#1
// length the signing plug-in never makes, no value, no active document, no digest of the
// viewer for method 3. Each is -2 with its text in the viewer's language, never a crash
// and never "validated"; the result cabinet stays empty, no dialog or box appears.
TEST_F(Handler, SigValidateRefusesWhatItCannotCheck) {
  const char* unsupported = "Die Signatur hat kein von Dorvalin erstelltes Format und kann nicht geprüft werden.";
  const char* invalid = "Ungültiger Parameter.";
  const char* noDocument = "Es ist kein Dokument geöffnet!";
  struct Row {
    const char* what;
    ASInt32 method, length;
    bool value, document, digest;
    int language;
    const char* text;
  };
  const Row rows[] = {
      {"method 0", 0, 259, true, true, true, 1, unsupported},
      {"method 4", 4, 259, true, true, true, 1, unsupported},
      {"method -1", -1, 259, true, true, true, 1, unsupported},
      {"method 0 in English", 0, 259, true, true, true, 0,
       "The signature is not in a format created by Dorvalin and cannot be validated."},
      {"PKCS#1 of 258 bytes", kPSSigMethodPKCS1, 258, true, true, true, 1, unsupported},
      {"PKCS#1 of 260 bytes", kPSSigMethodPKCS1, 260, true, true, true, 1, unsupported},
      {"PKCS#1 of 128 bytes", kPSSigMethodPKCS1, 128, true, true, true, 1, unsupported},
      {"PKCS#1 of 0 bytes", kPSSigMethodPKCS1, 0, true, true, true, 1, unsupported},
      {"PKCS#1 of 259 bytes without the value", kPSSigMethodPKCS1, 259, false, true, true, 1, invalid},
      {"PKCS#7 without the value", kPSSigMethodPKCS7Detached, 300, false, true, true, 1, invalid},
      {"PKCS#7 of 0 bytes", kPSSigMethodPKCS7Detached, 0, true, true, true, 1, invalid},
      {"PKCS#7 of -5 bytes", kPSSigMethodPKCS7SHA1, -5, true, true, true, 1, invalid},
      {"PKCS#1, no active document", kPSSigMethodPKCS1, 323, true, false, true, 1, noDocument},
      {"PKCS#7, no active document", kPSSigMethodPKCS7Detached, 300, true, false, true, 1, noDocument},
      {"SHA-1 PKCS#7, no active document", kPSSigMethodPKCS7SHA1, 300, true, false, false, 0, "No document is open!"},
      {"SHA-1 PKCS#7 without the viewer's digest", kPSSigMethodPKCS7SHA1, 300, true, true, false, 1, invalid},
      {"SHA-1 PKCS#7 without the viewer's digest, in English", kPSSigMethodPKCS7SHA1, 300, true, true, false, 0,
       "Invalid parameter."},
  };
  registerHandler();
  const std::string file = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                           "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n";
  const std::vector<unsigned char> value(400, 0x30);
  const unsigned char digest[20] = {1, 2, 3};
  const int threads = pdftest::threadCount();
  const size_t windows = wt::topLevelWindows().size();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    viewer.closeDocuments();
    if (row.document) {
      ASSERT_TRUE(viewer.openDocumentFromMemory("doc.pdf", file));
    }
    languageFlag = row.language;
    wt::clearMessageBoxes();
    PSSigValidateParamsRec params{};
    params.size = sizeof params;
    params.sigMethod = row.method;
    params.sigValue = row.value ? value.data() : nullptr;
    params.sigValueSize = row.length;
    params.digest = row.digest ? digest : nullptr;
    params.signerCert = ASCabNew();
    params.resultCab = ASCabNew();
    params.dataSource = viewer.newDataSource("signed bytes");
    PubSecEngine e = newEngine();
    EXPECT_EQ(validate(e, &params), -2);
    EXPECT_EQ(take(textProp(e, "exception", -1)), row.text);
    EXPECT_EQ(ASCabNumEntries(params.resultCab), 0);
    EXPECT_FALSE(reinterpret_cast<DSEngine*>(e)->hasProgressDialog());
    EXPECT_TRUE(wt::messageBoxes().empty());
    EXPECT_EQ(wt::topLevelWindows().size(), windows);
    EXPECT_EQ(viewer.frameDepth(), 0);
    destroyEngine(e);
    viewer.releaseDataSource(params.dataSource);
    ASCabDestroy(params.signerCert);
    ASCabDestroy(params.resultCab);
  }
  EXPECT_TRUE(quarveltest::eventually([&] { return pdftest::threadCount() == threads; })) << "no progress thread is left";
  languageFlag = 1;
}

// The signed data are the source's bytes, however the viewer cuts them: the engine asks
// for 1024 bytes at a time and takes what each answer holds, past empty answers.
TEST_F(Handler, ReadingTheSignedDataHandsOnEveryByteWhateverTheChunks) {
  const std::vector<std::vector<ASInt32>> plans = {{}, {1}, {1023}, {1024}, {7, 1024, 3}, {0, 5, 0, 0, 1024}};
  for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 5000u, 70001u}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 1024) & 0xFF);
    for (const std::vector<ASInt32>& plan : plans) {
      viewer.config().chunkSizes = plan;
      PSDataSource source = viewer.newDataSource(bytes);
      std::string collected("kept");
      size_t empty = 0;
      readSignedData(source, [&](const unsigned char* chunk, size_t size) {
        empty += size == 0;
        collected.append(reinterpret_cast<const char*>(chunk), size);
      });
      viewer.releaseDataSource(source);
      EXPECT_EQ(empty, 0u) << "an empty chunk is not handed on";
      EXPECT_EQ(collected, "kept" + bytes)
          << size << " bytes in chunks of " << (plan.empty() ? 0 : plan[0]) << "...";
    }
  }
  viewer.config().chunkSizes.clear();
}

}  // namespace
