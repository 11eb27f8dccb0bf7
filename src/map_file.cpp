// The link report and the absolute listing, written by the driver after
// pass 1 of a link without errors (again as <base>.emp with extended
// labels). Areas are placed, symbols final and the image holds the code by
// then: nothing here moves an address, it only reads and reports.
//
// The map lists each area with its symbols by address, the files and their
// modules, the -d definitions and the range options. The listing copies
// each object's assembler listing (<object>.lis), rebasing area offsets on
// the global labels ("name::") and showing the image's bytes:
//
//   0003                    _main::   ->    C007                     _main::
//   0003  CC0000    ldd #_main        ->    C007  CCC007    ldd #_main
//
// Listings are streamed; a line longer than kMaxListingLine comes in pieces.
#include "map_file.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "context.h"
#include "paths.h"

namespace zeld {

namespace {

constexpr u32 kUnknownBase = 0xFFFFFFFF;
constexpr int kAddressWidth = 4;
// Code bytes start after the address and two separating characters.
constexpr std::size_t kCodeColumn = kAddressWidth + 2;

void put(std::FILE* f, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), f);
}

bool is_space(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool is_hex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// ---- the map: areas --------------------------------------------------------

struct MapSymbol {
  u32 address;
  const Symbol* symbol;
};

// Every area's symbols from one walk of the table, each list sorted by
// address; equal addresses keep the order of the walk.
std::vector<std::vector<MapSymbol>> symbols_by_area(LinkContext& ctx) {
  std::vector<std::vector<MapSymbol>> by_area(ctx.areas.list().size());
  ctx.symbols.for_each([&](const Symbol& s) {
    if (!s.area_part || !s.area_part->area) return;
    std::size_t index = s.area_part->area->index;
    if (index < by_area.size()) by_area[index].push_back({symbol_address(ctx, s), &s});
  });
  for (std::vector<MapSymbol>& list : by_area)
    std::stable_sort(list.begin(), list.end(),
                     [](const MapSymbol& a, const MapSymbol& b) { return a.address < b.address; });
  return by_area;
}

// The default map leaves the marker symbols out, the extended map lists
// nothing else; compiler-made hidden labels never show in area text.
bool listed_in_map(const LinkContext& ctx, const Area& area, const Symbol& s) {
  bool marker = (s.flags & SYM_MARKERS) != 0;
  if (ctx.options.emit_extended_labels == 2 ? !marker : marker) return false;
  return !((s.flags & SYM_HIDDEN) && equals_ignoring_case(area.name, "text"));
}

void write_area_map(LinkContext& ctx, std::FILE* map, const Area& area, const std::vector<MapSymbol>& symbols) {
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
  for (const MapSymbol& m : symbols) {
    if (!listed_in_map(ctx, area, *m.symbol)) continue;
    put(map, "\n     ");
    if (ext_code) {
      u32 paged = page_window_address(m.address);
      std::fprintf(map, " %X:%04X ", paged >> 16, paged & 0xFFFF);
    } else {
      std::fprintf(map, "  %04X  ", m.address);
    }
    std::fprintf(map, "%.*s", static_cast<int>(kMaxNameLength), m.symbol->name.c_str());
  }
  put(map, "\n");
}

// ---- the map: files, definitions, ranges -----------------------------------

// Module names after their file, in lines that break once 80 characters of
// names are written: "main.o\t[ main, util ]".
void write_modules_of(LinkContext& ctx, std::FILE* map, const InputFile* node, std::size_t& cursor) {
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

void relocate_module_listing(LinkContext& ctx, std::FILE* listing_out, const std::string& object_name) {
  std::string name = object_name;
  std::FILE* listing = open_module_listing(name);
  if (!listing) return;
  std::unique_ptr<std::FILE, FileCloser> closer(listing);
  relocate_listing(ctx, listing_out, listing, name);
}

void write_files_linked(LinkContext& ctx, std::FILE* map, std::FILE* listing_out) {
  put(map, "\nFiles Linked      [ module(s) ]\n\n");
  std::size_t cursor = 0;
  for (const std::unique_ptr<InputFile>& node : ctx.input_files) {
    if (node->kind == INPUT_LIBRARY_EXTRACT) {
      std::fprintf(map, "%s\t", "<library>");
    } else {
      std::fprintf(map, "%s\t", node->name.c_str());
      relocate_module_listing(ctx, listing_out, node->name);
    }
    write_modules_of(ctx, map, node.get(), cursor);
  }
}

void write_user_definitions(LinkContext& ctx, std::FILE* map) {
  if (ctx.global_definitions.empty()) return;
  put(map, "\nUser Global Definitions\n\n");
  for (const std::string& text : ctx.global_definitions) {
    ctx.lex.reset(text);
    std::string name(ctx.lex.get_identifier());
    Symbol* s = lookup_symbol(ctx, name, true);
    std::fprintf(map, "%s = 0x%x\n", name.c_str(), s->value);
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

// An area's -b line is written once per run: the extended map, written
// second, has none.
void write_area_definitions(LinkContext& ctx, std::FILE* map) {
  put(map, "\nArea Definitions\n\n");
  for (const RangeOption& entry : ctx.range_options.area_range_options) {
    Area* area = ctx.areas.find(entry.name);
    if (!area || area->map_listed) continue;
    area->map_listed = true;
    std::fprintf(map, "-b%s", entry.name.c_str());
    print_address_ranges(map, entry.ranges);
    put(map, "\n");
  }
  write_hole_options(map, "-roh", ctx.range_options.rom_holes);
  write_hole_options(map, "-rwh", ctx.range_options.ram_holes);
  put(map, "\n");
}

// ---- the listing -------------------------------------------------------------

// Reads the next piece of a listing: a line without its line feed (a
// carriage return before it is dropped), or the first kMaxListingLine
// characters of a longer line. False at the end of the file.
bool read_listing_line(std::FILE* f, std::string& line, bool& ended_with_newline) {
  line.clear();
  ended_with_newline = false;
  bool any = false;
  int c;
  while (line.size() < kMaxListingLine && (c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\r') {
      int next = std::getc(f);
      if (next == '\n')
        c = '\n';
      else if (next != EOF)
        std::ungetc(next, f);
    }
    if (c == '\n') {
      ended_with_newline = true;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  return any;
}

// The hexadecimal number a listing line starts with, after white space and
// an optional 0x; a value past 32 bits stays at 0xFFFFFFFF.
struct LeadingNumber {
  bool found = false;
  u32 value = 0;
  std::size_t end = 0;  // where the text after the number begins
};

LeadingNumber parse_leading_number(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_space(line[i])) ++i;
  if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') && is_hex(line[i + 2]))
    i += 2;
  LeadingNumber n;
  u64 value = 0;
  std::size_t j = i;
  for (; j < line.size() && is_hex(line[j]); ++j) {
    value = value * 16 + static_cast<u64>(digit_value(static_cast<unsigned char>(line[j]), 16));
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  if (j == i) return n;
  n.found = true;
  n.value = static_cast<u32>(value);
  n.end = j;
  return n;
}

struct ListingState {
  u32 base = kUnknownBase;
  u32 label_offset = 0;
  bool skipping = false;  // inside a paged or global area: copied as it stands
  int line_number = 0;
};

// The word of a directive (".area", ".org"), or empty when `rest` holds none.
std::string_view directive_word(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && is_space(rest[i])) ++i;
  if (i + 1 < rest.size() && rest[i] == '.' && std::isalpha(static_cast<unsigned char>(rest[i + 1])))
    return rest.substr(i + 1);
  return {};
}

void report_unknown_label(LinkContext& ctx, const std::string& listing_name, int line_number,
                          const std::string& label) {
  ctx.diag.set_current_file(listing_name);
  ctx.diag.current_line_number = line_number;
  ctx.diag.error("can't find address for symbol '%s'", label.c_str());
}

void write_code_bytes(LinkContext& ctx, std::FILE* out, std::string_view line, u32 address) {
  put(out, " ");
  std::size_t i = kCodeColumn;
  for (; i < line.size() && is_hex(line[i]); i += 2, ++address) {
    const Image& image = find_memory_map(ctx, static_cast<int>((address >> 16) & 0xFF));
    std::fprintf(out, "%02X", image.byte_at(address & 0xFFFF));
  }
  put(out, line.substr(std::min(i, line.size())));
}

// One listing line, without its line feed.
void relocate_listing_line(LinkContext& ctx, std::FILE* out, std::string_view line, ListingState& st,
                           const std::string& listing_name) {
  std::size_t semicolon = line.find(';');
  auto before_comment = [&](std::size_t pos) {
    return pos != std::string_view::npos && (semicolon == std::string_view::npos || pos < semicolon)
               ? pos
               : std::string_view::npos;
  };
  std::size_t equals = before_comment(line.find('='));
  std::size_t colon = before_comment(line.find(':'));
  bool has_code = line.size() > kCodeColumn && is_hex(line[kCodeColumn]);
  LeadingNumber number = parse_leading_number(line);
  std::string_view rest = number.found ? line.substr(number.end) : line;
  std::string_view directive = directive_word(rest);

  if (directive.empty() && number.found && equals == std::string_view::npos && !st.skipping) {
    bool label_line = false;
    if (colon != std::string_view::npos) {
      std::size_t start = colon;
      while (start > 0 && !is_space(line[start - 1])) --start;
      std::string label(line.substr(start, colon - start));
      if (!label.empty() && colon + 1 < line.size() && line[colon + 1] == ':') {
        u32 address;
        if (find_symbol_address(ctx, label, address))
          st.base = address;
        else
          report_unknown_label(ctx, listing_name, st.line_number, label);
        st.label_offset = number.value;
        label_line = true;
      }
    }
    u32 address;
    if (label_line) {
      address = st.base;
    } else if (st.base == kUnknownBase || number.value < st.label_offset) {
      std::fprintf(out, "%s%0*X", "--- ", kAddressWidth, number.value);
      put(out, rest);
      return;
    } else {
      address = number.value - st.label_offset + st.base;
    }
    std::fprintf(out, " %0*X ", kAddressWidth, address);
    if (has_code)
      write_code_bytes(ctx, out, line, address);
    else
      put(out, rest);
    return;
  }

  if (starts_with_ignoring_case(directive, "org")) {
    st.base = 0;
    st.label_offset = 0;
  } else if (starts_with_ignoring_case(directive, "area")) {
    st.base = kUnknownBase;
    st.label_offset = 0;
    st.skipping = line.find("paged") != std::string_view::npos || line.find("global") != std::string_view::npos;
  }
  put(out, line);
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

std::FILE* open_module_listing(std::string& name) {
  if (name.find('.') == std::string::npos) return nullptr;
  name = replace_extension(name, ".lis");
  if (name.size() > kMaxFileNameLength) return nullptr;
  return std::fopen(name.c_str(), "r");
}

void relocate_listing(LinkContext& ctx, std::FILE* out, std::FILE* listing, const std::string& listing_name) {
  ListingState st;
  std::string line;
  bool newline = false;
  int lines_ended = 0;  // pieces of an over-long line share its number
  while (read_listing_line(listing, line, newline)) {
    st.line_number = lines_ended + 1;
    relocate_listing_line(ctx, out, line, st, listing_name);
    if (newline) {
      put(out, "\n");
      ++lines_ended;
    }
  }
}

void write_map_file(LinkContext& ctx, const char* extension) {
  const Options& o = ctx.options;
  OutputStream listing(open_file(ctx.diag, o.output_base_name, "lst", "w"));
  OutputStream map(open_file(ctx.diag, o.output_base_name, extension, "w"));

  std::string date = map_date_text(ctx.link_time) + "\n";
  std::fprintf(map.get(), "Project:      %s\nBuild Number: %d\nDate:         %sCompiler:     ZOL%s\nVersion:      %s\n\n",
               o.output_base_name.c_str(), o.build_number, date.c_str(), "12", kVersion);
  put(listing.get(),
      "WARNING: EXTCODE CODE AREA DO NOT CONTAIN RELOCATED ADDRESSES.\nTHIS WILL BE REMEDIED IN A LATER RELEASE.\n");

  std::vector<std::vector<MapSymbol>> symbols = symbols_by_area(ctx);
  for (const Area* area : ctx.areas.list()) write_area_map(ctx, map.get(), *area, symbols[area->index]);

  write_files_linked(ctx, map.get(), listing.get());
  listing.reset();

  write_user_definitions(ctx, map.get());
  write_area_definitions(ctx, map.get());
  report_undefined_symbols(ctx, map.get());
}

}  // namespace zeld
