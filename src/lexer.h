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
  u32 read_number();
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
