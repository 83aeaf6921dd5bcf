// The card library through the test bed's CT-API driver: the binding and its DLL
// factory, the reader factory's CT-API settings, PIN entry on the terminal's
// keypad, signatures, and a driver or card that answers badly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "VariantSupport.h"
#include "cardaccess/reader/CReader_CTAPI.h"
#include "cardaccess/reader/CTAPI.h"
#include "cardvariant/CReaderFactory.h"
#include "cardvariant/CSCard.h"
#include "cardvariant/CdllFactory.h"
#include "cardvariant/Utilities.h"
#include "foundation/base/CException.h"
#include "quarvel_test.h"

namespace {

using namespace varianttest;
using cardvariant::CReaderFactory;

constexpr unsigned char kFailed = 0xFF;

std::string copyDriver(const std::string& from, const std::string& name) {
  static const std::string dir = quarveltest::makeTempDirectory("drivers");
  const std::string to = dir + "/" + name;
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  return to;
}

// The test bed's driver under a file name of its own, and its configuration.
class Terminals {
 public:
  explicit Terminals(const std::string& fileName = "ctapi-sim.so")
      : m_driver(copyDriver(CARDSIM_CTAPI_LIBRARY, fileName)) {
    const std::string dir = quarveltest::makeTempDirectory("ctapi");
    m_config = dir + "/ctapi.conf";
    m_log = dir + "/calls.log";
    setenv("QUARVEL_CTAPI_SIM_CONFIG", m_config.c_str(), 1);
    configure("");
  }
  const std::string& driver() const { return m_driver; }

  void configure(const std::string& terminals) {
    const std::string fresh = m_config + ".new";
    {
      std::ofstream out(fresh);
      // The driver sees a change by the file's time and size: each version is longer.
      out << "log " << m_log << "\n" << terminals << "\n# " << std::string(++m_generation, '.') << "\n";
    }
    std::rename(fresh.c_str(), m_config.c_str());
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(m_log));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  size_t count(const std::string& what) const {
    size_t n = 0;
    for (const std::string& line : calls()) n += line.find(what) != std::string::npos;
    return n;
  }

 private:
  std::string m_driver, m_config, m_log;
  int m_generation = 0;
};

TEST(Binding, NoDriverBogusDriversAndTwoDriversSideBySide) {
  const std::string trace = enableTrace();
  Terminals terminals;
  terminals.configure("terminal 1\n  card asign\n");
  unsigned char dad = 1, sad = 2, answer[64];
  unsigned short length = sizeof answer;
  const unsigned char resetCT[] = {0x20, 0x11, 0x00, 0x00};
  // Before a driver is named, nothing is loaded.
  EXPECT_EQ(cardvariant::ctInit(1, 1), kFailed);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctData(1, &dad, &sad, 4, resetCT, &length, answer)), kFailed);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctClose(1)), kFailed);
  EXPECT_EQ(terminals.count("CT_"), 0u);
  // A failed call's result is the CT-API's byte.
  cardvariant::logMessage("", 0, cardvariant::CLogable::kFlush);
  const std::string lines = readFile(trace);
  for (const char* line : {"CT_init: Result: 0xff.\n", "CT_data: Result: 0xff. out: 0x.\n", "CT_close: Result: 0xff.\n"})
    EXPECT_NE(lines.find(line), std::string::npos) << line << "\n" << lines;
  EXPECT_EQ(lines.find("0xffffffff"), std::string::npos) << lines;

  // A name that names no library: 0xFF from each, and the next call tries again.
  const std::string later = quarveltest::machineRoot() + "/later-driver.so";
  cardvariant::setCTAPIDll(later);
  EXPECT_EQ(cardvariant::ctInit(1, 1), kFailed);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctData(1, &dad, &sad, 4, resetCT, &length, answer)), kFailed);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctClose(1)), kFailed);
  std::rename(copyDriver(CARDSIM_CTAPI_LIBRARY, "later-driver.so").c_str(), later.c_str());
  EXPECT_EQ(cardvariant::ctInit(1, 1), 0);
  EXPECT_EQ(cardvariant::ctData(1, &dad, &sad, 4, resetCT, &length, answer), 0);

  // A second driver beside it: its own terminals, its own module.
  const std::string second = copyDriver(CARDSIM_CTAPI_LIBRARY, "second-driver.so");
  cardvariant::setCTAPIDll(second);
  EXPECT_EQ(cardvariant::ctInit(1, 1), 0) << "terminal 1 of the first driver stays open there only";
  cardvariant::CdllFactory* factory = cardvariant::CdllFactory::getInstance();
  EXPECT_NE(factory->getHandle(later.c_str()), factory->getHandle(second.c_str()));
  EXPECT_EQ(cardvariant::ctClose(1), 0);
  cardvariant::setCTAPIDll(later);
  EXPECT_EQ(cardvariant::ctClose(1), 0);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctClose(1)), kFailed) << "closed already";
}

