#include "Fixtures.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include "testpki.h"

namespace pdffixtures {

namespace {

using Obj = QPDFObjectHandle;

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error("pdffixtures: " + why); }

// The size of a value of the signing plug-in's own format made with the key of `der`:
// 3 header bytes, the raw RSA signature (the modulus size) or r||s (two coordinates),
// 128 zero bytes. The plug-in reserves exactly this much, so /Contents holds nothing else.
size_t pluginFormatSize(const testpki::Bytes& der) {
  const unsigned char* p = der.data();
  std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr) fail("no public key in the certificate for /Cert");
  const int bits = EVP_PKEY_get_bits(key);
  const size_t raw = EVP_PKEY_get_base_id(key) == EVP_PKEY_EC ? 2 * static_cast<size_t>((bits + 7) / 8)
                                                              : static_cast<size_t>((bits + 7) / 8);
  return 3 + raw + 128;
}

// The signature dictionary of a field, a direct object.
Obj signatureDictionary(const SignatureFieldPlan& s, QPDF* pdf = nullptr) {
  const bool pluginFormat = s.subFilter == "adbe.x509.rsa_sha1";
  const testpki::Bytes der =
      pluginFormat ? (s.certKit ? *s.certKit : testpki::Kit::standard()).certificate(s.certSigner) : testpki::Bytes();
  const size_t placeholder = s.placeholderBytes > 0 ? static_cast<size_t>(s.placeholderBytes)
                       : pluginFormat        ? pluginFormatSize(der)
                                             : 8192;
  Obj v = Obj::newDictionary();
  v.replaceKey("/Type", Obj::newName("/Sig"));
  v.replaceKey("/Filter", Obj::newName("/" + s.filter));
  v.replaceKey("/SubFilter", Obj::newName("/" + s.subFilter));
  v.replaceKey("/ByteRange", Obj::parse("[0 9999999999 9999999999 9999999999]"));
  v.replaceKey("/Contents", Obj::newString(std::string(placeholder, '\0')));
  if (s.withSigningTime) {
    v.replaceKey("/M", s.signingTimeObject.empty() ? Obj::newString("D:20240115103000+01'00'")
                                                   : Obj::parse(s.signingTimeObject));
  }
  if (s.withSigningTime && s.indirectSigningTime) {
    if (pdf == nullptr) fail("an indirect /M needs the document");
    v.replaceKey("/M", pdf->makeIndirectObject(v.getKey("/M")));
  }
  if (!s.propBuildObject.empty()) {
    v.replaceKey("/Prop_Build", Obj::parse(s.propBuildObject));
  } else if (!s.metadataVersion.empty() || !s.metadataText.empty()) {
    Obj filter = Obj::newDictionary();
    filter.replaceKey("/Name", Obj::newName("/Dor:valin"));
    filter.replaceKey("/Metadata", Obj::newString(s.metadataText.empty() ? "<Dorvalin><Version>" +
                                                                               s.metadataVersion + "</Version></Dorvalin>"
                                                                         : s.metadataText));
    Obj build = Obj::newDictionary();
    build.replaceKey("/Filter", filter);
    v.replaceKey("/Prop_Build", build);
  }
  if (pluginFormat) v.replaceKey("/Cert", Obj::newString(std::string(der.begin(), der.end())));
  return v;
}

