// ELF objects and archives in whole links: a mixed link with a text object
// (image bytes, symbols both ways, the map), archive members chosen by the
// archive's symbol table and named archive(member) in reports, and the
// reports of damaged input, refused relocations, range errors and code
// above the 16-bit space.
#include "elf_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver.h"
#include "elf_test_builder.h"
#include "test_support.h"

namespace zeld {
namespace {

using testing_elf::ar_member;
using testing_elf::Bytes;
using testing_elf::ElfBuilder;

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct ElfLinkTest : ::testing::Test, CapturedLink {
  TestFolder folder{"elf"};
  int status = 0;
  std::string err_text;

  void link(std::vector<std::string> words) {
    words.insert(words.begin(), {"zeld12", "-R", "-o", folder.path("out")});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    status = link_main(static_cast<int>(argv.size()), argv.data(), out, err);
    err_text = read_all(err);
    std::fclose(out);
    std::fclose(err);
  }
};

// main.o, a text object: __start calls putc (jsr, word field of symbol 1)
// and keeps `count` in RAM.
const char* kMainText =
    "XH\n"
    "H 2 areas 3 global symbols\n"
    "M main\n"
    "A text size 4 flags 0\n"
    "S __start Def0000\n"
    "S putc Ref0000\n"
    "A vars size 1 flags 20\n"
    "S count Def0000\n"
    "T 00 00 16 00 00 3F\n"
    "R 00 00 00 00 02 03 00 01\n";

// uart.o, ELF: putc (ldaa count ; rts) in .text, a word pointing at putc in
// .data, a local label in .rodata.
Bytes uart_object(unsigned extra_type = 0) {
  ElfBuilder b;
  unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0xB6, 0x00, 0x00, 0x3D});
  unsigned data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, {0x00, 0x00});
  unsigned rodata = b.add(".rodata", SHT_PROGBITS, SHF_ALLOC, {0x00, 0x01, 'h', 'i'});
  unsigned putc = b.symbol("putc", 0, text);
  unsigned count = b.symbol("count", 0, SHN_UNDEF);
  unsigned label = b.symbol("msg", 2, rodata, STB_LOCAL);
  b.rel(text, 1, R_M68HC11_16, count);
  b.rel(data, 0, R_M68HC11_16, putc);
  b.rel(rodata, 0, R_M68HC11_16, label);
  if (extra_type) b.rel(text, 0, extra_type, count);
  return b.build();
}

TEST_F(ElfLinkTest, MixedLinkWithTextObjects) {
  folder.write("main.o", kMainText);
  folder.write("uart.o", str(uart_object()));
  link({"-btext:0xC000.0xCFFF", "-bdata:0x2000.0x20FF", "-bvars:0x2100.0x21FF", "-brodata:0xD000.0xD0FF", "-m", folder.path("main.o"),
        folder.path("uart.o")});
  ASSERT_EQ(status, 0) << err_text;
  std::string s19 = slurp(folder.path("out.s19"));
  // jsr putc (at 0xC004); ldaa count (0x2100); rts
  EXPECT_NE(s19.find("S107C00016C0043F"), std::string::npos) << s19;
  EXPECT_NE(s19.find("S107C004B621003D"), std::string::npos) << s19;
  EXPECT_NE(s19.find("S1052000C004"), std::string::npos) << s19;  // .data: the address of putc
  EXPECT_NE(s19.find("S107D000D0036869"), std::string::npos) << s19;  // .rodata: msg + 1
  std::string map = slurp(folder.path("out.mp"));
  EXPECT_NE(map.find("putc"), std::string::npos);
  EXPECT_NE(map.find("rodata"), std::string::npos);
}

// An archive as ar writes it: the symbol table, then the members.
Bytes archive(const std::vector<std::pair<std::string, Bytes>>& members,
              const std::vector<std::pair<std::string, std::size_t>>& symbols) {
  Bytes names;
  for (const auto& [name, member] : symbols) names.insert(names.end(), name.begin(), name.end()), names.push_back(0);
  std::size_t table_size = 4 + 4 * symbols.size() + names.size();
  std::vector<std::size_t> offsets;
  std::size_t at = 8 + 60 + table_size + (table_size & 1);
  for (const auto& m : members) {
    offsets.push_back(at);
    at += 60 + m.second.size() + (m.second.size() & 1);
  }
  Bytes table;
  testing_elf::append32(table, static_cast<u32>(symbols.size()));
  for (const auto& [name, member] : symbols) testing_elf::append32(table, static_cast<u32>(offsets[member]));
  table.insert(table.end(), names.begin(), names.end());
  Bytes ar{'!', '<', 'a', 'r', 'c', 'h', '>', '\n'};
  ar_member(ar, "/", table);
  for (const auto& [name, bytes] : members) ar_member(ar, name + "/", bytes);
  return ar;
}

