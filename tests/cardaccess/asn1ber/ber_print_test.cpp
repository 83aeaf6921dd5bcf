// Golden output of the dump, the hex dump and the error texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ber_test_util.h"

using bertest::Bytes;
using bertest::hex;

namespace {

using Lines = std::vector<std::string>;

void collect(const char* text, void* argument) { static_cast<Lines*>(argument)->push_back(text); }

Lines dump(const Bytes& bytes, int expectedStatus = BER_OK) {
  Lines lines;
  EXPECT_EQ(berDumpMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), collect, &lines), expectedStatus);
  return lines;
}

const std::string kHeading = "CLAS  F  -ID-  LENGTH  HEX CONTENTS                         ASCII";

std::string blanks(size_t n) { return std::string(n, ' '); }

TEST(BerDump, PrimitiveElement) {
  Lines lines = dump(hex("02 01 05"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kHeading);
  EXPECT_EQ(lines[0].find("ASCII"), 60u);
  // The byte part is 49 characters: hex from column 0, characters from column 37.
  EXPECT_EQ(lines[1], "UNIV  P   INT       1  05" + blanks(35) + "." + blanks(11));
  EXPECT_EQ(lines[1].size(), 23u + 49u);
}

TEST(BerDump, ContinuationLinesAfterTwelveBytes) {
  Lines lines = dump(hex("04 0D 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "UNIV  P  OCTS      13  41 42 43 44 45 46 47 48 49 4a 4b 4c  ABCDEFGHIJKL");
  EXPECT_EQ(lines[2], blanks(23) + "4d" + blanks(35) + "M" + blanks(11));
}

TEST(BerDump, ConstructedIndefiniteAndTagNames) {
  EXPECT_EQ(dump(hex("30 80 02 01 05 00 00")),
            (Lines{kHeading, "UNIV  C   SEQ   INDEF", "UNIV  P   INT       1  05" + blanks(35) + "." + blanks(11),
                   "UNIV  P   EOC       0"}));
  EXPECT_EQ(dump(hex("31 0B 5F 81 48 00 FF 1F 00 19 00 A0 00")),
            (Lines{kHeading, "UNIV  C   SET      11", "APPL  P   200       0", "PRIV  C    31       0",
                   "UNIV  P    25       0", "CTXT  C     0       0"}));
  Lines names = dump(hex("30 0C 01 00 05 00 06 00 0A 00 17 00 18 00"));
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names[2].substr(0, 14), "UNIV  P  BOOL ");
  EXPECT_EQ(names[3].substr(0, 14), "UNIV  P  NULL ");
  EXPECT_EQ(names[4].substr(0, 14), "UNIV  P  OBJD ");
  EXPECT_EQ(names[5].substr(0, 14), "UNIV  P  ENUM ");
  EXPECT_EQ(names[6].substr(0, 14), "UNIV  P  UTCT ");
  EXPECT_EQ(names[7].substr(0, 14), "UNIV  P  GENT ");
}

TEST(BerDump, BadInputEndsWithItsStatus) {
  Lines lines = dump(hex("30 80 04 84 7F FF FF FF"), BER_INVALID_LENGTH);
  EXPECT_EQ(lines, (Lines{kHeading, "UNIV  C   SEQ   INDEF"}));
  Bytes truncated = hex("30 05 02 01");
  Lines none;
  EXPECT_EQ(berDumpMessage(truncated.data(), 4, collect, &none), BER_INVALID_LENGTH);
  EXPECT_TRUE(none.empty());
}

TEST(BerDump, WithoutCallbackAndToFile) {
  Bytes bytes = hex("30 03 02 01 05");
  testing::internal::CaptureStdout();
  EXPECT_EQ(berDumpMessage(bytes.data(), 5, nullptr, nullptr), BER_OK);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, kHeading + "\nUNIV  C   SEQ       3\nUNIV  P   INT       1  05" + blanks(35) + "." + blanks(11) + "\n");

  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(berDumpMessageToFile(file, bytes.data(), 5), BER_OK);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  EXPECT_EQ(text, out);
}

TEST(BerDump, TagText) {
  const struct {
    BerTag tag;
    const char* text;
  } cases[] = {{0x0002, "[UNIV P  INT]"}, {0x2010, "[UNIV C  SEQ]"}, {0xA000, "[CTXT C    0]"},
               {0x4000 | 200, "[APPL P  200]"}, {0xC000 | 8191, "[PRIV P 8191]"}, {0x0000, "[UNIV P  EOC]"}};
  for (const auto& c : cases) {
    char text[32];
    EXPECT_STREQ(berTagText(c.tag, text, sizeof(text)), c.text);
  }
  char small[6];
  EXPECT_STREQ(berTagText(0x2010, small, sizeof(small)), "[UNIV");
}

std::string hexDump(const Bytes& bytes) {
  FILE* file = std::tmpfile();
  berHexDump(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(BerHexDumpTest, SixteenBytesPerLine) {
  Bytes sixteen(16);
  for (int i = 0; i < 16; ++i) sixteen[i] = static_cast<uint8_t>('a' + i);
  const std::string full = "61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n";
  EXPECT_EQ(hexDump(sixteen), full);

  Bytes seventeen = sixteen;
  seventeen.push_back('A');
  EXPECT_EQ(hexDump(seventeen), full + "41" + blanks(46) + " A\n");

  EXPECT_EQ(hexDump(hex("41 42 00 43 7F")), "41 42 00 43 7f" + blanks(34) + " AB.C.\n");
  EXPECT_EQ(hexDump({}), "");

  testing::internal::CaptureStdout();
  berHexDumpStdout(hex("41").data(), 1, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nHEX                                              ASCII\n41" + blanks(46) + " A\n");
}

class BerErrorTextTest : public testing::Test {
 protected:
  void SetUp() override { berInitContext(&ctx_, nullptr, 0); }
  void TearDown() override { berFreeContext(&ctx_); }
  std::string text(size_t capacity = 256) {
    std::vector<char> buffer(capacity);
    return berErrorText(&ctx_, buffer.data(), capacity);
  }
  BerContext ctx_;
};

TEST_F(BerErrorTextTest, StatusTexts) {
  const struct {
    int status;
    const char* text;
  } cases[] = {
      {0, "normal completion status"},
      {-1, "Encode buffer overflow"},
      {-3, "Unexpected tag encountered: expected = ?, parsed = ?"},
      {-12, "No dynamic memory available"},
      {-18, "Invalid value specification"},
      {-22, "Nesting level too deep"},
      {-24, "Value range error: lower bound is greater than upper"},
      {-25, "unrecognized completion status"},
      {-99, "unrecognized completion status"},
      {-100, "unrecognized completion status"},
  };
  for (const auto& c : cases) {
    berErrorReset(&ctx_);
    ctx_.errorInfo.status = c.status;
    EXPECT_EQ(text(), c.text) << c.status;
    EXPECT_STREQ(berStatusText(c.status), c.status == -3 ? "Unexpected tag encountered: expected = %s, parsed = %s"
                                                         : c.text);
  }
}

TEST_F(BerErrorTextTest, ParametersFillThePlaceholders) {
  berSetError(&ctx_, BER_UNEXPECTED_TAG, BER_MODULE, 1);
  berErrorAddText(&ctx_, "0004");
  berErrorAddText(&ctx_, "0002");
  EXPECT_EQ(text(), "Unexpected tag encountered: expected = 0004, parsed = 0002");
  EXPECT_EQ(text(10), "Unexpecte");
  EXPECT_EQ(text(1), "");
}

TEST_F(BerErrorTextTest, LongParametersAreCutToTheCapacity) {
  berSetError(&ctx_, -23, BER_MODULE, 1);
  std::string long1(1000, 'x');
  berErrorAddText(&ctx_, long1.c_str());
  berErrorAddText(&ctx_, long1.c_str());
  std::string cut = text(64);
  EXPECT_EQ(cut.size(), 63u);
  EXPECT_EQ(cut.substr(0, 34), "Value constraint violation: field ");
}

TEST_F(BerErrorTextTest, PrintErrorToCallbackNewestFirstThenReset) {
  berEncodeBigInteger(&ctx_, "nohex", 0);
  berSetError(&ctx_, BER_INVALID_LENGTH, BER_MODULE, 2000);
  Lines lines;
  berPrintErrorTo(&ctx_, collect, &lines);
  EXPECT_EQ(lines, (Lines{"ASN.1 ERROR: Status -14", "Invalid hex string", "  Module: ../rtsrc/asn1ber, Line 2000\n",
                          "  Module: ../rtsrc/asn1ber, Line 353\n"}));
  EXPECT_EQ(ctx_.errorInfo.status, 0);
  EXPECT_EQ(ctx_.errorInfo.stackCount, 0);
}

TEST_F(BerErrorTextTest, PrintErrorToStandardOutput) {
  berSetError(&ctx_, BER_UNEXPECTED_TAG, BER_MODULE, 1);
  berSetError(&ctx_, BER_UNEXPECTED_TAG, BER_MODULE, 2);
  berErrorAddTag(&ctx_, 4);
  berErrorAddTag(&ctx_, 2);
  testing::internal::CaptureStdout();
  berPrintError(&ctx_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ASN.1 ERROR: Status -3\n"
            "Unexpected tag encountered: expected = 0004, parsed = 0002\n"
            "Stack trace:\n"
            "  Module: ../rtsrc/asn1ber, Line 2\n"
            "  Module: ../rtsrc/asn1ber, Line 1\n");
  EXPECT_EQ(ctx_.errorInfo.parameterCount, 0);
}

}  // namespace
