// Writes signed settings archives (".esw") for tests and fixtures: stored ZIP
// entries, a manifest, signer-info texts signed with OpenSSL (CMS, SHA-1, DSA),
// and the malformed variants the rejection tests need.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace eswtool {

struct Attribute {
  std::string name;
  std::string value;  // may hold "\n " continuations; line ends are written as the archive's
};

struct Section {
  std::string name;  // the Name value, such as "config:Quarvel"
  std::vector<Attribute> attributes;
  bool covered = true;  // false: no signer-info section names it
};

struct Signer {
  std::string keyFile;   // PEM private key
  std::string certFile;  // PEM certificate of that key
};

// One "DSA" entry: a SignedData with one SignerInfo per signer (in SET order).
struct Block {
  std::string entryName = "META-INF/SIGNER.DSA";
  std::vector<Signer> signers;
  bool includeCertificates = true;
  bool signedAttributes = false;  // the signature then covers attributes, not the text
};

struct Entry {
  std::string name;
  std::string data;
};

enum class Descriptor {
  None,
  Twelve,          // flag bit 3, real CRC and sizes in the header, 12-byte descriptor
  TwelveUnequal,   // the same with different sizes in the descriptor
  SixteenZeroCrc,  // what `zip -fd` writes: CRC 0 in the header, a signed 16-byte descriptor
};

struct ZipOptions {
  Descriptor descriptor = Descriptor::None;
  std::string crcFlipEntry;       // this entry's CRC is wrong
  std::string sizeMismatchEntry;  // this entry's uncompressed size differs
  bool trailingByte = false;      // one byte after the end record
  bool centralDirectory = true;
};

// Bytes of a stored ZIP archive.
std::string writeZip(const std::vector<Entry>& entries, const ZipOptions& options = {});

struct ArchivePlan {
  std::vector<Attribute> manifestHeader;
  std::vector<Section> sections;
  std::vector<Block> blocks;
  std::vector<std::string> certificateEntries;  // PEM files written as META-INF/<n>.CER entries (DER)
  std::vector<Entry> extraEntries;
  std::string digestAlgorithm = "SHA1";
  bool lfForCrlf = false;  // after signing, the first section's closing empty line becomes LF
  std::vector<Attribute> signerInfoHeader;
  std::string signerInfoOverride;                  // signed instead of the generated text when set
  std::function<void(std::string&)> blockMutation;  // applied to each signature block's DER
  ZipOptions zip;
};

std::string sectionText(const Section& section);
std::string manifestText(const ArchivePlan& plan);
std::string signerInfoText(const ArchivePlan& plan);
// DER ContentInfo (SignedData) over content, one SignerInfo per signer.
std::string signContent(const std::string& content, const Block& block);
// DER bytes of a PEM certificate file.
std::string certificateDer(const std::string& pemFile);
// The whole archive; throws std::runtime_error on failure.
std::string buildArchive(const ArchivePlan& plan);

std::string sha1Base64(const std::string& data);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

}  // namespace eswtool
