// The formatter behind _snprintf, sprintf_s, wsprintfA and platform::formatString.
// Each conversion is parsed here, its argument taken with the type the Windows
// runtime expects, and rendered by the C library one conversion at a time; only %p
// and the wide conversions are rendered here.
#include "platform/format.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

#include "platform/win_text.h"

namespace platform {
namespace {

struct Directive {
  std::string flags;
  int width = -1;
  int precision = -1;
  enum class Size { None, Char, Short, Long, LongLong, Int32, Int64, PtrSize, IntMax, SizeT, PtrDiff, LongDouble, Wide };
  Size size = Size::None;
  char conversion = 0;

  // The C form of this conversion, with width and precision resolved and `length`
  // as the C length modifier of the argument handed over.
  std::string cFormat(const char* length, char conv, int precisionOverride = -2) const {
    std::string s = "%" + flags;
    if (width >= 0) s += std::to_string(width);
    const int p = precisionOverride == -2 ? precision : precisionOverride;
    if (p >= 0) s += "." + std::to_string(p);
    s += length;
    s += conv;
    return s;
  }
};

class Formatter {
 public:
  Formatter(std::string& out, va_list args) : out_(out) { va_copy(ap_, args); }
  ~Formatter() { va_end(ap_); }
  Formatter(const Formatter&) = delete;
  Formatter& operator=(const Formatter&) = delete;

  bool run(const char* format) {
    const char* p = format;
    while (*p) {
      if (*p != '%') {
        const char* next = std::strchr(p, '%');
        size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
        out_.append(p, n);
        p += n;
        continue;
      }
      const char* start = p++;
      if (*p == '%') {
        out_ += '%';
        ++p;
        continue;
      }
      Directive directive;
      p = parse(p, directive);
      if (!directive.conversion) {  // the format ended inside a conversion
        out_.append(start);
        break;
      }
      if (!convert(directive)) {
        if (failed_) return false;
        out_.append(start, static_cast<size_t>(p - start));
      }
    }
    return !failed_;
  }

 private:
  const char* parse(const char* p, Directive& directive) {
    while (*p && std::strchr("-+ #0", *p)) {
      if (directive.flags.find(*p) == std::string::npos) directive.flags += *p;
      ++p;
    }
    if (*p == '*') {
      int w = va_arg(ap_, int);
      if (w < 0) {
        if (directive.flags.find('-') == std::string::npos) directive.flags += '-';
        w = w == INT_MIN ? INT_MAX : -w;
      }
      directive.width = w;
      ++p;
    } else {
      p = number(p, directive.width);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        int prec = va_arg(ap_, int);
        directive.precision = prec < 0 ? -1 : prec;
        ++p;
      } else {
        directive.precision = 0;
        p = number(p, directive.precision);
      }
    }
    using S = Directive::Size;
    if (p[0] == 'h' && p[1] == 'h') { directive.size = S::Char; p += 2; }
    else if (p[0] == 'h') { directive.size = S::Short; p += 1; }
    else if (p[0] == 'l' && p[1] == 'l') { directive.size = S::LongLong; p += 2; }
    else if (p[0] == 'l') { directive.size = S::Long; p += 1; }
    else if (p[0] == 'q') { directive.size = S::LongLong; p += 1; }
    else if (p[0] == 'L') { directive.size = S::LongDouble; p += 1; }
    else if (p[0] == 'j') { directive.size = S::IntMax; p += 1; }
    else if (p[0] == 'z') { directive.size = S::SizeT; p += 1; }
    else if (p[0] == 't') { directive.size = S::PtrDiff; p += 1; }
    else if (p[0] == 'w') { directive.size = S::Wide; p += 1; }
    else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') { directive.size = S::Int64; p += 3; }
    else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') { directive.size = S::Int32; p += 3; }
    else if (p[0] == 'I') { directive.size = S::PtrSize; p += 1; }
    directive.conversion = *p;
    return *p ? p + 1 : p;
  }

  static const char* number(const char* p, int& value) {
    if (*p < '0' || *p > '9') return p;
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
      v = v * 10 + (*p - '0');
      if (v > INT_MAX) v = INT_MAX;
      ++p;
    }
    value = static_cast<int>(v);
    return p;
  }

