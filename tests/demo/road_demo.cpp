// The system's main job as a user meets it, for `make demo`: sign on the card, then check.
// The card sits in the PIN-pad reader of the test bed's pcscd and carries a certificate
// of the test PKI (issued to its key, naming the demo's own OCSP responder). The tray
// program Quarvel runs with its Java VM and the stand-in Java application; the user hands
// a PDF to it with Tavrin, and others with the context menu (the shell host playing the
// shell for Menvaro.dll and, where it is built, Menvaro32.dll). Each PDF was prepared for
// a signature first: a signature field with a /Contents placeholder in an incremental
// update, its /ByteRange around the placeholder, and CMS signed attributes holding the
// byte range's SHA-256. The sign-file dialog (stand-in) reads reader and card through the
// host's natives, has the host hash those attributes and the card sign them with the PIN
// typed on the pad; the PKCS#7 is assembled with OpenSSL, written into the placeholder
// and checked with OpenSSL. Then the test viewer loads the real Tolmira.api and verifies
// each document against the test PKI's root with the OCSP responder, showing the panel's
// texts, and pdfsig checks the same files; both must also find a copy with one changed
// byte broken. Everything runs in a machine root of its own, removed at the end; every
// process and server it started is stopped.
//
// quarvel_demo [--keep]
#include "CardTestSupport.h"
#include "DemoSupport.h"
#include "Fixtures.h"
#include "FoundationFixture.h"
#include "HandoffTestSupport.h"
#include "JvmFixture.h"
#include "LoopbackServer.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "cardsim/pcscbed.h"
#include "cardsim/profile.h"
#include "quarvel_test.h"
#include "testpki.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace ft = foundationtest;

constexpr const char* kReader0 = "HKCU\\Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel\\Reader0";
constexpr const char* kCard = "asign";
constexpr const char* kKeys = "1 2 3 4 5 6 OK";
constexpr const char* kField = "Signature1";
constexpr const char* kCardSubject = "aSign Test Signature";

void step(const std::string& what, const std::string& text) {
  std::cout << "  " << what << std::string(what.size() < 13 ? 13 - what.size() : 1, ' ') << text << std::endl;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The value of the sign-file dialog's marker line "JDlgSignFile.<word> ..." among the
// lines from the index `from` on, empty when there is none yet.
std::string dialogLine(std::size_t from, const std::string& word) {
  const std::string prefix = "JDlgSignFile." + word + " ";
  const std::vector<std::string> lines = jvmtest::markerLines();
  std::string found;
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0) found = lines[i].substr(prefix.size());
  return found;
}

