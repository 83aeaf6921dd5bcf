// Tolmira verifying signed PDFs end to end: the real module in the test viewer, fixtures
// signed by the test PKI kit, the certificate checked against the viewer's trusted list or
// the platform's Root store, with an OCSP responder, a CRL server and proxies on
// 127.0.0.1, and pdfsig as the peer that must agree on which signatures are intact.
// Each row of the table runs in a viewer process of its own, as a user's session: the
// plug-in reads its settings when it is loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>

#include "Fixtures.h"
#include "LoopbackServer.h"
#include "NetworkTestSupport.h"
#include "TestFiles.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "platform/machine.h"
#include "platform/window_test.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace wt = platform::wintest;

namespace {

// The texts of a panel as one string, for messages.
std::string panel(const vhost::SignatureResult& r) {
  std::string all;
  for (const std::string& t : r.texts) all += t + " | ";
  return all;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One row's viewer session, as the child process reports it to the test.
struct Session {
  vhost::SignatureResult result;  // of the row's field, "Signature1"
  size_t index = 0;               // its place among the document's signatures
  // The document's other signatures (a decoy's): "id" and the viewer's coverage of each.
  std::vector<std::pair<ASInt32, vhost::Coverage>> others;
  bool dialogShown = false;   // the validation-time dialog appeared
  int liveCallbacks = -1;     // after the unload
  bool threadsEnded = false;  // no progress thread outlived the verification
  bool windowsEnded = false;  // no window of it stayed
};

// A value on one line: backslashes, line feeds and carriage returns escaped.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[++i];
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += text[i];
    }
  }
  return out;
}

void writeSession(const std::string& path, const Session& s) {
  std::ofstream out(path);
  const vhost::SignatureResult& r = s.result;
  out << "returned=" << r.returned << "\ndigest=" << r.digest << "\ntrustFlags=" << r.trustFlags << "\nid=" << r.id
      << "\nerror=" << escaped(r.error) << "\nexception=" << escaped(r.exception) << "\ndialog=" << s.dialogShown
      << "\nlive=" << s.liveCallbacks
      << "\nthreads=" << s.threadsEnded << "\nwindows=" << s.windowsEnded
      << "\ncoverage=" << static_cast<int>(r.coverage) << "\nindex=" << s.index << "\n";
  for (const auto& [id, coverage] : s.others) out << "other=" << id << "," << static_cast<int>(coverage) << "\n";
  for (const std::string& t : r.texts) out << "text=" << escaped(t) << "\n";
  for (const auto& [key, value] : r.strings) out << "string=" << key << "=" << escaped(value) << "\n";
}

bool readSession(const std::string& path, Session& s) {
  std::ifstream in(path);
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    any = true;
    if (key == "returned")
      s.result.returned = std::stoi(value);
    else if (key == "digest")
      s.result.digest = std::stoi(value);
    else if (key == "trustFlags")
      s.result.trustFlags = std::stoi(value);
    else if (key == "id")
      s.result.id = std::stoi(value);
    else if (key == "error")
      s.result.error = unescaped(value);
    else if (key == "exception")
      s.result.exception = unescaped(value);
    else if (key == "dialog")
      s.dialogShown = value == "1";
    else if (key == "live")
      s.liveCallbacks = std::stoi(value);
    else if (key == "threads")
      s.threadsEnded = value == "1";
    else if (key == "windows")
      s.windowsEnded = value == "1";
    else if (key == "coverage")
      s.result.coverage = static_cast<vhost::Coverage>(std::stoi(value));
    else if (key == "index")
      s.index = std::stoul(value);
    else if (key == "other")
      s.others.emplace_back(std::stoi(value), static_cast<vhost::Coverage>(std::stoi(value.substr(value.find(',') + 1))));
    else if (key == "text")
      s.result.texts.push_back(unescaped(value));
    else if (key == "string") {
      const size_t second = value.find('=');
      s.result.strings[value.substr(0, second)] = unescaped(value.substr(second + 1));
    }
  }
  return any;
}

