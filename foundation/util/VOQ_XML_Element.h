// Element of the utility library's XML tree: a name and either text or child
// elements. The text form is a strict subset of XML: no attributes,
// declarations, comments, entities or escaping.
#pragma once

#include "foundation/util/VOQ_List.h"
#include "foundation/util/VOQ_Map.h"
#include "foundation/util/VOQ_Stream.h"
#include "foundation/util/VOQ_String.h"

class VOQ_XML_Element {
 public:
  // Deeper nesting is refused while parsing, so that input from outside
  // cannot exhaust the stack.
  static constexpr unsigned int maxDepth = 256;

  // Copies of the texts (NULL counts as empty).
  VOQ_XML_Element(const char* text, const char* name, VOQ_XML_Element* parent);
  VOQ_XML_Element(const VOQ_String& name, VOQ_XML_Element* parent);
  // Parses one element with its children from the stream at once.
  VOQ_XML_Element(VOQ_Stream* stream, VOQ_XML_Element* parent);
  // Deep copy; the copied children have the new element as their parent.
  VOQ_XML_Element(const VOQ_XML_Element& other, VOQ_XML_Element* parent = nullptr);
  VOQ_XML_Element& operator=(const VOQ_XML_Element&) = delete;
  ~VOQ_XML_Element();

  // Empties text and name, deletes children and attributes, forgets the parent.
  void clear();

  VOQ_String& getValue() { return text; }
  const VOQ_String& getValue() const { return text; }
  VOQ_String& getName() { return name; }
  const VOQ_String& getName() const { return name; }
  VOQ_XML_Element* getParent() const { return parent; }
  VOQ_List<VOQ_XML_Element>& getChildren() { return children; }
  const VOQ_List<VOQ_XML_Element>& getChildren() const { return children; }
  // Carried and copied, never parsed or written.
  VOQ_Map<VOQ_String, VOQ_String>& getAttributes() { return attributes; }

  // The index-th child (0 = first) whose name is the given text; NULL when
  // there are fewer.
  VOQ_XML_Element* getChild(const char* name, unsigned int index) const;
  // Appends a deep copy of element as the last child; the caller keeps element.
  void addChild(const VOQ_XML_Element& element);
  // The element after this one among its parent's children; NULL for the last
  // one or without parent. Moves the parent list's iterator.
  VOQ_XML_Element* nextSibling();

  // Replaces the whole content by one element read from the stream. Failures
  // are VOQ_ParserException, except a stream that runs out while blanks are
  // skipped, whose VOQ_StreamException passes unchanged. After a failure the
  // element holds what was read up to it.
  void parse(VOQ_Stream* stream, VOQ_XML_Element* parent);
  void write(VOQ_Stream* stream) const;

 private:
  void parseAtDepth(VOQ_Stream* stream, VOQ_XML_Element* parent, unsigned int depth);
  bool readStartTag(VOQ_Stream* stream);
  bool readText(VOQ_Stream* stream);
  static bool readEndTag(VOQ_Stream* stream);
  void writeTo(VOQ_Stream* stream) const;

  VOQ_String text;
  VOQ_String name;
  VOQ_List<VOQ_XML_Element> children;
  VOQ_Map<VOQ_String, VOQ_String> attributes;
  VOQ_XML_Element* parent = nullptr;
};