Obj fontObject(QPDF& pdf, const FontPlan& f) {
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

// A grey image of about `bytes` bytes, 1024 samples wide, filled with noise from `seed`.
Obj noiseImage(QPDF& pdf, int bytes, uint32_t seed) {
  const int height = (bytes + 1023) / 1024;
  std::string data(static_cast<size_t>(height) * 1024, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  Obj image = Obj::newStream(&pdf, data);
  image.getDict().replaceKey("/Type", Obj::newName("/XObject"));
  image.getDict().replaceKey("/Subtype", Obj::newName("/Image"));
  image.getDict().replaceKey("/Width", Obj::newInteger(1024));
  image.getDict().replaceKey("/Height", Obj::newInteger(height));
  image.getDict().replaceKey("/ColorSpace", Obj::newName("/DeviceGray"));
  image.getDict().replaceKey("/BitsPerComponent", Obj::newInteger(8));
  return image;
}

std::string contentStream(const DocumentPlan& plan) {
  std::string content = "BT\n";
  for (size_t i = 0; i < plan.fonts.size(); ++i) {
    content += "/F" + std::to_string(i + 1) + " 12 Tf 72 " + std::to_string(700 - 20 * i) +
               " Td (Text) Tj\n";
  }
  return content + "ET\n";
}

// The offsets of a signature dictionary in the written file: its /ByteRange array
// [open, close] with the blanks after it, and its /Contents hex string <lt, gt).
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
  // The blanks that padded an earlier rewrite belong to the region too.
  while (ph.rangeClose + 1 < end && bytes[ph.rangeClose + 1] == ' ') ++ph.rangeClose;
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

// The placeholder of field `field` in the file's bytes.
Placeholder placeholderOf(const std::string& path, const std::string& field, const std::string& bytes,
                          std::string* subFilter = nullptr) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj v = fieldNamed(pdf, field).getKey("/V");
  if (!v.isIndirect()) fail("field " + field + " has no signature dictionary");
  if (subFilter) *subFilter = v.getKey("/SubFilter").isName() ? v.getKey("/SubFilter").getName() : "";
  return locate(bytes, v.getObjectID(), v.getGeneration());
}

// A word for the shell, whatever it holds.
std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a command of words through the shell; its output goes with the failure.
void runCommand(const std::vector<std::string>& words) {
  std::string command;
  for (const std::string& w : words) command += (command.empty() ? "" : " ") + quoted(w);
  std::string output;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) fail("cannot run " + words.front());
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
  const int status = pclose(p);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(command + " failed:\n" + output);
}

}  // namespace

std::string makeNssDatabase(const std::string& dir, const testpki::Kit& kit, const std::vector<std::string>& signers) {
  const std::string db = "sql:" + dir;
  runCommand({"mkdir", "-p", dir});
  runCommand({"certutil", "-N", "-d", db, "--empty-password"});
  runCommand({"certutil", "-A", "-d", db, "-n", "root", "-t", "CT,C,C", "-i", kit.path("root.pem")});
  runCommand({"certutil", "-A", "-d", db, "-n", "int", "-t", ",,", "-i", kit.path("int.pem")});
  for (const std::string& signer : signers) {
    const std::string p12 = dir + "/" + signer + ".p12";
    runCommand({"openssl", "pkcs12", "-export", "-in", kit.path(signer + ".pem"), "-inkey", kit.path(signer + ".key"),
                "-name", signer, "-passout", "pass:", "-out", p12});
    runCommand({"pk12util", "-i", p12, "-d", db, "-W", ""});
    std::remove(p12.c_str());
  }
  return db;
}

void signWithPdfsig(const std::string& nssDatabase, const std::string& signer, const std::string& in,
                    const std::string& out, const std::string& field, const std::string& digest) {
  std::remove(out.c_str());
  runCommand({"pdfsig", "-nssdir", nssDatabase, "-add-signature", "-nick", signer, "-digest", digest,
              "-new-signature-field-name", field, in, out});
  // pdfsig ends well also where it signed nothing (a key NSS does not know).
  if (FILE* written = std::fopen(out.c_str(), "rb")) {
    std::fclose(written);
  } else {
    fail("pdfsig wrote no document with the key of " + signer);
  }
}

std::string signWithOpensslCms(const std::string& path, const std::string& field, const testpki::Kit& kit,
                               const std::string& signer, const std::vector<std::string>& options) {
  const std::string rangesFile = path + ".ranges", valueFile = path + ".p7s";
  writeFile(rangesFile, prepareSignature(path, field));
  std::vector<std::string> command{"openssl",          "cms",       "-sign",     "-binary",
                                   "-nosmimecap",      "-outform",  "DER",       "-in",
                                   rangesFile,         "-out",      valueFile,   "-signer",
                                   kit.path(signer + ".pem"), "-inkey", kit.path(signer + ".key"), "-certfile",
                                   kit.path("int.pem")};
  command.insert(command.end(), options.begin(), options.end());
  runCommand(command);
  const std::string value = readFile(valueFile);
  std::remove(rangesFile.c_str());
  std::remove(valueFile.c_str());
  writeSignatureValue(path, field, value);
  return value;
}

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

