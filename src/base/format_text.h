// printf-style formatting of the conversions the programs use: %d %i %u %x %X %s %c and %%,
// with a '0' flag, a width and the length modifiers l, ll and z. The C library's printf is
// not used for this because it brings its floating-point formatting into the package program,
// which travels in every package. Bytes other than conversions are copied as they are (a
// code page 932 text never has '%' as the second byte of a character).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// printf-style checks of a format string and its arguments (gnu_printf: the formats of glibc
// and MinGW's own printf alike; clang knows only printf).
#if defined(__clang__)
#define GP_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define GP_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(gnu_printf, format_index, first_argument)))
#endif

namespace gp {

// Appends the formatted text to out. A conversion it does not know is copied as it stands,
// and takes no argument.
inline void AppendFormatV(std::string& out, const char* format, va_list arguments) {
  const char* f = format;
  while (*f != '\0') {
    if (*f != '%') {
      out += *f++;
      continue;
    }
    const char* start = f++;
    if (*f == '%') {
      out += '%';
      ++f;
      continue;
    }
    const bool zero_pad = *f == '0';
    if (zero_pad) ++f;
    size_t width = 0;
    while (*f >= '0' && *f <= '9' && width < 1000) width = width * 10 + static_cast<size_t>(*f++ - '0');
    int longs = 0;
    while (*f == 'l' && longs < 2) {
      ++longs;
      ++f;
    }
    const bool size_length = longs == 0 && *f == 'z';
    if (size_length) ++f;

    char digits[24];
    size_t digit_count = 0;
    bool negative = false;
    std::string_view text;
    char single = 0;
    const char conversion = *f;
    if (conversion == 'd' || conversion == 'i') {
      const long long value = longs == 2   ? va_arg(arguments, long long)
                              : longs == 1 ? va_arg(arguments, long)
                              : size_length ? static_cast<long long>(va_arg(arguments, ptrdiff_t))
                                            : va_arg(arguments, int);
      negative = value < 0;
      unsigned long long magnitude =
          negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
      do {
        digits[sizeof digits - 1 - digit_count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
      } while (magnitude != 0);
    } else if (conversion == 'u' || conversion == 'x' || conversion == 'X') {
      unsigned long long value = longs == 2   ? va_arg(arguments, unsigned long long)
                                 : longs == 1 ? va_arg(arguments, unsigned long)
                                 : size_length ? va_arg(arguments, size_t)
                                               : va_arg(arguments, unsigned int);
      const unsigned base = conversion == 'u' ? 10 : 16;
      const char* symbols = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      do {
        digits[sizeof digits - 1 - digit_count++] = symbols[value % base];
        value /= base;
      } while (value != 0);
    } else if (conversion == 's') {
      const char* s = va_arg(arguments, const char*);
      text = s != nullptr ? std::string_view(s) : std::string_view("(null)");
    } else if (conversion == 'c') {
      single = static_cast<char>(va_arg(arguments, int));
      text = std::string_view(&single, 1);
    } else {
      // Unknown: copied as it stands (with the byte after it, unless the text ends there).
      out.append(start, static_cast<size_t>(f - start) + (*f != '\0' ? 1 : 0));
      if (*f != '\0') ++f;
      continue;
    }
    ++f;
    if (digit_count != 0) text = std::string_view(digits + sizeof digits - digit_count, digit_count);
    const size_t length = text.size() + (negative ? 1 : 0);
    const size_t padding = width > length ? width - length : 0;
    if (!zero_pad || digit_count == 0) out.append(padding, ' ');
    if (negative) out += '-';
    if (zero_pad && digit_count != 0) out.append(padding, '0');
    out += text;
  }
}

inline std::string FormatText(const char* format, ...) GP_PRINTF_FORMAT(1, 2);
inline std::string FormatText(const char* format, ...) {
  std::string out;
  va_list arguments;
  va_start(arguments, format);
  AppendFormatV(out, format, arguments);
  va_end(arguments);
  return out;
}

// Like snprintf: writes at most size - 1 bytes and a NUL into buffer (size > 0).
inline void FormatInto(char* buffer, size_t size, const char* format, ...)
    GP_PRINTF_FORMAT(3, 4);
inline void FormatInto(char* buffer, size_t size, const char* format, ...) {
  if (buffer == nullptr || size == 0) return;
  std::string out;
  va_list arguments;
  va_start(arguments, format);
  AppendFormatV(out, format, arguments);
  va_end(arguments);
  const size_t n = out.size() < size - 1 ? out.size() : size - 1;
  std::memcpy(buffer, out.data(), n);
  buffer[n] = '\0';
}

}  // namespace gp
