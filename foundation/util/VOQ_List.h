// Doubly linked list of element pointers, with one built-in iterator.
#pragma once

#include <memory>

#include "foundation/util/AbstractException.h"

template <class T>
struct VOQ_ListNode {
  VOQ_ListNode* next = nullptr;
  VOQ_ListNode* previous = nullptr;
  T* element = nullptr;
  bool owns = false;  // the node deletes its element when it is removed
};

template <class T>
class VOQ_List {
 public:
  VOQ_List() { front.next = &end; end.previous = &front; }
  VOQ_List(const VOQ_List& other) : VOQ_List() { assign(other); }
  VOQ_List& operator=(const VOQ_List& other) {
    assign(other);
    return *this;
  }
  ~VOQ_List() { removeAll(); }

  unsigned int getCount() const { return count; }

  // Puts element at position index (0-based), or last when index is not below
  // the count. With copy the node holds a copy of *element, which the list
  // always owns, whatever owns says.
  void insertAt(T* element, unsigned int index, bool owns, bool copy) {
    std::unique_ptr<T> copied;
    if (copy && element != nullptr) {
      copied.reset(new T(*element));
    }
    auto node = std::make_unique<VOQ_ListNode<T>>();
    VOQ_ListNode<T>* behind = end.previous;
    if (index < count) {
      behind = &front;
      for (unsigned int i = 0; i < index; ++i) {
        behind = behind->next;
      }
    }
    node->owns = owns || copied != nullptr;
    node->element = copied != nullptr ? copied.release() : element;
    node->previous = behind;
    node->next = behind->next;
    behind->next->previous = node.get();
    behind->next = node.release();
    ++count;
  }

  T* getAt(unsigned int index) const {
    if (index >= count) {
      throw VOQ_ListException("list index out of bounds");
    }
    const VOQ_ListNode<T>* node = front.next;
    for (unsigned int i = 0; i < index; ++i) {
      node = node->next;
    }
    return node->element;
  }

  void setFirst() { iterator = &front; }

  bool hasMoreElements() const { return iterator != nullptr && iterator != &end && iterator->next != &end; }

  T* getNext() {
    if (iterator == nullptr) {
      throw VOQ_ListException("setFirst not called");
    }
    // After setEnd the iterator stands on the tail, with nothing behind it.
    if (iterator == &end || iterator->next == &end) {
      iterator = nullptr;
      throw VOQ_ListException("no more elements");
    }
    iterator = iterator->next;
    return iterator->element;
  }

  // Backward iteration over the same iterator: setEnd, then getPrevious until
  // "no more elements" visits the elements from the last to the first.
  void setEnd() { iterator = &end; }

  T* getPrevious() {
    if (iterator == nullptr) {
      throw VOQ_ListException("setEnd not called");
    }
    if (iterator == &front || iterator->previous == &front) {
      iterator = nullptr;
      throw VOQ_ListException("no more elements");
    }
    iterator = iterator->previous;
    return iterator->element;
  }

  void removeAll() {
    VOQ_ListNode<T>* node = front.next;
    while (node != &end) {
      VOQ_ListNode<T>* next = node->next;
      if (node->owns) {
        delete node->element;
      }
      delete node;
      node = next;
    }
    front.next = &end;
    end.previous = &front;
    count = 0;
    iterator = nullptr;
  }

  // Owned deep copies of other's elements, in the same order.
  void assign(const VOQ_List& other) {
    if (&other == this) {
      return;
    }
    removeAll();
    other.forEach([this](T* element) { insertAt(element, count, true, true); });
  }

  // Visits the elements in order without touching the iterator, so that
  // read-only walks (writing, copying) leave the list as it was.
  template <class F>
  void forEach(F visit) const {
    for (const VOQ_ListNode<T>* node = front.next; node != &end; node = node->next) {
      visit(node->element);
    }
  }

 private:
  unsigned int count = 0;
  VOQ_ListNode<T> front;
  VOQ_ListNode<T> end;
  VOQ_ListNode<T>* iterator = nullptr;
};
