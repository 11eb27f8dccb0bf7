// The arithmetic of the ELF relocation types (see elf_relocation.h). Each
// field is big-endian; the addend is the field's own contents, read signed
// where the assembler may write a negative offset.
#include "elf_relocation.h"

#include "relocate.h"

namespace zeld {
namespace {

struct TypeInfo {
  const char* name;
  ElfRelocationUse use;
  u32 size;
};

constexpr TypeInfo kTypes[] = {
    {"R_M68HC11_NONE", ElfRelocationUse::ignore, 0},
    {"R_M68HC11_8", ElfRelocationUse::apply, 1},
    {"R_M68HC11_HI8", ElfRelocationUse::apply, 1},
    {"R_M68HC11_LO8", ElfRelocationUse::apply, 1},
    {"R_M68HC11_PCREL_8", ElfRelocationUse::apply, 1},
    {"R_M68HC11_16", ElfRelocationUse::apply, 2},
    {"R_M68HC11_32", ElfRelocationUse::apply, 4},
    {"R_M68HC11_3B", ElfRelocationUse::apply, 1},
    {"R_M68HC11_PCREL_16", ElfRelocationUse::apply, 2},
    {"R_M68HC11_GNU_VTINHERIT", ElfRelocationUse::ignore, 0},
    {"R_M68HC11_GNU_VTENTRY", ElfRelocationUse::ignore, 0},
    {"R_M68HC11_24", ElfRelocationUse::apply, 3},
    {"R_M68HC11_LO16", ElfRelocationUse::apply, 2},
    {"R_M68HC11_PAGE", ElfRelocationUse::apply, 1},
    // The indexed-offset and XGATE address-byte forms below are not written
    // by the GNU assembler for these chips (it uses LO8 and HI8 for XGATE
    // too); their layout is not pinned down, so they are refused rather
    // than guessed.
    {"R_M68HC12_9B", ElfRelocationUse::refuse, 0},
    {"R_M68HC12_16B", ElfRelocationUse::refuse, 0},
    {"R_M68HC12_9_PCREL", ElfRelocationUse::apply, 2},
    {"R_M68HC12_10_PCREL", ElfRelocationUse::apply, 2},
    {"R_M68HC12_LO8XG", ElfRelocationUse::refuse, 0},
    {"R_M68HC12_HI8XG", ElfRelocationUse::refuse, 0},
    {"R_M68HC11_RL_JUMP", ElfRelocationUse::ignore, 0},
    {"R_M68HC11_RL_GROUP", ElfRelocationUse::ignore, 0},
};

constexpr u32 kTypeCount = sizeof kTypes / sizeof kTypes[0];

u32 get_be(std::span<const u8> field) {
  u32 v = 0;
  for (u8 b : field) v = (v << 8) | b;
  return v;
}

void put_be(std::span<u8> field, u32 v) {
  for (std::size_t i = field.size(); i-- > 0; v >>= 8) field[i] = static_cast<u8>(v);
}

// Sign-extends the low `bits` bits of v (as a 32-bit two's complement).
u32 sign_extend(u32 v, unsigned bits) {
  u32 m = u32{1} << (bits - 1);
  v &= (m << 1) - 1;
  return (v ^ m) - m;
}

// Whether v, read as a signed 32-bit number, fits in `bits` signed bits.
bool fits_signed(u32 v, unsigned bits) {
  i64 s = static_cast<i32>(v);
  return s >= -(i64{1} << (bits - 1)) && s < (i64{1} << (bits - 1));
}

// An XGATE branch: the offset in 16-bit words sits in the low `bits` bits of
// the instruction word.
ElfFieldStatus xgate_branch(std::span<u8> field, unsigned bits, u32 target, u32 part_address) {
  u32 word = get_be(field);
  u32 mask = (u32{1} << bits) - 1;
  u32 bytes = target + sign_extend(word & mask, bits) * 2 - part_address;
  u32 words = static_cast<u32>(static_cast<i32>(bytes) >> 1);
  put_be(field, (word & ~mask) | (words & mask));
  if (bytes & 1) return ElfFieldStatus::odd_branch;
  return fits_signed(words, bits) ? ElfFieldStatus::ok : ElfFieldStatus::branch_out_of_range;
}

}  // namespace

ElfRelocationUse elf_relocation_use(u32 type) {
  return type < kTypeCount ? kTypes[type].use : ElfRelocationUse::refuse;
}

bool elf_relocation_needs_named_symbol(u32 type) {
  return type == R_M68HC12_9_PCREL || type == R_M68HC12_10_PCREL;
}

u32 elf_relocation_field_size(u32 type) { return type < kTypeCount ? kTypes[type].size : 0; }

std::string elf_relocation_name(u32 type) {
  return type < kTypeCount ? std::string(kTypes[type].name) : strprintf("relocation type %u", type);
}

const char* elf_field_status_text(ElfFieldStatus status) {
  switch (status) {
    case ElfFieldStatus::ok: return "";
    case ElfFieldStatus::byte_out_of_range: return "byte value out of range";
    case ElfFieldStatus::branch_out_of_range: return "PC relative offset out of range";
    case ElfFieldStatus::odd_branch: return "XGATE branch to an odd address";
    case ElfFieldStatus::not_applicable: return "relocation not applicable";
  }
  return "";
}

ElfFieldStatus apply_elf_relocation(u32 type, std::span<u8> field, u32 target, u32 part_address) {
  if (elf_relocation_use(type) != ElfRelocationUse::apply || field.size() != elf_relocation_field_size(type))
    return ElfFieldStatus::not_applicable;
  u32 addend = get_be(field);
  switch (type) {
    case R_M68HC11_8: {
      u32 v = target + sign_extend(addend, 8);
      put_be(field, v);
      return (v <= 0xFF || v >= 0xFFFFFF80) ? ElfFieldStatus::ok : ElfFieldStatus::byte_out_of_range;
    }
    case R_M68HC11_LO8:
      put_be(field, target + addend);
      return ElfFieldStatus::ok;
    case R_M68HC11_HI8:
      // The field holds the addend's high byte only; its low byte, with its
      // carry, went to the matching LO8 field.
      put_be(field, (target >> 8) + addend);
      return ElfFieldStatus::ok;
    case R_M68HC11_3B:
      field[0] = static_cast<u8>((field[0] & ~0x07u) | ((target + addend) & 0x07));
      return ElfFieldStatus::ok;
    case R_M68HC11_16:
    case R_M68HC11_32:
      put_be(field, target + addend);
      return ElfFieldStatus::ok;
    case R_M68HC11_PCREL_8: {
      u32 v = target + sign_extend(addend, 8) - part_address;
      put_be(field, v);
      return fits_signed(v, 8) ? ElfFieldStatus::ok : ElfFieldStatus::branch_out_of_range;
    }
    case R_M68HC11_PCREL_16: {
      // A 16-bit displacement reaches the whole 64 KB space by wrapping.
      u32 v = target + sign_extend(addend, 16) - part_address;
      put_be(field, v);
      return ElfFieldStatus::ok;
    }
    case R_M68HC11_24: {
      u32 g = page_window_address(target + sign_extend(addend >> 8, 16));
      put_be(field.subspan(0, 2), g);
      field[2] = static_cast<u8>(g >> 16);
      return ElfFieldStatus::ok;
    }
    case R_M68HC11_LO16:
      put_be(field, page_window_address(target + sign_extend(addend, 16)));
      return ElfFieldStatus::ok;
    case R_M68HC11_PAGE:
      put_be(field, page_window_address(target + sign_extend(addend, 8)) >> 16);
      return ElfFieldStatus::ok;
    case R_M68HC12_9_PCREL:
      return xgate_branch(field, 9, target, part_address);
    case R_M68HC12_10_PCREL:
      return xgate_branch(field, 10, target, part_address);
    default:
      return ElfFieldStatus::not_applicable;
  }
}

}  // namespace zeld
