// The reader, card and card-type natives from Java in the real VM (checked JNI):
// the program's own Java VM host in the test process, the Java road of
// qtest.CardRoad, simulated cards of the five card types behind the test's pcscd.
// One VM per process: each case runs in a process of its own, which the host ends
// with status 255 (ctest reads gtest's verdict).
#include "CardTestSupport.h"
#include "FoundationFixture.h"
#include "EswWriter.h"
#include "JvmFixture.h"
#include "cardsim/pcscbed.h"
#include "scan_test_support.h"

#include "host/jvm/CJVMFactory.h"
#include "host/jvm/natives/CardNatives.h"
#include "cardaccess/reader/PeerTable.h"
#include "foundation/base/CException.h"
#include "foundation/core/CdllFactory.h"

#include <new>
#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <map>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace ft = foundationtest;
namespace wt = platform::wintest;

namespace {

constexpr const char* kReader0 = "HKCU\\Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel\\Reader0";

const bool g_rootRemoved = (jvmtest::removeMachineRootAfterTests(), true);

std::vector<std::string> g_arguments;
std::vector<char*> g_argv;

// The machine with the card lists of the test bed's card types, and the host started.
class CardNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    jvmtest::Machine machine;
    for (const auto& value : cardtest::standardCardLists()) machine.program.push_back({value.first, value.second});
    machine.launcherJar = launcherJar();
    jvmtest::install(machine);
    ft::makeApplication();
    g_arguments = {"card_natives_test", jvmtest::javaLogPath()};
    for (std::string& a : g_arguments) g_argv.push_back(a.data());
    g_argv.push_back(nullptr);
    __argc = 2;
    __argv = g_argv.data();
  }
  virtual std::string launcherJar() const { return "launcher.jar"; }
  void TearDown() override { jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log"); }

  void configure(const std::string& readerName) {
    ft::setString(kReader0, "ctapi", "PCSC");
    ft::setString(kReader0, "ReaderName", readerName);
  }

  void start() {
    host = CJVMFactory::getInstance();
    host->startJVM();
    host->run();
    env = host->getEnv();
  }

  // A static String method of qtest.CardRoad, or of qtest.CardStress; its text,
  // nothing pending afterwards.
  std::string road(const char* method, const char* signature, ...) {
    va_list args;
    va_start(args, signature);
    std::string text = callStatic("qtest/CardRoad", method, signature, args);
    va_end(args);
    return text;
  }
  std::string stress(const char* method, const char* signature, ...) {
    va_list args;
    va_start(args, signature);
    std::string text = callStatic("qtest/CardStress", method, signature, args);
    va_end(args);
    return text;
  }
  std::string callStatic(const char* className, const char* method, const char* signature, va_list args) {
    jclass cls = host->getClass(className);
    if (cls == nullptr && host->findClass(className)) cls = host->getClass(className);
    EXPECT_NE(cls, nullptr);
    if (cls == nullptr) return "no class";
    jmethodID id = env->GetStaticMethodID(cls, method, signature);
    EXPECT_NE(id, nullptr) << method;
    if (id == nullptr) {
      env->ExceptionClear();
      return "no method";
    }
    auto text = static_cast<jstring>(env->CallStaticObjectMethodV(cls, id, args));
    if (env->ExceptionCheck()) {
      std::unique_ptr<char[]> thrown = host->getExceptionMessage();
      ADD_FAILURE() << method << " threw " << (thrown ? thrown.get() : "?");
      return "thrown";
    }
    std::string result;
    if (text != nullptr) {
      const char* chars = env->GetStringUTFChars(text, nullptr);
      result = chars;
      env->ReleaseStringUTFChars(text, chars);
      env->DeleteLocalRef(text);
    }
    return result;
  }

  jstring str(const std::string& text) { return env->NewStringUTF(text.c_str()); }
  jbyteArray array(const std::string& bytes) {
    jbyteArray a = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(a, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    return a;
  }

  CJVMFactory* host = nullptr;
  JNIEnv* env = nullptr;
};

std::string hexOf(const std::string& bytes) { return cardtest::hex(bytes); }

// The signature in a report of CardRoad.sign ("init 0", "signature <hex>"); empty when
// the report holds anything else.
std::string signatureOf(const std::string& report) {
  const std::string prefix = "init 0\nsignature ";
  if (report.rfind(prefix, 0) != 0 || report.find('!') != std::string::npos) return std::string();
  return cardtest::bytes(report.substr(prefix.size(), report.size() - prefix.size() - 1));
}

// The block the signature recovers to with the certificate's key: the DigestInfo of data
// as the card type signs it.
void expectSignedBy(const std::string& report, const std::string& certificate, cardtest::Type type, int algorithm,
                    const std::string& data) {
  const int digestAlgorithm = cardtest::signedPrefix(type, algorithm, false);
  EXPECT_EQ(cardtest::recoverSigned(certificate, signatureOf(report)),
            cardtest::digestInfo(digestAlgorithm, cardtest::digest(digestAlgorithm, data)))
      << report;
}

// Where each type keeps its signature certificate, and its Java class.
struct Road {
  cardtest::Type type;
  const char* javaClass;
  const char* directory;  // FIDs from the MF
};

const Road kRoads[] = {
    {cardtest::Type::ASign, "ASignPCS", "3F00DF01"}, {cardtest::Type::ECardG4, "ECardG4", "3F00DF01"},
    {cardtest::Type::ECardng, "ECardng", "3F00DF01"}, {cardtest::Type::DTrust, "DTrustCard", "3F005015"},
    {cardtest::Type::Bank, "BankCard", "3F001000"},
};

class EveryCardType : public CardNatives, public ::testing::WithParamInterface<Road> {};

TEST_P(EveryCardType, ReadsVerifiesSignsAndLetsGo) {
  const Road& r = GetParam();
  const cardtest::TypeInfo& type = cardtest::kTypes[static_cast<int>(r.type)];
  cardsim::PcscBed bed;
  constexpr std::size_t kPad = cardsim::PcscBed::kDirectPinPad;
  bed.insert(kPad, type.profile);
  configure(bed.name(kPad));
  start();

  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader PC/SC peer true");
  const std::string atr = hexOf(cardtest::fromSim(cardsim::CardProfile::load(
      cardsim::CardProfile::installedPath(type.profile)).atr));
  EXPECT_EQ(road("connect", "()Ljava/lang/String;"), std::string("card ") + r.javaClass + " atr " + atr);

  // The certificate, read to the end of its file in reads of 1500 bytes.
  const std::string certificate = cardtest::certificate(type.signCert);
  const std::string file = road("readFile", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                                str(r.directory), str("C000"));
  EXPECT_NE(file.find("select 0\nselect 0\ninfo 1 "), std::string::npos) << file;
  EXPECT_NE(file.find("content " + hexOf(certificate) + "\n"), std::string::npos) << file;
  EXPECT_NE(file.find("close 0\n! 8000000b SCard::getFileInfo: FileInfo not found for handle\n"), std::string::npos)
      << file;

  // A record file: read takes the current record whole (READ RECORD with P2 04, not
  // the count 1500 as P2, which would name another file). readlen hands its count to
  // the card as P2 and takes the record whole: 4 names the current record, 3 (the
  // previous record) is refused unsent.
  if (cardtest::isMSE(r.type)) {
    const std::size_t mark = bed.reader(kPad).cardLog().size();
    EXPECT_EQ(road("readRecords", "(Ljava/lang/String;I)Ljava/lang/String;", str("5031"), 3),
              "read A00A300804062A8648CE3D0301\nreadlen ! 80000001 SCard::read.\nreadlen A1033001FF\n");
    std::vector<std::string> records;
    const auto log = bed.reader(kPad).cardLog();
    for (std::size_t i = mark; i < log.size(); ++i) {
      const std::string command = cardsim::toHex(log[i].command);
      if (command.rfind("00B2", 0) == 0) records.push_back(command);
    }
    EXPECT_EQ(records, (std::vector<std::string>{"00B2010400", "00B2020400"}));
  }

  // A wrong PIN counts down and the status query sees it; the right one restores it.
  // The D-Trust and bank card types send the empty PIN padded, so their status query
  // spends a try: it is left out there.
  const bool query = cardtest::isMSE(r.type);
  const std::string pins = road("pins", "(ILjava/lang/String;Ljava/lang/String;Z)Ljava/lang/String;", type.signKid,
                                str(hexOf(type.signPin)), str(hexOf("999999")), query ? JNI_TRUE : JNI_FALSE);
  EXPECT_EQ(pins, query ? "fbz 80020003\nwrong 80020002\nfbz 80020002\nright 0\nfbz 0\n" : "wrong 80020002\nright 0\n");

  // A signature over 2500 bytes given in chunks: a wrong PIN raises, the right one signs.
  const std::string data(2500, 'q');
  const int algorithm = 2;
  jbyteArray javaData = array(data);
  const std::string parameter = hexOf(cardtest::signParameter(r.type, algorithm, false));
  const char* signSignature = "(ILjava/lang/String;I[BLjava/lang/String;)Ljava/lang/String;";
  EXPECT_EQ(road("sign", signSignature, type.signKid, str(parameter), algorithm, javaData, str(hexOf("999999"))),
            "init 0\nsignature ! 80020002 SCard::signFinal.\n");
  expectSignedBy(road("sign", signSignature, type.signKid, str(parameter), algorithm, javaData, str(hexOf(type.signPin))),
                 certificate, r.type, algorithm, data);
  // The PIN typed on the reader's pad (a bank card's pad ends the entry by itself).
  bed.reader(kPad).setKeypad(r.type == cardtest::Type::Bank ? type.signPin : std::string(type.signPin) + " OK");
  expectSignedBy(road("sign", signSignature, type.signKid, str(parameter), algorithm, javaData, nullptr), certificate,
                 r.type, algorithm, data);

  // No card type gives its public key.
  EXPECT_EQ(road("publicKey", "(I)Ljava/lang/String;", type.signKid), "key ! 80000001 SCard::getPublicKey");

  // Unblocking: the PUK form sets a new PIN (both packed digits); the bank card's form
  // sends the code's characters alone, padded to 8 bytes. The D-Trust card's Java class
  // has no unblocking native.
  const char* unblock = "(ILjava/lang/String;Ljava/lang/String;)Ljava/lang/String;";
  if (cardtest::isMSE(r.type)) {
    EXPECT_EQ(road("unblock", unblock, type.signKid, str("12345678"), str("654321")), "unblock 0");
    EXPECT_EQ(road("pins", "(ILjava/lang/String;Ljava/lang/String;Z)Ljava/lang/String;", type.signKid,
                   str(hexOf("654321")), str(hexOf(type.signPin)), JNI_FALSE),
              "wrong 80020002\nright 0\n");
  } else if (r.type == cardtest::Type::Bank) {
    EXPECT_EQ(road("unblock", unblock, type.signKid, str(hexOf("876543")), nullptr), "unblock 80020009");
    const auto log = bed.reader(kPad).cardLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(cardsim::toHex(log.back().command), "002C018108" + hexOf("876543") + "0000");
    EXPECT_EQ(road("unblock", unblock, type.signKid, str(hexOf("87654321")), nullptr), "unblock 0");
  }

  // An ASignPCS object given a bank card's peer: no PUK form, not a crash.
  if (r.type == cardtest::Type::Bank) {
    EXPECT_EQ(road("foreignPeer", "()Ljava/lang/String;"), "unblockPIN 80000001\nisACOS04 true\n");
  }

  // Released twice: 1, then 0; the old objects have no peer any more.
  EXPECT_EQ(road("release", "()Ljava/lang/String;"),
            "release 1 0\nreader 8000000b\ncard 8000000b\n! 8000000b SCard::getATR: No Peer found.\n"
            "none 80000001 80000001\n");
}

INSTANTIATE_TEST_SUITE_P(Types, EveryCardType, ::testing::ValuesIn(kRoads),
                         [](const ::testing::TestParamInfo<Road>& info) { return std::string(info.param.javaClass); });

// Every reader and card native on an object whose peer is 0, or an id that names
// nothing: the no-peer code or exception, nothing touched.
TEST_F(CardNatives, NoPeerTableOverEveryNative) {
  start();
  const std::string expected =
      "connect ! 8000000b Reader::connect: No Peer found.\n"
      "disconnect 8000000b\n"
      "getName ! 8000000b Reader::getName: No Peer found.\n"
      "getStatus 8000000b\n"
      "shallUseGUI ! 8000000b Reader::shallUseGUI: No Peer found.\n"
      "modifyVerification 8000000b\n"
      "performVerification 8000000b\n"
      "performVerification_EXT 0\n"
      "isSecure ! 8000000b Reader::isSecure: No Peer found.\n"
      "reset ! 8000000b Reader::reset: No Peer found.\n"
      "activateVerification 8000000b\n"
      "getCTAPIName ! 8000000b Reader::getCTAPIName: No Peer found.\n"
      "activateVerification_KOBIL 8000000b\n"
      "changeDirectory 8000000b\n"
      "abort 8000000b\n"
      "signInit 8000000b\n"
      "signUpdate 8000000b\n"
      "signFinal ! 8000000b SCard::signFinal: No Peer found.\n"
      "open ! 8000000b SCard::open: No Peer found.\n"
      "read ! 8000000b SCard::read: No Peer found.\n"
      "close 8000000b\n"
      "write 8000000b\n"
      "changeDirectoryWithFID 8000000b\n"
      "getCIN ! 8000000b SCard::getCIN: No Peer found.\n"
      "getPublicKey ! 8000000b SCard::getPublicKey: No Peer found.\n"
      "verifyPIN 8000000b\n"
      "readlen ! 8000000b SCard::read: No Peer found.\n"
      "getATR ! 8000000b SCard::getATR: No Peer found.\n"
      "getFBZ 8000000b\n"
      "activatePIN 8000000b\n"
      "getFileInfo ! 8000000b SCard::getFileInfo: No Peer found.\n"
      "signFinal_PIN ! 8000000b SCard::signFinal: No Peer found.\n"
      "directIO ! 8000000b SCard::directIO: No Peer found.\n"
      "changeReferenceData 8000000b\n"
      "getHashAlg 8000000b\n"
      "changeDirectoryPath 8000000b\n"
      "decryptInit 8000000b\n"
      "decryptFinal ! 8000000b SCard::decryptFinal: No Peer found.\n"
      "decryptFinal_PIN ! 8000000b SCard::decryptFinal: No Peer found.\n"
      "unblockPIN 8000000b\n"
      "isACOS04 false\n"
      "unblockPIN2 8000000b\n";
  for (int peer : {0, 0x7FFF0000, -5}) EXPECT_EQ(road("noPeer", "(I)Ljava/lang/String;", peer), expected) << peer;

  // A receiver whose class has no peer field at all, called directly: its
  // NoSuchFieldError is cleared, the native's own answer reaches the caller.
  jclass objectClass = env->FindClass("java/lang/Object");
  jobject plain = env->AllocObject(objectClass);
  const NativeTable table = sCardNatives();
  auto find = [&](const char* name) {
    for (jint i = 0; i < table.count; ++i)
      if (std::string(table.methods[i].name) == name) return table.methods[i].fnPtr;
    return static_cast<void*>(nullptr);
  };
  auto getFBZ = reinterpret_cast<jint (*)(JNIEnv*, jobject, jint)>(find("getFBZ"));
  EXPECT_EQ(getFBZ(env, plain, 1), static_cast<jint>(0x8000000bu));
  EXPECT_FALSE(env->ExceptionCheck());
  auto read = reinterpret_cast<jbyteArray (*)(JNIEnv*, jobject, jint)>(find("read"));
  EXPECT_EQ(read(env, plain, 0), nullptr);
  std::unique_ptr<char[]> thrown = host->getExceptionMessage();
  ASSERT_NE(thrown, nullptr);
  EXPECT_STREQ(thrown.get(), "at.Quarvel.util.jni.CardAdminException: SCard::read: No Peer found.");
  env->DeleteLocalRef(plain);
  env->DeleteLocalRef(objectClass);
}

// No reader configured: the question, and the user's answers.
TEST_F(CardNatives, NoReaderConfiguredTheUserAnswersNo) {
  start();
  wt::clearMessageBoxes();
  wt::queueMessageBoxAnswer(IDNO);
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader null");
  const auto boxes = wt::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text,
            "Es wurde kein geeigneter Kartenleser gefunden. Wollen Sie einen Kartenleser konfigurieren ?");
  EXPECT_EQ(boxes[0].caption, "Information");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
}