void writeDocument(const DocumentPlan& plan, const std::string& path) {
  QPDF pdf;
  pdf.emptyPDF();
  Obj root = pdf.getRoot();
  Obj fonts = Obj::newDictionary();
  for (size_t i = 0; i < plan.fonts.size(); ++i) {
    fonts.replaceKey("/F" + std::to_string(i + 1), fontObject(pdf, plan.fonts[i]));
  }
  Obj kids = Obj::newArray();
  Obj pagesNode = root.getKey("/Pages");
  std::vector<Obj> pages;
  for (int i = 0; i < plan.pages; ++i) {
    Obj page = Obj::newDictionary();
    page.replaceKey("/Type", Obj::newName("/Page"));
    page.replaceKey("/Parent", pagesNode);
    page.replaceKey("/MediaBox", Obj::parse("[0 0 612 792]"));
    Obj resources = Obj::newDictionary();
    if (i == 0 && !plan.fonts.empty()) resources.replaceKey("/Font", fonts);
    std::string content = i == 0 ? contentStream(plan) : "BT ET\n";
    if (plan.imageBytes > 0) {
      Obj xobjects = Obj::newDictionary();
      xobjects.replaceKey("/Im1", noiseImage(pdf, plan.imageBytes, static_cast<uint32_t>(i)));
      resources.replaceKey("/XObject", xobjects);
      content += "q 612 0 0 792 0 0 cm /Im1 Do Q\n";
    }
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", Obj::newStream(&pdf, content));
    pages.push_back(pdf.makeIndirectObject(page));
    kids.appendItem(pages.back());
  }
  pagesNode.replaceKey("/Kids", kids);
  pagesNode.replaceKey("/Count", Obj::newInteger(plan.pages));
  if (!plan.catalogVersion.empty()) root.replaceKey("/Version", Obj::newName("/" + plan.catalogVersion));

  Obj annots = Obj::newArray();
  if (!plan.signatures.empty()) {
    Obj fields = Obj::newArray();
    for (const SignatureFieldPlan& s : plan.signatures) {
      Obj field = Obj::newDictionary();
      field.replaceKey("/FT", Obj::newName("/Sig"));
      field.replaceKey("/T", Obj::newUnicodeString(s.name));
      field.replaceKey("/Type", Obj::newName("/Annot"));
      field.replaceKey("/Subtype", Obj::newName("/Widget"));
      field.replaceKey("/Rect", Obj::parse("[0 0 0 0]"));
      field.replaceKey("/F", Obj::newInteger(132));
      if (!pages.empty()) field.replaceKey("/P", pages.front());
      if (s.withValue) field.replaceKey("/V", pdf.makeIndirectObject(signatureDictionary(s, &pdf)));
      Obj f = pdf.makeIndirectObject(field);
      fields.appendItem(f);
      annots.appendItem(f);
    }
    Obj form = Obj::newDictionary();
    form.replaceKey("/Fields", fields);
    form.replaceKey("/SigFlags", Obj::newInteger(3));
    root.replaceKey("/AcroForm", form);
  }
  if (plan.linkAnnotation) {
    annots.appendItem(pdf.makeIndirectObject(Obj::parse(
        "<< /Type /Annot /Subtype /Link /Rect [72 72 144 144] "
        "/A << /S /URI /URI (http://127.0.0.1/) >> >>")));
  }
  if (plan.javaScriptOpenAction) {
    root.replaceKey("/OpenAction", Obj::parse("<< /S /JavaScript /JS (app.alert\\('x'\\);) >>"));
  }
  if (!pages.empty() && annots.getArrayNItems() > 0) pages.front().replaceKey("/Annots", annots);

  QPDFWriter writer(pdf, path.c_str());
  writer.setObjectStreamMode(qpdf_o_disable);
  writer.setCompressStreams(false);
  writer.setDeterministicID(true);
  writer.setMinimumPDFVersion(plan.headerVersion);
  writer.forcePDFVersion(plan.headerVersion);
  writer.write();
}

std::string prepareSignature(const std::string& path, const std::string& field) {
  std::string bytes = readFile(path);
  Placeholder ph = placeholderOf(path, field, bytes);
  std::string range = "[0 " + std::to_string(ph.lt) + " " + std::to_string(ph.gt) + " " +
                      std::to_string(bytes.size() - ph.gt) + "]";
  size_t width = ph.rangeClose + 1 - ph.rangeOpen;
  if (range.size() > width) fail("byte range does not fit");
  range.append(width - range.size(), ' ');
  bytes.replace(ph.rangeOpen, width, range);
  writeFile(path, bytes);
  return bytes.substr(0, ph.lt) + bytes.substr(ph.gt);
}