TEST_F(ElfLinkTest, ArchiveMembersBySymbolTable) {
  // libu.a: uart.o (putc, which main needs), spare.o (nothing needs it).
  ElfBuilder spare;
  unsigned t = spare.add(".text", SHT_PROGBITS, SHF_ALLOC, {0xEE});
  spare.symbol("spare", 0, t);
  folder.write("main.o", kMainText);
  folder.write("libu.a", str(archive({{"uart.o", uart_object()}, {"spare.o", spare.build()}},
                                     {{"putc", 0}, {"spare", 1}})));
  link({"-btext:0xC000.0xCFFF", "-bdata:0x2000.0x20FF", "-bvars:0x2100.0x21FF", "-brodata:0xD000.0xD0FF",
        folder.path("main.o"), "-L" + folder.dir(), "-lu"});
  ASSERT_EQ(status, 0) << err_text;
  std::string s19 = slurp(folder.path("out.s19"));
  EXPECT_NE(s19.find("S107C004B621003D"), std::string::npos) << s19;
  EXPECT_EQ(s19.find("EE"), std::string::npos) << "spare.o was linked:\n" << s19;

  // A member's reports name it archive(member): a byte field that cannot
  // hold the address of count.
  folder.write("libu.a", str(archive({{"uart.o", uart_object(R_M68HC11_8)}}, {{"putc", 0}})));
  link({"-btext:0xC000.0xCFFF", "-bdata:0x2000.0x20FF", "-bvars:0x2100.0x21FF", "-brodata:0xD000.0xD0FF",
        folder.path("main.o"), "-L" + folder.dir(), "-lu"});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("!E libu.a(uart.o): {linker} section '.text' offset 0: R_M68HC11_8 for symbol "
                          "'count': byte value out of range"),
            std::string::npos)
      << err_text;
}

TEST_F(ElfLinkTest, ReportsNameFileSectionAndType) {
  folder.write("main.o", kMainText);
  // A relocation type the linker refuses stops the link.
  folder.write("uart.o", str(uart_object(R_M68HC12_HI8XG)));
  link({"-btext:0xC000.0xCFFF", "-bdata:0x2000.0x20FF", "-bvars:0x2100.0x21FF", "-brodata:0xD000.0xD0FF", folder.path("main.o"),
        folder.path("uart.o")});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("!E {linker} '" + folder.path("uart.o") +
                          "': section '.text': R_M68HC12_HI8XG at offset 0 cannot be linked"),
            std::string::npos)
      << err_text;

  // A damaged file: its section table reaches past the end.
  Bytes bad = uart_object();
  bad.resize(bad.size() - 3);
  folder.write("uart.o", str(bad));
  link({folder.path("main.o"), folder.path("uart.o")});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("lies outside the file"), std::string::npos) << err_text;

  // ELF for another machine is no object.
  Bytes other = uart_object();
  other[19] = 40;
  folder.write("uart.o", str(other));
  link({folder.path("main.o"), folder.path("uart.o")});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("is not an object file or library: binary data"), std::string::npos) << err_text;
}

TEST_F(ElfLinkTest, RangeErrorsAndCodeAbove64K) {
  ElfBuilder b;
  // bra far, with the field at 1 and its addend -2 counted from the section.
  unsigned text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x20, 0xFE});
  b.symbol("__start", 0, text);
  unsigned far = b.symbol("far", 0x4000, SHN_ABS, STB_LOCAL);
  b.rel(text, 1, R_M68HC11_PCREL_8, far);
  folder.write("a.o", str(b.build()));
  link({"-btext:0xC000.0xCFFF", folder.path("a.o")});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("a.o: {linker} section '.text' offset 0x1: R_M68HC11_PCREL_8 for symbol 'far': "
                          "PC relative offset out of range"),
            std::string::npos)
      << err_text;

  ElfBuilder c;
  unsigned far_text = c.add(".text.far", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x3D});
  c.symbol("far_entry", 0, far_text);
  folder.write("b.o", str(c.build()));
  link({"-btext.far:0x18000.0x1BFFF", folder.path("b.o")});
  EXPECT_EQ(status, kExitFailure);
  EXPECT_NE(err_text.find("code of area 'text.far' placed at 0x18000, above the 16-bit address space"),
            std::string::npos)
      << err_text;
  // Declared an extended code page area by a text object linked first, the
  // same code is written at its linear address.
  folder.write("areas.o", "XH\nH 1 areas 0 global symbols\nM areas\nA text.far size 0 flags 80\n");
  link({"-btext.far:0x18000.0x1BFFF", folder.path("areas.o"), folder.path("b.o")});
  ASSERT_EQ(status, 0) << err_text;
  EXPECT_NE(slurp(folder.path("out.s19")).find("S20501800" "03D"), std::string::npos);
}

}  // namespace
}  // namespace zeld
