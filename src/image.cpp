// The memory image: created once between the passes (after placement),
// filled by pass 1 with every record of an unpaged area in input order, and
// read afterwards by the listing and the COFF writer. See image.h.
//
// A record is stored from its relocated 16-bit load address on, one
// address per output value: values a byte relocation dropped take no
// address. A record must end inside the image (else a counted error);
// inside the text window a byte that changes an address already written is
// a counted error (the new byte is kept), outside it later records simply
// replace earlier bytes.
//
// The size comes from -e:, or by default from the text range and the placed
// areas (default_image_size), so it may be anything up to 4 GB; only the
// part that a record can reach is held in memory.
#include "image.h"

#include <algorithm>

#include "context.h"

namespace zeld {

namespace {

// Addresses of the text window are checked for double writes; with no text
// range its low end counts as below every address.
bool in_text_window(const LinkContext& ctx, u32 addr) {
  bool above_low = !ctx.text_range_low || addr >= *ctx.text_range_low;
  return above_low && addr < ctx.text_range_high;
}

}  // namespace

void create_image(LinkContext& ctx, int fill, u32 size) {
  Image& image = ctx.image;
  image.map_number = 0;
  image.size = size;
  image.fill = static_cast<u8>(fill & 0xFF);
  u32 held = std::min<u32>(size, 0x10000 + kMaxRecordValues);
  image.data.assign(held, image.fill);
  image.written.assign(held, 0);
  image.created = true;
}

u32 default_image_size(const LinkContext& ctx) {
  // The text range's last address included, up to the next kilobyte
  // (0x10000 for the default range ending at 0xFFFF); a range ending in
  // the last kilobyte of the address space takes all of it.
  u64 size = ((static_cast<u64>(ctx.text_range_high) + 1 + 1023) & ~u64{1023});
  // Every address a record of a page-0 part can reach: parts of linear
  // areas in the first 64 KB and of every area that is neither linear nor
  // an extended code page, at their 16-bit load addresses.
  constexpr u64 kReachable = 0x10000 + kMaxRecordValues;
  for (const Area* area : ctx.areas.list()) {
    if (area->flags & AREA_EXT_CODE) continue;
    for (const AreaPart* part : area->parts) {
      if (part->size == 0) continue;
      if ((area->flags & AREA_LINEAR) && part->address > 0xFFFF) continue;
      u64 end = std::min<u64>((part->address & 0xFFFFu) + static_cast<u64>(part->size), kReachable);
      size = std::max(size, (end + 1023) & ~u64{1023});
    }
  }
  return static_cast<u32>(std::min<u64>(size, 0xFFFFFFFFu));
}

Image& find_memory_map(LinkContext& ctx, int number) {
  if (number != ctx.image.map_number || !ctx.image.created)
    ctx.diag.internal("Can't find matching memory map %d", number);
  return ctx.image;
}

void write_code_to_image(LinkContext& ctx, const CodeBlock& block) {
  if (block.output_page != 0) return;  // paged and linear records stay out of the image
  Image& image = find_memory_map(ctx, 0);
  u32 addr = block.address;
  // Only output values occupy addresses, so only they count against the
  // image's end.
  if (static_cast<u64>(addr) + static_cast<u64>(block.size) > image.size) {
    // Only an -e: too small for the placed code, or a record longer than
    // its area part, gets here: the record stays out of the image and the
    // link fails.
    ctx.diag.error_at(ctx.reader.place, "code at %#x of area '%s' ends past the memory image of %#x bytes (-e:)", addr,
                   std::string(block.area_name).c_str(), image.size);
    return;
  }

  bool checked = in_text_window(ctx, addr);
  u32 store = addr;
  for (int i = 0; i < block.size; ++i) {
    u8 byte = block.bytes[static_cast<std::size_t>(i)];
    if (checked && image.written[store] && image.data[store] != byte)
      ctx.diag.error_at(ctx.reader.place, "Code address %d:%#x already contains a value", image.map_number, store);
    image.data[store] = byte;
    image.written[store] = 1;
    ++store;
  }
}

}  // namespace zeld
