#include "foundation/util/VOQ_XML_Document.h"

#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_MemoryStream.h"

VOQ_XML_Document::VOQ_XML_Document() = default;

VOQ_XML_Document::VOQ_XML_Document(VOQ_Stream* stream) { parse(stream); }

VOQ_XML_Document::VOQ_XML_Document(const VOQ_XML_Document& other) { setRoot(other.root.get()); }

VOQ_XML_Document::~VOQ_XML_Document() = default;

void VOQ_XML_Document::clear() { root.reset(); }

void VOQ_XML_Document::parse(VOQ_Stream* stream) {
  if (stream == nullptr) {
    throw VOQ_ParserException("VOQ_XML_Document: Missing datasource for parsing.");
  }
  clear();
  auto element = std::make_unique<VOQ_XML_Element>(nullptr, nullptr, nullptr);
  element->parse(stream, nullptr);
  root = std::move(element);
}

void VOQ_XML_Document::parse(const VOQ_String& text) {
  // The stream only reads here, so it may work on the caller's string.
  VOQ_MemoryStream stream(const_cast<VOQ_String*>(&text));
  parse(&stream);
}

void VOQ_XML_Document::write(VOQ_Stream* stream) const {
  if (root) {
    root->write(stream);
  }
}

void VOQ_XML_Document::setRoot(const VOQ_XML_Element* element) {
  // Copy before the old root goes: element may be part of it.
  std::unique_ptr<VOQ_XML_Element> copy;
  if (element != nullptr) {
    copy = std::make_unique<VOQ_XML_Element>(*element, nullptr);
  }
  root = std::move(copy);
}
