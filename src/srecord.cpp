// Motorola S-record output. Relocation calls write_s_record for every
// finished record of pass 1 (a code block), before it goes into the memory image;
// the driver calls write_s_end_record once after the map and debug files.
// The writer only reads the code block and keeps no state, so records
// appear in input order, never sorted or merged.
//
//   S1 count addr16 data... checksum     unpaged record
//   S2 count page addr16 data... sum     paged record, or mapped flash (-s2_s12, -s2_s12x)
//   S9 03 addr16 checksum                the start address (__start), the only terminator
//
// The checksum is the ones' complement of the low byte of the sum of the
// count, address and data bytes. Unpaged records are S1 unless a flash
// mapping mode turns them into linear flash addresses; a record the mapping
// cannot place is reported and written as S1 at its CPU address.
#include "srecord.h"

#include <cstdio>

#include "context.h"
#include "symbols.h"

namespace zeld {

namespace {

// The longest record: "S2", count, page, address, 16 data bytes, checksum
// and the line feed.
constexpr std::size_t kMaxRecordText = 2 + 2 * (1 + 1 + 2 + kMaxRecordValues + 1) + 1;

// Where a record goes: S1 when page < 0, else S2 with this page byte.
struct SRecordAddress {
  int page;
  u32 address;
};

// What the S12 window at 0x8000 shows, by flash size: the page of the S2
// record and the amount taken off the CPU address. The window shows the
// device's lowest page; on the 32K device that is the fixed page itself.
struct S12Window {
  int flash_kbytes;
  int page;
  u32 less;
};
constexpr S12Window kS12Windows[] = {
    {32, 0x0F, 0}, {64, 0x0F, 0x8000}, {128, 0x0E, 0x8000}, {256, 0x0C, 0x8000}, {512, 0x08, 0x8000},
};

// The S12 mapping of an unpaged 16-bit address: the fixed pages at 0x4000
// and 0xC000 are the device's last two flash pages, the window at 0x8000
// shows its lowest page, which depends on the flash size.
SRecordAddress map_s12(LinkContext& ctx, u32 a) {
  if (a < 0x4000) {
    ctx.diag.error_at(ctx.reader.place, "invalid address for S12 flash memory reference: %#X", a);
    return {-1, a};
  }
  if (a < 0x8000) return {0x0F, a + 0x4000};
  if (a >= 0xC000) return {0x0F, a};
  for (const S12Window& w : kS12Windows)
    if (w.flash_kbytes == ctx.options.s12_flash_kbytes) return {w.page, a - w.less};
  ctx.diag.error_at(ctx.reader.place, "%dK is invalid flash memory size for S12 device.", ctx.options.s12_flash_kbytes);
  return {-1, a};
}

SRecordAddress choose_address(LinkContext& ctx, int output_page, u32 a) {
  S2Mode mode = ctx.options.s2_mode;
  if (output_page < 0) return {-output_page, a};
  if (output_page > 0) {
    u32 page = static_cast<u32>(output_page - 1);
    if (mode == S2_CPU) {
      u32 g = page_window_address((page << 16) | a);
      return {static_cast<int>(g >> 16), g & 0xFFFF};
    }
    return {static_cast<int>(page), a};
  }
  if (mode == S2_S12) return map_s12(ctx, a);
  if (mode == S2_S12X) {
    if (a >= 0x4000) return {0x7F, a};
    ctx.diag.error_at(ctx.reader.place, "invalid address for S12X flash memory reference: %#X", a);
  }
  return {-1, a};
}

}  // namespace

void write_s_record(LinkContext& ctx, const CodeBlock& block) {
  std::FILE* out = ctx.output_file.get();
  if (!out) return;
  SRecordAddress where = choose_address(ctx, block.output_page, block.address);

  // Count: address, output data and checksum bytes; each fits in a byte.
  u32 count = 2 + 1 + static_cast<u32>(block.size);
  char text[kMaxRecordText];
  char* p = text;
  *p++ = 'S';
  u32 sum = count;
  if (where.page >= 0) {
    ++count;
    u32 page = static_cast<u32>(where.page) & 0xFF;
    sum = count + page;
    *p++ = '2';
    p = put_hex(p, count);
    p = put_hex(p, page);
  } else {
    *p++ = '1';
    p = put_hex(p, count);
  }
  u32 hi = (where.address >> 8) & 0xFF;
  u32 lo = where.address & 0xFF;
  p = put_hex(p, hi);
  p = put_hex(p, lo);
  sum += hi + lo;
  for (int i = 0; i < block.size; ++i) {
    u32 byte = block.bytes[static_cast<std::size_t>(i)];
    p = put_hex(p, byte);
    sum += byte;
  }
  p = put_hex(p, ~sum & 0xFF);
  *p++ = '\n';
  put(out, std::string_view(text, static_cast<std::size_t>(p - text)));
}

// A start address needs 16 bits; a __start beyond them cannot be the CPU's
// start address, so it is reported and its low 16 bits keep the record
// well formed.
void write_s_end_record(LinkContext& ctx) {
  std::FILE* out = ctx.output_file.get();
  if (!out) return;
  const Symbol* start = lookup_symbol(ctx, "__start", false);
  if (!start) {
    std::fprintf(out, "S9030000FC\n");
    return;
  }
  u32 v = symbol_address(ctx, *start);
  if (v > 0xFFFF) {
    ctx.diag.error("start address %#x does not fit in the S9 record", v);
    v &= 0xFFFF;
  }
  std::fprintf(out, "S903%04X%02X\n", v, ~(3 + (v >> 8) + v) & 0xFF);
}

}  // namespace zeld