// Answers the validation-time dialog as the row says: "ok" keeps what it offers, "actual"
// and "signing" choose that time, "user:YYYY-MM-DD" a time of the user's own. The progress
// dialog, which also comes through here, is passed over.
void answerValidationTimeDialog(const std::string& answer, bool* shown) {
  wt::onNextDialog([answer, shown](HWND d) {
    if (GetDlgItem(d, 1121) == nullptr) {
      answerValidationTimeDialog(answer, shown);
      return;
    }
    *shown = true;
    auto pick = [d](int id, const std::string& value) {
      const int count = static_cast<int>(SendDlgItemMessageA(d, id, CB_GETCOUNT, 0, 0));
      for (int i = 0; i < count; ++i) {
        char t[16] = {0};
        SendDlgItemMessageA(d, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
        if (value == t) return wt::pickListRow(d, id, i);
      }
      return false;
    };
    if (answer == "actual") wt::pressButton(d, 1121);
    if (answer == "signing") wt::pressButton(d, 1122);
    if (answer.rfind("user:", 0) == 0) {
      wt::pressButton(d, 1123);
      pick(1124, answer.substr(5, 4));
      pick(1126, answer.substr(10, 2));
      pick(1128, answer.substr(13, 2));
    }
    wt::pressButton(d, IDOK);
  });
}

// The viewer session of one row: args are the document, the session file, product,
// major version, the answer to the validation-time dialog ("" for none) and the files of
// the viewer's trusted certificates.
QUARVEL_CHILD(verify_row) {
  vhost::Config config;
  config.product = args.at(2);
  config.major = static_cast<ASInt16>(std::stoi(args.at(3)));
  for (size_t i = 5; i < args.size(); ++i) {
    const std::string der = pdffixtures::readFile(args[i]);
    config.trustedCerts.emplace_back(der.begin(), der.end());
  }
  Session session;
  // A dialog the row does not expect is answered too, so that it is seen, not waited for.
  // Two answers wait: the progress dialog, made on a thread of its own, takes one and
  // puts it back, and in between the validation-time dialog must still find one.
  for (int i = 0; i < 2; ++i) answerValidationTimeDialog(args.at(4).empty() ? "ok" : args.at(4), &session.dialogShown);
  const int threads = pdftest::threadCount();
  const size_t windows = wt::topLevelWindows().size();
  {
    vhost::Viewer viewer(pdftest::installedFor(config));
    if (!viewer.loadPlugin(TOLMIRA_PATH) || !viewer.openDocument(args.at(0))) return 2;
    std::vector<vhost::SignatureResult> results = viewer.validateSignatures();
    bool found = false;
    for (size_t i = 0; i < results.size(); ++i) {
      if (results[i].fieldName == "Signature1" && !found) {
        session.result = results[i];
        session.index = i;
        found = true;
      } else {
        session.others.emplace_back(results[i].id, results[i].coverage);
      }
    }
    if (!found) return 3;
    viewer.unloadPlugins();
    session.liveCallbacks = viewer.liveCallbacks();
  }
  session.threadsEnded = quarveltest::eventually([&] { return pdftest::threadCount() <= threads; });
  session.windowsEnded = wt::topLevelWindows().size() <= windows;
  writeSession(args.at(1), session);
  return 0;
}

// The text of the first child `name` of the kept result document; "<none>" without one.
std::string child(const std::string& xml, const std::string& name) {
  const size_t open = xml.find("<" + name + ">");
  if (open == std::string::npos) return "<none>";
  const size_t from = open + name.size() + 2;
  return xml.substr(from, xml.find("</" + name + ">", from) - from);
}

std::string decimal(uint32_t code) { return std::to_string(static_cast<int32_t>(code)); }

const char kSigningTime[] = "D:20240115103000+01'00'";  // the fixtures' /M
const char kBeforeRevocation[] = "D:20200301120000Z";   // before the responder's revocation date
const char kNow[] = "now";
const uint32_t kDigestMismatch = 0x80050001, kNewerSigner = 0x80000009;

enum class Doc { Intact, Tampered, OtherDocument };
// Who signed the row's document: the kit's own signing, poppler's pdfsig, openssl cms.
enum class Signer { Kit, Pdfsig, OpensslCms };
// What happened to the document after signing.
enum class Change {
  None,
  TimeRedefined,
  DecoyFirst,
  IndirectTimeChanged,
  BytesAfter,
  PageReplaced,
  RangeFromOne,
  Wrapped,
  PaddingDigits
};
enum class Proxy { None, Capture, Tiny, Down };

// One row: the signed document, the certificate's state at the services, where the root
// is trusted, the viewer and the settings; then what the user must get.
struct Case {
  explicit Case(const char* what) : what(what) {}
  Case& signedWith(const char* form, const char* entity) {
    subFilter = form;
    signer = entity;
    return *this;
  }
  Case& over(Doc d) {
    document = d;
    return *this;
  }
  Case& signingAt(const char* time) {
    signingTime = time;
    return *this;
  }
  Case& madeBy(const char* version) {
    metadata = version;
    return *this;
  }
  Case& ocspSays(char state) {
    ocsp = state;
    return *this;
  }
  Case& rogueResponder() {
    rogue = true;
    return *this;
  }
  Case& revokedInCrl() {
    crlRevoked = true;
    return *this;
  }
  Case& rootIn(bool cabinet, bool platformRootStore) {
    rootInCabinet = cabinet;
    rootInRootStore = platformRootStore;
    return *this;
  }
  Case& host(const char* name, int version) {
    product = name;
    major = version;
    return *this;
  }
  Case& validationOption(DWORD value, const char* answer = "") {
    option = value;
    dialog = answer;
    return *this;
  }
  Case& proxies(DWORD use, Proxy which) {
    useProxies = use;
    proxy = which;
    return *this;
  }
  Case& expect(ASInt32 flags, ASInt32 identity, uint32_t cert = 0, uint32_t sig = 0) {
    trustFlags = flags;
    id = identity;
    certValidation = cert;
    sigValidation = sig;
    return *this;
  }
  Case& expectTime(int used, const char* validationDate) {
    optionUsed = used;
    date = validationDate;
    return *this;
  }
  Case& fails() {
    returned = -2;
    return *this;
  }
  // The engine's text when it fails: the message of a checking-library code.
  Case& failsWith(const char* text) {
    returned = -2;
    reason = text;
    return *this;
  }
  // More options for openssl cms (Signer::OpensslCms).
  Case& cmsOptions(std::vector<std::string> options) {
    cms = std::move(options);
    return *this;
  }
  Case& signedBy(Signer who) {
    by = who;
    metadata = "";
    return *this;
  }
  // The change, and how much of the document the viewer then finds the signature covering.
  Case& changed(Change how, vhost::Coverage covering) {
    change = how;
    coverage = covering;
    return *this;
  }
  // pdfsig calls the signature broken although it is not (NSS knows no P-192 key).
  Case& pdfsigWrongOnTheValue() {
    pdfsigWrong = true;
    return *this;
  }

  const char* what;
  const char* subFilter = "adbe.pkcs7.detached";
  const char* signer = "rsa2048";
  Doc document = Doc::Intact;
  const char* signingTime = kSigningTime;  // "" none
  const char* metadata = "2.21.0000";
  char ocsp = 'V';          // the responder: 'V' good, 'R' revoked on 2020-06-01, 'U' unknown
  bool rogue = false;       // the responder signs with a key the issuer never delegated, and says good
  bool crlRevoked = false;  // the issuer's CRL lists the signer
  bool rootInCabinet = true, rootInRootStore = false;
  const char* product = "Exchange-Pro";
  int major = 10;
  DWORD option = 0;         // CertValidationOption
  const char* dialog = "";  // the answer in the validation-time dialog; "" none expected
  DWORD useProxies = 0;
  Proxy proxy = Proxy::None;
  Signer by = Signer::Kit;
  Change change = Change::None;
  vhost::Coverage coverage = vhost::Coverage::WholeDocument;
  bool pdfsigWrong = false;
  std::vector<std::string> cms;
  const char* reason = "";

  ASInt32 returned = 1, trustFlags = 0xFFFF, id = 4;
  uint32_t certValidation = 0, sigValidation = 0;
  int optionUsed = 0;
  const char* date = kSigningTime;  // the "Date" child; kNow: the current time
};

// The panel's first line for the cabinet's "id" (German, the viewer's language).
std::string statusLine(ASInt32 id) {
  switch (id) {
    case 1:
      return "Die Signatur wurde mit einer neueren Version von Dorvalin erstellt, und kann deshalb nicht geprüft "
             "werden.";
    case 2:
      return "Die Signatur ist nicht gültig.";
    case 3:
      return "Die Signatur ist gültig. Die Identität des Unterzeichners kann nicht bestätigt werden.";
    default:
      return "Die Signatur ist gültig. Die Identität des Unterzeichners ist bestätigt.";
  }
}

const char* optionLine(int option) {
  return option == 0   ? "Das Zertifikat wurde für den Zeitpunkt der Signaturerstellung geprüft."
         : option == 1 ? "Das Zertifikat wurde für den aktuellen Zeitpunkt geprüft."
                       : "Das Zertifikat wurde für einen vom Benutzer angegebenen Zeitpunkt geprüft.";
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ocsp = std::make_unique<certnet::OcspResponder>(certnet::OcspSettings());
    crls = std::make_unique<certnet::FileServer>();
    char temp[1024];
    GetTempPathA(sizeof temp, temp);
    kit = std::make_unique<testpki::Kit>(
        testpki::Kit::make(platform::mapPath(temp) + "kit", ocsp->port(), crls->port(), 1));
    settings.indexFile = kit->path("ocsp-index.txt");
    settings.issuerPem = certnet::readText(kit->path("int.pem"));
    settings.signerPem = certnet::readText(kit->path("ocsp.pem"));
    settings.signerKeyPem = certnet::readText(kit->path("ocsp.key"));
    setStatus("rsa2048", 'V');
    emptyCrl = certnet::readText(kit->path("int.crl"));
    crls->putFile("/int.crl", emptyCrl);
    crls->putFile("/root.crl", certnet::readText(kit->path("root.crl")));
    // The platform's chain engine finds the intermediate among the user's CA certificates.
    ASSERT_TRUE(certnet::addToUserStore("CA", kit->certificate("int")));
    threads = pdftest::threadCount();
  }
  void TearDown() override {
    EXPECT_TRUE(quarveltest::eventually([&] { return pdftest::threadCount() <= threads; })) << "no progress thread is left";
  }
  // The responder's database for the signer: valid, or revoked on 2020-06-01; 'U' knows
  // nothing of it.
  void setStatus(const std::string& entity, char state) { setStatuses({{entity, state}}); }
  void setStatuses(const std::vector<std::pair<std::string, char>>& entities) {
    std::ofstream index(settings.indexFile);
    for (const auto& [entity, state] : entities) {
      if (state == 'U') continue;
      index << state << "\t491231235959Z\t" << (state == 'R' ? "200601000000Z" : "") << "\t"
            << testpki::serialHex(kit->certificate(entity)) << "\tunknown\t/CN=" << entity << "\n";
    }
    index.close();
    ocsp->setSettings(settings);
  }
  // The issuer's CRL, empty or listing `noaia` (revoked with `openssl ca` once, on demand).
  void publishCrl(bool revoked) {
    if (revoked && revokedCrl.empty()) {
      const std::string command = "openssl ca -batch -config '" + kit->path("ca.cnf") + "' -name int -revoke '" +
                                  kit->path("noaia.pem") + "' >/dev/null 2>&1";
      ASSERT_EQ(0, std::system(command.c_str()));
      testpki::runMakePki({"crl", kit->dir()});
      revokedCrl = certnet::readText(kit->path("int.crl"));
    }
    crls->putFile("/int.crl", revoked ? revokedCrl : emptyCrl);
  }
  // The kit's root in the user's Root store of the platform, or not.
  void rootInRootStore(bool present) {
    std::remove((platform::machineRoot() + "/crypt/user/root.p7b").c_str());
    if (present) {
      ASSERT_TRUE(certnet::addToUserStore("Root", kit->certificate("root")));
    }
  }
  // A document of `pages` pages with one signed field, in the scratch folder.
  std::string signedDocument(const std::string& name, const std::string& subFilter = "adbe.pkcs7.detached",
                             const std::string& signer = "rsa2048", const std::string& metadata = "2.21.0000",
                             const std::string& signingTime = kSigningTime, int pages = 1,
                             bool indirectTime = false) {
    pdffixtures::DocumentPlan plan;
    plan.pages = pages;
    pdffixtures::SignatureFieldPlan field;
    field.indirectSigningTime = indirectTime;
    field.subFilter = subFilter;
    field.certSigner = signer;
    field.certKit = kit.get();
    field.metadataVersion = metadata;
    field.withSigningTime = !signingTime.empty();
    if (signingTime != kSigningTime && !signingTime.empty()) field.signingTimeObject = "(" + signingTime + ")";
    plan.signatures = {field};
    const std::string path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    pdffixtures::SignOptions options;
    options.signer = signer;
    options.kit = kit.get();
    if (subFilter != "adbe.pkcs7.detached") options.digest = "sha1";
    pdffixtures::sign(path, field.name, options);
    return path;
  }
  // The row's document: signed, then tampered, or carrying the signature value of another
  // document (two pages, signed by the same signer) in place of its own.
  // The NSS database of this test's kit for pdfsig, made on first use.
  const std::string& nssDatabase() {
    if (nss.empty()) nss = pdffixtures::makeNssDatabase(pdftest::scratch("nss"), *kit, {"rsa2048"});
    return nss;
  }
  // The row's document, signed by whom the row says: the kit, pdfsig adding its own field
  // "Signature1", or openssl cms into a placeholder labelled as other signers label theirs.
  std::string signedBy(const Case& c, const std::string& name) {
    if (c.by == Signer::Kit) {
      return signedDocument(name, c.subFilter, c.signer, c.metadata, c.signingTime, 1,
                            c.change == Change::IndirectTimeChanged);
    }
    const std::string path = pdftest::scratch(name);
    pdffixtures::DocumentPlan plan;
    if (c.by == Signer::Pdfsig) {
      const std::string plain = pdftest::scratch("plain-" + name);
      pdffixtures::writeDocument(plan, plain);
      pdffixtures::signWithPdfsig(nssDatabase(), c.signer, plain, path, "Signature1");
      return path;
    }
    pdffixtures::SignatureFieldPlan field;
    field.filter = "Adobe.PPKLite";
    field.metadataVersion = "";
    plan.signatures = {field};
    pdffixtures::writeDocument(plan, path);
    pdffixtures::signWithOpensslCms(path, field.name, *kit, c.signer, c.cms);
    return path;
  }
  // What happens to the signed document afterwards, each in an update or in place.
  static void change(Change how, const std::string& path) {
    switch (how) {
      case Change::None:
        break;
      case Change::TimeRedefined:
        pdffixtures::redefineSignatureDictionary(path, "Signature1", kBeforeRevocation, "3.0");
        break;
      case Change::DecoyFirst:
        pdffixtures::appendDecoyField(path, "Signature1", "Decoy", kBeforeRevocation, "3.0");
        break;
      case Change::IndirectTimeChanged: {
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle field = pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0);
        pdffixtures::appendObjects(path, {{field.getKey("/V").getKey("/M").getObjectID(), "(D:20200301120000Z)"}});
        break;
      }
      case Change::BytesAfter:
        pdffixtures::writeFile(path, pdffixtures::readFile(path) + "% appended after signing\n");
        break;
      case Change::PageReplaced: {
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle page = pdf.getAllPages().at(0);
        pdffixtures::appendObjects(path, {{page.getKey("/Contents").getObjectID(),
                                           "<< /Length 22 >>\nstream\nBT (Pay 1000000) Tj ET\nendstream"}});
        break;
      }
      case Change::Wrapped: {
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle page = pdf.getAllPages().at(0);
        const int contents = page.getKey("/Contents").getObjectID();
        pdffixtures::wrapSignature(path, "Signature1",
                                   {{contents, "<< /Length 22 >>\nstream\nBT (Pay 1000000) Tj ET\nendstream"}});
        break;
      }
      case Change::PaddingDigits: {
        // Other hex digits in place of the zeros behind the value: unsigned, and no part of it.
        const std::vector<long long> r = pdffixtures::byteRange(path, "Signature1");
        std::string bytes = pdffixtures::readFile(path);
        bytes.replace(static_cast<size_t>(r[2]) - 9, 8, "DEADBEEF");
        pdffixtures::writeFile(path, bytes);
        break;
      }
      case Change::RangeFromOne: {
        const std::vector<long long> r = pdffixtures::byteRange(path, "Signature1");
        pdffixtures::replaceInPlace(path, "Signature1", "/ByteRange",
                                    "[1 " + std::to_string(r[1] - 1) + " " + std::to_string(r[2]) + " " +
                                        std::to_string(r[3]) + "]");
        break;
      }
    }
  }
  std::string rowDocument(const Case& c, const std::string& name) {
    std::string path = signedBy(c, name);
    if (c.document == Doc::Tampered) pdffixtures::flipByte(path, 11);  // in the binary comment after the header
    if (c.document == Doc::OtherDocument) {
      const std::string other = signedDocument("other-" + name, c.subFilter, c.signer, c.metadata, c.signingTime, 2);
      const std::vector<long long> mine = pdffixtures::byteRange(path, "Signature1");
      const std::vector<long long> theirs = pdffixtures::byteRange(other, "Signature1");
      EXPECT_EQ(mine[2] - mine[1], theirs[2] - theirs[1]) << "placeholders of one size";
      std::string bytes = pdffixtures::readFile(path);
      bytes.replace(static_cast<size_t>(mine[1]), static_cast<size_t>(mine[2] - mine[1]),
                    pdffixtures::readFile(other).substr(static_cast<size_t>(theirs[1]),
                                                        static_cast<size_t>(theirs[2] - theirs[1])));
      pdffixtures::writeFile(path, bytes);
    }
    change(c.change, path);
    return path;
  }
  // The plug-in's settings in the user's registry, read when the next viewer loads it.
  static void writeSetting(const char* name, DWORD value) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, pdftest::kTolmiraKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
  }
  static void writeSetting(const char* name, const std::string& text) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, pdftest::kTolmiraKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }
  // Runs one viewer session over the document in a process of its own.
  Session session(const Case& c, const std::string& document) {
    const std::string file = pdftest::scratch("session.txt");
    std::remove(file.c_str());
    std::vector<std::string> args{document, file, c.product, std::to_string(c.major), c.dialog};
    if (c.rootInCabinet) args.push_back(kit->path("root.der"));
    args.push_back(kit->path("int.der"));
    Session s;
    EXPECT_EQ(quarveltest::runChild("verify_row", args), 0) << "the viewer session ran";
    EXPECT_TRUE(readSession(file, s));
    return s;
  }
  vhost::Config config(int major = 10) {
    vhost::Config c;
    c.major = static_cast<ASInt16>(major);
    c.trustedCerts = {toVector(kit->certificate("root")), toVector(kit->certificate("int"))};
    return pdftest::installedFor(c);
  }
  static std::vector<uint8_t> toVector(const testpki::Bytes& b) { return std::vector<uint8_t>(b.begin(), b.end()); }
  std::vector<vhost::SignatureResult> verify(const vhost::Config& c, const std::string& path) {
    vhost::Viewer viewer(c);
    EXPECT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
    EXPECT_TRUE(viewer.openDocument(path)) << viewer.error();
    std::vector<vhost::SignatureResult> results = viewer.validateSignatures();
    viewer.unloadPlugins();
    EXPECT_EQ(viewer.liveCallbacks(), 0);
    return results;
  }
  // pdfsig's verdict per signature: true for an intact one.
  static std::vector<bool> pdfsigIntact(const std::string& path) {
    std::vector<bool> intact;
    for (const pdftest::PdfsigVerdict& v : pdftest::pdfsig(path)) intact.push_back(v.intact);
    return intact;
  }

  std::unique_ptr<certnet::OcspResponder> ocsp;
  std::unique_ptr<certnet::FileServer> crls;
  std::unique_ptr<testpki::Kit> kit;
  certnet::OcspSettings settings;
  std::string emptyCrl, revokedCrl;
  std::string nss;
  int threads = 0;
};

