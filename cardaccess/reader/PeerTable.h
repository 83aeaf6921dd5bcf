// Peer handles: the 32-bit ids by which the Java layer names reader and card
// objects (a Java int cannot hold a native address). Ids come from one counter,
// are never 0 and never given again while the process runs; a reader id never
// resolves as a card.
//
// Java calls the natives from any of its threads, so the table also carries the
// rule that makes every native safe whatever other threads do meanwhile:
// - A native holds what an id names through a Held for the length of its call: the
//   reader (and with it its cards) stays allocated, even when another thread
//   releases it.
// - It works on the object only under the reader's lock (Locked), which
//   serialises the operations of one reader and its cards; different readers run
//   in parallel.
// - Under that lock it learns whether the object is still there: a reader leaves
//   the table when it is released (with its cards), a card when it is deleted
//   (disconnect, reset, the reader's end). The call then answers "no peer".
#pragma once

#include <functional>
#include <memory>

#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CSCard;
class CReader;
class CReader_base;

namespace peers {

// The object's id, entered on the first call and the same afterwards; 0 for NULL
// (and, should the counter ever run out, for a new object). A card is entered
// with the reader that owns it.
int idOf(const std::shared_ptr<CReader>& reader);
int idOf(CSCard* card, const std::shared_ptr<CReader>& owner);

// Removes the object's entry (if any); called by the destructors, and by a reader
// before it deletes a card.
void forget(const CReader_base* reader);
void forget(const CSCard* card);
// A released reader: its entry and those of its cards. Called under the reader's
// lock, so that no call is under way on them and none finds them afterwards.
void forgetWithCards(const CReader_base* reader);

// What an id names, kept allocated for one native call; empty when the id names
// no live object of that kind.
class Held {
 public:
  Held() = default;
  static Held reader(int id) { return find(false, id); }
  static Held card(int id) { return find(true, id); }

  explicit operator bool() const { return m_owner != nullptr; }
  int id() const { return m_id; }
  bool isCard() const { return m_card; }
  // The reader itself, or the card's reader.
  const std::shared_ptr<CReader>& owner() const { return m_owner; }

 private:
  static Held find(bool card, int id);

  std::shared_ptr<CReader> m_owner;
  int m_id = 0;
  bool m_card = false;
};

// The reader's lock, held for a scope, and the object as it is under it: NULL
// when it left the table before the lock was had.
class Locked {
 public:
  explicit Locked(const Held& held);
  ~Locked();
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

  CReader* reader() const { return m_reader; }
  CSCard* card() const { return m_card; }

 private:
  std::shared_ptr<CReader> m_owner;  // whose lock is held
  CReader* m_reader = nullptr;
  CSCard* m_card = nullptr;
};

// Runs action on the card under the table's own lock, without the reader's: for
// what must reach a card while another thread's operation holds the reader
// (abort). The action must not block. False when the id names no card.
bool whileNamed(int cardId, const std::function<void(CSCard&)>& action);

// A signature, from signInit to signFinal, belongs to the thread that began it,
// so that threads signing on one card never mix their documents.
// beginSignature waits while another thread's signature runs on the card (it
// ends with that thread's signFinal, or when the card goes); false when the card
// is gone. A thread may begin again while its own signature runs.
bool beginSignature(int cardId);
// Whether a signature of another thread runs on the card now.
bool signatureOfOther(int cardId);
// The calling thread's signature on the card (if any) ends; the next may begin.
void endSignature(int cardId);

}  // namespace peers

QUARVEL_CARD_NAMESPACE_END
