// Cuts a caller's text into tokens in place, one call at a time.
#pragma once

class VDelimitedString {
 public:
  static constexpr int kBeforeFirst = -1;
  static constexpr int kExhausted = -2;

  VDelimitedString() = default;
  VDelimitedString(char* text, char delimiter) : delimiter(delimiter), text(text) {}
  virtual ~VDelimitedString() = default;

  // The next token, or NULL when none is left. Empty tokens between adjacent
  // delimiters are returned as ""; a trailing delimiter gives no last token.
  // With restore, the cut made by the previous call is undone first, so that the
  // text is whole again once NULL is returned.
  char* next(bool restore);

  // Filled by the owner directly.
  char delimiter = '\0';
  char* text = nullptr;  // owned by the caller, NUL-terminated, written to
  int position = kBeforeFirst;  // offset of the last cut, or one of the constants
};
