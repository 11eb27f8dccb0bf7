// Command-line symbol definitions (-d name=expression) and the expression
// evaluator they share with the range options.
//
//   -d STACK=0x8000         -d TOP:STACK-0x100        -d MASK=~0&0xFF00
//
// Expressions are unsigned 32-bit with wrap-around, evaluated by precedence
// climbing over the lexer (ctx.lex), which the caller points at the text.
#pragma once

#include <string>
#include <string_view>

#include "common.h"

namespace zeld {

struct LinkContext;
struct ReportPlace;

// Evaluates from the lexer's cursor; `floor` 0 reads a whole expression.
// The first character not part of the expression is pushed back.
u32 evaluate_expression(LinkContext& ctx, ReportPlace& place, int floor = 0);

// Stores a -d text for after pass 0.
void add_global_definition(LinkContext& ctx, std::string_view text);
// Evaluates every -d text in order and defines its symbol as absolute.
void apply_global_definitions(LinkContext& ctx);

}  // namespace zeld
