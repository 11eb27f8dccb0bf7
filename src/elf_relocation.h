// The relocation types of ELF objects for the HC11/HC12 family, as the GNU
// assembler writes them, and their arithmetic. These objects are REL: the
// addend sits in the field itself, big-endian. Applying one relocation is a
// pure function of the field's bytes, the target's absolute address S and
// the address of the section part that holds the field; the ELF reader uses
// the field sizes to check every relocation against its section, and the
// ELF module reader of the link applies the fields in pass 1.
//
//   lbra far      18 20 FF EF   R_M68HC11_PCREL_16 at offset 0x0F, far
//                 the addend -0x11 counts from the start of the section, so
//                 the displacement is S + A - (start of the section part)
//   call fn+4     4A 00 04 00   R_M68HC11_24: window address, then page
#pragma once

#include <span>

#include "common.h"

namespace zeld {

enum ElfRelocationType : u32 {
  R_M68HC11_NONE = 0,
  R_M68HC11_8 = 1,
  R_M68HC11_HI8 = 2,
  R_M68HC11_LO8 = 3,
  R_M68HC11_PCREL_8 = 4,
  R_M68HC11_16 = 5,
  R_M68HC11_32 = 6,
  R_M68HC11_3B = 7,
  R_M68HC11_PCREL_16 = 8,
  R_M68HC11_GNU_VTINHERIT = 9,
  R_M68HC11_GNU_VTENTRY = 10,
  R_M68HC11_24 = 11,
  R_M68HC11_LO16 = 12,
  R_M68HC11_PAGE = 13,
  R_M68HC12_9B = 14,
  R_M68HC12_16B = 15,
  R_M68HC12_9_PCREL = 16,
  R_M68HC12_10_PCREL = 17,
  R_M68HC12_LO8XG = 18,
  R_M68HC12_HI8XG = 19,
  R_M68HC11_RL_JUMP = 20,
  R_M68HC11_RL_GROUP = 21,
};

// What the linker does with a relocation type.
enum class ElfRelocationUse {
  apply,    // a field to compute
  ignore,   // a marker with no field (relaxation, vtable records, NONE)
  refuse,   // a type this linker cannot map: the link stops
};

ElfRelocationUse elf_relocation_use(u32 type);
// The field's size in bytes (0 for ignored and refused types).
u32 elf_relocation_field_size(u32 type);
// The type's name, "R_M68HC11_16"; for a number outside the table,
// "relocation type <n>".
std::string elf_relocation_name(u32 type);

// Whether a relocation of this type must name a symbol, not a section. The
// GNU assembler writes an XGATE branch to a label in another section of the
// same module against that section's symbol, and the field then holds
// neither the label's offset in its section nor the addend, only the
// branch's own place: the target is lost, and the link refuses the field.
// A branch to a label defined in another module names the label and is
// computed.
bool elf_relocation_needs_named_symbol(u32 type);
inline constexpr const char* kElfSectionSymbolBranchText =
    "XGATE branch to a label of another section of its own module (the assembler keeps no target offset)";

enum class ElfFieldStatus {
  ok,
  byte_out_of_range,     // an 8-bit field's value outside -128..255
  branch_out_of_range,   // a PC-relative displacement that does not fit
  odd_branch,            // an XGATE branch to an odd distance
  not_applicable,        // an ignored or refused type, or a field of the wrong size
};

// The message of a status other than ok, for the link's diagnostics.
const char* elf_field_status_text(ElfFieldStatus status);

// Computes the field of one relocation in place. `field` holds exactly
// elf_relocation_field_size(type) bytes, with the assembler's addend;
// `target` is S, the absolute (linear) address of the symbol or section
// part the relocation names; `part_address` is the absolute address of the
// section part that holds the field (PC-relative types count from it).
// On a range error the field still receives the value's low bits.
ElfFieldStatus apply_elf_relocation(u32 type, std::span<u8> field, u32 target, u32 part_address);

}  // namespace zeld
