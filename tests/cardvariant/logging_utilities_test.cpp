// The card library's reports (into the plug-in's trace log, silent without
// settings, the line wrap) and its utilities (hex, bits, grouping, Base64, the
// installation directory, the system tests, RSA padding 5 against OpenSSL).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "VariantSupport.h"
#include "cardvariant/CReport.h"
#include "cardvariant/CReportFactory.h"
#include "cardvariant/CSCard_DTrust.h"
#include "cardvariant/Utilities.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/base/CException.h"
#include "quarvel_test.h"

namespace {

using namespace varianttest;
using cardvariant::CBuffer;
using cardvariant::CReport;

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Reports, CardLinesJoinTheTraceLogAtItsDepth) {
  const std::string file = quarveltest::makeTempDirectory("log") + "/tolmira.log";
  VOQ_TraceLog* trace = VOQ_TraceLog::getInstance(file.c_str());
  VOQ_TraceContext* context = trace->createContext("VOQ_Card");
  context->log("open", "begins", VOQ_TraceContext::ENTER);
  context->log("read", "begins", VOQ_TraceContext::ENTER);
  setText("", "LogFileName", "any name: the trace log's file is used");
  setDword("", "LogLevel", 6);
  char address[32];
  {
    ScriptChannel channel;
    cardvariant::CSCard_DTrust card(&channel, nullptr, "", 2);
    std::snprintf(address, sizeof address, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&card)));
    EXPECT_EQ(card.signInit(0x81, "", 1), 0);
  }
  EXPECT_EQ(cardvariant::logMessage("free line\n", 2, cardvariant::CLogable::kFlush), 0);
  context->log("read", "ends", VOQ_TraceContext::LEAVE);
  const std::string text = readFile(file);
  const size_t traceLine = text.find("VOQ_Card::read(...) begins");
  const size_t cardLine = text.find("  class CSCard_DTrust at 0x");
  const size_t signInit = text.find("class CSCard_DTrust::signInit() at 0x");
  ASSERT_NE(traceLine, std::string::npos) << text;
  ASSERT_NE(cardLine, std::string::npos) << text;
  ASSERT_NE(signInit, std::string::npos) << text;
  EXPECT_LT(traceLine, cardLine);
  // Lines start at the trace log's depth at the moment the report was made.
  EXPECT_EQ(text.substr(signInit - 3, 3), "\n  ");
  EXPECT_NE(text.find("kid=0x81. started.\n"), std::string::npos);
  EXPECT_NE(text.find("\n  free line\n"), std::string::npos);
  EXPECT_GT(text.find("VOQ_Card::read(...) ends"), text.find("free line"));
  EXPECT_EQ(countOf(text, "\r"), 0u);
  // Addresses as the program's own report writes them: every digit, upper case, one "0x".
  EXPECT_NE(text.find(std::string("class CSCard_DTrust at 0x") + address + ":\n"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("signInit() at 0x") + address + ": "), std::string::npos) << text;
  EXPECT_EQ(countOf(text, "0x0x"), 0u);
}

// A process whose settings leave the card library without a report.
QUARVEL_CHILD(silentLogging) {
  const std::string file = quarveltest::makeTempDirectory("log") + "/card.log";
  if (args.at(0) == "level-as-text") {
    setText("", "LogFileName", file);
    setText("", "LogLevel", "6");
  } else if (args.at(0) == "no-file-name") {
    setDword("", "LogLevel", 6);
  } else if (args.at(0) == "unopenable") {
    setText("", "LogFileName", quarveltest::machineRoot() + "/no/such/folder/card.log");
    setDword("", "LogLevel", 6);
  }
  ScriptChannel channel;
  cardvariant::CSCard_DTrust card(&channel, nullptr, "", 2);
  int results = card.log("m", "text\n", 0, 0) + card.logObject(&card, 8) + cardvariant::logMessage("x\n", 0, 4);
  // The same silent report for that name again.
  if (args.at(0) == "unopenable") {
    CReport* report = cardvariant::CReportFactory::getInstance((quarveltest::machineRoot() + "/no/such/folder/card.log").c_str());
    if (report != cardvariant::CReportFactory::getInstance((quarveltest::machineRoot() + "/no/such/folder/card.log").c_str()) ||
        report->hasStream())
      return 3;
  }
  return results == 0 && readFile(file).empty() ? 0 : 1;
}

