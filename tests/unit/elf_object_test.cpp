// The ELF object reader: recognition by content, the sections, symbols and
// relocations of a well-formed object, and a clear refusal, never a read
// outside the bytes, for each kind of damage a file can carry.
#include "elf_object.h"

#include <gtest/gtest.h>

#include "elf_relocation.h"
#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::Bytes;
using testing_elf::ElfBuilder;
using testing_elf::put16;
using testing_elf::put32;

// .text (4 bytes, a call to an outside symbol), .data, .bss of 6 bytes, a
// local label, a global definition and a reference.
struct Sample {
  ElfBuilder b;
  unsigned text, data, bss, local, start, ext;
  Sample() {
    text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x16, 0x00, 0x00, 0x3D});
    data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, {0x12, 0x34});
    bss = b.add(".bss", SHT_NOBITS, SHF_ALLOC | SHF_WRITE);
    b.sections[bss - 1].nobits_size = 6;
    local = b.symbol("loop", 3, text, STB_LOCAL);
    start = b.symbol("_start", 0, text);
    ext = b.symbol("ext", 0, SHN_UNDEF);
    b.rel(text, 1, R_M68HC11_16, ext);
    b.rel(text, 0, R_M68HC11_RL_JUMP, 0);
    b.rel(data, 0, R_M68HC11_16, local);
  }
};

std::span<const unsigned char> span(const Bytes& b) { return {b.data(), b.size()}; }

TEST(ElfObject, ReadsSectionsSymbolsAndRelocations) {
  Sample s;
  Bytes file = s.b.build();
  ASSERT_TRUE(is_elf_object(span(file)));
  ElfReadResult r = read_elf_object(span(file));
  ASSERT_TRUE(r.ok()) << r.error;
  const ElfObject& o = r.object;
  EXPECT_EQ(o.machine, kElfMachine68HC12);
  const ElfSection& text = o.sections[s.text];
  EXPECT_EQ(text.name, ".text");
  EXPECT_TRUE(text.allocated());
  EXPECT_EQ(text.size, 4u);
  ASSERT_EQ(text.contents.size(), 4u);
  EXPECT_EQ(text.contents[3], 0x3D);
  ASSERT_EQ(text.relocations.size(), 2u);
  EXPECT_EQ(text.relocations[0].offset, 1u);
  EXPECT_EQ(text.relocations[0].type, u32{R_M68HC11_16});
  EXPECT_EQ(text.relocations[0].symbol, s.ext);
  EXPECT_EQ(o.sections[s.text].relocation_section != 0, true);
  const ElfSection& bss = o.sections[s.bss];
  EXPECT_EQ(bss.type, u32{SHT_NOBITS});
  EXPECT_EQ(bss.size, 6u);
  EXPECT_TRUE(bss.contents.empty());
  ASSERT_EQ(o.symbols.size(), 4u);
  EXPECT_EQ(o.symbols[s.local].name, "loop");
  EXPECT_FALSE(o.symbols[s.local].global());
  EXPECT_EQ(o.symbols[s.local].value, 3u);
  EXPECT_TRUE(o.symbols[s.start].global());
  EXPECT_TRUE(o.symbols[s.start].defined());
  EXPECT_FALSE(o.symbols[s.ext].defined());
}

TEST(ElfObject, RecognitionByContent) {
  Sample s;
  Bytes file = s.b.build();
  Bytes hc11 = file;
  put16(hc11, 18, kElfMachine68HC11);
  EXPECT_TRUE(is_elf_object(span(hc11)));
  EXPECT_TRUE(read_elf_object(span(hc11)).ok());

  Bytes other = file;
  put16(other, 18, 40);  // another machine
  EXPECT_FALSE(is_elf_object(span(other)));
  EXPECT_TRUE(has_elf_magic(span(other)));
  EXPECT_EQ(read_elf_object(span(other)).error, "ELF machine 40, not HC11 or HC12");

  Bytes executable = file;
  put16(executable, 16, 2);
  EXPECT_FALSE(is_elf_object(span(executable)));
  EXPECT_EQ(read_elf_object(span(executable)).error, "ELF type 2, not a relocatable object");

  Bytes little = file;
  little[5] = 1;
  EXPECT_FALSE(is_elf_object(span(little)));

  Bytes text{'X', 'H', '\n'};
  EXPECT_FALSE(has_elf_magic(span(text)));
  EXPECT_EQ(read_elf_object(span(text)).error, "no ELF magic");
  Bytes cut(file.begin(), file.begin() + 20);
  EXPECT_EQ(read_elf_object(span(cut)).error, "ELF header cut short (20 bytes)");
}