void writeSignatureValue(const std::string& path, const std::string& field, const std::string& value,
                         bool upperCaseHex) {
  std::string bytes = readFile(path);
  Placeholder ph = placeholderOf(path, field, bytes);
  static const char lower[] = "0123456789abcdef", upper[] = "0123456789ABCDEF";
  const char* digits = upperCaseHex ? upper : lower;
  std::string hex;
  for (unsigned char c : value) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  if (hex.size() > ph.gt - ph.lt - 2) fail("signature value does not fit its placeholder");
  bytes.replace(ph.lt + 1, hex.size(), hex);
  writeFile(path, bytes);
}

std::string sign(const std::string& path, const std::string& field, const SignOptions& options) {
  std::string subFilter;
  placeholderOf(path, field, readFile(path), &subFilter);
  const std::string ranges = prepareSignature(path, field);
  const testpki::Kit& kit = options.kit ? *options.kit : testpki::Kit::standard();
  auto kitSign = [&](const std::string& form, const std::string& data, std::vector<std::string> args) {
    testpki::Bytes out = kit.sign(form, options.signer, testpki::Bytes(data.begin(), data.end()), args);
    return std::string(out.begin(), out.end());
  };
  std::vector<std::string> p7args{"--md", options.digest};
  if (!options.signedAttributes) p7args.push_back("--noattr");
  std::string value;
  if (subFilter == "/adbe.pkcs7.sha1") {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(ranges.data()), ranges.size(), digest);
    value = kitSign("p7-enveloping", std::string(reinterpret_cast<char*>(digest), sizeof digest), p7args);
  } else if (subFilter == "/adbe.x509.rsa_sha1") {
    bool ec = options.signer.size() > 1 && options.signer[0] == 'p' && std::isdigit(options.signer[1]);
    std::string raw = kitSign(ec ? "rs" : "pkcs1", ranges, {"--md", "sha1"});
    value = std::string("\x04\x81") + static_cast<char>(raw.size()) + raw + std::string(128, '\0');
  } else {
    value = kitSign("p7-detached", ranges, p7args);
  }
  writeSignatureValue(path, field, value, options.upperCaseHex);
  return value;
}

std::string rawSignature(const std::string& value) {
  if (value.size() < 131) fail("not a value of the plug-in's format");
  return value.substr(3, value.size() - 131);
}

void appendSignatureField(const std::string& path, const SignatureFieldPlan& plan) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj trailer = pdf.getTrailer();
  int size = static_cast<int>(trailer.getKey("/Size").getIntValue());
  int sigId = size, fieldId = size + 1;
  Obj root = pdf.getRoot();
  // The first page by /Kids[0] from the root, so that a damaged page tree (a /Kids cycle)
  // still takes a signature.
  Obj page = root.getKey("/Pages");
  for (int depth = 0; depth < 64 && page.isDictionary() && page.getKey("/Type").isNameAndEquals("/Pages"); ++depth) {
    page = page.getKey("/Kids").isArray() ? page.getKey("/Kids").getArrayItem(0) : Obj::newNull();
  }
  if (!page.isDictionary() || !page.isIndirect()) fail("no first page");
  auto ref = [](int id) { return std::to_string(id) + " 0 R"; };
  // A dictionary's text with one array key extended by a reference.
  auto withAppended = [&](Obj dict, const std::string& key, const std::string& extra) {
    std::string text = "<<";
    bool seen = false;
    for (const std::string& k : dict.getKeys()) {
      Obj value = dict.getKey(k);
      if (k == key && value.isArray()) {
        text += " " + k + " [";
        for (Obj item : value.getArrayAsVector()) text += " " + item.unparse();
        text += " " + extra + " ]";
        seen = true;
      } else {
        text += " " + k + " " + value.unparse();
      }
    }
    if (!seen) text += " " + key + " [ " + extra + " ]";
    return text + " >>";
  };
  Obj form = root.getKey("/AcroForm");
  std::string formText = form.isDictionary() ? withAppended(form, "/Fields", ref(fieldId))
                                             : "<< /Fields [ " + ref(fieldId) + " ] /SigFlags 3 >>";
  std::string rootText = "<<";
  for (const std::string& k : root.getKeys()) {
    if (k != "/AcroForm") rootText += " " + k + " " + root.getKey(k).unparse();
  }
  rootText += " /AcroForm " + formText + " >>";
  std::string fieldText = "<< /FT /Sig /T " + Obj::newUnicodeString(plan.name).unparse() +
                          " /Type /Annot /Subtype /Widget /Rect [ 0 0 0 0 ] /F 132 /P " +
                          ref(page.getObjectID()) + (plan.withValue ? " /V " + ref(sigId) : "") + " >>";
  std::vector<std::pair<int, std::string>> objects = {
      {root.getObjectID(), rootText},
      {page.getObjectID(), withAppended(page, "/Annots", ref(fieldId))},
      {sigId, signatureDictionary(plan).unparse()},
      {fieldId, fieldText}};

  appendObjects(path, objects, fieldId + 1);
}