TEST(Reports, SettingsThatGiveNoReportLeaveTheLibrarySilent) {
  for (const char* row : {"level-as-text", "no-file-name", "unopenable"})
    EXPECT_EQ(quarveltest::runChild("silentLogging", {row}), 0) << row;
}

TEST(Reports, WrapsAt250ColumnsWithTheIndentationCounted) {
  const std::string file = quarveltest::makeTempDirectory("log") + "/wrap.log";
  {
    CReport report(file.c_str());
    report.setLevel(6);
    report.write(1, std::string(300, 'a'));
    report.write(1, "\n");
    report.pushIndent(4);
    report.write(1, std::string(300, 'b') + "\n");
    report.write(1, nullptr);
    report.write(1, "xy", -1);
    report.writePointer(1, nullptr);
    report.write(7, "above the level\n");
    report.writeHex(1, 0xABCDu);
    report.write(1, "\n");
    report.writePointer(1, reinterpret_cast<const void*>(uintptr_t{0xabcdef12}));
    report.write(1, "\n");
  }
  const std::string expected = std::string(250, 'a') + "\n" + std::string(50, 'a') + "\n" + "    " +
                               std::string(246, 'b') + "\n" + "    " + std::string(54, 'b') + "\n" + "    ABCD\n" +
                               "    00000000ABCDEF12\n";
  EXPECT_EQ(readFile(file), expected);
  EXPECT_EQ(cardvariant::logMessage(nullptr, 0, 0), 1);
}

TEST(Utilities, HexAndBits) {
  CBuffer buffer;
  buffer.fromHex("0A1b");
  EXPECT_EQ(hex(buffer), "0A1B");
  EXPECT_EQ(buffer.toHex(), "0a1b");
  buffer.fromHex("");
  EXPECT_TRUE(buffer.empty());
  struct Bad {
    const char* text;
    const char* message;
  };
  for (const Bad& bad : {Bad{"0G", "Ungültiges Zeichen. Position: 1.\n"}, Bad{"G0", "Ungültiges Zeichen. Position: 0.\n"},
                         Bad{"ABC", "Länge kein vielfaches von zwei.\n"}, Bad{nullptr, "Pointer gleich NULL.\n"}}) {
    try {
      buffer.fromHex(bad.text);
      ADD_FAILURE() << bad.message;
    } catch (const VOQ::CBadArgumentException& e) {
      EXPECT_EQ(e.getMessage(), bad.message);
    }
  }
  EXPECT_THROW(buffer.fromHex("AB0G"), VOQ::CBadArgumentException);
  EXPECT_EQ(hex(buffer), "AB") << "bytes before the bad character stay";
  EXPECT_EQ(CBuffer::hexValue('f'), 15);
  EXPECT_EQ(CBuffer::hexValue('F'), 15);
  EXPECT_EQ(CBuffer::hexValue('g'), -1);

  CBuffer bits(bytes("A5FF"));
  EXPECT_EQ(bits.ToBinary(12), "101001011111");
  EXPECT_EQ(bits.ToBinary(16), "1010010111111111");
  EXPECT_EQ(bits.ToBinary(8), "10100101");
  for (int n : {7, 17}) EXPECT_THROW(bits.ToBinary(n), VOQ::CBadArgumentException) << n;
  EXPECT_THROW(CBuffer().ToBinary(0), VOQ::CBadArgumentException);
}

