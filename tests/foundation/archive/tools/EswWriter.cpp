#include "EswWriter.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace eswtool {
namespace {

void put16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& out, unsigned long v) {
  put16(out, static_cast<unsigned>(v & 0xFFFF));
  put16(out, static_cast<unsigned>((v >> 16) & 0xFFFF));
}

unsigned long crcOf(const std::string& data) {
  return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

struct BioDeleter {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertDeleter {
  void operator()(X509* c) const { X509_free(c); }
};
struct CmsDeleter {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};

std::unique_ptr<X509, CertDeleter> loadCertificate(const std::string& file) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) throw std::runtime_error("cannot open " + file);
  std::unique_ptr<X509, CertDeleter> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!cert) throw std::runtime_error("no certificate in " + file);
  return cert;
}

std::unique_ptr<EVP_PKEY, KeyDeleter> loadKey(const std::string& file) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) throw std::runtime_error("cannot open " + file);
  std::unique_ptr<EVP_PKEY, KeyDeleter> key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) throw std::runtime_error("no private key in " + file);
  return key;
}

std::string withCrlf(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\n') out += "\r\n";
    else out.push_back(c);
  }
  return out;
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string sha1Base64(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
  unsigned char text[64];
  const int n = EVP_EncodeBlock(text, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n));
}