void appendObjects(const std::string& path, std::vector<std::pair<int, std::string>> objects, int size) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  const std::string bytes = readFile(path);
  Obj trailer = pdf.getTrailer();
  size = std::max(size, static_cast<int>(trailer.getKey("/Size").getIntValue()));
  for (const auto& object : objects) size = std::max(size, object.first + 1);
  size_t prev = bytes.rfind("startxref");
  if (prev == std::string::npos) fail("no startxref");
  long prevXref = std::strtol(bytes.c_str() + prev + 9, nullptr, 10);
  std::string update = bytes.back() == '\n' ? "" : "\n";
  std::vector<std::pair<int, size_t>> offsets;
  for (auto& [id, text] : objects) {
    offsets.emplace_back(id, bytes.size() + update.size());
    update += std::to_string(id) + " 0 obj\n" + text + "\nendobj\n";
  }
  size_t xref = bytes.size() + update.size();
  update += "xref\n";
  std::sort(offsets.begin(), offsets.end());
  for (auto& [id, offset] : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    update += std::to_string(id) + " 1\n" + line;
  }
  update += "trailer\n<< /Size " + std::to_string(size) + " /Root " + pdf.getRoot().unparse() +
            (trailer.hasKey("/ID") ? " /ID " + trailer.getKey("/ID").unparse() : std::string()) +
            " /Prev " + std::to_string(prevXref) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  writeFile(path, bytes + update);
}

namespace {

// The text of a field's signature dictionary with /M and the metadata version replaced.
std::string alteredSignatureDictionary(QPDF& pdf, const std::string& field, const std::string& signingTime,
                                       const std::string& metadataVersion, int* id) {
  Obj v = fieldNamed(pdf, field).getKey("/V");
  if (!v.isIndirect()) fail("field " + field + " has no signature dictionary");
  if (id != nullptr) *id = v.getObjectID();
  Obj copy = v.shallowCopy();
  if (!signingTime.empty()) copy.replaceKey("/M", Obj::newString(signingTime));
  if (!metadataVersion.empty()) {
    Obj filter = Obj::newDictionary();
    filter.replaceKey("/Name", Obj::newName("/Dor:valin"));
    filter.replaceKey("/Metadata", Obj::newString("<Dorvalin><Version>" + metadataVersion + "</Version></Dorvalin>"));
    Obj build = Obj::newDictionary();
    build.replaceKey("/Filter", filter);
    copy.replaceKey("/Prop_Build", build);
  }
  return copy.unparse();
}

}  // namespace

void redefineSignatureDictionary(const std::string& path, const std::string& field, const std::string& signingTime,
                                 const std::string& metadataVersion) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  int id = 0;
  const std::string text = alteredSignatureDictionary(pdf, field, signingTime, metadataVersion, &id);
  appendObjects(path, {{id, text}});
}

void wrapSignature(const std::string& path, const std::string& field, std::vector<std::pair<int, std::string>> objects) {
  std::string bytes = readFile(path);
  int id = 0;
  std::string text;
  std::vector<long long> range;
  {
    QPDF pdf;
    pdf.processFile(path.c_str());
    Obj v = fieldNamed(pdf, field).getKey("/V");
    if (!v.isIndirect()) fail("field " + field + " has no signature dictionary");
    id = v.getObjectID();
    for (Obj n : v.getKey("/ByteRange").getArrayAsVector()) range.push_back(n.getIntValue());
    if (range.size() != 4) fail("field " + field + " has no byte range of two ranges");
    // The filler ends in ">", as the gap must, and makes the gap's length even.
    std::string filler = "\n%>";
    if ((bytes.size() + filler.size() - static_cast<size_t>(range[1])) % 2 != 0) filler = "\n% >";
    const long long moved = static_cast<long long>(bytes.size() + filler.size());
    std::string contents = v.getKey("/Contents").getStringValue();
    contents.resize(static_cast<size_t>(moved - range[1] - 2) / 2, '\0');
    Obj copy = v.shallowCopy();
    copy.replaceKey("/ByteRange", Obj::parse("[ 0 " + std::to_string(range[1]) + " " + std::to_string(moved) + " " +
                                             std::to_string(range[3]) + " ]"));
    copy.replaceKey("/Contents", Obj::newString(contents));
    text = copy.unparse();
    bytes += filler + bytes.substr(static_cast<size_t>(range[2]), static_cast<size_t>(range[3]));
  }
  writeFile(path, bytes);
  objects.insert(objects.begin(), {id, text});
  appendObjects(path, objects);
}

