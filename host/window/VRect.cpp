#include "host/window/VRect.h"

VLinkedListManager::~VLinkedListManager() { deleteAll(); }

void VLinkedListManager::add(VLinkedListItem* item, bool atHead) {
  if (item == nullptr) return;
  if (m_head == nullptr) {
    item->setNext(nullptr);
    m_head = m_tail = item;
  } else if (atHead) {
    item->setNext(m_head);
    m_head = item;
  } else {
    item->setNext(nullptr);
    m_tail->setNext(item);
    m_tail = item;
  }
  ++m_count;
}

bool VLinkedListManager::remove(VLinkedListItem* item, bool deleteIt) {
  VLinkedListItem* previous = nullptr;
  for (VLinkedListItem* it = m_head; it != nullptr; previous = it, it = it->getNext()) {
    if (it != item) continue;
    if (previous == nullptr) {
      m_head = it->getNext();
    } else {
      previous->setNext(it->getNext());
    }
    if (m_tail == it) m_tail = previous;
    it->setNext(nullptr);
    --m_count;
    if (deleteIt) delete it;
    return true;
  }
  return false;
}

void VLinkedListManager::reset() {
  m_head = m_tail = nullptr;
  m_count = 0;
}

void VLinkedListManager::deleteAll() {
  VLinkedListItem* it = m_head;
  reset();
  while (it != nullptr) {
    VLinkedListItem* next = it->getNext();
    delete it;
    it = next;
  }
}

bool VLinkedListManager::contains(const VLinkedListItem* item) const {
  for (VLinkedListItem* it = m_head; it != nullptr; it = it->getNext()) {
    if (it == item) return true;
  }
  return false;
}

vwindow_WindowList::~vwindow_WindowList() { reset(); }

VUnlinkingList::~VUnlinkingList() {
  for (VLinkedListItem* it = getHead(); it != nullptr;) {
    VLinkedListItem* next = it->getNext();
    it->setNext(nullptr);
    it = next;
  }
  reset();
}
