// How one ELF object becomes a module of the link. Pass 0 asks for the
// module's plan: which sections become area parts (name, attributes, size),
// which global symbols it defines or references, and whether anything in it
// cannot be linked (a section type, a relocation type, a common symbol),
// which stops the link. Pass 1 computes the bytes of each part: the
// section's contents with every relocation applied, the range errors listed
// by offset. Both steps work on the ElfObject alone; the link supplies the
// addresses.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "elf_object.h"
#include "elf_relocation.h"

namespace zeld {

inline constexpr u32 kNoPart = ~u32{0};

struct ElfPartPlan {
  u32 section = 0;
  std::string_view area;  // the section's name without its leading dot
  u8 flags = 0;           // AREA_RAM for writable sections
  u32 size = 0;
  bool has_bytes = false;  // false for SHT_NOBITS
};

struct ElfSymbolPlan {
  u32 symbol = 0;  // index in the object
  std::string_view name;
  bool defined = false;
  bool absolute = false;  // SHN_ABS
  u32 part = kNoPart;     // index into ElfModulePlan::parts when defined in a section
  u32 value = 0;          // offset in its part, or the absolute value
};

struct ElfModulePlan {
  std::vector<ElfPartPlan> parts;        // in section order
  std::vector<u32> part_of_section;      // by section index: a part index or kNoPart
  std::vector<ElfSymbolPlan> globals;    // global and weak symbols, in symbol order
  std::string error;                     // what cannot be linked; empty when all can
  bool ok() const { return error.empty(); }
};

// Maps the object's sections and symbols. An allocated section of size 0
// becomes a part only when a symbol lives in it.
ElfModulePlan plan_elf_module(const ElfObject& object);

// "symbol 'name'" or "section '.text'" for messages about a relocation.
std::string elf_symbol_description(const ElfObject& object, u32 symbol);

}  // namespace zeld
