// Quarvel's main window, tray icon and menu, driven from the test process as the shell,
// the user and the hand-off programs would: the tray's records and popup menus of the
// desktop, WM_COMMAND for every command of the menu's table, the switches in the user's
// registry, and the sign-file request by WM_COPYDATA, with the JDK's libjvm under
// checked JNI and the Java stand-ins recording what they were asked.
#include "FoundationFixture.h"
#include "JvmFixture.h"

#include "platform/machine.h"
#include "platform/window_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <shellapi.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ft = foundationtest;
namespace wt = platform::wintest;

namespace {

size_t countLines(const std::string& line) {
  const std::vector<std::string> marker = jvmtest::markerLines();
  return static_cast<size_t>(std::count(marker.begin(), marker.end(), line));
}

bool hasLine(const std::string& line) { return countLines(line) > 0; }

// The marker lines written after the first `from` lines; withLoader false leaves out
// the loader's findClass lines.
std::vector<std::string> markerSince(size_t from, bool withLoader = true) {
  const std::vector<std::string> marker = jvmtest::markerLines();
  std::vector<std::string> since;
  for (size_t i = from; i < marker.size(); ++i)
    if (withLoader || marker[i].rfind("findClass ", 0) != 0) since.push_back(marker[i]);
  return since;
}

// Sends and waits until the window has handled the message; the bound only guards
// against a hang.
bool send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_NORMAL, 60000, &result) != 0;
}

