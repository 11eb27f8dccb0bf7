// Pass 1: the parsed T, R and P records. A T record loads the current
// record (two values of area-relative load address, then data); the R
// record after it names the record's area and the fields to relocate; the
// finished record leaves as a code block (load address, page selector,
// bytes) for the image file writer and the memory image. P records set the
// direct page that page-relative fields are computed against.
//
//   T 00 00 86 01 CC 00 05          record at offset 0 of the area
//   R 00 00 00 00 00 05 00 00       area 0; a word at position 5, area 0
//
// A record holds at most 16 values (14 data bytes).
#pragma once

#include <array>
#include <string_view>

#include "common.h"
#include "record_stream.h"

namespace zeld {

struct LinkContext;
struct Header;
struct Area;
struct AreaPart;

enum RelocationMode : u32 {
  R_BYTE = 0x01,
  R_SYM = 0x02,
  R_PCR = 0x04,
  R_LINEAR = 0x08,
  R_USGN = 0x10,
  R_PAGE = 0x40,
  R_PAGED = 0x80,
};

// How a module's two-value fields are ordered, and whether it is XGATE
// code; set by its radix line.
struct ModuleFormat {
  bool high_byte_first = false;
  bool xgate = false;
};

// The current record: values 0 and 1 the load address, then data. A value
// not `kept` was dropped by a byte relocation and is not output.
struct Record {
  std::array<u32, kMaxRecordValues> values{};
  std::array<u8, kMaxRecordValues> kept{};
  bool dropped = false;  // some kept[i] is 0
  int count = 0;
};

// A finished record on its way out: where it loads and its bytes.
struct CodeBlock {
  u32 address = 0;      // 16-bit load address
  int output_page = 0;  // 0 unpaged; page + 1 in an extended code page; -page in a linear area
  std::string_view area_name;
  std::array<u8, kMaxRecordValues> bytes{};
  int size = 0;
};

struct RelocationState {
  Record record;
  ModuleFormat format;
  bool have_text = false;      // a T record was read in the current module
  bool text_rejected = false;  // the last T record was refused; its R and P records are dropped quietly
  // The direct page: base is page_area->address + page_offset.
  Area* page_area = nullptr;
  AreaPart* page_area_part = nullptr;
  u32 page_offset = 0;
  // Upper 16 address bits in force in the Intel hex file (its extended
  // linear address records); 0 at the start of the file.
  u32 hex_upper_address = 0;
  // The module whose symbols were last asked for ahead of their use.
  const Header* warmed_header = nullptr;
};

// The 16 KB page number of a 24-bit linear address in bits 16..23 and the
// address in the 0x8000..0xBFFF window in bits 0..15.
inline u32 page_window_address(u32 x) { return (((x >> 14) & 0xFF) << 16) | (0x8000 + (x & 0x3FFF)); }

// Handles a T, R or P record of pass 1 for the current module.
void relocate_entry(LinkContext& ctx, const RecordEntry& entry, Header* header);

// The code block of the current record: its load address in the module's
// byte order and the values it keeps.
CodeBlock make_code_block(const Record& record, ModuleFormat format, int output_page, std::string_view area_name);
// Hands a finished code block to the image file writer and the memory image.
void emit_code_block(LinkContext& ctx, const CodeBlock& block);
// The page selector of a record of a part of an area with these flags.
int output_page_of(u8 area_flags, u32 part_address);

// The field operations take a position whose two values lie inside the
// record (position + 1 < kMaxRecordValues) and return the unmasked result.
u32 relocate_word(LinkContext& ctx, u32 value, u32 position);
u32 relocate_byte(LinkContext& ctx, u32 value, u32 position, bool keep_high);
u32 relocate_paged(LinkContext& ctx, u32 value, u32 position, u32 mode);
u32 relocate_xgate_branch(LinkContext& ctx, u32 value, u32 position, u32 mode);
// Clears the page state (at every H line).
void clear_page_state(LinkContext& ctx);
// At an A line: when no page is set, the first area's first part at offset 0.
void default_page_state(LinkContext& ctx);

}  // namespace zeld
