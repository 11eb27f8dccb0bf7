// Pass 1: T, R and P records. A T line loads the current record (two bytes
// of area-relative load address, then data); the R line after it names the
// record's area and the fields to relocate; the finished record goes to the
// image file writer and then into the memory image. P lines set the direct
// page that page-relative fields are computed against.
//
//   T 00 00 86 01 CC 00 05          record at offset 0 of the area
//   R 00 00 00 00 00 05 00 00       area 0; a word at position 5, area 0
//
// A record holds at most 16 values (14 data bytes).
#pragma once

#include <array>

#include "common.h"

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

inline constexpr int kMaxRecordValues = 16;

// The current record: values 0 and 1 the load address, then data. A flag
// of 0 marks a value dropped by a byte relocation.
struct Record {
  std::array<u32, kMaxRecordValues> rtval{};
  std::array<u8, kMaxRecordValues> rtflg{};
  int rtcnt = 0;
};

struct RelocationState {
  Record record;
  bool have_text = false;      // a T line was read in the current module
  bool text_rejected = false;  // the last T line was refused; its R and P lines are dropped quietly
  // The direct page: base is page_area->address + page_offset.
  Area* page_area = nullptr;
  AreaPart* page_area_part = nullptr;
  u32 page_offset = 0;
  // 0 unpaged; page + 1 for an extended code page area; -page for a linear area.
  int output_page = 0;
  // Upper 16 address bits in force in the Intel hex file (its extended
  // linear address records); 0 at the start of the file.
  u32 hex_upper_address = 0;
};

// The 16 KB page number of a 24-bit linear address in bits 16..23 and the
// address in the 0x8000..0xBFFF window in bits 0..15.
inline u32 page_window_address(u32 x) { return (((x >> 14) & 0xFF) << 16) | (0x8000 + (x & 0x3FFF)); }

// Handles a T, R or P line of pass 1 for the current module.
void dispatch_relocation_record(LinkContext& ctx, int letter, Header* header);

// The steps of the handlers, each reading the line through ctx.lex. The
// field operations take a position whose two values lie inside the record
// (position + 1 < kMaxRecordValues) and return the unmasked result.
void read_text_record(LinkContext& ctx);
void relocate_record(LinkContext& ctx, Header& header);
void read_paging_record(LinkContext& ctx, Header& header);
// Two numbers b1 b2 in the module's byte order.
u32 read_index(LinkContext& ctx);
u32 relocate_word(LinkContext& ctx, u32 value, u32 position);
u32 relocate_byte(LinkContext& ctx, u32 value, u32 position, bool keep_high);
u32 relocate_paged(LinkContext& ctx, u32 value, u32 position, u32 mode);
u32 relocate_xgate_branch(LinkContext& ctx, u32 value, u32 position, u32 mode);
// Sets ctx.reloc.output_page from the flags of a part's area and its address.
void select_output_page(LinkContext& ctx, u8 area_flags, u32 part_address);
// Clears the page state (at every H line).
void clear_page_state(LinkContext& ctx);
// At an A line: when no page is set, the first area's first part at offset 0.
void default_page_state(LinkContext& ctx);

}  // namespace zeld
