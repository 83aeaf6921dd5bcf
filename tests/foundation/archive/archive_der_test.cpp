// DER reader, INTEGERs, keys, certificates, signature blocks and certificate paths.
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace archivetest;

namespace {

// A small DER writer for hand-made certificates.
std::string tlv(unsigned char tag, const std::string& content) {
  unsigned char length[8];
  const uint32_t n = derWriteLength(static_cast<uint32_t>(content.size()), length);
  return std::string(1, static_cast<char>(tag)) + std::string(reinterpret_cast<char*>(length), n) + content;
}
std::string seq(const std::string& c) { return tlv(0x30, c); }
std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

struct DerCase {
  const char* name;
  std::string der;
  bool ok;
  uint32_t length;
};

TEST(ArchiveDer, ElementTable) {
  const std::string content300(300, 'x');
  const DerCase cases[] = {
      {"short", bytes({0x04, 0x02, 'a', 'b'}), true, 2},
      {"long form, one byte", bytes({0x04, 0x81, 0x01, 'a'}), true, 1},
      {"long form, four bytes", bytes({0x04, 0x84, 0, 0, 0, 1, 'a'}), true, 1},
      {"five length bytes", bytes({0x04, 0x85, 0, 0, 0, 0, 1, 'a'}), false, 0},
      {"past the end", bytes({0x04, 0x05, 'a'}), false, 0},
      {"high tag number", bytes({0x1F, 0x81, 0x01, 0x01, 'a'}), true, 1},
      {"unterminated high tag", bytes({0x1F, 0x81}), false, 0},
      {"indefinite", bytes({0x30, 0x80, 0x04, 0x01, 'a', 0x00, 0x00}), true, 3},
      {"indefinite without end-of-contents", bytes({0x30, 0x80, 0x04, 0x01, 'a'}), false, 0},
      {"one byte", bytes({0x04}), false, 0},
  };
  for (const DerCase& c : cases) {
    DerElement e;
    const auto* p = reinterpret_cast<const unsigned char*>(c.der.data());
    const unsigned char* next = derNext(p, c.der.size(), &e);
    EXPECT_EQ(next != nullptr, c.ok) << c.name;
    if (c.ok && next != nullptr) {
      EXPECT_EQ(e.length, c.length) << c.name;
      EXPECT_EQ(derTotalLength(p, c.der.size()), c.der.size()) << c.name;
    }
  }
}

TEST(ArchiveDer, NestingIsBounded) {
  for (int depth : {static_cast<int>(kDerMaxDepth), kDerMaxDepth + 2, 200000}) {
    std::string der;
    for (int i = 0; i < depth; ++i) der += bytes({0x30, 0x80});
    for (int i = 0; i < depth; ++i) der += bytes({0, 0});
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    EXPECT_EQ(derTotalLength(p, der.size()) != 0, depth <= kDerMaxDepth + 1) << depth;
    EXPECT_EQ(derCount(p, der.size()) != 0, depth <= kDerMaxDepth + 1) << depth;
  }
}

TEST(ArchiveDer, CountSplitAndLengths) {
  const std::string run = bytes({0x02, 0x01, 0x05, 0x04, 0x00, 0x00, 0x00, 0x02, 0x01, 0x07});
  const auto* p = reinterpret_cast<const unsigned char*>(run.data());
  EXPECT_EQ(derCount(p, run.size()), 2u);  // a pair of zero bytes ends the run
  DerElement views[4];
  EXPECT_EQ(derSplit(p, run.size(), 4, views), 4u);
  EXPECT_EQ(views[1].length, 0u);
  EXPECT_EQ(views[2].tag, nullptr);
  const std::string broken = bytes({0x02, 0x01, 0x05, 0x04, 0x09});
  EXPECT_EQ(derCount(reinterpret_cast<const unsigned char*>(broken.data()), broken.size()), 0u);
  EXPECT_EQ(derSplit(reinterpret_cast<const unsigned char*>(broken.data()), broken.size(), 3, views), 1u);
  struct L {
    uint32_t length;
    uint32_t size;
  };
  for (L l : {L{0, 1}, L{127, 1}, L{128, 2}, L{255, 2}, L{256, 3}, L{65536, 4}, L{0x1000000, 5}}) {
    unsigned char out[8];
    EXPECT_EQ(derLengthOfLength(l.length), l.size);
    EXPECT_EQ(derWriteLength(l.length, out), l.size);
    DerElement e;
    std::string der = std::string(1, 0x04) + std::string(reinterpret_cast<char*>(out), l.size) + std::string(l.length, 'a');
    ASSERT_NE(derNext(reinterpret_cast<const unsigned char*>(der.data()), der.size(), &e), nullptr);
    EXPECT_EQ(e.length, l.length);
  }
}

TEST(ArchiveDer, IntegerSizes) {
  struct Case {
    const char* name;
    std::string content;
    uint32_t expected;
  };
  const Case cases[] = {
      {"zero", std::string(1, '\0'), 1},
      {"empty", std::string(), 1},
      {"128 significant bytes after a zero", std::string(1, '\0') + std::string(128, '\x80'), 128},
      {"129 significant bytes", std::string(129, '\x01'), 0},
  };
  for (const Case& c : cases) {
    const std::string der = tlv(0x02, c.content);
    DerElement e;
    derNext(reinterpret_cast<const unsigned char*>(der.data()), der.size(), &e);
    unsigned char out[128];
    EXPECT_EQ(decodeInteger(&e, out, 128), c.expected) << c.name;
  }
  const std::string two = tlv(0x02, bytes({0x01, 0x02}));
  DerElement e;
  derNext(reinterpret_cast<const unsigned char*>(two.data()), two.size(), &e);
  unsigned char out[128];
  ASSERT_EQ(decodeInteger(&e, out, 128), 2u);
  EXPECT_EQ(out[0], 0x02);  // little-endian
}

TEST(ArchiveDer, BuiltInRootKeysDecode) {
  for (bool archive : {true, false}) {
    const std::string key = rootKey(archive);
    ASSERT_EQ(key.size(), 442u);
    Blob algorithm, parameters, bits;
    ASSERT_EQ(parseSubjectPublicKeyInfo(blobOf(key), &algorithm, &parameters, &bits), 0);
    DsaKeyStorage k;
    ASSERT_EQ(decodeDsaKey(bits, parameters, &k), 0);
    EXPECT_EQ(k.key.p.length, 128u);
    EXPECT_EQ(k.key.q.length, 20u);
  }
  EXPECT_NE(rootKey(true), rootKey(false));
  unsigned char small[441] = {};
  Blob out = makeBlob(small, sizeof small);
  EXPECT_EQ(getArchiveRootKey(&out), 0);
  EXPECT_EQ(out.length, 0u);
  out = makeBlob(small, sizeof small);
  EXPECT_EQ(getDefaultRootKey(&out), 0);
}

TEST(ArchiveDer, EmptyBitStringFails) {
  const std::string key = rootKey();
  const std::string spki = seq(key.substr(4, 4 + 0x12f - 4) + tlv(0x03, ""));
  Blob a, p, b;
  EXPECT_EQ(parseSubjectPublicKeyInfo(blobOf(spki), &a, &p, &b), -1);
}

// ---- certificates ----

std::string spkiOf(const std::string& certPem) {
  Certificate c;
  const std::string der = eswtool::certificateDer(certPem);
  EXPECT_EQ(parseCertificate(&c, blobOf(der)), 0);
  std::string s = text(c.subjectPublicKeyInfo);
  releaseCertificate(&c);
  return s;
}

// A certificate built from parts, so that each part can be left out or changed.
struct CertParts {
  std::string version = tlv(0xA0, tlv(0x02, bytes({2})));
  std::string serial = tlv(0x02, bytes({0x11}));
  std::string algorithm = seq(tlv(0x06, bytes({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03})));
  std::string issuer = seq(tlv(0x31, seq(tlv(0x06, bytes({0x55, 0x04, 0x03})) + tlv(0x0C, "Issuer"))));
  std::string validity = seq(tlv(0x17, "260101000000Z") + tlv(0x17, "360101000000Z"));
  std::string subject = seq(tlv(0x31, seq(tlv(0x06, bytes({0x55, 0x04, 0x03})) + tlv(0x0C, "Subject"))));
  std::string spki = rootKey();
  std::string extensions =
      tlv(0xA3, seq(seq(tlv(0x06, bytes({0x55, 0x1D, 0x13})) + tlv(0x01, bytes({0xFF})) + tlv(0x04, seq("")))));
  std::string signature = tlv(0x03, bytes({0x00}) + seq(tlv(0x02, bytes({1})) + tlv(0x02, bytes({1}))));
  std::string der() const {
    return seq(seq(version + serial + algorithm + issuer + validity + subject + spki + extensions) + algorithm + signature);
  }
};

TEST(ArchiveCertificate, Table) {
  struct Case {
    const char* name;
    std::function<std::string()> make;
    bool ok;
    uint32_t extensions;
  };
  const Case cases[] = {
      {"complete", [] { return CertParts().der(); }, true, 1},
      {"without version", [] { CertParts c; c.version.clear(); return c.der(); }, true, 1},
      {"without extensions", [] { CertParts c; c.extensions.clear(); return c.der(); }, true, 0},
      {"trailing byte", [] { return CertParts().der() + "x"; }, false, 0},
      {"key without parameters",
       [] {
         CertParts c;
         c.spki = seq(seq(tlv(0x06, bytes({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01}))) + tlv(0x03, bytes({0, 2, 1, 5})));
         return c.der();
       },
       false, 0},
      {"empty Extensions", [] { CertParts c; c.extensions = tlv(0xA3, seq("")); return c.der(); }, false, 0},
      {"element after extnValue",
       [] {
         CertParts c;
         c.extensions = tlv(0xA3, seq(seq(tlv(0x06, bytes({0x55, 0x1D, 0x13})) + tlv(0x04, "") + tlv(0x05, ""))));
         return c.der();
       },
       false, 0},
      {"extnID not an OID", [] { CertParts c; c.extensions = tlv(0xA3, seq(seq(tlv(0x02, bytes({1})) + tlv(0x04, "")))); return c.der(); }, false, 0},
      {"openssl certificate", [] { return eswtool::certificateDer(keyFile("chain-inter.crt")); }, true, 4},
  };
  for (const Case& c : cases) {
    Certificate cert;
    const std::string der = c.make();
    EXPECT_EQ(parseCertificate(&cert, blobOf(der)), c.ok ? 0 : -1) << c.name;
    if (c.ok) {
      EXPECT_EQ(cert.extensionCount, c.extensions) << c.name;
    }
    releaseCertificate(&cert);
  }
  Certificate cert;
  const std::string der = CertParts().der();
  ASSERT_EQ(parseCertificate(&cert, blobOf(der)), 0);
  EXPECT_EQ(text(cert.issuerAndSerialNumber), seq(CertParts().issuer + CertParts().serial));
  Blob out;
  EXPECT_EQ(getCertificateId(&cert, &out), 0);
  EXPECT_EQ(getCertificateKey(&cert, &out), 0);
  EXPECT_EQ(text(out), rootKey());
  EXPECT_EQ(getCertificateId(nullptr, &out), -1);
  EXPECT_EQ(getCertificateKey(&cert, nullptr), -1);
  releaseCertificate(&cert);
}

TEST(ArchiveCertificate, SignaturesVerifyWithTheIssuerKey) {
  const std::string inter = eswtool::certificateDer(keyFile("chain-inter.crt"));
  Certificate c;
  ASSERT_EQ(parseCertificate(&c, blobOf(inter)), 0);
  EXPECT_EQ(verifyCertificateWithRoot(&c, blobOf(rootKey())), 0);
  EXPECT_EQ(verifyCertificateWithRoot(&c, makeBlob("", 0)), -1);  // the default root did not issue it
  EXPECT_EQ(verifyCertificate(&c, blobOf(spkiOf(keyFile("stranger.crt")))), -1);
  releaseCertificate(&c);
}

// ---- signature blocks and certificate paths ----

struct Loaded {
  std::string bytes;
  ArchivePtr archive;
};

// An archive whose block is signed by the chain's signer, loaded with that signer's own key.
Loaded chainArchive(bool breakIntermediate) {
  eswtool::ArchivePlan plan = typicalPlan();
  plan.blocks = {block(signer("chain-signer"))};
  std::string inter = eswtool::certificateDer(keyFile("chain-inter.crt"));
  if (breakIntermediate) inter[inter.size() - 3] ^= 0x01;  // inside the signature's s
  plan.extraEntries.push_back({"META-INF/root.CER", eswtool::certificateDer(keyFile("archive-root.crt"))});
  plan.extraEntries.push_back({"META-INF/inter.CER", inter});
  Loaded l;
  l.bytes = eswtool::buildArchive(plan);
  const std::string signerKey = spkiOf(keyFile("chain-signer.crt"));
  Certificate c;
  const std::string der = eswtool::certificateDer(keyFile("chain-signer.crt"));
  parseCertificate(&c, blobOf(der));
  const std::string id = text(c.issuerAndSerialNumber);
  releaseCertificate(&c);
  l.archive = load(l.bytes, signerKey, id);
  return l;
}

std::string subjectOf(const std::string& pem) {
  Certificate c;
  const std::string der = eswtool::certificateDer(pem);
  parseCertificate(&c, blobOf(der));
  std::string s = text(c.subject);
  releaseCertificate(&c);
  return s;
}

TEST(ArchiveCertificatePath, FromTheRootDownToTheSigner) {
  Loaded l = chainArchive(false);
  ASSERT_NE(l.archive, nullptr);
  ArchiveContext* ctx = l.archive->block->archive;
  const std::string id = text(l.archive->issuerAndSerialNumber);
  CertificatePathNode* path = nullptr;
  ASSERT_EQ(buildCertificatePath(&path, ctx, blobOf(id), blobOf(subjectOf(keyFile("archive-root.crt"))),
                                 blobOf(rootKey())),
            0);
  Certificate* certs[4];
  ASSERT_EQ(copyCertificatePath(path, certs, 4), 2u);
  EXPECT_EQ(text(certs[0]->subject), subjectOf(keyFile("chain-inter.crt")));
  EXPECT_EQ(text(certs[1]->subject), subjectOf(keyFile("chain-signer.crt")));
  EXPECT_EQ(copyCertificatePath(path, certs, 1), 0u);
  // The signer as its own root: an empty path.
  ASSERT_EQ(buildCertificatePath(&path, ctx, blobOf(id), blobOf(subjectOf(keyFile("chain-signer.crt"))),
                                 blobOf(rootKey())),
            0);
  EXPECT_EQ(path, nullptr);
  // Wrong root key, unknown signer.
  EXPECT_EQ(buildCertificatePath(&path, ctx, blobOf(id), blobOf(subjectOf(keyFile("archive-root.crt"))),
                                 blobOf(rootKey(false))),
            -1);
  EXPECT_EQ(buildCertificatePath(&path, ctx, blobOf(std::string("x")), blobOf(std::string("y")), blobOf(rootKey())), -1);

  Certificate signerCert;
  const std::string der = eswtool::certificateDer(keyFile("chain-signer.crt"));
  ASSERT_EQ(parseCertificate(&signerCert, blobOf(der)), 0);
  EXPECT_EQ(selectSignerByCertificate(ctx, &signerCert), l.archive.get());
  releaseCertificate(&signerCert);
  Certificate strangerCert;
  const std::string sder = eswtool::certificateDer(keyFile("stranger.crt"));
  ASSERT_EQ(parseCertificate(&strangerCert, blobOf(sder)), 0);
  EXPECT_EQ(selectSignerByCertificate(ctx, &strangerCert), nullptr);
  releaseCertificate(&strangerCert);
}

TEST(ArchiveCertificatePath, ABrokenIntermediateBreaksThePath) {
  Loaded l = chainArchive(true);
  ASSERT_NE(l.archive, nullptr);
  CertificatePathNode* path = nullptr;
  EXPECT_EQ(buildCertificatePath(&path, l.archive->block->archive, blobOf(text(l.archive->issuerAndSerialNumber)),
                                 blobOf(subjectOf(keyFile("archive-root.crt"))), blobOf(rootKey())),
            -1);
}

TEST(ArchiveSignatureBlock, WithoutCertificatesAndWithTwoSigners) {
  eswtool::ArchivePlan plan = typicalPlan();
  const std::string manifest = eswtool::manifestText(plan);
  struct Case {
    bool certificates;
    size_t signers;
  };
  for (Case c : {Case{false, 1}, Case{true, 2}}) {
    eswtool::Block b = block(archiveRoot());
    b.includeCertificates = c.certificates;
    if (c.signers == 2) b.signers.push_back(defaultRoot());
    const std::string der = eswtool::signContent(eswtool::signerInfoText(plan), b);
    ArchiveContext* ctx = static_cast<ArchiveContext*>(std::calloc(1, sizeof(ArchiveContext)));
    ctx->manifest = blobOf(manifest);
    ASSERT_EQ(parseArchiveManifest(ctx), 0);
    SignatureBlock sb;
    ASSERT_EQ(parseSignatureBlock(&sb, ctx, makeBlob("B", 1), blobOf(der)), 0);
    size_t infos = 0, certs = 0;
    for (SignerInfo* i = sb.signerInfos; i != nullptr; i = i->next) ++infos;
    for (Certificate* k = sb.certificates; k != nullptr; k = k->next) ++certs;
    EXPECT_EQ(infos, c.signers);
    EXPECT_EQ(certs, c.certificates ? c.signers : 0u);
    for (Certificate* k = sb.certificates; k != nullptr; k = k->next) releaseCertificate(k);
    releaseArchiveContext(ctx);
  }
}

}  // namespace
