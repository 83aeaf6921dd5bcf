// Bad input through the whole of Tolmira: the real module in the test viewer verifies a
// signed fixture while the viewer raises at each host operation of the verification in
// turn, and verifies the hostile documents of the corpus and broken signatures of the
// fixture kit. Every run ends in a failure the viewer can show (or with the document
// check reported as impossible), never "valid"; none leaves a progress thread, a window,
// a host object or an exception frame behind, and the next verification works.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Corpus.h"
#include "Fixtures.h"
#include "LoopbackServer.h"
#include "TestFiles.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "platform/window_test.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace {

// The panel's content line when the document check could not finish.
const char* const kUncheckable =
    "Es konnte nicht festgestellt werden ob das angezeigte Dokument dynamische Inhalte enthält.";
const char* const kNoDynamicContent = "Das angezeigte Dokument enthält keine dynamischen Inhalte.";
const char* const kDynamicContent = "Das angezeigte Dokument enthält dynamische Inhalte:";
const char* const kValid = "Die Signatur ist gültig.";
const char* const kNoField = "Ein Signaturfeld konnte nicht gefunden werden!";
// The handler's text for a failure whose host text cannot be had.
const char* const kUnexpected = "Ein unerwarteter Fehler ist aufgetreten.";
// The checking library's text for a value it cannot read.
const char* const kInvalidParameter = "Ungültiger Parameter.";
// The "exception" text of an engine that holds none.
const char* const kNoText = "A parameter had an incorrect value. ";

// What a damaged file makes the viewer raise, and the text it gives for it.
const ASErrorCode kRaised = cosErrRead;
const char* const kRaisedText = "Viewer error 0x40010010.";

// The frame machinery itself is how raises are handled, not an operation that fails.
bool isFrameMachinery(const std::string& operation) {
  return operation == "ASPushExceptionFrame" || operation == "ASPopExceptionFrame" ||
         operation == "ASGetExceptionErrorCode" || operation == "ASRaise";
}

// Operations that release an object: a raise there may leave that one object to the host.
bool releases(const std::string& operation) {
  return operation.find("Destroy") != std::string::npos || operation.find("Release") != std::string::npos ||
         operation.find("Close") != std::string::npos;
}

std::string panel(const vhost::SignatureResult& r) {
  std::string all;
  for (const std::string& t : r.texts) all += t + " | ";
  return all;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<uint8_t> toVector(const testpki::Bytes& b) { return std::vector<uint8_t>(b.begin(), b.end()); }

// The one signature of a document's verification.
const vhost::SignatureResult& only(const std::vector<vhost::SignatureResult>& results) {
  static const vhost::SignatureResult none;
  EXPECT_EQ(results.size(), 1u);
  return results.empty() ? none : results.front();
}

// What a verification may leave in the process; compared after each run.
struct Footprint {
  int threads = 0;
  size_t windows = 0;
  std::map<std::string, int> handles;
  int callbacks = 0;

  static Footprint of(const vhost::Viewer& viewer) {
    return {pdftest::threadCount(), platform::wintest::topLevelWindows().size(), viewer.liveHandles(),
            viewer.liveCallbacks()};
  }
};

// Nothing of a run is left: the progress thread ends (it is stopped, then joined), no
// window stays, no frame is pushed, no callback or host object is left over. A raise at
// an operation that releases an object leaves that one object to the host.
void expectNothingLeft(const vhost::Viewer& viewer, const Footprint& before, bool releaseRaised = false) {
  EXPECT_TRUE(quarveltest::eventually([&] { return pdftest::threadCount() <= before.threads; }))
      << pdftest::threadCount() << " threads, " << before.threads << " before";
  EXPECT_EQ(platform::wintest::topLevelWindows().size(), before.windows);
  EXPECT_EQ(viewer.frameDepth(), 0);
  std::map<std::string, int> now = viewer.liveHandles();
  std::map<std::string, int> was = before.handles;
  now["callback"] = viewer.liveCallbacks();
  was["callback"] = before.callbacks;
  int extra = 0;
  for (const auto& [kind, count] : now) {
    EXPECT_GE(count, was.at(kind)) << kind;
    extra += count - was.at(kind);
  }
  EXPECT_LE(extra, releaseRaised ? 1 : 0) << "host objects left over";
}

class BadInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    responder = std::make_unique<certnet::OcspResponder>(certnet::OcspSettings());
    kit = std::make_unique<testpki::Kit>(testpki::Kit::make(pdftest::scratch("kit"), responder->port(), 1, 1));
    certnet::OcspSettings settings;
    settings.indexFile = kit->path("ocsp-index.txt");
    settings.issuerPem = certnet::readText(kit->path("int.pem"));
    settings.signerPem = certnet::readText(kit->path("ocsp.pem"));
    settings.signerKeyPem = certnet::readText(kit->path("ocsp.key"));
    std::ofstream(settings.indexFile) << "V\t491231235959Z\t\t" << testpki::serialHex(kit->certificate("rsa2048"))
                                      << "\tunknown\t/CN=rsa2048\n";
    responder->setSettings(settings);
  }
  static void TearDownTestSuite() {
    responder.reset();
    kit.reset();
  }

  // The viewer every test uses: the kit's root and intermediate are trusted.
  static vhost::Config config() {
    vhost::Config c;
    c.trustedCerts = {toVector(kit->certificate("root")), toVector(kit->certificate("int"))};
    return pdftest::installedFor(c);
  }
  static pdffixtures::SignatureFieldPlan field(const std::string& name = "Signature1") {
    pdffixtures::SignatureFieldPlan f;
    f.name = name;
    f.certKit = kit.get();
    f.certSigner = "rsa2048";
    return f;
  }
  static void sign(const std::string& path, const std::string& name = "Signature1",
                   const std::string& subFilter = "adbe.pkcs7.detached") {
    pdffixtures::SignOptions options;
    options.kit = kit.get();
    if (subFilter != "adbe.pkcs7.detached") options.digest = "sha1";
    pdffixtures::sign(path, name, options);
  }
  // A document of `pages` pages with one signed field.
  static std::string signedDocument(const std::string& name, int pages = 1,
                                    const std::string& subFilter = "adbe.pkcs7.detached") {
    pdffixtures::DocumentPlan plan;
    plan.pages = pages;
    pdffixtures::SignatureFieldPlan f = field();
    f.subFilter = subFilter;
    plan.signatures = {f};
    const std::string path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    sign(path, f.name, subFilter);
    return path;
  }

  static std::unique_ptr<certnet::OcspResponder> responder;
  static std::unique_ptr<testpki::Kit> kit;
};

