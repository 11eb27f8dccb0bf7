// The ar archive reader: GNU long member names and the symbol table turned
// into member indexes, BSD names, and refusals of damaged archives. Short
// names and member choice by the symbol table are also linked in the GNU
// differential test and the elf-mixed-archive case.
#include "ar_archive.h"

#include <gtest/gtest.h>

#include <functional>

#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::ar_member;
using testing_elf::Bytes;
using testing_elf::put32;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::span<const unsigned char> span(const Bytes& b) { return {b.data(), b.size()}; }
std::string text(std::span<const unsigned char> s) { return std::string(s.begin(), s.end()); }

// As GNU ar writes it: the symbol table (at 8), the long names, "uart.o"
// (odd size, so a pad byte follows) and a member with a long name.
struct GnuArchive {
  Bytes file = bytes("!<arch>\n");
  static constexpr std::size_t kTable = 8 + 60;  // the symbol table's contents
  std::size_t first = 0, second = 0;             // the members' headers
  GnuArchive() {
    Bytes long_names = bytes("a_rather_long_module_name.o/\n");
    Bytes names = bytes(std::string_view("uart_init\0uart_put\0fmt\0\0", 24));
    first = kTable + 4 + 3 * 4 + names.size() + 60 + long_names.size() + 1;  // and a pad byte
    second = first + 60 + 5 + 1;
    Bytes table;
    for (std::size_t v : {std::size_t{3}, first, first, second}) testing_elf::append32(table, static_cast<u32>(v));
    table.insert(table.end(), names.begin(), names.end());
    ar_member(file, "/", table);
    ar_member(file, "//", long_names);
    ar_member(file, "uart.o/", bytes("UART!"));
    ar_member(file, "/0", bytes("FMT"));
  }
};

TEST(ArArchive, ReadsLongNamesAndSymbolTable) {
  GnuArchive g;
  ArReadResult r = read_ar_archive(span(g.file));
  ASSERT_TRUE(r.ok()) << r.error;
  const ArArchive& a = r.archive;
  ASSERT_EQ(a.members.size(), 2u);  // past the pad byte of uart.o
  EXPECT_EQ(a.members[1].name, "a_rather_long_module_name.o");
  EXPECT_EQ(text(a.members[1].contents), "FMT");
  ASSERT_EQ(a.symbols.size(), 3u);
  EXPECT_EQ(a.symbols[1].member, 0u);
  EXPECT_EQ(a.symbols[2].name, "fmt");
  EXPECT_EQ(a.symbols[2].member, 1u);
}

TEST(ArArchive, BsdNamesAndNoIndex) {
  Bytes file = bytes("!<arch>\n");
  ar_member(file, "#1/20", bytes(std::string("a_long_bsd_name.o\0\0\0", 20) + "xyz"));
  ArReadResult r = read_ar_archive(span(file));
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_FALSE(r.archive.has_symbol_table);
  ASSERT_EQ(r.archive.members.size(), 1u);
  EXPECT_EQ(r.archive.members[0].name, "a_long_bsd_name.o");
  EXPECT_EQ(text(r.archive.members[0].contents), "xyz");
  EXPECT_FALSE(is_ar_archive(span(bytes("!<thin>\n"))));
}

// Each case damages the sample (or starts afresh) and names the refusal.
TEST(ArArchive, RefusesDamage) {
  using G = GnuArchive;
  const Bytes magic = bytes("!<arch>\n");
  const std::pair<std::function<void(const G&, Bytes&)>, std::string> cases[] = {
      {[](const G&, Bytes& f) { f.resize(f.size() - 2); }, "size 3 reaches past the end of the archive"},
      {[](const G&, Bytes& f) { f.resize(8 + 30); }, "member header at file offset 0x8 cut short"},
      {[](const G&, Bytes& f) { f[8 + 58] = 'x'; }, "member header at file offset 0x8 has no end marker"},
      {[](const G&, Bytes& f) { f[8 + 48] = '-'; }, "size '-0' is not a number"},
      // Symbol table entries: one between members, a count the table cannot
      // hold, names that end before the count does.
      {[](const G& g, Bytes& f) { put32(f, G::kTable + 4, static_cast<u32>(g.first + 1)); }, "entry 0 names offset 0x"},
      {[](const G&, Bytes& f) { put32(f, G::kTable, 0x40000000); }, "entries do not fit"},
      {[](const G&, Bytes& f) { std::fill_n(f.begin() + G::kTable + 16, 24, 'n'); }, "names end before entry 0"},
      {[](const G& g, Bytes& f) { f[g.second + 1] = f[g.second + 2] = '9'; }, "long name '/99' not in the name table"},
      {[&](const G&, Bytes& f) { f = magic; ar_member(f, "//", bytes("abc/")); ar_member(f, "/1", bytes("x")); },
       "long name runs past the name table"},
      {[&](const G&, Bytes& f) { f = magic; ar_member(f, "#1/99", bytes("short")); },
       "name length '99' does not fit the member"},
      {[&](const G&, Bytes& f) { f = magic; ar_member(f, "/SYM64/", {}); },
       "64-bit archive symbol tables are not supported"},
  };
  GnuArchive g;
  for (const auto& [damage, error] : cases) {
    Bytes f = g.file;
    damage(g, f);
    std::string e = read_ar_archive(span(f)).error;
    EXPECT_NE(e.find(error), std::string::npos) << e;
  }
}

}  // namespace
}  // namespace zeld
