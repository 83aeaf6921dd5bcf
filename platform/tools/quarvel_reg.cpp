// quarvel-reg: reads and writes the registry of the machine that
// QUARVEL_MACHINE_ROOT names, for users and for tests.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include <windows.h>

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

const char kUsageText[] =
    "usage: quarvel-reg <command> <key> [arguments]\n"
    "  get [--type] <key> <value>        print a value's data (with --type, its type first)\n"
    "  set <key> <value> <type> [data...] set a value, creating the key when missing\n"
    "  delete <key> <value>              delete a value\n"
    "  create-key <key>                  create a key and its missing parents\n"
    "  delete-key [--tree] <key>         delete a key (with --tree, also its subkeys)\n"
    "  save <key> <file>                 write the key's subtree as a new hive file (a user's\n"
    "                                    hive for RegLoadKeyA; needs SeBackupPrivilege held)\n"
    "  list <key>                        list subkeys ('key<TAB>name') and values\n"
    "                                    ('value<TAB>name<TAB>type<TAB>data'), one per line;\n"
    "                                    names and data escaped: \\\\ for a backslash, \\t \\n \\r,\n"
    "                                    \\xHH for other control characters, \\0 between texts\n"
    "Keys are written as on Windows: HKCU\\Software\\Vendor\\Product (roots HKLM, HKCU,\n"
    "HKCR, HKU or their long names). An empty value name is the key's default value.\n"
    "Types and data: REG_SZ, REG_EXPAND_SZ one text (stored with its NUL);\n"
    "REG_MULTI_SZ one argument per text (printed one per line); REG_DWORD, REG_QWORD\n"
    "decimal or 0x-hexadecimal (printed decimal); REG_BINARY, REG_NONE hexadecimal bytes.\n"
    "Exit status: 0 done, 1 key or value not found, 2 usage error, 3 other failure.\n";

struct TypeName {
  DWORD type;
  const char* name;
};
constexpr TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},   {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

std::string typeName(DWORD type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return "0x" + [&] {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%" PRIx32, type);
    return std::string(buffer);
  }();
}

bool parseType(const char* text, DWORD& type) {
  for (const auto& t : kTypes) {
    if (strcasecmp(text, t.name) == 0) {
      type = t.type;
      return true;
    }
  }
  return false;
}

bool parseRoot(std::string_view name, HKEY& root) {
  struct Alias {
    const char* shortName;
    const char* longName;
    HKEY root;
  };
  const Alias aliases[] = {
      {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKU", "HKEY_USERS", HKEY_USERS},
  };
  const std::string text(name);
  for (const auto& a : aliases) {
    if (strcasecmp(text.c_str(), a.shortName) == 0 || strcasecmp(text.c_str(), a.longName) == 0) {
      root = a.root;
      return true;
    }
  }
  return false;
}

// "HKCU\Software\X" → root and "Software\X".
bool parseKey(const std::string& path, HKEY& root, std::string& subKey) {
  const size_t slash = path.find('\\');
  if (!parseRoot(std::string_view(path).substr(0, slash), root)) return false;
  subKey = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  return true;
}

bool parseNumber(const char* text, uint64_t limit, uint64_t& value) {
  if (!*text) return false;
  errno = 0;
  char* end = nullptr;
  if (text[0] == '-') {
    // A negative decimal stands for its two's complement in the value's width.
    long long n = std::strtoll(text, &end, 10);
    if (errno || *end || n == 0 || static_cast<unsigned long long>(-(n + 1)) > limit / 2) return false;
    value = static_cast<uint64_t>(n) & limit;
    return true;
  }
  unsigned long long n = std::strtoull(text, &end, 0);
  if (errno || *end || n > limit) return false;
  value = n;
  return true;
}

bool parseHex(const std::vector<const char*>& args, std::vector<BYTE>& out) {
  std::string digits;
  for (const char* arg : args) {
    for (const char* p = arg; *p; ++p) {
      if (*p == ' ' || *p == ':' || *p == ',' || *p == '-') continue;
      if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
      digits += *p;
    }
  }
  if (digits.size() % 2) return false;
  for (size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return true;
}

bool encodeData(DWORD type, const std::vector<const char*>& args, std::vector<BYTE>& data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      if (args.size() != 1) return false;
      data.assign(args[0], args[0] + std::strlen(args[0]) + 1);
      return true;
    }
    case REG_MULTI_SZ:
      for (const char* arg : args) {
        if (!*arg) return false;  // an empty text would end the list early
        data.insert(data.end(), arg, arg + std::strlen(arg) + 1);
      }
      data.push_back(0);
      return true;
    case REG_DWORD:
    case REG_QWORD: {
      uint64_t value;
      const size_t width = type == REG_DWORD ? 4 : 8;
      if (args.size() != 1 || !parseNumber(args[0], width == 4 ? 0xFFFFFFFFull : ~0ull, value)) return false;
      for (size_t i = 0; i < width; ++i) data.push_back(static_cast<BYTE>(value >> (8 * i)));
      return true;
    }
    default:
      return parseHex(args, data);
  }
}

std::string formatHex(const std::vector<BYTE>& data) {
  std::string text;
  char buffer[3];
  for (BYTE b : data) {
    std::snprintf(buffer, sizeof buffer, "%02x", b);
    text += buffer;
  }
  return text;
}

// The data as text lines; a number whose size does not fit its type prints as hex.
std::vector<std::string> formatData(DWORD type, const std::vector<BYTE>& data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const char* text = reinterpret_cast<const char*>(data.data());
      return {std::string(text, strnlen(text, data.size()))};
    }
    case REG_MULTI_SZ: {
      std::vector<std::string> lines;
      size_t pos = 0;
      while (pos < data.size()) {
        const char* text = reinterpret_cast<const char*>(data.data()) + pos;
        size_t length = strnlen(text, data.size() - pos);
        if (length == 0) break;
        lines.emplace_back(text, length);
        pos += length + 1;
      }
      return lines;
    }
    case REG_DWORD:
    case REG_QWORD: {
      const size_t width = type == REG_DWORD ? 4 : 8;
      if (data.size() != width) break;
      uint64_t value = 0;
      for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(data[i]) << (8 * i);
      return {std::to_string(value)};
    }
    default:
      break;
  }
  return {formatHex(data)};
}

