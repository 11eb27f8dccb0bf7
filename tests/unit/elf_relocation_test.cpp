// The arithmetic of the ELF relocation types at the edges the GNU
// differential test does not reach: the limits of each range, negative
// addends, the wrap of the 64 KB space and fields that are not applied.
#include "elf_relocation.h"

#include <gtest/gtest.h>

#include <vector>

namespace zeld {
namespace {

using B = std::vector<u8>;
constexpr ElfFieldStatus ok = ElfFieldStatus::ok, byte_range = ElfFieldStatus::byte_out_of_range,
                         branch_range = ElfFieldStatus::branch_out_of_range;

TEST(ElfRelocation, FieldsAtTheirLimits) {
  struct Case {
    u32 type;
    B in;
    u32 target, part;
    B out;
    ElfFieldStatus status;
  };
  const Case cases[] = {
      {R_M68HC11_8, {0x00}, 0xFF, 0, {0xFF}, ok},
      {R_M68HC11_8, {0x00}, 0x100, 0, {0x00}, byte_range},
      {R_M68HC11_8, {0x80}, 0x00, 0, {0x80}, ok},  // -128: the addend is signed
      {R_M68HC11_8, {0x80}, 0xFFFFFFFF, 0, {0x7F}, byte_range},  // -129
      {R_M68HC11_3B, {0xF9}, 0x06, 0, {0xFF}, ok},  // 1 + 6 in the low 3 bits
      {R_M68HC11_3B, {0xF9}, 0x07, 0, {0xF8}, ok},  // wraps inside the 3 bits
      {R_M68HC11_16, {0x00, 0x00}, 0x0F8123, 0, {0x81, 0x23}, ok},  // low 16 bits of a linear address
      // PC-relative fields count from the start of the section part; the
      // field at 0x52 of a part at 0xC000 holds 0xAE (-0x52).
      {R_M68HC11_PCREL_8, {0xAE}, 0xC052 + 0x7F, 0xC000, {0x7F}, ok},
      {R_M68HC11_PCREL_8, {0xAE}, 0xC052 - 0x80, 0xC000, {0x80}, ok},
      {R_M68HC11_PCREL_8, {0xAE}, 0xC052 + 0x80, 0xC000, {0x80}, branch_range},
      {R_M68HC11_PCREL_8, {0xAE}, 0xC052 - 0x81, 0xC000, {0x7F}, branch_range},
      {R_M68HC11_PCREL_16, {0xFF, 0xEF}, 0x0000, 0xFF00, {0x00, 0xEF}, ok},  // across the 64 KB wrap
      // Paged forms: a negative addend reaches the previous page; an addend
      // moves the page only where it crosses a page end.
      {R_M68HC11_24, {0xFF, 0xFF, 0x00}, 0x0FC000, 0, {0xBF, 0xFF, 0x3E}, ok},
      {R_M68HC11_PAGE, {0x06}, 0x0FBFFC, 0, {0x3F}, ok},
      {R_M68HC11_PAGE, {0xFF}, 0x0FC000, 0, {0x3E}, ok},
      // XGATE: 9 bits reach -256..255 words, 10 bits -512..511.
      {R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE000 + 2 * 255, 0xE000, {0x26, 0xFF}, ok},
      {R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE000 + 2 * 256, 0xE000, {0x27, 0x00}, branch_range},
      {R_M68HC12_10_PCREL, {0x3C, 0x00}, 0xE000 + 2 * 256, 0xE000, {0x3D, 0x00}, ok},
      {R_M68HC12_10_PCREL, {0x3C, 0x00}, 0xE000 - 2 * 513, 0xE000, {0x3D, 0xFF}, branch_range},
      {R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE003, 0xE000, {0x26, 0x01}, ElfFieldStatus::odd_branch},
  };
  for (const Case& c : cases) {
    B bytes = c.in;
    EXPECT_EQ(apply_elf_relocation(c.type, bytes, c.target, c.part), c.status) << elf_relocation_name(c.type);
    EXPECT_EQ(bytes, c.out) << elf_relocation_name(c.type) << " to " << std::hex << c.target;
  }
}

TEST(ElfRelocation, FieldsNotAppliedAreLeftAlone) {
  B two{0x12, 0x34};
  EXPECT_EQ(apply_elf_relocation(R_M68HC11_8, two, 1, 0), ElfFieldStatus::not_applicable);  // wrong size
  EXPECT_EQ(apply_elf_relocation(R_M68HC12_LO8XG, std::span<u8>(two).first(1), 1, 0), ElfFieldStatus::not_applicable);
  EXPECT_EQ(apply_elf_relocation(22, two, 1, 0), ElfFieldStatus::not_applicable);  // past the known types
  EXPECT_EQ(two, (B{0x12, 0x34}));
}

}  // namespace
}  // namespace zeld
