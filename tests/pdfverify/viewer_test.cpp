// The handshake, HFT versions, exception frames and callback bookkeeping of the test
// viewer, seen from DummyPlugin.api.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>

#include "DocumentBytes.h"
#include "DummyPlugin.h"
#include "Fixtures.h"
#include "TestFiles.h"
#include "Viewer.h"
#include "testpki.h"

namespace {

const DummyReport* reportOf(const vhost::Viewer& viewer) {
  auto proc = reinterpret_cast<DummyReportProc>(GetProcAddress(viewer.plugins().at(0).module, "DummyPluginReport"));
  return proc ? proc() : nullptr;
}

struct VersionCase {
  const char* what;
  std::map<std::string, ASUns32> changes;  // 0: the HFT does not exist
  bool loads;
  ASUns32 core, acroColor;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.what; }

class HandshakeTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(HandshakeTable, ThePluginReceivesEachHFTAtTheOfferedVersion) {
  const VersionCase& c = GetParam();
  vhost::Config config;
  for (auto& [name, version] : c.changes) {
    if (version == 0) {
      config.hftVersions.erase(name);
    } else {
      config.hftVersions[name] = version;
    }
  }
  vhost::Viewer viewer(config);
  ASSERT_EQ(viewer.loadPlugin(DUMMY_PLUGIN_PATH), c.loads) << viewer.error();
  if (!c.loads) {
    EXPECT_EQ(viewer.liveCallbacks(), 0) << "a refused plug-in made no handshake callback";
    return;
  }
  const DummyReport* r = reportOf(viewer);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->handshakeVersion, HANDSHAKE_VERSION_2);
  EXPECT_EQ(r->hostMainWindow, viewer.mainWindow());
  EXPECT_EQ(r->pluginInstance, viewer.plugins()[0].module);
  EXPECT_TRUE(r->handshakeDone && r->exported && r->imported && r->initialised);
  EXPECT_EQ(r->versions[0], c.core);
  EXPECT_EQ(r->versions[8], c.acroColor);
  EXPECT_EQ(r->versions[9], 1u);
  EXPECT_EQ(r->versions[11], 0x20000u);
  EXPECT_EQ(viewer.plugins()[0].name, "Dor:valin");
  EXPECT_EQ(viewer.registeredHandlers(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, HandshakeTable,
    ::testing::Values(VersionCase{"newest", {}, true, 0x60000, 0x60000},
                      VersionCase{"no AcroColorHFT", {{kAcroColorHFTName, 0}}, true, 0x60000, 0},
                      VersionCase{"Core at 0x40005", {{kCoreHFTName, 0x40005}}, true, 0x40005, 0x60000},
                      VersionCase{"AcroView too old", {{kAcroViewHFTName, 0x50000}}, false, 0, 0},
                      VersionCase{"no DigSigHFT", {{kDigSigHFTName, 0}}, false, 0, 0}));

TEST(Viewer, CallbacksAreDestroyedInPairsAtUnload) {
  vhost::Viewer viewer;
  ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH)) << viewer.error();
  const DummyReport* r = reportOf(viewer);
  EXPECT_EQ(viewer.liveCallbacks(viewer.plugins()[0].extension), r->callbacksMade);
  EXPECT_GT(r->callbacksMade, 5);
  viewer.unloadPlugins();
  EXPECT_EQ(viewer.liveCallbacks(), 0);
  EXPECT_EQ(viewer.registeredHandlers(), 0);
}

TEST(Viewer, ARefusedHandlerLeavesThePluginLoadedWithoutOne) {
  vhost::Config config;
  config.refuseHandler = true;
  vhost::Viewer viewer(config);
  ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
  EXPECT_FALSE(reportOf(viewer)->handlerRegistered);
  EXPECT_EQ(viewer.registeredHandlers(), 0);
}

TEST(Viewer, AMissingModuleIsNotLoaded) {
  vhost::Viewer viewer;
  EXPECT_FALSE(viewer.loadPlugin(pdftest::scratch("Missing.api")));
  EXPECT_FALSE(viewer.error().empty());
}

// --- Exception frames ------------------------------------------------------------------

struct FrameCase {
  DummyScenario scenario;
  ASErrorCode inner, outer;
  int enumerated;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << "scenario " << c.scenario; }