TEST_F(CardNatives, NoReaderConfiguredTheUserCancelsTheSelection) {
  cardsim::PcscBed bed;
  start();
  wt::clearMessageBoxes();
  wt::queueMessageBoxAnswer(IDYES);  // nobody at the selection: it is cancelled
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader null");
  EXPECT_EQ(wt::messageBoxes().size(), 1u);
}

TEST_F(CardNatives, NoReaderConfiguredTheUserChoosesOne) {
  cardsim::PcscBed bed;
  bed.insert(cardsim::PcscBed::kPlain, "ecardg4");
  start();
  wt::clearMessageBoxes();
  wt::queueMessageBoxAnswer(IDYES);
  scantest::DialogUser::willAttend();
  const std::string name = bed.name(cardsim::PcscBed::kPlain);
  std::thread person([&] {
    scantest::DialogUser user;
    if (user.waitForDialog() == nullptr) return;
    const int row = user.row(name);
    if (row < 0) return user.press(IDCANCEL);
    user.tick(row);
    user.apply();
    user.press(IDOK);
  });
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader PC/SC peer true");
  person.join();
  EXPECT_EQ(wt::messageBoxes().size(), 1u);  // asked once
  EXPECT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ECardG4 atr ", 0), 0u);
}

// The PIN typed on the reader's pad; the unblocking code; a peer in the wrong class.
TEST_F(CardNatives, PinPadSignatureAndUnblocking) {
  cardsim::PcscBed bed;
  bed.insert(cardsim::PcscBed::kDirectPinPad, "asign");
  bed.reader(cardsim::PcscBed::kDirectPinPad).setKeypad("123456 OK");
  configure(bed.name(cardsim::PcscBed::kDirectPinPad));
  start();
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader PC/SC peer true");
  ASSERT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ASignPCS ", 0), 0u);

  const std::string data = "signed on the pad";
  const std::string parameter = hexOf(cardtest::signParameter(cardtest::Type::ASign, 2, false));
  expectSignedBy(road("sign", "(ILjava/lang/String;I[BLjava/lang/String;)Ljava/lang/String;", 0x81, str(parameter), 2,
                      array(data), nullptr),
                 cardtest::certificate("asign-sig"), cardtest::Type::ASign, 2, data);

  // Three wrong PINs block it (the card layer's code for a blocked PIN): the right one no
  // longer signs.
  EXPECT_EQ(road("block", "(ILjava/lang/String;)Ljava/lang/String;", 0x81, str(hexOf("999999"))),
            "wrong 80020002\nwrong 80020001\nwrong 80020300\nfbz 80020300\n");
  EXPECT_EQ(road("sign", "(ILjava/lang/String;I[BLjava/lang/String;)Ljava/lang/String;", 0x81, str(parameter), 2,
                 array(data), str(hexOf("123456"))),
            "init 0\nsignature ! 80020300 SCard::signFinal.\n");
  // The PUK form: a wrong code counts down its own counter, the right one sets the new PIN.
  const char* unblock = "(ILjava/lang/String;Ljava/lang/String;)Ljava/lang/String;";
  EXPECT_EQ(road("unblock", unblock, 0x81, str("87654321"), str("654321")), "unblock 80020009");
  EXPECT_EQ(road("unblock", unblock, 0x81, str("12345678"), str("654321")), "unblock 0");
  EXPECT_EQ(road("pins", "(ILjava/lang/String;Ljava/lang/String;Z)Ljava/lang/String;", 0x81,
                 str(hexOf("654321")), str(hexOf("999999")), JNI_TRUE),
            "fbz 80020003\nwrong 80020002\nfbz 80020002\nright 0\nfbz 0\n");
  // A BankCard object given this card's peer is no bank card.
  EXPECT_EQ(road("foreignPeer", "()Ljava/lang/String;"), "unblockPIN 0\nisACOS04 false\n");
}

