// The card road of Quarvel on a simulated card, for `make demo`: a pcscd with the
// test bed's readers, a card in the PIN-pad reader, the reader the user's
// settings name, recognition from the program's own signed settings file, the
// signature certificate read from the card, a sample PDF signed with the PIN
// typed on the pad, and the signature checked with OpenSSL. Everything runs in a
// machine root of its own, which is removed at the end; nothing stays running.
//
// quarvel_card_demo [--card asign|ecardg4|ecardng|dtrust|bank] [--pdf FILE] [--keep]
#include "CardTestSupport.h"
#include "DemoSupport.h"

#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardsim/pcscbed.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>

namespace {

using cardtest::bytes;

bool g_pcscdStarted = false;

struct DemoCard {
  const char* profile;
  std::vector<std::pair<char, std::string>> toCertificate;  // 'A' AID or 'F' FID, then the certificate FID
  const char* certificate;
  int kid;
  const char* parameter;  // what the Java layer gives signInit (SHA-256)
  const char* keys;       // what the user types on the pad
};

const DemoCard kCards[] = {
    {"asign", {{'A', "D2760000660101"}}, "C000", 0x81, "840102800140", "1 2 3 4 5 6 OK"},
    {"ecardg4", {{'A', "D2760000660201"}}, "C000", 0x81, "840102800140", "1 2 3 4 5 6 OK"},
    {"ecardng", {{'A', "D2760000660301"}}, "C000", 0x81, "840102800140", "1 2 3 4 5 6 OK"},
    {"dtrust", {{'F', "5015"}}, "C000", 0x81, "", "1 2 3 4 5 6 OK"},
    {"bank", {{'A', "A0000001184543"}}, "C000", 0x81, "800144840102", "1 2 3 4 5 6"},
};

void setUserValue(const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot write the reader settings");
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

int run(const DemoCard& demo, const std::string& pdfPath, const std::string& root) {
  std::string pdf;
  if (pdfPath.empty()) {
    pdf = demokit::samplePdf();
    std::ofstream(root + "/sample.pdf", std::ios::binary) << pdf;
    std::cout << "  document     sample PDF, " << pdf.size() << " bytes\n";
  } else {
    std::ifstream in(pdfPath, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + pdfPath);
    std::ostringstream all;
    all << in.rdbuf();
    pdf = all.str();
    std::cout << "  document     " << pdfPath << ", " << pdf.size() << " bytes\n";
  }

  // The program's own signed settings file with the card lists, and the application it belongs to.
  cardtest::createApplication();
  cardtest::writeCardLists(cardtest::standardCardLists());
  CSCardFactory::install();

  cardsim::PcscBed bed;
  g_pcscdStarted = true;
  const std::size_t pad = cardsim::PcscBed::kDirectPinPad;
  bed.insert(pad, demo.profile);
  bed.reader(pad).setKeypad(demo.keys);
  std::cout << "  pcscd        started with the test bed's readers; card '" << demo.profile << "' in \""
            << bed.name(pad) << "\"\n";

  setUserValue("ctapi", "PCSC");
  setUserValue("ReaderName", bed.name(pad));
  CReader* reader = CReaderFactory::getInstance();
  if (reader == nullptr) throw std::runtime_error("the reader factory built no reader");
  const int connected = reader->connect(0);
  CSCard* card = reader->getCard();
  if (connected != 0 || card == nullptr) {
    std::ostringstream s;
    s << "connect answered 0x" << std::hex << static_cast<unsigned>(connected);
    throw std::runtime_error(s.str());
  }
  std::string type = typeid(*card).name();
  type = type.substr(type.find("CSCard"));
  std::cout << "  reader       " << reader->getName() << " from Reader0, PIN pad "
            << (reader->isSecure() ? "yes" : "no") << "; card recognised as " << type << "\n";

  for (const auto& [kind, value] : demo.toCertificate) {
    const int r = kind == 'A' ? card->changeDirectory(CAID(bytes(value))) : card->changeDirectory(CFID(bytes(value)));
    if (r != 0) throw std::runtime_error("cannot select " + value);
  }
  const int handle = card->open(CFID(bytes(demo.certificate)));
  if (handle < 0) throw std::runtime_error("cannot open the certificate file");
  std::string certificate;
  for (std::string chunk; card->read(handle, chunk, 1024) > 0;) certificate += chunk;
  card->close(handle);

  if (card->signInit(demo.kid, bytes(demo.parameter), 2) != 0) throw std::runtime_error("signInit failed");
  for (std::size_t at = 0; at < pdf.size(); at += 1000)
    if (card->signUpdate(pdf.substr(at, 1000)) != 0) throw std::runtime_error("signUpdate failed");
  std::string signature;
  const int signedResult = card->signFinal(demo.kid, signature, false);
  if (signedResult != 0) {
    std::ostringstream s;
    s << "signFinal answered 0x" << std::hex << static_cast<unsigned>(signedResult);
    throw std::runtime_error(s.str());
  }
  std::cout << "  signature    SHA-256, PIN typed on the pad (\"" << demo.keys << "\"), " << signature.size() * 8
            << "-bit RSA: " << demokit::hexPrefix(signature, 12) << "\n";

  std::string subject;
  const bool ok = demokit::verifySha256Signature(certificate, pdf, signature, subject);
  std::cout << "  OpenSSL      " << (ok ? "signature verified" : "signature does NOT verify")
            << " with the certificate read from the card (" << certificate.size() << " bytes, " << subject << ")\n";
  reader->disconnect();
  CReaderFactory::releaseInstance(reader);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string cardName = "asign", pdfPath;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--card" && i + 1 < argc) cardName = argv[++i];
    else if (arg == "--pdf" && i + 1 < argc) pdfPath = argv[++i];
    else if (arg == "--keep") keep = true;
    else {
      std::cerr << "usage: " << argv[0] << " [--card asign|ecardg4|ecardng|dtrust|bank] [--pdf FILE] [--keep]\n";
      return 2;
    }
  }
  const DemoCard* demo = nullptr;
  for (const DemoCard& c : kCards)
    if (cardName == c.profile) demo = &c;
  if (demo == nullptr) {
    std::cerr << "unknown card '" << cardName << "'\n";
    return 2;
  }

  // A machine of its own: registry, system directory and settings files live here.
  char pattern[] = "/tmp/quarvel-demo-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;
  setenv("QUARVEL_MACHINE_ROOT", root.c_str(), 1);

  std::cout << "Quarvel card road on a simulated card\n";
  int result = 1;
  try {
    result = run(*demo, pdfPath, root);
  } catch (const std::exception& e) {
    std::cout << "  FAILED       " << e.what() << "\n";
  }
  if (g_pcscdStarted) std::cout << "  pcscd        stopped\n";
  if (keep) {
    std::cout << "  machine root kept in " << root << "\n";
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::cout << (result == 0 ? "Demo succeeded.\n" : "Demo failed.\n");
  return result;
}