class Frames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frames, ARaiseReachesTheRightHandlerAndTheFramesBalance) {
  const FrameCase& c = GetParam();
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"Sig1", false}, {"Sig2", false}};
  std::string path = pdftest::scratch("frames.pdf");
  pdffixtures::writeDocument(plan, path);
  vhost::Viewer viewer;
  ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
  ASSERT_TRUE(viewer.openDocument(path));
  auto run = reinterpret_cast<DummyFramesProc>(GetProcAddress(viewer.plugins()[0].module, "DummyRunFrames"));
  ASSERT_NE(run, nullptr);
  int before = viewer.liveCallbacks();
  FrameOutcome out = run(c.scenario, viewer.activePDDoc());
  EXPECT_EQ(out.inner, c.inner);
  EXPECT_EQ(out.outer, c.outer);
  EXPECT_EQ(out.enumerated, c.enumerated) << "the raise stopped the enumeration";
  EXPECT_EQ(viewer.frameDepth(), 0);
  EXPECT_EQ(viewer.liveCallbacks(), before);
  // The viewer's own state survived the unwinding: it enumerates again.
  out = run(kRaiseInEnumeration, viewer.activePDDoc());
  EXPECT_EQ(out.enumerated, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, Frames,
    ::testing::Values(FrameCase{kNestedRaise, cosErrExpectedArray, 0, 0},
                      FrameCase{kReraise, cosErrExpectedArray, cosErrExpectedArray, 0},
                      FrameCase{kRaiseInEnumeration, PIBuildErrorCode(ErrSysNone, 77), 0, 1}));

// --- Validation through the handler -----------------------------------------------------

TEST(Viewer, TheHandlerValidatesEachSignedFieldInOrder) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"Signed"}, {"Empty", false}, {"Tampered"}};
  std::string path = pdftest::scratch("two.pdf");
  pdffixtures::writeDocument(plan, path);
  pdffixtures::sign(path, "Signed", {});
  pdffixtures::sign(path, "Tampered", {});
  pdffixtures::flipByte(path, 10);  // the header comment: inside the first range of both

  for (std::vector<ASInt32> chunks : {std::vector<ASInt32>{}, {1}, {7, 1024, 3}}) {
    vhost::Config config;
    config.chunkSizes = chunks;
    vhost::Viewer viewer(config);
    ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
    ASSERT_TRUE(viewer.openDocument(path));
    auto results = viewer.validateSignatures();
    ASSERT_EQ(results.size(), 2u) << "the unsigned field is not validated";
    EXPECT_EQ(results[0].fieldName, "Signed");
    EXPECT_EQ(results[1].fieldName, "Tampered");
    for (auto& r : results) {
      EXPECT_EQ(r.method, 2);
      EXPECT_EQ(r.returned, 1);
      EXPECT_EQ(r.digest, 7);
      EXPECT_EQ(r.trustFlags, 0) << "a flipped byte breaks both";
      EXPECT_EQ(r.texts.at(0), "Signature broken");
    }
  }
}

TEST(Viewer, RunShowsTheResultTexts) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"Signature1"}};
  std::string path = pdftest::scratch("run.pdf");
  pdffixtures::writeDocument(plan, path);
  pdffixtures::sign(path, "Signature1", {});
  pdftest::Run r = pdftest::run(std::string(VHOST_RUN_PATH) + " " + DUMMY_PLUGIN_PATH + " " + path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Signature field \"Signature1\" (method 2): returned 1, trustFlags 1"),
            std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[0] Signature intact"), std::string::npos) << r.output;
}

TEST(Viewer, DamagedByteRangesAndIncrementalUpdates) {
  struct Case {
    const char* damage;  // "" none
    std::vector<std::string> expected;  // per field: "intact", "broken" or "unreadable"
  };
  const Case cases[] = {{"", {"intact", "intact"}},
                        {"text", {"unreadable", "intact"}},
                        {"huge", {"unreadable", "intact"}},
                        {"short", {"broken", "intact"}}};
  for (const Case& c : cases) {
    pdffixtures::DocumentPlan plan;
    plan.signatures = {{"First"}};
    std::string path = pdftest::scratch("damaged.pdf");
    pdffixtures::writeDocument(plan, path);
    pdffixtures::sign(path, "First", {});
    if (*c.damage) pdffixtures::damageByteRange(path, "First", c.damage);
    pdffixtures::appendSignatureField(path, {"Second"});
    pdffixtures::sign(path, "Second", {});
    EXPECT_EQ(pdftest::run("qpdf --check " + path).status, 0) << c.damage;

    vhost::Viewer viewer;
    ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
    ASSERT_TRUE(viewer.openDocument(path));
    auto results = viewer.validateSignatures();
    ASSERT_EQ(results.size(), c.expected.size()) << c.damage;
    for (size_t i = 0; i < results.size(); ++i) {
      const auto& r = results[i];
      std::string seen = !r.error.empty() ? "unreadable" : r.trustFlags == 1 ? "intact" : "broken";
      EXPECT_EQ(seen, c.expected[i]) << c.damage << " field " << r.fieldName;
    }
    EXPECT_EQ(viewer.frameDepth(), 0);
  }
}

