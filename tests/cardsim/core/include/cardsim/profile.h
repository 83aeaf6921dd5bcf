// A card type as data: its ATR, files, PINs, keys and key references. Profiles
// are text files (see docs/testbed.md), so a test can load one and change it.
#pragma once

#include "cardsim/bytes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

enum class HashAlg { Sha1, Sha256, Ripemd160 };

enum class PinFormat {
  Format2,  // ISO 9564 format-2 block: 2L, BCD digits, F filler
  Padded,   // the PIN's characters, padded with a pad byte to the block length
};

struct PinSpec {
  std::uint8_t ref = 0;
  PinFormat format = PinFormat::Format2;
  std::uint8_t pad = 0x00;
  std::size_t block = 8;
  std::string value;
  int tries = 3;
  std::string unblockCode;  // empty: the PIN cannot be unblocked
  int unblockTries = 10;
  std::size_t minLength = 4, maxLength = 12;
  bool transport = false;  // not yet activated: must be set before use
};

struct Access {
  enum class Kind { Always, Never, Pin } kind = Kind::Always;
  std::uint8_t pin = 0;
};

enum class FileStructure { Dedicated, Transparent, LinearFixed, LinearVariable, Cyclic };

using FilePath = std::vector<std::uint16_t>;  // FIDs from the MF, 3F00 first

struct FileSpec {
  FilePath path;
  FileStructure structure = FileStructure::Transparent;
  Bytes dfName;               // dedicated files: the application identifier
  Bytes content;              // transparent files
  std::vector<Bytes> records; // record files
  Access read, update{Access::Kind::Never, 0};
};

struct KeySpec {
  std::uint8_t ref = 0;
  std::string keyFile;      // PEM private key
  std::uint8_t pin = 0;     // the PIN whose verification the key needs
  bool sign = true, decipher = false, authenticate = false;
  bool pinPerUse = false;   // a signature consumes the PIN verification
  FilePath df;              // usable only while this DF is current; empty: anywhere
};

struct CardProfile {
  std::string name;
  std::string baseDir;
  Bytes atr;
  bool extendedLength = false;
  std::uint16_t lastTryAnswer = 0x6983;  // the answer of the try that blocks a PIN
  // What a READ BINARY that runs past the end answers: 6282 (the bytes there are,
  // with the warning) or 6B00 (the bytes there are with 9000; 6B00 only at an
  // offset at or beyond the end).
  std::uint16_t endOfFile = 0x6282;
  Bytes serial;  // GET SERIAL (80 F6) answers it; empty: the card does not know the command
  std::map<std::uint8_t, HashAlg> algorithms;  // algorithm reference -> hash
  std::optional<std::uint8_t> defaultSignKey, defaultDecipherKey, defaultAuthKey;
  std::vector<PinSpec> pins;
  std::vector<KeySpec> keys;
  std::vector<FileSpec> files;

  static CardProfile load(const std::string& path);
  // Relative file names in the text are taken from baseDir.
  static CardProfile parse(const std::string& text, const std::string& baseDir, const std::string& origin = "profile");
  // The installed profile of that name ("asign", "ecardg4", "ecardng", "dtrust", "bank", "bank1").
  static std::string installedPath(const std::string& name);

  const PinSpec* pin(std::uint8_t ref) const;
  const KeySpec* key(std::uint8_t ref) const;
  const FileSpec* file(const FilePath& path) const;
  FileSpec* file(const FilePath& path);
};

FilePath parseFilePath(const std::string& text);
std::string formatFilePath(const FilePath& path);

}  // namespace cardsim
