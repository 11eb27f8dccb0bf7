// The global symbol table. Pass 0 enters every S line (define_symbol);
// between the passes command-line definitions and the end-of-area symbols
// are added and every symbol still undefined is reported; relocation, the
// writers and the reports read addresses from it.
//
//   S _main Def0012      definition at offset 0x12 of the module's last area
//   S _putchar Ref0000   reference
//   S SIZE Eq 0400       absolute value (E kind)
//
// Symbols are numbered in the order they are entered and kept in chunks
// that never move, since pointers to them are held everywhere; their names
// are kept in one arena. Lookup goes through an index of {hash, number}
// slots. The order in which symbols are walked for reports, absolute-area
// addresses and the map is that of 512 buckets keyed by the sum of the
// name's characters, bucket ascending and newest first within a bucket:
// each symbol keeps its bucket, and a walk sorts the numbers by it.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "common.h"
#include "name_index.h"
#include "string_arena.h"

namespace zeld {

struct LinkContext;
class Lexer;
struct AreaPart;
class Diagnostics;
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
  // An object's S line named the symbol, in a line the library pre-scan
  // reads the same way (symbol_name_reads_alike) and leaves to the table:
  // a definition, or a reference.
  SYM_SCANNED_DEFINITION = 0x2000,
  SYM_SCANNED_REFERENCE = 0x4000,
  SYM_MARKERS = SYM_MARK_CB | SYM_MARK_CE | SYM_MARK_SB | SYM_MARK_SE | SYM_MARK_LB | SYM_MARK_LE,
};

struct Symbol {
  std::string_view name;          // text kept by the table
  AreaPart* area_part = nullptr;  // base of value unless SYM_ABSOLUTE
  u32 value = 0;
  u16 flags = 0;
  u16 bucket = 0;  // of the walk order, set by the table
};
static_assert(sizeof(Symbol) <= 32);

class SymbolTable {
 public:
  static constexpr int kBuckets = 512;

  // The symbol of that name, or nullptr; `hash` is name_hash(name).
  Symbol* find(std::string_view name, u32 hash) const;
  Symbol* find(std::string_view name) const { return find(name, name_hash(name)); }
  // Readies a coming find() of `hash` in two steps over a batch of names:
  // the first asks for the index slots, the second (once they have had
  // time to arrive) for the symbols and names they lead to.
  void prefetch_slot(u32 hash) const { index_.prefetch(hash); }
  void prefetch_symbol(u32 hash) const {
    // Reading the name's place brings the symbol itself.
    index_.for_each_candidate(hash, [this](u32 n) { __builtin_prefetch(at(n).name.data()); });
  }
  // Enters a new symbol (name already known to be absent), keeping a copy
  // of the name.
  Symbol* insert(std::string_view name, u32 hash);
  Symbol* insert(std::string_view name) { return insert(name, name_hash(name)); }

  // Visits every symbol: bucket 0 to 511, each newest first.
  template <class F>
  void for_each(F&& visit) const {
    for_each_numbered([&visit](u32, const Symbol& s) { visit(s); });
  }

  // The same walk with each symbol's number, by which operator[] finds it
  // again: four bytes where a reference takes eight. The walk jumps all
  // over the table, so each symbol is asked for a few steps ahead of its
  // visit and the loads overlap. `coming`, when given, sees each symbol
  // half as many steps ahead (once it has arrived), to ask for what the
  // visit will read through it.
  template <class F>
  void for_each_numbered(F&& visit) const {
    for_each_numbered(visit, [](const Symbol&) {});
  }
  template <class F, class Coming>
  void for_each_numbered(F&& visit, Coming&& coming) const {
    const std::vector<u32> order = walk_order();
    for (std::size_t i = 0; i != order.size(); ++i) {
      if (i + kWalkAhead < order.size()) __builtin_prefetch(&at(order[i + kWalkAhead]));
      if (i + kWalkAhead / 2 < order.size()) coming(std::as_const(at(order[i + kWalkAhead / 2])));
      visit(order[i], std::as_const(at(order[i])));
    }
  }
  // How far ahead for_each_numbered asks for a symbol.
  static constexpr std::size_t kWalkAhead = 16;
  const Symbol& operator[](u32 n) const { return at(n); }

  // Visits every symbol in the order they were entered: the fast walk,
  // for work whose order does not show.
  template <class F>
  void for_each_entered(F&& visit) {
    for (u32 n = 0; n < count_; ++n) visit(at(n));
  }
  template <class F>
  void for_each_entered(F&& visit) const {
    for (u32 n = 0; n < count_; ++n) visit(std::as_const(at(n)));
  }

  std::size_t size() const { return count_; }

  // Set while the -d definitions are evaluated.
  bool applying_global_definitions = false;

 private:
  static constexpr unsigned kChunkBits = 10;
  static constexpr u32 kChunkSize = u32{1} << kChunkBits;

  Symbol& at(u32 n) const { return chunks_[n >> kChunkBits][n & (kChunkSize - 1)]; }
  // The symbol numbers in the order of for_each.
  std::vector<u32> walk_order() const;

  NumberIndex index_;                              // name to symbol number
  std::vector<std::unique_ptr<Symbol[]>> chunks_;  // kChunkSize symbols each
  u32 count_ = 0;
  StringArena names_;
};

// Finds the symbol; with `create`, enters a missing one (a name of 128
// characters or more is reported and cut to 128).
Symbol* lookup_symbol(LinkContext& ctx, std::string_view name, bool create);
// Finds or creates a name the linker makes itself (the end-of-area
// symbols): no length report, the name is kept whole.
Symbol* lookup_linker_symbol(LinkContext& ctx, std::string_view name);
// Address of a symbol: value, plus its part's address unless absolute.
// While -d definitions are applied, a part not placed yet is fatal.
u32 symbol_address(LinkContext& ctx, const Symbol& sym);
// The same once every area is placed (the reports after placement).
u32 placed_address(const Symbol& sym);
// Address of a named symbol (defined or not); false when there is none.
bool find_symbol_address(LinkContext& ctx, std::string_view name, u32& address);
// Pass-0 handler of an S line ("S name kind-word value", read through `lex`).
// With `mark_scanned` the symbol is marked as a scanned definition or
// reference (the library pre-scan left the name to the table).
Symbol* define_symbol(LinkContext& ctx, Lexer& lex, Header* header, AreaPart* area_part, bool mark_scanned = false);
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
// stands (no line end), and counted in `diag` as an error beyond the error
// limit.
void write_undefined_symbols(const LinkContext& ctx, Diagnostics& diag, std::FILE* map);

}  // namespace zeld