std::unique_ptr<certnet::OcspResponder> BadInput::responder;
std::unique_ptr<testpki::Kit> BadInput::kit;

// Each host operation one verification uses raises in turn, at its first call and at its
// last: the handler answers -2 with the host's text (or the finder's, when the raise made
// the field unreadable), or the document check, where the raise fell, is reported as
// impossible. A raise while an object is released may also leave the outcome as it was,
// every check having been made. The next verification is as good as the first.
TEST_F(BadInput, EveryHostOperationOfAVerificationRaisingFailsIt) {
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  ASSERT_TRUE(viewer.openDocument(signedDocument("sweep.pdf")));
  const vhost::SignatureResult clean = only(viewer.validateSignatures());
  ASSERT_EQ(clean.returned, 1) << clean.exception;
  ASSERT_EQ(clean.id, 4) << panel(clean);
  ASSERT_TRUE(has(panel(clean), kNoDynamicContent)) << panel(clean);
  Footprint before = Footprint::of(viewer);
  const int callbacksAfterUnload = 0;
  int keptByHost = 0;  // callbacks whose destruction raised

  std::map<std::string, std::string> outcomes;  // "operation #n" -> what happened
  for (const auto& [operation, count] : clean.calls) {
    if (isFrameMachinery(operation)) continue;
    for (int nth : std::set<int>{1, count}) {
      const std::string what = operation + " #" + std::to_string(nth);
      SCOPED_TRACE(what);
      const bool release = releases(operation);
      viewer.config().faults = {{operation, nth, kRaised, "SigValidate"}};
      const vhost::SignatureResult r = only(viewer.validateSignatures());
      viewer.config().faults.clear();
      EXPECT_EQ(r.error, "") << "a raise escaped the handler";
      if (r.returned == 1 && release && panel(r) == panel(clean)) {
        outcomes[what] = "as without the raise";
      } else if (r.returned == 1) {
        EXPECT_TRUE(has(panel(r), kUncheckable)) << panel(r);
        EXPECT_EQ(r.id, 4) << "the signature itself is intact";
        outcomes[what] = "document check";
      } else {
        EXPECT_EQ(r.returned, -2);
        EXPECT_TRUE(r.exception == kRaisedText || r.exception == kNoField) << r.exception;
        EXPECT_EQ(r.id, 0) << "nothing in the result cabinet";
        EXPECT_FALSE(has(panel(r), kValid)) << panel(r);
        outcomes[what] = r.exception;
      }
      expectNothingLeft(viewer, before, release);

      const vhost::SignatureResult again = only(viewer.validateSignatures());
      EXPECT_EQ(again.returned, 1);
      EXPECT_EQ(panel(again), panel(clean));
      expectNothingLeft(viewer, before, release);
      if (release) {
        keptByHost += viewer.liveCallbacks() - before.callbacks;
        before = Footprint::of(viewer);
      }
    }
  }
  // The places the decisions name: the data source, the certificates, the finder's walk
  // and the result cabinet fail the verification with the host's text; the document
  // check absorbs its raises.
  const std::pair<const char*, const char*> named[] = {
      {"PSDataSourceGetNextChunk #1", kRaisedText},
      {"ASCabGetBinary #1", kRaisedText},
      {"AABGetTrustedCerts #1", kRaisedText},
      {"AVAppGetActiveDoc #1", kRaisedText},
      {"DigSigEnumSignatures #1", kRaisedText},
      {"ASCabPutInt #1", kRaisedText},
      {"ConsultantCreate #1", "document check"},
      {"ConsultantTraverseFrom #1", "document check"},
  };
  for (const auto& [what, outcome] : named) EXPECT_EQ(outcomes[what], outcome) << what;
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), callbacksAfterUnload + keptByHost);
}

