// Parses arbitrary bytes as a document. Whatever parses must write out and
// read back to the same bytes, and copies must write the same as the original.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "foundation/util/VOQ_XML_Document.h"

namespace {

VOQ_String written(const VOQ_XML_Element& element) {
  VOQ_String out;
  VOQ_MemoryStream stream(&out);
  element.write(&stream);
  return out;
}

bool sameBytes(const VOQ_String& a, const VOQ_String& b) {
  return a.getLength() == b.getLength() &&
         (a.getLength() == 0 || std::memcmp(a.getData(), b.getData(), a.getLength()) == 0);
}

// An element without name and content is written "</>", which reads back as
// an end tag; such trees cannot come back as they were.
bool hasEmptyName(const VOQ_XML_Element& element) {
  bool found = element.getName().getLength() == 0;
  element.getChildren().forEach([&](VOQ_XML_Element* child) { found = found || hasEmptyName(*child); });
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VOQ_String text(static_cast<unsigned int>(size), data);
  VOQ_XML_Document document;
  try {
    document.parse(text);
  } catch (const AbstractException&) {
    return 0;
  }
  const VOQ_XML_Element* root = document.getRoot();
  if (root == nullptr) {
    std::abort();  // a parse that did not throw leaves a root
  }
  const VOQ_String once = written(*root);

  VOQ_XML_Document copy(document);
  if (!sameBytes(written(*copy.getRoot()), once)) {
    std::abort();
  }
  root->getChild("a", 1);

  if (!hasEmptyName(*root)) {
    VOQ_XML_Document again;
    again.parse(once);  // must not throw
    if (!sameBytes(written(*again.getRoot()), once)) {
      std::abort();
    }
  }
  return 0;
}