std::string text(const testpki::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The test PKI of the road: a kit whose certificates name the demo's own OCSP responder
// and issuer/CRL server, with a certificate issued to the card's signature key.
struct Pki {
  std::unique_ptr<certnet::OcspResponder> ocsp;
  std::unique_ptr<certnet::FileServer> files;
  std::unique_ptr<testpki::Kit> kit;
  std::string card;  // the card's certificate, DER
  int kitLock = -1;  // held while the build tree's kit is in use

  Pki() = default;
  Pki(const Pki&) = delete;
  Pki& operator=(const Pki&) = delete;
  ~Pki() {
    if (kitLock >= 0) ::close(kitLock);
  }
};

// Stops what the road started, in reverse order, whatever happened on the way.
struct Running {
  Pki pki;
  std::unique_ptr<cardsim::PcscBed> bed;
  std::unique_ptr<jvmtest::Quarvel> quarvel;
  HWND window = nullptr;

  ~Running() {
    if (quarvel) {
      if (window == nullptr || !jvmtest::requestQuit(window)) quarvel->kill(9);
      const int status = quarvel->wait();
      step("Quarvel", status == 255 ? "quit as asked" : "ended with status " + std::to_string(status));
    }
    if (bed) {
      bed.reset();
      step("pcscd", "stopped");
    }
    if (pki.ocsp) {
      pki.ocsp.reset();
      pki.files.reset();
      step("services", "OCSP responder and issuer/CRL server stopped");
    }
  }
};

// The kit with the servers' ports, the card's certificate issued to the a-sign profile's
// signature key (02). The demo's kit is kept in the build tree and reused from run to
// run: the servers ask for the ports of the last run, and the kit is remade only when
// one of them was busy (make-pki keeps a kit that names the same ports, was made by the
// same script and has fresh CRLs, and a certificate issued to the same key). While
// another demo holds that kit, this one makes a kit of its own in the machine root.
void makePki(const std::string& root, Pki& pki) {
  std::string dir = DEMO_PKI;
  std::filesystem::create_directories(dir);
  pki.kitLock = ::open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (pki.kitLock < 0 || ::flock(pki.kitLock, LOCK_EX | LOCK_NB) != 0) dir = root + "/pki";
  uint16_t ocspPort = 0, filesPort = 0;
  std::ifstream(dir + "/ports") >> ocspPort >> filesPort;
  pki.ocsp = std::make_unique<certnet::OcspResponder>(certnet::OcspSettings(), nullptr, ocspPort);
  pki.files = std::make_unique<certnet::FileServer>(nullptr, filesPort);
  pki.kit = std::make_unique<testpki::Kit>(testpki::Kit::make(dir, pki.ocsp->port(), pki.files->port(), 1));
  std::ofstream(dir + "/ports") << pki.ocsp->port() << ' ' << pki.files->port() << '\n';
  const testpki::Kit& kit = *pki.kit;
  const cardsim::CardProfile profile = cardsim::CardProfile::load(cardsim::CardProfile::installedPath(kCard));
  kit.issue("card", profile.key(0x02)->keyFile, kCardSubject);
  pki.card = text(kit.certificate("card"));
  // The responder answers from the intermediate's database, which lists every signer it
  // issued; the file server gives the issuer's certificate and the CRLs the AIA and CDP name.
  certnet::OcspSettings settings;
  settings.indexFile = kit.path("ca/int/index.txt");
  settings.issuerPem = certnet::readText(kit.path("int.pem"));
  settings.signerPem = certnet::readText(kit.path("ocsp.pem"));
  settings.signerKeyPem = certnet::readText(kit.path("ocsp.key"));
  pki.ocsp->setSettings(settings);
  pki.files->putFile("/int.crt", certnet::readText(kit.path("int.crt")));
  pki.files->putFile("/int.crl", certnet::readText(kit.path("int.crl")));
  pki.files->putFile("/root.crl", certnet::readText(kit.path("root.crl")));
  step("PKI", "test PKI in " + kit.dir() + ": \"Quarvel Test Root\" > \"Quarvel Test Intermediate\" > \"" +
                  kCardSubject + "\", issued to the card's signature key");
  step("services", "OCSP responder " + pki.ocsp->url("/") + ", issuer and CRLs at " + pki.files->url("/"));
}

// The PDF time text of a moment, in UTC.
std::string pdfTime(std::time_t when) {
  char buffer[32];
  std::tm utc{};
  gmtime_r(&when, &utc);
  std::strftime(buffer, sizeof buffer, "D:%Y%m%d%H%M%SZ", &utc);
  return buffer;
}

std::string rangeText(const std::vector<long long>& range) {
  std::string out = "[";
  for (long long n : range) out += (out.size() > 1 ? " " : "") + std::to_string(n);
  return out + "]";
}

// One document prepared for a signature, handed to Quarvel by `how` and signed by the
// sign-file dialog on the card: the dialog's marker lines for it, the host's hash of the
// signed attributes against OpenSSL's, the certificate read from the card, the PKCS#7
// assembled, written into the document and checked with OpenSSL.
void signHandedDocument(Running& running, const std::string& path, const std::string& how,
                        const std::function<void(const std::string&)>& handOver) {
  const testpki::Kit& kit = *running.pki.kit;
  std::ofstream(path, std::ios::binary) << demokit::samplePdf();
  // The signing application's side: the field in an incremental update, the byte range,
  // the signed attributes the card is to sign.
  const std::time_t now = std::time(nullptr);
  pdffixtures::SignatureFieldPlan field;
  field.name = kField;
  field.signingTimeObject = "(" + pdfTime(now) + ")";
  pdffixtures::appendSignatureField(path, field);
  const std::string ranges = pdffixtures::prepareSignature(path, kField);
  demokit::PdfSignature pkcs7(running.pki.card, {text(kit.certificate("int"))}, ranges, now);
  const std::string attributes = pkcs7.signedAttributes();
  std::ofstream(path + ".signedattrs", std::ios::binary) << attributes;
  step("document", "\"" + path + "\", " + std::to_string(pdffixtures::readFile(path).size()) +
                       " bytes, field \"" + kField + "\" with a placeholder, byte range " +
                       rangeText(pdffixtures::byteRange(path, kField)));
  step("attributes", "CMS signed attributes (" + std::to_string(attributes.size()) +
                         " bytes): content type, signing time, message digest = SHA-256 of the byte range " +
                         demokit::hexPrefix(pkcs7.messageDigest(), 8));
  running.bed->reader(cardsim::PcscBed::kDirectPinPad).setKeypad(kKeys);

  const std::size_t from = jvmtest::markerLines().size();
  handOver(path);
  step(how, how == "Tavrin" ? "handed the document to Quarvel" : "context-menu verb handed the document to Quarvel");

  const bool done = quarveltest::eventually(
      [from] { return !dialogLine(from, "signed").empty() || !dialogLine(from, "failed").empty(); },
      std::chrono::seconds(60));
  if (dialogLine(from, "main") != path) throw std::runtime_error("the sign-file dialog did not open with the document");
  step("dialog", "JDlgSignFile opened with the document");
  if (!done) throw std::runtime_error("the sign-file dialog did not finish");
  if (!dialogLine(from, "failed").empty())
    throw std::runtime_error("the sign-file dialog failed: " + dialogLine(from, "failed"));
  // "<reader kind>|<card class>|<PIN pad or not>", as the Java layer saw them.
  std::string card = dialogLine(from, "card");
  const std::string kind = card.substr(0, card.find('|'));
  card.erase(0, kind.size() + 1);
  step("card", "the Java layer sees " + card.substr(0, card.find('|')) + " in a " + kind + " reader with " +
                   card.substr(card.find('|') + 1));

  const std::string hash = dialogLine(from, "hash");
  const std::string expected = demokit::sha256Hex(attributes);
  step("hash", "SHA-256 of the signed attributes by the host " + hash.substr(0, 16) + "..., OpenSSL " +
                   (hash == expected ? "agrees" : "DISAGREES (" + expected + ")"));
  if (hash != expected) throw std::runtime_error("the host's SHA-256 differs from OpenSSL's");

  const std::string signature = readAll(path + ".sig");
  const std::string certificate = readAll(path + ".cer");
  step("signature", "PIN typed on the pad (\"" + std::string(kKeys) + "\"), " + std::to_string(signature.size() * 8) +
                        "-bit RSA: " + demokit::hexPrefix(signature, 12));
  std::string subject;
  const bool verified = demokit::verifySha256Signature(certificate, attributes, signature, subject);
  step("OpenSSL", std::string(verified ? "signature verified" : "signature does NOT verify") +
                      " with the certificate read from the card (" + std::to_string(certificate.size()) +
                      " bytes, " + subject + ")");
  if (!verified) throw std::runtime_error("the signature does not verify");
  if (certificate != running.pki.card) throw std::runtime_error("the card holds another certificate");

  const std::string value = pkcs7.finish(signature);
  pdffixtures::writeSignatureValue(path, kField, value);
  step("PKCS#7", "assembled with OpenSSL (" + std::to_string(value.size()) +
                     " bytes: signer info, card and intermediate certificates), written into the placeholder");
  std::string why;
  const bool chained = demokit::verifyDetachedPkcs7(value, pdffixtures::signedRanges(path, kField),
                                                    text(kit.certificate("root")), why);
  step("OpenSSL", chained ? "PKCS#7 verified over the document's byte range, the chain up to the test PKI's root"
                          : "PKCS#7 does NOT verify: " + why);
  if (!chained) throw std::runtime_error("the PKCS#7 does not verify: " + why);
}

// The signature's validity text (kind 5) as the viewer's signature panel shows it, line
// by line: the verdict, the time the certificate was checked for, the document's content.
void showPanel(const vhost::SignatureResult& result) {
  const std::string text = result.texts.size() > 5 ? result.texts[5] : std::string();
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(' ') != std::string::npos) step("", "| " + line);
    at = end + 1;
  }
}

