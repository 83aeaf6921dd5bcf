#include "Fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

namespace pdffixtures {

namespace {

using Obj = QPDFObjectHandle;

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error("pdffixtures: " + why); }

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;

Obj signatureDictionary(QPDF& pdf, const SignatureFieldSpec& s) {
  Obj v = Obj::newDictionary();
  v.replaceKey("/Type", Obj::newName("/Sig"));
  v.replaceKey("/Filter", Obj::newName("/Dor:valin"));
  v.replaceKey("/SubFilter", Obj::newName("/" + s.subFilter));
  v.replaceKey("/ByteRange", Obj::parse("[0 9999999999 9999999999 9999999999]"));
  v.replaceKey("/Contents", Obj::newString(std::string(static_cast<size_t>(s.placeholderBytes), '\0')));
  if (s.withSigningTime) v.replaceKey("/M", Obj::newString("D:20240115103000+01'00'"));
  if (!s.metadataVersion.empty()) {
    Obj filter = Obj::newDictionary();
    filter.replaceKey("/Name", Obj::newName("/Dor:valin"));
    filter.replaceKey("/Metadata", Obj::newString("<Dorvalin><Version>" + s.metadataVersion +
                                                  "</Version></Dorvalin>"));
    Obj build = Obj::newDictionary();
    build.replaceKey("/Filter", filter);
    v.replaceKey("/Prop_Build", build);
  }
  return pdf.makeIndirectObject(v);
}

Obj fontObject(QPDF& pdf, const FontSpec& f) {
  Obj font = Obj::newDictionary();
  font.replaceKey("/Type", Obj::newName("/Font"));
  font.replaceKey("/Subtype", Obj::newName("/" + f.subtype));
  font.replaceKey("/BaseFont", Obj::newName("/" + f.baseFont));
  if (f.embedded) {
    Obj descriptor = Obj::newDictionary();
    descriptor.replaceKey("/Type", Obj::newName("/FontDescriptor"));
    descriptor.replaceKey("/FontName", Obj::newName("/" + f.baseFont));
    descriptor.replaceKey("/Flags", Obj::newInteger(32));
    descriptor.replaceKey("/FontBBox", Obj::parse("[0 0 1000 1000]"));
    descriptor.replaceKey("/ItalicAngle", Obj::newInteger(0));
    descriptor.replaceKey("/Ascent", Obj::newInteger(800));
    descriptor.replaceKey("/Descent", Obj::newInteger(-200));
    descriptor.replaceKey("/CapHeight", Obj::newInteger(700));
    descriptor.replaceKey("/StemV", Obj::newInteger(80));
    descriptor.replaceKey(f.subtype == "TrueType" ? "/FontFile2" : "/FontFile",
                          Obj::newStream(&pdf, std::string(64, '\x01')));
    font.replaceKey("/FontDescriptor", pdf.makeIndirectObject(descriptor));
  }
  return pdf.makeIndirectObject(font);
}

std::string contentStream(const DocSpec& spec) {
  std::string content = "BT\n";
  for (size_t i = 0; i < spec.fonts.size(); ++i) {
    content += "/F" + std::to_string(i + 1) + " 12 Tf 72 " + std::to_string(700 - 20 * i) +
               " Td (Text) Tj\n";
  }
  return content + "ET\n";
}

// The offsets of the signature dictionary `sig` in the written file: its /ByteRange
// array [open, close] and its /Contents hex string <lt, gt).
struct Placeholder {
  size_t rangeOpen = 0, rangeClose = 0, lt = 0, gt = 0;
};

Placeholder locate(const std::string& bytes, int objectId, int generation) {
  std::string head = std::to_string(objectId) + " " + std::to_string(generation) + " obj";
  size_t at = std::string::npos;
  for (size_t p = bytes.find(head); p != std::string::npos; p = bytes.find(head, p + 1)) {
    if (p == 0 || bytes[p - 1] == '\n' || bytes[p - 1] == '\r') at = p;  // the last one wins
  }
  if (at == std::string::npos) fail("signature object not found");
  size_t end = bytes.find("endobj", at);
  Placeholder ph;
  size_t br = bytes.find("/ByteRange", at);
  size_t ct = bytes.find("/Contents", at);
  if (br == std::string::npos || br > end || ct == std::string::npos || ct > end) fail("no placeholder");
  ph.rangeOpen = bytes.find('[', br);
  ph.rangeClose = bytes.find(']', ph.rangeOpen);
  ph.lt = bytes.find('<', ct);
  ph.gt = bytes.find('>', ph.lt) + 1;
  if (ph.rangeClose > end || ph.gt > end || ph.gt == 0) fail("malformed placeholder");
  return ph;
}

Obj fieldNamed(QPDF& pdf, const std::string& name) {
  Obj fields = pdf.getRoot().getKey("/AcroForm").getKey("/Fields");
  if (fields.isArray()) {
    for (Obj f : fields.getArrayAsVector()) {
      if (f.getKey("/T").isString() && f.getKey("/T").getUTF8Value() == name) return f;
    }
  }
  fail("no field " + name);
}

std::string signValue(const std::string& data, const Signer& signer, const SignOptions& options,
                      bool detached) {
  BioPtr keyBio(BIO_new_mem_buf(signer.keyPem.data(), static_cast<int>(signer.keyPem.size())));
  BioPtr certBio(BIO_new_mem_buf(signer.certPem.data(), static_cast<int>(signer.certPem.size())));
  KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  X509Ptr cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
  if (!key || !cert) fail("signer unreadable");
  int flags = PKCS7_BINARY | PKCS7_PARTIAL | (detached ? PKCS7_DETACHED : 0);
  if (!options.signedAttributes) flags |= PKCS7_NOATTR;
  Pkcs7Ptr p7(PKCS7_sign(nullptr, nullptr, nullptr, nullptr, flags));
  const EVP_MD* md = EVP_get_digestbyname(options.digest.c_str());
  if (!p7 || !md || !PKCS7_sign_add_signer(p7.get(), cert.get(), key.get(), md, flags)) fail("PKCS7_sign");
  BioPtr in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
  if (PKCS7_final(p7.get(), in.get(), flags) != 1) fail("PKCS7_final");
  unsigned char* der = nullptr;
  int n = i2d_PKCS7(p7.get(), &der);
  if (n <= 0) fail("i2d_PKCS7");
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(n));
  OPENSSL_free(der);
  return out;
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write " + path);
}

