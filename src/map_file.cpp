// The link report, written by the driver after pass 1 of a link without
// errors and after the listing (again as <base>.emp with extended labels).
// Areas are placed and symbols final by then: nothing here moves an
// address, it only reads and reports.
//
// The map lists each area with its symbols by address, the files and their
// modules, the -d definitions and the range options.
#include "map_file.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "context.h"

namespace zeld {

namespace {

// ---- the map: areas --------------------------------------------------------

// Eight bytes: a map may list hundreds of thousands of symbols.
struct MapSymbol {
  u32 address;
  u32 number;  // in the symbol table
};

// Every area's symbols from one walk of the table, each list sorted by
// address; equal addresses keep the order of the walk.
std::vector<std::vector<MapSymbol>> symbols_by_area(const LinkContext& ctx) {
  std::vector<std::vector<MapSymbol>> by_area(ctx.areas.list().size());
  ctx.symbols.for_each_numbered(
      [&](u32 number, const Symbol& s) {
        if (!s.area_part || !s.area_part->area) return;
        std::size_t index = s.area_part->area->index;
        if (index < by_area.size()) by_area[index].push_back({placed_address(s), number});
      },
      [](const Symbol& coming) {
        if (coming.area_part) __builtin_prefetch(coming.area_part);
      });
  for (std::vector<MapSymbol>& list : by_area)
    std::stable_sort(list.begin(), list.end(),
                     [](const MapSymbol& a, const MapSymbol& b) { return a.address < b.address; });
  return by_area;
}

// The default map leaves the marker symbols out, the extended map lists
// nothing else; compiler-made hidden labels never show in area text.
bool listed_in_map(MapKind kind, const Area& area, const Symbol& s) {
  bool marker = (s.flags & SYM_MARKERS) != 0;
  if (kind == MapKind::Extended ? !marker : marker) return false;
  return !((s.flags & SYM_HIDDEN) && equals_ignoring_case(area.name, "text"));
}

void write_area_map(MapKind kind, std::FILE* map, const Area& area, const std::vector<MapSymbol>& symbols,
                    const SymbolTable& table) {
  bool absolute = (area.flags & AREA_ABS) != 0;
  bool ext_code = (area.flags & AREA_EXT_CODE) != 0;
  if (area.size == 0 && !(absolute && !area.parts.empty())) return;

  put(map, ext_code ? "\nArea   [ Extended Code Page ]      " : "\nArea                               ");
  put(map, absolute ? "Start  End    Decimal Bytes (Attributes)\n" : "Addr   Size   Decimal Bytes (Attributes)\n");
  put(map, "--------------------------------   ----   ----   ------- ----- ------------\n");

  std::fprintf(map, "%*s", 32, area.name.c_str());
  std::fprintf(map, "   %04X   %04X", area.address, area.size);
  std::fprintf(map, " = %6u. bytes ", area.size);
  put(map, absolute ? "(abs" : "(rel");
  put(map, (area.flags & AREA_OVR) ? ",ovr" : ",con");
  if (area.flags & AREA_PAG) put(map, ",pag");
  put(map, (area.flags & AREA_RAM) ? ",ram" : ",rom");
  put(map, ")");
  if (area.flags & AREA_PAG) {
    bool boundary = (area.address & 0xFF) != 0;
    bool length = area.size > 256;
    if (boundary || length) {
      put(map, "  ");
      if (boundary) put(map, " Boundary");
      if (boundary && length) put(map, " /");
      if (length) put(map, " Length");
      put(map, " Error");
    }
  }

  if (symbols.empty()) {
    put(map, "\n");
    return;
  }
  put(map, "\n\n");
  put(map, ext_code ? "CPU ExtAddr  Global Symbol\n" : "       Addr  Global Symbol\n");
  put(map, "      -----  --------------------------------");
  // Each line is made whole and put at once: a map may list hundreds of
  // thousands of symbols.
  char line[16 + 8 + 8 + kMaxNameLength];  // text, two numbers of at most 8 digits, the name
  // Sorted by address, the symbols lie all over the table: each one, and
  // then its name, is asked for some lines ahead.
  constexpr std::size_t kAhead = 16;
  for (std::size_t i = 0; i != symbols.size(); ++i) {
    if (i + kAhead < symbols.size()) __builtin_prefetch(&table[symbols[i + kAhead].number]);
    if (i + kAhead / 2 < symbols.size()) __builtin_prefetch(table[symbols[i + kAhead / 2].number].name.data());
    const MapSymbol& m = symbols[i];
    const Symbol& symbol = table[m.number];
    if (!listed_in_map(kind, area, symbol)) continue;
    char* p = line;
    auto add = [&p](std::string_view text) {
      std::memcpy(p, text.data(), text.size());
      p += text.size();
    };
    char digits[8];
    if (ext_code) {
      u32 paged = page_window_address(m.address);
      add("\n      ");
      add(hex_digits(paged >> 16, 1, digits));
      add(":");
      add(hex_digits(paged & 0xFFFF, 4, digits));
      add(" ");
    } else {
      add("\n       ");
      add(hex_digits(m.address, 4, digits));
      add("  ");
    }
    add(std::string_view(symbol.name).substr(0, kMaxNameLength));
    put(map, std::string_view(line, static_cast<std::size_t>(p - line)));
  }
  put(map, "\n");
}

// ---- the map: files, definitions, ranges -----------------------------------

// Module names after their file, in lines that break once 80 characters of
// names are written: "main.o\t[ main, util ]".
void write_modules_of(const LinkContext& ctx, std::FILE* map, const InputFile* node, std::size_t& cursor) {
  const std::deque<Header>& headers = ctx.reader.headers;
  std::size_t column = 0;
  for (; cursor < headers.size() && headers[cursor].input_file == node; ++cursor) {
    put(map, column == 0 ? "[ " : ", ");
    put(map, headers[cursor].name);
    column += headers[cursor].name.size();
    if (column >= 80) {
      put(map, " ]\n");
      column = 0;
    }
  }
  if (column != 0) put(map, " ]");
  put(map, "\n");
}

void write_files_linked(const LinkContext& ctx, std::FILE* map) {
  put(map, "\nFiles Linked      [ module(s) ]\n\n");
  std::size_t cursor = 0;
  for (const std::unique_ptr<InputFile>& node : ctx.input_files) {
    std::fprintf(map, "%s\t", display_name(*node).c_str());
    write_modules_of(ctx, map, node.get(), cursor);
  }
}

// Every definition entered its symbol when it was applied.
void write_user_definitions(const LinkContext& ctx, std::FILE* map) {
  if (ctx.global_definitions.empty()) return;
  put(map, "\nUser Global Definitions\n\n");
  Lexer lex;
  for (const std::string& text : ctx.global_definitions) {
    lex.reset(text);
    std::string name(lex.get_identifier());
    const Symbol* s = ctx.symbols.find(name);
    std::fprintf(map, "%s = 0x%x\n", name.c_str(), s ? s->value : 0u);
  }
}

void write_hole_options(std::FILE* map, const char* option, const std::vector<RangeOption>& holes) {
  for (const RangeOption& hole : holes) {
    put(map, option);
    if (hole.name != kFakeHoleName) std::fprintf(map, ":%s", hole.name.c_str());
    print_address_ranges(map, hole.ranges);
    put(map, "\n");
  }
}

// An area's -b line is written once per run, from its first -b option:
// the extended map, written second, has none. Options naming no area are
// left out.
void write_area_definitions(const LinkContext& ctx, MapKind kind, std::FILE* map) {
  put(map, "\nArea Definitions\n\n");
  std::unordered_set<const Area*> listed;
  for (const RangeOption& entry : ctx.range_options.area_range_options) {
    const Area* area = kind == MapKind::Standard ? ctx.areas.find(entry.name) : nullptr;
    if (!area || !listed.insert(area).second) continue;
    std::fprintf(map, "-b%s", entry.name.c_str());
    print_address_ranges(map, entry.ranges);
    put(map, "\n");
  }
  write_hole_options(map, "-roh", ctx.range_options.rom_holes);
  write_hole_options(map, "-rwh", ctx.range_options.ram_holes);
  put(map, "\n");
}

}  // namespace

std::string map_date_text(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
#ifdef _WIN32
  bool converted = localtime_s(&tm, &when) == 0;
#else
  bool converted = localtime_r(&when, &tm) != nullptr;
#endif
  if (!converted || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11)
    return "??? ??? ?? ??:??:?? ????";
  return strprintf("%.3s %.3s%3d %.2d:%.2d:%.2d %lld", kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday,
                   tm.tm_hour, tm.tm_min, tm.tm_sec, 1900LL + tm.tm_year);
}

const char* map_extension(MapKind kind) { return kind == MapKind::Extended ? "emp" : "mp"; }

void write_map(const LinkContext& ctx, Diagnostics& diag, MapKind kind, std::FILE* out) {
  const Options& o = ctx.options;

  std::string date = map_date_text(ctx.link_time) + "\n";
  std::fprintf(out, "Project:      %s\nBuild Number: %d\nDate:         %sCompiler:     ZOL%s\nVersion:      %s\n\n",
               o.output_base_name.c_str(), o.build_number, date.c_str(), "12", kVersion);

  std::vector<std::vector<MapSymbol>> symbols = symbols_by_area(ctx);
  for (const Area* area : ctx.areas.list()) write_area_map(kind, out, *area, symbols[area->index], ctx.symbols);

  write_files_linked(ctx, out);
  write_user_definitions(ctx, out);
  write_area_definitions(ctx, kind, out);
  write_undefined_symbols(ctx, diag, out);
}

void write_map_file(const LinkContext& ctx, Diagnostics& diag, MapKind kind) {
  OutputFile map = OutputFile::create(diag, ctx.options.output_base_name, map_extension(kind), "w");
  write_map(ctx, diag, kind, map.get());
  map.finish(diag);
}

}  // namespace zeld
