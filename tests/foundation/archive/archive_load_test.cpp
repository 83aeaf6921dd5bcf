// Loading signed archives made by the signing tool: lookups, the rejection
// table, signer selection, unsigned sections, and a bounded mutation run.
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

using namespace archivetest;

namespace {

// Where a load fails, to show that each rejection has its own reason.
enum class Stage { Zip, Manifest, Blocks, Signer, Loaded };

const char* stageName(Stage s) {
  switch (s) {
    case Stage::Zip: return "zip";
    case Stage::Manifest: return "manifest";
    case Stage::Blocks: return "blocks";
    case Stage::Signer: return "signer";
    case Stage::Loaded: return "loaded";
  }
  return "?";
}

struct Context {
  ArchiveContext* c = static_cast<ArchiveContext*>(std::calloc(1, sizeof(ArchiveContext)));
  ~Context() { releaseArchiveContext(c); }
};

Stage stageOf(const std::string& bytes, const std::string& key = rootKey()) {
  Context ctx;
  arcCopy(&ctx.c->allocations, blobOf(bytes), &ctx.c->data);
  ZipEntry* entries = nullptr;
  if (readZipRuns(&ctx.c->allocations, ctx.c->data, &entries) != 0) return Stage::Zip;
  for (ZipEntry* e = entries; e != nullptr; e = e->next) {
    if (text(e->name) == "META-INF/MANIFEST.MF") ctx.c->manifest = e->data;
  }
  if (ctx.c->manifest.data == nullptr || parseArchiveManifest(ctx.c) != 0) return Stage::Manifest;
  if (parseArchiveEntries(ctx.c, entries) != 0) return Stage::Blocks;
  if (selectArchiveSigner(ctx.c, makeBlob("", 0), blobOf(key)) == nullptr) return Stage::Signer;
  return Stage::Loaded;
}

TEST(ArchiveLoad, TypicalArchiveLoadsAndAnswersLookups) {
  const std::string bytes = eswtool::buildArchive(typicalPlan());
  ArchivePtr a = load(bytes);
  ASSERT_NE(a, nullptr);
  ManifestSection* jvm = find(a.get(), "JVM");
  ASSERT_NE(jvm, nullptr);
  EXPECT_EQ(text(jvm->kind), "executable");
  EXPECT_EQ(text(jvm->path), "jre\\lib\\server\\libjvm.so");
  EXPECT_EQ(find(a.get(), "executable:jre\\lib\\server\\libjvm.so"), jvm);
  EXPECT_EQ(findSection(a.get(), 4, "JVM\0"), jvm);
  EXPECT_EQ(find(a.get(), "jre\\lib\\server\\libjvm.so"), nullptr);
  EXPECT_EQ(find(a.get(), "JV"), nullptr);
  EXPECT_EQ(findSection(nullptr, 3, "JVM"), nullptr);
  EXPECT_EQ(findSection(a.get(), 0, ""), nullptr);  // not every section without SectionName

  ManifestSection* own = find(a.get(), "Quarvel");
  ASSERT_NE(own, nullptr);
  const std::vector<std::pair<std::string, std::string>> expected = {{"Main-Class", "x.Launcher"},
                                                                      {"BankCard0", "3B:FF"}};
  EXPECT_EQ(attributesOf(own), expected);
  AttributeIterator* empty = getAttributes(jvm);
  Blob n, v;
  EXPECT_EQ(nextAttribute(empty, &n, &v), -1);
  EXPECT_EQ(freeAttributes(empty), 0);
  EXPECT_EQ(nextAttribute(nullptr, &n, &v), -1);
  EXPECT_EQ(freeAttributes(nullptr), -1);
  EXPECT_EQ(getAttributes(nullptr), nullptr);
  // Iterators never freed go with the archive (the sanitizer build checks for leaks).
  getAttributes(own);
  getAttributes(own);
  EXPECT_EQ(releaseArchive(nullptr), -1);
}

TEST(ArchiveLoad, ContinuationLinesJoin) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.sections[0].attributes.push_back({"Long", "abc\n def\n ghi"});
  ArchivePtr a = load(eswtool::buildArchive(plan));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(attributesOf(find(a.get(), "Quarvel")).back(), std::make_pair(std::string("Long"), std::string("abcdefghi")));
}