// One document through Tolmira in the viewer and through pdfsig: both must find the
// signature intact or both broken, as expected; an intact one with the signer confirmed.
void checkDocument(const Pki& pki, vhost::Viewer& viewer, const std::string& path, bool expectIntact) {
  step("verify", "\"" + path.substr(path.rfind('/') + 1) + "\"");
  const std::size_t asked = pki.ocsp->requests().size();
  if (!viewer.openDocument(path)) throw std::runtime_error("the viewer cannot open the document: " + viewer.error());
  const std::vector<vhost::SignatureResult> results = viewer.validateSignatures();
  if (results.size() != 1) throw std::runtime_error("the viewer found " + std::to_string(results.size()) +
                                                    " signatures, not one");
  const vhost::SignatureResult& result = results[0];
  if (result.returned != 1) throw std::runtime_error("Tolmira did not verify: " + result.exception + result.error);
  // The cabinet's "id": 4 valid and the signer confirmed, 3 valid but not confirmed, 2 broken.
  const bool intact = result.id == 3 || result.id == 4, confirmed = result.id == 4;
  step("Tolmira", std::string(intact ? "intact" : "BROKEN") + (confirmed ? ", signer confirmed" : "") +
                      " (result id " + std::to_string(result.id) + "); the signature panel reads:");
  showPanel(result);
  const std::size_t requests = pki.ocsp->requests().size() - asked;
  step("OCSP", requests == 0   ? std::string("not asked")
               : requests == 1 ? std::string("asked once about the card's certificate")
                               : "asked " + std::to_string(requests) + " times about the card's certificate");

  step("coverage", vhost::coverageText(result.coverage) + " (the viewer's own check, beside the panel)");

  const std::vector<std::string> peer = demokit::pdfsig(path);
  if (peer.size() != 1) throw std::runtime_error("pdfsig found " + std::to_string(peer.size()) + " signatures");
  const bool agrees = demokit::pdfsigIntact(peer[0]) == intact;
  step("pdfsig", peer[0] + (agrees ? " Tolmira agrees." : " Tolmira DISAGREES."));
  if (!agrees) throw std::runtime_error("Tolmira and pdfsig disagree on " + path);
  const std::vector<std::string> covered = demokit::pdfsigCoverage(path);
  const bool coverageAgrees =
      covered.size() == 1 && (covered[0] == "Total document signed") == (result.coverage == vhost::Coverage::WholeDocument);
  step("pdfsig", (covered.empty() ? std::string("no coverage") : covered[0]) + "." +
                     (coverageAgrees ? " The viewer agrees." : " The viewer DISAGREES."));
  if (!coverageAgrees) throw std::runtime_error("the viewer and pdfsig disagree on the coverage of " + path);
  if (intact != expectIntact || (expectIntact && !confirmed))
    throw std::runtime_error(path + (expectIntact ? " is not found intact with a confirmed signer" : " is not found broken"));
}

