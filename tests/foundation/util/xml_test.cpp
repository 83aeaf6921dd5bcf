#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "foundation/util/VOQ_FileStream.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "foundation/util/VOQ_XML_Document.h"
#include "foundation/util/VOQ_XML_Element.h"
#include "quarvel_test.h"
#include "stream_helpers.h"

namespace {

std::string written(const VOQ_XML_Element& element) {
  VOQ_String out;
  VOQ_MemoryStream stream(&out);
  element.write(&stream);
  return stdString(out);
}

// Parses text as a document and writes its root back.
std::string reparsed(const std::string& text) {
  VOQ_XML_Document document;
  document.parse(voqString(text));
  return written(*document.getRoot());
}

std::string nested(unsigned int depth) {
  std::string text;
  for (unsigned int i = 0; i < depth; ++i) text += "<a>";
  for (unsigned int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(VOQ_XML, ParseTree) {
  VOQ_XML_Document document;
  document.parse(voqString("<a><b>x</b><c/></a>"));
  VOQ_XML_Element* a = document.getRoot();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(stdString(a->getName()), "a");
  EXPECT_EQ(a->getValue().getLength(), 0u);
  EXPECT_EQ(a->getParent(), nullptr);
  ASSERT_EQ(a->getChildren().getCount(), 2u);
  VOQ_XML_Element* b = a->getChildren().getAt(0);
  VOQ_XML_Element* c = a->getChildren().getAt(1);
  EXPECT_EQ(stdString(b->getName()), "b");
  EXPECT_EQ(stdString(b->getValue()), "x");
  EXPECT_EQ(stdString(c->getName()), "c");
  EXPECT_EQ(c->getChildren().getCount(), 0u);
  EXPECT_EQ(b->getParent(), a);
  EXPECT_EQ(b->nextSibling(), c);
  EXPECT_EQ(c->nextSibling(), nullptr);
  EXPECT_EQ(a->nextSibling(), nullptr);
}

TEST(VOQ_XML, Constructors) {
  VOQ_XML_Element parent("", "p", nullptr);
  VOQ_XML_Element fromTexts("t", "n", &parent);
  EXPECT_EQ(written(fromTexts), "<n>t</n>");
  EXPECT_EQ(fromTexts.getParent(), &parent);
  VOQ_XML_Element fromNulls(nullptr, nullptr, nullptr);
  EXPECT_EQ(written(fromNulls), "</>");
  VOQ_XML_Element fromName(voqString("n"), &parent);
  EXPECT_EQ(written(fromName), "<n/>");
  EXPECT_EQ(fromName.getParent(), &parent);
  VOQ_String text = voqString(" <s>x</s>");
  VOQ_MemoryStream stream(&text);
  VOQ_XML_Element parsed(&stream, &parent);
  EXPECT_EQ(written(parsed), "<s>x</s>");
  EXPECT_EQ(parsed.getParent(), &parent);
  EXPECT_EQ(stream.getPosition(), text.getLength());
}

TEST(VOQ_XML, WriteOfParsedText) {
  struct Case {
    const char* what;
    std::string input;
    std::string output;
  };
  const Case cases[] = {
      {"nested tree", "<a><b>x</b><c/></a>", "<a><b>x</b><c/></a>"},
      {"empty element", "<a/>", "<a/>"},
      {"empty name", "<>x</>", "<>x</>"},
      {"deeper tree", "<r><s><t>1</t><t>2</t></s><u/></r>", "<r><s><t>1</t><t>2</t></s><u/></r>"},
      {"leading blanks skipped, trailing kept", "<a>  x y  </a>", "<a>x y  </a>"},
      {"blanks between tags", " \r\n<a>\r\n <b>1</b>\n <c/> \r\n</a>", "<a><b>1</b><c/></a>"},
      {"only blanks as content", "<a>  \n </a>", "<a/>"},
      {"tab is text", "<a>\t</a>", "<a>\t</a>"},
      {"attribute text ends up in the name", "<a k=\"v\">t</a>", "<a k=\"v\">t</a k=\"v\">"},
      {"blank in the name", "<a b/>", "<a b/>"},
      {"end tag name not compared", "<a>x</b>", "<a>x</a>"},
      {"text without end tag before a sibling", "<r><a>x<b/></r>", "<r><a>x</a><b/></r>"},
      {"text ends the element, children after it are not its own", "<a>x<b>y</b></a>", "<a>x</a>"},
      {"byte after '/' taken as '>'", "<a/x", "<a/>"},
      {"bytes after the root are not read", "<a>x</a>trailing", "<a>x</a>"},
      {"'&' is plain text", "<a>x&amp;y</a>", "<a>x&amp;y</a>"},
      {"high bytes and zero bytes", std::string("<\xC3\xA4>\x01\x00\xFF</\xC3\xA4>", 12),
       std::string("<\xC3\xA4>\x01\x00\xFF</\xC3\xA4>", 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(reparsed(c.input), c.output);
  }
}

TEST(VOQ_XML, ElementTextAndName) {
  VOQ_XML_Document document;
  document.parse(voqString("<a k=\"v\">  x y  </a>"));
  VOQ_XML_Element* root = document.getRoot();
  EXPECT_EQ(stdString(root->getName()), "a k=\"v\"");
  EXPECT_EQ(stdString(root->getValue()), "x y  ");
  EXPECT_EQ(root->getAttributes().getCount(), 0u);
}

TEST(VOQ_XML, ParseErrors) {
  struct Case {
    const char* what;
    std::string input;
    const char* name;     // class of the exception
    const char* message;
    const char* cause;    // NULL: none
    unsigned int position;  // of the stream afterwards
  };
  const char* parser = "VOQ_ParserException";
  const char* stream = "VOQ_StreamException";
  const char* eof = "Unexpected end of file.";
  const Case cases[] = {
      {"nothing", "", stream, "End of file.", nullptr, 0},
      {"only blanks", " \r\n", stream, "End of file.", nullptr, 3},
      {"no '<'", "  x", parser, "Invalid token. '<' expected.", nullptr, 0},
      {"end inside the start tag", " <a", parser, eof, "End of file.", 0},
      {"end after '/'", "<a/", parser, eof, "End of file.", 0},
      {"end inside text", "<a>x", parser, eof, "End of file.", 3},
      {"end inside the end tag", "<a>x</a", parser, eof, "End of file.", 4},
      {"end after '<' of an end tag", "<a>x<", parser, eof, "End of file.", 4},
      {"end inside a child's tag", "<a><b", parser, eof, "End of file.", 3},
      // Blanks skipped up to the end: the stream's own exception.
      {"end before the end tag", "<a><b/>", stream, "End of file.", nullptr, 7},
      {"end before the text", "<a>  ", stream, "End of file.", nullptr, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VOQ_String text = voqString(c.input);
    VOQ_MemoryStream memory(&text);
    VOQ_XML_Element element(nullptr, nullptr, nullptr);
    try {
      element.parse(&memory, nullptr);
      ADD_FAILURE() << "nothing thrown";
    } catch (const AbstractException& e) {
      EXPECT_STREQ(e.name(), c.name);
      EXPECT_STREQ(e.getMessage(), c.message);
      if (c.cause == nullptr) {
        EXPECT_EQ(e.getCause(), nullptr);
      } else {
        ASSERT_NE(e.getCause(), nullptr);
        EXPECT_STREQ(e.getCause()->name(), "VOQ_StreamException");
        EXPECT_STREQ(e.getCause()->getMessage(), c.cause);
      }
    }
    EXPECT_EQ(memory.getPosition(), c.position);
  }
}

TEST(VOQ_XML, MissingDatasource) {
  VOQ_XML_Element element("t", "n", nullptr);
  VOQ_XML_Document document;
  struct Case {
    const char* message;
    std::function<void()> action;
  };
  const Case cases[] = {
      {"VOQ_XML_Element: Missing datasource for parsing.", [&] { element.parse(nullptr, nullptr); }},
      {"VOQ_XML_Document: Missing datasource for parsing.", [&] { document.parse(static_cast<VOQ_Stream*>(nullptr)); }},
      {"VOQ_XML_Document: Missing datasource for parsing.", [&] { VOQ_XML_Document d(static_cast<VOQ_Stream*>(nullptr)); }},
      {"FATAL: Missing datasource for writing XML.", [&] { element.write(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      c.action();
      ADD_FAILURE() << "nothing thrown";
    } catch (const VOQ_ParserException& e) {
      EXPECT_STREQ(e.getMessage(), c.message);
    }
  }
}

TEST(VOQ_XML, FailedParseKeepsWhatWasRead) {
  VOQ_String text = voqString("<a><b>1</b><c>2</c><d");
  VOQ_MemoryStream stream(&text);
  VOQ_XML_Element element(nullptr, nullptr, nullptr);
  EXPECT_THROW(element.parse(&stream, nullptr), VOQ_ParserException);
  EXPECT_EQ(stdString(element.getName()), "a");
  ASSERT_EQ(element.getChildren().getCount(), 2u);
  EXPECT_EQ(stdString(element.getChildren().getAt(1)->getValue()), "2");
}

TEST(VOQ_XML, FailedDocumentParseLeavesNoRoot) {
  VOQ_XML_Document document;
  document.parse(voqString("<a>x</a>"));
  ASSERT_NE(document.getRoot(), nullptr);
  EXPECT_THROW(document.parse(voqString("<b>y")), VOQ_ParserException);
  EXPECT_EQ(document.getRoot(), nullptr);
  document.parse(voqString("<a>x</a>"));
  EXPECT_THROW(document.parse(voqString("")), VOQ_StreamException);
  EXPECT_EQ(document.getRoot(), nullptr);
}

TEST(VOQ_XML, NestingDepthLimit) {
  const unsigned int limit = VOQ_XML_Element::maxDepth;
  // The deepest element is written in its empty form.
  std::string deepest;
  for (unsigned int i = 0; i < limit - 1; ++i) deepest += "<a>";
  deepest += "<a/>";
  for (unsigned int i = 0; i < limit - 1; ++i) deepest += "</a>";
  EXPECT_EQ(reparsed(nested(limit)), deepest);

  std::string unclosed;
  for (int i = 0; i < 100000; ++i) unclosed += "<a>";
  struct Case {
    const char* what;
    std::string input;
  };
  const Case cases[] = {{"one level too deep", nested(limit + 1)},
                        {"far too deep and unclosed", unclosed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VOQ_XML_Document document;
    try {
      document.parse(voqString(c.input));
      ADD_FAILURE() << "nothing thrown";
    } catch (const VOQ_ParserException& e) {
      EXPECT_STREQ(e.getMessage(), "XML nesting too deep.");
    }
    EXPECT_EQ(document.getRoot(), nullptr);
  }
}

TEST(VOQ_XML, TextAndChildrenWritesOnlyTheText) {
  VOQ_XML_Element element("t", "e", nullptr);
  element.getChildren().insertAt(new VOQ_XML_Element("c", "child", &element), 0, true, false);
  EXPECT_EQ(written(element), "<e>t</e>");
  element.getValue().clear();
  EXPECT_EQ(written(element), "<e><child>c</child></e>");
}

TEST(VOQ_XML, NothingIsEscaped) {
  VOQ_XML_Element element("a<b&c", "t", nullptr);
  EXPECT_EQ(written(element), "<t>a<b&c</t>");
  // '<' in text does not come back as it went.
  VOQ_XML_Document document;
  document.parse(voqString(written(element)));
  EXPECT_EQ(stdString(document.getRoot()->getValue()), "a");
}

TEST(VOQ_XML, GetChild) {
  VOQ_XML_Document document;
  document.parse(voqString("<r><b>1</b><c>2</c><b>3</b><bb>x</bb><b>4</b></r>"));
  VOQ_XML_Element* root = document.getRoot();
  struct Case {
    const char* name;
    unsigned int index;
    const char* text;  // NULL: no such child
  };
  const Case cases[] = {{"b", 0, "1"}, {"b", 1, "3"}, {"b", 2, "4"}, {"b", 3, nullptr}, {"c", 0, "2"},
                        {"c", 1, nullptr}, {"bb", 0, "x"}, {"x", 0, nullptr}, {"", 0, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.index));
    VOQ_XML_Element* child = root->getChild(c.name, c.index);
    if (c.text == nullptr) {
      EXPECT_EQ(child, nullptr);
    } else {
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(stdString(child->getValue()), c.text);
    }
  }
  EXPECT_EQ(root->getChild(nullptr, 0), nullptr);
  EXPECT_EQ(root->getChild("b", 0)->getChild("b", 0), nullptr);  // no children
}

TEST(VOQ_XML, NextSiblingOfAnElementItsParentDoesNotHold) {
  VOQ_XML_Element parent("", "p", nullptr);
  parent.getChildren().insertAt(new VOQ_XML_Element("", "a", &parent), 0, true, false);
  VOQ_XML_Element stray("", "s", &parent);
  try {
    stray.nextSibling();
    FAIL() << "nothing thrown";
  } catch (const VOQ_ParserException& e) {
    EXPECT_STREQ(e.getMessage(), "FATAL: Structural error in XML.");
  }
}

TEST(VOQ_XML, WriteToAFailingStream) {
  VOQ_XML_Element element("t", "e", nullptr);
  VOQ_MemoryStream nowhere(nullptr);  // refuses writes
  try {
    element.write(&nowhere);
    FAIL() << "nothing thrown";
  } catch (const VOQ_ParserException& e) {
    EXPECT_STREQ(e.getMessage(), "Error during writing XML.");
    ASSERT_NE(e.getCause(), nullptr);
    EXPECT_STREQ(e.getCause()->name(), "VOQ_StreamException");
  }
}

TEST(VOQ_XML, CopiesAreDeep) {
  VOQ_XML_Document document;
  document.parse(voqString("<a><b><c>1</c></b><d>2</d></a>"));
  VOQ_XML_Element* root = document.getRoot();
  root->getAttributes().put(voqString("k"), nullptr, false, false);

  VOQ_XML_Element copy(*root, nullptr);
  VOQ_XML_Document copiedDocument(document);
  document.getRoot()->getChild("d", 0)->getValue().assign("changed");
  for (VOQ_XML_Element* e : {&copy, copiedDocument.getRoot()}) {
    EXPECT_EQ(written(*e), "<a><b><c>1</c></b><d>2</d></a>");
    EXPECT_EQ(e->getParent(), nullptr);
    VOQ_XML_Element* b = e->getChild("b", 0);
    EXPECT_EQ(b->getParent(), e);
    EXPECT_EQ(b->getChild("c", 0)->getParent(), b);
    EXPECT_EQ(b->nextSibling(), e->getChild("d", 0));
    EXPECT_EQ(e->getAttributes().getCount(), 1u);
  }
}

TEST(VOQ_XML, SetRoot) {
  VOQ_XML_Document document;
  document.parse(voqString("<a><b><c>1</c></b></a>"));
  // A part of the document's own tree becomes its root.
  document.setRoot(document.getRoot()->getChild("b", 0));
  EXPECT_EQ(written(*document.getRoot()), "<b><c>1</c></b>");
  EXPECT_EQ(document.getRoot()->getParent(), nullptr);
  document.setRoot(document.getRoot());
  EXPECT_EQ(written(*document.getRoot()), "<b><c>1</c></b>");
  document.setRoot(nullptr);
  EXPECT_EQ(document.getRoot(), nullptr);
  document.clear();
  EXPECT_EQ(document.getRoot(), nullptr);
}

TEST(VOQ_XML, ThroughAFile) {
  const std::string path = quarveltest::makeTempDirectory("xml") + "/doc.xml";
  VOQ_XML_Document document;
  document.parse(voqString("<a>\r\n <b>x y </b>\r\n <c/>\r\n</a>"));
  {
    VOQ_FileStream file(path.c_str(), true);
    document.getRoot()->write(&file);
  }
  VOQ_FileStream file(path.c_str(), false);
  VOQ_XML_Document back(&file);
  EXPECT_EQ(written(*back.getRoot()), "<a><b>x y </b><c/></a>");
}

}  // namespace
