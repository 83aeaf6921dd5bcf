// The signature road through a CT-API terminal: the reader factory builds the
// CT-API reader from the user's Reader0 settings, the driver is found through
// its signed settings file in the installation directory, the card is
// recognised from its ATR, and the PIN goes in either by VERIFY or on the
// terminal's keypad. What the card received is read from the driver's call log.
#include "CardTestSupport.h"

#include "EswWriter.h"
#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "platform/machine.h"
#include "quarvel_test.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <typeinfo>

using cardtest::bytes;
using cardtest::hex;
using cardtest::kTypes;
using cardtest::Type;
using cardtest::TypeInfo;

namespace {

class CtApiCards : public testing::Test {
 protected:
  void SetUp() override {
    cardtest::createApplication();
    cardtest::writeCardLists(cardtest::standardCardLists());
    CSCardFactory::install();
    dir_ = quarveltest::makeTempDirectory("ctapi");
    configure("asign", "123456 OK");
    setenv("QUARVEL_CTAPI_SIM_CONFIG", (dir_ + "/ctapi.conf").c_str(), 1);
    // The driver's path comes from its own signed settings file in the installation directory.
    cardtest::setRegistryText(HKEY_LOCAL_MACHINE, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", "InstallDir", "C:\\Quarvel");
    eswtool::ArchivePlan plan;
    plan.sections.push_back({std::string("ctapi:") + CARD_CTAPI_DRIVER, {{"SectionName", "ctapisim"}}, true});
    eswtool::Block block;
    block.signers.push_back({std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.key",
                             std::string(QUARVEL_ARCHIVE_KEYS) + "/archive-root.crt"});
    plan.blocks.push_back(block);
    const std::string file = platform::mapPath("C:\\Quarvel\\ctapisim.esw");
    platform::makeDirectories(file.substr(0, file.rfind('/')));
    eswtool::writeFile(file, eswtool::buildArchive(plan));
    cardtest::setRegistryText(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, "ctapi", "ctapisim");
    cardtest::setRegistryText(HKEY_CURRENT_USER, CReaderFactory::kSettingsKey, "Port", "1");
  }

  // A new configuration file each time, so that the driver reads it again.
  void configure(const std::string& profile, const std::string& keypad) {
    static int generation = 0;
    const std::string path = dir_ + "/ctapi.conf";
    std::ofstream(path + ".new") << "log " << dir_ << "/calls.log\nterminal 1\n  card " << profile
                                 << "\n  keypad \"" << keypad << "\"\n# " << ++generation << "\n";
    std::rename((path + ".new").c_str(), path.c_str());
  }

  // The APDUs the card received (CT_data to destination 0), in order.
  std::vector<std::string> cardCommands() {
    std::ifstream in(dir_ + "/calls.log");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      if (line.find("CT_data") == std::string::npos || line.find(" dad=0 ") == std::string::npos) continue;
      const std::size_t at = line.find(" cmd=") + 5;
      out.push_back(line.substr(at, line.find(' ', at) - at));
    }
    return out;
  }

  std::string dir_;
};

TEST_F(CtApiCards, SignWithPinAndKeypadOnThreeCardTypes) {
  CReader* reader = CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  for (Type type : {Type::ASign, Type::Bank, Type::DTrust}) {
    const TypeInfo& t = kTypes[static_cast<int>(type)];
    configure(t.profile, type == Type::Bank ? "1 2 3 4 5 6" : "1 2 3 4 5 6 OK");
    ASSERT_EQ(reader->connect(0), 0) << t.profile;
    CSCard* card = reader->getCard();
    ASSERT_NE(card, nullptr);
    std::string name = typeid(*card).name();
    EXPECT_EQ(name.substr(name.find("CSCard")), t.className);
    for (bool keypad : {false, true}) {
      const std::string message = std::string("over CT-API to ") + t.profile;
      ASSERT_EQ(card->signInit(t.signKid, cardtest::signParameter(type, 2, false), 2), 0);
      ASSERT_EQ(card->signUpdate(message), 0);
      std::string signature;
      if (keypad)
        ASSERT_EQ(card->signFinal(t.signKid, signature, false), 0) << t.profile;
      else
        ASSERT_EQ(card->signFinal(t.signKid, t.signPin, signature, false), 0) << t.profile;
      const std::string hash = cardtest::digest(2, message);
      EXPECT_EQ(cardtest::recoverSigned(cardtest::certificate(t.signCert), signature), cardtest::digestInfo(2, hash))
          << t.profile;
      const std::vector<std::string> commands = cardCommands();
      ASSERT_FALSE(commands.empty());
      const std::string last = commands.back();
      if (type == Type::Bank) {
        EXPECT_EQ(last, "002A9E9A00");
        EXPECT_EQ(commands[commands.size() - (keypad ? 2 : 3)], "002A908120" + hex(hash));
      } else if (type == Type::DTrust) {
        EXPECT_EQ(last, "002A9E9A33" + hex(cardtest::digestInfo(2, hash)) + "00");
      } else {
        EXPECT_EQ(last, "002A9E9A20" + hex(hash) + "00");
      }
      if (!keypad) {
        EXPECT_EQ(commands[commands.size() - 2],
                  type == Type::ASign ? "002000810826123456FFFFFFFF" : "00200081083132333435360000");
      }
    }
    EXPECT_EQ(reader->disconnect(), 0);
  }
  // A card the lists do not know is not recognised at a CT-API terminal.
  cardtest::writeCardLists({});
  configure("ecardg4", "");
  EXPECT_EQ(reader->connect(0), static_cast<int>(0x80000008u));
  EXPECT_EQ(reader->getCard(), nullptr);
  // Released here, so that the terminal closes before the exit handlers run.
  EXPECT_EQ(CReaderFactory::releaseInstance(reader), 1);
}

}  // namespace
