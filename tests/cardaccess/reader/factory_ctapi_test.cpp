// The reader factory with CT-API settings: the Reader0 values written by the
// registry tool (another process), the terminal opened through the test bed's
// driver, the cache, and every way the construction can fail, with the driver's
// call log.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FoundationFixture.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/reader/CReader_CTAPI.h"
#include "ctapi_support.h"
#include "reader_test_support.h"
#include "TestTrace.h"

namespace ft = foundationtest;
using readertest::kReader0;

namespace {

class CtapiFactory : public testing::Test {
 protected:
  void SetUp() override {
    bed_.configure(
        "terminal 1\n  card asign\n"
        "terminal 2\n  card asign\n  fault \"call=2 result=-10\"\n"  // GET STATUS manufacturer fails
        "terminal 3\n  card asign\n  fault \"call=1 result=-10\"\n"  // RESET CT fails once
        "terminal 4\n  card asign\n  short-objects yes\n"             // manufacturer object cut short
        "terminal 5\n  card bank\n");
  }

  void use(const std::string& driver, const std::string& port) {
    ft::setString(kReader0, "ctapi", driver);
    ft::setString(kReader0, "Port", port);
  }

  readertest::CtapiBed bed_;
  readertest::FakeRecognition recognition_{{readertest::atrOf("asign"), readertest::atrOf("bank")}};
};

}  // namespace

TEST_F(CtapiFactory, BuildsTheTerminalOnceAndKeepsItByDriverName) {
  use("ctsim", "1");
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  auto* ctapi = dynamic_cast<CReader_CTAPI*>(reader);
  ASSERT_NE(ctapi, nullptr);
  EXPECT_STREQ(reader->getName(), "Reader");
  EXPECT_STREQ(reader->getCTAPIName(), "ctsim");
  EXPECT_EQ(reader->isSecure(), 1);
  EXPECT_EQ(reader->shallUseGUI(), 1);
  EXPECT_EQ(bed_.terminalCommands(1), (std::vector<std::string>{"20110000", "2013004600"}));
  EXPECT_EQ(bed_.count("CT_init ctn=1 pn=1 rc=0"), 1u);

  EXPECT_EQ(CReaderFactory::getInstance(), reader);
  // Another port for the same driver: still the cached reader.
  ft::setString(kReader0, "Port", "5");
  EXPECT_EQ(CReaderFactory::getInstance(), reader);
  EXPECT_EQ(bed_.count("CT_init"), 1u);
  ASSERT_EQ(reader->connect(0), 0);

  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
  EXPECT_EQ(bed_.count("CT_close ctn=1 rc=0"), 1u);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(nullptr), 0);

  // Released: the next one is built afresh, at the port now configured.
  CReader* again = CReaderFactory::getInstance();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(bed_.count("CT_init ctn=1 pn=5 rc=0"), 1u);
  EXPECT_EQ(again->getCard(), nullptr);
  EXPECT_EQ(again->connect(0), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(again), 1);
}

TEST_F(CtapiFactory, SwitchesFromTheSettings) {
  struct Row {
    const char* isSecure;
    const char* useGUI;
    unsigned char secure, gui;
  } rows[] = {
      {"No", "No", 0, 0},
      {"no", "Yes", 1, 1},  // only "No" switches off
      {"", "anything", 1, 1},
  };
  use("ctsim", "1");
  for (auto& row : rows) {
    ft::setString(kReader0, "isSecure", row.isSecure);
    ft::setString(kReader0, "UseGUI", row.useGUI);
    CReader* reader = CReaderFactory::getInstance();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->isSecure(), row.secure) << row.isSecure;
    EXPECT_EQ(reader->shallUseGUI(), row.gui) << row.useGUI;
    EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
  }
}

