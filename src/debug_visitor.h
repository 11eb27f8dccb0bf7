// The one walk over the collected debug records (debug_info.h) and the
// callbacks its consumers get. The .dbg writer and the COFF debug builder
// are both visitors of the same walk, so their entries come in the same
// order and a record list the walk refuses stops both at the same point.
//
// Order of the callbacks, for every source file that holds any record:
//
//   begin_file
//     structure ...                       the file's own definitions
//     enter_function                      for each function, in order:
//       structure ...                       its definitions
//       symbol ...                          its locals (kinds l and r)
//       line / block_end / function_end     its line table
//     leave_function
//     symbol ...                          the file's variables (kinds s and e)
//   end_file
//
// begin_walk comes first, with the records, whose pools give every
// visitor the texts and lists that the records name. Every address handed
// over (the head's, the entries', the variables' values) is absolute; the
// records themselves keep area-relative ones.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "debug_info.h"

namespace zeld {

class Diagnostics;

// What the walk tells of a function as it enters it.
struct DbFunctionHead {
  u32 address = 0;  // absolute
  std::optional<DbLine> first;
  std::optional<DbLine> last;
};

class DebugVisitor {
 public:
  virtual ~DebugVisitor() = default;

  virtual void begin_walk(const DebugState& /*debug*/) {}
  // `base_name` is the path's last component.
  virtual void begin_file(const DbFile& /*file*/, std::string_view /*base_name*/) {}
  virtual void structure(const DbStruct& /*definition*/) {}
  // `head` gives the function's absolute address, its first source-line
  // entry (the one behind the begin marker, or the first of an unnamed
  // function's entries; none when it has none) and its last entry of all
  // (there whenever `first` is).
  virtual void enter_function(const DbFunc& /*function*/, const DbFunctionHead& /*head*/) {}
  // A local (kinds l and r) or a variable of the file (kinds s and e,
  // with its absolute address as value).
  virtual void symbol(const DbSym& /*symbol*/) {}
  // A source line (a positive line number).
  virtual void line(const DbLine& /*entry*/) {}
  // A block-end marker; `end` is the entry behind it, which gives the end
  // and then comes to the visitors as an entry of its own.
  virtual void block_end(const DbLine& /*end*/) {}
  // The function-end entry (line number 0).
  virtual void function_end(const DbLine& /*entry*/) {}
  virtual void leave_function(const DbFunc& /*function*/) {}
  virtual void end_file(const DbFile& /*file*/) {}
};

// Walks the records, handing each to every visitor in turn. A record list
// the compiler would never write (a named function without its begin
// marker and a line behind it, or a block end with nothing after it) is
// fatal: "incorrect debug information file".
void walk_debug_records(const DebugState& debug, Diagnostics& diag, std::span<DebugVisitor* const> visitors);

}  // namespace zeld