// The signed documents and a copy of the first with one byte changed inside its signed
// range, verified as the user would: Tolmira in the viewer, trusting the test PKI's root
// and intermediate (the viewer's trusted identities), pdfsig beside it.
void checkDocuments(const Pki& pki, const std::vector<std::string>& documents) {
  const std::string first = documents.front();
  const std::string tampered = first.substr(0, first.size() - 4) + " (geändert).pdf";
  std::filesystem::copy_file(first, tampered, std::filesystem::copy_options::overwrite_existing);
  const std::string bytes = pdffixtures::readFile(tampered);
  const std::size_t at = bytes.find("(Signed by");
  if (at == std::string::npos || static_cast<long long>(at) >= pdffixtures::byteRange(tampered, kField)[1])
    throw std::runtime_error("no page text inside the signed range");
  pdffixtures::flipByte(tampered, static_cast<long>(at + 1));
  step("tampered", "a copy with byte " + std::to_string(at + 1) + " changed, inside the signed range: the page reads \"" +
                       pdffixtures::readFile(tampered).substr(at + 1, 9) + "\" for \"Signed by\"");

  vhost::Config config;
  config.trustedCerts = {pki.kit->certificate("root"), pki.kit->certificate("int")};
  vhost::Viewer viewer(pdftest::installedFor(config));
  if (!viewer.loadPlugin(TOLMIRA)) throw std::runtime_error("the viewer cannot load Tolmira.api: " + viewer.error());
  step("viewer", "the test viewer (" + config.product + " " + std::to_string(config.major) +
                     ") loaded Tolmira.api; trusted identities: Quarvel Test Root, Quarvel Test Intermediate");
  for (const std::string& document : documents) checkDocument(pki, viewer, document, true);
  checkDocument(pki, viewer, tampered, false);
  viewer.unloadPlugins();
  step("viewer", "Tolmira.api unloaded, " + std::to_string(viewer.liveCallbacks()) + " callbacks left");
}

