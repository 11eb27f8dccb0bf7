// Pass 1 relocation: T records load the current record, the R record after
// it makes the record absolute and hands it as a code block to the image
// file writer and the memory image, P records set the direct page.
// Placement is final by now; this file only reads part addresses and symbol
// values. The records come parsed from pass 0 (record_stream.h); what their
// lines held wrongly is reported here, in pass 1, where it always was.
//
//   T 00 00 86 01 CC 00 05     load offset 0000, data 86 01 CC 00 05
//   R 00 00 00 00 00 05 00 00  area 0; item: mode 00, position 5, area 0
//
// A record holds at most 16 values. Everything a line names is checked
// before it is used: a T line with more than 16 values, no load address or
// a field that is not a number is refused whole (its R and P records are then
// dropped without a second report); an R or P line with no T line of its
// module before it, an item whose two values are not inside the record's
// data, or an area slot the module never filled is a counted error that
// drops the line. Nothing outside the record is written before the record
// is complete.
#include "relocate.h"

#include <algorithm>

#include "areas.h"
#include "context.h"
#include "image.h"
#include "intel_hex.h"
#include "srecord.h"
#include "symbols.h"

namespace zeld {

namespace {

// ---- Reports --------------------------------------------------------------

void report_outside_module(LinkContext& ctx, int letter) {
  ctx.diag.error_at(ctx.reader.place, "%c record outside a module", letter);
}

void report_not_a_number(LinkContext& ctx, int letter) {
  ctx.diag.error_at(ctx.reader.place, "%c record field is not a number", letter);
}

void report_no_text(LinkContext& ctx, int letter) {
  ctx.diag.error_at(ctx.reader.place, "%c record without a T record", letter);
}

void report_bad_position(LinkContext& ctx, int letter, u32 position) {
  ctx.diag.error_at(ctx.reader.place, "%c item position %u outside the record", letter, position);
}

void report_undefined_area(LinkContext& ctx, u32 area, const Header& header) {
  ctx.diag.error_at(ctx.reader.place, "R area %#x not defined in module '%s'", area, header.name.c_str());
}

// Names the symbol of a symbol item, else the area of the record itself.
void report_range_error(LinkContext& ctx, const char* text, u32 mode, const Symbol* sym, const Area& area) {
  bool by_symbol = (mode & R_SYM) != 0;
  std::string name = by_symbol ? std::string(sym->name) : area.name;
  ctx.diag.error_at(ctx.reader.place, "%s %s '%s'", text, by_symbol ? "for symbol" : "in area", name.c_str());
}

void report_page_area_error(LinkContext& ctx) { ctx.diag.error_at(ctx.reader.place, "P area error"); }

// Both values of the field at `position` are data values of the record.
bool field_inside_record(const Record& rec, u32 position) {
  return position >= 2 && static_cast<u64>(position) + 2 <= static_cast<u64>(rec.count);
}

// Indexes of the high and low value of a field in the module's byte order.
struct FieldPlaces {
  u32 hi, lo;
};

FieldPlaces field_places(const LinkContext& ctx, u32 position) {
  if (ctx.reloc.format.high_byte_first) return {position, position + 1};
  return {position + 1, position};
}

void check_position(LinkContext& ctx, u32 position) {
  ZELD_CHECK(ctx.diag, position < kMaxRecordValues - 1, "field inside its record", "relocate");
}

u32 page_base(const RelocationState& rs) {
  return (rs.page_area ? rs.page_area->address : 0) + rs.page_offset;
}

}  // namespace

// ---- Field arithmetic -----------------------------------------------------

namespace {

// An area or symbol index from its two numbers, in the module's byte order.
u32 index_of(const LinkContext& ctx, u32 b1, u32 b2) {
  return ctx.reloc.format.high_byte_first ? b1 * 256 + b2 : b1 + b2 * 256;
}

}  // namespace

u32 relocate_word(LinkContext& ctx, u32 value, u32 position) {
  check_position(ctx, position);
  Record& rec = ctx.reloc.record;
  FieldPlaces f = field_places(ctx, position);
  u32 v = rec.values[f.hi] * 256 + (rec.values[f.lo] & 0xFF) + value;
  rec.values[f.hi] = (v >> 8) & 0xFF;
  rec.values[f.lo] = v & 0xFF;
  return v;
}

u32 relocate_byte(LinkContext& ctx, u32 value, u32 position, bool keep_high) {
  check_position(ctx, position);
  Record& rec = ctx.reloc.record;
  FieldPlaces f = field_places(ctx, position);
  u32 v = rec.values[f.hi] * 256 + (rec.values[f.lo] & 0xFF) + value;
  if (keep_high) v >>= 8;
  rec.kept[f.hi] = 0;
  rec.dropped = true;
  rec.values[f.lo] = v;  // outputs take the low 8 bits
  return v;
}

// Paged fields are always high byte first.
u32 relocate_paged(LinkContext& ctx, u32 value, u32 position, u32 mode) {
  check_position(ctx, position);
  Record& rec = ctx.reloc.record;
  u32 v = rec.values[position] * 256 + value + (rec.values[position + 1] & 0xFF);
  u32 g = (mode & R_LINEAR) ? v : page_window_address(v);
  if (mode & R_BYTE) {
    rec.kept[position] = 0;
    rec.dropped = true;
    rec.values[position + 1] = (g >> 16) & 0xFF;
  } else {
    rec.values[position] = (g >> 8) & 0xFF;
    rec.values[position + 1] = g & 0xFF;
  }
  return g;
}

// The displacement is counted in instruction words and wraps inside its
// 9- or 10-bit field; the opcode bits above the field are kept.
u32 relocate_xgate_branch(LinkContext& ctx, u32 value, u32 position, u32 mode) {
  check_position(ctx, position);
  Record& rec = ctx.reloc.record;
  u32 mask = (mode & R_LINEAR) ? 0x3FF : 0x1FF;
  u32 w = rec.values[position] * 256 + (rec.values[position + 1] & 0xFF);
  u32 offset = ((value >> 1) + (w & mask)) & mask;
  w = (w & ~mask) | offset;
  rec.values[position] = (w >> 8) & 0xFF;
  rec.values[position + 1] = w & 0xFF;
  return w;
}

int output_page_of(u8 area_flags, u32 part_address) {
  int page = static_cast<int>((part_address >> 16) & 0xFF);
  if (area_flags & AREA_LINEAR) return -page;
  if (area_flags & AREA_EXT_CODE) return page + 1;
  return 0;
}

void emit_code_block(LinkContext& ctx, const CodeBlock& block) {
  if (ctx.options.output_formats & FORMAT_SRECORD) write_s_record(ctx, block);
  if (ctx.options.output_formats & FORMAT_INTEL_HEX) write_hex_record(ctx, block);
  write_code_to_image(ctx, block);
}

CodeBlock make_code_block(const Record& record, ModuleFormat format, int output_page, std::string_view area_name) {
  CodeBlock block;
  u32 v0 = record.values[0] & 0xFF;
  u32 v1 = record.values[1] & 0xFF;
  block.address = format.high_byte_first ? v0 * 256 + v1 : v1 * 256 + v0;
  block.output_page = output_page;
  block.area_name = area_name;
  if (!record.dropped) {
    // Every value goes out: all of them are taken, those past the count
    // are not counted.
    for (std::size_t i = 2; i != kMaxRecordValues; ++i) block.bytes[i - 2] = static_cast<u8>(record.values[i]);
    block.size = std::max(record.count - 2, 0);
    return block;
  }
  for (int i = 2; i < record.count; ++i)
    if (record.kept[static_cast<std::size_t>(i)])
      block.bytes[static_cast<std::size_t>(block.size++)] = static_cast<u8>(record.values[static_cast<std::size_t>(i)] & 0xFF);
  return block;
}

// ---- Records --------------------------------------------------------------

namespace {

void load_text_record(LinkContext& ctx, const TextLine& text) {
  RelocationState& rs = ctx.reloc;
  Record& rec = rs.record;
  rec.count = 0;
  rs.have_text = false;
  rs.text_rejected = true;
  switch (text.status) {
    case TextLine::kNotANumber:
      report_not_a_number(ctx, 'T');
      return;
    case TextLine::kTooManyValues:
      ctx.diag.error_at(ctx.reader.place, "T record holds more than %d values", kMaxRecordValues);
      return;
    case TextLine::kNoLoadAddress:
      ctx.diag.error_at(ctx.reader.place, "T record without a load address");
      return;
    case TextLine::kOk:
      break;
  }
  // Whole arrays: a fixed copy is cheaper than one of `count` values.
  rec.values = text.values;
  rec.kept.fill(1);
  rec.dropped = false;
  rec.count = text.count;
  rs.have_text = true;
  rs.text_rejected = false;
}

void relocate_record(LinkContext& ctx, const FieldLine& line, Header& header) {
  RelocationState& rs = ctx.reloc;
  Record& rec = rs.record;
  if (!line.zero_pair_ok) ctx.diag.error_at(ctx.reader.place, "R input error");
  u32 area_index = index_of(ctx, line.area_b1, line.area_b2);
  if (area_index >= header.area_capacity)
    ctx.diag.internal("R%#x max areas is %d", area_index, static_cast<int>(header.area_capacity));
  AreaPart* part = header.area_part_at(area_index);
  if (!part) {
    report_undefined_area(ctx, area_index, header);
    return;
  }
  const Area& area = *part->area;

  u32 base = relocate_word(ctx, part->address, 0);
  int output_page = output_page_of(area.flags, part->address);
  // From here on, reports about this file's records name the module.
  ctx.reader.place.file = header.name;
  // Code of an area that is neither linear nor an extended code page runs
  // at 16-bit CPU addresses; placed above 0xFFFF its record would load at
  // a wrapped address, over other code.
  if (!(area.flags & (AREA_LINEAR | AREA_EXT_CODE)) && base > 0xFFFF) {
    ctx.diag.error_at(ctx.reader.place, "code of area '%s' placed at %#x, above the 16-bit address space", area.name.c_str(), base);
    return;
  }

  // Values dropped by byte fields so far, plus the two address values: the
  // distance between a value's index and its offset in the output record.
  u32 dropped = 2;
  bool xgate = rs.format.xgate;
  for (const FieldItem& item : line.items) {
    u32 mode = item.mode;
    u32 position = item.position;
    u32 index = index_of(ctx, item.index_b1, item.index_b2);

    u32 value;
    bool extended = false;
    const Symbol* sym = nullptr;
    if (mode & R_SYM) {
      sym = index < header.symbol_capacity ? header.symbol_at(index) : nullptr;
      if (!sym) {
        ctx.diag.error_at(ctx.reader.place, "R symbol error");
        return;
      }
      value = symbol_address(ctx, *sym);
    } else {
      if (index >= header.area_capacity)
        ctx.diag.internal("module name: '%s' relocation mode %#x area %#x, max %d", header.name.c_str(), mode, index,
                          static_cast<int>(header.area_capacity));
      const AreaPart* ref = header.area_part_at(index);
      if (!ref) {
        report_undefined_area(ctx, index, header);
        return;
      }
      value = ref->address;
      extended = (ref->area->flags & AREA_EXT_CODE) != 0;
    }
    if (!field_inside_record(rec, position)) {
      report_bad_position(ctx, 'R', position);
      return;
    }

    // The PC is the address just after the field in the output record.
    if ((mode & R_PCR) || (xgate && (mode & R_LINEAR)))
      value -= base + (position - dropped) + ((mode & R_BYTE) ? 1 : 2);
    if (mode & R_PAGE) value -= page_base(rs);
    bool has_hibyte = xgate && (mode & R_PAGE);

    u32 result;
    if (!xgate && ((mode & (R_PAGED | R_LINEAR)) || extended)) {
      result = relocate_paged(ctx, value, position, mode);
    } else if (xgate && (mode & (R_PCR | R_LINEAR))) {
      result = relocate_xgate_branch(ctx, value, position, mode);
    } else if (mode & R_BYTE) {
      result = relocate_byte(ctx, value, position, has_hibyte);
    } else if (has_hibyte) {
      // Only a byte field can take the high byte of an XGATE address; the
      // field is left as the object gives it.
      ctx.diag.error_at(ctx.reader.place, "R mode %#x: a word field cannot take the high byte of an XGATE address", mode);
      continue;
    } else {
      result = relocate_word(ctx, value, position);
    }
    if (mode & R_BYTE) ++dropped;

    const char* range_error = nullptr;
    if ((mode & R_USGN) && (mode & R_BYTE) && (result & ~0xFFu) != 0) range_error = "unsigned byte error";
    if ((mode & R_BYTE) && (mode & R_PCR) && (result & ~0x7Fu) != 0 && (result & ~0x7Fu) != ~0x7Fu)
      range_error = "PC relative offset larger than 8 bits";
    if (range_error) report_range_error(ctx, range_error, mode, sym, area);
  }
  if (line.stopped_at_non_number) {
    report_not_a_number(ctx, 'R');
    return;
  }

  emit_code_block(ctx, make_code_block(rec, rs.format, output_page, area.name));
}

void read_paging_record(LinkContext& ctx, const FieldLine& line, Header& header) {
  RelocationState& rs = ctx.reloc;
  Record& rec = rs.record;
  if (!line.zero_pair_ok) ctx.diag.error_at(ctx.reader.place, "P input error");
  if (index_of(ctx, line.area_b1, line.area_b2) >= header.area_capacity) {
    report_page_area_error(ctx);
    return;
  }
  for (const FieldItem& item : line.items) {
    u32 mode = item.mode;
    u32 position = item.position;
    u32 index = index_of(ctx, item.index_b1, item.index_b2);
    u32 value;
    if (mode & R_SYM) {
      const Symbol* sym = index < header.symbol_capacity ? header.symbol_at(index) : nullptr;
      if (!sym) {
        ctx.diag.error_at(ctx.reader.place, "P symbol error");
        return;
      }
      value = symbol_address(ctx, *sym);
    } else {
      const AreaPart* ref = index < header.area_capacity ? header.area_part_at(index) : nullptr;
      if (!ref) {
        report_page_area_error(ctx);
        return;
      }
      value = ref->address;
    }
    if (!field_inside_record(rec, position)) {
      report_bad_position(ctx, 'P', position);
      return;
    }
    relocate_word(ctx, value, position);
  }
  if (line.stopped_at_non_number) {
    report_not_a_number(ctx, 'P');
    return;
  }

  // Values 2..3 name the page's area, values 4..5 its offset in that area.
  if (!field_inside_record(rec, 4)) {
    report_bad_position(ctx, 'P', 4);
    return;
  }
  u32 page_area_index = relocate_word(ctx, 0, 2);
  AreaPart* page_part = page_area_index < header.area_capacity ? header.area_part_at(page_area_index) : nullptr;
  if (!page_part) {
    report_page_area_error(ctx);
    return;
  }
  rs.page_area_part = page_part;
  rs.page_area = page_part->area;
  rs.page_offset = relocate_word(ctx, 0, 4);
  if ((rs.page_area->address & 0xFF) != 0 || (rs.page_offset & 0xFF) != 0)
    ctx.diag.error_at(ctx.reader.place, "%s in '%s' area '%s'", "Page Definition Boundary Error",
                   page_part->header ? page_part->header->name.c_str() : "", rs.page_area->name.c_str());
}

// A module's R records take the addresses of its symbols, which lie all
// over the symbol table and the area parts: at the module's first record
// they are all asked for at once, so that their loads overlap instead of
// each waiting on its own.
void warm_module_symbols(const Header& header) {
  for (const Symbol* s : header.symbols) {
    if (!s) continue;
    __builtin_prefetch(s->area_part);
  }
}

}  // namespace

void relocate_entry(LinkContext& ctx, const RecordEntry& entry, Header* header) {
  int letter = entry.kind == RecordKind::kText ? 'T' : entry.kind == RecordKind::kRelocation ? 'R' : 'P';
  if (!header) {
    report_outside_module(ctx, letter);
    return;
  }
  if (header != ctx.reloc.warmed_header) {
    ctx.reloc.warmed_header = header;
    warm_module_symbols(*header);
  }
  if (letter == 'T') {
    load_text_record(ctx, entry.text);
    return;
  }
  if (!ctx.reloc.have_text) {
    if (!ctx.reloc.text_rejected) report_no_text(ctx, letter);
    return;
  }
  if (letter == 'R')
    relocate_record(ctx, entry.fields, *header);
  else
    read_paging_record(ctx, entry.fields, *header);
}

void clear_page_state(LinkContext& ctx) {
  RelocationState& rs = ctx.reloc;
  rs.page_area = nullptr;
  rs.page_area_part = nullptr;
  rs.page_offset = 0;
  // A new module starts without a record of its own.
  rs.have_text = false;
  rs.text_rejected = false;
  rs.record.count = 0;
}

void default_page_state(LinkContext& ctx) {
  RelocationState& rs = ctx.reloc;
  if (rs.page_area) return;
  Area* first = ctx.areas.first();
  if (!first) return;
  rs.page_area = first;
  rs.page_area_part = first->parts.empty() ? nullptr : first->parts.front();
  rs.page_offset = 0;
}

}  // namespace zeld
