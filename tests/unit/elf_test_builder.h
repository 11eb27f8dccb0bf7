// Builds small ELF relocatable objects and ar members byte by byte for the
// tests of the ELF and archive readers, so that each test can set or break
// exactly the field it is about.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zeld::testing_elf {

using Bytes = std::vector<unsigned char>;

inline void put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v);
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v >> 16);
  put16(b, at + 2, v & 0xFFFF);
}
inline void append32(Bytes& b, std::uint32_t v) {
  b.resize(b.size() + 4);
  put32(b, b.size() - 4, v);
}

// Sections are numbered from 1 in the order added, then .symtab, .strtab,
// one .rel section per target section in index order, and .shstrtab.
struct ElfBuilder {
  struct Section {
    std::string name;
    std::uint32_t type = 0, flags = 0, link = 0, info = 0, entry_size = 0;
    Bytes data;  // for SHT_NOBITS, only its size counts
  };

  std::vector<Section> sections;  // index 0, the null section, is implicit
  Bytes symtab = Bytes(16, 0), strtab{0};  // from the null symbol on
  std::map<unsigned, Bytes> relocations;  // REL entries by target section

  // Filled by build(): where the section header table and each section's
  // contents begin in the file.
  std::size_t section_table = 0;
  std::vector<std::size_t> contents_at;

  unsigned add(std::string name, std::uint32_t type, std::uint32_t flags, Bytes data = {}) {
    sections.push_back({std::move(name), type, flags, 0, 0, 0, std::move(data)});
    return static_cast<unsigned>(sections.size());
  }
  unsigned symbol(const std::string& name, std::uint32_t value, unsigned section, unsigned binding = 1,
                  unsigned type = 0) {
    std::size_t at = symtab.size();
    symtab.resize(at + 16);
    put32(symtab, at, static_cast<std::uint32_t>(strtab.size()));
    put32(symtab, at + 4, value);
    symtab[at + 12] = static_cast<unsigned char>((binding << 4) | type);
    put16(symtab, at + 14, section);
    strtab.insert(strtab.end(), name.begin(), name.end());
    strtab.push_back(0);
    return static_cast<unsigned>(at / 16);
  }
  void rel(unsigned target, std::uint32_t offset, std::uint32_t type, std::uint32_t sym) {
    append32(relocations[target], offset);
    append32(relocations[target], (sym << 8) | type);
  }

  Bytes build() {
    std::vector<Section> all = sections;
    unsigned symtab_index = static_cast<unsigned>(all.size()) + 1;
    all.push_back({".symtab", 2, 0, symtab_index + 1, 0, 16, symtab});
    all.push_back({".strtab", 3, 0, 0, 0, 0, strtab});
    for (auto& [target, data] : relocations)
      all.push_back({".rel" + sections[target - 1].name, 9, 0, symtab_index, target, 8, data});
    Bytes shstrtab{0};
    std::vector<std::uint32_t> names;
    all.push_back({".shstrtab", 3, 0, 0, 0, 0, {}});
    for (const Section& s : all) {
      names.push_back(static_cast<std::uint32_t>(shstrtab.size()));
      shstrtab.insert(shstrtab.end(), s.name.begin(), s.name.end());
      shstrtab.push_back(0);
    }
    all.back().data = shstrtab;

    // Header: 32-bit, big-endian, version 1, relocatable, HC12.
    Bytes out(52, 0);
    out[0] = 0x7F, out[1] = 'E', out[2] = 'L', out[3] = 'F', out[4] = 1, out[5] = 2, out[6] = 1;
    put16(out, 16, 1);
    put16(out, 18, 53);
    put32(out, 20, 1);
    put16(out, 40, 52);
    contents_at.assign(1, 0);
    for (const Section& s : all) {
      contents_at.push_back(out.size());
      if (s.type != 8) out.insert(out.end(), s.data.begin(), s.data.end());
    }
    while (out.size() % 4) out.push_back(0);
    section_table = out.size();
    put32(out, 32, static_cast<std::uint32_t>(section_table));
    put16(out, 46, 40);
    put16(out, 48, static_cast<unsigned>(all.size() + 1));
    put16(out, 50, static_cast<unsigned>(all.size()));
    out.resize(out.size() + 40 * (all.size() + 1), 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
      const Section& s = all[i];
      std::size_t h = header_of(static_cast<unsigned>(i + 1));
      put32(out, h, names[i]);
      put32(out, h + 4, s.type);
      put32(out, h + 8, s.flags);
      put32(out, h + 16, static_cast<std::uint32_t>(contents_at[i + 1]));
      put32(out, h + 20, static_cast<std::uint32_t>(s.data.size()));
      put32(out, h + 24, s.link);
      put32(out, h + 28, s.info);
      put32(out, h + 32, 1);
      put32(out, h + 36, s.entry_size);
    }
    return out;
  }

  // Offset of section `index`'s header in the built file.
  std::size_t header_of(unsigned index) const { return section_table + 40 * index; }
};

// An ar member: its 60-byte header, the data, a pad byte to an even size.
inline void ar_member(Bytes& out, const std::string& name, const Bytes& data) {
  char header[61];
  std::snprintf(header, sizeof header, "%-16s%-12s%-6s%-6s%-8s%-10zu`\n", name.c_str(), "0", "0", "0", "644",
                data.size());
  out.insert(out.end(), header, header + 60);
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back('\n');
}

}  // namespace zeld::testing_elf
