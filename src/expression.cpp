// The expression evaluator, and the -d definitions that use it after pass 0.
//
// Once pass 0 has entered every module's symbols, and before any area is
// placed, apply_global_definitions evaluates the -d texts in order and
// defines each name as an absolute symbol; so a name used in them must be
// absolute or an earlier -d. The range options use the same evaluator.
//
//   expression := term { binop term }    by precedence, left grouping:
//                 * / % (10)  + - (7)  << >> (5)  ^ (4)  & (3)  | (1)
//   term := '#' term | '(' expression ')' | ('-' | '~' | '<' | '>') term
//         | "'" char | '"' char char | number | name
//   number := digits | '0' radix-letter digits   (b o q @ d x h, any case)
//
// Arithmetic is unsigned 32-bit and wraps. Division or remainder by zero is
// an invalid expression giving 0; nesting deeper than kMaxNesting terms is
// reported once and ends the expression, so no text can exhaust the stack.
#include "expression.h"

#include "context.h"
#include "symbols.h"

namespace zeld {

namespace {

// Far beyond any hand-written expression; keeps recursion bounded.
constexpr int kMaxNesting = 256;
// Above every operator's precedence: the operand of a prefix operator is
// one term.
constexpr int kSingleTerm = 100;

// The evaluator's reports name their source in their own way: the
// unbalanced text marks reports from inside a term, the closed one the
// missing parenthesis. The text being read keeps that name for its later
// reports (the place is the caller's), as it always has.
void report_invalid_expression(LinkContext& ctx, ReportPlace& place) {
  place.file = "(command input";
  ctx.diag.error_at(place, "invalid expression");
}

void report_missing_delimiter(LinkContext& ctx, ReportPlace& place) {
  place.file = "(command input)";
  ctx.diag.error_at(place, "missing delimiter");
}

void report_undefined_name(LinkContext& ctx, ReportPlace& place, const std::string& name) {
  place.file = "(command input";
  ctx.diag.error_at(place, "undefined symbol '%s'", name.c_str());
}

// Precedence of a binary operator character, 0 for any other.
int operator_precedence(int c) {
  switch (c) {
    case '*':
    case '/':
    case '%':
      return 10;
    case '+':
    case '-':
      return 7;
    case '<':
    case '>':
      return 5;
    case '^':
      return 4;
    case '&':
      return 3;
    case '|':
      return 1;
    default:
      return 0;
  }
}

// One character of a character constant; -1 at the end of the text.
int char_constant(Lexer& lex) {
  int c = lex.get_char();
  if (c == 0) return -1;
  if (c != '\\') return c;
  c = lex.get_char();
  if (char_class(c) & CC_OCTAL) {
    int value = c - '0';
    for (int i = 1; i < 3; ++i) {
      c = lex.get_char();
      if (!(char_class(c) & CC_OCTAL)) {
        lex.unget_char(c);
        break;
      }
      value = value * 8 + (c - '0');
    }
    return value;
  }
  switch (c) {
    case 'b':
      return 8;
    case 'f':
      return 12;
    case 'n':
      return 10;
    case 'r':
      return 13;
    case 't':
      return 9;
    case 0:
      return '\\';  // a backslash that ends the text stands for itself
    default:
      return c;
  }
}

// One evaluation over ctx.lex, with the nesting depth and whether the
// expression was cut short.
class Evaluator {
 public:
  Evaluator(LinkContext& ctx, ReportPlace& place) : ctx_(ctx), lex_(ctx.lex), place_(place) {}

  u32 expression(int floor);
  u32 term();

 private:
  u32 number(int first);
  u32 combine(int op, u32 left, u32 right);

  LinkContext& ctx_;
  Lexer& lex_;
  ReportPlace& place_;
  int depth_ = 0;
  bool abandoned_ = false;
};

u32 Evaluator::expression(int floor) {
  u32 value = term();
  for (;;) {
    if (abandoned_) return value;
    int c = lex_.get_nonblank();
    int precedence = operator_precedence(c);
    if (!(char_class(c) & CC_OPERATOR) || precedence <= floor) {
      lex_.unget_char(c);
      return value;
    }
    if ((c == '<' || c == '>') && lex_.get_char() != c) {
      report_invalid_expression(ctx_, place_);
      return value;
    }
    u32 right = expression(precedence);
    value = combine(c, value, right);
  }
}

u32 Evaluator::combine(int op, u32 left, u32 right) {
  switch (op) {
    case '*':
      return left * right;
    case '/':
    case '%':
      if (right == 0) {
        report_invalid_expression(ctx_, place_);
        return 0;
      }
      return op == '/' ? left / right : left % right;
    case '+':
      return left + right;
    case '-':
      return left - right;
    case '<':
      return left << (right & 31);
    case '>':
      return left >> (right & 31);
    case '^':
      return left ^ right;
    case '&':
      return left & right;
    case '|':
      return left | right;
    default:
      return left;
  }
}

u32 Evaluator::term() {
  if (abandoned_) return 0;
  if (depth_ >= kMaxNesting) {
    report_invalid_expression(ctx_, place_);
    abandoned_ = true;
    return 0;
  }
  struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
  } guard(depth_);

