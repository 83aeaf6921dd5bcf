// The context-menu extension as the shell uses it: the shell host (a process of the
// extension's word size) loads Menvaro.dll or Menvaro32.dll, hands it a selection,
// reads the menu it got, asks for command strings, invokes the verb against a stand-in
// for Quarvel's window, and registers and unregisters the module, whose entries this
// test reads from its own process.
#include "HandoffTestSupport.h"

#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wt = platform::wintest;

namespace {

constexpr const char* kMenuText = "Mit Quarvel signieren ...";
constexpr const char* kHelp = "Pdf-Dokument mit Quarvel signieren";
constexpr const char* kOk = "0x00000000";
constexpr const char* kOneItem = "0x00000001";
constexpr const char* kInvalidArg = "0x80070057";

// The report's value after "<key> " (the first line with that key).
std::string field(const std::vector<std::string>& lines, const std::string& key) {
  for (const std::string& line : lines)
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  return "<none>";
}

std::vector<std::string> itemsOf(const std::vector<std::string>& lines) {
  std::vector<std::string> items;
  for (const std::string& line : lines)
    if (line.rfind("item ", 0) == 0) items.push_back(line.substr(5));
  return items;
}

class Menvaro : public ::testing::TestWithParam<handofftest::ShellExtension> {
 protected:
  void SetUp() override {
    if (!handofftest::runsHere(GetParam())) GTEST_SKIP() << handofftest::howItRuns(GetParam());
  }
  std::vector<std::string> host(const std::vector<std::string>& command) {
    return handofftest::runShellHost(GetParam(), command);
  }
};

// The selection, as the shell hands it over, and what the menu then holds: the item
// at the position it was given (before the shell's own "Öffnen"), its id the first id,
// the bitmap beside it in the unchecked state only.
TEST_P(Menvaro, SelectionTable) {
  const std::string added = std::string("0 100 1 0 ") + kMenuText;
  const std::string shells = "1 1 0 0 Öffnen";
  struct Row {
    std::vector<std::string> args;  // flags, then options and files
    std::string initialize;
    std::string query;
  };
  const std::vector<Row> rows = {
      {{"0", "/home/max/a.pdf"}, kOk, kOneItem},
      {{"0", "/home/max/A.PDF"}, kOk, kOneItem},
      {{"0", "/home/Max Müller/Vertrag 2024.Pdf"}, kOk, kOneItem},
      {{"0", "--narrow", "/home/Max Müller/b.pdf"}, kOk, kOneItem},
      {{"0", "/home/max/x.pdf.txt"}, kOk, kOk},
      {{"0", ".pdf"}, kOk, kOneItem},  // four characters: the suffix itself
      {{"0", "pdf"}, kOk, kOk},
      {{"0", "a"}, kOk, kOk},
      {{"0", "/home/max/Dokumente"}, kOk, kOk},  // a folder
      {{"0", "/home/max/brief.txt"}, kOk, kOk},
      {{"0", "/home/max/a.pdf", "/home/max/b.pdf"}, kOk, kOk},
      {{"0", "/home/max/a.pdf", "/home/max/b.txt", "/home/max/c"}, kOk, kOk},
      {{"0"}, kInvalidArg, kOk},                             // an empty list
      {{"0", "--no-hdrop", "/home/max/a.pdf"}, kInvalidArg, kOk},
      {{"0", "--stale", "/home/max/a.pdf"}, kInvalidArg, kOk},  // GlobalLock fails
      {{"1", "/home/max/a.pdf"}, kOk, kOk},                  // CMF_DEFAULTONLY
      {{"4", "/home/max/a.pdf"}, kOk, kOneItem},             // CMF_EXPLORE
  };
  for (const Row& row : rows) {
    std::string what;
    for (const std::string& a : row.args) what += a + " ";
    SCOPED_TRACE(what);
    std::vector<std::string> command{"menu"};
    command.insert(command.end(), row.args.begin(), row.args.end());
    const std::vector<std::string> lines = host(command);
    EXPECT_EQ(field(lines, "initialize"), row.initialize);
    EXPECT_EQ(field(lines, "released"), "1");  // the medium went back, whatever happened
    EXPECT_EQ(field(lines, "query"), row.query);
    const std::vector<std::string> expected =
        row.query == kOneItem ? std::vector<std::string>{added, shells} : std::vector<std::string>{"0 1 0 0 Öffnen"};
    EXPECT_EQ(itemsOf(lines), expected);
    EXPECT_EQ(field(lines, "can-unload"), kOk);
  }
}

// GetCommandString, per build: Menvaro answers every request for help or in UTF-16
// with the help text (GCS_VERBW and GCS_VALIDATEW too), Menvaro32 only the requests for
// help; the text is cut to the buffer with its NUL; a validation in ANSI, a verb in
// ANSI and another offset get E_INVALIDARG, and nothing is written without a buffer.
TEST_P(Menvaro, CommandStrings) {
  const std::vector<std::string> lines = host({"strings", "/home/max/a.pdf"});
  std::map<std::string, std::string> got;
  for (const std::string& line : lines)
    if (line.rfind("string ", 0) == 0) {
      const size_t at = line.find(' ', line.find(' ', line.find(' ', 7) + 1) + 1);
      got[line.substr(7, at - 7)] = line.substr(at + 1);
    }
  const bool wideBuild = GetParam().name == "Menvaro";
  const std::string help(kHelp);
  for (int offset : {0, 1}) {
    for (int flags : {0, 1, 2, 4, 5, 6}) {
      for (int length : {10, 64, 0}) {
        const std::string key = std::to_string(offset) + " " + std::to_string(flags) + " " + std::to_string(length);
        const bool answered = (flags & 1) || (wideBuild && (flags & 4));  // GCS_HELPTEXTA, GCS_UNICODE
        std::string expected = std::string(kInvalidArg) + " -";
        if (offset == 0 && answered && length > 0)
          expected = std::string(kOk) + ((flags & 4) ? " W:" : " A:") +
                     help.substr(0, static_cast<size_t>(length - 1));
        EXPECT_EQ(got[key], expected) << key;
      }
    }
  }
  EXPECT_EQ(got.size(), 36u);
}

TEST_P(Menvaro, InvokeSendsThePath) {
  handofftest::Receiver receiver;
  const std::string p259 = "/" + std::string(254, 'x') + ".pdf";
  const std::vector<std::string> paths = {"/home/Max Müller/Eigene Dateien/Vertrag 2024.pdf", p259,
                                          "/home/max/a \"quoted\" name.PDF"};
  size_t sent = 0;
  for (const std::string& path : paths) {
    EXPECT_EQ(field(host({"invoke", "0", path}), "invoke"), kOk);
    const std::vector<handofftest::Request> requests = receiver.requests();
    ASSERT_EQ(requests.size(), ++sent);
    EXPECT_EQ(requests.back().dwData, 150u);
    EXPECT_EQ(requests.back().bytes, handofftest::payload(path));
  }
  // A verb given as text, and any offset but the item's own: refused, nothing sent.
  EXPECT_EQ(field(host({"invoke", "open", "/home/max/a.pdf"}), "invoke"), kInvalidArg);
  EXPECT_EQ(field(host({"invoke", "1", "/home/max/a.pdf"}), "invoke"), kInvalidArg);
  EXPECT_EQ(receiver.requests().size(), sent);
  EXPECT_TRUE(wt::desktopMessageBoxes().empty());

  // Two files: the box, nothing sent.
  EXPECT_EQ(field(host({"invoke", "0", "/home/max/a.pdf", "/home/max/b.pdf"}), "invoke"), kOk);
  EXPECT_EQ(receiver.requests().size(), sent);
  const std::vector<wt::DesktopMessageBox> boxes = wt::desktopMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Sie dürfen nur ein Dokument auswählen!");
  EXPECT_EQ(boxes[0].caption, "Quarvel - VOQ Vuv Oredaridez GmbH");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
}

// A path is never cut: the shell's name is read at its own length and sent whole with
// its NUL while the two fit the 511 bytes of a request, else refused with a box; so is
// a name that has no UTF-8 form (an unpaired surrogate: the wide build cannot convert
// it, and the shell's ANSI list holds '?' for it).
TEST_P(Menvaro, PathsAreSentWholeOrRefusedWithABox) {
  handofftest::Receiver receiver;
  constexpr const char* kTooLong = "Der Pfad der Datei ist zu lang, die Datei kann nicht signiert werden!";
  constexpr const char* kNotText = "Der Pfad der Datei enthält ungültige Zeichen, die Datei kann nicht signiert werden!";
  struct Row {
    std::string path;
    const char* box;  // NULL: sent whole
  };
  const std::vector<Row> rows = {
      {handofftest::umlautPath(259), nullptr},
      {handofftest::umlautPath(260), nullptr},
      {handofftest::umlautPath(300), nullptr},
      {handofftest::umlautPath(510), nullptr},
      {handofftest::umlautPath(511), kTooLong},
      {"/" + std::string(2000, 'z') + ".pdf", kTooLong},
      {"/home/max/a\\uD800b.pdf", kNotText},
      {"/home/max/\\uDC00.pdf", kNotText},
  };
  size_t sent = 0;
  size_t boxes = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.path.size()) + " " + row.path.substr(0, 20));
    EXPECT_EQ(field(host({"invoke", "0", row.path}), "invoke"), kOk);
    const std::vector<handofftest::Request> requests = receiver.requests();
    const std::vector<wt::DesktopMessageBox> shown = wt::desktopMessageBoxes();
    if (row.box == nullptr) {
      ASSERT_EQ(requests.size(), ++sent);
      EXPECT_EQ(requests.back().bytes, handofftest::payload(row.path));
      EXPECT_EQ(shown.size(), boxes);
    } else {
      EXPECT_EQ(requests.size(), sent);
      ASSERT_EQ(shown.size(), ++boxes);
      EXPECT_EQ(shown.back().text, row.box);
      EXPECT_EQ(shown.back().caption, "Quarvel - VOQ Vuv Oredaridez GmbH");
      EXPECT_EQ(shown.back().type, static_cast<UINT>(MB_ICONINFORMATION));
    }
  }
}

