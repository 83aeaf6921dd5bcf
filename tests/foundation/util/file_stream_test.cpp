#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "foundation/util/VOQ_FileStream.h"
#include "quarvel_test.h"
#include "stream_helpers.h"

namespace {

class VOQ_FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { path = quarveltest::makeTempDirectory("filestream") + "/data.bin"; }

  void writeFile(const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  std::string readFile() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string path;
};

TEST_F(VOQ_FileStreamTest, MissingFile) {
  EXPECT_EQ(streamErrorOf([&] { VOQ_FileStream stream(path.c_str(), false); }), "File not found.");
  EXPECT_EQ(streamErrorOf([&] { VOQ_FileStream stream(nullptr, false); }), "File not found.");
  EXPECT_EQ(streamErrorOf([&] { VOQ_FileStream stream((path + "/no/such/dir").c_str(), true); }),
            "File not found.");
}

TEST_F(VOQ_FileStreamTest, WriteThenReadBack) {
  VOQ_FileStream stream(path.c_str(), true);
  stream.write("hello", 5);
  stream.writeByte('!');
  EXPECT_EQ(stream.getPosition(), 6u);
  EXPECT_EQ(stream.getSize(), 6u);
  stream.seek(0);
  std::string back;
  for (int i = 0; i < 6; ++i) back += static_cast<char>(stream.read());
  EXPECT_EQ(back, "hello!");
  stream.flush();
  EXPECT_EQ(readFile(), "hello!");
}

TEST_F(VOQ_FileStreamTest, ForWritingTruncates) {
  writeFile("old content");
  VOQ_FileStream stream(path.c_str(), true);
  EXPECT_EQ(stream.getSize(), 0u);
}

TEST_F(VOQ_FileStreamTest, GetSizeAndPeekKeepThePosition) {
  writeFile("abcdef");
  VOQ_FileStream stream(path.c_str(), false);
  stream.seek(2);
  EXPECT_EQ(stream.getSize(), 6u);
  EXPECT_EQ(stream.getPosition(), 2u);
  EXPECT_EQ(stream.peek(), 'c');
  EXPECT_EQ(stream.peek(), 'c');
  EXPECT_EQ(stream.getPosition(), 2u);
  EXPECT_EQ(stream.read(), 'c');
  EXPECT_EQ(stream.read(), 'd');
}

TEST_F(VOQ_FileStreamTest, AtEndOnlyAfterAReadHitTheEnd) {
  writeFile("ab");
  VOQ_FileStream stream(path.c_str(), false);
  stream.read();
  stream.read();
  EXPECT_EQ(stream.getPosition(), 2u);
  EXPECT_FALSE(stream.isAtEnd());
  EXPECT_EQ(streamErrorOf([&] { stream.read(); }), "File error while reading.");
  EXPECT_TRUE(stream.isAtEnd());
  EXPECT_EQ(stream.getPosition(), 2u);
  stream.seek(0);  // positioning clears the indicator
  EXPECT_FALSE(stream.isAtEnd());
}

TEST_F(VOQ_FileStreamTest, SeekPastTheEnd) {
  writeFile("abc");
  VOQ_FileStream stream(path.c_str(), false);
  stream.seek(3);  // the end itself is allowed
  EXPECT_EQ(stream.getPosition(), 3u);
  EXPECT_EQ(streamErrorOf([&] { stream.seek(4); }), "End of file.");
  EXPECT_EQ(stream.getPosition(), 3u);
}

TEST_F(VOQ_FileStreamTest, ReadAndWriteMixedOnAnExistingFile) {
  writeFile("abcdef");
  {
    VOQ_FileStream stream(path.c_str(), false);
    EXPECT_EQ(stream.read(), 'a');
    EXPECT_EQ(stream.read(), 'b');
    stream.write("XY", 2);  // straight after reading, at the read position
    EXPECT_EQ(stream.read(), 'e');  // straight after writing
    stream.seek(0);
    std::string all;
    for (int i = 0; i < 6; ++i) all += static_cast<char>(stream.read());
    EXPECT_EQ(all, "abXYef");
  }
  EXPECT_EQ(readFile(), "abXYef");
}

TEST_F(VOQ_FileStreamTest, ClosedStreamRefusesEverything) {
  VOQ_FileStream stream(path.c_str(), true);
  stream.write("abc", 3);
  stream.close();
  EXPECT_EQ(stream.getPosition(), 0u);
  EXPECT_EQ(readFile(), "abc");
  const char* expected = "No file open.";
  EXPECT_EQ(streamErrorOf([&] { stream.getSize(); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.write("x", 1); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.writeByte('x'); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.read(); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.peek(); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.isAtEnd(); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.seek(0); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.flush(); }), expected);
  EXPECT_EQ(streamErrorOf([&] { stream.close(); }), expected);
}

TEST_F(VOQ_FileStreamTest, SkipBlanksMovesTheFilePosition) {
  writeFile(" \r\n x");
  VOQ_FileStream stream(path.c_str(), false);
  stream.skipBlanks();
  EXPECT_EQ(stream.getPosition(), 4u);
  EXPECT_EQ(stream.read(), 'x');
}

}  // namespace
