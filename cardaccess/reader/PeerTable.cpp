#include "cardaccess/reader/PeerTable.h"

#include "cardaccess/reader/CReader.h"

#include <climits>
#include <map>
#include <mutex>

QUARVEL_CARD_NAMESPACE_BEGIN

namespace peers {

namespace {

enum class Kind { kReader, kCard };

struct Entry {
  Kind kind;
  const void* object;
};

// One lock guards the table only; the objects' operations run outside it.
struct Table {
  std::mutex lock;
  std::map<int, Entry> byId;
  std::map<std::pair<Kind, const void*>, int> byObject;
  int last = 0;

  int idOf(Kind kind, const void* object) {
    if (object == nullptr) return 0;
    std::lock_guard<std::mutex> hold(lock);
    auto found = byObject.find({kind, object});
    if (found != byObject.end()) return found->second;
    if (last == INT_MAX) return 0;  // never reached in practice; an id is never given twice
    const int id = ++last;
    byId[id] = Entry{kind, object};
    byObject[{kind, object}] = id;
    return id;
  }

  const void* find(Kind kind, int id) {
    if (id == 0) return nullptr;
    std::lock_guard<std::mutex> hold(lock);
    auto found = byId.find(id);
    if (found == byId.end() || found->second.kind != kind) return nullptr;
    return found->second.object;
  }

  void forget(Kind kind, const void* object) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = byObject.find({kind, object});
    if (found == byObject.end()) return;
    byId.erase(found->second);
    byObject.erase(found);
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
int idOf(CReader* reader) { return table().idOf(Kind::kReader, static_cast<const CReader_base*>(reader)); }
int idOf(CSCard* card) { return table().idOf(Kind::kCard, card); }

CReader* reader(int id) {
  const auto* base = static_cast<const CReader_base*>(table().find(Kind::kReader, id));
  return const_cast<CReader*>(static_cast<const CReader*>(base));
}

CSCard* card(int id) { return const_cast<CSCard*>(static_cast<const CSCard*>(table().find(Kind::kCard, id))); }

void forget(const CReader_base* reader) { table().forget(Kind::kReader, reader); }
void forget(const CSCard* card) { table().forget(Kind::kCard, card); }

}  // namespace peers

QUARVEL_CARD_NAMESPACE_END
