#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/util/VOQ_List.h"
#include "foundation/util/VOQ_String.h"
#include "foundation/util/VOQ_XML_Element.h"
#include "tracked.h"

int Tracked::alive = 0;

// The element types the PDF plug-in keeps in lists: every member must compile for them.
template class VOQ_List<VOQ_String>;
template class VOQ_List<VOQ_XML_Element>;

namespace {

std::string textsOf(const VOQ_List<Tracked>& list) {
  std::string texts;
  list.forEach([&](Tracked* t) { texts += t->text; });
  return texts;
}

// A list of owned elements "a", "b", "c".
void fillAbc(VOQ_List<Tracked>& list) {
  for (const char* t : {"a", "b", "c"}) {
    list.insertAt(new Tracked(t), list.getCount(), true, false);
  }
}

template <class F>
std::string messageOf(F f) {
  try {
    f();
  } catch (const VOQ_ListException& e) {
    return e.getMessage();
  }
  return "(nothing thrown)";
}

class VOQ_ListTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Tracked::alive, 0) << "elements leaked or deleted twice"; }
};

TEST_F(VOQ_ListTest, InsertAtPositions) {
  struct Case {
    unsigned int index;
    const char* expected;
  };
  const Case cases[] = {{0, "xabc"}, {1, "axbc"}, {2, "abxc"}, {3, "abcx"}, {4, "abcx"}, {0xFFFFFFFF, "abcx"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    VOQ_List<Tracked> list;
    fillAbc(list);
    list.insertAt(new Tracked("x"), c.index, true, false);
    EXPECT_EQ(textsOf(list), c.expected);
    EXPECT_EQ(list.getCount(), 4u);
    std::string byIndex;
    for (unsigned int i = 0; i < list.getCount(); ++i) byIndex += list.getAt(i)->text;
    EXPECT_EQ(byIndex, c.expected);
  }
}

TEST_F(VOQ_ListTest, InsertIntoEmptyList) {
  VOQ_List<Tracked> list;
  list.insertAt(new Tracked("x"), 5, true, false);
  EXPECT_EQ(textsOf(list), "x");
}

TEST_F(VOQ_ListTest, GetAtOutOfBounds) {
  VOQ_List<Tracked> list;
  EXPECT_EQ(messageOf([&] { list.getAt(0); }), "list index out of bounds");
  fillAbc(list);
  EXPECT_EQ(list.getAt(2)->text, "c");
  EXPECT_EQ(messageOf([&] { list.getAt(3); }), "list index out of bounds");
}

TEST_F(VOQ_ListTest, IterationAndItsEnd) {
  VOQ_List<Tracked> list;
  fillAbc(list);
  EXPECT_FALSE(list.hasMoreElements());
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "setFirst not called");

  list.setFirst();
  std::string seen;
  while (list.hasMoreElements()) seen += list.getNext()->text;
  EXPECT_EQ(seen, "abc");
  // Past the end: the iterator is cleared.
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "no more elements");
  EXPECT_FALSE(list.hasMoreElements());
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "setFirst not called");

  // removeAll also ends an iteration under way.
  list.setFirst();
  list.getNext();
  list.removeAll();
  EXPECT_FALSE(list.hasMoreElements());
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "setFirst not called");
}

TEST_F(VOQ_ListTest, EmptyListIteration) {
  VOQ_List<Tracked> list;
  list.setFirst();
  EXPECT_FALSE(list.hasMoreElements());
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "no more elements");
}

TEST_F(VOQ_ListTest, OwnershipOfElements) {
  Tracked mine("mine");
  {
    VOQ_List<Tracked> list;
    list.insertAt(&mine, 0, false, false);                    // stays the caller's
    list.insertAt(new Tracked("owned"), 1, true, false);      // the list's
    list.insertAt(&mine, 2, false, true);                     // a copy: always the list's
    EXPECT_EQ(Tracked::alive, 3);
    EXPECT_EQ(list.getAt(0), &mine);
    EXPECT_NE(list.getAt(2), &mine);
    EXPECT_EQ(list.getAt(2)->text, "mine");
    list.removeAll();
    EXPECT_EQ(list.getCount(), 0u);
    EXPECT_EQ(Tracked::alive, 1);
    list.insertAt(new Tracked("owned again"), 0, true, false);
  }  // the destructor removes what is left
  EXPECT_EQ(Tracked::alive, 1);
  EXPECT_EQ(mine.text, "mine");
}

TEST_F(VOQ_ListTest, AssignMakesOwnedDeepCopiesInOrder) {
  Tracked shared("s");
  VOQ_List<Tracked> source;
  fillAbc(source);
  source.insertAt(&shared, source.getCount(), false, false);
  {
    VOQ_List<Tracked> copy;
    copy.insertAt(new Tracked("old"), 0, true, false);
    copy.assign(source);
    EXPECT_EQ(textsOf(copy), "abcs");
    for (unsigned int i = 0; i < copy.getCount(); ++i) EXPECT_NE(copy.getAt(i), source.getAt(i));
    source.getAt(0)->text = "changed";
    EXPECT_EQ(copy.getAt(0)->text, "a");

    VOQ_List<Tracked> constructed(copy);
    EXPECT_EQ(textsOf(constructed), "abcs");
    copy.assign(copy);  // assigning itself keeps the elements
    EXPECT_EQ(textsOf(copy), "abcs");
  }
  source.removeAll();
  EXPECT_EQ(Tracked::alive, 1);
}

// Backward iteration: setEnd, then getPrevious until "no more elements".
TEST_F(VOQ_ListTest, BackwardIterationAndItsEnd) {
  for (unsigned int n : {0u, 1u, 3u}) {
    SCOPED_TRACE(n);
    VOQ_List<Tracked> list;
    const char* texts[] = {"a", "b", "c"};
    for (unsigned int i = 0; i < n; ++i) list.insertAt(new Tracked(texts[i]), i, true, false);
    EXPECT_EQ(messageOf([&] { list.getPrevious(); }), "setEnd not called");
    list.setEnd();
    EXPECT_FALSE(list.hasMoreElements());
    std::string visited;
    for (unsigned int i = 0; i < n; ++i) visited += list.getPrevious()->text;
    EXPECT_EQ(visited, std::string("cba").substr(3 - n));
    EXPECT_EQ(messageOf([&] { list.getPrevious(); }), "no more elements");
    EXPECT_EQ(messageOf([&] { list.getPrevious(); }), "setEnd not called");
  }
}

TEST_F(VOQ_ListTest, ForwardAndBackwardShareTheIterator) {
  VOQ_List<Tracked> list;
  fillAbc(list);
  list.setEnd();
  EXPECT_EQ(messageOf([&] { list.getNext(); }), "no more elements");  // nothing behind the end
  list.setFirst();
  EXPECT_EQ(messageOf([&] { list.getPrevious(); }), "no more elements");  // nothing before the start
  list.setFirst();
  EXPECT_EQ(list.getNext()->text, "a");
  EXPECT_EQ(list.getNext()->text, "b");
  EXPECT_EQ(list.getPrevious()->text, "a");
  EXPECT_EQ(messageOf([&] { list.getPrevious(); }), "no more elements");
}

TEST_F(VOQ_ListTest, WordsAreCopiedOnInsertion) {
  VOQ_List<VOQ_String> words;
  VOQ_String word("Java");
  words.insertAt(&word, 0, false, true);
  word.append(VOQ_String("Script"));
  ASSERT_EQ(words.getCount(), 1u);
  EXPECT_STREQ(words.getAt(0)->getData(), "Java");
  EXPECT_NE(words.getAt(0), &word);
}

}  // namespace