// A name or data text as one field of a list line: a tab, a line end or any other
// control character would otherwise pass for a field or a line of its own.
std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char buffer[5];
          std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  return out;
}

int failure(const char* what, LONG status) {
  std::fprintf(stderr, "quarvel-reg: %s failed with error %ld\n", what, static_cast<long>(status));
  return status == ERROR_FILE_NOT_FOUND ? kNotFound : kFailed;
}

int usage() {
  std::fputs(kUsageText, stderr);
  return kUsage;
}

class KeyHandle {
 public:
  KeyHandle() = default;
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  ~KeyHandle() {
    if (key_) RegCloseKey(key_);
  }
  PHKEY out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool readValue(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& data, LONG& status) {
  for (;;) {
    DWORD size = 0;
    status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return false;
    data.resize(size);
    status = RegQueryValueExA(key, name, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
    if (status == ERROR_MORE_DATA) continue;  // another process made it longer meanwhile
    if (status != ERROR_SUCCESS) return false;
    data.resize(size);
    return true;
  }
}

int commandGet(const std::vector<const char*>& args) {
  bool withType = !args.empty() && std::strcmp(args[0], "--type") == 0;
  const size_t first = withType ? 1 : 0;
  if (args.size() != first + 2) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[first], root, subKey)) return usage();
  KeyHandle key;
  if (LONG s = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, key.out()); s != ERROR_SUCCESS)
    return failure("opening the key", s);
  DWORD type;
  std::vector<BYTE> data;
  LONG status;
  if (!readValue(key.get(), args[first + 1], type, data, status)) return failure("reading the value", status);
  if (withType) std::printf("%s\n", typeName(type).c_str());
  for (const std::string& line : formatData(type, data)) std::printf("%s\n", line.c_str());
  return kOk;
}

