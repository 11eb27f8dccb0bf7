// Digit values and the cursor reads of the lexer; see lexer.h.
#include "lexer.h"

#include <algorithm>
#include <array>

namespace zeld {

namespace {

using lexer_detail::digit_bound;
using lexer_detail::kDigitTable;
using lexer_detail::kNoDigit;

unsigned digit_of(int c) { return (c >= 0 && c < 128) ? kDigitTable[static_cast<std::size_t>(c)] : kNoDigit; }

}  // namespace

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