bool command(HWND window, UINT id) { return send(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// Sends as the hand-off programs do (they give up after 3 s), then waits until the
// window has handled it: the window thread handles its messages in order.
bool sendAsHandOff(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, 3000, &result);
  return send(window, WM_NULL, 0, 0);
}

// A user's switch in HKCU as another process reads it; -1 when missing.
long userSwitch(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return -1;
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long>(value) : -1;
}

// Opens the tray menu with a right click as the shell reports it, choosing nothing:
// the menu as the user sees it.
wt::DesktopPopupMenu openTrayMenu(HWND window) {
  const size_t before = wt::desktopPopupMenus().size();
  EXPECT_TRUE(wt::injectTrayCallback(window, 0, WM_RBUTTONDOWN));
  const std::vector<wt::DesktopPopupMenu> menus = wt::desktopPopupMenus();
  EXPECT_EQ(menus.size(), before + 1);
  return menus.empty() ? wt::DesktopPopupMenu() : menus.back();
}

UINT itemFlags(HWND window, UINT id) {
  const wt::DesktopPopupMenu menu = openTrayMenu(window);
  const wt::MenuItemState* item = menu.item(id);
  EXPECT_NE(item, nullptr) << id;
  return item != nullptr ? item->flags : 0;
}

bool checked(HWND window, UINT id) { return (itemFlags(window, id) & MF_CHECKED) != 0; }

// A running Quarvel on a machine installed for the case; quit checks the end.
class Running {
 public:
  explicit Running(const jvmtest::Machine& machine = jvmtest::Machine(), const std::vector<std::string>& arguments = {}) {
    jvmtest::install(machine);
    std::vector<std::string> all = arguments;
    if (all.empty()) all.push_back(jvmtest::javaLogPath());
    m_quarvel = std::make_unique<jvmtest::Quarvel>(all);
    m_window = m_quarvel->waitForMainWindow();
  }
  HWND window() const { return m_window; }
  jvmtest::Quarvel& process() { return *m_quarvel; }

  // Quits through the menu's command; the program ends as after every normal quit.
  void quit() {
    EXPECT_TRUE(command(m_window, 40013));
    EXPECT_EQ(m_quarvel->wait(), 255);
    const std::string trace = jvmtest::readFile(jvmtest::traceLogPath());
    EXPECT_NE(trace.find("\nResult: 0x0.\n"), std::string::npos) << trace.substr(trace.size() > 2000 ? trace.size() - 2000 : 0);
    jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log");
    jvmtest::expectCleanJni(m_quarvel->output(), "stderr");
  }

 private:
  std::unique_ptr<jvmtest::Quarvel> m_quarvel;
  HWND m_window = nullptr;
};

// --- The tray icon ----------------------------------------------------------------

TEST(QuarvelTray, ShowsTheIconAndTheMenuAtTheCursorAndRemovesTheIconAtTheEnd) {
  Running quarvel;
  ASSERT_NE(quarvel.window(), nullptr);
  std::vector<wt::ShellIconCall> calls = wt::shellIconCalls();
  ASSERT_EQ(calls.size(), 1u);
  const wt::ShellIconCall add = calls[0];
  EXPECT_EQ(add.processId, static_cast<DWORD>(quarvel.process().pid()));
  EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add.cbSize, sizeof(NOTIFYICONDATAA));
  EXPECT_EQ(add.hwnd, quarvel.window());
  EXPECT_EQ(add.id, 0u);
  EXPECT_EQ(add.flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(add.callbackMessage, RegisterWindowMessageA("VTaskBarIcon"));
  EXPECT_GE(add.callbackMessage, 0xC000u);
  EXPECT_EQ(add.tip, " VOQ Quarvel");
  EXPECT_EQ(add.icon, "resource #115");
  EXPECT_TRUE(add.succeeded);

  // Right button down: the "File" popup at the cursor, owned by the main window, the
  // items and their states as the menu starts.
  wt::setCursorPos(321, 123);
  const wt::DesktopPopupMenu menu = openTrayMenu(quarvel.window());
  EXPECT_EQ(menu.processId, static_cast<DWORD>(quarvel.process().pid()));
  EXPECT_EQ(menu.owner, quarvel.window());
  EXPECT_EQ(menu.x, 321);
  EXPECT_EQ(menu.y, 123);
  EXPECT_EQ(menu.flags, 0u);
  EXPECT_EQ(menu.chosen, 0u);
  std::vector<std::string> top;
  for (const wt::MenuItemState& item : menu.items)
    if (item.depth == 0) top.push_back(item.text);
  EXPECT_EQ(top, (std::vector<std::string>{"&Über VOQ Quarvel", "", "Quarvel Module", "", "&Verwaltung", "",
                                           "Quarvel &beenden"}));
  size_t commands = 0;
  for (const wt::MenuItemState& item : menu.items) {
    if (item.id == 0) continue;
    ++commands;
    // Switches missing: Autoupdate and UseInfoboxPin count as on, Tip as off.
    const bool on = item.id == 40052 || item.id == 40009;
    EXPECT_EQ(item.flags & MF_CHECKED, on ? static_cast<UINT>(MF_CHECKED) : 0u) << item.id;
    EXPECT_EQ(item.flags & MF_GRAYED, 0u) << item.id;
  }
  EXPECT_EQ(commands, 19u);
  EXPECT_EQ(menu.item(40023), nullptr);
  EXPECT_EQ(menu.item(40017), nullptr);
  ASSERT_NE(menu.item(40022), nullptr);
  EXPECT_EQ(menu.item(40022)->text, "&Vertrauenswürdige Zertifikate");
  EXPECT_EQ(menu.item(40022)->depth, 1);

  // The other clicks do nothing; a left double click leaves the window hidden.
  for (UINT click : std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_RBUTTONDBLCLK, 0x0200u})
    EXPECT_TRUE(wt::injectTrayCallback(quarvel.window(), 0, click));
  EXPECT_EQ(wt::desktopPopupMenus().size(), 1u);
  for (const wt::WindowInfo& info : wt::topLevelWindows()) {
    if (info.hwnd == quarvel.window()) {
      EXPECT_FALSE(info.visible);
    }
  }

  // A menu choice arrives as WM_COMMAND: "Quarvel &beenden" quits.
  wt::queueDesktopPopupMenuChoice(40013);
  EXPECT_TRUE(wt::injectTrayCallback(quarvel.window(), 0, WM_RBUTTONDOWN));
  EXPECT_EQ(wt::desktopPopupMenus().back().chosen, 40013u);
  EXPECT_EQ(quarvel.process().wait(), 255);
  EXPECT_TRUE(hasLine("responder terminate"));
  calls = wt::shellIconCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(calls[1].hwnd, quarvel.window());
  EXPECT_TRUE(calls[1].succeeded);
  EXPECT_FALSE(wt::injectTrayCallback(quarvel.window(), 0, WM_RBUTTONDOWN));
  jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log");
}

// The icon: the installation's icon file when it is one, else resource 115.
struct IconCase {
  const char* name;
  const char* fileContent;  // NULL: no file; "ICO": the program's own icon file
  bool fromFile;
};

void PrintTo(const IconCase& c, std::ostream* os) { *os << c.name; }

class QuarvelTrayIcon : public ::testing::TestWithParam<IconCase> {};