std::string writeZip(const std::vector<Entry>& entries, const ZipOptions& options) {
  std::string out;
  std::string central;
  for (const Entry& e : entries) {
    const unsigned long offset = out.size();
    unsigned long crc = crcOf(e.data);
    if (e.name == options.crcFlipEntry) crc ^= 1;
    const unsigned long size = e.data.size();
    const unsigned long usize = e.name == options.sizeMismatchEntry ? size + 1 : size;
    const bool descriptor = options.descriptor != Descriptor::None;
    const unsigned flags = descriptor ? 0x0008 : 0;
    const unsigned long headerCrc = options.descriptor == Descriptor::SixteenZeroCrc ? 0 : crc;
    const unsigned long headerSize = options.descriptor == Descriptor::SixteenZeroCrc ? 0 : size;
    const unsigned long headerUsize = options.descriptor == Descriptor::SixteenZeroCrc ? 0 : usize;
    put32(out, 0x04034B50);
    put16(out, 10);
    put16(out, flags);
    put16(out, 0);
    put16(out, 0x6000);
    put16(out, 0x5A21);
    put32(out, headerCrc);
    put32(out, headerSize);
    put32(out, headerUsize);
    put16(out, static_cast<unsigned>(e.name.size()));
    put16(out, 0);
    out += e.name;
    out += e.data;
    if (options.descriptor == Descriptor::SixteenZeroCrc) put32(out, 0x08074B50);
    if (descriptor) {
      put32(out, crc);
      put32(out, size);
      put32(out, options.descriptor == Descriptor::TwelveUnequal ? usize + 1 : usize);
    }
    put32(central, 0x02014B50);
    put16(central, 0x031E);
    put16(central, 10);
    put16(central, flags);
    put16(central, 0);
    put16(central, 0x6000);
    put16(central, 0x5A21);
    put32(central, crc);
    put32(central, size);
    put32(central, usize);
    put16(central, static_cast<unsigned>(e.name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0x81A40000);
    put32(central, offset);
    central += e.name;
  }
  const unsigned long centralOffset = out.size();
  if (options.centralDirectory) out += central;
  put32(out, 0x06054B50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<unsigned>(entries.size()));
  put16(out, static_cast<unsigned>(entries.size()));
  put32(out, options.centralDirectory ? central.size() : 0);
  put32(out, centralOffset);
  put16(out, 0);
  if (options.trailingByte) out.push_back('\0');
  return out;
}

std::string sectionText(const Section& section) {
  std::string text = "Name: " + withCrlf(section.name) + "\r\n";
  for (const Attribute& a : section.attributes) text += a.name + ": " + withCrlf(a.value) + "\r\n";
  return text + "\r\n";
}

std::string manifestText(const ArchivePlan& plan) {
  std::string text = "Manifest-Version: 2.0\r\n";
  for (const Attribute& a : plan.manifestHeader) text += a.name + ": " + withCrlf(a.value) + "\r\n";
  text += "\r\n";
  for (const Section& s : plan.sections) text += sectionText(s);
  return text;
}

std::string signerInfoText(const ArchivePlan& plan) {
  if (!plan.signerInfoOverride.empty()) return plan.signerInfoOverride;
  std::string text = "Signature-Version: 2.0\r\n";
  for (const Attribute& a : plan.signerInfoHeader) text += a.name + ": " + withCrlf(a.value) + "\r\n";
  text += "\r\n";
  for (const Section& s : plan.sections) {
    if (!s.covered) continue;
    text += "Name: " + withCrlf(s.name) + "\r\n";
    text += "Digest-Algorithms: " + plan.digestAlgorithm + "\r\n";
    text += plan.digestAlgorithm + "-Digest: " + sha1Base64(sectionText(s)) + "\r\n\r\n";
  }
  return text;
}

std::string certificateDer(const std::string& pemFile) {
  auto cert = loadCertificate(pemFile);
  unsigned char* der = nullptr;
  const int n = i2d_X509(cert.get(), &der);
  if (n <= 0) throw std::runtime_error("cannot encode " + pemFile);
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  OPENSSL_free(der);
  return out;
}

std::string signContent(const std::string& content, const Block& block) {
  unsigned int flags = CMS_BINARY | CMS_PARTIAL;
  if (!block.signedAttributes) flags |= CMS_NOATTR;
  std::unique_ptr<CMS_ContentInfo, CmsDeleter> cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  if (!cms) throw std::runtime_error("CMS_sign failed");
  for (const Signer& signer : block.signers) {
    auto cert = loadCertificate(signer.certFile);
    auto key = loadKey(signer.keyFile);
    unsigned int signerFlags = flags;
    if (!block.includeCertificates) signerFlags |= CMS_NOCERTS;
    if (CMS_add1_signer(cms.get(), cert.get(), key.get(), EVP_sha1(), signerFlags) == nullptr) {
      throw std::runtime_error("CMS_add1_signer failed for " + signer.keyFile);
    }
  }
  std::unique_ptr<BIO, BioDeleter> in(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  if (CMS_final(cms.get(), in.get(), nullptr, flags) != 1) throw std::runtime_error("CMS_final failed");
  unsigned char* der = nullptr;
  const int n = i2d_CMS_ContentInfo(cms.get(), &der);
  if (n <= 0) throw std::runtime_error("cannot encode the signature block");
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  OPENSSL_free(der);
  return out;
}

std::string buildArchive(const ArchivePlan& plan) {
  std::string manifest = manifestText(plan);
  const std::string signerInfo = signerInfoText(plan);
  if (plan.lfForCrlf && !plan.sections.empty()) {
    // The closing empty line of the first section; its digest no longer matches.
    const std::string first = sectionText(plan.sections.front());
    const size_t at = manifest.find(first);
    if (at != std::string::npos) manifest.erase(at + first.size() - 2, 1);
  }
  std::vector<Entry> entries;
  entries.push_back(Entry{"META-INF/MANIFEST.MF", manifest});
  for (const Block& b : plan.blocks) {
    std::string der = signContent(signerInfo, b);
    if (plan.blockMutation) plan.blockMutation(der);
    entries.push_back(Entry{b.entryName, der});
  }
  int n = 0;
  for (const std::string& pem : plan.certificateEntries) {
    entries.push_back(Entry{"META-INF/CERT" + std::to_string(++n) + ".CER", certificateDer(pem)});
  }
  for (const Entry& e : plan.extraEntries) entries.push_back(e);
  return writeZip(entries, plan.zip);
}

}  // namespace eswtool
