// AcroView, Win and PubSecHFT: the active document, menus, preferences, the main
// window, handler registration, the signed-data source and the trusted certificates.
#include <cstring>

#include <fstream>
#include <iterator>

#include "ViewerState.h"
#include "platform/machine.h"

namespace vhost {

namespace {

MenuRec& menuOf(AVMenu menu) {
  for (auto& m : state().menuStore) {
    if (reinterpret_cast<AVMenu>(m.get()) == menu) return *m;
  }
  raise(asErrBadHandle);
}

MenuItemRec& itemOf(AVMenuItem item) {
  for (auto& i : state().itemStore) {
    if (reinterpret_cast<AVMenuItem>(i.get()) == item) return *i;
  }
  raise(asErrBadHandle);
}

std::string preference(const char* section, const char* key, bool& found) {
  if (section == nullptr || key == nullptr) raise(genErrBadParm);
  auto& prefs = state().config.preferences;
  auto it = prefs.find({section, key});
  found = it != prefs.end();
  return found ? it->second : std::string();
}

void detach(MenuItemRec& item) {
  if (item.parent == nullptr) return;
  auto& items = item.parent->items;
  items.erase(std::remove(items.begin(), items.end(), &item), items.end());
  item.parent = nullptr;
}

}  // namespace

namespace ops {

// --- AcroView ---------------------------------------------------------------------------------

AVDoc AVAppGetActiveDoc() {
  return hostEntry(__func__, [&] { return reinterpret_cast<AVDoc>(state().active); });
}

PDDoc AVDocGetPDDoc(AVDoc doc) {
  return hostEntry(__func__, [&] {
    return pdDocOf(documentOf(reinterpret_cast<PDDoc>(doc)));
  });
}

void AVAppGetVersion(ASInt16* major, ASInt16* minor) {
  hostEntry(__func__, [&] {
    if (major == nullptr || minor == nullptr) raise(genErrBadParm);
    *major = state().config.major;
    *minor = state().config.minor;
  });
}

// The language code into the caller's 32-byte buffer.
void AVAppGetLanguage(char* buffer) {
  hostEntry(__func__, [&] {
    if (buffer == nullptr) raise(genErrBadParm);
    const std::string& code = state().config.language;
    size_t n = std::min<size_t>(code.size(), 31);
    std::memcpy(buffer, code.data(), n);
    buffer[n] = '\0';
  });
}

ASHostEncoding AVAppGetLanguageEncoding() {
  return hostEntry(__func__, [&]() -> ASHostEncoding { return 0; });
}

AVMenubar AVAppGetMenubar() {
  static int menubar;
  return hostEntry(__func__, [&] { return reinterpret_cast<AVMenubar>(&menubar); });
}

AVMenu AVMenuNew(const char* title, const char* name, ExtensionID owner) {
  return hostEntry(__func__, [&] {
    if (title == nullptr || name == nullptr) raise(genErrBadParm);
    state().menuStore.push_back(std::make_unique<MenuRec>(MenuRec{name, title, owner, {}, false}));
    return reinterpret_cast<AVMenu>(state().menuStore.back().get());
  });
}

void AVMenubarAddMenu(AVMenubar bar, AVMenu menu, ASInt32 /*position*/) {
  hostEntry(__func__, [&] {
    if (bar != AVAppGetMenubar()) raise(genErrBadParm);
    menuOf(menu).onBar = true;
  });
}

AVMenuItem AVMenuItemNew(const char* title, const char* name, AVMenu submenu, ExtensionID /*owner*/) {
  return hostEntry(__func__, [&] {
    if (title == nullptr || name == nullptr) raise(genErrBadParm);
    MenuRec* sub = submenu ? &menuOf(submenu) : nullptr;
    state().itemStore.push_back(std::make_unique<MenuItemRec>(MenuItemRec{name, title, false, nullptr, sub}));
    return reinterpret_cast<AVMenuItem>(state().itemStore.back().get());
  });
}

void AVMenuItemSetExecuteProc(AVMenuItem item, ASCallback proc, void* clientData) {
  hostEntry(__func__, [&] {
    MenuItemRec& rec = itemOf(item);
    if (proc) callbackProc(proc);
    rec.execute = proc;
    rec.executeData = clientData;
  });
}

void AVMenuAddMenuItem(AVMenu menu, AVMenuItem item, ASInt32 position) {
  hostEntry(__func__, [&] {
    MenuRec& m = menuOf(menu);
    MenuItemRec& i = itemOf(item);
    detach(i);
    i.parent = &m;
    if (position < 0 || static_cast<size_t>(position) >= m.items.size()) {
      m.items.push_back(&i);
    } else {
      m.items.insert(m.items.begin() + position, &i);
    }
  });
}

void AVMenuItemRemove(AVMenuItem item) {
  hostEntry(__func__, [&] {
    MenuItemRec& i = itemOf(item);
    detach(i);
    i.execute = nullptr;
  });
}

void AVMenuRemove(AVMenu menu) {
  hostEntry(__func__, [&] {
    MenuRec& m = menuOf(menu);
    m.onBar = false;
    for (auto& i : state().itemStore) {
      if (i->submenu == &m) detach(*i);
    }
  });
}

AVMenuItem AVMenubarAcquireMenuItemByPredicate(AVMenubar bar, ASCallback predicate, void* clientData) {
  return hostEntry(__func__, [&]() -> AVMenuItem {
    if (bar != AVAppGetMenubar()) raise(genErrBadParm);
    auto test = callbackAs<AVMenuItemPredicate>(predicate);
    // A copy: the predicate may change the menus.
    std::vector<MenuItemRec*> items;
    for (auto& m : state().menuStore) {
      if (m->onBar) items.insert(items.end(), m->items.begin(), m->items.end());
    }
    for (MenuItemRec* i : items) {
      if (test(reinterpret_cast<AVMenuItem>(i), clientData)) return reinterpret_cast<AVMenuItem>(i);
    }
    return nullptr;
  });
}

ASBool AVMenuItemIsMarked(AVMenuItem item) {
  return hostEntry(__func__, [&]() -> ASBool { return itemOf(item).marked; });
}

ASAtom AVMenuItemGetName(AVMenuItem item) {
  return hostEntry(__func__, [&] { return atomOf(itemOf(item).name); });
}

AVMenu AVMenuItemGetParentMenu(AVMenuItem item) {
  return hostEntry(__func__, [&] { return reinterpret_cast<AVMenu>(itemOf(item).parent); });
}

ASAtom AVMenuGetName(AVMenu menu) {
  return hostEntry(__func__, [&] { return atomOf(menuOf(menu).name); });
}

void AVMenuItemRelease(AVMenuItem item) {
  hostEntry(__func__, [&] {
    if (item) itemOf(item);
  });
}

void AVMenuRelease(AVMenu menu) {
  hostEntry(__func__, [&] {
    if (menu) menuOf(menu);
  });
}

ASBool AVAppGetPrefBool(const char* section, const char* key, ASBool defaultValue) {
  return hostEntry(__func__, [&]() -> ASBool {
    bool found = false;
    std::string v = preference(section, key, found);
    return found ? static_cast<ASBool>(v == "1" || v == "true") : defaultValue;
  });
}

ASInt32 AVAppGetPrefInt(const char* section, const char* key, ASInt32 defaultValue) {
  return hostEntry(__func__, [&]() -> ASInt32 {
    bool found = false;
    std::string v = preference(section, key, found);
    return found ? static_cast<ASInt32>(std::strtol(v.c_str(), nullptr, 0)) : defaultValue;
  });
}

ASText AVAppGetPrefText(const char* section, const char* key, const char* defaultValue) {
  return hostEntry(__func__, [&]() -> ASText {
    bool found = false;
    std::string v = preference(section, key, found);
    if (found) return newText(v);
    return defaultValue ? newText(defaultValue) : nullptr;
  });
}

// The viewer records the request; it answers whether the help file exists.
ASBool AVAppOpenHelpFile(const char* fileName, const char* destination) {
  return hostEntry(__func__, [&]() -> ASBool {
    if (fileName == nullptr) raise(genErrBadParm);
    state().help.emplace_back(fileName, destination ? destination : "");
    FILE* f = std::fopen(platform::mapPath(fileName).c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
  });
}

// --- Win ------------------------------------------------------------------------------------------

HWND WinAppGetModalParent(AVDoc /*doc*/) {
  return hostEntry(__func__, [&] { return state().window; });
}

// --- PubSecHFT ------------------------------------------------------------------------------------

ASBool PSRegisterHandler(ExtensionID owner, PubSecHandlerRec* handler) {
  return hostEntry(__func__, [&]() -> ASBool {
    if (handler == nullptr || handler->size != sizeof(PubSecHandlerRec)) raise(genErrBadParm);
    if (state().config.refuseHandler) return false;
    // Every procedure must be a callback the plug-in made.
    for (ASCallback cb : {handler->newEngine, handler->destroyEngine, handler->getBoolProperty,
                          handler->getAtomProperty, handler->getInt32Property, handler->getTextProperty,
                          handler->sessionAcquire, handler->sessionRelease, handler->sessionReady,
                          handler->performOperation, handler->sigGetSigProperties, handler->sigAuthenticate,
                          handler->sigGetSigValue, handler->sigValidate, handler->getText,
                          handler->getAppearanceLogo, handler->exportData, handler->openCMSEnvelope,
                          handler->getImplicitRecipients}) {
      if (cb) callbackProc(cb);
    }
    state().handlers.emplace_back(owner, handler);
    return true;
  });
}

void PSUnregisterHandler(PubSecHandlerRec* handler) {
  hostEntry(__func__, [&] {
    auto& hs = state().handlers;
    for (auto it = hs.begin(); it != hs.end(); ++it) {
      if (it->second == handler) {
        hs.erase(it);
        return;
      }
    }
    raise(genErrBadParm);
  });
}

// The next chunk of at most maxSize bytes (and of the configured chunk size); false with
// nothing when the data have ended.
ASBool PSDataSourceGetNextChunk(PSDataSource source, ASInt32 maxSize, ASUns8* buffer, ASInt32* size) {
  return hostEntry(__func__, [&]() -> ASBool {
    auto it = state().dataSources.find(source);
    if (it == state().dataSources.end()) raise(asErrBadHandle);
    if (maxSize <= 0 || buffer == nullptr || size == nullptr) raise(genErrBadParm);
    DataSourceRec& ds = *it->second;
    *size = 0;
    if (ds.left == 0) return false;
    size_t n = std::min<size_t>(static_cast<size_t>(maxSize), ds.left);
    const auto& plan = state().config.chunkSizes;
    if (!plan.empty()) {
      ASInt32 limit = plan[ds.chunkTurn++ % plan.size()];
      n = std::min<size_t>(n, static_cast<size_t>(std::max<ASInt32>(limit, 0)));
    }
    // A chunk may end one range and begin the next.
    size_t done = 0;
    while (done < n) {
      const auto& [offset, length] = ds.ranges[ds.range];
      const size_t take = std::min(n - done, length - ds.position);
      if (!ds.bytes->read(offset + ds.position, take, reinterpret_cast<char*>(buffer) + done)) raise(cosErrRead);
      done += take;
      ds.position += take;
      if (ds.position == length) {
        ++ds.range;
        ds.position = 0;
      }
    }
    ds.left -= n;
    *size = static_cast<ASInt32>(n);
    return true;
  });
}

void AABGetTrustedCerts(ASUns32 /*filter*/, ASCab certs) {
  hostEntry(__func__, [&] {
    cabOf(certs);
    int i = 0;
    for (const auto& der : state().config.trustedCerts) {
      CabValue v;
      v.type = kASValueBinary;
      v.bytes.assign(der.begin(), der.end());
      putCabValue(certs, std::to_string(i++), std::move(v));
    }
  });
}

ASBool PSOpenAppearanceList(ASInt32 /*a*/, ASInt32 /*b*/) {
  return hostEntry(__func__, [&]() -> ASBool {
    state().appearanceListOpen = true;
    return true;
  });
}

ASInt32 PSGetNumAppearances() {
  return hostEntry(__func__, [&]() -> ASInt32 {
    if (!state().appearanceListOpen) raise(genErrBadParm);
    return static_cast<ASInt32>(state().config.appearances.size());
  });
}

ASText PSGetAppearanceName(ASInt32 index) {
  return hostEntry(__func__, [&]() -> ASText {
    auto& list = state().config.appearances;
    if (!state().appearanceListOpen || index < 0 || static_cast<size_t>(index) >= list.size()) {
      raise(genErrBadParm);
    }
    return newText(list[static_cast<size_t>(index)]);
  });
}

void PSCloseAppearanceList() {
  hostEntry(__func__, [&] { state().appearanceListOpen = false; });
}

// The viewer takes the file at once: its owner may delete it as soon as the call returns.
ASBool PSImportData(PSImportDataRec* params) {
  return hostEntry(__func__, [&]() -> ASBool {
    if (params == nullptr || params->size != sizeof(PSImportDataRec) || params->path == nullptr) {
      raise(genErrBadParm);
    }
    auto path = state().paths.find(params->path);
    if (path == state().paths.end()) raise(genErrBadParm);
    ImportRecord record;
    record.handler = params->handler;
    record.engine = params->engine;
    for (const auto& h : state().handlers) {
      if (h.second == params->handler) record.handlerRegistered = true;
    }
    record.dataKind = params->dataKind;
    record.path = path->second->path;
    std::ifstream file(record.path, std::ios::binary);
    record.readable = static_cast<bool>(file);
    record.content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    state().imports.push_back(record);
    return record.readable;
  });
}

}  // namespace ops
}  // namespace vhost
