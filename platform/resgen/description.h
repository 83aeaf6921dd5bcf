// The resource description file of a module, as resgen reads it.
//
//   # One statement per line; '#' starts a comment. Words and numbers (decimal or 0x)
//   # are separated by blanks or commas; texts are "quoted" UTF-8 with the escapes
//   # \n \r \t \0 \\ \" \xHH. A statement may end in a { block } of statements.
//   # Files are named relative to the description file.
//   string 1 "Quarvel"
//   strings {
//     2 "Die Datei wurde geöffnet."
//     3 "Zweite Zeile\n"
//   }
//   icon 115 "images/quarvel.ico"      # RT_GROUP_ICON 115 and one RT_ICON per image
//   bitmap 127 "images/logo.bmp"       # RT_BITMAP: the file without its file header
//   data 300 "blob.bin"                # RT_RCDATA
//   file 23 500 "page.html"            # any type, by number or as a "NAME"
//   language 0x0407                    # language of the statements that follow
//   version 1 { ... }                  # RT_VERSION, see compile_version.h
// An id may be a "NAME" instead of a number (not for strings).
//
// The parser only builds the statement tree; each kind of statement is compiled by
// its own function (compile.cpp), so menus, dialogs and version information arrive as
// new kinds with blocks.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace resgen {

struct Token {
  enum class Kind { Word, Text };
  Kind kind = Kind::Word;
  std::string value;
  int line = 0;
};

struct Statement {
  std::vector<Token> args;  // args[0] is the keyword
  bool hasBlock = false;
  std::vector<Statement> block;
  int line = 0;
};

// A fault in a description, with its place: "<file>:<line>: <message>".
class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The statements of `text`; `fileName` names the place in errors.
std::vector<Statement> parseDescription(const std::string& text, const std::string& fileName);

// For the compilers of the statements: a fault at a line of the file.
[[noreturn]] void failAt(const std::string& fileName, int line, const std::string& message);
// A word as a number from 0 to max (decimal or 0x...), or a fault.
uint32_t tokenNumber(const Token& t, uint64_t max, const std::string& fileName);
// A token's UTF-8 as UTF-16; a bad sequence is a fault of the description.
std::u16string tokenUtf16(const Token& t, const std::string& fileName);

}  // namespace resgen