TEST_P(Menvaro, RetryAfterQuarvelStartedSendsOnce) {
  wt::setDesktopMessageBoxesWait(true);
  std::string report;
  quarveltest::ChildProcess shell =
      handofftest::startShellHost(GetParam(), {"invoke", "0", "/home/max/Angebot 1.pdf"}, &report);
  ASSERT_TRUE(quarveltest::eventually([] { return wt::desktopMessageBoxes().size() == 1; }));
  const wt::DesktopMessageBox box = wt::desktopMessageBoxes()[0];
  EXPECT_EQ(box.text, "Die Datei kann nicht signiert werden, prüfen Sie ob Quarvel gestartet ist!");
  EXPECT_EQ(box.caption, "Quarvel - VOQ Vuv Oredaridez GmbH");
  EXPECT_EQ(box.type, 0x45u);
  wt::queueDesktopMessageBoxAnswer(IDRETRY);  // still no receiver: the box again
  ASSERT_TRUE(quarveltest::eventually([] { return wt::desktopMessageBoxes().size() == 2; }));
  handofftest::Receiver receiver;
  wt::queueDesktopMessageBoxAnswer(IDRETRY);
  EXPECT_EQ(shell.wait(), 0);
  EXPECT_EQ(field(handofftest::readLines(report), "invoke"), kOk);
  ASSERT_EQ(receiver.requests().size(), 1u);
  EXPECT_EQ(receiver.requests()[0].bytes, handofftest::payload("/home/max/Angebot 1.pdf"));
}

