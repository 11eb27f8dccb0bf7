// The arithmetic of the ELF relocation types, checked against fields as the
// GNU assembler writes them (the byte sequences in the comments are its
// output): the addend in place, PC-relative fields counted from the start
// of the section part, the paged forms and the XGATE branches.
#include "elf_relocation.h"

#include <gtest/gtest.h>

#include <vector>

namespace zeld {
namespace {

struct Field {
  std::vector<u8> bytes;
  ElfFieldStatus status;
};

Field apply(u32 type, std::vector<u8> bytes, u32 target, u32 part = 0) {
  ElfFieldStatus st = apply_elf_relocation(type, bytes, target, part);
  return {bytes, st};
}

using B = std::vector<u8>;

TEST(ElfRelocation, AbsoluteFields) {
  EXPECT_EQ(apply(R_M68HC11_16, {0x00, 0x04}, 0x1234).bytes, (B{0x12, 0x38}));  // ldd #ext16+4
  EXPECT_EQ(apply(R_M68HC11_16, {0xFF, 0xFE}, 0x1234).bytes, (B{0x12, 0x32}));  // sym-2
  EXPECT_EQ(apply(R_M68HC11_16, {0x00, 0x00}, 0x0F8123).bytes, (B{0x81, 0x23}));  // low 16 bits
  EXPECT_EQ(apply(R_M68HC11_32, {0, 0, 0, 1}, 0x00ABCDEF).bytes, (B{0x00, 0xAB, 0xCD, 0xF0}));
  EXPECT_EQ(apply(R_M68HC11_LO8, {0x23}, 0x10F0).bytes, (B{0x13}));
  EXPECT_EQ(apply(R_M68HC11_HI8, {0x01}, 0x10F0).bytes, (B{0x11}));
  EXPECT_EQ(apply(R_M68HC11_3B, {0xF9}, 0x06).bytes, (B{0xFF}));  // 1 + 6 in the low 3 bits
  EXPECT_EQ(apply(R_M68HC11_3B, {0xF9}, 0x07).bytes, (B{0xF8}));  // wraps inside the 3 bits
}

TEST(ElfRelocation, ByteRange) {
  EXPECT_EQ(apply(R_M68HC11_8, {0x03}, 0x80).bytes, (B{0x83}));
  EXPECT_EQ(apply(R_M68HC11_8, {0x00}, 0xFF).status, ElfFieldStatus::ok);
  EXPECT_EQ(apply(R_M68HC11_8, {0xFF}, 0x80).bytes, (B{0x7F}));  // sym-1: the addend is signed
  Field over = apply(R_M68HC11_8, {0x00}, 0x100);
  EXPECT_EQ(over.status, ElfFieldStatus::byte_out_of_range);
  EXPECT_EQ(over.bytes, (B{0x00}));
  EXPECT_EQ(apply(R_M68HC11_8, {0x80}, 0x00).status, ElfFieldStatus::ok);  // -128
  EXPECT_EQ(apply(R_M68HC11_8, {0x80}, 0xFFFFFFFF).status, ElfFieldStatus::byte_out_of_range);  // -129
}

TEST(ElfRelocation, PcRelativeCountsFromThePartStart) {
  // lbra extl at offset 0x0D of .text: 18 20 FF EF, the field at 0x0F.
  // Part at 0x4000, target 0x4017: displacement 0x4017 - 0x4011 = 6.
  EXPECT_EQ(apply(R_M68HC11_PCREL_16, {0xFF, 0xEF}, 0x4017, 0x4000).bytes, (B{0x00, 0x06}));
  // Backwards and across the 64 KB wrap.
  EXPECT_EQ(apply(R_M68HC11_PCREL_16, {0xFF, 0xEF}, 0x4000, 0x4000).bytes, (B{0xFF, 0xEF}));
  EXPECT_EQ(apply(R_M68HC11_PCREL_16, {0xFF, 0xEF}, 0x0000, 0xFF00).status, ElfFieldStatus::ok);
  // brset ... extb with the field at 0x51: AE.
  EXPECT_EQ(apply(R_M68HC11_PCREL_8, {0xAE}, 0xC052 + 0x7F, 0xC000).bytes, (B{0x7F}));
  EXPECT_EQ(apply(R_M68HC11_PCREL_8, {0xAE}, 0xC052 - 0x80, 0xC000).bytes, (B{0x80}));
  Field far = apply(R_M68HC11_PCREL_8, {0xAE}, 0xC052 + 0x80, 0xC000);
  EXPECT_EQ(far.status, ElfFieldStatus::branch_out_of_range);
  EXPECT_EQ(far.bytes, (B{0x80}));
  EXPECT_EQ(apply(R_M68HC11_PCREL_8, {0xAE}, 0xC052 - 0x81, 0xC000).status, ElfFieldStatus::branch_out_of_range);
}

TEST(ElfRelocation, PagedForms) {
  // call farfn+4: 4A 00 04 00; farfn at linear 0x0F8001.
  EXPECT_EQ(apply(R_M68HC11_24, {0x00, 0x04, 0x00}, 0x0F8001).bytes, (B{0x80, 0x05, 0x3E}));
  EXPECT_EQ(apply(R_M68HC11_24, {0xFF, 0xFF, 0x00}, 0x0FC000).bytes, (B{0xBF, 0xFF, 0x3E}));  // -1: previous page
  EXPECT_EQ(apply(R_M68HC11_LO16, {0x00, 0x06}, 0x0FC123).bytes, (B{0x81, 0x29}));
  EXPECT_EQ(apply(R_M68HC11_PAGE, {0x06}, 0x0FC123).bytes, (B{0x3F}));
  // The addend is an offset, not a page count: it moves the page only when
  // it crosses a page end.
  EXPECT_EQ(apply(R_M68HC11_PAGE, {0x06}, 0x0FBFFC).bytes, (B{0x3F}));
  EXPECT_EQ(apply(R_M68HC11_PAGE, {0xFF}, 0x0FC000).bytes, (B{0x3E}));
}

TEST(ElfRelocation, XgateBranches) {
  // bra xext at 8: 3F FB (offset -5 words); beq xext at 0x0A: 27 FA.
  // Part at 0xE000, target 0xE020: bra's field ends at 0xE00A, 0x16 bytes = 0x0B words.
  EXPECT_EQ(apply(R_M68HC12_10_PCREL, {0x3F, 0xFB}, 0xE020, 0xE000).bytes, (B{0x3C, 0x0B}));
  EXPECT_EQ(apply(R_M68HC12_9_PCREL, {0x27, 0xFA}, 0xE020, 0xE000).bytes, (B{0x26, 0x0A}));
  // Backwards: beq to 0xE000 from the field ending at 0xE00C: -6 words.
  EXPECT_EQ(apply(R_M68HC12_9_PCREL, {0x27, 0xFA}, 0xE000, 0xE000).bytes, (B{0x27, 0xFA}));
  // The 9-bit form reaches -256..255 words; the 10-bit form -512..511.
  EXPECT_EQ(apply(R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE000 + 2 * 255, 0xE000).status, ElfFieldStatus::ok);
  EXPECT_EQ(apply(R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE000 + 2 * 256, 0xE000).status,
            ElfFieldStatus::branch_out_of_range);
  EXPECT_EQ(apply(R_M68HC12_10_PCREL, {0x3C, 0x00}, 0xE000 + 2 * 256, 0xE000).status, ElfFieldStatus::ok);
  EXPECT_EQ(apply(R_M68HC12_10_PCREL, {0x3C, 0x00}, 0xE000 - 2 * 513, 0xE000).status,
            ElfFieldStatus::branch_out_of_range);
  EXPECT_EQ(apply(R_M68HC12_9_PCREL, {0x26, 0x00}, 0xE003, 0xE000).status, ElfFieldStatus::odd_branch);
}

TEST(ElfRelocation, UseAndNames) {
  for (u32 t : {R_M68HC11_NONE, R_M68HC11_GNU_VTINHERIT, R_M68HC11_GNU_VTENTRY, R_M68HC11_RL_JUMP,
                R_M68HC11_RL_GROUP})
    EXPECT_EQ(elf_relocation_use(t), ElfRelocationUse::ignore) << t;
  for (u32 t : {u32{R_M68HC12_9B}, u32{R_M68HC12_16B}, u32{R_M68HC12_LO8XG}, u32{R_M68HC12_HI8XG}, 22u, 255u})
    EXPECT_EQ(elf_relocation_use(t), ElfRelocationUse::refuse) << t;
  EXPECT_TRUE(elf_relocation_needs_named_symbol(R_M68HC12_9_PCREL));
  EXPECT_TRUE(elf_relocation_needs_named_symbol(R_M68HC12_10_PCREL));
  EXPECT_FALSE(elf_relocation_needs_named_symbol(R_M68HC11_PCREL_16));  // HC12 fields keep the offset
  EXPECT_EQ(elf_relocation_name(R_M68HC11_PCREL_16), "R_M68HC11_PCREL_16");
  EXPECT_EQ(elf_relocation_name(200), "relocation type 200");
  EXPECT_EQ(elf_relocation_field_size(R_M68HC11_24), 3u);
  EXPECT_EQ(elf_relocation_field_size(R_M68HC11_RL_JUMP), 0u);
  // A field of the wrong size, or a type that is not applied, is left alone.
  B two{0x12, 0x34};
  EXPECT_EQ(apply_elf_relocation(R_M68HC11_8, two, 1, 0), ElfFieldStatus::not_applicable);
  EXPECT_EQ(apply_elf_relocation(R_M68HC12_LO8XG, std::span<u8>(two).first(1), 1, 0), ElfFieldStatus::not_applicable);
  EXPECT_EQ(two, (B{0x12, 0x34}));
}

}  // namespace
}  // namespace zeld