TEST(Viewer, PluginFormatValuesReachTheHandlerWhole) {
  pdffixtures::DocumentPlan plan;
  pdffixtures::SignatureFieldPlan f;
  f.subFilter = "adbe.x509.rsa_sha1";
  plan.signatures = {f};
  std::string path = pdftest::scratch("method1.pdf");
  pdffixtures::writeDocument(plan, path);
  pdffixtures::SignOptions options;
  options.signer = "rsa1024";
  pdffixtures::sign(path, f.name, options);
  vhost::Viewer viewer;
  ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
  ASSERT_TRUE(viewer.openDocument(path));
  auto results = viewer.validateSignatures();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].method, 1);
  EXPECT_EQ(results[0].error, "");
  EXPECT_EQ(results[0].returned, 1);
}

// --- Coverage ---------------------------------------------------------------------------

// The object number of page 1's content stream.
int firstPageContents(const std::string& path) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  QPDFObjectHandle page = pdf.getAllPages().at(0);
  return page.getKey("/Contents").getObjectID();
}

// How much of the document each signature covers, as the viewer judges it beside the
// handler's verdict, against pdfsig's "Total document signed" on the same file. Each
// change is made to a document whose field "First" was signed last.
TEST(Viewer, CoverageOfEachSignature) {
  using vhost::Coverage;
  const Coverage whole = Coverage::WholeDocument, earlier = Coverage::EarlierRevision, partial = Coverage::Partial;
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    std::vector<Coverage> coverage;  // per signature, in field order
    bool intact;                     // the handler finds "First" intact
  };
  auto rewriteRange = [](const std::string& path, long long a, long long b, long long c, long long d) {
    pdffixtures::replaceInPlace(path, "First", "/ByteRange",
                                "[" + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                                    std::to_string(d) + "]");
  };
  const Case cases[] = {
      {"nothing after signing", [](const std::string&) {}, {whole}, true},
      {"a second signature in an update",
       [](const std::string& path) {
         pdffixtures::appendSignatureField(path, {"Second"});
         pdffixtures::sign(path, "Second", {});
       },
       {earlier, whole},
       true},
      {"an update that replaces the page text",
       [](const std::string& path) {
         pdffixtures::appendObjects(path, {{firstPageContents(path), "<< /Length 22 >>\nstream\nBT (Pay 1000000) Tj ET\nendstream"}});
       },
       {earlier},
       true},
      {"bytes after the signed range",
       [](const std::string& path) { pdffixtures::writeFile(path, pdffixtures::readFile(path) + "% appended\n"); },
       {earlier},
       true},
      {"the second range stops short of the end",
       [&](const std::string& path) {
         const std::vector<long long> r = pdffixtures::byteRange(path, "First");
         rewriteRange(path, r[0], r[1], r[2], r[3] - 10);
       },
       {partial},
       false},
      {"the gap holds more than the /Contents string",
       [&](const std::string& path) {
         const std::vector<long long> r = pdffixtures::byteRange(path, "First");
         rewriteRange(path, r[0], r[1] - 12, r[2], r[3]);
       },
       {partial},
       false},
      {"other data behind the signature's encoding in /Contents",
       [&](const std::string& path) {
         const std::vector<long long> r = pdffixtures::byteRange(path, "First");
         std::string bytes = pdffixtures::readFile(path);
         bytes.replace(static_cast<size_t>(r[2]) - 9, 8, "DEADBEEF");
         pdffixtures::writeFile(path, bytes);
       },
       {partial},
       true},
      {"wrapped: the second range moved onto a copy of the signed bytes by an update",
       [](const std::string& path) { pdffixtures::wrapSignature(path, "First", {}); },
       {partial},
       true},
      {"the first range does not start at 0",
       [&](const std::string& path) {
         const std::vector<long long> r = pdffixtures::byteRange(path, "First");
         rewriteRange(path, 1, r[1] - 1, r[2], r[3]);
       },
       {partial},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pdffixtures::DocumentPlan plan;
    plan.signatures = {{"First"}};
    const std::string path = pdftest::scratch("coverage.pdf");
    pdffixtures::writeDocument(plan, path);
    pdffixtures::sign(path, "First", {});
    c.change(path);
    vhost::Viewer viewer;
    ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
    ASSERT_TRUE(viewer.openDocument(path));
    const auto results = viewer.validateSignatures();
    ASSERT_EQ(results.size(), c.coverage.size());
    const std::vector<pdftest::PdfsigVerdict> peer = pdftest::pdfsig(path);
    ASSERT_EQ(peer.size(), c.coverage.size());
    for (size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].coverage, c.coverage[i]) << results[i].fieldName;
      if (std::string(c.what) == "the first range does not start at 0") {
        // pdfsig looks only at the gap and the end of the second range: wrong here.
        EXPECT_TRUE(peer[i].total);
      } else {
        EXPECT_EQ(peer[i].total, c.coverage[i] == whole) << "pdfsig agrees on " << results[i].fieldName;
      }
    }
    EXPECT_EQ(results[0].trustFlags == 1, c.intact);
  }
}