// A plain reader: no secure PIN entry, so the pad's natives refuse; connect without a
// card and with a card that recognition does not know; peers of the other kind; card
// objects kept across reset and disconnect.
TEST_F(CardNatives, PlainReaderConnectTableAndForwardingNatives) {
  cardsim::PcscBed bed;
  constexpr std::size_t kPlain = cardsim::PcscBed::kPlain;
  configure(bed.name(kPlain));
  start();
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader PC/SC peer true");
  EXPECT_EQ(road("connect", "()Ljava/lang/String;"), "card ! 8010000c Reader::connect: keine Karte.");
  bed.insert(kPlain, "trustsign");  // a card type of the plug-in only
  EXPECT_EQ(road("connect", "()Ljava/lang/String;"), "card ! 80100069 Reader::connect: keine Karte.");
  bed.remove(kPlain);
  bed.insert(kPlain, "ecardng");
  ASSERT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ECardng ", 0), 0u);
  EXPECT_EQ(road("crossed", "()Ljava/lang/String;"), "card 8000000b\nreader 8000000b\n");
  // getCTAPIName names the PC/SC reader in use.
  EXPECT_EQ(road("readerRows", "()Ljava/lang/String;"),
            "getName PC/SC\n"
            "getCTAPIName " + bed.name(kPlain) + "\n"
            "isSecure false\n"
            "shallUseGUI true\n"
            "performVerification 80000006\n"
            "performVerification_EXT 0\n"
            "activateVerification 80000001\n"
            "activateVerification_KOBIL 80000001\n");
  EXPECT_EQ(road("stale", "()Ljava/lang/String;"),
            "before 2\n"
            "reset 0\n"
            "after reset 8000000b\n"
            "after reset ! 8000000b SCard::getATR: No Peer found.\n"
            "disconnect 0\n"
            "after disconnect 8000000b\n"
            "after disconnect ! 8000000b SCard::read: No Peer found.\n");
}

