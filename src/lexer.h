// The lexer every record handler reads with: a cursor over one text (an
// object-file line, or a command-line text for -d and range options), with
// one character of push-back, names of at most 128 characters and unsigned
// numbers in the current radix that wrap at 32 bits.
//
// The lexer also carries the module's reading state: the radix (10, 8 or
// 16), the byte order of two-byte fields and the XGATE mark, which the
// radix lines set and later records read.
//
// Character classes (0..127; everything else is in no class):
//   letter   $ . _ A-Z a-z          digit    0-9
//   operator % & * + - / < > ^ |    and the binary, octal, decimal and
//   hexadecimal digit classes.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "common.h"

namespace zeld {

enum CharClass : u8 {
  CC_LETTER = 0x01,
  CC_DIGIT = 0x02,
  CC_OPERATOR = 0x04,
  CC_BINARY = 0x08,
  CC_OCTAL = 0x10,
  CC_DECIMAL = 0x20,
  CC_HEX = 0x40,
};

// Class bits of a character; 0 outside 0..127.
u8 char_class(int c);
inline bool is_name_char(int c) { return (char_class(c) & (CC_LETTER | CC_DIGIT)) != 0; }

// Value of c as a digit of radix 2, 8, 10 or 16; -1 otherwise.
int digit_value(int c, int radix);

// What next_field found.
enum class Field { kNumber, kEnd, kNotANumber };

namespace lexer_detail {

inline constexpr u8 kNoDigit = 0xFF;

// Value of a hexadecimal digit of either case; kNoDigit for every other
// byte, so that a lookup needs no range test.
constexpr std::array<u8, 256> make_digit_table() {
  std::array<u8, 256> t{};
  for (u8& v : t) v = kNoDigit;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<u8>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<u8>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<u8>(c - 'a' + 10);
  return t;
}
inline constexpr std::array<u8, 256> kDigitTable = make_digit_table();

// The radix as a bound on digit values; 0 (no digit at all) for a radix
// other than 2, 8, 10 and 16.
inline unsigned digit_bound(int radix) {
  return (radix == 2 || radix == 8 || radix == 10 || radix == 16) ? static_cast<unsigned>(radix) : 0;
}

// One field of a record line over [p, end), as Lexer::next_field reads
// it: blanks are skipped, and `p` then stays before an end or a character
// that is no digit of the radix, or moves past the number read. Loops over
// a whole line call this with `p` kept in a register.
inline Field scan_field(const char*& p, const char* end, unsigned bound, u32& value) {
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  if (p == end) return Field::kEnd;
  unsigned d = kDigitTable[static_cast<unsigned char>(*p)];
  if (d >= bound) return (*p == '\0' || *p == ';') ? Field::kEnd : Field::kNotANumber;
  u32 v = d;
  while (++p != end && (d = kDigitTable[static_cast<unsigned char>(*p)]) < bound) v = v * bound + d;
  value = v;
  return Field::kNumber;
}

}  // namespace lexer_detail

class Lexer {
 public:
  // Points the cursor at the start of `text`. The text must outlive the
  // reads; a NUL inside it ends it.
  void reset(std::string_view text) {
    text_ = text;
    pos_ = 0;
  }

  // Next character, 0 at the end (and the cursor stays there).
  int get_char() {
    if (pos_ >= text_.size() || text_[pos_] == '\0') return 0;
    return static_cast<unsigned char>(text_[pos_++]);
  }
  // Steps back over the last character read unless it was the end.
  void unget_char(int c) {
    if (c != 0 && pos_ > 0) --pos_;
  }
  // Next character that is neither blank nor tab.
  int get_nonblank();

  // Reads a name: the first character whatever its class (read with
  // get_nonblank when `first` is -1), then letters and digits. At most 128
  // characters are kept; the view lives until the next call.
  std::string_view get_identifier(int first = -1);
  // Skips a word: one character (get_nonblank when `first` < 0), then
  // letters and digits.
  void skip_word(int first = -1);
  // Unsigned number in the current radix after blanks; 0 when no digit.
  // The digits are read straight from the text; a NUL or the end stops the
  // number like any other character that is not a digit of the radix.
  u32 read_number() {
    const char* text = text_.data();
    const std::size_t size = text_.size();
    std::size_t i = pos_;
    while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
    const unsigned bound = lexer_detail::digit_bound(radix);
    u32 value = 0;
    for (unsigned d; i < size && (d = lexer_detail::kDigitTable[static_cast<unsigned char>(text[i])]) < bound; ++i)
      value = value * bound + d;
    pos_ = i;
    return value;
  }
  // One field of a record's list of numbers: kEnd at the end of the text,
  // a NUL or ';' (after blanks), kNotANumber when the next character is no
  // digit of the radix (the cursor stays before it), else the number.
  Field next_field(u32& value) {
    const char* p = text_.data() + pos_;
    Field f = lexer_detail::scan_field(p, text_.data() + text_.size(), lexer_detail::digit_bound(radix), value);
    pos_ = static_cast<std::size_t>(p - text_.data());
    return f;
  }
  // Steps over up to n characters as n get_char calls would: never past
  // the end or a NUL.
  void skip_chars(std::size_t n) {
    std::size_t end = pos_ + std::min(n, text_.size() - pos_);
    const void* nul = std::memchr(text_.data() + pos_, '\0', end - pos_);
    pos_ = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text_.data()) : end;
  }
  // True when the next non-blank character is neither the end nor ';'.
  bool more_on_line();
  // The next non-blank character, or 0 at the end or at ';'.
  int record_letter();

  std::size_t position() const { return pos_; }
  std::string_view text() const { return text_; }
  // The text not read yet.
  std::string_view rest() const { return text_.substr(pos_); }

  int radix = 10;
  bool high_byte_first = false;
  bool xgate_module = false;

 private:
  // Steps over blanks and tabs.
  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string name_;
};

}  // namespace zeld
