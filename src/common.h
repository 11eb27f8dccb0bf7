// Small vocabulary shared by every part of the linker: fixed-width integer
// aliases (addresses and sizes are u32 and wrap), the printf-checking
// attribute used by every reporter, and strprintf for building texts from
// the linker's printf-style message formats.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeld {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using i32 = std::int32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;

#if defined(__GNUC__) || defined(__clang__)
#define ZELD_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define ZELD_PRINTF(fmt_index, first_arg)
#endif

// Longest name of a symbol, area or module that the linker keeps.
inline constexpr std::size_t kMaxNameLength = 128;
// Longest file name the linker opens (the terminator not counted).
inline constexpr std::size_t kMaxFileNameLength = 259;

// Names the object format compares without regard to case ("xgate", the
// "text" area, listing directives, debug directories): ASCII letters only.
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
  return true;
}
inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

// White space as the linker's text inputs know it: blank, tab, carriage
// return, line feed, vertical tab and form feed (the C locale's set, without
// depending on the locale). Takes an int so that a char or an EOF both fit.
inline bool is_white(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Writes the upper-case hexadecimal digits of `value` at p, at least
// `width` of them (at most 8), and returns the position after them (the
// report writers).
inline char* write_hex_digits(char* p, u32 value, int width) {
  const int needed = value == 0 ? 1 : static_cast<int>(std::bit_width(value) + 3) / 4;
  const int digits = std::clamp(std::max(width, needed), 1, 8);
  for (int i = digits; i-- > 0; value >>= 4) p[i] = "0123456789ABCDEF"[value & 0xF];
  return p + digits;
}
// The same digits as a view into `buffer`.
inline std::string_view hex_digits(u32 value, int width, char (&buffer)[8]) {
  return {buffer, static_cast<std::size_t>(write_hex_digits(buffer, value, width) - buffer)};
}

// Writes the low byte of `byte` as two upper-case hexadecimal digits at p
// and returns the position after them (the image record writers).
inline char* put_hex(char* p, u32 byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  p[0] = kDigits[(byte >> 4) & 0xF];
  p[1] = kDigits[byte & 0xF];
  return p + 2;
}

std::string strprintf(const char* fmt, ...) ZELD_PRINTF(1, 2);
std::string vstrprintf(const char* fmt, std::va_list args);

}  // namespace zeld