TEST(Utilities, BreakingStrings) {
  EXPECT_EQ(cardvariant::breakString("abcdefg", 3, '-', '|'), "ab-c|d-ef|g");
  EXPECT_EQ(cardvariant::breakString("0123456789abcdef", 8, ' ', '\n'), "01 23 45 67\n89 ab cd ef\n");
  EXPECT_EQ(cardvariant::breakString("abcd", 2, ", ", "; "), "ab; cd; ");
  EXPECT_EQ(cardvariant::breakString("", 2, ' ', '\n'), "");
  EXPECT_THROW(cardvariant::breakString("ab", 0, ' ', '\n'), VOQ::CBadArgumentException);
  EXPECT_THROW(cardvariant::breakString("ab", 2, nullptr, "\n"), VOQ::CBadArgumentException);
}

TEST(Utilities, Base64OfAnswersToReset) {
  std::string text;
  const std::string atr = bytes("3B8D800151545347205472757374536967" "0C") + std::string(15, '\x11');
  ASSERT_EQ(atr.size(), 33u);
  ASSERT_EQ(cardvariant::bytesToBase64(atr, text), 1);
  EXPECT_EQ(text.size(), 44u);
  std::string back;
  ASSERT_EQ(cardvariant::base64ToBytes(text, back), 1);
  EXPECT_EQ(back, atr);
  EXPECT_EQ(cardvariant::bytesToBase64("", text), 0);
  EXPECT_EQ(cardvariant::base64ToBytes("O4uA\r\nAVFC", back), 1);
  EXPECT_EQ(cardvariant::base64ToBytes("O4u*", back), 0);
  // 48 bytes and more are broken into lines of 64 characters.
  ASSERT_EQ(cardvariant::bytesToBase64(std::string(48, 'x'), text), 1);
  EXPECT_EQ(text.substr(64, 2), "\r\n");
}

TEST(Utilities, InstallationDirectoryAndSystemTests) {
  // The store is read once, at the first look-up: the value is there before.
  setRaw("", "InstallDir", REG_SZ, "C:\\Tolmira\\");  // stored without its terminating zero
  char buffer[16];
  ASSERT_EQ(cardvariant::readInstallDir(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "C:\\Tolmira\\");
  EXPECT_EQ(cardvariant::readInstallDir(buffer, 11), 0);
  EXPECT_EQ(cardvariant::readInstallDir(nullptr, 16), 0);
  EXPECT_EQ(cardvariant::loadIconFile("missing"), nullptr);
  EXPECT_EQ(cardvariant::loadIconFile(nullptr), nullptr);

  EXPECT_EQ(cardvariant::getWindowHandle(), 0);
  // The layer is a modern NT: none of the old systems.
  EXPECT_EQ(cardvariant::isWindowsNT4() + cardvariant::isWindows2000() + cardvariant::isWindowsXP() +
                cardvariant::isWindowsMe() + cardvariant::isWindows95or98(),
            0);
  EXPECT_EQ(cardvariant::isNetscape(), 0);
  // The table is of code page 1252: its umlaut bytes count, a UTF-8 lead byte does not.
  for (unsigned char c : std::string("aZ09.-:# \n\xE4\xF6\xFC\xDF\xC4\xD6\xDC"))
    EXPECT_EQ(cardvariant::isAllowedCharacter(c), 1) << int(c);
  for (unsigned char c : {'\0', '!', '_', static_cast<char>(0xA9), static_cast<char>(0xC3), static_cast<char>(0xB6),
                          static_cast<char>(0x9F)})
    EXPECT_EQ(cardvariant::isAllowedCharacter(static_cast<unsigned char>(c)), 0) << int(c);
}

struct RsaFree {
  void operator()(RSA* rsa) const { RSA_free(rsa); }
};

std::unique_ptr<RSA, RsaFree> makeKey() {
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_RSA_gen(1024), EVP_PKEY_free);
  return std::unique_ptr<RSA, RsaFree>(EVP_PKEY_get1_RSA(key.get()));
}