void run(const std::string& root, Running& running) {
  // The installation as the installer leaves it, with the card lists in the program's
  // own signed settings; the stand-in dialog asked to sign what it is handed.
  jvmtest::Machine machine;
  for (const auto& value : cardtest::standardCardLists()) machine.program.push_back({value.first, value.second});
  jvmtest::install(machine);
  ft::makeApplication();
  jvmtest::setJavaScript("signdoc");
  step("machine", root + ": Quarvel installed with the Java application (stand-ins)");
  makePki(root, running.pki);

  // The card with the certificate of the test PKI in its certificate file.
  cardsim::CardProfile profile = cardsim::CardProfile::load(cardsim::CardProfile::installedPath(kCard));
  profile.file(cardsim::parseFilePath("3F00/DF01/C000"))->content.assign(running.pki.card.begin(),
                                                                         running.pki.card.end());
  running.bed = std::make_unique<cardsim::PcscBed>();
  const std::size_t pad = cardsim::PcscBed::kDirectPinPad;
  running.bed->insert(pad, profile);
  ft::setString(kReader0, "ctapi", "PCSC");
  ft::setString(kReader0, "ReaderName", running.bed->name(pad));
  step("pcscd", "started with the test bed's readers; card '" + std::string(kCard) + "' in \"" +
                    running.bed->name(pad) + "\", the user's reader");

  running.quarvel = std::make_unique<jvmtest::Quarvel>(std::vector<std::string>{jvmtest::javaLogPath()});
  running.window = running.quarvel->waitForMainWindow();
  if (running.window == nullptr) throw std::runtime_error("Quarvel's main window did not appear:\n" +
                                                          running.quarvel->output());
  step("Quarvel", "running (pid " + std::to_string(running.quarvel->pid()) + "), Java VM started, in the tray");

  // Documents where users keep theirs: blanks and an umlaut in the path. The first goes
  // with Tavrin, the others with the context menu's verb (each build of the extension).
  const std::string folder = root + "/home/Max Müller/Eigene Dateien";
  std::filesystem::create_directories(folder);
  std::vector<std::string> documents{folder + "/Vertrag 2026.pdf"};
  signHandedDocument(running, documents.back(), "Tavrin", [](const std::string& path) {
    const int status = quarveltest::startProgram(TAVRIN, {path}).wait();
    if (status != 0) throw std::runtime_error("Tavrin ended with status " + std::to_string(status));
  });
  for (const handofftest::ShellExtension& extension : handofftest::shellExtensions()) {
    if (!handofftest::runsHere(extension)) {
      step(extension.name + ".dll", "left out: " + handofftest::howItRuns(extension));
      continue;
    }
    documents.push_back(folder + "/Angebot " + extension.name + ".pdf");
    const bool emulated = handofftest::runnerOf(extension) == handofftest::Runner::kEmulator;
    signHandedDocument(running, documents.back(), extension.name + (emulated ? ".dll (qemu-i386)" : ".dll"),
                       [&extension](const std::string& path) {
                         const std::vector<std::string> report =
                             handofftest::runShellHost(extension, {"invoke", "0", path});
                         if (std::find(report.begin(), report.end(), "invoke 0x00000000") == report.end())
                           throw std::runtime_error("the context-menu verb failed");
                       });
  }
  checkDocuments(running.pki, documents);
}

}  // namespace

int main(int argc, char** argv) {
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--keep") {
      keep = true;
    } else {
      std::cerr << "usage: " << argv[0] << " [--keep]\n";
      return 2;
    }
  }
  const std::string root = quarveltest::makeMachineRoot("quarvel-demo");
  if (root.empty()) {
    std::cerr << "cannot make a machine root\n";
    return 1;
  }

  std::cout << "Quarvel: PDFs handed to the tray program, signed on a simulated card, checked with Tolmira"
            << std::endl;
  int result = 1;
  {
    Running running;
    try {
      run(root, running);
      result = 0;
    } catch (const std::exception& e) {
      std::cout << "  FAILED       " << e.what() << std::endl;
    }
  }
  if (keep) {
    std::cout << "  machine root kept in " << root << std::endl;
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::cout << (result == 0 ? "Demo succeeded." : "Demo failed.") << std::endl;
  return result;
}