TEST(Binding, ADriverWithoutOneFunctionFailsThatOneOnly) {
  cardvariant::setCTAPIDll(CARDSIM_PARTIAL_DRIVER);
  unsigned char dad = 1, sad = 2, answer[64];
  unsigned short length = sizeof answer;
  const unsigned char status[] = {0x20, 0x13, 0x00, 0x46, 0x00};
  EXPECT_EQ(cardvariant::ctInit(1, 1), 0);
  EXPECT_EQ(cardvariant::ctData(1, &dad, &sad, sizeof status, status, &length, answer), 0);
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctClose(1)), kFailed);
  EXPECT_THROW(cardvariant::CdllFactory::getInstance()->getFunction(CARDSIM_PARTIAL_DRIVER, "CT_close", "Secure"),
               VOQ::CNoSuchObjectException);
  EXPECT_EQ(cardvariant::CdllFactory::getInstance()->getFunction(nullptr, "CT_close", "Normal"), nullptr);
}

// The binding keeps a driver's entry points while its module stays loaded; once the
// factory lets its modules go (as at process exit), it resolves again rather than call
// into a module no longer there. The module of the tests of module loading can be
// unloaded, and starts again with no terminal open.
TEST(Binding, ADriverTheFactoryLetGoIsResolvedAfresh) {
  const std::string driver = copyDriver(QUARVEL_CTDRIVER, "unloadable.so");
  cardvariant::setCTAPIDll(driver);
  unsigned char dad = 1, sad = 2, answer[16];
  const unsigned char resetCT[] = {0x20, 0x11, 0x00, 0x00};
  const auto reset = [&] {
    unsigned short length = sizeof answer;
    return static_cast<unsigned char>(cardvariant::ctData(1, &dad, &sad, sizeof resetCT, resetCT, &length, answer));
  };
  ASSERT_EQ(cardvariant::ctInit(1, 1), 0);
  EXPECT_EQ(reset(), 0);
  delete cardvariant::CdllFactory::getInstance();
  EXPECT_EQ(reset(), kFailed) << "a module loaded afresh has no terminal open";
  ASSERT_EQ(cardvariant::ctInit(1, 1), 0);
  EXPECT_EQ(reset(), 0);
  delete cardvariant::CdllFactory::getInstance();
  EXPECT_EQ(static_cast<unsigned char>(cardvariant::ctClose(1)), kFailed);
}

// The CT-API settings of sub-key "Reader" for this driver.
void configureReader(const std::string& driver, const std::vector<std::pair<std::string, std::string>>& texts,
                     const std::vector<std::pair<std::string, DWORD>> ports) {
  clearSettings();
  setText("Reader", "CTAPI", driver);
  for (const auto& [name, value] : texts) setText("Reader", name, value);
  for (const auto& [name, value] : ports) setDword("Reader", name, value);
}