void appendDecoyField(const std::string& path, const std::string& field, const std::string& decoy,
                      const std::string& signingTime, const std::string& metadataVersion) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  const std::string text = alteredSignatureDictionary(pdf, field, signingTime, metadataVersion, nullptr);
  const int size = static_cast<int>(pdf.getTrailer().getKey("/Size").getIntValue());
  const int sigId = size, fieldId = size + 1;
  const std::string fieldRef = std::to_string(fieldId) + " 0 R";
  Obj root = pdf.getRoot();
  QPDFObjectHandle page = pdf.getAllPages().at(0);
  std::string fields = "[ " + fieldRef;
  for (Obj f : root.getKey("/AcroForm").getKey("/Fields").getArrayAsVector()) fields += " " + f.unparse();
  std::string formText = "<< /Fields " + fields + " ] /SigFlags 3 >>";
  std::string rootText = "<<";
  for (const std::string& k : root.getKeys()) {
    if (k != "/AcroForm") rootText += " " + k + " " + root.getKey(k).unparse();
  }
  rootText += " /AcroForm " + formText + " >>";
  std::string pageText = "<<";
  for (const std::string& k : page.getKeys()) {
    if (k != "/Annots") pageText += " " + k + " " + page.getKey(k).unparse();
  }
  std::string annots = "[ " + fieldRef;
  if (page.getKey("/Annots").isArray()) {
    for (Obj a : page.getKey("/Annots").getArrayAsVector()) annots += " " + a.unparse();
  }
  pageText += " /Annots " + annots + " ] >>";
  const std::string fieldText = "<< /FT /Sig /T " + Obj::newUnicodeString(decoy).unparse() +
                                " /Type /Annot /Subtype /Widget /Rect [ 0 0 0 0 ] /F 132 /P " +
                                std::to_string(page.getObjectID()) + " 0 R /V " + std::to_string(sigId) + " 0 R >>";
  appendObjects(path,
                {{root.getObjectID(), rootText}, {page.getObjectID(), pageText}, {sigId, text}, {fieldId, fieldText}},
                fieldId + 1);
}

void damageByteRange(const std::string& path, const std::string& field, const std::string& how) {
  std::vector<long long> br = byteRange(path, field);
  if (br.size() != 4) fail("no byte range");
  const std::string a = std::to_string(br[1]), b = std::to_string(br[2]), c = std::to_string(br[3]);
  std::string text;
  if (how == "text") {
    text = "[0 /" + a + " " + b + " " + c + "]";
  } else if (how == "short") {
    text = "[0 " + a + " " + std::to_string(br[2] - 1) + " " + std::to_string(br[3] + 1) + "]";
  } else if (how == "huge") {
    text = "[0 " + a + " " + b + " 9999999999]";
  } else {
    fail("unknown damage " + how);
  }
  replaceInPlace(path, field, "/ByteRange", text);
}

void replaceInPlace(const std::string& path, const std::string& field, const std::string& key,
                    const std::string& text) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj v = fieldNamed(pdf, field).getKey("/V");
  if (!v.isIndirect()) fail("field " + field + " has no signature dictionary");
  std::string bytes = readFile(path);
  Placeholder ph = locate(bytes, v.getObjectID(), v.getGeneration());
  size_t at = 0, width = 0;
  if (key == "/ByteRange") {
    at = ph.rangeOpen;
    width = ph.rangeClose + 1 - ph.rangeOpen;
  } else if (key == "/Contents") {
    at = ph.lt;
    width = ph.gt - ph.lt;
  } else {
    fail("no in-place value " + key);
  }
  if (text.size() > width) fail(key + " replacement does not fit");
  bytes.replace(at, width, text + std::string(width - text.size(), ' '));
  writeFile(path, bytes);
}

std::vector<long long> byteRange(const std::string& path, const std::string& field) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  Obj br = fieldNamed(pdf, field).getKey("/V").getKey("/ByteRange");
  std::vector<long long> out;
  if (br.isArray()) {
    for (Obj item : br.getArrayAsVector()) {
      if (!item.isInteger()) fail("byte range holds a non-integer");
      out.push_back(item.getIntValue());
    }
  }
  return out;
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
