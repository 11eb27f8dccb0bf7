// Reading an ELF relocatable object from its bytes (see elf_object.h). The
// header gives the section table; the section names come from the section
// name table; the one symbol table gives the symbols, their names from its
// linked string table; each REL section hands its relocations to the
// section it applies to. All arithmetic on offsets is done in 64 bits, so
// no sum wraps past a check.
#include "elf_object.h"

#include "elf_relocation.h"

namespace zeld {
namespace {

constexpr u32 kHeaderSize = 52;
constexpr u32 kSectionHeaderSize = 40;
constexpr u32 kSymbolSize = 16;
constexpr u32 kRelSize = 8;
constexpr u16 kTypeRelocatable = 1;
constexpr u32 kShnXindex = 0xFFFF;

u16 be16(const unsigned char* p) { return static_cast<u16>((p[0] << 8) | p[1]); }
u32 be32(const unsigned char* p) {
  return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | u32{p[3]};
}

class Reader {
 public:
  explicit Reader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

  std::string read(ElfObject& obj) {
    if (!has_elf_magic(bytes_)) return "no ELF magic";
    if (bytes_.size() < kHeaderSize) return strprintf("ELF header cut short (%u bytes)", static_cast<unsigned>(bytes_.size()));
    const unsigned char* h = bytes_.data();
    if (h[4] != 1 || h[5] != 2) return "not a 32-bit big-endian ELF file";
    if (be16(h + 16) != kTypeRelocatable) return strprintf("ELF type %u, not a relocatable object", be16(h + 16));
    if (!is_elf_object(bytes_)) return strprintf("ELF machine %u, not HC11 or HC12", be16(h + 18));
    if (h[6] != 1) return strprintf("ELF version %u unknown", h[6]);
    obj.machine = be16(h + 18);
    obj.flags = be32(h + 36);
    u32 shoff = be32(h + 32);
    u16 shentsize = be16(h + 46);
    u32 shnum = be16(h + 48);
    u32 shstrndx = be16(h + 50);
    if (shnum == 0) {
      if (shoff != 0) return "extended section numbering is not supported";
      return {};  // no sections: an empty object
    }
    if (shentsize != kSectionHeaderSize)
      return strprintf("section header size %u, not %u", shentsize, kSectionHeaderSize);
    if (!inside(shoff, u64{shnum} * kSectionHeaderSize))
      return strprintf("section table at file offset %#x with %u entries lies outside the file", shoff, shnum);
    if (shstrndx == kShnXindex) return "extended section numbering is not supported";
    if (shstrndx >= shnum) return strprintf("section name table index %u out of range (%u sections)", shstrndx, shnum);

    obj.sections.resize(shnum);
    for (u32 i = 0; i < shnum; ++i) {
      const unsigned char* s = h + shoff + i * kSectionHeaderSize;
      ElfSection& sec = obj.sections[i];
      sec.type = be32(s + 4);
      sec.flags = be32(s + 8);
      sec.file_offset = be32(s + 16);
      sec.size = be32(s + 20);
      sec.alignment = be32(s + 32);
      links_.push_back({be32(s), be32(s + 24), be32(s + 28), be32(s + 36)});
      if (i == 0 || sec.type == SHT_NOBITS || sec.type == SHT_NULL) continue;
      if (!inside(sec.file_offset, sec.size))
        return strprintf("section %u: contents at file offset %#x, size %#x, lie outside the file", i,
                         sec.file_offset, sec.size);
      sec.contents = bytes_.subspan(sec.file_offset, sec.size);
    }

    const ElfSection& names = obj.sections[shstrndx];
    if (names.type != SHT_STRTAB)
      return strprintf("section name table (section %u) is not a string table", shstrndx);
    for (u32 i = 1; i < shnum; ++i) {
      std::string error;
      obj.sections[i].name = string_at(names.contents, links_[i].name, error);
      if (!error.empty()) return strprintf("section %u: name %s", i, error.c_str());
    }

    u32 symtab = 0;
    for (u32 i = 1; i < shnum; ++i) {
      if (obj.sections[i].type != SHT_SYMTAB) continue;
      if (symtab != 0) return strprintf("section '%s': a second symbol table", printable_name(obj.sections[i].name).c_str());
      symtab = i;
    }
    if (symtab != 0) {
      if (std::string e = read_symbols(obj, symtab); !e.empty()) return e;
    }
    for (u32 i = 1; i < shnum; ++i) {
      const ElfSection& sec = obj.sections[i];
      if (sec.type == SHT_RELA && target_allocated(obj, i))
        return strprintf("section '%s': RELA relocations are not supported", printable_name(sec.name).c_str());
      if (sec.type != SHT_REL) continue;
      if (std::string e = read_relocations(obj, i, symtab); !e.empty()) return e;
    }
    return {};
  }