void writeDocument(const DocSpec& spec, const std::string& path) {
  QPDF pdf;
  pdf.emptyPDF();
  Obj root = pdf.getRoot();
  Obj fonts = Obj::newDictionary();
  for (size_t i = 0; i < spec.fonts.size(); ++i) {
    fonts.replaceKey("/F" + std::to_string(i + 1), fontObject(pdf, spec.fonts[i]));
  }
  Obj kids = Obj::newArray();
  Obj pagesNode = root.getKey("/Pages");
  std::vector<Obj> pages;
  for (int i = 0; i < spec.pages; ++i) {
    Obj page = Obj::newDictionary();
    page.replaceKey("/Type", Obj::newName("/Page"));
    page.replaceKey("/Parent", pagesNode);
    page.replaceKey("/MediaBox", Obj::parse("[0 0 612 792]"));
    Obj resources = Obj::newDictionary();
    if (i == 0 && !spec.fonts.empty()) resources.replaceKey("/Font", fonts);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", Obj::newStream(&pdf, i == 0 ? contentStream(spec) : "BT ET\n"));
    pages.push_back(pdf.makeIndirectObject(page));
    kids.appendItem(pages.back());
  }
  pagesNode.replaceKey("/Kids", kids);
  pagesNode.replaceKey("/Count", Obj::newInteger(spec.pages));
  if (!spec.catalogVersion.empty()) root.replaceKey("/Version", Obj::newName("/" + spec.catalogVersion));

  Obj annots = Obj::newArray();
  if (!spec.signatures.empty()) {
    Obj fields = Obj::newArray();
    for (const SignatureFieldSpec& s : spec.signatures) {
      Obj field = Obj::newDictionary();
      field.replaceKey("/FT", Obj::newName("/Sig"));
      field.replaceKey("/T", Obj::newUnicodeString(s.name));
      field.replaceKey("/Type", Obj::newName("/Annot"));
      field.replaceKey("/Subtype", Obj::newName("/Widget"));
      field.replaceKey("/Rect", Obj::parse("[0 0 0 0]"));
      field.replaceKey("/F", Obj::newInteger(132));
      if (!pages.empty()) field.replaceKey("/P", pages.front());
      if (s.withValue) field.replaceKey("/V", signatureDictionary(pdf, s));
      Obj f = pdf.makeIndirectObject(field);
      fields.appendItem(f);
      annots.appendItem(f);
    }
    Obj form = Obj::newDictionary();
    form.replaceKey("/Fields", fields);
    form.replaceKey("/SigFlags", Obj::newInteger(3));
    root.replaceKey("/AcroForm", form);
  }
  if (spec.linkAnnotation) {
    annots.appendItem(pdf.makeIndirectObject(Obj::parse(
        "<< /Type /Annot /Subtype /Link /Rect [72 72 144 144] "
        "/A << /S /URI /URI (http://127.0.0.1/) >> >>")));
  }
  if (spec.javaScriptOpenAction) {
    root.replaceKey("/OpenAction", Obj::parse("<< /S /JavaScript /JS (app.alert\\('x'\\);) >>"));
  }
  if (!pages.empty() && annots.getArrayNItems() > 0) pages.front().replaceKey("/Annots", annots);

  QPDFWriter writer(pdf, path.c_str());
  writer.setObjectStreamMode(qpdf_o_disable);
  writer.setCompressStreams(false);
  writer.setDeterministicID(true);
  writer.setMinimumPDFVersion(spec.headerVersion);
  writer.forcePDFVersion(spec.headerVersion);
  writer.write();
}

