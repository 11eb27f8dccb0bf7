// The global symbol table. Pass 0 enters every S line (define_symbol);
// between the passes command-line definitions and the end-of-area symbols
// are added and every symbol still undefined is reported; relocation, the
// writers and the reports read addresses from it.
//
//   S _main Def0012      definition at offset 0x12 of the module's last area
//   S _putchar Ref0000   reference
//   S SIZE Eq 0400       absolute value (E kind)
//
// Lookup is a hash map; the order in which symbols are walked (reports,
// absolute-area addresses, the map) is that of 512 buckets keyed by the sum
// of the name's characters, bucket ascending and newest first within a
// bucket, which the chains below keep.
#pragma once

#include <array>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>

#include "common.h"
#include "name_index.h"

namespace zeld {

struct LinkContext;
class Lexer;
struct AreaPart;
struct Header;

enum SymbolFlags : u16 {
  SYM_REFERENCED = 0x0001,
  SYM_DEFINED = 0x0002,
  SYM_ABSOLUTE = 0x0004,
  SYM_MARK_CB = 0x0008,
  SYM_MARK_CE = 0x0010,
  SYM_MARK_SB = 0x0100,
  SYM_MARK_SE = 0x0200,
  SYM_MARK_LB = 0x0400,
  SYM_MARK_LE = 0x0800,
  SYM_HIDDEN = 0x1000,
  SYM_MARKERS = SYM_MARK_CB | SYM_MARK_CE | SYM_MARK_SB | SYM_MARK_SE | SYM_MARK_LB | SYM_MARK_LE,
};

struct Symbol {
  Symbol* next_in_bucket = nullptr;
  AreaPart* area_part = nullptr;  // base of value unless SYM_ABSOLUTE
  u16 flags = 0;
  u32 value = 0;
  std::string name;
  // The first module (reading order) whose symbol list holds the symbol.
  const Header* first_header = nullptr;
};

class SymbolTable {
 public:
  static constexpr int kBuckets = 512;

  // The symbol of that name, or nullptr.
  Symbol* find(std::string_view name) const;
  // Enters a new symbol (name already known to be absent).
  Symbol* insert(std::string_view name);

  // Visits every symbol: bucket 0 to 511, each chain newest first.
  template <class F>
  void for_each(F&& visit) const {
    for (Symbol* head : buckets_)
      for (Symbol* s = head; s; s = s->next_in_bucket) visit(*s);
  }

  // Visits every symbol in the order they were entered: the fast walk,
  // for work whose order does not show.
  template <class F>
  void for_each_entered(F&& visit) {
    for (Symbol& s : storage_) visit(s);
  }
  template <class F>
  void for_each_entered(F&& visit) const {
    for (const Symbol& s : storage_) visit(s);
  }

  std::size_t size() const { return storage_.size(); }

  // Set while the -d definitions are evaluated.
  bool applying_global_definitions = false;

 private:
  std::array<Symbol*, kBuckets> buckets_{};
  NameIndex<Symbol*> index_;  // keys view Symbol::name
  std::deque<Symbol> storage_;
};

// Finds the symbol; with `create`, enters a missing one (a name of 128
// characters or more is reported and cut to 128).
Symbol* lookup_symbol(LinkContext& ctx, std::string_view name, bool create);
// Finds or creates a name the linker makes itself (the end-of-area
// symbols): no length report, the name is kept whole.
Symbol* lookup_linker_symbol(LinkContext& ctx, std::string_view name);
// Address of a symbol: value, plus its part's address unless absolute.
u32 symbol_address(LinkContext& ctx, const Symbol& sym);
// Address of a named symbol (defined or not); false when there is none.
bool find_symbol_address(LinkContext& ctx, std::string_view name, u32& address);
// Pass-0 handler of an S line ("S name kind-word value", read through `lex`).
Symbol* define_symbol(LinkContext& ctx, Lexer& lex, Header* header, AreaPart* area_part);
// Enters a module's symbol as an S line does: `kind` 'R' a reference, 'D'
// a definition relative to `area_part` (hidden when `second` is 'x'), 'E'
// an absolute definition; any other kind is fatal.
Symbol* enter_module_symbol(LinkContext& ctx, Header* header, AreaPart* area_part, std::string_view name, int kind,
                            int second, u32 value);
// Between the passes: gives every non-absolute symbol without an area part
// the first part of the first area, then reports every undefined symbol
// that some module lists as a counted error.
void report_undefined_symbols(LinkContext& ctx);
// The map's list of the same symbols: each text written to the map as it
// stands (no line end), and counted as an error beyond the error limit.
void write_undefined_symbols(LinkContext& ctx, std::FILE* map);

}  // namespace zeld