TEST(ElfObject, RefusesTablesOutsideTheFile) {
  Sample s;
  Bytes file = s.b.build();
  {
    Bytes f = file;
    f.resize(f.size() - 1);  // the last section header loses a byte
    EXPECT_NE(read_elf_object(span(f)).error.find("section table at file offset"), std::string::npos);
  }
  {
    Bytes f = file;
    put32(f, 32, 0xFFFFFFF0);  // a section table offset that wraps when added to
    EXPECT_FALSE(read_elf_object(span(f)).ok());
  }
  {
    Bytes f = file;
    put32(f, s.b.header_of(s.text) + 20, 0xFFFFFFFF);  // size past the end
    EXPECT_EQ(read_elf_object(span(f)).error.substr(0, 10), "section 1:");
  }
  {
    Bytes f = file;
    put32(f, s.b.header_of(s.text) + 16, static_cast<u32>(f.size()) - 2);  // contents run off the end
    EXPECT_FALSE(read_elf_object(span(f)).ok());
  }
  {
    Bytes f = file;
    put16(f, 46, 32);  // section header size
    EXPECT_EQ(read_elf_object(span(f)).error, "section header size 32, not 40");
  }
  {
    Bytes f = file;
    put16(f, 50, 99);
    EXPECT_NE(read_elf_object(span(f)).error.find("section name table index 99"), std::string::npos);
  }
  {
    Bytes f = file;
    put16(f, 48, 0);
    put32(f, 32, 0);
    ElfReadResult r = read_elf_object(span(f));  // no sections at all is an empty object
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.object.sections.empty());
    put32(f, 32, 64);
    EXPECT_EQ(read_elf_object(span(f)).error, "extended section numbering is not supported");
  }
}

TEST(ElfObject, RefusesBadNamesAndStrings) {
  Sample s;
  Bytes file = s.b.build();
  {
    Bytes f = file;
    put32(f, s.b.header_of(s.text), 0x7FFFFFFF);  // name index outside .shstrtab
    EXPECT_NE(read_elf_object(span(f)).error.find("section 1: name index 0x7fffffff outside"), std::string::npos);
  }
  {
    // The name table's last byte is no longer a NUL: the last name runs off.
    Bytes f = file;
    unsigned shstrtab = static_cast<unsigned>(s.b.contents_at.size()) - 1;
    std::size_t end = s.b.contents_at[shstrtab] + (f[s.b.header_of(shstrtab) + 23]) - 1;
    f[end] = 'x';
    EXPECT_NE(read_elf_object(span(f)).error.find("no terminating NUL"), std::string::npos);
  }
  {
    // A symbol name index outside .strtab, reported with its file offset.
    Bytes f = file;
    unsigned symtab = 4;
    std::size_t entry = s.b.contents_at[symtab] + 16 * s.start;
    put32(f, entry, 0x1000);
    std::string e = read_elf_object(span(f)).error;
    EXPECT_NE(e.find("section '.symtab': symbol 2 at file offset"), std::string::npos) << e;
  }
  {
    Bytes f = file;
    std::size_t entry = s.b.contents_at[4] + 16 * s.start;
    put16(f, entry + 14, 77);  // section index beyond the table
    EXPECT_NE(read_elf_object(span(f)).error.find("section index 0x4d out of range"), std::string::npos);
    put16(f, entry + 14, 0xFF10);  // reserved
    EXPECT_FALSE(read_elf_object(span(f)).ok());
    put16(f, entry + 14, SHN_ABS);
    EXPECT_TRUE(read_elf_object(span(f)).ok());
  }
  {
    Bytes f = file;
    put32(f, s.b.header_of(4) + 20, 20);  // a symbol table of 1.25 symbols
    EXPECT_NE(read_elf_object(span(f)).error.find("not a whole number of symbols"), std::string::npos);
  }
  {
    Bytes f = file;
    put32(f, s.b.header_of(4) + 24, 1);  // symbols' strings in .text
    EXPECT_NE(read_elf_object(span(f)).error.find("is not a string table"), std::string::npos);
  }
}