TEST_F(EndToEnd, FixturesAgainstTheLocalServices) {
  const uint32_t kOcspRevoked = 0x80070014, kOcspUnknown = 0x80070015, kResponderNotAuthorised = 0x8007000F,
                 kNoOcspAddress = 0x80070022, kProxyRefused = 0x80070016, kIssuerUnknown = 0x8003000D,
                 kUntrustedRoot = 0x80030006, kCrlRevoked = 0x8003000B, kExpired = 0x8004000B,
                 kNotForSigning = 0x80040004, kNotValidForUsage = 0x80030008, kUnknownCritical = 0x80040000,
                 kInvalidExtension = 0x8003000A, kRevocationUnknown = 0x8003000C;
  const char* const kDetached = "adbe.pkcs7.detached";
  const char* const kPkcs1 = "adbe.x509.rsa_sha1";
  const Case rows[] = {
      // The signature value and the document.
      Case("intact, good"),
      Case("intact, OCSP revoked").ocspSays('R').expect(0, 2, kOcspRevoked),
      Case("intact, unknown to the responder: counted as revoked").ocspSays('U').expect(0, 2, kOcspUnknown),
      Case("tampered, good").over(Doc::Tampered).expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("the signature of another document").over(Doc::OtherDocument).expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("embedded SHA-1, good").signedWith("adbe.pkcs7.sha1", "rsa2048"),
      Case("embedded SHA-1, tampered")
          .signedWith("adbe.pkcs7.sha1", "rsa2048")
          .over(Doc::Tampered)
          .expect(0xFFFF, 2, 0, kDigestMismatch),
      // The signing plug-in's own format, in each size it makes: 259, 323 and 179 bytes.
      Case("PKCS#1 RSA-1024, good").signedWith(kPkcs1, "rsa1024"),
      Case("PKCS#1 RSA-1536, good").signedWith(kPkcs1, "rsa1536"),
      Case("PKCS#1 P-192 r||s, good").signedWith(kPkcs1, "p192"),
      Case("PKCS#1 RSA-1024, tampered")
          .signedWith(kPkcs1, "rsa1024")
          .over(Doc::Tampered)
          .expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("PKCS#1 RSA-1536, tampered")
          .signedWith(kPkcs1, "rsa1536")
          .over(Doc::Tampered)
          .expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("PKCS#1 P-192 r||s, tampered")
          .signedWith(kPkcs1, "p192")
          .over(Doc::Tampered)
          .expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("PKCS#1 RSA-1024, another document's value")
          .signedWith(kPkcs1, "rsa1024")
          .over(Doc::OtherDocument)
          .expect(0xFFFF, 2, 0, kDigestMismatch),
      Case("PKCS#1 RSA-1024, OCSP revoked").signedWith(kPkcs1, "rsa1024").ocspSays('R').expect(0, 2, kOcspRevoked),
      Case("PKCS#1 RSA-2048: a size the plug-in never makes").signedWith(kPkcs1, "rsa2048").fails(),
      // The signer's certificate.
      Case("expired signer").signedWith(kDetached, "expired").expect(0, 2, kExpired),
      Case("unknown issuer").signedWith(kDetached, "nocdp").expect(0, 3, kIssuerUnknown),
      Case("root not trusted").rootIn(false, false).expect(0, 3, kIssuerUnknown),
      Case("a rogue responder says good").rogueResponder().expect(0xFFFF, 3, kResponderNotAuthorised),
      // Certificates not meant for signing, each signed by openssl cms into a placeholder:
      // never confirmed, on either road (host 9: the platform's chain).
      Case("a TLS server's certificate").signedBy(Signer::OpensslCms).signedWith(kDetached, "tls").expect(0, 3, kNotForSigning),
      Case("a TLS server's certificate, host 9")
          .signedBy(Signer::OpensslCms)
          .signedWith(kDetached, "tls")
          .host("Reader", 9)
          .rootIn(false, true)
          .expect(0, 3, kNotValidForUsage),
      // (The kit's own signing here: openssl cms takes no CA of the chain as the signer too.)
      Case("the intermediate CA's certificate").signedWith(kDetached, "int").expect(0, 3, kNotForSigning),
      Case("an unknown critical extension")
          .signedBy(Signer::OpensslCms)
          .signedWith(kDetached, "critext")
          .expect(0, 3, kUnknownCritical),
      Case("an unknown critical extension, host 9")
          .signedBy(Signer::OpensslCms)
          .signedWith(kDetached, "critext")
          .host("Reader", 9)
          .rootIn(false, true)
          .expect(0, 3, kInvalidExtension),
      Case("extendedKeyUsage documentSigning").signedBy(Signer::OpensslCms).signedWith(kDetached, "docsigner"),
      // A method the library does not support is an error with its text, never "nicht gültig".
      Case("RSA-PSS")
          .signedBy(Signer::OpensslCms)
          .cmsOptions({"-keyopt", "rsa_padding_mode:pss"})
          .failsWith("Die kryptographische Operation ist fehlgeschlagen."),
      // With proxies a distribution point without a URL leaves the status unknown, as without.
      Case("host 9, proxies, a distribution point without a URL")
          .host("Reader", 9)
          .rootIn(false, true)
          .signedWith(kDetached, "dpnourl")
          .proxies(1, Proxy::Down)
          .expect(0xFFFF, 3, kRevocationUnknown),
      Case("a rogue responder says good of a revoked one")
          .rogueResponder()
          .ocspSays('R')
          .expect(0xFFFF, 3, kResponderNotAuthorised),
      // The host: 9 validates through the platform's Root store, 10 and above against the
      // viewer's trusted certificates.
      Case("host 11, root only among the viewer's trusted").host("Reader", 11),
      Case("host 11, root only in the Root store").host("Reader", 11).rootIn(false, true).expect(0, 3, kIssuerUnknown),
      Case("host 9, root in the Root store").host("Reader", 9).rootIn(false, true),
      Case("host 9, root only among the viewer's trusted").host("Reader", 9).expect(0, 3, kUntrustedRoot),
      Case("host 9, CRL only, good").host("Reader", 9).rootIn(false, true).signedWith(kDetached, "noaia"),
      Case("host 9, CRL revoked")
          .host("Reader", 9)
          .rootIn(false, true)
          .signedWith(kDetached, "noaia")
          .revokedInCrl()
          .validationOption(1)
          .expect(0, 2, kCrlRevoked)
          .expectTime(1, kNow),
      Case("host 11, CRL only: no OCSP address")
          .host("Reader", 11)
          .signedWith(kDetached, "noaia")
          .expect(0xFFFF, 3, kNoOcspAddress),
      // The validation time: the certificate was revoked on 2020-06-01, signed before.
      Case("option 0: the signing time").signingAt(kBeforeRevocation).ocspSays('R').expectTime(0, kBeforeRevocation),
      Case("option 1: the current time")
          .signingAt(kBeforeRevocation)
          .ocspSays('R')
          .validationOption(1)
          .expect(0, 2, kOcspRevoked)
          .expectTime(1, kNow),
      Case("option 2: the user keeps the signing time")
          .signingAt(kBeforeRevocation)
          .ocspSays('R')
          .validationOption(2, "ok")
          .expectTime(0, kBeforeRevocation),
      Case("option 2: the user takes the current time")
          .signingAt(kBeforeRevocation)
          .ocspSays('R')
          .validationOption(2, "actual")
          .expect(0, 2, kOcspRevoked)
          .expectTime(1, kNow),
      Case("option 2: a time of the user's own")
          .ocspSays('R')
          .validationOption(2, "user:2020-04-01")
          .expectTime(2, "D:20200401"),
      Case("option 0 without a signing time: the dialog offers the current time")
          .signingAt("")
          .validationOption(0, "ok")
          .expectTime(1, kNow),
      // The signer's version.
      Case("made by version 3.0: newer").madeBy("3.0").expect(0xFFFF, 1, 0, kNewerSigner),
      Case("made by version 3.0, revoked: no trust flags")
          .madeBy("3.0")
          .ocspSays('R')
          .expect(0, 1, kOcspRevoked, kNewerSigner),
      Case("made by version 10.0: first characters compared, not newer").madeBy("10.0"),
      // Signers that are not ours. NSS knows no P-192 key: pdfsig calls the kit's P-192
      // signature broken, which it is not.
      Case("signed by pdfsig").signedBy(Signer::Pdfsig).expectTime(0, kNow),
      Case("signed by pdfsig, OCSP revoked").signedBy(Signer::Pdfsig).ocspSays('R').expect(0, 2, kOcspRevoked).expectTime(0, kNow),
      Case("openssl cms into a placeholder").signedBy(Signer::OpensslCms),
      Case("openssl cms into a placeholder, P-256").signedBy(Signer::OpensslCms).signedWith(kDetached, "p256"),
      Case("P-192 PKCS#7").signedWith(kDetached, "p192").pdfsigWrongOnTheValue(),
      // Written after signing. The signer was revoked on 2020-06-01 and signed later: a
      // signing time changed to before the revocation must not count.
      Case("an update redefines the signing time and the version")
          .ocspSays('R')
          .changed(Change::TimeRedefined, vhost::Coverage::EarlierRevision)
          .expect(0, 2, kOcspRevoked),
      Case("a decoy field placed first copies the value with an earlier time and a newer version")
          .ocspSays('R')
          .changed(Change::DecoyFirst, vhost::Coverage::EarlierRevision)
          .expect(0, 2, kOcspRevoked),
      Case("an indirect signing time changed in an update: no signing time")
          .ocspSays('R')
          .changed(Change::IndirectTimeChanged, vhost::Coverage::EarlierRevision)
          .validationOption(0, "ok")
          .expect(0, 2, kOcspRevoked)
          .expectTime(1, kNow),
      Case("bytes after the signed range").changed(Change::BytesAfter, vhost::Coverage::EarlierRevision),
      Case("an update replaces the page text").changed(Change::PageReplaced, vhost::Coverage::EarlierRevision),
      Case("the first range made to start at 1").changed(Change::RangeFromOne, vhost::Coverage::Partial).fails(),
      // Signature wrapping: the signed bytes verify where an update moved them, and the gap
      // hides the page text that update shows; pdfsig finds the value intact.
      Case("wrapped: an update moves the second range and replaces the page text")
          .changed(Change::Wrapped, vhost::Coverage::Partial)
          .fails(),
      Case("wrapped, by pdfsig").signedBy(Signer::Pdfsig).changed(Change::Wrapped, vhost::Coverage::Partial).fails(),
      // Data behind the value in /Contents: unsigned, though inside the string.
      Case("other digits in the padding of /Contents").changed(Change::PaddingDigits, vhost::Coverage::Partial).fails(),
      // Proxies.
      Case("through the capturing proxy").proxies(1, Proxy::Capture),
      Case("through tinyproxy").proxies(1, Proxy::Tiny),
      // Its code shares the bits of "revoked", yet a network fault revokes nothing.
      Case("a proxy that refuses").proxies(1, Proxy::Down).expect(0xFFFF, 3, kProxyRefused),
      Case("UseProxies 2: not used").proxies(2, Proxy::Down),
  };
  const int year = [] {
    const std::time_t now = std::time(nullptr);
    return std::localtime(&now)->tm_year + 1900;
  }();
  int index = 0;
  for (const Case& c : rows) {
    SCOPED_TRACE(c.what);
    const std::string name = "row" + std::to_string(index++) + ".pdf";
    // The services and the machine as the row needs them.
    setStatus(c.signer, c.ocsp);
    settings.signerPem = certnet::readText(kit->path(c.rogue ? "rogue.pem" : "ocsp.pem"));
    settings.signerKeyPem = certnet::readText(kit->path(c.rogue ? "rogue.key" : "ocsp.key"));
    settings.forceStatus = c.rogue ? V_OCSP_CERTSTATUS_GOOD : -1;
    ocsp->setSettings(settings);
    publishCrl(c.crlRevoked);
    rootInRootStore(c.rootInRootStore);
    std::unique_ptr<certnet::CaptureProxy> capture;
    std::unique_ptr<certnet::TinyProxy> tiny;
    int proxyPort = 1;  // nothing listens there
    if (c.proxy == Proxy::Capture) proxyPort = (capture = std::make_unique<certnet::CaptureProxy>())->port();
    if (c.proxy == Proxy::Tiny) proxyPort = (tiny = std::make_unique<certnet::TinyProxy>())->port();
    writeSetting("CertValidationOption", c.option);
    writeSetting("UseProxies", c.useProxies);
    writeSetting("HttpProxyAddr", std::string(c.proxy == Proxy::None ? "" : "127.0.0.1"));
    writeSetting("HttpProxyPort", static_cast<DWORD>(proxyPort));

    const std::string path = rowDocument(c, name);
    const Session s = session(c, path);
    const vhost::SignatureResult& r = s.result;
    const std::string all = panel(r);
    EXPECT_EQ(s.liveCallbacks, 0) << "unload destroys every callback";
    EXPECT_TRUE(s.threadsEnded) << "no progress thread is left";
    EXPECT_TRUE(s.windowsEnded) << "no window is left";
    EXPECT_EQ(s.dialogShown, c.dialog[0] != '\0') << "the validation-time dialog";
    EXPECT_EQ(r.returned, c.returned) << r.error << all;
    // Beside each verdict the viewer's coverage; no verdict of "valid and confirmed" stands
    // without it, a decoy's included.
    EXPECT_EQ(r.coverage, c.coverage) << vhost::coverageText(r.coverage);
    EXPECT_EQ(s.others.size(), c.change == Change::DecoyFirst ? 1u : 0u);
    for (const auto& [id, coverage] : s.others) {
      EXPECT_EQ(id, c.id) << "the decoy's verification reads the signed dictionary too";
      EXPECT_EQ(coverage, c.coverage);
    }
    if (c.subFilter != std::string(kPkcs1)) {
      const std::vector<pdftest::PdfsigVerdict> peer = pdftest::pdfsig(path);
      ASSERT_EQ(peer.size(), 1 + s.others.size());
      const pdftest::PdfsigVerdict& mine = peer.at(s.index);
      EXPECT_EQ(mine.intact, c.document == Doc::Intact && c.change != Change::RangeFromOne && !c.pdfsigWrong)
          << "pdfsig agrees on the value";
      // pdfsig looks only at the gap and where the second range ends, not at where the
      // first one starts.
      EXPECT_EQ(mine.total, c.coverage == vhost::Coverage::WholeDocument || c.change == Change::RangeFromOne)
          << "pdfsig agrees on the coverage";
    }
    if (c.returned != 1) {
      EXPECT_TRUE(has(r.exception, c.reason)) << r.exception;
      EXPECT_EQ(r.id, 0) << "the result cabinet stays empty";
      EXPECT_EQ(r.strings.count("VOQ_ValidationResult"), 0u);
      EXPECT_FALSE(has(all, "Die Signatur ist gültig.")) << all;
      continue;
    }
    EXPECT_EQ(r.digest, 7);
    EXPECT_EQ(r.trustFlags, c.trustFlags) << all;
    EXPECT_EQ(r.id, c.id) << all;
    // The result document the panel reads, kept with this signature's cabinet.
    const std::string xml = r.strings.count("VOQ_ValidationResult") ? r.strings.at("VOQ_ValidationResult") : "";
    EXPECT_EQ(child(xml, "CertValidation"), decimal(c.certValidation)) << xml;
    EXPECT_EQ(child(xml, "SigValidation"), decimal(c.sigValidation)) << xml;
    EXPECT_EQ(child(xml, "CertValidationOption"), std::to_string(c.optionUsed)) << xml;
    EXPECT_EQ(child(xml, "DocValResult"), "0") << xml;
    const std::string date = child(xml, "Date");
    const std::string expectedDate = c.date == std::string(kNow) ? "D:" + std::to_string(year) : c.date;
    EXPECT_EQ(date.rfind(expectedDate, 0), 0u) << date;
    // What the user reads: the verdict, the certificate's trouble when there is one, the
    // time the certificate was checked for.
    ASSERT_EQ(r.texts.size(), 11u);
    EXPECT_EQ(r.texts[2].rfind(statusLine(c.id), 0), 0u) << r.texts[2];
    EXPECT_EQ(r.texts[2] != statusLine(c.id), c.certValidation != 0) << r.texts[2];
    EXPECT_TRUE(has(r.texts[5], std::string(optionLine(c.optionUsed)) + " (" + date + ").")) << r.texts[5];
    EXPECT_TRUE(has(r.texts[5], "Das angezeigte Dokument enthält keine dynamischen Inhalte.")) << r.texts[5];
    if (c.proxy == Proxy::Capture) {
      const std::vector<certnet::Request> requests = capture->requests();
      ASSERT_FALSE(requests.empty()) << "the OCSP request went through the proxy";
      EXPECT_EQ(requests.back().target, ocsp->url("/"));
    }
  }
}

