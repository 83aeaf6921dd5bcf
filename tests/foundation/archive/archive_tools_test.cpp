// Archives made outside the library: by openssl and zip alone, and by the
// signing tool's command line, as later fixtures make them.
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>
#include <quarvel_test.h>

#include <cstdlib>

using namespace archivetest;

namespace {

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

TEST(ArchiveOutsideTools, OpensslAndZipArchiveLoads) {
  const std::string dir = quarveltest::makeTempDirectory("openssl");
  ASSERT_EQ(run(std::string(QUARVEL_ARCHIVE_SCRIPTS) + "/make-openssl-archive.sh " + QUARVEL_ARCHIVE_KEYS + " " + dir), 0);
  const std::string bytes = eswtool::readFile(dir + "/Quarvel.esw");
  ArchivePtr a = load(bytes);
  ASSERT_NE(a, nullptr);
  ManifestSection* own = find(a.get(), "Quarvel");
  ASSERT_NE(own, nullptr);
  AttributeIterator* it = getAttributes(own);
  Blob name, value;
  ASSERT_EQ(nextAttribute(it, &name, &value), 0);
  EXPECT_EQ(text(name), "Main-Class");
  EXPECT_EQ(text(value), "x.Launcher");
  ASSERT_EQ(nextAttribute(it, &name, &value), 0);
  EXPECT_EQ(text(value), "abcdef");
  EXPECT_EQ(nextAttribute(it, &name, &value), -1);
  freeAttributes(it);
  ManifestSection* jvm = find(a.get(), "JVM");
  ASSERT_NE(jvm, nullptr);
  EXPECT_EQ(text(jvm->path), "jre\\lib\\server\\libjvm.so");
}

TEST(ArchiveOutsideTools, ZipWithDescriptorsIsRejected) {
  const std::string dir = quarveltest::makeTempDirectory("zipfd");
  ASSERT_EQ(run(std::string(QUARVEL_ARCHIVE_SCRIPTS) + "/make-openssl-archive.sh " + QUARVEL_ARCHIVE_KEYS + " " + dir), 0);
  // zip -fd writes CRC 0 in the local header and a signed 16-byte descriptor.
  ASSERT_EQ(run("cd " + dir + "/openssl-archive/pkg && zip -q -0 -X -D -fd -r " + dir + "/fd.esw META-INF"), 0);
  EXPECT_EQ(load(eswtool::readFile(dir + "/fd.esw")), nullptr);
}

TEST(ArchiveOutsideTools, SigningToolCommandLine) {
  const std::string dir = quarveltest::makeTempDirectory("tool");
  eswtool::writeFile(dir + "/sections.txt",
                     "# card lists\n"
                     "Name: config:Quarvel\nSectionName: Quarvel\nBankCard0: 3B:FF\n more\n\n"
                     "Name: executable:evil.so\nSectionName: JVM\n!unsigned\n\n"
                     "Name: executable:jre\\lib\\server\\libjvm.so\nSectionName: JVM\n");
  const std::string tool = QUARVEL_ESW_SIGN;
  const std::string keys = QUARVEL_ARCHIVE_KEYS;
  const std::string common = tool + " --sections " + dir + "/sections.txt --signer " + keys + "/stranger.key:" + keys +
                             "/stranger.crt --signer " + keys + "/archive-root.key:" + keys + "/archive-root.crt";
  ASSERT_EQ(run(common + " --out " + dir + "/ok.esw"), 0);
  ArchivePtr a = load(eswtool::readFile(dir + "/ok.esw"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(text(a->block->baseName), "SIGNER2");
  EXPECT_EQ(attributesOf(find(a.get(), "Quarvel")).front().second, "3B:FFmore");
  EXPECT_EQ(text(find(a.get(), "JVM")->path), "jre\\lib\\server\\libjvm.so");

  for (const char* variant : {"trailing-byte", "crc-flip", "size-mismatch", "descriptor-unequal", "descriptor-16",
                              "lf-for-crlf", "signed-attributes"}) {
    const std::string out = dir + "/" + variant + ".esw";
    ASSERT_EQ(run(common + " --variant " + variant + " --out " + out), 0) << variant;
    EXPECT_EQ(load(eswtool::readFile(out)), nullptr) << variant;
  }
  ASSERT_EQ(run(common + " --variant descriptor --out " + dir + "/d.esw"), 0);
  EXPECT_NE(load(eswtool::readFile(dir + "/d.esw")), nullptr);
  EXPECT_NE(run(tool + " --out " + dir + "/x.esw --variant nonsense"), 0);
}

}  // namespace
