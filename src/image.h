// The memory image: a byte picture of the unpaged address space from 0 up
// to its size, with a written mark per address. Created once after
// placement, filled by pass 1 in record order; reports code addresses
// written twice with different bytes, and is read afterwards by the
// listing and the COFF writer. There is only map 0.
#pragma once

#include <string>
#include <vector>

#include "common.h"

namespace zeld {

struct LinkContext;
struct CodeBlock;

struct Image {
  bool created = false;
  int map_number = 0;
  u32 size = 0;  // addresses 0 to size - 1
  u8 fill = 0xFF;
  // Records load at 16-bit addresses, so no byte is ever stored above
  // 0xFFFF plus one record: only that much is held, whatever the size.
  std::vector<u8> data;
  std::vector<u8> written;

  u8 byte_at(u32 address) const { return address < data.size() ? data[address] : fill; }
  bool written_at(u32 address) const { return address < written.size() && written[address] != 0; }
};

// Allocates map 0 of `size` bytes, every byte the low 8 bits of `fill`.
void create_image(LinkContext& ctx, int fill, u32 size);
// Map of that number; any other than 0 is an internal error.
Image& find_memory_map(LinkContext& ctx, int number);
// Stores the current record's output bytes unless `page` is non-zero; a
// record that ends past the image is a counted error naming `area_name`.
// Stores an unpaged code block in the image; paged and linear blocks stay out.
void write_code_to_image(LinkContext& ctx, const CodeBlock& block);
// The image size when -e: gives none: the text range up to the next
// kilobyte, and at least every address the placed page-0 parts occupy.
u32 default_image_size(const LinkContext& ctx);

}  // namespace zeld
