// The system's main job as a user meets it, for `make demo`: the tray program Quarvel
// runs with its Java VM and the stand-in Java application; the user hands a PDF to it
// with Tavrin, and others with the context menu (the shell host playing the shell for
// Menvaro.dll and, where it is built, Menvaro32.dll); each time the sign-file dialog (stand-in) reads the reader and the card through
// the host's natives, has the host hash the document and signs it with the PIN typed
// on the reader's pad; the signature is checked with OpenSSL against the certificate
// read from the card. The card sits in the PIN-pad reader of the test bed's pcscd.
// Everything runs in a machine root of its own, removed at the end; every process it
// started is stopped.
//
// quarvel_demo [--keep]
#include "CardTestSupport.h"
#include "DemoSupport.h"
#include "FoundationFixture.h"
#include "HandoffTestSupport.h"
#include "JvmFixture.h"
#include "cardsim/pcscbed.h"
#include "quarvel_test.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
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

// Stops what the road started, in reverse order, whatever happened on the way.
struct Running {
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
  }
};

// One document handed to Quarvel by `how` and signed by the sign-file dialog: the
// dialog's marker lines for it, the host's hash against OpenSSL's, the signature
// checked with OpenSSL against the certificate read from the card.
void signHandedDocument(Running& running, const std::string& path, const std::string& how,
                        const std::function<void(const std::string&)>& handOver) {
  const std::string pdf = demokit::samplePdf();
  std::ofstream(path, std::ios::binary) << pdf;
  step("document", "\"" + path + "\", " + std::to_string(pdf.size()) + " bytes");
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
  const std::string expected = demokit::sha256Hex(pdf);
  step("hash", "SHA-256 by the host " + hash.substr(0, 16) + "..., OpenSSL " +
                   (hash == expected ? "agrees" : "DISAGREES (" + expected + ")"));
  if (hash != expected) throw std::runtime_error("the host's SHA-256 differs from OpenSSL's");

  const std::string signature = readAll(path + ".sig");
  const std::string certificate = readAll(path + ".cer");
  step("signature", "PIN typed on the pad (\"" + std::string(kKeys) + "\"), " + std::to_string(signature.size() * 8) +
                        "-bit RSA: " + demokit::hexPrefix(signature, 12));

  std::string subject;
  const bool verified = demokit::verifySha256Signature(certificate, pdf, signature, subject);
  step("OpenSSL", std::string(verified ? "signature verified" : "signature does NOT verify") +
                      " with the certificate read from the card (" + std::to_string(certificate.size()) +
                      " bytes, " + subject + ")");
  if (!verified) throw std::runtime_error("the signature does not verify");
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

  running.bed = std::make_unique<cardsim::PcscBed>();
  const std::size_t pad = cardsim::PcscBed::kDirectPinPad;
  running.bed->insert(pad, kCard);
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
  signHandedDocument(running, folder + "/Vertrag 2026.pdf", "Tavrin", [](const std::string& path) {
    const int status = quarveltest::startProgram(TAVRIN, {path}).wait();
    if (status != 0) throw std::runtime_error("Tavrin ended with status " + std::to_string(status));
  });
  for (const handofftest::ShellExtension& extension : handofftest::shellExtensions()) {
    signHandedDocument(running, folder + "/Angebot " + extension.name + ".pdf", extension.name + ".dll",
                       [&extension](const std::string& path) {
                         const std::vector<std::string> report =
                             handofftest::runShellHost(extension, {"invoke", "0", path});
                         if (std::find(report.begin(), report.end(), "invoke 0x00000000") == report.end())
                           throw std::runtime_error("the context-menu verb failed");
                       });
  }
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

  std::cout << "Quarvel: a PDF handed to the tray program and signed on a simulated card" << std::endl;
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
