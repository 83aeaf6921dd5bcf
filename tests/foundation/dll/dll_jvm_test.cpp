// Mode "Secure" with the real Java VM library: the installation directory's "jre"
// is the installed JDK, and JVM.esw names jre\lib\server\libjvm.so.
#include "FoundationFixture.h"

#include "foundation/base/CException.h"
#include "foundation/core/CdllFactory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

namespace ft = foundationtest;

namespace {

// The JDK's home, from the javac on the search path.
std::string jdkHome() {
  std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
  std::string dir;
  while (std::getline(path, dir, ':')) {
    const std::string candidate = dir + "/javac";
    char resolved[PATH_MAX];
    if (::access(candidate.c_str(), X_OK) == 0 && ::realpath(candidate.c_str(), resolved) != nullptr) {
      std::string home = resolved;
      const std::string tail = "/bin/javac";
      if (home.size() > tail.size() && home.compare(home.size() - tail.size(), tail.size(), tail) == 0)
        return home.substr(0, home.size() - tail.size());
    }
  }
  return {};
}

class JvmLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string home = jdkHome();
    ASSERT_FALSE(home.empty()) << "no javac on the search path";
    ft::makeApplication();
    ft::installDirectory();
    ASSERT_EQ(::symlink(home.c_str(), ft::hostPath(std::string(ft::kInstallDir) + "\\jre").c_str()), 0);
  }

  static std::string jvmArchive(const eswtool::Signer& signer) {
    return ft::signedArchive({eswtool::Section{"executable:jre\\lib\\server\\libjvm.so", {{"SectionName", "JVM"}}, true}},
                             signer);
  }
};

TEST_F(JvmLoadTest, SecureModeReturnsTheRealExport) {
  ft::installArchive("JVM", jvmArchive(ft::archiveRootSigner()));
  CdllFactory* factory = CdllFactory::getInstance();
  FARPROC create = factory->getFunction("JVM", "JNI_CreateJavaVM", "Secure");
  ASSERT_NE(create, nullptr);
  HMODULE jvm = factory->getHandle("JVM", "Secure");
  ASSERT_NE(jvm, nullptr);
  EXPECT_EQ(GetProcAddress(jvm, "JNI_CreateJavaVM"), create);
  EXPECT_NE(GetProcAddress(jvm, "JNI_GetCreatedJavaVMs"), nullptr);
}

TEST_F(JvmLoadTest, TamperedArchiveRefusesToLoad) {
  eswtool::ArchivePlan plan;
  plan.sections.push_back(eswtool::Section{
      "executable:jre\\lib\\server\\libjvm.so", {{"SectionName", "JVM"}, {"Version", "17"}}, true});
  eswtool::Block block;
  block.signers.push_back(ft::archiveRootSigner());
  plan.blocks.push_back(block);
  const std::string signedText = eswtool::signerInfoText(plan);
  // One byte of the manifest changed after signing; the module it names is still there.
  plan.sections[0].attributes[1].value = "18";
  plan.signerInfoOverride = signedText;
  ft::installArchive("JVM", eswtool::buildArchive(plan));
  try {
    CdllFactory::getInstance()->getFunction("JVM", "JNI_CreateJavaVM", "Secure");
    FAIL() << "no exception";
  } catch (const VOQ::CNoSuchObjectException& e) {
    EXPECT_EQ(e.getWhere(), "CdllFactory::getFunctionPointer");
    EXPECT_EQ(e.getMessage(), "Funktion existiert nicht.\n");
  }
}

}  // namespace
