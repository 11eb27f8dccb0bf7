// The global symbol table: lookup, the S-line handler of pass 0, addresses,
// and the report of symbols that no module or option ever defined.
//
// Pass 0 hands every S line to define_symbol, which enters the name, applies
// the kind (R reference, D area-relative definition, E absolute value),
// detects conflicting definitions and files the symbol in its module's
// number space. Between the passes the -d definitions and the end-of-area
// symbols are added, then report_undefined_symbols names each symbol that
// is still undefined with the first module (reading order) that lists it.
//
// The first module of each undefined symbol is found by one walk of the
// modules' symbol lists in reading order, made only when some symbol is
// undefined.
// Names of 128 characters or more are reported and cut to 128, except the
// names the linker makes itself, which are kept whole.
#include "symbols.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <unordered_map>

#include "areas.h"
#include "context.h"
#include "paths.h"

namespace zeld {

namespace {

void report_name_too_long(LinkContext& ctx, std::string_view name) {
  std::string full(name);
  ctx.diag.error_at(ctx.reader.place, "Symbol \"%s\" name too long", full.c_str());
}

void report_multiple_define(LinkContext& ctx, const Symbol& sym) {
  std::string name(sym.name);
  ctx.diag.error_at(ctx.reader.place, "multiple define: '%s'", name.c_str());
}

// Code-page, section and line markers are told apart by their first four
// characters; at most one applies.
u16 marker_flag(std::string_view name) {
  static constexpr struct {
    std::string_view prefix;
    u16 flag;
  } kMarkers[] = {
      {"$sb$", SYM_MARK_SB}, {"$se$", SYM_MARK_SE}, {"$lb$", SYM_MARK_LB},
      {"$le$", SYM_MARK_LE}, {"$cb$", SYM_MARK_CB}, {"$ce$", SYM_MARK_CE},
  };
  for (const auto& m : kMarkers)
    if (name.substr(0, 4) == m.prefix) return m.flag;
  return 0;
}

// Hidden symbols are compiler-made labels in the code areas that the map
// of area "text" leaves out.
bool in_code_area(const AreaPart* part) {
  if (!part || !part->area) return false;
  return equals_ignoring_case(part->area->name, "text") || equals_ignoring_case(part->area->name, "UserModules");
}

// Functions the default library leaves to the target: "<name>$device_specific$".
constexpr std::string_view kDeviceSpecificSuffix = "$device_specific$";

std::string undefined_symbol_message(const Symbol& sym, const Header& header) {
  std::string_view name = sym.name;
  std::size_t dollar = name.find('$');
  if (dollar != std::string_view::npos && name.substr(dollar) == kDeviceSpecificSuffix) {
    std::string function(name.substr(0, dollar));
    if (!function.empty() && function.front() == '_') function.erase(0, 1);
    return strprintf(
        "Function '%s' not defined. This is a hardware dependent function,\n  and it is not included in the ZOL%s "
        "default library. Please implement\n  this function to match your target requirements. You can find "
        "examples\n  of this function under the <install root>\\examples.%s directory. Make\n  a copy of a "
        "suitable example, add it to your project and modify it if\n  needed. The source code must #include the "
        "appropriate C header file\n  (e.g. stdio.h) as it contains the special compiler pragma for '%s'.\n",
        function.c_str(), "12", "12", function.c_str());
  }
  std::string object = replace_extension(header.name, ".o");
  std::string symbol(name);
  return strprintf("file '%s': undefined symbol '%s'", object.c_str(), symbol.c_str());
}

// Calls report(text) for every undefined symbol, in table order. A symbol
// that no module lists (a reference made by the linker itself) has nobody
// to blame and is not reported. The reports concern the link, not the
// module last read.
template <class Report>
void for_each_undefined_symbol(const LinkContext& ctx, Report&& report) {
  std::unordered_map<const Symbol*, const Header*> first_header;
  ctx.symbols.for_each_entered([&](const Symbol& sym) {
    if (!(sym.flags & SYM_DEFINED)) first_header.emplace(&sym, nullptr);
  });
  if (first_header.empty()) return;
  bool any = false;
  for (const Header& header : ctx.reader.headers)
    for (const Symbol* sym : header.symbols) {
      auto it = first_header.find(sym);
      if (it == first_header.end() || it->second) continue;
      it->second = &header;
      any = true;
    }
  if (!any) return;
  ctx.symbols.for_each([&](const Symbol& sym) {
    if (sym.flags & SYM_DEFINED) return;
    if (const Header* header = first_header.at(&sym)) report(undefined_symbol_message(sym, *header));
  });
}

// Bucket of a name: the sum of its first 128 characters as signed bytes,
// low nine bits.
int symbol_hash(std::string_view name) {
  int sum = 0;
  for (std::size_t i = 0; i < name.size() && i < kMaxNameLength; ++i) sum += static_cast<signed char>(name[i]);
  return sum & 0x1FF;
}

}  // namespace

Symbol* SymbolTable::find(std::string_view name, u32 hash) const {
  u32 n = index_.find(name, hash, [this](u32 m) { return at(m).name; });
  return n == NumberIndex::kAbsent ? nullptr : &at(n);
}

Symbol* SymbolTable::insert(std::string_view name, u32 hash) {
  const u32 n = count_;  // memory runs out long before 2^32 symbols
  if ((n & (kChunkSize - 1)) == 0) chunks_.push_back(std::make_unique<Symbol[]>(kChunkSize));
  ++count_;
  Symbol& s = at(n);
  s.name = name.empty() ? std::string_view("") : names_.keep(name);
  s.bucket = static_cast<u16>(symbol_hash(name));
  index_.insert_absent(hash, n);
  return &s;
}

// A counting sort by bucket; numbers taken from the newest down stay in
// that order within a bucket.
std::vector<u32> SymbolTable::walk_order() const {
  std::array<u32, kBuckets + 1> next{};
  for (u32 n = 0; n < count_; ++n) ++next[at(n).bucket + 1];
  for (int b = 0; b < kBuckets; ++b) next[b + 1] += next[b];
  std::vector<u32> order(count_);
  for (u32 n = count_; n-- > 0;) order[next[at(n).bucket]++] = n;
  return order;
}

Symbol* lookup_symbol(LinkContext& ctx, std::string_view name, bool create) {
  const u32 hash = name_hash(name);
  Symbol* s = ctx.symbols.find(name, hash);
  if (s || !create) return s;
  if (name.size() < kMaxNameLength) return ctx.symbols.insert(name, hash);
  report_name_too_long(ctx, name);
  // A longer name may already stand in the table under its first 128
  // characters; entering it twice would give one name two symbols.
  std::string_view kept = name.substr(0, kMaxNameLength);
  const u32 kept_hash = name_hash(kept);
  s = ctx.symbols.find(kept, kept_hash);
  return s ? s : ctx.symbols.insert(kept, kept_hash);
}

Symbol* lookup_linker_symbol(LinkContext& ctx, std::string_view name) {
  const u32 hash = name_hash(name);
  Symbol* s = ctx.symbols.find(name, hash);
  return s ? s : ctx.symbols.insert(name, hash);
}

u32 symbol_address(LinkContext& ctx, const Symbol& sym) {
  if (sym.area_part && !(sym.flags & SYM_ABSOLUTE)) {
    const Area* area = sym.area_part->area;
    if (ctx.symbols.applying_global_definitions && area && !area->placed)
      ctx.diag.fatal("command line option: symbol '%s' address not yet known", std::string(sym.name).c_str());
  }
  return placed_address(sym);
}

u32 placed_address(const Symbol& sym) {
  return sym.area_part && !(sym.flags & SYM_ABSOLUTE) ? sym.value + sym.area_part->address : sym.value;
}

bool find_symbol_address(LinkContext& ctx, std::string_view name, u32& address) {
  Symbol* s = lookup_symbol(ctx, name, false);
  if (!s) return false;
  address = symbol_address(ctx, *s);
  return true;
}

// S name kind-word value: the kind is the word's first character, the
// second matters only for D ('x' hides), the third is skipped unseen.
Symbol* define_symbol(LinkContext& ctx, Lexer& lex, Header* header, AreaPart* area_part, bool mark_scanned) {
  std::string_view name = lex.get_identifier(-1);  // valid until the lexer reads another name
  int kind = lex.get_nonblank();
  int second = lex.get_char();
  lex.get_char();
  u32 value = kind == 'R' || kind == 'D' || kind == 'E' ? lex.read_number() : 0;
  Symbol* sym = enter_module_symbol(ctx, header, area_part, name, kind, second, value);
  if (mark_scanned) sym->flags |= kind == 'R' ? SYM_SCANNED_REFERENCE : SYM_SCANNED_DEFINITION;
  return sym;
}

Symbol* enter_module_symbol(LinkContext& ctx, Header* header, AreaPart* area_part, std::string_view name, int kind,
                            int second, u32 value) {
  Symbol* sym = lookup_symbol(ctx, name, true);
  switch (kind) {
    case 'R':
      sym->flags |= SYM_REFERENCED;
      if (value != 0) ctx.diag.error_at(ctx.reader.place, "non zero S_REF");
      break;
    case 'D': {
      if (sym->flags & SYM_DEFINED) report_multiple_define(ctx, *sym);
      if (second == 'x' && in_code_area(area_part)) sym->flags |= SYM_HIDDEN;
      sym->flags |= SYM_DEFINED;
      sym->value = value;
      sym->area_part = area_part;
      sym->flags |= marker_flag(sym->name);
      break;
    }
    case 'E': {
      // Repeating an absolute value is harmless, but a value equal to the
      // offset of an area-relative definition names another address.
      if ((sym->flags & SYM_DEFINED) && (sym->value != value || !(sym->flags & SYM_ABSOLUTE)))
        report_multiple_define(ctx, *sym);
      sym->flags |= SYM_DEFINED | SYM_ABSOLUTE;
      sym->value = value;
      sym->area_part = area_part;
      break;
    }
    default:
      // The end of the line stands as a blank rather than a NUL byte.
      ctx.diag.fatal("invalid symbol type %c for '%s'", kind == 0 ? ' ' : kind, std::string(sym->name).c_str());
  }

  if (!header) ctx.diag.fatal("no header defined");
  if (header->symbols.size() >= header->symbol_capacity) ctx.diag.fatal("header symbol list overflow");
  header->symbols.push_back(sym);
  return sym;
}

void report_undefined_symbols(LinkContext& ctx) {
  const Area* first_area = ctx.areas.first();
  AreaPart* base = first_area && !first_area->parts.empty() ? first_area->parts.front() : nullptr;
  // From here on every non-absolute symbol has a base, so reports and
  // relocation never meet a symbol without one.
  ctx.symbols.for_each_entered([&](Symbol& sym) {
    if (!sym.area_part && !(sym.flags & SYM_ABSOLUTE)) sym.area_part = base;
  });
  for_each_undefined_symbol(ctx, [&](const std::string& text) { ctx.diag.error("%s", text.c_str()); });
}

void write_undefined_symbols(const LinkContext& ctx, Diagnostics& diag, std::FILE* map) {
  for_each_undefined_symbol(ctx, [&](const std::string& text) {
    std::fputs(text.c_str(), map);
    diag.add_error_uncounted_limit();
  });
}

}  // namespace zeld
