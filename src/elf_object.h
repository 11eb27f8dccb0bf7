// Reader of ELF relocatable objects for the HC11/HC12 family, as the GNU
// assembler writes them: ELF32, big-endian, EM_68HC11 or EM_68HC12, ET_REL.
// It works on the bytes of the whole file, which the caller owns and keeps
// alive as long as the result: section contents and names are views into
// them. Every offset, size, index and string is checked against the bytes
// before use; a malformed file gives an error text that names the section
// and the file offset, never a read outside the bytes.
//
// The link maps each allocated section to a part of the area of the
// section's name without its leading dot (.text -> text, .text.bank3 ->
// text.bank3); writable sections are RAM. Global and weak symbols are
// definitions or references; local symbols serve only the relocations of
// their own module.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"

namespace zeld {

inline constexpr u16 kElfMachine68HC12 = 53;
inline constexpr u16 kElfMachine68HC11 = 70;

enum ElfSectionType : u32 {
  SHT_NULL = 0,
  SHT_PROGBITS = 1,
  SHT_SYMTAB = 2,
  SHT_STRTAB = 3,
  SHT_RELA = 4,
  SHT_NOBITS = 8,
  SHT_REL = 9,
};

enum ElfSectionFlags : u32 {
  SHF_WRITE = 0x1,
  SHF_ALLOC = 0x2,
  SHF_EXECINSTR = 0x4,
};

enum ElfSymbolBinding : u8 { STB_LOCAL = 0, STB_GLOBAL = 1, STB_WEAK = 2 };
enum ElfSymbolType : u8 { STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4 };

enum ElfSectionIndex : u32 {
  SHN_UNDEF = 0,
  SHN_LORESERVE = 0xFF00,
  SHN_ABS = 0xFFF1,
  SHN_COMMON = 0xFFF2,
};

struct ElfRelocation {
  u32 offset = 0;  // of the field in its section
  u32 type = 0;
  u32 symbol = 0;  // index into ElfObject::symbols
};

struct ElfSection {
  std::string_view name;
  u32 type = SHT_NULL;
  u32 flags = 0;
  u32 size = 0;
  u32 alignment = 0;
  u32 file_offset = 0;
  // The bytes in the file; empty for SHT_NOBITS.
  std::span<const unsigned char> contents;
  // The REL relocations that apply to this section, in file order.
  std::vector<ElfRelocation> relocations;
  // The relocation section that held them (0: none), for messages.
  u32 relocation_section = 0;

  bool allocated() const { return (flags & SHF_ALLOC) != 0; }
};

struct ElfSymbol {
  std::string_view name;
  u32 value = 0;
  u32 size = 0;
  u8 binding = STB_LOCAL;
  u8 type = STT_NOTYPE;
  u32 section = SHN_UNDEF;  // a section index, SHN_UNDEF, SHN_ABS or SHN_COMMON

  bool global() const { return binding == STB_GLOBAL || binding == STB_WEAK; }
  bool defined() const { return section != SHN_UNDEF; }
};

struct ElfObject {
  u16 machine = 0;
  u32 flags = 0;  // e_flags
  std::vector<ElfSection> sections;  // by section index; 0 is the null section
  std::vector<ElfSymbol> symbols;    // by symbol index; 0 is the null symbol
};

struct ElfReadResult {
  ElfObject object;
  std::string error;  // empty when the object was read
  bool ok() const { return error.empty(); }
};

// Whether the bytes begin like an object this linker reads: the ELF magic,
// 32-bit class, big-endian, an HC11 or HC12 machine and the relocatable
// type. A file that fails this test is no ELF object here.
bool is_elf_object(std::span<const unsigned char> bytes);
// Whether the bytes begin with the ELF magic at all (to tell "not for this
// target" from "not an object").
bool has_elf_magic(std::span<const unsigned char> bytes);

ElfReadResult read_elf_object(std::span<const unsigned char> bytes);

// A name from the file as messages show it: blanks, control characters and
// bytes above 0x7E as \xNN, so that no input byte can break a report's line.
std::string printable_name(std::string_view name);
// Whether a name can name an area or a symbol: no blank or control
// character (names of object text are words of a line).
bool is_plain_name(std::string_view name);

// The area an allocated section contributes to: its name without the
// leading dot.
std::string_view elf_area_name(std::string_view section_name);

}  // namespace zeld
