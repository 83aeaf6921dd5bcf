#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/util/VOQ_Base64.h"
#include "foundation/util/VOQ_FileStream.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "quarvel_test.h"
#include "stream_helpers.h"

namespace {

std::string encode(const std::string& input, unsigned int lineLength, unsigned int count = 0xFFFFFFFF,
                   unsigned int from = 0) {
  VOQ_String in = voqString(input);
  VOQ_String out;
  VOQ_MemoryStream inStream(&in);
  VOQ_MemoryStream outStream(&out);
  inStream.seek(from);
  voqBase64Encode(&inStream, &outStream, count, lineLength);
  return stdString(out);
}

std::string decode(const std::string& input, unsigned int from = 0) {
  VOQ_String in = voqString(input);
  VOQ_String out;
  VOQ_MemoryStream inStream(&in);
  VOQ_MemoryStream outStream(&out);
  inStream.seek(from);
  voqBase64Decode(&inStream, &outStream);
  return stdString(out);
}

// OpenSSL's encoding, without line breaks.
std::string referencePlain(const std::string& input) {
  std::vector<unsigned char> block(4 * (input.size() / 3 + 1) + 1);
  int n = EVP_EncodeBlock(block.data(), reinterpret_cast<const unsigned char*>(input.data()),
                          static_cast<int>(input.size()));
  return std::string(reinterpret_cast<char*>(block.data()), n);
}

// The same, broken into our lines.
std::string referenceEncoding(const std::string& input, unsigned int lineLength) {
  const std::string plain = referencePlain(input);
  const size_t perLine = 4 * ((lineLength < 4 ? 4 : lineLength) / 4);
  std::string lines;
  for (size_t i = 0; i < plain.size(); i += perLine) {
    lines += plain.substr(i, perLine) + "\r\n";
  }
  return lines;
}

// OpenSSL's decoding of our text, line breaks taken out first.
std::string referenceDecoding(const std::string& encoded) {
  std::string plain;
  for (char c : encoded) {
    if (c != '\r' && c != '\n') plain += c;
  }
  std::vector<unsigned char> block(plain.size() + 1);
  int n = EVP_DecodeBlock(block.data(), reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size()));
  EXPECT_GE(n, 0);
  // EVP_DecodeBlock counts the bytes the padding stands for.
  for (size_t i = plain.size(); i > 0 && plain[i - 1] == '='; --i) --n;
  return std::string(reinterpret_cast<char*>(block.data()), n > 0 ? n : 0);
}