 private:
  // Fields of a section header that only the reader needs.
  struct Links {
    u32 name;
    u32 link;
    u32 info;
    u32 entry_size;
  };

  bool inside(u64 offset, u64 size) const { return offset <= bytes_.size() && size <= bytes_.size() - offset; }

  // The NUL-terminated string at `index` of a string table.
  static std::string_view string_at(std::span<const unsigned char> table, u32 index, std::string& error) {
    if (index >= table.size()) {
      error = strprintf("index %#x outside its string table (%#x bytes)", index, static_cast<unsigned>(table.size()));
      return {};
    }
    const char* begin = reinterpret_cast<const char*>(table.data()) + index;
    std::size_t room = table.size() - index;
    std::string_view text(begin, room);
    std::size_t end = text.find('\0');
    if (end == std::string_view::npos) {
      error = strprintf("at index %#x has no terminating NUL in its string table", index);
      return {};
    }
    return text.substr(0, end);
  }

  bool target_allocated(const ElfObject& obj, u32 rel_section) const {
    u32 target = links_[rel_section].info;
    return target < obj.sections.size() && obj.sections[target].allocated();
  }

  std::string read_symbols(ElfObject& obj, u32 symtab) {
    const ElfSection& sec = obj.sections[symtab];
    std::string name = printable_name(sec.name);
    const Links& l = links_[symtab];
    if (l.entry_size != kSymbolSize)
      return strprintf("section '%s': symbol entry size %u, not %u", name.c_str(), l.entry_size, kSymbolSize);
    if (sec.size % kSymbolSize != 0)
      return strprintf("section '%s': size %#x is not a whole number of symbols", name.c_str(), sec.size);
    if (l.link == 0 || l.link >= obj.sections.size() || obj.sections[l.link].type != SHT_STRTAB)
      return strprintf("section '%s': string table index %u is not a string table", name.c_str(), l.link);
    std::span<const unsigned char> strings = obj.sections[l.link].contents;
    u32 count = sec.size / kSymbolSize;
    obj.symbols.resize(count);
    for (u32 i = 0; i < count; ++i) {
      const unsigned char* p = sec.contents.data() + i * kSymbolSize;
      ElfSymbol& sym = obj.symbols[i];
      std::string error;
      sym.name = string_at(strings, be32(p), error);
      u32 at = static_cast<u32>(sec.file_offset + i * kSymbolSize);
      if (!error.empty())
        return strprintf("section '%s': symbol %u at file offset %#x: name %s", name.c_str(), i, at, error.c_str());
      sym.value = be32(p + 4);
      sym.size = be32(p + 8);
      sym.binding = static_cast<u8>(p[12] >> 4);
      sym.type = static_cast<u8>(p[12] & 0xF);
      sym.section = be16(p + 14);
      bool special = sym.section == SHN_UNDEF || sym.section == SHN_ABS || sym.section == SHN_COMMON;
      if (!special && (sym.section >= SHN_LORESERVE || sym.section >= obj.sections.size()))
        return strprintf("section '%s': symbol %u at file offset %#x: section index %#x out of range", name.c_str(),
                         i, at, sym.section);
      if (sym.binding > STB_WEAK)
        return strprintf("section '%s': symbol %u at file offset %#x: binding %u unknown", name.c_str(), i, at,
                         sym.binding);
    }
    return {};
  }