TEST(ElfObject, RefusesBadRelocations) {
  {
    Sample s;
    s.b.rel(s.text, 3, R_M68HC11_16, s.ext);  // a word at 3 of a 4-byte section
    std::string e = read_elf_object(span(s.b.build())).error;
    EXPECT_NE(e.find("section '.rel.text': relocation at file offset"), std::string::npos) << e;
    EXPECT_NE(e.find("field at 0x3 (2 bytes) lies outside '.text'"), std::string::npos) << e;
  }
  {
    Sample s;
    s.b.rel(s.text, 4, R_M68HC11_RL_JUMP, 0);  // a marker at the very end has no field
    EXPECT_TRUE(read_elf_object(span(s.b.build())).ok());
  }
  {
    // An allocated section of type NULL has no bytes in the file, so its
    // fields have nowhere to be.
    Sample s;
    Bytes f = s.b.build();
    put32(f, s.b.header_of(s.text) + 4, SHT_NULL);
    EXPECT_NE(read_elf_object(span(f)).error.find("field at 0x1 (2 bytes) lies outside '.text'"), std::string::npos);
  }
  {
    Sample s;
    s.b.rel(s.text, 0, R_M68HC11_8, 9);
    EXPECT_NE(read_elf_object(span(s.b.build())).error.find("names symbol 9 of 4"), std::string::npos);
  }
  {
    Sample s;
    s.b.rel(s.bss, 0, R_M68HC11_16, s.ext);
    EXPECT_NE(read_elf_object(span(s.b.build())).error.find("applies to '.bss', which holds no contents"),
              std::string::npos);
  }
  {
    Sample s;
    Bytes f = s.b.build();
    unsigned rel_text = 6;
    put32(f, s.b.header_of(rel_text) + 28, 40);  // target section
    EXPECT_NE(read_elf_object(span(f)).error.find("target section index 40 out of range"), std::string::npos);
    f = s.b.build();
    put32(f, s.b.header_of(rel_text) + 36, 12);  // entry size of RELA
    EXPECT_NE(read_elf_object(span(f)).error.find("relocation entry size 12"), std::string::npos);
    f = s.b.build();
    put32(f, s.b.header_of(rel_text) + 4, SHT_RELA);
    EXPECT_EQ(read_elf_object(span(f)).error, "section '.rel.text': RELA relocations are not supported");
  }
}

TEST(ElfObject, DebugSectionRelocationsAreKeptUnchecked) {
  // A debug section is not allocated: its relocations name types and
  // widths the link never applies.
  ElfBuilder b;
  unsigned info = b.add(".debug_info", SHT_PROGBITS, 0, {0, 0, 0, 0});
  unsigned sym = b.symbol("x", 0, SHN_UNDEF);
  b.rel(info, 2, R_M68HC11_32, sym);
  b.rel(info, 0, 99, sym);
  ElfReadResult r = read_elf_object(span(b.build()));
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.object.sections[info].relocations.size(), 2u);
}

TEST(ElfObject, AreaNameDropsTheLeadingDot) {
  EXPECT_EQ(elf_area_name(".text"), "text");
  EXPECT_EQ(elf_area_name(".text.bank3"), "text.bank3");
  EXPECT_EQ(elf_area_name("vectors"), "vectors");
  EXPECT_EQ(elf_area_name("."), "");
}

}  // namespace
}  // namespace zeld