// The value of a field in the file made unreadable in place: its first bytes are no DER.
void spoilValue(const std::string& path, const std::string& field) {
  const std::vector<long long> range = pdffixtures::byteRange(path, field);
  std::string bytes = pdffixtures::readFile(path);
  bytes.replace(static_cast<size_t>(range[1]) + 1, 8, "DEADBEEF");
  pdffixtures::writeFile(path, bytes);
}

// Two signatures in one document, by different signers at different times, one of them
// broken. Each panel shows its own verification (its date, its certificate's outcome, its
// document check), also when the user opens it after the whole document was verified; a
// verification that failed shows nothing of any other, before or after it. pdfsig agrees
// on which signature is intact.
TEST_F(EndToEnd, TwoSignaturesEachShowTheirOwnDetails) {
  const uint32_t kExpired = 0x8004000B;
  const char* const kUncheckable =
      "Es konnte nicht festgestellt werden ob das angezeigte Dokument dynamische Inhalte enthält.";
  const char* const kNoDynamicContent = "Das angezeigte Dokument enthält keine dynamischen Inhalte.";
  const char* const kExpiredText = "Die Gültigkeit des Zertifikats war zum angegebenen Zeitpunkt abgelaufen.";
  enum class Broken { SecondTampered, SecondUnreadable, FirstUnreadable };
  struct Signature {
    const char* signer;
    const char* date;    // its /M
    ASInt32 returned, id;
    uint32_t cert;
  };
  struct Row {
    const char* what;
    Broken broken;
    int uncheckable;  // the verification (1 or 2) whose document check cannot finish; 0 none
    Signature first, second;
  };
  const Signature good{"rsa2048", "D:20240115103000+01'00'", 1, 4, 0};
  const Signature expiredTampered{"expired", "D:20250301090000Z", 1, 2, kExpired};
  const Signature unreadable{"rsa2048", "D:20250301090000Z", -2, 0, 0};
  const Signature unreadableFirst{"rsa2048", "D:20240115103000+01'00'", -2, 0, 0};
  const Signature goodSecond{"rsa1024", "D:20250301090000Z", 1, 4, 0};
  const Row rows[] = {
      {"intact, then tampered by an expired signer", Broken::SecondTampered, 0, good, expiredTampered},
      {"the second's document check cannot finish", Broken::SecondTampered, 2, good, expiredTampered},
      {"the first's document check cannot finish", Broken::SecondTampered, 1, good, expiredTampered},
      {"a failed verification after a good one", Broken::SecondUnreadable, 0, good, unreadable},
      {"a good verification after a failed one", Broken::FirstUnreadable, 0, unreadableFirst, goodSecond},
  };
  setStatuses({{"rsa2048", 'V'}, {"expired", 'V'}, {"rsa1024", 'V'}});
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = signedDocument("two-" + std::to_string(index++) + ".pdf", "adbe.pkcs7.detached",
                                            row.first.signer);
    if (row.broken == Broken::FirstUnreadable) spoilValue(path, "Signature1");
    pdffixtures::SignatureFieldPlan second;
    second.name = "Second";
    second.certKit = kit.get();
    second.signingTimeObject = std::string("(") + row.second.date + ")";
    pdffixtures::appendSignatureField(path, second);
    pdffixtures::SignOptions options;
    options.kit = kit.get();
    options.signer = row.second.signer;
    pdffixtures::sign(path, "Second", options);
    if (row.broken == Broken::SecondTampered) {
      const std::string bytes = pdffixtures::readFile(path);
      pdffixtures::flipByte(path, static_cast<long>(bytes.size()) - 40);  // in the second revision only
    }
    if (row.broken == Broken::SecondUnreadable) spoilValue(path, "Second");

    vhost::Config c = config();
    c.rereadPanels = true;
    if (row.uncheckable != 0) {
      // The consultant raises in the chosen verification only, counted from the viewer's start.
      const std::vector<vhost::SignatureResult> clean = verify(config(), path);
      ASSERT_EQ(clean.size(), 2u);
      const auto calls = clean[0].calls.find("ConsultantCreate");
      ASSERT_NE(calls, clean[0].calls.end());
      c.faults.push_back({"ConsultantCreate", row.uncheckable == 2 ? calls->second + 1 : 1, cosErrRead});
    }
    const std::vector<vhost::SignatureResult> results = verify(c, path);
    ASSERT_EQ(results.size(), 2u);
    const Signature* expected[2] = {&row.first, &row.second};
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i == 0 ? "first signature" : "second signature");
      const vhost::SignatureResult& r = results[i];
      const Signature& e = *expected[i];
      const Signature& other = *expected[1 - i];
      EXPECT_EQ(r.error, "");
      EXPECT_EQ(r.returned, e.returned) << r.exception;
      EXPECT_EQ(r.id, e.id) << panel(r);
      ASSERT_EQ(r.laterTexts, r.texts) << "read again after both verifications: " << panel(r);
      ASSERT_EQ(r.texts.size(), 11u);
      const std::string otherDate = std::string("(") + std::string(other.date).substr(0, 16);
      for (const std::string& text : r.texts) {
        EXPECT_FALSE(has(text, otherDate)) << "the other signature's date: " << text;
      }
      if (e.returned != 1) {
        EXPECT_FALSE(r.exception.empty());
        for (const std::string& text : r.texts) {
          EXPECT_FALSE(has(text, "D:20")) << "no date of any verification: " << text;
          EXPECT_FALSE(has(text, "Die Signatur ist gültig.")) << text;
          EXPECT_FALSE(has(text, kNoDynamicContent)) << text;
          EXPECT_FALSE(has(text, kExpiredText)) << text;
        }
        continue;
      }
      // The verdict with the certificate's trouble, the date it was checked for, the
      // document check's finding.
      EXPECT_EQ(r.texts[2], statusLine(e.id) + (e.cert == kExpired ? std::string(" ") + kExpiredText : ""));
      EXPECT_TRUE(has(r.texts[5], std::string(optionLine(0)) + " (" + std::string(e.date).substr(0, 16)))
          << r.texts[5];
      EXPECT_TRUE(has(r.texts[5], row.uncheckable == i + 1 ? kUncheckable : kNoDynamicContent)) << r.texts[5];
      const std::string xml = r.strings.count("VOQ_ValidationResult") ? r.strings.at("VOQ_ValidationResult") : "";
      EXPECT_EQ(child(xml, "CertValidation"), decimal(e.cert)) << xml;
      EXPECT_EQ(child(xml, "DocValResult"), row.uncheckable == i + 1 ? "3" : "0") << xml;
    }
    const std::vector<bool> peer = pdfsigIntact(path);
    ASSERT_EQ(peer.size(), 2u);
    EXPECT_EQ(peer[0], row.broken != Broken::FirstUnreadable);
    EXPECT_EQ(peer[1], row.broken == Broken::FirstUnreadable);
  }
}