// A verification that fails at its very end (the result cabinet is written), while the
// host raises again as the failure is reported (the host's text, the kept error text,
// clearing the cabinet): still -2, nothing escapes the handler, nothing is left behind.
TEST_F(BadInput, ARaiseWhileAFailureIsReportedStaysInTheHandler) {
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  ASSERT_TRUE(viewer.openDocument(signedDocument("report.pdf")));
  const vhost::SignatureResult clean = only(viewer.validateSignatures());
  ASSERT_EQ(clean.id, 4) << panel(clean);
  const vhost::Fault last{"ASCabPutInt", clean.calls.at("ASCabPutInt"), kRaised, "SigValidate"};
  viewer.config().faults = {last};
  const vhost::SignatureResult failed = only(viewer.validateSignatures());
  ASSERT_EQ(failed.returned, -2);
  ASSERT_EQ(failed.exception, kRaisedText);
  Footprint before = Footprint::of(viewer);

  for (const auto& [operation, count] : failed.calls) {
    if (isFrameMachinery(operation)) continue;
    SCOPED_TRACE(operation);
    viewer.config().faults = {last, {operation, count, kRaised, "SigValidate"}};
    const vhost::SignatureResult r = only(viewer.validateSignatures());
    viewer.config().faults.clear();
    EXPECT_EQ(r.error, "") << "a raise escaped the handler";
    EXPECT_EQ(r.returned, -2);
    EXPECT_TRUE(r.exception == kRaisedText || r.exception == kNoField || r.exception == kUnexpected ||
                r.exception == kNoText)
        << r.exception;
    EXPECT_EQ(r.id, 0) << "nothing in the result cabinet";
    EXPECT_FALSE(has(panel(r), kValid)) << panel(r);
    const bool release = releases(operation);
    expectNothingLeft(viewer, before, release);
    EXPECT_EQ(only(viewer.validateSignatures()).id, 4);
    if (release) before = Footprint::of(viewer);
  }
}

