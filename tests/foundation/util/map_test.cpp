#include <gtest/gtest.h>

#include <string>

#include "foundation/util/VOQ_Map.h"
#include "foundation/util/VOQ_String.h"
#include "tracked.h"

namespace {

VOQ_String str(const char* text) {
  VOQ_String s;
  s.assign(text);
  return s;
}

// The entries from the front as "key=value " (value "-" for NULL).
template <class V>
std::string entriesOf(const VOQ_Map<VOQ_String, V>& map) {
  std::string entries;
  map.forEach([&](const VOQ_String& key, V* value) {
    entries += std::string(key.getData(), key.getLength()) + "=";
    if (value == nullptr) {
      entries += "- ";
    } else if constexpr (std::is_same_v<V, VOQ_String>) {
      entries += std::string(value->getData(), value->getLength()) + " ";
    } else {
      entries += value->text + " ";
    }
  });
  return entries;
}

const char kDuplicate[] = "VOQ_Map<KEYTYPE, VALUETYPE>::get(const KEYTYPE& key) : key already exists!";

class VOQ_MapTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Tracked::alive, 0) << "values leaked or deleted twice"; }
};

TEST_F(VOQ_MapTest, PutAndGet) {
  VOQ_Map<VOQ_String, VOQ_String> map;
  VOQ_String one = str("1");
  map.put(str("k1"), &one, false, true);
  map.put(str("k2"), new VOQ_String(str("2")), true, false);
  EXPECT_EQ(map.getCount(), 2u);
  ASSERT_NE(map.get(str("k1")), nullptr);
  EXPECT_NE(map.get(str("k1")), &one);  // copied
  EXPECT_TRUE(map.get(str("k1"))->equals(one));
  EXPECT_TRUE(map.get(str("k2"))->equals(str("2")));
  EXPECT_EQ(map.get(str("k3")), nullptr);
  EXPECT_EQ(map.get(str("k")), nullptr);  // no prefix match
  EXPECT_EQ(entriesOf(map), "k2=2 k1=1 ");  // newest first
}

TEST_F(VOQ_MapTest, DuplicatePutThrowsAndLeavesTheMapUnchanged) {
  VOQ_Map<VOQ_String, Tracked> map;
  map.put(str("a"), new Tracked("1"), true, false);
  map.put(str("b"), new Tracked("2"), true, false);
  Tracked other("3");
  try {
    map.put(str("a"), &other, false, true);
    FAIL() << "nothing thrown";
  } catch (const VOQ_MapException& e) {
    EXPECT_STREQ(e.getMessage(), kDuplicate);
  }
  EXPECT_EQ(map.getCount(), 2u);
  EXPECT_EQ(entriesOf(map), "b=2 a=1 ");
  EXPECT_EQ(Tracked::alive, 3);  // no copy of the rejected value was kept
}

TEST_F(VOQ_MapTest, NullValueIsInvisibleToGet) {
  VOQ_Map<VOQ_String, Tracked> map;
  map.put(str("k"), nullptr, false, false);
  EXPECT_EQ(map.get(str("k")), nullptr);
  map.put(str("k"), new Tracked("v"), true, false);  // no duplicate
  EXPECT_EQ(map.getCount(), 2u);
  ASSERT_NE(map.get(str("k")), nullptr);
  EXPECT_EQ(map.get(str("k"))->text, "v");

  // Such a map can be copied: both entries come along (reversed).
  VOQ_Map<VOQ_String, Tracked> copy(map);
  EXPECT_EQ(entriesOf(copy), "k=- k=v ");
}

TEST_F(VOQ_MapTest, EmptyKeysNeverMatch) {
  VOQ_Map<VOQ_String, VOQ_String> map;
  VOQ_String v = str("v");
  map.put(VOQ_String(), &v, false, true);
  map.put(VOQ_String(), &v, false, true);
  EXPECT_EQ(map.getCount(), 2u);
  EXPECT_EQ(map.get(VOQ_String()), nullptr);
}

TEST_F(VOQ_MapTest, CopyAndAssignReverseTheOrder) {
  VOQ_Map<VOQ_String, Tracked> source;
  source.put(str("k1"), new Tracked("1"), true, false);
  source.put(str("k2"), new Tracked("2"), true, false);
  source.put(str("k3"), new Tracked("3"), true, false);
  EXPECT_EQ(entriesOf(source), "k3=3 k2=2 k1=1 ");

  VOQ_Map<VOQ_String, Tracked> copy(source);
  EXPECT_EQ(entriesOf(copy), "k1=1 k2=2 k3=3 ");
  EXPECT_NE(copy.get(str("k1")), source.get(str("k1")));

  VOQ_Map<VOQ_String, Tracked> assigned;
  assigned.put(str("old"), new Tracked("x"), true, false);
  {
    VOQ_Map<VOQ_String, Tracked> returned = assigned.assign(source);
    EXPECT_EQ(entriesOf(assigned), "k1=1 k2=2 k3=3 ");
    EXPECT_EQ(returned.getCount(), 3u);
    EXPECT_EQ(returned.get(str("k2"))->text, "2");
    EXPECT_NE(returned.get(str("k2")), assigned.get(str("k2")));
  }
  assigned.assign(assigned);  // assigning itself keeps the entries
  EXPECT_EQ(entriesOf(assigned), "k1=1 k2=2 k3=3 ");
  source.removeAll();
  EXPECT_EQ(source.getCount(), 0u);
  EXPECT_EQ(assigned.get(str("k3"))->text, "3");  // copies outlive the source's values
}

TEST_F(VOQ_MapTest, OwnershipOfValues) {
  Tracked mine("mine");
  {
    VOQ_Map<VOQ_String, Tracked> map;
    map.put(str("borrowed"), &mine, false, false);
    map.put(str("owned"), new Tracked("o"), true, false);
    map.put(str("copied"), &mine, false, true);
    EXPECT_EQ(Tracked::alive, 3);
  }
  EXPECT_EQ(Tracked::alive, 1);
  EXPECT_EQ(mine.text, "mine");
}

TEST_F(VOQ_MapTest, IntegerKeysAndValues) {
  VOQ_Map<int, int> counts;
  for (int category = 0; category < 4; ++category) {
    int count = category * 10 + 1;
    counts.put(category, &count, false, true);
  }
  EXPECT_EQ(*counts.get(2), 21);
  *counts.get(2) += 1;
  EXPECT_EQ(*counts.get(2), 22);
  EXPECT_EQ(counts.get(9), nullptr);
  int again = 5;
  EXPECT_THROW(counts.put(0, &again, false, true), VOQ_MapException);
  VOQ_Map<int, int> copy;
  copy.assign(counts);
  EXPECT_EQ(copy.getCount(), 4u);
  EXPECT_EQ(*copy.get(3), 31);
}

}  // namespace