  template <typename T>
  void render(const std::string& cformat, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, cformat.c_str(), value);
    if (n < 0) {
      failed_ = true;
      return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
      out_.append(small, static_cast<size_t>(n));
      return;
    }
    size_t old = out_.size();
    out_.resize(old + static_cast<size_t>(n) + 1);
    std::snprintf(&out_[old], static_cast<size_t>(n) + 1, cformat.c_str(), value);
    out_.resize(old + static_cast<size_t>(n));
  }

  void signedInteger(const Directive& s) {
    using S = Directive::Size;
    switch (s.size) {
      case S::Char: render(s.cFormat("hh", s.conversion), va_arg(ap_, int)); break;
      case S::Short: render(s.cFormat("h", s.conversion), va_arg(ap_, int)); break;
      // A Windows long is 32 bits: DWORD and LONG arguments print as there.
      case S::Long: render(s.cFormat("", s.conversion), static_cast<int>(static_cast<int32_t>(va_arg(ap_, long)))); break;
      case S::LongLong:
      case S::Int64:
      case S::LongDouble: render(s.cFormat("ll", s.conversion), va_arg(ap_, long long)); break;
      case S::PtrSize: render(s.cFormat("ll", s.conversion), static_cast<long long>(va_arg(ap_, intptr_t))); break;
      case S::IntMax: render(s.cFormat("j", s.conversion), va_arg(ap_, intmax_t)); break;
      case S::SizeT: render(s.cFormat("ll", s.conversion), static_cast<long long>(va_arg(ap_, ssize_t))); break;
      case S::PtrDiff: render(s.cFormat("t", s.conversion), va_arg(ap_, ptrdiff_t)); break;
      default: render(s.cFormat("", s.conversion), va_arg(ap_, int)); break;
    }
  }

  void unsignedInteger(const Directive& s) {
    using S = Directive::Size;
    switch (s.size) {
      case S::Char: render(s.cFormat("hh", s.conversion), va_arg(ap_, unsigned int)); break;
      case S::Short: render(s.cFormat("h", s.conversion), va_arg(ap_, unsigned int)); break;
      case S::Long:
        render(s.cFormat("", s.conversion), static_cast<unsigned int>(static_cast<uint32_t>(va_arg(ap_, unsigned long))));
        break;
      case S::LongLong:
      case S::Int64:
      case S::LongDouble: render(s.cFormat("ll", s.conversion), va_arg(ap_, unsigned long long)); break;
      case S::PtrSize:
        render(s.cFormat("ll", s.conversion), static_cast<unsigned long long>(va_arg(ap_, uintptr_t)));
        break;
      case S::IntMax: render(s.cFormat("j", s.conversion), va_arg(ap_, uintmax_t)); break;
      case S::SizeT: render(s.cFormat("z", s.conversion), va_arg(ap_, size_t)); break;
      case S::PtrDiff:
        render(s.cFormat("ll", s.conversion), static_cast<unsigned long long>(va_arg(ap_, ptrdiff_t)));
        break;
      default: render(s.cFormat("", s.conversion), va_arg(ap_, unsigned int)); break;
    }
  }

  // A text already converted to UTF-8, padded to the width; the precision was applied.
  void text(const Directive& s, const std::string& value) {
    Directive plain = s;
    plain.precision = -1;
    render(plain.cFormat("", 's'), value.c_str());
  }

  void wideText(const Directive& s, const WCHAR* value) {
    if (!value) {
      narrowText(s, nullptr);
      return;
    }
    size_t n = 0;
    while (value[n] && (s.precision < 0 || n < static_cast<size_t>(s.precision))) ++n;
    // A cut between the halves of a surrogate pair would leave half a character.
    if (s.precision >= 0 && n > 0 && value[n] && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
    text(s, toUtf8(value, n));
  }

  void narrowText(const Directive& s, const char* value) {
    render(s.cFormat("", 's'), value ? value : "(null)");
  }

  void wideChar(const Directive& s, unsigned int unit) {
    WCHAR c = static_cast<WCHAR>(unit);
    Directive noPrecision = s;
    noPrecision.precision = -1;
    text(noPrecision, toUtf8(&c, 1));
  }

  bool convert(const Directive& s) {
    using S = Directive::Size;
    const bool wide = s.size == S::Long || s.size == S::Wide;
    switch (s.conversion) {
      case 'd':
      case 'i':
        signedInteger(s);
        return true;
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        unsignedInteger(s);
        return true;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (s.size == S::LongDouble) {
          render(s.cFormat("L", s.conversion), va_arg(ap_, long double));
        } else {
          render(s.cFormat("", s.conversion), va_arg(ap_, double));
        }
        return true;
      case 'p': {
        // The Windows runtime: all digits of the pointer width, upper case, no prefix.
        uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(ap_, void*));
        Directive p = s;
        p.flags.erase(std::remove_if(p.flags.begin(), p.flags.end(), [](char c) { return c == '+' || c == ' '; }),
                      p.flags.end());
        render(p.cFormat("ll", 'X', static_cast<int>(2 * sizeof(void*))), static_cast<unsigned long long>(value));
        return true;
      }
      case 'c':
        if (wide) {
          wideChar(s, va_arg(ap_, unsigned int));
        } else {
          Directive c = s;
          c.precision = -1;
          render(c.cFormat("", 'c'), va_arg(ap_, int));
        }
        return true;
      case 'C':
        if (s.size == S::Short) {
          Directive c = s;
          c.precision = -1;
          render(c.cFormat("", 'c'), va_arg(ap_, int));
        } else {
          wideChar(s, va_arg(ap_, unsigned int));
        }
        return true;
      case 's':
        if (wide) {
          wideText(s, va_arg(ap_, const WCHAR*));
        } else {
          narrowText(s, va_arg(ap_, const char*));
        }
        return true;
      case 'S':
        if (s.size == S::Short) {
          narrowText(s, va_arg(ap_, const char*));
        } else {
          wideText(s, va_arg(ap_, const WCHAR*));
        }
        return true;
      case 'n':
        // Writing through a format is a hole; the Windows runtime refuses it too.
        (void)va_arg(ap_, void*);
        return true;
      default:
        return false;
    }
  }

  std::string& out_;
  va_list ap_;
  bool failed_ = false;
};

}  // namespace