TEST_F(CtapiFactory, TextsStoredWithoutTheirTerminator) {
  // Another program may store REG_SZ data without the closing NUL: the text ends
  // where the data end, not at whatever follows in the buffer.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const char driver[] = "ctsimXXXX";
  const char port[] = "1999";
  ASSERT_EQ(RegSetValueExA(key, "ctapi", 0, REG_SZ, reinterpret_cast<const BYTE*>(driver), 5), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(port), 1), ERROR_SUCCESS);
  RegCloseKey(key);
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_STREQ(reader->getCTAPIName(), "ctsim");
  EXPECT_EQ(bed_.count("CT_init ctn=1 pn=1 rc=0"), 1u);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
}

TEST_F(CtapiFactory, ConstructionFailuresCloseWhatTheyOpened) {
  struct Row {
    const char* port;
    const char* init;       // the driver's CT_init line
    size_t closes;          // CT_close calls for ctn 1 afterwards
  } rows[] = {
      {"9", "CT_init ctn=1 pn=9 rc=-8", 0},  // no terminal at the port: nothing to close
      {"2", "CT_init ctn=1 pn=2 rc=0", 1},   // manufacturer query fails
      {"3", "CT_init ctn=1 pn=3 rc=0", 2},   // RESET CT fails
      {"4", "CT_init ctn=1 pn=4 rc=0", 3},   // manufacturer object cut short
  };
  for (auto& row : rows) {
    use("ctsim", row.port);
    EXPECT_EQ(CReaderFactory::getInstance(), nullptr) << "port " << row.port;
    EXPECT_EQ(bed_.count(row.init), 1u) << "port " << row.port;
    EXPECT_EQ(bed_.count("CT_close ctn=1 rc=0"), row.closes) << "port " << row.port;
  }
  // The terminal whose RESET CT failed was closed again: it can be opened now.
  use("ctsim", "3");
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->connect(0), 0);
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
}

TEST_F(CtapiFactory, SettingsThatNameNoReader) {
  struct Row {
    const char* what;
    void (*write)();
  } rows[] = {
      {"no ctapi", [] { ft::setString(kReader0, "Port", "1"); }},
      {"lower-case pcsc is a driver name",
       [] {
         ft::setString(kReader0, "ctapi", "pcsc");
         ft::setString(kReader0, "Port", "1");
       }},
      {"no Port", [] { ft::setString(kReader0, "ctapi", "ctsim"); }},
      {"ctapi as a number",
       [] {
         ft::setDword(kReader0, "ctapi", 1);
         ft::setString(kReader0, "Port", "1");
       }},
      {"ctapi filling its buffer",
       [] {
         ft::setString(kReader0, "ctapi", std::string(31, 'c'));
         ft::setString(kReader0, "Port", "1");
       }},
      {"Port filling its buffer",
       [] {
         ft::setString(kReader0, "ctapi", "ctsim");
         ft::setString(kReader0, "Port", "000000001");
       }},
  };
  for (auto& row : rows) {
    ft::createKey(kReader0);
    ft::registryTool({"delete-key", kReader0});
    ft::createKey(kReader0);
    row.write();
    EXPECT_EQ(CReaderFactory::getInstance(), nullptr) << row.what;
  }
  EXPECT_EQ(bed_.count("CT_init"), 0u);
  // Without the key at all.
  ft::registryTool({"delete-key", kReader0});
  EXPECT_EQ(CReaderFactory::getInstance(), nullptr);
}

// Threads that ask for the reader at once share one factory, made once.
TEST(ReaderFactoryThreads, FirstCallsAtOnceMakeOneFactory) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(go, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([go] {
      WaitForSingleObject(go, INFINITE);
      EXPECT_EQ(CReaderFactory::getInstance(), nullptr);  // no Reader0 settings
    });
  SetEvent(go);
  for (auto& thread : threads) thread.join();
  CloseHandle(go);
  std::istringstream trace(cardaccesstest::traceText());
  int made = 0;
  for (std::string line; std::getline(trace, line);)
    made += line.rfind("class CReaderFactory at 0x", 0) == 0;  // the line of a new object
  EXPECT_EQ(made, 1);
}
