// The ELF object reader: recognition by content, and a clear refusal, never
// a read outside the bytes, for each kind of damage a file can carry. Well
// formed objects are read in the GNU differential test and the elf-* cases.
#include "elf_object.h"

#include <gtest/gtest.h>

#include <functional>

#include "elf_relocation.h"
#include "elf_test_builder.h"

namespace zeld {
namespace {

using testing_elf::Bytes;
using testing_elf::ElfBuilder;
using testing_elf::put16;
using testing_elf::put32;

// Sections 1-3 .text (4 bytes), .data, .bss of 6 bytes; 4 .symtab,
// 5 .strtab, 6 .rel.text, 7 .rel.data. Symbols 1 loop (local), 2 _start,
// 3 ext (undefined).
struct Sample {
  ElfBuilder b;
  unsigned text, data, bss, start, ext;
  Sample() {
    text = b.add(".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, {0x16, 0x00, 0x00, 0x3D});
    data = b.add(".data", SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, {0x12, 0x34});
    bss = b.add(".bss", SHT_NOBITS, SHF_ALLOC | SHF_WRITE, Bytes(6));
    unsigned local = b.symbol("loop", 3, text, STB_LOCAL);
    start = b.symbol("_start", 0, text);
    ext = b.symbol("ext", 0, SHN_UNDEF);
    b.rel(text, 1, R_M68HC11_16, ext);
    b.rel(text, 0, R_M68HC11_RL_JUMP, 0);
    b.rel(data, 0, R_M68HC11_16, local);
  }
  std::size_t symbol_entry(unsigned n) const { return b.contents_at[4] + 16 * n; }
};

std::span<const unsigned char> span(const Bytes& b) { return {b.data(), b.size()}; }

TEST(ElfObject, RecognitionByContent) {
  Bytes file = Sample().b.build(), little = file;
  EXPECT_TRUE(is_elf_object(span(file)));
  little[5] = 1;
  EXPECT_FALSE(is_elf_object(span(little)));
  put16(file, 18, kElfMachine68HC11);
  EXPECT_TRUE(is_elf_object(span(file)));
  put16(file, 18, 40);  // ELF of another machine is left to the other readers
  EXPECT_FALSE(is_elf_object(span(file)));
  EXPECT_TRUE(has_elf_magic(span(file)));
}

// Each case damages the built sample (or rebuilds it with more) and names
// the text the refusal must hold; an empty text means the file is read.
TEST(ElfObject, RefusesDamage) {
  using S = Sample;
  const struct {
    const char* what;
    std::function<void(S&, Bytes&)> damage;
    std::string error;
  } cases[] = {
      {"not ELF", [](S&, Bytes& f) { f = {'X', 'H', '\n'}; }, "no ELF magic"},
      {"header cut", [](S&, Bytes& f) { f.resize(20); }, "ELF header cut short (20 bytes)"},
      {"other machine", [](S&, Bytes& f) { put16(f, 18, 40); }, "ELF machine 40, not HC11 or HC12"},
      {"executable", [](S&, Bytes& f) { put16(f, 16, 2); }, "ELF type 2, not a relocatable object"},
      {"table cut", [](S&, Bytes& f) { f.pop_back(); }, "section table at file offset"},
      {"table offset wraps", [](S&, Bytes& f) { put32(f, 32, 0xFFFFFFF0); }, "section table at file offset 0xfffffff0"},
      {"header size", [](S&, Bytes& f) { put16(f, 46, 32); }, "section header size 32, not 40"},
      {"name table index", [](S&, Bytes& f) { put16(f, 50, 99); }, "section name table index 99 out of range"},
      {"no sections", [](S&, Bytes& f) { put16(f, 48, 0); put32(f, 32, 0); }, ""},
      {"extended numbering", [](S&, Bytes& f) { put16(f, 48, 0); }, "extended section numbering is not supported"},
      {"size past the end", [](S& s, Bytes& f) { put32(f, s.b.header_of(1) + 20, 0xFFFFFFFF); },
       "section 1: contents at file offset"},
      {"section name index", [](S& s, Bytes& f) { put32(f, s.b.header_of(1), 0x7FFFFFFF); },
       "section 1: name index 0x7fffffff outside"},
      {"name table unterminated", [](S& s, Bytes& f) {
         unsigned last = static_cast<unsigned>(s.b.contents_at.size()) - 1;  // .shstrtab, under 256 bytes
         f[s.b.contents_at[last] + f[s.b.header_of(last) + 23] - 1] = 'x'; }, "no terminating NUL"},
      {"symbol name index", [](S& s, Bytes& f) { put32(f, s.symbol_entry(s.start), 0x1000); },
       "section '.symtab': symbol 2 at file offset"},
      {"symbol section", [](S& s, Bytes& f) { put16(f, s.symbol_entry(s.start) + 14, 77); },
       "section index 0x4d out of range"},
      {"absolute symbol", [](S& s, Bytes& f) { put16(f, s.symbol_entry(s.start) + 14, SHN_ABS); }, ""},
      {"symbol binding", [](S& s, Bytes& f) { f[s.symbol_entry(s.start) + 12] = 0x30; }, "binding 3 unknown"},
      {"partial symbol", [](S& s, Bytes& f) { put32(f, s.b.header_of(4) + 20, 20); },
       "size 0x14 is not a whole number of symbols"},
      {"strings in .text", [](S& s, Bytes& f) { put32(f, s.b.header_of(4) + 24, 1); },
       "string table index 1 is not a string table"},
      {"word past the end", [](S& s, Bytes& f) { s.b.rel(s.text, 3, R_M68HC11_16, s.ext); f = s.b.build(); },
       "section '.rel.text': relocation at file offset 0x9b: field at 0x3 (2 bytes) lies outside '.text'"},
      {"marker at the end", [](S& s, Bytes& f) { s.b.rel(s.text, 4, R_M68HC11_RL_JUMP, 0); f = s.b.build(); }, ""},
      {"field of a NULL section", [](S& s, Bytes& f) { put32(f, s.b.header_of(1) + 4, SHT_NULL); },
       "field at 0x1 (2 bytes) lies outside '.text'"},
      {"symbol index", [](S& s, Bytes& f) { s.b.rel(s.text, 0, R_M68HC11_8, 9); f = s.b.build(); },
       "names symbol 9 of 4"},
      {"field in .bss", [](S& s, Bytes& f) { s.b.rel(s.bss, 0, R_M68HC11_16, s.ext); f = s.b.build(); },
       "applies to '.bss', which holds no contents"},
      {"relocation target", [](S& s, Bytes& f) { put32(f, s.b.header_of(6) + 28, 40); },
       "target section index 40 out of range"},
      {"relocation entry size", [](S& s, Bytes& f) { put32(f, s.b.header_of(6) + 36, 12); },
       "relocation entry size 12, not 8"},
      {"RELA", [](S& s, Bytes& f) { put32(f, s.b.header_of(6) + 4, SHT_RELA); },
       "section '.rel.text': RELA relocations are not supported"},
      // A section that is not linked keeps its relocations, whatever their
      // type or width.
      {"debug fields", [](S& s, Bytes& f) {
         unsigned info = s.b.add(".debug_info", SHT_PROGBITS, 0, {0, 0, 0, 0});
         s.b.rel(info, 2, R_M68HC11_32, s.ext); s.b.rel(info, 0, 99, s.ext); f = s.b.build(); }, ""},
  };
  for (const auto& c : cases) {
    Sample s;
    Bytes f = s.b.build();
    c.damage(s, f);
    ElfReadResult r = read_elf_object(span(f));
    if (c.error.empty())
      EXPECT_TRUE(r.ok()) << c.what << ": " << r.error;
    else
      EXPECT_NE(r.error.find(c.error), std::string::npos) << c.what << ": " << r.error;
  }
}

}  // namespace
}  // namespace zeld