TEST_P(QuarvelTrayIcon, ComesFromTheIconFileOrTheResource) {
  jvmtest::Machine machine;
  jvmtest::install(machine);
  const std::string file = jvmtest::installDir() + "/config/images/icon.ico";
  if (GetParam().fileContent != nullptr) {
    ASSERT_TRUE(platform::makeDirectories(jvmtest::installDir() + "/config/images"));
    const std::string content = std::string(GetParam().fileContent) == "ICO"
                                    ? jvmtest::readFile(QUARVEL_ICON_FILE)
                                    : std::string(GetParam().fileContent);
    eswtool::writeFile(file, content);
  }
  jvmtest::Quarvel quarvel({jvmtest::javaLogPath()});
  HWND window = quarvel.waitForMainWindow();
  ASSERT_NE(window, nullptr);
  const std::vector<wt::ShellIconCall> calls = wt::shellIconCalls();
  ASSERT_FALSE(calls.empty());
  if (GetParam().fromFile) {
    EXPECT_EQ(calls[0].icon.rfind("file ", 0), 0u) << calls[0].icon;
    EXPECT_NE(calls[0].icon.find("icon.ico"), std::string::npos) << calls[0].icon;
  } else {
    EXPECT_EQ(calls[0].icon, "resource #115");
  }
  EXPECT_TRUE(command(window, 40013));
  EXPECT_EQ(quarvel.wait(), 255);
}

INSTANTIATE_TEST_SUITE_P(Table, QuarvelTrayIcon,
                         ::testing::Values(IconCase{"missing", nullptr, false}, IconCase{"present", "ICO", true},
                                           IconCase{"corrupt", "not an icon file", false},
                                           IconCase{"empty", "", false}),
                         [](const ::testing::TestParamInfo<IconCase>& info) { return std::string(info.param.name); });

// --- The command table --------------------------------------------------------------

TEST(QuarvelCommands, EachJavaCommandStartsItsClassOnceThroughTheCache) {
  Running quarvel;
  ASSERT_NE(quarvel.window(), nullptr);
  const struct {
    UINT id;
    const char* className;
  } table[] = {
      {40002, "at.Quarvel.riverod.admin.JDlgProxy"},       {40005, "at.Quarvel.riverod.admin.JDlgVerifyFile"},
      {40006, "at.Quarvel.riverod.admin.JDlgDisplayInfobox"}, {40007, "at.Quarvel.riverod.admin.JDlgAuth"},
      {40010, "at.Quarvel.card.access.activatePIN"},       {40012, "at.Quarvel.riverod.admin.JPDFPositionDialog"},
      {40014, "at.Quarvel.riverod.admin.JDlgHelp"},        {40016, "at.Quarvel.riverod.util.About"},
      {40018, "at.Quarvel.card.access.changePIN"},         {40019, "at.Quarvel.card.access.unblockPIN"},
      {40021, "at.Quarvel.riverod.admin.JDlgLdap"},        {40022, "at.Quarvel.riverod.admin.JDlgZert"},
  };
  for (const auto& row : table) {
    const std::string simple = std::string(row.className).substr(std::string(row.className).rfind('.') + 1);
    const size_t before = jvmtest::markerLines().size();
    ASSERT_TRUE(command(quarvel.window(), row.id)) << row.id;
    EXPECT_EQ(markerSince(before), (std::vector<std::string>{std::string("findClass ") + row.className, simple + ".main"}))
        << row.id;
    // A second command finds the class in the cache: the loader is not asked again.
    ASSERT_TRUE(command(quarvel.window(), row.id)) << row.id;
    EXPECT_EQ(countLines(simple + ".main"), 2u) << row.id;
    EXPECT_EQ(countLines(std::string("findClass ") + row.className), 1u) << row.id;
  }
  // 40051 is the help again, from the cache.
  ASSERT_TRUE(command(quarvel.window(), 40051));
  EXPECT_EQ(countLines("JDlgHelp.main"), 3u);
  EXPECT_EQ(countLines("findClass at.Quarvel.riverod.admin.JDlgHelp"), 1u);

  // 40004 opens the sign dialog without a document.
  ASSERT_TRUE(command(quarvel.window(), 40004));
  EXPECT_EQ(jvmtest::markerLines().back(), "JDlgSignFile.main null");

  // Ids outside the table do nothing, and the window answers each.
  const size_t before = jvmtest::markerLines().size();
  const size_t shellCalls = wt::shellExecuteCalls().size();
  for (UINT id : {0u, 1u, 40000u, 40001u, 40008u, 40011u, 40024u, 40050u, 40055u, 65535u})
    EXPECT_TRUE(command(quarvel.window(), id)) << id;
  EXPECT_EQ(markerSince(before), std::vector<std::string>{});
  EXPECT_EQ(wt::shellExecuteCalls().size(), shellCalls);
  quarvel.quit();
}