  int c = lex_.get_nonblank();
  if (c == '#') c = lex_.get_nonblank();  // immediate mark
  switch (c) {
    case '(': {
      u32 value = expression(0);
      if (abandoned_) return value;
      int close = lex_.get_nonblank();
      if (close != ')') {
        // Left for the caller: a range option reads on after the bound.
        lex_.unget_char(close);
        report_missing_delimiter(ctx_, place_);
      }
      return value;
    }
    case '-':
      return 0u - expression(kSingleTerm);
    case '~':
      return ~expression(kSingleTerm);
    case '\'':
      return static_cast<u32>(static_cast<i32>(static_cast<signed char>(char_constant(lex_))));
    case '"': {
      u32 first = static_cast<u32>(char_constant(lex_)) & 0xFF;
      u32 second = static_cast<u32>(char_constant(lex_)) & 0xFF;
      return lex_.high_byte_first ? (first << 8) | second : (second << 8) | first;
    }
    case '<':
    case '>': {
      u32 value = expression(kSingleTerm);
      if (c == '>') value >>= 8;
      return value & 0xFF;
    }
    default:
      break;
  }
  if (char_class(c) & CC_DIGIT) return number(c);
  if (char_class(c) & CC_LETTER) {
    std::string name(lex_.get_identifier(c));
    if (Symbol* sym = lookup_symbol(ctx_, name, false)) return symbol_address(ctx_, *sym);
    report_undefined_name(ctx_, place_, name);
    return 0;
  }
  return 0;  // anything else counts as 0, the character consumed
}

// A leading 0 with a radix letter chooses the radix; any other leading 0
// is simply a decimal digit.
u32 Evaluator::number(int first) {
  int radix = 10;
  int c = first;
  if (first == '0') {
    bool prefixed = true;
    int letter = lex_.get_char();
    switch (letter) {
      case 'b':
      case 'B':
        radix = 2;
        break;
      case 'o':
      case 'O':
      case 'q':
      case 'Q':
      case '@':
        radix = 8;
        break;
      case 'd':
      case 'D':
        radix = 10;
        break;
      case 'x':
      case 'X':
      case 'h':
      case 'H':
        radix = 16;
        break;
      default:
        prefixed = false;  // the 0 is the first digit
        lex_.unget_char(letter);
        break;
    }
    if (prefixed) c = lex_.get_char();
  }
  u32 value = 0;
  int d;
  while ((d = digit_value(c, radix)) >= 0) {
    value = value * static_cast<u32>(radix) + static_cast<u32>(d);
    c = lex_.get_char();
  }
  lex_.unget_char(c);
  return value;
}

}  // namespace

u32 evaluate_expression(LinkContext& ctx, ReportPlace& place, int floor) {
  Evaluator evaluator(ctx, place);
  return evaluator.expression(floor);
}

void add_global_definition(LinkContext& ctx, std::string_view text) { ctx.global_definitions.emplace_back(text); }

// name [blanks] ('=' | ':') expression; anything after the expression is
// ignored. Each definition is absolute and takes effect even when it is
// reported as a redefinition.
void apply_global_definitions(LinkContext& ctx) {
  struct ApplyingGuard {
    SymbolTable& symbols;
    explicit ApplyingGuard(SymbolTable& s) : symbols(s) { symbols.applying_global_definitions = true; }
    ~ApplyingGuard() { symbols.applying_global_definitions = false; }
  } guard(ctx.symbols);

  ReportPlace place = ctx.reader.place;  // where pass 0 ended
  for (const std::string& text : ctx.global_definitions) {
    ctx.lex.reset(text);
    std::string name(ctx.lex.get_identifier(-1));
    int c = ctx.lex.get_nonblank();
    if (c != '=' && c != ':') {
      ctx.diag.error_at(place, "no '=' or ':' in global expression");
      continue;
    }
    u32 value = evaluate_expression(ctx, place, 0);
    Symbol* sym = lookup_symbol(ctx, name, true);
    if (sym->flags & SYM_DEFINED) {
      ctx.diag.error_at(place, "redefinition of symbol '%s'", name.c_str());
      sym->area_part = nullptr;
    }
    sym->value = value;
    sym->flags |= SYM_DEFINED | SYM_ABSOLUTE;
  }
}

}  // namespace zeld
