// The CT-API driver, loaded with dlopen as a program loads a vendor's driver:
// CT-BCS terminal commands, keypad verification and the CT-API result codes.
#include "cardsim/bytes.h"
#include "cardsim/profile.h"
#include "quarvel_test.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using cardsim::Bytes;
using cardsim::fromHex;
using cardsim::toHex;

namespace {

using InitFn = signed char (*)(unsigned short, unsigned short);
using DataFn = signed char (*)(unsigned short, unsigned char*, unsigned char*, unsigned short, unsigned char*,
                               unsigned short*, unsigned char*);
using CloseFn = signed char (*)(unsigned short);
using CommandFn = int (*)(const char*);

constexpr unsigned char kIcc = 0, kCt = 1, kHost = 2;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// One copy of the driver under a file name of the test's choice.
class Driver {
 public:
  Driver(const std::string& dir, const std::string& fileName) {
    path_ = dir + "/" + fileName;
    std::filesystem::copy_file(CARDSIM_CTAPI_LIBRARY, path_, std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
    init = reinterpret_cast<InitFn>(dlsym(handle_, "CT_init"));
    data = reinterpret_cast<DataFn>(dlsym(handle_, "CT_data"));
    close = reinterpret_cast<CloseFn>(dlsym(handle_, "CT_close"));
    command = reinterpret_cast<CommandFn>(dlsym(handle_, "ctsim_command"));
  }
  ~Driver() {
    if (handle_) dlclose(handle_);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  InitFn init = nullptr;
  DataFn data = nullptr;
  CloseFn close = nullptr;
  CommandFn command = nullptr;

 private:
  std::string path_;
  void* handle_ = nullptr;
};

class CtApi : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = quarveltest::makeTempDirectory("ctapi");
    configPath_ = dir_ + "/ctapi.conf";
    logPath_ = dir_ + "/calls.log";
    writeConfig(
        "terminal 1\n"
        "  maker \"QUARVEL SIMCT 01\"\n"
        "  card asign\n"
        "  keypad \"123456 OK\"\n"
        "terminal 2\n"
        "  status bare\n"
        "  units 01\n"
        "  card bank\n"
        "  present no\n");
    setenv("QUARVEL_CTAPI_SIM_CONFIG", configPath_.c_str(), 1);
    driver_ = std::make_unique<Driver>(dir_, "ctapi-test.dll");
  }

  void writeConfig(const std::string& terminals) {
    // A new file each time, so the driver sees the change whatever the clock's resolution.
    std::string tmp = configPath_ + ".new";
    std::ofstream(tmp) << "log " << logPath_ << "\n" << terminals;
    std::filesystem::rename(tmp, configPath_);
    ++generation_;
    std::ofstream(configPath_, std::ios::app) << "# generation " << generation_ << "\n";
  }

  // CT_data with the reader's addressing; the answer or the result code.
  signed char send(unsigned short ctn, unsigned char dad, const std::string& hex, Bytes& answer,
                   unsigned short capacity = 300) {
    Bytes command = fromHex(hex);
    unsigned char d = dad, s = kHost;
    answer.assign(capacity, 0);
    unsigned short lenr = capacity;
    signed char rc = driver_->data(ctn, &d, &s, static_cast<unsigned short>(command.size()), command.data(), &lenr,
                                   answer.data());
    answer.resize(rc == 0 ? std::min<unsigned short>(lenr, capacity) : 0);
    if (rc == 0) {
      EXPECT_EQ(d, kHost) << hex;  // the answer comes back to the host
      EXPECT_EQ(s, dad) << hex;    // from the unit the command went to
    }
    return rc;
  }

  Bytes ok(unsigned short ctn, unsigned char dad, const std::string& hex) {
    Bytes answer;
    EXPECT_EQ(send(ctn, dad, hex, answer), 0) << hex;
    return answer;
  }

  std::string dir_, configPath_, logPath_;
  int generation_ = 0;
  std::unique_ptr<Driver> driver_;
};

Bytes atrOf(const std::string& profile) {
  return cardsim::CardProfile::load(cardsim::CardProfile::installedPath(profile)).atr;
}

const std::string kVerifyFormat2 = "2018010011" "520F0206" "0020008108" "20FFFFFFFFFFFFFF";

}  // namespace

TEST_F(CtApi, InitAndCloseFollowTheCtApiRules) {
  EXPECT_EQ(driver_->init(1, 1), 0);
  EXPECT_EQ(driver_->init(1, 2), -1);  // ctn already open
  EXPECT_EQ(driver_->init(2, 7), -8);  // no terminal at port 7
  Bytes answer;
  EXPECT_EQ(send(2, kCt, "20110000", answer), -1);  // ctn not open
  EXPECT_EQ(send(1, 5, "20110000", answer), -1);    // no unit at that address
  EXPECT_EQ(driver_->close(1), 0);
  EXPECT_EQ(driver_->close(1), -1);
  EXPECT_EQ(send(1, kCt, "20110000", answer), -1);
}