// The file table and positioned writes, raw commands, abort from a second Java
// thread during a slow read, and a card pulled during the signature.
TEST_F(CardNatives, FilesAbortAndAPulledCard) {
  cardsim::PcscBed bed;
  constexpr std::size_t kPlain = cardsim::PcscBed::kPlain;
  bed.insert(kPlain, cardtest::profile("asign", "ef 3F00/DF01/5040 transparent size=16 update=always\n"
                                                "ef 3F00/DF01/5050 cyclic record=hex:0102"));
  configure(bed.name(kPlain));
  start();
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader PC/SC peer true");
  ASSERT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ASignPCS ", 0), 0u);

  const std::size_t before = bed.reader(kPlain).cardLog().size();
  EXPECT_EQ(road("files", "(Ljava/lang/String;)Ljava/lang/String;", str("3F00DF01")),
            "open 0 1 0\n"
            "open 5040 2 type 1 size 16\n"
            "write at 4 3\n"
            "write at 14 1\n"
            "close 0\n"
            "read back 3: 0 bytes, then 00000000A1A2A300000000000000B100\n"
            "write cyclic 80040002\n"
            "write not open 80000001\n"
            "open missing ! 80016a82 SCard::open.\n"
            "select 3 bytes 80000001\n"
            "directIO 9000\n"
            "getPublicKey ! 80000001 SCard::getPublicKey\n"
            "close 0\n"
            "info ! 8000000b SCard::getFileInfo: FileInfo not found for handle\n");
  // Exactly the two writes went to the card as UPDATE BINARY, and no SELECT of 3 bytes.
  std::vector<std::string> updates;
  const auto log = bed.reader(kPlain).cardLog();
  for (std::size_t i = before; i < log.size(); ++i) {
    const std::string command = cardsim::toHex(log[i].command);
    if (command.rfind("00D6", 0) == 0) updates.push_back(command);
    EXPECT_EQ(command.find("3F0001"), std::string::npos) << command;
  }
  EXPECT_EQ(updates, (std::vector<std::string>{"00D6000403A1A2A3", "00D6000E01B1"}));

  // The certificate's read needs several chunks; its first chunk's command waits at the
  // reader until abort came from the test's Java thread, so the read is surely under way
  // when it is aborted and surely not yet done.
  cardsim::SimReader::Hold firstChunk = bed.reader(kPlain).hold(cardsim::fromHex("00B0"));
  ASSERT_EQ(road("startRead", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", str("3F00DF01"),
                 str("C000")).rfind("reading ", 0),
            0u);
  ASSERT_TRUE(firstChunk.waitArrived());
  EXPECT_EQ(road("abortRead", "()Ljava/lang/String;"), "abort 0\n");
  firstChunk.release();
  EXPECT_EQ(road("abortedRead", "()Ljava/lang/String;"),
            "running ! 80000006 SCard::read.\n"
            "later read ! 80000006 SCard::read.\n"
            "later readlen ! 80000006 SCard::read.\n");

  // A new card object; the card is pulled during the signature command.
  ASSERT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ASignPCS ", 0), 0u);
  EXPECT_EQ(road("directIO", "(Ljava/lang/String;)Ljava/lang/String;", str("00A4000C023F00")), "directIO 9000");
  bed.reader(kPlain).withCard([](cardsim::Card& c) { c.addFault(cardsim::FaultRule::parse("match=002A remove")); });
  const std::string parameter = hexOf(cardtest::signParameter(cardtest::Type::ASign, 2, false));
  const std::string pulled = road("sign", "(ILjava/lang/String;I[BLjava/lang/String;)Ljava/lang/String;", 0x81,
                                  str(parameter), 2, array("pulled"), str(hexOf("123456")));
  EXPECT_TRUE(std::regex_match(pulled, std::regex("init 0\nsignature ! 8003[0-9a-f]{4} SCard::signFinal\\.\n")))
      << pulled;
  EXPECT_EQ(road("directIO", "(Ljava/lang/String;)Ljava/lang/String;", str("00A4000C023F00")), "directIO null");
}

// The test bed's CT-API driver installed as a vendor's: its file named by the signed
// archive ctsim.esw in the installation directory; terminals from its configuration.
class CtapiDriver {
 public:
  CtapiDriver() {
    eswtool::writeFile(jvmtest::installDir() + "/ctsim.esw",
                       ft::signedArchive({eswtool::Section{std::string("ctapi:") + CARDSIM_CTAPI_LIBRARY,
                                                           {{"SectionName", "ctsim"}}, true}}));
    m_config = jvmtest::qtestDir() + "/ctapi.conf";
    std::filesystem::create_directories(jvmtest::qtestDir());
    setenv("QUARVEL_CTAPI_SIM_CONFIG", m_config.c_str(), 1);
    ft::setString(kReader0, "ctapi", "ctsim");
    ft::setString(kReader0, "Port", "1");
  }
  // A new file each time, so that the driver reads it again whatever the clock.
  void configure(const std::string& terminals) {
    {
      std::ofstream out(m_config + ".new");
      out << terminals << "\n# " << ++m_generation << "\n";
    }
    std::rename((m_config + ".new").c_str(), m_config.c_str());
  }
  // Scripts the keypad of terminal 1 through the driver's own control entry.
  void keypad(const std::string& keys) {
    using Command = int (*)(const char*);
    auto command =
        reinterpret_cast<Command>(CdllFactory::getInstance()->getFunction("ctsim", "ctsim_command", "Normal"));
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command(("keypad 1 " + keys).c_str()), 0);
  }

 private:
  std::string m_config;
  int m_generation = 0;
};

// A CT-API terminal with a keypad: its name, a card that recognition does not know
// (the CT-API reader's own code), then a card signing with the PIN typed on the keypad.
TEST_F(CardNatives, CtApiTerminal) {
  CtapiDriver driver;
  driver.configure("terminal 1\n  card trustsign\n");
  start();
  EXPECT_EQ(road("getReader", "()Ljava/lang/String;"), "reader Reader peer true");
  EXPECT_EQ(road("connect", "()Ljava/lang/String;"), "card ! 80000008 Reader::connect: keine Karte.");
  driver.configure("terminal 1\n  card asign\n  keypad \"123456 OK\"\n");
  ASSERT_EQ(road("connect", "()Ljava/lang/String;").rfind("card ASignPCS atr ", 0), 0u);
  EXPECT_EQ(road("readerRows", "()Ljava/lang/String;"),
            "getName Reader\n"
            "getCTAPIName ctsim\n"
            "isSecure true\n"
            "shallUseGUI true\n"
            "performVerification 0\n"
            "performVerification_EXT 80036400\n"
            "activateVerification 80020200\n"
            "activateVerification_KOBIL 80020200\n");
  driver.keypad("123456 OK");
  const std::string data = "signed on the terminal";
  const std::string parameter = hexOf(cardtest::signParameter(cardtest::Type::ASign, 2, false));
  expectSignedBy(road("sign", "(ILjava/lang/String;I[BLjava/lang/String;)Ljava/lang/String;", 0x81, str(parameter), 2,
                      array(data), nullptr),
                 cardtest::certificate("asign-sig"), cardtest::Type::ASign, 2, data);
}