// The hostile documents of the corpus (cycles, deep nesting, self-descendant fonts, a
// damaged font dictionary, ...), each with a signature appended over the whole file: the
// signature is intact, and the document check either ends with its findings or is
// reported as impossible; it never hangs, and nothing is left behind.
TEST_F(BadInput, HostileDocumentsAreCheckedOrReportedAsUncheckable) {
  struct Row {
    const char* fixture;
    const char* content;  // the panel's content line
  };
  const Row rows[] = {
      {"clean", kNoDynamicContent},
      {"hostile-kids-cycle", kUncheckable},
      {"hostile-parent-loop", kNoDynamicContent},
      {"hostile-deep-nesting", kDynamicContent},
      {"hostile-outline-cycle", kDynamicContent},
      {"hostile-name-tree-cycle", kDynamicContent},
      {"hostile-type0-self", kDynamicContent},  // a font not embedded
      {"hostile-type0-cycle", kDynamicContent},
      {"hostile-font-damaged", kUncheckable},
      {"hostile-owner-string", kUncheckable},
      {"hostile-annotation-entries", kUncheckable},
  };
  std::set<std::string> hostile, listed;
  for (const auto& f : pdffixtures::corpus()) {
    if (f.name.rfind("hostile-", 0) == 0) hostile.insert(f.name);
  }
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  Footprint before = Footprint::of(viewer);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fixture);
    if (std::string(row.fixture) != "clean") listed.insert(row.fixture);
    const std::string path = pdftest::scratch(std::string(row.fixture) + ".pdf");
    pdffixtures::writeCorpusFixture(row.fixture, path);
    pdffixtures::appendSignatureField(path, field());
    sign(path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
    const vhost::SignatureResult r = only(viewer.validateSignatures());
    EXPECT_EQ(r.returned, 1) << r.exception;
    EXPECT_EQ(r.id, 4) << panel(r);
    EXPECT_TRUE(has(panel(r), row.content)) << panel(r);
    expectNothingLeft(viewer, before);
  }
  EXPECT_EQ(listed, hostile) << "every hostile fixture of the corpus has its row";
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

// The viewer's preferences would hide content: after the outcome is written and the
// progress dialog has ended, one warning box lists them, in the viewer's language. The
// verification stands, and nothing of it is left behind; a viewer of version 10 or one
// whose preferences are as expected shows no box.
TEST_F(BadInput, APreferenceWarningEndsTheVerificationWithNothingLeft) {
  const std::pair<std::string, std::string> overprint{"AVDisplay", "OverprintPreview"}, colour{"Originals",
                                                                                             "ColorSettingsFile"};
  struct Row {
    const char* what;
    int major;
    const char* language;
    const char* overprintPreview;
    const char* caption;  // "" no box
    const char* intro;
    const char* item;
  };
  const Row rows[] = {
      {"version 9, overprint preview on", 9, "DEU", "0", "Warnung",
       "Die aktuellen Einstellungen des Adobe-Viewers sind nicht geeignet, ein Dokument eindeutig darzustellen.\n",
       "1.)  Die Einstellung \""},
      {"version 9 in English", 9, "en-us", "0", "Warning",
       "The actual preferences of the Acrobat- viewer are not convenient to render a document unambigously.\n",
       "1.)  The setting \"Use Overprint Preview\""},
      {"version 9, as expected", 9, "DEU", "1", "", "", ""},
      {"version 10 is not checked", 10, "DEU", "0", "", "", ""},
  };
  const std::string path = signedDocument("preferences.pdf");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    vhost::Config c = config();
    c.product = "Exchange";
    c.major = static_cast<ASInt16>(row.major);
    c.language = row.language;
    c.preferences[overprint] = row.overprintPreview;
    c.preferences[colour] = "Color Management Off";
    const Footprint outside{pdftest::threadCount(), platform::wintest::topLevelWindows().size(), {}, 0};
    {
      vhost::Viewer viewer(pdftest::installedFor(c));
      ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
      ASSERT_TRUE(viewer.openDocument(path));
      const Footprint before = Footprint::of(viewer);
      platform::wintest::clearMessageBoxes();
      const vhost::SignatureResult r = only(viewer.validateSignatures());
      EXPECT_EQ(r.returned, 1) << r.exception;
      EXPECT_NE(r.id, 0) << panel(r);
      const std::vector<platform::wintest::MessageBoxRecord> boxes = platform::wintest::messageBoxes();
      if (row.caption[0] == '\0') {
        EXPECT_TRUE(boxes.empty()) << boxes.front().text;
      } else {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, row.caption);
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(boxes[0].owner, viewer.mainWindow());
        EXPECT_EQ(boxes[0].text.rfind(row.intro, 0), 0u) << boxes[0].text;
        EXPECT_TRUE(has(boxes[0].text, row.item)) << boxes[0].text;
      }
      expectNothingLeft(viewer, before);
      viewer.unloadPlugins();
      EXPECT_EQ(viewer.liveCallbacks(), 0);
    }
    EXPECT_TRUE(quarveltest::eventually([&] { return pdftest::threadCount() <= outside.threads; }));
    EXPECT_EQ(platform::wintest::topLevelWindows().size(), outside.windows);
  }
}

