// Pass 0 over the object text and pass 1 over its parsed records; see
// object_reader.h. Pass 0 builds the module headers, hands A, S and d lines
// to the area, symbol and debug collectors and parses T, R and P lines into
// the record stream; pass 1 pairs the stream's module entries with the same
// headers in order and hands each record to relocation. Unknown record
// letters and text after a record's fields are ignored.
#include "object_reader.h"

#include <algorithm>

#include "areas.h"
#include "context.h"
#include "debug_info.h"
#include "elf_input.h"
#include "library.h"
#include "relocate.h"
#include "source_text.h"
#include "symbols.h"

namespace zeld {

namespace {

// Slots reserved up front; the H line's capacity may be far larger than
// what the module really holds, so the rest grows on demand.
constexpr u32 kReserveSlots = 64;

// Radix and byte-order line: X (16), D (10) or Q (8), then H or L for the
// byte order, then optionally the word "xgate". Sets the lexer's format.
void read_radix_line(Lexer& lex, int letter) {
  lex.radix = letter == 'X' ? 16 : letter == 'Q' ? 8 : 10;
  int c = lex.get_char();
  if (c == 'H')
    lex.high_byte_first = true;
  else if (c == 'L')
    lex.high_byte_first = false;
  else
    lex.unget_char(c);
  lex.xgate_module = false;
  if (lex.more_on_line() && equals_ignoring_case(lex.get_identifier(), "xgate")) lex.xgate_module = true;
}

// H line: area capacity, a skipped word, symbol capacity.
Header* new_header(LinkContext& ctx, Lexer& lex, const InputFile& file) {
  u32 areas = lex.read_number();
  lex.skip_word(-1);
  u32 symbols = lex.read_number();
  return &add_module_header(ctx, file, areas, symbols);
}

void set_module_name(LinkContext& ctx, Lexer& lex, Header* header) {
  std::string_view name = lex.get_identifier(-1);
  if (header)
    header->name = name;
  else
    ctx.diag.error_at(ctx.reader.place, "no header defined");
}

// ---- Parsing T, R and P lines ----------------------------------------------

// A line that ended with a line feed is followed in the text by its CR
// or LF, which stops every read of a field: the reads of such a line leave
// out their test for the end (kTerminated).

// T line: at most 16 numbers, the load address first.
template <bool kTerminated>
void parse_text_line(Lexer& lex, TextLine& t) {
  // The fields as next_field reads them, straight over the rest of the
  // line: the line's one hot loop keeps its place in a register.
  const std::string_view rest = lex.rest();
  lexer_detail::FieldScanner<kTerminated> scan(rest.data(), rest.data() + rest.size(), lexer_detail::digit_bound(lex.radix));
  int count = 0;
  t.status = TextLine::kOk;
  for (u32 v = 0;;) {
    Field f = scan.field(v);
    if (f == Field::kEnd) break;
    if (f == Field::kNotANumber) {
      t.status = TextLine::kNotANumber;
      break;
    }
    if (count == kMaxRecordValues) {
      t.status = TextLine::kTooManyValues;
      break;
    }
    t.values[static_cast<std::size_t>(count++)] = v;
  }
  lex.move_to(scan.place());
  t.count = count;
  if (t.status != TextLine::kOk)
    t.count = 0;
  else if (count < 2) {
    t.status = TextLine::kNoLoadAddress;
    t.count = 0;
  }
}

// R and P lines: "0 0" (the second number is read only after a 0, as the
// format has always been read), the area index, then items of mode,
// position and index while the next field is a number. Like T lines, one
// loop over the line's rest; the items go to the line's vector, whose room
// the reading of the next lines reuses.
template <bool kTerminated>
void parse_field_line(Lexer& lex, FieldLine& f) {
  const std::string_view rest = lex.rest();
  lexer_detail::FieldScanner<kTerminated> scan(rest.data(), rest.data() + rest.size(), lexer_detail::digit_bound(lex.radix));
  f.zero_pair_ok = scan.number() == 0 && scan.number() == 0;
  f.area_b1 = scan.number();
  f.area_b2 = scan.number();
  f.items.clear();
  f.stopped_at_non_number = false;
  for (u32 mode = 0;;) {
    Field field = scan.field(mode);
    if (field == Field::kEnd) break;
    if (field == Field::kNotANumber) {
      f.stopped_at_non_number = true;
      break;
    }
    FieldItem item;
    item.mode = mode;
    item.position = scan.number();
    item.index_b1 = scan.number();
    item.index_b2 = scan.number();
    f.items.push_back(item);
  }
  lex.move_to(scan.place());
}

// The record side of one line (after its letter): T, R and P lines are
// parsed into the stream, and the events pass 1 must see again are added
// where they occur. True when the line has a handler on the link's state
// as well (A, H, M, S, d and radix lines). `terminated`: a line feed ended
// the line.
bool put_record_side(RecordStream& records, Lexer& lex, int letter, int line, bool terminated, RecordEntry& scratch) {
  switch (letter) {
    case 'T':
      if (terminated)
        parse_text_line<true>(lex, scratch.text);
      else
        parse_text_line<false>(lex, scratch.text);
      records.add_text(line, scratch.text);
      return false;
    case 'R':
    case 'P':
      if (terminated)
        parse_field_line<true>(lex, scratch.fields);
      else
        parse_field_line<false>(lex, scratch.fields);
      records.add_fields(letter == 'R' ? RecordKind::kRelocation : RecordKind::kPaging, line, scratch.fields);
      return false;
    case 'A':
      records.add_event(RecordKind::kArea);
      return true;
    case 'H':
      records.add_event(RecordKind::kHeader);
      return true;
    case 'D':
    case 'Q':
    case 'X':
      read_radix_line(lex, letter);
      records.add_format(lex.high_byte_first, lex.xgate_module);
      return true;
    case 'M':
    case 'S':
    case 'd':
      return true;
    default:
      return false;  // empty lines and unknown records are ignored
  }
}

// The state side of one line (after its letter): modules, areas, symbols,
// debug lines and the format the lexer reads the next lines in.
void apply_state_side(LinkContext& ctx, Lexer& lex, const InputFile& file, int letter) {
  ObjectReader& r = ctx.reader;
  switch (letter) {
    case 'A':
      r.current_area_part = read_area_record(ctx, lex, r.current_header);
      default_page_state(ctx);
      return;
    case 'D':
    case 'Q':
    case 'X':
      read_radix_line(lex, letter);
      return;
    case 'H':
      r.current_header = new_header(ctx, lex, file);
      r.current_area_part = nullptr;
      clear_page_state(ctx);
      return;
    case 'M':
      set_module_name(ctx, lex, r.current_header);
      return;
    case 'S': {
      const bool mark = r.mark_scanned_symbols && lex.position() == 1 && symbol_name_reads_alike(lex.rest());
      define_symbol(ctx, lex, r.current_header, r.current_area_part, mark);
      return;
    }
    case 'd':
      collect_debug_line(ctx, lex, r.current_area_part);
      return;
    default:
      return;
  }
}

}  // namespace

Header& add_module_header(LinkContext& ctx, const InputFile& file, u32 area_capacity, u32 symbol_capacity) {
  ObjectReader& r = ctx.reader;
  Header& h = r.headers.emplace_back();
  h.index = r.headers.size() - 1;
  h.input_file = &file;
  h.area_capacity = area_capacity;
  h.area_parts.reserve(std::min(h.area_capacity, kReserveSlots));
  h.symbol_capacity = symbol_capacity;
  h.symbols.reserve(std::min(h.symbol_capacity, kReserveSlots));
  return h;
}

void parse_record_line(Lexer& lex, int letter, RecordEntry& entry) {
  if (letter == 'T') {
    entry.kind = RecordKind::kText;
    parse_text_line<false>(lex, entry.text);
  } else {
    entry.kind = letter == 'R' ? RecordKind::kRelocation : RecordKind::kPaging;
    parse_field_line<false>(lex, entry.fields);
  }
}

bool has_lines(const InputFile& file) { return !file.elf; }

std::string display_name(const InputFile& file) {
  return file.kind == InputKind::kLibraryMembers ? std::string("<library>") : file.name;
}

// The record side of every line, then the state side of the lines that
// have one: the records of the lines do not depend on the link's state.
void read_object_text(LinkContext& ctx, const InputFile& file, std::string_view text) {
  PreparedText prepared;
  prepare_object_text(text, ctx.reader.radix, ctx.reader.format, prepared);
  read_prepared_text(ctx, file, text, prepared);
}

void PreparedText::clear() {
  start_radix = end_radix = 10;
  start_format = end_format = ModuleFormat{};
  records.clear();
  lines.clear();
  line_entries.clear();
  line_count = 0;
  longest_line = 0;
}

void prepare_object_text(std::string_view text, int radix, ModuleFormat format, PreparedText& out) {
  out.start_radix = radix;
  out.start_format = format;
  Lexer lex;
  lex.radix = radix;
  lex.high_byte_first = format.high_byte_first;
  lex.xgate_module = format.xgate;
  RecordEntry scratch;
  // About the state-side lines and line entries of a usual object, so that
  // the lists rarely grow (a link parses tens of thousands of files, each
  // on its own).
  out.lines.reserve(text.size() / 32 + 16);
  out.line_entries.reserve(text.size() / 64 + 16);
  LineSplitter lines(text, kMaxObjectLine);
  std::string_view line;
  bool newline = false;
  int number = 0;
  std::size_t start = 0;
  while (lines.next(line, newline)) {
    out.longest_line = std::max(out.longest_line, lines.offset() - start);
    start = lines.offset();
    if (newline) ++number;
    // The record letter as record_letter reads it: nearly every line
    // starts with it (no blank, NUL or ';' before it).
    int letter;
    if (!line.empty() && lexer_detail::kFieldTable[static_cast<unsigned char>(line[0])] < lexer_detail::kBlank) {
      letter = static_cast<unsigned char>(line[0]);
      lex.reset(line, 1);
    } else {
      lex.reset(line);
      letter = lex.record_letter();
    }
    const std::size_t offset = static_cast<std::size_t>(line.data() - text.data());
    if (PreparedText::LineEntry e; letter == 'd' && read_debug_line_entry(lex, e.line, e.address)) {
      out.lines.push_back(PreparedText::Line{offset, PreparedText::kLineEntry, number});
      out.line_entries.push_back(e);
    } else if (put_record_side(out.records, lex, letter, number, newline, scratch)) {
      out.lines.push_back(PreparedText::Line{offset, static_cast<u32>(line.size()), number});
    }
  }
  out.line_count = number;
  out.end_radix = lex.radix;
  out.end_format = ModuleFormat{lex.high_byte_first, lex.xgate_module};
}

bool read_prepared_text(LinkContext& ctx, const InputFile& file, std::string_view text, PreparedText& prepared) {
  ObjectReader& r = ctx.reader;
  if (prepared.start_radix != r.radix || prepared.start_format.high_byte_first != r.format.high_byte_first ||
      prepared.start_format.xgate != r.format.xgate)
    return false;
  r.records.add_file_start(static_cast<u32>(r.files.size()));
  r.files.push_back(&file);
  r.place = ReportPlace{display_name(file), 0};
  r.records.append(prepared.records);
  // The state side reads in the format the file before left in force.
  Lexer lex;
  lex.radix = r.radix;
  lex.high_byte_first = r.format.high_byte_first;
  lex.xgate_module = r.format.xgate;
  const PreparedText::LineEntry* entry = prepared.line_entries.data();
  for (const PreparedText::Line& line : prepared.lines) {
    r.place.line = line.number;
    if (line.length == PreparedText::kLineEntry) {
      collect_debug_line_entry(ctx, entry->line, entry->address);
      ++entry;
      continue;
    }
    lex.reset(text.substr(line.offset, line.length));
    int letter = lex.record_letter();
    apply_state_side(ctx, lex, file, letter);
  }
  r.place.line = prepared.line_count;
  r.records.add_file_end(r.place.line);
  r.radix = lex.radix;
  r.format = ModuleFormat{lex.high_byte_first, lex.xgate_module};
  return true;
}

void relocate_records(LinkContext& ctx) {
  ObjectReader& r = ctx.reader;
  // Pass 1 starts in the format pass 0 ended with, until the first radix
  // line, as a second reading of the text would.
  ctx.reloc.format = r.format;
  Header* header = nullptr;
  bool file_has_lines = true;
  RecordEntry entry;
  RecordStream::Cursor cursor(r.records, true);
  while (cursor.next(entry)) {
    switch (entry.kind) {
      case RecordKind::kFileStart:
        file_has_lines = has_lines(*r.files[entry.number]);
        r.place = ReportPlace{display_name(*r.files[entry.number]), file_has_lines ? 0 : ReportPlace::kNoLine};
        break;
      case RecordKind::kFileEnd:
        if (file_has_lines) r.place.line = entry.line;
        break;
      case RecordKind::kHeader:
        if (!header)
          header = r.headers.empty() ? nullptr : &r.headers.front();
        else
          header = header->index + 1 < r.headers.size() ? &r.headers[header->index + 1] : nullptr;
        clear_page_state(ctx);
        break;
      case RecordKind::kArea:
        default_page_state(ctx);
        break;
      case RecordKind::kFormat:
        ctx.reloc.format = ModuleFormat{(entry.number & 1) != 0, (entry.number & 2) != 0};
        break;
      case RecordKind::kModule:
        relocate_elf_module(ctx, entry.number);
        break;
      default:
        r.place.line = entry.line;
        relocate_entry(ctx, entry, header);
        break;
    }
  }
}

}  // namespace zeld