TEST_P(Menvaro, CancelSendsNothing) {
  wt::setDesktopMessageBoxesWait(true);
  std::string report;
  quarveltest::ChildProcess shell =
      handofftest::startShellHost(GetParam(), {"invoke", "0", "/home/max/Angebot 2.pdf"}, &report);
  ASSERT_TRUE(quarveltest::eventually([] { return wt::desktopMessageBoxes().size() == 1; }));
  wt::queueDesktopMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(shell.wait(), 0);
  EXPECT_EQ(field(handofftest::readLines(report), "invoke"), kOk);
  EXPECT_EQ(wt::desktopMessageBoxes().size(), 1u);
}

// DllCanUnloadNow while a class factory, an object and a server lock are alive.
TEST_P(Menvaro, CanUnloadNow) {
  const std::vector<std::string> lines = host({"unload"});
  const std::vector<std::string> expected = {
      "unload-start 0x00000000",       "get-factory 0x00000000",        "unload-factory 0x00000001",
      "create 0x00000000",             "aggregate 0x80040110",          "lock 0x00000000",
      "unload-object-lock 0x00000001", "unload-lock 0x00000001",        "unload-end 0x00000000",
      "other-class 0x80040111",        "can-unload 0x00000000",
  };
  EXPECT_EQ(lines, expected);
}

