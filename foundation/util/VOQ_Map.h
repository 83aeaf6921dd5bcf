// Map over a linked list of entries; newest entries come first.
#pragma once

#include <memory>

#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_String.h"

// Key comparison of the map: byte strings by VOQ_String::equals, every other
// key type by ==.
template <class K>
bool voqKeyEquals(const K& a, const K& b) {
  return a == b;
}
inline bool voqKeyEquals(const VOQ_String& a, const VOQ_String& b) { return a.equals(b); }

template <class KEYTYPE, class VALUETYPE>
struct VOQ_MapNode {
  bool owns = false;           // the node deletes its value
  KEYTYPE* key = nullptr;      // always owned by the node
  VALUETYPE* value = nullptr;
  VOQ_MapNode* next = nullptr;
  VOQ_MapNode* previous = nullptr;
};

template <class KEYTYPE, class VALUETYPE>
class VOQ_Map {
 public:
  using Node = VOQ_MapNode<KEYTYPE, VALUETYPE>;

  VOQ_Map() { front.next = &end; end.previous = &front; }
  // Holds owned copies of other's entries; as each copy goes in front, the
  // order of the copy is the reverse of other's.
  VOQ_Map(const VOQ_Map& other) : VOQ_Map() { copyFrom(other); }
  VOQ_Map& operator=(const VOQ_Map& other) {
    copyFrom(other);
    return *this;
  }
  ~VOQ_Map() { removeAll(); }

  unsigned int getCount() const { return count; }

  // The key is always copied; with copy the value is copied too, and a copied
  // value always belongs to the map, whatever owns says.
  void put(const KEYTYPE& key, VALUETYPE* value, bool owns, bool copy) {
    if (get(key) != nullptr) {
      throw VOQ_MapException(
          "VOQ_Map<KEYTYPE, VALUETYPE>::get(const KEYTYPE& key) : key already exists!");
    }
    linkInFront(key, value, owns, copy);
  }

  // The value of the first entry from the front whose key equals key; NULL
  // when there is none (an entry holding a NULL value looks the same).
  VALUETYPE* get(const KEYTYPE& key) const {
    for (const Node* node = front.next; node != &end; node = node->next) {
      if (voqKeyEquals(*node->key, key)) {
        return node->value;
      }
    }
    return nullptr;
  }

  void removeAll() {
    Node* node = front.next;
    while (node != &end) {
      Node* next = node->next;
      delete node->key;
      if (node->owns) {
        delete node->value;
      }
      delete node;
      node = next;
    }
    front.next = &end;
    end.previous = &front;
    count = 0;
    cursor = nullptr;
  }

  // Visits the entries from the front as (key, value).
  template <class F>
  void forEach(F visit) const {
    for (const Node* node = front.next; node != &end; node = node->next) {
      visit(static_cast<const KEYTYPE&>(*node->key), node->value);
    }
  }

  // Replaces the entries by copies of other's (in reverse order) and returns a
  // copy of the result, which the caller destroys.
  VOQ_Map assign(const VOQ_Map& other) {
    copyFrom(other);
    return *this;
  }

 private:
  void copyFrom(const VOQ_Map& other) {
    if (&other == this) {
      return;
    }
    removeAll();
    // No duplicate check here: a map can hold a key twice when the entry put
    // first has a NULL value, and its copy must hold both as well.
    for (const Node* node = other.front.next; node != &other.end; node = node->next) {
      linkInFront(*node->key, node->value, true, true);
    }
  }

  void linkInFront(const KEYTYPE& key, VALUETYPE* value, bool owns, bool copy) {
    std::unique_ptr<KEYTYPE> keyCopy(new KEYTYPE(key));
    std::unique_ptr<VALUETYPE> valueCopy;
    if (copy && value != nullptr) {
      valueCopy.reset(new VALUETYPE(*value));
    }
    auto node = std::make_unique<Node>();
    node->owns = owns || valueCopy != nullptr;
    node->key = keyCopy.release();
    node->value = valueCopy != nullptr ? valueCopy.release() : value;
    node->previous = &front;
    node->next = front.next;
    front.next->previous = node.get();
    front.next = node.release();
    ++count;
  }

  Node front;
  Node end;
  Node* cursor = nullptr;  // no operation of the map moves it
  unsigned int count = 0;
};