TEST(Utilities, PublicKeyOperationsWithTheOwnPadding) {
  auto rsa = makeKey();
  const int k = RSA_size(rsa.get());
  const std::string data = "card data";
  std::vector<unsigned char> cryptogram(static_cast<size_t>(k)), block(static_cast<size_t>(k));
  ASSERT_EQ(cardvariant::publicEncrypt(static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.data()),
                                       cryptogram.data(), rsa.get(), 5),
            k);
  ASSERT_EQ(RSA_private_decrypt(k, cryptogram.data(), block.data(), rsa.get(), RSA_NO_PADDING), k);
  EXPECT_EQ(block[0], 0x60);
  EXPECT_EQ(block[static_cast<size_t>(k - static_cast<int>(data.size()) - 10)], 0x01);
  EXPECT_EQ(block.back(), 0xBC);
  EXPECT_EQ(std::string(block.end() - 1 - static_cast<long>(data.size()), block.end() - 1), data);
  // Longer than k - 11 bytes: refused.
  std::vector<unsigned char> big(static_cast<size_t>(k - 10), 1);
  EXPECT_EQ(cardvariant::publicEncrypt(k - 10, big.data(), cryptogram.data(), rsa.get(), 5), -1);
  EXPECT_EQ(cardvariant::publicEncrypt(0, big.data(), cryptogram.data(), rsa.get(), 5), -1);

  // Frames made here, "signed" with the private key, read back.
  struct Row {
    std::string frame;  // hex, padded with zeros after 60 to k bytes
    int result;
  };
  auto frame = [&](const std::string& head, const std::string& tail) {
    std::string b = bytes(head);
    b += std::string(static_cast<size_t>(k) - b.size() - bytes(tail).size(), '\0') + bytes(tail);
    return b;
  };
  const std::vector<std::pair<std::string, int>> rows = {
      {frame("60", "01AABBCCDDEEFF0011" "C0FFEE" "BC"), 3},
      {frame("60", "01AABBCCDDEEFF0011" "BC"), 0},
      {frame("61", "01AABBCCDDEEFF0011" "C0FFEE" "BC"), -1},  // no 60
      {frame("60", "01AABBCCDDEEFF0011" "C0FFEE" "BD"), -1},  // no BC
      {frame("60", "02AABBCCDDEEFF0011" "C0FFEE" "BC"), -1},  // no 01
      {frame("60", "01AABBCCDDEEFF00" "BC"), -1},             // fewer than 8 bytes after 01
      {frame("60", "BC"), -1},
  };
  for (const auto& [plain, result] : rows) {
    std::vector<unsigned char> signature(static_cast<size_t>(k)), out(static_cast<size_t>(k));
    ASSERT_EQ(RSA_private_encrypt(k, reinterpret_cast<const unsigned char*>(plain.data()), signature.data(), rsa.get(),
                                  RSA_NO_PADDING),
              k);
    EXPECT_EQ(cardvariant::publicDecrypt(k, signature.data(), out.data(), rsa.get(), 5), result) << hex(plain);
    if (result == 3) {
      EXPECT_EQ(hex(std::string(out.begin(), out.begin() + 3)), "C0FFEE");
    }
  }
  // Other paddings are OpenSSL's.
  std::vector<unsigned char> out(static_cast<size_t>(k));
  const int n = cardvariant::publicEncrypt(static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.data()),
                                           cryptogram.data(), rsa.get(), RSA_PKCS1_PADDING);
  ASSERT_EQ(n, k);
  EXPECT_EQ(RSA_private_decrypt(k, cryptogram.data(), out.data(), rsa.get(), RSA_PKCS1_PADDING),
            static_cast<int>(data.size()));
  EXPECT_EQ(cardvariant::publicDecrypt(k, nullptr, out.data(), rsa.get(), 5), -1);
}

}  // namespace
