// Small value classes of the window library: a rectangle, a kind code, and the
// intrusive single-linked list that holds window objects and message filters.
#pragma once

#include <windows.h>

#include <cstdint>

// A Win32 RECT with a virtual destructor, so that it can be a member object.
class VRect : public RECT {
 public:
  VRect() : RECT{0, 0, 0, 0} {}
  VRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
  VRect(const RECT& r) : RECT(r) {}  // NOLINT: a RECT converts freely
  VRect(const VRect& other) = default;
  VRect& operator=(const VRect& other) = default;
  virtual ~VRect() = default;

  LONG width() const { return right - left; }
  LONG height() const { return bottom - top; }
  bool isEmpty() const { return right <= left || bottom <= top; }
  RECT* get() { return this; }
  const RECT* get() const { return this; }
};

// The kind code of a window object.
class VRTTI {
 public:
  explicit VRTTI(uint32_t kind = 0) : m_kind(kind) {}
  virtual ~VRTTI() = default;
  uint32_t getKind() const { return m_kind; }

 private:
  uint32_t m_kind;
};

// An item of an intrusive single-linked list: the list does not copy or own it.
class VLinkedListItem {
 public:
  VLinkedListItem() = default;
  VLinkedListItem(const VLinkedListItem&) = delete;
  VLinkedListItem& operator=(const VLinkedListItem&) = delete;
  virtual ~VLinkedListItem() = default;

  VLinkedListItem* getNext() const { return m_next; }
  void setNext(VLinkedListItem* next) { m_next = next; }

 private:
  VLinkedListItem* m_next = nullptr;
};

class VLinkedListManager {
 public:
  VLinkedListManager() = default;
  VLinkedListManager(const VLinkedListManager&) = delete;
  VLinkedListManager& operator=(const VLinkedListManager&) = delete;
  // Deletes the items still listed.
  virtual ~VLinkedListManager();

  virtual void add(VLinkedListItem* item, bool atHead);
  // Unlinks the item; true when it was listed. With deleteIt the item is deleted,
  // but only when it was listed here: an item found nowhere belongs to someone else.
  virtual bool remove(VLinkedListItem* item, bool deleteIt);
  // Forgets every item without deleting any.
  virtual void reset();
  virtual void deleteAll();

  bool contains(const VLinkedListItem* item) const;
  VLinkedListItem* getHead() const { return m_head; }
  VLinkedListItem* getTail() const { return m_tail; }
  uint32_t getCount() const { return m_count; }

 private:
  VLinkedListItem* m_head = nullptr;
  VLinkedListItem* m_tail = nullptr;
  uint32_t m_count = 0;
};

// The list of every live window object; it forgets (never deletes) what is left at exit.
class vwindow_WindowList : public VLinkedListManager {
 public:
  ~vwindow_WindowList() override;
};

// A list whose destruction only unlinks its items (the message filters of a window,
// which belong to their owners).
class VUnlinkingList : public VLinkedListManager {
 public:
  ~VUnlinkingList() override;
};