// The Java side's SCard lacks getHashAlg, the 22nd native of the table: the VM binds the
// entries before it and stops there, the error's stack trace reaches System.err, and the
// classes registered after SCard still get their natives.
class ShortSCard : public CardNatives {
 protected:
  std::string launcherJar() const override { return "launcher-scard-missing.jar"; }
};

TEST_F(ShortSCard, RegistrationStopsAtTheMissingMethodAndGoesOn) {
  // Until the launcher routes it to the Java log, System.err is the process's standard
  // error: kept in a file while the VM starts.
  const std::string errPath = jvmtest::qtestDir() + "/stderr.txt";
  const int saved = ::dup(2);
  const int file = ::open(errPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  ::dup2(file, 2);
  ::close(file);
  start();
  ::dup2(saved, 2);
  ::close(saved);
  const std::string systemErr = jvmtest::readFile(errPath);
  EXPECT_NE(systemErr.find("java.lang.NoSuchMethodError: Method at.Quarvel.util.jni.SCard.getHashAlg()I not found"),
            std::string::npos)
      << systemErr;
  jvmtest::expectCleanJni(systemErr, "stderr");

  auto call = [&](const char* className, const char* method, const char* signature, auto... args) {
    jclass cls = host->getClass(className);
    if (cls == nullptr && host->findClass(className)) cls = host->getClass(className);
    if (cls == nullptr) return std::string("no class");
    jobject object = env->NewObject(cls, env->GetMethodID(cls, "<init>", "()V"));
    jmethodID id = env->GetMethodID(cls, method, signature);
    const jint result = env->CallIntMethod(object, id, args...);
    env->DeleteLocalRef(object);
    if (!env->ExceptionCheck()) return std::to_string(static_cast<unsigned>(result));
    std::unique_ptr<char[]> thrown = host->getExceptionMessage();
    return std::string(thrown ? thrown.get() : "?");
  };
  const std::string noPeer = std::to_string(0x8000000bu);
  EXPECT_EQ(call("at/Quarvel/util/jni/SCard", "getFBZ", "(I)I", 1), noPeer);  // the 16th: bound
  EXPECT_EQ(call("at/Quarvel/util/jni/SCard", "decryptInit", "(I[B)I", 1, nullptr),
            "java.lang.UnsatisfiedLinkError: 'int at.Quarvel.util.jni.SCard.decryptInit(int, byte[])'");
  EXPECT_EQ(call("at/Quarvel/util/jni/TrustSign", "unblockPIN", "(I[B[B)I", 1, nullptr, nullptr), noPeer);
}

// What the stub card and reader below do in each operation: throw one of three kinds,
// or answer the code.
enum class Throw { kNothing, kCException, kBadAlloc, kOther };

int answerOrThrow(Throw what, int code) {
  switch (what) {
    case Throw::kCException: throw VOQ::CException("stub", "thrown.\n");
    case Throw::kBadAlloc: throw std::bad_alloc();
    case Throw::kOther: throw 42;
    case Throw::kNothing: break;
  }
  return code;
}

// A card whose operations throw what the test asks for, or answer `code`. Its channel
// answers from a script (nothing: a transport failure) and records what it was sent.
class ThrowingCard : public CSCard {
 public:
  explicit ThrowingCard(CICC_base* channel) : CSCard(channel, nullptr, "", 2) {}
  Throw what = Throw::kNothing;
  int code = 0;

  int answer() const { return answerOrThrow(what, code); }
  int open(const CFID&) override { return answer(); }
  int read(int, std::string& out, int) override { return out = "ab", answer() ? 0 : 2; }
  int signInit(int, std::string, int) override { return answer(); }
  int signUpdate(const std::string&) override { return answer(); }
  int signFinal(int, const std::string&, std::string& out, bool) override { return out = "sig", answer(); }
  int signFinal(int, std::string& out, bool) override { return out = "sig", answer(); }
  int verifyPIN(int, const std::string&, int) override { return answer(); }
  int decryptInit(int, std::string) override { return answer(); }
  int decryptFinal(int, const std::string&, const std::string&, std::string& out) override { return out = "p", answer(); }
  int decryptFinal(int, const std::string&, std::string& out) override { return out = "p", answer(); }
  int changeReferenceData(int, const std::string&, const std::string&, int) override { return answer(); }
  int getCIN(char* out, std::size_t) override { return std::strcpy(out, "12"), answer(); }
  int getPublicKey(int, std::string& m, std::string& e) override { return m = "m", e = "e", answer(); }
  int emptyOperation(int, int, int) override { return answer(); }
  int activatePIN(int, const std::string&, int) override { return answer(); }
};

// A reader whose operations throw what the test asks for, or answer 0. Its names are
// not valid UTF-8 (the ANSI code page), as a driver or firmware may give them.
class ThrowingReader : public CReader {
 public:
  ThrowingReader() : CReader("ctapi\xFF", 1, "Leser \xE4\xFF", 1, 0) {}
  Throw what = Throw::kNothing;
  int getCT(std::string& out) override { return out = "stub", 0; }
  int connect(int) override { return answerOrThrow(what, 0); }
  int disconnect() override { return answerOrThrow(what, 0); }
  int getStatus(int) override { return answerOrThrow(what, 0); }
  int reset(bool) override { return answerOrThrow(what, 0); }
  int performVerification(unsigned char, int, int, int, unsigned char, const std::string*, const std::string*,
                          int* status) override {
    if (status) *status = 0x9000;
    return answerOrThrow(what, 0);
  }
  int modifyVerification(unsigned char, int, int) override { return answerOrThrow(what, 0); }
  int activateVerification(unsigned char, int, int) override { return answerOrThrow(what, 0); }
  int activateVerification_KOBIL(unsigned char, int, int) override { return answerOrThrow(what, 0); }
};

// Makes the N-th GetByteArrayElements of this thread fail as the VM does when memory
// runs out (an OutOfMemoryError pending, NULL), and counts Get and Release. The
// thread's own function table is swapped while it is in place.
class FailingArrays {
 public:
  FailingArrays(JNIEnv* env, int failAt) : m_env(env) {
    s_real = env->functions;
    s_table = *env->functions;
    s_table.GetByteArrayElements = &get;
    s_table.ReleaseByteArrayElements = &release;
    s_failAt = failAt;
    s_calls = s_gets = s_releases = 0;
    env->functions = &s_table;
  }
  ~FailingArrays() { m_env->functions = s_real; }
  static int gets() { return s_gets; }
  static int releases() { return s_releases; }
  static int calls() { return s_calls; }

 private:
  static jbyte* JNICALL get(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    if (++s_calls == s_failAt) {
      jclass oom = s_real->FindClass(env, "java/lang/OutOfMemoryError");
      s_real->ThrowNew(env, oom, "injected");
      s_real->DeleteLocalRef(env, oom);
      return nullptr;
    }
    jbyte* elements = s_real->GetByteArrayElements(env, array, isCopy);
    if (elements != nullptr) ++s_gets;
    return elements;
  }
  static void JNICALL release(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode) {
    ++s_releases;
    s_real->ReleaseByteArrayElements(env, array, elements, mode);
  }

  JNIEnv* m_env;
  static inline const JNINativeInterface_* s_real = nullptr;
  static inline JNINativeInterface_ s_table{};
  static inline int s_failAt = 0, s_calls = 0, s_gets = 0, s_releases = 0;
};

class DirectCalls : public CardNatives {
 protected:
  void SetUp() override {
    CardNatives::SetUp();
    start();
    receiver = withPeer("at/Quarvel/util/jni/BankCard", peers::idOf(&card, sharedReader));
    readerReceiver = withPeer("at/Quarvel/util/jni/Reader", peers::idOf(sharedReader));
    two = array(std::string("\x3F\x00", 2));
  }
  jobject withPeer(const char* className, int peer) {
    jclass cls = env->FindClass(className);
    jobject object = env->AllocObject(cls);
    env->SetIntField(object, env->GetFieldID(cls, "peer", "I"), peer);
    env->DeleteLocalRef(cls);
    return object;
  }
  void* native(NativeTable table, const char* name, const char* signature) {
    for (jint i = 0; i < table.count; ++i)
      if (std::string(table.methods[i].name) == name && std::string(table.methods[i].signature) == signature)
        return table.methods[i].fnPtr;
    ADD_FAILURE() << name;
    return nullptr;
  }
  template <class R, class... A>
  R callOn(jobject self, NativeTable table, const char* name, const char* signature, A... args) {
    return reinterpret_cast<R (*)(JNIEnv*, jobject, A...)>(native(table, name, signature))(env, self, args...);
  }
  template <class R, class... A>
  R call(NativeTable table, const char* name, const char* signature, A... args) {
    return callOn<R>(receiver, table, name, signature, args...);
  }
  // The pending exception, cleared: a CardAdminException as "! code message", another
  // as its class's name; "" when none is pending.
  std::string pending() {
    if (!env->ExceptionCheck()) return "";
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass admin = env->FindClass("at/Quarvel/util/jni/CardAdminException");
    std::string text = "another throwable";
    if (env->IsInstanceOf(thrown, admin)) {
      char code[16];
      std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(env->GetIntField(thrown, env->GetFieldID(admin, "code", "I"))));
      auto message = static_cast<jstring>(
          env->CallObjectMethod(thrown, env->GetMethodID(admin, "getMessage", "()Ljava/lang/String;")));
      if (env->ExceptionCheck()) env->ExceptionClear();
      const char* chars = env->GetStringUTFChars(message, nullptr);
      text = std::string("! ") + code + " " + chars;
      env->ReleaseStringUTFChars(message, chars);
      env->DeleteLocalRef(message);
    }
    env->DeleteLocalRef(admin);
    env->DeleteLocalRef(thrown);
    return text;
  }

  cardtest::ScriptChannel channel;
  ThrowingCard card{&channel};
  ThrowingReader reader;
  // The test owns both: the table's entries hold the reader without deleting it.
  std::shared_ptr<CReader> sharedReader{&reader, [](CReader*) {}};
  jobject receiver = nullptr;        // a BankCard naming `card`
  jobject readerReceiver = nullptr;  // a Reader naming `reader`
  jbyteArray two = nullptr;
};