TEST_F(CtApi, RequestIccWithAndWithoutCardAndStatusInBothStyles) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  ASSERT_EQ(driver_->init(2, 2), 0);
  struct Row {
    unsigned short ctn;
    std::string command, answer;
  } rows[] = {
      {1, "20110000", "9000"},
      {1, "2013018000", "8001039000"},
      {1, "2012010100", toHex(atrOf("asign")) + "9001"},
      {1, "2012010100", "6201"},  // already active
      {1, "2013018000", "8001059000"},
      {1, "2011010100", toHex(atrOf("asign")) + "9001"},
      {1, "2013004600", "4610" + toHex(Bytes{'Q', 'U', 'A', 'R', 'V', 'E', 'L', ' ', 'S', 'I', 'M', 'C', 'T', ' ', '0', '1'}) + "9000"},
      {1, "2013008100", "8103014050" "9000"},
      {1, "20150104", "9000"},
      {1, "2013018000", "8001039000"},
      {2, "2012010100", "6200"},  // no card
      {2, "2011010100", "6400"},
      {2, "2013018000", "009000"},  // bare style
      {2, "2013008100", "8101019000"},
  };
  for (auto& row : rows) EXPECT_EQ(toHex(ok(row.ctn, kCt, row.command)), row.answer) << row.command;
}

TEST_F(CtApi, CardCommandsGoToDestinationZero) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  Bytes answer;
  EXPECT_EQ(send(1, kIcc, "00A4000C02DF01", answer), -10);  // card not activated yet
  ok(1, kCt, "2012010100");
  EXPECT_EQ(toHex(ok(1, kIcc, "00A4000C02DF01")), "9000");
  EXPECT_EQ(toHex(ok(1, kIcc, "00200081")), "63C3");
}

TEST_F(CtApi, AnswerLargerThanTheBufferIsErrMemory) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  Bytes answer;
  EXPECT_EQ(send(1, kCt, "2012010100", answer, 5), -11);
  EXPECT_EQ(send(1, kCt, "2013018000", answer, 5), 0);
}

TEST_F(CtApi, PerformVerificationWithTheScriptedKeypad) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  ok(1, kCt, "2012010100");
  struct Row {
    const char* keys;
    std::string command, answer;
  } rows[] = {
      {"111111 OK", kVerifyFormat2, "63C2"},
      {"123456 OK", kVerifyFormat2, "9000"},
      {"12 CANCEL", kVerifyFormat2, "6401"},
      {"12", kVerifyFormat2, "6400"},  // no OK: the terminal times out
      {"123456 OK", "201801001A" "520F0206" "0020008108" "20FFFFFFFFFFFFFF" "80011E" "5004" "50494E3F", "9000"},
  };
  for (auto& row : rows) {
    ASSERT_EQ(driver_->command((std::string("keypad 1 ") + row.keys).c_str()), 0);
    EXPECT_EQ(toHex(ok(1, kCt, row.command)), row.answer) << row.keys;
  }
  EXPECT_EQ(toHex(ok(1, kIcc, "00200081")), "9000");
}

TEST_F(CtApi, FixedLengthAsciiVerificationOnTheBankCard) {
  ASSERT_EQ(driver_->init(2, 2), 0);
  ASSERT_EQ(driver_->command("insert 2 bank"), 0);
  ok(2, kCt, "2012010100");
  ok(2, kIcc, "00A4040C07A0000001184543");
  ASSERT_EQ(driver_->command("keypad 2 1 2 3 4 5 6"), 0);  // ends itself after six digits
  EXPECT_EQ(toHex(ok(2, kCt, "2018010011" "520F6106" "0020008108" "0000000000000000")), "9000");
  EXPECT_EQ(toHex(ok(2, kIcc, "00200081")), "9000");
}

TEST_F(CtApi, ModifyVerificationChangesThePinOrReportsMismatch) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  ok(1, kCt, "2012010100");
  const std::string modify = "201901001A" "5218" "02060E" "0024008110" "26FFFFFFFFFFFFFF" "26FFFFFFFFFFFFFF";
  ASSERT_EQ(driver_->command("keypad 1 123456 OK 246810 OK 246811 OK"), 0);
  EXPECT_EQ(toHex(ok(1, kCt, modify)), "6402");
  ASSERT_EQ(driver_->command("keypad 1 123456 OK 246810 OK 246810 OK"), 0);
  EXPECT_EQ(toHex(ok(1, kCt, modify)), "9000");
  EXPECT_EQ(toHex(ok(1, kIcc, "002000810826246810FFFFFFFF")), "9000");
}

