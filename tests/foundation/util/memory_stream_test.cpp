#include <gtest/gtest.h>

#include <string>

#include "foundation/util/VOQ_MemoryStream.h"
#include "stream_helpers.h"

namespace {

TEST(VOQ_MemoryStream, SeekTable) {
  struct Case {
    std::string content;
    unsigned int seekTo;
    unsigned int expected;
  };
  const Case cases[] = {
      {"abcde", 0, 0}, {"abcde", 3, 3}, {"abcde", 4, 4},
      // Past the end: the last byte.
      {"abcde", 5, 4}, {"abcde", 7, 4}, {"abcde", 0xFFFFFFFF, 4},
      // An empty string has no last byte: position 0, not length - 1 wrapped.
      {"", 0, 0}, {"", 3, 0}, {"", 0xFFFFFFFF, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.content + "\" seek " + std::to_string(c.seekTo));
    VOQ_String s = voqString(c.content);
    VOQ_MemoryStream stream(&s);
    stream.seek(c.seekTo);
    EXPECT_EQ(stream.getPosition(), c.expected);
  }
}

TEST(VOQ_MemoryStream, ReadPeekAndEnd) {
  VOQ_String s = voqString("abcde");
  VOQ_MemoryStream stream(&s);
  EXPECT_EQ(stream.getSize(), 5u);
  EXPECT_EQ(stream.peek(), 'a');
  EXPECT_EQ(stream.peek(), 'a');
  EXPECT_EQ(stream.read(), 'a');
  stream.seek(7);  // the last byte
  EXPECT_FALSE(stream.isAtEnd());
  EXPECT_EQ(stream.read(), 'e');
  EXPECT_EQ(stream.getPosition(), 5u);
  EXPECT_TRUE(stream.isAtEnd());
  EXPECT_EQ(streamErrorOf([&] { stream.read(); }), "End of file.");
  EXPECT_EQ(streamErrorOf([&] { stream.peek(); }), "End of file.");
  EXPECT_EQ(stream.getPosition(), 5u);
}

TEST(VOQ_MemoryStream, EmptyString) {
  VOQ_String s;
  VOQ_MemoryStream stream(&s);
  EXPECT_TRUE(stream.isAtEnd());
  EXPECT_EQ(streamErrorOf([&] { stream.read(); }), "End of file.");
  stream.seek(2);
  EXPECT_EQ(stream.getPosition(), 0u);
  stream.writeByte('x');  // writing works from there
  EXPECT_EQ(stdString(s), "x");
  stream.seek(0);
  EXPECT_EQ(stream.read(), 'x');
}

TEST(VOQ_MemoryStream, WritesAlwaysAppend) {
  VOQ_String s = voqString("abcde");
  {
    VOQ_MemoryStream stream(&s);
    stream.seek(1);
    stream.write("xy", 2);
    EXPECT_EQ(stdString(s), "abcdexy");
    EXPECT_EQ(stream.getPosition(), 3u);
    stream.writeByte('z');
    EXPECT_EQ(stdString(s), "abcdexyz");
    EXPECT_EQ(stream.getPosition(), 4u);
    EXPECT_EQ(stream.read(), 'e');
    // Writing the string's own bytes through the stream.
    stream.write(s.getData(), s.getLength());
    EXPECT_EQ(stdString(s), "abcdexyzabcdexyz");
    stream.flush();
    stream.close();
  }
  // The stream did not own the string.
  EXPECT_EQ(stdString(s), "abcdexyzabcdexyz");
  EXPECT_EQ(s.getData()[s.getLength()], '\0');
}

TEST(VOQ_MemoryStream, WithoutString) {
  VOQ_MemoryStream stream(nullptr);
  EXPECT_EQ(stream.getSize(), 0u);
  EXPECT_EQ(streamErrorOf([&] { stream.isAtEnd(); }), "No file open.");
  EXPECT_EQ(streamErrorOf([&] { stream.read(); }), "End of file.");
  EXPECT_EQ(streamErrorOf([&] { stream.writeByte('x'); }), "No file open.");
  EXPECT_EQ(streamErrorOf([&] { stream.write("x", 1); }), "No file open.");
  stream.seek(4);
  EXPECT_EQ(stream.getPosition(), 0u);
}

TEST(VOQ_MemoryStream, SkipBlanks) {
  struct Case {
    std::string content;
    unsigned int expected;  // position after skipBlanks
  };
  const Case cases[] = {{"x", 0}, {" x", 1}, {" \r\n \nx", 5}, {"\tx", 0}, {"  \tx", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    VOQ_String s = voqString(c.content);
    VOQ_MemoryStream stream(&s);
    stream.skipBlanks();
    EXPECT_EQ(stream.getPosition(), c.expected);
  }
  VOQ_String blanks = voqString(" \r\n");
  VOQ_MemoryStream stream(&blanks);
  EXPECT_EQ(streamErrorOf([&] { stream.skipBlanks(); }), "End of file.");
}

}  // namespace