// Each array native with its first, then its second array unobtainable: its code,
// or null without an exception of its own; every element buffer it got given back.
TEST_F(DirectCalls, ArraysThatCannotBeHad) {
  const NativeTable s = sCardNatives();
  struct Row {
    const char* name;
    int arrays;
    std::function<jint()> callInt;           // int natives: the code
    std::function<jobject()> callObject;     // object natives: null expected
    jint expected;
  };
  const std::vector<Row> rows = {
      {"changeDirectory", 1, [&] { return call<jint>(s, "changeDirectory", "([B)I", two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"signInit", 1, [&] { return call<jint>(s, "signInit", "(I[BI)I", 1, two, 2); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"signUpdate", 1, [&] { return call<jint>(s, "signUpdate", "([B)I", two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"open", 1, [&] { return call<jint>(s, "open", "([B)I", two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"write", 1, [&] { return call<jint>(s, "write", "(I[BI)I", 0, two, 0); }, nullptr, static_cast<jint>(0x80000001u)},
      {"changeDirectoryWithFID", 1, [&] { return call<jint>(s, "changeDirectoryWithFID", "([B)I", two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"verifyPIN", 1, [&] { return call<jint>(s, "verifyPIN", "(I[B)I", 1, two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"activatePIN", 1, [&] { return call<jint>(s, "activatePIN", "(I[BI)I", 1, two, 6); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"changeReferenceData", 2, [&] { return call<jint>(s, "changeReferenceData", "(I[B[BI)I", 1, two, two, 6); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"changeDirectoryPath", 1, [&] { return call<jint>(s, "changeDirectoryPath", "([B)I", two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"decryptInit", 1, [&] { return call<jint>(s, "decryptInit", "(I[B)I", 1, two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"bankUnblockPIN", 1, [&] { return call<jint>(bankCardNatives(), "unblockPIN", "(I[B)I", 1, two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"unblockPIN", 2, [&] { return call<jint>(pukCardNatives(), "unblockPIN", "(I[B[B)I", 1, two, two); }, nullptr, static_cast<jint>(0x8000000bu)},
      {"performVerification_EXT", 2, [&] { return callOn<jint>(readerReceiver, readerNatives(), "performVerification_EXT", "(IIIII[B[B)I", 1, 2, 3, 4, 5, two, two); }, nullptr, 0},
      {"signFinal_PIN", 1, nullptr, [&] { return call<jobject>(s, "signFinal_PIN", "(IZ[B)[B", 1, JNI_FALSE, two); }, 0},
      {"directIO", 1, nullptr, [&] { return call<jobject>(s, "directIO", "([B)[B", two); }, 0},
      {"decryptFinal", 1, nullptr, [&] { return call<jobject>(s, "decryptFinal", "(I[B)[B", 1, two); }, 0},
      {"decryptFinal_PIN", 2, nullptr, [&] { return call<jobject>(s, "decryptFinal_PIN", "(I[B[B)[B", 1, two, two); }, 0},
  };
  // failing 0: every array can be had, the operation runs, and each array was taken
  // once and given back once.
  for (const Row& row : rows) {
    for (int failing = 0; failing <= row.arrays; ++failing) {
      SCOPED_TRACE(std::string(row.name) + " array " + std::to_string(failing));
      int gets = 0, releases = 0;
      {
        FailingArrays fault(env, failing);
        if (failing == 0) {
          if (row.callInt) row.callInt();
          else row.callObject();
        } else if (row.callInt) {
          EXPECT_EQ(row.callInt(), row.expected);
        } else {
          EXPECT_EQ(row.callObject(), nullptr);
        }
        gets = FailingArrays::gets();
        releases = FailingArrays::releases();
      }
      EXPECT_EQ(pending(), "");
      EXPECT_EQ(gets, releases);
      EXPECT_EQ(gets, failing == 0 ? row.arrays : failing - 1);
    }
  }
  // Given both arrays, performVerification_EXT answers the detailed result the reader wrote.
  EXPECT_EQ(callOn<jint>(readerReceiver, readerNatives(), "performVerification_EXT", "(IIIII[B[B)I", 1, 2, 3, 4, 5,
                         two, two),
            0x9000);
}

// What the reader operations throw stays in the native: 0x8000000a, or the exception
// with that code and the native's message.
TEST_F(DirectCalls, ReaderExceptionsStayInTheNative) {
  const NativeTable r = readerNatives();
  const jint caught = static_cast<jint>(0x8000000au);
  for (auto what : {Throw::kCException, Throw::kBadAlloc, Throw::kOther}) {
    SCOPED_TRACE(static_cast<int>(what));
    reader.what = what;
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "disconnect", "()I"), caught);
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "getStatus", "()I"), caught);
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "modifyVerification", "(III)I", 1, 2, 3), caught);
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "performVerification", "(III)I", 1, 2, 3), caught);
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "activateVerification", "(III)I", 1, 2, 3), caught);
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "activateVerification_KOBIL", "(III)I", 1, 2, 3), caught);
    // The detailed result as the reader left it before it threw.
    EXPECT_EQ(callOn<jint>(readerReceiver, r, "performVerification_EXT", "(IIIII[B[B)I", 1, 2, 3, 4, 5, two, two),
              0x9000);
    EXPECT_EQ(pending(), "");
    EXPECT_EQ(callOn<jobject>(readerReceiver, r, "connect", "()Lat/Quarvel/util/jni/SCard;"), nullptr);
    EXPECT_EQ(pending(), "! 8000000a Reader::connect: keine Karte.");
    callOn<jint>(readerReceiver, r, "reset", "(Z)I", JNI_TRUE);
    EXPECT_EQ(pending(), "! 8000000a Reader::reset: Invalid Peer.");
  }
  // The stub's card is none of the Java layer's types: connect answers null, nothing raised.
  reader.what = Throw::kNothing;
  EXPECT_EQ(callOn<jobject>(readerReceiver, r, "connect", "()Lat/Quarvel/util/jni/SCard;"), nullptr);
  EXPECT_EQ(pending(), "");
  EXPECT_EQ(callOn<jint>(readerReceiver, r, "reset", "(Z)I", JNI_FALSE), 0);
  EXPECT_EQ(pending(), "");

  // Names that are not valid text reach Java with replacement characters, never as
  // broken modified UTF-8.
  auto text = [&](jobject string) {
    std::u16string chars;
    if (string == nullptr) return chars;
    const jsize length = env->GetStringLength(static_cast<jstring>(string));
    chars.resize(static_cast<size_t>(length));
    env->GetStringRegion(static_cast<jstring>(string), 0, length, reinterpret_cast<jchar*>(&chars[0]));
    env->DeleteLocalRef(string);
    return chars;
  };
  EXPECT_EQ(text(callOn<jobject>(readerReceiver, r, "getName", "()Ljava/lang/String;")), u"Leser \uFFFD\uFFFD");
  EXPECT_EQ(text(callOn<jobject>(readerReceiver, r, "getCTAPIName", "()Ljava/lang/String;")), u"ctapi\uFFFD");
  EXPECT_EQ(callOn<jboolean>(readerReceiver, r, "shallUseGUI", "()Z"), JNI_TRUE);
  EXPECT_EQ(callOn<jboolean>(readerReceiver, r, "isSecure", "()Z"), JNI_FALSE);
  EXPECT_EQ(pending(), "");
}

// What the card operations throw stays in the native: 0x8000000a, or the exception
// with that code and the native's message.
TEST_F(DirectCalls, ExceptionsStayInTheNative) {
  const NativeTable s = sCardNatives();
  const jint caught = static_cast<jint>(0x8000000au);
  for (auto what : {Throw::kCException, Throw::kBadAlloc, Throw::kOther}) {
    SCOPED_TRACE(static_cast<int>(what));
    card.what = what;
    EXPECT_EQ(call<jint>(s, "signInit", "(I[BI)I", 1, two, 2), caught);
    EXPECT_EQ(call<jint>(s, "signUpdate", "([B)I", two), caught);
    EXPECT_EQ(call<jint>(s, "verifyPIN", "(I[B)I", 1, two), caught);
    EXPECT_EQ(call<jint>(s, "getFBZ", "(I)I", 1), caught);
    EXPECT_EQ(call<jint>(s, "activatePIN", "(I[BI)I", 1, two, 6), caught);
    EXPECT_EQ(call<jint>(s, "changeReferenceData", "(I[B[BI)I", 1, two, two, 6), caught);
    EXPECT_EQ(call<jint>(s, "decryptInit", "(I[B)I", 1, two), caught);
    EXPECT_EQ(call<jint>(pukCardNatives(), "unblockPIN", "(I[B[B)I", 1, two, two), static_cast<jint>(0x80000001u));
    EXPECT_EQ(pending(), "");
    EXPECT_EQ(call<jint>(s, "open", "([B)I", two), caught);
    EXPECT_EQ(pending(), "! 8000000a SCard::open.");
    EXPECT_EQ(call<jobject>(s, "signFinal", "(IZ)[B", 1, JNI_FALSE), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::signFinal.");
    EXPECT_EQ(call<jobject>(s, "signFinal_PIN", "(IZ[B)[B", 1, JNI_FALSE, two), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::signFinal.");
    EXPECT_EQ(call<jobject>(s, "read", "(I)[B", 0), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::read.");
    EXPECT_EQ(call<jobject>(s, "getCIN", "()[B"), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::getCIN");
    EXPECT_EQ(call<jobject>(s, "getPublicKey", "(I)Lat/Quarvel/util/jni/PubKey;", 1), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::getPublicKey");
    EXPECT_EQ(call<jobject>(s, "decryptFinal", "(I[B)[B", 1, two), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::decryptFinal.");
    EXPECT_EQ(call<jobject>(s, "decryptFinal_PIN", "(I[B[B)[B", 1, two, two), nullptr);
    EXPECT_EQ(pending(), "! 8000000a SCard::decryptFinal.");
  }
  // Answering, the same natives give their results; a 64 KiB array goes through whole.
  card.what = Throw::kNothing;
  EXPECT_EQ(call<jint>(s, "signUpdate", "([B)I", array(std::string(65536, 'x'))), 0);
  EXPECT_EQ(call<jint>(s, "signUpdate", "([B)I", array("")), 0);
  EXPECT_EQ(call<jint>(s, "signUpdate", "([B)I", static_cast<jbyteArray>(nullptr)), static_cast<jint>(0x8000000bu));
  auto key = call<jobject>(s, "getPublicKey", "(I)Lat/Quarvel/util/jni/PubKey;", 1);
  EXPECT_NE(key, nullptr);
  EXPECT_EQ(pending(), "");
  auto cin = static_cast<jbyteArray>(call<jobject>(s, "getCIN", "()[B"));
  ASSERT_NE(cin, nullptr);
  EXPECT_EQ(env->GetArrayLength(cin), 2);
  // An identifier of 3 bytes: changeDirectoryWithFID refuses it, open's CFID throws;
  // neither sends a command.
  jbyteArray three = array(std::string("\x3F\x00\x01", 3));
  EXPECT_EQ(call<jint>(s, "changeDirectoryWithFID", "([B)I", three), static_cast<jint>(0x80000001u));
  EXPECT_EQ(call<jint>(s, "open", "([B)I", three), caught);
  EXPECT_EQ(pending(), "! 8000000a SCard::open.");
  EXPECT_TRUE(channel.sent.empty());
  // A card code from open is raised and returned as well.
  card.code = static_cast<int>(0x80016A82u);
  EXPECT_EQ(call<jint>(s, "open", "([B)I", two), card.code);
  EXPECT_EQ(pending(), "! 80016a82 SCard::open.");
}

// Java threads that use the natives at once, as a careless Java program does
// (qtest.CardStress): a fixed number of rounds each, checked JNI on. No abort, no
// answer but a result, "no peer" or a card or PC/SC failure, no reader or card left
// once the reader is released, and signatures each over its own document.
class CardStress : public CardNatives {
 protected:
  // The pattern's report, its lines "outcome count"; the lines after the tally
  // (starting "intruder" or "signed") in rest.
  std::map<std::string, int> tally(const std::string& report, std::vector<std::string>* rest = nullptr) {
    std::map<std::string, int> counts;
    for (const std::string& line : jvmtest::lines(report)) {
      if (line.rfind("intruder ", 0) == 0 || line.rfind("signed ", 0) == 0) {
        if (rest) rest->push_back(line);
        continue;
      }
      const size_t blank = line.rfind(' ');
      if (blank == std::string::npos) continue;
      counts[line.substr(0, blank)] += std::atoi(line.c_str() + blank + 1);
    }
    return counts;
  }

  // The outcomes no call may answer: anything but an object, a result below
  // 0x80000000 (codes, handles, counts), "no peer", a PC/SC result or a transport
  // failure, and those the pattern allows besides.
  static std::string unexpected(const std::map<std::string, int>& counts, const std::set<std::string>& allowed = {}) {
    std::string out;
    for (const auto& [outcome, n] : counts) {
      const std::string code = outcome[0] == '!' ? outcome.substr(1) : outcome;
      const bool number = !code.empty() && code.find_first_not_of("0123456789abcdef") == std::string::npos;
      const unsigned long value = number ? std::stoul(code, nullptr, 16) : 0;
      const bool fine = outcome == "ok" || allowed.count(outcome) ||
                        (number && (value == 0x8000000bul || (value & 0xFFFF0000ul) == 0x80100000ul ||
                                    (value & 0xFFFF0000ul) == 0x80030000ul ||
                                    (outcome[0] != '!' && value < 0x80000000ul)));
      if (!fine) out += outcome + " x" + std::to_string(n) + "; ";
    }
    return out;
  }

  // Every reader and card object made since the process began has been destroyed:
  // their lifecycle lines in the trace log pair up.
  static void expectNothingLeft() {
    const std::string trace = jvmtest::readFile(jvmtest::traceLogPath());
    for (const char* cls : {"CReader_base", "CSCard"}) {
      const std::string head = std::string("class ") + cls + " at 0x[0-9A-F]+:\n +";
      const auto count = [&](const std::string& what) {
        const std::regex pattern(head + what);
        return std::distance(std::sregex_iterator(trace.begin(), trace.end(), pattern), std::sregex_iterator());
      };
      const auto made = count("Size: 0x[0-9A-F]+ Bytes constructed\\.");
      EXPECT_GT(made, 0) << cls;
      EXPECT_EQ(count("destructed\\."), made) << cls;
    }
  }

  void startOn(cardsim::PcscBed& bed, const char* profile) {
    bed.insert(kReader, profile);
    configure(bed.name(kReader));
    start();
    // Should a reader ever be missing, the question is answered No (a "reader null").
    for (int i = 0; i < 20; ++i) wt::queueMessageBoxAnswer(IDNO);
  }

  static constexpr std::size_t kReader = cardsim::PcscBed::kPlain;
};

TEST_F(CardStress, EightThreadsGetAndReleaseTheReader) {
  cardsim::PcscBed bed;
  startOn(bed, "asign");
  const auto counts = tally(stress("getAndRelease", "(II)Ljava/lang/String;", 8, 12));
  EXPECT_EQ(unexpected(counts), "");
  EXPECT_GT(counts.count("ok") ? counts.at("ok") : 0, 0);
  EXPECT_GT(counts.count("1") ? counts.at("1") : 0, 0);
  EXPECT_EQ(counts.count("reader null"), 0u);
  expectNothingLeft();
}

TEST_F(CardStress, ACardUsedWhileAnotherThreadDisconnects) {
  cardsim::PcscBed bed;
  startOn(bed, "asign");
  const auto counts = tally(stress("useWhileDisconnect", "(I)Ljava/lang/String;", 40));
  EXPECT_EQ(unexpected(counts), "");
  EXPECT_GT(counts.count("ok") ? counts.at("ok") : 0, 40);
  expectNothingLeft();
}

TEST_F(CardStress, ReaderCallsWhileAnotherThreadReleasesIt) {
  cardsim::PcscBed bed;
  startOn(bed, "asign");
  const auto counts = tally(stress("useWhileRelease", "(I)Ljava/lang/String;", 30));
  EXPECT_EQ(unexpected(counts), "");
  EXPECT_GT(counts.count("1") ? counts.at("1") : 0, 30);
  expectNothingLeft();
}

// Four threads sign on one card object, a fifth feeds data of its own to whatever
// signature runs: every signature verifies with the certificate over its thread's
// document alone, and the feeder is refused (no signature of its own).
TEST_F(CardStress, FourThreadsSignOnOneCard) {
  cardsim::PcscBed bed;
  startOn(bed, "asign");
  const cardtest::TypeInfo& type = cardtest::kTypes[static_cast<int>(cardtest::Type::ASign)];
  std::vector<std::string> rest;
  const auto counts = tally(stress("signFromThreads", "(IIILjava/lang/String;Ljava/lang/String;)Ljava/lang/String;", 4, 5,
                                 type.signKid, str(hexOf(cardtest::signParameter(type.type, 2, false))),
                                 str(hexOf(type.signPin))),
                            &rest);
  EXPECT_EQ(unexpected(counts), "");
  ASSERT_FALSE(rest.empty());
  EXPECT_TRUE(std::regex_match(rest[0], std::regex("intruder 80000001 [0-9]+;"))) << rest[0];
  const std::string certificate = cardtest::certificate(type.signCert);
  const int prefix = cardtest::signedPrefix(type.type, 2, false);
  EXPECT_EQ(rest.size(), 1u + 4u * 5u);
  for (std::size_t i = 1; i < rest.size(); ++i) {
    std::istringstream line(rest[i]);
    std::string word, document, signature;
    line >> word >> document >> signature;
    EXPECT_EQ(cardtest::recoverSigned(certificate, cardtest::bytes(signature)),
              cardtest::digestInfo(prefix, cardtest::digest(prefix, cardtest::bytes(document))))
        << rest[i];
  }
  expectNothingLeft();
}

}  // namespace
