#include "win32/text_format.h"

#include <cstdint>

namespace {

// The text so far: characters beyond the buffer are counted, not stored.
struct Output {
  char* out;
  size_t size;
  size_t length;

  void Put(char c) {
    if (length + 1 < size) out[length] = c;
    ++length;
  }
  void Repeat(char c, int count) {
    for (; count > 0; --count) Put(c);
  }
};

enum class ArgSize { kInt, kChar, kShort, kLong, kLongLong, kSizeT, kIntMax, kPtrDiff };

struct Directive {
  bool left = false;
  bool zero = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;  // -1: none given
  ArgSize argSize = ArgSize::kInt;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The pointer is advanced past the digits.
int ReadNumber(const char*& p) {
  int value = 0;
  while (IsDigit(*p)) value = value * 10 + (*p++ - '0');
  return value;
}

uintmax_t UnsignedArg(ArgSize size, va_list& args) {
  switch (size) {
    case ArgSize::kChar:
      return static_cast<unsigned char>(va_arg(args, unsigned int));
    case ArgSize::kShort:
      return static_cast<unsigned short>(va_arg(args, unsigned int));
    case ArgSize::kLong:
      return va_arg(args, unsigned long);
    case ArgSize::kLongLong:
      return va_arg(args, unsigned long long);
    case ArgSize::kSizeT:
      return va_arg(args, size_t);
    case ArgSize::kIntMax:
      return va_arg(args, uintmax_t);
    case ArgSize::kPtrDiff:
      return static_cast<uintmax_t>(va_arg(args, ptrdiff_t));
    case ArgSize::kInt:
      break;
  }
  return va_arg(args, unsigned int);
}

intmax_t SignedArg(ArgSize size, va_list& args) {
  switch (size) {
    case ArgSize::kChar:
      return static_cast<signed char>(va_arg(args, int));
    case ArgSize::kShort:
      return static_cast<short>(va_arg(args, int));
    case ArgSize::kLong:
      return va_arg(args, long);
    case ArgSize::kLongLong:
      return va_arg(args, long long);
    case ArgSize::kSizeT:
      return static_cast<intmax_t>(va_arg(args, size_t));
    case ArgSize::kIntMax:
      return va_arg(args, intmax_t);
    case ArgSize::kPtrDiff:
      return va_arg(args, ptrdiff_t);
    case ArgSize::kInt:
      break;
  }
  return va_arg(args, int);
}

// Text padded to the field width.
void PutPadded(Output& o, const Directive& directive, const char* text, int length) {
  if (!directive.left) o.Repeat(' ', directive.width - length);
  for (int i = 0; i < length; ++i) o.Put(text[i]);
  if (directive.left) o.Repeat(' ', directive.width - length);
}

void PutNumber(Output& o, const Directive& directive, uintmax_t magnitude, bool negative,
               char conversion) {
  unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
  const char* digitChars = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];  // 22 octal digits hold 64 bits
  int count = 0;
  for (uintmax_t rest = magnitude; rest != 0; rest /= base)
    digits[count++] = digitChars[rest % base];

  // An explicit precision is the least number of digits; zero shows as no
  // digits at precision 0.
  int precision = directive.precision < 0 ? 1 : directive.precision;
  int minimumDigits = count > precision ? count : precision;
  if (conversion == 'o' && directive.alternate && minimumDigits <= count) minimumDigits = count + 1;

  char prefix[2];
  int prefixLength = 0;
  bool isSigned = conversion == 'd' || conversion == 'i';
  if (isSigned && negative) {
    prefix[prefixLength++] = '-';
  } else if (isSigned && directive.plus) {
    prefix[prefixLength++] = '+';
  } else if (isSigned && directive.space) {
    prefix[prefixLength++] = ' ';
  } else if (base == 16 && directive.alternate && magnitude != 0) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = conversion;
  }

  int length = prefixLength + minimumDigits;
  bool zeroFill = directive.zero && !directive.left && directive.precision < 0;
  if (!directive.left && !zeroFill) o.Repeat(' ', directive.width - length);
  for (int i = 0; i < prefixLength; ++i) o.Put(prefix[i]);
  if (zeroFill) o.Repeat('0', directive.width - length);
  o.Repeat('0', minimumDigits - count);
  while (count > 0) o.Put(digits[--count]);
  if (directive.left) o.Repeat(' ', directive.width - length);
}

}  // namespace

int FormatText(char* out, size_t size, const char* format, va_list args) {
  Output o{out, size, 0};
  va_list ap;
  va_copy(ap, args);
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      o.Put(*p);
      continue;
    }
    const char* start = p++;
    Directive directive;
    for (;; ++p) {
      if (*p == '-') {
        directive.left = true;
      } else if (*p == '0') {
        directive.zero = true;
      } else if (*p == '+') {
        directive.plus = true;
      } else if (*p == ' ') {
        directive.space = true;
      } else if (*p == '#') {
        directive.alternate = true;
      } else {
        break;
      }
    }
    if (*p == '*') {
      directive.width = va_arg(ap, int);
      if (directive.width < 0) {
        directive.left = true;
        directive.width = -directive.width;
      }
      ++p;
    } else {
      directive.width = ReadNumber(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        directive.precision = va_arg(ap, int);
        if (directive.precision < 0) directive.precision = -1;
        ++p;
      } else {
        directive.precision = ReadNumber(p);
      }
    }
    if (*p == 'h') {
      directive.argSize = p[1] == 'h' ? ArgSize::kChar : ArgSize::kShort;
      p += p[1] == 'h' ? 2 : 1;
    } else if (*p == 'l') {
      directive.argSize = p[1] == 'l' ? ArgSize::kLongLong : ArgSize::kLong;
      p += p[1] == 'l' ? 2 : 1;
    } else if (*p == 'z') {
      directive.argSize = ArgSize::kSizeT;
      ++p;
    } else if (*p == 'j') {
      directive.argSize = ArgSize::kIntMax;
      ++p;
    } else if (*p == 't') {
      directive.argSize = ArgSize::kPtrDiff;
      ++p;
    }

    char conversion = *p;
    if (conversion == '%') {
      o.Put('%');
    } else if (conversion == 'c') {
      char c = static_cast<char>(va_arg(ap, int));
      PutPadded(o, directive, &c, 1);
    } else if (conversion == 's') {
      const char* text = va_arg(ap, const char*);
      if (text == nullptr) text = "(null)";
      int length = 0;
      while (text[length] != '\0' && (directive.precision < 0 || length < directive.precision))
        ++length;
      PutPadded(o, directive, text, length);
    } else if (conversion == 'd' || conversion == 'i') {
      intmax_t value = SignedArg(directive.argSize, ap);
      // The magnitude of the most negative value, without overflow.
      uintmax_t magnitude = value < 0 ? 0 - static_cast<uintmax_t>(value) : value;
      PutNumber(o, directive, magnitude, value < 0, conversion);
    } else if (conversion == 'u' || conversion == 'o' || conversion == 'x' || conversion == 'X') {
      PutNumber(o, directive, UnsignedArg(directive.argSize, ap), false, conversion);
    } else {
      // Not a conversion this formatter knows: the text stands as written.
      for (const char* q = start; q <= p && *q != '\0'; ++q) o.Put(*q);
      if (conversion == '\0') break;
    }
  }
  va_end(ap);
  if (size > 0) out[o.length < size ? o.length : size - 1] = '\0';
  return static_cast<int>(o.length);
}