TEST(VOQ_Base64, EncodeTable) {
  const std::string sixty(60, 'x');
  const std::string fortyEight(48, 'x');
  struct Case {
    const char* what;
    std::string input;
    unsigned int lineLength;
    unsigned int count;
    unsigned int from;
    std::string expected;
  };
  const Case cases[] = {
      {"nothing", "", 76, 0xFFFFFFFF, 0, ""},
      {"three bytes", "abc", 76, 0xFFFFFFFF, 0, "YWJj\r\n"},
      {"one byte", "a", 76, 0xFFFFFFFF, 0, "YQ==\r\n"},
      {"two bytes", "ab", 76, 0xFFFFFFFF, 0, "YWI=\r\n"},
      {"60 bytes at 64", sixty, 64, 0xFFFFFFFF, 0,
       referencePlain(sixty).substr(0, 64) + "\r\n" + referencePlain(sixty).substr(64) + "\r\n"},
      {"a full last line ends once", fortyEight, 64, 0xFFFFFFFF, 0, referencePlain(fortyEight) + "\r\n"},
      {"line length below 4 counts as 4", "abcdef", 1, 0xFFFFFFFF, 0, "YWJj\r\nZGVm\r\n"},
      {"line length 0", "abcdef", 0, 0xFFFFFFFF, 0, "YWJj\r\nZGVm\r\n"},
      {"line length 7 holds one group", "abcdef", 7, 0xFFFFFFFF, 0, "YWJj\r\nZGVm\r\n"},
      {"line length 8 holds two", "abcdefg", 8, 0xFFFFFFFF, 0, "YWJjZGVm\r\nZw==\r\n"},
      {"count limits", "abcdef", 76, 2, 0, "YWI=\r\n"},
      {"count 0", "abcdef", 76, 0, 0, ""},
      {"count beyond the input", "abc", 76, 100, 0, "YWJj\r\n"},
      {"from the position", "abcdef", 76, 0xFFFFFFFF, 3, "ZGVm\r\n"},
      {"count from the position", "abcdef", 76, 1, 2, "Yw==\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(encode(c.input, c.lineLength, c.count, c.from), c.expected);
  }
}

TEST(VOQ_Base64, DecodeTable) {
  struct Case {
    const char* what;
    std::string input;
    unsigned int from;
    std::string expected;
  };
  const Case cases[] = {
      {"nothing", "", 0, ""},
      {"one group, nothing behind it", "YWJj", 0, "abc"},
      {"with line break", "YWJj\r\n", 0, "abc"},
      {"blanks and breaks inside", "Y W\r\nJ\nj", 0, "abc"},
      {"padding", "YQ==", 0, "a"},
      {"padding left out", "YQ", 0, "a"},
      {"three characters", "YWI", 0, "ab"},
      {"a single character gives nothing", "Y", 0, ""},
      {"other bytes skipped", "!Y*W-J.j\x80", 0, "abc"},
      {"several lines", "YWJj\r\nZGVm\r\nZw==\r\n", 0, "abcdefg"},
      {"from the position", "YWJjZGVm", 4, "def"},
      {"all 64 characters",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 0,
       std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97"
                   "\x61\x96\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf"
                   "\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf", 48)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(decode(c.input, c.from), c.expected);
  }
}

TEST(VOQ_Base64, EncodedLength) {
  struct Case {
    unsigned int n;
    unsigned int expected;
  };
  const Case cases[] = {{0, 0}, {1, 4}, {2, 4}, {3, 4}, {4, 8}, {5, 8}, {6, 8}, {7, 12}, {768, 1024}};
  for (const Case& c : cases) {
    EXPECT_EQ(voqBase64EncodedLength(c.n), c.expected) << c.n;
  }
  // At most 768 bytes fit one line of 1024: then the length is the text
  // without its final line break.
  const std::string password(700, 'p');
  EXPECT_EQ(encode(password, 1024).size(), voqBase64EncodedLength(700) + 2);
}

TEST(VOQ_Base64, NullStreams) {
  VOQ_String s = voqString("abc");
  VOQ_MemoryStream stream(&s);
  voqBase64Encode(nullptr, &stream, 0xFFFFFFFF, 76);
  voqBase64Encode(&stream, nullptr, 0xFFFFFFFF, 76);
  voqBase64Decode(nullptr, &stream);
  voqBase64Decode(&stream, nullptr);
  EXPECT_EQ(stdString(s), "abc");
}

TEST(VOQ_Base64, BetweenFiles) {
  const std::string dir = quarveltest::makeTempDirectory("base64");
  const std::string plain = dir + "/plain.bin";
  const std::string encoded = dir + "/encoded.txt";
  const std::string decoded = dir + "/decoded.bin";
  const std::string content("binary\0\xff data", 13);
  {
    VOQ_FileStream out(plain.c_str(), true);
    out.write(content.data(), static_cast<unsigned int>(content.size()));
  }
  {
    VOQ_FileStream in(plain.c_str(), false);
    VOQ_FileStream out(encoded.c_str(), true);
    voqBase64Encode(&in, &out, 0xFFFFFFFF, 8);
  }
  {
    // A file stream reports its end only after a failed read; decoding must
    // stop at the size instead.
    VOQ_FileStream in(encoded.c_str(), false);
    VOQ_FileStream out(decoded.c_str(), true);
    voqBase64Decode(&in, &out);
  }
  VOQ_FileStream back(decoded.c_str(), false);
  std::string result;
  for (unsigned int i = 0, n = back.getSize(); i < n; ++i) result += static_cast<char>(back.read());
  EXPECT_EQ(result, content);
}

// Random round trips against OpenSSL, one test per line length.
class VOQ_Base64Random : public ::testing::TestWithParam<unsigned int> {};

TEST_P(VOQ_Base64Random, AgreesWithOpenSSL) {
  const unsigned int lineLength = GetParam();
  std::mt19937 random(lineLength);
  std::uniform_int_distribution<int> byte(0, 255);
  for (unsigned int length = 0; length <= 3000; ++length) {
    std::string input(length, '\0');
    for (char& c : input) c = static_cast<char>(byte(random));
    const std::string ours = encode(input, lineLength);
    ASSERT_EQ(ours, referenceEncoding(input, lineLength)) << "length " << length;
    ASSERT_EQ(decode(ours), input) << "length " << length;
    ASSERT_EQ(referenceDecoding(ours), input) << "length " << length;
  }
}

INSTANTIATE_TEST_SUITE_P(LineLengths, VOQ_Base64Random, ::testing::Values(1u, 4u, 64u, 76u, 1024u, 1026u));

}  // namespace