// Hex digits of the signature value in the file, changed in place (same length).
void editContents(const std::string& path, const std::function<void(std::string& hex)>& edit) {
  const std::vector<long long> range = pdffixtures::byteRange(path, "Signature1");
  std::string bytes = pdffixtures::readFile(path);
  const size_t from = static_cast<size_t>(range[1]) + 1, to = static_cast<size_t>(range[2]) - 1;
  std::string hex = bytes.substr(from, to - from);
  edit(hex);
  bytes.replace(from, to - from, hex);
  pdffixtures::writeFile(path, bytes);
}

// The number of hex digits of the DER value at the start of the placeholder.
size_t derDigits(const std::string& hex) {
  const unsigned long first = std::stoul(hex.substr(2, 2), nullptr, 16);
  if (first < 0x80) return 2 * (2 + first);
  const size_t n = first & 0x7F;
  return 2 * (2 + n + std::stoul(hex.substr(4, 2 * n), nullptr, 16));
}

// Broken signature values and byte ranges through the whole engine: each fails in the
// way the viewer shows (-2 with the reason, or "not valid" for data that changed), pdfsig
// agrees that none is intact, and nothing is left behind.
TEST_F(BadInput, BrokenSignaturesAreNeverValid) {
  struct Row {
    const char* what;
    const char* subFilter;
    std::function<void(const std::string& path)> breakIt;
    ASInt32 returned, id;
    const char* exception;  // "" for none
  };
  const Row rows[] = {
      {"the value cut in half", "adbe.pkcs7.detached",
       [](const std::string& path) {
         editContents(path, [](std::string& hex) {
           const size_t half = derDigits(hex) / 2;
           hex.replace(half, hex.size() - half, hex.size() - half, '0');
         });
       },
       -2, 0, kInvalidParameter},
      {"no value, only the placeholder's zeros", "adbe.pkcs7.detached",
       [](const std::string& path) { editContents(path, [](std::string& hex) { hex.assign(hex.size(), '0'); }); }, -2,
       0, kInvalidParameter},
      {"the signer's signature bits changed", "adbe.pkcs7.detached",
       [](const std::string& path) {
         editContents(path, [](std::string& hex) {
           char& digit = hex[derDigits(hex) - 1];
           digit = digit == '0' ? '1' : '0';
         });
       },
       1, 2, ""},
      {"a byte after the value changed", "adbe.pkcs7.detached",
       [](const std::string& path) {
         pdffixtures::flipByte(path, static_cast<long>(pdffixtures::readFile(path).size()) - 1);
       },
       1, 2, ""},
      // The data no longer match, and a gap that is not exactly the /Contents string names
      // no signature of the document.
      {"the gap between the ranges one byte short", "adbe.pkcs7.detached",
       [](const std::string& path) { pdffixtures::damageByteRange(path, "Signature1", "short"); }, -2, 0,
       "Ein Signaturfeld konnte nicht gefunden werden!"},
      {"embedded SHA-1, the value cut in half", "adbe.pkcs7.sha1",
       [](const std::string& path) {
         editContents(path, [](std::string& hex) {
           const size_t half = derDigits(hex) / 2;
           hex.replace(half, hex.size() - half, hex.size() - half, '0');
         });
       },
       -2, 0, kInvalidParameter},
      {"the plug-in format one byte short", "adbe.x509.rsa_sha1",
       [](const std::string& path) {
         editContents(path, [](std::string& hex) { hex.replace(hex.size() - 2, 2, "  "); });
       },
       -2, 0, "Die Signatur hat kein von Dorvalin erstelltes Format und kann nicht geprüft werden."},
  };
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  const std::string intact = signedDocument("intact.pdf");
  Footprint before = Footprint::of(viewer);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = signedDocument(std::string("broken-") + std::to_string(&row - rows) + ".pdf", 1,
                                            row.subFilter);
    row.breakIt(path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
    const vhost::SignatureResult r = only(viewer.validateSignatures());
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.returned, row.returned);
    EXPECT_EQ(r.id, row.id) << panel(r);
    EXPECT_EQ(r.exception, row.exception);
    EXPECT_FALSE(has(panel(r), kValid)) << panel(r);
    if (std::string(row.subFilter) != "adbe.x509.rsa_sha1") {
      EXPECT_EQ(pdftest::run("pdfsig -nocert " + path).output.find("Signature is Valid."), std::string::npos);
    }
    expectNothingLeft(viewer, before);
    ASSERT_TRUE(viewer.openDocument(intact));
    EXPECT_EQ(only(viewer.validateSignatures()).id, 4) << "the next verification works";
  }
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

}  // namespace