// --- Registration, read back by this process -----------------------------------------

const char* const kApproved = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

struct Identity {
  std::string clsid, appId, libId, description, handler, help, platform;
};

Identity identityOf(const std::string& name) {
  if (name == "Menvaro")
    return {"{9D630505-DE83-4BF3-8C1A-C424AE8497A6}", "{196F1E05-E501-4806-ACB1-ACA405E79850}",
            "{D67BA8C3-8FC9-4029-8D77-78853BAC79FF}", "Quarvel Shell64 Extension", "Menvaro64",
            "Menvaro 1.0 Type Library", "win64"};
  return {"{BCA0FA92-9B5E-455C-98EE-8A3AFCEEFFB3}", "{584C39EE-1B7D-4283-A28D-AA2B70D7FFDB}",
          "{59FA86B9-8327-4405-B302-ADB8DC80A55D}", "Quarvel Shell32 Extension", "Menvaro32",
          "Menvaro32 1.0 Typbibliothek", "win32"};
}

// Every key and value below `path` of HKEY_CLASSES_ROOT (or another root) as lines
// "<key>" and "<key>\t<value name>=<data>"; nothing when the key is missing.
void dump(HKEY root, const std::string& path, std::vector<std::string>* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out->push_back(path);
  char name[512];
  BYTE data[2048];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof name;
    DWORD dataLength = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    EXPECT_EQ(type, REG_SZ) << path << " " << name;
    out->push_back(path + "\t" + name + "=" + std::string(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), dataLength)));
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string& child : children) dump(root, path + "\\" + child, out);
}

std::vector<std::string> entries() {
  std::vector<std::string> out;
  for (const char* top : {"AppID", "CLSID", "*", "TypeLib"}) dump(HKEY_CLASSES_ROOT, top, &out);
  dump(HKEY_LOCAL_MACHINE, kApproved, &out);
  return out;
}

void createKey(HKEY root, const std::string& path, const char* valueName = nullptr, const std::string& data = "") {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  if (valueName != nullptr || !data.empty())
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
}

