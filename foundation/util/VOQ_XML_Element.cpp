#include "foundation/util/VOQ_XML_Element.h"

#include <cstring>
#include <memory>

#include "foundation/util/AbstractException.h"

namespace {

void unexpectedEnd(VOQ_Stream* stream, unsigned int start, const VOQ_StreamException& cause) {
  stream->seek(start);
  throw VOQ_ParserException("Unexpected end of file.", &cause);
}

}  // namespace

VOQ_XML_Element::VOQ_XML_Element(const char* text, const char* name, VOQ_XML_Element* parent)
    : parent(parent) {
  this->text.assign(text);
  this->name.assign(name);
}

VOQ_XML_Element::VOQ_XML_Element(const VOQ_String& name, VOQ_XML_Element* parent)
    : name(name), parent(parent) {}

VOQ_XML_Element::VOQ_XML_Element(VOQ_Stream* stream, VOQ_XML_Element* parent) {
  parse(stream, parent);
}

VOQ_XML_Element::VOQ_XML_Element(const VOQ_XML_Element& other, VOQ_XML_Element* parent)
    : text(other.text), name(other.name), attributes(other.attributes), parent(parent) {
  other.children.forEach([this](VOQ_XML_Element* child) {
    children.insertAt(std::make_unique<VOQ_XML_Element>(*child, this).release(),
                      children.getCount(), true, false);
  });
}

VOQ_XML_Element::~VOQ_XML_Element() { clear(); }

void VOQ_XML_Element::clear() {
  text.clear();
  name.clear();
  children.removeAll();
  attributes.removeAll();
  parent = nullptr;
}

VOQ_XML_Element* VOQ_XML_Element::getChild(const char* name, unsigned int index) const {
  if (name == nullptr) {
    return nullptr;
  }
  // A walk of its own rather than nextSibling, which starts over from the
  // first child each time and would make this quadratic.
  const size_t length = std::strlen(name);
  VOQ_XML_Element* found = nullptr;
  unsigned int matches = 0;
  children.forEach([&](VOQ_XML_Element* child) {
    const VOQ_String& childName = child->getName();
    if (found == nullptr && childName.getLength() == length &&
        (length == 0 || std::memcmp(childName.getData(), name, length) == 0)) {
      if (matches++ == index) {
        found = child;
      }
    }
  });
  return found;
}

VOQ_XML_Element* VOQ_XML_Element::nextSibling() {
  if (parent == nullptr) {
    return nullptr;
  }
  VOQ_List<VOQ_XML_Element>& siblings = parent->children;
  siblings.setFirst();
  while (siblings.hasMoreElements()) {
    if (siblings.getNext() == this) {
      return siblings.hasMoreElements() ? siblings.getNext() : nullptr;
    }
  }
  throw VOQ_ParserException("FATAL: Structural error in XML.");
}

void VOQ_XML_Element::parse(VOQ_Stream* stream, VOQ_XML_Element* parent) {
  parseAtDepth(stream, parent, 1);
}

void VOQ_XML_Element::parseAtDepth(VOQ_Stream* stream, VOQ_XML_Element* parent,
                                   unsigned int depth) {
  if (stream == nullptr) {
    throw VOQ_ParserException("VOQ_XML_Element: Missing datasource for parsing.");
  }
  clear();
  this->parent = parent;
  if (readStartTag(stream)) {
    return;  // <name/>
  }
  if (readText(stream)) {
    // An element with text has no children; its end tag is optional.
    readEndTag(stream);
    return;
  }
  while (!readEndTag(stream)) {
    if (depth >= maxDepth) {
      throw VOQ_ParserException("XML nesting too deep.");
    }
    auto child = std::make_unique<VOQ_XML_Element>(nullptr, nullptr, this);
    child->parseAtDepth(stream, this, depth + 1);
    children.insertAt(child.release(), children.getCount(), true, false);
  }
}

// Reads "<name>" or "<name/>"; true for the latter. Every byte up to the
// first '/' or '>' belongs to the name, blanks and attribute text included.
bool VOQ_XML_Element::readStartTag(VOQ_Stream* stream) {
  const unsigned int start = stream->getPosition();
  stream->skipBlanks();
  try {
    if (stream->read() != '<') {
      stream->seek(start);
      throw VOQ_ParserException("Invalid token. '<' expected.");
    }
    for (;;) {
      unsigned char byte = stream->read();
      if (byte == '/') {
        stream->read();  // taken as the '>'
        return true;
      }
      if (byte == '>') {
        return false;
      }
      name.appendByte(byte);
    }
  } catch (const VOQ_StreamException& e) {
    unexpectedEnd(stream, start, e);
  }
  return false;
}

// Text runs up to the next '<'; leading blanks are skipped, trailing ones
// kept. Without text the position goes back to before the blanks.
bool VOQ_XML_Element::readText(VOQ_Stream* stream) {
  const unsigned int start = stream->getPosition();
  stream->skipBlanks();
  try {
    if (stream->peek() == '<') {
      stream->seek(start);
      return false;
    }
    while (stream->peek() != '<') {
      text.appendByte(stream->read());
    }
  } catch (const VOQ_StreamException& e) {
    unexpectedEnd(stream, start, e);
  }
  return true;
}

// "</...>", whatever name it holds; otherwise the position stays.
bool VOQ_XML_Element::readEndTag(VOQ_Stream* stream) {
  const unsigned int start = stream->getPosition();
  stream->skipBlanks();
  try {
    if (stream->read() != '<' || stream->read() != '/') {
      stream->seek(start);
      return false;
    }
    while (stream->read() != '>') {
    }
  } catch (const VOQ_StreamException& e) {
    unexpectedEnd(stream, start, e);
  }
  return true;
}

void VOQ_XML_Element::addChild(const VOQ_XML_Element& element) {
  children.insertAt(std::make_unique<VOQ_XML_Element>(element, this).release(), children.getCount(), true, false);
}

void VOQ_XML_Element::write(VOQ_Stream* stream) const {
  if (stream == nullptr) {
    throw VOQ_ParserException("FATAL: Missing datasource for writing XML.");
  }
  try {
    writeTo(stream);
  } catch (const VOQ_StreamException& e) {
    throw VOQ_ParserException("Error during writing XML.", &e);
  }
}

void VOQ_XML_Element::writeTo(VOQ_Stream* stream) const {
  stream->writeByte('<');
  stream->write(name.getData(), name.getLength());
  if (text.getLength() == 0 && children.getCount() == 0) {
    stream->write("/>", 2);
    return;
  }
  stream->writeByte('>');
  if (text.getLength() > 0) {
    stream->write(text.getData(), text.getLength());  // children are not written
  } else {
    children.forEach([stream](VOQ_XML_Element* child) { child->writeTo(stream); });
  }
  stream->write("</", 2);
  stream->write(name.getData(), name.getLength());
  stream->writeByte('>');
}