// The viewer hands over a certificate other than the signer's (as a viewer that takes the
// first of the value's certificates would): the certificate validated is the one whose key
// verified the value, which the checking library hands back. For the plug-in's own
// format the value carries none, so the one handed over is the one it is verified with.
TEST_F(EndToEnd, TheCertificateValidatedIsTheOneThatVerifiedTheValue) {
  const uint32_t kExpired = 0x8004000B;
  struct Row {
    const char* what;
    const char* subFilter;
    const char* signer;
    const char* handedOver;  // the entity whose certificate the cabinet holds
    ASInt32 id;
    uint32_t cert, sig;
  };
  const Row rows[] = {
      {"signed by a good one, an expired one handed over", "adbe.pkcs7.detached", "rsa2048", "expired", 4, 0, 0},
      {"signed by an expired one, a good one handed over", "adbe.pkcs7.detached", "expired", "rsa2048", 2, kExpired, 0},
      {"signed by a good one, the intermediate handed over", "adbe.pkcs7.detached", "rsa2048", "int", 4, 0, 0},
      {"embedded SHA-1, an expired one handed over", "adbe.pkcs7.sha1", "rsa2048", "expired", 4, 0, 0},
      {"the plug-in's format, another key's certificate", "adbe.x509.rsa_sha1", "rsa1024", "rsa1024-noqc", 2, 0,
       0x80050001},
  };
  setStatuses({{"rsa2048", 'V'}, {"expired", 'V'}, {"rsa1024", 'V'}, {"rsa1024-noqc", 'V'}});
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path =
        signedDocument("handed-" + std::to_string(index++) + ".pdf", row.subFilter, row.signer);
    vhost::Config c = config();
    c.certificateInCabinet = toVector(kit->certificate(row.handedOver));
    const std::vector<vhost::SignatureResult> results = verify(c, path);
    ASSERT_EQ(results.size(), 1u);
    const vhost::SignatureResult& r = results[0];
    EXPECT_EQ(r.returned, 1) << r.exception;
    EXPECT_EQ(r.id, row.id) << panel(r);
    const std::string xml = r.strings.count("VOQ_ValidationResult") ? r.strings.at("VOQ_ValidationResult") : "";
    EXPECT_EQ(child(xml, "CertValidation"), decimal(row.cert)) << xml;
    EXPECT_EQ(child(xml, "SigValidation"), decimal(row.sig)) << xml;
  }
}