TEST(Factory, PortsIdentificationsAndSecurity) {
  Terminals terminals;
  terminals.configure("terminal 3\n  card dtrust-plugin\n  maker hex:0A0B0C0D0E\n");
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> texts;
    bool accepted;
    unsigned char useGUI;
  };
  const std::pair<std::string, std::string> secure{"isSecure", "Yes"}, gui{"UseGUI", "Yes"};
  const std::vector<Row> rows = {
      {"first three bytes", {{"Status0", "0a0b0c"}, secure, gui}, true, 1},
      {"all five bytes", {{"Status4", "0a0b0c0d0e"}, secure, {"UseGUI", "No"}}, true, 0},
      {"seven bytes", {{"Status0", "0a0b0c0d0e0f10"}, secure, gui}, false, 0},
      {"upper-case hex", {{"Status0", "0A0B0C"}, secure, gui}, false, 0},
      {"an earlier value that does not match", {{"Status0", "0a0c"}, {"Status7", "0a0b"}, secure, gui}, true, 1},
      {"a twelfth value is not read", {{"Status11", "0a0b"}, secure, gui}, false, 0},
      {"an empty value matches every terminal", {{"Status10", ""}, secure, gui}, true, 1},
      {"isSecure missing", {{"Status0", "0a0b0c"}, gui}, false, 0},
      {"isSecure in lower case", {{"Status0", "0a0b0c"}, {"isSecure", "yes"}, gui}, false, 0},
      {"UseGUI missing", {{"Status0", "0a0b0c"}, secure}, false, 0},
  };
  for (const Row& row : rows) {
    configureReader(terminals.driver(), row.texts, {{"Port3", 3}});
    FreshSettings settings;
    const size_t closes = terminals.count("CT_close");
    cardvariant::CReader* reader = CReaderFactory::getInstance();
    EXPECT_EQ(reader != nullptr, row.accepted) << row.what;
    if (reader) {
      EXPECT_EQ(reader->shallUseGUI(), row.useGUI) << row.what;
      EXPECT_EQ(std::string(reader->getName()), "Reader") << row.what;
      EXPECT_EQ(CReaderFactory::getInstance(), reader) << "cached: " << row.what;
      EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
    } else {
      EXPECT_EQ(terminals.count("CT_close"), closes + 1) << "the refused terminal is closed: " << row.what;
    }
  }
}

