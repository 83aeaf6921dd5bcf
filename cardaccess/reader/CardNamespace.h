// The reader, channel and file-model classes are compiled twice: here at global
// scope for the program, and inside the namespace of the plug-in's card library,
// whose build defines these two macros before any of these headers is read.
#pragma once

#ifndef QUARVEL_CARD_NAMESPACE_BEGIN
#define QUARVEL_CARD_NAMESPACE_BEGIN
#define QUARVEL_CARD_NAMESPACE_END
#endif
