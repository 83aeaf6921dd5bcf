#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "foundation/util/AbstractException.h"

namespace {

struct Kind {
  const char* name;
  std::function<void(const char*)> raise;
};

const Kind kKinds[] = {
    {"VOQ_ParserException", [](const char* m) { throw VOQ_ParserException(m); }},
    {"VOQ_ListException", [](const char* m) { throw VOQ_ListException(m); }},
    {"VOQ_MapException", [](const char* m) { throw VOQ_MapException(m); }},
    {"VOQ_StreamException", [](const char* m) { throw VOQ_StreamException(m); }},
};

TEST(AbstractException, EachKindIsCaughtAsTheBaseAndKeepsItsNameInClones) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    std::unique_ptr<AbstractException> clone;
    try {
      kind.raise("something failed");
      FAIL() << "nothing thrown";
    } catch (const AbstractException& e) {
      EXPECT_STREQ(e.name(), kind.name);
      EXPECT_STREQ(e.getMessage(), "something failed");
      EXPECT_EQ(e.getCause(), nullptr);
      clone.reset(e.clone());
    }
    // The clone outlives the thrown object.
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->name(), kind.name);
    EXPECT_STREQ(clone->getMessage(), "something failed");
  }
}

TEST(AbstractException, NullMessageIsEmpty) {
  VOQ_ListException e(nullptr);
  EXPECT_STREQ(e.getMessage(), "");
}

TEST(AbstractException, CauseIsAnOwnedCloneThatOutlivesTheCallersObject) {
  std::unique_ptr<VOQ_ParserException> outer;
  {
    VOQ_ListException root("root");
    auto middle = std::make_unique<VOQ_StreamException>("middle", &root);
    outer = std::make_unique<VOQ_ParserException>("outer", middle.get());
    EXPECT_NE(outer->getCause(), middle.get());
  }  // the caller's causes are gone; the chain must not point at them
  const AbstractException* cause = outer->getCause();
  ASSERT_NE(cause, nullptr);
  EXPECT_STREQ(cause->name(), "VOQ_StreamException");
  EXPECT_STREQ(cause->getMessage(), "middle");
  ASSERT_NE(cause->getCause(), nullptr);
  EXPECT_STREQ(cause->getCause()->name(), "VOQ_ListException");
  EXPECT_STREQ(cause->getCause()->getMessage(), "root");
  EXPECT_EQ(cause->getCause()->getCause(), nullptr);
}

TEST(AbstractException, CopiesAndClonesCarryTheWholeChain) {
  VOQ_MapException root("root");
  auto original = std::make_unique<VOQ_StreamException>("top", &root);
  VOQ_StreamException copy(*original);
  std::unique_ptr<AbstractException> clone(original->clone());
  original.reset();
  const AbstractException* both[] = {&copy, clone.get()};
  for (const AbstractException* e : both) {
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->getMessage(), "top");
    ASSERT_NE(e->getCause(), nullptr);
    EXPECT_STREQ(e->getCause()->name(), "VOQ_MapException");
    EXPECT_STREQ(e->getCause()->getMessage(), "root");
  }
  EXPECT_NE(copy.getCause(), clone->getCause());
}

TEST(AbstractException, ThrownWithCauseByValue) {
  try {
    try {
      throw VOQ_StreamException("End of file.");
    } catch (const VOQ_StreamException& e) {
      throw VOQ_ParserException("Unexpected end of file.", &e);
    }
  } catch (const AbstractException& e) {
    EXPECT_STREQ(e.name(), "VOQ_ParserException");
    ASSERT_NE(e.getCause(), nullptr);
    EXPECT_STREQ(e.getCause()->getMessage(), "End of file.");
  }
}

TEST(AbstractException, NullCauseGivesNone) {
  VOQ_ParserException e("message", nullptr);
  EXPECT_EQ(e.getCause(), nullptr);
}

}  // namespace
