// Read before every source of the plug-in's card library (a forced include), so
// that the reader, channel and file-model classes it shares with the program are
// compiled inside its namespace and log through its own logging base.
#pragma once

#define QUARVEL_CARD_NAMESPACE_BEGIN namespace cardvariant {
#define QUARVEL_CARD_NAMESPACE_END }

#include "cardvariant/CLogable.h"
