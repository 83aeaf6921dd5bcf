// The signature dictionary as its signer wrote it: read from the file's own bytes around
// the gap that the signed ranges leave for the /Contents string, from the dictionary's
// object header before the gap to its end after it. What a later update or an unsigned
// part of the file says of the dictionary never counts: the signing time and the signer
// metadata come only from here.
//
// Pure code over untrusted bytes (no host calls), so that it is tested and fuzzed alone.
#pragma once

#include <stdint.h>

#include <string>

struct SignedDictionary {
  // The dictionary's object header "id generation obj".
  int64_t id = -1, generation = -1;
  // /ByteRange, when it is a direct array of exactly four unsigned integers: the ranges
  // the signer wrote, which the ranges the signature is checked over must be.
  bool hasByteRange = false;
  int64_t byteRange[4] = {0, 0, 0, 0};
  // /M, when it is a direct string of the dictionary (its bytes, decoded).
  bool hasSigningTime = false;
  std::string signingTime;
  // /Prop_Build /Filter /Metadata, when each level is direct: a dictionary, a dictionary,
  // a string.
  bool hasMetadata = false;
  std::string metadata;
};

enum class SignedDictionaryRead {
  Found,
  NotFound,        // no dictionary in these bytes holds the gap as its /Contents value
  NeedMoreBefore,  // it may begin before the bytes given
  NeedMoreAfter,   // it may end after the bytes given
};

// `before`: the file's bytes that end right before the gap (whose first byte is the "<"
// of the /Contents string); they start at the file's first byte when `beforeFromStart`.
// `after`: the bytes from right after the gap on; they reach the end of the signed ranges
// when `afterToEnd`. The dictionary is the nearest object before the gap whose top-level
// /Contents value is exactly the gap and which ends inside the bytes after it. A value
// that appears twice in one dictionary counts as absent.
SignedDictionaryRead readSignedDictionary(const std::string& before, bool beforeFromStart, const std::string& after,
                                          bool afterToEnd, SignedDictionary& out);