TEST(Factory, OnlyConfiguredPortsAreTried) {
  Terminals terminals;
  terminals.configure("terminal 1\n  card asign\nterminal 3\n  card asign\n");
  configureReader(terminals.driver(), {{"Status0", ""}, {"isSecure", "Yes"}, {"UseGUI", "Yes"}}, {{"Port3", 3}});
  FreshSettings settings;
  cardvariant::CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(terminals.count("CT_init"), 1u);
  EXPECT_EQ(terminals.count("CT_init ctn=1 pn=3 rc=0"), 1u);
  // Later calls return the cached reader without touching the terminal.
  EXPECT_EQ(CReaderFactory::getInstance(), reader);
  EXPECT_EQ(terminals.count("CT_init"), 1u);
  int foreign = 0;
  EXPECT_EQ(CReaderFactory::releaseInstance(reinterpret_cast<cardvariant::CReader*>(&foreign)), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(nullptr), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
  EXPECT_EQ(terminals.count("CT_close ctn=1 rc=0"), 1u);
}

TEST(Factory, NoReaderWithoutUsableSettings) {
  Terminals terminals;
  terminals.configure("terminal 1\n  card asign\n");
  for (int row = 0; row < 4; ++row) {
    clearSettings();
    if (row == 1) setRaw("Reader", "CTAPI", REG_BINARY, terminals.driver());
    if (row == 2) configureReader(terminals.driver(), {{"Status0", ""}, {"isSecure", "Yes"}, {"UseGUI", "Yes"}}, {{"Port0", 2}});
    if (row == 3) {
      // A port value of two bytes reads as port 0.
      configureReader(terminals.driver(), {{"Status0", ""}, {"isSecure", "Yes"}, {"UseGUI", "Yes"}}, {});
      setRaw("Reader", "Port5", REG_DWORD, std::string("\x01\x00", 2));
    }
    FreshSettings settings;
    EXPECT_EQ(CReaderFactory::getInstance(), nullptr) << row;
  }
  EXPECT_EQ(terminals.count("CT_init ctn=1 pn=2 rc=-8"), 1u);
  EXPECT_EQ(terminals.count("CT_init ctn=1 pn=0 rc=-8"), 1u);
}

// A connected card of the terminal on port 1, recognised through the settings.
struct ConnectedCard {
  Terminals terminals;
  std::unique_ptr<FreshSettings> settings;
  cardvariant::CReader* reader = nullptr;
  cardvariant::CSCard* card = nullptr;

  ConnectedCard(const std::string& profileName, const std::string& list, const std::string& extra = "") {
    terminals.configure("terminal 1\n  card " + profileName + "\n" + extra);
    configureReader(terminals.driver(), {{"Status0", ""}, {"isSecure", "Yes"}, {"UseGUI", "Yes"}}, {{"Port0", 1}});
    const cardsim::Bytes answer = profile(profileName).atr;
    std::string atr;
    cardvariant::bytesToBase64(std::string(answer.begin(), answer.end()), atr);
    setText("", list + "0", atr);
    settings = std::make_unique<FreshSettings>();
    reader = CReaderFactory::getInstance();
    if (reader && reader->connect(0) == 0) card = reader->getCard();
  }
  ~ConnectedCard() {
    if (reader) CReaderFactory::releaseInstance(reader);
  }
  std::vector<std::string> cardApdus() const {
    std::vector<std::string> out;
    // Commands to the card (dad 0), and those the terminal sent itself (PIN entry).
    const auto wordAfter = [](const std::string& line, const std::string& key) {
      const size_t at = line.find(key) + key.size();
      return line.substr(at, line.find(' ', at) - at);
    };
    for (const std::string& line : terminals.calls()) {
      if (line.find(" dad=0 ") != std::string::npos) out.push_back(wordAfter(line, "cmd="));
      if (line.find("card apdu=") != std::string::npos) out.push_back(wordAfter(line, "card apdu="));
    }
    return out;
  }
};

TEST(Terminal, SignsWithThePinEnteredOnTheKeypad) {
  ConnectedCard c("dtrust-plugin", "DTrust", "  keypad \"12345678 OK\"\n");
  ASSERT_NE(c.card, nullptr);
  EXPECT_EQ(c.card->getCardType(), 4);
  const std::string message = "signed on the terminal";
  ASSERT_EQ(c.card->signInit(0x81, "", 2), 0);
  c.card->signUpdate(message);
  std::string signature;
  ASSERT_EQ(c.card->signFinal(0x81, signature, 0), 0);
  EXPECT_EQ(recoverSigned(certificate("dtrust-sig"), signature), digestInfo(2, digest(2, message)));
  // The terminal put the PIN into the 8-byte VERIFY.
  const std::vector<std::string> apdus = c.cardApdus();
  EXPECT_NE(std::find(apdus.begin(), apdus.end(), "0020008108" + hex("12345678")), apdus.end());
}

TEST(Terminal, AWrongPinOnTheKeypadSendsNoSignatureCommand) {
  ConnectedCard c("asign", "oCard", "  keypad \"654321 OK\"\n");
  ASSERT_NE(c.card, nullptr);
  EXPECT_EQ(c.card->getCardType(), 3);
  ASSERT_EQ(c.card->signInit(0x81, bytes("800110840102"), 1), 0);
  c.card->signUpdate("x");
  std::string signature;
  EXPECT_EQ(c.card->signFinal(0x81, signature, 0), static_cast<int>(0x80020002u));
  const std::vector<std::string> apdus = c.cardApdus();
  ASSERT_FALSE(apdus.empty());
  EXPECT_EQ(apdus.back().substr(0, 10), "0020008108");  // the format-2 block from the keypad
  EXPECT_EQ(apdus.back().substr(10, 2), "26");
  EXPECT_EQ(std::count_if(apdus.begin(), apdus.end(), [](const std::string& a) { return a.rfind("002A9E9A", 0) == 0; }), 0);
}

TEST(Terminal, BadAnswersBecomeChannelFailures) {
  ConnectedCard c("trustsign", "TrustSign");
  ASSERT_NE(c.card, nullptr);
  EXPECT_EQ(c.card->getCardType(), 0);
  char cin[cardvariant::CSCard::kCINLength];
  ASSERT_EQ(c.card->getCIN(cin), 0);
  EXPECT_EQ(std::string(cin, sizeof cin), "a1b2c3d4e5f60718");
  struct Row {
    std::string fault;  // driver fault for the next CT_data call
    int result;
  };
  const size_t base = c.terminals.count("CT_data ctn=1");
  const std::vector<Row> rows = {
      {"result=-10", static_cast<int>(0x8003FFF6u)}, {"result=-1", static_cast<int>(0x8003FFFFu)},
      {"lenr=0", static_cast<int>(0x80030100u)},     {"lenr=1", static_cast<int>(0x80030100u)},
      {"lenr=over", static_cast<int>(0x8003FFF5u)},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    c.terminals.configure("terminal 1\n  card trustsign\n  fault \"call=" + std::to_string(base + i + 1) + " " +
                          rows[i].fault + "\"\n");
    EXPECT_EQ(c.card->changeDirectory(cardvariant::CFID(bytes("3F00"))), rows[i].result) << rows[i].fault;
  }
}

}  // namespace
