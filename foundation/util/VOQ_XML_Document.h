// An XML tree with one owned root element (or none).
#pragma once

#include <memory>

#include "foundation/util/VOQ_Stream.h"
#include "foundation/util/VOQ_String.h"
#include "foundation/util/VOQ_XML_Element.h"

class VOQ_XML_Document {
 public:
  VOQ_XML_Document();
  explicit VOQ_XML_Document(VOQ_Stream* stream);
  VOQ_XML_Document(const VOQ_XML_Document& other);
  VOQ_XML_Document& operator=(const VOQ_XML_Document&) = delete;
  ~VOQ_XML_Document();

  void clear();
  // The old root goes first; when reading fails the document has no root.
  void parse(VOQ_Stream* stream);
  void parse(const VOQ_String& text);
  // A deep copy of element becomes the root (NULL: no root). element may lie
  // inside this document's own tree.
  void setRoot(const VOQ_XML_Element* element);
  // Writes the root in the element's text form; without a root nothing is written.
  void write(VOQ_Stream* stream) const;
  VOQ_XML_Element* getRoot() const { return root.get(); }

 private:
  std::unique_ptr<VOQ_XML_Element> root;
};