// Documents signed by others, labelled as they label theirs: the handler that checks
// their /SubFilter gets them, and the viewer finds them covering the whole document.
// A second range that ends where a revision ends covers that revision: right after its
// "%%EOF" or after the end of line behind it (CR, LF, CR LF), and nowhere else; an
// "%%EOF" that closes no "startxref" ends nothing. The viewer reads only the bytes before
// the end to judge it.
TEST(Viewer, ARevisionEndsAtItsEndOfFileMarkerOrTheEndOfLineBehindIt) {
  using vhost::Coverage;
  const struct Case {
    const char* tail;  // written after the signed revision's "%%EOF"
    size_t end;        // where the second range ends, after that "%%EOF"
    Coverage coverage;
  } cases[] = {
      {"\r\n% more\n", 0, Coverage::EarlierRevision},   {"\r\n% more\n", 1, Coverage::Partial},
      {"\r\n% more\n", 2, Coverage::EarlierRevision},   {"\r% more\n", 1, Coverage::EarlierRevision},
      {"\n% more\n", 1, Coverage::EarlierRevision},      {"\n\n% more\n", 2, Coverage::Partial},
      {" % more\n", 1, Coverage::Partial},               {"\n%%EOF\n% more", 6, Coverage::Partial},
      {"\nstartxref\n0\n%%EOF% more", 13 + 5, Coverage::EarlierRevision},
      {"\r\n", 2, Coverage::WholeDocument},
  };
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"First"}};
  const std::string signedPath = pdftest::scratch("revision-end-signed.pdf");
  pdffixtures::writeDocument(plan, signedPath);
  pdffixtures::sign(signedPath, "First", {});
  std::string base = pdffixtures::readFile(signedPath);
  while (!base.empty() && (base.back() == '\n' || base.back() == '\r')) base.pop_back();
  ASSERT_EQ(base.substr(base.size() - 5), "%%EOF");
  const std::vector<long long> r = pdffixtures::byteRange(signedPath, "First");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("tail ") + c.tail + ", end " + std::to_string(c.end));
    const std::string path = pdftest::scratch("revision-end.pdf");
    pdffixtures::writeFile(path, base + c.tail);
    const long long end = static_cast<long long>(base.size() + c.end);
    pdffixtures::replaceInPlace(path, "First", "/ByteRange",
                                "[0 " + std::to_string(r[1]) + " " + std::to_string(r[2]) + " " +
                                    std::to_string(end - r[2]) + "]");
    vhost::Viewer viewer;
    ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
    ASSERT_TRUE(viewer.openDocument(path));
    const auto results = viewer.validateSignatures();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].coverage, c.coverage);
  }
}

