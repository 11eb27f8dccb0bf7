// Character classes and the cursor reads of the lexer; see lexer.h.
#include "lexer.h"

#include <algorithm>
#include <array>

namespace zeld {

namespace {

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

constexpr std::array<u8, 128> kClassTable = make_class_table();

using lexer_detail::digit_bound;
using lexer_detail::kDigitTable;
using lexer_detail::kNoDigit;

unsigned digit_of(int c) { return (c >= 0 && c < 128) ? kDigitTable[static_cast<std::size_t>(c)] : kNoDigit; }

}  // namespace

u8 char_class(int c) { return (c >= 0 && c < 128) ? kClassTable[c] : 0; }

int digit_value(int c, int radix) {
  unsigned d = digit_of(c);
  return d < digit_bound(radix) ? static_cast<int>(d) : -1;
}

std::string_view Lexer::get_identifier(int first) {
  int c = first == -1 ? get_nonblank() : first;
  name_.clear();
  if (c == 0) return name_;
  name_.push_back(static_cast<char>(c));
  std::size_t end = pos_;
  while (end < text_.size() && is_name_char(static_cast<unsigned char>(text_[end]))) ++end;
  name_.append(text_.data() + pos_, std::min(end - pos_, kMaxNameLength - 1));
  pos_ = end;
  return name_;
}

void Lexer::skip_word(int first) {
  int c = first < 0 ? get_nonblank() : first;
  if (c == 0) return;
  while (is_name_char(c = get_char())) {
  }
  unget_char(c);
}

}  // namespace zeld