TEST_F(CtApi, ActivationPositionsFollowTheTerminalsCounting) {
  // A transport-state card; one terminal counts positions from 1, the other from 2.
  std::string profile = fileText(cardsim::CardProfile::installedPath("asign"));
  std::string keys = cardsim::CardProfile::installedPath("keys/x");
  keys = keys.substr(0, keys.size() - std::string("x.profile").size());
  for (std::string from : {"file=keys/", "cert:keys/"}) {
    std::string to = from.substr(0, from.size() - 5) + keys;
    for (auto p = profile.find(from); p != std::string::npos; p = profile.find(from, p + to.size()))
      profile.replace(p, from.size(), to);
  }
  const std::string pin = "pin 81 ";
  profile.insert(profile.find(pin) + pin.size(), "transport=yes ");
  std::ofstream(dir_ + "/transport.profile") << profile;
  writeConfig("terminal 1\n  card " + dir_ + "/transport.profile\n"
              "terminal 3\n  position-base 2\n  card " + dir_ + "/transport.profile\n");
  ASSERT_EQ(driver_->init(1, 1), 0);
  ASSERT_EQ(driver_->init(3, 3), 0);
  for (unsigned short ctn : {1, 3}) ok(ctn, kCt, "2012010100");
  driver_->command("keypad 1 246810 OK 246810 OK");
  driver_->command("keypad 3 135790 OK 135790 OK");
  EXPECT_EQ(toHex(ok(1, kCt, "2019010012" "5210" "020606" "0024018108" "24FFFFFFFFFFFFFF")), "9000");
  EXPECT_EQ(toHex(ok(3, kCt, "2019010012" "5210" "020707" "0024018108" "24FFFFFFFFFFFFFF")), "9000");
  EXPECT_EQ(toHex(ok(1, kIcc, "002000810826246810FFFFFFFF")), "9000");
  EXPECT_EQ(toHex(ok(3, kIcc, "002000810826135790FFFFFFFF")), "9000");
}

TEST_F(CtApi, ScriptedDriverFaults) {
  writeConfig("terminal 1\n  card asign\n  short-objects yes\n"
              "  fault \"call=2 result=-10\"\n  fault \"call=3 lenr=0\"\n  fault \"call=4 lenr=1\"\n");
  ASSERT_EQ(driver_->init(1, 1), 0);
  Bytes answer;
  EXPECT_EQ(toHex(ok(1, kCt, "2013004600")), "4614" + toHex(Bytes{'Q', 'U', 'A', 'R', 'V', 'E', 'L', ' ', 'S', 'I', 'M', 'C', 'T', ' ', '1'}) + "9000");
  EXPECT_EQ(send(1, kCt, "2013018000", answer), -10);
  EXPECT_EQ(ok(1, kCt, "2013018000").size(), 0u);
  EXPECT_EQ(ok(1, kCt, "2013018000").size(), 1u);
  EXPECT_EQ(ok(1, kCt, "2013018000").size(), 5u);
}

TEST_F(CtApi, ConfigurationChangesReachARunningDriver) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  EXPECT_EQ(toHex(ok(1, kCt, "2013018000")), "8001039000");
  writeConfig("terminal 1\n  card asign\n  present no\n  request-icc 6401\n");
  EXPECT_EQ(toHex(ok(1, kCt, "2013018000")), "8001009000");
  EXPECT_EQ(toHex(ok(1, kCt, "2012010100")), "6401");
}

TEST_F(CtApi, EachFileNameIsADriverOfItsOwn) {
  writeConfig("terminal 1 driver=ctapi-a.dll\n  maker A\n"
              "terminal 1 driver=ctapi-b.dll\n  maker B\n");
  Driver a(dir_, "ctapi-a.dll"), b(dir_, "ctapi-b.dll");
  ASSERT_EQ(a.init(1, 1), 0);
  ASSERT_EQ(b.init(1, 1), 0);  // the same ctn: a separate driver
  ASSERT_EQ(driver_->init(1, 1), -8);  // no terminal for "ctapi-test.dll"
  for (auto* d : {&a, &b}) {
    Bytes command = fromHex("2013004600"), answer(300);
    unsigned char dad = kCt, sad = kHost;
    unsigned short lenr = 300;
    ASSERT_EQ(d->data(1, &dad, &sad, 5, command.data(), &lenr, answer.data()), 0);
    answer.resize(lenr);
    EXPECT_EQ(toHex(answer), std::string("4601") + (d == &a ? "41" : "42") + "9000");
  }
}

TEST_F(CtApi, CallLogNamesEveryCall) {
  ASSERT_EQ(driver_->init(1, 1), 0);
  ok(1, kCt, "2013018000");
  ASSERT_EQ(driver_->close(1), 0);
  std::string log = fileText(logPath_);
  EXPECT_NE(log.find("ctapi-test.dll: CT_init ctn=1 pn=1 rc=0 tid="), std::string::npos) << log;
  EXPECT_NE(log.find("ctapi-test.dll: CT_data ctn=1 dad=1 sad=2 cmd=2013018000 rc=0 rsp=8001039000 tid="),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ctapi-test.dll: CT_close ctn=1 rc=0 tid="), std::string::npos) << log;
}