TEST(QuarvelCommands, TheSwitchesFlipInTheRegistryAndTheMenuAndFlipBack) {
  jvmtest::Machine machine;
  jvmtest::install(machine);
  ft::createKey(jvmtest::kUserKey);
  ft::setDword(jvmtest::kUserKey, "Tip", 1);
  ft::setDword(jvmtest::kUserKey, "Autoupdate", 0);
  ft::setDword(jvmtest::kUserKey, "UseInfoboxPin", 0);
  jvmtest::Quarvel process({jvmtest::javaLogPath()});
  HWND window = process.waitForMainWindow();
  ASSERT_NE(window, nullptr);
  // At construction the Java application learnt the switch.
  EXPECT_EQ(jvmtest::markerLines().back(), "responder disableUseInfoboxPin");

  const struct {
    UINT id;
    const char* value;
    long initial;
  } table[] = {{40003, "Tip", 1}, {40052, "Autoupdate", 0}, {40009, "UseInfoboxPin", 0}};
  for (const auto& row : table) {
    EXPECT_EQ(checked(window, row.id), row.initial == 1) << row.id;
    ASSERT_TRUE(command(window, row.id));
    EXPECT_EQ(userSwitch(row.value), row.initial == 1 ? 0 : 1) << row.value;
    EXPECT_EQ(checked(window, row.id), row.initial != 1) << row.id;
    if (row.id == 40009) {
      // Written first, then the responder hears the new value.
      EXPECT_EQ(jvmtest::markerLines().back(), "responder enableUseInfoboxPin");
    }
    ASSERT_TRUE(command(window, row.id));
    EXPECT_EQ(userSwitch(row.value), row.initial) << row.value;
    EXPECT_EQ(checked(window, row.id), row.initial == 1) << row.id;
    if (row.id == 40009) {
      EXPECT_EQ(jvmtest::markerLines().back(), "responder disableUseInfoboxPin");
    }
  }
  // No updater was started (Autoupdate 0) and no tip was missing.
  EXPECT_TRUE(hasLine("TipFrame.main"));
  EXPECT_TRUE(command(window, 40013));
  EXPECT_EQ(process.wait(), 255);
  jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log");
}

TEST(QuarvelCommands, ResponderCommandsLoggingTheLogViewerAndTheUpdater) {
  jvmtest::Machine machine;
  jvmtest::install(machine);
  ft::createKey(jvmtest::kUserKey);
  ft::setDword(jvmtest::kUserKey, "Autoupdate", 0);
  const std::string updater = jvmtest::installDir() + "/ZadeVuzadiVerovu.exe";
  eswtool::writeFile(updater, "#!/bin/sh\necho \"updater $*\" >> \"$QUARVEL_JAVA_MARKER\"\n");
  ASSERT_EQ(::chmod(updater.c_str(), 0755), 0);
  // The Java log moved by the first argument.
  jvmtest::Quarvel process({jvmtest::javaLogPath()});
  HWND window = process.waitForMainWindow();
  ASSERT_NE(window, nullptr);

  ASSERT_TRUE(command(window, 40023));
  EXPECT_EQ(jvmtest::markerLines().back(), "responder Start");
  ASSERT_TRUE(command(window, 40017));
  EXPECT_EQ(jvmtest::markerLines().back(), "responder Stopp");
  // Start and Stop are not in the menu: their states change nothing the user sees.
  wt::DesktopPopupMenu menu = openTrayMenu(window);
  EXPECT_EQ(menu.item(40017), nullptr);
  EXPECT_EQ(menu.item(40023), nullptr);

  EXPECT_FALSE(checked(window, 40020));
  ASSERT_TRUE(command(window, 40020));
  EXPECT_EQ(jvmtest::markerLines().back(), "responder enableLogging");
  EXPECT_TRUE(checked(window, 40020));
  ASSERT_TRUE(command(window, 40020));
  EXPECT_EQ(jvmtest::markerLines().back(), "responder disableLogging");
  EXPECT_FALSE(checked(window, 40020));

  // The log viewer opens the temporary directory's java.txt, not the moved log.
  ASSERT_TRUE(command(window, 40054));
  const std::vector<wt::ShellExecuteCall> calls = wt::shellExecuteCalls();
  ASSERT_EQ(calls.size(), 1u);
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
  EXPECT_EQ(calls[0].operation, "open");
  EXPECT_EQ(calls[0].file, "notepad.exe");
  EXPECT_EQ(calls[0].parameters, std::string(temp) + "java.txt");
  EXPECT_EQ(calls[0].show, SW_SHOW);
  EXPECT_EQ(calls[0].processId, static_cast<DWORD>(process.pid()));
  EXPECT_FALSE(hasLine("updater "));

  // 40053 starts the updater, even with Autoupdate off.
  ASSERT_TRUE(command(window, 40053));
  EXPECT_TRUE(quarveltest::eventually([] { return hasLine("updater "); }));
  EXPECT_EQ(wt::shellExecuteCalls().back().file, jvmtest::installDir() + "\\ZadeVuzadiVerovu.exe");
  EXPECT_EQ(wt::shellExecuteCalls().back().show, SW_SHOWNORMAL);

  // 40015: the reader selection opens over the machine's readers; nobody answers it
  // in the program's process, so it is cancelled, and the program goes on.
  ASSERT_TRUE(command(window, 40015));
  ASSERT_TRUE(command(window, 40016));
  EXPECT_TRUE(hasLine("About.main"));

  ASSERT_TRUE(command(window, 40013));
  EXPECT_EQ(process.wait(), 255);
  EXPECT_EQ(jvmtest::markerLines().back(), "responder terminate");
  const std::string trace = jvmtest::readFile(jvmtest::traceLogPath());
  EXPECT_NE(trace.find("PC/SC  readers: "), std::string::npos) << trace;
  EXPECT_NE(trace.find("returned: 2.\n"), std::string::npos) << trace;
  jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log");
  jvmtest::expectCleanJni(process.output(), "stderr");
}

