#include "cardaccess/reader/PeerTable.h"

#include "cardaccess/reader/CReader.h"

#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <atomic>
#include <cstdint>

QUARVEL_CARD_NAMESPACE_BEGIN

namespace peers {

namespace {

enum class Kind { kReader, kCard };

struct Entry {
  Kind kind;
  const void* object;                   // the CReader_base or the CSCard
  std::weak_ptr<CReader> owner;         // the reader itself, or the card's reader
  const CReader_base* ownerKey;         // the same, to find a reader's cards
  std::uint64_t signer;                 // cards: the thread whose signature runs, 0 none
};

// The calling thread's mark: never 0 and never given to another thread, also when
// the system reuses a thread id (a new thread must not inherit a signature that an
// ended one left behind).
std::uint64_t self() {
  static std::atomic<std::uint64_t> last{0};
  thread_local const std::uint64_t mark = ++last;
  return mark;
}

// One lock guards the table only; the objects' operations run outside it.
struct Table {
  std::mutex lock;
  // Signals that a signature ended or a card left the table.
  std::condition_variable changed;
  std::map<int, Entry> byId;
  std::map<std::pair<Kind, const void*>, int> byObject;
  int last = 0;

  int idOf(Kind kind, const void* object, const std::shared_ptr<CReader>& owner) {
    if (object == nullptr || owner == nullptr) return 0;
    std::lock_guard<std::mutex> hold(lock);
    auto found = byObject.find({kind, object});
    if (found != byObject.end()) return found->second;
    if (last == INT_MAX) return 0;  // never reached in practice; an id is never given twice
    const int id = ++last;
    byId[id] = Entry{kind, object, owner, static_cast<const CReader_base*>(owner.get()), 0};
    byObject[{kind, object}] = id;
    return id;
  }

  // Under the lock: the live entry of that kind, or NULL.
  Entry* find(Kind kind, int id) {
    auto found = byId.find(id);
    return found == byId.end() || found->second.kind != kind ? nullptr : &found->second;
  }

  void erase(std::map<int, Entry>::iterator at) {
    byObject.erase({at->second.kind, at->second.object});
    byId.erase(at);
    changed.notify_all();
  }

  void forget(Kind kind, const void* object) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = byObject.find({kind, object});
    if (found != byObject.end()) erase(byId.find(found->second));
  }
};

// Never destroyed: readers and cards deleted by exit handlers still reach it.
Table& table() {
  static Table* instance = new Table;
  return *instance;
}

}  // namespace

// Readers are entered and forgotten through their base, so that the base's
// destructor finds the entry whatever reader class it is.
int idOf(const std::shared_ptr<CReader>& reader) {
  return table().idOf(Kind::kReader, static_cast<const CReader_base*>(reader.get()), reader);
}

int idOf(CSCard* card, const std::shared_ptr<CReader>& owner) { return table().idOf(Kind::kCard, card, owner); }

void forget(const CReader_base* reader) { table().forget(Kind::kReader, reader); }
void forget(const CSCard* card) { table().forget(Kind::kCard, card); }

void forgetWithCards(const CReader_base* reader) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  for (auto at = t.byId.begin(); at != t.byId.end();) {
    auto next = std::next(at);
    if (at->second.ownerKey == reader) t.erase(at);
    at = next;
  }
}

Held Held::find(bool card, int id) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  Held held;
  if (const Entry* entry = t.find(card ? Kind::kCard : Kind::kReader, id)) held.m_owner = entry->owner.lock();
  held.m_id = held.m_owner ? id : 0;
  held.m_card = card;
  return held;
}

Locked::Locked(const Held& held) : m_owner(held.owner()) {
  if (!m_owner) return;
  m_owner->lockSection().enter();
  // Whatever left the table before the lock was had is gone for this call; what is
  // still there stays while the lock is held (it leaves only under this lock).
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  if (held.isCard()) {
    if (const Entry* entry = t.find(Kind::kCard, held.id()))
      m_card = const_cast<CSCard*>(static_cast<const CSCard*>(entry->object));
  } else if (t.find(Kind::kReader, held.id()) != nullptr) {
    m_reader = held.owner().get();
  }
}

Locked::~Locked() {
  if (m_owner) m_owner->lockSection().leave();
}

bool whileNamed(int cardId, const std::function<void(CSCard&)>& action) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  const Entry* entry = t.find(Kind::kCard, cardId);
  if (entry == nullptr) return false;
  // A card's destructor forgets it first of all, and waits here for this lock
  // until the action is done.
  action(*const_cast<CSCard*>(static_cast<const CSCard*>(entry->object)));
  return true;
}

bool beginSignature(int cardId) {
  Table& t = table();
  const std::uint64_t me = self();
  std::unique_lock<std::mutex> hold(t.lock);
  for (;;) {
    Entry* entry = t.find(Kind::kCard, cardId);
    if (entry == nullptr) return false;
    if (entry->signer == 0 || entry->signer == me) {
      entry->signer = me;
      return true;
    }
    t.changed.wait(hold);
  }
}

bool signatureOfOther(int cardId) {
  Table& t = table();
  const std::uint64_t me = self();
  std::lock_guard<std::mutex> hold(t.lock);
  const Entry* entry = t.find(Kind::kCard, cardId);
  return entry != nullptr && entry->signer != 0 && entry->signer != me;
}

void endSignature(int cardId) {
  Table& t = table();
  const std::uint64_t me = self();
  std::lock_guard<std::mutex> hold(t.lock);
  Entry* entry = t.find(Kind::kCard, cardId);
  if (entry == nullptr || entry->signer != me) return;
  entry->signer = 0;
  t.changed.notify_all();
}

}  // namespace peers

QUARVEL_CARD_NAMESPACE_END
