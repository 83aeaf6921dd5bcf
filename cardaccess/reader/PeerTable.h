// Peer handles: the 32-bit ids by which the Java layer names reader and card
// objects (a Java int cannot hold a native address). Ids come from one counter,
// are never 0 and never given again while the process runs; a reader id never
// resolves as a card. The destructors of readers and cards remove their entries,
// so an id kept by Java after its object went away resolves to nothing.
#pragma once

#include "cardaccess/reader/CardNamespace.h"

QUARVEL_CARD_NAMESPACE_BEGIN

class CSCard;
class CReader;
class CReader_base;

namespace peers {

// The object's id, entered on the first call and the same afterwards; 0 for NULL
// (and, should the counter ever run out, for a new object).
int idOf(CReader* reader);
int idOf(CSCard* card);
// The live object of that id and kind, or NULL.
CReader* reader(int id);
CSCard* card(int id);
// Removes the object's entry (if any); called by the destructors.
void forget(const CReader_base* reader);
void forget(const CSCard* card);

}  // namespace peers

QUARVEL_CARD_NAMESPACE_END
