// Base64 (standard alphabet, '=' padding) between two streams. Both coders
// do nothing when a stream is NULL and pass on the streams' exceptions.
#pragma once

#include "foundation/util/VOQ_Stream.h"

// Encodes count bytes from in's position (0xFFFFFFFF: all that remain; never
// more than remain). Writes "\r\n" after every line of lineLength / 4 groups
// (at least one group) and after the last group.
void voqBase64Encode(VOQ_Stream* in, VOQ_Stream* out, unsigned int count, unsigned int lineLength);

// Decodes from in's position to its end. Lenient: every byte outside the
// alphabet ('=', blanks, line breaks, anything else) is skipped.
void voqBase64Decode(VOQ_Stream* in, VOQ_Stream* out);

// 4 * ceil(n / 3), without the line breaks.
unsigned int voqBase64EncodedLength(unsigned int n);