TEST(ArchiveLoad, ArchiveOfTheDefaultRootNeedsTheDefaultKey) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.blocks = {block(defaultRoot())};
  const std::string bytes = eswtool::buildArchive(plan);
  EXPECT_EQ(load(bytes), nullptr);
  EXPECT_NE(load(bytes, ""), nullptr);
  EXPECT_NE(load(bytes, rootKey(false)), nullptr);
}

// ---- rejection table ----

uint32_t u16(const std::string& s, size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
uint32_t u32(const std::string& s, size_t at) { return u16(s, at) | u16(s, at + 2) << 16; }


std::string replaceOnce(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

struct Rejection {
  const char* name;
  Stage stage;
  std::function<std::string()> make;
};

std::string build(const std::function<void(eswtool::ArchivePlan&)>& change) {
  eswtool::ArchivePlan plan = typicalPlan();
  change(plan);
  return eswtool::buildArchive(plan);
}

// The signer-info text for the typical sections with a hand-written section appended or replacing.
std::string signedWith(const std::string& signerInfo) {
  return build([&](eswtool::ArchivePlan& s) { s.signerInfoOverride = signerInfo; });
}

std::string digestSection(const std::string& name, const std::string& algorithms, const std::string& lines) {
  return "Name: " + name + "\r\nDigest-Algorithms: " + algorithms + "\r\n" + lines + "\r\n";
}

std::string quarvelDigest() {
  return eswtool::sha1Base64(eswtool::sectionText(typicalPlan().sections[0]));
}

std::string nestedIndefinite(int depth) {
  std::string der;
  for (int i = 0; i < depth; ++i) der += std::string("\x30\x80", 2);
  for (int i = 0; i < depth; ++i) der += std::string(2, '\0');
  return der;
}

TEST(ArchiveLoad, RejectionTable) {
  const std::string valid = eswtool::buildArchive(typicalPlan());
  const std::string header = "Signature-Version: 2.0\r\n\r\n";
  const std::string digest = quarvelDigest();
  const std::vector<Rejection> cases = {
      // ZIP runs
      {"trailing byte", Stage::Zip, [&] { return build([](auto& s) { s.zip.trailingByte = true; }); }},
      {"CRC flip", Stage::Zip, [&] { return build([](auto& s) { s.zip.crcFlipEntry = "META-INF/MANIFEST.MF"; }); }},
      {"size mismatch", Stage::Zip,
       [&] { return build([](auto& s) { s.zip.sizeMismatchEntry = "META-INF/SIGNER.DSA"; }); }},
      {"descriptor sizes differ", Stage::Zip,
       [&] { return build([](auto& s) { s.zip.descriptor = eswtool::Descriptor::TwelveUnequal; }); }},
      {"16-byte descriptor with CRC 0", Stage::Zip,
       [&] { return build([](auto& s) { s.zip.descriptor = eswtool::Descriptor::SixteenZeroCrc; }); }},
      {"record past the end", Stage::Zip, [&] { return valid.substr(0, 100); }},
      {"unknown record", Stage::Zip, [&] { return replaceOnce(valid, "PK\x01\x02", "PK\x09\x09"); }},
      // manifest grammar and values
      {"no manifest", Stage::Manifest,
       [&] { return eswtool::writeZip({{"META-INF/OTHER.MF", "Manifest-Version: 2.0\r\n\r\n"}}); }},
      {"empty file", Stage::Zip, [&] { return std::string(); }},
      {"version 2.1", Stage::Manifest,
       [&] { return eswtool::writeZip({{"META-INF/MANIFEST.MF", "Manifest-Version: 2.1\r\n\r\n"}}); }},
      {"junk after the last section", Stage::Manifest,
       [&] {
         return eswtool::writeZip(
             {{"META-INF/MANIFEST.MF", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\nK: v\r\n\r\njunk"}});
       }},
      {"no blank after the colon", Stage::Manifest,
       [&] { return eswtool::writeZip({{"META-INF/MANIFEST.MF", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\nK:v\r\n\r\n"}}); }},
      {"Name without colon", Stage::Manifest,
       [&] { return build([](auto& s) { s.sections[1].name = "JVM"; }); }},
      {"manifest digest not Base64", Stage::Manifest,
       [&] {
         return build([](auto& s) {
           s.sections[0].attributes.push_back({"Digest-Algorithms", "MD5"});
           s.sections[0].attributes.push_back({"MD5-Digest", "AA AA"});
         });
       }},
      // signer-info texts, Base64 and digests
      {"signer-info without a section", Stage::Blocks, [&] { return signedWith(header); }},
      {"signer-info digest not Base64", Stage::Blocks,
       [&] { return signedWith(header + digestSection("config:Quarvel", "SHA1", "SHA1-Digest: AAAA AAAA\r\n")); }},
      {"lower-case sha1", Stage::Blocks,
       [&] { return signedWith(header + digestSection("config:Quarvel", "sha1", "sha1-Digest: " + digest + "\r\n")); }},
      {"19-byte digest", Stage::Blocks,
       [&] {
         return signedWith(header + digestSection("config:Quarvel", "SHA1", "SHA1-Digest: AAAAAAAAAAAAAAAAAAAAAAAAAA==\r\n"));
       }},
      {"21-byte digest starting right", Stage::Blocks,
       [&] {
         std::string d = eswtool::sha1Base64(eswtool::sectionText(typicalPlan().sections[0]));
         BlobPtr raw(base64Decode(blobOf(d)));
         std::string longer = text(*raw) + "x";
         BlobPtr enc(base64Encode(blobOf(longer)));
         return signedWith(header + digestSection("config:Quarvel", "SHA1", "SHA1-Digest: " + text(*enc) + "\r\n"));
       }},
      {"first of two digests is the right one", Stage::Blocks,
       [&] {
         return signedWith(header + digestSection("config:Quarvel", "SHA1",
                                                  "SHA1-Digest: " + digest + "\r\nSHA1-Digest: " + eswtool::sha1Base64("x") + "\r\n"));
       }},
      {"section unknown to the manifest", Stage::Blocks,
       [&] { return signedWith(header + digestSection("config:Other", "SHA1", "SHA1-Digest: " + digest + "\r\n")); }},
      {"LF for CR LF in a section", Stage::Blocks, [&] { return build([](auto& s) { s.lfForCrlf = true; }); }},
      // DER
      {"truncated signature block", Stage::Blocks,
       [&] { return build([](auto& s) { s.blockMutation = [](std::string& d) { d.resize(d.size() / 2); }; }); }},
      {"deeply nested indefinite block", Stage::Blocks,
       [&] { return build([](auto& s) { s.blockMutation = [](std::string& d) { d = nestedIndefinite(100000); }; }); }},
      {"certificate entry with a trailing byte", Stage::Blocks,
       [&] {
         return build([](auto& s) {
           s.extraEntries.push_back({"root.CER", eswtool::certificateDer(keyFile("archive-root.crt")) + "x"});
         });
       }},
      // signature
      {"no signature block", Stage::Signer, [&] { return build([](auto& s) { s.blocks.clear(); }); }},
      {"wrong key", Stage::Signer, [&] { return build([](auto& s) { s.blocks = {block(stranger())}; }); }},
      {"signed attributes", Stage::Signer, [&] { return build([](auto& s) { s.blocks[0].signedAttributes = true; }); }},
      {"signer-info header changed after signing", Stage::Signer,
       [&] {
         return build([](auto& s) {
           s.signerInfoHeader.push_back({"Created-By", "tool A"});
           s.blockMutation = [](std::string& d) { d = replaceOnce(d, "tool A", "tool B"); };
         });
       }},
  };
  for (const Rejection& c : cases) {
    const std::string bytes = c.make();
    EXPECT_EQ(load(bytes), nullptr) << c.name;
    EXPECT_STREQ(stageName(stageOf(bytes)), stageName(c.stage)) << c.name;
  }
}

TEST(ArchiveLoad, AcceptedVariants) {
  const std::string digest = quarvelDigest();
  const std::string header = "Signature-Version: 2.0\r\n\r\n";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"12-byte descriptor", build([](auto& s) { s.zip.descriptor = eswtool::Descriptor::Twelve; })},
      {"SHA-1 named SHA-1",
       signedWith(header + digestSection("config:Quarvel", "SHA-1", "SHA-1-Digest: " + digest + "\r\n"))},
      {"second of two digests is the right one",
       signedWith(header + digestSection("config:Quarvel", "SHA1",
                                         "SHA1-Digest: " + eswtool::sha1Base64("x") + "\r\nSHA1-Digest: " + digest + "\r\n"))},
      {"MD5 and SHA1, two blanks apart",
       signedWith(header + digestSection("config:Quarvel", "MD5  SHA1",
                                         "MD5-Digest: AAAA\r\nSHA1-Digest: " + digest + "\r\nXYZ-Digest: !!\r\n"))},
      {"signature block in the root and a lower-case dsa entry",
       build([](auto& s) {
         s.blocks[0].entryName = "SIGNER.DSA";
         s.extraEntries.push_back({"META-INF/junk.dsa", "not DER"});
       })},
      {"certificate entry", build([](auto& s) {
         s.extraEntries.push_back({"META-INF/root.CER", eswtool::certificateDer(keyFile("archive-root.crt"))});
       })},
      {"no certificates in the block", build([](auto& s) { s.blocks[0].includeCertificates = false; })},
  };
  for (const auto& [name, bytes] : cases) EXPECT_NE(load(bytes), nullptr) << name;
}

TEST(ArchiveLoad, TheLastManifestEntryCounts) {
  eswtool::ArchivePlan plan = typicalPlan();
  const std::string manifest = eswtool::manifestText(plan);
  const std::string dsa = eswtool::signContent(eswtool::signerInfoText(plan), plan.blocks[0]);
  const std::string junk = "Manifest-Version: 2.0\r\n\r\n";
  EXPECT_NE(load(eswtool::writeZip({{"META-INF/MANIFEST.MF", junk}, {"META-INF/MANIFEST.MF", manifest}, {"META-INF/S.DSA", dsa}})),
            nullptr);
  EXPECT_EQ(load(eswtool::writeZip({{"META-INF/MANIFEST.MF", manifest}, {"META-INF/MANIFEST.MF", junk}, {"META-INF/S.DSA", dsa}})),
            nullptr);
}

// ---- signer selection ----

std::string idOf(const std::string& certFile) {
  Certificate c;
  const std::string der = eswtool::certificateDer(certFile);
  EXPECT_EQ(parseCertificate(&c, blobOf(der)), 0);
  std::string id = text(c.issuerAndSerialNumber);
  releaseCertificate(&c);
  return id;
}

TEST(ArchiveSelection, TheFirstBlockThatVerifiesIsKept) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.blocks = {block(stranger(), "META-INF/A.DSA"), block(archiveRoot(), "META-INF/B.DSA")};
  const std::string bytes = eswtool::buildArchive(plan);
  ArchivePtr a = load(bytes);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(text(a->block->baseName), "B");
  EXPECT_EQ(a->block->archive->signatureBlocks->next, nullptr);  // the other block is dropped

  EXPECT_NE(load(bytes, rootKey(), idOf(keyFile("archive-root.crt"))), nullptr);
  EXPECT_EQ(load(bytes, rootKey(), idOf(keyFile("stranger.crt"))), nullptr);
  EXPECT_EQ(load(bytes, rootKey(), idOf(keyFile("default-root.crt"))), nullptr);
}

TEST(ArchiveSelection, DefaultSelectionTriesTheLastSignerInfoOfABlock) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.blocks[0].signers = {stranger(), archiveRoot()};
  const std::string bytes = eswtool::buildArchive(plan);
  Context ctx;
  SignatureBlock b;
  const std::string dsa = eswtool::signContent(eswtool::signerInfoText(plan), plan.blocks[0]);
  const std::string manifest = eswtool::manifestText(plan);
  ctx.c->manifest = blobOf(manifest);
  ASSERT_EQ(parseArchiveManifest(ctx.c), 0);
  ASSERT_EQ(parseSignatureBlock(&b, ctx.c, makeBlob("S", 1), blobOf(dsa)), 0);
  ASSERT_NE(b.signerInfos, nullptr);
  ASSERT_NE(b.signerInfos->next, nullptr);
  // DER sorts a SET OF, so which signer is last depends on the encoding.
  const bool archiveRootLast = text(b.signerInfos->issuerAndSerialNumber) == idOf(keyFile("archive-root.crt"));
  EXPECT_EQ(load(bytes) != nullptr, archiveRootLast);
  EXPECT_NE(load(bytes, rootKey(), idOf(keyFile("archive-root.crt"))), nullptr);
  for (Certificate* c = b.certificates; c != nullptr; c = c->next) releaseCertificate(c);
}

// ---- unsigned sections ----

TEST(ArchiveUnsignedSections, AShadowSectionIsIgnored) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.sections.insert(plan.sections.begin(),
                       eswtool::Section{"executable:evil\\libjvm.so", {{"SectionName", "JVM"}}, false});
  plan.sections.push_back(eswtool::Section{"config:Extra", {{"SectionName", "Extra"}}, false});
  ArchivePtr a = load(eswtool::buildArchive(plan));
  ASSERT_NE(a, nullptr);
  ManifestSection* jvm = find(a.get(), "JVM");
  ASSERT_NE(jvm, nullptr);
  EXPECT_EQ(text(jvm->path), "jre\\lib\\server\\libjvm.so");
  EXPECT_EQ(find(a.get(), "Extra"), nullptr);
  EXPECT_EQ(find(a.get(), "executable:evil\\libjvm.so"), nullptr);
  EXPECT_NE(find(a.get(), "Quarvel"), nullptr);
}

TEST(ArchiveUnsignedSections, AShadowWithTheSignedNameAfterItFailsTheDigest) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.sections.push_back(eswtool::Section{"config:Quarvel", {{"SectionName", "Quarvel"}, {"Main-Class", "evil"}}, false});
  EXPECT_EQ(load(eswtool::buildArchive(plan)), nullptr);
}

TEST(ArchiveUnsignedSections, OnlyCoveredSectionsAreReachable) {
  struct Layout {
    const char* name;
    std::vector<std::pair<std::string, bool>> sections;  // Name value, covered
    std::vector<std::string> reachable;                  // from the first covered one on
  };
  const std::vector<Layout> cases = {
      {"unsigned first", {{"config:A", false}, {"config:B", true}, {"config:C", true}}, {"config:B", "config:C"}},
      {"unsigned between", {{"config:A", true}, {"config:B", false}, {"config:C", true}}, {"config:A", "config:C"}},
      {"unsigned last", {{"config:A", true}, {"config:B", true}, {"config:C", false}}, {"config:A", "config:B"}},
      {"one signed among many unsigned",
       {{"config:U1", false}, {"config:U2", false}, {"config:A", true}, {"config:U3", false}},
       {"config:A"}},
  };
  for (const Layout& c : cases) {
    eswtool::ArchivePlan plan = typicalPlan();
    plan.sections.clear();
    for (const auto& [name, covered] : c.sections) plan.sections.push_back(eswtool::Section{name, {{"K", name}}, covered});
    ArchivePtr a = load(eswtool::buildArchive(plan));
    ASSERT_NE(a, nullptr) << c.name;
    std::vector<std::string> walked;
    for (ManifestSection* s = find(a.get(), c.reachable.front()); s != nullptr; s = s->next) walked.push_back(text(s->name));
    EXPECT_EQ(walked, c.reachable) << c.name;
    for (const auto& [name, covered] : c.sections) EXPECT_EQ(find(a.get(), name) != nullptr, covered) << c.name << " " << name;
  }
}

// ---- ZIP structure: stored entries, a central directory that repeats the local
// entries, and an end record that closes it ----

struct ZipParts {
  std::string locals;
  std::vector<std::string> central;
  std::string end;

  explicit ZipParts(const std::string& zip) {
    const size_t centralStart = zip.find(std::string("PK\x01\x02", 4));
    const size_t endStart = zip.rfind(std::string("PK\x05\x06", 4));
    locals = zip.substr(0, centralStart);
    for (size_t at = centralStart; at < endStart;) {
      const size_t size = 46 + u16(zip, at + 28) + u16(zip, at + 30) + u16(zip, at + 32);
      central.push_back(zip.substr(at, size));
      at += size;
    }
    end = zip.substr(endStart);
  }
  // The end record's counts, size and offset made to fit the directory as it now is.
  std::string join(bool fixEnd = true) const {
    std::string dir;
    for (const std::string& c : central) dir += c;
    std::string e = end;
    if (fixEnd) {
      put16(e, 8, central.size());
      put16(e, 10, central.size());
      put32(e, 12, dir.size());
      put32(e, 16, locals.size());
    }
    return locals + dir + e;
  }
  static void put16(std::string& s, size_t at, size_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  static void put32(std::string& s, size_t at, size_t v) {
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, (v >> 16) & 0xFFFF);
  }
};

TEST(ArchiveZipStructure, LocalEntriesDirectoryAndEndRecordMustAgree) {
  const std::string valid = eswtool::buildArchive(typicalPlan());
  ASSERT_NE(load(valid), nullptr);
  const ZipParts parts(valid);
  ASSERT_GE(parts.central.size(), 2u);
  using Edit = std::function<void(ZipParts&)>;
  auto edited = [&](const Edit& edit, bool fixEnd = true) {
    ZipParts p = parts;
    edit(p);
    return p.join(fixEnd);
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"local method 8", [&] { std::string z = valid; ZipParts::put16(z, 8, 8); return z; }()},
      {"central method 8", edited([](ZipParts& p) { ZipParts::put16(p.central[0], 10, 8); })},
      {"both methods 8", [&] {
         ZipParts p = parts;
         ZipParts::put16(p.locals, 8, 8);
         ZipParts::put16(p.central[0], 10, 8);
         return p.join();
       }()},
      {"central name differs", edited([](ZipParts& p) { p.central[0][46] ^= 0x20; })},
      {"central sizes differ from the data", edited([](ZipParts& p) {
         ZipParts::put32(p.central[0], 20, u32(p.central[0], 20) + 1);
         ZipParts::put32(p.central[0], 24, u32(p.central[0], 24) + 1);
       })},
      {"central CRC differs", edited([](ZipParts& p) { p.central[0][16] ^= 1; })},
      {"central offset off by one", edited([](ZipParts& p) { ZipParts::put32(p.central[1], 42, u32(p.central[1], 42) + 1); })},
      {"central entry missing", edited([](ZipParts& p) { p.central.pop_back(); })},
      {"central entry twice", edited([](ZipParts& p) { p.central.push_back(p.central.back()); })},
      {"central entries swapped", edited([](ZipParts& p) { std::swap(p.central[0], p.central[1]); })},
      {"no central directory", edited([](ZipParts& p) { p.central.clear(); })},
      {"end record counts one more", edited([](ZipParts& p) { ZipParts::put16(p.end, 10, p.central.size() + 1); }, false)},
      {"end record directory offset wrong", edited([](ZipParts& p) { ZipParts::put32(p.end, 16, 0); }, false)},
      {"end record directory size wrong", edited([](ZipParts& p) { ZipParts::put32(p.end, 12, 46); }, false)},
      {"cut after the local entries", parts.locals},
      {"cut after the central directory", edited([](ZipParts& p) { p.end.clear(); }, false)},
      {"cut after the first local entry",
       valid.substr(0, 30 + u16(valid, 26) + u16(valid, 28) + u32(valid, 18))},
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_EQ(load(bytes), nullptr) << name;
    EXPECT_STREQ(stageName(stageOf(bytes)), "zip") << name;
  }
  // What the directory may carry beyond the entries: an archive comment.
  ZipParts commented = parts;
  ZipParts::put16(commented.end, 20, 7);
  commented.end += "comment";
  EXPECT_NE(load(commented.join()), nullptr);
}

// ---- size: a cap on the archive, and parsing memory that follows the input ----

TEST(ArchiveSize, LargeValuesLoadUpToTheCapAndNothingAboveIt) {
  struct Case {
    const char* name;
    size_t valueBytes;
    bool folded;  // written as 72-byte continuation lines
    bool loads;
  };
  const std::vector<Case> cases = {
      {"4 MiB unsigned value on one line", 4u << 20, false, true},
      {"64 KiB unsigned value in continuation lines", 64u << 10, true, true},
      {"value that puts the archive over the cap", kMaxArchiveSize, false, false},
  };
  for (const Case& c : cases) {
    eswtool::ArchivePlan plan = typicalPlan();
    std::string value;
    for (size_t i = 0; value.size() < c.valueBytes; ++i) {
      value += static_cast<char>('a' + i % 26);
      if (c.folded && i % 72 == 71) value += "\n ";
    }
    plan.sections.push_back(eswtool::Section{"config:Big", {{"Data", value}}, false});
    plan.sections[0].attributes.push_back({"Big", c.folded ? "x\n y" : "xy"});
    const std::string bytes = eswtool::buildArchive(plan);
    ArchivePtr a = load(bytes);
    EXPECT_EQ(a != nullptr, c.loads) << c.name << " (" << bytes.size() << " bytes)";
    if (a != nullptr) {
      EXPECT_EQ(attributesOf(find(a.get(), "Quarvel")).back().second, "xy") << c.name;
    }
  }
}

TEST(ArchiveSize, AManifestThatNeedsFarMoreMemoryThanItsSizeIsRefused) {
  // Hundreds of thousands of tiny unsigned sections: each line costs the matcher
  // far more than its few bytes, so the parse gives up instead of growing.
  eswtool::ArchivePlan plan = typicalPlan();
  for (int i = 0; i < 200000; ++i) plan.sections.push_back(eswtool::Section{"a:" + std::to_string(i), {}, false});
  EXPECT_EQ(load(eswtool::buildArchive(plan)), nullptr);
  // The same number of attribute bytes in a few sections is fine.
  plan = typicalPlan();
  for (int i = 0; i < 50; ++i) {
    plan.sections.push_back(eswtool::Section{"a:" + std::to_string(i), {{"Key", std::string(20000, 'v')}}, false});
  }
  EXPECT_NE(load(eswtool::buildArchive(plan)), nullptr);
}

// ---- bounded mutation run ----


// Bytes that no check reads: local header version, flags, time and date; the
// directory and base name of signature blocks; the central directory's versions,
// flags, time, date, disk and attributes; the end record's disk numbers.
// Only the whole file loads: an archive cut anywhere does not.
struct Layout {
  std::set<size_t> unchecked;
  std::set<size_t> loadableLengths;
};

Layout layoutOf(const std::string& zip) {
  Layout l;
  size_t at = 0;
  while (u32(zip, at) == 0x04034B50) {
    for (size_t k = 4; k < 8; ++k) l.unchecked.insert(at + k);
    for (size_t k = 10; k < 14; ++k) l.unchecked.insert(at + k);
    const size_t n = u16(zip, at + 26), e = u16(zip, at + 28);
    const std::string name = zip.substr(at + 30, n);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".DSA") == 0) {
      for (size_t k = 0; k + 4 < n; ++k) l.unchecked.insert(at + 30 + k);
    }
    at += 30 + n + e + u32(zip, at + 18);
  }
  while (u32(zip, at) == 0x02014B50) {
    const size_t n = u16(zip, at + 28);
    const size_t size = 46 + n + u16(zip, at + 30) + u16(zip, at + 32);
    for (size_t k = 4; k < size; ++k) {
      if ((k < 10 || (k >= 12 && k < 16) || (k >= 34 && k < 42) || k >= 46 + n)) l.unchecked.insert(at + k);
    }
    at += size;
  }
  for (size_t k = 4; k < 8; ++k) l.unchecked.insert(at + k);
  l.loadableLengths.insert(zip.size());
  return l;
}

TEST(ArchiveMutation, FlipsAndTruncationsNeverCrashAndOnlyUncheckedBytesMayChange) {
  const std::string valid = eswtool::buildArchive(typicalPlan());
  const Layout layout = layoutOf(valid);
  std::mt19937 rng(99);
  int loaded = 0;
  for (int i = 0; i < 10000; ++i) {
    std::string bytes = valid;
    size_t where = 0;
    const bool truncate = i % 10 == 0;
    if (truncate) {
      where = rng() % valid.size();
      bytes.resize(where);
    } else {
      where = rng() % valid.size();
      bytes[where] = static_cast<char>(bytes[where] ^ (1 + rng() % 255));
    }
    ArchivePtr a = load(bytes);
    if (a == nullptr) continue;
    ++loaded;
    if (truncate) {
      EXPECT_TRUE(layout.loadableLengths.count(where)) << "truncated to " << where;
    } else {
      EXPECT_TRUE(layout.unchecked.count(where)) << "byte " << where << " changed and the archive loaded";
    }
    ManifestSection* s = find(a.get(), "Quarvel");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(attributesOf(s).front().second, "x.Launcher");
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