int commandSet(const std::vector<const char*>& args) {
  DWORD type;
  if (args.size() < 3 || !parseType(args[2], type)) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[0], root, subKey)) return usage();
  std::vector<BYTE> data;
  if (!encodeData(type, std::vector<const char*>(args.begin() + 3, args.end()), data)) {
    std::fprintf(stderr, "quarvel-reg: data do not fit type %s\n", args[2]);
    return kUsage;
  }
  KeyHandle key;
  if (LONG s = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                               key.out(), nullptr);
      s != ERROR_SUCCESS)
    return failure("creating the key", s);
  if (LONG s = RegSetValueExA(key.get(), args[1], 0, type, data.data(), static_cast<DWORD>(data.size()));
      s != ERROR_SUCCESS)
    return failure("setting the value", s);
  return kOk;
}

int commandDelete(const std::vector<const char*>& args) {
  if (args.size() != 2) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[0], root, subKey)) return usage();
  KeyHandle key;
  if (LONG s = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_SET_VALUE, key.out()); s != ERROR_SUCCESS)
    return failure("opening the key", s);
  if (LONG s = RegDeleteValueA(key.get(), args[1]); s != ERROR_SUCCESS) return failure("deleting the value", s);
  return kOk;
}

int commandCreateKey(const std::vector<const char*>& args) {
  if (args.size() != 1) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[0], root, subKey)) return usage();
  KeyHandle key;
  if (LONG s = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_READ, nullptr, key.out(), nullptr);
      s != ERROR_SUCCESS)
    return failure("creating the key", s);
  return kOk;
}

int commandDeleteKey(const std::vector<const char*>& args) {
  bool tree = !args.empty() && std::strcmp(args[0], "--tree") == 0;
  const size_t first = tree ? 1 : 0;
  if (args.size() != first + 1) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[first], root, subKey) || subKey.empty()) return usage();
  LONG s = tree ? RegDeleteTreeA(root, subKey.c_str()) : RegDeleteKeyA(root, subKey.c_str());
  return s == ERROR_SUCCESS ? kOk : failure("deleting the key", s);
}

int commandSave(const std::vector<const char*>& args) {
  if (args.size() != 2) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[0], root, subKey)) return usage();
  KeyHandle key;
  if (LONG s = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.out()); s != ERROR_SUCCESS)
    return failure("opening the key", s);
  // Saving asks for the backup privilege: enable it when the user holds it.
  HANDLE token = nullptr;
  TOKEN_PRIVILEGES backup{};
  backup.PrivilegeCount = 1;
  backup.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    if (LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &backup.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &backup, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  if (LONG s = RegSaveKeyA(key.get(), args[1], nullptr); s != ERROR_SUCCESS) return failure("saving the key", s);
  return kOk;
}

int commandList(const std::vector<const char*>& args) {
  if (args.size() != 1) return usage();
  HKEY root;
  std::string subKey;
  if (!parseKey(args[0], root, subKey)) return usage();
  KeyHandle key;
  if (LONG s = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.out()); s != ERROR_SUCCESS)
    return failure("opening the key", s);
  std::vector<char> name(256);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG s = RegEnumKeyExA(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    if (s != ERROR_SUCCESS) return failure("listing the subkeys", s);
    std::printf("key\t%s\n", escaped(std::string(name.data(), length)).c_str());
  }
  std::vector<char> valueName(16384);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(valueName.size());
    DWORD type, size = 0;
    LONG s = RegEnumValueA(key.get(), i, valueName.data(), &length, nullptr, &type, nullptr, &size);
    if (s == ERROR_NO_MORE_ITEMS) break;
    if (s != ERROR_SUCCESS) return failure("listing the values", s);
    std::vector<BYTE> data;
    LONG status;
    if (!readValue(key.get(), valueName.data(), type, data, status)) return failure("reading a value", status);
    std::string text;
    for (const std::string& line : formatData(type, data)) text += (text.empty() ? "" : "\\0") + escaped(line);
    std::printf("value\t%s\t%s\t%s\n", escaped(std::string(valueName.data(), length)).c_str(), typeName(type).c_str(),
                text.c_str());
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  const std::vector<const char*> args(argv + 2, argv + argc);
  if (command == "get") return commandGet(args);
  if (command == "set") return commandSet(args);
  if (command == "delete") return commandDelete(args);
  if (command == "create-key") return commandCreateKey(args);
  if (command == "delete-key") return commandDeleteKey(args);
  if (command == "list") return commandList(args);
  if (command == "save") return commandSave(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  return usage();
}