// The viewer reads a document's bytes where they lie, through one window of the file: any
// place and length inside the file reads what is there (across the window's edges too),
// nothing outside it does, and a file cut short after it was opened reads as missing
// bytes, never as other bytes.
TEST(DocumentBytes, ReadsExactlyWhatLiesInTheFile) {
  std::string content(300 * 1024 + 7, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  const std::string path = pdftest::scratch("bytes.bin");
  pdffixtures::writeFile(path, content);
  const struct Read {
    size_t at, n;
    bool ok;
  } reads[] = {{0, 10, true},          {128 * 1024 - 3, 10, true}, {0, content.size(), true},
               {content.size(), 0, true}, {content.size() - 1, 1, true}, {content.size() - 1, 2, false},
               {content.size() + 1, 0, false}, {5, static_cast<size_t>(-1), false}, {200 * 1024, 64 * 1024, true}};
  std::unique_ptr<vhost::DocumentBytes> file = vhost::DocumentBytes::ofFile(path);
  std::unique_ptr<vhost::DocumentBytes> memory = vhost::DocumentBytes::ofMemory(content);
  ASSERT_TRUE(file);
  for (vhost::DocumentBytes* bytes : {file.get(), memory.get()}) {
    EXPECT_EQ(bytes->size(), content.size());
    for (const Read& r : reads) {
      SCOPED_TRACE(std::to_string(r.at) + "+" + std::to_string(r.n));
      std::string out(r.ok ? r.n : 0, '?');
      EXPECT_EQ(bytes->read(r.at, r.n, r.ok ? out.data() : nullptr), r.ok);
      if (r.ok) {
        EXPECT_EQ(out, content.substr(r.at, r.n));
      }
    }
    // Backwards, byte by byte, as the coverage reads the words before an end-of-file marker.
    for (size_t at : {content.size() - 1, size_t{200 * 1024}, size_t{64 * 1024 - 1}, size_t{0}}) {
      EXPECT_EQ(bytes->byteAt(at), static_cast<unsigned char>(content[at])) << at;
    }
    EXPECT_EQ(bytes->byteAt(content.size()), -1);
  }
  EXPECT_FALSE(vhost::DocumentBytes::ofFile(pdftest::scratch("no-such-file.bin")));

  ASSERT_EQ(truncate(path.c_str(), 1000), 0);
  std::string out(64, '?');
  EXPECT_TRUE(file->read(900, 64, out.data())) << "inside what is left";
  EXPECT_EQ(out, content.substr(900, 64));
  EXPECT_FALSE(file->read(250 * 1024, 64, out.data())) << "cut off since the file was opened";
  EXPECT_EQ(file->byteAt(250 * 1024), -1);
}

// The viewer's source for qpdf against qpdf's own source over the same bytes: every
// sequence of seeks, reads, unreads and end-of-line searches ends at the same place with
// the same bytes and the same offsets, across the window's edges and at the file's ends.
TEST(DocumentInputSource, ReadsAsQpdfsOwnSourceReads) {
  std::string content(100 * 1024 + 13, 'x');
  for (size_t i = 0; i < content.size(); ++i) {
    const size_t k = (i * 2654435761u) % 97;
    content[i] = k < 6 ? '\n' : k < 10 ? '\r' : static_cast<char>('a' + k % 26);
  }
  for (size_t edge : {size_t{32 * 1024}, size_t{64 * 1024}}) content.replace(edge - 2, 5, "\r\n\r\nz");
  content.replace(content.size() - 3, 3, "\n\r\n");
  const std::string path = pdftest::scratch("source.bin");
  pdffixtures::writeFile(path, content);
  std::shared_ptr<vhost::DocumentInputSource> ours = vhost::DocumentInputSource::ofFile(path);
  ASSERT_TRUE(ours);
  auto buffer = std::make_unique<Buffer>(content.size());
  std::memcpy(buffer->getBuffer(), content.data(), content.size());
  BufferInputSource theirs("source.bin", buffer.release(), true);
  std::mt19937 random(7);
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step) + " at " + std::to_string(theirs.tell()));
    switch (random() % 6) {
      case 0: {
        const int whence = std::array<int, 3>{SEEK_SET, SEEK_CUR, SEEK_END}[random() % 3];
        const qpdf_offset_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? theirs.tell() : content.size();
        qpdf_offset_t offset = static_cast<qpdf_offset_t>(random() % (content.size() + 20)) - base;
        if (random() % 50 == 0) offset = -base - 1;  // before the beginning: both refuse
        bool theyThrew = false, weThrew = false;
        try {
          theirs.seek(offset, whence);
        } catch (const std::exception&) {
          theyThrew = true;
        }
        try {
          ours->seek(offset, whence);
        } catch (const std::exception&) {
          weThrew = true;
        }
        ASSERT_EQ(weThrew, theyThrew);
        // Where a refused seek leaves a source differs (qpdf's buffer moves before its
        // start, its file source stays); both go on from the start.
        if (theyThrew) {
          theirs.seek(0, SEEK_SET);
          ours->seek(0, SEEK_SET);
        }
        break;
      }
      case 1:
      case 2: {
        const size_t n = random() % 3 == 0 ? random() % 70000 : random() % 300;
        std::string a(n, '?'), b(n, '?');
        const size_t got = theirs.read(a.data(), n);
        ASSERT_EQ(ours->read(b.data(), n), got);
        ASSERT_EQ(b.substr(0, got), a.substr(0, got));
        ASSERT_EQ(ours->getLastOffset(), theirs.getLastOffset());
        break;
      }
      case 3:
        ASSERT_EQ(ours->findAndSkipNextEOL(), theirs.findAndSkipNextEOL());
        break;
      case 4:
        if (theirs.tell() > 0 && theirs.tell() <= static_cast<qpdf_offset_t>(content.size())) {
          theirs.unreadCh('x');
          ours->unreadCh('x');
        }
        break;
      default:
        ASSERT_EQ(ours->readLine(200), theirs.readLine(200));
        break;
    }
    ASSERT_EQ(ours->tell(), theirs.tell());
  }
  EXPECT_EQ(ours->getName(), path);
  EXPECT_FALSE(vhost::DocumentInputSource::ofFile(pdftest::scratch("no-such-file.bin")));
}

