#include "foundation/base/CException.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// One row per class of the family: how to throw it and the type text it carries.
struct ExceptionRow {
  const char* type;
  std::function<void(const char*, const char*)> raise;
  std::function<VOQ::CException(const char*, const char*)> make;
};

template <typename T>
ExceptionRow row(const char* type) {
  return {type, [](const char* where, const char* message) { throw T(where, message); },
          [](const char* where, const char* message) -> VOQ::CException { return T(where, message); }};
}

std::vector<ExceptionRow> family() {
  return {row<VOQ::CException>("generic Exception"),
          row<VOQ::CMemoryException>("Memory Exception"),
          row<VOQ::CNoSuchObjectException>("No Such Object Exception"),
          row<VOQ::CBadArgumentException>("Bad Argument Exception"),
          row<VOQ::CAssertException>("Assert Exception")};
}

TEST(ExceptionFamily, TextsOfEveryClass) {
  struct Args {
    const char* where;
    const char* message;
    const char* expectWhere;
    const char* expectMessage;
  } args[] = {
      {"CReport::CReport", "Kein Speicher frei.\n", "CReport::CReport", "Kein Speicher frei.\n"},
      {nullptr, "Invalid Parameter.\n", "", ""},
      {"CdllFactory", nullptr, "", ""},
      {nullptr, nullptr, "", ""},
      {"", "", "", ""},
  };
  for (const ExceptionRow& r : family()) {
    for (const Args& a : args) {
      SCOPED_TRACE(std::string(r.type) + " where=" + (a.where ? a.where : "NULL") +
                   " message=" + (a.message ? a.message : "NULL"));
      bool caught = false;
      try {
        r.raise(a.where, a.message);
      } catch (VOQ::CException& e) {
        // A handler for the base sees the subclass's own type text.
        caught = true;
        EXPECT_EQ(e.getType(), r.type);
        EXPECT_EQ(e.getWhere(), a.expectWhere);
        EXPECT_EQ(e.getMessage(), a.expectMessage);
      }
      EXPECT_TRUE(caught);
    }
  }
}

TEST(ExceptionFamily, CopyKeepsAllThreeTexts) {
  for (const ExceptionRow& r : family()) {
    SCOPED_TRACE(r.type);
    VOQ::CException original = r.make("CdllFactory::getHandle", "Module jvm.dll existiert nicht.\n");
    VOQ::CException copy(original);
    VOQ::CException assigned("x", "y");
    assigned = original;
    for (const VOQ::CException* e : {&copy, &assigned}) {
      EXPECT_EQ(e->getType(), r.type);
      EXPECT_EQ(e->getWhere(), "CdllFactory::getHandle");
      EXPECT_EQ(e->getMessage(), "Module jvm.dll existiert nicht.\n");
    }
  }
}

TEST(ExceptionFamily, SpecificHandlerTakesOnlyItsClass) {
  bool specific = false;
  try {
    try {
      throw VOQ::CAssertException("CReportFactory::Lock", "Semaphore hat falschen Wert.\n");
    } catch (VOQ::CNoSuchObjectException&) {
      FAIL() << "wrong handler";
    }
  } catch (VOQ::CAssertException& e) {
    specific = true;
    EXPECT_EQ(e.getMessage(), "Semaphore hat falschen Wert.\n");
  }
  EXPECT_TRUE(specific);
}

TEST(ExceptionFamily, FormattedMessageIsBounded) {
  EXPECT_EQ(VOQ::formatMessage("Module %s existiert nicht.\n", "jvm.dll"),
            "Module jvm.dll existiert nicht.\n");
  std::string longName(4000, 'x');
  std::string text = VOQ::formatMessage("Datei: %s kann nicht geöffnet werden.\n", longName.c_str());
  EXPECT_EQ(text.size(), VOQ::kMessageBufferSize - 1);
  EXPECT_EQ(text.rfind("Datei: xxx", 0), 0u);
  EXPECT_EQ(VOQ::formatMessage("Funktion: %s existiert nicht.\n", nullptr),
            "Funktion: (null) existiert nicht.\n");
}

}  // namespace