// The machine as the extension finds it: the approved list, another handler, an older
// entry under the class key that registration must clear away.
void prepareMachine(const Identity& id) {
  createKey(HKEY_LOCAL_MACHINE, kApproved, "{00000000-1111-2222-3333-444444444444}", "Other");
  createKey(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Other", nullptr, "{00000000-1111-2222-3333-444444444444}");
  createKey(HKEY_CLASSES_ROOT, "CLSID\\" + id.clsid + "\\Stale");
}

TEST_P(Menvaro, RegisterAndUnregister) {
  const Identity id = identityOf(GetParam().name);
  prepareMachine(id);
  EXPECT_EQ(field(host({"register"}), "register"), kOk);
  const std::string& module = GetParam().module;
  const std::string folder = module.substr(0, module.rfind('/'));
  const std::string lib = "TypeLib\\" + id.libId;
  const std::vector<std::string> expected = {
      "AppID",
      "AppID\\" + id.appId,
      "AppID\\" + id.appId + "\t=" + GetParam().name,
      "AppID\\" + GetParam().name + ".DLL",
      "AppID\\" + GetParam().name + ".DLL\tAppID=" + id.appId,
      "CLSID",
      "CLSID\\" + id.clsid,
      "CLSID\\" + id.clsid + "\t=" + id.description,
      "CLSID\\" + id.clsid + "\\InprocServer32",
      "CLSID\\" + id.clsid + "\\InprocServer32\t=" + module,
      "CLSID\\" + id.clsid + "\\InprocServer32\tThreadingModel=Apartment",
      "*",
      "*\\shellex",
      "*\\shellex\\ContextMenuHandlers",
      "*\\shellex\\ContextMenuHandlers\\" + id.handler,
      "*\\shellex\\ContextMenuHandlers\\" + id.handler + "\t=" + id.clsid,
      "*\\shellex\\ContextMenuHandlers\\Other",
      "*\\shellex\\ContextMenuHandlers\\Other\t={00000000-1111-2222-3333-444444444444}",
      "TypeLib",
      lib,
      lib + "\\1.0",
      lib + "\\1.0\t=" + id.help,
      lib + "\\1.0\\0",
      lib + "\\1.0\\0\\" + id.platform,
      lib + "\\1.0\\0\\" + id.platform + "\t=" + module,
      lib + "\\1.0\\FLAGS",
      lib + "\\1.0\\FLAGS\t=0",
      lib + "\\1.0\\HELPDIR",
      lib + "\\1.0\\HELPDIR\t=" + folder,
      kApproved,
      std::string(kApproved) + "\t{00000000-1111-2222-3333-444444444444}=Other",
      std::string(kApproved) + "\t" + id.clsid + "=" + GetParam().name,
  };
  std::vector<std::string> got = entries();
  std::sort(got.begin(), got.end());
  std::vector<std::string> sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(got, sortedExpected);

  // Registering twice gives the same entries.
  EXPECT_EQ(field(host({"register"}), "register"), kOk);
  got = entries();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, sortedExpected);

  // Unregistering removes what registration made and keeps the keys it never owns
  // (AppID, CLSID, *, shellex, ContextMenuHandlers) and the other handler.
  EXPECT_EQ(field(host({"unregister"}), "unregister"), kOk);
  std::vector<std::string> after = entries();
  std::vector<std::string> left = {"AppID",
                                   "CLSID",
                                   "*",
                                   "*\\shellex",
                                   "*\\shellex\\ContextMenuHandlers",
                                   "*\\shellex\\ContextMenuHandlers\\Other",
                                   "*\\shellex\\ContextMenuHandlers\\Other\t={00000000-1111-2222-3333-444444444444}",
                                   "TypeLib",
                                   kApproved,
                                   std::string(kApproved) + "\t{00000000-1111-2222-3333-444444444444}=Other"};
  std::sort(after.begin(), after.end());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(after, left);
  // A second unregistration finds nothing to remove and still succeeds.
  EXPECT_EQ(field(host({"unregister"}), "unregister"), kOk);
}

// A user who may not write the machine's keys: E_ACCESSDENIED, nothing written.
TEST_P(Menvaro, RegisterWithoutWriteAccess) {
  const Identity id = identityOf(GetParam().name);
  prepareMachine(id);
  const std::vector<std::string> before = entries();
  setenv("QUARVEL_STANDARD_USER", "1", 1);
  const std::vector<std::string> lines = host({"register"});
  unsetenv("QUARVEL_STANDARD_USER");
  EXPECT_EQ(field(lines, "register"), "0x80070005");
  EXPECT_EQ(entries(), before);
}

// Without the approved list (a machine that has none): E_ACCESSDENIED, nothing written.
TEST_P(Menvaro, RegisterWithoutApprovedList) {
  EXPECT_EQ(field(host({"register"}), "register"), "0x80070005");
  EXPECT_TRUE(entries().empty());
}

std::string buildName(const ::testing::TestParamInfo<handofftest::ShellExtension>& info) {
  return info.param.label();
}

INSTANTIATE_TEST_SUITE_P(Builds, Menvaro, ::testing::ValuesIn(handofftest::shellExtensionRoads()), buildName);

}  // namespace