bool vformatTo(std::string& out, const char* format, va_list args) {
  out.clear();
  if (!format) return false;
  Formatter formatter(out, args);
  return formatter.run(format);
}

std::string vformatString(const char* format, va_list args) {
  std::string out;
  if (!vformatTo(out, format, args)) out.clear();
  return out;
}

std::string formatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformatString(format, args);
  va_end(args);
  return out;
}

}  // namespace platform

namespace {

bool formatted(std::string& out, const char* format, va_list args) {
  if (!format) {
    errno = EINVAL;
    return false;
  }
  if (!platform::vformatTo(out, format, args) || out.size() > static_cast<size_t>(INT_MAX)) {
    errno = EOVERFLOW;
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  if (!buffer && count) {
    errno = EINVAL;
    return -1;
  }
  std::string out;
  if (!formatted(out, format, args)) return -1;
  if (!buffer) return static_cast<int>(out.size());  // a size query: NULL buffer, count 0
  if (out.size() > count) {
    std::memcpy(buffer, out.data(), count);
    return -1;
  }
  std::memcpy(buffer, out.data(), out.size());
  if (out.size() < count) buffer[out.size()] = '\0';
  return static_cast<int>(out.size());
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return result;
}

int vsprintf_s(char* buffer, size_t size, const char* format, va_list args) {
  if (!buffer || size == 0) {
    errno = EINVAL;
    return -1;
  }
  std::string out;
  if (!formatted(out, format, args)) {
    buffer[0] = '\0';
    return -1;
  }
  if (out.size() >= size) {
    buffer[0] = '\0';
    errno = ERANGE;
    return -1;
  }
  std::memcpy(buffer, out.c_str(), out.size() + 1);
  return static_cast<int>(out.size());
}

int sprintf_s(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsprintf_s(buffer, size, format, args);
  va_end(args);
  return result;
}

int _vsnprintf_s(char* buffer, size_t size, size_t count, const char* format, va_list args) {
  if (!buffer || size == 0) {
    errno = EINVAL;
    return -1;
  }
  std::string out;
  if (!formatted(out, format, args)) {
    buffer[0] = '\0';
    return -1;
  }
  if (count != _TRUNCATE && count < size) {
    // Cut at count characters; the buffer holds them and the NUL.
    size_t n = out.size() < count ? out.size() : count;
    std::memcpy(buffer, out.data(), n);
    buffer[n] = '\0';
    return out.size() > count ? -1 : static_cast<int>(n);
  }
  if (out.size() < size) {
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return static_cast<int>(out.size());
  }
  if (count == _TRUNCATE) {
    std::memcpy(buffer, out.data(), size - 1);
    buffer[size - 1] = '\0';
    return -1;
  }
  buffer[0] = '\0';
  errno = ERANGE;
  return -1;
}

int _snprintf_s(char* buffer, size_t size, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = _vsnprintf_s(buffer, size, count, format, args);
  va_end(args);
  return result;
}

int _vscprintf(const char* format, va_list args) {
  std::string out;
  if (!formatted(out, format, args)) return -1;
  return static_cast<int>(out.size());
}

int _scprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = _vscprintf(format, args);
  va_end(args);
  return result;
}

// wsprintfA writes at most 1024 characters with the NUL, as on Windows.
int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
  constexpr size_t kLimit = 1024;
  if (!buffer) return -1;
  std::string out;
  if (!formatted(out, format, args)) {
    buffer[0] = '\0';
    return -1;
  }
  size_t n = out.size() < kLimit ? out.size() : kLimit - 1;
  std::memcpy(buffer, out.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int result = wvsprintfA(buffer, format, args);
  va_end(args);
  return result;
}

}  // extern "C"
