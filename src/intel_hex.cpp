// Intel hex output. Relocation calls write_hex_record for every finished
// record of pass 1, before the record goes into the memory image; the
// driver calls write_hex_end_record once after the map and debug files.
// Records appear in input order, one data record each.
//
//   :0340000086013FF7      3 data bytes at 0x4000
//   :020000040001F9        the following records lie in 0x10000..0x1FFFF
//   :00000001FF            end of file
//
// Data records carry 16-bit addresses. Records of paged and linear areas
// lie above 64 KB (their page is bits 16..23 of the address, as in an S2
// record); so that they do not land on top of the unpaged program, an
// extended linear address record (type 04) is written whenever the upper
// 16 address bits change, including the change back to 0. A link whose
// records all lie below 64 KB has no such record. The checksum is the two's
// complement of the low byte of the sum of all bytes before it.
#include "intel_hex.h"

#include <cstdio>

#include "context.h"

namespace zeld {

namespace {

// The longest data record: ':', count, address, type, 16 data bytes,
// checksum and the line feed.
constexpr std::size_t kMaxRecordText = 1 + 2 * (1 + 2 + 1 + kMaxRecordValues + 1) + 1;

// Bits 16..31 of the record's address, from its page selector.
u32 upper_address(int output_page) {
  if (output_page < 0) return static_cast<u32>(-output_page);
  if (output_page > 0) return static_cast<u32>(output_page - 1);
  return 0;
}

void write_extended_linear_address(std::FILE* out, u32 upper) {
  u32 sum = 2 + 4 + ((upper >> 8) & 0xFF) + (upper & 0xFF);
  std::fprintf(out, ":02000004%04X%02X\n", upper & 0xFFFF, (0u - sum) & 0xFF);
}

}  // namespace

void write_hex_record(LinkContext& ctx, const CodeBlock& block) {
  std::FILE* out = ctx.output_file.get();
  if (!out) return;
  u32 upper = upper_address(block.output_page);
  if (upper != ctx.reloc.hex_upper_address) {
    write_extended_linear_address(out, upper);
    ctx.reloc.hex_upper_address = upper;
  }
  u32 hi = (block.address >> 8) & 0xFF;
  u32 lo = block.address & 0xFF;
  u32 count = static_cast<u32>(block.size);
  char text[kMaxRecordText];
  char* p = text;
  *p++ = ':';
  p = put_hex(p, count);
  p = put_hex(p, hi);
  p = put_hex(p, lo);
  p = put_hex(p, 0);  // data record
  u32 sum = count + hi + lo;
  for (int i = 0; i < block.size; ++i) {
    u32 byte = block.bytes[static_cast<std::size_t>(i)];
    p = put_hex(p, byte);
    sum += byte;
  }
  p = put_hex(p, (0u - sum) & 0xFF);
  *p++ = '\n';
  put(out, std::string_view(text, static_cast<std::size_t>(p - text)));
}

void write_hex_end_record(LinkContext& ctx) {
  std::FILE* out = ctx.output_file.get();
  if (!out) return;
  std::fprintf(out, ":00000001FF\n");
}

}  // namespace zeld
