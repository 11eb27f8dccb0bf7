// The ar archive reader: GNU short and long member names, the symbol table
// turned into member indexes, BSD names, and refusals of damaged archives.
#include "ar_archive.h"

#include <gtest/gtest.h>

#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::ar_member;
using testing_elf::Bytes;
using testing_elf::put32;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::span<const unsigned char> span(const Bytes& b) { return {b.data(), b.size()}; }
std::string text(std::span<const unsigned char> s) { return std::string(s.begin(), s.end()); }

// An archive as GNU ar writes it: the symbol table, the long names, then
// "uart.o" (short name, odd size so that a pad byte follows) and a member
// with a name longer than 15 characters.
struct GnuArchive {
  Bytes file = bytes("!<arch>\n");
  std::size_t first_member = 0, second_member = 0;
  GnuArchive() {
    Bytes long_names = bytes("a_rather_long_module_name.o/\n");
    // Offsets of members: magic 8, symbol table 60 + 28, long names 60 + 30.
    std::size_t table_size = 4 + 3 * 4 + std::string_view("uart_init\0uart_put\0fmt\0", 23).size() + 1;
    first_member = 8 + 60 + table_size + 60 + long_names.size() + (long_names.size() & 1);
    second_member = first_member + 60 + 5 + 1;
    Bytes table;
    testing_elf::append32(table, 3);
    testing_elf::append32(table, static_cast<u32>(first_member));
    testing_elf::append32(table, static_cast<u32>(first_member));
    testing_elf::append32(table, static_cast<u32>(second_member));
    for (char c : std::string_view("uart_init\0uart_put\0fmt\0\0", 24)) table.push_back(static_cast<unsigned char>(c));
    ar_member(file, "/", table);
    ar_member(file, "//", long_names);
    ar_member(file, "uart.o/", bytes("UART!"));
    ar_member(file, "/0", bytes("FMT"));
  }
};

TEST(ArArchive, ReadsMembersAndSymbolTable) {
  GnuArchive g;
  ASSERT_TRUE(is_ar_archive(span(g.file)));
  ArReadResult r = read_ar_archive(span(g.file));
  ASSERT_TRUE(r.ok()) << r.error;
  const ArArchive& a = r.archive;
  ASSERT_EQ(a.members.size(), 2u);
  EXPECT_EQ(a.members[0].name, "uart.o");
  EXPECT_EQ(text(a.members[0].contents), "UART!");
  EXPECT_EQ(a.members[0].header_offset, g.first_member);
  EXPECT_EQ(a.members[1].name, "a_rather_long_module_name.o");
  EXPECT_EQ(text(a.members[1].contents), "FMT");
  ASSERT_TRUE(a.has_symbol_table);
  ASSERT_EQ(a.symbols.size(), 3u);
  EXPECT_EQ(a.symbols[0].name, "uart_init");
  EXPECT_EQ(a.symbols[0].member, 0u);
  EXPECT_EQ(a.symbols[1].name, "uart_put");
  EXPECT_EQ(a.symbols[2].name, "fmt");
  EXPECT_EQ(a.symbols[2].member, 1u);
}

TEST(ArArchive, ArchiveWithoutIndexAndBsdNames) {
  Bytes file = bytes("!<arch>\n");
  ar_member(file, "plain.o", bytes("ab"));
  ar_member(file, "#1/20", bytes(std::string("a_long_bsd_name.o\0\0\0", 20) + "xyz"));
  ArReadResult r = read_ar_archive(span(file));
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_FALSE(r.archive.has_symbol_table);
  ASSERT_EQ(r.archive.members.size(), 2u);
  EXPECT_EQ(r.archive.members[0].name, "plain.o");
  EXPECT_EQ(r.archive.members[1].name, "a_long_bsd_name.o");
  EXPECT_EQ(text(r.archive.members[1].contents), "xyz");

  Bytes empty = bytes("!<arch>\n");
  EXPECT_TRUE(read_ar_archive(span(empty)).ok());
  EXPECT_FALSE(is_ar_archive(span(bytes(".start a.o\n"))));
  EXPECT_FALSE(is_ar_archive(span(bytes("!<thin>\n"))));
}

TEST(ArArchive, RefusesDamage) {
  GnuArchive g;
  auto error = [](const Bytes& f) { return read_ar_archive(span(f)).error; };
  {
    Bytes f = g.file;
    f.resize(f.size() - 2);  // the last member is cut short
    EXPECT_NE(error(f).find("reaches past the end of the archive"), std::string::npos) << error(f);
  }
  {
    Bytes f(g.file.begin(), g.file.begin() + 8 + 30);
    EXPECT_EQ(error(f), "member header at file offset 0x8 cut short");
  }
  {
    Bytes f = g.file;
    f[8 + 58] = 'x';
    EXPECT_EQ(error(f), "member header at file offset 0x8 has no end marker");
  }
  {
    Bytes f = g.file;
    f[8 + 48] = '-';
    EXPECT_NE(error(f).find("is not a number"), std::string::npos);
  }
  {
    // A symbol table entry that points between members.
    Bytes f = g.file;
    put32(f, 8 + 60 + 4, static_cast<u32>(g.first_member + 1));
    EXPECT_NE(error(f).find("entry 0 names offset"), std::string::npos) << error(f);
  }
  {
    // A count larger than the table can hold.
    Bytes f = g.file;
    put32(f, 8 + 60, 0x40000000);
    EXPECT_NE(error(f).find("entries do not fit"), std::string::npos) << error(f);
  }
  {
    // Names that end before the count does.
    Bytes f = g.file;
    for (std::size_t i = 8 + 60 + 16; i < 8 + 60 + 16 + 24; ++i) f[i] = 'n';
    EXPECT_NE(error(f).find("names end before entry 0"), std::string::npos) << error(f);
  }
  {
    // A long name that points outside the name table, and one with no end.
    Bytes f = g.file;
    std::size_t name = g.second_member;
    f[name + 1] = '9';
    f[name + 2] = '9';
    EXPECT_NE(error(f).find("long name '/99' not in the name table"), std::string::npos) << error(f);
    Bytes h = bytes("!<arch>\n");
    ar_member(h, "//", bytes("abc/"));
    ar_member(h, "/1", bytes("x"));
    EXPECT_NE(error(h).find("runs past the name table"), std::string::npos) << error(h);
  }
  {
    Bytes f = bytes("!<arch>\n");
    ar_member(f, "#1/99", bytes("short"));
    EXPECT_NE(error(f).find("does not fit the member"), std::string::npos);
  }
}

}  // namespace
}  // namespace zeld