// Java that fails leaves no exception pending: checked JNI stays silent, and the
// commands after it still work.
struct JavaFailureCase {
  const char* name;
  std::vector<eswtool::Attribute> program;
  const char* script;
  const char* logHas;  // in the Java log
  bool launched;       // the launcher ran, so the dialogs are there
};

void PrintTo(const JavaFailureCase& c, std::ostream* os) { *os << c.name; }

class QuarvelJavaFailures : public ::testing::TestWithParam<JavaFailureCase> {};

TEST_P(QuarvelJavaFailures, LeaveNoExceptionPending) {
  jvmtest::Machine machine;
  machine.program = GetParam().program;
  jvmtest::setJavaScript(GetParam().script);
  Running quarvel(machine);
  ASSERT_NE(quarvel.window(), nullptr);
  for (UINT id : {40005u, 40017u, 40023u, 40020u, 40009u, 40005u, 40004u}) ASSERT_TRUE(command(quarvel.window(), id)) << id;
  EXPECT_EQ(hasLine("JDlgSignFile.main null"), GetParam().launched);
  EXPECT_EQ(hasLine("JDlgVerifyFile.main"), GetParam().launched);
  EXPECT_TRUE(command(quarvel.window(), 40013));
  EXPECT_EQ(quarvel.process().wait(), 255);
  const std::string javaLog = jvmtest::readFile(jvmtest::javaLogPath());
  jvmtest::expectCleanJni(javaLog, "the Java log");
  jvmtest::expectCleanJni(quarvel.process().output(), "stderr");
  EXPECT_NE(javaLog.find(GetParam().logHas), std::string::npos) << javaLog;
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuarvelJavaFailures,
    ::testing::Values(
        JavaFailureCase{"throwingDialogAndResponder",
                        {{"Main-Class", jvmtest::kResponder}, {"ClassPath", "app.jar"}},
                        "dialogthrow,responderthrow",
                        "IllegalStateException: WebClient stand-in asked to fail", true},
        // A Main-Class without getInstance: NoSuchMethodError at every responder command.
        JavaFailureCase{"responderWithoutGetInstance",
                        {{"Main-Class", "at.Quarvel.riverod.admin.JDlgProxy"}, {"ClassPath", "app.jar"}},
                        "",
                        "java.lang.NoSuchMethodError", true},
        // No Main-Class: no responder, and 40013 still quits.
        JavaFailureCase{"noMainClass", {{"ClassPath", "app.jar"}}, "", "", false}),
    [](const ::testing::TestParamInfo<JavaFailureCase>& info) { return std::string(info.param.name); });

// --- The sign-file request ------------------------------------------------------------