TEST(Viewer, OutsideSignersReachTheHandlerOfTheirSubFilter) {
  const testpki::Kit& kit = testpki::Kit::standard();
  pdffixtures::DocumentPlan plan;
  const std::string plain = pdftest::scratch("plain.pdf");
  pdffixtures::writeDocument(plan, plain);
  const std::string byPdfsig = pdftest::scratch("pdfsig.pdf");
  pdffixtures::signWithPdfsig(pdffixtures::makeNssDatabase(pdftest::scratch("nss"), kit, {"rsa2048"}), "rsa2048",
                              plain, byPdfsig, "Poppler");

  pdffixtures::SignatureFieldPlan labelled;
  labelled.filter = "Adobe.PPKLite";
  plan.signatures = {labelled};
  const std::string byOpenssl = pdftest::scratch("cms.pdf");
  pdffixtures::writeDocument(plan, byOpenssl);
  pdffixtures::signWithOpensslCms(byOpenssl, labelled.name, kit, "p256", {"-md", "sha384"});

  pdffixtures::SignatureFieldPlan unknown;
  unknown.filter = "Other.Handler";
  unknown.subFilter = "ETSI.CAdES.detached";
  plan.signatures = {unknown};
  const std::string byNobody = pdftest::scratch("cades.pdf");
  pdffixtures::writeDocument(plan, byNobody);
  pdffixtures::signWithOpensslCms(byNobody, unknown.name, kit, "rsa2048");

  struct Case {
    std::string path;
    bool handled;
  };
  for (const Case& c : {Case{byPdfsig, true}, Case{byOpenssl, true}, Case{byNobody, false}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(pdftest::run("qpdf --check '" + c.path + "'").status, 0);
    const std::vector<pdftest::PdfsigVerdict> peer = pdftest::pdfsig(c.path);
    ASSERT_EQ(peer.size(), 1u);
    EXPECT_TRUE(peer[0].total);
    vhost::Viewer viewer;
    ASSERT_TRUE(viewer.loadPlugin(DUMMY_PLUGIN_PATH));
    ASSERT_TRUE(viewer.openDocument(c.path));
    const auto results = viewer.validateSignatures();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].coverage, vhost::Coverage::WholeDocument);
    if (c.handled) {
      EXPECT_TRUE(peer[0].intact);
      EXPECT_EQ(results[0].error, "");
      EXPECT_EQ(results[0].trustFlags, 1) << "intact, the value taken up to the end of its own encoding";
    } else {
      EXPECT_EQ(results[0].error, "no handler for the signature's filter");
    }
  }
}

TEST(Viewer, RunShowsTheCoverage) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"First"}};
  const std::string path = pdftest::scratch("run-coverage.pdf");
  pdffixtures::writeDocument(plan, path);
  pdffixtures::sign(path, "First", {});
  pdffixtures::appendSignatureField(path, {"Second"});
  pdffixtures::sign(path, "Second", {});
  const pdftest::Run r = pdftest::run(std::string(VHOST_RUN_PATH) + " " + DUMMY_PLUGIN_PATH + " " + path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\"First\" (method 2): returned 1, trustFlags 1, id 2\n  coverage: " +
                          vhost::coverageText(vhost::Coverage::EarlierRevision)),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("\"Second\" (method 2): returned 1, trustFlags 1, id 2\n  coverage: " +
                          vhost::coverageText(vhost::Coverage::WholeDocument)),
            std::string::npos)
      << r.output;
}

}  // namespace
