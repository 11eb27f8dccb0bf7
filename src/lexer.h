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

namespace lexer_detail {

constexpr std::array<u8, 128> make_class_table() {
  std::array<u8, 128> t{};
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= CC_LETTER;
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= CC_LETTER;
  t['$'] |= CC_LETTER;
  t['.'] |= CC_LETTER;
  t['_'] |= CC_LETTER;
  for (int c = '0'; c <= '9'; ++c) t[c] |= CC_DIGIT | CC_DECIMAL | CC_HEX;
  for (int c = '0'; c <= '7'; ++c) t[c] |= CC_OCTAL;
  t['0'] |= CC_BINARY;
  t['1'] |= CC_BINARY;
  for (int c = 'A'; c <= 'F'; ++c) t[c] |= CC_HEX;
  for (int c = 'a'; c <= 'f'; ++c) t[c] |= CC_HEX;
  for (char c : {'%', '&', '*', '+', '-', '/', '<', '>', '^', '|'}) t[static_cast<int>(c)] |= CC_OPERATOR;
  return t;
}
inline constexpr std::array<u8, 128> kClassTable = make_class_table();

}  // namespace lexer_detail

// Class bits of a character; 0 outside 0..127. Inline: names are read a
// character at a time through it.
inline u8 char_class(int c) { return (c >= 0 && c < 128) ? lexer_detail::kClassTable[static_cast<std::size_t>(c)] : 0; }
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

// The digit table with the bytes that end or separate fields marked: a
// blank or tab is kBlank, a NUL or ';' (the line's end for every read) is
// kStop. Both lie above every digit value, so `value < bound` still tells
// a digit of the radix.
inline constexpr u8 kBlank = 0xFD;
inline constexpr u8 kStop = 0xFE;
constexpr std::array<u8, 256> make_field_table() {
  std::array<u8, 256> t = make_digit_table();
  t[' '] = kBlank;
  t['\t'] = kBlank;
  t['\0'] = kStop;
  t[';'] = kStop;
  return t;
}
inline constexpr std::array<u8, 256> kFieldTable = make_field_table();

// The fields of a record line over [p, end) as the lexer reads them, with
// the class (kFieldTable) of the byte at `p` kept at hand: a loop over a
// whole line keeps the place and the class in registers.
//
// kTerminated: the caller knows that the byte at `end` may be read and is
// neither a blank nor a digit of any radix (a line's CR or LF), so the
// reads stop there by themselves and need no test for the end.
template <bool kTerminated>
class FieldScanner {
 public:
  FieldScanner(const char* p, const char* end, unsigned bound) : p_(p), end_(end), bound_(bound), c_(at(p)) {}

  // Lexer::next_field: blanks are skipped; kEnd at the end, a NUL or ';',
  // kNotANumber before any other byte that is no digit of the radix (the
  // place stays before it), else the number, the place moving past it.
  Field field(u32& value) {
    while (c_ == kBlank) c_ = at(++p_);
    if (c_ >= bound_) return (c_ == kStop || p_ == end_) ? Field::kEnd : Field::kNotANumber;
    u32 v = c_;
    while ((c_ = at(++p_)) < bound_) v = v * bound_ + c_;
    value = v;
    return Field::kNumber;
  }
  // Lexer::read_number: blanks, then the digits of the radix (none gives
  // 0); the place moves past both.
  u32 number() {
    while (c_ == kBlank) c_ = at(++p_);
    u32 v = 0;
    for (; c_ < bound_; c_ = at(++p_)) v = v * bound_ + c_;
    return v;
  }
  const char* place() const { return p_; }

 private:
  unsigned at(const char* p) const {
    if constexpr (!kTerminated)
      if (p == end_) return kStop;
    return kFieldTable[static_cast<unsigned char>(*p)];
  }

  const char* p_;
  const char* const end_;
  const unsigned bound_;
  unsigned c_;  // class of the byte at p_; kStop at the end
};

}  // namespace lexer_detail

class Lexer {
 public:
  // Points the cursor at `pos` (at most the size) in `text`. The text must
  // outlive the reads; a NUL inside it ends it.
  void reset(std::string_view text, std::size_t pos = 0) {
    text_ = text;
    pos_ = pos;
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
  int get_nonblank() {
    skip_blanks();
    return get_char();
  }

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
    lexer_detail::FieldScanner<false> scan(text_.data() + pos_, text_.data() + text_.size(), lexer_detail::digit_bound(radix));
    u32 value = scan.number();
    move_to(scan.place());
    return value;
  }
  // One field of a record's list of numbers: kEnd at the end of the text,
  // a NUL or ';' (after blanks), kNotANumber when the next character is no
  // digit of the radix (the cursor stays before it), else the number.
  Field next_field(u32& value) {
    lexer_detail::FieldScanner<false> scan(text_.data() + pos_, text_.data() + text_.size(), lexer_detail::digit_bound(radix));
    Field f = scan.field(value);
    move_to(scan.place());
    return f;
  }
  // Steps over up to n characters as n get_char calls would: never past
  // the end or a NUL.
  void skip_chars(std::size_t n) {
    std::size_t end = pos_ + std::min(n, text_.size() - pos_);
    const void* nul = std::memchr(text_.data() + pos_, '\0', end - pos_);
    pos_ = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text_.data()) : end;
  }
  // Moves the cursor to `p`, a place in the text at or after it that a
  // scan over rest() reached (a scan never passes a NUL).
  void move_to(const char* p) { pos_ = static_cast<std::size_t>(p - text_.data()); }
  // True when the next non-blank character is neither the end nor ';'.
  bool more_on_line() {
    skip_blanks();
    return pos_ < text_.size() && text_[pos_] != '\0' && text_[pos_] != ';';
  }
  // The next non-blank character, or 0 at the end or at ';'.
  int record_letter() {
    int c = get_nonblank();
    return c == ';' ? 0 : c;
  }

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