TEST_F(EndToEnd, AFailedVerificationAfterAGoodOneShowsNothingOfIt) {
  std::string good = signedDocument("good.pdf");
  std::string bad = signedDocument("bad.pdf");
  // A value that is no PKCS#7 at all: the checking library refuses it, the engine fails.
  std::string bytes = pdffixtures::readFile(bad);
  const size_t contents = bytes.find("/Contents <") + 11;
  bytes.replace(contents, 8, "DEADBEEF");
  pdffixtures::writeFile(bad, bytes);
  vhost::Viewer viewer(config());
  ASSERT_TRUE(viewer.loadPlugin(TOLMIRA_PATH)) << viewer.error();
  ASSERT_TRUE(viewer.openDocument(good));
  std::vector<vhost::SignatureResult> first = viewer.validateSignatures();
  ASSERT_TRUE(viewer.openDocument(bad));
  std::vector<vhost::SignatureResult> second = viewer.validateSignatures();
  viewer.unloadPlugins();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].id, 4);
  EXPECT_EQ(second[0].returned, -2);
  EXPECT_EQ(second[0].id, 0) << "the result cabinet stays empty";
  for (const std::string& text : second[0].texts) {
    EXPECT_FALSE(has(text, "Die Signatur ist gültig.")) << text;
    EXPECT_FALSE(has(text, "erfolgreich")) << text;
  }
}

}  // namespace