  std::string read_relocations(ElfObject& obj, u32 rel, u32 symtab) {
    std::string name = printable_name(obj.sections[rel].name);
    const Links& l = links_[rel];
    if (l.entry_size != kRelSize)
      return strprintf("section '%s': relocation entry size %u, not %u", name.c_str(), l.entry_size, kRelSize);
    const ElfSection& sec = obj.sections[rel];
    if (sec.size % kRelSize != 0)
      return strprintf("section '%s': size %#x is not a whole number of relocations", name.c_str(), sec.size);
    if (l.info == 0 || l.info >= obj.sections.size())
      return strprintf("section '%s': target section index %u out of range", name.c_str(), l.info);
    if (l.link != symtab || symtab == 0)
      return strprintf("section '%s': symbol table index %u is not the symbol table", name.c_str(), l.link);
    ElfSection& target = obj.sections[l.info];
    if (target.relocation_section != 0)
      return strprintf("section '%s': a second relocation section for '%s'", name.c_str(),
                       printable_name(target.name).c_str());
    target.relocation_section = rel;
    std::size_t count = sec.size / kRelSize;
    target.relocations.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* p = sec.contents.data() + i * kRelSize;
      ElfRelocation r{be32(p), be32(p + 4) & 0xFF, be32(p + 4) >> 8};
      u32 at = static_cast<u32>(sec.file_offset + i * kRelSize);
      if (r.symbol >= obj.symbols.size())
        return strprintf("section '%s': relocation at file offset %#x names symbol %u of %u", name.c_str(), at,
                         r.symbol, static_cast<u32>(obj.symbols.size()));
      // Only fields of allocated sections are ever computed; the debug
      // sections' relocations are kept but not held to the field sizes.
      u32 size = target.allocated() ? elf_relocation_field_size(r.type) : 0;
      if (target.allocated() && target.type == SHT_NOBITS && elf_relocation_use(r.type) == ElfRelocationUse::apply)
        return strprintf("section '%s': relocation at file offset %#x applies to '%s', which holds no contents",
                         name.c_str(), at, printable_name(target.name).c_str());
      // A field lies inside the section's bytes; a marker (size 0) at most
      // at the section's end.
      u32 room = size == 0 ? target.size : static_cast<u32>(target.contents.size());
      if (r.offset > room || size > room - r.offset)
        return strprintf("section '%s': relocation at file offset %#x: field at %#x (%u bytes) lies outside '%s'",
                         name.c_str(), at, r.offset, size, printable_name(target.name).c_str());
      target.relocations.push_back(r);
    }
    return {};
  }

  std::span<const unsigned char> bytes_;
  std::vector<Links> links_;
};

}  // namespace

bool has_elf_magic(std::span<const unsigned char> bytes) {
  return bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F';
}

bool is_elf_object(std::span<const unsigned char> bytes) {
  if (bytes.size() < kHeaderSize || !has_elf_magic(bytes)) return false;
  if (bytes[4] != 1 || bytes[5] != 2) return false;  // ELFCLASS32, ELFDATA2MSB
  u16 type = be16(bytes.data() + 16);
  u16 machine = be16(bytes.data() + 18);
  return type == kTypeRelocatable && (machine == kElfMachine68HC11 || machine == kElfMachine68HC12);
}

ElfReadResult read_elf_object(std::span<const unsigned char> bytes) {
  ElfReadResult result;
  result.error = Reader(bytes).read(result.object);
  if (!result.ok()) result.object = ElfObject{};
  return result;
}

std::string printable_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7F && c != '\\')
      out += c;
    else
      out += strprintf("\\x%02X", b);
  }
  return out;
}

bool is_plain_name(std::string_view name) {
  for (char c : name) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}

std::string_view elf_area_name(std::string_view section_name) {
  if (!section_name.empty() && section_name.front() == '.') section_name.remove_prefix(1);
  return section_name;
}

}  // namespace zeld