const Signer& testSigner() {
  static const Signer signer = [] {
    KeyPtr key(EVP_RSA_gen(2048));
    X509Ptr cert(X509_new());
    if (!key || !cert) fail("key generation");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Fixture Signer"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) fail("certificate signing");
    BioPtr k(BIO_new(BIO_s_mem())), c(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(k.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    PEM_write_bio_X509(c.get(), cert.get());
    char* data = nullptr;
    Signer s;
    long n = BIO_get_mem_data(k.get(), &data);
    s.keyPem.assign(data, static_cast<size_t>(n));
    n = BIO_get_mem_data(c.get(), &data);
    s.certPem.assign(data, static_cast<size_t>(n));
    return s;
  }();
  return signer;
}

std::string sign(const std::string& path, const std::string& field, const Signer& signer,
                 const SignOptions& options) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj v = fieldNamed(pdf, field).getKey("/V");
  if (!v.isIndirect()) fail("field " + field + " has no signature dictionary");
  std::string subFilter = v.getKey("/SubFilter").isName() ? v.getKey("/SubFilter").getName() : "";
  std::string bytes = readFile(path);
  Placeholder ph = locate(bytes, v.getObjectID(), v.getGeneration());

  std::string range = "[0 " + std::to_string(ph.lt) + " " + std::to_string(ph.gt) + " " +
                      std::to_string(bytes.size() - ph.gt) + "]";
  size_t width = ph.rangeClose + 1 - ph.rangeOpen;
  if (range.size() > width) fail("byte range does not fit");
  range.append(width - range.size(), ' ');
  bytes.replace(ph.rangeOpen, width, range);

  std::string ranges = bytes.substr(0, ph.lt) + bytes.substr(ph.gt);
  std::string der;
  if (subFilter == "/adbe.pkcs7.sha1") {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(ranges.data()), ranges.size(), digest);
    der = signValue(std::string(reinterpret_cast<char*>(digest), sizeof digest), signer, options, false);
  } else {
    der = signValue(ranges, signer, options, true);
  }
  static const char lower[] = "0123456789abcdef", upper[] = "0123456789ABCDEF";
  const char* digits = options.upperCaseHex ? upper : lower;
  std::string hex;
  for (unsigned char c : der) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  if (hex.size() > ph.gt - ph.lt - 2) fail("signature value does not fit its placeholder");
  bytes.replace(ph.lt + 1, hex.size(), hex);
  writeFile(path, bytes);
  return der;
}

std::string signedRanges(const std::string& path, const std::string& field) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj br = fieldNamed(pdf, field).getKey("/V").getKey("/ByteRange");
  std::string bytes = readFile(path);
  if (!br.isArray() || br.getArrayNItems() != 4) fail("no byte range");
  std::string out;
  for (int i = 0; i < 4; i += 2) {
    long long start = br.getArrayItem(i).getIntValue(), length = br.getArrayItem(i + 1).getIntValue();
    if (start < 0 || length < 0 || static_cast<size_t>(start + length) > bytes.size()) fail("bad byte range");
    out += bytes.substr(static_cast<size_t>(start), static_cast<size_t>(length));
  }
  return out;
}

void flipByte(const std::string& path, long offset) {
  std::string bytes = readFile(path);
  if (offset < 0 || static_cast<size_t>(offset) >= bytes.size()) fail("offset outside the file");
  bytes[static_cast<size_t>(offset)] ^= 0x01;
  writeFile(path, bytes);
}

}  // namespace pdffixtures