constexpr DWORD kWhole = 0xFFFFFFFF;

struct Request {
  const char* name;
  ULONG_PTR dwData;
  std::string payload;
  DWORD cbData;  // kWhole: the payload's size
  bool nullData;
  bool called;           // JDlgSignFile.main called
  std::string expected;  // with this path
};

TEST(QuarvelSignFile, RequestsFromAnotherProcess) {
  Running quarvel;
  ASSERT_NE(quarvel.window(), nullptr);
  HWND found = FindWindowA("VWindow", "Quarvel");
  ASSERT_EQ(found, quarvel.window());

  const std::string muller = "C:\\Users\\Müller\\Dokumente\\Vertrag 𝄞.pdf";
  std::string full = "C:\\" + std::string(255, 'p');  // 258 characters
  full += "f";                                         // 259
  const std::string long600(600, 'x');
  const std::string long4k(4096, 'y');
  const Request table[] = {
      {"sender's form", 150, muller + std::string(260 - muller.size(), '\0'), kWhole, false, true, muller},
      {"259 characters", 150, full + '\0', kWhole, false, true, full},
      {"other dwData", 151, "C:\\other.pdf" + std::string(1, '\0'), kWhole, false, false, ""},
      {"600 bytes without NUL", 150, long600, kWhole, false, true, long600.substr(0, 511)},
      {"4 KiB", 150, long4k, kWhole, false, true, long4k.substr(0, 511)},
      {"10 bytes without NUL", 150, "C:\\abcdefghijkl", 10, false, true, "C:\\abcdefg"},
      {"zero length", 150, "C:\\ignored.pdf", 0, false, true, ""},
      {"no data", 150, "", 260, true, true, ""},
      {"invalid UTF-8", 150, std::string("C:\\M\xfcller.pdf") + '\0', kWhole, false, false, ""},
      {"overlong NUL", 150, std::string("C:\\a\xc0\x80.pdf") + '\0', kWhole, false, false, ""},
  };
  for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i) {
    const Request& r = table[i];
    std::string bytes = r.payload;
    COPYDATASTRUCT cds{};
    cds.dwData = r.dwData;
    cds.cbData = r.cbData == kWhole ? static_cast<DWORD>(bytes.size()) : r.cbData;
    cds.lpData = r.nullData ? nullptr : bytes.data();
    const size_t before = jvmtest::markerLines().size();
    EXPECT_TRUE(sendAsHandOff(quarvel.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds))) << r.name;
    const std::vector<std::string> lines = markerSince(before, false);
    if (r.called) {
      EXPECT_EQ(lines, std::vector<std::string>{"JDlgSignFile.main " + r.expected}) << r.name;
    } else {
      EXPECT_EQ(lines, std::vector<std::string>{}) << r.name;
    }
  }
  // A thousand requests leave no local references behind (checked JNI would warn).
  std::string path = "C:\\many.pdf";
  path.resize(260, '\0');
  COPYDATASTRUCT cds{150, 260, path.data()};
  for (int i = 0; i < 1000; ++i)
    ASSERT_TRUE(sendAsHandOff(quarvel.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
  EXPECT_EQ(countLines("JDlgSignFile.main C:\\many.pdf"), 1000u);
  quarvel.quit();

  // Invalid UTF-8 was refused with a trace line each time.
  const std::string trace = jvmtest::readFile(jvmtest::traceLogPath());
  size_t refusals = 0;
  for (size_t at = trace.find("not valid UTF-8"); at != std::string::npos; at = trace.find("not valid UTF-8", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 2u) << trace;

}

TEST(QuarvelSignFile, TheSenderGivesUpAfterThreeSecondsWhileTheDialogRuns) {
  jvmtest::setJavaScript("slowsign");
  Running quarvel;
  ASSERT_NE(quarvel.window(), nullptr);
  std::string path = "C:\\slow.pdf";
  path.resize(260, '\0');
  COPYDATASTRUCT cds{150, 260, path.data()};
  DWORD_PTR result = 0;
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutA(quarvel.window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG,
                                3000, &result),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  // The dialog had started and goes on; afterwards the program answers again.
  EXPECT_TRUE(hasLine("JDlgSignFile.main C:\\slow.pdf"));
  EXPECT_TRUE(quarveltest::eventually([] { return hasLine("JDlgSignFile.done"); }));
  ASSERT_TRUE(command(quarvel.window(), 40016));
  EXPECT_TRUE(hasLine("About.main"));
  quarvel.quit();
}

}  // namespace
